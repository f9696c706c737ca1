# The framework's window classes (afxwin.h) within ferolt_mfc.
set(FEROLT_MFC_UI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/afxwin_wnd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/afxwin_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/afxwin_app.cpp)
