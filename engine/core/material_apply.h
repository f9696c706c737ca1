#pragma once
// Material application: a material, the display mode and what the device accepts become the
// fixed-function state of one drawn subset. The texture-stage chains are fixed recipes chosen by the
// features that take part (texture_stage_setups.h); each recipe's verdict on a device is cached in the
// device's stage-validation table.
#include "engine/core/material.h"
#include "engine/core/material_apply_validation.h"
#include "engine/render/render_records.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9math.h"

namespace LMK
{
// Feature bits of a combination code.
constexpr DWORD kFeatureBase = 0x01;
constexpr DWORD kFeatureReflection = 0x02;
constexpr DWORD kFeatureBump = 0x04;
constexpr DWORD kFeatureAdditive = 0x08; // also the flag-0x40000 bit of the flag-0x20000 set-ups
constexpr DWORD kFeatureLightMap = 0x10;
constexpr DWORD kFeatureLayer = 0x20;
constexpr DWORD kFeatureVariant = 0x40; // the flag-0x20000 set-ups

// What application asks of a texture, filled by the texture layer (material_textures.h). Tests put
// device textures behind their own texture pointers here.
struct MaterialTextureAccessStruct_TYP
{
    // The Direct3D texture of the texture's copy for the device; null when it cannot be made.
    IDirect3DBaseTexture9* (*deviceTexture)(Texture_* texture, IDirect3DDevice9* device) = nullptr;
    // The texture a bump map was made from, or null.
    Texture_* (*bumpSource)(Texture_* bumpMap) = nullptr;
    // The index-th {texture, value} alternative; false past the last.
    bool (*alternative)(Texture_* texture, DWORD index, Texture_** alternative, DWORD* value) = nullptr;
    // The texture's average colour; false when it has none.
    bool (*averageColor)(Texture_* texture, D3DCOLORVALUE* out) = nullptr;
};
extern MaterialTextureAccessStruct_TYP MaterialTextureAccess;

// Puts a texture transform record (or none) onto stages stage + a and stage + b, as the root's texture
// effect of that index does; sets *keepsAnimating for a running animation. The texture effects' own
// set-up unless a test puts another here.
using StageTransformSetup_TYP = void (*)(DWORD effectIndex, const D3DXMATRIX* inverseWorld,
                                         IDirect3DDevice9* device, DWORD startTime,
                                         const TextureTransformStruct_TYP* record, BYTE* keepsAnimating,
                                         DWORD stage, DWORD a, DWORD b);
extern StageTransformSetup_TYP StageTransformSetup;

// x in [0, 1] as a byte, truncated; values outside are clamped so that they cannot spill into the
// neighbouring bytes of a packed factor.
BYTE FactorByte(float x);
} // namespace LMK
