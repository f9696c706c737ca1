#pragma once
// Modules that LoadLibraryA can load: tables of named exports registered by the libraries that provide
// them. "Kernel32.dll" is registered by this layer itself.
//
// Static-library linking drops an object file that nothing references, and with it any static
// initialiser inside it. A library that registers a module therefore either offers an explicit
// registration function that programs call at start-up, or uses FEROLT_BUILTIN_MODULE below (which
// defines an anchor symbol) and adds `target_link_options(<lib> INTERFACE -Wl,--undefined=<anchor>)`
// so that every program linking the library keeps the registering object file.
#include "platform/win32/windef.h"

#include <initializer_list>

namespace ferolt::win32
{
struct BuiltinExport
{
    const char* name;
    void (*address)(); // any function, cast with reinterpret_cast
};

template <class F> BuiltinExport Export(const char* name, F* function)
{
    return BuiltinExport{name, reinterpret_cast<void (*)()>(function)};
}

// Adds (or replaces) a module. Names match case-insensitively, with or without ".dll". The strings must
// stay valid for the life of the process (string literals).
void RegisterBuiltinModule(const char* name, std::initializer_list<BuiltinExport> exports);
} // namespace ferolt::win32

// Registers a module from a static initialiser and defines the extern "C" anchor symbol `anchor`.
#define FEROLT_BUILTIN_MODULE(anchor, moduleName, ...)                                                       \
    extern "C" int anchor;                                                                                   \
    int anchor = 0;                                                                                          \
    static const bool anchor##_registered = []                                                               \
    {                                                                                                        \
        ::ferolt::win32::RegisterBuiltinModule(moduleName, {__VA_ARGS__});                                   \
        return true;                                                                                         \
    }()
