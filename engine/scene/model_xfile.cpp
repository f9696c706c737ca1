// Models from X files in memory: D3DX reads the file into one mesh with the file's materials; the mesh
// becomes the model's single part and each of its attribute groups a subset with its own material.
#include <new>

#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/material.h"
#include "engine/core/material_textures.h"
#include "engine/core/owned_array.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_draw_data.h"

namespace LMK
{
namespace
{
IDirect3DDevice9* PrimaryD3DDevice()
{
    if (!CurrentGlobals || !CurrentGlobals->devices.primaryDevice) return nullptr;
    return CurrentGlobals->devices.primaryDevice->device;
}

// The material of one X-file material: its colours, and its texture when the file names one.
CountedPtr<Material_> MaterialFromFile(const D3DXMATERIAL& source)
{
    Texture_* texture = nullptr;
    if (source.pTextureFilename && *source.pTextureFilename)
        LoadMaterialTexture(source.pTextureFilename, &texture);
    CountedPtr<Material_> material = NewCounted<Material_>(&source.MatD3D, texture, nullptr, nullptr, false,
                                                           false, false, 1.0f, 1.0f, false, 0);
    ReleaseMaterialTexture(&texture); // the material holds its own reference
    return material;
}
} // namespace

Model_* Model_::CreateFromXFile(const void* data, DWORD size, LoadRecordStruct_TYP* record, HRESULT* result)
{
    // The caller gets the model whatever the result; until then a throw must not lose it.
    CountedPtr<Model_> owner(new (std::nothrow) Model_()); // Model_() is private, out of NewCounted's reach
    if (!owner)
    {
        if (result) *result = E_OUTOFMEMORY;
        return nullptr;
    }
    Model_* model = owner.get();
    model->loadRecord = record;
    auto report = [result](HRESULT code)
    {
        if (result) *result = code;
    };
    IDirect3DDevice9* device = PrimaryD3DDevice();
    CountedArray_<LKXMesh_> parts(1);
    model->adjacency = NewArray<ID3DXBuffer*>(1);
    if (!parts || !model->adjacency)
    {
        model->adjacency.reset();
        model->FinishConstruction(record);
        report(E_OUTOFMEMORY);
        return owner.release();
    }
    model->partCount = 1;
    ID3DXBuffer** adjacency = model->adjacency.get();

    ID3DXBuffer* materials = nullptr;
    DWORD materialCount = 0;
    ID3DXMesh* mesh = nullptr;
    HRESULT hr = device ? D3DXLoadMeshFromXInMemory(data, size, D3DXMESH_MANAGED, device, &adjacency[0],
                                                    &materials, nullptr, &materialCount, &mesh)
                        : E_FAIL;
    model->FinishConstruction(record);
    auto fail = [&](HRESULT code)
    {
        if (materials) materials->Release();
        model->ReleaseAdjacency();
        model->ResetMembers();
        report(code);
        return owner.release();
    };
    if (FAILED(hr)) return fail(hr);

    model->vertexFormat = kModelVertexFormat;
    model->vertexStride = kModelVertexStride;
    if (mesh->GetFVF() != kModelVertexFormat)
    {
        ID3DXMesh* clone = nullptr;
        hr = mesh->CloneMeshFVF(D3DXMESH_MANAGED, kModelVertexFormat, device, &clone);
        if (FAILED(hr) || !clone)
        {
            mesh->Release();
            return fail(FAILED(hr) ? hr : E_FAIL);
        }
        if (!(mesh->GetFVF() & D3DFVF_NORMAL)) D3DXComputeNormals(clone, nullptr);
        mesh->Release();
        mesh = clone;
    }
    // The file's attribute ids stay: each is the index of its material.
    LKXMesh_::Create(model, mesh, &adjacency[0], false, nullptr, 0, 0, &parts[0], true);

    if (materialCount > 0)
    {
        model->subsets = NewArray<SubsetStruct_TYP>(materialCount);
        if (!model->subsets) return fail(E_OUTOFMEMORY);
        SubsetStruct_TYP* subsets = model->subsets.get();
        model->subsetCount = materialCount;
        const auto* fileMaterials = static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer());
        for (DWORD r = 0; r < materialCount; ++r)
        {
            subsets[r].sourceIndex2 = kNoSourceIndex;
            subsets[r].sourceIndex3 = kNoSourceIndex;
        }
        if (parts[0])
            for (DWORD k = 0; k < parts[0]->attributeRangeCount; ++k)
            {
                const D3DXATTRIBUTERANGE& range = parts[0]->attributeTable[k];
                // A face whose material is not in the list has no subset to go to.
                if (range.AttribId >= materialCount) continue;
                SubsetStruct_TYP& subset = subsets[range.AttribId];
                subset.materialGroup = k;
                subset.sourceIndex = range.AttribId;
                subset.firstFace = range.FaceStart;
                subset.faceCount = range.FaceCount;
                subset.material = MaterialFromFile(fileMaterials[range.AttribId]).release();
            }
        DWORD modelFace = 0;
        for (DWORD r = 0; r < materialCount; ++r)
        {
            subsets[r].modelFirstFace = modelFace;
            modelFace += subsets[r].faceCount;
        }
    }
    if (materials) materials->Release();

    model->primaryData = NewObject<DeviceSpecificModelData_>(device, model, parts.get(), nullptr);
    if (!model->primaryData)
    {
        report(E_OUTOFMEMORY);
        return owner.release();
    }
    parts.release(); // the device copy owns the part now
    model->ComputeBoundingBox();
    report(S_OK);
    return owner.release();
}
} // namespace LMK
