#pragma once
// What a material asks of its textures, in one place. Textures are not part of the engine yet: until
// they are, no texture loads, so every material's texture slots stay empty.
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
} // namespace LMK
