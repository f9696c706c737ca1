#pragma once
// A small render fixture: one device on a lockable A8R8G8B8 back buffer with a D24S8 depth buffer, and
// helpers to draw pre-transformed or untransformed geometry and read pixels back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "tests/support/d3d9_device.h"

namespace d3d9test
{
inline HWND FakeWindow()
{
    return ferolt::test::FakeDeviceWindow();
}

inline D3DPRESENT_PARAMETERS Params(UINT w, UINT h, D3DFORMAT depth = D3DFMT_D24S8)
{
    return ferolt::test::DeviceParams(w, h, depth);
}

using ferolt::test::F2DW;

struct TVertex // D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1
{
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD kTVertexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct LVertex // D3DFVF_XYZ | D3DFVF_NORMAL
{
    float x, y, z;
    float nx, ny, nz;
};

class Target
{
public:
    // threads: worker threads of the device's pipeline; 0 keeps the default. A chosen count also has the
    // workers draw small scenes, which the default keeps on the calling thread.
    explicit Target(UINT w = 16, UINT h = 16, D3DFORMAT depth = D3DFMT_D24S8, unsigned threads = 0)
        : w_(w), h_(h), device_(Params(w, h, depth), threads, threads != 0), dev_(device_.Get())
    {
        EXPECT_EQ(device_.Created(), D3D_OK);
        dev_->SetRenderState(D3DRS_LIGHTING, FALSE);
        dev_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    IDirect3DDevice9* operator->() const { return dev_; }
    IDirect3DDevice9* Get() const { return dev_; }

    void Clear(D3DCOLOR c, float z = 1.0f, DWORD stencil = 0)
    {
        ASSERT_EQ(
            dev_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, c, z, stencil),
            D3D_OK);
    }

    // A screen-aligned rectangle of pre-transformed vertices at depth z, two triangles.
    void Rect(float x0, float y0, float x1, float y1, D3DCOLOR c, float z = 0.5f, float u0 = 0, float v0 = 0,
              float u1 = 1, float v1 = 1)
    {
        TVertex v[4] = {{x0, y0, z, 1, c, u0, v0},
                        {x1, y0, z, 1, c, u1, v0},
                        {x0, y1, z, 1, c, u0, v1},
                        {x1, y1, z, 1, c, u1, v1}};
        dev_->SetFVF(kTVertexFvf);
        ASSERT_EQ(dev_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(TVertex)), D3D_OK);
    }

    std::vector<uint32_t> Pixels()
    {
        std::vector<uint32_t> out(static_cast<size_t>(w_) * h_);
        IDirect3DSurface9* bb = nullptr;
        EXPECT_EQ(dev_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
        D3DLOCKED_RECT lr;
        EXPECT_EQ(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        for (UINT y = 0; y < h_; ++y)
            std::memcpy(&out[y * w_], static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch, w_ * 4);
        bb->UnlockRect();
        bb->Release();
        return out;
    }
    uint32_t At(int x, int y) { return Pixels()[static_cast<size_t>(y) * w_ + x]; }
    int Count(uint32_t color)
    {
        int n = 0;
        for (uint32_t p : Pixels())
            n += p == color;
        return n;
    }
    UINT Width() const { return w_; }
    UINT Height() const { return h_; }

private:
    UINT w_, h_;
    ferolt::test::SoftwareDevice device_;
    IDirect3DDevice9* dev_;
};

// A texture of w x h A8R8G8B8 texels from a function of (x, y).
template <class F>
IDirect3DTexture9* MakeTexture(IDirect3DDevice9* dev, UINT w, UINT h, F texel, UINT levels = 1,
                               D3DFORMAT format = D3DFMT_A8R8G8B8)
{
    IDirect3DTexture9* tex = nullptr;
    EXPECT_EQ(dev->CreateTexture(w, h, levels, 0, format, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    EXPECT_EQ(ferolt::test::FillTexture(tex, texel), D3D_OK);
    return tex;
}
} // namespace d3d9test
