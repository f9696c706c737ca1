// The Direct3D object: adapters, their modes, formats and capabilities, and device creation.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "platform/d3d9/device.h"
#include "platform/win32/builtin_modules.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::hooks
{
namespace
{
std::mutex g_hookMutex;
std::vector<D3D9Adapter>& Adapters()
{
    static std::vector<D3D9Adapter> adapters(1);
    return adapters;
}
unsigned g_threads = 0;
std::atomic<bool> g_smallDrawsInline{true}; // read once a draw: no lock
} // namespace

void SetD3D9Adapters(const std::vector<D3D9Adapter>& adapters)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    Adapters() = adapters;
}

std::vector<D3D9Adapter> GetD3D9Adapters()
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return Adapters();
}

void ResetD3D9Hooks()
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    Adapters() = std::vector<D3D9Adapter>(1);
    g_threads = 0;
    g_smallDrawsInline.store(true);
}

void SetD3D9WorkerThreads(unsigned count)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_threads = count;
}

unsigned GetD3D9WorkerThreads()
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    if (g_threads) return g_threads;
    unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

void SetD3D9SmallDrawsInline(bool inlineDraws)
{
    g_smallDrawsInline.store(inlineDraws);
}

bool GetD3D9SmallDrawsInline()
{
    return g_smallDrawsInline.load(std::memory_order_relaxed);
}

void SetD3D9DeviceState(IDirect3DDevice9* device, HRESULT state)
{
    if (auto* d = ferolt::d3d9::AsDevice(device)) d->SetCooperativeState(state);
}
} // namespace ferolt::hooks

namespace ferolt::d3d9
{
// From present.cpp: the window layer's monitor at a rectangle's top-left corner.
HMONITOR MonitorAt(const RECT& monitorRect);

namespace
{
bool IsDisplayFormat(D3DFORMAT f)
{
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5 ||
           f == D3DFMT_A1R5G5B5;
}

// Back-buffer formats that go with a display format in windowed and full-screen modes.
bool BackBufferMatches(D3DFORMAT display, D3DFORMAT back)
{
    if (back == D3DFMT_UNKNOWN) return true;
    if (display == D3DFMT_X8R8G8B8 || display == D3DFMT_A8R8G8B8)
        return back == D3DFMT_X8R8G8B8 || back == D3DFMT_A8R8G8B8;
    if (display == D3DFMT_X1R5G5B5 || display == D3DFMT_A1R5G5B5)
        return back == D3DFMT_X1R5G5B5 || back == D3DFMT_A1R5G5B5;
    return back == display;
}
} // namespace

Direct3D9::Direct3D9() : adapters_(hooks::GetD3D9Adapters()) {}

bool Direct3D9::SupportsType(UINT adapter, D3DDEVTYPE type) const
{
    const auto* a = Adapter(adapter);
    return a && std::find(a->deviceTypes.begin(), a->deviceTypes.end(), type) != a->deviceTypes.end();
}

HRESULT Direct3D9::GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* id)
{
    const auto* a = Adapter(adapter);
    if (!a || !id) return Refuse("Direct3D9.GetAdapterIdentifier.NullPointer");
    std::memset(id, 0, sizeof(*id));
    std::snprintf(id->Driver, sizeof(id->Driver), "%s", "ferolt_d3d9");
    std::snprintf(id->Description, sizeof(id->Description), "%s", a->description.c_str());
    std::snprintf(id->DeviceName, sizeof(id->DeviceName), "\\\\.\\DISPLAY%u", adapter + 1);
    id->DriverVersion.QuadPart = 0x0009000000000001LL;
    id->VendorId = a->vendorId;
    id->DeviceId = a->deviceId;
    id->DeviceIdentifier.Data1 = 0x46e1d3d9u + adapter;
    id->WHQLLevel = 1;
    return D3D_OK;
}

UINT Direct3D9::GetAdapterModeCount(UINT adapter, D3DFORMAT format)
{
    const auto* a = Adapter(adapter);
    return a && format == a->displayFormat ? 1 : 0;
}

HRESULT Direct3D9::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* pMode)
{
    const auto* a = Adapter(adapter);
    if (!a) return Refuse("Direct3D9.EnumAdapterModes.NoAdapter");
    if (!pMode) return Refuse("Direct3D9.EnumAdapterModes.NullPointer");
    // An adapter has the one mode of its display format.
    if (format != a->displayFormat) return Refuse("Direct3D9.EnumAdapterModes.FormatMismatch");
    if (mode != 0) return Refuse("Direct3D9.EnumAdapterModes.ModeOutOfRange");
    return GetAdapterDisplayMode(adapter, pMode);
}

HRESULT Direct3D9::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* pMode)
{
    const auto* a = Adapter(adapter);
    if (!a || !pMode) return Refuse("Direct3D9.GetAdapterDisplayMode.NullPointer");
    pMode->Width = static_cast<UINT>(std::max<LONG>(0, a->monitorRect.right - a->monitorRect.left));
    pMode->Height = static_cast<UINT>(std::max<LONG>(0, a->monitorRect.bottom - a->monitorRect.top));
    pMode->RefreshRate = a->refreshRate;
    pMode->Format = a->displayFormat;
    return D3D_OK;
}

HRESULT Direct3D9::CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT backFormat, BOOL windowed)
{
    const auto* a = Adapter(adapter);
    if (!a) return Refuse("Direct3D9.CheckDeviceType.NoAdapter");
    if (!SupportsType(adapter, type)) return D3DERR_NOTAVAILABLE;
    if (!IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (windowed && adapterFormat != a->displayFormat) return D3DERR_NOTAVAILABLE;
    return BackBufferMatches(adapterFormat, backFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                     D3DRESOURCETYPE rtype, D3DFORMAT format)
{
    const auto* a = Adapter(adapter);
    if (!a) return Refuse("Direct3D9.CheckDeviceFormat.NoAdapter");
    if (!SupportsType(adapter, type) || !IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    const FormatInfo& info = GetFormatInfo(format);
    if (usage & D3DUSAGE_DEPTHSTENCIL)
    {
        if (!info.depth || rtype == D3DRTYPE_TEXTURE || rtype == D3DRTYPE_CUBETEXTURE)
            return D3DERR_NOTAVAILABLE;
        bool listed =
            std::find(a->depthFormats.begin(), a->depthFormats.end(), format) != a->depthFormats.end();
        return listed ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    if (usage & D3DUSAGE_RENDERTARGET) return info.renderTarget ? D3D_OK : D3DERR_NOTAVAILABLE;
    switch (rtype)
    {
    case D3DRTYPE_SURFACE:
    case D3DRTYPE_TEXTURE:
    case D3DRTYPE_CUBETEXTURE:
        return info.texture ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_VERTEXBUFFER:
        return format == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
    case D3DRTYPE_INDEXBUFFER:
        return format == D3DFMT_INDEX16 || format == D3DFMT_INDEX32 ? D3D_OK : D3DERR_NOTAVAILABLE;
    default:
        return D3DERR_NOTAVAILABLE;
    }
}

HRESULT Direct3D9::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT, BOOL,
                                              D3DMULTISAMPLE_TYPE ms, DWORD* quality)
{
    const auto* a = Adapter(adapter);
    if (!a) return Refuse("Direct3D9.CheckDeviceMultiSampleType.NoAdapter");
    if (quality) *quality = 0;
    if (!SupportsType(adapter, type)) return D3DERR_NOTAVAILABLE;
    bool ok = ms == D3DMULTISAMPLE_NONE || std::find(a->multiSampleTypes.begin(), a->multiSampleTypes.end(),
                                                     ms) != a->multiSampleTypes.end();
    if (ok && quality) *quality = 1;
    return ok ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                          D3DFORMAT rtFormat, D3DFORMAT dsFormat)
{
    const auto* a = Adapter(adapter);
    if (!a) return Refuse("Direct3D9.CheckDepthStencilMatch.NoAdapter");
    if (!SupportsType(adapter, type) || !IsDisplayFormat(adapterFormat)) return D3DERR_NOTAVAILABLE;
    if (!GetFormatInfo(rtFormat).renderTarget) return D3DERR_NOTAVAILABLE;
    bool listed =
        std::find(a->depthFormats.begin(), a->depthFormats.end(), dsFormat) != a->depthFormats.end();
    return listed ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D9::CheckDeviceFormatConversion(UINT adapter, D3DDEVTYPE type, D3DFORMAT src, D3DFORMAT dst)
{
    if (!Adapter(adapter)) return Refuse("Direct3D9.CheckDeviceFormatConversion.NoAdapter");
    if (!SupportsType(adapter, type)) return D3DERR_NOTAVAILABLE;
    return GetFormatInfo(src).renderTarget && GetFormatInfo(dst).renderTarget ? D3D_OK : D3DERR_NOTAVAILABLE;
}

void Direct3D9::FillCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* c) const
{
    const auto& a = *Adapter(adapter);
    std::memset(c, 0, sizeof(*c));
    c->DeviceType = type;
    c->AdapterOrdinal = adapter;
    c->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    c->DevCaps = D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                 D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX |
                 D3DDEVCAPS_CANRENDERAFTERFLIP | D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX |
                 D3DDEVCAPS_HWRASTERIZATION;
    if (a.hwTransformAndLight) c->DevCaps |= D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    c->PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW |
                           D3DPMISCCAPS_CULLCCW | D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_TSSARGTEMP |
                           D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_PERSTAGECONSTANT;
    c->RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE |
                    D3DPRASTERCAPS_MIPMAPLODBIAS | D3DPRASTERCAPS_ZFOG | D3DPRASTERCAPS_WFOG |
                    D3DPRASTERCAPS_FOGRANGE | D3DPRASTERCAPS_SCISSORTEST;
    c->ZCmpCaps = c->AlphaCmpCaps = 0xff;
    c->SrcBlendCaps = c->DestBlendCaps = 0x3fff;
    c->ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB |
                   D3DPSHADECAPS_ALPHAGOURAUDBLEND | D3DPSHADECAPS_FOGGOURAUD;
    c->TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_PROJECTED |
                     D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPMAP | D3DPTEXTURECAPS_MIPCUBEMAP;
    c->TextureFilterCaps = c->CubeTextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR |
                                                      D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR |
                                                      D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    c->TextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP |
                            D3DPTADDRESSCAPS_BORDER | D3DPTADDRESSCAPS_INDEPENDENTUV |
                            D3DPTADDRESSCAPS_MIRRORONCE;
    c->LineCaps =
        D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP | D3DLINECAPS_FOG;
    c->MaxTextureWidth = std::min<DWORD>(a.maxTextureWidth, kMaxSurfaceEdge);
    c->MaxTextureHeight = std::min<DWORD>(a.maxTextureHeight, kMaxSurfaceEdge);
    c->MaxTextureRepeat = 8192;
    c->MaxTextureAspectRatio = std::max(c->MaxTextureWidth, c->MaxTextureHeight);
    c->MaxAnisotropy = 1;
    c->MaxVertexW = 1e10f;
    c->GuardBandLeft = c->GuardBandTop = -8192.0f;
    c->GuardBandRight = c->GuardBandBottom = 8192.0f;
    c->StencilCaps = 0xff;
    c->FVFCaps = 8 | D3DFVFCAPS_PSIZE;
    c->TextureOpCaps = 0x03ffffff;
    c->MaxTextureBlendStages = std::min<DWORD>(a.maxTextureBlendStages, kMaxStages);
    c->MaxSimultaneousTextures = std::min<DWORD>(a.maxSimultaneousTextures, kMaxStages);
    c->VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 |
                              D3DVTXPCAPS_DIRECTIONALLIGHTS | D3DVTXPCAPS_POSITIONALLIGHTS |
                              D3DVTXPCAPS_LOCALVIEWER;
    c->MaxActiveLights = std::min<DWORD>(a.maxActiveLights, kMaxActiveLights);
    c->MaxUserClipPlanes = std::min<DWORD>(a.maxUserClipPlanes, kMaxClipPlanes);
    c->MaxPointSize = 64.0f;
    c->MaxPrimitiveCount = 0x7fffffff;
    c->MaxVertexIndex = 0x7fffffff;
    c->MaxStreams = kMaxStreams;
    c->MaxStreamStride = 255;
    c->MasterAdapterOrdinal = adapter;
    c->NumberOfAdaptersInGroup = 1;
    c->NumSimultaneousRTs = 1;
}

HRESULT Direct3D9::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps)
{
    if (!Adapter(adapter)) return Refuse("Direct3D9.GetDeviceCaps.NoAdapter");
    if (!caps) return Refuse("Direct3D9.GetDeviceCaps.NullPointer");
    if (!SupportsType(adapter, type)) return D3DERR_NOTAVAILABLE;
    FillCaps(adapter, type, caps);
    return D3D_OK;
}

HMONITOR Direct3D9::GetAdapterMonitor(UINT adapter)
{
    const auto* a = Adapter(adapter);
    if (!a) return nullptr;
    if (a->monitor) return a->monitor;
    return MonitorAt(a->monitorRect);
}

HRESULT Direct3D9::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags,
                                D3DPRESENT_PARAMETERS* pp, IDirect3DDevice9** out)
{
    if (!out) return Refuse("Direct3D9.CreateDevice.NullPointer");
    *out = nullptr;
    if (!Adapter(adapter)) return Refuse("Direct3D9.CreateDevice.NoAdapter");
    if (!pp) return Refuse("Direct3D9.CreateDevice.NullPointer");
    if (!SupportsType(adapter, type)) return D3DERR_NOTAVAILABLE;
    Device* device = nullptr;
    HRESULT hr = Device::Create(this, adapter, type, focus, flags, pp, &device);
    if (SUCCEEDED(hr)) *out = device;
    return hr;
}
} // namespace ferolt::d3d9

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new ferolt::d3d9::Direct3D9();
}

namespace ferolt::d3d9
{
void RegisterModule()
{
    win32::RegisterBuiltinModule("d3d9.dll", {win32::Export("Direct3DCreate9", &Direct3DCreate9)});
}
} // namespace ferolt::d3d9

// Every program that links the device can load "d3d9.dll" without calling RegisterModule first.
FEROLT_BUILTIN_MODULE(ferolt_d3d9_module_anchor, "d3d9.dll",
                      ferolt::win32::Export("Direct3DCreate9", &Direct3DCreate9));
