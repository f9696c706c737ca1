#pragma once
// A mesh part: one piece of a model's geometry on one device, a D3DX mesh with 16-bit indices, its
// attribute table, the model's line vertices (part 0) and the vertex buffers of the geometry variants.
#include <memory>
#include <vector>

#include "engine/scene/model.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
struct PartDrawContextStruct_TYP;

// The vertex buffer that picking has locked, and the pointer of that lock.
struct VertexBufferLockStruct_TYP
{
    IDirect3DVertexBuffer9* buffer;
    void* data;
};

class LKXMesh_
{
public:
    // A part that holds only line vertices.
    LKXMesh_(Model_* owner, IDirect3DDevice9* device);
    // Takes over the caller's reference of the mesh.
    LKXMesh_(Model_* owner, ID3DXMesh* mesh, DWORD firstSubsetIndex);
    LKXMesh_(const LKXMesh_&) = delete;
    LKXMesh_& operator=(const LKXMesh_&) = delete;
    virtual ~LKXMesh_();

    // Sets the subsets' attribute ids, makes adjacency when none is given, cleans, computes normals
    // when asked, sorts by attribute and wraps the mesh. *out is null when the part cannot be made; the
    // mesh reference is then dropped.
    static void Create(Model_* owner, ID3DXMesh* mesh, ID3DXBuffer** adjacency, bool computeNormals,
                       const SubsetStruct_TYP* subsets, DWORD subsetCount, DWORD firstSubsetIndex,
                       LKXMesh_** out, bool optimizeForVertexCache);

    // A vertex buffer of the base vertices (or line vertices) moved by every plane of the key; null when
    // there is nothing to move or no buffer could be made.
    IDirect3DVertexBuffer9* MakeVariantVertexBuffer(bool lines,
                                                    const std::vector<StretchPlaneStruct_TYP>* key);
    // Exchanges the contents of the current and base vertex buffers around the caller's lock, so that the
    // mesh (which reads its base buffer) sees the current object's vertices.
    void SwapVertexBuffers(VertexBufferLockStruct_TYP* lock);
    // The attribute-table entry of a model subset, or null when the part has none for it.
    const D3DXATTRIBUTERANGE* FindSubsetRange(DWORD subsetIndex) const;

    // Drawing (engine/render/model_draw.cpp): one subset for the object and each instance, the
    // subset's lines from part 0's line buffer, and its hidden edges from the bound edge buffer.
    void DrawSubset(PartDrawContextStruct_TYP* context, DWORD subsetIndex, std::vector<Object_*>* instances,
                    const D3DXMATRIX* mirror, bool writeStencil, bool testStencil, DWORD stencilReference);
    void DrawLines(PartDrawContextStruct_TYP* context, DWORD subsetIndex, DWORD lineCount,
                   std::vector<Object_*>* instances, const D3DXMATRIX* mirror);
    void DrawHiddenEdges(DWORD subsetIndex);

    void AddRef() { ++refCount; }
    // Deletes the part at the last reference.
    void Release();

    DWORD refCount = 1;
    Model_* owner;
    ID3DXMesh* mesh = nullptr;
    DWORD attributeRangeCount = 0;
    std::unique_ptr<D3DXATTRIBUTERANGE[]> attributeTable;
    IDirect3DVertexBuffer9* baseVertexBuffer = nullptr;
    IDirect3DVertexBuffer9* currentVertexBuffer = nullptr; // not counted
    std::vector<IDirect3DVertexBuffer9*> variantVertexBuffers;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    IDirect3DVertexBuffer9* baseLineVertexBuffer = nullptr;
    IDirect3DVertexBuffer9* currentLineVertexBuffer = nullptr; // not counted
    std::vector<IDirect3DVertexBuffer9*> variantLineVertexBuffers;
    IDirect3DDevice9* device = nullptr;
    DWORD vertexStride = kModelVertexStride;
    // The part's faces carry the model's subset index as attribute id, counted from this subset.
    DWORD firstSubsetIndex = 0;
};
} // namespace LMK
