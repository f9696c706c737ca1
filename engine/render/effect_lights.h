#pragma once
// The default effect's part in a model draw: its technique is chosen and the device lights copied
// into its parameters. Nothing draws through it, so no pixel depends on this.
#include "engine/render/render_records.h"
#include "platform/d3d9/d3d9.h"

namespace LMK
{
class Effect_;
class DeviceSpecificEffectData_;

// The enabled device lights (the view's lights-used count of them, or one without a view, ten at
// most) into the effect's light parameters: directional lights first, then point, then spot.
void SetEffectLights(const RenderViewStruct_TYP* view, IDirect3DDevice9* device,
                     DeviceSpecificEffectData_* data);

// Fetches the effect's copy for the device and selects the technique for the device's lighting
// state; with lighting on, also fills the lights.
void PrepareEffectForDraw(Effect_* effect, IDirect3DDevice9* device, RenderViewStruct_TYP* view, void* pass);
} // namespace LMK
