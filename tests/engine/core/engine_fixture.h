#pragma once
// A started-engine fixture on small software adapters, so that every device is a few kilobytes.
#include <gtest/gtest.h>

#include <vector>

#include "engine/core/globals.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_host.h"

namespace enginetest
{
inline ferolt::hooks::D3D9Adapter SmallAdapter(LONG left = 0, LONG width = 64, LONG height = 48)
{
    ferolt::hooks::D3D9Adapter a;
    a.monitorRect = {left, 0, left + width, height};
    return a;
}

// One monitor per adapter, side by side.
inline void UseAdapters(const std::vector<ferolt::hooks::D3D9Adapter>& adapters)
{
    std::vector<ferolt::win32::host::MonitorConfig> monitors;
    for (const auto& a : adapters)
        monitors.push_back({a.monitorRect, {}});
    if (monitors.empty()) monitors.push_back({{0, 0, 64, 48}, {}});
    ferolt::win32::host::SetVirtualScreen(monitors);
    ferolt::hooks::SetD3D9Adapters(adapters);
}

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ferolt::hooks::SetD3D9WorkerThreads(1);
        UseAdapters({SmallAdapter()});
    }
    void TearDown() override
    {
        while (LMK::CurrentGlobals)
            LRStop();
        ferolt::hooks::ResetMissingModules();
        ferolt::hooks::ResetD3D9Hooks();
        ferolt::win32::host::SetVirtualScreen({{{0, 0, 1920, 1080}, {}}});
    }
};
} // namespace enginetest
