#include "tests/platform/image/image_fixtures.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>

namespace ferolt::image::test
{
uint32_t FourCC(const char* s)
{
    return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) | (uint32_t(uint8_t(s[2])) << 16) |
           (uint32_t(uint8_t(s[3])) << 24);
}

Bytes MakeBmp(const BmpDesc& s)
{
    ByteWriter w;
    w.str("BM").u32(0).u32(0).u32(0);
    if (s.headerSize == 12)
    {
        w.u32(12).u16(uint32_t(s.width)).u16(uint32_t(s.height)).u16(1).u16(s.bpp);
    }
    else
    {
        w.u32(s.headerSize)
            .u32(uint32_t(s.width))
            .u32(uint32_t(s.height))
            .u16(1)
            .u16(s.bpp)
            .u32(s.compression);
        w.u32(uint32_t(s.pixels.size())).u32(uint32_t(s.pelsPerMetre)).u32(uint32_t(s.pelsPerMetre));
        w.u32(s.clrUsed).u32(0);
        size_t written = 40;
        for (int i = 0; i < 4 && written + 4 <= s.headerSize; ++i, written += 4)
            w.u32(s.masks[i]);
        w.zeros(s.headerSize - written);
    }
    w.raw(s.extra);
    const size_t offset = s.pixelOffset >= 0 ? size_t(s.pixelOffset) : w.bytes.size();
    w.raw(s.pixels);
    w.patch32(2, uint32_t(w.bytes.size()));
    w.patch32(10, uint32_t(offset));
    return w.bytes;
}

namespace
{
void PngWrite(png_structp png, png_bytep data, size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void PngFlush(png_structp) {}
} // namespace

Bytes MakePng(const PngDesc& s)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png fixture");
    }
    png_set_write_fn(png, &out, PngWrite, PngFlush);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> pal;
    for (size_t i = 0; i + 2 < s.palette.size(); i += 3)
        pal.push_back({s.palette[i], s.palette[i + 1], s.palette[i + 2]});
    if (!pal.empty()) png_set_PLTE(png, info, pal.data(), int(pal.size()));
    if (!s.trns.empty())
    {
        if (s.colorType == PNG_COLOR_TYPE_PALETTE)
            png_set_tRNS(png, info, s.trns.data(), int(s.trns.size()), nullptr);
        else
        {
            png_color_16 key{};
            auto v = [&](size_t i) { return png_uint_16((s.trns[2 * i] << 8) | s.trns[2 * i + 1]); };
            if (s.colorType == PNG_COLOR_TYPE_GRAY)
                key.gray = v(0);
            else
                key.red = v(0), key.green = v(1), key.blue = v(2);
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    if (s.pixelsPerMetre) png_set_pHYs(png, info, s.pixelsPerMetre, s.pixelsPerMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const Bytes& r : s.rows)
        rows.push_back(const_cast<png_bytep>(r.data()));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes MakeJpeg(const JpegDesc& s)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&c, &mem, &memSize);
    c.image_width = s.width;
    c.image_height = s.height;
    c.input_components = s.grey ? 1 : s.cmyk ? 4 : 3;
    c.in_color_space = s.grey ? JCS_GRAYSCALE : s.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    if (s.cmyk) jpeg_set_colorspace(&c, JCS_CMYK); // stored as CMYK, written with an Adobe marker
    jpeg_set_quality(&c, s.quality, TRUE);
    if (s.progressive) jpeg_simple_progression(&c);
    c.density_unit = uint8_t(s.densityUnit);
    c.X_density = c.Y_density = s.density;
    // 4:4:4 so that small colour fixtures survive the round trip.
    for (int i = 0; i < c.num_components; ++i)
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(s.width) * 4);
    for (uint32_t y = 0; y < s.height; ++y)
    {
        for (uint32_t x = 0; x < s.width; ++x)
        {
            const uint32_t p = s.pixels[size_t(y) * s.width + x];
            if (s.grey)
                row[x] = uint8_t(p);
            else if (s.cmyk)
                for (int k = 0; k < 4; ++k)
                    row[4 * x + k] = uint8_t(p >> (24 - 8 * k));
            else
                row[3 * x] = uint8_t(p >> 16), row[3 * x + 1] = uint8_t(p >> 8), row[3 * x + 2] = uint8_t(p);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + memSize);
    free(mem);
    return out;
}

namespace
{
int GifWrite(GifFileType* gif, const GifByteType* data, int length)
{
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}
} // namespace

Bytes MakeGif(const GifDesc& s)
{
    Bytes out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, GifWrite, &err);
    std::vector<GifColorType> colours;
    for (uint32_t c : s.palette)
        colours.push_back({uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    ColorMapObject* map = GifMakeMapObject(int(colours.size()), colours.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, int(s.screenWidth), int(s.screenHeight), 8, 0, map);
    if (s.transparent >= 0)
    {
        const GifByteType gce[4] = {1, 0, 0, GifByteType(s.transparent)};
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce);
    }
    EGifPutImageDesc(gif, int(s.left), int(s.top), int(s.width), int(s.height), s.interlace, nullptr);
    // giflib writes lines in the order given; an interlaced image takes them in pass order.
    std::vector<uint32_t> order;
    if (s.interlace)
    {
        const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (uint32_t y = start[p]; y < s.height; y += step[p])
                order.push_back(y);
    }
    else
        for (uint32_t y = 0; y < s.height; ++y)
            order.push_back(y);
    for (uint32_t y : order)
        EGifPutLine(gif, const_cast<GifPixelType*>(s.indices.data() + size_t(y) * s.width), int(s.width));
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

Bytes MakeDds(const DdsDesc& s)
{
    ByteWriter w;
    w.str("DDS ").u32(124).u32(0x1007 | (s.mipCount ? 0x20000 : 0)).u32(s.height).u32(s.width).u32(0).u32(0);
    w.u32(s.mipCount).zeros(44);
    w.u32(32).u32(s.fourCC ? 0x4 : s.pfFlags).u32(s.fourCC).u32(s.fourCC ? 0 : s.bits);
    for (uint32_t m : s.masks)
        w.u32(s.fourCC ? 0 : m);
    w.u32(0x1000).u32(s.caps2).u32(0).u32(0).u32(0);
    w.raw(s.data);
    return w.bytes;
}
} // namespace ferolt::image::test
