#pragma once
// Four vertices drawn as a two-triangle fan from a managed vertex buffer made for the one draw: the
// light sprites and the overlay picture.
#include "platform/d3d9/d3d9.h"

namespace LMK
{
// False (nothing drawn) when the buffer cannot be made or filled. Stream 0 is unset afterwards.
bool DrawQuadFan(IDirect3DDevice9* device, DWORD fvf, const void* vertices, UINT stride);
} // namespace LMK
