#pragma once
// Text reaching the screen is UTF-8; names read from object files are Windows-1252 and are
// converted where they are handed to a window, menu or dialog.
#include <string>

namespace ferolt::win32
{
std::string Cp1252ToUtf8(const std::string& text);
// Characters outside the code page become '?'; malformed UTF-8 bytes too.
std::string Utf8ToCp1252(const std::string& text);
} // namespace ferolt::win32
