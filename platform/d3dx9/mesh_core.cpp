// ID3DXMesh: creation, buffers, attribute table, adjacency, cloning and optimisation.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/d3dx9/mesh_object.h"
#include "platform/win32/out_of_memory.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::d3dx9
{
namespace
{
DWORD VertexUsage(DWORD options)
{
    DWORD usage = 0;
    if (options & D3DXMESH_VB_WRITEONLY) usage |= D3DUSAGE_WRITEONLY;
    if (options & D3DXMESH_VB_DYNAMIC) usage |= D3DUSAGE_DYNAMIC;
    if (options & D3DXMESH_VB_SOFTWAREPROCESSING) usage |= D3DUSAGE_SOFTWAREPROCESSING;
    if (options & D3DXMESH_DONOTCLIP) usage |= D3DUSAGE_DONOTCLIP;
    if (options & D3DXMESH_POINTS) usage |= D3DUSAGE_POINTS;
    if (options & D3DXMESH_RTPATCHES) usage |= D3DUSAGE_RTPATCHES;
    if (options & D3DXMESH_NPATCHES) usage |= D3DUSAGE_NPATCHES;
    return usage;
}

DWORD IndexUsage(DWORD options)
{
    DWORD usage = 0;
    if (options & D3DXMESH_IB_WRITEONLY) usage |= D3DUSAGE_WRITEONLY;
    if (options & D3DXMESH_IB_DYNAMIC) usage |= D3DUSAGE_DYNAMIC;
    if (options & D3DXMESH_IB_SOFTWAREPROCESSING) usage |= D3DUSAGE_SOFTWAREPROCESSING;
    if (options & D3DXMESH_DONOTCLIP) usage |= D3DUSAGE_DONOTCLIP;
    if (options & D3DXMESH_POINTS) usage |= D3DUSAGE_POINTS;
    if (options & D3DXMESH_RTPATCHES) usage |= D3DUSAGE_RTPATCHES;
    if (options & D3DXMESH_NPATCHES) usage |= D3DUSAGE_NPATCHES;
    return usage;
}

D3DPOOL VertexPool(DWORD options)
{
    if (options & D3DXMESH_VB_MANAGED) return D3DPOOL_MANAGED;
    if (options & D3DXMESH_VB_SYSTEMMEM) return D3DPOOL_SYSTEMMEM;
    return D3DPOOL_DEFAULT;
}

D3DPOOL IndexPool(DWORD options)
{
    if (options & D3DXMESH_IB_MANAGED) return D3DPOOL_MANAGED;
    if (options & D3DXMESH_IB_SYSTEMMEM) return D3DPOOL_SYSTEMMEM;
    return D3DPOOL_DEFAULT;
}

// Copies one component of every vertex, truncating or zero-padding it to the destination's size.
void CopyComponent(const uint8_t* src, UINT srcStride, int srcOffset, UINT srcBytes, uint8_t* dst,
                   UINT dstStride, int dstOffset, UINT dstBytes, DWORD count)
{
    if (dstOffset < 0 || srcOffset < 0) return;
    UINT n = std::min(srcBytes, dstBytes);
    for (DWORD i = 0; i < count; ++i)
        std::memcpy(dst + size_t(i) * dstStride + dstOffset, src + size_t(i) * srcStride + srcOffset, n);
}
} // namespace

Mesh* AsMesh(ID3DXBaseMesh* mesh)
{
    return mesh ? dynamic_cast<Mesh*>(mesh) : nullptr;
}

HRESULT Mesh::Create(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                     Mesh** out)
{
    *out = nullptr;
    FvfLayout layout;
    if (!device) return Refuse("Mesh.Create.NullPointer");
    if (faces == 0 || vertices == 0) return Refuse("Mesh.Create.Empty");
    if (!ParseFvf(fvf, &layout)) return Refuse("Mesh.Create.WrongType");
    const bool index32 = (options & D3DXMESH_32BIT) != 0;
    if (!index32 && vertices > kMaxVertices16) return Refuse("Mesh.Create.OutOfRange");
    const uint64_t vbBytes = uint64_t(vertices) * layout.stride;
    const uint64_t ibBytes = uint64_t(faces) * 3 * (index32 ? 4 : 2);
    if (vbBytes > kMaxBufferBytes || ibBytes > kMaxBufferBytes) return E_OUTOFMEMORY;

    Mesh* mesh = new (std::nothrow) Mesh();
    if (!mesh) return E_OUTOFMEMORY;
    mesh->device_ = device;
    device->AddRef();
    mesh->fvf_ = fvf;
    mesh->layout_ = layout;
    mesh->faces_ = faces;
    mesh->vertices_ = vertices;
    mesh->options_ = options;
    if (!Allocated([&] { mesh->attributes_.assign(faces, 0); }))
    {
        mesh->Release();
        return E_OUTOFMEMORY;
    }
    HRESULT hr = device->CreateVertexBuffer(static_cast<UINT>(vbBytes), VertexUsage(options), fvf,
                                            VertexPool(options), &mesh->vb_, nullptr);
    if (SUCCEEDED(hr))
        hr = device->CreateIndexBuffer(static_cast<UINT>(ibBytes), IndexUsage(options),
                                       index32 ? D3DFMT_INDEX32 : D3DFMT_INDEX16, IndexPool(options),
                                       &mesh->ib_, nullptr);
    if (FAILED(hr))
    {
        mesh->Release();
        return hr;
    }
    *out = mesh;
    return S_OK;
}

Mesh::~Mesh()
{
    if (ib_) ib_->Release();
    if (vb_) vb_->Release();
    if (device_) device_->Release();
}

HRESULT Mesh::DrawSubset(DWORD AttribId)
{
    HRESULT hr = device_->SetStreamSource(0, vb_, 0, layout_.stride);
    if (SUCCEEDED(hr)) hr = device_->SetIndices(ib_);
    if (SUCCEEDED(hr)) hr = device_->SetFVF(fvf_);
    if (FAILED(hr)) return hr;
    if (!table_.empty())
    {
        for (const D3DXATTRIBUTERANGE& r : table_)
            if (r.AttribId == AttribId && r.FaceCount)
                return device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, r.VertexStart, r.VertexCount,
                                                     r.FaceStart * 3, r.FaceCount);
        return S_OK;
    }
    // Without a table, every run of faces that carries the id.
    for (DWORD f = 0; f < faces_;)
    {
        if (attributes_[f] != AttribId)
        {
            ++f;
            continue;
        }
        DWORD start = f;
        while (f < faces_ && attributes_[f] == AttribId)
            ++f;
        hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertices_, start * 3, f - start);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Mesh::GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE])
{
    return D3DXDeclaratorFromFVF(fvf_, Declaration);
}

HRESULT Mesh::GetDevice(IDirect3DDevice9** ppDevice)
{
    if (!ppDevice) return Refuse("Mesh.GetDevice.NullPointer");
    device_->AddRef();
    *ppDevice = device_;
    return S_OK;
}

HRESULT Mesh::GetVertexBuffer(IDirect3DVertexBuffer9** ppVB)
{
    if (!ppVB) return Refuse("Mesh.GetVertexBuffer.NullPointer");
    vb_->AddRef();
    *ppVB = vb_;
    return S_OK;
}

HRESULT Mesh::GetIndexBuffer(IDirect3DIndexBuffer9** ppIB)
{
    if (!ppIB) return Refuse("Mesh.GetIndexBuffer.NullPointer");
    ib_->AddRef();
    *ppIB = ib_;
    return S_OK;
}

HRESULT Mesh::LockVertexBuffer(DWORD Flags, void** ppData)
{
    if (!ppData) return Refuse("Mesh.LockVertexBuffer.NullPointer");
    return vb_->Lock(0, 0, ppData, Flags);
}

HRESULT Mesh::UnlockVertexBuffer()
{
    return vb_->Unlock();
}

HRESULT Mesh::LockIndexBuffer(DWORD Flags, void** ppData)
{
    if (!ppData) return Refuse("Mesh.LockIndexBuffer.NullPointer");
    return ib_->Lock(0, 0, ppData, Flags);
}

HRESULT Mesh::UnlockIndexBuffer()
{
    return ib_->Unlock();
}

HRESULT Mesh::LockAttributeBuffer(DWORD, DWORD** ppData)
{
    if (!ppData) return Refuse("Mesh.LockAttributeBuffer.NullPointer");
    ++attributeLocks_;
    *ppData = attributes_.data();
    return S_OK;
}

HRESULT Mesh::UnlockAttributeBuffer()
{
    if (attributeLocks_ == 0) return Refuse("Mesh.UnlockAttributeBuffer.NotLocked");
    --attributeLocks_;
    return S_OK;
}

HRESULT Mesh::GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize)
{
    if (pAttribTableSize) *pAttribTableSize = static_cast<DWORD>(table_.size());
    if (pAttribTable && !table_.empty())
        std::memcpy(pAttribTable, table_.data(), table_.size() * sizeof(D3DXATTRIBUTERANGE));
    return S_OK;
}

HRESULT Mesh::SetAttributeTable(const D3DXATTRIBUTERANGE* pAttribTable, DWORD cAttribTableSize)
{
    if (cAttribTableSize && !pAttribTable) return Refuse("Mesh.SetAttributeTable.NullTable");
    for (DWORD i = 0; i < cAttribTableSize; ++i)
    {
        const D3DXATTRIBUTERANGE& r = pAttribTable[i];
        if (uint64_t(r.FaceStart) + r.FaceCount > faces_ ||
            uint64_t(r.VertexStart) + r.VertexCount > vertices_)
            return Refuse("Mesh.SetAttributeTable.RangeOutsideMesh");
    }
    table_.assign(pAttribTable, pAttribTable + cAttribTableSize);
    return S_OK;
}

HRESULT Mesh::ReadVertices(std::vector<uint8_t>* out)
{
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out->assign(b, b + size_t(vertices_) * layout_.stride);
    vb_->Unlock();
    return S_OK;
}

HRESULT Mesh::WriteVertices(const std::vector<uint8_t>& data)
{
    if (data.size() != size_t(vertices_) * layout_.stride) return Refuse("Mesh.WriteVertices.WrongSize");
    void* p = nullptr;
    HRESULT hr = vb_->Lock(0, 0, &p, 0);
    if (FAILED(hr)) return hr;
    std::memcpy(p, data.data(), data.size());
    return vb_->Unlock();
}

HRESULT Mesh::ReadIndices(std::vector<uint32_t>* out)
{
    void* p = nullptr;
    HRESULT hr = ib_->Lock(0, 0, &p, D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    const size_t n = size_t(faces_) * 3;
    out->resize(n);
    if (Index32())
        std::memcpy(out->data(), p, n * 4);
    else
        for (size_t i = 0; i < n; ++i)
        {
            WORD w;
            std::memcpy(&w, static_cast<const uint8_t*>(p) + i * 2, 2);
            (*out)[i] = w;
        }
    ib_->Unlock();
    for (uint32_t i : *out)
        if (i >= vertices_) return D3DXERR_INVALIDMESH;
    return S_OK;
}

HRESULT Mesh::WriteIndices(const std::vector<uint32_t>& data)
{
    if (data.size() != size_t(faces_) * 3) return Refuse("Mesh.WriteIndices.WrongSize");
    void* p = nullptr;
    HRESULT hr = ib_->Lock(0, 0, &p, 0);
    if (FAILED(hr)) return hr;
    if (Index32())
        std::memcpy(p, data.data(), data.size() * 4);
    else
        for (size_t i = 0; i < data.size(); ++i)
        {
            WORD w = static_cast<WORD>(data[i]);
            std::memcpy(static_cast<uint8_t*>(p) + i * 2, &w, 2);
        }
    return ib_->Unlock();
}

HRESULT Mesh::ReadPositions(std::vector<Float3>* out)
{
    std::vector<uint8_t> bytes;
    HRESULT hr = ReadVertices(&bytes);
    if (FAILED(hr)) return hr;
    out->resize(vertices_);
    for (DWORD i = 0; i < vertices_; ++i)
        std::memcpy(&(*out)[i], bytes.data() + size_t(i) * layout_.stride + layout_.position, sizeof(Float3));
    return S_OK;
}

HRESULT Mesh::ResizeVertices(DWORD count)
{
    if (count == vertices_) return S_OK;
    if (count == 0) return Refuse("Mesh.ResizeVertices.Empty");
    if (!Index32() && count > kMaxVertices16) return Refuse("Mesh.ResizeVertices.OutOfRange");
    uint64_t bytes = uint64_t(count) * layout_.stride;
    if (bytes > kMaxBufferBytes) return E_OUTOFMEMORY;
    IDirect3DVertexBuffer9* vb = nullptr;
    HRESULT hr = device_->CreateVertexBuffer(static_cast<UINT>(bytes), VertexUsage(options_), fvf_,
                                             VertexPool(options_), &vb, nullptr);
    if (FAILED(hr)) return hr;
    vb_->Release();
    vb_ = vb;
    vertices_ = count;
    return S_OK;
}

HRESULT Mesh::GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency)
{
    if (!pAdjacency) return Refuse("Mesh.GenerateAdjacency.NullPointer");
    if (!(Epsilon >= 0.0f)) return Refuse("Mesh.GenerateAdjacency.OutOfRange");
    std::vector<Float3> positions;
    std::vector<uint32_t> indices;
    HRESULT hr = ReadPositions(&positions);
    if (SUCCEEDED(hr)) hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> adjacency = AdjacencyFromIndices(indices, PointReps(positions, Epsilon));
    std::memcpy(pAdjacency, adjacency.data(), adjacency.size() * sizeof(DWORD));
    return S_OK;
}

HRESULT Mesh::ConvertPointRepsToAdjacency(const DWORD* pPRep, DWORD* pAdjacency)
{
    if (!pAdjacency) return Refuse("Mesh.ConvertPointRepsToAdjacency.NullPointer");
    std::vector<uint32_t> indices;
    HRESULT hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> reps(vertices_);
    for (DWORD i = 0; i < vertices_; ++i)
    {
        reps[i] = pPRep ? pPRep[i] : i;
        if (reps[i] >= vertices_) return Refuse("Mesh.ConvertPointRepsToAdjacency.OutOfRange");
    }
    std::vector<DWORD> adjacency = AdjacencyFromIndices(indices, reps);
    std::memcpy(pAdjacency, adjacency.data(), adjacency.size() * sizeof(DWORD));
    return S_OK;
}

HRESULT Mesh::ConvertAdjacencyToPointReps(const DWORD* pAdjacency, DWORD* pPRep)
{
    if (!pAdjacency || !pPRep) return Refuse("Mesh.ConvertAdjacencyToPointReps.NullPointer");
    std::vector<uint32_t> indices;
    HRESULT hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    // Union the corners that two neighbouring faces share across their common edge.
    std::vector<DWORD> parent(vertices_);
    for (DWORD i = 0; i < vertices_; ++i)
        parent[i] = i;
    auto find = [&](DWORD v)
    {
        while (parent[v] != v)
            v = parent[v] = parent[parent[v]];
        return v;
    };
    auto unite = [&](DWORD a, DWORD b)
    {
        a = find(a);
        b = find(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    };
    for (DWORD f = 0; f < faces_; ++f)
        for (int k = 0; k < 3; ++k)
        {
            DWORD g = pAdjacency[f * 3 + k];
            if (g >= faces_) continue;
            for (int j = 0; j < 3; ++j)
                if (pAdjacency[g * 3 + j] == f)
                {
                    unite(indices[f * 3 + k], indices[g * 3 + (j + 1) % 3]);
                    unite(indices[f * 3 + (k + 1) % 3], indices[g * 3 + j]);
                    break;
                }
        }
    for (DWORD i = 0; i < vertices_; ++i)
        pPRep[i] = find(i);
    return S_OK;
}

HRESULT Mesh::UpdateSemantics(D3DVERTEXELEMENT9*)
{
    return E_NOTIMPL;
}

HRESULT Mesh::CloneMeshFVF(DWORD Options, DWORD FVF, IDirect3DDevice9* pD3DDevice, ID3DXMesh** ppCloneMesh)
{
    if (!ppCloneMesh) return Refuse("Mesh.CloneMeshFVF.NullPointer");
    *ppCloneMesh = nullptr;
    if (!pD3DDevice) return Refuse("Mesh.CloneMeshFVF.NullPointer");
    std::vector<uint8_t> src;
    std::vector<uint32_t> indices;
    HRESULT hr = ReadVertices(&src);
    if (SUCCEEDED(hr)) hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    Mesh* clone = nullptr;
    hr = Create(faces_, vertices_, Options, FVF, pD3DDevice, &clone);
    if (FAILED(hr)) return hr;

    hr = CatchOutOfMemory(E_OUTOFMEMORY, [&] { return FillClone(clone, src, indices); });
    if (FAILED(hr))
    {
        clone->Release();
        return hr;
    }
    *ppCloneMesh = clone;
    return S_OK;
}

HRESULT Mesh::FillClone(Mesh* clone, const std::vector<uint8_t>& src,
                        const std::vector<uint32_t>& indices) const
{
    const FvfLayout& s = layout_;
    const FvfLayout& d = clone->layout_;
    std::vector<uint8_t> dst(size_t(vertices_) * d.stride, 0);
    // Positions keep their xyz; blend weights and w carry over as far as both layouts have them.
    CopyComponent(src.data(), s.stride, s.position, s.positionBytes, dst.data(), d.stride, d.position,
                  d.positionBytes, vertices_);
    CopyComponent(src.data(), s.stride, s.normal, 12, dst.data(), d.stride, d.normal, 12, vertices_);
    CopyComponent(src.data(), s.stride, s.psize, 4, dst.data(), d.stride, d.psize, 4, vertices_);
    CopyComponent(src.data(), s.stride, s.diffuse, 4, dst.data(), d.stride, d.diffuse, 4, vertices_);
    CopyComponent(src.data(), s.stride, s.specular, 4, dst.data(), d.stride, d.specular, 4, vertices_);
    for (UINT t = 0; t < std::min(s.texCount, d.texCount); ++t)
        CopyComponent(src.data(), s.stride, s.texOffset[t], s.texBytes[t], dst.data(), d.stride,
                      d.texOffset[t], d.texBytes[t], vertices_);

    HRESULT hr = clone->WriteVertices(dst);
    if (SUCCEEDED(hr)) hr = clone->WriteIndices(indices);
    if (FAILED(hr)) return hr;
    clone->attributes_ = attributes_;
    clone->table_ = table_;
    return S_OK;
}

HRESULT Mesh::CloneMesh(DWORD, const D3DVERTEXELEMENT9*, IDirect3DDevice9*, ID3DXMesh** ppCloneMesh)
{
    if (ppCloneMesh) *ppCloneMesh = nullptr;
    return E_NOTIMPL;
}

HRESULT Mesh::OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                              LPD3DXBUFFER* ppVertexRemap)
{
    if (ppVertexRemap) *ppVertexRemap = nullptr;
    if (attributeLocks_) return Refuse("Mesh.OptimizeInplace.Locked");
    const bool sort =
        (Flags & (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) != 0;
    const bool cache = (Flags & (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) != 0;
    const bool compact = (Flags & D3DXMESHOPT_COMPACT) != 0;

    std::vector<uint8_t> vertices;
    std::vector<uint32_t> indices;
    HRESULT hr = ReadVertices(&vertices);
    if (SUCCEEDED(hr)) hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;

    std::vector<DWORD> adjacency;
    if (pAdjacencyIn)
    {
        adjacency.assign(pAdjacencyIn, pAdjacencyIn + size_t(faces_) * 3);
        for (DWORD& a : adjacency)
            if (a >= faces_) a = UNUSED32;
    }
    else if (cache || pAdjacencyOut)
    {
        std::vector<Float3> positions;
        hr = ReadPositions(&positions);
        if (FAILED(hr)) return hr;
        adjacency = AdjacencyFromIndices(indices, PointReps(positions, 0.0f));
    }

    if (!sort && !compact)
    {
        // Nothing to reorder: the mesh stays, the outputs describe the identity.
        for (DWORD f = 0; f < faces_; ++f)
        {
            if (pFaceRemap) pFaceRemap[f] = f;
            if (pAdjacencyOut)
                std::memcpy(pAdjacencyOut + size_t(f) * 3, adjacency.data() + size_t(f) * 3,
                            3 * sizeof(DWORD));
        }
        if (ppVertexRemap)
        {
            std::vector<DWORD> identity(vertices_);
            for (DWORD v = 0; v < vertices_; ++v)
                identity[v] = v;
            return CreateBufferFrom(identity.data(), identity.size() * sizeof(DWORD), ppVertexRemap);
        }
        return S_OK;
    }

    AttributeSortPlan plan;
    const bool allocated = Allocated(
        [&]
        {
            // Compacting alone keeps the face order: every face is treated as one group.
            std::vector<DWORD> groups = sort ? attributes_ : std::vector<DWORD>(faces_, 0);
            plan =
                PlanAttributeSort(indices, groups, vertices_, adjacency.empty() ? nullptr : adjacency.data(),
                                  sort && cache, compact, Index32() ? 0xFFFFFFFFu : kMaxVertices16);
        });
    if (!allocated) return E_OUTOFMEMORY;

    const DWORD newCount = static_cast<DWORD>(plan.vertexRemap.size());
    std::vector<uint8_t> newVertices(size_t(newCount) * layout_.stride);
    for (DWORD v = 0; v < newCount; ++v)
        std::memcpy(newVertices.data() + size_t(v) * layout_.stride,
                    vertices.data() + size_t(plan.vertexRemap[v]) * layout_.stride, layout_.stride);

    LPD3DXBUFFER remapBuffer = nullptr;
    if (ppVertexRemap)
    {
        hr = CreateBufferFrom(plan.vertexRemap.data(), plan.vertexRemap.size() * sizeof(DWORD), &remapBuffer);
        if (FAILED(hr)) return hr;
    }
    const DWORD oldCount = vertices_;
    hr = ResizeVertices(newCount);
    if (SUCCEEDED(hr)) hr = WriteVertices(newVertices);
    if (SUCCEEDED(hr)) hr = WriteIndices(plan.indices);
    if (FAILED(hr))
    {
        if (remapBuffer) remapBuffer->Release();
        if (vertices_ != oldCount && SUCCEEDED(ResizeVertices(oldCount))) WriteVertices(vertices);
        WriteIndices(indices);
        return hr;
    }

    if (sort)
    {
        attributes_ = plan.attributes;
        table_ = plan.table;
    }
    else
    {
        for (D3DXATTRIBUTERANGE& r : table_)
        {
            r.VertexStart = 0;
            r.VertexCount = newCount;
        }
    }
    if (pAdjacencyOut)
    {
        std::vector<DWORD> oldToNew(faces_);
        for (DWORD f = 0; f < faces_; ++f)
            oldToNew[plan.faceRemap[f]] = f;
        for (DWORD f = 0; f < faces_; ++f)
            for (int k = 0; k < 3; ++k)
            {
                DWORD a = adjacency[size_t(plan.faceRemap[f]) * 3 + k];
                pAdjacencyOut[size_t(f) * 3 + k] = a == UNUSED32 ? UNUSED32 : oldToNew[a];
            }
    }
    if (pFaceRemap) std::memcpy(pFaceRemap, plan.faceRemap.data(), plan.faceRemap.size() * sizeof(DWORD));
    if (ppVertexRemap) *ppVertexRemap = remapBuffer;
    return S_OK;
}

HRESULT Mesh::Optimize(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                       LPD3DXBUFFER* ppVertexRemap, ID3DXMesh** ppOptMesh)
{
    if (!ppOptMesh) return Refuse("Mesh.Optimize.NullPointer");
    *ppOptMesh = nullptr;
    ID3DXMesh* clone = nullptr;
    HRESULT hr = CloneMeshFVF(options_, fvf_, device_, &clone);
    if (FAILED(hr)) return hr;
    hr = clone->OptimizeInplace(Flags, pAdjacencyIn, pAdjacencyOut, pFaceRemap, ppVertexRemap);
    if (FAILED(hr))
    {
        clone->Release();
        return hr;
    }
    *ppOptMesh = clone;
    return S_OK;
}
} // namespace ferolt::d3dx9

HRESULT D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                          IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppMesh)
{
    if (!ppMesh) return Refuse("D3DXCreateMeshFVF.NullPointer");
    ferolt::d3dx9::Mesh* mesh = nullptr;
    HRESULT hr = ferolt::d3dx9::Mesh::Create(NumFaces, NumVertices, Options, FVF, pD3DDevice, &mesh);
    *ppMesh = mesh;
    return hr;
}
