#pragma once
// Test hooks of the software Direct3D 9 device: the adapter list it reports, device loss and the
// number of worker threads. The desktop never calls these; the defaults describe one capable adapter.
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace ferolt::hooks
{
struct D3D9Adapter
{
    RECT monitorRect = {0, 0, 1920, 1080};
    HMONITOR monitor = nullptr; // null: the window layer's monitor at the rectangle's top-left corner
    D3DFORMAT displayFormat = D3DFMT_X8R8G8B8;
    UINT refreshRate = 60;
    DWORD vendorId = 0xFE01;
    DWORD deviceId = 0x0009;
    std::string description = "Ferolt software rasterizer";
    // Device types CheckDeviceType and CreateDevice accept.
    std::vector<D3DDEVTYPE> deviceTypes = {D3DDEVTYPE_HAL, D3DDEVTYPE_SW, D3DDEVTYPE_REF};
    DWORD maxTextureWidth = 4096;
    DWORD maxTextureHeight = 4096;
    DWORD maxTextureBlendStages = 8;
    DWORD maxSimultaneousTextures = 8;
    DWORD maxActiveLights = 8;
    DWORD maxUserClipPlanes = 6;
    bool hwTransformAndLight = true;
    // Depth-stencil formats CheckDeviceFormat(D3DUSAGE_DEPTHSTENCIL) and CheckDepthStencilMatch accept.
    std::vector<D3DFORMAT> depthFormats = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D15S1,
                                           D3DFMT_D32,   D3DFMT_D16,     D3DFMT_D24X8};
    // Multisample types CheckDeviceMultiSampleType accepts (NONE is always accepted).
    std::vector<D3DMULTISAMPLE_TYPE> multiSampleTypes = {D3DMULTISAMPLE_2_SAMPLES, D3DMULTISAMPLE_4_SAMPLES};
    // Back-buffer sizes at which CreateDevice and Reset fail with D3DERR_NOTAVAILABLE; {0, 0} fails the
    // display-size buffer that a 0 x 0 request would have made.
    std::vector<SIZE> failingBackBufferSizes;
    // Every CreateDevice with multisampling on fails.
    bool failMultiSampledDevices = false;
    // Sizes at which CreateTexture of a render-target texture fails with D3DERR_OUTOFVIDEOMEMORY.
    std::vector<SIZE> failingRenderTargetTextureSizes;
};

// Replaces the adapter list seen by IDirect3D9 objects created afterwards.
void SetD3D9Adapters(const std::vector<D3D9Adapter>& adapters);
std::vector<D3D9Adapter> GetD3D9Adapters();
// Back to one default adapter, all threads, nothing lost.
void ResetD3D9Hooks();

// Worker threads of devices created afterwards; 0 means one per core.
void SetD3D9WorkerThreads(unsigned count);
unsigned GetD3D9WorkerThreads();
// Whether draws of few pixels stay on the calling thread (the default). Tests that compare thread counts
// on small targets turn it off, so that the workers draw their scenes too.
void SetD3D9SmallDrawsInline(bool inlineDraws);
bool GetD3D9SmallDrawsInline();

// Puts a device into a cooperative-level state: D3DERR_DEVICELOST (renders nothing, Reset fails),
// D3DERR_DEVICENOTRESET (renders nothing until Reset) or D3D_OK.
void SetD3D9DeviceState(IDirect3DDevice9* device, HRESULT state);
} // namespace ferolt::hooks
