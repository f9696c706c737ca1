#include "engine/core/devices.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "engine/core/render_lock.h"
#include "platform/mfc/afx.h"
#include "platform/win32/wingdi.h"

namespace LMK
{
namespace
{
struct BackBufferSize
{
    UINT width;
    UINT height;
};
// Tried in turn when a device cannot be made or reset at its display or window size.
constexpr BackBufferSize kFallbackSizes[] = {{1280, 1024}, {1024, 768}, {800, 600}, {640, 480}};

constexpr LRESULT kSuspendHandled = 42;

void SetBackBufferSize(D3DPRESENT_PARAMETERS& params, RECT& rect, UINT width, UINT height)
{
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    rect.right = static_cast<LONG>(width);
    rect.bottom = static_cast<LONG>(height);
}
} // namespace

// ---------------------------------------------------------------------------------------------------
Device_::Device_(IDirect3DDevice9* d3dDevice, D3DDEVTYPE type, const D3DPRESENT_PARAMETERS& params,
                 UINT width, UINT height, UINT adapterOrdinal, DWORD multiSample, const RECT& rect)
    : device(d3dDevice), deviceType(type), presentParams(params), displayWidth(width), displayHeight(height),
      adapter(adapterOrdinal), multiSampleType(multiSample), backBufferRect(rect), stageValidation{},
      resizePending(params.BackBufferWidth == 0 || params.BackBufferHeight == 0)
{
}

bool Device_::ResetToWindow(HWND window)
{
    if (!device) return false;
    UINT width = displayWidth;
    UINT height = displayHeight;
    if (window)
    {
        RECT client{};
        GetClientRect(window, &client);
        POINT topLeft{client.left, client.top};
        POINT bottomRight{client.right, client.bottom};
        ClientToScreen(window, &topLeft);
        ClientToScreen(window, &bottomRight);
        width = static_cast<UINT>(bottomRight.x > topLeft.x ? bottomRight.x - topLeft.x : 0);
        height = static_cast<UINT>(bottomRight.y > topLeft.y ? bottomRight.y - topLeft.y : 0);
    }
    SetBackBufferSize(presentParams, backBufferRect, width, height);
    if (SUCCEEDED(device->Reset(&presentParams))) return true;
    for (const BackBufferSize& size : kFallbackSizes)
    {
        SetBackBufferSize(presentParams, backBufferRect, size.width, size.height);
        if (SUCCEEDED(device->Reset(&presentParams))) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------
CD3DResetThread::CD3DResetThread(DeviceRequestChannel_* owner)
    : CWinThread(ThreadProcedure, this), channel(owner)
{
    // The channel joins the thread through its handle, so it owns the object and deletes it after.
    m_bAutoDelete = FALSE;
}

UINT CD3DResetThread::ThreadProcedure(LPVOID thread)
{
    return static_cast<UINT>(static_cast<CD3DResetThread*>(thread)->Run());
}

int CD3DResetThread::Run()
{
    SetEvent(channel->doneEvent);
    for (;;)
    {
        if (WaitForSingleObject(channel->requestEvent, INFINITE) != WAIT_OBJECT_0) return 1;
        DeviceRequestStruct_TYP* request = channel->pending;
        if (!request)
        {
            SetEvent(channel->doneEvent);
            continue;
        }
        if (request->type == DeviceRequestQuit)
        {
            SetEvent(channel->doneEvent);
            return 0;
        }
        channel->Execute(request);
        SetEvent(channel->doneEvent);
    }
}

// ---------------------------------------------------------------------------------------------------
DeviceRequestChannel_::DeviceRequestChannel_()
{
    InitializeCriticalSectionWithSpinCount(&lock);
    requestEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    doneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!requestEvent || !doneEvent) return;
    try
    {
        auto worker = std::make_unique<CD3DResetThread>(this);
        if (!worker->CreateThread()) return;
        threadObject_ = std::move(worker);
    }
    catch (...)
    {
        // No destructor runs for a channel that was never made.
        CloseKernelObjects();
        throw;
    }
    thread = threadObject_->m_hThread;
    // The thread's first answer: it is waiting for requests.
    WaitForAnswer();
}

DeviceRequestChannel_::~DeviceRequestChannel_()
{
    if (thread)
    {
        DeviceRequestStruct_TYP quit{};
        quit.type = DeviceRequestQuit;
        Post(&quit);
        WaitForSingleObject(thread, INFINITE);
    }
    threadObject_.reset(); // closes the thread handle
    thread = nullptr;
    CloseKernelObjects();
}

void DeviceRequestChannel_::CloseKernelObjects()
{
    if (requestEvent) CloseHandle(requestEvent);
    if (doneEvent) CloseHandle(doneEvent);
    requestEvent = doneEvent = nullptr;
    DeleteCriticalSection(&lock);
}

HRESULT DeviceRequestChannel_::Post(DeviceRequestStruct_TYP* request)
{
    request->result = 0;
    if (!thread) return E_FAIL;
    const CriticalSectionLock_ held(&lock);
    pending = request;
    HRESULT result = E_FAIL;
    if (SetEvent(requestEvent) && WaitForAnswer() == WAIT_OBJECT_0) result = request->result;
    pending = nullptr;
    return result;
}

DWORD DeviceRequestChannel_::WaitForAnswer()
{
    // A device thread that has ended answers nothing: waiting for it as well keeps the poster from
    // waiting for ever.
    // The device thread works on this channel and on a request that lives in the poster's frame (with the
    // Direct3D object it names), so no one may leave before its answer; a wait never fails for memory.
    HANDLE waits[2] = {doneEvent, thread};
    return WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

HRESULT DeviceRequestChannel_::RequestCreateDevice(CreateDeviceArgsStruct_TYP* args)
{
    DeviceRequestStruct_TYP request{};
    request.type = DeviceRequestCreate;
    request.create = args;
    return Post(&request);
}

HRESULT DeviceRequestChannel_::RequestReset(Device_* device)
{
    DeviceRequestStruct_TYP request{};
    request.type = DeviceRequestReset;
    request.device = device;
    return Post(&request);
}

HRESULT DeviceRequestChannel_::RequestResetToWindow(Device_* device, HWND window)
{
    DeviceRequestStruct_TYP request{};
    request.type = DeviceRequestResetToWindow;
    request.device = device;
    request.window = window;
    return Post(&request);
}

HRESULT DeviceRequestChannel_::RequestResetAll(HWND window, BYTE flag)
{
    DeviceRequestStruct_TYP request{};
    request.type = DeviceRequestResetAll;
    request.window = window;
    request.flag = flag;
    return Post(&request);
}

HRESULT DeviceRequestChannel_::RequestReleaseAll()
{
    DeviceRequestStruct_TYP request{};
    request.type = DeviceRequestReleaseAll;
    return Post(&request);
}

void DeviceRequestChannel_::Execute(DeviceRequestStruct_TYP* request)
{
    switch (request->type)
    {
    case DeviceRequestCreate:
    {
        CreateDeviceArgsStruct_TYP* a = request->create;
        if (!a || !a->d3d)
        {
            request->result = E_INVALIDARG;
            break;
        }
        request->result = a->d3d->CreateDevice(a->adapter, a->deviceType, a->focusWindow, a->behaviourFlags,
                                               a->presentParams, a->device);
        break;
    }
    case DeviceRequestResetAll:
        request->result = ResetAllDevices(request->window, request->flag);
        break;
    case DeviceRequestReset:
        request->result = request->device && request->device->device
                              ? request->device->device->Reset(&request->device->presentParams)
                              : E_INVALIDARG;
        break;
    case DeviceRequestResetToWindow:
        request->result = request->device && request->device->ResetToWindow(request->window) ? S_OK : E_FAIL;
        break;
    case DeviceRequestReleaseAll:
        request->result = ReleaseAllDevices();
        break;
    default:
        request->result = E_INVALIDARG;
        break;
    }
}

HRESULT DeviceRequestChannel_::ResetAllDevices(HWND window, BYTE flag)
{
    for (Device_* device : devices)
    {
        if (flag)
        {
            device->resizePending = 1;
            if (!device->device) continue;
            device->device->TestCooperativeLevel();
            D3DPRESENT_PARAMETERS params = device->presentParams;
            params.BackBufferWidth = 0;
            params.BackBufferHeight = 0;
            device->device->Reset(&params);
        }
        else if (!device->ResetToWindow(window))
            return E_FAIL;
    }
    return S_OK;
}

HRESULT DeviceRequestChannel_::ReleaseAllDevices()
{
    for (Device_* device : devices)
    {
        if (device->device) device->device->Release();
        device->device = nullptr;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------
BOOL CALLBACK AllDevices_::MonitorEnumProc(HMONITOR monitor, HDC, LPRECT rect, LPARAM list)
{
    auto* monitors = reinterpret_cast<std::vector<MonitorInfoStruct_TYP>*>(list);
    monitors->push_back(MonitorInfoStruct_TYP{rect ? *rect : RECT{}, monitor});
    return TRUE;
}

bool AllDevices_::ChooseDepthStencilFormat(AdapterInfoStruct_TYP* adapter)
{
    static constexpr D3DFORMAT kDepthFormats[] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D15S1, D3DFMT_D32,
                                                  D3DFMT_D16};
    for (D3DFORMAT format : kDepthFormats)
    {
        if (FAILED(d3d->CheckDeviceFormat(adapter->adapter, adapter->deviceType, adapter->displayFormat,
                                          D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, format)))
            continue;
        if (FAILED(d3d->CheckDepthStencilMatch(adapter->adapter, adapter->deviceType, adapter->displayFormat,
                                               adapter->displayFormat, format)))
            continue;
        adapter->depthStencilFormat = format;
        return true;
    }
    return false;
}

AllDevices_::AllDevices_(const StartParamsStruct_TYP* params)
{
    try
    {
        LoadRuntimeAndCreateDevices(params);
    }
    catch (...)
    {
        // No destructor runs for a set that was never made.
        ReleaseEverything();
        throw;
    }
}

void AllDevices_::LoadRuntimeAndCreateDevices(const StartParamsStruct_TYP* params)
{
    StartParamsStruct_TYP defaults{};
    defaults.fpuPreservingDevices = 1;
    state = -1;
    runtime = LoadLibraryA("d3d9.dll");
    if (!runtime) return;
    using CreateProc = IDirect3D9*(WINAPI*)(UINT);
    auto create = reinterpret_cast<CreateProc>(GetProcAddress(runtime, "Direct3DCreate9"));
    if (!create)
    {
        FreeLibrary(runtime);
        runtime = nullptr;
        return;
    }
    d3d = create(D3D_SDK_VERSION);
    if (!d3d) return;
    state = -2;
    CreateDevices(params ? *params : defaults);
}

namespace
{
// Hardware first, then a 32-bit display format, then the most simultaneous textures.
const AdapterInfoStruct_TYP* ChoosePrimaryAdapter(const std::vector<AdapterInfoStruct_TYP>& adapters)
{
    const AdapterInfoStruct_TYP* primary = nullptr;
    for (const AdapterInfoStruct_TYP& candidate : adapters)
    {
        if (!primary)
        {
            primary = &candidate;
            continue;
        }
        if ((candidate.deviceType == D3DDEVTYPE_HAL && primary->deviceType != D3DDEVTYPE_HAL) ||
            (candidate.displayFormat == D3DFMT_A8R8G8B8 && primary->displayFormat != D3DFMT_A8R8G8B8) ||
            (candidate.displayFormat == D3DFMT_X8R8G8B8 && primary->displayFormat != D3DFMT_X8R8G8B8) ||
            primary->caps.MaxSimultaneousTextures < candidate.caps.MaxSimultaneousTextures)
            primary = &candidate;
    }
    return primary;
}

D3DPRESENT_PARAMETERS CommonPresentParams(HWND window, DWORD multiSample)
{
    D3DPRESENT_PARAMETERS common{};
    common.BackBufferCount = 1;
    common.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(multiSample);
    common.MultiSampleQuality = 0;
    common.SwapEffect = D3DSWAPEFFECT_DISCARD;
    common.hDeviceWindow = window;
    common.EnableAutoDepthStencil = TRUE;
    common.Flags = multiSample == 0 ? D3DPRESENTFLAG_LOCKABLE_BACKBUFFER : 0;
    common.FullScreen_RefreshRateInHz = 0;
    return common;
}

// The first pass makes windowed devices; the second, full-screen ones in step with the display.
D3DPRESENT_PARAMETERS PresentParamsFor(const D3DPRESENT_PARAMETERS& common, const AdapterInfoStruct_TYP& info,
                                       int pass)
{
    D3DPRESENT_PARAMETERS pp = common;
    pp.BackBufferFormat = info.displayFormat;
    pp.AutoDepthStencilFormat = info.depthStencilFormat;
    pp.Windowed = pass == 0 ? TRUE : FALSE;
    pp.PresentationInterval = pass == 0 ? D3DPRESENT_INTERVAL_DEFAULT : D3DPRESENT_INTERVAL_ONE;
    return pp;
}

bool UsesSoftwareVertexProcessing(const D3DCAPS9& caps)
{
    return !(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) || caps.MaxActiveLights < 8;
}

// Where a failed device creation has got to in its fallbacks.
struct CreationAttempt_
{
    D3DPRESENT_PARAMETERS requested;
    size_t nextSize = 0;
    bool onePixel = false;
};

// One step down after a failed creation: multisampling off, then the fixed sizes, then one pixel. False
// when nothing is left to try.
bool FallBack(AdapterInfoStruct_TYP* info, D3DPRESENT_PARAMETERS* common, CreationAttempt_* attempt)
{
    D3DPRESENT_PARAMETERS& requested = attempt->requested;
    if (requested.MultiSampleType != D3DMULTISAMPLE_NONE)
    {
        // Off for this and every later device; without it the back buffer can be lockable again, as it
        // is for devices that never had multisampling.
        common->MultiSampleType = requested.MultiSampleType = D3DMULTISAMPLE_NONE;
        common->Flags = requested.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        BroadcastSuspendMessage();
        return true;
    }
    if (attempt->nextSize < std::size(kFallbackSizes))
    {
        const BackBufferSize& size = kFallbackSizes[attempt->nextSize++];
        requested.BackBufferWidth = info->displayWidth = size.width;
        requested.BackBufferHeight = info->displayHeight = size.height;
        info->monitorRect.right = static_cast<LONG>(size.width);
        info->monitorRect.bottom = static_cast<LONG>(size.height);
        return true;
    }
    if (attempt->onePixel) return false;
    attempt->onePixel = true;
    requested.BackBufferWidth = requested.BackBufferHeight = 1;
    return true;
}
} // namespace

void AllDevices_::JoinMonitorRegions()
{
    EnumDisplayMonitors(nullptr, nullptr, MonitorEnumProc, reinterpret_cast<LPARAM>(&monitors));
    for (size_t i = 0; i < monitors.size(); ++i)
    {
        if (i == 0)
        {
            monitorRegion = CreateRectRgnIndirect(&monitors[0].rect);
            continue;
        }
        HRGN next = CreateRectRgnIndirect(&monitors[i].rect);
        CombineRgn(monitorRegion, monitorRegion, next, RGN_OR);
        DeleteObject(next);
    }
}

// Each adapter with its first device type that has caps and a depth-stencil format; the texture limits
// are the largest over them.
std::vector<AdapterInfoStruct_TYP> AllDevices_::UsableAdapters()
{
    std::vector<AdapterInfoStruct_TYP> adapters;
    static constexpr D3DDEVTYPE kDeviceTypes[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_SW, D3DDEVTYPE_REF};
    const UINT adapterCount = d3d->GetAdapterCount();
    for (UINT ordinal = 0; ordinal < adapterCount; ++ordinal)
    {
        AdapterInfoStruct_TYP info{};
        info.adapter = ordinal;
        D3DDISPLAYMODE mode{};
        if (FAILED(d3d->GetAdapterDisplayMode(ordinal, &mode))) continue;
        info.displayWidth = mode.Width;
        info.displayHeight = mode.Height;
        info.displayFormat = mode.Format;
        MONITORINFO monitorInfo{};
        monitorInfo.cbSize = sizeof(monitorInfo);
        if (GetMonitorInfoA(d3d->GetAdapterMonitor(ordinal), &monitorInfo))
            info.monitorRect = monitorInfo.rcMonitor;
        for (D3DDEVTYPE type : kDeviceTypes)
        {
            if (FAILED(d3d->CheckDeviceType(ordinal, type, mode.Format, mode.Format, TRUE))) continue;
            info.deviceType = type;
            if (FAILED(d3d->GetDeviceCaps(ordinal, type, &info.caps))) continue;
            if (!ChooseDepthStencilFormat(&info)) continue;
            maxTextureWidth = std::max<UINT>(maxTextureWidth, info.caps.MaxTextureWidth);
            maxTextureHeight = std::max<UINT>(maxTextureHeight, info.caps.MaxTextureHeight);
            maxTextureBlendStages = std::max<UINT>(maxTextureBlendStages, info.caps.MaxTextureBlendStages);
            adapters.push_back(info);
            break;
        }
    }
    return adapters;
}

// The requested multisample type lowered until every adapter supports it (2 goes straight to none).
DWORD AllDevices_::SupportedMultiSample(const std::vector<AdapterInfoStruct_TYP>& adapters, DWORD multiSample)
{
    for (const AdapterInfoStruct_TYP& info : adapters)
        while (multiSample != 0 && FAILED(d3d->CheckDeviceMultiSampleType(
                                       info.adapter, D3DDEVTYPE_HAL, info.displayFormat, TRUE,
                                       static_cast<D3DMULTISAMPLE_TYPE>(multiSample), nullptr)))
            multiSample = multiSample == 2 ? 0 : multiSample - 1;
    return multiSample;
}

// Posts creations through the device thread: at the display size (again after asking other programs
// to give up graphics resources), then down the fallbacks; with onePixelOnly a 1 x 1 back buffer only.
// A device made at one pixel keeps a 0 x 0 size, so that its first frame resets it to its window.
bool AllDevices_::RequestDevice(AdapterInfoStruct_TYP* info, DWORD behaviour, bool onePixelOnly,
                                D3DPRESENT_PARAMETERS* common, D3DPRESENT_PARAMETERS* pp,
                                IDirect3DDevice9** device)
{
    CreateDeviceArgsStruct_TYP args{d3d, info->adapter, info->deviceType, common->hDeviceWindow, behaviour,
                                    pp,  device};
    CreationAttempt_ attempt{*pp};
    auto post = [&]
    {
        *pp = attempt.requested;
        return requests.RequestCreateDevice(&args);
    };
    if (onePixelOnly)
    {
        attempt.onePixel = true;
        attempt.requested.BackBufferWidth = attempt.requested.BackBufferHeight = 1;
        if (FAILED(post())) return false;
    }
    else
    {
        attempt.requested.BackBufferWidth = info->displayWidth;
        attempt.requested.BackBufferHeight = info->displayHeight;
        HRESULT hr = post();
        if (FAILED(hr))
        {
            BroadcastSuspendMessage();
            hr = post();
        }
        while (FAILED(hr))
        {
            if (!FallBack(info, common, &attempt)) return false;
            hr = post();
        }
    }
    if (attempt.onePixel) pp->BackBufferWidth = pp->BackBufferHeight = 0;
    return true;
}

// Makes the device of one adapter in one pass; false stops the whole creation.
bool AllDevices_::CreateDeviceFor(AdapterInfoStruct_TYP* info, int pass, const StartParamsStruct_TYP& params,
                                  UINT primaryOrdinal, D3DPRESENT_PARAMETERS* common)
{
    const bool software = UsesSoftwareVertexProcessing(info->caps);
    DWORD behaviour = software ? D3DCREATE_SOFTWARE_VERTEXPROCESSING : D3DCREATE_MIXED_VERTEXPROCESSING;
    if (params.fpuPreservingDevices) behaviour |= D3DCREATE_FPU_PRESERVE;
    behaviour |= D3DCREATE_MULTITHREADED;

    D3DADAPTER_IDENTIFIER9 identifier{};
    if (SUCCEEDED(d3d->GetAdapterIdentifier(info->adapter, 0, &identifier)) &&
        identifier.VendorId == kNvidiaVendorId)
        vendorFlag = 1;

    D3DPRESENT_PARAMETERS pp = PresentParamsFor(*common, *info, pass);
    // Room in both lists first, so that only the record itself can fail once the device exists.
    deviceStore_.reserve(deviceStore_.size() + 1);
    requests.devices.reserve(requests.devices.size() + 1);
    IDirect3DDevice9* device = nullptr;
    if (!RequestDevice(info, behaviour, params.onePixelBackBuffer, common, &pp, &device)) return false;

    // Multisampling that had to be dropped is dropped in common too.
    const DWORD multiSample = static_cast<DWORD>(common->MultiSampleType);
    CountedPtr<IDirect3DDevice9> unrecorded(device);
    deviceStore_.push_back(std::make_unique<Device_>(device, info->deviceType, pp, info->displayWidth,
                                                     info->displayHeight, info->adapter, multiSample,
                                                     info->monitorRect));
    // From here the record holds the device and the device thread releases it. Without a record
    // nothing else knows the device, so it goes where it was dropped (it was made multithreaded).
    unrecorded.release();
    Device_* made = deviceStore_.back().get();
    requests.devices.push_back(made);
    if (pass == 0 && info->adapter == primaryOrdinal)
    {
        primaryDevice = made;
        primaryDisplayWidth = info->displayWidth;
        primaryDisplayHeight = info->displayHeight;
        primaryTextureCount = info->caps.MaxSimultaneousTextures;
        activeLightLimit = software ? -1 : static_cast<INT>(info->caps.MaxActiveLights);
    }
    else if (pass == 1)
        ++extraDeviceCount;
    return true;
}

void AllDevices_::CreateDevices(const StartParamsStruct_TYP& params)
{
    JoinMonitorRegions();
    // Adapter records live only here.
    std::vector<AdapterInfoStruct_TYP> adapters = UsableAdapters();
    const AdapterInfoStruct_TYP* primary = ChoosePrimaryAdapter(adapters);
    if (!primary) return;
    const UINT primaryOrdinal = primary->adapter;
    D3DPRESENT_PARAMETERS common =
        CommonPresentParams(GetDesktopWindow(), SupportedMultiSample(adapters, params.multiSampleType));

    const int passes = params.extraFullScreenDevices ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (AdapterInfoStruct_TYP& info : adapters)
            if (!CreateDeviceFor(&info, pass, params, primaryOrdinal, &common)) return;
    state = 0;
    devicesCreated = 1;
}

void AllDevices_::ReleaseEverything()
{
    requests.RequestReleaseAll();
    requests.devices.clear();
    deviceStore_.clear();
    primaryDevice = nullptr;
    if (d3d) d3d->Release();
    d3d = nullptr;
    if (runtime) FreeLibrary(runtime);
    runtime = nullptr;
    if (monitorRegion) DeleteObject(monitorRegion);
    monitorRegion = nullptr;
}

AllDevices_::~AllDevices_()
{
    const bool stopped = !CurrentGlobals || CurrentGlobals->startCount == 0;
    if (stopped)
        ReleaseEverything();
    else
        TRACE("Lumorak Detach: You MUST call LRStop befor ending up the app!\n");
    monitors.clear();
}

// ---------------------------------------------------------------------------------------------------
namespace
{
BOOL CALLBACK SuspendChild(HWND child, LPARAM handled)
{
    if (SendMessageA(child, SuspendGraphicsMessage, 0, 0) != kSuspendHandled) return TRUE;
    *reinterpret_cast<bool*>(handled) = true;
    return FALSE;
}

BOOL CALLBACK SuspendTopLevel(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return TRUE;
    if (SendMessageA(window, SuspendGraphicsMessage, 0, 0) == kSuspendHandled) return TRUE;
    bool handled = false;
    EnumChildWindows(window, SuspendChild, reinterpret_cast<LPARAM>(&handled));
    return TRUE;
}
} // namespace

void BroadcastSuspendMessage()
{
    EnumWindows(SuspendTopLevel, 0);
}
} // namespace LMK
