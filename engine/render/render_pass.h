#pragma once
// One pass of a view: every part of the view's back buffer drawn through its device, with device-loss
// handling, busy flags for nested passes, the read-back callback and Present.
#include <vector>

#include "engine/render/render_records.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
class Object_;
class Light_;
struct MirrorSubsetStruct_TYP;

// S_OK; E_FAIL when a device reset failed for some part, or after a device was reset to its window's
// size (that frame is not drawn). The caller has checked the engine, the back buffer and the camera.
HRESULT RenderViewPass(RenderViewStruct_TYP* view, DWORD objectCount, Object_** objects, DWORD lightCount,
                       Light_** lights, const D3DXPLANE* mirrorPlane, DWORD stencilReference,
                       std::vector<MirrorSubsetStruct_TYP>* mirrors);
} // namespace LMK
