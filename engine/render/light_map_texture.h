#pragma once
// Light maps as engine textures: the one place that turns a baked render target into the texture a
// light-map record holds, and a record's texture back into the device texture that a draw binds.
#include "platform/d3d9/d3d9.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class Texture_;

// Takes over the caller's reference of `texture` (a managed texture of the primary device).
HRESULT CreateLightMapTexture(IDirect3DTexture9* texture, Texture_** out);
// Releases *texture when set and clears it.
void ReleaseLightMapTexture(Texture_** texture);
// The device texture to bind for a light map on `device`, or null.
IDirect3DBaseTexture9* LightMapDeviceTexture(Texture_* texture, IDirect3DDevice9* device);
} // namespace LMK
