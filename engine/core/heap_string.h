#pragma once
// Strings the engine hands out through its C-style records and calls: whoever receives one gives it
// back with free() (or through the engine call that frees the record holding it).
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace LMK
{
// A NUL-terminated copy of text; null when memory runs out.
inline char* HeapCopy(std::string_view text)
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// A null text gives null.
inline char* HeapCopy(const char* text)
{
    return text ? HeapCopy(std::string_view(text)) : nullptr;
}
} // namespace LMK
