#include "engine/core/globals.h"

#include <memory>
#include <new>

#include "engine/core/resource_links.h"
#include "engine/core/texture_effects.h"
#include "platform/win32/out_of_memory.h"
#include "platform/win32/winuser.h"

namespace LMK
{
AllGlobals_* CurrentGlobals = nullptr;
AllGlobals_* OwnedGlobals = nullptr;
BYTE TransparentMirrorsOption = 0;
UINT SuspendGraphicsMessage = RegisterSuspendGraphicsMessage();

UINT RegisterSuspendGraphicsMessage()
{
    return RegisterWindowMessageA("wmLumorakSuspendGraphicsDev");
}

// ---------------------------------------------------------------------------------------------------
namespace
{
using SpinCountProc = BOOL(WINAPI*)(LPCRITICAL_SECTION, DWORD);
SpinCountProc g_spinCountProc = nullptr;
DWORD g_spinCountLookupFailed = 0;
} // namespace

namespace detail
{
void ResetCriticalSectionLookup()
{
    g_spinCountProc = nullptr;
    g_spinCountLookupFailed = 0;
}
} // namespace detail

void InitializeCriticalSectionWithSpinCount(CRITICAL_SECTION* section)
{
    if (!g_spinCountLookupFailed && !g_spinCountProc)
    {
        HMODULE kernel = GetModuleHandleA("Kernel32.dll");
        FARPROC proc = kernel ? GetProcAddress(kernel, "InitializeCriticalSectionAndSpinCount") : nullptr;
        if (proc)
            g_spinCountProc = reinterpret_cast<SpinCountProc>(proc);
        else
            g_spinCountLookupFailed = 1;
    }
    if (g_spinCountProc)
        g_spinCountProc(section, AllGlobals_::kRenderLockSpinCount);
    else
        InitializeCriticalSection(section);
}

// ---------------------------------------------------------------------------------------------------
AllGlobals_::AllGlobals_(const StartParamsStruct_TYP* params) : devices(params)
{
    releaseCache.total = 0;
    releaseCache.limit = ReleaseCache_::kDefaultLimit;
    releaseCache.enabled = 1;
    magic = kMagic;
    magFilter = D3DTEXF_LINEAR;
    minFilter = D3DTEXF_LINEAR;
    started = devices.devicesCreated;
    InitializeCriticalSectionWithSpinCount(&renderLock);
}

AllGlobals_::~AllGlobals_()
{
    // No background worker is ever created, so there is none to tear down.
    releaseCache.Purge();
    releaseCache.enabled = 0;

    ReleaseEffect(&defaultEffect);
    ReleaseMaterial(&defaultMaterial);
    for (Texture_*& texture : flareTextures)
        if (texture) ReleaseSpriteTexture(&texture);
    for (Texture_*& texture : glowTextures)
        if (texture) ReleaseSpriteTexture(&texture);

    UnregisterEffectFileLoader();
    UnregisterTextureFileLoader();
    UnregisterMaterialFileLoader();
    UnregisterModelFileLoader();

    DeleteCriticalSection(&renderLock);
    // The registry and the device set go with the members, in reverse order of declaration: the
    // registry first, the devices (released on the device thread) last.
}

void AllGlobals_::GetDefaultMaterial()
{
    if (!defaultMaterial) LRCreateMaterialFromColor(0.5f, 0.5f, 0.5f, 1.0f, &defaultMaterial);
}

void AllGlobals_::LoadSpriteSet(std::vector<Texture_*>& set, int firstId, int count)
{
    if (!set.empty()) return;
    for (int id = firstId; id < firstId + count; ++id)
    {
        Texture_* texture = nullptr;
        HMODULE module = GetModuleHandleA(nullptr);
        if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "TexFile"))
        {
            DWORD size = SizeofResource(module, found);
            HGLOBAL loaded = LoadResource(module, found);
            const void* bytes = loaded ? LockResource(loaded) : nullptr;
            if (size && bytes) texture = CreateSpriteTexture(bytes, size);
        }
        set.push_back(texture);
    }
}

void AllGlobals_::LoadFlareTextures()
{
    LoadSpriteSet(flareTextures, 200, kFlareTextureCount);
}

void AllGlobals_::LoadGlowTextures()
{
    LoadSpriteSet(glowTextures, 203, kGlowTextureCount);
}
} // namespace LMK

// ---------------------------------------------------------------------------------------------------
using LMK::AllGlobals_;
using LMK::CurrentGlobals;
using LMK::OwnedGlobals;

namespace
{
// The owner of this module's root; OwnedGlobals is its view. The owner itself is never destroyed: the
// root goes where the last stop resets it, and a root still running at exit stays as it is rather than
// being torn down among the other statics.
std::unique_ptr<AllGlobals_>& OwnedRoot()
{
    alignas(std::unique_ptr<AllGlobals_>) static unsigned char storage[sizeof(std::unique_ptr<AllGlobals_>)];
    static std::unique_ptr<AllGlobals_>* const owner = ::new (storage) std::unique_ptr<AllGlobals_>();
    return *owner;
}

HRESULT StartResult(const AllGlobals_* root)
{
    return root->devices.devicesCreated ? S_OK : static_cast<HRESULT>(root->devices.state);
}

void CreateDefaultEffect(AllGlobals_* root)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(102), "EffectFile");
    if (!found) return;
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (size && bytes) LRCreateEffect(bytes, size, &root->defaultEffect);
}

void DeleteOwnedRoot()
{
    // The root's members find it as the current root while they go.
    CurrentGlobals = OwnedGlobals;
    try
    {
        OwnedRoot().reset();
    }
    catch (...)
    {
    }
    OwnedGlobals = CurrentGlobals = nullptr;
}

// This module's own root with everything a start gives it. When memory runs out on the way, what was
// made goes as at the last stop and the current root stays as it was.
HRESULT CreateOwnedRoot(const LMK::StartParamsStruct_TYP* params)
{
    AllGlobals_* const previous = CurrentGlobals;
    const bool made = ferolt::Allocated(
        [&]
        {
            OwnedRoot() = std::make_unique<AllGlobals_>(params);
            OwnedGlobals = CurrentGlobals = OwnedRoot().get();
            LMK::SetTextureSearchPath(nullptr, 0);
            LMK::SetMaterialSearchPath(nullptr, 0);
            LMK::SetModelSearchPath(nullptr, 0);
            LMK::SetEffectSearchPath(nullptr, 0);
            CreateDefaultEffect(OwnedGlobals);
            LMK::CreateTextureEffects();
        });
    if (made) return S_OK;
    DeleteOwnedRoot();
    CurrentGlobals = previous;
    return E_OUTOFMEMORY;
}
} // namespace

HRESULT LRStartOrAttach(const LMK::StartParamsStruct_TYP* params, AllGlobals_* attach)
{
    LMK::StartParamsStruct_TYP block{};
    if (params)
        block = *params;
    else
        block.fpuPreservingDevices = 1;

    if (attach)
    {
        if (!attach->IsValid()) return E_FAIL;
    }
    else if (CurrentGlobals)
    {
        ++CurrentGlobals->startCount;
        return StartResult(CurrentGlobals);
    }

    if (!OwnedGlobals)
    {
        const HRESULT made = CreateOwnedRoot(&block);
        if (FAILED(made)) return made;
    }

    if (attach)
    {
        ++attach->shareCount;
        CurrentGlobals = attach;
    }
    else
        ++CurrentGlobals->startCount;
    return StartResult(CurrentGlobals);
}

HRESULT LRStart(const LMK::StartParamsStruct_TYP* params)
{
    return LRStartOrAttach(params, nullptr);
}

HRESULT LRStop()
{
    if (!CurrentGlobals) return E_FAIL;
    if (CurrentGlobals->startCount) --CurrentGlobals->startCount;
    if (CurrentGlobals->startCount != 0) return S_OK;
    if (CurrentGlobals != OwnedGlobals)
    {
        // An attached root fell to zero: go back to this module's own root, if there is one.
        CurrentGlobals = OwnedGlobals;
        if (!OwnedGlobals || OwnedGlobals->startCount != 0) return S_OK;
    }
    DeleteOwnedRoot();
    return S_OK;
}

HRESULT LRSwapTransparentMirrorsOption(BYTE* value)
{
    if (!value) return E_INVALIDARG;
    BYTE previous = LMK::TransparentMirrorsOption;
    LMK::TransparentMirrorsOption = *value;
    *value = previous;
    return S_OK;
}
