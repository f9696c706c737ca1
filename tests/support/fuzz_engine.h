#pragma once
// A started engine on the headless back end with one small software adapter, for fuzz targets that
// build models and scenes. Made once per process and never stopped: each input reuses it.
#include "engine/engine_api.h"
#include "platform/backends/headless/headless_backend.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"

namespace ferolt::test
{
inline bool StartFuzzEngine()
{
    static const bool started = []
    {
        ferolt::hooks::SetD3D9WorkerThreads(1);
        ferolt::hooks::D3D9Adapter adapter;
        adapter.monitorRect = {0, 0, 64, 48};
        ferolt::win32::host::SetVirtualScreen({{adapter.monitorRect, {}}});
        ferolt::hooks::SetD3D9Adapters({adapter});
        static auto* backend = new ferolt::backend::HeadlessBackend; // for the life of the process
        (void)backend;
        return LRStart(nullptr) == S_OK;
    }();
    return started;
}
} // namespace ferolt::test
