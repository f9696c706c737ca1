#include "codec/jpeg2000_decoding.h"

#include "platform/bytes/byte_reader.h"
#include "platform/gdiplus/gdiplus.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace
{
// The code stream as an OpenJPEG input stream, read through the bounds-checked cursor.
OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T count, void* user)
{
    auto* in = static_cast<ferolt::ByteCursor*>(user);
    const size_t n = std::min<size_t>(count, in->Remaining());
    std::span<const uint8_t> bytes;
    if (n == 0 || !in->Take(n, &bytes)) return OPJ_SIZE_T(-1);
    std::memcpy(buffer, bytes.data(), n);
    return n;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user)
{
    auto* in = static_cast<ferolt::ByteCursor*>(user);
    if (count < 0) return -1;
    const size_t n = std::min<size_t>(size_t(count), in->Remaining());
    if (!in->Skip(n)) return -1;
    return OPJ_OFF_T(n);
}

OPJ_BOOL SeekTo(OPJ_OFF_T position, void* user)
{
    auto* in = static_cast<ferolt::ByteCursor*>(user);
    return position >= 0 && in->Seek(size_t(position)) ? OPJ_TRUE : OPJ_FALSE;
}

void Quiet(const char*, void*) {}

struct CodecDeleter
{
    void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamDeleter
{
    void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageDeleter
{
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

// The image and tile size that the code stream's SIZ marker declares, checked before OpenJPEG reads
// the header: it allocates for every tile there, and a damaged header can ask for gigabytes of pixels
// or cut a small image into tens of thousands of tiles that take seconds to set up.
bool DeclaredSizeFits(const ferolt::ByteReader& in)
{
    // SOC, SIZ, Lsiz and Rsiz, then Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz (big-endian).
    uint32_t markers = 0, x1 = 0, y1 = 0, x0 = 0, y0 = 0, tileW = 0, tileH = 0, tileX0 = 0, tileY0 = 0;
    if (!in.BE32(0, &markers) || markers != 0xFF4FFF51u || !in.BE32(8, &x1) || !in.BE32(12, &y1) ||
        !in.BE32(16, &x0) || !in.BE32(20, &y0) || !in.BE32(24, &tileW) || !in.BE32(28, &tileH) ||
        !in.BE32(32, &tileX0) || !in.BE32(36, &tileY0))
        return false;
    if (x1 <= x0 || y1 <= y0 || tileW == 0 || tileH == 0 || tileX0 > x0 || tileY0 > y0) return false;
    const uint64_t w = x1 - x0, h = y1 - y0;
    if (w > kMaxJpeg2000Side || h > kMaxJpeg2000Side || w * h > kMaxJpeg2000Pixels) return false;
    const uint64_t tilesX = (uint64_t(x1) - tileX0 + tileW - 1) / tileW;
    const uint64_t tilesY = (uint64_t(y1) - tileY0 + tileH - 1) / tileH;
    return tilesX * tilesY <= kMaxJpeg2000Tiles;
}

// 3 or 4 components, each of 8-bit unsigned samples covering the whole image.
bool UsableComponents(const opj_image_t& image)
{
    if (image.numcomps != 3 && image.numcomps != 4) return false;
    if (image.x1 <= image.x0 || image.y1 <= image.y0) return false;
    for (OPJ_UINT32 c = 0; c < image.numcomps; ++c)
    {
        const opj_image_comp_t& comp = image.comps[c];
        if (comp.dx != 1 || comp.dy != 1 || comp.prec != 8 || comp.sgnd) return false;
    }
    return true;
}

BYTE Sample(OPJ_INT32 v)
{
    return BYTE(std::clamp<OPJ_INT32>(v, 0, 255));
}
} // namespace

bool DecodeJpeg2000ToBitmap(const P3DByteBlock& block, Gdiplus::Bitmap** result)
{
    if (!result) return false;
    *result = nullptr;
    if (!block.data || block.size == 0) return false;

    if (!DeclaredSizeFits(ferolt::ByteReader(block.data, block.size))) return false;

    ferolt::ByteCursor in(block.data, block.size);
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(opj_create_decompress(OPJ_CODEC_J2K));
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(
        opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!codec || !stream) return false;
    opj_set_error_handler(codec.get(), Quiet, nullptr);
    opj_set_warning_handler(codec.get(), Quiet, nullptr);
    opj_set_info_handler(codec.get(), Quiet, nullptr);
    opj_stream_set_read_function(stream.get(), ReadBytes);
    opj_stream_set_skip_function(stream.get(), SkipBytes);
    opj_stream_set_seek_function(stream.get(), SeekTo);
    opj_stream_set_user_data(stream.get(), &in, nullptr);
    opj_stream_set_user_data_length(stream.get(), block.size);

    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return false;

    opj_image_t* header = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &header)) return false;
    std::unique_ptr<opj_image_t, ImageDeleter> image(header);
    if (!UsableComponents(*image)) return false;
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
        return false;

    const OPJ_UINT32 w = image->x1 - image->x0, h = image->y1 - image->y0;
    const OPJ_UINT32 components = image->numcomps;
    for (OPJ_UINT32 c = 0; c < components; ++c)
        if (!image->comps[c].data || image->comps[c].w != w || image->comps[c].h != h) return false;

    auto bitmap = std::unique_ptr<Gdiplus::Bitmap>(
        new (std::nothrow) Gdiplus::Bitmap(INT(w), INT(h), Gdiplus::PixelFormat32bppARGB));
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok) return false;
    Gdiplus::Rect all(0, 0, INT(w), INT(h));
    Gdiplus::BitmapData locked{};
    if (bitmap->LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite,
                         Gdiplus::PixelFormat32bppARGB, &locked) != Gdiplus::Ok)
        return false;
    for (OPJ_UINT32 y = 0; y < h; ++y)
    {
        BYTE* row = static_cast<BYTE*>(locked.Scan0) + ptrdiff_t(y) * locked.Stride;
        const size_t at = size_t(y) * w;
        for (OPJ_UINT32 x = 0; x < w; ++x)
        {
            BYTE* pixel = row + size_t(x) * 4;
            pixel[0] = Sample(image->comps[2].data[at + x]);
            pixel[1] = Sample(image->comps[1].data[at + x]);
            pixel[2] = Sample(image->comps[0].data[at + x]);
            pixel[3] = components == 4 ? Sample(image->comps[3].data[at + x]) : 255;
        }
    }
    bitmap->UnlockBits(&locked);
    *result = bitmap.release();
    return true;
}

void ReleaseBitmapHolder(Gdiplus::Bitmap** bitmap)
{
    if (!bitmap) return;
    const std::unique_ptr<Gdiplus::Bitmap> owned(std::exchange(*bitmap, nullptr));
}
