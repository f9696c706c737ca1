#include "engine/scene/progressive_mesh.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
// Wedge flags of a split record's code.
constexpr uint32_t kNewThirdWedge = 0x001;
constexpr uint32_t kNewVertexWedge = 0x002;
constexpr uint32_t kOldVertexWedge = 0x004;
constexpr uint32_t kThirdFromNeighbour = 0x008;
constexpr uint32_t kNewFifthWedge = 0x010;
constexpr uint32_t kOldSecondWedge = 0x020;
constexpr uint32_t kSecondFaceWedges = 0x040;
constexpr uint32_t kNewSecondVertexWedge = 0x080;
constexpr uint32_t kFifthFromPrevious = 0x100;
constexpr uint16_t kFirstTakesAnchorAttribute = 0x800;
constexpr uint16_t kSecondTakesNeighbourAttribute = 0x1000;

// 16-bit indices reach this many wedges.
constexpr uint32_t kMostWedges = 0x10000;
constexpr DWORD kMeshOptions = D3DXMESH_MANAGED;
constexpr size_t kGroupFloats = 5;

struct AttributesStruct_TYP
{
    float values[kGroupFloats]; // normal x, y, z, u, v
};

AttributesStruct_TYP Attributes(const ProgressiveWedgeStruct_TYP& w)
{
    return {{w.normal[0], w.normal[1], w.normal[2], w.u, w.v}};
}

void SetAttributes(ProgressiveWedgeStruct_TYP* w, const AttributesStruct_TYP& a)
{
    std::copy(a.values, a.values + 3, w->normal);
    w->u = a.values[3];
    w->v = a.values[4];
}

AttributesStruct_TYP Add(const AttributesStruct_TYP& a, const AttributesStruct_TYP& b, float sign)
{
    AttributesStruct_TYP r;
    for (size_t k = 0; k < kGroupFloats; ++k)
        r.values[k] = a.values[k] + sign * b.values[k];
    return r;
}

uint32_t Before(uint32_t corner)
{
    return (corner + 2) % 3;
}

uint32_t After(uint32_t corner)
{
    return (corner + 1) % 3;
}

// The working state of one split; Fail() clears ok and every later step returns at once.
class Split_
{
public:
    Split_(ProgressiveMesh_& mesh, const VertexSplitStruct_TYP& record, bool* ok)
        : m_(mesh), r_(record), ok_(ok), flags_((record.code >> 2) & 0x1FF)
    {
    }

    void Run();

private:
    using Cursor = ProgressiveMesh_::Cursor_;
    bool Has(uint32_t flag) const { return (flags_ & flag) != 0; }
    bool HasBoth(uint32_t a, uint32_t b) const { return Has(a) && Has(b); }
    void Fail() { *ok_ = false; }
    uint32_t& WedgeAt(const Cursor& c) { return m_.faces[c.face].wedges[c.corner]; }
    uint32_t PositionOf(uint32_t wedge) const { return m_.wedges[wedge].position; }
    // A wedge past those in use, cleared; kNoNeighbourFace when the capacity is reached.
    uint32_t TakeWedge();
    bool NextGroup(AttributesStruct_TYP* out);
    uint32_t TakeWedgeFromStream();
    bool StepNext(Cursor* c) { return m_.NextFaceAroundVertex(c, ok_, &pOld_, &pNew_); }
    bool StepPrevious(Cursor* c) { return m_.PreviousFaceAroundVertex(c, ok_, &pOld_, &pNew_); }
    // Moves the vertex's corners of a fan over to the new vertex: the wedge w0 is exchanged for w1 (and w3
    // for w4); any other wedge there takes the new position.
    void MoveCorner(const Cursor& c, uint32_t w0, uint32_t w1, uint32_t w3, uint32_t w4);
    void TwoFaces();
    void OneFace();

    ProgressiveMesh_& m_;
    const VertexSplitStruct_TYP& r_;
    bool* ok_;
    uint32_t flags_;
    uint32_t group_ = 0;
    uint32_t anchor_ = 0, corner_ = 0, third_ = 0;
    uint32_t w0_ = 0, pOld_ = 0, p2_ = 0, pNew_ = 0, wF_ = 0, wB_ = 0, wP_ = 0;
    uint32_t W0_ = 0, W1_ = kNoNeighbourFace, W2_ = 0;
    bool boundary_ = false, two_ = false;
    Cursor cursor1_{}, cursor2_{}, prev_{};
    AttributesStruct_TYP d1_{};
};

uint32_t Split_::TakeWedge()
{
    if (m_.wedgeCount >= m_.wedgeCapacity)
    {
        Fail();
        return kNoNeighbourFace;
    }
    const uint32_t w = m_.wedgeCount++;
    m_.wedges[w] = ProgressiveWedgeStruct_TYP{};
    return w;
}

bool Split_::NextGroup(AttributesStruct_TYP* out)
{
    if (group_ >= r_.wedgeGroupCount || !r_.wedgeData)
    {
        Fail();
        return false;
    }
    std::memcpy(out->values, r_.wedgeData + size_t{group_} * kGroupFloats, sizeof out->values);
    ++group_;
    return true;
}

uint32_t Split_::TakeWedgeFromStream()
{
    AttributesStruct_TYP a;
    if (!NextGroup(&a)) return kNoNeighbourFace;
    const uint32_t w = TakeWedge();
    if (*ok_) SetAttributes(&m_.wedges[w], a);
    return w;
}

void Split_::MoveCorner(const Cursor& c, uint32_t w0, uint32_t w1, uint32_t w3, uint32_t w4)
{
    uint32_t& w = WedgeAt(c);
    if (w == w0)
        w = w1;
    else if (w == w3)
        w = w4;
    else
        m_.wedges[w].position = pNew_;
}

void Split_::Run()
{
    anchor_ = r_.anchorFace;
    corner_ = r_.code & 3;
    boundary_ = r_.walkCount < 0;
    two_ = r_.walkCount > 0;
    // Every array is checked before anything changes: the face and position arrays as well as the wedges.
    if (anchor_ >= m_.faceCount || corner_ == 3 || m_.positionCount >= m_.positions.size() ||
        m_.faceCount + (two_ ? 2u : 1u) > m_.faces.size())
        return Fail();
    third_ = boundary_ ? Before(corner_) : After(corner_);

    w0_ = m_.faces[anchor_].wedges[corner_];
    pOld_ = PositionOf(w0_);
    p2_ = PositionOf(m_.faces[anchor_].wedges[third_]);
    pNew_ = m_.positionCount;

    cursor2_ = {anchor_, corner_};
    wF_ = w0_;
    if (!boundary_)
    {
        if (m_.PreviousFaceAroundVertex(&cursor2_, ok_, nullptr, nullptr)) wF_ = WedgeAt(cursor2_);
        if (!*ok_) return;
    }

    prev_ = cursor1_ = {anchor_, corner_};
    wB_ = wF_;
    wP_ = w0_;
    if (two_)
    {
        for (int16_t s = 0; s < r_.walkCount; ++s)
        {
            prev_ = cursor1_;
            if (!StepNext(&cursor1_)) return Fail();
        }
        wB_ = WedgeAt(cursor1_);
        wP_ = WedgeAt(prev_);
    }

    if (HasBoth(kOldVertexWedge, kSecondFaceWedges) || HasBoth(kOldVertexWedge, kOldSecondWedge))
        W0_ = TakeWedgeFromStream();
    else
    {
        W0_ = w0_;
        if (Has(kOldVertexWedge) && !two_) return Fail();
    }
    if (!*ok_ || !NextGroup(&d1_)) return;

    if (HasBoth(kNewVertexWedge, kSecondFaceWedges) || HasBoth(kNewVertexWedge, kNewSecondVertexWedge))
        W1_ = TakeWedge();
    else if (!Has(kNewVertexWedge))
        W1_ = (!boundary_ && (wF_ == w0_ || wF_ == wP_)) ? TakeWedge() : wF_;
    else if (!two_)
        return Fail();
    if (!*ok_) return;

    if (HasBoth(kNewThirdWedge, kThirdFromNeighbour))
        W2_ = TakeWedgeFromStream();
    else if (Has(kThirdFromNeighbour) && !boundary_)
        W2_ = m_.faces[cursor2_.face].wedges[Before(cursor2_.corner)];
    else
        W2_ = m_.faces[anchor_].wedges[third_];
    if (!*ok_) return;

    if (two_)
        TwoFaces();
    else
        OneFace();
    if (!*ok_) return;

    const D3DXVECTOR3 delta(r_.positionDelta[0], r_.positionDelta[1], r_.positionDelta[2]);
    m_.positions[pNew_] = m_.positions[pOld_] + delta;
    m_.positions[pOld_] -= delta;
    ++m_.positionCount;
    ++m_.appliedSplits;
}

void Split_::TwoFaces()
{
    const uint32_t f1 = m_.faceCount, f2 = m_.faceCount + 1;
    m_.faceCount += 2;
    const uint32_t b = cursor1_.face, cB = cursor1_.corner;
    uint32_t W5 = m_.faces[b].wedges[After(cB)];
    const uint32_t p5 = PositionOf(W5);

    uint32_t W3 = W0_;
    if (HasBoth(kSecondFaceWedges, kOldSecondWedge))
        W3 = TakeWedgeFromStream();
    else if (!Has(kSecondFaceWedges))
    {
        if (Has(kOldVertexWedge) && !Has(kOldSecondWedge)) W0_ = W3 = WedgeAt(prev_);
    }
    else
        W3 = WedgeAt(prev_);
    if (!*ok_) return;

    AttributesStruct_TYP d2 = d1_;
    if (Has(kSecondFaceWedges) && !NextGroup(&d2)) return;

    // A new wedge unless the neighbour's corner already has attributes of its own.
    auto ownOrNew = [&] { return (wB_ == wP_ || wB_ == w0_) ? TakeWedge() : wB_; };
    uint32_t W4 = W1_;
    if (HasBoth(kSecondFaceWedges, kNewSecondVertexWedge))
        W4 = TakeWedge();
    else if (!Has(kSecondFaceWedges))
    {
        if (!Has(kNewSecondVertexWedge) && Has(kNewVertexWedge)) W1_ = W4 = ownOrNew();
    }
    else
        W4 = ownOrNew();
    if (!*ok_) return;

    if (HasBoth(kNewFifthWedge, kFifthFromPrevious))
        W5 = TakeWedgeFromStream();
    else if (Has(kFifthFromPrevious))
        W5 = m_.faces[prev_.face].wedges[Before(prev_.corner)];
    if (!*ok_ || W1_ == kNoNeighbourFace) return Fail();

    std::vector<ProgressiveWedgeStruct_TYP>& w = m_.wedges;
    SetAttributes(&w[W1_], Add(Attributes(w[W0_]), d1_, 1.0f));
    SetAttributes(&w[W0_], Add(Attributes(w[W0_]), d1_, -1.0f));
    if (W3 != W0_)
    {
        if (W4 == W1_) return Fail();
        SetAttributes(&w[W4], Add(Attributes(w[W3]), d2, 1.0f));
        SetAttributes(&w[W3], Add(Attributes(w[W3]), d2, -1.0f));
    }
    w[W3].position = w[W0_].position = pOld_;
    w[W4].position = w[W1_].position = pNew_;
    w[W2_].position = p2_;
    w[W5].position = p5;

    const uint32_t anchorAttribute = m_.faces[anchor_].attribute;
    const uint32_t neighbourAttribute = m_.faces[b].attribute;
    m_.faces[f2] = {{W0_, W1_, W2_},
                    {f1, cursor2_.face, anchor_},
                    (r_.code & kFirstTakesAnchorAttribute) ? anchorAttribute : r_.firstAttribute};
    m_.faces[f1] = {{W4, W3, W5},
                    {f2, prev_.face, b},
                    (r_.code & kSecondTakesNeighbourAttribute) ? neighbourAttribute : r_.secondAttribute};
    m_.faces[anchor_].neighbours[corner_] = f2;
    m_.faces[b].neighbours[cB] = f1;
    m_.faces[cursor2_.face].neighbours[Before(cursor2_.corner)] = f2;
    m_.faces[prev_.face].neighbours[Before(prev_.corner)] = f1;

    // The fan from B round to the second new face moves to the new vertex. A walk that does not come
    // back to it within as many steps as there are faces never will.
    Cursor c{b, cB};
    for (uint32_t steps = 0; c.face != f2; ++steps)
    {
        MoveCorner(c, W0_, W1_, W3, W4);
        if (steps > m_.faceCount || !StepNext(&c)) return Fail();
    }
}

void Split_::OneFace()
{
    const uint32_t f = m_.faceCount++;
    std::vector<ProgressiveWedgeStruct_TYP>& w = m_.wedges;
    SetAttributes(&w[W1_], Add(Attributes(w[W0_]), d1_, 1.0f));
    SetAttributes(&w[W0_], Add(Attributes(w[W0_]), d1_, -1.0f));
    w[W0_].position = pOld_;
    w[W1_].position = pNew_;
    w[W2_].position = p2_;
    const uint32_t attribute =
        (r_.code & kFirstTakesAnchorAttribute) ? m_.faces[anchor_].attribute : r_.firstAttribute;
    ProgressiveFaceStruct_TYP& anchor = m_.faces[anchor_];
    const uint32_t steps = m_.faceCount;

    if (!boundary_)
    {
        m_.faces[f] = {{W0_, W1_, W2_}, {kNoNeighbourFace, anchor.neighbours[corner_], anchor_}, attribute};
        Cursor c2{anchor_, corner_};
        if (StepPrevious(&c2)) m_.faces[c2.face].neighbours[Before(c2.corner)] = f;
        if (!*ok_) return;
        m_.faces[anchor_].neighbours[corner_] = f;
        Cursor c{f, 1};
        for (uint32_t s = 0; StepPrevious(&c); ++s)
        {
            if (s > steps) return Fail();
            MoveCorner(c, W0_, W1_, kNoNeighbourFace, kNoNeighbourFace);
        }
        return;
    }

    m_.faces[f] = {{W0_, W1_, W2_}, {kNoNeighbourFace, anchor_, kNoNeighbourFace}, attribute};
    anchor.neighbours[Before(corner_)] = f;
    // Round a closed fan the walk would never stop: the vertex was not on a boundary.
    Cursor c{anchor_, corner_};
    for (uint32_t s = 0;; ++s)
    {
        MoveCorner(c, W0_, W1_, kNoNeighbourFace, kNoNeighbourFace);
        if (!StepPrevious(&c)) break;
        if (s > steps) return Fail();
    }
}
} // namespace

HRESULT ProgressiveMesh_::Create(Model_* owner, const ProgressiveMeshSourceStruct_TYP& s,
                                 ProgressiveMesh_** out)
{
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const size_t baseWedges = s.wedges.size(), baseFaces = s.faces.size(), basePositions = s.positions.size();
    if (s.wedgeCapacity > kMostWedges || s.wedgeCapacity < baseWedges || s.faceCapacity < baseFaces ||
        s.positionCapacity < basePositions)
        return E_INVALIDARG;
    for (const ProgressiveWedgeStruct_TYP& w : s.wedges)
        if (w.position >= basePositions) return E_INVALIDARG;
    for (const ProgressiveFaceStruct_TYP& f : s.faces)
        for (int k = 0; k < 3; ++k)
            if (f.wedges[k] >= baseWedges ||
                (f.neighbours[k] != kNoNeighbourFace && f.neighbours[k] >= baseFaces))
                return E_INVALIDARG;
    for (const VertexSplitStruct_TYP& r : s.splits)
        if (r.wedgeGroupCount && !r.wedgeData) return E_INVALIDARG;

    CountedPtr<ProgressiveMesh_> mesh(new (std::nothrow) ProgressiveMesh_(owner));
    if (!mesh) return E_OUTOFMEMORY;
    const bool allocated = ferolt::Allocated(
        [&]
        {
            // No split adds more than two faces and one position: capacity past that would never be used.
            const size_t splits = s.splits.size();
            mesh->wedges.resize(s.wedgeCapacity);
            mesh->faces.resize(std::min<size_t>(s.faceCapacity, baseFaces + 2 * splits));
            mesh->positions.resize(std::min<size_t>(s.positionCapacity, basePositions + splits));
            mesh->splits = s.splits;
            mesh->baseWedges = s.wedges;
            mesh->baseFaces = s.faces;
            mesh->basePositions = s.positions;
        });
    if (!allocated) return E_OUTOFMEMORY;
    mesh->wedgeCapacity = s.wedgeCapacity;
    mesh->baseWedgeCount = static_cast<uint32_t>(baseWedges);
    mesh->baseFaceCount = static_cast<uint32_t>(baseFaces);
    mesh->basePositionCount = static_cast<uint32_t>(basePositions);
    mesh->splitCount = static_cast<uint32_t>(s.splits.size());
    mesh->usableSplits_ = mesh->splitCount;
    mesh->RestoreBase();
    mesh->RebuildMesh();
    *out = mesh.release();
    return S_OK;
}

HRESULT ProgressiveMesh_::CreateForDevice(IDirect3DDevice9*, ProgressiveMesh_**)
{
    return E_FAIL;
}

ProgressiveMesh_::~ProgressiveMesh_()
{
    if (currentMesh) currentMesh->Release();
}

void ProgressiveMesh_::Release()
{
    if (--refCount == 0) delete this;
}

void ProgressiveMesh_::RestoreBase()
{
    std::copy(baseWedges.begin(), baseWedges.end(), wedges.begin());
    std::copy(baseFaces.begin(), baseFaces.end(), faces.begin());
    std::copy(basePositions.begin(), basePositions.end(), positions.begin());
    wedgeCount = baseWedgeCount;
    faceCount = baseFaceCount;
    positionCount = basePositionCount;
    appliedSplits = 0;
}

bool ProgressiveMesh_::StepAroundVertex(Cursor_* cursor, bool next, bool* ok, const uint32_t* key,
                                        const uint32_t* secondKey)
{
    const uint32_t from = cursor->face;
    const uint32_t fromCorner = cursor->corner;
    const uint32_t to = faces[from].neighbours[next ? Before(fromCorner) : fromCorner];
    if (to == kNoNeighbourFace) return false;
    if (to >= faceCount)
    {
        *ok = false;
        return false;
    }
    cursor->face = to;
    const ProgressiveFaceStruct_TYP& face = faces[to];
    auto find = [&](uint32_t position)
    {
        for (uint32_t k = 0; k < 3; ++k)
        {
            const uint32_t corner = next ? k : After(k);
            if (face.neighbours[k] == from && wedges[face.wedges[corner]].position == position)
            {
                cursor->corner = corner;
                return true;
            }
        }
        return false;
    };
    if (find(key ? *key : wedges[faces[from].wedges[fromCorner]].position)) return true;
    if (key && secondKey && find(*secondKey)) return true;
    *ok = false;
    return false;
}

bool ProgressiveMesh_::NextFaceAroundVertex(Cursor_* cursor, bool* ok, const uint32_t* key,
                                            const uint32_t* secondKey)
{
    return StepAroundVertex(cursor, true, ok, key, secondKey);
}

bool ProgressiveMesh_::PreviousFaceAroundVertex(Cursor_* cursor, bool* ok, const uint32_t* key,
                                                const uint32_t* secondKey)
{
    return StepAroundVertex(cursor, false, ok, key, secondKey);
}

void ProgressiveMesh_::ApplyVertexSplit(bool* ok)
{
    if (appliedSplits >= splitCount) return;
    Split_ split(*this, splits[appliedSplits], ok);
    split.Run();
}

void ProgressiveMesh_::SetFaceCount(DWORD level)
{
    if (level == lastLevel || splitCount == 0) return;
    if (appliedSplits > 0 && positionCount > level) RestoreBase();
    while (appliedSplits < usableSplits_ && positionCount < level)
    {
        bool ok = true;
        ApplyVertexSplit(&ok);
        if (ok) continue;
        // What the failed record changed is undone by making the state again from the base mesh; the
        // sequence now ends before that record. The last level stays, so that asking for this level
        // again builds the mesh of what could be applied.
        usableSplits_ = appliedSplits;
        RestoreBase();
        ok = true;
        while (appliedSplits < usableSplits_)
        {
            ApplyVertexSplit(&ok);
            if (!ok) break;
        }
        return;
    }
    lastLevel = level;
    RebuildMesh();
}

void ProgressiveMesh_::RebuildMesh()
{
    if (currentMesh) currentMesh->Release();
    currentMesh = nullptr;
    AllGlobals_* root = CurrentGlobals;
    Device_* primary = root ? root->devices.primaryDevice : nullptr;
    if (!primary || !primary->device || faceCount == 0 || wedgeCount == 0) return;

    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(faceCount, wedgeCount, kMeshOptions, kModelVertexFormat, primary->device,
                                 &mesh)) ||
        !mesh)
        return;
    void* vertexData = nullptr;
    if (FAILED(mesh->LockVertexBuffer(0, &vertexData)))
    {
        mesh->Release();
        return;
    }
    auto* vertex = static_cast<float*>(vertexData);
    for (uint32_t i = 0; i < wedgeCount; ++i, vertex += kModelVertexStride / sizeof(float))
    {
        const ProgressiveWedgeStruct_TYP& w = wedges[i];
        const D3DXVECTOR3& p = positions[w.position];
        const float values[] = {p.x, p.y, p.z, w.normal[0], w.normal[1], w.normal[2], w.u, w.v, 0.0f, 0.0f};
        std::memcpy(vertex, values, sizeof values);
    }
    mesh->UnlockVertexBuffer();

    void* indexData = nullptr;
    DWORD* attributes = nullptr;
    ID3DXBuffer* adjacency = nullptr;
    const bool locked = SUCCEEDED(mesh->LockIndexBuffer(0, &indexData));
    if (locked)
    {
        auto* index = static_cast<uint16_t*>(indexData);
        for (uint32_t f = 0; f < faceCount; ++f)
            for (int k = 0; k < 3; ++k)
                *index++ = static_cast<uint16_t>(faces[f].wedges[k]);
        mesh->UnlockIndexBuffer();
    }
    if (!locked || FAILED(mesh->LockAttributeBuffer(0, &attributes)))
    {
        mesh->Release();
        return;
    }
    for (uint32_t f = 0; f < faceCount; ++f)
        attributes[f] = faces[f].attribute;
    mesh->UnlockAttributeBuffer();
    if (FAILED(D3DXCreateBuffer(faceCount * 3 * sizeof(DWORD), &adjacency)) || !adjacency)
    {
        mesh->Release();
        return;
    }
    auto* words = static_cast<DWORD*>(adjacency->GetBufferPointer());
    for (uint32_t f = 0; f < faceCount; ++f)
        for (int k = 0; k < 3; ++k)
            *words++ = faces[f].neighbours[k];
    LKXMesh_::Create(owner, mesh, &adjacency, false, nullptr, 0, 0, &currentMesh, true);
    if (adjacency) adjacency->Release();
}

void ProgressiveMesh_::DrawSubset(PartDrawContextStruct_TYP* context, DWORD subsetIndex,
                                  std::vector<Object_*>* instances, const D3DXMATRIX* mirror,
                                  bool writeStencil, bool testStencil, DWORD stencilReference)
{
    if (currentMesh)
        currentMesh->DrawSubset(context, subsetIndex, instances, mirror, writeStencil, testStencil,
                                stencilReference);
}
} // namespace LMK
