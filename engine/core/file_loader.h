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
// The model loader looks beside the model being loaded by name, as the texture and material loaders do:
// without a search path nothing else would ever find a model file.
void SetModelCurrentDirectory(const char* directory);

HRESULT RegisterFileLoader(Loader_** loader, FileLoaderContextStruct_TYP* context, DWORD type);
HRESULT UnregisterFileLoader(Loader_** loader, FileLoaderContextStruct_TYP* context);
void UnregisterTextureFileLoader();
void UnregisterMaterialFileLoader();
void UnregisterModelFileLoader();
void UnregisterEffectFileLoader();

// 0 file read; -1 not found or refused; -2 found but not read completely.
int __stdcall FileLoaderLoad(const LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                             void** resolvedName, DWORD* cookie);
// Reads directory + subdirectory + name (or the name itself when it already begins with the directory
// and there is no subdirectory) into a block that FileLoaderRelease gives back. The resolved name is the path
// with the directory's last character replaced by '>'. 0 read; -1 not there; -2 there but not read whole.
int ReadWholeFile(const char* name, const char* subdirectory, const char* directory, void** data, DWORD* size,
                  char** resolvedName);
// ReadWholeFile in directory + subdirectory, then depth first in every directory below it.
int SearchDirectoryTree(BYTE skipSelf, const char* directory, const char* subdirectory, const char* name,
                        void** data, DWORD* size, char** resolvedName);
void __stdcall FileLoaderRelease(void* context, void* data, void* resolvedName, DWORD cookie,
                                 LoadedPart_* object);
} // namespace LMK
