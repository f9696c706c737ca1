// Present into windows of the headless backend, and back buffers that take their size from the window.
#include <gtest/gtest.h>

#include <vector>

#include "platform/backends/headless/headless_backend.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/windows.h"
#include "tests/platform/expect_refused.h"
#include "tests/support/d3d9_device.h"

using ferolt::backend::HeadlessBackend;

namespace
{
HWND Window(int w, int h)
{
    return CreateWindowExA(0, "Static", "view", WS_POPUP | WS_VISIBLE, 0, 0, w, h, nullptr, nullptr, nullptr,
                           nullptr);
}

struct Device
{
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* dev = nullptr;
    HRESULT created = E_FAIL;

    Device(HWND window, UINT w, UINT h, HWND focus = nullptr)
    {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp = ferolt::test::DeviceParams(w, h, D3DFMT_UNKNOWN);
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.hDeviceWindow = window;
        pp.Flags = 0;
        created = d3d->CreateDevice(0, D3DDEVTYPE_HAL, focus ? focus : window,
                                    D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &dev);
    }
    ~Device()
    {
        if (dev) dev->Release();
        d3d->Release();
    }
    D3DSURFACE_DESC BackBufferDesc() const
    {
        IDirect3DSurface9* bb = nullptr;
        D3DSURFACE_DESC d{};
        if (dev->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb) == D3D_OK)
        {
            bb->GetDesc(&d);
            bb->Release();
        }
        return d;
    }
    // Blue everywhere, a red square at [4, 8) x [4, 8).
    void Paint() const
    {
        dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff0000ff, 1.0f, 0);
        D3DRECT r{4, 4, 8, 8};
        dev->Clear(1, &r, D3DCLEAR_TARGET, 0xffff0000, 1.0f, 0);
    }
};

constexpr uint32_t kBlue = 0xff0000ffu, kRed = 0xffff0000u, kUntouched = 0x00000000u;
} // namespace

TEST(PresentTest, CopiesTheBackBufferIntoTheWindow)
{
    struct Probe
    {
        int x, y;
        uint32_t expected;
    };
    struct Case
    {
        const char* name;
        bool useSrc, useDst;
        RECT src, dst;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {"whole buffer", false, false, {}, {}, {{0, 0, kBlue}, {4, 4, kRed}, {7, 7, kRed}, {8, 8, kBlue}}},
        // The source square lands at the destination's corner, one to one.
        {"source to destination",
         true,
         true,
         {4, 4, 8, 8},
         {10, 2, 14, 6},
         {{10, 2, kRed}, {13, 5, kRed}, {14, 2, kUntouched}, {9, 2, kUntouched}, {4, 4, kUntouched}}},
        // Doubled: each source pixel covers two by two.
        {"stretched",
         true,
         true,
         {4, 4, 8, 8},
         {0, 0, 8, 8},
         {{0, 0, kRed}, {7, 7, kRed}, {8, 8, kUntouched}}},
        // A destination partly outside the client area is cut at its edge.
        {"destination past the edge",
         true,
         true,
         {0, 0, 8, 8},
         {18, 10, 26, 18},
         {{18, 10, kBlue}, {22, 14, kRed}, {23, 15, kRed}, {17, 10, kUntouched}}},
    };
    for (const Case& c : cases)
    {
        HeadlessBackend b;
        HWND w = Window(24, 16);
        Device d(w, 24, 16);
        ASSERT_EQ(d.created, D3D_OK) << c.name;
        d.Paint();
        ASSERT_EQ(d.dev->Present(c.useSrc ? &c.src : nullptr, c.useDst ? &c.dst : nullptr, nullptr, nullptr),
                  D3D_OK)
            << c.name;
        for (const Probe& p : c.probes)
            EXPECT_EQ(b.Pixel(w, p.x, p.y) & (p.expected ? 0xffffffffu : 0x00ffffffu), p.expected)
                << c.name << " at " << p.x << ", " << p.y << std::hex << ": " << b.Pixel(w, p.x, p.y);
        DestroyWindow(w);
    }
}

TEST(PresentTest, TargetWindowOverridesTheDeviceWindow)
{
    HeadlessBackend b;
    HWND main = Window(16, 16);
    HWND other = Window(16, 16);
    Device d(main, 16, 16);
    ASSERT_EQ(d.created, D3D_OK);
    d.Paint();
    ASSERT_EQ(d.dev->Present(nullptr, nullptr, other, nullptr), D3D_OK);
    EXPECT_EQ(b.Pixel(other, 5, 5), kRed);
    EXPECT_EQ(b.Pixel(other, 0, 0), kBlue);
    EXPECT_EQ(b.surfaceUpdates(main), 0);
    EXPECT_EQ(b.surfaceUpdates(other), 1);
    // Inside a scene, Present is refused and the window keeps its pixels.
    d.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 1.0f, 0);
    ASSERT_EQ(d.dev->BeginScene(), D3D_OK);
    EXPECT_REFUSED(d.dev->Present(nullptr, nullptr, other, nullptr), "Device.Present.WrongState");
    ASSERT_EQ(d.dev->EndScene(), D3D_OK);
    EXPECT_EQ(b.Pixel(other, 0, 0), kBlue);
    DestroyWindow(other);
    DestroyWindow(main);
}

TEST(PresentTest, ZeroSizedBackBufferTakesTheClientSize)
{
    HeadlessBackend b;
    HWND w = Window(40, 30);
    {
        Device d(w, 0, 0);
        ASSERT_EQ(d.created, D3D_OK);
        const D3DSURFACE_DESC desc = d.BackBufferDesc();
        EXPECT_EQ(desc.Width, 40u);
        EXPECT_EQ(desc.Height, 30u);
        // The whole client area is presented.
        d.dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 1.0f, 0);
        ASSERT_EQ(d.dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        EXPECT_EQ(b.Pixel(w, 39, 29), 0xff00ff00u);
    }
    {
        // Only the missing edge comes from the window; without a device window, from the focus window.
        Device d(nullptr, 12, 0, w);
        ASSERT_EQ(d.created, D3D_OK);
        const D3DSURFACE_DESC desc = d.BackBufferDesc();
        EXPECT_EQ(desc.Width, 12u);
        EXPECT_EQ(desc.Height, 30u);
    }
    DestroyWindow(w);
}

// A buffer of many bands of rows, every row and every seventh column its own colour, arrives pixel for
// pixel, one to one and halved.
TEST(PresentTest, EveryPixelOfATallBufferArrives)
{
    HeadlessBackend b;
    HWND w = Window(40, 100);
    Device d(w, 40, 100);
    ASSERT_EQ(d.created, D3D_OK);
    auto source = [](LONG x, LONG y) -> uint32_t
    {
        return x % 7 == 0 ? 0xff0000ffu | static_cast<uint32_t>(x) << 16
                          : 0xff000000u | static_cast<uint32_t>(y) << 8;
    };
    for (LONG y = 0; y < 100; ++y)
    {
        const D3DRECT row{0, y, 40, y + 1};
        d.dev->Clear(1, &row, D3DCLEAR_TARGET, source(1, y), 1.0f, 0);
    }
    for (LONG x = 0; x < 40; x += 7)
    {
        const D3DRECT column{x, 0, x + 1, 100};
        d.dev->Clear(1, &column, D3DCLEAR_TARGET, source(x, 0), 1.0f, 0);
    }
    ASSERT_EQ(d.dev->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    int wrong = 0;
    for (LONG y = 0; y < 100; ++y)
        for (LONG x = 0; x < 40; ++x)
            wrong += b.Pixel(w, x, y) != source(x, y);
    EXPECT_EQ(wrong, 0) << "one to one";
    const RECT half{0, 0, 20, 50};
    ASSERT_EQ(d.dev->Present(nullptr, &half, nullptr, nullptr), D3D_OK);
    wrong = 0;
    for (LONG y = 0; y < 50; ++y)
        for (LONG x = 0; x < 20; ++x)
            wrong += b.Pixel(w, x, y) != source(2 * x, 2 * y);
    EXPECT_EQ(wrong, 0) << "halved";
    DestroyWindow(w);
}
