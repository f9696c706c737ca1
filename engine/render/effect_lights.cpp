#include "engine/render/effect_lights.h"

#include <cmath>
#include <vector>

#include "engine/core/effect.h"

namespace LMK
{
namespace
{
enum LightMember
{
    MemberType,
    MemberPosition,
    MemberDirection,
    MemberAmbient,
    MemberDiffuse,
    MemberSpecular,
    MemberAttenuation,
    MemberSpot,
};

void SetLight(ID3DXEffect* effect, const D3DXHANDLE* handles, const D3DLIGHT9& light)
{
    const INT type = light.Type;
    const float attenuation[4] = {light.Attenuation0, light.Attenuation1, light.Attenuation2, light.Range};
    const float spot[3] = {std::cos(light.Theta * 0.5f), std::cos(light.Phi * 0.5f), light.Falloff};
    effect->SetValue(handles[MemberType], &type, 4);
    effect->SetValue(handles[MemberPosition], &light.Position, 12);
    effect->SetValue(handles[MemberDirection], &light.Direction, 12);
    effect->SetValue(handles[MemberAmbient], &light.Ambient, 16);
    effect->SetValue(handles[MemberDiffuse], &light.Diffuse, 16);
    effect->SetValue(handles[MemberSpecular], &light.Specular, 16);
    effect->SetValue(handles[MemberAttenuation], attenuation, 16);
    effect->SetValue(handles[MemberSpot], spot, 12);
}
} // namespace

void SetEffectLights(const RenderViewStruct_TYP* view, IDirect3DDevice9* device,
                     DeviceSpecificEffectData_* data)
{
    if (!data || !data->effect || !device) return;
    const DWORD wanted = view ? view->lightsUsed : 1;
    std::vector<D3DLIGHT9> directional, point, spot;
    for (DWORD k = 0; k < wanted && directional.size() + point.size() + spot.size() < kEffectLightCount; ++k)
    {
        D3DLIGHT9 light{};
        if (FAILED(device->GetLight(k, &light))) break;
        BOOL enabled = FALSE;
        if (FAILED(device->GetLightEnable(k, &enabled)) || !enabled) continue;
        if (light.Type == D3DLIGHT_DIRECTIONAL)
            directional.push_back(light);
        else if (light.Type == D3DLIGHT_POINT)
            point.push_back(light);
        else if (light.Type == D3DLIGHT_SPOT)
            spot.push_back(light);
    }
    ID3DXEffect* effect = data->effect;
    const INT counts[kEffectLightCounts] = {
        static_cast<INT>(directional.size() + point.size() + spot.size()),
        static_cast<INT>(directional.size()), static_cast<INT>(directional.size()),
        static_cast<INT>(point.size()), static_cast<INT>(point.size() + spot.size())};
    for (int i = 0; i < kEffectLightCounts; ++i)
        effect->SetInt(data->lightCounts[i], counts[i]);
    int j = 0;
    for (const std::vector<D3DLIGHT9>* group : {&directional, &point, &spot})
        for (const D3DLIGHT9& light : *group)
            SetLight(effect, data->lightHandles[j++], light);
}

void PrepareEffectForDraw(Effect_* effect, IDirect3DDevice9* device, RenderViewStruct_TYP* view, void* pass)
{
    if (!effect || !device) return;
    auto* data = static_cast<DeviceSpecificEffectData_*>(effect->GetDataForDevice(device, view, pass));
    if (!data || !data->effect) return;
    DWORD lighting = 0;
    device->GetRenderState(D3DRS_LIGHTING, &lighting);
    if (!lighting)
    {
        data->SelectTechnique(kUnlitTechniqueState, kUnlitTechnique);
        return;
    }
    data->SelectTechnique(kLitTechniqueState, kLitTechnique);
    SetEffectLights(view, device, data);
}
} // namespace LMK
