// Textures made from raw pixels, and bump maps derived from a height texture.
#include <cstring>
#include <memory>
#include <new>

#include "engine/core/globals.h"
#include "engine/core/memory_bmp.h"
#include "engine/core/owned_array.h"
#include "engine/core/texture.h"

namespace LMK
{
namespace
{
// Largest in-memory BMP made from pixels; the devices hold nothing near it.
constexpr uint64_t kMaxPixelBmpBytes = 256ull << 20;

// The device's own texture, one level, filled row by row; null when it cannot be made.
IDirect3DTexture9* CreateDirect(const void* pixels, bool indexed, DWORD width, DWORD height)
{
    IDirect3DDevice9* device = PrimaryDevice();
    IDirect3DTexture9* texture = nullptr;
    if (!device || FAILED(device->CreateTexture(width, height, 1, 0, indexed ? D3DFMT_P8 : D3DFMT_A8R8G8B8,
                                                D3DPOOL_MANAGED, &texture, nullptr)))
        return nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)))
    {
        texture->Release();
        return nullptr;
    }
    const size_t row = size_t(width) * (indexed ? 1 : 4);
    for (DWORD y = 0; y < height; ++y)
        std::memcpy(static_cast<BYTE*>(locked.pBits) + size_t(y) * locked.Pitch,
                    static_cast<const BYTE*>(pixels) + y * row, row);
    texture->UnlockRect(0);
    return texture;
}

// A top-down BMP file of the pixels: 32-bit rows as they are, or 8-bit rows padded to 4 bytes after
// the 256-entry palette.
std::unique_ptr<BYTE[]> PixelBmp(const void* pixels, const DWORD* palette, DWORD width, DWORD height,
                                 DWORD* fileSize)
{
    const uint64_t rowBytes = palette ? (uint64_t(width) + 3) & ~uint64_t(3) : uint64_t(width) * 4;
    const uint64_t offset = palette ? 1078 : 54;
    const uint64_t size = rowBytes * height + offset;
    if (size > kMaxPixelBmpBytes) return nullptr;
    std::unique_ptr<BYTE[]> file = NewArray<BYTE>(size_t(size));
    if (!file) return nullptr;
    BYTE* f = file.get();
    WriteMemoryBmpHeader(f, DWORD(size), DWORD(offset), 40, INT(width), -INT(height), palette ? 8 : 32, 0, 0);
    if (palette) std::memcpy(f + 54, palette, 256 * 4);
    const size_t sourceRow = palette ? width : size_t(width) * 4;
    for (DWORD y = 0; y < height; ++y)
        std::memcpy(f + offset + y * rowBytes, static_cast<const BYTE*>(pixels) + y * sourceRow, sourceRow);
    *fileSize = DWORD(size);
    return file;
}

// The height of a bump map's source pixel: its blue channel as a byte, by the source's format.
bool HeightReader(D3DFORMAT format, UINT* bytes, BYTE (**read)(const BYTE*))
{
    switch (format)
    {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        *bytes = 4;
        *read = [](const BYTE* p) { return p[0]; };
        return true;
    case D3DFMT_R8G8B8:
        *bytes = 3;
        *read = [](const BYTE* p) { return p[0]; };
        return true;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        *bytes = 2;
        *read = [](const BYTE* p) { return BYTE((p[0] & 31) * 255 / 31); };
        return true;
    case D3DFMT_L8:
    case D3DFMT_A8:
    case D3DFMT_P8:
        *bytes = 1;
        *read = [](const BYTE* p) { return p[0]; };
        return true;
    default:
        return false;
    }
}

void WriteBumpTexel(D3DFORMAT format, int du, int dv, int luminance, BYTE* out)
{
    switch (format)
    {
    case D3DFMT_V8U8:
        out[0] = BYTE(du);
        out[1] = BYTE(dv);
        break;
    case D3DFMT_L6V5U5:
    {
        const WORD v = WORD(((du >> 3) & 0x1F) | (((dv >> 3) & 0x1F) << 5) | ((luminance >> 2) << 10));
        std::memcpy(out, &v, 2);
        break;
    }
    case D3DFMT_X8L8V8U8:
        out[0] = BYTE(du);
        out[1] = BYTE(dv);
        out[2] = BYTE(luminance);
        out[3] = 0;
        break;
    default:
        break;
    }
}

// Bytes of a bump texel; 0 for a format no bump map is written in.
UINT BumpTexelBytes(D3DFORMAT format)
{
    switch (format)
    {
    case D3DFMT_V8U8:
    case D3DFMT_L6V5U5:
        return 2;
    case D3DFMT_X8L8V8U8:
        return 4;
    default:
        return 0;
    }
}
} // namespace
} // namespace LMK

using LMK::Texture_;

HRESULT LRCreateTextureFromPixels(const void* pixels, const DWORD* palette, DWORD width, DWORD height,
                                  const LMK::TextureLoadOptionsStruct_TYP* options, Texture_** texture)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!texture) return E_INVALIDARG;
    *texture = nullptr;
    if (!pixels || width == 0 || height == 0) return E_INVALIDARG;
    const LMK::TextureLoadOptionsStruct_TYP& o = options ? *options : LMK::kDefaultTextureLoadOptions;
    DWORD format = o.format;
    if (format == LMK::kDirectPixelsFormat)
    {
        if (uint64_t(width) * height * 4 > LMK::kMaxPixelBmpBytes) return E_INVALIDARG;
        if (IDirect3DTexture9* direct = LMK::CreateDirect(pixels, palette != nullptr, width, height))
        {
            const D3DXIMAGE_INFO info{
                width, height, 1, 1, palette ? D3DFMT_P8 : D3DFMT_A8R8G8B8, D3DRTYPE_TEXTURE, D3DXIFF_BMP};
            *texture = Texture_::Create(nullptr, direct, &info, 0, 0);
            if (!*texture)
            {
                direct->Release();
                return E_OUTOFMEMORY;
            }
            return S_OK;
        }
        format = D3DFMT_UNKNOWN;
    }
    DWORD size = 0;
    std::unique_ptr<BYTE[]> bmp = LMK::PixelBmp(pixels, palette, width, height, &size);
    if (!bmp) return E_OUTOFMEMORY;
    IDirect3DTexture9* d3dTexture = nullptr;
    D3DXIMAGE_INFO info{};
    const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
        LMK::PrimaryDevice(), bmp.get(), size, o.width, o.height, o.mipLevels, 0, D3DFORMAT(format),
        D3DPOOL_MANAGED, o.filter, o.mipFilter, o.colorKey, &info, nullptr, &d3dTexture);
    // A texture without a device texture would only draw untextured: the failure is reported instead.
    if (FAILED(hr)) return hr;
    *texture = Texture_::Create(nullptr, d3dTexture, &info, 0, 0);
    if (!*texture)
    {
        d3dTexture->Release();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT LRCreateBumpMap(Texture_* source, Texture_** bumpMap, D3DFORMAT format)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!source || !bumpMap) return E_INVALIDARG;
    if (source->derivedBumpMap)
    {
        source->derivedBumpMap->AddRef();
        *bumpMap = source->derivedBumpMap;
        return S_OK;
    }
    *bumpMap = nullptr;
    IDirect3DTexture9* heights = source->PrimaryTexture();
    IDirect3DDevice9* device = LMK::PrimaryDevice();
    D3DSURFACE_DESC desc{};
    UINT sourceBytes = 0;
    BYTE (*height)(const BYTE*) = nullptr;
    if (!heights || !device || FAILED(heights->GetLevelDesc(0, &desc)) ||
        !LMK::HeightReader(desc.Format, &sourceBytes, &height))
        return E_FAIL;
    IDirect3DTexture9* bump = nullptr;
    if (FAILED(device->CreateTexture(desc.Width, desc.Height, 1, 0, format, D3DPOOL_MANAGED, &bump, nullptr)))
        return E_FAIL;

    D3DLOCKED_RECT in{}, out{};
    if (SUCCEEDED(heights->LockRect(0, &in, nullptr, D3DLOCK_READONLY)))
    {
        const UINT texelBytes = LMK::BumpTexelBytes(format);
        if (texelBytes && SUCCEEDED(bump->LockRect(0, &out, nullptr, 0)))
        {
            const UINT w = desc.Width, h = desc.Height;
            auto at = [&](UINT x, UINT y) {
                return int(height(static_cast<const BYTE*>(in.pBits) + size_t(y) * in.Pitch +
                                  size_t(x) * sourceBytes));
            };
            // Neighbours wrap around at every edge.
            for (UINT y = 0; y < h; ++y)
                for (UINT x = 0; x < w; ++x)
                {
                    const int du = at((x + w - 1) % w, y) - at((x + 1) % w, y);
                    const int dv = at(x, (y + h - 1) % h) - at(x, (y + 1) % h);
                    const int luminance = at(x, y) <= 128 ? 127 : 10;
                    LMK::WriteBumpTexel(format, du, dv, luminance,
                                        static_cast<BYTE*>(out.pBits) + size_t(y) * out.Pitch +
                                            size_t(x) * texelBytes);
                }
            bump->UnlockRect(0);
        }
        heights->UnlockRect(0);
    }
    auto* map = Texture_::Create(nullptr, bump, source->imageInfo.get(), 0, 0);
    if (!map)
    {
        bump->Release();
        return E_OUTOFMEMORY;
    }
    source->derivedBumpMap = map;
    map->bumpSource = source;
    source->AddRef();
    *bumpMap = map;
    return S_OK;
}
