// Rendering through the device: rasterisation rules, depth, stencil, blending, alpha test, texture stages,
// sampling, lighting, fog, clipping, texture coordinate generation, wireframe and determinism.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "platform/d3d9/raster.h"
#include "tests/platform/d3d9/d3d9_test_util.h"

using namespace d3d9test;

namespace
{
bool Near(uint32_t a, uint32_t b, int tolerance = 1)
{
    for (int s = 0; s < 32; s += 8)
        if (std::abs(static_cast<int>((a >> s) & 0xff) - static_cast<int>((b >> s) & 0xff)) > tolerance)
            return false;
    return true;
}

// Stage 0 passes the diffuse colour and alpha through.
void DiffuseOnly(IDirect3DDevice9* dev)
{
    dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
}

D3DMATRIX Identity()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

TEST(FillRuleTest, PixelCentresAndTopLeftRule)
{
    struct Case
    {
        float x0, y0, x1, y1;
        int count;
        int inX, inY;   // a covered pixel, or -1
        int outX, outY; // a pixel left alone
    };
    const Case cases[] = {
        {0, 0, 4, 4, 16, 0, 0, 4, 0}, // right and bottom edges through centres are excluded
        {0.5f, 0.5f, 4.5f, 4.5f, 16, 4, 4, 0, 0},
        {0.25f, 0.25f, 0.75f, 0.75f, 0, -1, -1, 0, 0},
        {-0.5f, -0.5f, 0.5f, 0.5f, 1, 0, 0, 1, 1},
        {15, 15, 20, 20, 1, 15, 15, 14, 14},
        {2, 3, 2.9f, 9, 6, 2, 3, 2, 9},
    };
    for (const Case& c : cases)
    {
        Target t;
        t.Clear(0xff000000);
        DiffuseOnly(t.Get());
        t.Rect(c.x0, c.y0, c.x1, c.y1, 0xffffffff);
        EXPECT_EQ(t.Count(0xffffffff), c.count) << c.x0 << "," << c.y0 << " - " << c.x1 << "," << c.y1;
        if (c.inX >= 0)
        {
            EXPECT_EQ(t.At(c.inX, c.inY), 0xffffffffu);
        }
        EXPECT_EQ(t.At(c.outX, c.outY), 0xff000000u);
    }
}

TEST(FillRuleTest, SharedEdgesAreDrawnOnce)
{
    Target t(32, 32);
    t.Clear(0xff000000);
    DiffuseOnly(t.Get());
    t->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    t->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    t->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    // A fan of triangles around an inner point: every interior edge is shared.
    TVertex fan[] = {{13.3f, 17.7f, 0.5f, 1, 0x40404040, 0, 0}, {1, 1, 0.5f, 1, 0x40404040, 0, 0},
                     {31, 2.5f, 0.5f, 1, 0x40404040, 0, 0},     {30, 30, 0.5f, 1, 0x40404040, 0, 0},
                     {2.2f, 29, 0.5f, 1, 0x40404040, 0, 0},     {1, 1, 0.5f, 1, 0x40404040, 0, 0}};
    t->SetFVF(kTVertexFvf);
    ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 4, fan, sizeof(TVertex)), D3D_OK);
    int covered = 0;
    for (uint32_t p : t.Pixels())
    {
        EXPECT_TRUE(p == 0xff000000u || p == 0xff404040u) << std::hex << p;
        covered += p == 0xff404040u;
    }
    EXPECT_GT(covered, 500);
}

// Small and thin triangles of both windings at 1/256-pixel corners, counted pixel by pixel against the
// edge functions evaluated here: the set-up screens small triangles by their pixel centres before drawing,
// and the path that draws them may take their edges in 32 bits, so a fault in either loses or adds pixels.
TEST(FillRuleTest, SmallTrianglesCoverExactlyTheirCentres)
{
    constexpr int kSize = 64;
    std::mt19937 rnd(5);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rnd); };
    struct Corner
    {
        int64_t x, y; // in 1/256 pixel
    };
    std::vector<std::array<Corner, 3>> triangles;
    for (int n = 0; n < 600; ++n)
    {
        // Reaches up to 3, 5 and 18 pixels: one centre or none, bounds of up to sixteen centres, and thin
        // triangles whose corners lie about 16 pixels apart.
        const int reach = n % 3 == 0 ? 3 * 256 : (n % 3 == 1 ? 5 * 256 : 18 * 256);
        const int across = n % 3 == 2 ? 2 * 256 : reach;
        const bool tall = uniform(0, 1) == 1;
        std::array<Corner, 3> c;
        c[0] = {uniform(20 * 256, 44 * 256), uniform(20 * 256, 44 * 256)};
        for (int k = 1; k < 3; ++k)
        {
            const int64_t along = uniform(-reach, reach), side = uniform(-across, across);
            c[k] = {c[0].x + (tall ? side : along), c[0].y + (tall ? along : side)};
        }
        triangles.push_back(c);
    }

    Target t(kSize, kSize);
    t.Clear(0);
    DiffuseOnly(t.Get());
    t->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    t->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    t->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    std::vector<TVertex> vertices;
    for (const auto& c : triangles)
        for (const Corner& k : c)
            vertices.push_back(
                {static_cast<float>(k.x) / 256, static_cast<float>(k.y) / 256, 0.5f, 1, 0x00010101, 0, 0});
    t->SetFVF(kTVertexFvf);
    ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(triangles.size()), vertices.data(),
                                 sizeof(TVertex)),
              D3D_OK);

    std::vector<int> expected(kSize * kSize, 0);
    for (auto c : triangles)
    {
        const int64_t area = (c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[2].x - c[0].x) * (c[1].y - c[0].y);
        if (area == 0) continue;
        if (area < 0) std::swap(c[1], c[2]); // clockwise on the screen
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x)
            {
                bool inside = true;
                for (int e = 0; e < 3; ++e)
                {
                    const Corner &a = c[e], &b = c[(e + 1) % 3];
                    const int64_t dx = b.x - a.x, dy = b.y - a.y;
                    // Centres on an edge belong to top and left edges only.
                    const bool topLeft = (dy == 0 && dx > 0) || dy < 0;
                    inside = inside && -dy * (256 * x - a.x) + dx * (256 * y - a.y) - (topLeft ? 0 : 1) >= 0;
                }
                expected[y * kSize + x] += inside;
            }
    }
    const std::vector<uint32_t> pixels = t.Pixels();
    int wrong = 0, covered = 0;
    for (int i = 0; i < kSize * kSize; ++i)
    {
        wrong += static_cast<int>(pixels[i] & 0xff) != expected[i];
        covered += expected[i];
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(covered, 1000);
}

TEST(CullTest, CullModesDropTheirWinding)
{
    struct Case
    {
        DWORD cull;
        bool clockwiseDrawn, counterClockwiseDrawn;
    };
    const Case cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
    for (const Case& c : cases)
    {
        Target t;
        DiffuseOnly(t.Get());
        t->SetRenderState(D3DRS_CULLMODE, c.cull);
        t->SetFVF(kTVertexFvf);
        TVertex cw[] = {{0, 0, 0.5f, 1, 0xffffffff, 0, 0},
                        {16, 0, 0.5f, 1, 0xffffffff, 0, 0},
                        {0, 16, 0.5f, 1, 0xffffffff, 0, 0}};
        TVertex ccw[] = {cw[0], cw[2], cw[1]};
        t.Clear(0xff000000);
        t->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, cw, sizeof(TVertex));
        EXPECT_EQ(t.At(2, 2) == 0xffffffffu, c.clockwiseDrawn) << "cull " << c.cull;
        t.Clear(0xff000000);
        t->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, ccw, sizeof(TVertex));
        EXPECT_EQ(t.At(2, 2) == 0xffffffffu, c.counterClockwiseDrawn) << "cull " << c.cull;
    }
}

TEST(DepthTest, AllCompareFunctions)
{
    // Bits: drawn at depth 0.25, 0.5, 0.75 against a buffer cleared to 0.5. A 32-bit buffer holds depths
    // past 0.5 with the top bit set: the comparison is unsigned.
    struct Case
    {
        D3DCMPFUNC func;
        int drawn;
    };
    const Case cases[] = {{D3DCMP_NEVER, 0b000},        {D3DCMP_LESS, 0b001},    {D3DCMP_EQUAL, 0b010},
                          {D3DCMP_LESSEQUAL, 0b011},    {D3DCMP_GREATER, 0b100}, {D3DCMP_NOTEQUAL, 0b101},
                          {D3DCMP_GREATEREQUAL, 0b110}, {D3DCMP_ALWAYS, 0b111}};
    const float depths[] = {0.25f, 0.5f, 0.75f};
    for (D3DFORMAT format : {D3DFMT_D24S8, D3DFMT_D32})
        for (const Case& c : cases)
            for (int i = 0; i < 3; ++i)
            {
                Target t(16, 16, format);
                DiffuseOnly(t.Get());
                ASSERT_EQ(t->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff000000, 0.5f, 0),
                          D3D_OK);
                t->SetRenderState(D3DRS_ZFUNC, c.func);
                t.Rect(0, 0, 16, 16, 0xffffffff, depths[i]);
                EXPECT_EQ(t.At(5, 5) == 0xffffffffu, ((c.drawn >> i) & 1) != 0)
                    << "format " << format << " func " << c.func << " z " << depths[i];
            }
}

TEST(DepthTest, WritesAreMaskedAndZEnableOff)
{
    Target t;
    DiffuseOnly(t.Get());
    t.Clear(0xff000000, 1.0f);
    t->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    t.Rect(0, 0, 16, 16, 0xff0000ff, 0.2f);
    t->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    t->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    t.Rect(0, 0, 16, 16, 0xff00ff00, 0.6f); // passes: the first rectangle wrote no depth
    EXPECT_EQ(t.At(3, 3), 0xff00ff00u);
    t.Rect(0, 0, 16, 16, 0xffff0000, 0.7f); // fails against 0.6
    EXPECT_EQ(t.At(3, 3), 0xff00ff00u);
    t->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    t.Rect(0, 0, 16, 16, 0xffff0000, 0.9f);
    EXPECT_EQ(t.At(3, 3), 0xffff0000u);
}

TEST(StencilTest, FunctionsAgainstReference)
{
    struct Case
    {
        D3DCMPFUNC func;
        DWORD ref, mask;
        bool passes; // the buffer holds 5
    };
    const Case cases[] = {
        {D3DCMP_NEVER, 5, 0xff, false},    {D3DCMP_ALWAYS, 0, 0xff, true},
        {D3DCMP_EQUAL, 5, 0xff, true},     {D3DCMP_EQUAL, 4, 0xff, false},
        {D3DCMP_EQUAL, 4, 0xfe, true},     {D3DCMP_LESS, 4, 0xff, true},
        {D3DCMP_LESS, 5, 0xff, false},     {D3DCMP_LESSEQUAL, 5, 0xff, true},
        {D3DCMP_GREATER, 6, 0xff, true},   {D3DCMP_GREATEREQUAL, 4, 0xff, false},
        {D3DCMP_NOTEQUAL, 5, 0xff, false},
    };
    for (const Case& c : cases)
    {
        Target t;
        DiffuseOnly(t.Get());
        t.Clear(0xff000000, 1.0f, 5);
        t->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        t->SetRenderState(D3DRS_STENCILFUNC, c.func);
        t->SetRenderState(D3DRS_STENCILREF, c.ref);
        t->SetRenderState(D3DRS_STENCILMASK, c.mask);
        t.Rect(0, 0, 16, 16, 0xffffffff);
        EXPECT_EQ(t.At(1, 1) == 0xffffffffu, c.passes) << "func " << c.func << " ref " << c.ref;
    }
}

TEST(StencilTest, OperationsOnFailDepthFailAndPass)
{
    enum Route
    {
        StencilFails,
        DepthFails,
        Passes
    };
    struct Case
    {
        Route route;
        D3DSTENCILOP op;
        DWORD start, ref, writeMask, expected;
    };
    const Case cases[] = {
        {Passes, D3DSTENCILOP_KEEP, 5, 9, 0xff, 5},
        {Passes, D3DSTENCILOP_ZERO, 5, 9, 0xff, 0},
        {Passes, D3DSTENCILOP_REPLACE, 5, 9, 0xff, 9},
        {Passes, D3DSTENCILOP_INCRSAT, 5, 9, 0xff, 6},
        {Passes, D3DSTENCILOP_INCRSAT, 255, 9, 0xff, 255},
        {Passes, D3DSTENCILOP_DECRSAT, 0, 9, 0xff, 0},
        {Passes, D3DSTENCILOP_INVERT, 5, 9, 0xff, 250},
        {Passes, D3DSTENCILOP_INCR, 255, 9, 0xff, 0},
        {Passes, D3DSTENCILOP_DECR, 0, 9, 0xff, 255},
        {Passes, D3DSTENCILOP_REPLACE, 5, 0xfa, 0x0f, 0x0a},
        {DepthFails, D3DSTENCILOP_INCR, 5, 9, 0xff, 6},
        {StencilFails, D3DSTENCILOP_DECR, 5, 9, 0xff, 4},
    };
    for (const Case& c : cases)
    {
        Target t;
        DiffuseOnly(t.Get());
        t.Clear(0xff000000, 0.5f, c.start);
        t->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        t->SetRenderState(D3DRS_STENCILREF, c.ref);
        t->SetRenderState(D3DRS_STENCILWRITEMASK, c.writeMask);
        t->SetRenderState(D3DRS_STENCILFUNC, c.route == StencilFails ? D3DCMP_NEVER : D3DCMP_ALWAYS);
        t->SetRenderState(D3DRS_STENCILFAIL, c.route == StencilFails ? c.op : D3DSTENCILOP_KEEP);
        t->SetRenderState(D3DRS_STENCILZFAIL, c.route == DepthFails ? c.op : D3DSTENCILOP_KEEP);
        t->SetRenderState(D3DRS_STENCILPASS, c.route == Passes ? c.op : D3DSTENCILOP_KEEP);
        t.Rect(0, 0, 16, 16, 0xffffffff, c.route == DepthFails ? 0.75f : 0.25f);
        // Read the stencil back: only pixels equal to the expected value take the second colour.
        t->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
        t->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        t->SetRenderState(D3DRS_STENCILREF, c.expected);
        t->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        t.Rect(0, 0, 16, 16, 0xff00ff00);
        EXPECT_EQ(t.At(7, 7), 0xff00ff00u) << "op " << c.op << " start " << c.start;
    }
}

TEST(BlendTest, FactorsAndOperations)
{
    // Destination 0x40402010, source 0x40FF8000; expected values worked out per channel. The destination
    // alpha (0x40) is far from its inverse (0xBF), so a swapped alpha factor cannot pass, and the device is
    // deterministic, so every value is exact.
    struct Case
    {
        D3DBLEND src, dst;
        D3DBLENDOP op;
        uint32_t expected;
    };
    const Case cases[] = {
        {D3DBLEND_ONE, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x40FF8000},
        {D3DBLEND_ZERO, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x40402010},
        {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, 0x4070380C},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_ADD, 0x80FFA010},
        {D3DBLEND_DESTCOLOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x10401000},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT, 0x00000010},
        {D3DBLEND_ONE, D3DBLEND_ONE, D3DBLENDOP_MIN, 0x40402000},
        {D3DBLEND_DESTALPHA, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x10402000},
        {D3DBLEND_INVDESTALPHA, D3DBLEND_SRCCOLOR, D3DBLENDOP_ADD, 0x40FF7000},
        {D3DBLEND_BLENDFACTOR, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x20804000},
        {D3DBLEND_BOTHSRCALPHA, D3DBLEND_ZERO, D3DBLENDOP_ADD, 0x4070380C},
    };
    // The source comes from the vertex colour (per-pixel path) or from a texel (the four- and eight-wide
    // loops, which take textured draws).
    enum Path
    {
        PerPixel,
        FourWide,
        EightWide
    };
    for (Path path : {PerPixel, FourWide, EightWide})
        for (const Case& c : cases)
        {
            ferolt::d3d9::SetPixelAvx2Allowed(path == EightWide);
            Target t;
            IDirect3DTexture9* texel = nullptr;
            if (path == PerPixel)
                DiffuseOnly(t.Get());
            else
            {
                texel = MakeTexture(t.Get(), 1, 1, [](UINT, UINT, UINT) { return 0x40FF8000u; });
                t->SetTexture(0, texel);
                t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
                t->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
                t->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
                t->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
            }
            t.Clear(0x40402010);
            t->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
            t->SetRenderState(D3DRS_SRCBLEND, c.src);
            t->SetRenderState(D3DRS_DESTBLEND, c.dst);
            t->SetRenderState(D3DRS_BLENDOP, c.op);
            t->SetRenderState(D3DRS_BLENDFACTOR, 0x80808080);
            t.Rect(0, 0, 16, 16, path == PerPixel ? 0x40FF8000 : 0xffffffff);
            EXPECT_EQ(t.At(4, 4), c.expected) << std::hex << "path " << path << " src " << c.src << " dst "
                                              << c.dst << ": " << t.At(4, 4) << " expected " << c.expected;
            t->SetTexture(0, nullptr);
            if (texel) texel->Release();
        }
    ferolt::d3d9::SetPixelAvx2Allowed(true);
}

TEST(BlendTest, ColorWriteMask)
{
    Target t;
    DiffuseOnly(t.Get());
    t.Clear(0x11223344);
    t->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA);
    t.Rect(0, 0, 16, 16, 0xAABBCCDD);
    EXPECT_EQ(t.At(0, 0), 0xAABB3344u);
}

TEST(AlphaTestTest, ReferenceAndFunction)
{
    struct Case
    {
        D3DCMPFUNC func;
        DWORD ref;
        bool drawn; // the fragment's alpha is 0x80
    };
    const Case cases[] = {{D3DCMP_GREATER, 0x7F, true},  {D3DCMP_GREATER, 0x80, false},
                          {D3DCMP_EQUAL, 0x80, true},    {D3DCMP_LESS, 0x80, false},
                          {D3DCMP_NOTEQUAL, 0xFE, true}, {D3DCMP_NEVER, 0, false},
                          {D3DCMP_ALWAYS, 0xFF, true},   {D3DCMP_LESSEQUAL, 0x180, true}};
    for (const Case& c : cases)
    {
        Target t;
        DiffuseOnly(t.Get());
        t.Clear(0xff000000, 1.0f, 0);
        t->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        t->SetRenderState(D3DRS_ALPHAFUNC, c.func);
        t->SetRenderState(D3DRS_ALPHAREF, c.ref);
        t->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        t->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_INCR);
        t.Rect(0, 0, 16, 16, 0x80FFFFFF, 0.5f);
        EXPECT_EQ(t.At(2, 2) == 0x80FFFFFFu, c.drawn) << "func " << c.func << " ref " << c.ref;
        // A fragment that fails the alpha test leaves depth and stencil alone.
        t->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        t->SetRenderState(D3DRS_ZFUNC, D3DCMP_EQUAL);
        t->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        t->SetRenderState(D3DRS_STENCILREF, c.drawn ? 1 : 0);
        t.Rect(0, 0, 16, 16, 0xff00ff00, c.drawn ? 0.5f : 1.0f);
        EXPECT_EQ(t.At(2, 2), 0xff00ff00u) << "func " << c.func;
    }
}

TEST(TextureStageTest, OperationsWithArguments)
{
    // Texture 0xFF804020, diffuse 0x80C0C0C0, texture factor 0x40202020; colour channels checked.
    struct Case
    {
        D3DTEXTUREOP op;
        DWORD arg1, arg2, arg0;
        uint32_t expected;
        uint32_t mask = 0x00ffffff;
    };
    const Case cases[] = {
        {D3DTOP_SELECTARG1, D3DTA_TEXTURE, 0, 0, 0x804020},
        {D3DTOP_SELECTARG2, 0, D3DTA_DIFFUSE, 0, 0xC0C0C0},
        {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0, 0x603018},
        {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0, 0xC16030},
        {D3DTOP_MODULATE4X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0, 0xFFC160},
        {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, 0xA06040},
        {D3DTOP_ADDSIGNED, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, 0x200000},
        {D3DTOP_ADDSIGNED2X, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0, 0xFFFFC1},
        {D3DTOP_SUBTRACT, D3DTA_DIFFUSE, D3DTA_TEXTURE, 0, 0x4080A0},
        {D3DTOP_ADDSMOOTH, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, 0x90583C},
        {D3DTOP_BLENDDIFFUSEALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, 0x503020},
        {D3DTOP_BLENDTEXTUREALPHA, D3DTA_TFACTOR, D3DTA_DIFFUSE, 0, 0x202020},
        {D3DTOP_BLENDFACTORALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0, 0xB0A098},
        {D3DTOP_BLENDTEXTUREALPHAPM, D3DTA_TFACTOR, D3DTA_DIFFUSE, 0, 0x202020},
        {D3DTOP_BLENDCURRENTALPHA, D3DTA_TEXTURE, D3DTA_TFACTOR, 0, 0x503020},
        {D3DTOP_MODULATEALPHA_ADDCOLOR, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0, 0xFFFFE0},
        {D3DTOP_MODULATECOLOR_ADDALPHA, D3DTA_TFACTOR, D3DTA_DIFFUSE, 0, 0x585858},
        {D3DTOP_DOTPRODUCT3, D3DTA_DIFFUSE, D3DTA_DIFFUSE, 0, 0xC4C4C4C4, 0xffffffff},
        {D3DTOP_MULTIPLYADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0x805038},
        {D3DTOP_LERP, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTA_TFACTOR, 0xB8B0AC},
        {D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, 0, 0, 0x7FBFDF},
        {D3DTOP_SELECTARG1, D3DTA_TFACTOR | D3DTA_ALPHAREPLICATE, 0, 0, 0x404040},
    };
    for (const Case& c : cases)
    {
        Target t;
        IDirect3DTexture9* tex = MakeTexture(t.Get(), 1, 1, [](UINT, UINT, UINT) { return 0xFF804020u; });
        t->SetTexture(0, tex);
        t->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40202020);
        t->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
        t->SetTextureStageState(0, D3DTSS_COLORARG1, c.arg1);
        t->SetTextureStageState(0, D3DTSS_COLORARG2, c.arg2);
        t->SetTextureStageState(0, D3DTSS_COLORARG0, c.arg0);
        t->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        t->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        t.Clear(0xff000000);
        t.Rect(0, 0, 16, 16, 0x80C0C0C0);
        EXPECT_TRUE(Near(t.At(3, 3) & c.mask, c.expected))
            << "op " << c.op << std::hex << ": " << (t.At(3, 3) & c.mask) << " expected " << c.expected;
        t->SetTexture(0, nullptr);
        tex->Release();
    }
}

TEST(TextureStageTest, TextureFactorAlphaAndTempRegister)
{
    Target t;
    t.Clear(0xff000000);
    t->SetRenderState(D3DRS_TEXTUREFACTOR, 0x40123456);
    t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    t->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    t->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    t->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    t.Rect(0, 0, 16, 16, 0xffffffff);
    EXPECT_EQ(t.At(1, 1), 0x40123456u); // bit-exact, alpha included
    // Stage 0 parks the factor in TEMP; stage 1 shows diffuse, stage 2 brings TEMP back in colour only.
    t->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_TEMP);
    t->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    t->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    t->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    t->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    t.Rect(0, 0, 16, 16, 0xff00ff00);
    EXPECT_EQ(t.At(1, 1), 0xff00ff00u);
    t->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    t->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TEMP);
    t.Rect(0, 0, 16, 16, 0xff00ff00);
    EXPECT_EQ(t.At(1, 1), 0xff123456u);
}

TEST(TextureStageTest, BumpMapOffsetsTheNextStage)
{
    Target t;
    // A constant (du, dv) of (+0.5, 0) moves the next stage half the texture to the right.
    IDirect3DTexture9* bump = MakeTexture(
        t.Get(), 1, 1, [](UINT, UINT, UINT) { return 0x007Fu; }, 1, D3DFMT_V8U8);
    IDirect3DTexture9* base =
        MakeTexture(t.Get(), 2, 1, [](UINT x, UINT, UINT) { return x ? 0xffff0000u : 0xff0000ffu; });
    t->SetTexture(0, bump);
    t->SetTexture(1, base);
    t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_BUMPENVMAP);
    t->SetTextureStageState(0, D3DTSS_BUMPENVMAT00, F2DW(0.5f));
    t->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    t->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    t->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    t.Clear(0xff000000);
    t.Rect(0, 0, 16, 16, 0xffffffff, 0.5f, 0, 0, 1, 1);
    EXPECT_EQ(t.At(2, 2) & 0xffffff, 0xff0000u); // u 0.125 + 0.5 lands in the right texel
    t->SetTexture(0, nullptr);
    t->SetTexture(1, nullptr);
    bump->Release();
    base->Release();
}

TEST(SamplerTest, AddressModes)
{
    // 2 x 2 texels: A B / C D; the rectangle maps u from 0 to 2.
    const uint32_t A = 0xffff0000, B = 0xff00ff00, Border = 0xff00ffff;
    struct Case
    {
        DWORD mode;
        uint32_t expected[4]; // at x = 2, 6, 10, 14
    };
    const Case cases[] = {
        {D3DTADDRESS_WRAP, {A, B, A, B}},       {D3DTADDRESS_MIRROR, {A, B, B, A}},
        {D3DTADDRESS_CLAMP, {A, B, B, B}},      {D3DTADDRESS_BORDER, {A, B, Border, Border}},
        {D3DTADDRESS_MIRRORONCE, {A, B, B, B}}, {7, {A, B, A, B}},
    };
    for (const Case& c : cases)
    {
        Target t;
        IDirect3DTexture9* tex =
            MakeTexture(t.Get(), 2, 2, [&](UINT x, UINT y, UINT) { return y ? 0xff0000ffu : (x ? B : A); });
        t->SetTexture(0, tex);
        t->SetSamplerState(0, D3DSAMP_ADDRESSU, c.mode);
        t->SetSamplerState(0, D3DSAMP_BORDERCOLOR, Border);
        t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        t.Clear(0xff000000);
        t.Rect(0, 0, 16, 16, 0xffffffff, 0.5f, 0, 0, 2, 0.5f);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(t.At(2 + 4 * i, 1), c.expected[i]) << "mode " << c.mode << " x " << 2 + 4 * i;
        t->SetTexture(0, nullptr);
        tex->Release();
    }
}

TEST(SamplerTest, FiltersAndMipLevels)
{
    struct Case
    {
        DWORD mag, min, mip;
        float uMax; // u across the 16-pixel rectangle of an 8 x 8 texture
        int x;
        uint32_t expected;
    };
    // Levels are coloured 0x10, 0x20, 0x30, 0x40 grey; level 0 is a ramp in the linear cases.
    const Case cases[] = {
        {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_POINT, 1, 5, 0xff101010}, // magnified: level 0
        {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_POINT, 4, 5, 0xff202020}, // 2 texels a pixel: level 1
        {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_POINT, 8, 5, 0xff303030}, // 4 texels a pixel: level 2
        {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE, 8, 5, 0xff101010},  // no mipmapping
        {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_LINEAR, 5.6568542f, 5, 0xff282828}, // lod 1.5
    };
    for (const Case& c : cases)
    {
        Target t;
        IDirect3DTexture9* tex = MakeTexture(
            t.Get(), 8, 8, [](UINT, UINT, UINT l) { return 0xff000000u | 0x101010u * (l + 1); }, 4);
        t->SetTexture(0, tex);
        t->SetSamplerState(0, D3DSAMP_MAGFILTER, c.mag);
        t->SetSamplerState(0, D3DSAMP_MINFILTER, c.min);
        t->SetSamplerState(0, D3DSAMP_MIPFILTER, c.mip);
        t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        t.Clear(0xff000000);
        t.Rect(0, 0, 16, 16, 0xffffffff, 0.5f, 0, 0, c.uMax, c.uMax);
        EXPECT_TRUE(Near(t.At(c.x, c.x), c.expected))
            << "mip " << c.mip << " u " << c.uMax << std::hex << ": " << t.At(c.x, c.x);
        t->SetTexture(0, nullptr);
        tex->Release();
    }
    // Bilinear magnification between a black and a white texel, clamped at the ends.
    Target t;
    IDirect3DTexture9* tex =
        MakeTexture(t.Get(), 2, 1, [](UINT x, UINT, UINT) { return x ? 0xffffffffu : 0xff000000u; });
    t->SetTexture(0, tex);
    t->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    t->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    t.Rect(0, 0, 16, 16, 0xffffffff, 0.5f, 0, 0, 1, 1);
    EXPECT_EQ(t.At(0, 0), 0xff000000u);
    EXPECT_TRUE(Near(t.At(8, 0), 0xff808080u)) << std::hex << t.At(8, 0);
    EXPECT_TRUE(Near(t.At(6, 0), 0xff404040u)) << std::hex << t.At(6, 0);
    EXPECT_EQ(t.At(15, 0), 0xffffffffu);
    t->SetTexture(0, nullptr);
    tex->Release();
    // In two dimensions: red only in texel (1, 0), green only in (0, 1). At pixel (5, 10) the texel
    // position is (0.125, 0.75): red fx (1 - fy) = 0.03125, green (1 - fx) fy = 0.65625.
    IDirect3DTexture9* quad =
        MakeTexture(t.Get(), 2, 2,
                    [](UINT x, UINT y, UINT)
                    { return 0xff000000u | (x && !y ? 0xff0000u : 0) | (!x && y ? 0x00ff00u : 0); });
    t->SetTexture(0, quad);
    t->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    t->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    t.Rect(0, 0, 16, 16, 0xffffffff, 0.5f, 0, 0, 1, 1);
    EXPECT_TRUE(Near(t.At(5, 10), 0xff08a700u)) << std::hex << t.At(5, 10);
    t->SetTexture(0, nullptr);
    quad->Release();
}

TEST(SamplerTest, PointMipLevelFollowsTheLargerAxisAndPerspective)
{
    // Levels of an 8 x 8 texture coloured 0x10, 0x20, 0x30, 0x40 grey; point filters throughout.
    auto level = [](int l) { return 0xff000000u | 0x101010u * static_cast<uint32_t>(l + 1); };
    auto prepare = [&](Target& t)
    {
        IDirect3DTexture9* tex = MakeTexture(
            t.Get(), 8, 8, [&](UINT, UINT, UINT l) { return level(static_cast<int>(l)); }, 4);
        t->SetTexture(0, tex);
        t->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        t.Clear(0xff000000);
        return tex;
    };
    // 0.5 texels a pixel along one axis and 4 along the other: the larger one picks level 2.
    for (bool alongY : {false, true})
    {
        Target t;
        IDirect3DTexture9* tex = prepare(t);
        t.Rect(0, 0, 16, 16, 0xffffffff, 0.5f, 0, 0, alongY ? 1.0f : 8.0f, alongY ? 8.0f : 1.0f);
        EXPECT_EQ(t.At(5, 9), level(2)) << "along y " << alongY;
        t->SetTexture(0, nullptr);
        tex->Release();
    }
    // Left edge at w = 1, right edge at w = 4, u from 0 to 8: the derivative du/dx = w (dP/dx - u dQ/dx)
    // grows to the right; worked out by hand, rho^2 is 3.8, 12.6 and 43.0 at these columns.
    Target t;
    IDirect3DTexture9* tex = prepare(t);
    TVertex quad[4] = {{0, 0, 0.5f, 1, 0xffffffff, 0, 0},
                       {16, 0, 0.5f, 0.25f, 0xffffffff, 8, 0},
                       {0, 16, 0.5f, 1, 0xffffffff, 0, 0},
                       {16, 16, 0.5f, 0.25f, 0xffffffff, 8, 0}};
    t->SetFVF(kTVertexFvf);
    t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TVertex));
    EXPECT_EQ(t.At(6, 8), level(1));
    EXPECT_EQ(t.At(10, 8), level(2));
    EXPECT_EQ(t.At(13, 8), level(3));
    t->SetTexture(0, nullptr);
    tex->Release();
}

TEST(SamplerTest, CubeFacesByDirection)
{
    Target t;
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(t->CreateCubeTexture(2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    const uint32_t colours[6] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xff00ffff, 0xffff00ff};
    for (int f = 0; f < 6; ++f)
    {
        D3DLOCKED_RECT lr;
        cube->LockRect(static_cast<D3DCUBEMAP_FACES>(f), 0, &lr, nullptr, 0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &colours[f], 4);
        cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(f), 0);
    }
    t->SetTexture(0, cube);
    t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    struct V
    {
        float x, y, z, rhw;
        float u, v, w;
    };
    const float dirs[6][3] = {{1, 0.2f, 0.1f},  {-1, 0.1f, 0.3f}, {0.1f, 1, 0.2f},
                              {0.2f, -1, 0.1f}, {0.3f, 0.1f, 1},  {0.1f, 0.2f, -1}};
    for (int f = 0; f < 6; ++f)
    {
        const float* d = dirs[f];
        V quad[4] = {{0, 0, 0.5f, 1, d[0], d[1], d[2]},
                     {16, 0, 0.5f, 1, d[0], d[1], d[2]},
                     {0, 16, 0.5f, 1, d[0], d[1], d[2]},
                     {16, 16, 0.5f, 1, d[0], d[1], d[2]}};
        t->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0));
        t.Clear(0xff000000);
        t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));
        EXPECT_EQ(t.At(8, 8), colours[f]) << "face " << f;
    }
    t->SetTexture(0, nullptr);
    cube->Release();
}

TEST(PerspectiveTest, PretransformedAttributesAreDividedByW)
{
    Target t;
    IDirect3DTexture9* tex =
        MakeTexture(t.Get(), 4, 1, [](UINT x, UINT, UINT) { return 0xff000000u | (x * 0x40); });
    t->SetTexture(0, tex);
    t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // Left edge at w = 1, right edge at w = 4: halfway across the screen u is 0.2, not 0.5.
    TVertex quad[4] = {{0, 0, 0.5f, 1, 0xffffffff, 0, 0},
                       {16, 0, 0.5f, 0.25f, 0xffffffff, 1, 0},
                       {0, 16, 0.5f, 1, 0xffffffff, 0, 1},
                       {16, 16, 0.5f, 0.25f, 0xffffffff, 1, 1}};
    t->SetFVF(kTVertexFvf);
    t.Clear(0xff000000);
    t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TVertex));
    EXPECT_EQ(t.At(8, 8), 0xff000000u);
    EXPECT_EQ(t.At(14, 8), 0xff000080u); // u = 0.636 where an affine walk would give 0.875
    t->SetTexture(0, nullptr);
    tex->Release();
}

// Untransformed quads in front of an identity view and projection.
class LitScene
{
public:
    explicit LitScene(Target& t) : t_(t)
    {
        D3DMATRIX id = Identity();
        t->SetTransform(D3DTS_WORLD, &id);
        t->SetTransform(D3DTS_VIEW, &id);
        t->SetTransform(D3DTS_PROJECTION, &id);
    }
    void Quad(float z = 0.5f)
    {
        LVertex v[4] = {
            {-1, 1, z, 0, 0, -1}, {1, 1, z, 0, 0, -1}, {-1, -1, z, 0, 0, -1}, {1, -1, z, 0, 0, -1}};
        t_->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
        ASSERT_EQ(t_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(LVertex)), D3D_OK);
    }

private:
    Target& t_;
};

TEST(LightingTest, LightTypesAgainstHandWorkedValues)
{
    struct Case
    {
        const char* name;
        D3DLIGHT9 light;
        DWORD ambient; // render state
        bool specular;
        uint32_t expected; // at the centre
    };
    auto light = [](D3DLIGHTTYPE type)
    {
        D3DLIGHT9 l{};
        l.Type = type;
        l.Diffuse = {1, 1, 1, 1};
        l.Range = 10;
        l.Attenuation0 = 1;
        return l;
    };
    D3DLIGHT9 directional = light(D3DLIGHT_DIRECTIONAL);
    directional.Diffuse = {1, 0.5f, 0.25f, 1};
    directional.Direction = {0, 0, 1};
    D3DLIGHT9 slanted = light(D3DLIGHT_DIRECTIONAL);
    slanted.Direction = {0, -0.8660254f, 0.5f}; // 60 degrees off the normal: N.L = 0.5
    D3DLIGHT9 point = light(D3DLIGHT_POINT);
    point.Position = {0, 0, -1};
    point.Attenuation0 = 0;
    point.Attenuation1 = 1; // corners at distance 2.0616: N.L 0.7276 x attenuation 1 / 2.0616 = 0.3529
    D3DLIGHT9 spot = light(D3DLIGHT_SPOT);
    spot.Position = {0, 0, -1};
    spot.Direction = {0, 0, 1};
    spot.Theta = 3.14159265f / 3; // corners at 43.3 degrees: ((0.7276 - 0.5) / 0.366)^1 = 0.6218
    spot.Phi = 2 * 3.14159265f / 3;
    spot.Falloff = 1;
    D3DLIGHT9 narrowSpot = spot;
    narrowSpot.Theta = 0.5f;
    narrowSpot.Phi = 1.0f; // corners outside the cone
    D3DLIGHT9 out = point;
    out.Range = 1.0f; // corners beyond the range
    D3DLIGHT9 shiny = light(D3DLIGHT_DIRECTIONAL);
    shiny.Diffuse = {0, 0, 0, 0};
    shiny.Specular = {1, 1, 1, 1};
    shiny.Direction = {0, 0, 1}; // local viewer: N.H at the corners = 0.8165
    const Case cases[] = {
        {"directional", directional, 0, false, 0xffff8040},
        {"slanted", slanted, 0, false, 0xff808080},
        {"point", point, 0, false, 0xff5a5a5a},
        {"spot", spot, 0, false, 0xff737373},
        {"outside cone", narrowSpot, 0x00202020, false, 0xff202020},
        {"out of range", out, 0, false, 0xff000000},
        {"specular", shiny, 0, true, 0xffd0d0d0},
    };
    for (const Case& c : cases)
    {
        Target t;
        LitScene scene(t);
        t->SetRenderState(D3DRS_LIGHTING, TRUE);
        t->SetRenderState(D3DRS_AMBIENT, c.ambient);
        t->SetRenderState(D3DRS_SPECULARENABLE, c.specular);
        D3DMATERIAL9 m{};
        m.Diffuse = {1, 1, 1, 1};
        m.Ambient = {1, 1, 1, 1};
        m.Specular = {1, 1, 1, 1};
        m.Power = 1;
        t->SetMaterial(&m);
        ASSERT_EQ(t->SetLight(0, &c.light), D3D_OK) << c.name;
        t->LightEnable(0, TRUE);
        DiffuseOnly(t.Get());
        t.Clear(0xff000000);
        scene.Quad();
        EXPECT_TRUE(Near(t.At(8, 8), c.expected)) << c.name << std::hex << ": " << t.At(8, 8);
    }
}

TEST(FogTest, TableAndVertexFog)
{
    struct Case
    {
        DWORD table, vertex;
        float start, end, density, z;
        uint32_t expected; // black geometry fogged toward white
    };
    const Case cases[] = {
        {D3DFOG_LINEAR, D3DFOG_NONE, 0, 1, 1, 0.25f, 0xff404040},
        {D3DFOG_EXP, D3DFOG_NONE, 0, 1, 1, 0.5f, 0xff646464},
        {D3DFOG_EXP2, D3DFOG_NONE, 0, 1, 2, 0.5f, 0xffa1a1a1},
        {D3DFOG_NONE, D3DFOG_LINEAR, 0, 2, 1, 0.5f, 0xff404040},
        {D3DFOG_NONE, D3DFOG_EXP, 0, 1, 1, 0.5f, 0xff646464},
    };
    for (const Case& c : cases)
    {
        Target t;
        LitScene scene(t);
        DiffuseOnly(t.Get());
        t->SetRenderState(D3DRS_FOGENABLE, TRUE);
        t->SetRenderState(D3DRS_FOGCOLOR, 0xffffffff);
        t->SetRenderState(D3DRS_FOGTABLEMODE, c.table);
        t->SetRenderState(D3DRS_FOGVERTEXMODE, c.vertex);
        t->SetRenderState(D3DRS_FOGSTART, F2DW(c.start));
        t->SetRenderState(D3DRS_FOGEND, F2DW(c.end));
        t->SetRenderState(D3DRS_FOGDENSITY, F2DW(c.density));
        t->SetRenderState(D3DRS_LIGHTING, TRUE); // no lights, no ambient: black
        t.Clear(0xff000000);
        scene.Quad(c.z);
        EXPECT_TRUE(Near(t.At(8, 8) | 0xff000000u, c.expected))
            << "table " << c.table << " vertex " << c.vertex << std::hex << ": " << t.At(8, 8);
    }
}

TEST(ClipPlaneTest, WorldSpacePlanesCutGeometry)
{
    struct Case
    {
        float plane[4];
        DWORD enable;
        int expected;
    };
    const Case cases[] = {
        {{1, 0, 0, 0}, 0, 256},
        {{1, 0, 0, 0}, D3DCLIPPLANE0, 128},
        {{-1, 0, 0, 0.5f}, D3DCLIPPLANE0, 192},
        {{1, 0, 0, 0}, D3DCLIPPLANE1, 256}, // the plane is set on index 0 only
        {{0, 0, 1, -1}, D3DCLIPPLANE0, 0},  // z >= 1 removes everything
    };
    for (const Case& c : cases)
    {
        Target t;
        LitScene scene(t);
        t->SetRenderState(D3DRS_LIGHTING, FALSE);
        DiffuseOnly(t.Get());
        t->SetClipPlane(0, c.plane);
        t->SetRenderState(D3DRS_CLIPPLANEENABLE, c.enable);
        t.Clear(0xff000000);
        scene.Quad();
        EXPECT_EQ(t.Count(0xffffffff), c.expected) << "plane " << c.plane[0] << "," << c.plane[3];
    }
}

TEST(TexGenTest, GeneratedAndTransformedCoordinates)
{
    const uint32_t A = 0xffff0000, B = 0xff00ff00, C = 0xff0000ff, D = 0xffffffff;
    D3DMATRIX toUv{}; // camera-space x, y in [-1, 1] to u, v in [0, 1]
    toUv._11 = 0.5f;
    toUv._22 = -0.5f;
    toUv._41 = toUv._42 = 0.5f;
    toUv._33 = toUv._44 = 1;
    D3DMATRIX halve = Identity(); // (u, v, 1, 0) x this = (u, v, 2, 0), divided by the third
    halve._33 = 2;
    struct Case
    {
        DWORD tci, flags;
        D3DMATRIX matrix;
        int x, y;
        uint32_t expected;
    };
    const Case cases[] = {
        {D3DTSS_TCI_CAMERASPACEPOSITION, D3DTTFF_COUNT2, toUv, 4, 4, A},
        {D3DTSS_TCI_CAMERASPACEPOSITION, D3DTTFF_COUNT2, toUv, 12, 4, B},
        {D3DTSS_TCI_CAMERASPACEPOSITION, D3DTTFF_COUNT2, toUv, 12, 12, D},
        {D3DTSS_TCI_CAMERASPACENORMAL, D3DTTFF_COUNT2, toUv, 3, 3, D}, // normal (0, 0, -1): u = v = 0.5
        {0, D3DTTFF_DISABLE, halve, 12, 12, D},
        {0, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED, halve, 12, 12, A},
        {0, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED, halve, 2, 14, A},
    };
    for (const Case& c : cases)
    {
        Target t;
        LitScene scene(t);
        IDirect3DTexture9* tex =
            MakeTexture(t.Get(), 2, 2, [&](UINT x, UINT y, UINT) { return y ? (x ? D : C) : (x ? B : A); });
        t->SetTexture(0, tex);
        t->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        t->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, c.tci);
        t->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, c.flags);
        t->SetTransform(D3DTS_TEXTURE0, &c.matrix);
        struct V
        {
            float x, y, z, nx, ny, nz, u, v;
        };
        V quad[4] = {{-1, 1, 0.5f, 0, 0, -1, 0, 0},
                     {1, 1, 0.5f, 0, 0, -1, 1, 0},
                     {-1, -1, 0.5f, 0, 0, -1, 0, 1},
                     {1, -1, 0.5f, 0, 0, -1, 1, 1}};
        t->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
        t.Clear(0xff000000);
        t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));
        EXPECT_EQ(t.At(c.x, c.y), c.expected)
            << "tci " << std::hex << c.tci << " flags " << c.flags << " at " << std::dec << c.x << "," << c.y;
        t->SetTexture(0, nullptr);
        tex->Release();
    }
}

TEST(WireframeTest, EdgesOverSolidFacesPassLessEqual)
{
    // A tilted, perspective-projected pair of triangles.
    Target t(64, 64);
    D3DMATRIX world = Identity(), view = Identity(), proj{};
    const float zn = 1, zf = 10;
    proj._11 = proj._22 = 1.5f;
    proj._33 = zf / (zf - zn);
    proj._34 = 1;
    proj._43 = -zn * zf / (zf - zn);
    t->SetTransform(D3DTS_WORLD, &world);
    t->SetTransform(D3DTS_VIEW, &view);
    t->SetTransform(D3DTS_PROJECTION, &proj);
    DiffuseOnly(t.Get());
    struct V
    {
        float x, y, z;
        D3DCOLOR c;
    };
    auto draw = [&](D3DCOLOR c)
    {
        V v[4] = {{-1.2f, 1, 2, c}, {1, 1.1f, 4, c}, {-1, -1, 2.5f, c}, {1.3f, -0.9f, 5, c}};
        t->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(V)), D3D_OK);
    };
    t.Clear(0xff000000);
    t->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    draw(0xff00ff00);
    const int alone = t.Count(0xff00ff00);
    ASSERT_GT(alone, 100);
    t.Clear(0xff000000);
    t->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    draw(0xff808080);
    t->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    t->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    draw(0xff00ff00);
    EXPECT_EQ(t.Count(0xff00ff00), alone);
    // Point fill draws the corners only.
    t.Clear(0xff000000);
    t->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    draw(0xff00ff00);
    EXPECT_GE(t.Count(0xff00ff00), 3);
    EXPECT_LE(t.Count(0xff00ff00), 4);
}

// Hidden-line drawing: faces drawn solid with depth, then their edges as explicit line lists with LESSEQUAL.
// Line pixels lie up to half a pixel off the edge, where a tilted face is already nearer than the line.
TEST(LineTest, EdgesOverTheirFacesPassLessEqual)
{
    struct Case
    {
        const char* name;
        float x[3], y[3];
        float gx, gy, z0; // depth = z0 + gx x + gy y
    } const cases[] = {
        {"flat", {2, 29, 6}, {2, 5, 29}, 0, 0, 0.5f},
        {"gentle both ways", {3, 28, 10}, {27, 4, 30}, 0.0004f, -0.0003f, 0.4f},
        {"steep along the long edges", {2, 29, 16}, {4, 2, 12}, 0.02f, 0.0003f, 0.2f},
        {"steep down the page", {4, 2, 12}, {2, 29, 16}, 0.0002f, -0.025f, 0.9f},
    };
    const D3DCOLOR face = 0xff808080, edge = 0xff00ff00, wall = 0xff0000ff;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Target t(32, 32);
        DiffuseOnly(t.Get());
        t->SetFVF(kTVertexFvf);
        t->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        TVertex tri[3], lines[6];
        for (int i = 0; i < 3; ++i)
            tri[i] = {c.x[i], c.y[i], c.z0 + c.gx * c.x[i] + c.gy * c.y[i], 1, face, 0, 0};
        for (int e = 0; e < 3; ++e)
        {
            lines[2 * e] = tri[e];
            lines[2 * e + 1] = tri[(e + 1) % 3];
            lines[2 * e].color = lines[2 * e + 1].color = edge;
        }
        auto drawLines = [&]
        { ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_LINELIST, 3, lines, sizeof(TVertex)), D3D_OK); };
        // The edge pixels alone, and the face alone.
        t.Clear(0xff000000);
        drawLines();
        const std::vector<uint32_t> linePixels = t.Pixels();
        t.Clear(0xff000000);
        ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(TVertex)), D3D_OK);
        const std::vector<uint32_t> facePixels = t.Pixels();
        drawLines();
        const std::vector<uint32_t> both = t.Pixels();
        int covered = 0;
        for (size_t i = 0; i < both.size(); ++i)
        {
            if (linePixels[i] != edge) continue;
            covered += facePixels[i] == face;
            EXPECT_EQ(both[i], edge) << "pixel " << i % 32 << "," << i / 32;
        }
        EXPECT_GT(covered, 10);
        // A wall just in front of the face's nearest corner hides every edge pixel behind it.
        float nearest = 1;
        for (const TVertex& v : tri)
            nearest = std::min(nearest, v.z);
        t.Clear(0xff000000);
        ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(TVertex)), D3D_OK);
        t.Rect(0, 0, 16, 32, wall, nearest - 0.002f);
        drawLines();
        const std::vector<uint32_t> walled = t.Pixels();
        for (size_t i = 0; i < walled.size(); ++i)
        {
            if (i % 32 < 16)
            {
                EXPECT_NE(walled[i], edge) << "pixel " << i % 32 << "," << i / 32;
            }
            else if (linePixels[i] == edge)
            {
                EXPECT_EQ(walled[i], edge) << "pixel " << i % 32 << "," << i / 32;
            }
        }
    }
}

TEST(LineTest, LinesAndPoints)
{
    Target t;
    DiffuseOnly(t.Get());
    t.Clear(0xff000000);
    TVertex line[2] = {{1, 2, 0.5f, 1, 0xffffffff, 0, 0}, {10, 2, 0.5f, 1, 0xffffffff, 0, 0}};
    t->SetFVF(kTVertexFvf);
    ASSERT_EQ(t->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(TVertex)), D3D_OK);
    EXPECT_EQ(t.Count(0xffffffff), 10); // 1..10, the last pixel included
    t.Clear(0xff000000);
    t->SetRenderState(D3DRS_LASTPIXEL, FALSE);
    t->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(TVertex));
    EXPECT_EQ(t.Count(0xffffffff), 9);
    t.Clear(0xff000000);
    TVertex points[3] = {{3, 3, 0.5f, 1, 0xffffffff, 0, 0},
                         {7.4f, 9.6f, 0.5f, 1, 0xffffffff, 0, 0},
                         {40, 3, 0.5f, 1, 0xffffffff, 0, 0}};
    t->DrawPrimitiveUP(D3DPT_POINTLIST, 3, points, sizeof(TVertex));
    EXPECT_EQ(t.Count(0xffffffff), 2);
    EXPECT_EQ(t.At(7, 10), 0xffffffffu);
}

// One draw of 9,000 triangles, or 900 draws of ten (each small enough to stay on the calling thread unless
// that is turned off): the same bytes on one, three and eight threads.
TEST(DeterminismTest, OneAndEightThreadsGiveTheSameBytes)
{
    auto render = [](unsigned threads, UINT perDraw, bool smallDrawsInline)
    {
        ferolt::hooks::SetD3D9WorkerThreads(threads);
        ferolt::hooks::SetD3D9SmallDrawsInline(smallDrawsInline);
        IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp = Params(96, 80);
        IDirect3DDevice9* dev = nullptr;
        EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                    &dev),
                  D3D_OK);
        D3DMATRIX id = Identity();
        dev->SetTransform(D3DTS_WORLD, &id);
        dev->SetTransform(D3DTS_VIEW, &id);
        D3DMATRIX proj{};
        proj._11 = proj._22 = 1.2f;
        proj._33 = 1.1f;
        proj._34 = 1;
        proj._43 = -0.5f;
        dev->SetTransform(D3DTS_PROJECTION, &proj);
        D3DLIGHT9 l{};
        l.Type = D3DLIGHT_POINT;
        l.Diffuse = {1, 0.8f, 0.6f, 1};
        l.Specular = {1, 1, 1, 1};
        l.Position = {0.5f, 0.5f, 0};
        l.Range = 100;
        l.Attenuation0 = 0.5f;
        dev->SetLight(0, &l);
        dev->LightEnable(0, TRUE);
        D3DMATERIAL9 m{};
        m.Diffuse = {0.9f, 0.9f, 0.9f, 0.6f};
        m.Specular = {0.5f, 0.5f, 0.5f, 1};
        m.Power = 8;
        dev->SetMaterial(&m);
        dev->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
        dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
        dev->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        dev->SetRenderState(D3DRS_FOGSTART, F2DW(1.0f));
        dev->SetRenderState(D3DRS_FOGEND, F2DW(6.0f));
        dev->SetRenderState(D3DRS_FOGCOLOR, 0xff304050);
        dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        IDirect3DTexture9* tex = MakeTexture(
            dev, 16, 16,
            [](UINT x, UINT y, UINT l)
            { return 0xff000000u | ((x * 16) << 16) | ((y * 16) << 8) | (l * 40); },
            0);
        dev->SetTexture(0, tex);
        dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        // Enough small triangles for several batches and vertex chunks.
        struct V
        {
            float x, y, z, nx, ny, nz, u, v;
        };
        std::vector<V> verts;
        uint32_t seed = 12345;
        auto rnd = [&]
        {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) / 16777216.0f;
        };
        for (int i = 0; i < 3 * 9000; ++i)
            verts.push_back({rnd() * 4 - 2, rnd() * 4 - 2, 1.5f + rnd() * 4, rnd() - 0.5f, rnd() - 0.5f, -1,
                             rnd() * 3, rnd() * 3});
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff102030, 1.0f, 0);
        dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
        for (UINT first = 0; first < 9000; first += perDraw)
            EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, perDraw, verts.data() + 3 * first, sizeof(V)),
                      D3D_OK);
        IDirect3DSurface9* bb = nullptr;
        dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
        D3DLOCKED_RECT lr;
        bb->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        std::vector<uint8_t> bytes(static_cast<uint8_t*>(lr.pBits),
                                   static_cast<uint8_t*>(lr.pBits) + lr.Pitch * 80);
        bb->UnlockRect();
        bb->Release();
        dev->SetTexture(0, nullptr);
        tex->Release();
        dev->Release();
        d3d->Release();
        return bytes;
    };
    const auto one = render(1, 9000, true);
    const auto eight = render(8, 9000, true);
    ASSERT_EQ(one.size(), eight.size());
    EXPECT_TRUE(one == eight);
    for (unsigned threads : {1u, 3u, 8u})
        for (bool smallDrawsInline : {false, true})
            EXPECT_TRUE(render(threads, 10, smallDrawsInline) == one)
                << threads << " threads, small draws inline " << smallDrawsInline;
    ferolt::hooks::ResetD3D9Hooks();
    int background = 0;
    for (size_t i = 0; i < one.size(); i += 4)
        background += one[i] == 0x30 && one[i + 1] == 0x20 && one[i + 2] == 0x10;
    EXPECT_LT(background, static_cast<int>(one.size() / 4)); // something was drawn
}
} // namespace
