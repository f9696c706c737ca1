#pragma once
// Image files made in the test, every byte visible: BMP/TGA/DDS by hand, PNG/JPEG/GIF through the
// libraries' own writers.
#include <cstdint>
#include <string>
#include <vector>

namespace ferolt::image::test
{
using Bytes = std::vector<uint8_t>;

// Little-endian byte writer.
struct ByteWriter
{
    Bytes bytes;
    ByteWriter& u8(uint32_t v)
    {
        bytes.push_back(uint8_t(v));
        return *this;
    }
    ByteWriter& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    ByteWriter& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    ByteWriter& zeros(size_t n)
    {
        bytes.insert(bytes.end(), n, 0);
        return *this;
    }
    ByteWriter& raw(const Bytes& b)
    {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    ByteWriter& str(const char* s)
    {
        while (*s)
            u8(uint8_t(*s++));
        return *this;
    }
    void patch32(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(v >> (8 * i));
    }
};

// A BMP: file header, information header of `headerSize` bytes (12 is the core header), then
// `extra` (masks after a 40-byte header, the palette), then the pixel rows as given.
struct BmpDesc
{
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bpp = 24;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    int32_t pelsPerMetre = 0;
    uint32_t masks[4] = {0, 0, 0, 0}; // inside 52+ byte headers
    Bytes extra;
    Bytes pixels;
    int64_t pixelOffset = -1; // -1: right after `extra`
};
Bytes MakeBmp(const BmpDesc& desc);

// PNG through libpng's full writer so bit depth, colour type, palette and tRNS are chosen.
struct PngDesc
{
    uint32_t width = 1;
    uint32_t height = 1;
    int colorType = 2; // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    std::vector<Bytes> rows;     // packed samples as PNG stores them (16-bit big-endian)
    Bytes palette;               // RGB triples
    Bytes trns;                  // palette alpha, or a grey/RGB key as 16-bit big-endian values
    uint32_t pixelsPerMetre = 0; // pHYs when non-zero
    bool interlace = false;
};
Bytes MakePng(const PngDesc& desc);

// JPEG through libjpeg from 0xAARRGGBB pixels (grey: the blue byte).
struct JpegDesc
{
    uint32_t width = 1;
    uint32_t height = 1;
    std::vector<uint32_t> pixels;
    int quality = 95;
    bool progressive = false;
    bool grey = false;
    bool cmyk = false; // pixels then hold C, M, Y, K in bytes 3..0 (Adobe inverted)
    int densityUnit = 0;
    uint16_t density = 0;
};
Bytes MakeJpeg(const JpegDesc& desc);

// GIF through giflib: indices into `palette` (0xRRGGBB), optional transparent index.
struct GifDesc
{
    uint32_t screenWidth = 1, screenHeight = 1;
    uint32_t left = 0, top = 0, width = 1, height = 1;
    std::vector<uint32_t> palette; // power-of-two length
    std::vector<uint8_t> indices;  // width * height
    int transparent = -1;
    bool interlace = false;
};
Bytes MakeGif(const GifDesc& desc);

// A DDS with a 128-byte header; pixel format by FOURCC (non-zero) or by bit count and masks.
struct DdsDesc
{
    uint32_t width = 4, height = 4, mipCount = 0; // 0: no mip count flag
    uint32_t fourCC = 0;
    uint32_t pfFlags = 0x40; // RGB
    uint32_t bits = 32;
    uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0};
    uint32_t caps2 = 0;
    Bytes data;
};
Bytes MakeDds(const DdsDesc& desc);

uint32_t FourCC(const char* s);
} // namespace ferolt::image::test
