#pragma once
// Effects: a compiled effect kept once per device. The engine makes one, the default effect; no pass is
// ever begun: the model draw selects a technique and fills the light parameters while drawing stays
// on the fixed-function pipeline.
#include <vector>

#include "engine/core/device_data.h"
#include "engine/core/loaders.h"
#include "platform/d3dx9/d3dx9effect.h"

namespace LMK
{
class Effect_;

constexpr int kEffectLightCount = 10;
constexpr int kEffectLightMembers =
    8; // iType, vPos, vDir, vAmbient, vDiffuse, vSpecular, vAttenuation, vSpot
constexpr int kEffectLightCounts =
    5; // iLightNum, iLightDirNum, iLightPointSpotIni, iLightPointNum, iLightPointSpotNum

// Technique states of the model draw: one per technique, so that a verdict on one is never taken
// for the other.
constexpr DWORD kLitTechniqueState = 0;
constexpr DWORD kUnlitTechniqueState = 1;
constexpr const char* kLitTechnique = "DX9FixedFuncReplacementEffect";
constexpr const char* kUnlitTechnique = "DX9FixedFuncReplacementEffectNoLs";

class DeviceSpecificEffectData_ final : public DeviceSpecificDataContainer_
{
public:
    // Takes over the reference of `fx`, which is never null.
    DeviceSpecificEffectData_(IDirect3DDevice9* device, Effect_* owner, ID3DXEffect* fx);
    ~DeviceSpecificEffectData_() override;

    void Apply(void*, void*) override {}
    // Sets the technique when it is valid on this device, deciding that once per state index; 0 for a
    // technique that is not valid or a state index past the effect's techniques.
    BYTE SelectTechnique(DWORD stateIndex, const char* name);

    ID3DXEffect* effect;
    Effect_* owner;
    std::vector<BYTE> techniqueState; // {tested, valid} per state index
    D3DXHANDLE lightHandles[kEffectLightCount][kEffectLightMembers]{};
    D3DXHANDLE lightCounts[kEffectLightCounts]{};
};

class Effect_ final : public LoadedPart_, public DeviceSpecificDataHandler_
{
public:
    // Takes over the reference of `fx`; joins the root's list of effects. When memory runs out
    // (std::bad_alloc) fx is still the caller's.
    Effect_(LoadRecordStruct_TYP* record, ID3DXEffect* fx);
    ~Effect_() override;

    void OnCached() override { ReleaseSecondaryData(); }
    // A clone for another device; null when the effect cannot be cloned, so that no copy without an
    // effect is ever kept.
    std::unique_ptr<DeviceSpecificDataContainer_> CreateDataForDevice(IDirect3DDevice9* device) override;

    DWORD techniqueCount = 0;
    BYTE unused = 0;
};

// Tells every effect's copy for the device that the device was lost (lost = true) or reset.
void NotifyEffectsOfDevice(IDirect3DDevice9* device, bool lost);
} // namespace LMK
