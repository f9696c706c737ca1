#include "engine/scene/mesh.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "engine/scene/model_draw_data.h"

namespace LMK
{
namespace
{
constexpr DWORD kAdjacencyBytesPerFace = 3 * sizeof(DWORD);

CountedPtr<ID3DXBuffer> NewAdjacencyBuffer(DWORD faceCount)
{
    ID3DXBuffer* buffer = nullptr;
    if (FAILED(D3DXCreateBuffer(faceCount * kAdjacencyBytesPerFace, &buffer))) return nullptr;
    return CountedPtr<ID3DXBuffer>(buffer);
}

DWORD* AdjacencyOf(ID3DXBuffer* buffer)
{
    return static_cast<DWORD*>(buffer->GetBufferPointer());
}

template <class T> void ReleaseAndClear(T*& p)
{
    if (p)
    {
        p->Release();
        p = nullptr;
    }
}

// The faces of each subset record take the model's index of that subset as attribute id. Faces that no
// record covers get UNUSED32, which no subset looks up: left as they were, they would be drawn as
// whichever subset happened to own their old id.
void AssignAttributeIds(ID3DXMesh* mesh, const SubsetStruct_TYP* subsets, DWORD subsetCount,
                        DWORD firstSubset)
{
    DWORD* ids = nullptr;
    if (FAILED(mesh->LockAttributeBuffer(0, &ids)) || !ids) return;
    const DWORD faceCount = mesh->GetNumFaces();
    for (DWORD f = 0; f < faceCount; ++f)
        ids[f] = UNUSED32;
    for (DWORD k = 0; k < subsetCount; ++k)
    {
        const DWORD first = subsets[k].firstFace;
        if (first >= faceCount) continue;
        const DWORD count = std::min(subsets[k].faceCount, faceCount - first);
        for (DWORD f = first; f < first + count; ++f)
            ids[f] = firstSubset + k;
    }
    mesh->UnlockAttributeBuffer();
}
} // namespace

LKXMesh_::LKXMesh_(Model_* ownerModel, IDirect3DDevice9* d3dDevice) : owner(ownerModel), device(d3dDevice)
{
    if (device) device->AddRef();
}

LKXMesh_::LKXMesh_(Model_* ownerModel, ID3DXMesh* d3dxMesh, DWORD firstSubset)
    : owner(ownerModel), mesh(d3dxMesh), firstSubsetIndex(firstSubset)
{
    DWORD count = 0;
    if (SUCCEEDED(mesh->GetAttributeTable(nullptr, &count)) && count)
    {
        attributeTable = NewBuffer<D3DXATTRIBUTERANGE>(count);
        if (attributeTable && SUCCEEDED(mesh->GetAttributeTable(attributeTable.get(), &count)))
            attributeRangeCount = count;
    }
    mesh->GetIndexBuffer(&indexBuffer);
    mesh->GetVertexBuffer(&baseVertexBuffer);
    mesh->GetDevice(&device);
    vertexStride = D3DXGetFVFVertexSize(mesh->GetFVF());
    // Until an object selects its geometry, the current buffer is the base one.
    currentVertexBuffer = baseVertexBuffer;
}

LKXMesh_::~LKXMesh_()
{
    ReleaseAndClear(indexBuffer);
    ReleaseAndClear(baseVertexBuffer);
    ReleaseAndClear(baseLineVertexBuffer);
    for (IDirect3DVertexBuffer9* buffer : variantLineVertexBuffers)
        if (buffer) buffer->Release();
    for (IDirect3DVertexBuffer9* buffer : variantVertexBuffers)
        if (buffer) buffer->Release();
    ReleaseAndClear(mesh);
    ReleaseAndClear(device);
}

void LKXMesh_::Release()
{
    if (--refCount == 0) delete this;
}

void LKXMesh_::Create(Model_* owner, ID3DXMesh* given, ID3DXBuffer** adjacency, bool computeNormals,
                      const SubsetStruct_TYP* subsets, DWORD subsetCount, DWORD firstSubsetIndex,
                      LKXMesh_** out, bool optimizeForVertexCache)
{
    *out = nullptr;
    // Held until the part takes it over, so that running out of memory on the way drops it.
    CountedPtr<ID3DXMesh> mesh(given);
    const DWORD faceCount = mesh->GetNumFaces();
    if (subsets && subsetCount) AssignAttributeIds(mesh.get(), subsets, subsetCount, firstSubsetIndex);

    if (!*adjacency)
    {
        CountedPtr<ID3DXBuffer> generated = NewAdjacencyBuffer(faceCount);
        if (generated && SUCCEEDED(mesh->GenerateAdjacency(0.0f, AdjacencyOf(generated.get()))))
            *adjacency = generated.release();
    }

    if (*adjacency)
    {
        ID3DXMesh* cleaned = nullptr;
        if (CountedPtr<ID3DXBuffer> cleanedAdjacency = NewAdjacencyBuffer(faceCount))
            if (SUCCEEDED(D3DXCleanMesh(static_cast<D3DXCLEANTYPE>(D3DXCLEAN_BACKFACING | D3DXCLEAN_BOWTIES),
                                        mesh.get(), AdjacencyOf(*adjacency), &cleaned,
                                        AdjacencyOf(cleanedAdjacency.get()), nullptr)) &&
                cleaned)
            {
                mesh.reset(cleaned);
                (*adjacency)->Release();
                *adjacency = cleanedAdjacency.release();
            }
    }

    if (computeNormals) D3DXComputeNormals(mesh.get(), nullptr);

    if (*adjacency)
    {
        const DWORD flags = optimizeForVertexCache
                                ? (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)
                                : D3DXMESHOPT_ATTRSORT;
        if (CountedPtr<ID3DXBuffer> optimizedAdjacency = NewAdjacencyBuffer(faceCount))
            if (SUCCEEDED(mesh->OptimizeInplace(flags, AdjacencyOf(*adjacency),
                                                AdjacencyOf(optimizedAdjacency.get()), nullptr, nullptr)))
            {
                (*adjacency)->Release();
                *adjacency = optimizedAdjacency.release();
            }
    }

    *out = new (std::nothrow) LKXMesh_(owner, mesh.get(), firstSubsetIndex);
    if (*out) mesh.release(); // the part holds it now
}

const D3DXATTRIBUTERANGE* LKXMesh_::FindSubsetRange(DWORD subsetIndex) const
{
    for (DWORD k = 0; k < attributeRangeCount; ++k)
        if (attributeTable[k].AttribId == subsetIndex) return &attributeTable[k];
    return nullptr;
}

IDirect3DVertexBuffer9* LKXMesh_::MakeVariantVertexBuffer(bool lines,
                                                          const std::vector<StretchPlaneStruct_TYP>* key)
{
    if (!key || key->empty() || !device) return nullptr;
    IDirect3DVertexBuffer9* source = lines ? baseLineVertexBuffer : baseVertexBuffer;
    const DWORD count = lines ? owner->lineVertexCount : (mesh ? mesh->GetNumVertices() : 0);
    if (!source || count == 0 || vertexStride != kModelVertexStride) return nullptr;

    IDirect3DVertexBuffer9* result = nullptr;
    if (FAILED(device->CreateVertexBuffer(vertexStride * count, 0, 0, D3DPOOL_MANAGED, &result, nullptr)))
        return nullptr;
    void* from = nullptr;
    void* to = nullptr;
    if (FAILED(source->Lock(0, 0, &from, D3DLOCK_READONLY)))
    {
        result->Release();
        return nullptr;
    }
    if (FAILED(result->Lock(0, 0, &to, 0)))
    {
        source->Unlock();
        result->Release();
        return nullptr;
    }
    const BYTE* measured = static_cast<const BYTE*>(from);
    ApplyStretchPlane(count, (*key)[0], measured, static_cast<BYTE*>(to), measured);
    for (size_t i = 1; i < key->size(); ++i)
        ApplyStretchPlane(count, (*key)[i], static_cast<BYTE*>(to), static_cast<BYTE*>(to), measured);
    result->Unlock();
    source->Unlock();
    return result;
}

void LKXMesh_::SwapVertexBuffers(VertexBufferLockStruct_TYP* lock)
{
    if (!mesh || !lock || !lock->buffer) return;
    lock->buffer->Unlock();
    if (currentVertexBuffer && currentVertexBuffer != baseVertexBuffer)
    {
        const size_t bytes = size_t(mesh->GetNumVertices()) * vertexStride;
        void* current = nullptr;
        void* base = nullptr;
        if (SUCCEEDED(currentVertexBuffer->Lock(0, 0, &current, 0)))
        {
            if (SUCCEEDED(baseVertexBuffer->Lock(0, 0, &base, 0)))
            {
                std::vector<BYTE> temporary(static_cast<BYTE*>(current), static_cast<BYTE*>(current) + bytes);
                std::memcpy(current, base, bytes);
                std::memcpy(base, temporary.data(), bytes);
                baseVertexBuffer->Unlock();
            }
            currentVertexBuffer->Unlock();
        }
    }
    lock->data = nullptr;
    lock->buffer->Lock(0, 0, &lock->data, D3DLOCK_READONLY);
}

void Model_::CreateLineBuffer(DWORD count, const ModelVertexStruct_TYP* vertices)
{
    if (count == 0 || !vertices) return;
    auto* data = static_cast<DeviceSpecificModelData_*>(primaryData.get());
    if (!data || !data->parts || data->partCount == 0) return;
    LKXMesh_*& part0 = data->parts[0];
    if (!part0)
    {
        part0 = new (std::nothrow) LKXMesh_(this, data->device);
        if (!part0) return;
    }
    if (part0->baseLineVertexBuffer) part0->baseLineVertexBuffer->Release();
    part0->baseLineVertexBuffer = nullptr;
    part0->currentLineVertexBuffer = nullptr;
    const UINT bytes = kModelVertexStride * count;
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (!part0->device || FAILED(part0->device->CreateVertexBuffer(bytes, 0, kModelVertexFormat,
                                                                   D3DPOOL_MANAGED, &buffer, nullptr)))
        return;
    void* to = nullptr;
    if (FAILED(buffer->Lock(0, 0, &to, 0)))
    {
        buffer->Release();
        return;
    }
    std::memcpy(to, vertices, bytes);
    buffer->Unlock();
    part0->baseLineVertexBuffer = buffer;
    part0->currentLineVertexBuffer = buffer;
}
} // namespace LMK
