#pragma once
// One software device set-up for the device tests and the device benchmark: a device on a fake window
// with its back buffer and depth buffer, and textures filled from a function of the texel. Header only,
// so that a program that links the device (and the fixture writers or not) can use it.
#include <cstdint>
#include <cstring>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_hooks.h"

namespace ferolt::test
{
inline HWND FakeDeviceWindow()
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
}

// A windowed, lockable A8R8G8B8 back buffer of w x h; depth D3DFMT_UNKNOWN leaves out the depth buffer.
inline D3DPRESENT_PARAMETERS DeviceParams(UINT w, UINT h, D3DFORMAT depth = D3DFMT_D24S8)
{
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = w;
    pp.BackBufferHeight = h;
    pp.BackBufferFormat = D3DFMT_A8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.hDeviceWindow = FakeDeviceWindow();
    pp.Windowed = TRUE;
    pp.EnableAutoDepthStencil = depth != D3DFMT_UNKNOWN;
    pp.AutoDepthStencilFormat = depth;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    return pp;
}

inline DWORD F2DW(float f)
{
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

// The device and its Direct3D object, created with the device's test hooks reset, released with them
// reset again. threads: worker threads of the device's pipeline, 0 keeps the default; workersDrawSmall
// has the workers draw small scenes too, which the default keeps on the calling thread.
class SoftwareDevice
{
public:
    explicit SoftwareDevice(const D3DPRESENT_PARAMETERS& params, unsigned threads = 0,
                            bool workersDrawSmall = false)
    {
        ferolt::hooks::ResetD3D9Hooks();
        if (threads) ferolt::hooks::SetD3D9WorkerThreads(threads);
        if (workersDrawSmall) ferolt::hooks::SetD3D9SmallDrawsInline(false);
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp = params;
        created_ = d3d_->CreateDevice(0, D3DDEVTYPE_HAL, pp.hDeviceWindow,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &dev_);
    }
    ~SoftwareDevice()
    {
        if (dev_) dev_->Release();
        d3d_->Release();
        ferolt::hooks::ResetD3D9Hooks();
    }
    SoftwareDevice(const SoftwareDevice&) = delete;
    SoftwareDevice& operator=(const SoftwareDevice&) = delete;

    HRESULT Created() const { return created_; }
    IDirect3DDevice9* Get() const { return dev_; }

private:
    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* dev_ = nullptr;
    HRESULT created_ = E_FAIL;
};

// Fills every level of an A8R8G8B8, X8R8G8B8 or V8U8 texture with texel(x, y, level).
template <class F> HRESULT FillTexture(IDirect3DTexture9* tex, F texel)
{
    for (UINT l = 0; l < tex->GetLevelCount(); ++l)
    {
        D3DSURFACE_DESC d;
        tex->GetLevelDesc(l, &d);
        D3DLOCKED_RECT lr;
        if (HRESULT hr = tex->LockRect(l, &lr, nullptr, 0); hr != D3D_OK) return hr;
        for (UINT y = 0; y < d.Height; ++y)
            for (UINT x = 0; x < d.Width; ++x)
            {
                uint32_t c = texel(x, y, l);
                if (d.Format == D3DFMT_A8R8G8B8 || d.Format == D3DFMT_X8R8G8B8)
                    std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, &c, 4);
                else if (d.Format == D3DFMT_V8U8)
                    std::memcpy(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 2, &c, 2);
            }
        tex->UnlockRect(l);
    }
    return D3D_OK;
}
} // namespace ferolt::test
