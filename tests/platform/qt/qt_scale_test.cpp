// The Qt backend at a scale factor of 2, on Qt's offscreen platform: the layer counts device pixels, so
// a window's surface reaches the screen pixel for pixel, and geometry and input convert at Qt's side.
// A program of its own: the factor must be set before Qt's application object exists.
#include "platform/backends/qt/qt_backend.h"
#include "platform/win32/user_host.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/winuser.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QMouseEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

// Font configuration keeps a cache for the process that it never frees; not ours to mend.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace
{
std::vector<MSG> g_seen;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_MOUSEMOVE || msg == WM_SIZE) g_seen.push_back(MSG{hwnd, msg, wParam, lParam, 0, {}});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Drain()
{
    QCoreApplication::processEvents();
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&m);
}

TEST(QtScale, LayerCountsDevicePixels)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", "2", 1);
    std::unique_ptr<ferolt::backend::Backend> backend = ferolt::backend::CreateQtBackend();
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->devicePixelRatio(), 2.0);

    // The virtual screen is the monitor's device pixels.
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 2 * screen->geometry().width());
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 2 * screen->geometry().height());

    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "FeroltQtScale";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "FeroltQtScale", "Scale", WS_POPUP | WS_VISIBLE, 100, 60, 240, 160,
                                nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    Drain();
    QWidget* w = ferolt::backend::QtWindowOf(backend.get(), hwnd);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(50, 30, 120, 80));

    // Columns one device pixel wide, alternating: shown at half resolution they would merge.
    ferolt::win32::SurfaceView v;
    ASSERT_TRUE(ferolt::win32::LockClientSurface(hwnd, &v));
    ASSERT_EQ(v.width, 240);
    ASSERT_EQ(v.height, 160);
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            v.pixels[y * v.pitch + x] = (x + y) % 2 ? 0x00FF0000u : 0x000000FFu;
    ferolt::win32::UnlockClientSurface(hwnd, nullptr);
    Drain();
    QImage image = w->grab().toImage();
    ASSERT_EQ(image.size(), QSize(240, 160));
    int wrong = 0;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 240; ++x)
            wrong += (image.pixel(x, y) | 0xFF000000u) != ((x + y) % 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    EXPECT_EQ(wrong, 0);

    // Input: a logical point becomes the device pixel under it.
    g_seen.clear();
    QPointF at(10.75, 20.25);
    QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, {}, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    Drain();
    ASSERT_FALSE(g_seen.empty());
    EXPECT_EQ(g_seen.back().lParam, MAKELPARAM(21, 40));

    // A resize by the user reaches the layer in device pixels.
    g_seen.clear();
    w->resize(150, 100);
    Drain();
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);

    DestroyWindow(hwnd);
    backend.reset();
}
} // namespace
