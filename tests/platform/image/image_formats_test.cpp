// PNG, JPEG and GIF files written by their own libraries, TGA and DDS by hand, decoded back;
// sniffing and the header-only query.
#include "platform/image/image.h"
#include "tests/platform/image/image_fixtures.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <functional>

namespace ferolt::image::test
{
namespace
{
constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kGrey = 0xFF808080;

void ExpectNear(uint32_t got, uint32_t want, int tolerance, const std::string& where)
{
    for (int shift = 0; shift < 32; shift += 8)
    {
        const int g = int((got >> shift) & 0xFF), w = int((want >> shift) & 0xFF);
        if (std::abs(g - w) > tolerance)
        {
            ADD_FAILURE() << where << std::hex << ": got " << got << " want " << want;
            return;
        }
    }
}

// ---- PNG ----

struct PngCase
{
    const char* name;
    PngDesc desc;
    std::vector<uint32_t> expected;
    bool hasAlpha;
};

PngDesc Png(uint32_t w, uint32_t h, int type, int depth, std::vector<Bytes> rows)
{
    PngDesc s;
    s.width = w;
    s.height = h;
    s.colorType = type;
    s.bitDepth = depth;
    s.rows = std::move(rows);
    return s;
}

TEST(ImagePng, ColourTypesAndDepthsDecodeToArgb)
{
    PngDesc palette = Png(2, 2, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1}, {2, 3}});
    palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128};
    palette.trns = {255, 64}; // entry 1 partly transparent, the rest opaque
    PngDesc palette2 = Png(3, 1, PNG_COLOR_TYPE_PALETTE, 2, {{0b00011000}});
    palette2.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    PngDesc greyKey = Png(2, 1, PNG_COLOR_TYPE_GRAY, 8, {{0x10, 0x20}});
    greyKey.trns = {0, 0x20};
    PngDesc interlaced = Png(3, 3, PNG_COLOR_TYPE_GRAY, 8, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}});
    interlaced.interlace = true;
    const PngCase cases[] = {
        {"RGB 8",
         Png(2, 2, PNG_COLOR_TYPE_RGB, 8, {{255, 0, 0, 0, 255, 0}, {0, 0, 255, 128, 128, 128}}),
         {kRed, kGreen, kBlue, kGrey},
         false},
        {"RGBA 8",
         Png(2, 1, PNG_COLOR_TYPE_RGBA, 8, {{255, 0, 0, 0, 1, 2, 3, 200}}),
         {0x00FF0000, 0xC8010203},
         true},
        {"RGB 16 reduced",
         Png(2, 1, PNG_COLOR_TYPE_RGB, 16, {{0xFF, 0xFF, 0, 0, 0, 0, 0x80, 0x80, 0, 0, 0xFF, 0xFF}}),
         {0xFFFF0000, 0xFF8000FF},
         false},
        {"RGBA 16 reduced",
         Png(1, 1, PNG_COLOR_TYPE_RGBA, 16, {{0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}}),
         {0xFF00FF00},
         true},
        {"grey 8", Png(2, 1, PNG_COLOR_TYPE_GRAY, 8, {{0x00, 0xC0}}), {0xFF000000, 0xFFC0C0C0}, false},
        {"grey 1",
         Png(3, 1, PNG_COLOR_TYPE_GRAY, 1, {{0b10100000}}),
         {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF},
         false},
        {"grey 16 reduced", Png(1, 1, PNG_COLOR_TYPE_GRAY, 16, {{0x40, 0x40}}), {0xFF404040}, false},
        {"grey alpha", Png(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{0x30, 0x90}}), {0x90303030}, true},
        {"grey key colour", greyKey, {0xFF101010, 0x00202020}, true},
        {"palette with tRNS", palette, {kRed, 0x4000FF00, kBlue, kGrey}, true},
        {"palette 2-bit", palette2, {kRed, kGreen, kBlue}, false},
        {"interlaced",
         interlaced,
         {0xFF000000, 0xFF010101, 0xFF020202, 0xFF030303, 0xFF040404, 0xFF050505, 0xFF060606, 0xFF070707,
          0xFF080808},
         false},
    };
    for (const PngCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Bytes file = MakePng(c.desc);
        Image img;
        ASSERT_EQ(Decode(file.data(), file.size(), &img), Status::Ok);
        ASSERT_EQ(img.width, c.desc.width);
        ASSERT_EQ(img.height, c.desc.height);
        EXPECT_EQ(img.format, Format::Png);
        // The alpha channel (whether any pixel uses it) is what a texture format choice relies on.
        EXPECT_EQ(img.hasAlpha, c.hasAlpha);
        for (size_t i = 0; i < c.expected.size(); ++i)
            ExpectNear(img.pixels[i], c.expected[i], 0, "pixel " + std::to_string(i));
    }
}

// ---- JPEG ----

// A 16 x 8 image of two flat 8 x 8 blocks, so the round trip is close to exact.
std::vector<uint32_t> TwoBlocks(uint32_t left, uint32_t right)
{
    std::vector<uint32_t> p(16 * 8);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = (i % 16) < 8 ? left : right;
    return p;
}

TEST(ImageJpeg, BaselineProgressiveGreyAndCmykRoundTrip)
{
    struct Case
    {
        const char* name;
        JpegDesc desc;
        uint32_t left, right;
    };
    auto makeDesc = [](std::vector<uint32_t> pixels, bool progressive, bool grey, bool cmyk)
    {
        JpegDesc s;
        s.width = 16;
        s.height = 8;
        s.pixels = std::move(pixels);
        s.progressive = progressive;
        s.grey = grey;
        s.cmyk = cmyk;
        return s;
    };
    const Case cases[] = {
        {"baseline", makeDesc(TwoBlocks(0xFFC03020, 0xFF2040E0), false, false, false), 0xFFC03020,
         0xFF2040E0},
        {"progressive", makeDesc(TwoBlocks(0xFFC03020, 0xFF2040E0), true, false, false), 0xFFC03020,
         0xFF2040E0},
        {"grey", makeDesc(TwoBlocks(0x20, 0xD0), false, true, false), 0xFF202020, 0xFFD0D0D0},
        {"grey progressive", makeDesc(TwoBlocks(0x20, 0xD0), true, true, false), 0xFF202020, 0xFFD0D0D0},
        // Inverted CMYK as stored with an Adobe marker: (255, 0, 0, 255) is full red, (0, 0, 0, 0) black.
        {"CMYK", makeDesc(TwoBlocks(0xFF0000FF, 0x00000000), false, false, true), 0xFFFF0000, 0xFF000000},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeJpeg(c.desc);
        Image img;
        ASSERT_EQ(Decode(file.data(), file.size(), &img), Status::Ok);
        ASSERT_EQ(img.width, 16u);
        ASSERT_EQ(img.height, 8u);
        EXPECT_FALSE(img.hasAlpha);
        ExpectNear(img.At(2, 3), c.left, 3, "left block");
        ExpectNear(img.At(13, 4), c.right, 3, "right block");
    }
}

TEST(ImageJpeg, DensityBecomesDpi)
{
    const struct
    {
        int unit;
        uint16_t density;
        float dpi;
    } cases[] = {{1, 300, 300.f}, {2, 100, 254.f}, {0, 1, 0.f}};
    for (const auto& c : cases)
    {
        JpegDesc s;
        s.pixels = {0xFF000000};
        s.densityUnit = c.unit;
        s.density = c.density;
        const Bytes file = MakeJpeg(s);
        Info info;
        ASSERT_EQ(QueryInfo(file.data(), file.size(), &info), Status::Ok);
        EXPECT_EQ(info.format, Format::Jpeg);
        EXPECT_FLOAT_EQ(info.dpiX, c.dpi) << c.unit;
        Image img;
        ASSERT_EQ(DecodeJpeg(file.data(), file.size(), &img), Status::Ok);
        EXPECT_FLOAT_EQ(img.dpiY, c.dpi) << c.unit;
    }
}

// ---- GIF ----

TEST(ImageGif, FirstImageOnTheScreenWithTransparency)
{
    GifDesc plain;
    plain.screenWidth = plain.width = 2;
    plain.screenHeight = plain.height = 2;
    plain.palette = {0xFF0000, 0x00FF00, 0x0000FF, 0x808080};
    plain.indices = {0, 1, 2, 3};
    GifDesc keyed = plain;
    keyed.transparent = 1;
    GifDesc placed = plain; // a 2 x 2 image at (1, 1) of a 3 x 3 screen
    placed.screenWidth = placed.screenHeight = 3;
    placed.left = placed.top = 1;
    GifDesc interlaced = plain;
    interlaced.screenHeight = interlaced.height = 10;
    interlaced.width = interlaced.screenWidth = 1;
    interlaced.interlace = true;
    interlaced.indices = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    struct Case
    {
        const char* name;
        GifDesc desc;
        std::vector<uint32_t> expected;
        bool hasAlpha;
    };
    const Case cases[] = {
        {"plain", plain, {kRed, kGreen, kBlue, kGrey}, false},
        {"transparent index", keyed, {kRed, 0, kBlue, kGrey}, true},
        {"placed image leaves the screen transparent",
         placed,
         {0, 0, 0, 0, kRed, kGreen, 0, kBlue, kGrey},
         true},
        {"interlaced rows land in place",
         interlaced,
         {kRed, kGreen, kBlue, kGrey, kRed, kGreen, kBlue, kGrey, kRed, kGreen},
         false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeGif(c.desc);
        Image img;
        ASSERT_EQ(Decode(file.data(), file.size(), &img), Status::Ok);
        EXPECT_EQ(img.width, c.desc.screenWidth);
        EXPECT_EQ(img.height, c.desc.screenHeight);
        EXPECT_EQ(img.pixels, c.expected);
        EXPECT_EQ(img.hasAlpha, c.hasAlpha);
    }
}

// ---- TGA ----

// 18-byte header, then `body` (colour map and pixels).
Bytes Tga(uint8_t type, uint8_t depth, uint8_t descriptor, uint16_t w, uint16_t h, Bytes body,
          uint16_t mapLength = 0, uint8_t mapDepth = 0)
{
    ByteWriter b;
    b.u8(0).u8(mapLength ? 1 : 0).u8(type).u16(0).u16(mapLength).u8(mapDepth).u16(0).u16(0).u16(w).u16(h);
    b.u8(depth).u8(descriptor).raw(body);
    return b.bytes;
}

TEST(ImageTga, TypesDepthsAndOrders)
{
    const Bytes bgrBottomUp = {255, 0, 0, 128, 128, 128, 0, 0, 255, 0, 255, 0};
    struct Case
    {
        const char* name;
        Bytes file;
        std::vector<uint32_t> expected;
    };
    const std::vector<uint32_t> quad = {kRed, kGreen, kBlue, kGrey};
    const Case cases[] = {
        {"24-bit bottom-up", Tga(2, 24, 0, 2, 2, bgrBottomUp), quad},
        {"24-bit top-down", Tga(2, 24, 0x20, 2, 2, {0, 0, 255, 0, 255, 0, 255, 0, 0, 128, 128, 128}), quad},
        {"24-bit right-to-left", Tga(2, 24, 0x30, 2, 1, {0, 255, 0, 0, 0, 255}), {kRed, kGreen}},
        {"32-bit with alpha bits",
         Tga(2, 32, 0x28, 2, 1, {0, 0, 255, 255, 0, 255, 0, 0x40}),
         {kRed, 0x4000FF00}},
        {"32-bit without alpha bits is opaque", Tga(2, 32, 0x20, 1, 1, {0, 0, 255, 0}), {kRed}},
        {"16-bit with alpha bit", Tga(2, 16, 0x21, 2, 1, {0x00, 0xFC, 0xE0, 0x03}), {kRed, 0x0000FF00}},
        {"15-bit", Tga(2, 15, 0x20, 1, 1, {0x1F, 0x00}), {kBlue}},
        {"grey", Tga(3, 8, 0x20, 2, 1, {0x00, 0x80}), {0xFF000000, kGrey}},
        {"colour-mapped",
         Tga(1, 8, 0x20, 3, 1, {255, 0, 0, 0, 255, 0, /*pixels*/ 1, 0, 7}, 2, 24),
         {kGreen, kBlue, 0xFF000000}},
        {"run-length across rows",
         Tga(10, 24, 0x20, 2, 2, {0x82, 0, 0, 255, 0x00, 0, 255, 0}),
         {kRed, kRed, kRed, kGreen}},
        {"run-length grey", Tga(11, 8, 0x20, 3, 1, {0x82, 0x80}), {kGrey, kGrey, kGrey}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Sniff(c.file.data(), c.file.size()), Format::Tga);
        Image img;
        ASSERT_EQ(Decode(c.file.data(), c.file.size(), &img), Status::Ok);
        EXPECT_EQ(img.pixels, c.expected);
    }
}

// ---- DDS ----

TEST(ImageDds, UncompressedLayoutsAndMipChain)
{
    DdsDesc argb;
    argb.width = 4;
    argb.height = 2;
    argb.mipCount = 5; // more than a 4 x 2 image has: capped at 3
    argb.pfFlags = 0x41;
    argb.masks[3] = 0xFF000000;
    ByteWriter w;
    for (int i = 0; i < 8; ++i)
        w.u32(0x80FF0000 + uint32_t(i)); // level 0, 4 x 2
    w.u32(0xFF00FF00).u32(0xFF00FF01);   // level 1, 2 x 1
    w.u32(0x120000FF);                   // level 2, 1 x 1
    argb.data = w.bytes;
    const Bytes file = MakeDds(argb);
    DdsFile dds;
    ASSERT_EQ(ParseDds(file.data(), file.size(), &dds), Status::Ok);
    EXPECT_EQ(dds.format, 21u);
    EXPECT_FALSE(dds.compressed);
    ASSERT_EQ(dds.levels.size(), 3u);
    const uint32_t sizes[3][2] = {{4, 2}, {2, 1}, {1, 1}};
    for (uint32_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(dds.levels[i].width, sizes[i][0]);
        EXPECT_EQ(dds.levels[i].height, sizes[i][1]);
    }
    Image level2;
    ASSERT_EQ(DecodeDdsLevel(dds, 2, &level2), Status::Ok);
    EXPECT_EQ(level2.pixels, std::vector<uint32_t>{0x120000FF});
    Image top;
    ASSERT_EQ(Decode(file.data(), file.size(), &top), Status::Ok);
    EXPECT_EQ(top.At(3, 1), 0x80FF0007u);
    Info info;
    ASSERT_EQ(QueryInfo(file.data(), file.size(), &info), Status::Ok);
    EXPECT_EQ(info.mipLevels, 3u);

    struct Case
    {
        const char* name;
        uint32_t flags, bits;
        uint32_t masks[4];
        Bytes texel;
        uint32_t format;
        uint32_t expected;
    };
    const Case cases[] = {
        {"X8R8G8B8", 0x40, 32, {0xFF0000, 0xFF00, 0xFF, 0}, {0x56, 0x34, 0x12, 0x00}, 22, 0xFF123456},
        {"R8G8B8", 0x40, 24, {0xFF0000, 0xFF00, 0xFF, 0}, {0x56, 0x34, 0x12}, 20, 0xFF123456},
        {"A8B8G8R8",
         0x41,
         32,
         {0xFF, 0xFF00, 0xFF0000, 0xFF000000},
         {0x12, 0x34, 0x56, 0x78},
         32,
         0x78123456},
        {"R5G6B5", 0x40, 16, {0xF800, 0x07E0, 0x1F, 0}, {0x00, 0xF8}, 23, 0xFFFF0000},
        {"A1R5G5B5", 0x41, 16, {0x7C00, 0x03E0, 0x1F, 0x8000}, {0x1F, 0x00}, 25, 0x000000FF},
        {"A4R4G4B4", 0x41, 16, {0x0F00, 0x00F0, 0x0F, 0xF000}, {0xF0, 0x8F}, 26, 0x88FFFF00},
        {"L8", 0x20000, 8, {0xFF, 0, 0, 0}, {0x40}, 50, 0xFF404040},
        {"A8", 0x2, 8, {0, 0, 0, 0xFF}, {0x40}, 28, 0x40000000},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        DdsDesc s;
        s.width = s.height = 1;
        s.pfFlags = c.flags;
        s.bits = c.bits;
        for (int i = 0; i < 4; ++i)
            s.masks[i] = c.masks[i];
        s.data = c.texel;
        const Bytes f = MakeDds(s);
        DdsFile d;
        ASSERT_EQ(ParseDds(f.data(), f.size(), &d), Status::Ok);
        EXPECT_EQ(d.format, c.format);
        Image img;
        ASSERT_EQ(DecodeDdsLevel(d, 0, &img), Status::Ok);
        EXPECT_EQ(img.pixels[0], c.expected) << std::hex << img.pixels[0];
    }
}

TEST(ImageDds, CompressedBlocks)
{
    // Colour endpoints: red 0xF800 and blue 0x001F. Indices row by row, 2 bits per texel.
    const Bytes fourColour = {0x00, 0xF8, 0x1F, 0x00, 0b11100100, 0, 0, 0};
    const Bytes threeColour = {0x1F, 0x00, 0x00, 0xF8, 0b11100100, 0, 0, 0};
    Bytes dxt3(8, 0);
    dxt3[0] = 0x5F; // texel 0 alpha 0xF, texel 1 alpha 0x5
    dxt3.insert(dxt3.end(), fourColour.begin(), fourColour.end());
    // Alpha indices, 3 bits per texel from bit 0: texel 0 -> 1 (a1), texel 1 -> 0 (a0), texel 2 -> 1.
    Bytes dxt5 = {200, 100, 0b01'000'001, 0, 0, 0, 0, 0};
    dxt5.insert(dxt5.end(), fourColour.begin(), fourColour.end());
    // a0 <= a1: texel 0 -> 0 (a0), texel 1 -> 7 (255), texel 2 -> 6 (0, crossing into the next byte).
    Bytes dxt5Six = {100, 200, 0b10'111'000, 0b1, 0, 0, 0, 0};
    dxt5Six.insert(dxt5Six.end(), fourColour.begin(), fourColour.end());
    struct Case
    {
        const char* name;
        const char* fourCC;
        Bytes block;
        uint32_t first4[4]; // texels (0,0) .. (3,0)
    };
    const Case cases[] = {
        {"DXT1 four colours", "DXT1", fourColour, {0xFFFF0000, 0xFF0000FF, 0xFFAA0055, 0xFF5500AA}},
        {"DXT1 three colours and transparent",
         "DXT1",
         threeColour,
         {0xFF0000FF, 0xFFFF0000, 0xFF7F007F, 0x00000000}},
        {"DXT3 explicit alpha", "DXT3", dxt3, {0xFFFF0000, 0x550000FF, 0x00AA0055, 0x005500AA}},
        {"DXT5 eight alphas", "DXT5", dxt5, {0x64FF0000, 0xC80000FF, 0x64AA0055, 0xC85500AA}},
        {"DXT5 six alphas with 0 and 255", "DXT5", dxt5Six, {0x64FF0000, 0xFF0000FF, 0x00AA0055, 0x645500AA}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        DdsDesc s;
        s.width = 4;
        s.height = 4;
        s.fourCC = FourCC(c.fourCC);
        s.data = c.block;
        const Bytes f = MakeDds(s);
        Image img;
        ASSERT_EQ(Decode(f.data(), f.size(), &img), Status::Ok);
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(img.At(x, 0), c.first4[x]) << x << std::hex << " " << img.At(x, 0);
    }
}

TEST(ImageDds, OddSizesUseWholeBlocksPerLevel)
{
    // 5 x 3 DXT1 with a full chain: 2x1 blocks, then 1 block for 2x1 and 1x1.
    DdsDesc s;
    s.width = 5;
    s.height = 3;
    s.mipCount = 3;
    s.fourCC = FourCC("DXT1");
    s.data = Bytes(8 * 2 + 8 + 8, 0);
    const Bytes f = MakeDds(s);
    DdsFile d;
    ASSERT_EQ(ParseDds(f.data(), f.size(), &d), Status::Ok);
    ASSERT_EQ(d.levels.size(), 3u);
    EXPECT_EQ(d.levels[0].size, 16u);
    EXPECT_EQ(d.levels[1].width, 2u);
    EXPECT_EQ(d.levels[1].height, 1u);
    EXPECT_EQ(d.levels[2].size, 8u);
    Image img;
    ASSERT_EQ(DecodeDdsLevel(d, 0, &img), Status::Ok);
    EXPECT_EQ(img.pixels.size(), 15u);
    // One byte short of the last level.
    const Bytes cut(f.begin(), f.end() - 1);
    EXPECT_EQ(ParseDds(cut.data(), cut.size(), &d), Status::Corrupt);
}

// ---- sniffing and info ----

TEST(ImageSniff, SignaturesAndQueries)
{
    JpegDesc j;
    j.pixels = {0};
    PngDesc p = Png(3, 2, PNG_COLOR_TYPE_RGB, 8, {Bytes(9, 0), Bytes(9, 0)});
    p.pixelsPerMetre = 3780;
    GifDesc g;
    g.screenWidth = g.width = 2;
    g.palette = {0, 0};
    g.indices = {0, 0};
    DdsDesc d;
    d.data = Bytes(64, 0);
    struct Case
    {
        const char* name;
        Bytes file;
        Format format;
        Status info;
        uint32_t width, height;
        float dpi;
    };
    const Case cases[] = {
        {"JPEG", MakeJpeg(j), Format::Jpeg, Status::Ok, 1, 1, 0},
        {"PNG", MakePng(p), Format::Png, Status::Ok, 3, 2, 96.012f},
        {"GIF", MakeGif(g), Format::Gif, Status::Ok, 2, 1, 0},
        {"DDS", MakeDds(d), Format::Dds, Status::Ok, 4, 4, 0},
        {"TGA", Tga(2, 24, 0, 1, 1, {1, 2, 3}), Format::Tga, Status::Ok, 1, 1, 0},
        {"JPEG-2000 code stream",
         {0xFF, 0x4F, 0xFF, 0x51, 0, 0x2F},
         Format::Jpeg2000,
         Status::Unsupported,
         0,
         0,
         0},
        {"JP2 file",
         {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A},
         Format::Jpeg2000,
         Status::Unsupported,
         0,
         0,
         0},
        {"text", {'h', 'e', 'l', 'l', 'o'}, Format::Unknown, Status::Unsupported, 0, 0, 0},
        {"empty", {}, Format::Unknown, Status::Unsupported, 0, 0, 0},
        {"lone B", {'B'}, Format::Unknown, Status::Unsupported, 0, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Sniff(c.file.data(), c.file.size()), c.format);
        Info info;
        EXPECT_EQ(QueryInfo(c.file.data(), c.file.size(), &info), c.info);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_NEAR(info.dpiX, c.dpi, 0.01f);
        Image img;
        const Status decoded = Decode(c.file.data(), c.file.size(), &img);
        EXPECT_EQ(decoded, c.info);
        if (decoded == Status::Ok)
        {
            EXPECT_EQ(img.width, c.width);
        }
    }
}
} // namespace
} // namespace ferolt::image::test
