#pragma once
// The engine's public API for start and stop and for the loader registry. Every function returns an
// HRESULT; the ones marked "started" answer E_FAIL while no engine with devices is running.
#include "engine/core/ilumo_vector.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class AllGlobals_;
class LoadedPart_;
class Loader_;
struct LoaderLODStruct_TYP;
struct LoaderAlternativeStruct_TYP;

#pragma pack(push, 1)
// Handed to the engine start; a null block means all zero except fpuPreservingDevices = 1.
struct StartParamsStruct_TYP
{
    DWORD multiSampleType;       // requested D3DMULTISAMPLE_TYPE, lowered until every adapter takes it
    BYTE onePixelBackBuffer;     // create devices 1 x 1, reset to their window at the first render
    BYTE fpuPreservingDevices;   // D3DCREATE_FPU_PRESERVE
    BYTE extraFullScreenDevices; // a second, full-screen device per usable adapter
    BYTE reserved[57];
};
#pragma pack(pop)
static_assert(sizeof(StartParamsStruct_TYP) == 64);

// Answers of a loader's load callback.
constexpr int kLoaderFinishedPart = 1; // the out data is a finished LoadedPart_; no record is made
constexpr int kLoaderDelivered = 0;
constexpr int kLoaderNotMine = -3; // ask the next loader

struct LoaderRequestStruct_TYP
{
    const char* name; // as the caller gave it, not upper-cased
    void* context;
};

using LoaderLoadCallback = int(__stdcall*)(const LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                                           void** resolvedName, DWORD* cookie);
using LoaderReleaseCallback = void(__stdcall*)(void* context, void* data, void* resolvedName, DWORD cookie,
                                               LoadedPart_* object);
using LoaderUnloadCallback = void(__stdcall*)(void* context, Loader_* loader, const char* resolvedName);
using LoaderLODsCallback = int(__stdcall*)(void* context, const char* name,
                                           IlumoVector<LoaderLODStruct_TYP>* list);
using LoaderAlternativesCallback = int(__stdcall*)(void* context, const char* name,
                                                   IlumoVector<LoaderAlternativeStruct_TYP>* list);

// The callback block of a registered loader; load and release are required.
struct LoaderCallbacksStruct_TYP
{
    LoaderLoadCallback load;
    LoaderReleaseCallback release;
    LoaderUnloadCallback onUnload;
    void* context;
    LoaderLODsCallback getLODs;
    LoaderAlternativesCallback getAlternatives;
};
} // namespace LMK

// Resource type codes of the loader registry.
enum LoadedPartType : DWORD
{
    LoadedPartTexture = 0,
    LoadedPartMaterial = 1,
    LoadedPartModel = 2,
    LoadedPartEffect = 3,
    LoadedPartTexturePackage = 4, // requested under the model file's own name
};

// Start: S_OK with devices, -1 without a Direct3D 9 runtime, -2 without a device. E_FAIL when a root
// to attach is not valid.
HRESULT LRStartOrAttach(const LMK::StartParamsStruct_TYP* params, LMK::AllGlobals_* attach);
HRESULT LRStart(const LMK::StartParamsStruct_TYP* params);
// E_FAIL when no engine is current. The last stop deletes the root.
HRESULT LRStop();
// Exchanges the transparent-mirrors option with *value; no started check.
HRESULT LRSwapTransparentMirrorsOption(BYTE* value);

// Started. Adds a loader for one resource type, at the end of the asking order or at its front.
HRESULT LRRegisterLoader(DWORD type, const LMK::LoaderCallbacksStruct_TYP* callbacks, bool atFront,
                         LMK::Loader_** loader);
// Started. Unloads the loader's parked resources and removes it; S_OK for a null *loader.
HRESULT LRUnregisterLoader(LMK::Loader_** loader);
// Started. S_OK also for null.
HRESULT LRAddRefLoadedPart(LMK::LoadedPart_* part);
// Started. Releases *part when set and clears it.
HRESULT LRReleaseLoadedPart(LMK::LoadedPart_** part);
// No started check. Releases every element, frees the engine-allocated array and clears *array.
HRESULT LRReleaseLoadedPartArray(LMK::LoadedPart_*** array, DWORD count);
