// GIF reading over giflib: the first image only, placed on the logical screen; the graphic
// control extension's transparent index gives alpha 0, as does screen area the image leaves.
#include "platform/image/byte_reader.h"
#include "platform/image/image.h"
#include "platform/win32/out_of_memory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <gif_lib.h>

namespace ferolt::image
{
namespace
{
struct MemorySource
{
    const uint8_t* data;
    size_t size;
    size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* src = static_cast<MemorySource*>(gif->UserData);
    const size_t n = std::min(size_t(count < 0 ? 0 : count), src->size - src->pos);
    std::memcpy(buffer, src->data + src->pos, n);
    src->pos += n;
    return int(n);
}

struct GifCloser
{
    GifFileType* gif;
    ~GifCloser()
    {
        int err = 0;
        if (gif) DGifCloseFile(gif, &err);
    }
};

Status Read(const uint8_t* data, size_t size, Info* info, Image* image)
{
    if (!data || size < 6) return Status::Unsupported;
    if (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0)
        return Status::Unsupported;
    MemorySource src{data, size, 0};
    int err = 0;
    GifCloser closer{DGifOpen(&src, ReadMemory, &err)};
    GifFileType* gif = closer.gif;
    if (!gif) return Status::Corrupt;

    int transparent = -1;
    for (;;)
    {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) != GIF_OK) return Status::Corrupt;
        if (type == TERMINATE_RECORD_TYPE) return Status::Corrupt; // no image at all
        if (type == EXTENSION_RECORD_TYPE)
        {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) != GIF_OK) return Status::Corrupt;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
                transparent = (ext[1] & 1) ? ext[4] : -1;
            while (ext)
                if (DGifGetExtensionNext(gif, &ext) != GIF_OK) return Status::Corrupt;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) return Status::Corrupt;
        if (DGifGetImageDesc(gif) != GIF_OK) return Status::Corrupt;
        break;
    }

    const GifImageDesc& desc = gif->Image;
    if (desc.Left < 0 || desc.Top < 0 || desc.Width <= 0 || desc.Height <= 0) return Status::Corrupt;
    if (Status s = CheckDimensions(uint32_t(desc.Width), uint32_t(desc.Height)); s != Status::Ok) return s;
    uint32_t width = uint32_t(gif->SWidth), height = uint32_t(gif->SHeight);
    if (width == 0 || height == 0) // some writers leave the screen empty: the image defines it
    {
        width = uint32_t(desc.Left + desc.Width);
        height = uint32_t(desc.Top + desc.Height);
    }
    if (Status s = CheckDimensions(width, height); s != Status::Ok) return s;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return Status::Corrupt;

    const bool coversScreen =
        desc.Left == 0 && desc.Top == 0 && uint32_t(desc.Width) >= width && uint32_t(desc.Height) >= height;
    *info = Info{};
    info->format = Format::Gif;
    info->width = width;
    info->height = height;
    info->bitsPerPixel = 8;
    info->hasAlpha = transparent >= 0 || !coversScreen;
    if (!image) return Status::Ok;

    uint32_t palette[256];
    for (int i = 0; i < 256; ++i)
    {
        if (i == transparent || i >= map->ColorCount)
            palette[i] = i == transparent ? 0u : 0xFF000000u;
        else
            palette[i] = detail::Argb(255, map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    }
    Image img;
    std::vector<GifPixelType> line;
    if (!Allocated([&] { line.resize(size_t(desc.Width)); })) return Status::OutOfMemory;
    if (!detail::AllocatePixels(&img.pixels, width, height)) return Status::OutOfMemory;
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass)
    {
        const int start = desc.Interlace ? kStart[pass] : 0, step = desc.Interlace ? kStep[pass] : 1;
        for (int row = start; row < desc.Height; row += step)
        {
            if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return Status::Corrupt;
            const uint32_t y = uint32_t(desc.Top + row);
            if (y >= height) continue;
            uint32_t* dst = img.pixels.data() + size_t(y) * width;
            for (int x = 0; x < desc.Width && uint32_t(desc.Left + x) < width; ++x)
                dst[desc.Left + x] = palette[line[size_t(x)]];
        }
    }
    img.width = width;
    img.height = height;
    img.format = Format::Gif;
    img.hasAlpha = info->hasAlpha;
    *image = std::move(img);
    return Status::Ok;
}
} // namespace

Status QueryGifInfo(const uint8_t* data, size_t size, Info* out)
{
    if (!out) return Status::InvalidArgument;
    return Read(data, size, out, nullptr);
}

Status DecodeGif(const uint8_t* data, size_t size, Image* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    Info info;
    return Read(data, size, &info, out);
}
} // namespace ferolt::image
