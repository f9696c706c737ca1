// Drawing a bitmap into a window's device context: the pixels land in the window's surface, blended
// over what is there, clipped to the surface and to the context's clip box, with the X byte set.
#include "platform/backends/headless/headless_backend.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/win32/windows.h"

#include <gtest/gtest.h>

namespace
{
using namespace Gdiplus;
using ferolt::backend::HeadlessBackend;

constexpr uint32_t kGrey = 0xFF404040u;

// A borderless 8 x 8 window filled with grey.
HWND GreyWindow()
{
    HWND h = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(h);
    RECT all{0, 0, 8, 8};
    HBRUSH grey = CreateSolidBrush(RGB(0x40, 0x40, 0x40));
    FillRect(dc, &all, grey);
    DeleteObject(grey);
    ReleaseDC(h, dc);
    return h;
}

TEST(GdiplusOnWindowDc, DrawsIntoTheWindowSurface)
{
    struct Probe
    {
        int x, y;
        uint32_t expected;
    };
    struct Case
    {
        const char* name;
        Rect place; // where the source is drawn, and at what size
        std::vector<Probe> probes;
    };
    // A 2 x 2 source: red, green / blue, half-transparent white.
    const Case cases[] = {
        {"own size",
         {2, 3, 2, 2},
         {{2, 3, 0xFFFF0000u},
          {3, 3, 0xFF00FF00u},
          {2, 4, 0xFF0000FFu},
          {3, 4, 0xFFA0A0A0u},
          {1, 3, kGrey},
          {4, 3, kGrey},
          {2, 5, kGrey}}},
        {"past the edges", {-1, 7, 2, 2}, {{0, 7, 0xFF00FF00u}, {1, 7, kGrey}, {0, 6, kGrey}}},
        {"doubled",
         {0, 0, 4, 4},
         {{0, 0, 0xFFFF0000u}, {3, 0, 0xFF00FF00u}, {0, 3, 0xFF0000FFu}, {4, 4, kGrey}}},
        {"wholly outside", {9, 9, 2, 2}, {{7, 7, kGrey}}},
    };
    HeadlessBackend backend;
    Bitmap source(2, 2, PixelFormat32bppARGB);
    source.SetPixel(0, 0, Color(0xFFFF0000u));
    source.SetPixel(1, 0, Color(0xFF00FF00u));
    source.SetPixel(0, 1, Color(0xFF0000FFu));
    source.SetPixel(1, 1, Color(0x80FFFFFFu));
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        HWND h = GreyWindow();
        int updates = backend.surfaceUpdates(h);
        HDC dc = GetDC(h);
        {
            Graphics g(dc);
            g.SetInterpolationMode(InterpolationModeNearestNeighbor);
            EXPECT_EQ(g.DrawImage(&source, c.place), Ok);
        }
        ReleaseDC(h, dc);
        for (const Probe& p : c.probes)
            EXPECT_EQ(backend.Pixel(h, p.x, p.y), p.expected) << p.x << ", " << p.y;
        if (c.place.X < 8 && c.place.Y < 8)
        {
            EXPECT_GT(backend.surfaceUpdates(h), updates);
        }
        DestroyWindow(h);
    }
}

TEST(GdiplusOnWindowDc, PaintContextKeepsToTheInvalidPart)
{
    HeadlessBackend backend;
    HWND h = GreyWindow();
    Bitmap red(8, 8, PixelFormat32bppARGB);
    for (INT y = 0; y < 8; ++y)
        for (INT x = 0; x < 8; ++x)
            red.SetPixel(x, y, Color(0xFFFF0000u));
    backend.RunPending(); // the first paint, of the whole window, is done
    RECT part{2, 2, 4, 4};
    InvalidateRect(h, &part, FALSE);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    {
        Graphics g(dc);
        EXPECT_EQ(g.DrawImage(&red, 0, 0), Ok);
    }
    EndPaint(h, &ps);
    EXPECT_EQ(backend.Pixel(h, 2, 2), 0xFFFF0000u);
    EXPECT_EQ(backend.Pixel(h, 3, 3), 0xFFFF0000u);
    EXPECT_EQ(backend.Pixel(h, 1, 2), kGrey);
    EXPECT_EQ(backend.Pixel(h, 4, 4), kGrey);
    DestroyWindow(h);
}

TEST(GdiplusOnWindowDc, ContextsWithoutAWindowAreRefused)
{
    HeadlessBackend backend;
    Bitmap one(1, 1, PixelFormat32bppARGB);
    HDC memory = CreateCompatibleDC(nullptr);
    Graphics onMemory(memory);
    EXPECT_EQ(onMemory.DrawImage(&one, 0, 0), InvalidParameter);
    DeleteDC(memory);
    Graphics onNothing(static_cast<HDC>(nullptr));
    EXPECT_EQ(onNothing.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(onNothing.DrawImage(&one, 0, 0), InvalidParameter);
}
} // namespace
