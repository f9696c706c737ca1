// Software Direct3D 9 device: a lit, textured, fogged mesh of 1,000,000 triangles and 20 full-screen
// blended, textured quads, on one thread and on all threads. Each measures steady state: warm-up frames
// pay the first touch of the target, depth buffer and the device's working memory (draws alternate between
// two recording queues, and batches between the workers).
#include <benchmark/benchmark.h>

#include <cmath>
#include <thread>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "tests/support/d3d9_device.h"

namespace
{
using ferolt::test::F2DW;

constexpr int kWarmUpFrames = 3;

// The device on a 256 x 256 mipmapped texture sampled bilinearly.
struct Setup
{
    ferolt::test::SoftwareDevice device;
    IDirect3DDevice9* dev = nullptr;
    IDirect3DTexture9* tex = nullptr;

    Setup(unsigned threads, UINT w, UINT h) : device(Params(w, h), threads), dev(device.Get())
    {
        dev->CreateTexture(256, 256, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr);
        ferolt::test::FillTexture(
            tex, [](UINT x, UINT y, UINT)
            { return 0x80000000u | ((x * 7) & 0xff) << 16 | ((y * 5) & 0xff) << 8 | ((x ^ y) & 0xff); });
        dev->SetTexture(0, tex);
        dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    }
    ~Setup()
    {
        dev->SetTexture(0, nullptr);
        tex->Release();
    }

    // An X8R8G8B8 back buffer that is never read back.
    static D3DPRESENT_PARAMETERS Params(UINT w, UINT h)
    {
        D3DPRESENT_PARAMETERS pp = ferolt::test::DeviceParams(w, h);
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.Flags = 0;
        return pp;
    }
};

unsigned AllThreads()
{
    unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

// A wavy grid of 1,000,000 triangles filling the view, lit by a directional and a point light, fogged.
void Mesh(benchmark::State& state)
{
    const unsigned threads = state.range(0) ? AllThreads() : 1;
    const UINT w = static_cast<UINT>(state.range(1)), h = static_cast<UINT>(state.range(2));
    Setup s(threads, w, h);
    IDirect3DDevice9* dev = s.dev;
    const int n = 708; // 707 x 707 quads x 2 = 999,698 triangles; plus a strip of extra to reach 1,000,000
    struct V
    {
        float x, y, z, nx, ny, nz, u, v;
    };
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    dev->CreateVertexBuffer(n * n * sizeof(V), D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb, nullptr);
    V* v = nullptr;
    vb->Lock(0, 0, reinterpret_cast<void**>(&v), 0);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
        {
            const float x = i / float(n - 1) * 2 - 1, y = j / float(n - 1) * 2 - 1;
            const float z = 3 + 0.2f * std::sin(x * 9) * std::cos(y * 7);
            v[j * n + i] = {x * 2.2f, y * 1.7f, z,    0.3f * std::sin(x * 5), 0.3f * std::cos(y * 5),
                            -1,       x * 4,    y * 4};
        }
    vb->Unlock();
    const UINT triangles = 1000000;
    dev->CreateIndexBuffer(triangles * 3 * 4, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib,
                           nullptr);
    uint32_t* idx = nullptr;
    ib->Lock(0, 0, reinterpret_cast<void**>(&idx), 0);
    UINT t = 0;
    for (int j = 0; j + 1 < n && t < triangles; ++j)
        for (int i = 0; i + 1 < n && t < triangles; ++i)
        {
            const uint32_t a = j * n + i, b = a + 1, c = a + n, d = c + 1;
            idx[3 * t] = a, idx[3 * t + 1] = c, idx[3 * t + 2] = b, ++t;
            if (t < triangles) idx[3 * t] = b, idx[3 * t + 1] = c, idx[3 * t + 2] = d, ++t;
        }
    for (; t < triangles; ++t)
        idx[3 * t] = 0, idx[3 * t + 1] = n, idx[3 * t + 2] = 1;
    ib->Unlock();

    D3DMATRIX id{}, proj{};
    id._11 = id._22 = id._33 = id._44 = 1;
    proj._11 = 1.0f;
    proj._22 = 1.0f * w / h;
    proj._33 = 100.0f / 99.0f;
    proj._34 = 1;
    proj._43 = -100.0f / 99.0f;
    dev->SetTransform(D3DTS_WORLD, &id);
    dev->SetTransform(D3DTS_VIEW, &id);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = {0.8f, 0.8f, 0.7f, 1};
    l.Direction = {0.3f, -0.4f, 1};
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DLIGHT9 p{};
    p.Type = D3DLIGHT_POINT;
    p.Diffuse = {0.5f, 0.4f, 0.3f, 1};
    p.Position = {0, 0, 1};
    p.Range = 50;
    p.Attenuation0 = 1;
    dev->SetLight(1, &p);
    dev->LightEnable(1, TRUE);
    D3DMATERIAL9 m{};
    m.Diffuse = m.Ambient = {1, 1, 1, 1};
    dev->SetMaterial(&m);
    dev->SetRenderState(D3DRS_AMBIENT, 0x00202020);
    dev->SetRenderState(D3DRS_FOGENABLE, TRUE);
    dev->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    dev->SetRenderState(D3DRS_FOGSTART, F2DW(2.5f));
    dev->SetRenderState(D3DRS_FOGEND, F2DW(4.0f));
    dev->SetRenderState(D3DRS_FOGCOLOR, 0xff8090a0);
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    dev->SetStreamSource(0, vb, 0, sizeof(V));
    dev->SetIndices(ib);
    auto frame = [&]
    {
        dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
        dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, n * n, 0, triangles);
    };
    for (int i = 0; i < kWarmUpFrames; ++i)
        frame();
    for (auto _ : state)
        frame();
    state.counters["triangles/s"] =
        benchmark::Counter(double(triangles) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["threads"] = threads;
    dev->SetStreamSource(0, nullptr, 0, 0);
    dev->SetIndices(nullptr);
    vb->Release();
    ib->Release();
}

// 20 full-screen quads, textured with bilinear filtering and alpha blended.
void BlendedQuads(benchmark::State& state)
{
    const unsigned threads = state.range(0) ? AllThreads() : 1;
    const UINT w = static_cast<UINT>(state.range(1)), h = static_cast<UINT>(state.range(2));
    Setup s(threads, w, h);
    IDirect3DDevice9* dev = s.dev;
    struct V
    {
        float x, y, z, rhw;
        D3DCOLOR c;
        float u, v;
    };
    const float fw = float(w), fh = float(h);
    V quad[4] = {{-0.5f, -0.5f, 0.5f, 1, 0xc0ffffff, 0, 0},
                 {fw - 0.5f, -0.5f, 0.5f, 1, 0xc0ffffff, 3, 0},
                 {-0.5f, fh - 0.5f, 0.5f, 1, 0xc0ffffff, 0, 2},
                 {fw - 0.5f, fh - 0.5f, 0.5f, 1, 0xc0ffffff, 3, 2}};
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    dev->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    auto frame = [&]
    {
        for (int i = 0; i < 20; ++i)
            dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V));
    };
    for (int i = 0; i < kWarmUpFrames; ++i)
        frame();
    for (auto _ : state)
        frame();
    state.counters["pixels/s"] =
        benchmark::Counter(20.0 * w * h * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["threads"] = threads;
}
} // namespace

BENCHMARK(Mesh)
    ->ArgNames({"all", "w", "h"})
    ->Args({0, 640, 480})
    ->Args({1, 640, 480})
    ->Args({0, 1920, 1080})
    ->Args({1, 1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(BlendedQuads)
    ->ArgNames({"all", "w", "h"})
    ->Args({0, 640, 480})
    ->Args({1, 640, 480})
    ->Args({0, 1920, 1080})
    ->Args({1, 1920, 1080})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

BENCHMARK_MAIN();
