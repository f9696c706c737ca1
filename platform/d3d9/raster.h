#pragma once
// Internal interfaces between the stages of the software pipeline: processed vertices, set-up
// primitives and the per-pixel work.
#include <cstdint>
#include <vector>

#include "platform/d3d9/pipeline.h"
#include "platform/d3d9/simd.h"

namespace ferolt::d3d9
{
// A processed vertex is a run of floats: clip-space position (4), point size, flags, clip distances,
// varyings. The layout depends on the draw.
struct VertexLayoutOut
{
    int clipCount = 0; // near, far, four guard-band planes, user planes
    int varyCount = 0;
    int stride = 0;
    static constexpr int kPos = 0;
    static constexpr int kPointSize = 4;
    static constexpr int kFlags = 5;
    static constexpr int kClip = 6;
    int Vary() const { return kClip + clipCount; }
};

constexpr uint32_t kVertexInvalid = 0x80000000u; // the vertex could not be read
constexpr int kGuardPlanes = 4;
constexpr int kFixedClipPlanes = 3 + kGuardPlanes; // z >= 0, w > 0, z <= w, guard band

VertexLayoutOut MakeVertexLayout(const DrawConfig& cfg);

// Computes vertices [first, first + count) of the draw into out (count * stride floats).
void ProcessVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t first, size_t count,
                     float* out, float guardX, float guardY);

// Fog factor (1 = no fog) for a distance under a fog mode.
float FogFactorForPixel(DWORD mode, float d, float start, float end, float density);

// Lights one vertex in camera space.
void LightVertex(const VertexConfig& cfg, const Vec3& position, const Vec3& normal,
                 const float* vertexDiffuse, const float* vertexSpecular, float* diffuseOut,
                 float* specularOut);

// Clips a convex polygon in clip space against the planes whose bits are set. Vertices are runs of
// `stride` floats with clip distances at VertexLayoutOut::kClip. Returns the vertex count left.
int ClipPolygon(const VertexLayoutOut& layout, uint32_t planes, float* verts, int count, float* scratch,
                int capacity);

// The varyings a draw's pixels read, in groups of four that are interpolated together (diffuse, specular,
// fog, and the coordinates of each textured stage). Triangles keep planes only for these groups, as four
// a, four b and four c values; the rest read as 0. Groups are in ascending order of their first varying,
// and a later group may overwrite the unused lanes of the one before it.
struct VaryingSet
{
    static constexpr int kMaxGroups = 3 + kMaxStages;
    int groupCount = 0;
    uint8_t groupBase[kMaxGroups]; // first varying of each group
    int8_t group[kMaxVary];        // group holding each varying whose plane is kept, or -1
    bool lane[kMaxGroups][4];      // lanes whose planes are computed
    int Floats() const { return 12 * groupCount; }
};
VaryingSet ActiveVaryings(const DrawConfig& cfg);

// Screen-space plane of one attribute: value(x, y) = a + b (x - x0) + c (y - y0).
struct Plane
{
    float a, b, c;
    float At(float dx, float dy) const { return a + b * dx + c * dy; }
};

enum class PrimKind : uint8_t
{
    Triangle,
    Line,
    Point
};

// A primitive ready for the tiles. Attribute data lives in the batch's float arena at `data`:
// triangles: z plane, 1/w plane, then the planes of the active varyings (varying / w) by groups;
// lines: for each end x, y, z, 1/w, varyings / w; points: x, y, z, w, varyings.
struct SetupPrim
{
    PrimKind kind;
    bool flat;                            // colours are the constants stored after the planes
    int32_t minX, minY, maxX, maxY;       // covered pixels, inclusive, inside the clip rectangle
    int64_t edgeA[3], edgeB[3], edgeC[3]; // inside when A x + B y + C >= 0, in 1/256 pixel units
    float x0, y0;                         // plane origin
    float depthOffset;                    // bias added to the interpolated depth
    uint32_t data;                        // offset into the arena
    // Triangles drawn as wireframe or points take their depth from the triangle's plane.
    uint32_t depthPlane; // offset of a z plane in the arena, or ~0u
};

// SetupPrim::depthPlane when the primitive has no depth plane of its own.
constexpr uint32_t kNoPlane = ~0u;

class PixelPipeline;

// Draws the parts of `prim` that fall into the rectangle [x0, x1) x [y0, y1).
void RasterizePrim(const DrawConfig& cfg, const VaryingSet& active, const SetupPrim& prim, const float* arena,
                   int x0, int y0, int x1, int y1, PixelPipeline& pixels);

// ---- pixel stage
// -------------------------------------------------------------------------------------------
// Where a fragment's varyings come from; they are evaluated only for fragments that survive the depth and
// stencil tests. Texture level selection takes the screen-space derivatives from the triangle's planes.
struct VaryingSource
{
    const SetupPrim* prim = nullptr;
    const float* arena = nullptr;
    int varyCount = 0;
    const VaryingSet* active = nullptr;
    float lineT = 0.0f; // lines: position along the line, 0 at the first end
    // Writes the varyings at pixel (x, y) and returns the interpolated clip w. Triangles write only the
    // active varyings.
    float Eval(int x, int y, float* vary) const;
    // Triangles can be evaluated away from the fragment; lines and points cannot.
    bool HasPlanes() const { return prim && prim->kind == PrimKind::Triangle; }
};

// A stage's 2D texture of 32-bit texels, looked up once per draw for the pixel loop.
struct FastTexture
{
    bool enabled = false;
    float width = 0, height = 0; // level 0
    UINT base = 0, levels = 0;
    const Surface* level[16] = {};
};
struct Quad;

class PixelPipeline
{
public:
    explicit PixelPipeline(const DrawConfig& cfg);
    // One covered pixel with depth z in [0, 1].
    void Fragment(int x, int y, float z, const VaryingSource& src);
    // Whether the draw's state lets triangles go through Quads (span.cpp).
    bool QuadReady() const { return quads_; }
    // The pixels of a triangle in [xs, xe] x [ys, ye], four at a time; the same bytes as Fragment.
    void Quads(const SetupPrim& prim, const float* arena, const VaryingSet& active, int xs, int xe, int ys,
               int ye);

private:
    bool PrepareQuads();
#if FEROLT_D3D9_SSE
    bool SampleQuad(int stage, __m128 u, __m128 v, const int level[4], Quad* out) const;
#endif
    bool DepthStencil(size_t index, uint32_t depth);
    Vec4 Shade(int x, int y, const VaryingSource& src);
    void Write(int x, int y, const Vec4& color);

    const DrawConfig& cfg_;
    const PixelConfig& px_;
    Surface* target_;
    size_t targetBpp_;
    D3DFORMAT targetFormat_;
    uint32_t* depthPlane_ = nullptr;
    uint8_t* stencilPlane_ = nullptr;
    size_t depthWidth_ = 0;
    int depthHeight_ = 0;
    bool depthActive_ = false;
    bool needLod_[kMaxStages] = {};
    FastTexture fast_[kMaxStages];
    Vec4 fogColor_;
    bool quads_ = false;
    float vary_[kMaxVary] = {}; // varyings a draw does not read stay 0
};

// Texture stage arithmetic and sampling (stages.cpp, sampler.cpp).
struct StageInputs
{
    Vec4 diffuse;
    Vec4 specular;
    Vec4 texture[kMaxStages];
};
Vec4 CombineStages(const PixelConfig& px, const StageInputs& in);
void SampleTexture(const StageConfig& stage, const float coord[4], float lod, bool useLod, float out[4]);
// Level of detail for a stage from the screen-space derivatives of its coordinates (in [0, 1] units).
// Where sampling depends only on its sign or nearest level, a stand-in with the same effect.
float TextureLod(const StageConfig& stage, float dudx, float dvdx, float dudy, float dvdy);
bool StageNeedsLod(const StageConfig& stage);

void PrepareFastTexture(const StageConfig& stage, FastTexture* out);
// One sample of a 32-bit level with the stage's magnification filter and addressing.
void Sample2DLevel(const StageConfig& stage, const Surface& level, float u, float v, float out[4]);
// Samples as SampleTexture(stage, coord, TextureLod(stage, dudx, dvdx, dudy, dvdy), useLod) does.
void SampleFastTexture(const StageConfig& stage, const FastTexture& t, float u, float v, float dudx,
                       float dvdx, float dudy, float dvdy, bool useLod, float out[4]);
} // namespace ferolt::d3d9
