#pragma once
// Lights: a counted Direct3D light with a transform and the engine's own additions (which colour terms
// take part, attenuation presets, intensity, glow and flare sprites, shadow settings for the light maps).
// Lights live outside the loader registry.
#include "platform/d3d9/d3d9types.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"

#include <cstdint>
#include <vector>

struct IDirect3DDevice9;

namespace LMK
{
struct RenderViewStruct_TYP;

#pragma pack(push, 1)
// Copied whole by the API. Position and direction in `light` are derived from the light's matrix.
struct LightParamsStruct_TYP
{
    D3DLIGHT9 light;
    uint8_t diffuseOn; // off: the colour is black for the device light, the glow and the flare
    uint8_t specularOn;
    uint8_t ambientOn;          // the light-map computation asks it as well
    uint8_t spotFalloff;        // a spot light keeps its falloff; the flare fades between theta/2 and phi/2
    uint32_t attenuationPreset; // 1 to 6 replace the attenuation; any other value keeps it
    uint32_t glowType;          // 1 none; 2 to 5 the glow sprites
    uint32_t flareType;         // 1 none; 2 to 4 the lens-flare presets
    float glowSize;
    float flareSize;
    float intensity; // factor on the enabled colours of the device light
    float flareAlpha;
    float glowAlpha;
    uint8_t castsShadows;
    uint8_t reserved[3];
    float hardness; // shadow hardness of the light-map computation
};
#pragma pack(pop)
static_assert(sizeof(LightParamsStruct_TYP) == 148);

constexpr uint32_t kLightAttenuationPresetCount = 6;
// Attenuation 0, 1 and 2 of presets 1 to 6.
constexpr float kLightAttenuationPresets[kLightAttenuationPresetCount][3] = {
    {1.0f, 0.0f, 0.0f}, {1.0f, 0.001f, 0.0f}, {1.0f, 0.01f, 0.0f},
    {1.0f, 0.1f, 0.0f}, {1.0f, 0.5f, 0.0f},   {1.0f, 1.0f, 0.0f},
};

void GetDefaultLightParams(LightParamsStruct_TYP* params);
// Writes the preset's attenuation into the light; false (light untouched) outside 1 to 6.
bool ApplyLightAttenuationPreset(uint32_t preset, D3DLIGHT9* light);

// A matrix that takes the origin to p and (0, 0, -1) to p + normalize(d); finite for every finite p and
// d, a zero d included (then its rotation rows are zero).
void LightMatrixFromPositionDirection(const D3DXVECTOR3& p, const D3DXVECTOR3& d, D3DXMATRIX* out);

class View_;
class Texture_;
// A camera-facing quad of the texture tinted by `color` (light_sprites.cpp); with depthTest the scene
// hides it but it writes no depth.
void DrawLightSprite(IDirect3DDevice9* device, View_* camera, const float centre[3], float width,
                     float height, Texture_* texture, D3DCOLOR color, BYTE depthTest);

class Light_
{
public:
    // Count 1, identity matrix, default parameters.
    Light_();
    virtual ~Light_();
    Light_(const Light_&) = delete;
    Light_& operator=(const Light_&) = delete;

    void AddRef() { ++refCount; }
    // Deletes the light when the count was 1; a count already at 0 only wraps.
    void Release()
    {
        if (refCount-- == 1) delete this;
    }

    // Takes the whole block, forces the colour alphas to 1, applies the attenuation preset, then derives
    // position and direction from the current matrix (the block's own are replaced).
    void SetParams(const LightParamsStruct_TYP& block);
    // Null means the identity.
    void SetTransform(const D3DXMATRIX* transform);
    // For the camera light: v is both its place and its direction; the matrix becomes the identity.
    void SetPositionDirection(const D3DXVECTOR3& v);

    // For planar shadows: a directional light stands far back along its direction.
    void GetShadowParameters(D3DXVECTOR4* position, D3DXCOLOR* shadowColour) const;

    // The glow and lens-flare sprites; plane is a pointer to the mirror plane pointer, or null.
    void DrawGlow(IDirect3DDevice9* device, RenderViewStruct_TYP* view, const D3DXPLANE* const* plane);
    void DrawFlare(IDirect3DDevice9* device, RenderViewStruct_TYP* view, const D3DXPLANE* const* plane);

    D3DXMATRIXA16* matrix; // points at matrix_
    uint32_t refCount;
    LightParamsStruct_TYP params;
    std::vector<uint32_t> unusedList; // nothing fills it
    uint32_t deviceLightIndex;        // the index under which the last render pass set this light
    uint32_t reserved;

private:
    D3DXMATRIXA16 matrix_{};
};
} // namespace LMK
