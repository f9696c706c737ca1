// Scene bookkeeping that grows with the object count: releasing a large scene of one model, as
// closing a file of many placements does.
#include "engine/engine_api.h"
#include "engine/scene/lr_geometry_block_api.h"
#include "engine/scene/model.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"
#include "tests/support/sample_object_file.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace
{
// Objects released in the order they were made, the first one first, as the viewer does.
void BM_ReleaseObjects(benchmark::State& state)
{
    ferolt::hooks::D3D9Adapter adapter;
    adapter.monitorRect = {0, 0, 640, 480};
    ferolt::win32::host::SetVirtualScreen({{adapter.monitorRect, {}}});
    ferolt::hooks::SetD3D9Adapters({adapter});
    if (LRStart(nullptr) != S_OK)
    {
        state.SkipWithError("engine did not start");
        return;
    }
    const ferolt::test::Bytes block = ferolt::test::CubeBlock();
    LMK::Model_* model = nullptr;
    LRCreateModelFromMemory(block.data(), static_cast<DWORD>(block.size()), 0, nullptr, &model);
    if (!model)
    {
        state.SkipWithError("no model");
        return;
    }
    std::vector<LMK::Object_*> objects(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
    {
        state.PauseTiming();
        for (LMK::Object_*& object : objects)
            if (LRCreateObject(model, &object, nullptr) != S_OK) state.SkipWithError("no object");
        state.ResumeTiming();
        for (LMK::Object_*& object : objects)
            LRReleaseObject(&object);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    LMK::LoadedPart_* part = model;
    LRReleaseLoadedPart(&part);
    LRStop();
}
BENCHMARK(BM_ReleaseObjects)->Arg(65535)->Arg(262143)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
