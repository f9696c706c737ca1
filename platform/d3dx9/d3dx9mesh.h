#pragma once
// D3DX 9 meshes: ID3DXBuffer, ID3DXMesh over a device's vertex and index buffers, adjacency,
// attribute sorting, cleaning, normals, bounds and ray intersection.
//
// A mesh keeps its vertices and indices in the device's buffers (so the engine can bind them) and
// its attribute ids (one DWORD per face) in memory. Every algorithm reads the buffers through a lock,
// works on plain arrays and writes the result back, so a failure leaves the mesh as it was.
#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9math.h"

// ---- buffers ---------------------------------------------------------------------------------------------
// {8BA5FB08-5195-40e2-AC58-0D989C3A0102}
constexpr IID IID_ID3DXBuffer = {
    0x8ba5fb08, 0x5195, 0x40e2, {0xac, 0x58, 0x0d, 0x98, 0x9c, 0x3a, 0x01, 0x02}};

struct ID3DXBuffer : IUnknown
{
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};
using LPD3DXBUFFER = ID3DXBuffer*;

// A zero-filled buffer of NumBytes bytes.
HRESULT D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer);

// ---- result codes ----------------------------------------------------------------------------------------
#define MAKE_D3DXHRESULT(code) static_cast<HRESULT>(0x88760000u | (code))
constexpr HRESULT D3DXERR_CANNOTMODIFYINDEXBUFFER = MAKE_D3DXHRESULT(2900);
constexpr HRESULT D3DXERR_INVALIDMESH = MAKE_D3DXHRESULT(2901);
constexpr HRESULT D3DXERR_CANNOTATTRSORT = MAKE_D3DXHRESULT(2902);
constexpr HRESULT D3DXERR_SKINNINGNOTSUPPORTED = MAKE_D3DXHRESULT(2903);
constexpr HRESULT D3DXERR_TOOMANYINFLUENCES = MAKE_D3DXHRESULT(2904);
constexpr HRESULT D3DXERR_INVALIDDATA = MAKE_D3DXHRESULT(2905);
constexpr HRESULT D3DXERR_LOADEDMESHASNODATA = MAKE_D3DXHRESULT(2906);
constexpr HRESULT D3DXERR_DUPLICATENAMEDFRAGMENT = MAKE_D3DXHRESULT(2907);
constexpr HRESULT D3DXERR_CANNOTREMOVELASTITEM = MAKE_D3DXHRESULT(2908);

// ---- mesh options ----------------------------------------------------------------------------------------
enum _D3DXMESH : DWORD
{
    D3DXMESH_32BIT = 0x001,
    D3DXMESH_DONOTCLIP = 0x002,
    D3DXMESH_POINTS = 0x004,
    D3DXMESH_RTPATCHES = 0x008,
    D3DXMESH_NPATCHES = 0x4000,
    D3DXMESH_VB_SYSTEMMEM = 0x010,
    D3DXMESH_VB_MANAGED = 0x020,
    D3DXMESH_VB_WRITEONLY = 0x040,
    D3DXMESH_VB_DYNAMIC = 0x080,
    D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000,
    D3DXMESH_IB_SYSTEMMEM = 0x100,
    D3DXMESH_IB_MANAGED = 0x200,
    D3DXMESH_IB_WRITEONLY = 0x400,
    D3DXMESH_IB_DYNAMIC = 0x800,
    D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000,
    D3DXMESH_VB_SHARE = 0x1000,
    D3DXMESH_USEHWONLY = 0x2000,
    D3DXMESH_SYSTEMMEM = 0x110,
    D3DXMESH_MANAGED = 0x220,
    D3DXMESH_WRITEONLY = 0x440,
    D3DXMESH_DYNAMIC = 0x880,
    D3DXMESH_SOFTWAREPROCESSING = 0x18000,
};

enum _D3DXMESHOPT : DWORD
{
    D3DXMESHOPT_COMPACT = 0x01000000,
    D3DXMESHOPT_ATTRSORT = 0x02000000,
    D3DXMESHOPT_VERTEXCACHE = 0x04000000,
    D3DXMESHOPT_STRIPREORDER = 0x08000000,
    D3DXMESHOPT_IGNOREVERTS = 0x10000000,
    D3DXMESHOPT_DONOTSPLIT = 0x20000000,
    D3DXMESHOPT_DEVICEINDEPENDENT = 0x00400000,
};

enum D3DXCLEANTYPE : DWORD
{
    D3DXCLEAN_BACKFACING = 0x00000001,
    D3DXCLEAN_BOWTIES = 0x00000002,
    D3DXCLEAN_SKINNING = D3DXCLEAN_BACKFACING,
    D3DXCLEAN_OPTIMIZATION = D3DXCLEAN_BACKFACING,
    D3DXCLEAN_SIMPLIFICATION = D3DXCLEAN_BACKFACING | D3DXCLEAN_BOWTIES,
};

struct D3DXATTRIBUTERANGE
{
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
};
using LPD3DXATTRIBUTERANGE = D3DXATTRIBUTERANGE*;

struct D3DXINTERSECTINFO
{
    DWORD FaceIndex;
    FLOAT U;
    FLOAT V;
    FLOAT Dist;
};
using LPD3DXINTERSECTINFO = D3DXINTERSECTINFO*;

constexpr DWORD MAX_FVF_DECL_SIZE = MAXD3DDECLLENGTH + 1;
constexpr DWORD UNUSED32 = 0xFFFFFFFF;

// ---- meshes ----------------------------------------------------------------------------------------------
// {7ED943DD-52E8-40b5-A8D8-76685C406330}
constexpr IID IID_ID3DXBaseMesh = {
    0x7ed943dd, 0x52e8, 0x40b5, {0xa8, 0xd8, 0x76, 0x68, 0x5c, 0x40, 0x63, 0x30}};
// {4020E5C2-1403-4929-883F-E2E849FAC195}
constexpr IID IID_ID3DXMesh = {0x4020e5c2, 0x1403, 0x4929, {0x88, 0x3f, 0xe2, 0xe8, 0x49, 0xfa, 0xc1, 0x95}};

struct ID3DXMesh;

struct ID3DXBaseMesh : IUnknown
{
    virtual HRESULT DrawSubset(DWORD AttribId) = 0;
    virtual DWORD GetNumFaces() = 0;
    virtual DWORD GetNumVertices() = 0;
    virtual DWORD GetFVF() = 0;
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) = 0;
    virtual DWORD GetNumBytesPerVertex() = 0;
    virtual DWORD GetOptions() = 0;
    virtual HRESULT GetDevice(IDirect3DDevice9** ppDevice) = 0;
    virtual HRESULT CloneMeshFVF(DWORD Options, DWORD FVF, IDirect3DDevice9* pD3DDevice,
                                 ID3DXMesh** ppCloneMesh) = 0;
    virtual HRESULT CloneMesh(DWORD Options, const D3DVERTEXELEMENT9* pDeclaration,
                              IDirect3DDevice9* pD3DDevice, ID3DXMesh** ppCloneMesh) = 0;
    virtual HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** ppVB) = 0;
    virtual HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** ppIB) = 0;
    virtual HRESULT LockVertexBuffer(DWORD Flags, void** ppData) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    virtual HRESULT LockIndexBuffer(DWORD Flags, void** ppData) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    // With a null table only the entry count is written.
    virtual HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize) = 0;
    virtual HRESULT ConvertPointRepsToAdjacency(const DWORD* pPRep, DWORD* pAdjacency) = 0;
    virtual HRESULT ConvertAdjacencyToPointReps(const DWORD* pAdjacency, DWORD* pPRep) = 0;
    // Three DWORDs per face, one per edge (corner k to corner k+1), UNUSED32 where no face shares it.
    virtual HRESULT GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) = 0;
    virtual HRESULT UpdateSemantics(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) = 0;
};
using LPD3DXBASEMESH = ID3DXBaseMesh*;

struct ID3DXMesh : ID3DXBaseMesh
{
    virtual HRESULT LockAttributeBuffer(DWORD Flags, DWORD** ppData) = 0;
    virtual HRESULT UnlockAttributeBuffer() = 0;
    virtual HRESULT Optimize(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut, DWORD* pFaceRemap,
                             LPD3DXBUFFER* ppVertexRemap, ID3DXMesh** ppOptMesh) = 0;
    virtual HRESULT OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut,
                                    DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap) = 0;
    virtual HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* pAttribTable, DWORD cAttribTableSize) = 0;
};
using LPD3DXMESH = ID3DXMesh*;

HRESULT D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                          IDirect3DDevice9* pD3DDevice, LPD3DXMESH* ppMesh);

// Bytes per vertex of an FVF code; 0 for codes that name no vertex layout.
UINT D3DXGetFVFVertexSize(DWORD FVF);
HRESULT D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]);

// Face count and face order are kept; vertices are split where faces meet only at a point (bow
// ties) or lie back to back on the same corners.
HRESULT D3DXCleanMesh(D3DXCLEANTYPE CleanType, LPD3DXMESH pMeshIn, const DWORD* pAdjacencyIn,
                      LPD3DXMESH* ppMeshOut, DWORD* pAdjacencyOut, LPD3DXBUFFER* ppErrorsAndWarnings);

// Unit vertex normals, each the normalised sum of the unit normals of the faces that use the vertex.
HRESULT D3DXComputeNormals(LPD3DXBASEMESH pMesh, const DWORD* pAdjacency);

HRESULT D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                               D3DXVECTOR3* pMin, D3DXVECTOR3* pMax);
HRESULT D3DXComputeBoundingSphere(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                                  D3DXVECTOR3* pCenter, FLOAT* pRadius);

// Ray tests. A hit lies at V0 + U (V1 - V0) + V (V2 - V0) and at pRayPos + Dist pRayDir; faces are hit
// from both sides. The first hit is the nearest; all hits come in face order as D3DXINTERSECTINFO.
HRESULT D3DXIntersect(LPD3DXBASEMESH pMesh, const D3DXVECTOR3* pRayPos, const D3DXVECTOR3* pRayDir,
                      BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU, FLOAT* pV, FLOAT* pDist,
                      LPD3DXBUFFER* ppAllHits, DWORD* pCountOfHits);
HRESULT D3DXIntersectSubset(LPD3DXBASEMESH pMesh, DWORD AttribId, const D3DXVECTOR3* pRayPos,
                            const D3DXVECTOR3* pRayDir, BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU, FLOAT* pV,
                            FLOAT* pDist, LPD3DXBUFFER* ppAllHits, DWORD* pCountOfHits);
BOOL D3DXIntersectTri(const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2,
                      const D3DXVECTOR3* pRayPos, const D3DXVECTOR3* pRayDir, FLOAT* pU, FLOAT* pV,
                      FLOAT* pDist);
BOOL D3DXBoxBoundProbe(const D3DXVECTOR3* pMin, const D3DXVECTOR3* pMax, const D3DXVECTOR3* pRayPosition,
                       const D3DXVECTOR3* pRayDirection);
BOOL D3DXSphereBoundProbe(const D3DXVECTOR3* pCenter, FLOAT Radius, const D3DXVECTOR3* pRayPosition,
                          const D3DXVECTOR3* pRayDirection);

// ---- X files ---------------------------------------------------------------------------------------------
struct D3DXMATERIAL
{
    D3DMATERIAL9 MatD3D;
    LPSTR pTextureFilename; // null when the material names no texture
};
using LPD3DXMATERIAL = D3DXMATERIAL*;

enum D3DXEFFECTDEFAULTTYPE : DWORD
{
    D3DXEDT_STRING = 0x1,
    D3DXEDT_FLOATS = 0x2,
    D3DXEDT_DWORD = 0x3,
};

struct D3DXEFFECTDEFAULT
{
    LPSTR pParamName;
    D3DXEFFECTDEFAULTTYPE Type;
    DWORD NumBytes;
    void* pValue;
};
using LPD3DXEFFECTDEFAULT = D3DXEFFECTDEFAULT*;

struct D3DXEFFECTINSTANCE
{
    LPSTR pEffectFilename;
    DWORD NumDefaults;
    LPD3DXEFFECTDEFAULT pDefaults;
};
using LPD3DXEFFECTINSTANCE = D3DXEFFECTINSTANCE*;

// Every mesh of an X file (text, binary or compressed; 32- or 64-bit floats) as one mesh: frame
// transforms are applied, polygons become triangle fans, the meshes' material lists are joined (a mesh
// without one gets a grey default material) and each face's attribute id is its material's index. The vertex
// format holds what the file gives: position, normals, a diffuse colour, one texture coordinate set. The
// materials buffer holds NumMaterials D3DXMATERIAL records, the effect instances buffer as many
// D3DXEFFECTINSTANCE records (a texture name becomes the default "Texture0@Name"); their strings live in the
// same buffer.
HRESULT D3DXLoadMeshFromXInMemory(const void* Memory, DWORD SizeOfMemory, DWORD Options,
                                  IDirect3DDevice9* pD3DDevice, LPD3DXBUFFER* ppAdjacency,
                                  LPD3DXBUFFER* ppMaterials, LPD3DXBUFFER* ppEffectInstances,
                                  DWORD* pNumMaterials, LPD3DXMESH* ppMesh);
