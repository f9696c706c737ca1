// The Qt backend on Qt's offscreen platform: windows, surfaces, input, closing, modal calls.
#include "platform/backends/qt/qt_backend.h"
#include "platform/win32/gdi_dc.h"
#include "platform/win32/user_host.h"
#include "platform/win32/user_resources.h"
#include "platform/win32/user_shell.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/winuser.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtGui/QImage>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtGui/QMouseEvent>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTextBrowser>
#include <QtWidgets/QTreeView>
#include <QtWidgets/QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <functional>
#include <memory>
#include <optional>
#include <cstdlib>
#include <thread>
#include <vector>

// Font configuration keeps a cache for the process that it never frees; not ours to mend.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace
{
using ferolt::backend::Backend;

struct Seen
{
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg)
    {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_COMMAND:
    case WM_TIMER:
    case WM_SIZE:
    case WM_APP:
        g_seen.push_back({hwnd, msg, wParam, lParam});
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

const char* RegisterTestClass()
{
    static const char* name = []
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "FeroltQtTest";
        RegisterClassA(&wc);
        return "FeroltQtTest";
    }();
    return name;
}

// Every message the layer has queued, dispatched, with Qt's pending events handled first.
void Drain()
{
    QCoreApplication::processEvents();
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

// Runs `act` on the widget `find` returns once a modal call has put it up. When it never comes the
// modal call is ended with a quit, so a broken backend fails the test instead of hanging it.
template <typename W>
void WhenOpen(std::function<W*()> find, std::function<void(W*)> act, std::function<bool()> ready = {})
{
    auto poll = std::make_shared<std::function<void()>>();
    auto tries = std::make_shared<int>(0);
    *poll = [poll, find, act, ready, tries]
    {
        W* w = find();
        if ((!w || (ready && !ready())) && ++*tries < 400)
        {
            QTimer::singleShot(5, *poll);
            return;
        }
        *poll = nullptr; // breaks the cycle; this copy runs on
        if (!w)
        {
            ADD_FAILURE() << "the modal window never came up";
            PostQuitMessage(0);
            return;
        }
        act(w);
    };
    QTimer::singleShot(0, *poll);
}

template <typename W> W* ActiveModal()
{
    return qobject_cast<W*>(QApplication::activeModalWidget());
}

class QtBackendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        backend_ = ferolt::backend::CreateQtBackend();
        ASSERT_EQ(ferolt::win32::host::GetBackend(), backend_.get());
        g_seen.clear();
    }
    void TearDown() override
    {
        for (HWND h : windows_)
            if (IsWindow(h)) DestroyWindow(h);
        backend_.reset();
    }

    HWND Create(DWORD style, int x, int y, int w, int h, const char* title = "Ferolt test")
    {
        HWND hwnd = CreateWindowExA(0, RegisterTestClass(), title, style, x, y, w, h, nullptr, nullptr,
                                    nullptr, nullptr);
        windows_.push_back(hwnd);
        return hwnd;
    }
    QWidget* Widget(HWND hwnd) { return ferolt::backend::QtWindowOf(backend_.get(), hwnd); }

    std::vector<Seen> Messages(UINT msg) const
    {
        std::vector<Seen> out;
        for (const Seen& s : g_seen)
            if (s.msg == msg) out.push_back(s);
        return out;
    }

    std::unique_ptr<Backend> backend_;
    std::vector<HWND> windows_;
};

TEST_F(QtBackendTest, VisibleWindowShowsItsSurfaceAndHiddenOneNeverReachesQt)
{
    HWND hidden = Create(WS_POPUP, 0, 0, 64, 64);
    HWND shown = Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 240, 160, "Surface \xC3\xA9");
    Drain();
    EXPECT_EQ(Widget(hidden), nullptr);
    QWidget* w = Widget(shown);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Surface \xC3\xA9"));
    RECT client;
    GetClientRect(shown, &client);
    EXPECT_EQ(w->size(), QSize(client.right, client.bottom));

    // Left half red, right half blue, top row green; the X byte left 0 as the layer leaves it.
    ferolt::win32::SurfaceView v;
    ASSERT_TRUE(ferolt::win32::LockClientSurface(shown, &v));
    ASSERT_EQ(v.width, client.right);
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            v.pixels[y * v.pitch + x] = y == 0 ? 0x0000FF00u : x < v.width / 2 ? 0x00FF0000u : 0x000000FFu;
    ferolt::win32::UnlockClientSurface(shown, nullptr);
    Drain();

    QImage image = w->grab().toImage();
    ASSERT_EQ(image.size(), w->size());
    struct
    {
        int x, y;
        QRgb expected;
    } const probes[] = {
        {5, 10, qRgb(255, 0, 0)},
        {v.width - 5, v.height - 1, qRgb(0, 0, 255)},
        {v.width / 2, 0, qRgb(0, 255, 0)},
        {v.width / 2 - 1, v.height / 2, qRgb(255, 0, 0)},
    };
    for (const auto& p : probes)
        EXPECT_EQ(image.pixel(p.x, p.y) | 0xFF000000u, p.expected) << p.x << "," << p.y;

    // Title, place and size follow the layer.
    SetWindowTextA(shown, "Renamed");
    EXPECT_EQ(w->windowTitle(), "Renamed");
    MoveWindow(shown, 300, 200, 320, 240, TRUE);
    RECT moved;
    GetClientRect(shown, &moved);
    POINT origin{0, 0};
    ClientToScreen(shown, &origin);
    EXPECT_EQ(w->geometry(), QRect(origin.x, origin.y, moved.right, moved.bottom));

    // Hiding and showing follow the layer.
    ShowWindow(shown, SW_HIDE);
    EXPECT_FALSE(w->isVisible());
    ShowWindow(hidden, SW_SHOW);
    ASSERT_NE(Widget(hidden), nullptr);
    EXPECT_TRUE(Widget(hidden)->isVisible());
    EXPECT_TRUE(Widget(hidden)->windowFlags() & Qt::FramelessWindowHint);
}

TEST_F(QtBackendTest, QtInputArrivesAsWindowMessages)
{
    HWND hwnd = Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 40, 200, 120);
    SetFocus(hwnd);
    Drain();
    QWidget* w = Widget(hwnd);
    ASSERT_NE(w, nullptr);

    auto mouse = [&](QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPointF at,
                     Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QMouseEvent e(type, at, w->mapToGlobal(at), button, held, mods);
        QCoreApplication::sendEvent(w, &e);
    };
    auto key = [&](QEvent::Type type, int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent e(type, k, mods);
        QCoreApplication::sendEvent(w, &e);
    };

    struct Case
    {
        const char* name;
        std::function<void()> act;
        UINT msg;
        WPARAM wParam;
        LPARAM lParam; // -1: not checked
    };
    const Case cases[] = {
        {"move",
         [&] {
             mouse(QEvent::MouseMove, Qt::NoButton, {}, {7, 9});
         },
         WM_MOUSEMOVE, 0, MAKELPARAM(7, 9)},
        {"left down",
         [&] {
             mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, {10, 20});
         },
         WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 20)},
        {"left up",
         [&] {
             mouse(QEvent::MouseButtonRelease, Qt::LeftButton, {}, {11, 21});
         },
         WM_LBUTTONUP, 0, MAKELPARAM(11, 21)},
        {"middle down with control",
         [&] {
             mouse(QEvent::MouseButtonPress, Qt::MiddleButton, Qt::MiddleButton, {3, 4}, Qt::ControlModifier);
         },
         WM_MBUTTONDOWN, MK_MBUTTON | MK_CONTROL, MAKELPARAM(3, 4)},
        {"wheel",
         [&]
         {
             mouse(QEvent::MouseButtonRelease, Qt::MiddleButton, {}, {3, 4});
             QWheelEvent e({5, 5}, w->mapToGlobal(QPointF(5, 5)), {}, {0, -120}, {}, {}, Qt::NoScrollPhase,
                           false);
             QCoreApplication::sendEvent(w, &e);
         },
         WM_MOUSEWHEEL, static_cast<WPARAM>(static_cast<WORD>(-120)) << 16, -1},
        {"key", [&] { key(QEvent::KeyPress, Qt::Key_A); }, WM_KEYDOWN, 'A', -1},
        {"key up", [&] { key(QEvent::KeyRelease, Qt::Key_A); }, WM_KEYUP, 'A', -1},
        {"numeric pad", [&] { key(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier); }, WM_KEYDOWN, VK_NUMPAD5,
         -1},
        {"alt makes system keys",
         [&]
         {
             key(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
             key(QEvent::KeyPress, Qt::Key_X, Qt::AltModifier);
         },
         WM_SYSKEYDOWN, 'X', -1},
    };
    for (const Case& c : cases)
    {
        g_seen.clear();
        c.act();
        Drain();
        auto got = Messages(c.msg);
        ASSERT_FALSE(got.empty()) << c.name;
        EXPECT_EQ(got.back().hwnd, hwnd) << c.name;
        EXPECT_EQ(got.back().wParam, c.wParam) << c.name;
        if (c.lParam != -1)
        {
            EXPECT_EQ(got.back().lParam, c.lParam) << c.name;
        }
    }
    key(QEvent::KeyRelease, Qt::Key_X, Qt::AltModifier);
    key(QEvent::KeyRelease, Qt::Key_Alt);
    Drain();
    EXPECT_EQ(GetAsyncKeyState(VK_MENU) & 0x8000, 0);
}

void Fill(HWND hwnd, uint32_t pixel)
{
    ferolt::win32::SurfaceView v;
    ASSERT_TRUE(ferolt::win32::LockClientSurface(hwnd, &v));
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            v.pixels[y * v.pitch + x] = pixel;
    ferolt::win32::UnlockClientSurface(hwnd, nullptr);
}

TEST_F(QtBackendTest, ChildWindowsShowTheirSurfacesAndTakeTheirInput)
{
    HWND top = Create(WS_POPUP | WS_VISIBLE, 100, 100, 200, 150);
    HWND child = CreateWindowExA(0, RegisterTestClass(), "", WS_CHILD | WS_VISIBLE, 20, 10, 50, 40, top,
                                 nullptr, nullptr, nullptr);
    Drain();
    Fill(top, 0x00FF0000u);
    Fill(child, 0x000000FFu);
    Drain();
    QWidget* w = Widget(top);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Widget(child), nullptr); // only top-level windows are Qt windows
    QImage image = w->grab().toImage();
    EXPECT_EQ(image.pixel(5, 5) | 0xFF000000u, qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(30, 20) | 0xFF000000u, qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(70, 50) | 0xFF000000u, qRgb(255, 0, 0));

    // A click on the child, before and after its parent moved: the child gets it in its own client
    // coordinates, from the place the layer reported for the child itself.
    for (POINT move : {POINT{100, 100}, POINT{400, 300}})
    {
        SetWindowPos(top, nullptr, move.x, move.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        Drain();
        QWidget* target = w->childAt(25, 15);
        ASSERT_NE(target, nullptr);
        g_seen.clear();
        QPointF local = target->mapFrom(w, QPointF(25, 15));
        QMouseEvent e(QEvent::MouseButtonPress, local, target->mapToGlobal(local), Qt::LeftButton,
                      Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &e);
        QMouseEvent up(QEvent::MouseButtonRelease, local, target->mapToGlobal(local), Qt::LeftButton, {}, {});
        QCoreApplication::sendEvent(target, &up);
        Drain();
        auto downs = Messages(WM_LBUTTONDOWN);
        ASSERT_EQ(downs.size(), 1u);
        EXPECT_EQ(downs[0].hwnd, child);
        EXPECT_EQ(downs[0].lParam, MAKELPARAM(5, 5));
    }
    DestroyWindow(child);
    Drain();
    EXPECT_EQ(w->childAt(25, 15), nullptr);
}

TEST_F(QtBackendTest, CaptureKeepsMouseWithTheCapturingWindow)
{
    HWND a = Create(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    HWND b = Create(WS_POPUP | WS_VISIBLE, 300, 0, 100, 100);
    Drain();
    SetCapture(a);
    // A move over b's Qt window while a captures: the message goes to a, in a's client coordinates.
    QMouseEvent e(QEvent::MouseMove, QPointF(10, 10), QPointF(310, 10), Qt::NoButton, {}, {});
    QCoreApplication::sendEvent(Widget(b), &e);
    Drain();
    auto moves = Messages(WM_MOUSEMOVE);
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back().hwnd, a);
    EXPECT_EQ(moves.back().lParam, MAKELPARAM(310, 10));
    ReleaseCapture();
}

TEST_F(QtBackendTest, UserResizeAndCloseGoThroughTheLayer)
{
    HWND hwnd = Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 150);
    Drain();
    QWidget* w = Widget(hwnd);
    ASSERT_NE(w, nullptr);

    w->resize(320, 200);
    Drain();
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 200);
    auto sizes = Messages(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back().lParam, MAKELPARAM(320, 200));

    // The close button: WM_CLOSE, whose default destroys the window, and the Qt window goes.
    g_seen.clear();
    EXPECT_FALSE(w->close());
    Drain();
    ASSERT_FALSE(Messages(WM_CLOSE).empty());
    EXPECT_FALSE(Messages(WM_DESTROY).empty());
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(Widget(hwnd), nullptr);
}

// The close button pressed while the message loop waits: the loop that runs until the window is
// gone sees it go and ends, with no further wait.
TEST_F(QtBackendTest, CloseDuringTheWaitEndsALoopUntilTheWindowIsGone)
{
    HWND hwnd = Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 150);
    Drain();
    QWidget* w = Widget(hwnd);
    ASSERT_NE(w, nullptr);
    g_seen.clear();
    QTimer::singleShot(0, w, [w] { w->close(); });
    bool hung = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout,
                     [&hung]
                     {
                         hung = true;
                         PostQuitMessage(0);
                     });
    watchdog.start(5000);
    MSG m{};
    BOOL got = TRUE;
    while (IsWindow(hwnd) && (got = GetMessageA(&m, nullptr, 0, 0)) > 0)
    {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    watchdog.stop();
    EXPECT_FALSE(hung);
    EXPECT_EQ(got, TRUE);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(Messages(WM_CLOSE).empty());
    Drain();
    EXPECT_EQ(Widget(hwnd), nullptr);
}

// A loop that only peeks, as a long computation taking its window's messages does, still gets the keys
// the desktop has queued meanwhile.
TEST_F(QtBackendTest, PeekCollectsTheInputTheDesktopQueued)
{
    HWND hwnd = Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 200, 150);
    SetFocus(hwnd);
    Drain();
    QWidget* w = Widget(hwnd);
    ASSERT_NE(w, nullptr);
    QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    bool seen = false;
    MSG m{};
    for (int i = 0; i < 100 && !seen; ++i)
        while (!seen && PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE))
            seen = m.message == WM_KEYDOWN && m.wParam == VK_ESCAPE;
    EXPECT_TRUE(seen);
}

TEST_F(QtBackendTest, WaitReturnsOnTimeoutAndOnWakeFromAnotherThread)
{
    HWND hwnd = Create(WS_POPUP | WS_VISIBLE, 0, 0, 50, 50);
    Drain();
    backend_->WaitForEvents(20); // returns by itself

    // A message posted from another thread ends GetMessage's wait through Wake.
    std::thread poster(
        [hwnd]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            PostMessageA(hwnd, WM_APP, 7, 0);
        });
    MSG m;
    ASSERT_GT(GetMessageA(&m, nullptr, 0, 0), 0);
    poster.join();
    EXPECT_EQ(m.message, static_cast<UINT>(WM_APP));
    EXPECT_EQ(m.wParam, 7u);

    // Pixels drawn on another thread reach the widget once the UI thread wakes.
    std::thread drawer(
        [hwnd]
        {
            ferolt::win32::SurfaceView v;
            if (!ferolt::win32::LockClientSurface(hwnd, &v)) return;
            for (int y = 0; y < v.height; ++y)
                for (int x = 0; x < v.width; ++x)
                    v.pixels[y * v.pitch + x] = 0x00123456u;
            ferolt::win32::UnlockClientSurface(hwnd, nullptr);
            PostMessageA(hwnd, WM_APP, 8, 0);
        });
    ASSERT_GT(GetMessageA(&m, nullptr, 0, 0), 0);
    drawer.join();
    Drain();
    EXPECT_EQ(Widget(hwnd)->grab().toImage().pixel(25, 25) | 0xFF000000u, qRgb(0x12, 0x34, 0x56));
}

TEST_F(QtBackendTest, PopupMenuAnsweredByScriptPostsItsCommandAfterClosing)
{
    HWND owner = Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 200);
    HMENU sub = CreatePopupMenu();
    AppendMenuA(sub, MF_STRING, 301, "Deep");
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING | MF_CHECKED, 101, "&First\tCtrl+F");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING | MF_GRAYED, 102, "Grayed");
    AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "More");
    Drain();
    // Timer messages keep being dispatched while the menu is open.
    SetTimer(owner, 5, 10, nullptr);

    struct Shown
    {
        QStringList texts;
        bool firstChecked = false;
        bool grayedEnabled = true;
        size_t timersBefore = 0;
    } shown;
    WhenOpen<QMenu>([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); },
                    [&](QMenu* m)
                    {
                        shown.timersBefore = Messages(WM_TIMER).size();
                        for (QAction* a : m->actions())
                        {
                            shown.texts << a->text();
                            if (a->text().startsWith("&First")) shown.firstChecked = a->isChecked();
                            if (a->text() == "Grayed") shown.grayedEnabled = a->isEnabled();
                            if (a->menu())
                                for (QAction* d : a->menu()->actions())
                                    if (d->text() == "Deep") d->trigger();
                        }
                    },
                    [&] { return Messages(WM_TIMER).size() >= 2; });
    g_seen.clear();
    EXPECT_TRUE(TrackPopupMenu(menu, 0, 40, 40, 0, owner, nullptr));
    KillTimer(owner, 5);
    EXPECT_EQ(shown.texts, QStringList({"&First\tCtrl+F", "", "Grayed", "More"}));
    EXPECT_TRUE(shown.firstChecked);
    EXPECT_FALSE(shown.grayedEnabled);
    EXPECT_GE(shown.timersBefore, 2u);
    // The command is posted, so it arrives only when the caller's loop runs again.
    EXPECT_TRUE(Messages(WM_COMMAND).empty());
    Drain();
    auto commands = Messages(WM_COMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(LOWORD(commands[0].wParam), 301);
    DestroyMenu(menu);
}

TEST_F(QtBackendTest, MessageBoxButtonsMapToTheirIds)
{
    struct Case
    {
        UINT type;
        QMessageBox::StandardButton click;
        int expected;
    };
    const Case cases[] = {
        {MB_YESNO | MB_ICONQUESTION, QMessageBox::No, IDNO},
        {MB_YESNO, QMessageBox::Yes, IDYES},
        {MB_OKCANCEL | MB_ICONEXCLAMATION, QMessageBox::Cancel, IDCANCEL},
        {MB_OK, QMessageBox::Ok, IDOK},
    };
    for (const Case& c : cases)
    {
        WhenOpen<QMessageBox>(ActiveModal<QMessageBox>,
                              [&](QMessageBox* box)
                              {
                                  EXPECT_EQ(box->text(), "Question?");
                                  box->button(c.click)->click();
                              });
        EXPECT_EQ(MessageBoxA(nullptr, "Question?", "Caption", c.type), c.expected) << c.type;
    }
}

// Notifications the dialog procedure saw, and what it read when OK was pressed.
struct DialogRecord
{
    std::vector<std::pair<int, int>> commands; // control id, notification code
    std::string text;
    LRESULT selection = -1;
    LRESULT check = -1;
};
DialogRecord g_dialog;

INT_PTR CALLBACK SettingsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CTLCOLORSTATIC)
    {
        if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dlg, 104)) return FALSE;
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 255)); // the link is blue
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    }
    if (msg == WM_INITDIALOG)
    {
        SendDlgItemMessageA(dlg, 101, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Low"));
        SendDlgItemMessageA(dlg, 101, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("High"));
        SendDlgItemMessageA(dlg, 101, CB_SETCURSEL, 1, 0);
        // A picture, and a link drawn with an underlined copy of the dialog's font.
        static const uint32_t bits[4] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00FFFFFFu};
        SendDlgItemMessageA(dlg, 103, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(CreateBitmap(2, 2, 1, 32, bits)));
        LOGFONTA lf{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
        lf.lfUnderline = TRUE;
        SendDlgItemMessageA(dlg, 104, WM_SETFONT, reinterpret_cast<WPARAM>(CreateFontIndirectA(&lf)), 0);
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam);
    g_dialog.commands.emplace_back(id, HIWORD(wParam));
    if (id == IDOK)
    {
        char buffer[64] = {};
        GetDlgItemTextA(dlg, 100, buffer, sizeof(buffer));
        g_dialog.text = buffer;
        g_dialog.selection = SendDlgItemMessageA(dlg, 101, CB_GETCURSEL, 0, 0);
        g_dialog.check = SendDlgItemMessageA(dlg, 102, BM_GETCHECK, 0, 0);
    }
    if (id == IDOK || id == IDCANCEL) EndDialog(dlg, id);
    return TRUE;
}

constexpr const char* kSettingsDialog = R"(
DIALOG 0, 0, 180, 100
STYLE DS_MODALFRAME | WS_CAPTION | WS_SYSMENU
CAPTION "Settings"
BEGIN
  LTEXT "&Count:", -1, 7, 9, 40, 8
  EDITTEXT 100, 50, 7, 60, 14, WS_TABSTOP
  COMBOBOX 101, 50, 25, 60, 60, CBS_DROPDOWNLIST | WS_TABSTOP
  CONTROL "Check", 102, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, 7, 45, 60, 10
  CONTROL "", 103, "Static", SS_BITMAP, 120, 40, 20, 20
  CONTROL "Web site", 104, "Static", SS_NOTIFY, 7, 60, 60, 8
  DEFPUSHBUTTON "OK", IDOK, 70, 80, 50, 14
  PUSHBUTTON "Cancel", IDCANCEL, 125, 80, 50, 14
END
)";

TEST_F(QtBackendTest, DialogControlsReportTheUsersActions)
{
    g_dialog = {};
    QRect editGeometry;
    QString labelText, buttonText;
    QImage picture;
    bool linkUnderlined = false;
    QColor linkColor, labelColor;
    bool initialFocus = false, focusFromLayer = false;
    QStringList items;
    int shownSelection = -1;
    WhenOpen<QDialog>(
        ActiveModal<QDialog>,
        [&](QDialog* d)
        {
            EXPECT_EQ(d->windowTitle(), "Settings");
            // The picture shows the static's surface, where the layer drew the bitmap.
            QLabel* link = nullptr;
            for (QLabel* l : d->findChildren<QLabel*>())
            {
                if (l->text().startsWith("Count")) labelText = l->text();
                if (l->text() == "Web site") link = l;
            }
            for (QWidget* c : d->findChildren<QWidget*>())
                if (c->property("ferolt_surface").toBool()) picture = c->grab().toImage();
            ASSERT_NE(link, nullptr);
            linkUnderlined = link->font().underline();
            linkColor = link->palette().color(QPalette::WindowText);
            for (QLabel* l : d->findChildren<QLabel*>())
                if (l->text().startsWith("Count")) labelColor = l->palette().color(QPalette::WindowText);
            for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            {
                QMouseEvent e(type, QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
                QCoreApplication::sendEvent(link, &e);
            }
            auto* edit = d->findChild<QLineEdit*>();
            auto* combo = d->findChild<QComboBox*>();
            auto* check = d->findChild<QCheckBox*>();
            ASSERT_TRUE(edit && combo && check);
            // The focus WM_INITDIALOG gave, and a move of the layer's focus, show at once.
            initialFocus = QApplication::focusWidget() == edit;
            SetFocus(GetDlgItem(GetActiveWindow(), 102));
            focusFromLayer = QApplication::focusWidget() == check;
            editGeometry = edit->geometry();
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            shownSelection = combo->currentIndex();

            // Focus leaving the edit is its EN_KILLFOCUS.
            edit->setFocus();
            QCoreApplication::processEvents();
            for (const char* typed : {"1", "2"})
            {
                QKeyEvent e(QEvent::KeyPress, typed[0], Qt::NoModifier, QString::fromLatin1(typed));
                QCoreApplication::sendEvent(edit, &e);
            }
            combo->setFocus();
            QCoreApplication::processEvents();
            combo->setCurrentIndex(0);
            emit combo->activated(0);
            check->click();
            EXPECT_TRUE(check->isChecked());
            for (auto* b : d->findChildren<QPushButton*>())
                if (b->text() == "OK")
                {
                    buttonText = b->text();
                    EXPECT_TRUE(b->isDefault());
                    b->click();
                }
        },
        []
        {
            // Qt hands the keyboard to a window's controls only once the platform has reported the window
            // active, which comes after the show; a user's first key comes after it too.
            QWidget* dialog = QApplication::activeModalWidget();
            RECT pending;
            HWND picture = GetDlgItem(GetActiveWindow(), 103);
            HWND link = GetDlgItem(GetActiveWindow(), 104);
            return dialog && QApplication::activeWindow() == dialog && picture && link &&
                   !GetUpdateRect(picture, &pending, FALSE) && !GetUpdateRect(link, &pending, FALSE);
        });
    EXPECT_EQ(ferolt::win32::DialogBoxFromText(kSettingsDialog, nullptr, SettingsProc, 0), IDOK);
    EXPECT_EQ(labelText, "Count:");
    EXPECT_EQ(items, QStringList({"Low", "High"}));
    EXPECT_EQ(shownSelection, 1);
    EXPECT_EQ(buttonText, "OK");
    EXPECT_EQ(g_dialog.text, "12");
    EXPECT_EQ(g_dialog.selection, 0);
    EXPECT_EQ(g_dialog.check, BST_CHECKED);
    auto saw = [&](int id, int code)
    {
        return std::find(g_dialog.commands.begin(), g_dialog.commands.end(), std::make_pair(id, code)) !=
               g_dialog.commands.end();
    };
    EXPECT_TRUE(saw(100, EN_CHANGE));
    EXPECT_TRUE(saw(100, EN_KILLFOCUS));
    EXPECT_TRUE(saw(101, CBN_SELCHANGE));
    EXPECT_TRUE(saw(102, BN_CLICKED));
    EXPECT_TRUE(saw(104, STN_CLICKED));
    EXPECT_TRUE(linkUnderlined);
    EXPECT_EQ(linkColor, QColor(0, 0, 255));
    EXPECT_NE(labelColor, QColor(0, 0, 255));
    EXPECT_TRUE(initialFocus);
    EXPECT_TRUE(focusFromLayer);
    ASSERT_GE(picture.width(), 2);
    EXPECT_EQ(picture.pixel(0, 0) | 0xFF000000u, qRgb(255, 0, 0));
    EXPECT_EQ(picture.pixel(1, 0) | 0xFF000000u, qRgb(0, 255, 0));
    EXPECT_EQ(picture.pixel(1, 1) | 0xFF000000u, qRgb(255, 255, 255));
    // Placed where the layer put the control, in the dialog's client area.
    EXPECT_FALSE(editGeometry.isEmpty());
    EXPECT_GT(editGeometry.x(), 0);

    // Escape cancels through IDCANCEL even without touching a button.
    g_dialog = {};
    WhenOpen<QDialog>(ActiveModal<QDialog>,
                      [](QDialog* d)
                      {
                          QKeyEvent e(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                          QCoreApplication::sendEvent(d, &e);
                      });
    EXPECT_EQ(ferolt::win32::DialogBoxFromText(kSettingsDialog, nullptr, SettingsProc, 0), IDCANCEL);
    EXPECT_TRUE(saw(IDCANCEL, BN_CLICKED));
}

// The dialog window's close button is the dialog manager's IDCANCEL.
TEST_F(QtBackendTest, ClosingTheDialogWindowCancelsIt)
{
    g_dialog = {};
    WhenOpen<QDialog>(ActiveModal<QDialog>, [](QDialog* d) { d->close(); });
    EXPECT_EQ(ferolt::win32::DialogBoxFromText(kSettingsDialog, nullptr, SettingsProc, 0), IDCANCEL);
    std::vector<std::pair<int, int>> cancel{{IDCANCEL, BN_CLICKED}};
    EXPECT_NE(std::search(g_dialog.commands.begin(), g_dialog.commands.end(), cancel.begin(), cancel.end()),
              g_dialog.commands.end());
}

TEST_F(QtBackendTest, VirtualScreenIsTheDesktopsMonitors)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    QRect g = screen->geometry();
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), g.width());
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), g.height());
    MONITORINFO mi{sizeof(mi), {}, {}, 0};
    ASSERT_TRUE(GetMonitorInfoA(MonitorFromPoint(POINT{g.left(), g.top()}, MONITOR_DEFAULTTONULL), &mi));
    EXPECT_EQ(mi.rcMonitor.right - mi.rcMonitor.left, g.width());
    QRect a = screen->availableGeometry();
    EXPECT_EQ(mi.rcWork.bottom - mi.rcWork.top, a.height());
}

TEST_F(QtBackendTest, FileDialogCarriesFiltersDefaultExtensionAndOverwritePrompt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case
    {
        bool accept;
        BOOL expected;
    };
    for (const Case c : {Case{true, TRUE}, Case{false, FALSE}})
    {
        char file[512] = {};
        std::string initial = dir.path().toStdString();
        OPENFILENAMEA ofn{};
        ofn.lStructSize = sizeof(ofn);
        ofn.lpstrFilter = "Object files\0*.tolvex\0Images\0*.png;*.bmp\0";
        ofn.nFilterIndex = 2;
        ofn.lpstrFile = file;
        ofn.nMaxFile = sizeof(file);
        ofn.lpstrInitialDir = initial.c_str();
        ofn.lpstrDefExt = "tolvex";
        ofn.Flags = OFN_OVERWRITEPROMPT;
        QStringList filters;
        QString selectedFilter, suffix;
        bool confirmsOverwrite = false;
        WhenOpen<QFileDialog>(
            ActiveModal<QFileDialog>,
            [&](QFileDialog* d)
            {
                filters = d->nameFilters();
                selectedFilter = d->selectedNameFilter();
                suffix = d->defaultSuffix();
                confirmsOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
                if (!c.accept) return d->reject();
                d->selectNameFilter(filters.value(0));
                d->selectFile(dir.filePath("scene"));
                static_cast<QDialog*>(d)->accept(); // QFileDialog::accept, reached as the Open button does
            });
        EXPECT_EQ(GetSaveFileNameA(&ofn), c.expected);
        EXPECT_EQ(filters, QStringList({"Object files (*.tolvex)", "Images (*.png *.bmp)"}));
        EXPECT_EQ(selectedFilter, "Images (*.png *.bmp)");
        EXPECT_EQ(suffix, "tolvex");
        EXPECT_TRUE(confirmsOverwrite);
        if (c.accept)
        {
            EXPECT_EQ(QString::fromUtf8(file), dir.filePath("scene.tolvex"));
            EXPECT_EQ(ofn.nFilterIndex, 1u);
        }
    }
}

TEST_F(QtBackendTest, HelpOpensAWindowAndReturnsAtOnce)
{
    QTemporaryDir dir;
    QFile page(dir.filePath("help.htm"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<html><head><title>Viewer help</title></head><body><p>Turning</p></body></html>");
    page.close();
    HtmlHelpA(nullptr, page.fileName().toUtf8().constData(), HH_DISPLAY_TOPIC, 0);
    QTextBrowser* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QTextBrowser*>(w); b && b->isVisible()) shown = b;
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->windowTitle(), "Viewer help");
    EXPECT_TRUE(shown->toPlainText().contains("Turning"));
    // A missing file opens nothing.
    EXPECT_FALSE(backend_->ShowHelp(nullptr, dir.filePath("missing.htm").toStdString()));
}

// The viewer's compressed help: contents beside the first page, shown from a copy, so the caller may
// delete its file at once; the window's picture is not blank.
TEST_F(QtBackendTest, CompressedHelpShowsContentsAndPagesFromItsOwnCopy)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("help.chm");
    ASSERT_TRUE(QFile::copy(FEROLT_HELP_FILE, file));
    ASSERT_NE(HtmlHelpA(nullptr, file.toUtf8().constData(), HH_DISPLAY_TOPIC, 0), nullptr);
    ASSERT_TRUE(QFile::remove(file));
    QTextBrowser* page = nullptr;
    QTreeView* contents = nullptr;
    // The contents are built on a thread of the help engine's; the first page follows them.
    for (int i = 0; i < 1000 && !(page && !page->toPlainText().isEmpty()); ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        QCoreApplication::processEvents();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                if (auto* b = w->findChild<QTextBrowser*>())
                {
                    page = b;
                    contents = w->findChild<QTreeView*>();
                }
    }
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->toPlainText().contains("Navigation mit Maus und Tastatur"));
    EXPECT_EQ(page->window()->windowTitle(), QString::fromUtf8("Ferolt – Hilfe"));
    ASSERT_NE(contents, nullptr);
    ASSERT_EQ(contents->model()->rowCount(), 1);
    EXPECT_EQ(contents->model()->rowCount(contents->model()->index(0, 0)), 6);

    // A link of the page leads to the next page, out of the same file.
    page->setSource(page->source().resolved(QUrl("schatten.html")));
    EXPECT_TRUE(page->toPlainText().contains("Titelleiste"));

    const QImage shot = page->window()->grab().toImage();
    std::set<QRgb> colours;
    for (int y = 0; y < shot.height(); y += 4)
        for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y));
    EXPECT_GT(colours.size(), 10u);
    HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0);
}

TEST_F(QtBackendTest, CursorsFollowTheLayer)
{
    HWND hwnd = Create(WS_POPUP | WS_VISIBLE, 0, 0, 40, 40);
    Drain();
    struct
    {
        HCURSOR cursor;
        Qt::CursorShape shape;
    } const cases[] = {
        {LoadCursorA(nullptr, IDC_WAIT), Qt::WaitCursor},
        {nullptr, Qt::BlankCursor},
        {LoadCursorA(nullptr, IDC_ARROW), Qt::ArrowCursor},
    };
    for (const auto& c : cases)
    {
        SetCursor(c.cursor);
        EXPECT_EQ(Widget(hwnd)->cursor().shape(), c.shape);
    }
}

TEST(QtDesktop, DisplayDecidesWhetherTheDesktopBackendIsMade)
{
    const char* names[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<std::optional<std::string>> saved;
    for (const char* n : names)
        saved.push_back(std::getenv(n) ? std::optional<std::string>(std::getenv(n)) : std::nullopt);
    struct
    {
        const char* display;
        const char* wayland;
        const char* platform;
        bool expected;
    } const cases[] = {
        {nullptr, nullptr, nullptr, false},    {"", "", "", false},
        {":0", nullptr, nullptr, true},        {nullptr, "wayland-0", nullptr, true},
        {nullptr, nullptr, "offscreen", true},
    };
    for (const auto& c : cases)
    {
        const char* values[] = {c.display, c.wayland, c.platform};
        for (size_t i = 0; i < 3; ++i)
            values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
        EXPECT_EQ(ferolt::backend::DesktopDisplayAvailable(), c.expected)
            << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-") << " "
            << (c.platform ? c.platform : "-");
        if (!c.expected)
        {
            EXPECT_EQ(ferolt::backend::CreateDesktopBackend(), nullptr);
        }
    }
    for (size_t i = 0; i < 3; ++i)
        saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}
} // namespace
