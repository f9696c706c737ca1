// Effects, texture effects and textures are not part of the engine yet: until they are,
// nothing is made here, and the root's fields for them stay empty.
#include "engine/core/resource_links.h"

#include "engine/core/globals.h"

namespace LMK
{
void CreateTextureEffects() {}

void DeleteTextureEffects() {}

Texture_* CreateSpriteTexture(const void*, DWORD)
{
    return nullptr;
}

void ReleaseSpriteTexture(Texture_** texture)
{
    if (texture) *texture = nullptr;
}

void ReleaseEffect(Effect_** effect)
{
    if (effect) *effect = nullptr;
}
} // namespace LMK

HRESULT LRCreateEffect(const void* data, DWORD, LMK::Effect_** effect)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!data || !effect) return E_INVALIDARG;
    *effect = nullptr;
    return E_NOTIMPL;
}
