#pragma once
// A device double that holds vertex buffers, index buffers and textures in memory, so the D3DX code
// can be tested on exactly the bytes it writes. It counts live resources to catch leaked references,
// and can be told to fail the next creations.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/d3d9/format_table.h"
#include "tests/platform/d3dx9_resources/stub_d3d9.h"

namespace ferolt::test
{
// The fake stores colour and palette texels; bump, depth and compressed formats have no texel size here.
inline UINT BytesPerTexel(D3DFORMAT f)
{
    const d3d9::FormatInfo& info = d3d9::GetFormatInfo(f);
    return info.texture && !info.bump ? info.bytes : 0;
}

inline bool IsDxt(D3DFORMAT f)
{
    return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}

struct FakeCounters
{
    int live = 0;        // resources not yet released
    int failCreates = 0; // the next n creations fail with E_OUTOFMEMORY
};

template <class Base> struct FakeBuffer : Base
{
    FakeBuffer(FakeCounters* c, UINT size, D3DFORMAT format, DWORD fvf) : counters(c), data(size)
    {
        ++counters->live;
        desc.Format = format;
        desc.Size = size;
        desc.FVF = fvf;
    }
    ~FakeBuffer() override { --counters->live; }
    HRESULT Lock(UINT offset, UINT, void** pp, DWORD) override
    {
        if (!pp || offset > data.size()) return D3DERR_INVALIDCALL;
        ++locks;
        *pp = data.data() + offset;
        return D3D_OK;
    }
    HRESULT Unlock() override
    {
        if (locks == 0) return D3DERR_INVALIDCALL;
        --locks;
        return D3D_OK;
    }
    FakeCounters* counters;
    std::vector<uint8_t> data;
    int locks = 0;
    struct
    {
        D3DFORMAT Format;
        UINT Size;
        DWORD FVF;
    } desc{};
};

struct FakeSurface : StubSurface
{
    FakeSurface(IUnknown* owner, const D3DSURFACE_DESC& d) : container(owner), desc(d)
    {
        if (IsDxt(d.Format))
        {
            pitch = std::max(1u, (d.Width + 3) / 4) * (d.Format == D3DFMT_DXT1 ? 8 : 16);
            bits.resize(size_t(pitch) * std::max(1u, (d.Height + 3) / 4));
        }
        else
        {
            pitch = d.Width * BytesPerTexel(d.Format);
            bits.resize(size_t(pitch) * d.Height);
        }
    }
    // Levels live as long as their texture; references go to it.
    ULONG AddRef() override { return container->AddRef(); }
    ULONG Release() override { return container->Release(); }
    HRESULT GetDesc(D3DSURFACE_DESC* d) override
    {
        *d = desc;
        return D3D_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT* r, const RECT* rect, DWORD) override
    {
        if (!r || locked) return D3DERR_INVALIDCALL;
        size_t offset = 0;
        if (rect) offset = size_t(rect->top) * pitch + size_t(rect->left) * BytesPerTexel(desc.Format);
        r->pBits = bits.data() + offset;
        r->Pitch = static_cast<INT>(pitch);
        locked = true;
        return D3D_OK;
    }
    HRESULT UnlockRect() override
    {
        if (!locked) return D3DERR_INVALIDCALL;
        locked = false;
        return D3D_OK;
    }
    uint32_t Pixel(UINT x, UINT y) const
    {
        uint32_t p = 0;
        std::memcpy(&p, bits.data() + size_t(y) * pitch + size_t(x) * BytesPerTexel(desc.Format),
                    BytesPerTexel(desc.Format));
        return p;
    }
    IUnknown* container;
    D3DSURFACE_DESC desc;
    UINT pitch = 0;
    std::vector<uint8_t> bits;
    bool locked = false;
};

struct FakeTexture : StubTexture
{
    FakeTexture(FakeCounters* c, UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : counters(c)
    {
        ++counters->live;
        if (levels == 0)
        {
            levels = 1;
            for (UINT s = std::max(w, h); s > 1; s /= 2)
                ++levels;
        }
        for (UINT i = 0; i < levels; ++i)
        {
            D3DSURFACE_DESC d{};
            d.Format = format;
            d.Type = D3DRTYPE_SURFACE;
            d.Usage = usage;
            d.Pool = pool;
            d.Width = std::max(1u, w >> i);
            d.Height = std::max(1u, h >> i);
            surfaces.push_back(new FakeSurface(this, d));
        }
    }
    ~FakeTexture() override
    {
        for (FakeSurface* s : surfaces)
            delete s;
        --counters->live;
    }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(surfaces.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* d) override
    {
        if (level >= surfaces.size() || !d) return D3DERR_INVALIDCALL;
        *d = surfaces[level]->desc;
        return D3D_OK;
    }
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** s) override
    {
        if (level >= surfaces.size() || !s) return D3DERR_INVALIDCALL;
        AddRef();
        *s = surfaces[level];
        return D3D_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* r, const RECT* rect, DWORD flags) override
    {
        if (level >= surfaces.size()) return D3DERR_INVALIDCALL;
        return surfaces[level]->LockRect(r, rect, flags);
    }
    HRESULT UnlockRect(UINT level) override
    {
        if (level >= surfaces.size()) return D3DERR_INVALIDCALL;
        return surfaces[level]->UnlockRect();
    }
    FakeCounters* counters;
    std::vector<FakeSurface*> surfaces;
};

struct FakeDevice : StubDevice
{
    HRESULT CreateVertexBuffer(UINT length, DWORD, DWORD fvf, D3DPOOL, IDirect3DVertexBuffer9** out,
                               HANDLE*) override
    {
        if (!out || length == 0) return D3DERR_INVALIDCALL;
        if (Fail()) return E_OUTOFMEMORY;
        *out = new FakeBuffer<StubVertexBuffer>(&counters, length, D3DFMT_VERTEXDATA, fvf);
        return D3D_OK;
    }
    HRESULT CreateIndexBuffer(UINT length, DWORD, D3DFORMAT format, D3DPOOL, IDirect3DIndexBuffer9** out,
                              HANDLE*) override
    {
        if (!out || length == 0) return D3DERR_INVALIDCALL;
        if (Fail()) return E_OUTOFMEMORY;
        *out = new FakeBuffer<StubIndexBuffer>(&counters, length, format, 0);
        return D3D_OK;
    }
    HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** out, HANDLE*) override
    {
        if (!out || w == 0 || h == 0) return D3DERR_INVALIDCALL;
        if (BytesPerTexel(format) == 0 && !IsDxt(format)) return D3DERR_INVALIDCALL;
        if (Fail()) return E_OUTOFMEMORY;
        lastTexture = new FakeTexture(&counters, w, h, levels, usage, format, pool);
        *out = lastTexture;
        return D3D_OK;
    }
    bool Fail()
    {
        if (counters.failCreates == 0) return false;
        --counters.failCreates;
        return true;
    }
    FakeCounters counters;
    FakeTexture* lastTexture = nullptr;
};
} // namespace ferolt::test
