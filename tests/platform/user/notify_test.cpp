// What the layer tells its backend: places of child windows, the focus, fonts, the text colour of
// statics, surface pixels, and calls from drawing threads while the backend goes away.
#include "tests/platform/user/recorder.h"

#include "platform/win32/window_surface.h"

#include <atomic>
#include <thread>

using namespace ferolt::test;
using ferolt::backend::HeadlessBackend;

// Moving a parent moves its children on the screen; the backend must learn their new places
// whichever way the parent moved.
TEST_F(UserTest, ChildrenFollowTheirParentInTheBackend)
{
    struct Case
    {
        const char* name;
        std::function<void(HWND)> move;
    };
    const Case cases[] = {
        {"MoveWindow", [](HWND top) { MoveWindow(top, 300, 200, 200, 150, TRUE); }},
        {"SetWindowPos without size",
         [](HWND top) { SetWindowPos(top, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER); }},
        {"moved and sized by the user",
         [](HWND top) {
             ferolt::win32::host::WindowMovedByUser(top, RECT{301, 201, 451, 301});
         }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        HWND top = Make(WS_POPUP | WS_BORDER | WS_VISIBLE, RECT{100, 50, 300, 250});
        HWND child = Make(WS_CHILD | WS_VISIBLE, RECT{10, 20, 60, 70}, top);
        HWND grandChild = Make(WS_CHILD | WS_VISIBLE, RECT{5, 5, 15, 15}, child);
        c.move(top);
        for (HWND h : {child, grandChild})
        {
            auto st = backend->Window(h);
            ASSERT_TRUE(st.has_value());
            RECT r;
            GetWindowRect(h, &r);
            EXPECT_TRUE(EqualRect(&st->window, &r));
            POINT origin{0, 0};
            ClientToScreen(h, &origin);
            EXPECT_EQ(st->client.left, origin.x);
            EXPECT_EQ(st->client.top, origin.y);
        }
        EXPECT_EQ(backend->Window(grandChild)->client.left, 301 + 10 + 5);
        DestroyWindow(top);
    }
}

TEST_F(UserTest, FocusChangesReachTheBackend)
{
    HWND top = Make(WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
    HWND a = Make(WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, top);
    HWND b = Make(WS_CHILD | WS_VISIBLE, RECT{20, 0, 30, 10}, top);
    struct Step
    {
        const char* name;
        std::function<void()> act;
        HWND expected;
    };
    const Step steps[] = {
        {"SetFocus", [&] { SetFocus(a); }, a},
        {"to a sibling", [&] { SetFocus(b); }, b},
        {"disabled", [&] { EnableWindow(b, FALSE); }, nullptr},
        {"back", [&] { SetFocus(a); }, a},
        {"destroyed", [&] { DestroyWindow(a); }, nullptr},
    };
    for (const Step& s : steps)
    {
        SCOPED_TRACE(s.name);
        int before = backend->focusChanges();
        s.act();
        EXPECT_GT(backend->focusChanges(), before);
        EXPECT_EQ(backend->focus(), s.expected);
        EXPECT_EQ(GetFocus(), s.expected);
    }
    // A kill-focus handler that takes the focus back leaves the backend where the layer is.
    HWND keeper = Make(WS_CHILD | WS_VISIBLE, RECT{40, 0, 50, 10}, top, nullptr);
    HWND other = Make(WS_CHILD | WS_VISIBLE, RECT{60, 0, 70, 10}, top);
    SetFocus(keeper);
    Handlers()[keeper] = [keeper](HWND, UINT m, WPARAM, LPARAM, LRESULT* r)
    {
        if (m != WM_KILLFOCUS) return false;
        SetFocus(keeper);
        *r = 0;
        return true;
    };
    SetFocus(other);
    Handlers().erase(keeper);
    EXPECT_EQ(GetFocus(), keeper);
    EXPECT_EQ(backend->focus(), keeper);
}

namespace
{
const char* kLinkDialog = R"(
DIALOG 0, 0, 120, 60
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION
FONT 8, "MS Shell Dlg"
BEGIN
    LTEXT           "https://example.org/", 537, 7, 7, 100, 8, SS_NOTIFY
    LTEXT           "Version", 536, 7, 20, 100, 8
    DEFPUSHBUTTON   "OK", IDOK, 35, 40, 50, 14
END
)";

HFONT g_linkFont = nullptr;

// Shows control 537 as a link: blue text in an underlined copy of the dialog font.
INT_PTR CALLBACK LinkProc(HWND dlg, UINT m, WPARAM w, LPARAM l)
{
    switch (m)
    {
    case WM_INITDIALOG:
    {
        LOGFONTA lf{};
        GetObjectA(reinterpret_cast<HFONT>(SendDlgItemMessageA(dlg, 537, WM_GETFONT, 0, 0)), sizeof lf, &lf);
        lf.lfUnderline = TRUE;
        g_linkFont = CreateFontIndirectA(&lf);
        SendDlgItemMessageA(dlg, 537, WM_SETFONT, reinterpret_cast<WPARAM>(g_linkFont), FALSE);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(l) != GetDlgItem(dlg, 537)) return FALSE; // the default colours
        SetTextColor(reinterpret_cast<HDC>(w), RGB(0, 0, 255));
        SetBkMode(reinterpret_cast<HDC>(w), TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_COMMAND:
        if (LOWORD(w) == IDOK) EndDialog(dlg, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

TEST_F(UserTest, LinkColourAndFontReachTheBackend)
{
    std::optional<ferolt::backend::WindowState> link, plain, dialog;
    backend->AnswerDialog({[&](HWND dlg, ferolt::backend::ModalLoop& loop)
                           {
                               loop.Pump(); // paints the controls
                               link = backend->Window(GetDlgItem(dlg, 537));
                               plain = backend->Window(GetDlgItem(dlg, 536));
                               dialog = backend->Window(dlg);
                           },
                           HeadlessBackend::Click(IDOK)});
    ASSERT_EQ(ferolt::win32::DialogBoxFromText(kLinkDialog, nullptr, LinkProc, 0), IDOK);
    ASSERT_TRUE(link && plain && dialog);
    EXPECT_EQ(link->textColor, RGB(0, 0, 255));
    EXPECT_EQ(plain->textColor, GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(link->font, g_linkFont);
    ASSERT_NE(dialog->font, nullptr);
    EXPECT_EQ(plain->font, dialog->font);
    LOGFONTA lf{};
    GetObjectA(link->font, sizeof lf, &lf);
    EXPECT_TRUE(lf.lfUnderline);
    DeleteObject(g_linkFont);
}

// Pixels the layer writes carry 0xFF in the X byte; GetPixel and SetPixel work on window and
// memory contexts alike.
TEST_F(UserTest, PixelsThroughWindowAndMemoryContexts)
{
    HWND h = Make(WS_POPUP, RECT{0, 0, 4, 4});
    ferolt::win32::SurfaceView v;
    ASSERT_TRUE(ferolt::win32::LockClientSurface(h, &v));
    EXPECT_EQ(v.pixels[0], 0xFF000000u); // a new surface is opaque black
    ferolt::win32::UnlockClientSurface(h, nullptr);

    HDC windowDc = GetDC(h);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HDC emptyMemoryDc = CreateCompatibleDC(windowDc);
    HBITMAP bm = CreateCompatibleBitmap(windowDc, 4, 4);
    HGDIOBJ old = SelectObject(memoryDc, bm);
    struct Case
    {
        const char* name;
        HDC dc;
        int x, y;
        COLORREF set;
        COLORREF expected; // what SetPixel and then GetPixel answer
    };
    const Case cases[] = {
        {"window", windowDc, 1, 2, RGB(10, 20, 30), RGB(10, 20, 30)},
        {"window, outside", windowDc, 4, 0, RGB(10, 20, 30), CLR_INVALID},
        {"memory", memoryDc, 3, 3, RGB(200, 100, 50), RGB(200, 100, 50)},
        {"memory, outside", memoryDc, -1, 0, RGB(200, 100, 50), CLR_INVALID},
        {"memory without a bitmap", emptyMemoryDc, 0, 0, RGB(1, 2, 3), CLR_INVALID},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SetPixel(c.dc, c.x, c.y, c.set), c.expected);
        EXPECT_EQ(GetPixel(c.dc, c.x, c.y), c.expected);
    }
    EXPECT_EQ(GetPixel(memoryDc, 0, 0), RGB(0, 0, 0)); // a new bitmap is black
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT all{0, 0, 4, 4};
    FillRect(windowDc, &all, red);
    DeleteObject(red);
    EXPECT_EQ(backend->Pixel(h, 0, 0), 0xFFFF0000u);
    SelectObject(memoryDc, old);
    DeleteObject(bm);
    DeleteDC(memoryDc);
    DeleteDC(emptyMemoryDc);
    ReleaseDC(h, windowDc);
}

namespace
{
// Holds a surface notification from a drawing thread until told to return.
class SlowBackend : public HeadlessBackend
{
public:
    void SurfaceChanged(HWND hwnd, const RECT& area) override
    {
        entered = true;
        while (!release)
            std::this_thread::yield();
        HeadlessBackend::SurfaceChanged(hwnd, area);
        returned = true;
    }
    std::atomic<bool> entered{false}, release{false}, returned{false};
};
} // namespace

// A backend removed while another thread is inside one of its calls must not be deleted under it:
// removal waits for the call to return.
TEST_F(UserTest, RemovingTheBackendWaitsForCallsFromDrawingThreads)
{
    HWND h = Make(WS_POPUP, RECT{0, 0, 4, 4});
    backend.reset();
    auto slow = std::make_unique<SlowBackend>();
    std::thread drawer(
        [h]
        {
            ferolt::win32::SurfaceView v;
            if (!ferolt::win32::LockClientSurface(h, &v)) return;
            v.pixels[0] = 0xFF123456u;
            ferolt::win32::UnlockClientSurface(h, nullptr);
        });
    while (!slow->entered)
        std::this_thread::yield();
    std::thread releaser(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            slow->release = true;
        });
    ferolt::win32::host::SetBackend(nullptr);
    EXPECT_TRUE(slow->returned); // not before the drawing thread left the backend
    drawer.join();
    releaser.join();
    slow.reset();
    backend = std::make_unique<HeadlessBackend>();
}
