#pragma once
// The built-in file loader: one registration per resource type (texture, material, model, effect),
// each with its own search context held in a slot of the engine root.
#include "engine/core/lr_core_api.h"

namespace LMK
{
#pragma pack(push, 1)
struct FileLoaderContextStruct_TYP
{
    char* searchPath;       // upper-cased, ';'-separated; null for none
    char* currentDirectory; // upper-cased; null for none
    BYTE searchSubdirectories;
};
#pragma pack(pop)

// Act only while the slot has no loader: keep the path and register the slot's loader.
void SetTextureSearchPath(const char* path, BYTE searchSubdirectories);
void SetMaterialSearchPath(const char* path, BYTE searchSubdirectories);
void SetModelSearchPath(const char* path, BYTE searchSubdirectories);
void SetEffectSearchPath(const char* path, BYTE searchSubdirectories);
// Act only while the slot has a loader.
void SetTextureCurrentDirectory(const char* directory);
void SetMaterialCurrentDirectory(const char* directory);

HRESULT RegisterFileLoader(Loader_** loader, FileLoaderContextStruct_TYP* context, DWORD type);
HRESULT UnregisterFileLoader(Loader_** loader, FileLoaderContextStruct_TYP* context);
void UnregisterTextureFileLoader();
void UnregisterMaterialFileLoader();
void UnregisterModelFileLoader();
void UnregisterEffectFileLoader();

// 0 file read; -1 not found or refused; -2 found but not read completely.
int __stdcall FileLoaderLoad(const LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                             void** resolvedName, DWORD* cookie);
void __stdcall FileLoaderRelease(void* context, void* data, void* resolvedName, DWORD cookie,
                                 LoadedPart_* object);
} // namespace LMK
