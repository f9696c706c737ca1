#pragma once
// Models: the shared, reference-counted geometry of the scene. A model holds its mesh parts on every
// device (through its per-device copies), the subsets into which its faces are divided (each with one
// counted material), line segments, light points, user-data chunks, names and the geometry variants of
// its objects. Objects place it; a model is never drawn by itself.
#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "engine/core/device_data.h"
#include "engine/core/loaders.h"
#include "engine/core/owned_array.h"
#include "engine/scene/model_chunk.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
class Material_;
class Model_;
class Object_;
class Animation_;
class AnimationNode_;
class Light_;
class LKXMesh_;
class BackBufferPart_;
class View_;
struct RenderViewStruct_TYP;
struct PassContextStruct_TYP;
struct DecodedMeshListStruct_TYP;

// Vertex layout of every model: position, normal, texture coordinates 0 and 1.
constexpr DWORD kModelVertexFormat = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2; // 0x212
constexpr DWORD kModelVertexStride = 40;
// Mesh parts use 16-bit indices; the limit leaves room below 0xFFFF.
constexpr DWORD kMaxPartVertexSpan = 0xFF00;
constexpr DWORD kMaxPartFaces = 0xFF00;
// Boxes grow from these.
constexpr float kEmptyBoxMin = 1e10f;
constexpr float kEmptyBoxMax = -1e10f;
constexpr DWORD kNoSourceIndex = 0xFFFFFFFF;
// Chunk id of the engine animation block: it becomes the model's animation, never a chunk.
constexpr DWORD kAnimationChunkId = 20;

struct ModelVertexStruct_TYP
{
    float position[3];
    float normal[3];
    float tex0[2];
    float tex1[2];
};
static_assert(sizeof(ModelVertexStruct_TYP) == kModelVertexStride);

// Input vertex of the raw-array constructor.
struct RawVertexStruct_TYP
{
    float position[3];
    float u;
    float v;
    float normal[3];
};
static_assert(sizeof(RawVertexStruct_TYP) == 32);

// Input light point of the raw-array constructor; the last two values are not read.
struct RawLightPointStruct_TYP
{
    float color[3];
    float position[3];
    float unused[2];
};

struct LightPointStruct_TYP
{
    float position[3]; // model space
    float color[4];    // red, green, blue, alpha (1.0)
};

// One subset of a model: a run of faces of one mesh part with one material. The renderer keeps its
// run-time data in the same record.
struct SubsetStruct_TYP
{
    DWORD part;
    DWORD firstFace; // within the part once the model is built; callers give it over the whole index array
    DWORD firstLineVertex;
    DWORD modelFirstFace; // counted over the whole model, in subset order
    DWORD faceCount;
    Material_* material; // counted; null draws with the root's default material
    DWORD value;         // handed out by picking, not interpreted
    float planeNormal[3];
    AnimationNode_* animationNode;
    DWORD lineSegmentCount;
    WORD* silhouetteEdges;
    DWORD silhouetteEdgeCount;
    void* hiddenEdges;
    void* hiddenEdgeFaceFlags;
    DWORD hiddenEdgeCount;
    float baseBox[6];
    float currentBox[6];
    DWORD surfaceType; // bits above 0xFFF select mirror and light-map categories
    DWORD sourceIndex; // the loader's source; the key into the animation's subset-to-node table
    DWORD materialGroup;
    DWORD sourceIndex2;
    DWORD sourceIndex3;
    float lightMapAxis[3];
    float backFacePlane[4];
    float surfacePlane[4];
    BYTE backFace;
    BYTE specialSurface;
    BYTE lampSurface;
    DWORD stencilGroup;
    BYTE lightMapExcluded;
};
static_assert(sizeof(SubsetStruct_TYP) == (sizeof(void*) == 4 ? 192 : 224));
static_assert(offsetof(SubsetStruct_TYP, baseBox) == (sizeof(void*) == 4 ? 68 : 100));

// What one subset's edge lists point into (edges.cpp).
struct SubsetEdgeListsStruct_TYP
{
    std::vector<WORD> silhouette;      // silhouetteEdges
    std::vector<WORD> hiddenQuads;     // hiddenEdges
    std::vector<BYTE> hiddenFaceFlags; // hiddenEdgeFaceFlags
};

// What a model is built from (Model_::Build). The arrays stay the caller's; the build copies them.
struct ModelBuildInputStruct_TYP
{
    BYTE keepNormals = 0;
    const RawVertexStruct_TYP* vertices = nullptr;
    DWORD vertexCount = 0;
    const DWORD* indices = nullptr; // three per face
    DWORD faceCount = 0;
    const RawVertexStruct_TYP* lineVertices = nullptr; // two per segment
    DWORD lineVertexCount = 0;
    const SubsetStruct_TYP* subsets = nullptr; // their materials are counted again by the model
    DWORD subsetCount = 0;
    Animation_* animation = nullptr; // the model takes its own reference
    BYTE turned = 0;
    DWORD lightPointCount = 0;
    const RawLightPointStruct_TYP* lightPoints = nullptr;
    BYTE optimizeForVertexCache = 0;
    DWORD spanLimit = 0;   // vertices one mesh part may span; 0 for kMaxPartVertexSpan
    DWORD faceLimit = 0;   // faces of one mesh part; 0 for kMaxPartFaces
    BYTE normalsGiven = 0; // else the build computes them
};

#pragma pack(push, 1)
// The 34-byte attribute block of LRSetSubsetAttributes, as object files store it.
struct SubsetAttributesStruct_TYP
{
    float backFacePlane[4];
    float surfacePlane[4];
    BYTE backFace;
    BYTE specialSurface;
};
#pragma pack(pop)
static_assert(sizeof(SubsetAttributesStruct_TYP) == 34);

struct StretchPlaneStruct_TYP
{
    float plane[4];
    float innerWidth;
    float stretchedWidth;
    BYTE flag; // compared, not interpreted
};

struct GeometryVariantStruct_TYP
{
    std::vector<Object_*> users;
    std::vector<StretchPlaneStruct_TYP> key;
    std::vector<std::array<float, 6>> subsetBoxes;
    float box[6];
};

struct ModelLODStruct_TYP
{
    Model_* model; // counted
    float threshold;
};

struct ModelAlternativeStruct_TYP
{
    Model_* model; // counted
    DWORD value;
};

// Extra drawing pass over every subset; nothing adds one yet.
struct TextureLayerStruct_TYP
{
    Material_* firstMaterial;
    Material_* secondMaterial;
    IDirect3DTexture9* firstTexture;
    IDirect3DTexture9* secondTexture;
};

// The build input over whole vertex, index (three per face) and subset arrays; the rest as the record's
// defaults.
ModelBuildInputStruct_TYP MeshBuildInput(const std::vector<RawVertexStruct_TYP>& vertices,
                                         const std::vector<DWORD>& indices,
                                         const std::vector<SubsetStruct_TYP>& subsets);

bool AreStretchPlanesEqual(const std::vector<StretchPlaneStruct_TYP>& a,
                           const std::vector<StretchPlaneStruct_TYP>& b);
// Moves 40-byte vertices away from a plane: inside the inner width they are stretched in proportion,
// outside it shifted by the whole stretch. measured gives the positions the distance is taken from.
void ApplyStretchPlane(DWORD vertexCount, const StretchPlaneStruct_TYP& plane, const BYTE* source,
                       BYTE* destination, const BYTE* measured);

class Model_ : public LoadedPart_, public DeviceSpecificDataHandler_
{
public:
    // From raw arrays (vertices and lines as RawVertexStruct_TYP, three u32 indices per face).
    Model_(BYTE keepNormals, const RawVertexStruct_TYP* vertices, DWORD vertexCount, const DWORD* indices,
           DWORD faceCount, const RawVertexStruct_TYP* lineVertices, DWORD lineVertexCount,
           const SubsetStruct_TYP* subsets, DWORD subsetCount, Animation_* animation,
           LoadRecordStruct_TYP* record, HRESULT* result, BYTE unused, BYTE turned, DWORD lightPointCount,
           const RawLightPointStruct_TYP* lightPoints, BYTE optimizeForVertexCache, BYTE normalsGiven);
    Model_(const ModelBuildInputStruct_TYP& input, LoadRecordStruct_TYP* record, HRESULT* result);
    ~Model_() override;
    // From a compressed geometry block (geometry_block_model.cpp). Null only when out of memory; after a
    // failure, reported through result, the model has no mesh parts and no subsets.
    static Model_* CreateFromMeshList(BYTE noResmooth, DWORD maxVersion, const void* data, DWORD size,
                                      Animation_* animation, LoadRecordStruct_TYP* record, HRESULT* result);
    // The same from a block decoded beforehand (decodeResult: what its decode returned); the meshes are
    // taken over.
    static Model_* CreateFromMeshList(BYTE noResmooth, DecodedMeshListStruct_TYP&& list, HRESULT decodeResult,
                                      Animation_* animation, LoadRecordStruct_TYP* record, HRESULT* result);

    // From an X file in memory (model_xfile.cpp): one mesh part, one subset per file material. Null only
    // when out of memory; after a failure, reported through result, the model has no parts.
    static Model_* CreateFromXFile(const void* data, DWORD size, LoadRecordStruct_TYP* record,
                                   HRESULT* result);

    void OnCached() override { ReleaseSecondaryData(); }
    std::unique_ptr<DeviceSpecificDataContainer_> CreateDataForDevice(IDirect3DDevice9* device) override;

    // Geometry building (geometry.cpp).
    void Build(const ModelBuildInputStruct_TYP& input, HRESULT* result);
    // Recomputes the normals, creased where faces meet at more than the angle (radians). With out, a
    // new model is made and this one stays as it is.
    bool Resmooth(float crease, Model_** out);
    void CreateLineBuffer(DWORD count, const ModelVertexStruct_TYP* vertices);

    void SetName(const char* newName);
    void SetChunk(const ModelChunkStruct_TYP* chunk);
    void SetAnimation(Animation_* newAnimation);
    Material_* GetSubsetMaterial(DWORD index);
    void SetSubsetMaterial(Material_* change, DWORD index);
    void SetSubsetMaterials(Material_** list, DWORD n);

    void ComputeBoundingBox();
    void ComputePartBoxes();
    void ComputeVariantBoundingBox();
    void ComputeVariantPartBoxes();
    void PrepareForObject(Object_* object);
    void RemoveVariantUser(Object_* object);
    int DrawForObject(BackBufferPart_* part, Object_* object, const D3DXVECTOR3* eye, DWORD mode,
                      RenderViewStruct_TYP* view, Light_* passLight, PassContextStruct_TYP* pass);
    // Picking (engine/render/picking.cpp): the ray's hit on the current object's geometry, and one face's
    // three vertices from the current or the base vertex buffer.
    void Pick(bool farthest, View_* camera, bool partProjection, const float* sectionPlane,
              const float* point, bool skipTransparent, BYTE* hit, float* distance, DWORD* subset,
              DWORD* subsetValue, float* hitPoint, DWORD* face, float* u, float* v);
    HRESULT GetFaceVertices(DWORD subset, DWORD face, bool current, ModelVertexStruct_TYP vertices[3]);
    // Edge lists of the edge display modes (engine/render/edges.cpp), built per subset in object space
    // for the current object seen from the camera's eye and valid for one draw. False when nothing could
    // be built; a build that stops at a subset leaves no list on any.
    bool BuildSilhouetteEdges(View_* camera, BYTE unused, BYTE withNeighbours);
    bool BuildHiddenEdges(View_* camera, BYTE unused, BYTE withNeighbours);
    void FreeSilhouetteEdges();
    void FreeHiddenEdges();
    std::vector<SubsetEdgeListsStruct_TYP> edgeLists; // by subset; grown as edges are built

    // The mesh parts of the primary device's copy, or null.
    LKXMesh_** PrimaryParts() const;
    DWORD TotalFaceCount() const;

    std::unique_ptr<SubsetStruct_TYP[]> subsets;
    DWORD subsetCount = 0;
    char* nameList = nullptr; // points into nameListBytes
    DWORD nameCount = 0;
    std::vector<ModelChunkStruct_TYP> chunks; // each one's data points into chunkBytes, same index
    std::vector<std::vector<BYTE>> chunkBytes;
    DWORD lightPointCount = 0;
    std::unique_ptr<LightPointStruct_TYP[]> lightPoints;
    std::vector<TextureLayerStruct_TYP> textureLayers;
    std::vector<GeometryVariantStruct_TYP> variants;
    std::vector<ModelLODStruct_TYP> lods;
    std::vector<ModelAlternativeStruct_TYP> alternatives;
    Object_* currentObject = nullptr;
    DWORD currentObjectListIndex = 0;
    DWORD vertexStride = 0;
    std::unique_ptr<ID3DXBuffer*[]> adjacency; // one counted buffer per part
    DWORD vertexFormat = 0;
    BYTE turned = 0;
    BYTE fileFlags[4] = {0, 1, 0, 1};
    float fileValue = 0.0f;
    BYTE fileByte = 0;
    char* name = nullptr; // points into nameBytes
    std::vector<char> nameBytes, nameListBytes;
    DWORD partCount = 0;
    float progressiveFraction = 1.0f;
    float baseBox[6] = {};
    float currentBox[6] = {};
    float baseCentre[3] = {};
    float currentCentre[3] = {};
    float radius = 0.0f;
    float eyePoint[3] = {};
    BYTE noClip = 0;
    BYTE noPick = 0;
    std::vector<Object_*> users; // not counted
    Animation_* animation = nullptr;
    DWORD renderMode = 0;
    void* validationTable = nullptr;
    Light_* passLight = nullptr;
    BYTE keepNormals = 0;
    DWORD lineVertexCount = 0;
    DWORD lineSubsetCount = 0;
    std::unique_ptr<DWORD[]> lineStarts;

private:
    Model_(); // the common start of every constructor
    void ResetMembers();
    void FinishConstruction(LoadRecordStruct_TYP* record);
    void SelectVariant(size_t index);

    struct PartRecord_;
    bool CopySubsets(const ModelBuildInputStruct_TYP& in);
    bool CopyLines(const ModelBuildInputStruct_TYP& in, std::vector<ModelVertexStruct_TYP>* lineBuffer);
    bool CopyLightPoints(const ModelBuildInputStruct_TYP& in);
    bool PlanParts(ModelBuildInputStruct_TYP* in, std::vector<RawVertexStruct_TYP>* ownedVertices,
                   std::vector<DWORD>* ownedIndices, std::vector<PartRecord_>* parts);
    bool CreatePart(const PartRecord_& part, const ModelBuildInputStruct_TYP& in, IDirect3DDevice9* device,
                    DWORD index, LKXMesh_** out);
    bool PartitionMesh(DWORD* vertexCount, DWORD faceCount, const RawVertexStruct_TYP** vertices,
                       const DWORD** indices, std::vector<RawVertexStruct_TYP>* ownedVertices,
                       std::vector<DWORD>* ownedIndices, DWORD spanLimit, DWORD faceLimit,
                       std::vector<PartRecord_>* parts);
    bool SplitLargeSubsets(const DWORD* indices, DWORD spanLimit, DWORD faceLimit);
    void RemapPartVertices(DWORD spanLimit, DWORD* vertexCount, DWORD faceCount,
                           const RawVertexStruct_TYP* vertices, const DWORD* indices,
                           std::vector<RawVertexStruct_TYP>* newVertices, std::vector<DWORD>* newIndices);
    void ReleaseSubsets();
    void ReleaseAdjacency();
    // Back to a model without geometry: what a failed build leaves.
    void DropGeometry();
    static void FillFromMeshList(Model_* model, BYTE noResmooth, DecodedMeshListStruct_TYP&& list,
                                 HRESULT decodeResult, Animation_* animation, LoadRecordStruct_TYP* record,
                                 HRESULT* result);
};

// Replaces the model's list of names (strings ended by a NUL, the list by an empty string).
HRESULT SetModelNameList(Model_* model, const char* list);

// A model built from the input alone (no load record), or null when it was not built; *result says why
// (E_OUTOFMEMORY when there was no memory for the model itself).
CountedPtr<Model_> BuildModel(const ModelBuildInputStruct_TYP& input, HRESULT* result);
} // namespace LMK
