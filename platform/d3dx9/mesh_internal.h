#pragma once
// Mesh algorithms on plain arrays, shared by the mesh object and the free functions, and tested on
// their own.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3dx9/d3dx9mesh.h"

namespace ferolt::d3dx9
{
// Largest buffer D3DX makes for a caller, and largest vertex count of a mesh with 16-bit indices.
constexpr size_t kMaxBufferBytes = 1u << 30;
constexpr DWORD kMaxVertices16 = 0xFFFF;

HRESULT CreateBufferFrom(const void* data, size_t size, ID3DXBuffer** out);

struct Float3
{
    float x, y, z;
};

// Where each component of an FVF vertex lies; -1 when absent.
struct FvfLayout
{
    UINT stride = 0;
    int position = -1;
    UINT positionBytes = 0; // 12, 16 with RHW / W, or 12 + 4 per blend weight
    int normal = -1;
    int psize = -1;
    int diffuse = -1;
    int specular = -1;
    UINT texCount = 0;
    int texOffset[8] = {};
    UINT texBytes[8] = {};
};
// False for codes without a position or with reserved bits.
bool ParseFvf(DWORD fvf, FvfLayout* out);

// Lowest vertex index whose position lies within epsilon (on every axis) of each vertex.
std::vector<DWORD> PointReps(const std::vector<Float3>& positions, float epsilon);

// Three neighbours per face; faces meet on an edge when its two corners have the same point
// representatives. Degenerate edges have no neighbour. Each edge gets at most one neighbour, and the
// relation is symmetric.
std::vector<DWORD> AdjacencyFromIndices(const std::vector<uint32_t>& indices, const std::vector<DWORD>& reps);

// The result of sorting faces by attribute id and renumbering vertices so that each id's faces use
// one dense, exclusive vertex range.
struct AttributeSortPlan
{
    std::vector<DWORD> faceRemap;   // new face -> old face
    std::vector<DWORD> vertexRemap; // new vertex -> old vertex
    std::vector<uint32_t> indices;  // new indices (3 per new face)
    std::vector<DWORD> attributes;  // per new face
    std::vector<D3DXATTRIBUTERANGE> table;
};
// Faces are grouped by ascending attribute id, keeping their order inside a group unless
// `cacheOrder` asks to walk each group along the adjacency. Vertices shared between groups are
// duplicated while the count stays within maxVertices; past that the vertices keep their order and the
// ranges cover each group's lowest to highest vertex. Unused vertices are dropped with `compact`, else
// kept at the end.
AttributeSortPlan PlanAttributeSort(const std::vector<uint32_t>& indices,
                                    const std::vector<DWORD>& attributes, DWORD vertexCount,
                                    const DWORD* adjacency, bool cacheOrder, bool compact, DWORD maxVertices);

// Nearest-first ray test against one triangle, both sides; false when the ray misses or the hit lies
// behind the origin.
bool RayTriangle(const Float3& origin, const Float3& dir, const Float3& p0, const Float3& p1,
                 const Float3& p2, float* u, float* v, float* dist);
} // namespace ferolt::d3dx9
