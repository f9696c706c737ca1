// Textures are not part of the engine yet; these answers keep every texture slot empty until they are.
#include "engine/core/material_textures.h"

namespace LMK
{
HRESULT LoadMaterialTexture(const char*, Texture_** out)
{
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT CreateMaterialTextureFromImage(const void*, DWORD, const char*, Texture_** out)
{
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT CreateMaterialBumpMap(Texture_*, Texture_** out)
{
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

void AddRefMaterialTexture(Texture_*) {}

void ReleaseMaterialTexture(Texture_** texture)
{
    if (texture) *texture = nullptr;
}

HRESULT GetMaterialTextureImageSize(Texture_*, UINT* width, UINT* height)
{
    if (width) *width = 0;
    if (height) *height = 0;
    return E_FAIL;
}

char* GetMaterialTextureFileName(Texture_*, bool)
{
    return nullptr;
}
} // namespace LMK
