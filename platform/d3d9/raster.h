#pragma once
// Internal interfaces between the stages of the software pipeline: processed vertices, set-up
// primitives and the per-pixel work.
#include <algorithm>
#include <cstdint>
#include <cstring>
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

constexpr int kSubPixelBits = 8;        // screen positions snap to 1/256 pixel
constexpr float kGuardPixels = 8192.0f; // guard band beyond the viewport's centre, in pixels

// What primitive assembly reads of a processed vertex, kept apart from the full record so that the
// common case (a triangle wholly inside every clip plane) touches only these 32 bytes per corner.
struct ScreenVertex
{
    float x, y, z, q; // screen position, depth, 1 / w
    int32_t fx, fy;   // position in 1/256 pixel
    uint32_t bits;    // clip planes the vertex is outside of, kVertexInvalid, kUnprojected
    uint32_t pad;
};
// The vertex has no usable screen position (see ProjectVertex).
constexpr uint32_t kUnprojected = 1u << 30;

// The screen position of a processed vertex; false (fx, fy 0) when it is not finite or lies too far
// outside the guard band to snap.
bool ProjectVertex(const DrawConfig& cfg, const float* v, ScreenVertex* out);

// Computes vertices [first, first + count) of the draw into out (count * stride floats) and their screen
// records into screen (count).
void ProcessVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t first, size_t count,
                     float* out, ScreenVertex* screen, float guardX, float guardY);
// Whether untransformed vertices may go four at a time through SSE lanes (the default); tests compare that
// path with the vertex-by-vertex one, which gives the same bits.
void SetFastVertexPathAllowed(bool allowed);
// Whether that path may take eight vertices a step where the processor has AVX2 (the default); off, it
// takes four.
void SetEightLaneVerticesAllowed(bool allowed);

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
// fog, and the coordinates of each textured stage). Groups are in ascending order of their first varying,
// and a later group may overwrite the unused lanes of the one before it. Lanes without a plane read as 0.
// Triangles keep these planes in slots of twelve floats, four a, four b and four c values: a group with fewer
// than four lanes shares its slot with the groups after it, so that a varying's a, b and c are always four
// floats apart.
struct VaryingSet
{
    static constexpr int kMaxGroups = 3 + kMaxStages;
    int groupCount = 0;
    uint8_t groupBase[kMaxGroups];  // first varying of each group
    uint8_t groupLanes[kMaxGroups]; // lanes up to the last one whose plane is kept
    uint8_t groupAt[kMaxGroups]; // where the group's first a value is, in floats after the z and 1/w planes
    int8_t group[kMaxVary];      // group holding each varying whose plane is kept, or -1
    bool lane[kMaxGroups][4];    // lanes whose planes are computed; the others below groupLanes are 0
    int16_t planeAt[kMaxVary];   // see PlaneAt
    int floats = 0;              // floats the groups' planes take
    int Floats() const { return floats; }
    // The a value of a kept varying's plane (b and c follow at a stride of four), or -1.
    int PlaneAt(int varying) const { return planeAt[varying]; }
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

// A primitive ready for the tiles, one cache line: the tile pass reads each one cold. Attribute data lives
// in the batch's float arena at `data`: triangles: z plane, 1/w plane, then the planes of the active
// varyings (varying / w) by slots (VaryingSet); lines: for each end x, y, z, 1/w, varyings / w; points: x, y,
// z, w, varyings.
struct alignas(64) SetupPrim
{
    PrimKind kind;
    bool flat;      // colours are the constants stored after the planes
    bool wideEdges; // triangles whose edge functions do not fit below: edge[0] is their EdgeSet's offset
    // Triangles whose corners lie less than 16 pixels apart either way: their edge values at every pixel
    // of the bounds and a step beyond fit the span loop's 32-bit lanes, so it need not check each value.
    bool shortEdges;
    int16_t minX, minY, maxX, maxY; // covered pixels, inclusive, inside the clip rectangle
    float x0, y0;                   // plane origin
    float depthOffset;              // bias added to the interpolated depth
    uint32_t data;                  // offset into the arena
    union
    {
        // Triangles: A of the three edges, then B, then the value at (minX, minY) (see EdgeSet).
        int32_t edge[9];
        // Lines and points: triangles drawn as wireframe or points take their depth from the triangle's
        // plane, at this offset in the arena, or kNoPlane.
        uint32_t depthPlane;
    };
};
static_assert(sizeof(SetupPrim) == 64);
static_assert(kMaxSurfaceEdge <= 32767, "pixel bounds are 16-bit");

// SetupPrim::depthPlane when the primitive has no depth plane of its own.
constexpr uint32_t kNoPlane = ~0u;

// The edge functions of a triangle at absolute pixel positions: a pixel centre (x, y) is inside when
// a x + b y + c >= 0 for all three, in 1/256 pixel units.
struct EdgeSet
{
    int64_t a[3], b[3], c[3];
};

inline EdgeSet Edges(const SetupPrim& p, const float* arena)
{
    EdgeSet e;
    if (p.wideEdges)
    {
        std::memcpy(&e, arena + static_cast<uint32_t>(p.edge[0]), sizeof e);
        return e;
    }
    for (int k = 0; k < 3; ++k)
    {
        e.a[k] = p.edge[k];
        e.b[k] = p.edge[3 + k];
        e.c[k] = p.edge[6 + k] - e.a[k] * p.minX - e.b[k] * p.minY;
    }
    return e;
}

class PixelPipeline;

// Draws the parts of `prim` that fall into the rectangle [x0, x1) x [y0, y1).
void RasterizePrim(const DrawConfig& cfg, const VaryingSet& active, const SetupPrim& prim, const float* arena,
                   int x0, int y0, int x1, int y1, PixelPipeline& pixels);

// Draws the primitives prims[indices[0..count)] in that order, as RasterizePrim does one by one; the records
// and planes of the next ones are fetched while the current one draws, since the set-up wrote them long
// before and they have left the caches.
void RasterizeBin(const DrawConfig& cfg, const VaryingSet& active, const SetupPrim* prims,
                  const uint32_t* indices, size_t count, const float* arena, int x0, int y0, int x1, int y1,
                  PixelPipeline& pixels);

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
template <class L> struct SpanLoop;

class PixelPipeline
{
public:
    explicit PixelPipeline(const DrawConfig& cfg);
    ~PixelPipeline() { FlushLanes(); }
    PixelPipeline(const PixelPipeline&) = delete;
    PixelPipeline& operator=(const PixelPipeline&) = delete;
    // One covered pixel with depth z in [0, 1].
    void Fragment(int x, int y, float z, const VaryingSource& src);
    // Whether the draw's state lets triangles go through Quads (span_loop.h).
    bool QuadReady() const { return quads_; }
    // The pixels of a triangle in [xs, xe] x [ys, ye], several at a time; the same bytes as Fragment.
    void Quads(const SetupPrim& prim, const float* arena, const VaryingSet& active, int xs, int xe, int ys,
               int ye)
    {
        if (plan_.active != &active) PlanLanes(active);
        spanLoop_(*this, prim, arena, xs, xe, ys, ye);
    }

    // Starts fetching the depth and target rows of a primitive's first pixels: in a scene of many small
    // objects each one's pixels have long left the caches, and the depth test would wait for them.
    void Prefetch(const SetupPrim& p) const
    {
#if FEROLT_D3D9_SSE
        constexpr int kRows = 4;
        const int last = std::min<int>(p.maxY, p.minY + kRows - 1);
        for (int y = p.minY; y <= last; ++y)
        {
            if (depthActive_ && y < depthHeight_ && static_cast<size_t>(p.minX) < depthWidth_)
                _mm_prefetch(reinterpret_cast<const char*>(depthPlane_ +
                                                           static_cast<size_t>(y) * depthWidth_ +
                                                           static_cast<size_t>(p.minX)),
                             _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(target_->Row(y) + static_cast<size_t>(p.minX) * 4),
                         _MM_HINT_T0);
        }
#else
        (void)p;
#endif
    }

private:
    template <class L> friend struct SpanLoop;
    bool PrepareQuads();
    bool DepthStencil(size_t index, uint32_t depth);
    // The fragment's colour, red, green, blue, alpha.
    void Shade(int x, int y, const VaryingSource& src, float color[4]);
    void Write(int x, int y, const float color[4]);

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
    bool quads_ = false;
    // Pixels of small triangles waiting to be shaded a step at a time (span_loop.h): per attribute a row
    // of lanes, and each lane's pixel in the target. laneStage_ is the one textured stage, -1 for none, -2
    // when the draw's pixels cannot wait.
    static constexpr int kLaneSlots = 16; // twice the widest step
    static constexpr int kLaneAttributes = 12;
    alignas(32) float laneData_[kLaneAttributes * kLaneSlots];
    alignas(32) int32_t lanePixel_[kLaneSlots];
    int laneCount_ = 0;
    int laneStage_ = -2;
    // For one stage that modulates its texture by the diffuse colour: where its alpha comes from
    // (span_loop.h); -1 for other stage set-ups.
    int modulateAlpha_ = -1;
    // The span loop for the draw's lane width, depth and blend state (span_loop.h), and where it finds the
    // planes it reads, worked out once per draw instead of once per triangle.
    using SpanFn = void (*)(PixelPipeline&, const SetupPrim&, const float*, int, int, int, int);
    SpanFn spanLoop_ = nullptr;
    void (*flushLanes_)(PixelPipeline&, int) = nullptr;
    struct LanePlan
    {
        const VaryingSet* active = nullptr; // the varyings it was made for
        // Plane offsets after the z and 1/w planes; -1 for a varying without one.
        int16_t diffuse[4], specular[4], fog, u[kMaxStages], v[kMaxStages];
        bool specularKept = false;
        bool dense = false;        // every diffuse, kept specular, fog and texture coordinate has a plane
        bool lod[kMaxStages] = {}; // the stage's level follows the derivatives
        int flatAt = 0;            // where flat colours follow the planes
    } plan_;
    // Choose spanLoop_ and flushLanes_ for a BlendKind (span.cpp, span_avx2.cpp).
    void SelectFourLaneLoop(int blendKind);
    void SelectEightLaneLoop(int blendKind);
    void PlanLanes(const VaryingSet& active);
    void FlushLanes();
    float vary_[kMaxVary] = {}; // varyings a draw does not read stay 0
};

// Texture sampling (sampler.cpp); the stage rules are in pixel_lanes.h.
void SampleTexture(const StageConfig& stage, const float coord[4], float lod, bool useLod, float out[4]);
// Level of detail for a stage from the screen-space derivatives of its coordinates (in [0, 1] units).
// Where sampling depends only on its sign or nearest level, a stand-in with the same effect.
float TextureLod(const StageConfig& stage, float dudx, float dvdx, float dudy, float dvdy);
bool StageNeedsLod(const StageConfig& stage);
// Levels above the base that point mip selection takes for rho^2 >= 1 without a LOD bias: the level nearest
// to 0.5 log2(rho^2), read from the exponent so that every path agrees exactly at the thresholds
// (rho^2 = 2^(2k+1)) instead of depending on how a logarithm rounds there.
inline int PointMipSteps(float rho2)
{
    uint32_t bits;
    std::memcpy(&bits, &rho2, 4);
    const int e = static_cast<int>((bits >> 23) & 0xff) - 127; // floor(log2) of a normal value
    return (e + 1) >> 1;
}

void PrepareFastTexture(const StageConfig& stage, FastTexture* out);
// One sample of a 32-bit level with the stage's magnification filter and addressing.
void Sample2DLevel(const StageConfig& stage, const Surface& level, float u, float v, float out[4]);
// Samples as SampleTexture(stage, coord, TextureLod(stage, dudx, dvdx, dudy, dvdy), useLod) does.
void SampleFastTexture(const StageConfig& stage, const FastTexture& t, float u, float v, float dudx,
                       float dvdx, float dudy, float dvdy, bool useLod, float out[4]);

// Whether the span loop may take eight lanes (the processor has AVX2 and tests have not turned it off).
bool PixelAvx2Enabled();
// Tests compare the eight-lane span loop with the four-lane one; false keeps draws on four lanes.
void SetPixelAvx2Allowed(bool allowed);
} // namespace ferolt::d3d9
