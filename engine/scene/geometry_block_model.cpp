// Models from compressed geometry blocks: the decoded meshes become D3DX meshes, are converted to the
// model vertex format and wrapped as mesh parts; every group of strips becomes one subset.
#include "engine/scene/geometry_block_model.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/scene/geometry_block_batch.h"
#include "engine/scene/lr_geometry_block_api.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_draw_data.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
HRESULT CloneToModelFormat(ID3DXMesh* mesh, IDirect3DDevice9* device, ID3DXMesh** out)
{
    return mesh->CloneMeshFVF(D3DXMESH_MANAGED, kModelVertexFormat, device, out);
}

MeshFormatConversion_TYP formatConversion = CloneToModelFormat;

IDirect3DDevice9* PrimaryD3DDevice()
{
    if (!CurrentGlobals || !CurrentGlobals->devices.primaryDevice) return nullptr;
    return CurrentGlobals->devices.primaryDevice->device;
}
} // namespace

void SetMeshListFormatConversion(MeshFormatConversion_TYP conversion)
{
    formatConversion = conversion ? conversion : CloneToModelFormat;
}

HRESULT CreateMeshFromDecoded(const DecodedMeshStruct_TYP& decoded, IDirect3DDevice9* device, ID3DXMesh** out)
{
    *out = nullptr;
    const size_t faceCount = decoded.attributes.size();
    const size_t vertexCount = decoded.VertexCount();
    if (!device || faceCount == 0 || vertexCount == 0 || decoded.indices.size() != faceCount * 3 ||
        vertexCount > 0xFFFF)
        return E_FAIL;
    for (WORD index : decoded.indices)
        if (index >= vertexCount) return E_FAIL;

    const DWORD format = decoded.description.format;
    ID3DXMesh* mesh = nullptr;
    HRESULT hr = D3DXCreateMeshFVF(static_cast<DWORD>(faceCount), static_cast<DWORD>(vertexCount),
                                   D3DXMESH_MANAGED, format, device, &mesh);
    if (FAILED(hr)) return hr;
    if (!mesh) return E_FAIL;

    const UINT stride = D3DXGetFVFVertexSize(format);
    void* vertexData = nullptr;
    hr = mesh->LockVertexBuffer(0, &vertexData);
    if (SUCCEEDED(hr))
    {
        BYTE* bytes = static_cast<BYTE*>(vertexData);
        for (size_t v = 0; v < vertexCount; ++v)
            WriteDecodedVertex(decoded.VertexValues(v), bytes + v * stride, decoded.description);
        mesh->UnlockVertexBuffer();
        void* indexData = nullptr;
        hr = mesh->LockIndexBuffer(0, &indexData);
        if (SUCCEEDED(hr))
        {
            std::memcpy(indexData, decoded.indices.data(), decoded.indices.size() * sizeof(WORD));
            mesh->UnlockIndexBuffer();
            DWORD* ids = nullptr;
            hr = mesh->LockAttributeBuffer(0, &ids);
            if (SUCCEEDED(hr))
            {
                std::copy(decoded.attributes.begin(), decoded.attributes.end(), ids);
                mesh->UnlockAttributeBuffer();
            }
        }
    }
    if (FAILED(hr))
    {
        mesh->Release();
        return hr;
    }
    *out = mesh;
    return S_OK;
}

Model_* Model_::CreateFromMeshList(BYTE noResmooth, DWORD maxVersion, const void* data, DWORD size,
                                   Animation_* newAnimation, LoadRecordStruct_TYP* record, HRESULT* result)
{
    DecodedMeshListStruct_TYP list;
    HRESULT decoded = E_FAIL;
    // Without a device nothing could be built, so nothing is decoded.
    if (PrimaryD3DDevice() &&
        !ferolt::Allocated(
            [&] { decoded = DecodeMeshList(maxVersion, static_cast<const BYTE*>(data), size, &list); }))
    {
        list = {};
        decoded = E_OUTOFMEMORY;
    }
    return CreateFromMeshList(noResmooth, std::move(list), decoded, newAnimation, record, result);
}

Model_* Model_::CreateFromMeshList(BYTE noResmooth, DecodedMeshListStruct_TYP&& list, HRESULT decoded,
                                   Animation_* newAnimation, LoadRecordStruct_TYP* record, HRESULT* result)
{
    CountedPtr<Model_> model(new (std::nothrow) Model_()); // Model_() is private, out of NewCounted's reach
    if (!model)
    {
        if (result) *result = E_OUTOFMEMORY;
        return nullptr;
    }
    if (!ferolt::Allocated(
            [&] {
                FillFromMeshList(model.get(), noResmooth, std::move(list), decoded, newAnimation, record,
                                 result);
            }))
    {
        // Out of memory part way is a failed build like any other; what was made is owned and goes.
        model->DropGeometry();
        if (result) *result = E_OUTOFMEMORY;
    }
    return model.release(); // the caller takes the model whatever the result
}

void Model_::FillFromMeshList(Model_* model, BYTE noResmooth, DecodedMeshListStruct_TYP&& list,
                              HRESULT decodeResult, Animation_* newAnimation, LoadRecordStruct_TYP* record,
                              HRESULT* result)
{
    model->loadRecord = record;
    model->keepNormals = noResmooth;
    auto report = [result](HRESULT code)
    {
        if (result) *result = code;
    };

    IDirect3DDevice9* device = PrimaryD3DDevice();
    // Without a device nothing could be built; a model without parts must not pass for a good one.
    if (!device)
    {
        list = {};
        decodeResult = E_FAIL;
    }
    std::copy(std::begin(list.fileFlags), std::end(list.fileFlags), model->fileFlags);
    model->fileValue = list.fileValue;
    model->fileByte = list.fileByte;
    if (CurrentGlobals) CurrentGlobals->loaders.AttachObjectToRecord(record, model);
    if (FAILED(decodeResult)) return report(decodeResult);
    model->vertexStride = kModelVertexStride;
    model->vertexFormat = kModelVertexFormat;

    // A mesh that cannot be made ends the list like one that fails to decode: the ones before it stay,
    // with the subsets of their groups.
    std::vector<CountedPtr<ID3DXMesh>> meshes;
    DWORD subsetTotal = list.attributeCounter;
    for (const DecodedMeshStruct_TYP& decoded : list.meshes)
    {
        ID3DXMesh* mesh = nullptr;
        if (FAILED(CreateMeshFromDecoded(decoded, device, &mesh)))
        {
            subsetTotal = decoded.firstAttribute;
            break;
        }
        CountedPtr<ID3DXMesh> made(mesh);
        meshes.push_back(std::move(made));
    }
    const DWORD partTotal = static_cast<DWORD>(meshes.size());

    // The parts wrapped so far and the meshes not yet wrapped go with their owners, and the model's
    // arrays with it, so that a failure leaves a model that owns nothing.
    CountedArray_<LKXMesh_> parts(partTotal);
    model->adjacency = NewArray<ID3DXBuffer*>(partTotal);
    model->partCount = partTotal;
    if (subsetTotal) model->subsets = NewArray<SubsetStruct_TYP>(subsetTotal);
    if (!list.lightPoints.empty())
        model->lightPoints = CopyArray(list.lightPoints.data(), list.lightPoints.size());
    auto fail = [&](HRESULT code)
    {
        model->DropGeometry();
        report(code);
    };
    if (!parts || !model->adjacency || (subsetTotal && !model->subsets) ||
        (!list.lightPoints.empty() && !model->lightPoints))
        return fail(E_OUTOFMEMORY);

    model->lightPointCount = static_cast<DWORD>(list.lightPoints.size());
    SubsetStruct_TYP* subsetRecords = model->subsets.get();
    ID3DXBuffer** adjacency = model->adjacency.get();
    model->subsetCount = subsetTotal;
    for (DWORD s = 0; s < subsetTotal; ++s)
    {
        SubsetStruct_TYP& subset = subsetRecords[s];
        const IndexTripleStruct_TYP none = {{kNoSourceIndex, kNoSourceIndex, kNoSourceIndex}};
        const IndexTripleStruct_TYP& triple = s < list.triples.size() ? list.triples[s] : none;
        subset.sourceIndex = triple.index[0];
        subset.sourceIndex2 = triple.index[1];
        subset.sourceIndex3 = triple.index[2];
        subset.materialGroup = s;
    }
    // A subset whose group made no face still names the part its group belongs to.
    for (DWORD p = 0; p < partTotal; ++p)
    {
        const DecodedMeshStruct_TYP& decoded = list.meshes[p];
        for (DWORD g = 0; g < decoded.groupCount; ++g)
            if (decoded.firstAttribute + g < subsetTotal) subsetRecords[decoded.firstAttribute + g].part = p;
    }

    for (DWORD p = 0; p < partTotal; ++p)
    {
        if (meshes[p]->GetFVF() != kModelVertexFormat)
        {
            ID3DXMesh* converted = nullptr;
            const HRESULT code = formatConversion(meshes[p].get(), device, &converted);
            if (FAILED(code) || !converted) return fail(FAILED(code) ? code : E_FAIL);
            meshes[p].reset(converted);
        }
        // The part takes the mesh over (and drops it when it cannot be made).
        ID3DXMesh* mesh = meshes[p].release();
        LKXMesh_::Create(model, mesh, &adjacency[p], true, nullptr, 0, list.meshes[p].firstAttribute,
                         &parts[p], true);
        if (!parts[p]) continue;
        for (DWORD k = 0; k < parts[p]->attributeRangeCount; ++k)
        {
            const D3DXATTRIBUTERANGE& range = parts[p]->attributeTable[k];
            if (range.AttribId >= subsetTotal) continue;
            SubsetStruct_TYP& subset = subsetRecords[range.AttribId];
            subset.part = p;
            subset.firstFace = range.FaceStart;
            subset.faceCount = range.FaceCount;
        }
    }
    DWORD modelFace = 0;
    for (DWORD s = 0; s < subsetTotal; ++s)
    {
        subsetRecords[s].modelFirstFace = modelFace;
        modelFace += subsetRecords[s].faceCount;
    }

    model->primaryData = NewObject<DeviceSpecificModelData_>(device, model, parts.get(), nullptr);
    if (!model->primaryData) return fail(E_OUTOFMEMORY);
    parts.release(); // the device copy owns the parts now
    model->SetAnimation(newAnimation);
    model->ComputeBoundingBox();
    report(S_OK);
    if (record && CurrentGlobals && CurrentGlobals->PartCreatedCallback)
        CurrentGlobals->PartCreatedCallback(record->loader, record->type, record->resolvedName,
                                            record->loaderCookie, model);
    if (!noResmooth) model->Resmooth(list.creaseAngle, nullptr);
    model->keepNormals = noResmooth;
}
} // namespace LMK

HRESULT LRCreateModelFromMemory(const void* data, DWORD size, BYTE noResmooth, LMK::Animation_* animation,
                                LMK::Model_** out)
{
    if (!data || size == 0 || !out) return E_INVALIDARG;
    HRESULT result = E_FAIL;
    *out = LMK::Model_::CreateFromMeshList(noResmooth, LMK::kMaxCompressedMeshVersion, data, size, animation,
                                           nullptr, &result);
    return *out ? result : E_OUTOFMEMORY;
}

HRESULT LRDecodeGeometryBlocks(const LMK::GeometryBlockViewStruct_TYP* blocks, DWORD count,
                               LMK::DecodedBlockStruct_TYP* out)
{
    if (count && (!blocks || !out)) return E_INVALIDARG;
    const std::span<LMK::DecodedBlockStruct_TYP> lists(out, count);
    if (ferolt::Allocated(
            [&]
            {
                LMK::DecodeMeshLists(LMK::kMaxCompressedMeshVersion, {blocks, count}, lists,
                                     ferolt::hooks::GetD3D9WorkerThreads());
            }))
        return S_OK;
    for (LMK::DecodedBlockStruct_TYP& decoded : lists)
        decoded = {E_OUTOFMEMORY, {}};
    return E_OUTOFMEMORY;
}

HRESULT LRCreateModelFromDecoded(LMK::DecodedBlockStruct_TYP* decoded, BYTE noResmooth,
                                 LMK::Animation_* animation, LMK::Model_** out)
{
    if (!decoded || !out) return E_INVALIDARG;
    HRESULT result = E_FAIL;
    *out = LMK::Model_::CreateFromMeshList(noResmooth, std::move(decoded->list), decoded->result, animation,
                                           nullptr, &result);
    decoded->list = {};
    return *out ? result : E_OUTOFMEMORY;
}
