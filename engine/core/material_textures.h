#pragma once
// What a material asks of its textures, in one place.
#include "platform/d3d9/d3d9.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class Texture_;

// A texture file by name with the default options (LRLoadTexture).
HRESULT LoadMaterialTexture(const char* name, Texture_** out);
// Image bytes as a texture shared under `name`, its alternatives loaded (CreateTextureFromMemory).
HRESULT CreateMaterialTextureFromImage(const void* data, DWORD size, const char* name, Texture_** out);
// The V8U8 bump map of a height texture (LRCreateBumpMap).
HRESULT CreateMaterialBumpMap(Texture_* source, Texture_** out);
void AddRefMaterialTexture(Texture_* texture);
// Releases *texture when set (a bump map also lets go of its source) and clears it.
void ReleaseMaterialTexture(Texture_** texture);
HRESULT GetMaterialTextureImageSize(Texture_* texture, UINT* width, UINT* height);
// A malloc'ed copy of the file name the texture was loaded under, for a description; null for a texture
// without one. A bump map derived from another texture answers with its source's name when asked.
char* GetMaterialTextureFileName(Texture_* texture, bool bumpMapSource);

// Material application's view of a texture (MaterialTextureAccess).
IDirect3DBaseTexture9* MaterialDeviceTexture(Texture_* texture, IDirect3DDevice9* device);
Texture_* MaterialBumpSource(Texture_* bumpMap);
bool MaterialTextureAlternative(Texture_* texture, DWORD index, Texture_** alternative, DWORD* value);
bool MaterialTextureAverageColor(Texture_* texture, D3DCOLORVALUE* out);
} // namespace LMK
