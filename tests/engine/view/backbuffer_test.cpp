// Back buffers cut into parts on a started engine, and the back-buffer and camera API.
#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/view.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"
#include "platform/win32/windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

using LMK::BackBuffer_;
using LMK::BackBufferPart_;
using LMK::View_;

namespace
{
using Monitors = std::vector<RECT>;

// One adapter and one monitor per rectangle; the first adapter becomes the primary one.
void UseScreen(const Monitors& monitors)
{
    std::vector<ferolt::win32::host::MonitorConfig> screen;
    std::vector<ferolt::hooks::D3D9Adapter> adapters;
    for (const RECT& r : monitors)
    {
        screen.push_back({r, {}});
        ferolt::hooks::D3D9Adapter a;
        a.monitorRect = r;
        adapters.push_back(a);
    }
    ferolt::win32::host::SetVirtualScreen(screen);
    ferolt::hooks::SetD3D9Adapters(adapters);
}

class BackBufferTest : public ::testing::Test
{
protected:
    void SetUp() override { ferolt::hooks::SetD3D9WorkerThreads(1); }
    void TearDown() override
    {
        for (HWND w : windows_)
            DestroyWindow(w);
        windows_.clear();
        while (LMK::CurrentGlobals)
            LRStop();
        ferolt::hooks::ResetD3D9Hooks();
        ferolt::win32::host::SetVirtualScreen({{{0, 0, 1920, 1080}, {}}});
    }

    void Start(const Monitors& monitors)
    {
        UseScreen(monitors);
        ASSERT_EQ(LRStart(nullptr), S_OK);
    }

    // A borderless window whose client area is exactly `client` on the screen.
    HWND Window(const RECT& client)
    {
        HWND w =
            CreateWindowExA(0, "Static", "bb", WS_POPUP, client.left, client.top, client.right - client.left,
                            client.bottom - client.top, nullptr, nullptr, nullptr, nullptr);
        windows_.push_back(w);
        return w;
    }

    std::vector<HWND> windows_;
};

struct ExpectedPart
{
    POINT offset;
    RECT tile;
};

void ExpectRect(const RECT& actual, const RECT& expected, const char* what)
{
    EXPECT_TRUE(actual.left == expected.left && actual.top == expected.top &&
                actual.right == expected.right && actual.bottom == expected.bottom)
        << what << ": (" << actual.left << ", " << actual.top << ", " << actual.right << ", " << actual.bottom
        << "), expected (" << expected.left << ", " << expected.top << ", " << expected.right << ", "
        << expected.bottom << ")";
}

// Every part of the back buffer against the expected tiles; the other rectangles follow from them.
void ExpectParts(const BackBuffer_& b, const std::vector<ExpectedPart>& expected)
{
    ASSERT_EQ(b.parts.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE(testing::Message() << "part " << i);
        const BackBufferPart_& p = *b.parts[i];
        const ExpectedPart& e = expected[i];
        const LONG w = e.tile.right - e.tile.left, h = e.tile.bottom - e.tile.top;
        const RECT screen{e.tile.left + e.offset.x, e.tile.top + e.offset.y, e.tile.right + e.offset.x,
                          e.tile.bottom + e.offset.y};
        EXPECT_EQ(p.offsetX, e.offset.x);
        EXPECT_EQ(p.offsetY, e.offset.y);
        ExpectRect(p.tileRect, e.tile, "tile");
        ExpectRect(p.screenRect, screen, "screen");
        ExpectRect(p.sourceRect, RECT{0, 0, w, h}, "source");
        ExpectRect(p.destinationRect,
                   RECT{screen.left - b.clientRect.left, screen.top - b.clientRect.top,
                        screen.right - b.clientRect.left, screen.bottom - b.clientRect.top},
                   "destination");
        EXPECT_EQ(p.viewport.X, 0u);
        EXPECT_EQ(p.viewport.Y, 0u);
        EXPECT_EQ(p.viewport.Width, static_cast<DWORD>(w));
        EXPECT_EQ(p.viewport.Height, static_cast<DWORD>(h));
        EXPECT_EQ(p.viewport.MinZ, 0.0f);
        EXPECT_EQ(p.viewport.MaxZ, 1.0f);
        EXPECT_EQ(p.device, LMK::CurrentGlobals->devices.primaryDevice);
        EXPECT_EQ(p.owner, &b);
        EXPECT_EQ(p.busy, 0);
        EXPECT_EQ(p.mirrorTexture, nullptr);
    }
}
} // namespace

TEST_F(BackBufferTest, WindowIsCutIntoPartsClippedToTheMonitors)
{
    const RECT hd{0, 0, 1920, 1080};
    const struct
    {
        const char* name;
        Monitors monitors;
        RECT client;
        std::vector<ExpectedPart> parts;
    } cases[] = {
        {"inside one monitor", {hd}, RECT{100, 50, 740, 530}, {{POINT{100, 50}, RECT{0, 0, 640, 480}}}},
        {"over the right edge", {hd}, RECT{1800, 100, 2100, 300}, {{POINT{1800, 100}, RECT{0, 0, 120, 200}}}},
        {"over the top-left corner", {hd}, RECT{-50, -20, 50, 80}, {{POINT{0, 0}, RECT{0, 0, 50, 80}}}},
        {"outside every monitor", {hd}, RECT{2000, 100, 2100, 200}, {}},
        // Tiles have the primary device's size, so a window over two monitors of that size gets one part
        // on each, each with its monitor's rectangle on the screen.
        {"two monitors",
         {hd, RECT{1920, 0, 3840, 1080}},
         RECT{0, 0, 3840, 1080},
         {{POINT{0, 0}, RECT{0, 0, 1920, 1080}}, {POINT{1920, 0}, RECT{0, 0, 1920, 1080}}}},
        // A lower second monitor: its tile is clipped to what the monitor shows.
        {"two monitors, second lower",
         {hd, RECT{1920, 0, 3200, 1024}},
         RECT{0, 0, 3200, 1080},
         {{POINT{0, 0}, RECT{0, 0, 1920, 1080}}, {POINT{1920, 0}, RECT{0, 0, 1280, 1024}}}},
        // Straddling the monitors' lower edges leaves a region of two bands inside one tile.
        {"complex clip",
         {hd, RECT{1920, 0, 3200, 1024}},
         RECT{1800, 1000, 2000, 1100},
         {{POINT{1800, 1000}, RECT{0, 0, 200, 24}}, {POINT{1800, 1000}, RECT{0, 24, 120, 80}}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Start(c.monitors);
        BackBuffer_* b = nullptr;
        INT detail = 99;
        ASSERT_EQ(LRCreateBackBuffer(Window(c.client), &b, &detail), S_OK);
        EXPECT_EQ(detail, 0);
        ASSERT_NE(b, nullptr);
        ExpectRect(b->clientRect, c.client, "client");
        ExpectParts(*b, c.parts);
        EXPECT_EQ(LRReleaseBackBuffer(&b), S_OK);
        EXPECT_EQ(b, nullptr);
        TearDown();
    }
}

TEST_F(BackBufferTest, DeviceResetToASmallWindowMakesSmallerTiles)
{
    Start({RECT{0, 0, 1920, 1080}});
    LMK::AllDevices_& devices = LMK::CurrentGlobals->devices;
    ASSERT_EQ(devices.requests.RequestResetToWindow(devices.primaryDevice, Window(RECT{0, 0, 300, 200})),
              S_OK);

    BackBuffer_* b = nullptr;
    ASSERT_EQ(LRCreateBackBuffer(Window(RECT{0, 0, 400, 200}), &b, nullptr), S_OK);
    ExpectParts(*b, {{POINT{0, 0}, RECT{0, 0, 300, 200}}, {POINT{300, 0}, RECT{0, 0, 100, 200}}});
    LRReleaseBackBuffer(&b);
}

TEST_F(BackBufferTest, TileSizeThatIsNotPositiveEndsTheWalkWithoutParts)
{
    Start({RECT{0, 0, 1920, 1080}});
    BackBuffer_* b = nullptr;
    ASSERT_EQ(LRCreateBackBuffer(Window(RECT{10, 10, 110, 60}), &b, nullptr), S_OK);
    RECT& deviceRect = LMK::CurrentGlobals->devices.primaryDevice->backBufferRect;
    const struct
    {
        const char* name;
        RECT deviceRect;
        size_t parts;
    } cases[] = {
        {"zero width", RECT{0, 0, 0, 1080}, 0},
        {"zero height", RECT{0, 0, 1920, 0}, 0},
        {"zero", RECT{0, 0, 0, 0}, 0},
        // A size written into right and bottom of a monitor rectangle that does not start at the origin.
        {"size over an offset monitor", RECT{1920, 0, 64, 48}, 4},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        deviceRect = c.deviceRect;
        b->Refresh();
        EXPECT_EQ(b->parts.size(), c.parts);
    }
    LRReleaseBackBuffer(&b);
}

TEST_F(BackBufferTest, CreateFailures)
{
    // Not started: E_FAIL without touching the out pointer.
    auto* sentinel = reinterpret_cast<BackBuffer_*>(0x10);
    BackBuffer_* b = sentinel;
    INT detail = 99;
    EXPECT_EQ(LRCreateBackBuffer(nullptr, &b, &detail), E_FAIL);
    EXPECT_EQ(b, sentinel);
    EXPECT_EQ(detail, 99);

    Start({RECT{0, 0, 1920, 1080}});
    EXPECT_EQ(LRCreateBackBuffer(Window(RECT{0, 0, 10, 10}), nullptr, &detail), E_INVALIDARG);
    // A window whose client rectangle cannot be read.
    EXPECT_EQ(LRCreateBackBuffer(reinterpret_cast<HWND>(0x7FFF1234), &b, &detail), E_FAIL);
    EXPECT_EQ(detail, -8);
    EXPECT_EQ(b, nullptr);
}

TEST_F(BackBufferTest, SizesReportTheClientAreaAndTheDisplay)
{
    Start({RECT{0, 0, 1920, 1080}});
    BackBuffer_* b = nullptr;
    ASSERT_EQ(LRCreateBackBuffer(Window(RECT{1800, 100, 2100, 400}), &b, nullptr), S_OK);
    UINT w = 0, h = 0;
    ASSERT_EQ(LRGetBackBufferSize(b, &w, &h), S_OK); // partly off-screen: still the client size
    EXPECT_EQ(w, 300u);
    EXPECT_EQ(h, 300u);
    ASSERT_EQ(LRGetDisplaySize(&w, &h), S_OK);
    EXPECT_EQ(w, 1920u);
    EXPECT_EQ(h, 1080u);

    View_* v = nullptr;
    const D3DXVECTOR3 eye(0, 0, 10), at(0, 0, 0), up(0, 1, 0);
    ASSERT_EQ(LRCreateView(&eye, &at, &up, 0, 4, 3, 1, 100, &v), S_OK);
    BackBuffer_* wide = nullptr;
    ASSERT_EQ(LRCreateBackBuffer(Window(RECT{0, 0, 400, 300}), &wide, nullptr), S_OK);
    float height = 0;
    EXPECT_EQ(LRComputeViewHeight(v, wide, 8.0f, &height), S_OK);
    EXPECT_EQ(height, 6.0f);
    LRReleaseView(&v);
    LRReleaseBackBuffer(&wide);
    LRReleaseBackBuffer(&b);
}

TEST_F(BackBufferTest, CameraAppliesItsPartProjectionToThePartsDevice)
{
    Start({RECT{0, 0, 1920, 1080}});
    BackBuffer_* b = nullptr;
    ASSERT_EQ(LRCreateBackBuffer(Window(RECT{100, 50, 500, 350}), &b, nullptr), S_OK);
    ASSERT_EQ(b->parts.size(), 1u);
    View_* v = nullptr;
    const D3DXVECTOR3 eye(0, 0, 10), at(0, 0, 0), up(0, 1, 0);
    ASSERT_EQ(LRCreateView(&eye, &at, &up, 0, 4, 3, 1, 100, &v), S_OK);

    ASSERT_EQ(v->ApplyToDevice(b->parts[0]), S_OK);
    IDirect3DDevice9* device = b->parts[0]->GetD3DDevice();
    ASSERT_NE(device, nullptr);
    D3DMATRIX projection, view;
    ASSERT_EQ(device->GetTransform(D3DTS_PROJECTION, &projection), S_OK);
    ASSERT_EQ(device->GetTransform(D3DTS_VIEW, &view), S_OK);
    EXPECT_EQ(D3DXMATRIX(projection), *v->partProjectionMatrix);
    EXPECT_EQ(D3DXMATRIX(view), *v->viewMatrix);
    LRReleaseView(&v);
    LRReleaseBackBuffer(&b);
}

TEST_F(BackBufferTest, ApiChecksStartedThenArguments)
{
    BackBuffer_* b = nullptr;
    View_* v = nullptr;
    LMK::ViewParamsStruct_TYP params{};
    D3DXMATRIX m;
    UINT w, h;
    float height;
    const D3DXVECTOR3 eye(0, 0, 10), at(0, 0, 0), up(0, 1, 0);
    const struct
    {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT withNulls; // once started
    } cases[] = {
        {"LRReleaseBackBuffer", [&] { return LRReleaseBackBuffer(nullptr); }, E_INVALIDARG},
        {"LRGetBackBufferSize", [&] { return LRGetBackBufferSize(nullptr, &w, &h); }, E_INVALIDARG},
        {"LRGetDisplaySize", [&] { return LRGetDisplaySize(nullptr, &h); }, E_INVALIDARG},
        {"LRCreateView", [&] { return LRCreateView(&eye, &at, &up, 0, 1, 1, 1, 2, nullptr); }, E_INVALIDARG},
        {"LRCreateView without up", [&] { return LRCreateView(&eye, &at, nullptr, 0, 1, 1, 1, 2, &v); },
         E_INVALIDARG},
        {"LRCreateViewFromParams", [&] { return LRCreateViewFromParams(nullptr, &v); }, E_INVALIDARG},
        {"LRReleaseView", [&] { return LRReleaseView(nullptr); }, E_INVALIDARG},
        {"LRSetViewLookAt", [&] { return LRSetViewLookAt(nullptr, &eye, nullptr, nullptr); }, E_INVALIDARG},
        {"LRGetViewLookAt", [&] { return LRGetViewLookAt(nullptr, nullptr, nullptr, nullptr); },
         E_INVALIDARG},
        {"LRSetViewParams", [&] { return LRSetViewParams(nullptr, &params); }, E_INVALIDARG},
        {"LRGetViewParams", [&] { return LRGetViewParams(nullptr, &params); }, E_INVALIDARG},
        {"LRGetViewProjectionMatrix", [&] { return LRGetViewProjectionMatrix(nullptr, &m); }, E_INVALIDARG},
        {"LRGetInverseViewProjectionMatrix", [&] { return LRGetInverseViewProjectionMatrix(nullptr, &m); },
         E_INVALIDARG},
        {"LRComputeViewHeight", [&] { return LRComputeViewHeight(nullptr, b, 1, &height); }, E_INVALIDARG},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.call(), E_FAIL) << c.name << " before the start";
    Start({RECT{0, 0, 1920, 1080}});
    for (const auto& c : cases)
        EXPECT_EQ(c.call(), c.withNulls) << c.name;
    EXPECT_EQ(v, nullptr);

    // Releasing a null camera or back buffer is fine and leaves the pointer null.
    EXPECT_EQ(LRReleaseView(&v), S_OK);
    EXPECT_EQ(LRReleaseBackBuffer(&b), S_OK);
}

TEST_F(BackBufferTest, ViewParamsTravelWholeThroughTheApi)
{
    Start({RECT{0, 0, 1920, 1080}});
    LMK::ViewParamsStruct_TYP in{};
    const float values[] = {1, 2, 3, 4, 5, 6, 0, 0, 2};
    for (int i = 0; i < 3; ++i)
    {
        in.eye[i] = values[i];
        in.lookAt[i] = values[3 + i];
        in.up[i] = values[6 + i]; // not normalised by a block copy
    }
    in.window[0] = -1;
    in.window[1] = 1;
    in.window[2] = 1;
    in.window[3] = -1;
    in.zNear = 0.5f;
    in.zFar = 50;
    in.autoNearFar = 1;
    in.reserved[1] = 7;

    View_* v = nullptr;
    ASSERT_EQ(LRCreateViewFromParams(&in, &v), S_OK);
    LMK::ViewParamsStruct_TYP out{};
    ASSERT_EQ(LRGetViewParams(v, &out), S_OK);
    EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);

    D3DXMATRIX before, after;
    ASSERT_EQ(LRGetViewProjectionMatrix(v, &before), S_OK);
    in.eye[2] = 30;
    ASSERT_EQ(LRSetViewParams(v, &in), S_OK);
    ASSERT_EQ(LRGetViewProjectionMatrix(v, &after), S_OK);
    EXPECT_NE(before, after);

    const D3DXVECTOR3 eye(0, 0, 9);
    ASSERT_EQ(LRSetViewLookAt(v, &eye, nullptr, nullptr), S_OK);
    D3DXVECTOR3 gotEye, gotAt, gotUp;
    ASSERT_EQ(LRGetViewLookAt(v, &gotEye, &gotAt, &gotUp), S_OK);
    EXPECT_EQ(gotEye, eye);
    EXPECT_EQ(gotAt, D3DXVECTOR3(4, 5, 6));
    EXPECT_EQ(gotUp, D3DXVECTOR3(0, 0, 2));
    ASSERT_EQ(LRReleaseView(&v), S_OK);
    EXPECT_EQ(v, nullptr);
}

TEST_F(BackBufferTest, FullScreenMonitorUsesThatMonitorsFullScreenDevice)
{
    // The window lies on the second monitor; only with extra full-screen devices is there one for it.
    for (BYTE extraDevices : {1, 0})
    {
        SCOPED_TRACE(extraDevices ? "with full-screen devices" : "without");
        UseScreen({RECT{0, 0, 64, 48}, RECT{64, 0, 128, 48}});
        LMK::StartParamsStruct_TYP params{};
        params.fpuPreservingDevices = 1;
        params.extraFullScreenDevices = extraDevices;
        ASSERT_EQ(LRStart(&params), S_OK);
        LMK::AllDevices_& devices = LMK::CurrentGlobals->devices;
        ASSERT_EQ(devices.requests.devices.size(), extraDevices ? 4u : 2u);

        BackBuffer_* b = nullptr;
        ASSERT_EQ(LRCreateBackBuffer(Window(RECT{70, 10, 90, 30}), &b, nullptr), S_OK);
        b->fullScreenMonitor = devices.d3d->GetAdapterMonitor(1);
        b->RebuildParts();
        ASSERT_EQ(b->parts.size(), 1u);
        const BackBufferPart_& p = *b->parts[0];
        if (extraDevices)
        {
            LMK::Device_* fullScreen = devices.requests.devices[3];
            ASSERT_FALSE(fullScreen->presentParams.Windowed);
            EXPECT_EQ(p.device, fullScreen);
            ExpectRect(p.tileRect, fullScreen->backBufferRect, "tile");
            EXPECT_EQ(p.offsetX, 0);
            EXPECT_EQ(p.offsetY, 0);
        }
        else
        {
            EXPECT_EQ(p.device, devices.primaryDevice);
            ExpectRect(p.screenRect, RECT{70, 10, 90, 30}, "screen");
        }
        LRReleaseBackBuffer(&b);
        TearDown();
    }
}

TEST_F(BackBufferTest, RefreshFollowsTheResizedWindow)
{
    Start({RECT{0, 0, 1920, 1080}});
    HWND w = Window(RECT{10, 20, 110, 70});
    BackBuffer_* b = nullptr;
    ASSERT_EQ(LRCreateBackBuffer(w, &b, nullptr), S_OK);
    ASSERT_TRUE(MoveWindow(w, 1870, 20, 200, 100, FALSE));
    ExpectRect(b->clientRect, RECT{10, 20, 110, 70}, "before the refresh");
    b->Refresh();
    ExpectRect(b->clientRect, RECT{1870, 20, 2070, 120}, "client");
    ExpectParts(*b, {{POINT{1870, 20}, RECT{0, 0, 50, 100}}});
    LRReleaseBackBuffer(&b);
}
