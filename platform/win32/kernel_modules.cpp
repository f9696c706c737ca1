// Built-in modules, the executable's module and its file name.
#include "platform/win32/builtin_modules.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/winbase.h"

#include <unistd.h>

#include <cstring>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{
std::string Fold(const char* text)
{
    std::string folded;
    for (const char* c = text; c && *c; ++c)
        folded += (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c + 32) : *c;
    return folded;
}

// "C:\\Windows\\System32\\D3D9.DLL" and "d3d9" both become "d3d9.dll".
std::string ModuleKey(const char* name)
{
    std::string key = Fold(name);
    size_t slash = key.find_last_of("/\\");
    if (slash != std::string::npos) key.erase(0, slash + 1);
    if (key.find('.') == std::string::npos) key += ".dll";
    return key;
}

struct Module
{
    std::string key;
    std::vector<ferolt::win32::BuiltinExport> exports;
    int loadCount = 0;
    bool alwaysLoaded = false;
};

struct ModuleTable
{
    std::mutex mutex;
    std::vector<std::unique_ptr<Module>> modules; // never freed: handles point at them
    std::set<std::string> missingModules;
    std::set<std::pair<std::string, std::string>> missingExports;
};

ModuleTable& Table()
{
    static ModuleTable* table = new ModuleTable;
    return *table;
}

Module* FindLocked(ModuleTable& table, const std::string& key)
{
    for (auto& module : table.modules)
        if (module->key == key) return module.get();
    return nullptr;
}

Module* FromHandle(ModuleTable& table, HMODULE handle)
{
    for (auto& module : table.modules)
        if (reinterpret_cast<HMODULE>(module.get()) == handle) return module.get();
    return nullptr;
}

// The executable's module handle: a distinct address that is no module record.
char g_executableModule;

const bool g_kernelRegistered = []
{
    ferolt::win32::RegisterBuiltinModule(
        "Kernel32.dll", {ferolt::win32::Export("InitializeCriticalSectionAndSpinCount",
                                               &InitializeCriticalSectionAndSpinCount),
                         ferolt::win32::Export("InitializeCriticalSection", &InitializeCriticalSection),
                         ferolt::win32::Export("GetTickCount", &GetTickCount)});
    return true;
}();
} // namespace

namespace ferolt::win32
{
void RegisterBuiltinModule(const char* name, std::initializer_list<BuiltinExport> exports)
{
    if (!name) return;
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::string key = ModuleKey(name);
    Module* module = FindLocked(table, key);
    if (!module)
    {
        table.modules.push_back(std::make_unique<Module>());
        module = table.modules.back().get();
        module->key = key;
    }
    module->exports.assign(exports.begin(), exports.end());
    module->alwaysLoaded = key == "kernel32.dll";
}
} // namespace ferolt::win32

namespace ferolt::hooks
{
void SetModuleMissing(const char* moduleName, bool missing)
{
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    if (missing)
        table.missingModules.insert(ModuleKey(moduleName));
    else
        table.missingModules.erase(ModuleKey(moduleName));
}

void SetExportMissing(const char* moduleName, const char* procName, bool missing)
{
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto key = std::make_pair(ModuleKey(moduleName), std::string(procName ? procName : ""));
    if (missing)
        table.missingExports.insert(key);
    else
        table.missingExports.erase(key);
}

void ResetMissingModules()
{
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.missingModules.clear();
    table.missingExports.clear();
}
} // namespace ferolt::hooks

HMODULE LoadLibraryA(LPCSTR name)
{
    if (!name || !*name)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::string key = ModuleKey(name);
    Module* module = FindLocked(table, key);
    if (!module || table.missingModules.count(key))
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++module->loadCount;
    return reinterpret_cast<HMODULE>(module);
}

BOOL FreeLibrary(HMODULE handle)
{
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    Module* module = FromHandle(table, handle);
    if (!module || (module->loadCount == 0 && !module->alwaysLoaded))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (module->loadCount > 0) --module->loadCount;
    return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR name)
{
    if (!name) return reinterpret_cast<HMODULE>(&g_executableModule);
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::string key = ModuleKey(name);
    Module* module = FindLocked(table, key);
    if (!module || table.missingModules.count(key) || (module->loadCount == 0 && !module->alwaysLoaded))
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(module);
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR procName)
{
    ModuleTable& table = Table();
    std::lock_guard lock(table.mutex);
    Module* module = FromHandle(table, handle);
    if (!module || (module->loadCount == 0 && !module->alwaysLoaded))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Exports are looked up by name only; an ordinal (a value below 0x10000) finds nothing.
    if (!procName || IS_INTRESOURCE(procName))
    {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (table.missingExports.count({module->key, procName}))
    {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (const auto& entry : module->exports)
        if (entry.name && strcmp(entry.name, procName) == 0) return reinterpret_cast<FARPROC>(entry.address);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

DWORD GetModuleFileNameA(HMODULE handle, LPSTR fileName, DWORD size)
{
    std::string path;
    if (!handle || handle == reinterpret_cast<HMODULE>(&g_executableModule))
    {
        std::vector<char> buffer(4096);
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
        if (length <= 0)
        {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        path.assign(buffer.data(), static_cast<size_t>(length));
    }
    else
    {
        ModuleTable& table = Table();
        std::lock_guard lock(table.mutex);
        Module* module = FromHandle(table, handle);
        if (!module)
        {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = module->key;
    }
    if (!fileName || size == 0)
    {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() + 1 > size)
    {
        memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(fileName, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}
