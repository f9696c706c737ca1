// Window geometry, relations, text, monitors, device contexts and surfaces.
#include "tests/platform/user/recorder.h"

#include "platform/win32/window_surface.h"

using namespace ferolt::test;

// Registered at static initialisation, before anything else of the layer ran.
static const UINT g_earlyMessage = RegisterWindowMessageA("FeroltEarlyMessage");

TEST_F(UserTest, ClientAreaFollowsTheFrameStyle)
{
    struct Case
    {
        const char* name;
        DWORD style;
        bool fullClient; // a procedure that claims the whole window, as hidden back-buffer windows do
        SIZE client;
    };
    const Case cases[] = {
        {"popup", WS_POPUP, false, {200, 100}},
        {"popup with border", WS_POPUP | WS_BORDER, false, {198, 98}},
        {"overlapped window", WS_OVERLAPPEDWINDOW, false, {192, 70}},
        {"border claimed by the procedure", WS_POPUP | WS_BORDER, true, {200, 100}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Handler h = nullptr;
        if (c.fullClient)
            h = [](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT* r)
            {
                if (m != WM_NCCALCSIZE || !wp) return false;
                DefWindowProcA(w, m, wp, lp);
                auto* p = reinterpret_cast<NCCALCSIZE_PARAMS*>(lp);
                p->rgrc[0] = RECT{0, 0, 200, 100};
                *r = 0;
                return true;
            };
        HWND w = Make(c.style, RECT{0, 0, 200, 100}, nullptr, h);
        ASSERT_NE(w, nullptr);
        RECT r;
        ASSERT_TRUE(GetClientRect(w, &r));
        EXPECT_EQ(r.right, c.client.cx);
        EXPECT_EQ(r.bottom, c.client.cy);
        RECT adjusted{0, 0, c.client.cx, c.client.cy};
        if (!c.fullClient)
        {
            AdjustWindowRectEx(&adjusted, c.style, FALSE, 0);
            EXPECT_EQ(adjusted.right - adjusted.left, 200);
            EXPECT_EQ(adjusted.bottom - adjusted.top, 100);
        }
        ferolt::win32::SurfaceView v;
        ASSERT_TRUE(ferolt::win32::LockClientSurface(w, &v));
        EXPECT_EQ(v.width, c.client.cx);
        EXPECT_EQ(v.height, c.client.cy);
        ferolt::win32::UnlockClientSurface(w, nullptr);
        DestroyWindow(w);
    }
}

TEST_F(UserTest, CoordinatesMoveAndSize)
{
    HWND top = Make(WS_POPUP | WS_BORDER | WS_VISIBLE, RECT{100, 50, 300, 250});
    HWND child = Make(WS_CHILD | WS_VISIBLE, RECT{10, 20, 60, 70}, top);
    POINT p{0, 0};
    ClientToScreen(child, &p);
    EXPECT_EQ(p.x, 111); // 100 + 1 border + 10
    EXPECT_EQ(p.y, 71);
    ScreenToClient(top, &p);
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 20);

    Log().clear();
    MoveWindow(top, 0, 0, 200, 200, TRUE); // a move only
    EXPECT_EQ(Messages(top, {WM_MOVE, WM_SIZE}), std::vector<UINT>{WM_MOVE});
    Log().clear();
    MoveWindow(top, 0, 0, 300, 250, TRUE);
    EXPECT_EQ(Messages(top, {WM_MOVE, WM_SIZE}), std::vector<UINT>{WM_SIZE});
    for (auto& r : Log())
        if (r.msg == WM_SIZE)
        {
            EXPECT_EQ(LOWORD(r.lParam), 298);
            EXPECT_EQ(HIWORD(r.lParam), 248);
        }
    RECT wr;
    GetWindowRect(child, &wr);
    EXPECT_EQ(wr.left, 11); // the child moved with its parent
    EXPECT_EQ(wr.top, 21);

    // Sizes beyond the coordinate range are clamped rather than allocated.
    MoveWindow(top, 0, 0, 1 << 30, 1 << 30, FALSE);
    RECT big;
    GetWindowRect(top, &big);
    EXPECT_LE(big.right - big.left, 32767);
}

TEST_F(UserTest, CenterOfScreenAndRelations)
{
    HWND a = Make(WS_POPUP, RECT{0, 0, 10, 10});
    HWND b = Make(WS_POPUP, RECT{0, 0, 10, 10});
    HWND c = Make(WS_CHILD, RECT{0, 0, 5, 5}, a);
    HWND d = Make(WS_CHILD, RECT{0, 0, 5, 5}, c);
    EXPECT_EQ(GetParent(c), a);
    EXPECT_EQ(GetAncestor(d, GA_ROOT), a);
    EXPECT_TRUE(IsChild(a, d));
    EXPECT_FALSE(IsChild(b, d));
    EXPECT_EQ(GetAncestor(a, GA_PARENT), GetDesktopWindow());
    EXPECT_TRUE(IsWindow(GetDesktopWindow()));

    std::vector<HWND> tops;
    EnumWindows(
        [](HWND h, LPARAM p)
        {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&tops));
    EXPECT_NE(std::find(tops.begin(), tops.end(), a), tops.end());
    EXPECT_NE(std::find(tops.begin(), tops.end(), b), tops.end());
    EXPECT_EQ(std::find(tops.begin(), tops.end(), c), tops.end());
    std::vector<HWND> kids;
    EnumChildWindows(
        a,
        [](HWND h, LPARAM p)
        {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&kids));
    EXPECT_EQ(kids, (std::vector<HWND>{c, d}));

    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(a, &pid), GetCurrentThreadId());
    EXPECT_EQ(pid, static_cast<DWORD>(getpid()));
}

TEST_F(UserTest, TextIconAndRegisteredMessages)
{
    HWND h = Make(WS_POPUP, RECT{0, 0, 10, 10});
    SetWindowTextA(h, "Ferolt (42.50%)");
    char buf[8];
    EXPECT_EQ(GetWindowTextA(h, buf, sizeof buf), 7); // cut to the buffer
    EXPECT_STREQ(buf, "Ferolt ");
    EXPECT_EQ(GetWindowTextLengthA(h), 15);
    EXPECT_EQ(backend->Window(h)->title, "Ferolt (42.50%)");

    HICON icon = LoadIconA(nullptr, IDI_APPLICATION);
    EXPECT_EQ(SendMessageA(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon)), 0);
    EXPECT_EQ(SendMessageA(h, WM_SETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(icon));

    EXPECT_GE(g_earlyMessage, 0xC000u);
    EXPECT_EQ(RegisterWindowMessageA("feroltearlymessage"), g_earlyMessage);
    EXPECT_NE(RegisterWindowMessageA("Other"), g_earlyMessage);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

// Monitors on a virtual screen, one of them left of and below the origin.
TEST_F(UserTest, MonitorsOfTheVirtualScreen)
{
    ferolt::win32::host::SetVirtualScreen(
        {{RECT{0, 0, 1920, 1080}, RECT{0, 0, 1920, 1040}}, {RECT{-1280, 200, 0, 1224}, {}}});
    std::vector<RECT> seen;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR, HDC, LPRECT r, LPARAM p)
        {
            reinterpret_cast<std::vector<RECT>*>(p)->push_back(*r);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&seen));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].left, -1280);

    struct Case
    {
        RECT window;
        DWORD flags;
        LONG expectedLeft; // monitor's left edge; 1 means "no monitor"
        bool primary;
    };
    const Case cases[] = {
        {{10, 10, 110, 110}, MONITOR_DEFAULTTONULL, 0, true},
        {{-500, 300, -100, 500}, MONITOR_DEFAULTTONULL, -1280, false},
        {{-300, 300, 100, 500}, MONITOR_DEFAULTTONULL, -1280, false}, // most of it on the left one
        {{5000, 5000, 5100, 5100}, MONITOR_DEFAULTTONULL, 1, false},
        {{5000, 5000, 5100, 5100}, MONITOR_DEFAULTTOPRIMARY, 0, true},
        {{-5000, 900, -4900, 1000}, MONITOR_DEFAULTTONEAREST, -1280, false},
    };
    for (const Case& c : cases)
    {
        HWND w = Make(WS_POPUP, c.window);
        HMONITOR m = MonitorFromWindow(w, c.flags);
        if (c.expectedLeft == 1)
        {
            EXPECT_EQ(m, nullptr);
        }
        else
        {
            MONITORINFO mi{sizeof(mi), {}, {}, 0};
            ASSERT_TRUE(GetMonitorInfoA(m, &mi));
            EXPECT_EQ(mi.rcMonitor.left, c.expectedLeft);
            EXPECT_EQ((mi.dwFlags & MONITORINFOF_PRIMARY) != 0, c.primary);
            EXPECT_EQ(mi.rcWork.bottom, c.primary ? 1040 : 1224);
        }
        DestroyWindow(w);
    }
    MONITORINFO bad{4, {}, {}, 0};
    EXPECT_FALSE(GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, 0), &bad)); // size field too small
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 1920);
    EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 1080);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), -1280);
    EXPECT_EQ(GetSystemMetrics(SM_CMONITORS), 2);
    EXPECT_EQ(GetSystemMetrics(SM_CXDRAG), 4);
}

TEST_F(UserTest, FillRectPaintsTheSurfaceWithinTheClipBox)
{
    HWND h = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 16, 8}, nullptr,
                  [](HWND w, UINT m, WPARAM, LPARAM, LRESULT*)
                  {
                      if (m != WM_PAINT) return false;
                      PAINTSTRUCT ps;
                      HDC dc = BeginPaint(w, &ps);
                      RECT all{0, 0, 16, 8};
                      HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
                      FillRect(dc, &all, red); // only the invalid part changes
                      DeleteObject(red);
                      EndPaint(w, &ps);
                      return true;
                  });
    backend->RunPending();
    HDC dc = GetDC(h);
    RECT all{0, 0, 16, 8};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    ReleaseDC(h, dc);
    RECT part{4, 2, 8, 4};
    InvalidateRect(h, &part, FALSE);
    int before = backend->surfaceUpdates(h);
    backend->RunPending();
    EXPECT_GT(backend->surfaceUpdates(h), before);
    // X8R8G8B8 with the X byte set, as 32-bit RGB on the desktop wants it.
    EXPECT_EQ(backend->Pixel(h, 5, 3), 0xFFFF0000u);
    EXPECT_EQ(backend->Pixel(h, 0, 0), 0xFF808080u);
    EXPECT_EQ(backend->Pixel(h, 8, 3), 0xFF808080u);
    ferolt::win32::SurfaceView v;
    EXPECT_FALSE(ferolt::win32::LockClientSurface(reinterpret_cast<HWND>(0x1234), &v));
}

TEST_F(UserTest, FontsCopyWithUnderline)
{
    LOGFONTA lf{};
    lf.lfHeight = -11;
    std::strcpy(lf.lfFaceName, "MS Shell Dlg");
    HFONT f = CreateFontIndirectA(&lf);
    LOGFONTA copy{};
    ASSERT_EQ(GetObjectA(f, sizeof copy, &copy), static_cast<int>(sizeof copy));
    EXPECT_STREQ(copy.lfFaceName, "MS Shell Dlg");
    copy.lfUnderline = TRUE;
    HFONT u = CreateFontIndirectA(&copy);
    LOGFONTA back{};
    GetObjectA(u, sizeof back, &back);
    EXPECT_EQ(back.lfUnderline, TRUE);
    EXPECT_EQ(GetObjectType(u), static_cast<DWORD>(OBJ_FONT));
    EXPECT_TRUE(DeleteObject(u));
    EXPECT_TRUE(DeleteObject(f));
    EXPECT_EQ(GetObjectA(f, sizeof back, &back), 0);
}

TEST_F(UserTest, CursorsSystemAndSetCursorReachTheBackend)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), arrow);
    SetCursor(arrow);
    EXPECT_EQ(SetCursor(wait), arrow);
    EXPECT_EQ(GetCursor(), wait);
    ASSERT_NE(backend->cursor(), nullptr);
    EXPECT_EQ(backend->cursor()->systemId, 32514);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(999)), nullptr);

    // The class cursor is set over the client area through WM_SETCURSOR's default.
    HWND h = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 50, 50}, nullptr,
                  [arrow](HWND, UINT m, WPARAM, LPARAM l, LRESULT* r)
                  {
                      if (m != WM_SETCURSOR || LOWORD(l) != HTCLIENT) return false;
                      SetCursor(arrow);
                      *r = TRUE;
                      return true;
                  });
    backend->RunPending();
    SetCursor(wait);
    backend->MouseMove(h, POINT{3, 3});
    backend->RunPending();
    EXPECT_EQ(GetCursor(), arrow);
}
