#pragma once
// The mesh object behind ID3DXMesh.
#include <vector>

#include "platform/d3dx9/mesh_internal.h"
#include "platform/win32/com_object.h"

namespace ferolt::d3dx9
{
class Mesh final : public ComObject<ID3DXMesh, IID_ID3DXBaseMesh, IID_ID3DXMesh>
{
public:
    static HRESULT Create(DWORD faces, DWORD vertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          Mesh** out);

    HRESULT DrawSubset(DWORD AttribId) override;
    DWORD GetNumFaces() override { return faces_; }
    DWORD GetNumVertices() override { return vertices_; }
    DWORD GetFVF() override { return fvf_; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) override;
    DWORD GetNumBytesPerVertex() override { return layout_.stride; }
    DWORD GetOptions() override { return options_; }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT CloneMeshFVF(DWORD Options, DWORD FVF, IDirect3DDevice9* pD3DDevice,
                         ID3DXMesh** ppCloneMesh) override;
    HRESULT CloneMesh(DWORD Options, const D3DVERTEXELEMENT9* pDeclaration, IDirect3DDevice9* pD3DDevice,
                      ID3DXMesh** ppCloneMesh) override;
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** ppVB) override;
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** ppIB) override;
    HRESULT LockVertexBuffer(DWORD Flags, void** ppData) override;
    HRESULT UnlockVertexBuffer() override;
    HRESULT LockIndexBuffer(DWORD Flags, void** ppData) override;
    HRESULT UnlockIndexBuffer() override;
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize) override;
    HRESULT ConvertPointRepsToAdjacency(const DWORD* pPRep, DWORD* pAdjacency) override;
    HRESULT ConvertAdjacencyToPointReps(const DWORD* pAdjacency, DWORD* pPRep) override;
    HRESULT GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) override;
    HRESULT UpdateSemantics(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) override;

    HRESULT LockAttributeBuffer(DWORD Flags, DWORD** ppData) override;
    HRESULT UnlockAttributeBuffer() override;
    HRESULT Optimize(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                     LPD3DXBUFFER* ppVertexRemap, ID3DXMesh** ppOptMesh) override;
    HRESULT OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                            LPD3DXBUFFER* ppVertexRemap) override;
    HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* pAttribTable, DWORD cAttribTableSize) override;

    // Whole-buffer copies; every index is checked against the vertex count.
    HRESULT ReadVertices(std::vector<uint8_t>* out);
    HRESULT WriteVertices(const std::vector<uint8_t>& data);
    HRESULT ReadIndices(std::vector<uint32_t>* out);
    HRESULT WriteIndices(const std::vector<uint32_t>& data);
    HRESULT ReadPositions(std::vector<Float3>* out);
    const FvfLayout& Layout() const { return layout_; }
    std::vector<DWORD>& Attributes() { return attributes_; }
    std::vector<D3DXATTRIBUTERANGE>& Table() { return table_; }
    IDirect3DDevice9* Device() const { return device_; }
    bool Index32() const { return (options_ & D3DXMESH_32BIT) != 0; }
    // Replaces the vertex buffer by one of another size (vertex splitting).
    HRESULT ResizeVertices(DWORD count);

private:
    Mesh() = default;
    ~Mesh() override;
    // Copies this mesh's vertices (in clone's layout), indices, attributes and table into clone.
    HRESULT FillClone(Mesh* clone, const std::vector<uint8_t>& src,
                      const std::vector<uint32_t>& indices) const;

    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexBuffer9* vb_ = nullptr;
    IDirect3DIndexBuffer9* ib_ = nullptr;
    DWORD fvf_ = 0;
    FvfLayout layout_;
    DWORD faces_ = 0;
    DWORD vertices_ = 0;
    DWORD options_ = 0;
    std::vector<DWORD> attributes_;
    std::vector<D3DXATTRIBUTERANGE> table_;
    int attributeLocks_ = 0;
};

// The mesh object behind an interface made by this layer, or null.
Mesh* AsMesh(ID3DXBaseMesh* mesh);
} // namespace ferolt::d3dx9
