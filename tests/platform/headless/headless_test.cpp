// The test backend itself: what it records, how it answers, and the pixels it shows.
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using ferolt::backend::HeadlessBackend;

namespace
{
HWND Popup(DWORD style, RECT r, const char* title = "w")
{
    return CreateWindowExA(0, "Static", title, style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                           nullptr, nullptr, nullptr, nullptr);
}
} // namespace

TEST(HeadlessBackend, TracksWindowsAsTheLayerReportsThem)
{
    HeadlessBackend b;
    HWND shown = Popup(WS_POPUP | WS_VISIBLE, RECT{10, 20, 110, 70}, "Ferolt");
    HWND hidden = Popup(WS_POPUP | WS_BORDER, RECT{0, 0, 64, 32}, "LIGTHBUFFER");
    auto s = b.Window(shown);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->title, "Ferolt");
    EXPECT_TRUE(s->visible);
    EXPECT_EQ(s->client.left, 10);
    EXPECT_EQ(b.VisibleTopLevelWindows(), std::vector<HWND>{shown});

    SetWindowTextA(shown, "Ferolt (50.00%)");
    MoveWindow(shown, 30, 40, 200, 100, TRUE);
    s = b.Window(shown);
    EXPECT_EQ(s->title, "Ferolt (50.00%)");
    EXPECT_EQ(s->client.right, 230);
    DestroyWindow(shown);
    EXPECT_FALSE(b.Window(shown).has_value());

    // A hidden window still has a surface that a device presents into.
    ferolt::win32::SurfaceView v;
    ASSERT_TRUE(ferolt::win32::LockClientSurface(hidden, &v));
    ASSERT_EQ(v.width, 62); // the border takes one pixel each side
    v.pixels[static_cast<size_t>(3) * v.pitch + 5] = 0x00123456;
    RECT changed{5, 3, 6, 4};
    ferolt::win32::UnlockClientSurface(hidden, &changed);
    EXPECT_EQ(b.surfaceUpdates(hidden), 1);
    EXPECT_EQ(b.Pixel(hidden, 5, 3), 0x00123456u);
    EXPECT_EQ(b.Pixel(hidden, 62, 0), 0xFFFFFFFFu); // outside
    std::vector<uint32_t> px;
    int w = 0, h = 0;
    ASSERT_TRUE(b.ReadPixels(hidden, &px, &w, &h));
    EXPECT_EQ(px.size(), static_cast<size_t>(w) * h);
    DestroyWindow(hidden);
}

// Questions without a scripted answer are cancelled and counted, so a test notices them.
TEST(HeadlessBackend, UnansweredQuestionsAreCancelledAndCounted)
{
    HeadlessBackend b;
    EXPECT_EQ(MessageBoxA(nullptr, "?", "t", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "?", "t", MB_OKCANCEL), IDCANCEL);
    HMENU m = CreatePopupMenu();
    AppendMenuA(m, MF_STRING, 5, "x");
    HWND owner = Popup(WS_POPUP | WS_VISIBLE, RECT{0, 0, 50, 50});
    EXPECT_FALSE(TrackPopupMenu(m, 0, 0, 0, 0, owner, nullptr));
    INT_PTR r = ferolt::win32::DialogBoxFromText(
        "DIALOG 0, 0, 50, 20\nBEGIN\nEND\n", owner,
        [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_INITDIALOG; }, 0);
    EXPECT_EQ(r, IDCANCEL);
    char file[MAX_PATH] = "";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    EXPECT_FALSE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(b.unanswered(), 5);
    EXPECT_EQ(b.menus().size(), 1u);
    EXPECT_EQ(b.dialogs().size(), 1u);
    DestroyMenu(m);
    DestroyWindow(owner);
}

// With no backend installed the layer still answers: every question is cancelled.
TEST(HeadlessBackend, BuiltInBackendCancelsEverything)
{
    ASSERT_EQ(ferolt::win32::host::GetBackend(), nullptr);
    EXPECT_EQ(MessageBoxA(nullptr, "?", "t", MB_YESNO), IDNO);
    EXPECT_LE(reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, "open", "x", nullptr, nullptr, SW_SHOW)),
              32u);
    EXPECT_EQ(HtmlHelpA(nullptr, "x.chm", HH_DISPLAY_TOPIC, 0), nullptr);
}

// The help window is the layer's: a real, hidden window that the application's own window lists
// never show, made once and closed by HH_CLOSE_ALL.
TEST(HeadlessBackend, HtmlHelpReturnsTheLayersHelpWindow)
{
    HeadlessBackend b;
    HWND owner = Popup(WS_POPUP | WS_VISIBLE, RECT{0, 0, 50, 50});
    HWND help = HtmlHelpA(owner, "/tmp/qelso1.chm", HH_DISPLAY_TOPIC, 0);
    ASSERT_NE(help, nullptr);
    EXPECT_NE(help, owner);
    EXPECT_TRUE(IsWindow(help));
    EXPECT_FALSE(IsWindowVisible(help));
    EXPECT_EQ(HtmlHelpA(nullptr, "/tmp/qelso1.chm", HH_DISPLAY_TOC, 0), help);
    EXPECT_EQ(b.helpFiles().size(), 2u);
    std::vector<HWND> listed;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL
        {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&listed));
    EXPECT_EQ(std::count(listed.begin(), listed.end(), help), 0);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), owner), 1);
    EXPECT_EQ(HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0), nullptr);
    EXPECT_FALSE(IsWindow(help));
    EXPECT_EQ(HtmlHelpA(owner, nullptr, HH_DISPLAY_TOPIC, 0), nullptr);
    DestroyWindow(owner);
}

TEST(HeadlessBackend, APostFromAnotherThreadWakesGetMessage)
{
    HeadlessBackend b;
    HWND h = Popup(WS_POPUP, RECT{0, 0, 10, 10});
    std::thread poster(
        [h]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            PostMessageA(h, WM_USER + 9, 1, 2);
        });
    MSG m;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    poster.join();
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 9));
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(900)); // not the idle time-out
    DestroyWindow(h);
}

TEST(HeadlessBackend, AdvanceAndRunStepsTheManualClock)
{
    ferolt::hooks::InstallManualClock(100);
    HeadlessBackend b;
    static int ticks = 0;
    ticks = 0;
    UINT_PTR id = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ++ticks; });
    b.AdvanceAndRun(100, 5);
    EXPECT_EQ(ticks, 5);
    b.AdvanceAndRun(100, 100); // one step over five periods: coalesced into one
    EXPECT_EQ(ticks, 6);
    KillTimer(nullptr, id);
    ferolt::hooks::RemoveManualClock();
}
