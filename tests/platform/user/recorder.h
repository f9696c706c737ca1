#pragma once
// A window class that records the messages its windows receive, and a fixture with the headless
// backend and the manual clock.
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/windows.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ferolt::test
{
struct Received
{
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// Everything a recorder window receives, in order, across all recorder windows.
inline std::vector<Received>& Log()
{
    static std::vector<Received> log;
    return log;
}

// Per-window overrides: return true to skip the default handling, with *result set.
using Handler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)>;
inline std::map<HWND, Handler>& Handlers()
{
    static std::map<HWND, Handler> h;
    return h;
}
inline Handler& PendingHandler()
{
    static Handler h; // attached to the next window created (it sees its creation messages)
    return h;
}

inline LRESULT CALLBACK RecorderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE && PendingHandler())
    {
        Handlers()[hwnd] = PendingHandler();
        PendingHandler() = nullptr;
    }
    Log().push_back({hwnd, msg, wParam, lParam});
    auto it = Handlers().find(hwnd);
    LRESULT r = 0;
    if (it != Handlers().end() && it->second && it->second(hwnd, msg, wParam, lParam, &r)) return r;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

inline const char* RecorderClass()
{
    static bool registered = []
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecorderProc;
        wc.lpszClassName = "FeroltRecorder";
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    return "FeroltRecorder";
}

// Messages of one window (or all with null), filtered to those listed (all when empty).
inline std::vector<UINT> Messages(HWND hwnd, std::vector<UINT> only = {})
{
    std::vector<UINT> out;
    for (auto& r : Log())
    {
        if (hwnd && r.hwnd != hwnd) continue;
        if (!only.empty() && std::find(only.begin(), only.end(), r.msg) == only.end()) continue;
        out.push_back(r.msg);
    }
    return out;
}

class UserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        hooks::InstallManualClock(1000);
        win32::host::SetVirtualScreen({{RECT{0, 0, 1920, 1080}, {}}});
        Log().clear();
        Handlers().clear();
        backend = std::make_unique<backend::HeadlessBackend>();
    }
    void TearDown() override
    {
        // Leave nothing behind for the next test: windows, posted messages, a quit flag. Handlers
        // go first: they may hold references into the finished test body.
        Handlers().clear();
        for (HWND h : created)
            if (IsWindow(h)) DestroyWindow(h);
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
        {
        }
        if (GetCapture()) ReleaseCapture();
        EXPECT_EQ(backend->unanswered(), 0);
        backend.reset();
        Handlers().clear();
        hooks::RemoveManualClock();
    }

    HWND Make(DWORD style, RECT r, HWND parent = nullptr, Handler h = nullptr, int id = 0)
    {
        PendingHandler() = std::move(h);
        HWND hwnd = CreateWindowExA(0, RecorderClass(), "test", style, r.left, r.top, r.right - r.left,
                                    r.bottom - r.top, parent,
                                    reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
        PendingHandler() = nullptr;
        if (hwnd) created.push_back(hwnd);
        return hwnd;
    }

    std::unique_ptr<backend::HeadlessBackend> backend;
    std::vector<HWND> created;
};
} // namespace ferolt::test
