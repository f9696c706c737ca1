#include "engine/scene/model_draw_data.h"

#include "engine/core/globals.h"
#include "engine/scene/mesh.h"
#include "engine/scene/progressive_mesh.h"

namespace LMK
{
namespace
{
const D3DVERTEXELEMENT9 kModelDeclaration[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
    D3DDECL_END(),
};
} // namespace

DeviceSpecificModelData_::DeviceSpecificModelData_(IDirect3DDevice9* owner, Model_* ownerModel,
                                                   LKXMesh_** meshParts, ProgressiveMesh_** progressive)
    : DeviceSpecificDataContainer_(owner), parts(meshParts), progressiveParts(progressive), model(ownerModel),
      vertexFormat(ownerModel->vertexFormat), partCount(ownerModel->partCount)
{
    if (CurrentGlobals && CurrentGlobals->defaultEffect && device)
        device->CreateVertexDeclaration(kModelDeclaration, &vertexDeclaration);
    // Last: a constructor that throws leaves both arrays with the caller's owners, which let them go once.
    progressiveOwner_ = CountedArray_<ProgressiveMesh_>(progressive, partCount);
    partsOwner_ = CountedArray_<LKXMesh_>(meshParts, partCount);
}

DeviceSpecificModelData_::~DeviceSpecificModelData_()
{
    partsOwner_ = {};
    progressiveOwner_ = {};
    if (vertexDeclaration) vertexDeclaration->Release();
}
} // namespace LMK
