#pragma once
// A progressive mesh part: a coarse base mesh refined by a stored sequence of vertex splits, each adding
// one vertex and one or two faces. The model draw sets each part to a level before drawing it; after each
// change of level the part rebuilds an ordinary mesh and wraps it in an LKXMesh_.
#include <cstdint>
#include <vector>

#include "platform/d3dx9/d3dx9.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Model_;
class LKXMesh_;
class Object_;
struct PartDrawContextStruct_TYP;

// One vertex of the drawn mesh: a position and the attributes that one corner or group of corners uses.
struct ProgressiveWedgeStruct_TYP
{
    uint32_t position;
    float normal[3];
    float u, v;
};

constexpr uint32_t kNoNeighbourFace = 0xFFFFFFFF;

struct ProgressiveFaceStruct_TYP
{
    uint32_t wedges[3];
    uint32_t neighbours[3]; // across edge k, from corner k to corner k + 1; kNoNeighbourFace for none
    uint32_t attribute;     // the model subset
};

struct VertexSplitStruct_TYP
{
    uint16_t anchorFace;
    int16_t walkCount; // > 0 two new faces; 0 one new face; < 0 one new face on a boundary
    uint16_t code;     // corner (bits 0-1), nine wedge flags (bits 2-10), attribute sources (bits 11, 12)
    uint32_t firstAttribute;
    uint32_t secondAttribute;
    float positionDelta[3];
    const float* wedgeData;   // groups of five: normal x, y, z, u, v
    uint32_t wedgeGroupCount; // groups behind wedgeData: a record never reads past them
};

// What a progressive part is made from. The capacities size the working arrays; each must hold at least
// the base mesh.
struct ProgressiveMeshSourceStruct_TYP
{
    std::vector<ProgressiveWedgeStruct_TYP> wedges;
    std::vector<ProgressiveFaceStruct_TYP> faces;
    std::vector<D3DXVECTOR3> positions;
    std::vector<VertexSplitStruct_TYP> splits;
    uint32_t wedgeCapacity;
    uint32_t faceCapacity;
    uint32_t positionCapacity;
};

class ProgressiveMesh_
{
public:
    // A corner of a face.
    struct Cursor_
    {
        uint32_t face;
        uint32_t corner;
    };

    // E_INVALIDARG when the base mesh refers outside itself, a capacity is below the base mesh or the wedge
    // capacity passes what 16-bit indices reach; E_OUTOFMEMORY when the arrays cannot be made.
    static HRESULT Create(Model_* owner, const ProgressiveMeshSourceStruct_TYP& source,
                          ProgressiveMesh_** out);
    // Progressive parts are not copied to other devices: always E_FAIL, *out untouched.
    static HRESULT CreateForDevice(IDirect3DDevice9* device, ProgressiveMesh_** out);

    ProgressiveMesh_(const ProgressiveMesh_&) = delete;
    ProgressiveMesh_& operator=(const ProgressiveMesh_&) = delete;
    virtual ~ProgressiveMesh_();
    void AddRef() { ++refCount; }
    // Deletes the part at the last reference.
    void Release();

    // The wedge capacity: the level at which every split is applied.
    DWORD GetFaceCount() const { return wedgeCapacity; }
    // Applies splits while the position count is below the level (going down starts again from the
    // base mesh), then rebuilds the current mesh. A split that fails leaves the previous mesh.
    void SetFaceCount(DWORD level);
    void DrawSubset(PartDrawContextStruct_TYP* context, DWORD subsetIndex, std::vector<Object_*>* instances,
                    const D3DXMATRIX* mirror, bool writeStencil, bool testStencil, DWORD stencilReference);

    // One step round the cursor's vertex, across the edge that ends at (Next) or starts at (Previous) the
    // cursor's corner. False at a boundary (nothing changed), or, clearing *ok, when the neighbour has no
    // matching corner.
    bool NextFaceAroundVertex(Cursor_* cursor, bool* ok, const uint32_t* key, const uint32_t* secondKey);
    bool PreviousFaceAroundVertex(Cursor_* cursor, bool* ok, const uint32_t* key, const uint32_t* secondKey);
    // Applies the next split; clears *ok when it fails.
    void ApplyVertexSplit(bool* ok);

    DWORD refCount = 1;
    Model_* owner;
    uint32_t baseFaceCount = 0;
    uint32_t faceCount = 0;
    uint32_t baseWedgeCount = 0;
    uint32_t wedgeCapacity = 0;
    uint32_t wedgeCount = 0;
    uint32_t basePositionCount = 0;
    uint32_t positionCount = 0;
    uint32_t splitCount = 0;
    uint32_t appliedSplits = 0;
    std::vector<ProgressiveWedgeStruct_TYP> wedges;
    std::vector<ProgressiveFaceStruct_TYP> faces;
    std::vector<D3DXVECTOR3> positions;
    std::vector<VertexSplitStruct_TYP> splits;
    std::vector<ProgressiveWedgeStruct_TYP> baseWedges;
    std::vector<ProgressiveFaceStruct_TYP> baseFaces;
    std::vector<D3DXVECTOR3> basePositions;
    DWORD lastLevel = 0;
    LKXMesh_* currentMesh = nullptr;

private:
    explicit ProgressiveMesh_(Model_* model) : owner(model) {}
    bool StepAroundVertex(Cursor_* cursor, bool next, bool* ok, const uint32_t* key,
                          const uint32_t* secondKey);
    void RestoreBase();
    void RebuildMesh();
    // The record at which a split failed: the sequence ends before it. The arrays are then set back to
    // what the records before it made, so nothing half-applied stays.
    uint32_t usableSplits_ = 0;
};
} // namespace LMK
