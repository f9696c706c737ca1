#pragma once
// The engine's Direct3D 9 device set and its device thread. Every device creation, reset and release
// runs on one worker thread (CD3DResetThread); the UI thread posts one request at a time through a
// one-slot channel and waits for the answer.
#include <memory>
#include <vector>

#include "engine/core/lr_core_api.h"
#include "engine/core/material_apply_validation.h"
#include "platform/d3d9/d3d9.h"
#include "platform/mfc/afx_thread.h"
#include "platform/win32/winuser.h"

namespace LMK
{
struct MonitorInfoStruct_TYP
{
    RECT rect;
    HMONITOR monitor;
};

// One usable adapter; lives only while the devices are made.
struct AdapterInfoStruct_TYP
{
    UINT adapter;
    UINT displayWidth;
    UINT displayHeight;
    RECT monitorRect;
    D3DFORMAT displayFormat;
    D3DFORMAT depthStencilFormat;
    D3DDEVTYPE deviceType;
    D3DCAPS9 caps;
};

class Device_
{
public:
    Device_(IDirect3DDevice9* d3dDevice, D3DDEVTYPE type, const D3DPRESENT_PARAMETERS& params, UINT width,
            UINT height, UINT adapterOrdinal, DWORD multiSample, const RECT& rect);
    Device_(const Device_&) = delete;
    Device_& operator=(const Device_&) = delete;
    // Does not release the Direct3D device: that is done on the device thread.
    virtual ~Device_() = default;

    // Device thread only. Resets to the window's client size (the display size without a window),
    // falling back through the fixed sizes; false when every size fails.
    bool ResetToWindow(HWND window);

    IDirect3DDevice9* device;
    D3DDEVTYPE deviceType;
    D3DPRESENT_PARAMETERS presentParams; // as created or last reset
    UINT displayWidth;
    UINT displayHeight;
    UINT adapter;
    DWORD multiSampleType; // as created; presentParams may later hold another
    RECT backBufferRect;   // a size fallback or a reset writes the new width and height into right, bottom
    StageValidationStruct_TYP stageValidation[kStageValidationEntries]; // material application's verdicts
    BYTE resizePending; // created 0 x 0: the first frame resets it to its window
};

enum DeviceRequestType : DWORD
{
    DeviceRequestCreate = 0,
    DeviceRequestResetAll = 1,
    DeviceRequestReset = 2,
    DeviceRequestResetToWindow = 3,
    DeviceRequestReleaseAll = 4,
    DeviceRequestQuit = 5,
};

struct CreateDeviceArgsStruct_TYP
{
    IDirect3D9* d3d;
    UINT adapter;
    D3DDEVTYPE deviceType;
    HWND focusWindow;
    DWORD behaviourFlags;
    D3DPRESENT_PARAMETERS* presentParams;
    IDirect3DDevice9** device;
};

struct DeviceRequestStruct_TYP
{
    Device_* device;
    HWND window;
    CreateDeviceArgsStruct_TYP* create;
    DWORD type; // DeviceRequestType
    BYTE flag;
    HRESULT result;
};

class DeviceRequestChannel_;

class CD3DResetThread : public CWinThread
{
public:
    explicit CD3DResetThread(DeviceRequestChannel_* owner);
    ~CD3DResetThread() override = default;
    int Run() override;
    static UINT ThreadProcedure(LPVOID thread);

    DeviceRequestChannel_* channel;
};

class DeviceRequestChannel_
{
public:
    DeviceRequestChannel_();
    DeviceRequestChannel_(const DeviceRequestChannel_&) = delete;
    DeviceRequestChannel_& operator=(const DeviceRequestChannel_&) = delete;
    ~DeviceRequestChannel_();

    // Posts one request and waits for its answer. E_FAIL when the device thread has ended.
    HRESULT Post(DeviceRequestStruct_TYP* request);
    HRESULT RequestCreateDevice(CreateDeviceArgsStruct_TYP* args);
    HRESULT RequestReset(Device_* device);
    HRESULT RequestResetToWindow(Device_* device, HWND window);
    HRESULT RequestResetAll(HWND window, BYTE flag);
    HRESULT RequestReleaseAll();

    // Device thread.
    HRESULT ResetAllDevices(HWND window, BYTE flag);
    HRESULT ReleaseAllDevices();
    void Execute(DeviceRequestStruct_TYP* request);

    std::vector<Device_*> devices; // creation order
    CRITICAL_SECTION lock{};
    HANDLE requestEvent = nullptr;
    HANDLE doneEvent = nullptr;
    HANDLE thread = nullptr;
    DeviceRequestStruct_TYP* pending = nullptr;

private:
    void CloseKernelObjects();
    // WAIT_OBJECT_0 once the device thread answered the pending request.
    DWORD WaitForAnswer();

    std::unique_ptr<CD3DResetThread> threadObject_; // joined by the destructor before it goes
};

class AllDevices_
{
public:
    static constexpr DWORD kNvidiaVendorId = 0x10DE;

    explicit AllDevices_(const StartParamsStruct_TYP* params);
    AllDevices_(const AllDevices_&) = delete;
    AllDevices_& operator=(const AllDevices_&) = delete;
    virtual ~AllDevices_();

    bool ChooseDepthStencilFormat(AdapterInfoStruct_TYP* adapter);
    static BOOL CALLBACK MonitorEnumProc(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM list);

    UINT primaryDisplayWidth = 0;
    UINT primaryDisplayHeight = 0;
    UINT maxTextureWidth = 0;
    UINT maxTextureHeight = 0;
    UINT maxTextureBlendStages = 0;
    Device_* primaryDevice = nullptr;
    DeviceRequestChannel_ requests;
    BYTE vendorFlag = 0;
    INT state = -1; // -1 no runtime; -2 devices not all made; 0 ready
    BYTE devicesCreated = 0;
    IDirect3D9* d3d = nullptr;
    HMODULE runtime = nullptr;
    HRGN monitorRegion = nullptr;
    std::vector<MonitorInfoStruct_TYP> monitors;
    UINT primaryTextureCount = 0;
    INT activeLightLimit = 0; // -1 with software vertex processing
    UINT extraDeviceCount = 0;

private:
    void LoadRuntimeAndCreateDevices(const StartParamsStruct_TYP* params);
    // Releases the devices, the Direct3D object and the runtime.
    void ReleaseEverything();
    void CreateDevices(const StartParamsStruct_TYP& params);
    void JoinMonitorRegions();
    std::vector<AdapterInfoStruct_TYP> UsableAdapters();
    DWORD SupportedMultiSample(const std::vector<AdapterInfoStruct_TYP>& adapters, DWORD multiSample);
    bool CreateDeviceFor(AdapterInfoStruct_TYP* info, int pass, const StartParamsStruct_TYP& params,
                         UINT primaryOrdinal, D3DPRESENT_PARAMETERS* common);
    bool RequestDevice(AdapterInfoStruct_TYP* info, DWORD behaviour, bool onePixelOnly,
                       D3DPRESENT_PARAMETERS* common, D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** device);

    std::vector<std::unique_ptr<Device_>> deviceStore_; // what requests.devices points at
};

// Asks other programs' windows to give up graphics resources; this process's windows are skipped.
void BroadcastSuspendMessage();
} // namespace LMK
