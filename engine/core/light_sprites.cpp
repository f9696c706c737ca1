// The glow and lens-flare sprites of a light: camera-facing quads in the light's colour, the glow at the
// light's place (a directional light's far along its direction), the flare strung from the look-at point
// towards the light. Each sprite leaves the device's states as it found them.
#include <algorithm>
#include <cmath>

#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/quad_draw.h"
#include "engine/core/texture.h"
#include "engine/core/view.h"
#include "engine/render/render_records.h"

namespace LMK
{
namespace
{
constexpr DWORD kNoSprite = 1;
constexpr DWORD kFirstGlowType = 2;
// A directional light's glow stands this far back along its direction, just before the far plane.
constexpr float kDirectionalGlowDistance = 1e7f;
constexpr float kDirectionalGlowDepth = 0.9999f;

struct FlareEntry_
{
    float position; // along the flare offset, from the look-at point
    float size;
    DWORD texture; // into the flare set
    D3DCOLOR color;
};

constexpr FlareEntry_ kFlare2[] = {
    {-1.3f, 2.0f, 0, 0x1FFFFFFF},
    {0.2f, 1.0f, 2, 0x2FFFFFFF},
};
constexpr FlareEntry_ kFlare3[] = {
    {-1.3f, 2.0f, 0, 0x1FFFFFFF},
    {-0.7f, 1.0f, 1, 0x2FFF1F1F},
    {0.2f, 0.5f, 2, 0x2FFFFFFF},
    {0.7f, 0.1f, 1, 0x2F1F1FFF},
};
constexpr FlareEntry_ kFlare4[] = {
    {-1.3f, 2.0f, 0, 0x1FFFFFFF}, {-0.9f, 1.5f, 1, 0x2F3F3FFF}, {-0.5f, 0.7f, 1, 0x2FFF3FFF},
    {-0.2f, 0.3f, 1, 0x2FFF3FFF}, {0.7f, 0.1f, 2, 0x2FFFFFFF},  {1.3f, 0.05f, 1, 0x2F3F3FFF},
};

// 255 from 1 up, 0 from 0 down (and for NaN), otherwise rounded.
DWORD ChannelByte(float value)
{
    if (value >= 1.0f) return 255;
    if (!(value > 0.0f)) return 0;
    return static_cast<DWORD>(value * 255.0f + 0.5f);
}

float Byte(D3DCOLOR color, int shift)
{
    return static_cast<float>((color >> shift) & 0xFF) / 255.0f;
}

// The sum of the enabled colour terms scaled so that its brightest channel is 1; false when black.
bool SpriteColour(const LightParamsStruct_TYP& p, D3DXVECTOR3* c)
{
    *c = D3DXVECTOR3(0, 0, 0);
    auto add = [c](const D3DCOLORVALUE& v) { *c += D3DXVECTOR3(v.r, v.g, v.b); };
    if (p.ambientOn) add(p.light.Ambient);
    if (p.diffuseOn) add(p.light.Diffuse);
    if (p.specularOn) add(p.light.Specular);
    const float m = std::max({c->x, c->y, c->z});
    if (!(m > 0.0f)) return false;
    *c /= m;
    return true;
}

// The light's place and direction seen in the mirror; false when the light lies behind the mirror.
bool Reflect(const D3DLIGHT9& light, const D3DXPLANE* const* plane, D3DXVECTOR3* position,
             D3DXVECTOR3* direction)
{
    *position = D3DXVECTOR3(light.Position.x, light.Position.y, light.Position.z);
    *direction = D3DXVECTOR3(light.Direction.x, light.Direction.y, light.Direction.z);
    if (!plane || !*plane) return true;
    const D3DXPLANE& m = **plane;
    if (light.Type == D3DLIGHT_DIRECTIONAL)
    {
        if (D3DXPlaneDotCoord(&m, direction) > 0.0f) return false;
    }
    else if (D3DXPlaneDotCoord(&m, position) < 0.0f)
        return false;
    D3DXMATRIX reflect;
    D3DXMatrixReflect(&reflect, &m);
    D3DXVECTOR3 tip, origin;
    const D3DXVECTOR3 zero(0, 0, 0);
    D3DXVec3TransformCoord(position, position, &reflect);
    D3DXVec3TransformCoord(&tip, direction, &reflect);
    D3DXVec3TransformCoord(&origin, &zero, &reflect);
    const D3DXVECTOR3 d = tip - origin;
    D3DXVec3Normalize(direction, &d);
    return true;
}

float WindowWidth(const View_* camera)
{
    return camera->params.window[1] - camera->params.window[0];
}

// The states a sprite changes beyond those it puts back by rule, kept and restored around it.
class SavedSpriteStates_
{
public:
    explicit SavedSpriteStates_(IDirect3DDevice9* device) : device_(device)
    {
        for (size_t i = 0; i < std::size(kStates); ++i)
            device_->GetRenderState(kStates[i], &values_[i]);
    }
    ~SavedSpriteStates_()
    {
        for (size_t i = 0; i < std::size(kStates); ++i)
            device_->SetRenderState(kStates[i], values_[i]);
    }
    SavedSpriteStates_(const SavedSpriteStates_&) = delete;
    SavedSpriteStates_& operator=(const SavedSpriteStates_&) = delete;

private:
    static constexpr D3DRENDERSTATETYPE kStates[] = {D3DRS_ZWRITEENABLE, D3DRS_ALPHABLENDENABLE,
                                                     D3DRS_CULLMODE, D3DRS_TEXTUREFACTOR};
    IDirect3DDevice9* device_;
    DWORD values_[std::size(kStates)] = {};
};
} // namespace

void DrawLightSprite(IDirect3DDevice9* device, View_* camera, const float centre[3], float width,
                     float height, Texture_* texture, D3DCOLOR color, BYTE depthTest)
{
    if (!device || !camera || !texture) return;
    D3DXVECTOR3 eye, lookAt, up;
    camera->GetLookAt(&eye, &lookAt, &up);
    const D3DXVECTOR3 d = lookAt - eye;
    D3DXVECTOR3 across, upward;
    D3DXVec3Cross(&across, &d, &up);
    D3DXVec3Cross(&upward, &across, &d);
    D3DXVec3Normalize(&across, &across);
    D3DXVec3Normalize(&upward, &upward);
    const D3DXVECTOR3 R = across * (width / 2.0f), U = upward * (height / 2.0f);
    IDirect3DTexture9* deviceTexture = texture->TextureForDevice(device);

    SavedSpriteStates_ saved(device);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device->SetRenderState(D3DRS_TEXTUREFACTOR, color);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetTexture(0, deviceTexture);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTransform(D3DTS_TEXTURE0, &identity);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetTransform(D3DTS_WORLD, &identity);
    device->SetRenderState(D3DRS_ZENABLE, depthTest ? TRUE : FALSE);
    if (depthTest) device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);

    struct Vertex
    {
        float x, y, z, u, v;
    };
    static_assert(sizeof(Vertex) == 20);
    const D3DXVECTOR3 c(centre[0], centre[1], centre[2]);
    const D3DXVECTOR3 corners[4] = {c - R - U, c + R - U, c + R + U, c - R + U};
    const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    Vertex quad[4];
    for (int k = 0; k < 4; ++k)
        quad[k] = {corners[k].x, corners[k].y, corners[k].z, uv[k][0], uv[k][1]};
    DrawQuadFan(device, D3DFVF_XYZ | D3DFVF_TEX1, quad, sizeof(Vertex));

    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

void Light_::DrawGlow(IDirect3DDevice9* device, RenderViewStruct_TYP* view, const D3DXPLANE* const* plane)
{
    if (params.glowType == kNoSprite || !view || !view->camera || !CurrentGlobals) return;
    View_* camera = view->camera;
    D3DXVECTOR3 c, position, direction;
    if (!SpriteColour(params, &c) || !Reflect(params.light, plane, &position, &direction)) return;
    CurrentGlobals->LoadGlowTextures();

    float size = params.glowSize;
    D3DXVECTOR3 at = position;
    if (params.light.Type == D3DLIGHT_DIRECTIONAL)
    {
        D3DXVECTOR3 eye, lookAt;
        camera->GetLookAt(&eye, &lookAt, nullptr);
        const D3DXVECTOR3 sight = lookAt - eye, toLight = -direction;
        if (D3DXVec3Dot(&sight, &toLight) < 0.0f) return;
        const float width = WindowWidth(camera);
        if (width == 0.0f) return; // no size on screen to scale by
        D3DXMATRIX viewProjection, inverse;
        camera->GetViewProjectionMatrix(&viewProjection);
        camera->GetInverseViewProjectionMatrix(&inverse);
        const D3DXVECTOR3 far = toLight * kDirectionalGlowDistance;
        D3DXVec3TransformCoord(&at, &far, &viewProjection);
        at.z = kDirectionalGlowDepth;
        D3DXVec3TransformCoord(&at, &at, &inverse);
        size = size * camera->params.zFar / width;
    }
    const DWORD index = params.glowType - kFirstGlowType;
    const std::vector<Texture_*>& set = CurrentGlobals->glowTextures;
    if (params.glowType < kFirstGlowType || index >= set.size() || !set[index]) return;
    const D3DCOLOR color =
        D3DCOLOR_ARGB(ChannelByte(params.glowAlpha), ChannelByte(c.x), ChannelByte(c.y), ChannelByte(c.z));
    DrawLightSprite(device, camera, &at.x, size, size, set[index], color, 1);
}

void Light_::DrawFlare(IDirect3DDevice9* device, RenderViewStruct_TYP* view, const D3DXPLANE* const* plane)
{
    if (params.flareType == kNoSprite || !view || !view->camera || !CurrentGlobals) return;
    View_* camera = view->camera;
    D3DXVECTOR3 c;
    if (!SpriteColour(params, &c)) return;
    CurrentGlobals->LoadFlareTextures();
    D3DXVECTOR3 E, A, position, direction;
    camera->GetLookAt(&E, &A, nullptr);
    const float width = WindowWidth(camera);
    if (!Reflect(params.light, plane, &position, &direction)) return;
    if (width == 0.0f) return; // no size on screen to scale by

    const D3DLIGHT9& light = params.light;
    const D3DXVECTOR3 L = light.Type == D3DLIGHT_DIRECTIONAL ? -direction : position - A;
    const D3DXVECTOR3 V = A - E;
    D3DXVECTOR3 across, q, Vn;
    D3DXVec3Cross(&across, &L, &V);
    D3DXVec3Cross(&q, &V, &across);
    const D3DXVECTOR3 offset = q * (1.0f / width);
    D3DXVec3Normalize(&Vn, &V);

    float intensity = 1.0f;
    if (light.Type == D3DLIGHT_SPOT || light.Type == D3DLIGHT_DIRECTIONAL)
    {
        const D3DXVECTOR3 back = -direction;
        intensity = D3DXVec3Dot(&Vn, &back);
        if (intensity < 0.0f) return;
        if (light.Type == D3DLIGHT_SPOT)
        {
            // Rounding may carry the cosine a hair past 1.
            const float a = std::acos(std::min(intensity, 1.0f));
            if (a > light.Phi / 2.0f) return;
            const float w = (light.Phi - light.Theta) / 2.0f;
            if (params.spotFalloff && a > light.Theta / 2.0f && w != 0.0f)
                intensity *= 1.0f - light.Falloff * (a - light.Theta / 2.0f) / w;
        }
    }
    intensity *= params.flareAlpha;

    const FlareEntry_* entries = nullptr;
    size_t count = 0;
    switch (params.flareType)
    {
    case 2:
        entries = kFlare2, count = std::size(kFlare2);
        break;
    case 3:
        entries = kFlare3, count = std::size(kFlare3);
        break;
    case 4:
        entries = kFlare4, count = std::size(kFlare4);
        break;
    default:
        return;
    }
    const std::vector<Texture_*>& set = CurrentGlobals->flareTextures;
    for (size_t k = 0; k < count; ++k)
    {
        const FlareEntry_& e = entries[k];
        if (e.texture >= set.size() || !set[e.texture]) return;
        const D3DXVECTOR3 at = A + offset * e.position;
        const D3DCOLOR color =
            D3DCOLOR_ARGB(ChannelByte(Byte(e.color, 24) * intensity), ChannelByte(Byte(e.color, 16) * c.x),
                          ChannelByte(Byte(e.color, 8) * c.y), ChannelByte(Byte(e.color, 0) * c.z));
        const float size = params.flareSize * e.size;
        DrawLightSprite(device, camera, &at.x, size, size, set[e.texture], color, 0);
    }
}
} // namespace LMK
