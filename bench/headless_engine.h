#pragma once
// A started engine on one headless adapter of a given size, with a chosen number of rasterizer threads
// (0: one per core), stopped again when it goes out of scope.
#include "engine/core/globals.h"
#include "engine/engine_api.h"
#include "platform/backends/headless/headless_backend.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"

namespace benchsupport
{
class HeadlessEngine
{
public:
    HeadlessEngine(unsigned threads, LONG width, LONG height)
    {
        ferolt::hooks::SetD3D9WorkerThreads(threads);
        ferolt::hooks::D3D9Adapter adapter;
        adapter.monitorRect = {0, 0, width, height};
        ferolt::win32::host::SetVirtualScreen({{adapter.monitorRect, {}}});
        ferolt::hooks::SetD3D9Adapters({adapter});
        started_ = LRStart(nullptr) == S_OK;
    }
    ~HeadlessEngine()
    {
        while (LMK::CurrentGlobals)
            LRStop();
        ferolt::hooks::ResetD3D9Hooks();
    }
    HeadlessEngine(const HeadlessEngine&) = delete;
    HeadlessEngine& operator=(const HeadlessEngine&) = delete;

    bool Started() const { return started_; }

private:
    ferolt::backend::HeadlessBackend backend_;
    bool started_ = false;
};
} // namespace benchsupport
