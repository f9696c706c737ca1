#include "engine/core/effect.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "engine/core/resource_links.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
constexpr const char* kLightMemberFormats[kEffectLightMembers] = {
    "lights[%i].iType",    "lights[%i].vPos",      "lights[%i].vDir",         "lights[%i].vAmbient",
    "lights[%i].vDiffuse", "lights[%i].vSpecular", "lights[%i].vAttenuation", "lights[%i].vSpot"};
constexpr const char* kLightCountNames[kEffectLightCounts] = {
    "iLightNum", "iLightDirNum", "iLightPointSpotIni", "iLightPointNum", "iLightPointSpotNum"};
} // namespace

DeviceSpecificEffectData_::DeviceSpecificEffectData_(IDirect3DDevice9* device, Effect_* effectOwner,
                                                     ID3DXEffect* fx)
    : DeviceSpecificDataContainer_(device), effect(fx), owner(effectOwner),
      techniqueState(2 * size_t{effectOwner->techniqueCount}, 0)
{
    for (int i = 0; i < kEffectLightCounts; ++i)
        lightCounts[i] = effect->GetParameterByName(nullptr, kLightCountNames[i]);
    char name[64];
    for (int light = 0; light < kEffectLightCount; ++light)
        for (int member = 0; member < kEffectLightMembers; ++member)
        {
            std::snprintf(name, sizeof(name), kLightMemberFormats[member], light);
            lightHandles[light][member] = effect->GetParameterByName(nullptr, name);
        }
}

DeviceSpecificEffectData_::~DeviceSpecificEffectData_()
{
    effect->Release();
}

BYTE DeviceSpecificEffectData_::SelectTechnique(DWORD stateIndex, const char* name)
{
    if (stateIndex >= techniqueState.size() / 2) return 0;
    BYTE& tested = techniqueState[2 * size_t{stateIndex}];
    BYTE& valid = techniqueState[2 * size_t{stateIndex} + 1];
    D3DXHANDLE technique = effect->GetTechniqueByName(name);
    if (!tested)
    {
        tested = 1;
        valid = technique && SUCCEEDED(effect->ValidateTechnique(technique)) ? 1 : 0;
    }
    if (valid) effect->SetTechnique(technique);
    return valid;
}

Effect_::Effect_(LoadRecordStruct_TYP* record, ID3DXEffect* fx) : LoadedPart_(record)
{
    D3DXEFFECT_DESC description{};
    if (SUCCEEDED(fx->GetDesc(&description))) techniqueCount = description.Techniques;
    if (CurrentGlobals) CurrentGlobals->effects.reserve(CurrentGlobals->effects.size() + 1);
    // Last of what may fail: from here the effect holds fx.
    primaryData = std::make_unique<DeviceSpecificEffectData_>(PrimaryDevice(), this, fx);
    if (!CurrentGlobals) return;
    CurrentGlobals->effects.push_back(this);
    if (!record) return;
    CurrentGlobals->loaders.AttachObjectToRecord(record, this);
    if (CurrentGlobals->PartCreatedCallback)
        CurrentGlobals->PartCreatedCallback(record->loader, record->type, record->resolvedName,
                                            record->loaderCookie, this);
}

Effect_::~Effect_()
{
    if (CurrentGlobals) std::erase(CurrentGlobals->effects, this);
}

std::unique_ptr<DeviceSpecificDataContainer_> Effect_::CreateDataForDevice(IDirect3DDevice9* device)
{
    auto* primary = static_cast<DeviceSpecificEffectData_*>(primaryData.get());
    ID3DXEffect* clone = nullptr;
    if (!primary || !device || FAILED(primary->effect->CloneEffect(device, &clone)) || !clone) return nullptr;
    // The clone goes with a copy that could not be made.
    CountedPtr<ID3DXEffect> held(clone);
    auto copy = std::make_unique<DeviceSpecificEffectData_>(device, this, clone);
    held.release();
    return copy;
}

void NotifyEffectsOfDevice(IDirect3DDevice9* device, bool lost)
{
    if (!CurrentGlobals) return;
    for (Effect_* effect : CurrentGlobals->effects)
    {
        auto tell = [&](DeviceSpecificDataContainer_* copy)
        {
            if (!copy || copy->device != device) return;
            ID3DXEffect* fx = static_cast<DeviceSpecificEffectData_*>(copy)->effect;
            if (lost)
                fx->OnLostDevice();
            else
                fx->OnResetDevice();
        };
        tell(effect->primaryData.get());
        for (DeviceSpecificDataContainer_* copy : effect->secondaryData)
            tell(copy);
    }
}

void ReleaseEffect(Effect_** effect)
{
    if (!effect) return;
    if (*effect) (*effect)->Release();
    *effect = nullptr;
}
} // namespace LMK

HRESULT LRCreateEffect(const void* data, DWORD size, LMK::Effect_** effect)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!data || !effect) return E_INVALIDARG;
    *effect = nullptr;
    ID3DXEffect* fx = nullptr;
    const HRESULT hr = D3DXCreateEffect(LMK::PrimaryDevice(), data, size, nullptr, nullptr,
                                        D3DXFX_LARGEADDRESSAWARE, nullptr, &fx, nullptr);
    if (FAILED(hr)) return hr;
    if (!fx) return E_FAIL;
    // fx is the effect's once it is made, and goes with an effect that cannot be made.
    LMK::CountedPtr<ID3DXEffect> held(fx);
    return ferolt::CatchOutOfMemory(E_OUTOFMEMORY,
                                    [&]
                                    {
                                        *effect = new LMK::Effect_(nullptr, fx);
                                        held.release();
                                        return S_OK;
                                    });
}
