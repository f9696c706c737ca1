// The camera's per-part work in a frame, and cutting a window into back-buffer parts.
#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/view.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"
#include "platform/win32/windows.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace
{
LMK::View_ Camera()
{
    return LMK::View_(D3DXVECTOR3(3, -4, 5), D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), 0, 4, 3, 0.1f, 100);
}

// An unstarted back buffer with `count` side-by-side parts over a 1600 x 600 client area.
void AddParts(LMK::BackBuffer_* b, int count)
{
    b->clientRect = RECT{0, 0, 1600, 600};
    const LONG w = 1600 / count;
    for (int i = 0; i < count; ++i)
        b->parts.push_back(new LMK::BackBufferPart_(nullptr, RECT{0, 0, w, 600}, b, i * w, 0));
}

// A camera change followed by the whole-view matrices (view, projection, product, inverse).
void BM_ViewUpdateAfterChange(benchmark::State& state)
{
    LMK::View_ v = Camera();
    D3DXVECTOR3 eye(3, -4, 5);
    for (auto _ : state)
    {
        eye.x += 1e-3f;
        v.SetLookAt(&eye, nullptr, nullptr);
        benchmark::DoNotOptimize(v.Update());
    }
}
BENCHMARK(BM_ViewUpdateAfterChange);

// One frame's part projections over a back buffer of N parts: the first frame after a change computes
// each, a frame without change over one part finds it cached.
void BM_PartProjectionsPerFrame(benchmark::State& state)
{
    LMK::View_ v = Camera();
    LMK::BackBuffer_ b(nullptr, nullptr);
    AddParts(&b, static_cast<int>(state.range(0)));
    for (auto _ : state)
    {
        for (LMK::BackBufferPart_* p : b.parts)
            benchmark::DoNotOptimize(v.UpdatePartProjection(p));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PartProjectionsPerFrame)->Arg(1)->Arg(2)->Arg(4);

void BM_FrustumPlanes(benchmark::State& state)
{
    LMK::View_ v = Camera();
    std::vector<D3DXPLANE> planes;
    planes.reserve(6);
    for (auto _ : state)
    {
        planes.clear();
        benchmark::DoNotOptimize(v.GetFrustumPlanes(&planes));
    }
}
BENCHMARK(BM_FrustumPlanes);

// Rebuilding the parts of a window over two monitors whose device was reset to a 256 x 256 window, so
// the walk visits many tiles.
void BM_RebuildParts(benchmark::State& state)
{
    ferolt::hooks::SetD3D9WorkerThreads(1);
    std::vector<ferolt::hooks::D3D9Adapter> adapters(2);
    adapters[0].monitorRect = RECT{0, 0, 1024, 768};
    adapters[1].monitorRect = RECT{1024, 0, 2048, 600};
    ferolt::hooks::SetD3D9Adapters(adapters);
    ferolt::win32::host::SetVirtualScreen({{adapters[0].monitorRect, {}}, {adapters[1].monitorRect, {}}});
    if (LRStart(nullptr) != S_OK)
    {
        state.SkipWithError("no engine");
        return;
    }
    HWND small =
        CreateWindowExA(0, "Static", "s", WS_POPUP, 0, 0, 256, 256, nullptr, nullptr, nullptr, nullptr);
    HWND wide =
        CreateWindowExA(0, "Static", "w", WS_POPUP, 0, 0, 2048, 768, nullptr, nullptr, nullptr, nullptr);
    LMK::AllDevices_& devices = LMK::CurrentGlobals->devices;
    devices.requests.RequestResetToWindow(devices.primaryDevice, small);
    LMK::BackBuffer_* b = nullptr;
    LRCreateBackBuffer(wide, &b, nullptr);
    for (auto _ : state)
    {
        b->RebuildParts();
        benchmark::DoNotOptimize(b->parts.data());
    }
    state.counters["parts"] = static_cast<double>(b->parts.size());
    LRReleaseBackBuffer(&b);
    DestroyWindow(wide);
    DestroyWindow(small);
    LRStop();
    ferolt::hooks::ResetD3D9Hooks();
}
BENCHMARK(BM_RebuildParts);
} // namespace

BENCHMARK_MAIN();
