#include "engine/core/file_loader.h"

#include <cstdlib>

#include "engine/core/globals.h"

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
        std::free(slot->context.searchPath);
        slot->context.searchPath = UpperCaseCopy(path);
        slot->context.searchSubdirectories = subdirs;
    }
    RegisterFileLoader(&slot->loader, &slot->context, type);
}

void SetCurrentDirectory(FileLoaderSlotStruct_TYP AllGlobals_::*member, const char* directory)
{
    FileLoaderSlotStruct_TYP* slot = Slot(member);
    if (!slot || !slot->loader) return;
    std::free(slot->context.currentDirectory);
    slot->context.currentDirectory = UpperCaseCopy(directory);
}

void Unregister(FileLoaderSlotStruct_TYP AllGlobals_::*member)
{
    FileLoaderSlotStruct_TYP* slot = Slot(member);
    if (slot && slot->loader) UnregisterFileLoader(&slot->loader, &slot->context);
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
    SetCurrentDirectory(&AllGlobals_::textureLoader, directory);
}
void SetMaterialCurrentDirectory(const char* directory)
{
    SetCurrentDirectory(&AllGlobals_::materialLoader, directory);
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
        std::free(context->searchPath);
        std::free(context->currentDirectory);
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

// Reading files by the search rules comes with the file loader itself; until then every request is
// answered "not found", so later loaders of the type are still asked.
int __stdcall FileLoaderLoad(const LoaderRequestStruct_TYP*, void** data, DWORD* size, void** resolvedName,
                             DWORD* cookie)
{
    if (data) *data = nullptr;
    if (size) *size = 0;
    if (resolvedName) *resolvedName = nullptr;
    if (cookie) *cookie = 0;
    return -1;
}

void __stdcall FileLoaderRelease(void*, void* data, void* resolvedName, DWORD, LoadedPart_*)
{
    std::free(resolvedName);
    std::free(data);
}
} // namespace LMK
