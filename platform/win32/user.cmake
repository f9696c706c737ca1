# The user layer of ferolt_win32: windows, messages, painting, input, menus, dialogs.
set(FEROLT_USER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/user_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_message.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_gdi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_resource.cpp)
