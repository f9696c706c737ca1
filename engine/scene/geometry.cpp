// Geometry building: raw vertex, index and subset arrays become a model's mesh parts, each within
// 16-bit indices; and resmoothing, which splits vertices between groups of faces that meet at more than
// a crease angle so that the normals computed afterwards keep those edges hard.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/material.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/model_draw_data.h"

namespace LMK
{
namespace
{
constexpr DWORD kUnassigned = 0xFFFFFFFF;
constexpr float kDefaultCrease = 0.5235988f; // pi / 6
constexpr float kLargestCrease = 2.0943952f; // 2 pi / 3

IDirect3DDevice9* PrimaryD3DDevice()
{
    if (!CurrentGlobals || !CurrentGlobals->devices.primaryDevice) return nullptr;
    return CurrentGlobals->devices.primaryDevice->device;
}

// The up direction made perpendicular to a segment; a vertical segment gets (1, 1, 0).
D3DXVECTOR3 SegmentNormal(const RawVertexStruct_TYP& a, const RawVertexStruct_TYP& b)
{
    const D3DXVECTOR3 d(b.position[0] - a.position[0], b.position[1] - a.position[1],
                        b.position[2] - a.position[2]);
    if (d.x == 0.0f && d.y == 0.0f) return D3DXVECTOR3(1.0f, 1.0f, 0.0f);
    const D3DXVECTOR3 up(0.0f, 0.0f, 1.0f);
    D3DXVECTOR3 c, n;
    D3DXVec3Cross(&c, &d, &up);
    D3DXVec3Cross(&n, &c, &d);
    D3DXVec3Normalize(&n, &n);
    return n;
}

ModelVertexStruct_TYP LineVertex(const RawVertexStruct_TYP& in, const D3DXVECTOR3& normal)
{
    ModelVertexStruct_TYP out{};
    std::copy(in.position, in.position + 3, out.position);
    out.normal[0] = normal.x;
    out.normal[1] = normal.y;
    out.normal[2] = normal.z;
    out.tex0[0] = out.tex1[0] = in.u;
    out.tex0[1] = out.tex1[1] = in.v;
    return out;
}

// Lowest and highest vertex index of a run of faces.
void FaceRange(const DWORD* indices, DWORD firstFace, DWORD faceCount, DWORD* lowest, DWORD* highest)
{
    *lowest = kUnassigned;
    *highest = 0;
    for (DWORD f = firstFace; f < firstFace + faceCount; ++f)
        for (int c = 0; c < 3; ++c)
        {
            *lowest = std::min(*lowest, indices[3 * f + c]);
            *highest = std::max(*highest, indices[3 * f + c]);
        }
}

// Loaders hand over what their files say: every index and face range must fit the arrays.
bool IsValidBuildInput(const ModelBuildInputStruct_TYP& in)
{
    if ((in.faceCount && (!in.vertices || !in.indices)) || (in.subsetCount && !in.subsets)) return false;
    for (size_t i = 0; i < size_t(in.faceCount) * 3; ++i)
        if (in.indices[i] >= in.vertexCount) return false;
    for (DWORD s = 0; s < in.subsetCount; ++s)
        if (uint64_t(in.subsets[s].firstFace) + in.subsets[s].faceCount > in.faceCount) return false;
    return true;
}
} // namespace

struct Model_::PartRecord_
{
    DWORD lowestVertex = kUnassigned;
    DWORD highestVertex = 0;
    DWORD firstSubset = kUnassigned;
    DWORD lastSubset = 0;
    DWORD firstFace = kUnassigned;
    DWORD lastFace = 0;
    const RawVertexStruct_TYP* vertices = nullptr;
    DWORD vertexCount = 0;
    const DWORD* indices = nullptr;
    DWORD baseVertex = 0;
    DWORD faceCount = 0;
    DWORD subsetCount = 0;
};

void Model_::RemapPartVertices(DWORD spanLimit, DWORD* vertexCount, DWORD faceCount,
                               const RawVertexStruct_TYP* vertices, const DWORD* indices,
                               std::vector<RawVertexStruct_TYP>* newVertices, std::vector<DWORD>* newIndices)
{
    std::vector<DWORD> map(*vertexCount, kUnassigned);
    std::vector<DWORD> list;
    newIndices->assign(size_t(faceCount) * 3, 0);
    const int64_t limit = spanLimit;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        const DWORD s0 = static_cast<DWORD>(list.size());
        const SubsetStruct_TYP& subset = subsets[s];
        for (DWORD f = subset.firstFace; f < subset.firstFace + subset.faceCount; ++f)
        {
            DWORD corner[3];
            const DWORD* old = indices + size_t(f) * 3;
            for (int c = 0; c < 3; ++c)
            {
                const DWORD v = old[c];
                if (map[v] == kUnassigned || map[v] < s0)
                {
                    map[v] = static_cast<DWORD>(list.size());
                    list.push_back(v);
                }
                corner[c] = map[v];
            }
            static const int kPairs[3][2] = {{1, 0}, {2, 0}, {2, 1}};
            for (int round = 0; round < 2; ++round)
                for (const auto& pair : kPairs)
                {
                    const int a = pair[0];
                    const int b = pair[1];
                    const int64_t d = int64_t(corner[a]) - int64_t(corner[b]);
                    const int moved = d >= limit ? b : (-d >= limit ? a : -1);
                    if (moved < 0) continue;
                    corner[moved] = static_cast<DWORD>(list.size());
                    map[old[moved]] = corner[moved];
                    list.push_back(old[moved]);
                }
            std::copy(corner, corner + 3, newIndices->begin() + std::ptrdiff_t(f) * 3);
        }
    }
    newVertices->resize(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        (*newVertices)[i] = vertices[list[i]];
    *vertexCount = static_cast<DWORD>(list.size());
}

bool Model_::SplitLargeSubsets(const DWORD* indices, DWORD spanLimit, DWORD faceLimit)
{
    bool needed = false;
    for (DWORD s = 0; s < subsetCount && !needed; ++s)
    {
        DWORD lo, hi;
        FaceRange(indices, subsets[s].firstFace, subsets[s].faceCount, &lo, &hi);
        needed = subsets[s].faceCount > faceLimit || (subsets[s].faceCount && hi - lo + 1 > spanLimit);
    }
    if (!needed) return true;

    std::vector<SubsetStruct_TYP> pieces;
    auto dropAdded = [&pieces](size_t from)
    {
        for (size_t i = from; i < pieces.size(); ++i)
            if (pieces[i].material) pieces[i].material->Release();
    };
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        const SubsetStruct_TYP& subset = subsets[s];
        if (subset.faceCount == 0) continue;
        pieces.push_back(subset);
        if (subset.material) subset.material->AddRef();
        DWORD lo = kUnassigned, hi = 0, inPiece = 0;
        const DWORD end = subset.firstFace + subset.faceCount;
        for (DWORD f = subset.firstFace; f < end; ++f)
        {
            DWORD flo, fhi;
            FaceRange(indices, f, 1, &flo, &fhi);
            if (fhi - flo + 1 > spanLimit)
            {
                dropAdded(0);
                return false;
            }
            const DWORD nlo = std::min(lo, flo), nhi = std::max(hi, fhi);
            if (nhi - nlo + 1 > spanLimit || inPiece >= faceLimit)
            {
                SubsetStruct_TYP& closing = pieces.back();
                closing.faceCount = f - closing.firstFace;
                SubsetStruct_TYP next = subset;
                next.firstFace = f;
                next.faceCount = end - f;
                // The lines stay with the first piece, or they would be drawn once per piece.
                next.lineSegmentCount = 0;
                if (next.material) next.material->AddRef();
                pieces.push_back(next);
                lo = flo;
                hi = fhi;
                inPiece = 1;
                continue;
            }
            lo = nlo;
            hi = nhi;
            ++inPiece;
        }
    }
    std::unique_ptr<SubsetStruct_TYP[]> replaced = CopyArray(pieces.data(), pieces.size());
    if (!replaced)
    {
        dropAdded(0);
        return false;
    }
    ReleaseSubsets();
    subsets = std::move(replaced);
    subsetCount = static_cast<DWORD>(pieces.size());
    return true;
}

bool Model_::PartitionMesh(DWORD* vertexCount, DWORD faceCount, const RawVertexStruct_TYP** vertices,
                           const DWORD** indices, std::vector<RawVertexStruct_TYP>* ownedVertices,
                           std::vector<DWORD>* ownedIndices, DWORD spanLimit, DWORD faceLimit,
                           std::vector<PartRecord_>* parts)
{
    RemapPartVertices(spanLimit, vertexCount, faceCount, *vertices, *indices, ownedVertices, ownedIndices);
    *vertices = ownedVertices->data();
    *indices = ownedIndices->data();
    if (!SplitLargeSubsets(*indices, spanLimit, faceLimit)) return false;

    std::vector<DWORD> lowest(subsetCount, kUnassigned), highest(subsetCount, 0);
    for (DWORD s = 0; s < subsetCount; ++s)
        if (subsets[s].faceCount)
            FaceRange(*indices, subsets[s].firstFace, subsets[s].faceCount, &lowest[s], &highest[s]);

    DWORD partTotal = 1;
    DWORD faces = 0, lo = kUnassigned, hi = 0;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        faces += subsets[s].faceCount;
        if (subsets[s].faceCount)
        {
            lo = std::min(lo, lowest[s]);
            hi = std::max(hi, highest[s]);
        }
        const bool rangeTooWide = lo != kUnassigned && hi - lo + 1 > kMaxPartVertexSpan;
        if (faces > kMaxPartFaces || rangeTooWide)
        {
            ++partTotal;
            faces = subsets[s].faceCount;
            lo = lowest[s];
            hi = highest[s];
        }
        subsets[s].part = partTotal - 1;
    }

    parts->assign(partTotal, PartRecord_{});
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        if (!subsets[s].faceCount) continue;
        PartRecord_& part = (*parts)[subsets[s].part];
        part.lowestVertex = std::min(part.lowestVertex, lowest[s]);
        part.highestVertex = std::max(part.highestVertex, highest[s]);
        part.firstSubset = std::min(part.firstSubset, s);
        part.lastSubset = std::max(part.lastSubset, s);
        part.firstFace = std::min(part.firstFace, subsets[s].firstFace);
        part.lastFace = std::max(part.lastFace, subsets[s].firstFace + subsets[s].faceCount - 1);
    }
    DWORD modelFace = 0;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        const PartRecord_& part = (*parts)[subsets[s].part];
        if (part.firstFace != kUnassigned && subsets[s].firstFace >= part.firstFace)
            subsets[s].firstFace -= part.firstFace;
        else
            subsets[s].firstFace = 0; // a subset without faces in a part: no range to keep
        subsets[s].modelFirstFace = modelFace;
        modelFace += subsets[s].faceCount;
    }
    for (PartRecord_& part : *parts)
    {
        if (part.firstFace == kUnassigned) continue; // nothing landed in it
        part.vertices = *vertices + part.lowestVertex;
        part.vertexCount = part.highestVertex - part.lowestVertex + 1;
        part.baseVertex = part.lowestVertex;
        part.indices = *indices + size_t(part.firstFace) * 3;
        part.faceCount = part.lastFace - part.firstFace + 1;
        part.subsetCount = part.lastSubset - part.firstSubset + 1;
    }
    return true;
}

bool Model_::CopySubsets(const ModelBuildInputStruct_TYP& in)
{
    if (!in.subsetCount) return true;
    subsets = CopyArray(in.subsets, in.subsetCount);
    if (!subsets) return false;
    subsetCount = in.subsetCount;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        if (subsets[s].material) subsets[s].material->AddRef();
        subsets[s].materialGroup = s;
    }
    return true;
}

// Lines: each subset keeps the segments that fit the given vertices, laid out one subset after the other
// from the start of the array.
bool Model_::CopyLines(const ModelBuildInputStruct_TYP& in, std::vector<ModelVertexStruct_TYP>* lineBuffer)
{
    if (!in.lineVertices || !in.lineVertexCount || !subsetCount) return true;
    const DWORD available = std::min(in.lineVertexCount, in.spanLimit);
    bool anySegments = false;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        SubsetStruct_TYP& subset = subsets[s];
        if (uint64_t(subset.firstLineVertex) + 2 * uint64_t(subset.lineSegmentCount) > available)
            subset.lineSegmentCount =
                subset.firstLineVertex <= available ? (available - subset.firstLineVertex) / 2 : 0;
        anySegments |= subset.lineSegmentCount != 0;
    }
    if (!anySegments) return true;
    lineStarts = NewArray<DWORD>(subsetCount);
    if (!lineStarts) return false;
    lineSubsetCount = subsetCount;
    DWORD total = 0;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        SubsetStruct_TYP& subset = subsets[s];
        // Never more segments than the array still holds.
        subset.lineSegmentCount = std::min(subset.lineSegmentCount, (available - total) / 2);
        subset.firstLineVertex = total;
        lineStarts[s] = total;
        total += 2 * subset.lineSegmentCount;
    }
    lineVertexCount = total;
    lineBuffer->reserve(total);
    for (DWORD v = 0; v + 1 < total; v += 2)
    {
        const D3DXVECTOR3 n = SegmentNormal(in.lineVertices[v], in.lineVertices[v + 1]);
        lineBuffer->push_back(LineVertex(in.lineVertices[v], n));
        lineBuffer->push_back(LineVertex(in.lineVertices[v + 1], n));
    }
    return true;
}

bool Model_::CopyLightPoints(const ModelBuildInputStruct_TYP& in)
{
    if (!in.lightPointCount || !in.lightPoints) return true;
    lightPoints = NewArray<LightPointStruct_TYP>(in.lightPointCount);
    if (!lightPoints) return false;
    lightPointCount = in.lightPointCount;
    for (DWORD i = 0; i < lightPointCount; ++i)
    {
        const RawLightPointStruct_TYP& point = in.lightPoints[i];
        std::copy(point.position, point.position + 3, lightPoints[i].position);
        std::copy(point.color, point.color + 3, lightPoints[i].color);
        lightPoints[i].color[3] = 1.0f;
    }
    return true;
}

// One part when everything fits 16-bit indices, else the mesh partitioned (which may renumber the
// vertices into the owned arrays and point the input at them).
bool Model_::PlanParts(ModelBuildInputStruct_TYP* in, std::vector<RawVertexStruct_TYP>* ownedVertices,
                       std::vector<DWORD>* ownedIndices, std::vector<PartRecord_>* parts)
{
    if (in->faceCount > kMaxPartFaces || in->vertexCount > kMaxPartVertexSpan)
        return PartitionMesh(&in->vertexCount, in->faceCount, &in->vertices, &in->indices, ownedVertices,
                             ownedIndices, in->spanLimit, in->faceLimit, parts);
    PartRecord_ part;
    part.vertices = in->vertices;
    part.vertexCount = in->vertexCount;
    part.indices = in->indices;
    part.faceCount = in->faceCount;
    part.firstSubset = 0;
    part.subsetCount = subsetCount;
    parts->push_back(part);
    DWORD modelFace = 0;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        subsets[s].part = 0;
        subsets[s].modelFirstFace = modelFace;
        modelFace += subsets[s].faceCount;
    }
    return true;
}

// The mesh of one part in the model vertex format, wrapped as the part; a part without faces stays empty.
bool Model_::CreatePart(const PartRecord_& part, const ModelBuildInputStruct_TYP& in,
                        IDirect3DDevice9* device, DWORD index, LKXMesh_** out)
{
    if (!part.faceCount || !part.vertexCount) return true;
    ID3DXMesh* made = nullptr;
    if (FAILED(D3DXCreateMeshFVF(part.faceCount, part.vertexCount, D3DXMESH_MANAGED, kModelVertexFormat,
                                 device, &made)) ||
        !made)
        return false;
    CountedPtr<ID3DXMesh> mesh(made);
    void* vertexData = nullptr;
    if (FAILED(mesh->LockVertexBuffer(0, &vertexData))) return false;
    auto* vertex = static_cast<ModelVertexStruct_TYP*>(vertexData);
    for (DWORD v = 0; v < part.vertexCount; ++v)
    {
        const RawVertexStruct_TYP& raw = part.vertices[v];
        std::copy(raw.position, raw.position + 3, vertex[v].position);
        for (int k = 0; k < 3; ++k)
            vertex[v].normal[k] = in.normalsGiven ? raw.normal[k] : 0.0f;
        vertex[v].tex0[0] = raw.u;
        vertex[v].tex0[1] = raw.v;
    }
    mesh->UnlockVertexBuffer();
    void* indexData = nullptr;
    if (FAILED(mesh->LockIndexBuffer(0, &indexData))) return false;
    auto* indices = static_cast<WORD*>(indexData);
    for (size_t i = 0; i < size_t(part.faceCount) * 3; ++i)
    {
        // Faces between a part's subsets that no subset claims may point anywhere; they become
        // degenerate here and are never drawn.
        const DWORD relative = part.indices[i] - part.baseVertex;
        indices[i] = relative < part.vertexCount ? static_cast<WORD>(relative) : 0;
    }
    mesh->UnlockIndexBuffer();
    LKXMesh_::Create(this, mesh.release(), &adjacency[index], !in.normalsGiven,
                     subsets ? subsets.get() + part.firstSubset : nullptr, part.subsetCount, part.firstSubset,
                     out, in.optimizeForVertexCache != 0);
    // Sorting moved faces that no subset claims behind the others; the records follow their entries.
    for (DWORD k = 0; *out && k < part.subsetCount; ++k)
        if (const D3DXATTRIBUTERANGE* range = (*out)->FindSubsetRange(part.firstSubset + k))
            subsets[part.firstSubset + k].firstFace = range->FaceStart;
    return true;
}

void Model_::Build(const ModelBuildInputStruct_TYP& input, HRESULT* result)
{
    ModelBuildInputStruct_TYP in = input;
    if (in.spanLimit == 0) in.spanLimit = kMaxPartVertexSpan;
    if (in.faceLimit == 0) in.faceLimit = kMaxPartFaces;
    ResetMembers();
    if (result) *result = E_FAIL;
    keepNormals = in.keepNormals;
    turned = in.turned;
    vertexStride = kModelVertexStride;
    vertexFormat = kModelVertexFormat;
    IDirect3DDevice9* device = PrimaryD3DDevice();
    if (!device || !IsValidBuildInput(in)) return DropGeometry();

    std::vector<ModelVertexStruct_TYP> lineBuffer;
    std::vector<PartRecord_> parts;
    std::vector<RawVertexStruct_TYP> ownedVertices;
    std::vector<DWORD> ownedIndices;
    if (!CopySubsets(in) || !CopyLines(in, &lineBuffer) || !CopyLightPoints(in) ||
        !PlanParts(&in, &ownedVertices, &ownedIndices, &parts))
        return DropGeometry();

    partCount = static_cast<DWORD>(parts.size());
    adjacency = NewArray<ID3DXBuffer*>(partCount);
    CountedArray_<LKXMesh_> meshes(partCount);
    if (!adjacency || !meshes) return DropGeometry();
    for (DWORD p = 0; p < partCount; ++p)
        if (!CreatePart(parts[p], in, device, p, &meshes[p])) return DropGeometry();

    SetAnimation(in.animation);
    primaryData = NewObject<DeviceSpecificModelData_>(device, this, meshes.get(), nullptr);
    if (!primaryData) return DropGeometry();
    meshes.release(); // the device copy owns the parts now
    if (!lineBuffer.empty()) CreateLineBuffer(lineVertexCount, lineBuffer.data());
    ComputeBoundingBox();
    if (result) *result = S_OK;
}
} // namespace LMK

namespace LMK
{
namespace
{
D3DXVECTOR3 FaceNormal(const std::vector<RawVertexStruct_TYP>& vertices, const DWORD* face)
{
    const D3DXVECTOR3 p0(vertices[face[0]].position);
    const D3DXVECTOR3 p1(vertices[face[1]].position);
    const D3DXVECTOR3 p2(vertices[face[2]].position);
    const D3DXVECTOR3 e1 = p1 - p0;
    const D3DXVECTOR3 e2 = p2 - p0;
    D3DXVECTOR3 n;
    D3DXVec3Cross(&n, &e1, &e2);
    D3DXVec3Normalize(&n, &n);
    return n;
}

bool HasCorner(const DWORD* face, DWORD v)
{
    return face[0] == v || face[1] == v || face[2] == v;
}

// The corner of a face that is neither a nor b.
DWORD OtherCorner(const DWORD* face, DWORD a, DWORD b)
{
    for (int c = 0; c < 3; ++c)
        if (face[c] != a && face[c] != b) return face[c];
    return face[0];
}

// Splits each vertex between the groups of faces around it that meet within the crease; a face joins a
// group across an edge it shares with the group's last face on that side.
void SplitAtCreases(std::vector<RawVertexStruct_TYP>* vertices, std::vector<DWORD>* indices, float threshold)
{
    const DWORD original = static_cast<DWORD>(vertices->size());
    const size_t faceCount = indices->size() / 3;
    std::vector<std::vector<DWORD>> facesOf(original);
    for (size_t f = 0; f < faceCount; ++f)
        for (int c = 0; c < 3; ++c)
            facesOf[(*indices)[3 * f + c]].push_back(static_cast<DWORD>(f));

    std::vector<DWORD> group;
    std::vector<D3DXVECTOR3> normal;
    for (DWORD v = 0; v < original; ++v)
    {
        const std::vector<DWORD>& list = facesOf[v];
        if (list.size() < 2) continue;
        const size_t n = list.size();
        group.resize(n);
        normal.resize(n);
        for (size_t j = 0; j < n; ++j)
        {
            group[j] = static_cast<DWORD>(j);
            normal[j] = FaceNormal(*vertices, indices->data() + size_t(list[j]) * 3);
        }
        for (size_t i = 0; i < n; ++i)
        {
            if (group[i] != i) continue;
            const DWORD* face = indices->data() + size_t(list[i]) * 3;
            DWORD left, right;
            if (face[0] == v)
                left = face[1], right = face[2];
            else if (face[1] == v)
                left = face[0], right = face[2];
            else
                left = face[0], right = face[1];
            D3DXVECTOR3 leftNormal = normal[i], rightNormal = normal[i];
            for (size_t j = i + 1; j < n; ++j)
            {
                if (group[j] != j) continue;
                const DWORD* other = indices->data() + size_t(list[j]) * 3;
                if (D3DXVec3Dot(&normal[j], &leftNormal) > threshold && HasCorner(other, left))
                {
                    group[j] = static_cast<DWORD>(i);
                    left = OtherCorner(other, v, left);
                    leftNormal = normal[j];
                }
                else if (D3DXVec3Dot(&normal[j], &rightNormal) > threshold && HasCorner(other, right))
                {
                    group[j] = static_cast<DWORD>(i);
                    right = OtherCorner(other, v, right);
                    rightNormal = normal[j];
                }
            }
        }
        // The first group keeps the vertex; every further group gets its own copy.
        std::vector<DWORD> vertexOfGroup(n, kUnassigned);
        vertexOfGroup[group[0]] = v;
        for (size_t j = 0; j < n; ++j)
        {
            DWORD& target = vertexOfGroup[group[j]];
            if (target == kUnassigned)
            {
                target = static_cast<DWORD>(vertices->size());
                vertices->push_back((*vertices)[v]);
            }
            DWORD* face = indices->data() + size_t(list[j]) * 3;
            for (int c = 0; c < 3; ++c)
                if (face[c] == v) face[c] = target;
        }
    }
}

// The split geometry built again: no lines and no light points (the caller carries those over), normals
// computed by the build, the vertex cache order wanted.
ModelBuildInputStruct_TYP ResmoothInput(const std::vector<RawVertexStruct_TYP>& vertices,
                                        const std::vector<DWORD>& indices,
                                        const std::vector<SubsetStruct_TYP>& subsets, Animation_* animation,
                                        BYTE turned)
{
    ModelBuildInputStruct_TYP input = MeshBuildInput(vertices, indices, subsets);
    input.animation = animation;
    input.turned = turned;
    input.optimizeForVertexCache = 1;
    return input;
}
} // namespace

bool Model_::Resmooth(float crease, Model_** out)
{
    keepNormals = 0;
    if (crease == 0.0f && !out) return true;
    auto* primary = static_cast<DeviceSpecificModelData_*>(primaryData.get());
    if (!primary || !primary->parts || !adjacency) return false;
    if (crease < 0.0f || crease > kLargestCrease) crease = kDefaultCrease;

    // The geometry of every part as one vertex and one index array.
    std::vector<RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;
    std::vector<DWORD> partFirstFace(partCount, 0);
    for (DWORD p = 0; p < partCount && p < primary->partCount; ++p)
    {
        partFirstFace[p] = static_cast<DWORD>(indices.size() / 3);
        LKXMesh_* part = primary->parts[p];
        if (!part || !part->mesh || !part->baseVertexBuffer || !part->indexBuffer) continue;
        const DWORD vertexCount = part->mesh->GetNumVertices();
        const DWORD faceCount = part->mesh->GetNumFaces();
        const DWORD offset = static_cast<DWORD>(vertices.size());
        void* vertexData = nullptr;
        void* indexData = nullptr;
        if (FAILED(part->baseVertexBuffer->Lock(0, 0, &vertexData, D3DLOCK_READONLY))) return false;
        const auto* in = static_cast<const ModelVertexStruct_TYP*>(vertexData);
        for (DWORD v = 0; v < vertexCount; ++v)
        {
            RawVertexStruct_TYP raw{};
            std::copy(in[v].position, in[v].position + 3, raw.position);
            raw.u = in[v].tex0[0];
            raw.v = in[v].tex0[1];
            vertices.push_back(raw);
        }
        part->baseVertexBuffer->Unlock();
        if (FAILED(part->indexBuffer->Lock(0, 0, &indexData, D3DLOCK_READONLY))) return false;
        const auto* index = static_cast<const WORD*>(indexData);
        for (size_t i = 0; i < size_t(faceCount) * 3; ++i)
            indices.push_back(std::min<DWORD>(index[i], vertexCount ? vertexCount - 1 : 0) + offset);
        part->indexBuffer->Unlock();
    }
    std::vector<SubsetStruct_TYP> subsetCopy(subsets.get(), subsets.get() + subsetCount);
    for (SubsetStruct_TYP& subset : subsetCopy)
        if (subset.part < partCount) subset.firstFace += partFirstFace[subset.part];

    std::vector<ModelVertexStruct_TYP> lineCopy;
    LKXMesh_* part0 = primary->partCount ? primary->parts[0] : nullptr;
    if (lineVertexCount && part0 && part0->baseLineVertexBuffer)
    {
        void* data = nullptr;
        if (SUCCEEDED(part0->baseLineVertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)))
        {
            const auto* lines = static_cast<const ModelVertexStruct_TYP*>(data);
            lineCopy.assign(lines, lines + lineVertexCount);
            part0->baseLineVertexBuffer->Unlock();
        }
    }

    SplitAtCreases(&vertices, &indices, std::cos(crease));

    if (out)
    {
        *out = nullptr;
        HRESULT result = E_FAIL;
        CountedPtr<Model_> made =
            BuildModel(ResmoothInput(vertices, indices, subsetCopy, animation, turned), &result);
        if (!made) return false;
        if (lightPointCount && lightPoints)
        {
            made->lightPoints = CopyArray(lightPoints.get(), lightPointCount);
            if (made->lightPoints) made->lightPointCount = lightPointCount;
        }
        SetModelNameList(made.get(), nameList);
        made->SetName(name);
        std::copy(std::begin(fileFlags), std::end(fileFlags), made->fileFlags);
        made->fileValue = fileValue;
        made->progressiveFraction = progressiveFraction;
        made->noClip = noClip;
        made->noPick = noPick;
        if (!lineCopy.empty())
        {
            made->lineVertexCount = lineVertexCount;
            made->lineSubsetCount = lineSubsetCount;
            if (lineStarts && lineSubsetCount)
                made->lineStarts = CopyArray(lineStarts.get(), lineSubsetCount);
            made->CreateLineBuffer(lineVertexCount, lineCopy.data());
        }
        *out = made.release();
        return true;
    }

    // Rebuilt in place: the subset copy takes over the material references.
    std::unique_ptr<LightPointStruct_TYP[]> keptLightPoints = std::move(lightPoints);
    const DWORD keptLightPointCount = lightPointCount;
    // Moving the byte stores keeps the names where they are.
    char* keptNameList = nameList;
    std::vector<char> keptNameListBytes = std::move(nameListBytes);
    const DWORD keptNameCount = nameCount;
    char* keptName = name;
    std::vector<char> keptNameBytes = std::move(nameBytes);
    std::unique_ptr<DWORD[]> keptLineStarts = std::move(lineStarts);
    const DWORD keptLineVertexCount = lineVertexCount;
    const DWORD keptLineSubsetCount = lineSubsetCount;
    BYTE keptFileFlags[4];
    std::copy(std::begin(fileFlags), std::end(fileFlags), keptFileFlags);
    const float keptFileValue = fileValue;
    const BYTE keptFileByte = fileByte;
    const float keptFraction = progressiveFraction;
    Animation_* keptAnimation = animation;
    const BYTE keptTurned = turned;

    subsets.reset();
    subsetCount = 0;
    ReleaseAdjacency();
    ReleaseAllData();

    HRESULT result = E_FAIL;
    Build(ResmoothInput(vertices, indices, subsetCopy, keptAnimation, keptTurned), &result);
    if (keptAnimation) ReleaseAnimation(keptAnimation);
    for (SubsetStruct_TYP& subset : subsetCopy)
        if (subset.material) subset.material->Release();
    if (FAILED(result)) return false;
    lightPoints = std::move(keptLightPoints);
    lightPointCount = keptLightPointCount;
    nameList = keptNameList;
    nameListBytes = std::move(keptNameListBytes);
    nameCount = keptNameCount;
    name = keptName;
    nameBytes = std::move(keptNameBytes);
    std::copy(std::begin(keptFileFlags), std::end(keptFileFlags), fileFlags);
    fileValue = keptFileValue;
    fileByte = keptFileByte;
    progressiveFraction = keptFraction;
    lineStarts = std::move(keptLineStarts);
    lineSubsetCount = keptLineSubsetCount;
    lineVertexCount = keptLineVertexCount;
    if (!lineCopy.empty()) CreateLineBuffer(lineVertexCount, lineCopy.data());
    ComputeBoundingBox();
    return true;
}
} // namespace LMK
