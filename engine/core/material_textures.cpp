// What materials ask of their textures, answered by the texture layer.
#include "engine/core/material_textures.h"

#include "engine/core/texture.h"

namespace LMK
{
HRESULT LoadMaterialTexture(const char* name, Texture_** out)
{
    return LRLoadTexture(name, nullptr, out);
}

HRESULT CreateMaterialTextureFromImage(const void* data, DWORD size, const char* name, Texture_** out)
{
    return LRCreateTextureFromMemory(data, size, nullptr, out, name);
}

HRESULT CreateMaterialBumpMap(Texture_* source, Texture_** out)
{
    return LRCreateBumpMap(source, out, D3DFMT_V8U8);
}

void AddRefMaterialTexture(Texture_* texture)
{
    if (texture) texture->AddRef();
}

void ReleaseMaterialTexture(Texture_** texture)
{
    if (!texture) return;
    // Also after the engine stopped: a material may outlive it, and its textures go with it.
    if (*texture) (*texture)->Release();
    *texture = nullptr;
}

HRESULT GetMaterialTextureImageSize(Texture_* texture, UINT* width, UINT* height)
{
    if (width) *width = 0;
    if (height) *height = 0;
    if (!texture) return E_FAIL;
    return texture->GetImageSize(width, height);
}

char* GetMaterialTextureFileName(Texture_* texture, bool bumpMapSource)
{
    if (!texture) return nullptr;
    if (bumpMapSource && texture->bumpSource) texture = texture->bumpSource;
    char* resolved = nullptr;
    texture->GetNames(nullptr, &resolved);
    return resolved;
}

IDirect3DBaseTexture9* MaterialDeviceTexture(Texture_* texture, IDirect3DDevice9* device)
{
    return texture ? texture->TextureForDevice(device) : nullptr;
}

Texture_* MaterialBumpSource(Texture_* bumpMap)
{
    return bumpMap ? bumpMap->bumpSource : nullptr;
}

bool MaterialTextureAlternative(Texture_* texture, DWORD index, Texture_** alternative, DWORD* value)
{
    if (!texture || index >= texture->alternatives.size()) return false;
    *alternative = texture->alternatives[index].texture;
    *value = texture->alternatives[index].value;
    return true;
}

bool MaterialTextureAverageColor(Texture_* texture, D3DCOLORVALUE* out)
{
    if (!texture) return false;
    texture->GetAverageColor(&out->r, &out->g, &out->b, &out->a);
    return texture->averageValid != 0;
}
} // namespace LMK
