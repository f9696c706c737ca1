// Seeds for the image decoder targets (one family per build): small files of each layout the
// decoders accept, so that the fuzzer starts inside the decoder instead of at its signature check.
#include "tests/platform/image/image_fixtures.h"
#include "tests/support/fuzz_seeds.h"

namespace ferolt::test
{
namespace
{
using namespace ferolt::image::test;

const std::vector<uint32_t> kPixels = {0xFF102030, 0x80405060, 0x00708090, 0xFFA0B0C0};

[[maybe_unused]] std::vector<FuzzSeed> ImageSeeds()
{
#if defined(FUZZ_FAMILY_bmp)
    BmpDesc rgb24;
    rgb24.width = 2;
    rgb24.height = 1;
    rgb24.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    BmpDesc pal8 = rgb24;
    pal8.bpp = 8;
    pal8.clrUsed = 2;
    pal8.extra = {0, 0, 255, 0, 255, 0, 0, 0};
    pal8.pixels = {0, 1, 0, 0};
    BmpDesc rle8 = pal8;
    rle8.compression = 1;
    rle8.pixels = {2, 1, 0, 1};
    BmpDesc masks16 = rgb24;
    masks16.headerSize = 56;
    masks16.bpp = 16;
    masks16.compression = 3;
    masks16.masks[0] = 0xF800;
    masks16.masks[1] = 0x07E0;
    masks16.masks[2] = 0x001F;
    masks16.pixels = {0x1F, 0xF8, 0xE0, 0x07};
    BmpDesc core = rgb24;
    core.headerSize = 12;
    return {{"rgb24.bmp", MakeBmp(rgb24)},
            {"pal8.bmp", MakeBmp(pal8)},
            {"rle8.bmp", MakeBmp(rle8)},
            {"masks16.bmp", MakeBmp(masks16)},
            {"core.bmp", MakeBmp(core)}};
#elif defined(FUZZ_FAMILY_png)
    PngDesc rgb;
    rgb.width = 2;
    rgb.rows = {{1, 2, 3, 4, 5, 6}};
    PngDesc palette;
    palette.width = 2;
    palette.colorType = 3;
    palette.bitDepth = 4;
    palette.palette = {255, 0, 0, 0, 0, 255};
    palette.trns = {128};
    palette.rows = {{0x01}};
    PngDesc grey16;
    grey16.colorType = 0;
    grey16.bitDepth = 16;
    grey16.rows = {{0x12, 0x34}};
    grey16.interlace = true;
    return {{"rgb.png", MakePng(rgb)}, {"palette.png", MakePng(palette)}, {"grey16.png", MakePng(grey16)}};
#elif defined(FUZZ_FAMILY_jpeg)
    JpegDesc colour;
    colour.width = 2;
    colour.height = 2;
    colour.pixels = kPixels;
    JpegDesc progressive = colour;
    progressive.progressive = true;
    JpegDesc grey = colour;
    grey.grey = true;
    JpegDesc cmyk = colour;
    cmyk.cmyk = true;
    return {{"colour.jpg", MakeJpeg(colour)},
            {"progressive.jpg", MakeJpeg(progressive)},
            {"grey.jpg", MakeJpeg(grey)},
            {"cmyk.jpg", MakeJpeg(cmyk)}};
#elif defined(FUZZ_FAMILY_gif)
    GifDesc plain;
    plain.width = plain.screenWidth = 2;
    plain.palette = {0xFF0000, 0x00FF00};
    plain.indices = {0, 1};
    GifDesc framed = plain;
    framed.screenWidth = 4;
    framed.screenHeight = 2;
    framed.left = 1;
    framed.transparent = 1;
    framed.interlace = true;
    return {{"plain.gif", MakeGif(plain)}, {"framed.gif", MakeGif(framed)}};
#elif defined(FUZZ_FAMILY_tga)
    // Uncompressed true colour, then run-length true colour with an origin at the top.
    ByteWriter raw;
    raw.u8(0).u8(0).u8(2).zeros(5).u16(0).u16(0).u16(2).u16(1).u8(32).u8(8);
    raw.u32(kPixels[0]).u32(kPixels[1]);
    ByteWriter rle;
    rle.u8(0).u8(0).u8(10).zeros(5).u16(0).u16(0).u16(2).u16(1).u8(24).u8(0x20);
    rle.u8(0x81).u8(1).u8(2).u8(3);
    ByteWriter mapped;
    mapped.u8(0).u8(1).u8(1).u16(0).u16(2).u8(24).u16(0).u16(0).u16(2).u16(1).u8(8).u8(0);
    mapped.u8(255).u8(0).u8(0).u8(0).u8(255).u8(0).u8(0).u8(1);
    return {{"raw32.tga", raw.bytes}, {"rle24.tga", rle.bytes}, {"mapped.tga", mapped.bytes}};
#elif defined(FUZZ_FAMILY_dds)
    DdsDesc argb;
    argb.data.assign(4 * 4 * 4, 0x5A);
    DdsDesc dxt1;
    dxt1.fourCC = FourCC("DXT1");
    dxt1.pfFlags = 0x4;
    dxt1.mipCount = 3;
    dxt1.data.assign(8 + 8 + 8, 0x33);
    DdsDesc dxt5 = dxt1;
    dxt5.fourCC = FourCC("DXT5");
    dxt5.mipCount = 0;
    dxt5.data.assign(16, 0x77);
    return {{"argb.dds", MakeDds(argb)}, {"dxt1_mips.dds", MakeDds(dxt1)}, {"dxt5.dds", MakeDds(dxt5)}};
#else
    return {};
#endif
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    return ImageSeeds();
}
} // namespace ferolt::test
