// Textures from image files in memory, texture creation, surface copies and mip filtering.
// Every path goes through 32-bit ARGB pixels: images come from the shared image layer in that form,
// and surfaces are read into it and written from it by format.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/d3d9/format_table.h"
#include "platform/d3dx9/d3dx9tex.h"
#include "platform/image/image.h"
#include "platform/win32/out_of_memory.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace
{
using ferolt::CatchOutOfMemory;
using ferolt::d3d9::ConvertibleTexelBytes;
using ferolt::image::Image;

uint32_t Expand(uint32_t v, int bits)
{
    return bits == 0 ? 0 : (v * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1);
}

void StorePixel(D3DFORMAT f, UINT bytes, uint32_t argb, uint8_t* p)
{
    const uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    uint32_t v = 0;
    switch (f)
    {
    case D3DFMT_A8R8G8B8:
        v = argb;
        break;
    case D3DFMT_X8R8G8B8:
        v = argb | 0xFF000000u;
        break;
    case D3DFMT_A8B8G8R8:
        v = (a << 24) | (b << 16) | (g << 8) | r;
        break;
    case D3DFMT_X8B8G8R8:
        v = 0xFF000000u | (b << 16) | (g << 8) | r;
        break;
    case D3DFMT_R8G8B8:
        p[0] = uint8_t(b);
        p[1] = uint8_t(g);
        p[2] = uint8_t(r);
        return;
    case D3DFMT_R5G6B5:
        v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        break;
    case D3DFMT_X1R5G5B5:
        v = 0x8000 | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        break;
    case D3DFMT_A1R5G5B5:
        v = ((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        break;
    case D3DFMT_A4R4G4B4:
        v = ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
        break;
    case D3DFMT_X4R4G4B4:
        v = 0xF000 | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
        break;
    case D3DFMT_A8L8:
        v = (a << 8) | ((r * 77 + g * 150 + b * 29 + 128) >> 8);
        break;
    case D3DFMT_L8:
        v = (r * 77 + g * 150 + b * 29 + 128) >> 8;
        break;
    case D3DFMT_A8:
        v = a;
        break;
    default:
        return;
    }
    std::memcpy(p, &v, bytes);
}

uint32_t LoadPixel(D3DFORMAT f, UINT bytes, const uint8_t* p)
{
    uint32_t v = 0;
    std::memcpy(&v, p, bytes);
    switch (f)
    {
    case D3DFMT_A8R8G8B8:
        return v;
    case D3DFMT_X8R8G8B8:
        return v | 0xFF000000u;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
    {
        uint32_t a = f == D3DFMT_A8B8G8R8 ? (v >> 24) : 0xFF;
        return (a << 24) | ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
    }
    case D3DFMT_R8G8B8:
        return 0xFF000000u | v;
    case D3DFMT_R5G6B5:
        return 0xFF000000u | (Expand(v >> 11, 5) << 16) | (Expand((v >> 5) & 63, 6) << 8) | Expand(v & 31, 5);
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    {
        uint32_t a = (f == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 0xFF : 0;
        return (a << 24) | (Expand((v >> 10) & 31, 5) << 16) | (Expand((v >> 5) & 31, 5) << 8) |
               Expand(v & 31, 5);
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
    {
        uint32_t a = f == D3DFMT_X4R4G4B4 ? 0xFF : Expand(v >> 12, 4);
        return (a << 24) | (Expand((v >> 8) & 15, 4) << 16) | (Expand((v >> 4) & 15, 4) << 8) |
               Expand(v & 15, 4);
    }
    case D3DFMT_A8L8:
        return ((v >> 8) << 24) | ((v & 0xFF) * 0x010101u);
    case D3DFMT_L8:
        return 0xFF000000u | (v * 0x010101u);
    case D3DFMT_A8:
        return v << 24;
    default:
        return 0;
    }
}

// Point sampling picks the texel whose centre is nearest; every other filter averages the source
// texels under each destination texel (a box), which is exact for the halving of mip levels.
Image Resample(const Image& src, UINT w, UINT h, DWORD filter)
{
    Image out;
    out.width = w;
    out.height = h;
    out.pixels.assign(size_t(w) * h, 0);
    const DWORD kind = filter & 0xFF;
    if (kind == D3DX_FILTER_NONE)
    {
        for (UINT y = 0; y < std::min(h, src.height); ++y)
            for (UINT x = 0; x < std::min(w, src.width); ++x)
                out.pixels[size_t(y) * w + x] = src.At(x, y);
        return out;
    }
    if (w == src.width && h == src.height)
    {
        out.pixels = src.pixels;
        return out;
    }
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
        {
            if (kind == D3DX_FILTER_POINT)
            {
                UINT sx = UINT((uint64_t(x) * 2 + 1) * src.width / (uint64_t(w) * 2));
                UINT sy = UINT((uint64_t(y) * 2 + 1) * src.height / (uint64_t(h) * 2));
                out.pixels[size_t(y) * w + x] =
                    src.At(std::min(sx, src.width - 1), std::min(sy, src.height - 1));
                continue;
            }
            UINT x0 = UINT(uint64_t(x) * src.width / w), x1 = UINT((uint64_t(x) + 1) * src.width / w);
            UINT y0 = UINT(uint64_t(y) * src.height / h), y1 = UINT((uint64_t(y) + 1) * src.height / h);
            x1 = std::max(x1, x0 + 1);
            y1 = std::max(y1, y0 + 1);
            uint64_t sum[4] = {0, 0, 0, 0};
            for (UINT sy = y0; sy < y1; ++sy)
                for (UINT sx = x0; sx < x1; ++sx)
                {
                    uint32_t p = src.At(sx, sy);
                    for (int c = 0; c < 4; ++c)
                        sum[c] += (p >> (c * 8)) & 0xFF;
                }
            const uint64_t n = uint64_t(x1 - x0) * (y1 - y0);
            uint32_t p = 0;
            for (int c = 0; c < 4; ++c)
                p |= uint32_t((sum[c] + n / 2) / n) << (c * 8);
            out.pixels[size_t(y) * w + x] = p;
        }
    return out;
}

HRESULT WriteLevel(IDirect3DTexture9* texture, UINT level, const Image& img)
{
    D3DSURFACE_DESC desc;
    HRESULT hr = texture->GetLevelDesc(level, &desc);
    if (FAILED(hr)) return hr;
    const UINT bpp = ConvertibleTexelBytes(desc.Format);
    if (bpp == 0)
        return Refuse("WriteLevel.UnconvertibleFormat"); // compressed or odd formats are not written here
    D3DLOCKED_RECT lr;
    hr = texture->LockRect(level, &lr, nullptr, 0);
    if (FAILED(hr)) return hr;
    const UINT w = std::min(desc.Width, img.width), h = std::min(desc.Height, img.height);
    for (UINT y = 0; y < h; ++y)
    {
        uint8_t* row = static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch;
        for (UINT x = 0; x < w; ++x)
            StorePixel(desc.Format, bpp, img.At(x, y), row + size_t(x) * bpp);
    }
    return texture->UnlockRect(level);
}

HRESULT ReadSurface(IDirect3DSurface9* surface, const RECT* rect, Image* out)
{
    D3DSURFACE_DESC desc;
    HRESULT hr = surface->GetDesc(&desc);
    if (FAILED(hr)) return hr;
    const UINT bpp = ConvertibleTexelBytes(desc.Format);
    if (bpp == 0) return Refuse("ReadSurface.UnconvertibleFormat");
    RECT r = rect ? *rect : RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
    if (r.left < 0 || r.top < 0 || r.right <= r.left || r.bottom <= r.top || UINT(r.right) > desc.Width ||
        UINT(r.bottom) > desc.Height)
        return Refuse("ReadSurface.RectOutside");
    // Allocated before the lock: running out of memory must not leave the surface locked.
    out->width = UINT(r.right - r.left);
    out->height = UINT(r.bottom - r.top);
    out->pixels.resize(size_t(out->width) * out->height);
    D3DLOCKED_RECT lr;
    hr = surface->LockRect(&lr, nullptr, D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    for (UINT y = 0; y < out->height; ++y)
    {
        const uint8_t* row = static_cast<const uint8_t*>(lr.pBits) + size_t(r.top + y) * lr.Pitch;
        for (UINT x = 0; x < out->width; ++x)
            out->pixels[size_t(y) * out->width + x] =
                LoadPixel(desc.Format, bpp, row + size_t(r.left + x) * bpp);
    }
    return surface->UnlockRect();
}

void ApplyColorKey(Image* img, D3DCOLOR key)
{
    if (key == 0) return;
    for (uint32_t& p : img->pixels)
        if (p == key) p = 0;
}

bool IsDefault(UINT v)
{
    return v == 0 || v == D3DX_DEFAULT || v == D3DX_DEFAULT_NONPOW2 || v == D3DX_FROM_FILE;
}

UINT FullChain(UINT w, UINT h)
{
    UINT levels = 1;
    for (UINT s = std::max(w, h); s > 1; s /= 2)
        ++levels;
    return levels;
}

D3DXIMAGE_FILEFORMAT FileFormat(ferolt::image::Format f)
{
    using F = ferolt::image::Format;
    switch (f)
    {
    case F::Jpeg:
        return D3DXIFF_JPG;
    case F::Png:
        return D3DXIFF_PNG;
    case F::Tga:
        return D3DXIFF_TGA;
    case F::Dds:
        return D3DXIFF_DDS;
    default:
        return D3DXIFF_BMP;
    }
}

D3DFORMAT FileTexelFormat(const ferolt::image::Info& info, const uint8_t* data, size_t size)
{
    using F = ferolt::image::Format;
    if (info.format == F::Dds)
    {
        ferolt::image::DdsFile dds;
        if (ferolt::image::ParseDds(data, size, &dds) == ferolt::image::Status::Ok)
            return D3DFORMAT(dds.format);
    }
    if (info.hasAlpha) return D3DFMT_A8R8G8B8;
    if (info.bitsPerPixel == 8 && info.format != F::Jpeg) return D3DFMT_P8;
    if (info.bitsPerPixel == 24 && info.format != F::Jpeg) return D3DFMT_R8G8B8;
    return D3DFMT_X8R8G8B8;
}

HRESULT DecodeImage(const void* data, UINT size, Image* out)
{
    switch (ferolt::image::Decode(static_cast<const uint8_t*>(data), size, out))
    {
    case ferolt::image::Status::Ok:
        return D3D_OK;
    case ferolt::image::Status::OutOfMemory:
        return E_OUTOFMEMORY;
    default:
        return D3DXERR_INVALIDDATA;
    }
}

// Where a texture's levels come from: the file and how D3DXCreateTextureFromFileInMemoryEx was asked
// to filter it.
struct TextureSource
{
    const void* data;
    UINT size;
    const D3DXIMAGE_INFO& info;
    UINT width, height; // of the texture's first level
    DWORD filter;
    DWORD mipFilter;
    D3DCOLOR colorKey;
};

// Fills every level of texture from the decoded file image.
HRESULT WriteLevels(IDirect3DTexture9* texture, const TextureSource& src, const Image& image)
{
    // A DDS file's own smaller levels are used where they have the texture's level sizes.
    ferolt::image::DdsFile dds;
    const bool ddsLevels = src.info.ImageFileFormat == D3DXIFF_DDS && src.info.MipLevels > 1 &&
                           ferolt::image::ParseDds(static_cast<const uint8_t*>(src.data), src.size, &dds) ==
                               ferolt::image::Status::Ok;
    Image level = Resample(image, src.width, src.height,
                           src.filter == D3DX_DEFAULT ? D3DX_FILTER_TRIANGLE : src.filter);
    HRESULT hr = D3D_OK;
    const UINT count = texture->GetLevelCount();
    for (UINT i = 0; i < count && SUCCEEDED(hr); ++i)
    {
        if (i > 0)
        {
            D3DSURFACE_DESC desc;
            hr = texture->GetLevelDesc(i, &desc);
            if (FAILED(hr)) break;
            Image stored;
            if (ddsLevels && i < dds.levels.size() && dds.levels[i].width == desc.Width &&
                dds.levels[i].height == desc.Height &&
                ferolt::image::DecodeDdsLevel(dds, i, &stored) == ferolt::image::Status::Ok)
            {
                ApplyColorKey(&stored, src.colorKey);
                level = std::move(stored);
                hr = WriteLevel(texture, i, level);
                continue;
            }
            // Without a mip filter the smaller levels still need content: sample them.
            const DWORD mip = src.mipFilter == D3DX_DEFAULT                ? D3DX_FILTER_BOX
                              : (src.mipFilter & 0xFF) == D3DX_FILTER_NONE ? D3DX_FILTER_POINT
                                                                           : src.mipFilter;
            level = Resample(level, desc.Width, desc.Height, mip);
        }
        hr = WriteLevel(texture, i, level);
    }
    return hr;
}

// Draws the source rectangle of src into rect r of dest, scaled with filter.
HRESULT DrawScaled(IDirect3DSurface9* dest, const D3DSURFACE_DESC& dd, const RECT& r,
                   IDirect3DSurface9* srcSurface, const RECT* srcRect, DWORD filter, D3DCOLOR colorKey)
{
    const UINT bpp = ConvertibleTexelBytes(dd.Format);
    Image src;
    HRESULT hr = ReadSurface(srcSurface, srcRect, &src);
    if (FAILED(hr)) return hr;
    ApplyColorKey(&src, colorKey);
    Image scaled = Resample(src, UINT(r.right - r.left), UINT(r.bottom - r.top), filter);
    D3DLOCKED_RECT lr;
    hr = dest->LockRect(&lr, nullptr, 0);
    if (FAILED(hr)) return hr;
    for (UINT y = 0; y < scaled.height; ++y)
    {
        uint8_t* row = static_cast<uint8_t*>(lr.pBits) + size_t(r.top + y) * lr.Pitch;
        for (UINT x = 0; x < scaled.width; ++x)
            StorePixel(dd.Format, bpp, scaled.At(x, y), row + size_t(r.left + x) * bpp);
    }
    return dest->UnlockRect();
}

// Each level after first sampled from the one above it.
HRESULT FilterLevels(IDirect3DTexture9* texture, UINT first, DWORD filter)
{
    IDirect3DSurface9* surface = nullptr;
    HRESULT hr = texture->GetSurfaceLevel(first, &surface);
    if (FAILED(hr)) return hr;
    Image level;
    // Read on its own so the level's reference is released even when memory runs out.
    hr = ferolt::CatchOutOfMemory(E_OUTOFMEMORY, [&] { return ReadSurface(surface, nullptr, &level); });
    surface->Release();
    const UINT count = texture->GetLevelCount();
    for (UINT i = first + 1; i < count && SUCCEEDED(hr); ++i)
    {
        D3DSURFACE_DESC desc;
        hr = texture->GetLevelDesc(i, &desc);
        if (FAILED(hr)) break;
        level = Resample(level, desc.Width, desc.Height, filter == D3DX_DEFAULT ? D3DX_FILTER_BOX : filter);
        hr = WriteLevel(texture, i, level);
    }
    return hr;
}
} // namespace

HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* pDevice, UINT* pWidth, UINT* pHeight,
                                     UINT* pNumMipLevels, DWORD, D3DFORMAT* pFormat, D3DPOOL)
{
    if (!pDevice) return Refuse("D3DXCheckTextureRequirements.NullPointer");
    UINT maxW = 16384, maxH = 16384;
    D3DCAPS9 caps;
    if (SUCCEEDED(pDevice->GetDeviceCaps(&caps)) && caps.MaxTextureWidth && caps.MaxTextureHeight)
    {
        maxW = std::min<UINT>(maxW, caps.MaxTextureWidth);
        maxH = std::min<UINT>(maxH, caps.MaxTextureHeight);
    }
    UINT w = pWidth && !IsDefault(*pWidth) ? *pWidth : 256;
    UINT h = pHeight && !IsDefault(*pHeight) ? *pHeight : 256;
    w = std::min(w, maxW);
    h = std::min(h, maxH);
    if (pWidth) *pWidth = w;
    if (pHeight) *pHeight = h;
    if (pNumMipLevels)
    {
        const UINT full = FullChain(w, h);
        *pNumMipLevels = IsDefault(*pNumMipLevels) ? full : std::min(*pNumMipLevels, full);
    }
    if (pFormat && (*pFormat == D3DFMT_UNKNOWN || *pFormat == D3DFMT_FROM_FILE)) *pFormat = D3DFMT_A8R8G8B8;
    return D3D_OK;
}

HRESULT D3DXCreateTexture(IDirect3DDevice9* pDevice, UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                          D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture)
{
    if (!ppTexture) return Refuse("D3DXCreateTexture.NullPointer");
    *ppTexture = nullptr;
    HRESULT hr = D3DXCheckTextureRequirements(pDevice, &Width, &Height, &MipLevels, Usage, &Format, Pool);
    if (FAILED(hr)) return hr;
    return pDevice->CreateTexture(Width, Height, MipLevels, Usage, Format, Pool, ppTexture, nullptr);
}

HRESULT D3DXGetImageInfoFromFileInMemory(const void* pSrcData, UINT SrcDataSize, D3DXIMAGE_INFO* pSrcInfo)
{
    if (!pSrcData) return Refuse("D3DXGetImageInfoFromFileInMemory.NullData");
    if (SrcDataSize == 0) return Refuse("D3DXGetImageInfoFromFileInMemory.Empty");
    if (!pSrcInfo) return Refuse("D3DXGetImageInfoFromFileInMemory.NullPointer");
    const auto* data = static_cast<const uint8_t*>(pSrcData);
    ferolt::image::Info info;
    if (ferolt::image::QueryInfo(data, SrcDataSize, &info) != ferolt::image::Status::Ok ||
        info.format == ferolt::image::Format::Jpeg2000 || info.format == ferolt::image::Format::Unknown)
        return D3DXERR_INVALIDDATA;
    pSrcInfo->Width = info.width;
    pSrcInfo->Height = info.height;
    pSrcInfo->Depth = 1;
    pSrcInfo->MipLevels = std::max(1u, info.mipLevels);
    pSrcInfo->Format = FileTexelFormat(info, data, SrcDataSize);
    pSrcInfo->ResourceType = D3DRTYPE_TEXTURE;
    pSrcInfo->ImageFileFormat = FileFormat(info.format);
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, const void* pSrcData, UINT SrcDataSize,
                                            UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                            D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY*,
                                            IDirect3DTexture9** ppTexture)
{
    if (!ppTexture) return Refuse("D3DXCreateTextureFromFileInMemoryEx.NullPointer");
    *ppTexture = nullptr;
    if (!pDevice) return Refuse("D3DXCreateTextureFromFileInMemoryEx.NoDevice");
    if (!pSrcData) return Refuse("D3DXCreateTextureFromFileInMemoryEx.NullData");
    if (SrcDataSize == 0) return Refuse("D3DXCreateTextureFromFileInMemoryEx.Empty");
    D3DXIMAGE_INFO info;
    HRESULT hr = D3DXGetImageInfoFromFileInMemory(pSrcData, SrcDataSize, &info);
    if (FAILED(hr)) return hr;

    Image image;
    hr = CatchOutOfMemory(E_OUTOFMEMORY, [&] { return DecodeImage(pSrcData, SrcDataSize, &image); });
    if (FAILED(hr)) return hr;
    ApplyColorKey(&image, ColorKey);

    UINT w = IsDefault(Width) ? image.width : Width;
    UINT h = IsDefault(Height) ? image.height : Height;
    UINT levels = MipLevels == D3DX_FROM_FILE ? info.MipLevels : MipLevels;
    D3DFORMAT format = Format;
    if (format == D3DFMT_UNKNOWN || format == D3DFMT_FROM_FILE)
        format = ConvertibleTexelBytes(info.Format) && info.Format != D3DFMT_R8G8B8 ? info.Format
                 : image.hasAlpha                                                   ? D3DFMT_A8R8G8B8
                                                                                    : D3DFMT_X8R8G8B8;
    // Compressed and palette formats are converted to 32-bit texels: this layer never encodes them.
    if (ConvertibleTexelBytes(format) == 0) format = image.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    hr = D3DXCheckTextureRequirements(pDevice, &w, &h, &levels, Usage, &format, Pool);
    if (FAILED(hr)) return hr;

    IDirect3DTexture9* texture = nullptr;
    hr = pDevice->CreateTexture(w, h, levels, Usage, format, Pool, &texture, nullptr);
    if (FAILED(hr)) return hr;
    const TextureSource source{pSrcData, SrcDataSize, info, w, h, Filter, MipFilter, ColorKey};
    hr = CatchOutOfMemory(E_OUTOFMEMORY, [&] { return WriteLevels(texture, source, image); });
    if (FAILED(hr))
    {
        texture->Release();
        return hr;
    }
    if (pSrcInfo) *pSrcInfo = info;
    *ppTexture = texture;
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, const void* pSrcData, UINT SrcDataSize,
                                          IDirect3DTexture9** ppTexture)
{
    return D3DXCreateTextureFromFileInMemoryEx(pDevice, pSrcData, SrcDataSize, D3DX_DEFAULT, D3DX_DEFAULT,
                                               D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                               D3DX_DEFAULT, 0, nullptr, nullptr, ppTexture);
}

HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* pDestSurface, const PALETTEENTRY*,
                                   const RECT* pDestRect, IDirect3DSurface9* pSrcSurface, const PALETTEENTRY*,
                                   const RECT* pSrcRect, DWORD Filter, D3DCOLOR ColorKey)
{
    if (!pDestSurface || !pSrcSurface) return Refuse("D3DXLoadSurfaceFromSurface.NullPointer");
    D3DSURFACE_DESC dd;
    HRESULT hr = pDestSurface->GetDesc(&dd);
    if (FAILED(hr)) return hr;
    const UINT bpp = ConvertibleTexelBytes(dd.Format);
    RECT r = pDestRect ? *pDestRect : RECT{0, 0, LONG(dd.Width), LONG(dd.Height)};
    if (bpp == 0) return Refuse("D3DXLoadSurfaceFromSurface.UnconvertibleFormat");
    if (r.left < 0 || r.top < 0 || r.right <= r.left || r.bottom <= r.top || UINT(r.right) > dd.Width ||
        UINT(r.bottom) > dd.Height)
        return Refuse("D3DXLoadSurfaceFromSurface.RectOutside");
    const DWORD filter = Filter == D3DX_DEFAULT ? D3DX_FILTER_TRIANGLE : Filter;
    return CatchOutOfMemory(
        E_OUTOFMEMORY,
        [&] { return DrawScaled(pDestSurface, dd, r, pSrcSurface, pSrcRect, filter, ColorKey); });
}

HRESULT D3DXFilterTexture(IDirect3DBaseTexture9* pBaseTexture, const PALETTEENTRY*, UINT SrcLevel,
                          DWORD Filter)
{
    if (!pBaseTexture) return Refuse("D3DXFilterTexture.NullPointer");
    if (pBaseTexture->GetType() != D3DRTYPE_TEXTURE) return Refuse("D3DXFilterTexture.WrongType");
    auto* texture = static_cast<IDirect3DTexture9*>(pBaseTexture);
    const UINT count = texture->GetLevelCount();
    if (SrcLevel == D3DX_DEFAULT) SrcLevel = 0;
    if (SrcLevel >= count) return Refuse("D3DXFilterTexture.OutOfRange");
    return CatchOutOfMemory(E_OUTOFMEMORY, [&] { return FilterLevels(texture, SrcLevel, Filter); });
}
