// The glow and lens-flare sprites of a light. They draw nothing until the sprite textures and their
// drawing land; the render pass already calls them in place.
#include "engine/core/light.h"

namespace LMK
{
void Light_::DrawGlow(IDirect3DDevice9*, RenderViewStruct_TYP*, const D3DXPLANE* const*) {}

void Light_::DrawFlare(IDirect3DDevice9*, RenderViewStruct_TYP*, const D3DXPLANE* const*) {}
} // namespace LMK
