#pragma once
// Models from shapes given in code: polygons, quads and indexed lists collected as a triangle soup with
// the attributes current when each face was added, optionally cut by planes with every cut capped, then
// welded, grouped into subsets by group and material and handed to the raw-array model constructor.
#include <map>
#include <vector>

#include "engine/scene/model.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
class Material_;

// The attributes of one face.
struct FaceAttributesStruct_TYP
{
    Material_* material; // counted by every stored face record
    DWORD group;         // becomes the subset's source index; a cap plane opens a new group
    DWORD key;           // third sort key, not stored in the subset
    DWORD attribute;     // carried with the face; cap faces take their plane's
    DWORD surfaceType;
    BYTE specialSurface;
    BYTE backFace;
    float surfacePlane[4];
    float backFacePlane[4];
};

// One cut plane: the side where a x + b y + c z + d >= 0 is kept, and how its cap looks.
struct CapPlaneStruct_TYP
{
    float plane[4];
    D3DXMATRIX textureMatrix; // a cap point to its texture coordinates
    Material_* material;      // counted, may be null (the faces' material then)
    DWORD attribute;
    DWORD surfaceType;
};

using VertexCallback_TYP = void (*)(void* user, float position[3], float texture[2]);

class ModelConstructor_
{
public:
    ModelConstructor_();
    virtual ~ModelConstructor_();
    ModelConstructor_(const ModelConstructor_&) = delete;
    ModelConstructor_& operator=(const ModelConstructor_&) = delete;

    // Makes `material` the current material (one reference kept, the previous one released).
    void SetCurrentMaterial(Material_* material);

    // A convex polygon as a triangle fan; texture is count x 2 floats or null. Fewer than 3 points add
    // nothing.
    HRESULT AddPolygon(const float* points, DWORD count, const float* texture);
    // The four corners with the coordinates (1, 1), (1, 0), (0, 0), (0, 1).
    static HRESULT AddQuad(ModelConstructor_* constructor, const float corners[12]);
    // Three (four) indices per face into positions (3 floats each) and texture (2 floats each, or null).
    // An index span above 0x100000 adds nothing.
    HRESULT AddIndexedTriangles(const float* positions, const DWORD* indices, DWORD triangleCount,
                                const float* texture);
    HRESULT AddIndexedQuads(const float* positions, const DWORD* indices, DWORD quadCount,
                            const float* texture);

    // Finalises and builds the model; afterwards every input and output vector is empty. The model
    // build has no use for noEffectFlag.
    HRESULT CreateModel(Model_** model, bool noEffectFlag, bool optimizeForVertexCache);

    void TransformVertex(const float position[3], const float texture[2], RawVertexStruct_TYP* out) const;
    void UpdateLongestEdge(const RawVertexStruct_TYP* a, const RawVertexStruct_TYP* b);
    void Finalize();
    bool ProcessPart(Material_* defaultMaterial, const std::vector<CapPlaneStruct_TYP>* planes);
    // One soup triangle against one plane: the kept triangles and their records go to the out vectors,
    // the cut segment (two points) to cuts. False when nothing is kept.
    bool EmitFaces(const RawVertexStruct_TYP* triangle, const FaceAttributesStruct_TYP& record,
                   const float plane[4], std::vector<RawVertexStruct_TYP>* kept,
                   std::vector<FaceAttributesStruct_TYP>* keptRecords,
                   std::vector<RawVertexStruct_TYP>* cuts);
    // Soup vertices by face group, material and key, then position and texture on a 1e-5 grid.
    int CompareVertices(const DWORD* a, const DWORD* b) const;

    D3DXMATRIXA16* positionMatrix; // points at matrices_[0]
    D3DXMATRIXA16* textureMatrix;  // points at matrices_[1]
    BYTE usePositionMatrix = 0;
    BYTE useTextureMatrix = 0;
    FaceAttributesStruct_TYP current{};
    BYTE flipWinding = 0;
    void* vertexCallbackUser = nullptr;
    VertexCallback_TYP vertexCallback = nullptr;

    std::vector<RawVertexStruct_TYP> soup; // three per face
    std::vector<FaceAttributesStruct_TYP> faces;

    std::vector<SubsetStruct_TYP> outSubsets;
    std::vector<RawVertexStruct_TYP> outVertices;
    std::vector<RawVertexStruct_TYP> outLineVertices;
    std::vector<DWORD> outIndices;

    // Per group, its longest edge; group 0 is there from the start.
    std::map<DWORD, D3DXVECTOR3> longestEdges;
    DWORD groupCounter = 0;

    std::vector<CapPlaneStruct_TYP> capPlanes;
    std::vector<std::vector<CapPlaneStruct_TYP>> cutSets;

    std::vector<RawVertexStruct_TYP> lineInput; // two per line
    std::vector<FaceAttributesStruct_TYP> lineRecords;

    BYTE normalsGiven = 0;

private:
    void AppendFace(const RawVertexStruct_TYP& a, const RawVertexStruct_TYP& b, const RawVertexStruct_TYP& c);
    HRESULT AddIndexed(const float* positions, const DWORD* indices, DWORD count, DWORD corners,
                       const float* texture);
    void ReleaseRecords(std::vector<FaceAttributesStruct_TYP>* records);
    void EmitLines();
    void Clear();

    D3DXMATRIXA16 matrices_[2];
};
} // namespace LMK
