// The device set: adapter choice, multisampling, back-buffer fallbacks, the device thread.
#include "engine_fixture.h"

#include <functional>

#include "platform/win32/wingdi.h"

using enginetest::EngineTest;
using enginetest::SmallAdapter;
using ferolt::hooks::D3D9Adapter;

namespace
{
LMK::StartParamsStruct_TYP Params(DWORD multiSample, BYTE onePixel = 0, BYTE extra = 0)
{
    LMK::StartParamsStruct_TYP p{};
    p.multiSampleType = multiSample;
    p.onePixelBackBuffer = onePixel;
    p.fpuPreservingDevices = 1;
    p.extraFullScreenDevices = extra;
    return p;
}

struct DeviceExpect
{
    UINT adapter;
    DWORD multiSample;
    bool lockable;
    UINT width; // back buffer in the stored parameters
    UINT height;
};
} // namespace

TEST_F(EngineTest, DeviceSetFromAdaptersAndStartParameters)
{
    struct Case
    {
        const char* title;
        std::function<std::vector<D3D9Adapter>()> adapters;
        LMK::StartParamsStruct_TYP params;
        HRESULT result;
        std::vector<DeviceExpect> devices;
        UINT primaryAdapter;
        UINT displayWidth;
        UINT displayHeight;
        INT lightLimit;
    };
    const Case cases[] = {
        {"one HAL adapter, default parameters",
         [] { return std::vector{SmallAdapter()}; },
         Params(0),
         S_OK,
         {{0, 0, true, 64, 48}},
         0,
         64,
         48,
         8},
        {"multisample 4 on adapters that take only 2",
         []
         {
             auto a = SmallAdapter(), b = SmallAdapter(64);
             a.multiSampleTypes = b.multiSampleTypes = {D3DMULTISAMPLE_2_SAMPLES};
             return std::vector{a, b};
         },
         Params(4),
         S_OK,
         {{0, 2, false, 64, 48}, {1, 2, false, 64, 48}},
         0,
         64,
         48,
         8},
        {"an adapter without multisampling turns it off for all",
         []
         {
             auto a = SmallAdapter(), b = SmallAdapter(64);
             b.multiSampleTypes = {};
             return std::vector{a, b};
         },
         Params(4),
         S_OK,
         {{0, 0, true, 64, 48}, {1, 0, true, 64, 48}},
         0,
         64,
         48,
         8},
        {"a device that fails multisampled is made without it, lockable",
         []
         {
             auto a = SmallAdapter();
             a.failMultiSampledDevices = true;
             return std::vector{a};
         },
         Params(2),
         S_OK,
         {{0, 0, true, 64, 48}},
         0,
         64,
         48,
         8},
        {"failing at display size, succeeding at 1024 x 768",
         []
         {
             auto a = SmallAdapter();
             a.failingBackBufferSizes = {{64, 48}, {1280, 1024}};
             return std::vector{a};
         },
         Params(0),
         S_OK,
         {{0, 0, true, 1024, 768}},
         0,
         1024,
         768,
         8},
        {"every size failing but one pixel",
         []
         {
             auto a = SmallAdapter();
             a.failingBackBufferSizes = {{64, 48}, {1280, 1024}, {1024, 768}, {800, 600}, {640, 480}};
             return std::vector{a};
         },
         Params(0),
         S_OK,
         {{0, 0, true, 0, 0}},
         0,
         640,
         480,
         8},
        {"no size at all",
         []
         {
             auto a = SmallAdapter();
             a.failingBackBufferSizes = {{64, 48}, {1280, 1024}, {1024, 768}, {800, 600}, {640, 480}, {1, 1}};
             return std::vector{a};
         },
         Params(0),
         -2,
         {},
         0,
         0,
         0,
         0},
        {"one-pixel start",
         [] { return std::vector{SmallAdapter()}; },
         Params(0, 1),
         S_OK,
         {{0, 0, true, 0, 0}},
         0,
         64,
         48,
         8},
        {"an adapter without a depth format gets no device",
         []
         {
             auto a = SmallAdapter(), b = SmallAdapter(64, 32, 24);
             a.depthFormats = {D3DFMT_D24X8};
             return std::vector{a, b};
         },
         Params(0),
         S_OK,
         {{1, 0, true, 32, 24}},
         1,
         32,
         24,
         8},
        {"a HAL adapter is preferred as primary",
         []
         {
             auto a = SmallAdapter(), b = SmallAdapter(64, 32, 24);
             a.deviceTypes = {D3DDEVTYPE_REF};
             return std::vector{a, b};
         },
         Params(0),
         S_OK,
         {{0, 0, true, 64, 48}, {1, 0, true, 32, 24}},
         1,
         32,
         24,
         8},
        {"more simultaneous textures win the primary",
         []
         {
             auto a = SmallAdapter(), b = SmallAdapter(64, 32, 24);
             a.maxSimultaneousTextures = 4;
             return std::vector{a, b};
         },
         Params(0),
         S_OK,
         {{0, 0, true, 64, 48}, {1, 0, true, 32, 24}},
         1,
         32,
         24,
         8},
        {"few lights mean software vertex processing",
         []
         {
             auto a = SmallAdapter();
             a.maxActiveLights = 4;
             return std::vector{a};
         },
         Params(0),
         S_OK,
         {{0, 0, true, 64, 48}},
         0,
         64,
         48,
         -1},
        {"no adapters", [] { return std::vector<D3D9Adapter>{}; }, Params(0), -2, {}, 0, 0, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        enginetest::UseAdapters(c.adapters());
        ASSERT_EQ(LRStart(&c.params), c.result);
        const LMK::AllDevices_& set = LMK::CurrentGlobals->devices;
        const auto& devices = set.requests.devices;
        if (c.result == S_OK)
        {
            ASSERT_EQ(devices.size(), c.devices.size());
            for (size_t i = 0; i < devices.size(); ++i)
            {
                const LMK::Device_& d = *devices[i];
                const DeviceExpect& e = c.devices[i];
                SCOPED_TRACE(i);
                ASSERT_NE(d.device, nullptr);
                EXPECT_EQ(d.adapter, e.adapter);
                EXPECT_EQ(d.multiSampleType, e.multiSample);
                EXPECT_EQ(static_cast<DWORD>(d.presentParams.MultiSampleType), e.multiSample);
                EXPECT_EQ((d.presentParams.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0, e.lockable);
                EXPECT_EQ(d.presentParams.BackBufferWidth, e.width);
                EXPECT_EQ(d.presentParams.BackBufferHeight, e.height);
                EXPECT_EQ(d.resizePending, e.width == 0 ? 1 : 0);
                EXPECT_EQ(d.presentParams.Windowed, TRUE);
                EXPECT_EQ(d.presentParams.hDeviceWindow, GetDesktopWindow());
                EXPECT_EQ(d.presentParams.AutoDepthStencilFormat, D3DFMT_D24S8);
            }
            ASSERT_NE(set.primaryDevice, nullptr);
            EXPECT_EQ(set.primaryDevice->adapter, c.primaryAdapter);
            EXPECT_EQ(set.primaryDisplayWidth, c.displayWidth);
            EXPECT_EQ(set.primaryDisplayHeight, c.displayHeight);
            EXPECT_EQ(set.activeLightLimit, c.lightLimit);
            EXPECT_EQ(set.state, 0);
            EXPECT_EQ(set.monitors.size(), std::max<size_t>(1, c.adapters().size()));
        }
        else
        {
            EXPECT_EQ(set.devicesCreated, 0);
            EXPECT_EQ(LMK::CurrentGlobals->started, 0);
        }
        ASSERT_EQ(LRStop(), S_OK);
    }
}

TEST_F(EngineTest, DeviceSetKeepsTheLargestCapsAndTheVendorFlag)
{
    auto a = SmallAdapter(), b = SmallAdapter(64);
    a.maxTextureWidth = 1024;
    b.maxTextureHeight = 2048;
    b.maxTextureBlendStages = 4;
    b.vendorId = LMK::AllDevices_::kNvidiaVendorId;
    enginetest::UseAdapters({a, b});
    const auto params = Params(0, 0, 1);
    ASSERT_EQ(LRStart(&params), S_OK);
    const LMK::AllDevices_& set = LMK::CurrentGlobals->devices;
    EXPECT_EQ(set.maxTextureWidth, 4096u);
    EXPECT_EQ(set.maxTextureHeight, 4096u);
    EXPECT_EQ(set.maxTextureBlendStages, 8u);
    EXPECT_EQ(set.vendorFlag, 1);
    // A second, full-screen pass over the same adapters.
    ASSERT_EQ(set.requests.devices.size(), 4u);
    EXPECT_EQ(set.extraDeviceCount, 2u);
    EXPECT_EQ(set.requests.devices[2]->presentParams.Windowed, FALSE);
    EXPECT_EQ(set.requests.devices[2]->presentParams.PresentationInterval, D3DPRESENT_INTERVAL_ONE);
    EXPECT_EQ(set.primaryDevice, set.requests.devices[0]);
    ASSERT_EQ(set.monitors.size(), 2u);
    EXPECT_EQ(set.monitors[1].rect.left, 64);
    RECT box{};
    EXPECT_NE(GetRgnBox(set.monitorRegion, &box), 0);
    EXPECT_EQ(box.right, 128);
}

TEST_F(EngineTest, RequestsRunOnTheDeviceThreadAndTheLastStopReleasesEveryDevice)
{
    ASSERT_EQ(LRStart(nullptr), S_OK);
    LMK::AllDevices_& set = LMK::CurrentGlobals->devices;
    LMK::Device_* device = set.primaryDevice;
    EXPECT_EQ(set.requests.RequestReset(device), S_OK);
    EXPECT_EQ(set.requests.RequestResetToWindow(device, nullptr), S_OK);
    EXPECT_EQ(device->presentParams.BackBufferWidth, 64u);
    EXPECT_EQ(device->backBufferRect.right, 64);

    // A pending resize asked of every device.
    EXPECT_EQ(set.requests.RequestResetAll(nullptr, 1), S_OK);
    EXPECT_EQ(device->resizePending, 1);

    IDirect3DDevice9* d3dDevice = device->device;
    d3dDevice->AddRef();
    ASSERT_EQ(LRStop(), S_OK);
    EXPECT_EQ(d3dDevice->Release(), 0u); // the engine's reference went at the stop
}

TEST(DeviceThread, AnEndedThreadFailsPostersInsteadOfHanging)
{
    LMK::DeviceRequestChannel_ channel;
    ASSERT_NE(channel.thread, nullptr);
    EXPECT_EQ(channel.RequestResetAll(nullptr, 0), S_OK); // no devices: nothing to reset

    // Make the thread's next wait fail: it waits on a dead handle after this request at the latest.
    HANDLE requestEvent = channel.requestEvent;
    HANDLE dead = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(dead);
    LMK::DeviceRequestStruct_TYP request{};
    request.type = LMK::DeviceRequestResetAll;
    EnterCriticalSection(&channel.lock);
    channel.pending = &request;
    channel.requestEvent = dead;
    SetEvent(requestEvent);
    // The thread may already be back at its wait and fail there without answering this one.
    HANDLE either[2] = {channel.doneEvent, channel.thread};
    WaitForMultipleObjects(2, either, FALSE, INFINITE);
    channel.pending = nullptr;
    LeaveCriticalSection(&channel.lock);
    ASSERT_EQ(WaitForSingleObject(channel.thread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(channel.thread, &code);
    EXPECT_EQ(code, 1u);

    EXPECT_EQ(channel.RequestResetAll(nullptr, 0), E_FAIL);
    channel.requestEvent = requestEvent; // the destructor closes the real one
}

TEST(DeviceThread, SuspendBroadcastSkipsThisProcessesWindows)
{
    static int received = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT
    {
        if (msg == LMK::SuspendGraphicsMessage) ++received;
        return DefWindowProcA(hwnd, msg, wp, lp);
    };
    wc.lpszClassName = "SuspendProbe";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "SuspendProbe", "", WS_OVERLAPPEDWINDOW, 0, 0, 32, 32, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_NE(LMK::SuspendGraphicsMessage, 0u);
    LMK::BroadcastSuspendMessage();
    EXPECT_EQ(received, 0);
    DestroyWindow(window);
}

// A device that cannot be reset at its window's size tries the fallback sizes in turn, and reports a
// failure only when none of them works.
TEST_F(EngineTest, ResetToWindowFallsBackThroughTheFixedSizes)
{
    const SIZE window = {100, 80};
    struct Case
    {
        const char* name;
        std::vector<SIZE> failing;
        HRESULT result;
        UINT width, height;
    };
    const Case cases[] = {
        {"window size", {}, S_OK, 100, 80},
        {"first fallback", {window}, S_OK, 1280, 1024},
        {"second fallback", {window, {1280, 1024}}, S_OK, 1024, 768},
        {"none", {window, {1280, 1024}, {1024, 768}, {800, 600}, {640, 480}}, E_FAIL, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto adapter = enginetest::SmallAdapter();
        adapter.failingBackBufferSizes = c.failing;
        enginetest::UseAdapters({adapter});
        ASSERT_EQ(LRStart(nullptr), S_OK);
        HWND w = CreateWindowExA(0, "Static", "view", WS_POPUP | WS_VISIBLE, 0, 0, window.cx, window.cy,
                                 nullptr, nullptr, nullptr, nullptr);
        LMK::Device_* device = LMK::CurrentGlobals->devices.primaryDevice;
        const HRESULT hr = LMK::CurrentGlobals->devices.requests.RequestResetToWindow(device, w);
        EXPECT_EQ(SUCCEEDED(hr), SUCCEEDED(c.result));
        if (SUCCEEDED(c.result))
        {
            EXPECT_EQ(device->presentParams.BackBufferWidth, c.width);
            EXPECT_EQ(device->presentParams.BackBufferHeight, c.height);
            EXPECT_EQ(device->backBufferRect.right, static_cast<LONG>(c.width));
        }
        DestroyWindow(w);
        ASSERT_EQ(LRStop(), S_OK);
    }
}
