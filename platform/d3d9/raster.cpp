// The draw pipeline: vertices in parallel chunks, primitives assembled, clipped and set up in parallel
// batches, binned into tiles, and the tiles rasterised in parallel (rasterize.cpp). Each tile walks the
// batches and their primitives in submission order and every value is computed from absolute pixel
// positions, so the bytes written do not depend on how the work was split between threads.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <thread>

#include "platform/d3d9/checks.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/d3d9/raster.h"
#include "platform/d3d9/workers.h"

#if FEROLT_D3D9_SSE && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define FEROLT_D3D9_SETUP_AVX 1
#define FEROLT_AVX __attribute__((target("avx")))
#endif

namespace ferolt::d3d9
{
namespace
{
constexpr int kTileSize = 64;
constexpr size_t kVertexChunk = 4096;
constexpr size_t kPrimBatch = 8192;
// Batches whose vertices are processed together, so that they are still cached when the batches read them:
// one batch per thread, at most this many (a segment's vertex records then stay within the shared cache).
constexpr size_t kMaxSegmentBatches = 8;
// Below this many pixels in the bounds of its primitives, a draw's tiles are drawn on the calling thread:
// handing them to the workers and waiting for them costs more than the pixels (tens of microseconds when
// the workers have gone to sleep, against a few nanoseconds a pixel).
constexpr uint64_t kInlinePixels = 16384;
constexpr float kSubPixel = 1 << kSubPixelBits;
constexpr int kMaxClipVerts = 3 + 2 * (kFixedClipPlanes + kMaxClipPlanes);

} // namespace

// Primitives and their attribute data are appended to storage that is kept from draw to draw and only
// grows: records are filled in place, with no clearing on the way.
struct Batch
{
    std::vector<SetupPrim> prims; // the first primCount are in use
    size_t primCount = 0;
    std::vector<float> arena; // the first arenaUsed floats are in use
    size_t arenaUsed = 0;
    std::vector<std::vector<uint32_t>> bins; // per tile: primitive indices
    // Bins outside [binFirst, binLast] are empty: a small draw clears and scans only the tiles it reached,
    // not all of a large target's.
    size_t binFirst = SIZE_MAX, binLast = 0;
    void Reached(size_t tile)
    {
        binFirst = std::min(binFirst, tile);
        binLast = std::max(binLast, tile);
    }
    // Empties the batch for a grid of tileCount tiles.
    void Reset(size_t tileCount);
};

namespace
{

// Edge functions of a clockwise triangle with corners at (sx, sy) in 1/256 pixel: a pixel centre (x, y) is
// inside when A x + B y + C >= 0 for all three.
[[gnu::always_inline]] inline void EdgeFunctions(const int64_t* sx, const int64_t* sy, int64_t* edgeA,
                                                 int64_t* edgeB, int64_t* edgeC)
{
    const int64_t sub = int64_t{1} << kSubPixelBits;
    for (int e = 0; e < 3; ++e)
    {
        const int a = e, b = (e + 1) % 3;
        const int64_t dx = sx[b] - sx[a], dy = sy[b] - sy[a];
        // Top-left rule (Direct3D's rasterisation rules): a pixel centre exactly on an edge belongs to the
        // triangle only when the edge is a top edge (horizontal, above the interior) or a left edge.
        const bool topLeft = (dy == 0 && dx > 0) || dy < 0;
        edgeA[e] = -dy * sub;
        edgeB[e] = dx * sub;
        edgeC[e] = dy * sx[a] - dx * sy[a] - (topLeft ? 0 : 1);
    }
}

// Up to four kept varying lanes whose a values are next to each other in the arena, set up together.
struct LaneRun
{
    int16_t from[4]; // varyings (lanes past `lanes` repeat the first)
    int16_t to;      // offset of the first a value after the z and 1/w planes
    int8_t lanes;
    bool dense; // from[] are consecutive and all four lie in the vertex record: one load
};

// What the varying planes of a triangle are made from: the clockwise corners' varyings and 1/w, and the
// geometry of the plane equations.
struct PlaneInputs
{
    const float* vary[3];
    float q[3];
    double dx1, dy1, dx2, dy2, inv;
};

#if FEROLT_D3D9_SETUP_AVX
// Four planes a step in double lanes; each lane computes what the two-lane path computes.
FEROLT_AVX void VaryingPlanesAvx(const PlaneInputs& in, const LaneRun* runs, int count, float* groups)
{
    const __m256d dx1 = _mm256_set1_pd(in.dx1), dy1 = _mm256_set1_pd(in.dy1), dx2 = _mm256_set1_pd(in.dx2),
                  dy2 = _mm256_set1_pd(in.dy2), inv = _mm256_set1_pd(in.inv);
    const __m256d q[3] = {_mm256_set1_pd(in.q[0]), _mm256_set1_pd(in.q[1]), _mm256_set1_pd(in.q[2])};
    for (int r = 0; r < count; ++r)
    {
        const LaneRun& run = runs[r];
        __m256d v[3];
        for (int k = 0; k < 3; ++k)
        {
            const float* at = in.vary[k];
            __m128 x;
            if (run.dense)
                x = _mm_loadu_ps(at + run.from[0]);
            else
                x = _mm_movelh_ps(
                    _mm_unpacklo_ps(_mm_load_ss(at + run.from[0]), _mm_load_ss(at + run.from[1])),
                    _mm_unpacklo_ps(_mm_load_ss(at + run.from[2]), _mm_load_ss(at + run.from[3])));
            v[k] = _mm256_mul_pd(_mm256_cvtps_pd(x), q[k]);
        }
        const __m256d d1 = _mm256_sub_pd(v[1], v[0]), d2 = _mm256_sub_pd(v[2], v[0]);
        const __m128 a = _mm256_cvtpd_ps(v[0]);
        const __m128 b = _mm256_cvtpd_ps(
            _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(d1, dy2), _mm256_mul_pd(d2, dy1)), inv));
        const __m128 c = _mm256_cvtpd_ps(
            _mm256_mul_pd(_mm256_sub_pd(_mm256_mul_pd(dx1, d2), _mm256_mul_pd(dx2, d1)), inv));
        float* to = groups + run.to;
        // Only the run's own lanes: the rest of the slot belongs to other lanes.
        switch (run.lanes)
        {
        case 4:
            _mm_storeu_ps(to, a);
            _mm_storeu_ps(to + 4, b);
            _mm_storeu_ps(to + 8, c);
            break;
        case 3:
            _mm_store_ss(to + 2, _mm_movehl_ps(a, a));
            _mm_store_ss(to + 6, _mm_movehl_ps(b, b));
            _mm_store_ss(to + 10, _mm_movehl_ps(c, c));
            [[fallthrough]];
        case 2:
            _mm_storel_pi(reinterpret_cast<__m64*>(to), a);
            _mm_storel_pi(reinterpret_cast<__m64*>(to + 4), b);
            _mm_storel_pi(reinterpret_cast<__m64*>(to + 8), c);
            break;
        default:
            _mm_store_ss(to, a);
            _mm_store_ss(to + 4, b);
            _mm_store_ss(to + 8, c);
            break;
        }
    }
}
#endif

#if FEROLT_D3D9_SSE
// Whether a pixel centre of small bounds lies inside a triangle, from its edges in the lanes of `row` (at
// the bounds' first centre), `right` and `down` (the change a pixel to the right and a row down; the fourth
// lane repeats the first). A centre is inside when none of the three edges is negative. Every centre is
// tested, without a branch on each: where the first covered one lies is too irregular to predict.
bool AnyCentreByCentres(__m128i row, __m128i right, __m128i down, int width, int height)
{
    __m128i outside = _mm_set1_epi32(-1); // lane 0 stays negative while no centre is inside
    for (int y = 0;; ++y)
    {
        __m128i e = row;
        for (int x = 0;; ++x)
        {
            const __m128i any = _mm_or_si128(_mm_or_si128(e, _mm_shuffle_epi32(e, _MM_SHUFFLE(3, 0, 2, 1))),
                                             _mm_shuffle_epi32(e, _MM_SHUFFLE(3, 1, 0, 2)));
            outside = _mm_and_si128(outside, any);
            if (x == width - 1) break;
            e = _mm_add_epi32(e, right);
        }
        if (y == height - 1) break;
        row = _mm_add_epi32(row, down);
    }
    return _mm_cvtsi128_si32(outside) >= 0;
}

// The same for bounds at most four centres wide, a row at a time: each edge in a register of its own with
// the row's four columns in the lanes. The centres tested and their values are the same; columns past the
// bounds are counted outside.
bool AnyCentreByRows(__m128i row, __m128i right, __m128i down, int width, int height)
{
    __m128i edge[3], step[3];
    auto columns = [&](int e, __m128i first, __m128i a, __m128i b)
    {
        // first, first + a, first + 2a, first + 3a
        const __m128i ramp =
            _mm_add_epi32(_mm_add_epi32(_mm_slli_si128(a, 4), _mm_slli_si128(a, 8)), _mm_slli_si128(a, 12));
        edge[e] = _mm_add_epi32(first, ramp);
        step[e] = b;
    };
    columns(0, _mm_shuffle_epi32(row, 0x00), _mm_shuffle_epi32(right, 0x00), _mm_shuffle_epi32(down, 0x00));
    columns(1, _mm_shuffle_epi32(row, 0x55), _mm_shuffle_epi32(right, 0x55), _mm_shuffle_epi32(down, 0x55));
    columns(2, _mm_shuffle_epi32(row, 0xaa), _mm_shuffle_epi32(right, 0xaa), _mm_shuffle_epi32(down, 0xaa));
    const __m128i beyond = _mm_cmpgt_epi32(_mm_setr_epi32(1, 2, 3, 4), _mm_set1_epi32(width));
    __m128i outside = _mm_set1_epi32(-1); // a lane stays negative while no centre of its column is inside
    for (int y = 0;; ++y)
    {
        outside = _mm_and_si128(outside,
                                _mm_or_si128(_mm_or_si128(edge[0], edge[1]), _mm_or_si128(edge[2], beyond)));
        if (y == height - 1) break;
        for (int e = 0; e < 3; ++e)
            edge[e] = _mm_add_epi32(edge[e], step[e]);
    }
    return _mm_movemask_ps(_mm_castsi128_ps(outside)) != 0xf;
}
#endif

class Setup
{
public:
    Setup(const DrawConfig& cfg, const VertexLayoutOut& layout, const VaryingSet& active, Batch& batch,
          int tilesX, int tilesY)
        : cfg_(cfg), layout_(layout), active_(active), batch_(batch), tilesX_(tilesX), tilesY_(tilesY)
    {
        clip_ = cfg.raster.clipRect;
        varyCount_ = layout.varyCount;
#if FEROLT_D3D9_SSE
        clipFirst_ = _mm_setr_epi32(clip_.left, clip_.top, 0, 0);
        clipLast_ = _mm_setr_epi32(clip_.right - 1, clip_.bottom - 1, 0, 0);
#endif
        PlanLanes();
    }

    // A triangle whose corners are projected already.
    void Triangle(const float* a, const float* b, const float* c, const float* provoking,
                  const ScreenVertex* sa, const ScreenVertex* sb, const ScreenVertex* sc);
    // A triangle from the clipper, projected here.
    void Triangle(const float* a, const float* b, const float* c, const float* provoking);
    void Line(const float* a, const float* b, const float* provoking, uint32_t depthPlane,
              const float* planeOrigin);
    void Point(const float* a, uint32_t depthPlane, const float* planeOrigin);

private:
    bool Project(const float* v, ScreenVertex* out) const;
    // What the screening of a triangle found out, so that its set-up need not find it again.
    struct Screened
    {
        int64_t area; // twice the area in 1/256 pixel squared, made positive by swapping corners 1 and 2
        bool swapped; // corners 1 and 2 were swapped (the triangle is counter-clockwise on the screen)
        int32_t minX, maxX, minY, maxY; // covered pixel centres, inside the clip rectangle
        // The corners span less than kCompactSpan in x and in y: edge functions relative to the bounds fit
        // 16-bit factors and 32-bit values.
        bool compact;
        // The corners span less than kShortSpan in x and in y (SetupPrim::shortEdges).
        bool shortSpan;
        // Solid fill only. The edge record fits 32 bits (SetupPrim::edge): it is in `edge`; otherwise the
        // edge functions (EdgeFunctions, of the clockwise corners) are in edgeA, edgeB, edgeC.
        bool narrow;
        alignas(16) int32_t edge[12]; // A of the three edges and one spare, then B, then C at (minX, minY)
        int64_t edgeA[3], edgeB[3], edgeC[3];
    };
    static constexpr int32_t kCompactSpan = 1 << 14;
    // Below this span, A and B of every edge are below 2^20 in magnitude and C at the bounds' corner below
    // 2^25: differences and offsets from the first covered centre are all below 2^12.
    static constexpr int32_t kShortSpan = 1 << 12;
    // Area, culling and bounds; false when the triangle is degenerate or culled.
    [[gnu::always_inline]] bool Screen(const ScreenVertex& s0, const ScreenVertex& s1, const ScreenVertex& s2,
                                       Screened* out) const;
    // Whether a solid triangle can draw a pixel: not degenerate, not culled, and, when its bounds are small,
    // holding a pixel centre by the rasteriser's own test. Most triangles of a dense mesh stop here, before
    // any set-up.
    bool Visible(const ScreenVertex& s0, const ScreenVertex& s1, const ScreenVertex& s2, Screened* out) const;
    // Corners go in registers: arrays of them passed through memory stall the loads that read them back.
    // `known` is what Screen (and, for solid fill, Visible) found for the same corners.
    void SetupTriangle(const float* va, const float* vb, const float* vc, const float* provoking,
                       const ScreenVertex& s0, const ScreenVertex& s1, const ScreenVertex& s2,
                       const Screened& known);
    // The clockwise corners of a triangle and the geometry of its planes.
    struct Corners
    {
        const ScreenVertex* s[3];
        const float* vary[3];
        double x0, y0, dx1, dy1, dx2, dy2, inv;
    };
    Corners ClockwiseCorners(const float* va, const float* vb, const float* vc, const ScreenVertex& s0,
                             const ScreenVertex& s1, const ScreenVertex& s2, const Screened& known) const;
    void Planes(const Corners& corners, Plane* out, float* groups) const;
    void EdgesOrCorners(const float* va, const float* vb, const float* vc, const float* provoking,
                        const SetupPrim& p);
    void StoreEdges(SetupPrim& p, const Screened& known);
    // Adds the primitive to the bins of the tiles its pixel bounds reach.
    [[gnu::always_inline]] void Bin(uint32_t index, int minX, int maxX, int minY, int maxY);
    [[gnu::noinline]] void BinSpread(uint32_t index, int tx0, int tx1, int ty0, int ty1);
    uint32_t Alloc(size_t floats)
    {
        const size_t at = batch_.arenaUsed;
        if (at + floats > batch_.arena.size())
            batch_.arena.resize(std::max(2 * batch_.arena.size(), at + floats));
        batch_.arenaUsed = at + floats;
        return static_cast<uint32_t>(at);
    }
    SetupPrim& NewPrim()
    {
        if (batch_.primCount == batch_.prims.size())
            batch_.prims.resize(std::max<size_t>(256, 2 * batch_.prims.size()));
        return batch_.prims[batch_.primCount++];
    }
    uint32_t LastPrim() const
    {
        return static_cast<uint32_t>(batch_.primCount - 1);
    }
    // Sorts the kept varying lanes into the work lists below, once per draw.
    void PlanLanes();

    const DrawConfig& cfg_;
    const VertexLayoutOut& layout_;
    const VaryingSet& active_;
    Batch& batch_;
    int tilesX_, tilesY_;
    RECT clip_;
#if FEROLT_D3D9_SSE
    __m128i clipFirst_, clipLast_; // the first and last pixel centres inside clip_, x and y
#endif
    int varyCount_;
    // The varying planes of a triangle, worked out once per draw instead of once per triangle: kept lanes
    // go two at a time (the a values of a pair are next to each other in the arena) or one at a time, and
    // lanes below a group's last kept one that have no plane are written as zero planes.
    struct LaneWork
    {
        int16_t from[2]; // varyings (the second is a copy of the first for a single lane)
        int16_t to;      // offset of the first a value after the z and 1/w planes
    };
    LaneWork pairs_[kMaxVary], singles_[kMaxVary];
    int16_t zeros_[kMaxVary];
    int pairCount_ = 0, singleCount_ = 0, zeroCount_ = 0;
    // The same lanes up to four at a time, where the processor has AVX.
    LaneRun runs_[kMaxVary];
    int runCount_ = 0;
    bool avx_ = false;
};

void Setup::PlanLanes()
{
    struct Lane
    {
        int from, to; // from: -1 for a zero plane
    };
    Lane lanes[VaryingSet::kMaxGroups * 4];
    int n = 0;
    for (int g = 0; g < active_.groupCount; ++g)
        for (int i = 0; i < active_.groupLanes[g]; ++i)
        {
            const int from = active_.groupBase[g] + i;
            // A lane past the end of the vertex record reads as 0, as one without a plane.
            const bool kept = active_.lane[g][i] && from < varyCount_;
            lanes[n++] = {kept ? from : -1, active_.groupAt[g] + i};
        }
    for (int k = 0; k < n; ++k)
    {
        const Lane& l = lanes[k];
        if (l.from < 0)
        {
            zeros_[zeroCount_++] = static_cast<int16_t>(l.to);
            continue;
        }
        // a values are in the first four floats of a slot of twelve; a pair must not cross into the b values.
        if (k + 1 < n && lanes[k + 1].from >= 0 && lanes[k + 1].to == l.to + 1 && l.to % 12 < 3)
        {
            pairs_[pairCount_++] = {{static_cast<int16_t>(l.from), static_cast<int16_t>(lanes[k + 1].from)},
                                    static_cast<int16_t>(l.to)};
            ++k;
        }
        else
            singles_[singleCount_++] = {{static_cast<int16_t>(l.from), static_cast<int16_t>(l.from)},
                                        static_cast<int16_t>(l.to)};
    }
#if FEROLT_D3D9_SETUP_AVX
    // The processor has AVX where it has AVX2; tests that turn the eight-wide pixel loop off also reach the
    // two-lane path here, which gives the same bits.
    avx_ = PixelAvx2Enabled();
    for (int k = 0; k < n;)
    {
        if (lanes[k].from < 0)
        {
            ++k;
            continue;
        }
        LaneRun run{};
        run.to = static_cast<int16_t>(lanes[k].to);
        int m = 0;
        // a values are in the first four floats of a slot of twelve: a run must not cross into the b values.
        while (m < 4 && k + m < n && lanes[k + m].from >= 0 && lanes[k + m].to == lanes[k].to + m &&
               (lanes[k].to + m) % 12 < 4)
        {
            run.from[m] = static_cast<int16_t>(lanes[k + m].from);
            ++m;
        }
        run.lanes = static_cast<int8_t>(m);
        for (int i = m; i < 4; ++i)
            run.from[i] = run.from[0];
        run.dense = run.from[0] + 4 <= varyCount_;
        for (int i = 1; i < 4; ++i)
            run.dense = run.dense && run.from[i] == run.from[0] + i;
        // Lanes past the run's own may read further varyings when the four are consecutive.
        if (!run.dense && run.from[0] + 4 <= varyCount_)
        {
            bool consecutive = true;
            for (int i = 1; i < m; ++i)
                consecutive = consecutive && run.from[i] == run.from[0] + i;
            if (consecutive)
            {
                for (int i = m; i < 4; ++i)
                    run.from[i] = static_cast<int16_t>(run.from[0] + i);
                run.dense = true;
            }
        }
        runs_[runCount_++] = run;
        k += m;
    }
#endif
}

bool Setup::Project(const float* v, ScreenVertex* out) const
{
    return ProjectVertex(cfg_, v, out);
}

inline void Setup::Bin(uint32_t index, int minX, int maxX, int minY, int maxY)
{
    // Bounds inside the clip rectangle keep every bin index inside the grid and every pixel inside the
    // target.
    FEROLT_D3D9_CHECK(minX >= clip_.left && maxX < clip_.right && minY >= clip_.top && maxY < clip_.bottom);
    FEROLT_D3D9_CHECK(batch_.prims[index].data <= batch_.arenaUsed);
    const int tx0 = minX / kTileSize, tx1 = maxX / kTileSize;
    const int ty0 = minY / kTileSize, ty1 = maxY / kTileSize;
    if (tx0 == tx1 && ty0 == ty1 && tx0 < tilesX_ && ty0 < tilesY_)
    {
        // Most small triangles lie in one tile.
        const size_t tile = static_cast<size_t>(ty0) * tilesX_ + tx0;
        FEROLT_D3D9_CHECK(tile < batch_.bins.size() && index < batch_.primCount);
        std::vector<uint32_t>& bin = batch_.bins[tile];
        if (bin.size() != bin.capacity())
        {
            bin.push_back(index);
            batch_.Reached(tile);
            return;
        }
    }
    BinSpread(index, tx0, tx1, ty0, ty1);
}

void Setup::BinSpread(uint32_t index, int tx0, int tx1, int ty0, int ty1)
{
    for (int ty = ty0; ty <= ty1 && ty < tilesY_; ++ty)
        for (int tx = tx0; tx <= tx1 && tx < tilesX_; ++tx)
        {
            const size_t tile = static_cast<size_t>(ty) * tilesX_ + tx;
            FEROLT_D3D9_CHECK(tile < batch_.bins.size() && index < batch_.primCount);
            batch_.bins[tile].push_back(index);
            batch_.Reached(tile);
        }
}

inline bool Setup::Screen(const ScreenVertex& s0, const ScreenVertex& s1, const ScreenVertex& s2,
                          Screened* out) const
{
    const int64_t x0 = s0.fx, y0 = s0.fy, x1 = s1.fx, y1 = s1.fy, x2 = s2.fx, y2 = s2.fy;
    const int64_t area = (x1 - x0) * (y2 - y0) - (x2 - x0) * (y1 - y0);
    if (area == 0) return false;
    // Positive area is clockwise on the screen (y grows downwards).
    const DWORD cull = cfg_.raster.cullMode;
    if ((cull == D3DCULL_CW && area > 0) || (cull == D3DCULL_CCW && area < 0)) return false;
    out->area = area < 0 ? -area : area;
    out->swapped = area < 0;
    // Covered pixel centres: ceil and floor of the bounds in pixels (shifts round towards minus infinity).
#if FEROLT_D3D9_SSE
    // x and y side by side in 32-bit lanes: snapped positions lie within the guard band's limit
    // (ProjectVertex), far from overflowing.
    const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&s0.fx));
    const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&s1.fx));
    const __m128i p2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&s2.fx));
    auto lesser = [](__m128i a, __m128i b)
    {
        const __m128i m = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(m, b), _mm_andnot_si128(m, a));
    };
    auto greater = [](__m128i a, __m128i b)
    {
        const __m128i m = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b));
    };
    const __m128i lo = lesser(p0, lesser(p1, p2)), hi = greater(p0, greater(p1, p2));
    const __m128i span = _mm_sub_epi32(hi, lo);
    auto below = [&](int32_t limit)
    { return (_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpgt_epi32(_mm_set1_epi32(limit), span))) & 3) == 3; };
    out->compact = below(kCompactSpan);
    out->shortSpan = below(kShortSpan);
    const __m128i first =
        greater(_mm_srai_epi32(_mm_add_epi32(lo, _mm_set1_epi32((1 << kSubPixelBits) - 1)), kSubPixelBits),
                clipFirst_);
    const __m128i last = lesser(_mm_srai_epi32(hi, kSubPixelBits), clipLast_);
    out->minX = _mm_cvtsi128_si32(first);
    out->minY = _mm_cvtsi128_si32(_mm_shuffle_epi32(first, 1));
    out->maxX = _mm_cvtsi128_si32(last);
    out->maxY = _mm_cvtsi128_si32(_mm_shuffle_epi32(last, 1));
#else
    const int64_t round = (int64_t{1} << kSubPixelBits) - 1;
    const int64_t minFx = std::min(x0, std::min(x1, x2)), maxFx = std::max(x0, std::max(x1, x2));
    const int64_t minFy = std::min(y0, std::min(y1, y2)), maxFy = std::max(y0, std::max(y1, y2));
    out->minX = static_cast<int32_t>(std::max<int64_t>((minFx + round) >> kSubPixelBits, clip_.left));
    out->maxX = static_cast<int32_t>(std::min<int64_t>(maxFx >> kSubPixelBits, clip_.right - 1));
    out->minY = static_cast<int32_t>(std::max<int64_t>((minFy + round) >> kSubPixelBits, clip_.top));
    out->maxY = static_cast<int32_t>(std::min<int64_t>(maxFy >> kSubPixelBits, clip_.bottom - 1));
    out->compact = maxFx - minFx < kCompactSpan && maxFy - minFy < kCompactSpan;
    out->shortSpan = maxFx - minFx < kShortSpan && maxFy - minFy < kShortSpan;
#endif
    return true;
}

bool Setup::Visible(const ScreenVertex& s0, const ScreenVertex& s1, const ScreenVertex& s2,
                    Screened* out) const
{
    if (!Screen(s0, s1, s2, out)) return false;
    const int32_t minX = out->minX, maxX = out->maxX, minY = out->minY, maxY = out->maxY;
    if (minX > maxX || minY > maxY) return false;
    const ScreenVertex& t1 = out->swapped ? s2 : s1;
    const ScreenVertex& t2 = out->swapped ? s1 : s2;
    const bool small = (static_cast<int64_t>(maxX - minX) + 1) * (maxY - minY + 1) <= 16;
#if FEROLT_D3D9_SSE
    if (out->compact)
    {
        // The edges in three 32-bit lanes (the fourth repeats the first), with positions relative to the
        // pixel centre (minX, minY): the corners are less than kCompactSpan from it, so differences and
        // positions are 16-bit values and their products and sums exact in 32 bits. The values are those
        // EdgeFunctions gives in 64 bits.
        const __m128i fx = _mm_sub_epi32(_mm_setr_epi32(s0.fx, t1.fx, t2.fx, s0.fx),
                                         _mm_set1_epi32(minX * (1 << kSubPixelBits)));
        const __m128i fy = _mm_sub_epi32(_mm_setr_epi32(s0.fy, t1.fy, t2.fy, s0.fy),
                                         _mm_set1_epi32(minY * (1 << kSubPixelBits)));
        const __m128i nx = _mm_shuffle_epi32(fx, _MM_SHUFFLE(1, 0, 2, 1)); // the edge's second corner
        const __m128i ny = _mm_shuffle_epi32(fy, _MM_SHUFFLE(1, 0, 2, 1));
        const __m128i zero = _mm_setzero_si128();
        const __m128i dx = _mm_sub_epi32(nx, fx), dy = _mm_sub_epi32(ny, fy);
        // Top-left rule (see EdgeFunctions).
        const __m128i topLeft = _mm_or_si128(
            _mm_and_si128(_mm_cmpeq_epi32(dy, zero), _mm_cmpgt_epi32(dx, zero)), _mm_cmpgt_epi32(zero, dy));
        const __m128i low = _mm_set1_epi32(0xffff);
        // dy x - dx y in one multiply-add of 16-bit pairs.
        const __m128i factors =
            _mm_or_si128(_mm_and_si128(dy, low), _mm_slli_epi32(_mm_sub_epi32(zero, dx), 16));
        const __m128i position = _mm_or_si128(_mm_and_si128(fx, low), _mm_slli_epi32(fy, 16));
        __m128i row =
            _mm_sub_epi32(_mm_add_epi32(_mm_madd_epi16(factors, position), _mm_set1_epi32(-1)), topLeft);
        const __m128i a = _mm_slli_epi32(_mm_sub_epi32(zero, dy), kSubPixelBits);
        const __m128i b = _mm_slli_epi32(dx, kSubPixelBits);
        _mm_store_si128(reinterpret_cast<__m128i*>(out->edge), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out->edge + 3), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out->edge + 6), row);
        out->narrow = true;
        if (!small) return true;
        const int width = maxX - minX + 1, height = maxY - minY + 1;
        if (width <= 4 && width * height > 4) return AnyCentreByRows(row, a, b, width, height);
        return AnyCentreByCentres(row, a, b, width, height);
    }
#endif
    const int64_t sx[3] = {s0.fx, t1.fx, t2.fx}, sy[3] = {s0.fy, t1.fy, t2.fy};
    EdgeFunctions(sx, sy, out->edgeA, out->edgeB, out->edgeC);
    int64_t row[3];
    // 32 bits hold the edge functions of all but large triangles when C is taken at the bounds' corner.
    uint64_t outside = 0; // high bits set by any value outside the 32-bit range
    for (int e = 0; e < 3; ++e)
    {
        row[e] = out->edgeA[e] * minX + out->edgeB[e] * minY + out->edgeC[e];
        for (int64_t x : {out->edgeA[e], out->edgeB[e], row[e]})
            outside |= static_cast<uint64_t>(x) + (uint64_t{1} << 31);
        out->edge[e] = static_cast<int32_t>(out->edgeA[e]);
        out->edge[3 + e] = static_cast<int32_t>(out->edgeB[e]);
        out->edge[6 + e] = static_cast<int32_t>(row[e]);
    }
    out->narrow = (outside >> 32) == 0;
    if (!small) return true;
    // Centre by centre, stepping the edge functions (exact in 64 bits) instead of evaluating them anew.
    const int64_t a0 = out->edgeA[0], a1 = out->edgeA[1], a2 = out->edgeA[2];
    for (int32_t y = minY;; ++y)
    {
        int64_t e0 = row[0], e1 = row[1], e2 = row[2];
        for (int32_t x = minX;; ++x)
        {
            if ((e0 | e1 | e2) >= 0) return true;
            if (x == maxX) break;
            e0 += a0, e1 += a1, e2 += a2;
        }
        if (y == maxY) return false;
        for (int e = 0; e < 3; ++e)
            row[e] += out->edgeB[e];
    }
}

void Setup::Triangle(const float* a, const float* b, const float* c, const float* provoking,
                     const ScreenVertex* sa, const ScreenVertex* sb, const ScreenVertex* sc)
{
    Screened known;
    if (cfg_.raster.fillMode != D3DFILL_SOLID)
    {
        if (Screen(*sa, *sb, *sc, &known)) SetupTriangle(a, b, c, provoking, *sa, *sb, *sc, known);
        return;
    }
    if (Visible(*sa, *sb, *sc, &known)) SetupTriangle(a, b, c, provoking, *sa, *sb, *sc, known);
}

void Setup::Triangle(const float* a, const float* b, const float* c, const float* provoking)
{
    ScreenVertex s[3];
    if (!Project(a, &s[0]) || !Project(b, &s[1]) || !Project(c, &s[2])) return;
    Triangle(a, b, c, provoking, &s[0], &s[1], &s[2]);
}

// The clockwise corners of a screened triangle and the geometry its planes are made from.
inline Setup::Corners Setup::ClockwiseCorners(const float* va, const float* vb, const float* vc,
                                              const ScreenVertex& s0, const ScreenVertex& s1,
                                              const ScreenVertex& s2, const Screened& known) const
{
    FEROLT_D3D9_CHECK(known.area > 0);
    const int vary = layout_.Vary();
    Corners k;
    k.s[0] = &s0;
    k.s[1] = known.swapped ? &s2 : &s1;
    k.s[2] = known.swapped ? &s1 : &s2;
    k.vary[0] = va + vary;
    k.vary[1] = (known.swapped ? vc : vb) + vary;
    k.vary[2] = (known.swapped ? vb : vc) + vary;
    // 1 / (dx1 dy2 - dx2 dy1) of the planes: that difference is area / 256^2 exactly (the products of snapped
    // differences are exact in double), so the division can start now and overlap what follows.
    k.inv = static_cast<double>(kSubPixel) * kSubPixel / static_cast<double>(known.area);
#if FEROLT_D3D9_SSE
    // The corners' varyings are read last; their records may have left the nearest cache.
    for (const float* c : k.vary)
    {
        _mm_prefetch(reinterpret_cast<const char*>(c), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(c + 15), _MM_HINT_T0);
    }
#endif
    const double sub = kSubPixel;
    k.x0 = static_cast<double>(s0.fx) / sub;
    k.y0 = static_cast<double>(s0.fy) / sub;
    k.dx1 = static_cast<double>(int64_t{k.s[1]->fx} - s0.fx) / sub;
    k.dy1 = static_cast<double>(int64_t{k.s[1]->fy} - s0.fy) / sub;
    k.dx2 = static_cast<double>(int64_t{k.s[2]->fx} - s0.fx) / sub;
    k.dy2 = static_cast<double>(int64_t{k.s[2]->fy} - s0.fy) / sub;
    return k;
}

// The z and 1/w planes into out[0] and out[1], and the varying planes into their slots at `groups`.
[[gnu::always_inline]] inline void Setup::Planes(const Corners& k, Plane* out, float* groups) const
{
    const ScreenVertex &s0 = *k.s[0], &t1 = *k.s[1], &t2 = *k.s[2];
    const float *v0 = k.vary[0], *v1 = k.vary[1], *v2 = k.vary[2];
    const double dx1 = k.dx1, dy1 = k.dy1, dx2 = k.dx2, dy2 = k.dy2, inv = k.inv;
    for (int z = 0; z < zeroCount_; ++z)
        groups[zeros_[z]] = groups[zeros_[z] + 4] = groups[zeros_[z] + 8] = 0.0f;
#if FEROLT_D3D9_SSE
    // Two planes a step in double lanes: each lane computes what the scalar plane would.
    const __m128d pdx1 = _mm_set1_pd(dx1), pdy1 = _mm_set1_pd(dy1), pdx2 = _mm_set1_pd(dx2),
                  pdy2 = _mm_set1_pd(dy2), pinv = _mm_set1_pd(inv);
    auto planes2 = [&](__m128d a0, __m128d a1, __m128d a2, __m128* pa, __m128* pb, __m128* pc)
    {
        const __m128d d1 = _mm_sub_pd(a1, a0), d2 = _mm_sub_pd(a2, a0);
        *pa = _mm_cvtpd_ps(a0);
        *pb = _mm_cvtpd_ps(_mm_mul_pd(_mm_sub_pd(_mm_mul_pd(d1, pdy2), _mm_mul_pd(d2, pdy1)), pinv));
        *pc = _mm_cvtpd_ps(_mm_mul_pd(_mm_sub_pd(_mm_mul_pd(pdx1, d2), _mm_mul_pd(pdx2, d1)), pinv));
    };
    // z and 1/w sit next to each other in the screen records.
    auto zq = [](const ScreenVertex& s)
    { return _mm_cvtps_pd(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(&s.z)))); };
    {
        __m128 a, b, c;
        planes2(zq(s0), zq(t1), zq(t2), &a, &b, &c);
        float* o = reinterpret_cast<float*>(out);
        const __m128 ab = _mm_unpacklo_ps(a, b); // z a, z b, 1/w a, 1/w b
        _mm_storel_pi(reinterpret_cast<__m64*>(o), ab);
        _mm_store_ss(o + 2, c);
        _mm_storeh_pi(reinterpret_cast<__m64*>(o + 3), ab);
        _mm_store_ss(o + 5, _mm_shuffle_ps(c, c, 1));
    }
#if FEROLT_D3D9_SETUP_AVX
    if (avx_)
    {
        const PlaneInputs in{{v0, v1, v2}, {s0.q, t1.q, t2.q}, dx1, dy1, dx2, dy2, inv};
        VaryingPlanesAvx(in, runs_, runCount_, groups);
        return;
    }
#endif
    const __m128d q0 = _mm_set1_pd(s0.q), q1 = _mm_set1_pd(t1.q), q2 = _mm_set1_pd(t2.q);
    auto lanes = [&](const LaneWork& w)
    {
        auto load = [&](const float* v, __m128d q)
        {
            const __m128 x = _mm_unpacklo_ps(_mm_load_ss(v + w.from[0]), _mm_load_ss(v + w.from[1]));
            return _mm_mul_pd(_mm_cvtps_pd(x), q);
        };
        __m128 a, b, c;
        planes2(load(v0, q0), load(v1, q1), load(v2, q2), &a, &b, &c);
        struct Out
        {
            __m128 a, b, c;
        };
        return Out{a, b, c};
    };
    for (int n = 0; n < pairCount_; ++n)
    {
        const auto r = lanes(pairs_[n]);
        float* at = groups + pairs_[n].to;
        _mm_storel_pi(reinterpret_cast<__m64*>(at), r.a);
        _mm_storel_pi(reinterpret_cast<__m64*>(at + 4), r.b);
        _mm_storel_pi(reinterpret_cast<__m64*>(at + 8), r.c);
    }
    for (int n = 0; n < singleCount_; ++n)
    {
        const auto r = lanes(singles_[n]);
        float* at = groups + singles_[n].to;
        _mm_store_ss(at, r.a);
        _mm_store_ss(at + 4, r.b);
        _mm_store_ss(at + 8, r.c);
    }
#else
    auto plane = [&](double a0, double a1, double a2)
    {
        const double d1 = a1 - a0, d2 = a2 - a0;
        return Plane{static_cast<float>(a0), static_cast<float>((d1 * dy2 - d2 * dy1) * inv),
                     static_cast<float>((dx1 * d2 - dx2 * d1) * inv)};
    };
    out[0] = plane(s0.z, t1.z, t2.z);
    out[1] = plane(s0.q, t1.q, t2.q);
    auto lane = [&](int from, int to)
    {
        const Plane pl = plane(static_cast<double>(v0[from]) * s0.q, static_cast<double>(v1[from]) * t1.q,
                               static_cast<double>(v2[from]) * t2.q);
        groups[to] = pl.a;
        groups[to + 4] = pl.b;
        groups[to + 8] = pl.c;
    };
    for (int n = 0; n < pairCount_; ++n)
    {
        lane(pairs_[n].from[0], pairs_[n].to);
        lane(pairs_[n].from[1], pairs_[n].to + 1);
    }
    for (int n = 0; n < singleCount_; ++n)
        lane(singles_[n].from[0], singles_[n].to);
#endif
}

// Wireframe and point fill draw the culled triangle's edges or corners with depths from its plane, so they
// match the same triangle drawn solid; the triangle's own record is given back.
void Setup::EdgesOrCorners(const float* va, const float* vb, const float* vc, const float* provoking,
                           const SetupPrim& p)
{
    const uint32_t planeAt = p.data;
    const float origin[2] = {p.x0, p.y0};
    --batch_.primCount;
    // Back to the submission order so that edges are the triangle's own, a-b, b-c, c-a.
    const float* order[3] = {va, vb, vc};
    if (cfg_.raster.fillMode == D3DFILL_WIREFRAME)
        for (int e = 0; e < 3; ++e)
            Line(order[e], order[(e + 1) % 3], provoking, planeAt, origin);
    else
        for (int e = 0; e < 3; ++e)
            Point(order[e], planeAt, origin);
}

// The edge functions in the record when they fit, in the arena otherwise.
inline void Setup::StoreEdges(SetupPrim& p, const Screened& known)
{
    p.wideEdges = !known.narrow;
    p.shortEdges = known.narrow && known.shortSpan;
    if (known.narrow)
    {
        std::memcpy(p.edge, known.edge, sizeof p.edge);
        return;
    }
    EdgeSet wide;
    for (int e = 0; e < 3; ++e)
    {
        wide.a[e] = known.edgeA[e];
        wide.b[e] = known.edgeB[e];
        wide.c[e] = known.edgeC[e];
    }
    const uint32_t at = Alloc(sizeof wide / sizeof(float));
    std::memcpy(batch_.arena.data() + at, &wide, sizeof wide);
    p.edge[0] = static_cast<int32_t>(at);
}

void Setup::SetupTriangle(const float* va, const float* vb, const float* vc, const float* provoking,
                          const ScreenVertex& s0, const ScreenVertex& s1, const ScreenVertex& s2,
                          const Screened& known)
{
    const Corners corners = ClockwiseCorners(va, vb, vc, s0, s1, s2, known);
    // Built in place: copying the record in afterwards stalls on its freshly written fields.
    SetupPrim& p = NewPrim();
    p.kind = PrimKind::Triangle;
    p.flat = cfg_.pixel.flatShade;
    p.minX = static_cast<int16_t>(known.minX);
    p.maxX = static_cast<int16_t>(known.maxX);
    p.minY = static_cast<int16_t>(known.minY);
    p.maxY = static_cast<int16_t>(known.maxY);
    p.x0 = static_cast<float>(corners.x0);
    p.y0 = static_cast<float>(corners.y0);
    const int planeFloats = 6 + active_.Floats();
    p.data = Alloc(static_cast<size_t>(planeFloats) + (p.flat ? 8 : 0));
    Plane* out = reinterpret_cast<Plane*>(batch_.arena.data() + p.data);
    Planes(corners, out, batch_.arena.data() + p.data + 6);
    if (p.flat)
        std::memcpy(batch_.arena.data() + p.data + planeFloats, provoking + layout_.Vary() + kVaryDiffuse,
                    8 * sizeof(float));
    const DepthStencilConfig& ds = cfg_.pixel.depth;
    p.depthOffset =
        ds.depthBias + ds.slopeScaleDepthBias * std::max(std::fabs(out[0].b), std::fabs(out[0].c));

    if (cfg_.raster.fillMode != D3DFILL_SOLID)
    {
        EdgesOrCorners(va, vb, vc, provoking, p);
        return;
    }
    StoreEdges(p, known);
    Bin(LastPrim(), known.minX, known.maxX, known.minY, known.maxY);
}

void Setup::Line(const float* va, const float* vb, const float* provoking, uint32_t depthPlane,
                 const float* planeOrigin)
{
    ScreenVertex v[2];
    if (!Project(va, &v[0]) || !Project(vb, &v[1])) return;
    SetupPrim p{};
    p.kind = PrimKind::Line;
    p.flat = cfg_.pixel.flatShade;
    p.depthPlane = depthPlane;
    const float minX = std::min(v[0].x, v[1].x), maxX = std::max(v[0].x, v[1].x);
    const float minY = std::min(v[0].y, v[1].y), maxY = std::max(v[0].y, v[1].y);
    const int32_t x0 = std::max<int32_t>(static_cast<int32_t>(std::floor(minX)) - 1, clip_.left);
    const int32_t x1 = std::min<int32_t>(static_cast<int32_t>(std::ceil(maxX)) + 1, clip_.right - 1);
    const int32_t y0 = std::max<int32_t>(static_cast<int32_t>(std::floor(minY)) - 1, clip_.top);
    const int32_t y1 = std::min<int32_t>(static_cast<int32_t>(std::ceil(maxY)) + 1, clip_.bottom - 1);
    if (x0 > x1 || y0 > y1) return;
    p.minX = static_cast<int16_t>(x0);
    p.maxX = static_cast<int16_t>(x1);
    p.minY = static_cast<int16_t>(y0);
    p.maxY = static_cast<int16_t>(y1);
    if (planeOrigin)
    {
        p.x0 = planeOrigin[0];
        p.y0 = planeOrigin[1];
    }
    const DepthStencilConfig& ds = cfg_.pixel.depth;
    p.depthOffset = ds.depthBias;
    const int per = 4 + varyCount_;
    p.data = Alloc(static_cast<size_t>(2 * per) + (p.flat ? 8 : 0));
    float* out = batch_.arena.data() + p.data;
    for (int e = 0; e < 2; ++e)
    {
        float* o = out + e * per;
        o[0] = v[e].x;
        o[1] = v[e].y;
        o[2] = v[e].z;
        o[3] = v[e].q;
        const float* vary = (e == 0 ? va : vb) + layout_.Vary();
        for (int i = 0; i < varyCount_; ++i)
            o[4 + i] = vary[i] * v[e].q;
    }
    if (p.flat) std::memcpy(out + 2 * per, provoking + layout_.Vary() + kVaryDiffuse, 8 * sizeof(float));
    NewPrim() = p;
    Bin(LastPrim(), p.minX, p.maxX, p.minY, p.maxY);
}

void Setup::Point(const float* va, uint32_t depthPlane, const float* planeOrigin)
{
    ScreenVertex v;
    if (!Project(va, &v)) return;
    float size = va[VertexLayoutOut::kPointSize];
    if (!(size >= 1.0f)) size = 1.0f;
    if (size > 64.0f) size = 64.0f;
    SetupPrim p{};
    p.kind = PrimKind::Point;
    p.depthPlane = depthPlane;
    const float half = size * 0.5f;
    // Pixel centres in [x - size/2, x + size/2), the same half-open convention as triangles.
    const int32_t x0 = std::max<int32_t>(static_cast<int32_t>(std::ceil(v.x - half)), clip_.left);
    const int32_t x1 = std::min<int32_t>(static_cast<int32_t>(std::ceil(v.x + half)) - 1, clip_.right - 1);
    const int32_t y0 = std::max<int32_t>(static_cast<int32_t>(std::ceil(v.y - half)), clip_.top);
    const int32_t y1 = std::min<int32_t>(static_cast<int32_t>(std::ceil(v.y + half)) - 1, clip_.bottom - 1);
    if (x0 > x1 || y0 > y1) return;
    p.minX = static_cast<int16_t>(x0);
    p.maxX = static_cast<int16_t>(x1);
    p.minY = static_cast<int16_t>(y0);
    p.maxY = static_cast<int16_t>(y1);
    if (planeOrigin)
    {
        p.x0 = planeOrigin[0];
        p.y0 = planeOrigin[1];
    }
    p.depthOffset = cfg_.pixel.depth.depthBias;
    p.data = Alloc(4 + static_cast<size_t>(varyCount_));
    float* out = batch_.arena.data() + p.data;
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
    out[3] = 1.0f / v.q;
    for (int i = 0; i < varyCount_; ++i)
        out[4 + i] = va[layout_.Vary() + i];
    NewPrim() = p;
    Bin(LastPrim(), p.minX, p.maxX, p.minY, p.maxY);
}

struct DrawMemory
{
    std::vector<float> verts;
    std::vector<ScreenVertex> screen;
};

DrawMemory& Memory()
{
    thread_local DrawMemory memory;
    return memory;
}

uint32_t Outside(const VertexLayoutOut& layout, const float* v)
{
    uint32_t bits = 0;
    for (int i = 0; i < layout.clipCount; ++i)
        if (v[VertexLayoutOut::kClip + i] < 0.0f) bits |= 1u << i;
    return bits;
}

uint32_t Flags(const float* v)
{
    uint32_t f;
    std::memcpy(&f, v + VertexLayoutOut::kFlags, 4);
    return f;
}

// Positions in the index list that primitives [first, end) read (fans also read position 0).
void BatchIndices(D3DPRIMITIVETYPE type, size_t first, size_t end, size_t* begin, size_t* stop)
{
    switch (type)
    {
    case D3DPT_LINELIST:
        *begin = 2 * first, *stop = 2 * end;
        break;
    case D3DPT_LINESTRIP:
        *begin = first, *stop = end + 1;
        break;
    case D3DPT_TRIANGLELIST:
        *begin = 3 * first, *stop = 3 * end;
        break;
    case D3DPT_TRIANGLESTRIP:
        *begin = first, *stop = end + 2;
        break;
    case D3DPT_TRIANGLEFAN:
        *begin = first + 1, *stop = end + 2;
        break;
    default:
        *begin = first, *stop = end;
        break;
    }
}

UINT VerticesFor(D3DPRIMITIVETYPE type, UINT prims)
{
    const uint64_t n = prims;
    uint64_t v = 0;
    switch (type)
    {
    case D3DPT_POINTLIST:
        v = n;
        break;
    case D3DPT_LINELIST:
        v = 2 * n;
        break;
    case D3DPT_LINESTRIP:
        v = n + 1;
        break;
    case D3DPT_TRIANGLELIST:
        v = 3 * n;
        break;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        v = n + 2;
        break;
    default:
        return 0;
    }
    return v > 0xffffffffu ? 0xffffffffu : static_cast<UINT>(v);
}
} // namespace

// ---- the draw
// --------------------------------------------------------------------------------------------------
// One draw from its call to its primitives binned into the tiles of a grid; the tile pass draws them later,
// so that many draws share one pass. Its members are what every phase of the draw reads.
class DrawJob
{
public:
    // Takes a draw; the job is kept from draw to draw, with the memory of its plans.
    void Start(const DrawConfig& cfg, const DrawCall& call)
    {
        cfg_ = &cfg;
        call_ = call;
        batchCount_ = 0;
        const UINT vertexCount = VerticesFor(call.type, call.primitiveCount);
        const RECT& clip = cfg.raster.clipRect;
        if (vertexCount == 0 || call.primitiveCount == 0 || clip.left >= clip.right ||
            clip.top >= clip.bottom)
            return;
        batchCount_ = (call.primitiveCount + kPrimBatch - 1) / kPrimBatch;
    }
    size_t BatchCount() const { return batchCount_; }
    const DrawConfig& Config() const { return *cfg_; }
    const VaryingSet& Active() const { return active_; }
    // Processes the vertices and sets the primitives up into batches[0, BatchCount()), binned on a grid of
    // tilesX x tilesY tiles. Workers of `pool` share the work unless this runs inside one of its jobs.
    void SetUp(WorkerPool& pool, Batch* batches, int tilesX, int tilesY);

private:
    // A piece of the vertex and set-up work (see PlanTasks).
    struct Task
    {
        bool batch;
        size_t first, count; // vertex tasks: slots; batch tasks: the batch, in first
        size_t segment;
    };
    // Room for a triangle or line being clipped.
    struct ClipScratch
    {
        std::vector<float> poly, scratch;
    };
    // Processed vertices [lo, hi] of the draw: slot k holds vertex lo + k.
    struct Window
    {
        int64_t lo = 0, hi = -1;
        float* verts = nullptr;
        ScreenVertex* screen = nullptr;
    };

    int64_t IndexAt(size_t i) const;
    std::pair<int64_t, int64_t> BatchRange(size_t bi) const;
    bool FindVertexRange(WorkerPool& pool);
    int64_t AvailableVertices() const;
    void ProcessSlots(const Window& w, size_t first, size_t n) const;
    // Slot of primitive vertex i in a window (outside [0, hi - lo] when it is not there).
    int64_t RangeSlot(const Window& w, size_t i) const { return IndexAt(i) - w.lo; }
    // The processed vertex of primitive vertex i; null when it is not there or could not be read.
    const float* Vertex(const Window& w, size_t i) const;
    bool BatchesKeepOwnVertices() const;
    void PlanTasks(size_t threads);
    void RunTask(size_t t);
    void SetUpBatch(size_t bi);
    void SetUpPrimitives(size_t bi, const Window& w);
    void Triangle(Setup& setup, ClipScratch& clip, const Window& w, int64_t sa, int64_t sb, int64_t sc,
                  int provoking) const;
    template <class SlotAt>
    void TriangleList(Setup& setup, ClipScratch& clip, const Window& w, size_t first, size_t end,
                      SlotAt slotAt) const;
    void IndexedTriangleList(Setup& setup, ClipScratch& clip, const Window& w, size_t first,
                             size_t end) const;
    void Line(Setup& setup, ClipScratch& clip, const Window& w, size_t i0) const;
    void Primitive(Setup& setup, ClipScratch& clip, const Window& w, size_t prim) const;

    const DrawConfig* cfg_ = nullptr;
    DrawCall call_{};
    size_t batchCount_ = 0;
    // The vertices each batch of primitives reaches, and the readable range [lo_, hi_] of the whole draw.
    std::vector<std::pair<int64_t, int64_t>> batchRange_;
    int64_t lo_ = 0, hi_ = -1;
    // Each batch processes the vertices of its own range on its own thread (BatchesKeepOwnVertices).
    bool ownVertices_ = false;
    VertexLayoutOut layout_;
    VaryingSet active_;
    uint32_t clipMask_ = 0;
    float guardX_ = 0, guardY_ = 0;
    // Processed vertices of the whole range, in the set-up thread's memory for the time of SetUp, when the
    // batches share them.
    Window shared_;
    Batch* batches_ = nullptr;
    int tilesX_ = 0, tilesY_ = 0;
    std::vector<std::vector<Task>> vertexTasks_; // per segment
    std::vector<Task> tasks_;
    std::unique_ptr<std::atomic<size_t>[]> verticesDone_; // vertex tasks ended, per segment
    size_t doneCapacity_ = 0;
};

int64_t DrawJob::IndexAt(size_t i) const
{
    if (!call_.indices.data) return static_cast<int64_t>(call_.startVertex) + static_cast<int64_t>(i);
    const size_t at = static_cast<size_t>(call_.startIndex) + i;
    uint32_t v;
    if (call_.indices.index32)
        std::memcpy(&v, call_.indices.data + at * 4, 4);
    else
    {
        uint16_t s;
        std::memcpy(&s, call_.indices.data + at * 2, 2);
        v = s;
    }
    return static_cast<int64_t>(call_.baseVertexIndex) + v;
}

std::pair<int64_t, int64_t> DrawJob::BatchRange(size_t bi) const
{
    size_t begin, end;
    BatchIndices(call_.type, bi * kPrimBatch, std::min<size_t>((bi + 1) * kPrimBatch, call_.primitiveCount),
                 &begin, &end);
    int64_t cl = IndexAt(begin), ch = IndexAt(end - 1);
    if (call_.indices.data)
    {
        // Read as the buffer's index type: a loop without a branch per index, which the compiler vectorises.
        auto scan = [&](auto width)
        {
            using Index = decltype(width);
            const uint8_t* at =
                call_.indices.data + (static_cast<size_t>(call_.startIndex) + begin) * sizeof(Index);
            Index lo = std::numeric_limits<Index>::max(), hi = 0;
            for (size_t i = 0; i < end - begin; ++i)
            {
                Index v;
                std::memcpy(&v, at + i * sizeof(Index), sizeof(Index));
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
            cl = static_cast<int64_t>(call_.baseVertexIndex) + lo;
            ch = static_cast<int64_t>(call_.baseVertexIndex) + hi;
        };
        if (call_.indices.index32)
            scan(uint32_t{});
        else
            scan(uint16_t{});
    }
    if (call_.type == D3DPT_TRIANGLEFAN)
    {
        // Every triangle of a fan shares its first vertex.
        cl = std::min(cl, IndexAt(0));
        ch = std::max(ch, IndexAt(0));
    }
    return {cl, ch};
}

// One past the last vertex that every stream the layout reads holds.
int64_t DrawJob::AvailableVertices() const
{
    int64_t available = INT64_MAX;
    const VertexLayout& vl = cfg_->vertex.layout;
    auto limit = [&](const VertexElement& e)
    {
        if (!e.present) return;
        const StreamInput& s = cfg_->vertex.streams[e.stream];
        if (!s.data)
            available = 0;
        else if (s.stride != 0)
            available = std::min<int64_t>(available, static_cast<int64_t>(s.size / s.stride) + 1);
    };
    limit(vl.position);
    limit(vl.normal);
    limit(vl.diffuse);
    limit(vl.specular);
    for (const auto& t : vl.tex)
        limit(t);
    return available;
}

bool DrawJob::FindVertexRange(WorkerPool& pool)
{
    batchRange_.resize(batchCount_);
    pool.Run(batchCount_, [&](size_t bi) { batchRange_[bi] = BatchRange(bi); });
    int64_t lo = batchRange_[0].first, hi = batchRange_[0].second;
    for (const auto& r : batchRange_)
    {
        lo = std::min(lo, r.first);
        hi = std::max(hi, r.second);
    }
    lo_ = std::max<int64_t>(lo, 0);
    hi_ = std::min<int64_t>(hi, AvailableVertices() - 1);
    return lo_ <= hi_;
}

void DrawJob::ProcessSlots(const Window& w, size_t first, size_t n) const
{
    ProcessVertices(*cfg_, layout_, w.lo + static_cast<int64_t>(first), n, w.verts + first * layout_.stride,
                    w.screen + first, guardX_, guardY_);
}

const float* DrawJob::Vertex(const Window& w, size_t i) const
{
    const int64_t v = IndexAt(i);
    if (v < w.lo || v > w.hi) return nullptr;
    const float* p = w.verts + static_cast<size_t>(v - w.lo) * layout_.stride;
    return (Flags(p) & kVertexInvalid) ? nullptr : p;
}

// A triangle of the vertices at slots sa, sb, sc (-1 or past the range: not there); the provoking vertex is
// the corner numbered `provoking`.
inline void DrawJob::Triangle(Setup& setup, ClipScratch& clip, const Window& w, int64_t sa, int64_t sb,
                              int64_t sc, int provoking) const
{
    const uint64_t span = static_cast<uint64_t>(w.hi - w.lo);
    if (static_cast<uint64_t>(sa) > span || static_cast<uint64_t>(sb) > span ||
        static_cast<uint64_t>(sc) > span)
        return;
    const ScreenVertex& xa = w.screen[static_cast<size_t>(sa)];
    const ScreenVertex& xb = w.screen[static_cast<size_t>(sb)];
    const ScreenVertex& xc = w.screen[static_cast<size_t>(sc)];
    const uint32_t all = xa.bits | xb.bits | xc.bits;
    if (all & kVertexInvalid) return;
    if (xa.bits & xb.bits & xc.bits & clipMask_) return;
    const uint32_t any = all & clipMask_;
    if (!any && (all & kUnprojected)) return;
    const size_t stride = static_cast<size_t>(layout_.stride);
    const float* a = w.verts + static_cast<size_t>(sa) * stride;
    const float* b = w.verts + static_cast<size_t>(sb) * stride;
    const float* c = w.verts + static_cast<size_t>(sc) * stride;
    const float* pv = provoking == 0 ? a : (provoking == 1 ? b : c);
    if (!any)
    {
        setup.Triangle(a, b, c, pv, &xa, &xb, &xc);
        return;
    }
    float* poly = clip.poly.data();
    const size_t bytes = stride * sizeof(float);
    std::memcpy(poly, a, bytes);
    std::memcpy(poly + stride, b, bytes);
    std::memcpy(poly + 2 * stride, c, bytes);
    const int n = ClipPolygon(layout_, any, poly, 3, clip.scratch.data(), kMaxClipVerts);
    for (int k = 1; k + 1 < n; ++k)
        setup.Triangle(poly, poly + k * stride, poly + (k + 1) * stride, pv);
}

// The common case in a loop of its own for each way of finding a vertex.
template <class SlotAt>
void DrawJob::TriangleList(Setup& setup, ClipScratch& clip, const Window& w, size_t first, size_t end,
                           SlotAt slotAt) const
{
    for (size_t prim = first; prim < end; ++prim)
        Triangle(setup, clip, w, slotAt(3 * prim), slotAt(3 * prim + 1), slotAt(3 * prim + 2), 0);
}

void DrawJob::IndexedTriangleList(Setup& setup, ClipScratch& clip, const Window& w, size_t first,
                                  size_t end) const
{
    const int64_t base = static_cast<int64_t>(call_.baseVertexIndex) - w.lo;
    // Read as the buffer's index type, so the loop holds no per-index branch on it.
    auto fromIndices = [&](auto width)
    {
        using Index = decltype(width);
        const uint8_t* at = call_.indices.data + static_cast<size_t>(call_.startIndex) * sizeof(Index);
        TriangleList(setup, clip, w, first, end,
                     [&](size_t i)
                     {
                         Index v;
                         std::memcpy(&v, at + i * sizeof(Index), sizeof(Index));
                         return base + v;
                     });
    };
    if (call_.indices.index32)
        fromIndices(uint32_t{});
    else
        fromIndices(uint16_t{});
}

// The segment from primitive vertex i0 to the next, clipped parametrically against each plane it crosses.
void DrawJob::Line(Setup& setup, ClipScratch& clip, const Window& w, size_t i0) const
{
    const float* a = Vertex(w, i0);
    const float* b = Vertex(w, i0 + 1);
    if (!a || !b) return;
    const uint32_t oa = Outside(layout_, a), ob = Outside(layout_, b);
    if (oa & ob) return;
    if (!((oa | ob) & clipMask_))
    {
        setup.Line(a, b, a, kNoPlane, nullptr);
        return;
    }
    float t0 = 0.0f, t1 = 1.0f;
    for (int pl = 0; pl < layout_.clipCount; ++pl)
    {
        const float da = a[VertexLayoutOut::kClip + pl], db = b[VertexLayoutOut::kClip + pl];
        if (da >= 0 && db >= 0) continue;
        const float t = da / (da - db);
        if (da < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 >= t1) return;
    float* pa = clip.poly.data();
    float* pb = pa + layout_.stride;
    for (int k = 0; k < layout_.stride; ++k)
    {
        pa[k] = a[k] + (b[k] - a[k]) * t0;
        pb[k] = a[k] + (b[k] - a[k]) * t1;
    }
    setup.Line(pa, pb, a, kNoPlane, nullptr);
}

void DrawJob::Primitive(Setup& setup, ClipScratch& clip, const Window& w, size_t prim) const
{
    switch (call_.type)
    {
    case D3DPT_TRIANGLESTRIP:
        // Odd triangles of a strip swap two vertices to keep one winding; the first stays provoking.
        if (prim & 1)
            Triangle(setup, clip, w, RangeSlot(w, prim + 1), RangeSlot(w, prim), RangeSlot(w, prim + 2), 1);
        else
            Triangle(setup, clip, w, RangeSlot(w, prim), RangeSlot(w, prim + 1), RangeSlot(w, prim + 2), 0);
        break;
    case D3DPT_TRIANGLEFAN:
        Triangle(setup, clip, w, RangeSlot(w, 0), RangeSlot(w, prim + 1), RangeSlot(w, prim + 2), 1);
        break;
    case D3DPT_LINELIST:
        Line(setup, clip, w, 2 * prim);
        break;
    case D3DPT_LINESTRIP:
        Line(setup, clip, w, prim);
        break;
    case D3DPT_POINTLIST:
    {
        const float* a = Vertex(w, prim);
        if (a && !(Outside(layout_, a) & clipMask_)) setup.Point(a, kNoPlane, nullptr);
        break;
    }
    default:
        break;
    }
}

void Batch::Reset(size_t tileCount)
{
    primCount = 0;
    arenaUsed = 0;
    // Bins the last draw reached are cleared before the vector changes size, so none keeps old indices.
    for (size_t t = binFirst; t <= binLast && t < bins.size(); ++t)
        bins[t].clear();
    binFirst = SIZE_MAX;
    binLast = 0;
    bins.resize(tileCount);
}

void DrawJob::SetUpBatch(size_t bi)
{
    if (!ownVertices_)
    {
        SetUpPrimitives(bi, shared_);
        return;
    }
    Window w;
    w.lo = std::max(batchRange_[bi].first, lo_);
    w.hi = std::min(batchRange_[bi].second, hi_);
    if (w.lo > w.hi)
    {
        batches_[bi].Reset(static_cast<size_t>(tilesX_) * tilesY_);
        return;
    }
    const size_t count = static_cast<size_t>(w.hi - w.lo + 1);
    DrawMemory& memory = Memory();
    if (memory.verts.size() < count * layout_.stride) memory.verts.resize(count * layout_.stride);
    if (memory.screen.size() < count) memory.screen.resize(count);
    w.verts = memory.verts.data();
    w.screen = memory.screen.data();
    ProcessSlots(w, 0, count);
    SetUpPrimitives(bi, w);
}

void DrawJob::SetUpPrimitives(size_t bi, const Window& w)
{
    Batch& batch = batches_[bi];
    batch.Reset(static_cast<size_t>(tilesX_) * tilesY_);
    Setup setup(*cfg_, layout_, active_, batch, tilesX_, tilesY_);
    thread_local ClipScratch clip;
    const size_t clipFloats = static_cast<size_t>(kMaxClipVerts) * layout_.stride;
    if (clip.poly.size() < clipFloats) clip.poly.resize(clipFloats);
    if (clip.scratch.size() < clipFloats) clip.scratch.resize(clipFloats);
    const size_t first = bi * kPrimBatch;
    const size_t end = std::min<size_t>(first + kPrimBatch, call_.primitiveCount);
    if (call_.type != D3DPT_TRIANGLELIST)
    {
        for (size_t prim = first; prim < end; ++prim)
            Primitive(setup, clip, w, prim);
        return;
    }
    if (call_.indices.data)
        IndexedTriangleList(setup, clip, w, first, end);
    else
    {
        const int64_t start = static_cast<int64_t>(call_.startVertex) - w.lo;
        TriangleList(setup, clip, w, first, end, [&](size_t i) { return start + static_cast<int64_t>(i); });
    }
}

// Batches whose vertex ranges hardly overlap process each its own range on its own thread: none then waits
// for another's vertices, and a batch's vertices stay in its thread's caches from processing to set-up.
// Where ranges meet, vertices are processed twice, to the same values. A lone batch does so when its range
// is a single vertex task.
bool DrawJob::BatchesKeepOwnVertices() const
{
    constexpr uint64_t kMaxOwnVertices = 4 * kPrimBatch;
    const uint64_t hull = static_cast<uint64_t>(hi_ - lo_ + 1);
    if (batchCount_ == 1) return hull <= kVertexChunk;
    uint64_t total = 0;
    for (const auto& r : batchRange_)
    {
        const int64_t lo = std::max(r.first, lo_), hi = std::min(r.second, hi_);
        if (lo > hi) continue;
        const uint64_t n = static_cast<uint64_t>(hi - lo + 1);
        if (n > kMaxOwnVertices) return false;
        total += n;
    }
    return total <= hull + hull / 4;
}

// Vertices and primitives run as one list of tasks, segment by segment: a segment's vertices are processed
// just before its batches read them, while they are still in the caches. Each segment processes the slots
// its batches reach beyond those of the segments before it (up to the hull, so a gap between ranges is
// processed as well). The vertex tasks of the next segment go before a segment's batches, so that those
// seldom wait. A batch waits until the vertex tasks of its own and every earlier segment have ended; tasks
// are taken in list order, so those have all been started.
void DrawJob::PlanTasks(size_t threads)
{
    // One thread keeps a batch's vertex records in its own cache; more threads share the segment.
    const size_t segmentBatches = std::min<size_t>(kMaxSegmentBatches, threads);
    const size_t segments = (batchCount_ + segmentBatches - 1) / segmentBatches;
    if (vertexTasks_.size() < segments) vertexTasks_.resize(segments);
    for (size_t seg = 0; seg < segments; ++seg)
        vertexTasks_[seg].clear();
    int64_t doneLo = 0, doneHi = -1; // processed slots
    for (size_t seg = 0; seg < segments; ++seg)
    {
        auto addVertices = [&](int64_t a, int64_t b)
        {
            for (int64_t at = a; at <= b; at += static_cast<int64_t>(kVertexChunk))
            {
                const int64_t n = std::min<int64_t>(b - at + 1, static_cast<int64_t>(kVertexChunk));
                vertexTasks_[seg].push_back({false, static_cast<size_t>(at), static_cast<size_t>(n), seg});
            }
        };
        const size_t segEnd = std::min(batchCount_, (seg + 1) * segmentBatches);
        int64_t rl = INT64_MAX, rh = INT64_MIN;
        for (size_t bi = seg * segmentBatches; bi < segEnd; ++bi)
        {
            rl = std::min(rl, std::max(batchRange_[bi].first, lo_) - lo_);
            rh = std::max(rh, std::min(batchRange_[bi].second, hi_) - lo_);
        }
        if (rl > rh) continue;
        if (doneLo > doneHi)
        {
            addVertices(rl, rh);
            doneLo = rl;
            doneHi = rh;
        }
        else
        {
            addVertices(rl, doneLo - 1);
            addVertices(doneHi + 1, rh);
            doneLo = std::min(doneLo, rl);
            doneHi = std::max(doneHi, rh);
        }
    }
    tasks_.clear();
    if (segments > 0) tasks_ = vertexTasks_[0];
    for (size_t seg = 0; seg < segments; ++seg)
    {
        if (seg + 1 < segments)
            tasks_.insert(tasks_.end(), vertexTasks_[seg + 1].begin(), vertexTasks_[seg + 1].end());
        for (size_t bi = seg * segmentBatches; bi < std::min(batchCount_, (seg + 1) * segmentBatches); ++bi)
            tasks_.push_back({true, bi, 0, seg});
    }
    if (doneCapacity_ < segments)
    {
        verticesDone_.reset(new std::atomic<size_t>[segments]);
        doneCapacity_ = segments;
    }
    for (size_t seg = 0; seg < segments; ++seg)
        verticesDone_[seg].store(0, std::memory_order_relaxed);
}

void DrawJob::RunTask(size_t t)
{
    const Task& task = tasks_[t];
    if (!task.batch)
    {
        ProcessSlots(shared_, task.first, task.count);
        verticesDone_[task.segment].fetch_add(1, std::memory_order_release);
        return;
    }
    for (size_t seg = 0; seg <= task.segment; ++seg)
        for (int spin = 0; verticesDone_[seg].load(std::memory_order_acquire) < vertexTasks_[seg].size();
             ++spin)
            if (spin > 64) std::this_thread::yield();
    SetUpBatch(task.first);
}

void DrawJob::SetUp(WorkerPool& pool, Batch* batches, int tilesX, int tilesY)
{
    batches_ = batches;
    tilesX_ = tilesX;
    tilesY_ = tilesY;
    if (batchCount_ == 0) return;
    if (!FindVertexRange(pool))
    {
        // A draw that reaches no vertex leaves its batches empty, also of what earlier draws binned there.
        for (size_t bi = 0; bi < batchCount_; ++bi)
            batches[bi].Reset(static_cast<size_t>(tilesX) * tilesY);
        return;
    }

    layout_ = MakeVertexLayout(*cfg_);
    active_ = ActiveVaryings(*cfg_);
    clipMask_ = (1u << layout_.clipCount) - 1;
    const D3DVIEWPORT9& vp = cfg_->raster.viewport;
    guardX_ = kGuardPixels / std::max(1.0f, vp.Width * 0.5f);
    guardY_ = kGuardPixels / std::max(1.0f, vp.Height * 0.5f);
    ownVertices_ = BatchesKeepOwnVertices();
    if (ownVertices_)
    {
        pool.Run(batchCount_, [&](size_t bi) { SetUpBatch(bi); });
        return;
    }

    const size_t rangeCount = static_cast<size_t>(hi_ - lo_ + 1);
    // Buffers are kept from draw to draw so that large meshes do not fault fresh pages in every frame.
    DrawMemory& memory = Memory();
    if (memory.verts.size() < rangeCount * layout_.stride) memory.verts.resize(rangeCount * layout_.stride);
    if (memory.screen.size() < rangeCount) memory.screen.resize(rangeCount);
    shared_ = {lo_, hi_, memory.verts.data(), memory.screen.data()};

    PlanTasks(pool.ThreadCount());
    // One vertex task and the batch that waits for it cannot overlap: a small draw runs them here, sooner
    // than workers could take them.
    if (tasks_.size() <= 2)
        for (size_t t = 0; t < tasks_.size(); ++t)
            RunTask(t);
    else
        pool.Run(tasks_.size(), [&](size_t t) { RunTask(t); });
    shared_ = {};
    for (size_t bi = 0; bi < batchCount_; ++bi)
        FEROLT_D3D9_CHECK(batches[bi].arenaUsed <= batches[bi].arena.size() &&
                          batches[bi].primCount <= batches[bi].prims.size());
}

namespace
{
// The tile pass of a list of set-up draws: each unit (a tile, or a strip of one) walks the draws in order
// and their primitives in order, so the pixels it writes do not depend on which thread takes it.
class TilePass
{
public:
    struct Entry
    {
        const DrawJob* job;
        const Batch* batches;
    };
    // Rows [top, top + rows) of a tile.
    struct Unit
    {
        int tile;
        int top, rows;
    };
    // The plan of a pass, kept by each flushing thread from flush to flush: on one thread every draw is a
    // flush of its own, and planning should not cost it allocations.
    struct Plan
    {
        std::vector<Entry> draws;
        std::vector<Unit> units;
        std::vector<std::vector<uint32_t>>
            tileDraws;             // from the first tile: draws with primitives in the tile
        std::vector<size_t> prims; // from the first tile: primitives in the tile
        std::vector<int> tiles;    // tiles with primitives
    };
    static Plan& ThreadPlan()
    {
        thread_local Plan plan;
        return plan;
    }
    // Takes the draws in plan.draws.
    TilePass(Plan& plan, int tilesX) : plan_(plan), draws_(plan.draws), tilesX_(tilesX) {}
    // Draws every unit, on the calling thread when the draws cover few pixels.
    void Run(WorkerPool& pool);

private:
    bool FindTileWork();
    void PlanUnits(size_t threads, bool inlineDraw);
    void PlanEvenStrips(int strips);
    uint64_t BoundsPixels() const;
    void DrawUnit(size_t i) const;

    Plan& plan_;
    const std::vector<Entry>& draws_;
    int tilesX_;
    size_t firstTile_ = 0;
};

// Pixels in the bounds of the draws' primitives, counted up to kInlinePixels.
uint64_t TilePass::BoundsPixels() const
{
    uint64_t pixels = 0;
    for (const Entry& d : draws_)
        for (size_t bi = 0; bi < d.job->BatchCount() && pixels < kInlinePixels; ++bi)
            for (size_t k = 0; k < d.batches[bi].primCount; ++k)
            {
                const SetupPrim& p = d.batches[bi].prims[k];
                if (p.maxX >= p.minX && p.maxY >= p.minY)
                    pixels += static_cast<uint64_t>(p.maxX - p.minX + 1) *
                              static_cast<uint64_t>(p.maxY - p.minY + 1);
            }
    return pixels;
}

// Per tile the draws with primitives in it, in order, and how many primitives those are; the tiles that
// have any, row by row. False when no draw reached a tile.
bool TilePass::FindTileWork()
{
    size_t reachedFirst = SIZE_MAX, reachedLast = 0;
    for (const Entry& d : draws_)
        for (size_t bi = 0; bi < d.job->BatchCount(); ++bi)
        {
            reachedFirst = std::min(reachedFirst, d.batches[bi].binFirst);
            reachedLast = std::max(reachedLast, d.batches[bi].binLast);
        }
    if (reachedFirst == SIZE_MAX) return false;
    firstTile_ = reachedFirst;
    const size_t span = reachedLast - reachedFirst + 1;
    std::vector<std::vector<uint32_t>>& tileDraws = plan_.tileDraws;
    if (tileDraws.size() < span) tileDraws.resize(span);
    for (size_t t = 0; t < span; ++t)
        tileDraws[t].clear();
    std::vector<size_t>& prims = plan_.prims;
    prims.assign(span, 0);
    for (size_t di = 0; di < draws_.size(); ++di)
    {
        const Entry& d = draws_[di];
        for (size_t bi = 0; bi < d.job->BatchCount(); ++bi)
        {
            const Batch& b = d.batches[bi];
            for (size_t t = b.binFirst; t <= b.binLast && t < b.bins.size(); ++t)
            {
                if (b.bins[t].empty()) continue;
                prims[t - reachedFirst] += b.bins[t].size();
                std::vector<uint32_t>& list = tileDraws[t - reachedFirst];
                if (list.empty() || list.back() != di) list.push_back(static_cast<uint32_t>(di));
            }
        }
    }
    plan_.tiles.clear();
    for (size_t t = reachedFirst; t <= reachedLast; ++t)
        if (prims[t - reachedFirst]) plan_.tiles.push_back(static_cast<int>(t));
    return true;
}

// Each unit writes only its own pixels, so neither the order of the units nor how tiles are split changes
// a byte.
void TilePass::PlanUnits(size_t threads, bool inlineDraw)
{
    plan_.units.clear();
    if (!FindTileWork()) return;
    // Tiles of many primitives are walked once each: a strip would walk all of them again. Heavy tiles
    // among light ones do not need splitting or going first, as threads done with their own bands take
    // units from the end of the fullest band.
    size_t most = 0;
    for (size_t p : plan_.prims)
        most = std::max(most, p);
    constexpr size_t kFewPrims = 16, kUnitsPerThread = 32;
    if (threads == 1 || inlineDraw || most > kFewPrims)
    {
        PlanEvenStrips(1);
        return;
    }
    // Tiles of few primitives (large ones, as a rule) cost their pixels, alike from tile to tile and not
    // worth walking again for many strips: strips of 16 rows at the most, enough for about 32 units a
    // thread, so that the last units taken are short.
    constexpr int kMaxStrips = 4;
    int strips = 1;
    while (strips < kMaxStrips && plan_.tiles.size() * strips < kUnitsPerThread * threads)
        strips *= 2;
    PlanEvenStrips(strips);
}

// Every tile in the same number of strips, row of tiles by row of tiles.
void TilePass::PlanEvenStrips(int strips)
{
    const std::vector<int>& tiles = plan_.tiles;
    const int rows = kTileSize / strips;
    for (size_t first = 0, end = 0; first < tiles.size(); first = end)
    {
        const int ty = tiles[first] / tilesX_;
        end = first;
        while (end < tiles.size() && tiles[end] / tilesX_ == ty)
            ++end;
        for (int s = 0; s < strips; ++s)
            for (size_t k = first; k < end; ++k)
                plan_.units.push_back({tiles[k], s * rows, rows});
    }
}

void TilePass::DrawUnit(size_t i) const
{
    const Unit& unit = plan_.units[i];
    const size_t tile = static_cast<size_t>(unit.tile);
    const int tx = unit.tile % tilesX_, ty = unit.tile / tilesX_;
    const int top = ty * kTileSize + unit.top;
    for (uint32_t di : plan_.tileDraws[tile - firstTile_])
    {
        const Entry& d = draws_[di];
        const RECT& clip = d.job->Config().raster.clipRect;
        const int x0 = std::max<int>(tx * kTileSize, clip.left);
        const int x1 = std::min<int>(tx * kTileSize + kTileSize, clip.right);
        const int y0 = std::max<int>(top, clip.top);
        const int y1 = std::min<int>(top + unit.rows, clip.bottom);
        if (x0 >= x1 || y0 >= y1) continue;
        // A draw's pixels still waiting in its pipeline are written before the next draw's start.
        std::optional<PixelPipeline> pixels;
        for (size_t bi = 0; bi < d.job->BatchCount(); ++bi)
        {
            const Batch& b = d.batches[bi];
            if (tile < b.binFirst || tile > b.binLast || b.bins[tile].empty()) continue;
            if (!pixels) pixels.emplace(d.job->Config());
            RasterizeBin(d.job->Config(), d.job->Active(), b.prims.data(), b.bins[tile].data(),
                         b.bins[tile].size(), b.arena.data(), x0, y0, x1, y1, *pixels);
        }
    }
}

void TilePass::Run(WorkerPool& pool)
{
    const bool inlineDraw = BoundsPixels() < kInlinePixels && hooks::GetD3D9SmallDrawsInline();
    PlanUnits(pool.ThreadCount(), inlineDraw);
    if (inlineDraw)
        for (size_t i = 0; i < plan_.units.size(); ++i)
            DrawUnit(i);
    // In bands, each thread takes the same units pass after pass, so that the pixels of a tile stay in one
    // core's caches from frame to frame.
    else
        pool.RunLocal(plan_.units.size(), [&](size_t i) { DrawUnit(i); });
}
} // namespace

// ---- the queue of recorded draws
// ---------------------------------------------------------------------------------------
struct DrawQueue::Pending
{
    std::unique_ptr<DrawConfig> cfg = std::make_unique<DrawConfig>();
    std::vector<uint8_t> owned;
    std::unique_ptr<DrawJob> job = std::make_unique<DrawJob>();
    size_t firstBatch = 0;
};

struct BatchStore
{
    std::vector<Batch> batches;
};

std::shared_ptr<BatchStore> NewBatchStore()
{
    return std::make_shared<BatchStore>();
}

DrawQueue::DrawQueue(std::shared_ptr<BatchStore> store) : store_(store ? std::move(store) : NewBatchStore())
{
}
DrawQueue::~DrawQueue() = default;

DrawConfig* DrawQueue::NextConfig()
{
    // Entries past the recorded ones keep their memory for the next draws.
    if (pending_.size() == count_) pending_.emplace_back();
    DrawConfig* cfg = pending_[count_].cfg.get();
    *cfg = DrawConfig{};
    return cfg;
}

void DrawQueue::Record(const DrawCall& call, std::vector<uint8_t> owned)
{
    FEROLT_D3D9_CHECK(count_ < pending_.size());
    Pending& p = pending_[count_++];
    p.job->Start(*p.cfg, call);
    p.owned = std::move(owned);
    p.firstBatch = batchesUsed_;
    batchesUsed_ += p.job->BatchCount();
    primitives_ += call.primitiveCount;
}

bool DrawQueue::Empty() const
{
    return count_ == 0;
}

bool DrawQueue::OverBudget() const
{
    return count_ >= kMaxDraws || primitives_ >= kMaxPrimitives;
}

bool DrawQueue::WorthFlushing() const
{
    return count_ >= kMinDraws || primitives_ >= kMinPrimitives;
}

void DrawQueue::Flush(WorkerPool& pool)
{
    if (count_ == 0) return;
    // One grid for every draw: each bins only inside its own clip rectangle.
    LONG right = 0, bottom = 0;
    for (size_t i = 0; i < count_; ++i)
    {
        const Pending& p = pending_[i];
        right = std::max(right, p.cfg->raster.clipRect.right);
        bottom = std::max(bottom, p.cfg->raster.clipRect.bottom);
    }
    const int tilesX = static_cast<int>((right + kTileSize - 1) / kTileSize);
    const int tilesY = static_cast<int>((bottom + kTileSize - 1) / kTileSize);
    std::vector<Batch>& batches = store_->batches;
    if (batches.size() < batchesUsed_) batches.resize(batchesUsed_);
    auto setUp = [&](Pending& p) { p.job->SetUp(pool, batches.data() + p.firstBatch, tilesX, tilesY); };
    // Draws of one batch each go to the workers side by side; a larger one spreads its own batches.
    for (size_t i = 0; i < count_;)
    {
        if (pending_[i].job->BatchCount() > 1)
        {
            setUp(pending_[i++]);
            continue;
        }
        size_t end = i;
        while (end < count_ && pending_[end].job->BatchCount() <= 1)
            ++end;
        pool.Run(end - i, [&](size_t k) { setUp(pending_[i + k]); });
        i = end;
    }
    TilePass::Plan& plan = TilePass::ThreadPlan();
    plan.draws.clear();
    for (size_t i = 0; i < count_; ++i)
        if (pending_[i].job->BatchCount())
            plan.draws.push_back({pending_[i].job.get(), batches.data() + pending_[i].firstBatch});
    TilePass(plan, tilesX).Run(pool);
    for (size_t i = 0; i < count_; ++i)
        pending_[i].owned.clear();
    count_ = 0;
    batchesUsed_ = 0;
    primitives_ = 0;
}

void ExecuteDraw(const DrawConfig& cfg, const DrawCall& call, WorkerPool& pool)
{
    // Kept from draw to draw so that large meshes do not fault fresh pages in every frame.
    thread_local DrawQueue queue;
    *queue.NextConfig() = cfg;
    queue.Record(call, {});
    queue.Flush(pool);
}
} // namespace ferolt::d3d9
