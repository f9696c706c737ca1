#pragma once
// Drawing one placed object's model on one device: the world transform helper and the pieces of the
// per-subset draw that the model's device copy (DeviceSpecificModelData_::Apply) runs.
#include "engine/render/render_records.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
class Material_;

// Sets the world matrix; with an effect also its matrix parameters (every caller passes none).
void SetWorldTransform(IDirect3DDevice9* device, ID3DXEffect* effect, const D3DXMATRIX* world);

// Applies a subset's material for one draw and returns the number of passes to draw.
int ApplyMaterialForDraw(Material_* material, PartDrawContextStruct_TYP* context);
} // namespace LMK
