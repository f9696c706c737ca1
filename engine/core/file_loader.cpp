#include "engine/core/file_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "platform/mfc/afx_string.h"
#include "platform/win32/paths.h"
#include "platform/win32/winbase.h"

namespace LMK
{
namespace
{
FileLoaderSlotStruct_TYP* Slot(FileLoaderSlotStruct_TYP AllGlobals_::*slot)
{
    return CurrentGlobals ? &(CurrentGlobals->*slot) : nullptr;
}

void SetSearchPath(FileLoaderSlotStruct_TYP AllGlobals_::*member, DWORD type, const char* path, BYTE subdirs)
{
    FileLoaderSlotStruct_TYP* slot = Slot(member);
    if (!slot || slot->loader) return;
    if (path)
    {
        slot->searchPathText = UpperCaseCopy(path);
        slot->context.searchPath = slot->searchPathText.get();
        slot->context.searchSubdirectories = subdirs;
    }
    RegisterFileLoader(&slot->loader, &slot->context, type);
}

void SetSlotCurrentDirectory(FileLoaderSlotStruct_TYP AllGlobals_::*member, const char* directory)
{
    FileLoaderSlotStruct_TYP* slot = Slot(member);
    if (!slot || !slot->loader) return;
    slot->currentDirectoryText = UpperCaseCopy(directory);
    slot->context.currentDirectory = slot->currentDirectoryText.get();
}

void Unregister(FileLoaderSlotStruct_TYP AllGlobals_::*member)
{
    FileLoaderSlotStruct_TYP* slot = Slot(member);
    if (!slot || !slot->loader) return;
    UnregisterFileLoader(&slot->loader, &slot->context);
    slot->searchPathText.reset();
    slot->currentDirectoryText.reset();
}
} // namespace

void SetTextureSearchPath(const char* path, BYTE subdirs)
{
    SetSearchPath(&AllGlobals_::textureLoader, LoadedPartTexture, path, subdirs);
}
void SetMaterialSearchPath(const char* path, BYTE subdirs)
{
    SetSearchPath(&AllGlobals_::materialLoader, LoadedPartMaterial, path, subdirs);
}
void SetModelSearchPath(const char* path, BYTE subdirs)
{
    SetSearchPath(&AllGlobals_::modelLoader, LoadedPartModel, path, subdirs);
}
void SetEffectSearchPath(const char* path, BYTE subdirs)
{
    SetSearchPath(&AllGlobals_::effectLoader, LoadedPartEffect, path, subdirs);
}
void SetTextureCurrentDirectory(const char* directory)
{
    SetSlotCurrentDirectory(&AllGlobals_::textureLoader, directory);
}
void SetMaterialCurrentDirectory(const char* directory)
{
    SetSlotCurrentDirectory(&AllGlobals_::materialLoader, directory);
}
void SetModelCurrentDirectory(const char* directory)
{
    SetSlotCurrentDirectory(&AllGlobals_::modelLoader, directory);
}

HRESULT RegisterFileLoader(Loader_** loader, FileLoaderContextStruct_TYP* context, DWORD type)
{
    LoaderCallbacksStruct_TYP callbacks{FileLoaderLoad, FileLoaderRelease, nullptr,
                                        context,        nullptr,           nullptr};
    return LRRegisterLoader(type, &callbacks, false, loader);
}

HRESULT UnregisterFileLoader(Loader_** loader, FileLoaderContextStruct_TYP* context)
{
    if (context)
    {
        context->searchPath = nullptr;
        context->currentDirectory = nullptr;
    }
    return LRUnregisterLoader(loader);
}

void UnregisterTextureFileLoader()
{
    Unregister(&AllGlobals_::textureLoader);
}
void UnregisterMaterialFileLoader()
{
    Unregister(&AllGlobals_::materialLoader);
}
void UnregisterModelFileLoader()
{
    Unregister(&AllGlobals_::modelLoader);
}
void UnregisterEffectFileLoader()
{
    Unregister(&AllGlobals_::effectLoader);
}

namespace
{
// Both separators end a directory: names reach the engine with backslashes from stored files and with
// slashes from this system's own paths.
bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

std::string WithSeparator(std::string directory)
{
    if (!directory.empty() && !IsSeparator(directory.back())) directory += '\\';
    return directory;
}

// The search path's entries, each ending in a separator; an empty entry stays empty.
std::vector<std::string> SearchEntries(const char* searchPath)
{
    std::vector<std::string> entries;
    if (!searchPath) return entries;
    std::string_view path(searchPath);
    for (;;)
    {
        const size_t semicolon = path.find(';');
        entries.push_back(WithSeparator(std::string(path.substr(0, semicolon))));
        if (semicolon == std::string_view::npos) break;
        path.remove_prefix(semicolon + 1);
    }
    return entries;
}

// Whether the directory part of a resolved name is one of the search path's entries, with or without
// its trailing separator.
bool IsSearchEntry(const char* searchPath, const std::string& directory)
{
    if (!searchPath) return false;
    std::string_view path(searchPath);
    for (;;)
    {
        const size_t semicolon = path.find(';');
        std::string_view entry = path.substr(0, semicolon);
        if (entry == directory ||
            (entry.size() == directory.size() + 1 && entry.substr(0, directory.size()) == directory &&
             IsSeparator(entry.back())))
            return true;
        if (semicolon == std::string_view::npos) return false;
        path.remove_prefix(semicolon + 1);
    }
}

// Directory entries below `directory`, in enumeration order, that are themselves directories.
std::vector<std::string> Subdirectories(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA item{};
    HANDLE find = FindFirstFileA((directory + "*.*").c_str(), &item);
    if (find == INVALID_HANDLE_VALUE) return names;
    do
    {
        if (item.cFileName[0] != '.' && (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(item.cFileName);
    } while (FindNextFileA(find, &item));
    FindClose(find);
    return names;
}

void ClearOutputs(void** data, DWORD* size, void** resolvedName, DWORD* cookie)
{
    if (data) *data = nullptr;
    if (size) *size = 0;
    if (resolvedName) *resolvedName = nullptr;
    if (cookie) *cookie = 0;
}
} // namespace

int ReadWholeFile(const char* name, const char* subdirectory, const char* directory, void** data, DWORD* size,
                  char** resolvedName)
{
    const std::string dir(directory ? directory : "");
    const std::string sub(subdirectory ? subdirectory : "");
    const std::string file(name ? name : "");
    const std::string path = sub.empty() && file.compare(0, dir.size(), dir) == 0 ? file : dir + sub + file;
    FILE* f = ferolt::win32::OpenCFile(path.c_str(), "rb");
    if (!f) return -1;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
    // An empty file, or one whose size does not fit the loader's 32-bit size, cannot be read whole.
    if (length <= 0 || static_cast<unsigned long>(length) > 0xFFFFFFFFul || std::fseek(f, 0, SEEK_SET) != 0)
    {
        std::fclose(f);
        return -2;
    }
    std::unique_ptr<BYTE[]> bytes = NewBuffer<BYTE>(static_cast<size_t>(length));
    const bool read = bytes && std::fread(bytes.get(), static_cast<size_t>(length), 1, f) == 1;
    std::fclose(f);
    if (!read) return -2;
    std::unique_ptr<char[]> resolved = CopyArray(path.c_str(), path.size() + 1);
    if (!resolved) return -2;
    if (!dir.empty()) resolved[dir.size() - 1] = '>';
    // FileLoaderRelease takes both back.
    *data = bytes.release();
    *size = static_cast<DWORD>(length);
    *resolvedName = resolved.release();
    return 0;
}

int SearchDirectoryTree(BYTE skipSelf, const char* directory, const char* subdirectory, const char* name,
                        void** data, DWORD* size, char** resolvedName)
{
    if (!skipSelf)
    {
        const int result = ReadWholeFile(name, subdirectory, directory, data, size, resolvedName);
        if (result != -1) return result;
    }
    const std::string sub(subdirectory ? subdirectory : "");
    for (const std::string& child : Subdirectories(std::string(directory) + sub))
    {
        const int result =
            SearchDirectoryTree(0, directory, (sub + child + "\\").c_str(), name, data, size, resolvedName);
        if (result != -1) return result;
    }
    return -1;
}

int __stdcall FileLoaderLoad(const LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                             void** resolvedName, DWORD* cookie)
{
    ClearOutputs(data, size, resolvedName, cookie);
    if (!request || !request->name || request->name[0] == '*' || std::strcmp(request->name, " ") == 0)
        return -1;
    const auto* context = static_cast<const FileLoaderContextStruct_TYP*>(request->context);
    char* found = nullptr;
    auto answer = [&](int result)
    {
        std::unique_ptr<char[]> name(found);
        if (result == 0 && resolvedName) *resolvedName = name.release();
        return result;
    };

    CString upper(request->name);
    upper.MakeUpper();
    std::string rest(static_cast<const char*>(upper));
    const size_t mark = rest.find('>');
    if (mark != std::string::npos)
    {
        // A name this loader resolved before: look in its search directory first.
        const std::string directory = rest.substr(0, mark);
        rest.erase(0, mark + 1);
        rest.erase(0, std::min(rest.size(), rest.find_first_not_of("\\/")));
        if (!directory.empty() && context && IsSearchEntry(context->searchPath, directory))
        {
            const int result =
                ReadWholeFile(rest.c_str(), "", WithSeparator(directory).c_str(), data, size, &found);
            if (result != -1) return answer(result);
        }
    }

    const std::vector<std::string> entries = SearchEntries(context ? context->searchPath : nullptr);
    const int passes = context && context->searchSubdirectories ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass)
    {
        for (const std::string& entry : entries)
        {
            int result = ReadWholeFile(rest.c_str(), "", entry.c_str(), data, size, &found);
            if (result != -1) return answer(result);
            if (pass == 1)
            {
                for (const std::string& child : Subdirectories(entry))
                {
                    result = SearchDirectoryTree(0, entry.c_str(), (child + "\\").c_str(), rest.c_str(), data,
                                                 size, &found);
                    if (result != -1) return answer(result);
                }
            }
        }
        if (pass == 0)
        {
            if (rest.empty()) return -1;
            const size_t lastSeparator = rest.find_last_of("\\/");
            if (lastSeparator != std::string::npos) rest.erase(0, lastSeparator + 1);
            if (context && context->currentDirectory)
            {
                const int result = ReadWholeFile(
                    rest.c_str(), "", WithSeparator(context->currentDirectory).c_str(), data, size, &found);
                if (result != -1) return answer(result);
            }
        }
    }
    return -1;
}

void __stdcall FileLoaderRelease(void*, void* data, void* resolvedName, DWORD, LoadedPart_*)
{
    const std::unique_ptr<char[]> name(static_cast<char*>(resolvedName));
    const std::unique_ptr<BYTE[]> bytes(static_cast<BYTE*>(data));
}
} // namespace LMK
