#include "engine/core/light.h"

#include <cstring>

namespace LMK
{
void GetDefaultLightParams(LightParamsStruct_TYP* params)
{
    std::memset(params, 0, sizeof(*params));
    D3DLIGHT9& l = params->light;
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    l.Specular = {0.6f, 0.6f, 0.6f, 1.0f};
    l.Ambient = {0.2f, 0.2f, 0.2f, 1.0f};
    l.Position = {0.0f, 0.0f, 0.0f};
    l.Direction = {0.0f, 0.0f, -1.0f};
    l.Range = 50.0f;
    l.Falloff = 1.0f;
    l.Attenuation0 = 0.0f;
    l.Attenuation1 = 1.0f;
    l.Attenuation2 = 0.0f;
    l.Theta = 0.62831855f;
    l.Phi = 1.5707964f;
    params->diffuseOn = 1;
    params->specularOn = 1;
    params->ambientOn = 1;
    params->spotFalloff = 0;
    params->attenuationPreset = 4;
    params->glowType = 1;
    params->flareType = 1;
    params->glowSize = 1.0f;
    params->flareSize = 30.0f;
    params->intensity = 1.0f;
    params->flareAlpha = 0.5f;
    params->glowAlpha = 0.5f;
    params->castsShadows = 1;
    params->hardness = 1.0f;
}

bool ApplyLightAttenuationPreset(uint32_t preset, D3DLIGHT9* light)
{
    if (preset < 1 || preset > kLightAttenuationPresetCount) return false;
    const float* a = kLightAttenuationPresets[preset - 1];
    light->Attenuation0 = a[0];
    light->Attenuation1 = a[1];
    light->Attenuation2 = a[2];
    return true;
}

void LightMatrixFromPositionDirection(const D3DXVECTOR3& p, const D3DXVECTOR3& d, D3DXMATRIX* out)
{
    D3DXVECTOR3 f;
    D3DXVec3Normalize(&f, &d);
    // Any helper not parallel to d will do; with d.x == 0 a helper x of 1 keeps the basis proper even
    // for a direction along z, where 0 would collapse the first two rows.
    const D3DXVECTOR3 t = d.x != 0.0f ? D3DXVECTOR3(-d.y, d.x, 0.0f) : D3DXVECTOR3(1.0f, 0.0f, -d.z);
    D3DXVECTOR3 c;
    D3DXVec3Cross(&c, &d, &t);
    D3DXVec3Normalize(&c, &c);
    D3DXVECTOR3 u;
    D3DXVec3Cross(&u, &f, &c);
    D3DXVec3Normalize(&u, &u);
    *out =
        D3DXMATRIX(u.x, u.y, u.z, 0.0f, -c.x, -c.y, -c.z, 0.0f, -f.x, -f.y, -f.z, 0.0f, p.x, p.y, p.z, 1.0f);
}

Light_::Light_() : matrix(&matrix_), refCount(1), params(), deviceLightIndex(0), reserved(0)
{
    D3DXMatrixIdentity(matrix);
    LightParamsStruct_TYP defaults;
    GetDefaultLightParams(&defaults);
    SetParams(defaults);
}

Light_::~Light_() = default;

void Light_::SetParams(const LightParamsStruct_TYP& block)
{
    params = block;
    params.light.Diffuse.a = 1.0f;
    params.light.Specular.a = 1.0f;
    params.light.Ambient.a = 1.0f;
    ApplyLightAttenuationPreset(params.attenuationPreset, &params.light);
    SetTransform(matrix);
}

void Light_::SetTransform(const D3DXMATRIX* transform)
{
    if (transform)
        *matrix = *transform;
    else
        D3DXMatrixIdentity(matrix);
    const D3DXVECTOR3 origin(0.0f, 0.0f, 0.0f);
    const D3DXVECTOR3 forward(0.0f, 0.0f, -1.0f);
    D3DXVECTOR3 position;
    D3DXVECTOR3 ahead;
    D3DXVec3TransformCoord(&position, &origin, matrix);
    D3DXVec3TransformCoord(&ahead, &forward, matrix);
    D3DXVECTOR3 direction = ahead - position;
    D3DXVec3Normalize(&direction, &direction);
    params.light.Position = position;
    params.light.Direction = direction;
}

void Light_::SetPositionDirection(const D3DXVECTOR3& v)
{
    D3DXMatrixIdentity(matrix);
    D3DXVECTOR3 direction;
    D3DXVec3Normalize(&direction, &v);
    params.light.Position = v;
    params.light.Direction = direction;
}

void Light_::GetShadowParameters(D3DXVECTOR4* position, D3DXCOLOR* shadowColour) const
{
    const D3DLIGHT9& l = params.light;
    if (l.Type == D3DLIGHT_DIRECTIONAL)
        *position =
            D3DXVECTOR4(-200.0f * l.Direction.x, -200.0f * l.Direction.y, -200.0f * l.Direction.z, 1.0f);
    else
        *position = D3DXVECTOR4(l.Position.x, l.Position.y, l.Position.z, 1.0f);
    *shadowColour = D3DXCOLOR(1.0f - l.Diffuse.r, 1.0f - l.Diffuse.g, 1.0f - l.Diffuse.b, 0.5f);
}
} // namespace LMK
