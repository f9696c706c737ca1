#pragma once
// One object drawn into every part of a back buffer and presented, without the scene machinery of a
// render pass: no render-view record, no other objects, no scene lights, no background, no mirrors.
// The impostor atlas build renders its views with it.
#include "platform/d3d9/d3d9.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class BackBuffer_;
class View_;
class Object_;

// E_FAIL for a mode above 5, an engine that is not started, after a device was reset to its window's
// size (that frame is not drawn) and when a device reset failed; E_INVALIDARG for a null back buffer.
// The camera and the object are required.
HRESULT RenderBackBufferFrame(BackBuffer_* backBuffer, View_* camera, DWORD mode, D3DCOLOR clearColor,
                              Object_* object);
} // namespace LMK
