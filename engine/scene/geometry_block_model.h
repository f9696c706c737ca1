#pragma once
// Models from compressed geometry blocks: each decoded mesh becomes one mesh part, each group of strips
// one subset. Model_::CreateFromMeshList (model.h) is the constructor; this header holds its helpers.
#include "engine/scene/geometry_block.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
// A managed D3DX mesh in the decoded mesh's own vertex format, its faces carrying their attribute ids.
HRESULT CreateMeshFromDecoded(const DecodedMeshStruct_TYP& decoded, IDirect3DDevice9* device,
                              ID3DXMesh** out);

// Converts a mesh into the model vertex format (0x212) in the managed pool.
using MeshFormatConversion_TYP = HRESULT (*)(ID3DXMesh* mesh, IDirect3DDevice9* device, ID3DXMesh** out);
// Test hook: replaces the conversion (CloneMeshFVF) so that a failure can be forced; null restores it.
void SetMeshListFormatConversion(MeshFormatConversion_TYP conversion);
} // namespace LMK
