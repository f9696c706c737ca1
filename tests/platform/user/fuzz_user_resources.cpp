// Fuzzes the menu and dialog resource readers: the input as a menu and as a dialog description, and
// through the conversion from the resources' code page.
#include "platform/win32/user_internal.h"
#include "platform/win32/user_text.h"
#include "platform/win32/winuser.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (HMENU menu = ferolt::win32::user::ParseMenu(text)) ::DestroyMenu(menu);
    (void)ferolt::win32::user::ParseDialog(text);
    (void)ferolt::win32::Cp1252ToUtf8(text);
    return 0;
}
