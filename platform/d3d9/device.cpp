// Device creation, reset and loss, the state it keeps with Direct3D 9's documented defaults, render
// targets and resource creation.
#include "platform/d3d9/device.h"
#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/validation.h"
#include "platform/win32/out_of_memory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ferolt::d3d9
{
// From present.cpp: the client size of a window, false when it cannot be read.
bool WindowClientSize(HWND window, UINT* width, UINT* height);

namespace
{
using Lock = std::lock_guard<std::recursive_mutex>;
using validation::Refuse;

DWORD FloatBits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

D3DMATRIX Identity()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
        {
            float s = 0;
            for (int k = 0; k < 4; ++k)
                s += a.m[i][k] * b.m[k][j];
            r.m[i][j] = s;
        }
    return r;
}

bool SizeIn(const std::vector<SIZE>& sizes, UINT w, UINT h)
{
    for (const SIZE& s : sizes)
        if (static_cast<UINT>(s.cx) == w && static_cast<UINT>(s.cy) == h) return true;
    return false;
}

bool SizeFails(const hooks::D3D9Adapter& a, UINT w, UINT h)
{
    return SizeIn(a.failingBackBufferSizes, w, h);
}

bool Intersect(const RECT& a, const RECT& b, RECT* out)
{
    out->left = std::max(a.left, b.left);
    out->top = std::max(a.top, b.top);
    out->right = std::min(a.right, b.right);
    out->bottom = std::min(a.bottom, b.bottom);
    return out->left < out->right && out->top < out->bottom;
}
// Binds a resource of this device to a counted slot: the new one gains a reference, the old one
// loses its own. False (and the slot unchanged) for an interface this device did not make.
template <class Impl, class Iface> bool BindCounted(Impl*& slot, Iface* incoming)
{
    Impl* impl = nullptr;
    if (incoming)
    {
        impl = dynamic_cast<Impl*>(incoming);
        if (!impl) return false;
        impl->AddRef();
    }
    if (slot) slot->Release();
    slot = impl;
    return true;
}
} // namespace

Device* AsDevice(IDirect3DDevice9* device)
{
    return dynamic_cast<Device*>(device);
}

Surface* AsSurface(IDirect3DSurface9* surface)
{
    return dynamic_cast<Surface*>(surface);
}

// ---- creation, destruction
// -----------------------------------------------------------------------------------
Device::Device(Direct3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags)
    : d3d_(d3d), adapter_(adapter), type_(type), focus_(focus), flags_(flags),
      anchor_(std::make_shared<DeviceAnchor>()),
      pool_(std::make_unique<WorkerPool>(hooks::GetD3D9WorkerThreads()))
{
    d3d_->AddRef();
    anchor_->device = this;
    softwareVP_ = (flags & D3DCREATE_SOFTWARE_VERTEXPROCESSING) != 0;
}

HRESULT Device::Create(Direct3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags,
                       D3DPRESENT_PARAMETERS* pp, Device** out)
{
    *out = nullptr;
    const DWORD vp = flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                              D3DCREATE_MIXED_VERTEXPROCESSING);
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
        vp != D3DCREATE_MIXED_VERTEXPROCESSING)
        return Refuse("Device.Create.BadVertexProcessing");
    if (!pp->hDeviceWindow && !focus) return Refuse("Device.Create.NoWindow");
    auto* device = new Device(d3d, adapter, type, focus, flags);
    HRESULT hr = device->CreateSwapChain(*pp);
    if (FAILED(hr))
    {
        device->Release();
        return hr;
    }
    // The caller's record gets the sizes and formats that were filled in.
    *pp = device->pp_;
    device->SetDefaultState();
    *out = device;
    return D3D_OK;
}

Device::~Device()
{
    FlushDraws();
    if (flushThread_.joinable())
    {
        {
            std::lock_guard<std::mutex> lock(flushMutex_);
            stopFlushing_ = true;
        }
        flushChanged_.notify_all();
        flushThread_.join();
    }
    ReleaseBindings();
    ReleaseSwapChain();
    {
        std::lock_guard<std::mutex> lock(anchor_->mutex);
        anchor_->device = nullptr;
    }
    d3d_->Release();
}

HRESULT Device::CreateSwapChain(const D3DPRESENT_PARAMETERS& in, bool injectFailures)
{
    const hooks::D3D9Adapter& a = *d3d_->Adapter(adapter_);
    D3DPRESENT_PARAMETERS pp = in;
    if (pp.SwapEffect < D3DSWAPEFFECT_DISCARD || pp.SwapEffect > D3DSWAPEFFECT_COPY)
        return Refuse("Device.SwapChain.BadSwapEffect");
    if (pp.BackBufferCount > 3) return Refuse("Device.SwapChain.TooManyBackBuffers");
    if (pp.BackBufferCount == 0) pp.BackBufferCount = 1;
    if (pp.BackBufferFormat == D3DFMT_UNKNOWN)
    {
        if (!pp.Windowed) return Refuse("Device.SwapChain.FullscreenUnknownFormat");
        pp.BackBufferFormat = a.displayFormat;
    }
    if (!GetFormatInfo(pp.BackBufferFormat).renderTarget)
        return Refuse("Device.SwapChain.NotRenderTargetFormat");
    if (pp.BackBufferWidth == 0 || pp.BackBufferHeight == 0)
    {
        if (injectFailures && SizeFails(a, 0, 0)) return D3DERR_NOTAVAILABLE;
        HWND window = pp.hDeviceWindow ? pp.hDeviceWindow : focus_;
        UINT w = 0, h = 0;
        if (!pp.Windowed || !WindowClientSize(window, &w, &h) || w == 0 || h == 0)
        {
            w = static_cast<UINT>(std::max<LONG>(1, a.monitorRect.right - a.monitorRect.left));
            h = static_cast<UINT>(std::max<LONG>(1, a.monitorRect.bottom - a.monitorRect.top));
        }
        if (pp.BackBufferWidth == 0) pp.BackBufferWidth = w;
        if (pp.BackBufferHeight == 0) pp.BackBufferHeight = h;
    }
    if (pp.BackBufferWidth > kMaxSurfaceEdge || pp.BackBufferHeight > kMaxSurfaceEdge)
        return D3DERR_OUTOFVIDEOMEMORY;
    if (injectFailures && SizeFails(a, pp.BackBufferWidth, pp.BackBufferHeight)) return D3DERR_NOTAVAILABLE;
    if (pp.MultiSampleType != D3DMULTISAMPLE_NONE)
    {
        if (a.failMultiSampledDevices) return D3DERR_NOTAVAILABLE;
        if (std::find(a.multiSampleTypes.begin(), a.multiSampleTypes.end(), pp.MultiSampleType) ==
            a.multiSampleTypes.end())
            return Refuse("Device.SwapChain.UnsupportedMultiSample");
        // Multisampled back buffers cannot be locked.
        if (pp.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER)
            return Refuse("Device.SwapChain.LockableMultiSample");
    }
    if (pp.EnableAutoDepthStencil)
    {
        if (std::find(a.depthFormats.begin(), a.depthFormats.end(), pp.AutoDepthStencilFormat) ==
            a.depthFormats.end())
            return Refuse("Device.SwapChain.UnsupportedDepthFormat");
    }

    D3DSURFACE_DESC d{};
    d.Format = pp.BackBufferFormat;
    d.Type = D3DRTYPE_SURFACE;
    d.Usage = D3DUSAGE_RENDERTARGET;
    d.Pool = D3DPOOL_DEFAULT;
    d.MultiSampleType = pp.MultiSampleType;
    d.MultiSampleQuality = pp.MultiSampleQuality;
    d.Width = pp.BackBufferWidth;
    d.Height = pp.BackBufferHeight;
    // Multisampled buffers are rendered single-sampled; reading them back still works internally.
    Surface* back =
        Surface::Create(anchor_, d, nullptr, (pp.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0);
    if (!back) return D3DERR_OUTOFVIDEOMEMORY;
    back->NotDefaultPoolResource();
    Surface* depth = nullptr;
    if (pp.EnableAutoDepthStencil)
    {
        d.Format = pp.AutoDepthStencilFormat;
        d.Usage = D3DUSAGE_DEPTHSTENCIL;
        depth = Surface::Create(anchor_, d, nullptr, false);
        if (!depth)
        {
            back->Release();
            return D3DERR_OUTOFVIDEOMEMORY;
        }
        depth->NotDefaultPoolResource();
    }
    pp_ = pp;
    Stale(kStaleAll);
    backBuffer_ = back;
    autoDepth_ = depth;
    renderTarget_ = back;
    renderTarget_->AddRef();
    if (autoDepth_)
    {
        depthStencil_ = autoDepth_;
        depthStencil_->AddRef();
    }
    return D3D_OK;
}

void Device::ReleaseSwapChain()
{
    if (backBuffer_) backBuffer_->Release();
    if (autoDepth_) autoDepth_->Release();
    backBuffer_ = autoDepth_ = nullptr;
}

void Device::ReleaseBindings()
{
    Stale(kStaleAll);
    auto drop = [](auto*& p)
    {
        if (p) p->Release();
        p = nullptr;
    };
    drop(renderTarget_);
    drop(depthStencil_);
    for (auto*& t : textures_)
        drop(t);
    for (auto*& s : streams_)
        drop(s);
    drop(indices_);
    drop(decl_);
}

void Device::SetDefaultState()
{
    Stale(kStaleAll);
    DWORD* rs = renderStates_;
    std::fill(std::begin(renderStates_), std::end(renderStates_), 0u);
    rs[D3DRS_ZENABLE] = depthStencil_ ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGEND] = FloatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xffffffffu;
    rs[D3DRS_TEXTUREFACTOR] = 0xffffffffu;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_POINTSIZE] = FloatBits(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = FloatBits(1.0f);
    rs[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xffffffffu;
    rs[D3DRS_POINTSIZE_MAX] = FloatBits(64.0f);
    rs[D3DRS_COLORWRITEENABLE] = rs[D3DRS_COLORWRITEENABLE1] = rs[D3DRS_COLORWRITEENABLE2] =
        rs[D3DRS_COLORWRITEENABLE3] = 0xf;
    rs[D3DRS_BLENDOP] = rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = 3; // cubic
    rs[D3DRS_NORMALDEGREE] = 1;   // linear
    rs[D3DRS_MINTESSELLATIONLEVEL] = rs[D3DRS_MAXTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[D3DRS_ADAPTIVETESS_Z] = FloatBits(1.0f);
    rs[D3DRS_CCW_STENCILFAIL] = rs[D3DRS_CCW_STENCILZFAIL] = rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_BLENDFACTOR] = 0xffffffffu;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;

    for (DWORD s = 0; s < kMaxStages; ++s)
    {
        DWORD* t = stageStates_[s];
        std::fill(t, t + 33, 0u);
        t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_COLORARG0] = t[D3DTSS_ALPHAARG0] = t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = s;
        t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        texture_[s] = Identity();
    }
    for (auto& smp : samplerStates_)
    {
        std::fill(smp, smp + 14, 0u);
        smp[D3DSAMP_ADDRESSU] = smp[D3DSAMP_ADDRESSV] = smp[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        smp[D3DSAMP_MAGFILTER] = smp[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        smp[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        smp[D3DSAMP_MAXANISOTROPY] = 1;
    }
    world_ = view_ = projection_ = Identity();
    std::memset(&material_, 0, sizeof(material_));
    lights_.clear();
    std::memset(clipPlanes_, 0, sizeof(clipPlanes_));
    const int w = renderTarget_ ? renderTarget_->Width() : 0, h = renderTarget_ ? renderTarget_->Height() : 0;
    viewport_ = {0, 0, static_cast<DWORD>(w), static_cast<DWORD>(h), 0.0f, 1.0f};
    scissor_ = {0, 0, w, h};
    fvf_ = 0;
}

// ---- cooperative level
// ---------------------------------------------------------------------------------------
void Device::SetCooperativeState(HRESULT state)
{
    Lock lock(mutex_);
    FlushDraws();
    coopState_ = state;
}

HRESULT Device::TestCooperativeLevel()
{
    Lock lock(mutex_);
    return coopState_;
}

HRESULT Device::Reset(D3DPRESENT_PARAMETERS* pp)
{
    Lock lock(mutex_);
    FlushDraws();
    if (!pp) return Refuse("Device.Reset.NullPointer");
    if (coopState_ == D3DERR_DEVICELOST) return D3DERR_DEVICELOST;
    // Documented: the application must release every default-pool resource first.
    if (anchor_->defaultPoolResources.load() > 0) return Refuse("Device.Reset.DefaultPoolResourcesAlive");
    ReleaseBindings();
    ReleaseSwapChain();
    inScene_ = false;
    HRESULT hr = CreateSwapChain(*pp);
    if (FAILED(hr))
    {
        // Without a swap chain the device can do nothing but be reset again.
        D3DPRESENT_PARAMETERS fallback = pp_;
        fallback.BackBufferWidth = fallback.BackBufferHeight = 1;
        fallback.MultiSampleType = D3DMULTISAMPLE_NONE;
        fallback.EnableAutoDepthStencil = FALSE;
        fallback.Flags = 0;
        if (SUCCEEDED(CreateSwapChain(fallback, false))) SetDefaultState();
        coopState_ = D3DERR_DEVICENOTRESET;
        return hr;
    }
    *pp = pp_;
    SetDefaultState();
    coopState_ = D3D_OK;
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D9** pp)
{
    if (!pp) return Refuse("Device.GetDirect3D.NullPointer");
    d3d_->AddRef();
    *pp = d3d_;
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps)
{
    if (!caps) return Refuse("Device.GetDeviceCaps.NullPointer");
    d3d_->FillCaps(adapter_, type_, caps);
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode)
{
    if (swapChain != 0) return Refuse("Device.GetDisplayMode.NoSuchSwapChain");
    return d3d_->GetAdapterDisplayMode(adapter_, mode);
}

HRESULT Device::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p)
{
    if (!p) return Refuse("Device.GetCreationParameters.NullPointer");
    *p = {adapter_, type_, focus_, flags_};
    return D3D_OK;
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** pp)
{
    Lock lock(mutex_);
    if (!pp) return Refuse("Device.GetBackBuffer.NullPointer");
    *pp = nullptr;
    if (swapChain != 0) return Refuse("Device.GetBackBuffer.NoSuchSwapChain");
    if (index >= pp_.BackBufferCount || !backBuffer_) return Refuse("Device.GetBackBuffer.NoSuchBackBuffer");
    backBuffer_->AddRef();
    *pp = backBuffer_;
    return D3D_OK;
}

HRESULT Device::BeginScene()
{
    Lock lock(mutex_);
    if (inScene_) return Refuse("Device.BeginScene.InScene");
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene()
{
    Lock lock(mutex_);
    if (!inScene_) return Refuse("Device.EndScene.NotInScene");
    inScene_ = false;
    return D3D_OK;
}

// ---- resources
// ------------------------------------------------------------------------------------------------
HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                              D3DPOOL pool, IDirect3DTexture9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateTexture.NullPointer");
    if (shared) return Refuse("Device.CreateTexture.SharedHandle");
    *pp = nullptr;
    D3DCAPS9 caps;
    d3d_->FillCaps(adapter_, type_, &caps);
    if (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight)
        return Refuse("Device.CreateTexture.TooLarge");
    if ((usage & D3DUSAGE_RENDERTARGET) &&
        SizeIn(d3d_->Adapter(adapter_)->failingRenderTargetTextureSizes, width, height))
        return D3DERR_OUTOFVIDEOMEMORY;
    Texture* t = nullptr;
    HRESULT hr = Texture::Create(anchor_, width, height, levels, usage, format, pool, &t);
    *pp = t;
    return hr;
}

HRESULT Device::CreateCubeTexture(UINT edge, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DCubeTexture9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateCubeTexture.NullPointer");
    if (shared) return Refuse("Device.CreateCubeTexture.SharedHandle");
    *pp = nullptr;
    D3DCAPS9 caps;
    d3d_->FillCaps(adapter_, type_, &caps);
    if (edge > caps.MaxTextureWidth) return Refuse("Device.CreateCubeTexture.TooLarge");
    CubeTexture* t = nullptr;
    HRESULT hr = CubeTexture::Create(anchor_, edge, levels, usage, format, pool, &t);
    *pp = t;
    return hr;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateVertexBuffer.NullPointer");
    if (shared) return Refuse("Device.CreateVertexBuffer.SharedHandle");
    *pp = nullptr;
    if (length == 0) return Refuse("Device.CreateVertexBuffer.ZeroLength");
    if (pool > D3DPOOL_SCRATCH) return Refuse("Device.CreateVertexBuffer.BadPool");
    if (length > kMaxBufferBytes) return D3DERR_OUTOFVIDEOMEMORY;
    if (!Allocated([&] { *pp = new VertexBuffer(anchor_, pool, length, usage, fvf); }))
        return D3DERR_OUTOFVIDEOMEMORY;
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateIndexBuffer.NullPointer");
    if (shared) return Refuse("Device.CreateIndexBuffer.SharedHandle");
    *pp = nullptr;
    if (length == 0) return Refuse("Device.CreateIndexBuffer.ZeroLength");
    if (pool > D3DPOOL_SCRATCH) return Refuse("Device.CreateIndexBuffer.BadPool");
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32)
        return Refuse("Device.CreateIndexBuffer.BadFormat");
    if (length > kMaxBufferBytes) return D3DERR_OUTOFVIDEOMEMORY;
    if (!Allocated([&] { *pp = new IndexBuffer(anchor_, pool, length, usage, format); }))
        return D3DERR_OUTOFVIDEOMEMORY;
    return D3D_OK;
}

HRESULT Device::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE ms,
                                   DWORD quality, BOOL lockable, IDirect3DSurface9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateRenderTarget.NullPointer");
    if (shared) return Refuse("Device.CreateRenderTarget.SharedHandle");
    *pp = nullptr;
    if (!GetFormatInfo(format).renderTarget) return Refuse("Device.CreateRenderTarget.NotRenderTargetFormat");
    D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, ms, quality, width,
                      height};
    Surface* s = Surface::Create(anchor_, d, nullptr, lockable != 0);
    if (!s) return width && height ? D3DERR_OUTOFVIDEOMEMORY : Refuse("Device.CreateRenderTarget.ZeroSize");
    *pp = s;
    return D3D_OK;
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE ms,
                                          DWORD quality, BOOL, IDirect3DSurface9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateDepthStencilSurface.NullPointer");
    if (shared) return Refuse("Device.CreateDepthStencilSurface.SharedHandle");
    *pp = nullptr;
    const auto& formats = d3d_->Adapter(adapter_)->depthFormats;
    if (std::find(formats.begin(), formats.end(), format) == formats.end())
        return Refuse("Device.CreateDepthStencilSurface.UnsupportedFormat");
    D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, ms, quality, width,
                      height};
    Surface* s = Surface::Create(anchor_, d, nullptr, false);
    if (!s)
        return width && height ? D3DERR_OUTOFVIDEOMEMORY
                               : Refuse("Device.CreateDepthStencilSurface.ZeroSize");
    *pp = s;
    return D3D_OK;
}

HRESULT Device::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                            IDirect3DSurface9** pp, HANDLE* shared)
{
    if (!pp) return Refuse("Device.CreateOffscreenPlainSurface.NullPointer");
    if (shared) return Refuse("Device.CreateOffscreenPlainSurface.SharedHandle");
    *pp = nullptr;
    const FormatInfo& info = GetFormatInfo(format);
    if (pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH)
        return Refuse("Device.CreateOffscreenPlainSurface.BadPool");
    if (info.depth) return Refuse("Device.CreateOffscreenPlainSurface.DepthFormat");
    if (!info.texture) return Refuse("Device.CreateOffscreenPlainSurface.NotTextureFormat");
    D3DSURFACE_DESC d{format, D3DRTYPE_SURFACE, 0, pool, D3DMULTISAMPLE_NONE, 0, width, height};
    Surface* s = Surface::Create(anchor_, d, nullptr, true);
    if (!s)
        return width && height ? D3DERR_OUTOFVIDEOMEMORY
                               : Refuse("Device.CreateOffscreenPlainSurface.ZeroSize");
    *pp = s;
    return D3D_OK;
}

HRESULT Device::CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements, IDirect3DVertexDeclaration9** pp)
{
    if (!elements || !pp) return Refuse("Device.CreateVertexDeclaration.NullPointer");
    *pp = nullptr;
    std::vector<D3DVERTEXELEMENT9> list;
    for (DWORD i = 0;; ++i)
    {
        if (i > MAXD3DDECLLENGTH) return Refuse("Device.CreateVertexDeclaration.NoEnd");
        if (elements[i].Stream == 0xff) break;
        if (elements[i].Type >= D3DDECLTYPE_UNUSED) return Refuse("Device.CreateVertexDeclaration.BadType");
        if (elements[i].Stream >= kMaxStreams)
            return Refuse("Device.CreateVertexDeclaration.StreamOutOfRange");
        list.push_back(elements[i]);
    }
    VertexLayout layout;
    if (!LayoutFromDeclaration(list, &layout)) return Refuse("Device.CreateVertexDeclaration.UnusableLayout");
    *pp = new VertexDeclaration(anchor_, std::move(list));
    return D3D_OK;
}

// ---- copies between surfaces
// ------------------------------------------------------------------------------------
namespace
{
void CopyRect(Surface* src, const RECT& s, Surface* dst, LONG dx, LONG dy)
{
    const size_t bpp = src->Info().bytes;
    const size_t rowBytes = static_cast<size_t>(s.right - s.left) * bpp;
    for (LONG y = s.top; y < s.bottom; ++y)
        std::memcpy(dst->Row(dy + y - s.top) + static_cast<size_t>(dx) * bpp,
                    src->Row(y) + static_cast<size_t>(s.left) * bpp, rowBytes);
}
} // namespace

HRESULT Device::UpdateSurface(IDirect3DSurface9* srcI, const RECT* srcRect, IDirect3DSurface9* dstI,
                              const POINT* dstPoint)
{
    Lock lock(mutex_);
    FlushDraws();
    Surface* src = AsSurface(srcI);
    Surface* dst = AsSurface(dstI);
    if (!src || !dst) return Refuse("Device.UpdateSurface.NotSurface");
    if (src == dst) return Refuse("Device.UpdateSurface.SameSurface");
    if (src->Info().depth || dst->Info().depth) return Refuse("Device.UpdateSurface.DepthSurface");
    if (src->Desc().Format != dst->Desc().Format) return Refuse("Device.UpdateSurface.FormatMismatch");
    RECT s;
    if (!ClipLockRect(srcRect, src->Desc().Width, src->Desc().Height, &s))
        return Refuse("Device.UpdateSurface.SourceRectOutside");
    LONG dx = dstPoint ? dstPoint->x : 0, dy = dstPoint ? dstPoint->y : 0;
    if (dx < 0 || dy < 0 || dx + (s.right - s.left) > dst->Width() || dy + (s.bottom - s.top) > dst->Height())
        return Refuse("Device.UpdateSurface.DestinationOutside");
    CopyRect(src, s, dst, dx, dy);
    return D3D_OK;
}

HRESULT Device::UpdateTexture(IDirect3DBaseTexture9* srcI, IDirect3DBaseTexture9* dstI)
{
    Lock lock(mutex_);
    FlushDraws();
    auto* src = dynamic_cast<Texture*>(srcI);
    auto* dst = dynamic_cast<Texture*>(dstI);
    if (src && dst)
    {
        if (src->Levels() < dst->Levels()) return Refuse("Device.UpdateTexture.FewerSourceLevels");
        UINT skip = src->Levels() - dst->Levels();
        for (UINT i = 0; i < dst->Levels(); ++i)
        {
            Surface* s = src->Level(i + skip);
            Surface* d = dst->Level(i);
            if (s->Width() != d->Width() || s->Height() != d->Height() ||
                s->Desc().Format != d->Desc().Format)
                return Refuse("Device.UpdateTexture.LevelMismatch");
            CopyRect(s, {0, 0, s->Width(), s->Height()}, d, 0, 0);
        }
        return D3D_OK;
    }
    auto* csrc = dynamic_cast<CubeTexture*>(srcI);
    auto* cdst = dynamic_cast<CubeTexture*>(dstI);
    if (!csrc || !cdst) return Refuse("Device.UpdateTexture.NotSameKind");
    if (csrc->Levels() < cdst->Levels()) return Refuse("Device.UpdateTexture.FewerSourceLevels");
    UINT skip = csrc->Levels() - cdst->Levels();
    for (UINT f = 0; f < 6; ++f)
        for (UINT i = 0; i < cdst->Levels(); ++i)
        {
            Surface* s = csrc->Face(f, i + skip);
            Surface* d = cdst->Face(f, i);
            if (s->Width() != d->Width() || s->Desc().Format != d->Desc().Format)
                return Refuse("Device.UpdateTexture.LevelMismatch");
            CopyRect(s, {0, 0, s->Width(), s->Height()}, d, 0, 0);
        }
    return D3D_OK;
}

HRESULT Device::GetRenderTargetData(IDirect3DSurface9* rtI, IDirect3DSurface9* dstI)
{
    Lock lock(mutex_);
    FlushDraws();
    Surface* rt = AsSurface(rtI);
    Surface* dst = AsSurface(dstI);
    if (!rt || !dst) return Refuse("Device.GetRenderTargetData.NotSurface");
    if (rt->Info().depth) return Refuse("Device.GetRenderTargetData.DepthSurface");
    if (rt->Width() != dst->Width() || rt->Height() != dst->Height())
        return Refuse("Device.GetRenderTargetData.SizeMismatch");
    if (rt->Desc().Format != dst->Desc().Format) return Refuse("Device.GetRenderTargetData.FormatMismatch");
    if (Lost()) return D3DERR_DEVICELOST;
    CopyRect(rt, {0, 0, rt->Width(), rt->Height()}, dst, 0, 0);
    return D3D_OK;
}

HRESULT Device::StretchRect(IDirect3DSurface9* srcI, const RECT* srcRect, IDirect3DSurface9* dstI,
                            const RECT* dstRect, D3DTEXTUREFILTERTYPE)
{
    Lock lock(mutex_);
    FlushDraws();
    Surface* src = AsSurface(srcI);
    Surface* dst = AsSurface(dstI);
    if (!src || !dst) return Refuse("Device.StretchRect.NotSurface");
    if (src == dst) return Refuse("Device.StretchRect.SameSurface");
    if (src->Info().depth || dst->Info().depth) return Refuse("Device.StretchRect.DepthSurface");
    RECT s, d;
    if (!ClipLockRect(srcRect, src->Desc().Width, src->Desc().Height, &s))
        return Refuse("Device.StretchRect.SourceRectOutside");
    if (!ClipLockRect(dstRect, dst->Desc().Width, dst->Desc().Height, &d))
        return Refuse("Device.StretchRect.DestinationRectOutside");
    if (Lost()) return D3D_OK;
    const LONG sw = s.right - s.left, sh = s.bottom - s.top, dw = d.right - d.left, dh = d.bottom - d.top;
    const D3DFORMAT sf = src->Desc().Format, df = dst->Desc().Format;
    const size_t sb = src->Info().bytes, db = dst->Info().bytes;
    for (LONG y = 0; y < dh; ++y)
    {
        LONG sy = s.top + static_cast<LONG>((static_cast<int64_t>(y) * sh + sh / 2 * 0) / dh);
        for (LONG x = 0; x < dw; ++x)
        {
            LONG sx = s.left + static_cast<LONG>(static_cast<int64_t>(x) * sw / dw);
            WriteArgb(df, dst->Row(d.top + y) + (d.left + x) * db, ReadArgb(sf, src->Row(sy) + sx * sb));
        }
    }
    return D3D_OK;
}

HRESULT Device::ColorFill(IDirect3DSurface9* surfaceI, const RECT* rect, D3DCOLOR color)
{
    Lock lock(mutex_);
    FlushDraws();
    Surface* s = AsSurface(surfaceI);
    if (!s) return Refuse("Device.ColorFill.NotSurface");
    if (s->Info().depth) return Refuse("Device.ColorFill.DepthSurface");
    RECT r;
    if (!ClipLockRect(rect, s->Desc().Width, s->Desc().Height, &r))
        return Refuse("Device.ColorFill.RectOutside");
    if (Lost()) return D3D_OK;
    const size_t bpp = s->Info().bytes;
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x)
            WriteArgb(s->Desc().Format, s->Row(y) + x * bpp, color);
    return D3D_OK;
}

// ---- targets
// ---------------------------------------------------------------------------------------------------
HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* rtI)
{
    Lock lock(mutex_);
    FlushDraws();
    if (index > 0) return rtI ? Refuse("Device.SetRenderTarget.IndexOutOfRange") : D3D_OK;
    Surface* rt = AsSurface(rtI);
    if (!rt) return Refuse("Device.SetRenderTarget.NotSurface");
    if (!(rt->Desc().Usage & D3DUSAGE_RENDERTARGET)) return Refuse("Device.SetRenderTarget.NotRenderTarget");
    rt->AddRef();
    if (renderTarget_) renderTarget_->Release();
    renderTarget_ = rt;
    Stale(kStaleTargets);
    // Documented: setting render target 0 resets the viewport and scissor to the full target.
    viewport_ = {0, 0, static_cast<DWORD>(rt->Width()), static_cast<DWORD>(rt->Height()), 0.0f, 1.0f};
    scissor_ = {0, 0, rt->Width(), rt->Height()};
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** pp)
{
    Lock lock(mutex_);
    if (!pp) return Refuse("Device.GetRenderTarget.NullPointer");
    *pp = nullptr;
    if (index > 0) return D3DERR_NOTFOUND;
    if (!renderTarget_) return D3DERR_NOTFOUND;
    renderTarget_->AddRef();
    *pp = renderTarget_;
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* dsI)
{
    Lock lock(mutex_);
    FlushDraws();
    Surface* ds = nullptr;
    if (dsI)
    {
        ds = AsSurface(dsI);
        if (!ds) return Refuse("Device.SetDepthStencilSurface.NotSurface");
        if (!ds->Info().depth) return Refuse("Device.SetDepthStencilSurface.NotDepthSurface");
        ds->AddRef();
    }
    if (depthStencil_) depthStencil_->Release();
    depthStencil_ = ds;
    Stale(kStaleTargets);
    return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** pp)
{
    Lock lock(mutex_);
    if (!pp) return Refuse("Device.GetDepthStencilSurface.NullPointer");
    *pp = nullptr;
    if (!depthStencil_) return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    *pp = depthStencil_;
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil)
{
    Lock lock(mutex_);
    FlushDraws();
    if (count > 0 && !rects) return Refuse("Device.Clear.NullRects");
    if (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))
        return Refuse("Device.Clear.BadFlags");
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil_)
        return Refuse("Device.Clear.NoDepthStencil");
    if ((flags & D3DCLEAR_STENCIL) && depthStencil_->Info().stencilBits == 0)
        return Refuse("Device.Clear.NoStencilBits");
    if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f))
        return Refuse("Device.Clear.DepthOutOfRange");
    if ((flags & D3DCLEAR_TARGET) && !renderTarget_) return Refuse("Device.Clear.NoRenderTarget");
    if (Lost()) return D3D_OK;

    RECT area = {static_cast<LONG>(viewport_.X), static_cast<LONG>(viewport_.Y),
                 static_cast<LONG>(viewport_.X + viewport_.Width),
                 static_cast<LONG>(viewport_.Y + viewport_.Height)};
    if (renderStates_[D3DRS_SCISSORTESTENABLE] && !Intersect(area, scissor_, &area)) return D3D_OK;
    std::vector<RECT> parts;
    if (count == 0)
        parts.push_back(area);
    else
        for (DWORD i = 0; i < count; ++i)
        {
            RECT r = {rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2}, c;
            if (Intersect(r, area, &c)) parts.push_back(c);
        }

    const uint32_t depthMax = depthStencil_ ? DepthMax(depthStencil_->Info()) : 0;
    const uint32_t depthValue = QuantizeDepth(z, depthMax);
    const uint8_t stencilValue =
        depthStencil_ ? static_cast<uint8_t>(stencil & ((1u << depthStencil_->Info().stencilBits) - 1)) : 0;
    for (const RECT& part : parts)
    {
        RECT r;
        if ((flags & D3DCLEAR_TARGET) &&
            Intersect(part, {0, 0, renderTarget_->Width(), renderTarget_->Height()}, &r))
        {
            const D3DFORMAT f = renderTarget_->Desc().Format;
            const size_t bpp = renderTarget_->Info().bytes;
            uint8_t pattern[4];
            WriteArgb(f, pattern, color);
            uint32_t word = 0;
            std::memcpy(&word, pattern, 4);
            // In parallel: large targets take as long to clear as to draw a simple frame.
            ForEachRow(r.top, r.bottom,
                       [&](LONG y)
                       {
                           uint8_t* row = renderTarget_->Row(y) + r.left * bpp;
                           if (bpp == 4)
                               std::fill_n(reinterpret_cast<uint32_t*>(row), r.right - r.left, word);
                           else
                               for (LONG x = r.left; x < r.right; ++x, row += bpp)
                                   std::memcpy(row, pattern, bpp);
                       });
        }
        if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) &&
            Intersect(part, {0, 0, depthStencil_->Width(), depthStencil_->Height()}, &r))
        {
            const size_t w = static_cast<size_t>(depthStencil_->Width());
            ForEachRow(r.top, r.bottom,
                       [&](LONG y)
                       {
                           if (flags & D3DCLEAR_ZBUFFER)
                               std::fill_n(depthStencil_->DepthPlane() + y * w + r.left, r.right - r.left,
                                           depthValue);
                           if (flags & D3DCLEAR_STENCIL)
                               std::fill_n(depthStencil_->StencilPlane() + y * w + r.left, r.right - r.left,
                                           stencilValue);
                       });
        }
    }
    return D3D_OK;
}

void Device::ForEachRow(LONG top, LONG bottom, const std::function<void(LONG)>& row)
{
    constexpr LONG kBand = 32;
    if (bottom <= top) return;
    WaitForFlush(); // the pool runs one job at a time
    pool_->RunLocal(static_cast<size_t>((bottom - top + kBand - 1) / kBand),
                    [&](size_t band)
                    {
                        const LONG y0 = top + static_cast<LONG>(band) * kBand;
                        const LONG y1 = std::min(y0 + kBand, bottom);
                        for (LONG y = y0; y < y1; ++y)
                            row(y);
                    });
}

// ---- fixed-function state
// ---------------------------------------------------------------------------------------
HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m)
{
    Lock lock(mutex_);
    if (!m) return Refuse("Device.SetTransform.NullPointer");
    // Engines set the same matrices draw after draw; only a change makes the draw state stale.
    auto set = [&](D3DMATRIX& to, uint32_t parts)
    {
        if (std::memcmp(&to, m, sizeof(D3DMATRIX)) == 0) return;
        to = *m;
        Stale(parts);
    };
    if (state == D3DTS_VIEW)
        set(view_, kStaleTransforms | kStaleLights);
    else if (state == D3DTS_PROJECTION)
        set(projection_, kStaleTransforms);
    else if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7)
        set(texture_[state - D3DTS_TEXTURE0], kStaleStages);
    else if (state == D3DTS_WORLD)
        set(world_, kStaleTransforms);
    else if (state > D3DTS_WORLD && state < D3DTS_WORLDMATRIX(256))
        return D3D_OK; // vertex blending is not supported; the matrices are not used
    else
        return Refuse("Device.SetTransform.BadState");
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* m)
{
    Lock lock(mutex_);
    if (!m) return Refuse("Device.GetTransform.NullPointer");
    if (state == D3DTS_VIEW)
        *m = view_;
    else if (state == D3DTS_PROJECTION)
        *m = projection_;
    else if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7)
        *m = texture_[state - D3DTS_TEXTURE0];
    else if (state == D3DTS_WORLD)
        *m = world_;
    else if (state > D3DTS_WORLD && state < D3DTS_WORLDMATRIX(256))
        *m = Identity();
    else
        return Refuse("Device.GetTransform.BadState");
    return D3D_OK;
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* m)
{
    Lock lock(mutex_);
    if (!m) return Refuse("Device.MultiplyTransform.NullPointer");
    D3DMATRIX current;
    HRESULT hr = GetTransform(state, &current);
    if (FAILED(hr)) return hr;
    D3DMATRIX product = Multiply(*m, current);
    return SetTransform(state, &product);
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* vp)
{
    Lock lock(mutex_);
    if (!vp) return Refuse("Device.SetViewport.NullPointer");
    if (!renderTarget_) return Refuse("Device.SetViewport.NoRenderTarget");
    const uint64_t right = static_cast<uint64_t>(vp->X) + vp->Width;
    const uint64_t bottom = static_cast<uint64_t>(vp->Y) + vp->Height;
    if (vp->Width == 0 || vp->Height == 0) return Refuse("Device.SetViewport.Empty");
    if (right > static_cast<uint64_t>(renderTarget_->Width()) ||
        bottom > static_cast<uint64_t>(renderTarget_->Height()))
        return Refuse("Device.SetViewport.OutsideTarget");
    if (!(vp->MinZ >= 0.0f && vp->MinZ <= 1.0f && vp->MaxZ >= 0.0f && vp->MaxZ <= 1.0f))
        return Refuse("Device.SetViewport.DepthOutOfRange");
    viewport_ = *vp;
    Stale(kStaleTargets);
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* vp)
{
    Lock lock(mutex_);
    if (!vp) return Refuse("Device.GetViewport.NullPointer");
    *vp = viewport_;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* m)
{
    Lock lock(mutex_);
    if (!m) return Refuse("Device.SetMaterial.NullPointer");
    if (std::memcmp(&material_, m, sizeof(D3DMATERIAL9)) == 0) return D3D_OK;
    material_ = *m;
    Stale(kStaleMaterial);
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* m)
{
    Lock lock(mutex_);
    if (!m) return Refuse("Device.GetMaterial.NullPointer");
    *m = material_;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light)
{
    Lock lock(mutex_);
    if (!light) return Refuse("Device.SetLight.NullPointer");
    if (light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL)
        return Refuse("Device.SetLight.BadType");
    if (light->Type != D3DLIGHT_DIRECTIONAL && !(light->Range >= 0.0f))
        return Refuse("Device.SetLight.NegativeRange");
    if (light->Type == D3DLIGHT_SPOT && !(light->Theta >= 0.0f && light->Phi >= light->Theta))
        return Refuse("Device.SetLight.BadSpotAngles");
    if (lights_.size() >= 4096 && !lights_.count(index)) return D3DERR_OUTOFVIDEOMEMORY;
    lights_[index].light = *light;
    Stale(kStaleLights);
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light)
{
    Lock lock(mutex_);
    if (!light) return Refuse("Device.GetLight.NullPointer");
    auto it = lights_.find(index);
    if (it == lights_.end()) return Refuse("Device.GetLight.NoSuchLight");
    *light = it->second.light;
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable)
{
    Lock lock(mutex_);
    auto it = lights_.find(index);
    if (it == lights_.end())
    {
        if (lights_.size() >= 4096) return D3DERR_OUTOFVIDEOMEMORY;
        // Documented default: a white directional light shining along +z.
        D3DLIGHT9 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        l.Direction = {0.0f, 0.0f, 1.0f};
        it = lights_.emplace(index, LightSlot{l, false}).first;
    }
    it->second.enabled = enable != 0;
    Stale(kStaleLights);
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable)
{
    Lock lock(mutex_);
    if (!enable) return Refuse("Device.GetLightEnable.NullPointer");
    auto it = lights_.find(index);
    if (it == lights_.end()) return Refuse("Device.GetLightEnable.NoSuchLight");
    // Documented: TRUE is reported as 128.
    *enable = it->second.enabled ? 128 : 0;
    return D3D_OK;
}

HRESULT Device::SetClipPlane(DWORD index, const float* plane)
{
    Lock lock(mutex_);
    if (!plane) return Refuse("Device.SetClipPlane.NullPointer");
    if (index >= kMaxClipPlanes) return Refuse("Device.SetClipPlane.IndexOutOfRange");
    std::copy(plane, plane + 4, clipPlanes_[index]);
    Stale(kStaleClipPlanes);
    return D3D_OK;
}

HRESULT Device::GetClipPlane(DWORD index, float* plane)
{
    Lock lock(mutex_);
    if (!plane) return Refuse("Device.GetClipPlane.NullPointer");
    if (index >= kMaxClipPlanes) return Refuse("Device.GetClipPlane.IndexOutOfRange");
    std::copy(clipPlanes_[index], clipPlanes_[index] + 4, plane);
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value)
{
    Lock lock(mutex_);
    if (state >= 256) return Refuse("Device.SetRenderState.BadState");
    if (renderStates_[state] == value) return D3D_OK;
    renderStates_[state] = value;
    Stale(kStaleRenderStates);
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value)
{
    Lock lock(mutex_);
    if (!value) return Refuse("Device.GetRenderState.NullPointer");
    if (state >= 256) return Refuse("Device.GetRenderState.BadState");
    *value = renderStates_[state];
    return D3D_OK;
}

namespace
{
// Samplers past the 16 pixel samplers (displacement map, vertex samplers) are accepted and ignored.
bool IgnoredSampler(DWORD s)
{
    return s >= D3DDMAPSAMPLER && s <= D3DVERTEXTEXTURESAMPLER0 + 3;
}
} // namespace

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** pp)
{
    Lock lock(mutex_);
    if (!pp) return Refuse("Device.GetTexture.NullPointer");
    *pp = nullptr;
    if (IgnoredSampler(stage)) return D3D_OK;
    if (stage >= kMaxSamplers) return Refuse("Device.GetTexture.StageOutOfRange");
    *pp = textures_[stage];
    if (*pp) (*pp)->AddRef();
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* tex)
{
    Lock lock(mutex_);
    if (IgnoredSampler(stage)) return D3D_OK;
    if (stage >= kMaxSamplers) return Refuse("Device.SetTexture.StageOutOfRange");
    if (tex && !dynamic_cast<Texture*>(tex) && !dynamic_cast<CubeTexture*>(tex))
        return Refuse("Device.SetTexture.NotTexture");
    if (tex == textures_[stage]) return D3D_OK;
    if (tex) tex->AddRef();
    if (textures_[stage]) textures_[stage]->Release();
    textures_[stage] = tex;
    Stale(kStaleStages);
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value)
{
    Lock lock(mutex_);
    if (!value) return Refuse("Device.GetTextureStageState.NullPointer");
    if (stage >= kMaxStages) return Refuse("Device.GetTextureStageState.StageOutOfRange");
    if (type > D3DTSS_CONSTANT) return Refuse("Device.GetTextureStageState.BadType");
    *value = stageStates_[stage][type];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    Lock lock(mutex_);
    if (stage >= kMaxStages) return Refuse("Device.SetTextureStageState.StageOutOfRange");
    if (type > D3DTSS_CONSTANT) return Refuse("Device.SetTextureStageState.BadType");
    if (stageStates_[stage][type] == value) return D3D_OK;
    stageStates_[stage][type] = value;
    Stale(kStaleStages);
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value)
{
    Lock lock(mutex_);
    if (!value) return Refuse("Device.GetSamplerState.NullPointer");
    if (type > D3DSAMP_DMAPOFFSET) return Refuse("Device.GetSamplerState.BadType");
    if (IgnoredSampler(sampler))
    {
        *value = 0;
        return D3D_OK;
    }
    if (sampler >= kMaxSamplers) return Refuse("Device.GetSamplerState.SamplerOutOfRange");
    *value = samplerStates_[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    Lock lock(mutex_);
    if (type > D3DSAMP_DMAPOFFSET) return Refuse("Device.SetSamplerState.BadType");
    if (IgnoredSampler(sampler)) return D3D_OK;
    if (sampler >= kMaxSamplers) return Refuse("Device.SetSamplerState.SamplerOutOfRange");
    if (samplerStates_[sampler][type] == value) return D3D_OK;
    samplerStates_[sampler][type] = value;
    Stale(kStaleStages);
    return D3D_OK;
}

HRESULT Device::ValidateDevice(DWORD* passes)
{
    Lock lock(mutex_);
    if (passes) *passes = 1;
    D3DCAPS9 caps;
    d3d_->FillCaps(adapter_, type_, &caps);
    int textures = 0;
    for (DWORD s = 0; s < kMaxStages; ++s)
    {
        const DWORD op = stageStates_[s][D3DTSS_COLOROP];
        if (op == D3DTOP_DISABLE) break;
        if (s >= caps.MaxTextureBlendStages) return D3DERR_TOOMANYOPERATIONS;
        if (op < D3DTOP_DISABLE || op > D3DTOP_LERP) return D3DERR_UNSUPPORTEDCOLOROPERATION;
        const DWORD aop = stageStates_[s][D3DTSS_ALPHAOP];
        if (aop < D3DTOP_DISABLE || aop > D3DTOP_LERP) return D3DERR_UNSUPPORTEDALPHAOPERATION;
        for (DWORD t : {D3DTSS_COLORARG0, D3DTSS_COLORARG1, D3DTSS_COLORARG2})
            if ((stageStates_[s][t] & D3DTA_SELECTMASK) > D3DTA_CONSTANT) return D3DERR_UNSUPPORTEDCOLORARG;
        for (DWORD t : {D3DTSS_ALPHAARG0, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2})
            if ((stageStates_[s][t] & D3DTA_SELECTMASK) > D3DTA_CONSTANT) return D3DERR_UNSUPPORTEDALPHAARG;
        if (textures_[s]) ++textures;
    }
    if (static_cast<DWORD>(textures) > caps.MaxSimultaneousTextures) return D3DERR_TOOMANYOPERATIONS;
    return D3D_OK;
}

HRESULT Device::SetScissorRect(const RECT* r)
{
    Lock lock(mutex_);
    if (!r) return Refuse("Device.SetScissorRect.NullPointer");
    if (r->left > r->right || r->top > r->bottom) return Refuse("Device.SetScissorRect.Inverted");
    scissor_ = *r;
    Stale(kStaleTargets);
    return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* r)
{
    Lock lock(mutex_);
    if (!r) return Refuse("Device.GetScissorRect.NullPointer");
    *r = scissor_;
    return D3D_OK;
}

HRESULT Device::SetSoftwareVertexProcessing(BOOL software)
{
    Lock lock(mutex_);
    if (!(flags_ & D3DCREATE_MIXED_VERTEXPROCESSING))
        return Refuse("Device.SetSoftwareVertexProcessing.NotMixedDevice");
    softwareVP_ = software != 0;
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declI)
{
    Lock lock(mutex_);
    if (!BindCounted(decl_, declI)) return Refuse("Device.SetVertexDeclaration.NotDeclaration");
    fvf_ = 0;
    Stale(kStaleLayout);
    return D3D_OK;
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** pp)
{
    Lock lock(mutex_);
    if (!pp) return Refuse("Device.GetVertexDeclaration.NullPointer");
    *pp = decl_;
    if (decl_) decl_->AddRef();
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf)
{
    Lock lock(mutex_);
    if (fvf_ == fvf && !decl_) return D3D_OK;
    Stale(kStaleLayout);
    fvf_ = fvf;
    if (decl_)
    {
        decl_->Release();
        decl_ = nullptr;
    }
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf)
{
    Lock lock(mutex_);
    if (!fvf) return Refuse("Device.GetFVF.NullPointer");
    *fvf = fvf_;
    return D3D_OK;
}

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader)
{
    return shader ? Refuse("Device.SetVertexShader.NotSupported") : D3D_OK;
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** pp)
{
    if (!pp) return Refuse("Device.GetVertexShader.NullPointer");
    *pp = nullptr;
    return D3D_OK;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader)
{
    return shader ? Refuse("Device.SetPixelShader.NotSupported") : D3D_OK;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** pp)
{
    if (!pp) return Refuse("Device.GetPixelShader.NullPointer");
    *pp = nullptr;
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* vbI, UINT offset, UINT stride)
{
    Lock lock(mutex_);
    if (stream >= kMaxStreams) return Refuse("Device.SetStreamSource.StreamOutOfRange");
    if (!BindCounted(streams_[stream], vbI)) return Refuse("Device.SetStreamSource.NotVertexBuffer");
    Stale(kStaleStreams);
    streamOffset_[stream] = offset;
    streamStride_[stream] = stride;
    return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** pp, UINT* offset, UINT* stride)
{
    Lock lock(mutex_);
    if (stream >= kMaxStreams) return Refuse("Device.GetStreamSource.StreamOutOfRange");
    if (!pp || !offset || !stride) return Refuse("Device.GetStreamSource.NullPointer");
    *pp = streams_[stream];
    if (*pp) (*pp)->AddRef();
    *offset = streamOffset_[stream];
    *stride = streamStride_[stream];
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* ibI)
{
    Lock lock(mutex_);
    if (!BindCounted(indices_, ibI)) return Refuse("Device.SetIndices.NotIndexBuffer");
    return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** pp)
{
    Lock lock(mutex_);
    if (!pp) return Refuse("Device.GetIndices.NullPointer");
    *pp = indices_;
    if (indices_) indices_->AddRef();
    return D3D_OK;
}
} // namespace ferolt::d3d9
