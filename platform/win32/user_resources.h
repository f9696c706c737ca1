#pragma once
// Menus and dialogs straight from their text descriptions (the format is described in
// user_resource.cpp); LoadMenu and the dialog functions read the same text from the resources.
#include "platform/win32/winuser.h"

#include <string>

namespace ferolt::win32
{
HMENU LoadMenuFromText(const std::string& text);
INT_PTR DialogBoxFromText(const std::string& text, HWND parent, DLGPROC proc, LPARAM param);
HWND CreateDialogFromText(const std::string& text, HWND parent, DLGPROC proc, LPARAM param);
} // namespace ferolt::win32
