#include "engine/core/image_decoding.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/core/blob_stream.h"
#include "engine/core/globals.h"
#include "engine/core/memory_bmp.h"
#include "engine/core/owned_array.h"
#include "platform/gdiplus/gdiplus.h"

namespace LMK
{
namespace
{
// BITMAPFILEHEADER and BITMAPV4HEADER of a 32-bit BI_BITFIELDS file with an alpha mask.
constexpr DWORD kArgbBmpHeaderSize = 122;

void WriteArgbBmpHeader(BYTE* file, UINT width, UINT height, bool bottomUp, DWORD fileSize)
{
    WriteMemoryBmpHeader(file, fileSize, kArgbBmpHeaderSize, 108, INT(width),
                         bottomUp ? INT(height) : -INT(height), 32, 3 /* BI_BITFIELDS */, 0);
    PutLittleEndian(file + 54, 0x00FF0000u, 4);
    PutLittleEndian(file + 58, 0x0000FF00u, 4);
    PutLittleEndian(file + 62, 0x000000FFu, 4);
    PutLittleEndian(file + 66, 0xFF000000u, 4);
}

using BitmapPtr = std::unique_ptr<Gdiplus::Bitmap>;

BitmapPtr DecodeImage(const void* image, DWORD size)
{
    const CountedPtr<CSimpleBlobStream> stream(new (std::nothrow) CSimpleBlobStream(image, size));
    if (!stream) return nullptr;
    BitmapPtr bitmap(Gdiplus::Bitmap::FromStream(stream.get()));
    if (bitmap && bitmap->GetLastStatus() != Gdiplus::Ok) bitmap.reset();
    return bitmap;
}

// Each side beyond the devices' largest texture is clamped on its own, so the aspect may change.
BitmapPtr ScaledToDevices(BitmapPtr bitmap)
{
    const UINT maxW = CurrentGlobals ? CurrentGlobals->devices.maxTextureWidth : 0;
    const UINT maxH = CurrentGlobals ? CurrentGlobals->devices.maxTextureHeight : 0;
    const UINT w = bitmap->GetWidth(), h = bitmap->GetHeight();
    const bool wide = maxW && w > maxW, tall = maxH && h > maxH;
    if (!wide && !tall) return bitmap;
    BitmapPtr scaled(new (std::nothrow) Gdiplus::Bitmap(INT(wide ? maxW : w), INT(tall ? maxH : h),
                                                        Gdiplus::PixelFormat32bppARGB));
    if (!scaled || scaled->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Graphics graphics(scaled.get());
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
    if (graphics.DrawImage(bitmap.get(), 0, 0, INT(scaled->GetWidth()), INT(scaled->GetHeight())) !=
        Gdiplus::Ok)
        return nullptr;
    return scaled;
}
} // namespace

HRESULT CreateDeviceTextureFromImage(IDirect3DDevice9* device, const void* image, DWORD size, UINT width,
                                     UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     DWORD filter, DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                     PALETTEENTRY* palette, IDirect3DTexture9** texture, bool flip,
                                     float* resolutionX, float* resolutionY)
{
    if (texture) *texture = nullptr;
    if (!image || size == 0) return E_FAIL;
    BitmapPtr bitmap = DecodeImage(image, size);
    if (!bitmap) return E_FAIL;
    const UINT imageWidth = bitmap->GetWidth(), imageHeight = bitmap->GetHeight();
    if (resolutionX) *resolutionX = bitmap->GetHorizontalResolution();
    if (resolutionY) *resolutionY = bitmap->GetVerticalResolution();

    bitmap = ScaledToDevices(std::move(bitmap));
    if (!bitmap) return E_FAIL;
    Gdiplus::BitmapData locked{};
    Gdiplus::Rect all(0, 0, INT(bitmap->GetWidth()), INT(bitmap->GetHeight()));
    if (bitmap->LockBits(&all, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &locked) !=
        Gdiplus::Ok)
        return E_FAIL;

    // The copy reads only the rows and columns the image has: a larger request takes the whole image.
    const UINT w = (width == 0 || width > locked.Width) ? locked.Width : width;
    const UINT h = (height == 0 || height > locked.Height) ? locked.Height : height;
    const uint64_t fileSize = uint64_t(w) * h * 4 + kArgbBmpHeaderSize;
    HRESULT hr = E_OUTOFMEMORY;
    std::unique_ptr<BYTE[]> file = fileSize <= 0xFFFFFFFFu ? NewBuffer<BYTE>(size_t(fileSize)) : nullptr;
    if (file)
    {
        WriteArgbBmpHeader(file.get(), w, h, flip, DWORD(fileSize));
        BYTE* out = file.get() + kArgbBmpHeaderSize;
        for (UINT y = 0; y < h; ++y)
        {
            const BYTE* row = static_cast<const BYTE*>(locked.Scan0) + ptrdiff_t(y) * locked.Stride;
            BYTE* dst = out + size_t(y) * w * 4;
            std::memcpy(dst, row, size_t(w) * 4);
            // The pixels after the 122-byte header are not 4-byte aligned: the key is found by value.
            for (UINT x = 0; x < w; ++x)
            {
                DWORD pixel;
                std::memcpy(&pixel, dst + size_t(x) * 4, 4);
                if (pixel == colorKey) dst[size_t(x) * 4 + 3] = kColorKeyAlpha;
            }
        }
        hr = D3DXCreateTextureFromFileInMemoryEx(device, file.get(), UINT(fileSize), w, h, mipLevels, usage,
                                                 format, pool, filter, mipFilter, 0, info, palette, texture);
        if (info)
        {
            info->Width = imageWidth;
            info->Height = imageHeight;
        }
    }
    bitmap->UnlockBits(&locked);
    return hr;
}
} // namespace LMK
