// Draws are recorded and drawn later, together: every call that needs their pixels, or changes what they
// read or where they go, must see the result of drawing them one by one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "tests/platform/d3d9/d3d9_test_util.h"

namespace
{
using d3d9test::kTVertexFvf;
using d3d9test::Target;
using d3d9test::TVertex;

constexpr D3DCOLOR kRed = 0xffff0000, kGreen = 0xff00ff00, kBlue = 0xff0000ff, kGrey = 0xff404040;

// The four corners of a pre-transformed rectangle as a triangle strip.
void RectVertices(float x0, float y0, float x1, float y1, D3DCOLOR c, TVertex out[4])
{
    out[0] = {x0, y0, 0.5f, 1, c, 0, 0};
    out[1] = {x1, y0, 0.5f, 1, c, 1, 0};
    out[2] = {x0, y1, 0.5f, 1, c, 0, 1};
    out[3] = {x1, y1, 0.5f, 1, c, 1, 1};
}

IDirect3DVertexBuffer9* RectBuffer(IDirect3DDevice9* dev, float x0, float y0, float x1, float y1, D3DCOLOR c)
{
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(dev->CreateVertexBuffer(4 * sizeof(TVertex), 0, kTVertexFvf, D3DPOOL_MANAGED, &vb, nullptr),
              D3D_OK);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    RectVertices(x0, y0, x1, y1, c, static_cast<TVertex*>(p));
    vb->Unlock();
    return vb;
}

void DrawBuffer(IDirect3DDevice9* dev, IDirect3DVertexBuffer9* vb)
{
    dev->SetFVF(kTVertexFvf);
    dev->SetStreamSource(0, vb, 0, sizeof(TVertex));
    ASSERT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
}

uint32_t SurfacePixel(IDirect3DSurface9* s, int x, int y)
{
    D3DLOCKED_RECT lr;
    EXPECT_EQ(s->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t c;
    std::memcpy(&c, static_cast<const uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
    s->UnlockRect();
    return c;
}

struct Probe
{
    int x, y;
    D3DCOLOR color;
};

struct FlushCase
{
    const char* name;
    // Draws on a 16 x 16 target cleared to grey and returns the pixels it expects on the back buffer.
    std::function<std::vector<Probe>(Target&)> run;
};

TEST(RecordedDrawsTest, CallsThatNeedThePixelsSeeEveryDrawBeforeThem)
{
    const FlushCase cases[] = {
        {"a lock of the target reads the drawn pixels",
         [](Target& t)
         {
             t.Rect(0, 0, 8, 8, kRed);
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"a vertex buffer changed after the draw leaves the draw as it was",
         [](Target& t)
         {
             IDirect3DVertexBuffer9* vb = RectBuffer(t.Get(), 0, 0, 8, 8, kRed);
             DrawBuffer(t.Get(), vb);
             void* p = nullptr;
             EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
             RectVertices(8, 8, 16, 16, kGreen, static_cast<TVertex*>(p));
             vb->Unlock();
             t->SetStreamSource(0, nullptr, 0, 0);
             vb->Release();
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"vertices passed by pointer are the caller's again when the call returns",
         [](Target& t)
         {
             TVertex v[4];
             RectVertices(0, 0, 8, 8, kRed, v);
             t->SetFVF(kTVertexFvf);
             EXPECT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TVertex)), D3D_OK);
             RectVertices(8, 8, 16, 16, kGreen, v);
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"a texture changed and released after the draw leaves the draw as it was",
         [](Target& t)
         {
             IDirect3DTexture9* tex =
                 d3d9test::MakeTexture(t.Get(), 4, 4, [](UINT, UINT, UINT) { return kBlue; });
             t->SetTexture(0, tex);
             t.Rect(0, 0, 8, 8, 0xffffffff);
             D3DLOCKED_RECT lr;
             EXPECT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
             for (int y = 0; y < 4; ++y)
                 for (int x = 0; x < 4; ++x)
                     std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &kGreen, 4);
             tex->UnlockRect(0);
             t.Rect(8, 8, 16, 16, 0xffffffff);
             t->SetTexture(0, nullptr);
             tex->Release();
             return std::vector<Probe>{{2, 2, kBlue}, {12, 12, kGreen}};
         }},
        {"a clear between draws comes after the first and before the second",
         [](Target& t)
         {
             t.Rect(0, 0, 16, 16, kRed);
             t.Clear(kBlue);
             t.Rect(0, 0, 8, 8, kGreen);
             return std::vector<Probe>{{2, 2, kGreen}, {12, 12, kBlue}};
         }},
        {"a render target switch sends each draw to its own target",
         [](Target& t)
         {
             IDirect3DSurface9 *back = nullptr, *other = nullptr;
             EXPECT_EQ(t->GetRenderTarget(0, &back), D3D_OK);
             EXPECT_EQ(t->CreateRenderTarget(16, 16, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &other,
                                             nullptr),
                       D3D_OK);
             t.Rect(0, 0, 8, 8, kRed);
             EXPECT_EQ(t->SetRenderTarget(0, other), D3D_OK);
             EXPECT_EQ(t->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0), D3D_OK);
             t.Rect(8, 8, 16, 16, kGreen);
             EXPECT_EQ(SurfacePixel(other, 2, 2), kBlue);
             EXPECT_EQ(SurfacePixel(other, 12, 12), kGreen);
             EXPECT_EQ(t->SetRenderTarget(0, back), D3D_OK);
             other->Release();
             back->Release();
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGrey}};
         }},
        {"a copy of the target holds the draws before it",
         [](Target& t)
         {
             IDirect3DSurface9 *back = nullptr, *copy = nullptr;
             EXPECT_EQ(t->GetRenderTarget(0, &back), D3D_OK);
             EXPECT_EQ(
                 t->CreateOffscreenPlainSurface(16, 16, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &copy, nullptr),
                 D3D_OK);
             t.Rect(0, 0, 8, 8, kRed);
             EXPECT_EQ(t->GetRenderTargetData(back, copy), D3D_OK);
             EXPECT_EQ(SurfacePixel(copy, 2, 2), kRed);
             t.Rect(8, 8, 16, 16, kGreen);
             copy->Release();
             back->Release();
             return std::vector<Probe>{{2, 2, kRed}, {12, 12, kGreen}};
         }},
        {"a draw whose vertices lie past the buffer's end draws nothing of an earlier flush's primitives",
         [](Target& t)
         {
             t.Rect(0, 0, 8, 8, kRed);
             t.Clear(kBlue);
             IDirect3DVertexBuffer9* vb = RectBuffer(t.Get(), 8, 8, 16, 16, kGreen);
             t->SetFVF(kTVertexFvf);
             t->SetStreamSource(0, vb, 0, sizeof(TVertex));
             EXPECT_EQ(t->DrawPrimitive(D3DPT_TRIANGLESTRIP, 100, 2), D3D_OK);
             t->SetStreamSource(0, nullptr, 0, 0);
             vb->Release();
             return std::vector<Probe>{{2, 2, kBlue}, {12, 12, kBlue}};
         }},
    };
    for (unsigned threads : {1u, 3u})
        for (const FlushCase& c : cases)
        {
            SCOPED_TRACE(testing::Message() << c.name << ", " << threads << " threads");
            Target t(16, 16, D3DFMT_D24S8, threads);
            t.Clear(kGrey);
            const std::vector<Probe> probes = c.run(t);
            for (const Probe& p : probes)
                EXPECT_EQ(t.At(p.x, p.y), p.color) << "at " << p.x << ", " << p.y;
        }
}
} // namespace

namespace
{
// More draws than one flush takes: the second flush reuses the first one's records and bins, and blending
// makes every pixel depend on the order of the draws over it.
TEST(RecordedDrawsTest, DrawsPastTheBudgetGiveTheBytesOfOneThread)
{
    auto render = [](unsigned threads)
    {
        Target t(64, 48, D3DFMT_D24S8, threads);
        t.Clear(kGrey);
        t->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        t->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        t->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        uint32_t seed = 99;
        auto next = [&](uint32_t range)
        {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) % range;
        };
        for (int i = 0; i < 5000; ++i)
        {
            const float x = static_cast<float>(next(60)), y = static_cast<float>(next(44));
            const D3DCOLOR c = 0x80000000u | next(0x1000000);
            t.Rect(x, y, x + 1 + static_cast<float>(next(8)), y + 1 + static_cast<float>(next(8)), c);
        }
        return t.Pixels();
    };
    const std::vector<uint32_t> one = render(1);
    EXPECT_TRUE(render(3) == one);
    EXPECT_TRUE(render(8) == one);
}
} // namespace

namespace
{
// A flush started by the budget holds the target until it is drawn. When it ends before anything waits for
// it, the next call that needs the pixels must still give those references back.
TEST(RecordedDrawsTest, AFlushThatEndsUnwatchedGivesBackWhatItHeld)
{
    Target t(16, 16, D3DFMT_D24S8, 3);
    IDirect3DSurface9* bb = nullptr;
    ASSERT_EQ(t->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
    const ULONG before = bb->AddRef() - 1;
    bb->Release();
    for (int i = 0; i < 1100; ++i)
        t.Rect(0, 0, 4, 4, kRed);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(t.At(1, 1), kRed);
    EXPECT_EQ(bb->AddRef() - 1, before);
    bb->Release();
    bb->Release();
}
} // namespace
