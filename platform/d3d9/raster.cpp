// The draw pipeline: vertices in parallel chunks, primitives assembled, clipped and set up in parallel
// batches, binned into tiles, and the tiles rasterised in parallel (rasterize.cpp). Each tile walks the
// batches and their primitives in submission order and every value is computed from absolute pixel
// positions, so the bytes written do not depend on how the work was split between threads.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/raster.h"
#include "platform/d3d9/workers.h"

namespace ferolt::d3d9
{
namespace
{
constexpr int kTileSize = 64;
constexpr size_t kVertexChunk = 4096;
constexpr size_t kPrimBatch = 8192;
constexpr int kSubPixelBits = 8;
constexpr float kSubPixel = 1 << kSubPixelBits;
constexpr float kGuardPixels = 8192.0f;
constexpr int kMaxClipVerts = 3 + 2 * (kFixedClipPlanes + kMaxClipPlanes);

struct Batch
{
    std::vector<SetupPrim> prims;
    std::vector<float> arena;
    std::vector<std::vector<uint32_t>> bins; // per tile: primitive indices
};

struct ScreenVertex
{
    float x, y, z, q; // screen position, depth, 1 / w
    int64_t fx, fy;   // position in 1/256 pixel
    const float* vary;
    bool ok; // projected to a usable screen position
};

bool ProjectVertex(const DrawConfig& cfg, const VertexLayoutOut& layout, const float* v, ScreenVertex* out)
{
    const D3DVIEWPORT9& vp = cfg.raster.viewport;
    const float halfW = vp.Width * 0.5f, halfH = vp.Height * 0.5f, zScale = vp.MaxZ - vp.MinZ;
    const float* vary = v + layout.Vary();
    if (cfg.vertex.layout.pretransformed)
    {
        out->x = v[0];
        out->y = v[1];
        out->z = v[2];
        out->q = 1.0f / v[3];
    }
    else
    {
        const float q = 1.0f / v[3];
        out->x = vp.X + (1.0f + v[0] * q) * halfW;
        out->y = vp.Y + (1.0f - v[1] * q) * halfH;
        out->z = vp.MinZ + v[2] * q * zScale;
        out->q = q;
    }
    out->ok = false;
    if (!std::isfinite(out->x) || !std::isfinite(out->y) || !std::isfinite(out->z) || !std::isfinite(out->q))
        return false;
    if (std::fabs(out->x) > 3 * kGuardPixels || std::fabs(out->y) > 3 * kGuardPixels) return false;
    out->fx = static_cast<int64_t>(std::floor(out->x * kSubPixel + 0.5f));
    out->fy = static_cast<int64_t>(std::floor(out->y * kSubPixel + 0.5f));
    out->vary = vary;
    out->ok = true;
    return true;
}

class Setup
{
public:
    Setup(const DrawConfig& cfg, const VertexLayoutOut& layout, const VaryingSet& active, Batch& batch,
          int tilesX, int tilesY)
        : cfg_(cfg), layout_(layout), active_(active), batch_(batch), tilesX_(tilesX), tilesY_(tilesY)
    {
        clip_ = cfg.raster.clipRect;
        varyCount_ = layout.varyCount;
    }

    // Screen positions may come projected already (s non-null, three of them).
    void Triangle(const float* a, const float* b, const float* c, const float* provoking,
                  const ScreenVertex* const* s = nullptr);
    void Line(const float* a, const float* b, const float* provoking, uint32_t depthPlane,
              const float* planeOrigin);
    void Point(const float* a, uint32_t depthPlane, const float* planeOrigin);

private:
    bool Project(const float* v, ScreenVertex* out) const;
    void SetupTriangle(const float* a, const float* b, const float* c, const float* provoking,
                       const ScreenVertex* const* s);
    void Bin(uint32_t index);
    uint32_t Alloc(size_t floats)
    {
        const uint32_t at = static_cast<uint32_t>(batch_.arena.size());
        batch_.arena.resize(batch_.arena.size() + floats);
        return at;
    }

    const DrawConfig& cfg_;
    const VertexLayoutOut& layout_;
    const VaryingSet& active_;
    Batch& batch_;
    int tilesX_, tilesY_;
    RECT clip_;
    int varyCount_;
};

bool Setup::Project(const float* v, ScreenVertex* out) const
{
    return ProjectVertex(cfg_, layout_, v, out);
}

void Setup::Bin(uint32_t index)
{
    const SetupPrim& p = batch_.prims[index];
    const int tx0 = p.minX / kTileSize, tx1 = p.maxX / kTileSize;
    const int ty0 = p.minY / kTileSize, ty1 = p.maxY / kTileSize;
    for (int ty = ty0; ty <= ty1 && ty < tilesY_; ++ty)
        for (int tx = tx0; tx <= tx1 && tx < tilesX_; ++tx)
            batch_.bins[ty * tilesX_ + tx].push_back(index);
}

void Setup::Triangle(const float* a, const float* b, const float* c, const float* provoking,
                     const ScreenVertex* const* s)
{
    SetupTriangle(a, b, c, provoking, s);
}

void Setup::SetupTriangle(const float* va, const float* vb, const float* vc, const float* provoking,
                          const ScreenVertex* const* s)
{
    ScreenVertex v[3];
    if (s)
    {
        if (!s[0]->ok || !s[1]->ok || !s[2]->ok) return;
        v[0] = *s[0];
        v[1] = *s[1];
        v[2] = *s[2];
    }
    else if (!Project(va, &v[0]) || !Project(vb, &v[1]) || !Project(vc, &v[2]))
        return;
    int64_t area = (v[1].fx - v[0].fx) * (v[2].fy - v[0].fy) - (v[2].fx - v[0].fx) * (v[1].fy - v[0].fy);
    if (area == 0) return;
    // Positive area is clockwise on the screen (y grows downwards).
    const DWORD cull = cfg_.raster.cullMode;
    if ((cull == D3DCULL_CW && area > 0) || (cull == D3DCULL_CCW && area < 0)) return;
    if (area < 0)
    {
        std::swap(v[1], v[2]);
        area = -area;
    }

    const int64_t minFx = std::min({v[0].fx, v[1].fx, v[2].fx}),
                  maxFx = std::max({v[0].fx, v[1].fx, v[2].fx});
    const int64_t minFy = std::min({v[0].fy, v[1].fy, v[2].fy}),
                  maxFy = std::max({v[0].fy, v[1].fy, v[2].fy});
    const int64_t sub = static_cast<int64_t>(kSubPixel);
    auto ceilDiv = [&](int64_t n) { return n >= 0 ? (n + sub - 1) / sub : -((-n) / sub); };
    auto floorDiv = [&](int64_t n) { return n >= 0 ? n / sub : -((-n + sub - 1) / sub); };
    const int32_t minX = static_cast<int32_t>(std::max<int64_t>(ceilDiv(minFx), clip_.left));
    const int32_t maxX = static_cast<int32_t>(std::min<int64_t>(floorDiv(maxFx), clip_.right - 1));
    const int32_t minY = static_cast<int32_t>(std::max<int64_t>(ceilDiv(minFy), clip_.top));
    const int32_t maxY = static_cast<int32_t>(std::min<int64_t>(floorDiv(maxFy), clip_.bottom - 1));

    const DWORD fill = cfg_.raster.fillMode;
    if (fill == D3DFILL_SOLID && (minX > maxX || minY > maxY)) return;

    // Built in place: copying the record in afterwards stalls on its freshly written fields.
    SetupPrim& p = batch_.prims.emplace_back();
    p.kind = PrimKind::Triangle;
    p.flat = cfg_.pixel.flatShade;
    p.depthPlane = kNoPlane;
    p.minX = minX;
    p.maxX = maxX;
    p.minY = minY;
    p.maxY = maxY;

    // Attribute planes from the snapped positions.
    const double x0 = static_cast<double>(v[0].fx) / sub, y0 = static_cast<double>(v[0].fy) / sub;
    const double dx1 = static_cast<double>(v[1].fx - v[0].fx) / sub,
                 dy1 = static_cast<double>(v[1].fy - v[0].fy) / sub;
    const double dx2 = static_cast<double>(v[2].fx - v[0].fx) / sub,
                 dy2 = static_cast<double>(v[2].fy - v[0].fy) / sub;
    const double inv = 1.0 / (dx1 * dy2 - dx2 * dy1);
    auto plane = [&](double a0, double a1, double a2)
    {
        const double d1 = a1 - a0, d2 = a2 - a0;
        return Plane{static_cast<float>(a0), static_cast<float>((d1 * dy2 - d2 * dy1) * inv),
                     static_cast<float>((dx1 * d2 - dx2 * d1) * inv)};
    };
    p.x0 = static_cast<float>(x0);
    p.y0 = static_cast<float>(y0);
    const int planeFloats = 6 + active_.Floats();
    p.data = Alloc(static_cast<size_t>(planeFloats) + (p.flat ? 8 : 0));
    {
        Plane* out = reinterpret_cast<Plane*>(batch_.arena.data() + p.data);
        out[0] = plane(v[0].z, v[1].z, v[2].z);
        out[1] = plane(v[0].q, v[1].q, v[2].q);
        float* groups = batch_.arena.data() + p.data + 6;
        for (int g = 0; g < active_.groupCount; ++g, groups += 12)
            for (int lane = 0; lane < 4; ++lane)
            {
                Plane pl{0.0f, 0.0f, 0.0f};
                if (active_.lane[g][lane])
                {
                    const int i = active_.groupBase[g] + lane;
                    pl = plane(static_cast<double>(v[0].vary[i]) * v[0].q,
                               static_cast<double>(v[1].vary[i]) * v[1].q,
                               static_cast<double>(v[2].vary[i]) * v[2].q);
                }
                groups[lane] = pl.a;
                groups[4 + lane] = pl.b;
                groups[8 + lane] = pl.c;
            }
        if (p.flat)
        {
            float* consts = batch_.arena.data() + p.data + planeFloats;
            std::memcpy(consts, provoking + layout_.Vary() + kVaryDiffuse, 8 * sizeof(float));
        }
        const DepthStencilConfig& ds = cfg_.pixel.depth;
        p.depthOffset =
            ds.depthBias + ds.slopeScaleDepthBias * std::max(std::fabs(out[0].b), std::fabs(out[0].c));
    }

    if (fill != D3DFILL_SOLID)
    {
        // Wireframe and point fill draw the culled triangle's edges or corners with depths from its plane,
        // so they match the same triangle drawn solid.
        const uint32_t planeAt = p.data;
        const float origin[2] = {p.x0, p.y0};
        batch_.prims.pop_back();
        // Back to the submission order so that edges are the triangle's own, a-b, b-c, c-a.
        const float* order[3] = {va, vb, vc};
        if (fill == D3DFILL_WIREFRAME)
            for (int e = 0; e < 3; ++e)
                Line(order[e], order[(e + 1) % 3], provoking, planeAt, origin);
        else
            for (int e = 0; e < 3; ++e)
                Point(order[e], planeAt, origin);
        return;
    }

    const int64_t sx[3] = {v[0].fx, v[1].fx, v[2].fx}, sy[3] = {v[0].fy, v[1].fy, v[2].fy};
    for (int e = 0; e < 3; ++e)
    {
        const int a = e, b = (e + 1) % 3;
        const int64_t dx = sx[b] - sx[a], dy = sy[b] - sy[a];
        // Top-left rule (Direct3D's rasterisation rules): a pixel centre exactly on an edge belongs to the
        // triangle only when the edge is a top edge (horizontal, above the interior) or a left edge.
        const bool topLeft = (dy == 0 && dx > 0) || dy < 0;
        p.edgeA[e] = -dy * sub;
        p.edgeB[e] = dx * sub;
        p.edgeC[e] = dy * sx[a] - dx * sy[a] - (topLeft ? 0 : 1);
    }
    Bin(static_cast<uint32_t>(batch_.prims.size() - 1));
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
    p.minX = std::max<int32_t>(static_cast<int32_t>(std::floor(minX)) - 1, clip_.left);
    p.maxX = std::min<int32_t>(static_cast<int32_t>(std::ceil(maxX)) + 1, clip_.right - 1);
    p.minY = std::max<int32_t>(static_cast<int32_t>(std::floor(minY)) - 1, clip_.top);
    p.maxY = std::min<int32_t>(static_cast<int32_t>(std::ceil(maxY)) + 1, clip_.bottom - 1);
    if (p.minX > p.maxX || p.minY > p.maxY) return;
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
        for (int i = 0; i < varyCount_; ++i)
            o[4 + i] = v[e].vary[i] * v[e].q;
    }
    if (p.flat) std::memcpy(out + 2 * per, provoking + layout_.Vary() + kVaryDiffuse, 8 * sizeof(float));
    batch_.prims.push_back(p);
    Bin(static_cast<uint32_t>(batch_.prims.size() - 1));
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
    p.minX = std::max<int32_t>(static_cast<int32_t>(std::ceil(v.x - half)), clip_.left);
    p.maxX = std::min<int32_t>(static_cast<int32_t>(std::ceil(v.x + half)) - 1, clip_.right - 1);
    p.minY = std::max<int32_t>(static_cast<int32_t>(std::ceil(v.y - half)), clip_.top);
    p.maxY = std::min<int32_t>(static_cast<int32_t>(std::ceil(v.y + half)) - 1, clip_.bottom - 1);
    if (p.minX > p.maxX || p.minY > p.maxY) return;
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
        out[4 + i] = v.vary[i];
    batch_.prims.push_back(p);
    Bin(static_cast<uint32_t>(batch_.prims.size() - 1));
}

struct DrawMemory
{
    std::vector<float> verts;
    std::vector<ScreenVertex> screen;
    std::vector<Batch> batches;
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
void ExecuteDraw(const DrawConfig& cfg, const DrawCall& call, WorkerPool& pool)
{
    const UINT vertexCount = VerticesFor(call.type, call.primitiveCount);
    if (vertexCount == 0 || call.primitiveCount == 0) return;
    const RECT& clip = cfg.raster.clipRect;
    if (clip.left >= clip.right || clip.top >= clip.bottom) return;

    // Indices (as vertex numbers) of the draw's primitive vertices.
    const bool indexed = call.indices.data != nullptr;
    auto indexAt = [&](size_t i) -> int64_t
    {
        if (!indexed) return static_cast<int64_t>(call.startVertex) + static_cast<int64_t>(i);
        const size_t at = static_cast<size_t>(call.startIndex) + i;
        uint32_t v;
        if (call.indices.index32)
            std::memcpy(&v, call.indices.data + at * 4, 4);
        else
        {
            uint16_t s;
            std::memcpy(&s, call.indices.data + at * 2, 2);
            v = s;
        }
        return static_cast<int64_t>(call.baseVertexIndex) + v;
    };

    // The vertex range to process: what the indices reach, limited to what the streams hold.
    int64_t lo = indexAt(0), hi = lo;
    if (indexed)
    {
        constexpr size_t kScanChunk = 1 << 16;
        const size_t chunks = (vertexCount + kScanChunk - 1) / kScanChunk;
        std::vector<std::pair<int64_t, int64_t>> ranges(chunks, {lo, hi});
        pool.Run(chunks,
                 [&](size_t c)
                 {
                     int64_t cl = ranges[c].first, ch = ranges[c].second;
                     const size_t end = std::min<size_t>(vertexCount, (c + 1) * kScanChunk);
                     for (size_t i = c * kScanChunk; i < end; ++i)
                     {
                         const int64_t v = indexAt(i);
                         cl = std::min(cl, v);
                         ch = std::max(ch, v);
                     }
                     ranges[c] = {cl, ch};
                 });
        for (const auto& r : ranges)
        {
            lo = std::min(lo, r.first);
            hi = std::max(hi, r.second);
        }
    }
    else
        hi = lo + vertexCount - 1;
    int64_t available = INT64_MAX;
    const VertexLayout& vl = cfg.vertex.layout;
    auto limit = [&](const VertexElement& e)
    {
        if (!e.present) return;
        const StreamInput& s = cfg.vertex.streams[e.stream];
        if (!s.data)
            available = 0;
        else if (s.stride == 0)
            return;
        else
            available = std::min<int64_t>(available, static_cast<int64_t>(s.size / s.stride) + 1);
    };
    limit(vl.position);
    limit(vl.normal);
    limit(vl.diffuse);
    limit(vl.specular);
    for (const auto& t : vl.tex)
        limit(t);
    lo = std::max<int64_t>(lo, 0);
    hi = std::min<int64_t>(hi, available - 1);
    if (lo > hi) return;

    const VertexLayoutOut layout = MakeVertexLayout(cfg);
    const VaryingSet active = ActiveVaryings(cfg);
    const size_t rangeCount = static_cast<size_t>(hi - lo + 1);
    // Buffers are kept from draw to draw so that large meshes do not fault fresh pages in every frame.
    DrawMemory& memory = Memory();
    std::vector<float>& verts = memory.verts;
    if (verts.size() < rangeCount * layout.stride) verts.resize(rangeCount * layout.stride);
    std::vector<ScreenVertex>& screen = memory.screen;
    if (screen.size() < rangeCount) screen.resize(rangeCount);
    const D3DVIEWPORT9& vp = cfg.raster.viewport;
    const float guardX = kGuardPixels / std::max(1.0f, vp.Width * 0.5f);
    const float guardY = kGuardPixels / std::max(1.0f, vp.Height * 0.5f);
    pool.Run((rangeCount + kVertexChunk - 1) / kVertexChunk,
             [&](size_t chunk)
             {
                 const size_t first = chunk * kVertexChunk;
                 const size_t n = std::min(kVertexChunk, rangeCount - first);
                 ProcessVertices(cfg, layout, lo + static_cast<int64_t>(first), n,
                                 verts.data() + first * layout.stride, guardX, guardY);
                 for (size_t k = first; k < first + n; ++k)
                     ProjectVertex(cfg, layout, verts.data() + k * layout.stride, &screen[k]);
             });
    // Slot of primitive vertex i in the processed range; -1 when it is outside or could not be read.
    auto slotOf = [&](size_t i) -> int64_t
    {
        const int64_t v = indexAt(i);
        if (v < lo || v > hi) return -1;
        const float* p = verts.data() + static_cast<size_t>(v - lo) * layout.stride;
        return (Flags(p) & kVertexInvalid) ? -1 : v - lo;
    };
    auto vertex = [&](size_t i) -> const float*
    {
        const int64_t slot = slotOf(i);
        return slot < 0 ? nullptr : verts.data() + static_cast<size_t>(slot) * layout.stride;
    };

    const int tilesX = (clip.right + kTileSize - 1) / kTileSize;
    const int tilesY = (clip.bottom + kTileSize - 1) / kTileSize;
    const size_t batchCount = (call.primitiveCount + kPrimBatch - 1) / kPrimBatch;
    std::vector<Batch>& batches = memory.batches;
    if (batches.size() < batchCount) batches.resize(batchCount);
    const uint32_t clipMask = (1u << layout.clipCount) - 1;

    pool.Run(
        batchCount,
        [&](size_t bi)
        {
            Batch& batch = batches[bi];
            batch.prims.clear();
            batch.arena.clear();
            batch.bins.resize(static_cast<size_t>(tilesX) * tilesY);
            for (auto& bin : batch.bins)
                bin.clear();
            Setup setup(cfg, layout, active, batch, tilesX, tilesY);
            std::vector<float> poly(static_cast<size_t>(kMaxClipVerts) * layout.stride);
            std::vector<float> scratch(poly.size());
            const size_t first = bi * kPrimBatch;
            const size_t end = std::min<size_t>(first + kPrimBatch, call.primitiveCount);
            for (size_t prim = first; prim < end; ++prim)
            {
                switch (call.type)
                {
                case D3DPT_TRIANGLELIST:
                case D3DPT_TRIANGLESTRIP:
                case D3DPT_TRIANGLEFAN:
                {
                    size_t i0, i1, i2, ip;
                    if (call.type == D3DPT_TRIANGLELIST)
                        i0 = 3 * prim, i1 = i0 + 1, i2 = i0 + 2, ip = i0;
                    else if (call.type == D3DPT_TRIANGLESTRIP)
                    {
                        // Odd triangles of a strip swap two vertices to keep one winding.
                        i0 = prim, i1 = prim + 1, i2 = prim + 2, ip = prim;
                        if (prim & 1) std::swap(i0, i1);
                    }
                    else
                        i0 = 0, i1 = prim + 1, i2 = prim + 2, ip = prim + 1;
                    const int64_t sa = slotOf(i0), sb = slotOf(i1), sc = slotOf(i2);
                    if (sa < 0 || sb < 0 || sc < 0) break;
                    const size_t stride = static_cast<size_t>(layout.stride);
                    const float* a = verts.data() + static_cast<size_t>(sa) * stride;
                    const float* b = verts.data() + static_cast<size_t>(sb) * stride;
                    const float* c = verts.data() + static_cast<size_t>(sc) * stride;
                    const float* pv = vertex(ip);
                    const uint32_t oa = Outside(layout, a), ob = Outside(layout, b), oc = Outside(layout, c);
                    if (oa & ob & oc) break;
                    const uint32_t any = (oa | ob | oc) & clipMask;
                    if (!any)
                    {
                        const ScreenVertex* s[3] = {&screen[static_cast<size_t>(sa)],
                                                    &screen[static_cast<size_t>(sb)],
                                                    &screen[static_cast<size_t>(sc)]};
                        setup.Triangle(a, b, c, pv, s);
                        break;
                    }
                    const size_t bytes = layout.stride * sizeof(float);
                    std::memcpy(poly.data(), a, bytes);
                    std::memcpy(poly.data() + layout.stride, b, bytes);
                    std::memcpy(poly.data() + 2 * layout.stride, c, bytes);
                    const int n = ClipPolygon(layout, any, poly.data(), 3, scratch.data(), kMaxClipVerts);
                    for (int k = 1; k + 1 < n; ++k)
                        setup.Triangle(poly.data(), poly.data() + k * layout.stride,
                                       poly.data() + (k + 1) * layout.stride, pv);
                    break;
                }
                case D3DPT_LINELIST:
                case D3DPT_LINESTRIP:
                {
                    const size_t i0 = call.type == D3DPT_LINELIST ? 2 * prim : prim;
                    const float* a = vertex(i0);
                    const float* b = vertex(i0 + 1);
                    if (!a || !b) break;
                    const uint32_t oa = Outside(layout, a), ob = Outside(layout, b);
                    if (oa & ob) break;
                    if (!((oa | ob) & clipMask))
                    {
                        setup.Line(a, b, a, kNoPlane, nullptr);
                        break;
                    }
                    // Clip the segment parametrically against each plane it crosses.
                    float t0 = 0.0f, t1 = 1.0f;
                    for (int pl = 0; pl < layout.clipCount; ++pl)
                    {
                        const float da = a[VertexLayoutOut::kClip + pl], db = b[VertexLayoutOut::kClip + pl];
                        if (da >= 0 && db >= 0) continue;
                        const float t = da / (da - db);
                        if (da < 0)
                            t0 = std::max(t0, t);
                        else
                            t1 = std::min(t1, t);
                    }
                    if (t0 >= t1) break;
                    float* pa = poly.data();
                    float* pb = poly.data() + layout.stride;
                    for (int k = 0; k < layout.stride; ++k)
                    {
                        pa[k] = a[k] + (b[k] - a[k]) * t0;
                        pb[k] = a[k] + (b[k] - a[k]) * t1;
                    }
                    setup.Line(pa, pb, a, kNoPlane, nullptr);
                    break;
                }
                case D3DPT_POINTLIST:
                {
                    const float* a = vertex(prim);
                    if (a && !(Outside(layout, a) & clipMask)) setup.Point(a, kNoPlane, nullptr);
                    break;
                }
                default:
                    break;
                }
            }
        });

    // Tiles that have work, in a fixed order.
    std::vector<int> tiles;
    for (int t = 0; t < tilesX * tilesY; ++t)
        for (size_t bi = 0; bi < batchCount; ++bi)
            if (!batches[bi].bins[t].empty())
            {
                tiles.push_back(t);
                break;
            }
    pool.Run(tiles.size(),
             [&](size_t i)
             {
                 const int t = tiles[i];
                 const int tx = t % tilesX, ty = t / tilesX;
                 const int x0 = std::max<int>(tx * kTileSize, clip.left),
                           y0 = std::max<int>(ty * kTileSize, clip.top);
                 const int x1 = std::min<int>(x0 - x0 % kTileSize + kTileSize, clip.right);
                 const int y1 = std::min<int>(y0 - y0 % kTileSize + kTileSize, clip.bottom);
                 PixelPipeline pixels(cfg);
                 for (size_t bi = 0; bi < batchCount; ++bi)
                 {
                     const Batch& b = batches[bi];
                     for (uint32_t index : b.bins[t])
                         RasterizePrim(cfg, active, b.prims[index], b.arena.data(), x0, y0, x1, y1, pixels);
                 }
             });
}
} // namespace ferolt::d3d9
