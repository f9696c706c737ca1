// Effects and texture effects are not part of the engine yet: until they are, nothing is made here,
// and the root's fields for them stay empty. Sprite textures are made by the texture layer.
#include "engine/core/resource_links.h"

#include "engine/core/globals.h"

namespace LMK
{
void CreateTextureEffects() {}

void DeleteTextureEffects() {}

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
