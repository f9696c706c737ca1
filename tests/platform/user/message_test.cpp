// Message order, painting, timers, modal loops, destruction and capture.
#include "tests/platform/user/recorder.h"

#include <stdexcept>
#include <thread>

using namespace ferolt::test;

namespace
{
constexpr DWORD kVisible = WS_POPUP | WS_VISIBLE;

std::vector<UINT> Dispatched(HWND hwnd, ferolt::backend::HeadlessBackend& b)
{
    Log().clear();
    b.RunPending();
    return Messages(hwnd, {WM_USER, WM_USER + 1, WM_PAINT, WM_TIMER, WM_COMMAND});
}
} // namespace

// What arrives first when several kinds wait: posted, then paint, then timer, each coalesced.
TEST_F(UserTest, RetrievalOrderPostedPaintTimer)
{
    struct Case
    {
        const char* name;
        std::function<void(HWND)> setUp;
        std::vector<UINT> expected;
    };
    const Case cases[] = {
        {"timer, paint and posted queued in reverse",
         [](HWND h)
         {
             SetTimer(h, 1, 10, nullptr);
             ferolt::hooks::AdvanceClock(15);
             InvalidateRect(h, nullptr, FALSE);
             PostMessageA(h, WM_USER, 0, 0);
         },
         {WM_USER, WM_PAINT, WM_TIMER}},
        {"posted messages keep their order",
         [](HWND h)
         {
             PostMessageA(h, WM_USER + 1, 0, 0);
             PostMessageA(h, WM_USER, 0, 0);
         },
         {WM_USER + 1, WM_USER}},
        {"three invalidations give one paint",
         [](HWND h)
         {
             RECT a{0, 0, 5, 5}, b{10, 10, 20, 20}, c{2, 2, 3, 3};
             InvalidateRect(h, &a, FALSE);
             InvalidateRect(h, &b, FALSE);
             InvalidateRect(h, &c, FALSE);
         },
         {WM_PAINT}},
        {"overdue periods of a timer give one message",
         [](HWND h)
         {
             SetTimer(h, 1, 10, nullptr);
             ferolt::hooks::AdvanceClock(55);
         },
         {WM_TIMER}},
        {"a timer that is not due stays quiet",
         [](HWND h)
         {
             SetTimer(h, 1, 10, nullptr);
             ferolt::hooks::AdvanceClock(9);
         },
         {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        HWND h = Make(kVisible, RECT{0, 0, 40, 30});
        backend->RunPending(); // the first paint of a new window
        c.setUp(h);
        EXPECT_EQ(Dispatched(h, *backend), c.expected);
        KillTimer(h, 1);
        DestroyWindow(h);
    }
}

// The paint clip box is the union of what was invalidated.
TEST_F(UserTest, PaintClipBoxIsTheInvalidatedArea)
{
    struct Case
    {
        std::vector<RECT> invalid;
        RECT clip;
    };
    const Case cases[] = {
        {{{1, 2, 3, 4}}, {1, 2, 3, 4}},
        {{{0, 0, 5, 5}, {10, 10, 20, 20}}, {0, 0, 20, 20}},
        {{{-5, -5, 4, 4}}, {0, 0, 4, 4}},         // clipped to the client area
        {{{30, 20, 100, 100}}, {30, 20, 40, 30}}, // the client is 40 x 30
    };
    for (const Case& c : cases)
    {
        RECT seen{}, box{};
        int result = 0;
        HWND h = Make(kVisible, RECT{0, 0, 40, 30}, nullptr,
                      [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT*)
                      {
                          if (m != WM_PAINT) return false;
                          PAINTSTRUCT ps;
                          HDC dc = BeginPaint(w, &ps);
                          seen = ps.rcPaint;
                          result = GetClipBox(dc, &box);
                          EndPaint(w, &ps);
                          return true;
                      });
        backend->RunPending();
        for (const RECT& r : c.invalid)
            InvalidateRect(h, &r, FALSE);
        backend->RunPending();
        EXPECT_TRUE(EqualRect(&seen, &c.clip))
            << seen.left << "," << seen.top << "," << seen.right << "," << seen.bottom;
        EXPECT_TRUE(EqualRect(&box, &c.clip));
        EXPECT_EQ(result, SIMPLEREGION);
        DestroyWindow(h);
    }
}

TEST_F(UserTest, UpdateWindowAndRedrawNowPaintAtOnce)
{
    int paints = 0;
    HWND h = Make(kVisible, RECT{0, 0, 40, 30}, nullptr,
                  [&](HWND, UINT m, WPARAM, LPARAM, LRESULT*)
                  {
                      paints += m == WM_PAINT;
                      return false;
                  });
    backend->RunPending();
    paints = 0;
    RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(paints, 1);
    InvalidateRect(h, nullptr, TRUE);
    UpdateWindow(h);
    EXPECT_EQ(paints, 2);
    UpdateWindow(h); // nothing invalid: no paint
    EXPECT_EQ(paints, 2);
    EXPECT_EQ(backend->RunPending(), 0);
}

TEST_F(UserTest, TimersStopReplaceAndCallTheirProcedure)
{
    static int procCalls = 0;
    procCalls = 0;
    HWND h = Make(kVisible, RECT{0, 0, 10, 10});
    backend->RunPending();
    SetTimer(h, 7, 100, nullptr);
    SetTimer(h, 7, 20, nullptr); // same id: replaced
    backend->AdvanceAndRun(20);
    EXPECT_EQ(Messages(h, {WM_TIMER}).size(), 1u);
    EXPECT_TRUE(KillTimer(h, 7));
    EXPECT_FALSE(KillTimer(h, 7));
    backend->AdvanceAndRun(100, 10);
    EXPECT_EQ(Messages(h, {WM_TIMER}).size(), 1u);

    UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++procCalls; });
    ASSERT_NE(id, 0u);
    backend->AdvanceAndRun(30, 10);
    EXPECT_EQ(procCalls, 3);
    KillTimer(nullptr, id);
}

TEST_F(UserTest, GetMessageWaitsForATimerOnTheManualClock)
{
    HWND h = Make(kVisible, RECT{0, 0, 10, 10});
    backend->RunPending();
    SetTimer(h, 1, 500, nullptr);
    DWORD start = GetTickCount();
    MSG m;
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
    EXPECT_GE(GetTickCount() - start, 500u);
    KillTimer(h, 1);
}

// The default WM_CLOSE destroys the window; no quit message follows.
TEST_F(UserTest, CloseDestroysWithoutQuit)
{
    HWND parent = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{10, 10, 200, 100});
    HWND child = Make(WS_CHILD | WS_VISIBLE, RECT{0, 0, 20, 20}, parent);
    backend->RunPending();
    Log().clear();
    PostMessageA(parent, WM_CLOSE, 0, 0);
    backend->RunPending();
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    std::vector<std::pair<HWND, UINT>> order;
    for (auto& r : Log())
        if (r.msg == WM_DESTROY || r.msg == WM_NCDESTROY) order.push_back({r.hwnd, r.msg});
    std::vector<std::pair<HWND, UINT>> expected{
        {parent, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {parent, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(backend->Window(parent).has_value());
}

TEST_F(UserTest, QuitMessageEndsGetMessageAfterPostedOnes)
{
    HWND h = Make(kVisible, RECT{0, 0, 10, 10});
    backend->RunPending();
    PostQuitMessage(3);
    PostMessageA(h, WM_USER, 0, 0);
    MSG m;
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
    EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.wParam, 3u);
}

TEST_F(UserTest, CreationSendsItsMessagesInOrder)
{
    HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{10, 10, 300, 200});
    std::vector<UINT> expected{WM_GETMINMAXINFO, WM_NCCREATE,   WM_NCCALCSIZE, WM_CREATE,  WM_SIZE,
                               WM_MOVE,          WM_SHOWWINDOW, WM_ACTIVATE,   WM_SETFOCUS};
    EXPECT_EQ(Messages(h, {WM_GETMINMAXINFO, WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, WM_SIZE, WM_MOVE,
                           WM_SHOWWINDOW, WM_ACTIVATE, WM_SETFOCUS}),
              expected);
    EXPECT_EQ(GetFocus(), h);
    EXPECT_EQ(GetActiveWindow(), h);
}

TEST_F(UserTest, CreateRefusedByNcCreateOrCreate)
{
    for (UINT refuse : {static_cast<UINT>(WM_NCCREATE), static_cast<UINT>(WM_CREATE)})
    {
        HWND h = Make(kVisible, RECT{0, 0, 10, 10}, nullptr,
                      [refuse](HWND, UINT m, WPARAM, LPARAM, LRESULT* r)
                      {
                          if (m != refuse) return false;
                          *r = m == WM_CREATE ? -1 : FALSE;
                          return true;
                      });
        EXPECT_EQ(h, nullptr);
    }
}

// A modal loop (popup menu or dialog) still dispatches paint and timer messages; the menu's
// command is posted and arrives only after the menu has closed.
TEST_F(UserTest, ModalLoopsDispatchPaintAndTimer)
{
    HWND h = Make(kVisible, RECT{0, 0, 50, 50});
    backend->RunPending();
    SetTimer(h, 1, 20, nullptr);
    std::vector<UINT> duringMenu;
    backend->AnswerMenu(
        [&](const std::vector<ferolt::backend::MenuItemModel>&, ferolt::backend::ModalLoop& loop)
        {
            Log().clear();
            InvalidateRect(h, nullptr, FALSE);
            ferolt::hooks::AdvanceClock(25);
            loop.Pump();
            duringMenu = Messages(h, {WM_PAINT, WM_TIMER, WM_COMMAND});
            return 42u;
        });
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 42, "Answer");
    EXPECT_TRUE(TrackPopupMenu(menu, 0, 5, 5, 0, h, nullptr));
    EXPECT_EQ(duringMenu, (std::vector<UINT>{WM_PAINT, WM_TIMER}));
    Log().clear();
    backend->RunPending();
    ASSERT_EQ(Messages(h, {WM_COMMAND}), std::vector<UINT>{WM_COMMAND});
    for (auto& r : Log())
        if (r.msg == WM_COMMAND)
        {
            EXPECT_EQ(r.wParam, 42u);
        }
    DestroyMenu(menu);

    std::vector<UINT> duringDialog;
    backend->AnswerDialog({[&](HWND, ferolt::backend::ModalLoop& loop)
                           {
                               Log().clear();
                               InvalidateRect(h, nullptr, FALSE);
                               ferolt::hooks::AdvanceClock(25);
                               loop.Pump();
                               duringDialog = Messages(h, {WM_PAINT, WM_TIMER});
                           },
                           ferolt::backend::HeadlessBackend::Click(IDCANCEL)});
    INT_PTR r = ferolt::win32::DialogBoxFromText(
        "DIALOG 0, 0, 100, 50\nCAPTION \"d\"\nBEGIN\nPUSHBUTTON \"Cancel\", IDCANCEL, 5, 5, 40, 14\nEND\n", h,
        [](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR
        {
            if (m == WM_COMMAND && LOWORD(w) == IDCANCEL) EndDialog(d, IDCANCEL);
            return m == WM_INITDIALOG;
        },
        0);
    EXPECT_EQ(r, IDCANCEL);
    EXPECT_EQ(duringDialog, (std::vector<UINT>{WM_PAINT, WM_TIMER}));
    EXPECT_TRUE(IsWindowEnabled(h)); // the owner is enabled again
    KillTimer(h, 1);
}

TEST_F(UserTest, SentMessagesFromAnotherThreadRunOnTheOwningThreadFirst)
{
    HWND h = Make(kVisible, RECT{0, 0, 10, 10});
    backend->RunPending();
    std::thread::id ran;
    Handlers()[h] = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT* r)
    {
        if (m != WM_USER + 5) return false;
        ran = std::this_thread::get_id();
        *r = 77;
        return true;
    };
    PostMessageA(h, WM_USER, 0, 0);
    LRESULT reply = 0;
    std::thread sender([&] { reply = SendMessageA(h, WM_USER + 5, 0, 0); });
    while (GetQueueStatus(0) < 2) // the posted message and the sent one
        std::this_thread::yield();
    // The sent message is delivered inside GetMessage, before the posted one is returned.
    MSG m;
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
    DispatchMessageA(&m);
    sender.join();
    EXPECT_EQ(reply, 77);
    EXPECT_EQ(ran, std::this_thread::get_id());
    std::vector<UINT> order = Messages(h, {WM_USER, WM_USER + 5});
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 5, WM_USER}));
}

// Capture keeps mouse messages with the capturing window, in its client coordinates.
TEST_F(UserTest, CaptureKeepsMouseMessages)
{
    HWND a = Make(kVisible, RECT{0, 0, 100, 100});
    HWND b = Make(kVisible, RECT{200, 0, 300, 100});
    backend->RunPending();
    struct Case
    {
        HWND capture;
        HWND expected;
        LONG x;
    };
    const Case cases[] = {{nullptr, b, 50}, {a, a, 250}};
    for (const Case& c : cases)
    {
        if (c.capture) SetCapture(c.capture);
        EXPECT_EQ(backend->capture(), c.capture);
        Log().clear();
        ferolt::win32::host::MouseMove(POINT{250, 10});
        ferolt::win32::host::MouseButton(ferolt::win32::host::Button::Left, true, POINT{250, 10});
        ferolt::win32::host::MouseButton(ferolt::win32::host::Button::Left, false, POINT{250, 10});
        backend->RunPending();
        std::vector<UINT> got = Messages(c.expected, {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP});
        EXPECT_EQ(got, (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP}));
        for (auto& r : Log())
            if (r.msg == WM_MOUSEMOVE)
            {
                EXPECT_EQ(GET_X_LPARAM(r.lParam), c.x);
            }
        ReleaseCapture();
        EXPECT_EQ(backend->capture(), nullptr);
    }
    // Losing the capture is announced to the window that had it.
    SetCapture(a);
    Log().clear();
    SetCapture(b);
    EXPECT_EQ(Messages(a, {WM_CAPTURECHANGED}), std::vector<UINT>{WM_CAPTURECHANGED});
    ReleaseCapture();
}

TEST_F(UserTest, RightButtonUpRaisesContextMenuInScreenCoordinates)
{
    HWND h = Make(kVisible, RECT{100, 50, 200, 150});
    backend->RunPending();
    Log().clear();
    backend->Click(h, POINT{10, 20}, ferolt::win32::host::Button::Right);
    backend->RunPending();
    bool seen = false;
    for (auto& r : Log())
        if (r.msg == WM_CONTEXTMENU)
        {
            seen = true;
            EXPECT_EQ(reinterpret_cast<HWND>(r.wParam), h);
            EXPECT_EQ(GET_X_LPARAM(r.lParam), 110);
            EXPECT_EQ(GET_Y_LPARAM(r.lParam), 70);
        }
    EXPECT_TRUE(seen);
}

TEST_F(UserTest, MouseMessagesCarryButtonAndModifierFlags)
{
    HWND h = Make(kVisible, RECT{0, 0, 100, 100});
    backend->RunPending();
    struct Case
    {
        std::vector<UINT> keys;
        std::vector<ferolt::win32::host::Button> buttons;
        WPARAM flags;
    };
    using B = ferolt::win32::host::Button;
    const Case cases[] = {
        {{}, {}, 0},
        {{VK_SHIFT}, {B::Left}, MK_SHIFT | MK_LBUTTON},
        {{VK_CONTROL}, {B::Middle}, MK_CONTROL | MK_MBUTTON},
        {{}, {B::Left, B::Right}, MK_LBUTTON | MK_RBUTTON},
    };
    for (const Case& c : cases)
    {
        for (UINT k : c.keys)
            backend->KeyDown(k);
        for (auto b : c.buttons)
            backend->MouseDown(h, POINT{5, 5}, b);
        Log().clear();
        backend->MouseMove(h, POINT{6, 7});
        backend->RunPending();
        WPARAM got = 0xFFFF;
        for (auto& r : Log())
            if (r.msg == WM_MOUSEMOVE) got = r.wParam;
        EXPECT_EQ(got, c.flags);
        for (auto b : c.buttons)
            backend->MouseUp(h, POINT{5, 5}, b);
        for (UINT k : c.keys)
            backend->KeyUp(k);
        backend->RunPending();
        ReleaseCapture();
    }
    Log().clear();
    backend->Wheel(h, POINT{1, 2}, -240);
    backend->RunPending();
    for (auto& r : Log())
        if (r.msg == WM_MOUSEWHEEL)
        {
            EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(r.wParam), -240);
            EXPECT_EQ(GET_X_LPARAM(r.lParam), 1); // screen coordinates; the window is at the origin
        }
    EXPECT_EQ(Messages(h, {WM_MOUSEWHEEL}).size(), 1u);
}

TEST_F(UserTest, KeysBecomeKeyMessagesWithTheOriginalCodes)
{
    ASSERT_NE(Make(kVisible, RECT{0, 0, 100, 100}), nullptr); // the focus window
    backend->RunPending();
    struct Case
    {
        std::vector<UINT> held;
        UINT vk;
        UINT message;
    };
    const Case cases[] = {
        {{}, VK_NUMPAD7, WM_KEYDOWN},
        {{}, VK_MULTIPLY, WM_KEYDOWN},
        {{VK_CONTROL}, VK_OEM_102, WM_KEYDOWN},
        {{VK_MENU}, VK_LEFT, WM_SYSKEYDOWN},
        {{}, VK_F10, WM_SYSKEYDOWN},
        {{}, VK_F1, WM_KEYDOWN},
    };
    for (const Case& c : cases)
    {
        for (UINT k : c.held)
            backend->KeyDown(k);
        Log().clear();
        backend->KeyDown(c.vk);
        EXPECT_LT(GetAsyncKeyState(static_cast<int>(c.vk)), 0);
        MSG m;
        UINT got = 0;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            if (m.wParam == c.vk && (m.message == WM_KEYDOWN || m.message == WM_SYSKEYDOWN))
            {
                got = m.message;
                EXPECT_LT(GetKeyState(static_cast<int>(c.vk)), 0); // as of the message just taken
            }
        EXPECT_EQ(got, c.message) << c.vk;
        backend->KeyUp(c.vk);
        EXPECT_GE(GetAsyncKeyState(static_cast<int>(c.vk)), 0);
        for (UINT k : c.held)
            backend->KeyUp(k);
        backend->RunPending();
    }
}

TEST_F(UserTest, AltF4PostsCloseThroughTheDefaultProcedure)
{
    HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{0, 0, 100, 100});
    backend->RunPending();
    backend->KeyDown(VK_MENU);
    backend->KeyDown(VK_F4);
    backend->RunPending();
    EXPECT_FALSE(IsWindow(h));
    backend->KeyUp(VK_F4);
    backend->KeyUp(VK_MENU);
}

TEST_F(UserTest, DisabledOwnerGetsNoInput)
{
    HWND h = Make(kVisible, RECT{0, 0, 100, 100});
    backend->RunPending();
    EnableWindow(h, FALSE);
    Log().clear();
    backend->Click(h, POINT{5, 5});
    backend->KeyPress('A');
    backend->RunPending();
    EXPECT_TRUE(Messages(h, {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_KEYDOWN}).empty());
    EnableWindow(h, TRUE);
}

// A loop that runs until its window is gone ends when the user's input during the wait removes the
// window, whether the input arrives as a queued message (the close button, a key) or is handled at
// once (a dialog control, a resize by the desktop).
TEST_F(UserTest, InputDuringTheWaitEndsALoopUntilTheWindowIsGone)
{
    constexpr int kButtonId = 7;
    struct Case
    {
        const char* name;
        std::function<void(HWND top, HWND button)> feed;
        std::vector<UINT> retrieved; // WM_CHAR and WM_PAINT left out
    };
    using ferolt::win32::host::Key;
    const Case cases[] = {
        {"close button", [](HWND top, HWND) { ferolt::win32::host::CloseRequested(top); }, {WM_SYSCOMMAND}},
        {"keys, then the close button",
         [](HWND top, HWND)
         {
             Key('A', true);
             Key('A', false);
             ferolt::win32::host::CloseRequested(top);
         },
         {WM_KEYDOWN, WM_KEYUP, WM_SYSCOMMAND}},
        {"key that destroys",
         [](HWND, HWND)
         {
             Key('X', true);
             Key('X', false);
         },
         {WM_KEYDOWN}},
        {"button that destroys",
         [](HWND, HWND button) { ferolt::win32::host::ControlClicked(button); },
         {WM_NULL}},
        {"resize that destroys",
         [](HWND top, HWND)
         {
             RECT c{};
             GetClientRect(top, &c);
             MapWindowPoints(top, nullptr, reinterpret_cast<POINT*>(&c), 2);
             ferolt::win32::host::WindowMovedByUser(top, RECT{c.left, c.top, c.left + 300, c.top + 200});
         },
         {WM_NULL}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        // A fresh backend per case: an unused watchdog step must not reach the next case.
        backend = std::make_unique<ferolt::backend::HeadlessBackend>();
        HWND top = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{10, 10, 210, 160}, nullptr,
                        [](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT*)
                        {
                            if ((msg == WM_KEYDOWN && wParam == 'X') ||
                                (msg == WM_COMMAND && LOWORD(wParam) == kButtonId) ||
                                (msg == WM_SIZE && LOWORD(lParam) == 300))
                            {
                                DestroyWindow(hwnd);
                                return true;
                            }
                            return false;
                        });
        HWND button =
            CreateWindowExA(0, "Button", "Go", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 5, 5, 50, 20, top,
                            reinterpret_cast<HMENU>(static_cast<intptr_t>(kButtonId)), nullptr, nullptr);
        ASSERT_NE(button, nullptr);
        SetFocus(top);
        backend->RunPending();
        Log().clear();
        bool hung = false;
        backend->DuringWait([&] { c.feed(top, button); });
        backend->DuringWait(
            [&]
            {
                hung = true;
                PostQuitMessage(0);
            });
        std::vector<UINT> retrieved;
        MSG m{};
        BOOL got = TRUE;
        while (IsWindow(top) && (got = GetMessageA(&m, nullptr, 0, 0)) > 0)
        {
            if (m.message != WM_CHAR && m.message != WM_PAINT) retrieved.push_back(m.message);
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        EXPECT_FALSE(hung);
        EXPECT_EQ(got, TRUE);
        EXPECT_FALSE(IsWindow(top));
        EXPECT_EQ(backend->waits(), 1);
        EXPECT_EQ(retrieved, c.retrieved);
        if (c.retrieved.back() == WM_SYSCOMMAND)
        {
            EXPECT_EQ(Messages(top, {WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}),
                      (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
        }
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
        {
        }
    }
}

// A close request for a window that a modal dialog has disabled is ignored, as its button would be.
TEST_F(UserTest, CloseRequestForADisabledWindowIsIgnored)
{
    HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{0, 0, 100, 100});
    backend->RunPending();
    EnableWindow(h, FALSE);
    ferolt::win32::host::CloseRequested(h);
    backend->RunPending();
    EXPECT_TRUE(IsWindow(h));
    EnableWindow(h, TRUE);
}

// Handled input ends WaitMessage, an empty wait does not; GetMessage for one window fails when that
// window goes during the wait instead of waiting for ever.
TEST_F(UserTest, WaitMessageAndWindowFilterAfterInputHandledDuringTheWait)
{
    HWND h = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, RECT{0, 0, 200, 100});
    HWND edit =
        CreateWindowExA(0, "Edit", "", WS_CHILD | WS_VISIBLE, 5, 5, 80, 20, h, nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    backend->RunPending();
    backend->DuringWait([] {});
    backend->DuringWait([edit] { ferolt::win32::host::EditChanged(edit, "typed"); });
    EXPECT_TRUE(WaitMessage());
    EXPECT_EQ(backend->waits(), 2);
    char text[16] = {};
    GetWindowTextA(edit, text, sizeof(text));
    EXPECT_STREQ(text, "typed");
    backend->RunPending();

    backend->DuringWait([h] { DestroyWindow(h); });
    // Nothing can be posted to a window that is gone: a second wait ends the test instead.
    backend->DuringWait([] { throw std::runtime_error("GetMessage waits on for a destroyed window"); });
    MSG m{};
    EXPECT_EQ(GetMessageA(&m, h, 0, 0), -1);
}
