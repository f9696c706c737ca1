#include "image_file_writer.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace ferolt::test
{
namespace
{
void Put(ImageBytes& out, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

ImageBytes BmpHeader(uint32_t width, uint32_t height, int bits, bool bottomUp, uint32_t offset, uint32_t size,
                     uint32_t colorsUsed)
{
    ImageBytes f(offset, 0);
    f[0] = 'B';
    f[1] = 'M';
    Put(f, 2, size, 4);
    Put(f, 10, offset, 4);
    Put(f, 14, 40, 4);
    Put(f, 18, width, 4);
    Put(f, 22, bottomUp ? height : uint32_t(-int32_t(height)), 4);
    Put(f, 26, 1, 2);
    Put(f, 28, uint32_t(bits), 2);
    Put(f, 46, colorsUsed, 4);
    return f;
}

struct OutStream
{
    ImageBytes bytes;
    size_t position = 0;
};

OPJ_SIZE_T Write(void* buffer, OPJ_SIZE_T count, void* user)
{
    auto* out = static_cast<OutStream*>(user);
    if (out->bytes.size() < out->position + count) out->bytes.resize(out->position + count);
    std::memcpy(out->bytes.data() + out->position, buffer, count);
    out->position += count;
    return count;
}

OPJ_OFF_T Skip(OPJ_OFF_T count, void* user)
{
    auto* out = static_cast<OutStream*>(user);
    out->position += size_t(count);
    if (out->bytes.size() < out->position) out->bytes.resize(out->position);
    return count;
}

OPJ_BOOL Seek(OPJ_OFF_T position, void* user)
{
    auto* out = static_cast<OutStream*>(user);
    out->position = size_t(position);
    if (out->bytes.size() < out->position) out->bytes.resize(out->position);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}
} // namespace

ImageBytes BmpFile(uint32_t width, uint32_t height, const std::vector<uint32_t>& argb, int bitsPerPixel,
                   bool bottomUp)
{
    const uint32_t bytesPerPixel = uint32_t(bitsPerPixel) / 8;
    const uint32_t row = (width * bytesPerPixel + 3) & ~3u;
    ImageBytes f = BmpHeader(width, height, bitsPerPixel, bottomUp, 54, 54 + row * height, 0);
    f.resize(54 + size_t(row) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
    {
        const uint32_t stored = bottomUp ? height - 1 - y : y;
        for (uint32_t x = 0; x < width; ++x)
            Put(f, 54 + size_t(stored) * row + size_t(x) * bytesPerPixel, argb[size_t(y) * width + x],
                int(bytesPerPixel));
    }
    return f;
}

ImageBytes Bmp8File(uint32_t width, uint32_t height, const std::vector<uint32_t>& palette,
                    const std::vector<uint8_t>& indices, uint32_t colorsUsed)
{
    const uint32_t row = (width + 3) & ~3u;
    const uint32_t offset = 54 + 256 * 4;
    ImageBytes f = BmpHeader(width, height, 8, true, offset, offset + row * height, colorsUsed);
    for (size_t i = 0; i < 256 && i < palette.size(); ++i)
        Put(f, 54 + i * 4, palette[i] & 0x00FFFFFFu, 4);
    f.resize(offset + size_t(row) * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            f[offset + size_t(height - 1 - y) * row + x] = indices[size_t(y) * width + x];
    return f;
}

ImageBytes Jpeg2000CodeStream(uint32_t width, uint32_t height,
                              const std::vector<std::vector<uint8_t>>& planes)
{
    std::vector<opj_image_cmptparm_t> parameters(planes.size());
    for (opj_image_cmptparm_t& p : parameters)
    {
        std::memset(&p, 0, sizeof p);
        p.dx = p.dy = 1;
        p.w = width;
        p.h = height;
        p.prec = 8;
    }
    opj_image_t* image = opj_image_create(OPJ_UINT32(planes.size()), parameters.data(),
                                          planes.size() >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    if (!image) throw std::runtime_error("opj_image_create");
    image->x1 = width;
    image->y1 = height;
    for (size_t c = 0; c < planes.size(); ++c)
        for (size_t i = 0; i < size_t(width) * height; ++i)
            image->comps[c].data[i] = planes[c][i];

    opj_cparameters_t encoding;
    opj_set_default_encoder_parameters(&encoding);
    encoding.tcp_numlayers = 1;
    encoding.tcp_rates[0] = 0; // lossless
    encoding.cp_disto_alloc = 1;
    int resolutions = 1;
    while (resolutions < 6 && (1u << resolutions) <= std::min(width, height))
        ++resolutions;
    encoding.numresolution = resolutions;

    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_set_error_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_info_handler(codec, Quiet, nullptr);
    OutStream out;
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    opj_stream_set_write_function(stream, Write);
    opj_stream_set_skip_function(stream, Skip);
    opj_stream_set_seek_function(stream, Seek);
    opj_stream_set_user_data(stream, &out, nullptr);
    const bool ok = opj_setup_encoder(codec, &encoding, image) && opj_start_compress(codec, image, stream) &&
                    opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) throw std::runtime_error("JPEG-2000 encoding failed");
    return out.bytes;
}

ImageBytes WithJpeg2000Size(ImageBytes s, uint32_t width, uint32_t height, uint32_t tileWidth,
                            uint32_t tileHeight)
{
    // SOC, then SIZ: marker, Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz (big-endian).
    auto put = [&](size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            s.at(at + i) = uint8_t(v >> (24 - 8 * i));
    };
    put(8, width);
    put(12, height);
    put(24, tileWidth ? tileWidth : width);
    put(28, tileHeight ? tileHeight : height);
    return s;
}

std::vector<std::vector<uint8_t>> Planes(const std::vector<uint32_t>& argb, bool withAlpha)
{
    std::vector<std::vector<uint8_t>> planes(withAlpha ? 4 : 3);
    for (uint32_t p : argb)
    {
        planes[0].push_back(uint8_t(p >> 16));
        planes[1].push_back(uint8_t(p >> 8));
        planes[2].push_back(uint8_t(p));
        if (withAlpha) planes[3].push_back(uint8_t(p >> 24));
    }
    return planes;
}
} // namespace ferolt::test
