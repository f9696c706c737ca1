#pragma once
// The engine root: one object holds everything the engine shares for its life, reached through
// LMK::CurrentGlobals. LRStart creates it at the first start; the last LRStop deletes it.
#include <memory>
#include <vector>

#include "engine/core/devices.h"
#include "engine/core/file_loader.h"
#include "engine/core/loaders.h"
#include "engine/core/lr_core_api.h"
#include "platform/win32/winbase.h"

namespace LMK
{
class Effect_;
class Material_;
class Texture_;
class CTexEffect;
class BackgroundWorker_;

using PartCreatedCallback_TYP = void(__stdcall*)(Loader_* loader, DWORD type, const char* resolvedName,
                                                 DWORD cookie, LoadedPart_* object);

struct FileLoaderSlotStruct_TYP
{
    Loader_* loader;
    FileLoaderContextStruct_TYP context;
    std::unique_ptr<char[]> searchPathText, currentDirectoryText; // what the context's strings point into
};

class AllGlobals_
{
public:
    static constexpr DWORD kMagic = 0xF610C31Eu;
    static constexpr DWORD kRenderLockSpinCount = 4000;
    static constexpr int kFlareTextureCount = 3;
    static constexpr int kGlowTextureCount = 4;

    explicit AllGlobals_(const StartParamsStruct_TYP* params);
    AllGlobals_(const AllGlobals_&) = delete;
    AllGlobals_& operator=(const AllGlobals_&) = delete;
    virtual ~AllGlobals_();

    bool IsValid() const { return magic == kMagic; }
    // Makes sure the default material exists; the model draw then reads the field.
    void GetDefaultMaterial();
    // Fill the sprite sets once, in resource order; entries that could not be made stay null.
    void LoadFlareTextures();
    void LoadGlowTextures();

    AllDevices_ devices; // first: later members may need the devices
    ReleaseCache_ releaseCache;
    AllLoaders_ loaders;
    DWORD startCount = 0;
    FileLoaderSlotStruct_TYP materialLoader{};
    FileLoaderSlotStruct_TYP modelLoader{};
    FileLoaderSlotStruct_TYP textureLoader{};
    FileLoaderSlotStruct_TYP effectLoader{};
    std::vector<Effect_*> effects; // every live effect, in creation order
    Effect_* defaultEffect = nullptr;
    DWORD textureEffectCount = 0;
    std::vector<std::unique_ptr<CTexEffect>> textureEffects; // one table for every material and device
    std::vector<Texture_*> flareTextures;
    std::vector<Texture_*> glowTextures;
    Material_* defaultMaterial = nullptr;
    DWORD magFilter = 0;
    DWORD minFilter = 0;
    BYTE started = 0;
    BackgroundWorker_* backgroundWorker = nullptr; // nothing creates one
    PartCreatedCallback_TYP PartCreatedCallback = nullptr;
    CRITICAL_SECTION renderLock{};
    BYTE KeepLoadedData[5]{}; // by LoadedPartType; nothing sets them
    DWORD shareCount = 0;
    DWORD magic = 0;

private:
    void LoadSpriteSet(std::vector<Texture_*>& set, int firstId, int count);
};

extern AllGlobals_* CurrentGlobals;
extern AllGlobals_* OwnedGlobals;
extern BYTE TransparentMirrorsOption;
// The registered "wmLumorakSuspendGraphicsDev" message.
extern UINT SuspendGraphicsMessage;
UINT RegisterSuspendGraphicsMessage();

// The started check of the API: a current root whose devices exist.
inline bool IsEngineStarted()
{
    return CurrentGlobals && CurrentGlobals->started;
}

// Spin count 4000 where the kernel offers it, a plain critical section otherwise.
void InitializeCriticalSectionWithSpinCount(CRITICAL_SECTION* section);

namespace detail
{
// Forgets the looked-up kernel export, so that a test can make the next call look it up again.
void ResetCriticalSectionLookup();
} // namespace detail
} // namespace LMK
