// Texture chunks: a name and image bytes become an engine texture, tried by name first (equal names
// share one texture, and files or cached textures of that name win), then as an image the engine
// decodes, then as a JPEG-2000 code stream handed to the engine through the temporary loader.
#include "codec/jpeg2000_decoding.h"
#include "codec/p3d_chunks.h"
#include "codec/p3d_read_codec.h"
#include "codec/temp_blob_loader.h"

#include "engine/engine_api.h"
#include "platform/gdiplus/gdiplus.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
constexpr size_t kBmpHeaderSize = 54;

// A top-down 32-bit BMP of the locked pixels: rows of blue, green, red, alpha.
std::unique_ptr<BYTE[]> ArgbBmp(const Gdiplus::BitmapData& pixels, size_t* size)
{
    const size_t rowBytes = size_t(pixels.Width) * 4;
    const size_t imageBytes = rowBytes * pixels.Height;
    std::unique_ptr<BYTE[]> file = LMK::NewArray<BYTE>(kBmpHeaderSize + imageBytes);
    if (!file) return nullptr;
    BYTE* f = file.get();
    LMK::WriteMemoryBmpHeader(f, DWORD(kBmpHeaderSize + imageBytes), DWORD(kBmpHeaderSize), 40,
                              INT(pixels.Width), -INT(pixels.Height), 32, 0, DWORD(imageBytes));
    for (UINT y = 0; y < pixels.Height; ++y)
        std::memcpy(f + kBmpHeaderSize + y * rowBytes,
                    static_cast<const BYTE*>(pixels.Scan0) + ptrdiff_t(y) * pixels.Stride, rowBytes);
    *size = kBmpHeaderSize + imageBytes;
    return file;
}

// The code stream decoded and loaded under the name through the loader, which answers that one load.
LMK::Texture_* LoadJpeg2000(CTempBlobLoader* loader, const char* name, const BYTE* data, size_t size)
{
    Gdiplus::Bitmap* bitmap = nullptr;
    if (!loader || !DecodeJpeg2000ToBitmap({data, size}, &bitmap)) return nullptr;
    LMK::Texture_* texture = nullptr;
    Gdiplus::Rect all(0, 0, INT(bitmap->GetWidth()), INT(bitmap->GetHeight()));
    Gdiplus::BitmapData locked{};
    if (bitmap->LockBits(&all, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &locked) ==
        Gdiplus::Ok)
    {
        size_t bmpSize = 0;
        if (std::unique_ptr<BYTE[]> bmp = ArgbBmp(locked, &bmpSize))
        {
            loader->SetBlob(name, bmp.get(), bmpSize);
            if (FAILED(LRLoadTexture(name, nullptr, &texture))) texture = nullptr;
            loader->ClearBlob();
        }
        bitmap->UnlockBits(&locked);
    }
    ReleaseBitmapHolder(&bitmap);
    return texture;
}
} // namespace

bool CP3DReadCodec::DecodeTextureChunk(bool withoutFlags, BlobStorageData& chunk, size_t size,
                                       LMK::Texture_*& texture)
{
    texture = nullptr;
    // The chunk is read no further than the buffer holds, whatever size it is handed with.
    const size_t available = std::min(size, chunk.Remaining());
    P3DTextureChunk parsed;
    const bool readable = P3DParseTextureChunk(withoutFlags, chunk.Current(), available, parsed);
    chunk.Skip(available);
    if (!readable) return false;

    // The loader stays silent until it holds a decoded image, so that it does not answer the lookup.
    CTempBlobLoader* loader = GetOrCreateTempBlobLoader(m_blobContainerHolder);
    if (loader) loader->ClearBlob();
    const char* name = parsed.name.c_str();
    LMK::Texture_* made = nullptr;
    if (FAILED(LRLoadTexture(name, nullptr, &made))) made = nullptr;
    if (!made && parsed.imageSize <= 0xFFFFFFFFu &&
        FAILED(LRCreateTextureFromMemory(parsed.image, DWORD(parsed.imageSize), nullptr, &made, name)))
        made = nullptr;
    if (!made) made = LoadJpeg2000(loader, name, parsed.image, parsed.imageSize);
    if (loader) loader->Release();

    if (!made) return false;
    if (parsed.flags & 1) LRSetTextureFlag(made, 1);
    texture = made;
    SetMatChanges();
    return true;
}
