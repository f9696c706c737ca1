// Edges of the edge display modes: per subset, the lists of edges where faces turn different ways (or
// border other subsets, or nothing), built in object space for one object draw from the camera's eye,
// and the drawing of the hidden-line lists through the stencil.
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/core/material.h"
#include "engine/core/view.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr DWORD kNoNeighbour = 0xFFFFFFFF;
constexpr DWORD kOpenEdgesVisibleFlag = 0x4;
constexpr float kOpenEdgeFacing = -1e-07f;
constexpr float kTurnProduct = 0.0001f;
constexpr DWORD kHiddenStencilReference = 2;

// One mesh part's buffers, locked read-only for a build.
struct LockedPart_
{
    LKXMesh_* part = nullptr;
    const BYTE* vertices = nullptr;
    const WORD* indices = nullptr;
    const DWORD* attributes = nullptr;
    const DWORD* adjacency = nullptr;
    DWORD vertexCount = 0;
    DWORD faceCount = 0;

    bool Usable() const { return vertices && indices && attributes && adjacency; }
};

class EdgeBuild_
{
public:
    EdgeBuild_(Model_* model, View_* camera) : model_(model), camera_(camera) {}
    ~EdgeBuild_() { UnlockAll(); }

    // False when the model has nothing to build from; with stopOnFailedLock a part that cannot be
    // locked ends the build, otherwise it only leaves its subsets without lists.
    bool LockParts(bool stopOnFailedLock);
    // Facing values of the subset's faces seen from the eye, and the range they lie in; false when the
    // part has no range for the subset.
    bool Facings(DWORD s, const LockedPart_& part, const D3DXATTRIBUTERANGE** range,
                 std::vector<float>* facing);
    // Whether edge j of local face i counts, and its neighbour's local index (kNoNeighbour when none).
    bool Qualifies(const LockedPart_& part, const D3DXATTRIBUTERANGE& range, const std::vector<float>& facing,
                   DWORD i, int j, bool openEdges, bool withNeighbours, DWORD* neighbour) const;
    const WORD* FaceIndices(const LockedPart_& part, const D3DXATTRIBUTERANGE& range, DWORD i) const
    {
        return part.indices + 3 * size_t{range.FaceStart + i};
    }
    bool OpenEdgesVisible(DWORD s) const;
    const LockedPart_* PartOf(DWORD s) const
    {
        const DWORD p = model_->subsets[s].part;
        return p < parts_.size() ? &parts_[p] : nullptr;
    }

private:
    void UnlockAll();
    void EyeInObjectSpace(DWORD s, D3DXVECTOR3* eye, D3DXVECTOR3* lookAt) const;

    Model_* model_;
    View_* camera_;
    std::vector<LockedPart_> parts_;
    std::vector<std::vector<BYTE>>
        lockedFlags_; // which of vertex, index and attribute buffer each part locked
    D3DXVECTOR3 eye_{}, lookAt_{};
};

bool EdgeBuild_::LockParts(bool stopOnFailedLock)
{
    LKXMesh_** parts = model_->PrimaryParts();
    if (!parts || model_->partCount == 0 || !model_->adjacency || !camera_) return false;
    camera_->GetLookAt(&eye_, &lookAt_, nullptr);
    parts_.resize(model_->partCount);
    lockedFlags_.assign(model_->partCount, std::vector<BYTE>(3, 0));
    for (DWORD p = 0; p < model_->partCount; ++p)
    {
        LKXMesh_* part = parts[p];
        if (!part || !part->mesh) continue;
        LockedPart_& locked = parts_[p];
        locked.part = part;
        ID3DXMesh* mesh = part->mesh;
        bool ok = part->currentVertexBuffer && part->indexBuffer;
        void* data = nullptr;
        if (ok && SUCCEEDED(part->currentVertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)) && data)
        {
            lockedFlags_[p][0] = 1;
            D3DVERTEXBUFFER_DESC desc{};
            part->currentVertexBuffer->GetDesc(&desc);
            locked.vertices = static_cast<const BYTE*>(data);
            locked.vertexCount = model_->vertexStride ? desc.Size / model_->vertexStride : 0;
        }
        else
            ok = false;
        data = nullptr;
        if (ok && SUCCEEDED(part->indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)) && data)
        {
            lockedFlags_[p][1] = 1;
            D3DINDEXBUFFER_DESC desc{};
            part->indexBuffer->GetDesc(&desc);
            locked.indices = static_cast<const WORD*>(data);
            // Faces beyond what the index buffer holds are never read.
            locked.faceCount = std::min<DWORD>(mesh->GetNumFaces(), desc.Size / (3 * sizeof(WORD)));
        }
        else
            ok = false;
        DWORD* attributes = nullptr;
        if (ok && SUCCEEDED(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attributes)) && attributes)
        {
            lockedFlags_[p][2] = 1;
            locked.attributes = attributes;
        }
        else
            ok = false;
        ID3DXBuffer* adjacency = model_->adjacency[p];
        if (ok && adjacency && adjacency->GetBufferSize() / (3 * sizeof(DWORD)) >= locked.faceCount)
            locked.adjacency = static_cast<const DWORD*>(adjacency->GetBufferPointer());
        else
            ok = false;
        if (!ok && stopOnFailedLock) return false;
    }
    return true;
}

void EdgeBuild_::UnlockAll()
{
    for (size_t p = 0; p < parts_.size(); ++p)
    {
        LKXMesh_* part = parts_[p].part;
        if (!part) continue;
        if (lockedFlags_[p][0]) part->currentVertexBuffer->Unlock();
        if (lockedFlags_[p][1]) part->indexBuffer->Unlock();
        if (lockedFlags_[p][2]) part->mesh->UnlockAttributeBuffer();
    }
    parts_.clear();
}

// Through the inverse of the matrix that places the subset: the object's world, after the subset's
// animated node when it has one.
void EdgeBuild_::EyeInObjectSpace(DWORD s, D3DXVECTOR3* eye, D3DXVECTOR3* lookAt) const
{
    const Object_* object = model_->currentObject;
    const SubsetStruct_TYP& subset = model_->subsets[s];
    D3DXMATRIX inverse;
    D3DXMatrixIdentity(&inverse);
    if (object && object->inverseWorld) inverse = *object->inverseWorld;
    D3DXMATRIX node;
    if (object && object->world && subset.animationNode && model_->animation &&
        GetAnimationNodeMatrix(subset.animationNode, object->animationClip, object->animationTime, &node))
    {
        D3DXMATRIX placed;
        D3DXMatrixMultiply(&placed, &node, object->world);
        if (!D3DXMatrixInverse(&inverse, nullptr, &placed)) D3DXMatrixIdentity(&inverse);
    }
    D3DXVec3TransformCoord(eye, &eye_, &inverse);
    D3DXVec3TransformCoord(lookAt, &lookAt_, &inverse);
}

bool EdgeBuild_::OpenEdgesVisible(DWORD s) const
{
    const Object_* object = model_->currentObject;
    Material_* m = object && object->overrides ? object->overrides[s] : nullptr;
    if (!m) m = model_->subsets[s].material;
    return m && (m->flags & kOpenEdgesVisibleFlag);
}

bool EdgeBuild_::Facings(DWORD s, const LockedPart_& part, const D3DXATTRIBUTERANGE** range,
                         std::vector<float>* facing)
{
    const D3DXATTRIBUTERANGE* found = part.part->FindSubsetRange(s);
    if (!found || uint64_t(found->FaceStart) + found->FaceCount > part.faceCount) return false;
    *range = found;
    D3DXVECTOR3 eye, lookAt;
    EyeInObjectSpace(s, &eye, &lookAt);
    D3DXVECTOR3 orthographic = eye - lookAt;
    D3DXVec3Normalize(&orthographic, &orthographic);
    const bool isOrthographic = camera_->params.orthographic != 0;
    facing->assign(found->FaceCount, 0.0f);
    for (DWORD i = 0; i < found->FaceCount; ++i)
    {
        if (part.attributes[found->FaceStart + i] != found->AttribId) continue;
        const WORD* f = FaceIndices(part, *found, i);
        if (f[0] >= part.vertexCount || f[1] >= part.vertexCount || f[2] >= part.vertexCount) continue;
        auto position = [&](WORD v)
        { return *reinterpret_cast<const D3DXVECTOR3*>(part.vertices + size_t{v} * model_->vertexStride); };
        const D3DXVECTOR3 p0 = position(f[0]), p1 = position(f[1]), p2 = position(f[2]);
        const D3DXVECTOR3 a = p1 - p0, b = p2 - p0;
        D3DXVECTOR3 n, d;
        D3DXVec3Cross(&n, &a, &b);
        D3DXVec3Normalize(&n, &n);
        if (isOrthographic)
            d = orthographic;
        else
        {
            d = eye - p0;
            D3DXVec3Normalize(&d, &d);
        }
        (*facing)[i] = D3DXVec3Dot(&n, &d);
    }
    return true;
}

bool EdgeBuild_::Qualifies(const LockedPart_& part, const D3DXATTRIBUTERANGE& range,
                           const std::vector<float>& facing, DWORD i, int j, bool openEdges,
                           bool withNeighbours, DWORD* neighbour) const
{
    const DWORD g = part.adjacency[3 * size_t{range.FaceStart + i} + j];
    *neighbour = kNoNeighbour;
    if (g == kNoNeighbour) return openEdges || facing[i] > kOpenEdgeFacing;
    if (!withNeighbours) return false;
    *neighbour = g - range.FaceStart; // wraps to a large value below the range
    if (*neighbour >= range.FaceCount) return true;
    return facing[i] * facing[*neighbour] < kTurnProduct;
}

// The line strip of a hidden-line face, starting with its counted edges (mask bit k: edge k).
void HiddenStrip(const WORD* f, int mask, WORD* out)
{
    int first = 0;
    if (mask == 2 || mask == 6) first = 1;
    if (mask == 4 || mask == 5) first = 2;
    for (int k = 0; k < 4; ++k)
        out[k] = f[(first + k) % 3];
}

SubsetEdgeListsStruct_TYP* EdgeListsOf(Model_* model, DWORD subset)
{
    if (model->edgeLists.size() < model->subsetCount) model->edgeLists.resize(model->subsetCount);
    return &model->edgeLists[subset];
}

void DropSilhouetteEdges(Model_* model, DWORD subset)
{
    SubsetStruct_TYP& s = model->subsets[subset];
    s.silhouetteEdges = nullptr;
    s.silhouetteEdgeCount = 0;
    if (subset < model->edgeLists.size()) model->edgeLists[subset].silhouette = {};
}

void DropHiddenEdges(Model_* model, DWORD subset)
{
    SubsetStruct_TYP& s = model->subsets[subset];
    s.hiddenEdges = nullptr;
    s.hiddenEdgeFaceFlags = nullptr;
    s.hiddenEdgeCount = 0;
    if (subset >= model->edgeLists.size()) return;
    model->edgeLists[subset].hiddenQuads = {};
    model->edgeLists[subset].hiddenFaceFlags = {};
}
} // namespace

void Model_::FreeSilhouetteEdges()
{
    for (DWORD s = 0; s < subsetCount; ++s)
        DropSilhouetteEdges(this, s);
}

void Model_::FreeHiddenEdges()
{
    for (DWORD s = 0; s < subsetCount; ++s)
        DropHiddenEdges(this, s);
}

bool Model_::BuildSilhouetteEdges(View_* camera, BYTE, BYTE withNeighbours)
{
    EdgeBuild_ build(this, camera);
    if (!build.LockParts(true)) return false;
    std::vector<float> facing;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        SubsetStruct_TYP& subset = subsets[s];
        DropSilhouetteEdges(this, s);
        const LockedPart_* part = build.PartOf(s);
        // A subset without faces has nothing to outline and no range to find.
        if (!part || !part->part || subset.faceCount == 0) continue;
        const D3DXATTRIBUTERANGE* range = nullptr;
        if (!part->Usable() || !build.Facings(s, *part, &range, &facing))
        {
            // A list left from an incomplete build would be drawn as the object's only edges.
            FreeSilhouetteEdges();
            return false;
        }
        const bool open = build.OpenEdgesVisible(s);
        std::vector<WORD> pairs;
        for (DWORD i = 0; i < range->FaceCount; ++i)
        {
            const WORD* f = build.FaceIndices(*part, *range, i);
            for (int j = 0; j < 3; ++j)
            {
                DWORD g = kNoNeighbour;
                if (!build.Qualifies(*part, *range, facing, i, j, open, withNeighbours != 0, &g)) continue;
                if (g != kNoNeighbour && g < i) continue; // taken from the neighbour already
                pairs.push_back(f[j]);
                pairs.push_back(f[(j + 1) % 3]);
            }
        }
        if (pairs.empty()) continue;
        subset.silhouetteEdgeCount = static_cast<DWORD>(pairs.size() / 2);
        SubsetEdgeListsStruct_TYP* lists = EdgeListsOf(this, s);
        lists->silhouette = std::move(pairs);
        subset.silhouetteEdges = lists->silhouette.data();
    }
    return true;
}

bool Model_::BuildHiddenEdges(View_* camera, BYTE, BYTE withNeighbours)
{
    EdgeBuild_ build(this, camera);
    if (!build.LockParts(false)) return false;
    std::vector<float> facing;
    for (DWORD s = 0; s < subsetCount; ++s)
    {
        SubsetStruct_TYP& subset = subsets[s];
        DropHiddenEdges(this, s);
        const LockedPart_* part = build.PartOf(s);
        // Parts that could not be locked give their subsets no lists; faceless subsets need none.
        if (!part || !part->part || !part->Usable() || subset.faceCount == 0) continue;
        const D3DXATTRIBUTERANGE* range = nullptr;
        if (!build.Facings(s, *part, &range, &facing))
        {
            FreeHiddenEdges();
            return false;
        }
        const bool open = build.OpenEdgesVisible(s);
        std::vector<WORD> quads;
        std::vector<BYTE> counts;
        for (DWORD i = 0; i < range->FaceCount; ++i)
        {
            int mask = 0;
            BYTE count = 0;
            for (int j = 0; j < 3; ++j)
            {
                DWORD g = kNoNeighbour;
                if (build.Qualifies(*part, *range, facing, i, j, open, withNeighbours != 0, &g))
                {
                    mask |= 1 << j;
                    ++count;
                }
            }
            if (!mask) continue;
            WORD strip[4];
            HiddenStrip(build.FaceIndices(*part, *range, i), mask, strip);
            quads.insert(quads.end(), strip, strip + 4);
            counts.push_back(count);
        }
        if (counts.empty()) continue;
        subset.hiddenEdgeCount = static_cast<DWORD>(counts.size());
        SubsetEdgeListsStruct_TYP* lists = EdgeListsOf(this, s);
        lists->hiddenQuads = std::move(quads);
        lists->hiddenFaceFlags = std::move(counts);
        subset.hiddenEdges = lists->hiddenQuads.data();
        subset.hiddenEdgeFaceFlags = lists->hiddenFaceFlags.data();
    }
    return true;
}

// Each recorded face: its outline, then the face itself only where the outline marked the stencil
// (so the outline's pixels take the face's depth), then the outline again, which clears its mark.
void LKXMesh_::DrawHiddenEdges(DWORD subsetIndex)
{
    if (!device || !owner || subsetIndex >= owner->subsetCount) return;
    const SubsetStruct_TYP& s = owner->subsets[subsetIndex];
    const auto* quads = static_cast<const WORD*>(s.hiddenEdges);
    const auto* counts = static_cast<const BYTE*>(s.hiddenEdgeFaceFlags);
    if (!quads || !counts) return;
    IDirect3DDevice9* d = device;
    auto replaceAlways = [d]
    {
        d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
        d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
        d->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_REPLACE);
        d->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_REPLACE);
    };
    d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    replaceAlways();
    for (DWORD k = 0; k < s.hiddenEdgeCount; ++k)
    {
        const WORD* q = quads + 4 * size_t{k};
        const WORD lo = std::min({q[0], q[1], q[2]});
        const WORD hi = std::max({q[0], q[1], q[2]});
        const UINT span = UINT{hi} - lo + 1;
        const DWORD c = counts[k];
        d->SetRenderState(D3DRS_STENCILREF, kHiddenStencilReference);
        if (c) d->DrawIndexedPrimitive(D3DPT_LINESTRIP, 0, lo, span, 4 * k, c);
        d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        d->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
        d->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, lo, span, 4 * k, 1);
        if (c)
        {
            d->SetRenderState(D3DRS_STENCILREF, 0);
            replaceAlways();
            d->DrawIndexedPrimitive(D3DPT_LINESTRIP, 0, lo, span, 4 * k, c);
        }
    }
    d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
}
} // namespace LMK
