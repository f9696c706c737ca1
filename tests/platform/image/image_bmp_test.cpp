// Every BMP variant the engine and its tools write, byte by byte, decoded to the expected pixels.
#include "platform/image/image.h"
#include "tests/platform/image/image_fixtures.h"

#include <gtest/gtest.h>

namespace ferolt::image::test
{
namespace
{
constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kGrey = 0xFF808080;
// Every case is this 2 x 2 image unless it says otherwise: top row red, green; bottom row blue, grey.
const std::vector<uint32_t> kQuad = {kRed, kGreen, kBlue, kGrey};

// Rows given top-down, each padded to 4 bytes, stored bottom-up unless topDown.
Bytes Rows(std::vector<Bytes> rows, bool topDown)
{
    Bytes out;
    if (!topDown) std::reverse(rows.begin(), rows.end());
    for (Bytes& r : rows)
    {
        while (r.size() % 4)
            r.push_back(0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes Palette(std::initializer_list<uint32_t> colours, size_t entryBytes = 4)
{
    Bytes out;
    for (uint32_t c : colours)
    {
        out.push_back(uint8_t(c)), out.push_back(uint8_t(c >> 8)), out.push_back(uint8_t(c >> 16));
        if (entryBytes == 4) out.push_back(0x5A); // reserved byte: never alpha
    }
    return out;
}

Bytes Masks(std::initializer_list<uint32_t> masks)
{
    ByteWriter w;
    for (uint32_t m : masks)
        w.u32(m);
    return w.bytes;
}

struct BmpCase
{
    const char* name;
    BmpDesc desc;
    std::vector<uint32_t> expected = kQuad;
    uint32_t width = 2, height = 2;
    DecodeOptions options = {};
};

BmpDesc Desc(uint32_t headerSize, int32_t height, uint16_t bpp, uint32_t compression, Bytes extra,
             Bytes pixels)
{
    BmpDesc s;
    s.headerSize = headerSize;
    s.width = 2;
    s.height = height;
    s.bpp = bpp;
    s.compression = compression;
    s.extra = std::move(extra);
    s.pixels = std::move(pixels);
    return s;
}

BmpDesc WithMasks(BmpDesc s, std::initializer_list<uint32_t> masks)
{
    int i = 0;
    for (uint32_t m : masks)
        s.masks[i++] = m;
    return s;
}

std::vector<BmpCase> Cases()
{
    const Bytes bgr24Top = {0, 0, 255, 0, 255, 0}, bgr24Bottom = {255, 0, 0, 128, 128, 128};
    const Bytes bgrx32Top = {0, 0, 255, 7, 0, 255, 0, 7}, bgrx32Bottom = {255, 0, 0, 7, 128, 128, 128, 7};
    const Bytes bgra32Top = {0, 0, 255, 255, 0, 255, 0, 128},
                bgra32Bottom = {255, 0, 0, 0, 128, 128, 128, 255};
    // 5-5-5: red 0x7C00, green 0x03E0, blue 0x001F, grey 0x4210 (16 of 31 in each channel -> 132).
    const Bytes x555Top = {0x00, 0x7C, 0xE0, 0x03}, x555Bottom = {0x1F, 0x00, 0x10, 0x42};
    const Bytes r565Top = {0x00, 0xF8, 0xE0, 0x07}, r565Bottom = {0x1F, 0x00, 0x10, 0x84};
    const uint32_t grey555 = 0xFF848484, grey565 = 0xFF848284;
    const auto palette4 = Palette({kRed, kGreen, kBlue, kGrey});

    std::vector<BmpCase> cases = {
        {"24-bit bottom-up", Desc(40, 2, 24, 0, {}, Rows({bgr24Top, bgr24Bottom}, false))},
        {"24-bit top-down", Desc(40, -2, 24, 0, {}, Rows({bgr24Top, bgr24Bottom}, true))},
        {"32-bit BI_RGB ignores the fourth byte",
         Desc(40, 2, 32, 0, {}, Rows({bgrx32Top, bgrx32Bottom}, false))},
        {"32-bit bit fields after a 40-byte header",
         Desc(40, -2, 32, 3, Masks({0xFF0000, 0xFF00, 0xFF}), Rows({bgrx32Top, bgrx32Bottom}, true))},
        {"32-bit 108-byte header with an alpha mask",
         WithMasks(Desc(108, -2, 32, 3, {}, Rows({bgra32Top, bgra32Bottom}, true)),
                   {0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
         {0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFF808080}},
        {"32-bit 124-byte header with an alpha mask, bottom-up",
         WithMasks(Desc(124, 2, 32, 3, {}, Rows({bgra32Top, bgra32Bottom}, false)),
                   {0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
         {0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFF808080}},
        {"32-bit alpha bit fields after a 40-byte header",
         Desc(40, -2, 32, 6, Masks({0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
              Rows({bgra32Top, bgra32Bottom}, true)),
         {0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFF808080}},
        {"32-bit swapped masks",
         Desc(40, -2, 32, 3, Masks({0xFF, 0xFF00, 0xFF0000}), Rows({bgrx32Top, bgrx32Bottom}, true)),
         {kBlue, kGreen, kRed, kGrey}},
        {"16-bit BI_RGB is 5-5-5",
         Desc(40, 2, 16, 0, {}, Rows({x555Top, x555Bottom}, false)),
         {kRed, kGreen, kBlue, grey555}},
        {"16-bit 5-6-5 bit fields",
         Desc(40, 2, 16, 3, Masks({0xF800, 0x07E0, 0x001F}), Rows({r565Top, r565Bottom}, false)),
         {kRed, kGreen, kBlue, grey565}},
        {"8-bit palette", Desc(40, 2, 8, 0, palette4, Rows({{0, 1}, {2, 3}}, false))},
        {"4-bit palette", Desc(40, 2, 4, 0, palette4, Rows({{0x01}, {0x23}}, false))},
        {"1-bit palette",
         Desc(40, 2, 1, 0, Palette({kRed, kBlue}), Rows({{0x40}, {0xC0}}, false)),
         {kRed, kBlue, kBlue, kBlue}},
        {"core header, 3-byte palette",
         Desc(12, 2, 8, 0, Palette({kRed, kGreen, kBlue, kGrey}, 3), Rows({{0, 1}, {2, 3}}, false))},
        {"core header, 24-bit", Desc(12, 2, 24, 0, {}, Rows({bgr24Top, bgr24Bottom}, false))},
        // Run-length: bottom row first; the top row's second pixel is never written (entry 0).
        {"RLE8 runs, literal, end of line and image",
         Desc(40, 2, 8, 1, palette4, {1, 2, 1, 3, 0, 0, 1, 0, 0, 1}),
         {kRed, kRed, kBlue, kGrey}},
        {"RLE8 absolute run and delta",
         Desc(40, 2, 8, 1, palette4, {0, 2, 0, 1, 0, 3, 2, 3, 0, 0, 0, 1}),
         {kBlue, kGrey, kRed, kRed}},
        {"RLE4 alternating nibbles", Desc(40, 2, 4, 2, palette4, {2, 0x23, 0, 0, 2, 0x01, 0, 1})},
    };
    // Palette index beyond the colours used reads as opaque black.
    BmpDesc shortPalette = Desc(40, 2, 8, 0, Palette({kRed, kGreen}), Rows({{0, 1}, {2, 3}}, false));
    shortPalette.clrUsed = 2;
    cases.push_back({"index beyond the used colours", shortPalette, {kRed, kGreen, 0xFF000000, 0xFF000000}});
    // A colours-used count above what 8 bits can address reads the 256 entries there are.
    Bytes full(256 * 4, 0);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            full[i * 4 + k] = palette4[i * 4 + k];
    BmpDesc tooManyColours = Desc(40, 2, 8, 0, full, Rows({{0, 1}, {2, 3}}, false));
    tooManyColours.clrUsed = 1000;
    cases.push_back({"1000 colours used", tooManyColours});
    // 32-bit BI_RGB rows whose fourth byte a caller asks to keep.
    BmpCase keep{"32-bit BI_RGB alpha kept on request",
                 Desc(40, -2, 32, 0, {}, Rows({bgra32Top, bgra32Bottom}, true)),
                 {0xFFFF0000, 0x8000FF00, 0x000000FF, 0xFF808080}};
    keep.options.bmpRgb32Alpha = BmpRgb32Alpha::Keep;
    cases.push_back(keep);
    BmpCase blank{"32-bit BI_RGB all-zero alpha stays opaque",
                  Desc(40, -2, 32, 0, {},
                       Rows({{0, 0, 255, 0, 0, 255, 0, 0}, {255, 0, 0, 0, 128, 128, 128, 0}}, true))};
    blank.options.bmpRgb32Alpha = BmpRgb32Alpha::KeepUnlessAllZero;
    cases.push_back(blank);
    // Rows start where the file header says, even past a gap.
    BmpDesc gap = Desc(40, 2, 24, 0, Bytes(10, 0xEE), Rows({bgr24Top, bgr24Bottom}, false));
    gap.pixelOffset = 54 + 10;
    cases.push_back({"pixel offset past a gap", gap});
    return cases;
}

TEST(ImageBmp, VariantsDecodeToExpectedPixels)
{
    for (const BmpCase& c : Cases())
    {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeBmp(c.desc);
        EXPECT_EQ(Sniff(file.data(), file.size()), Format::Bmp);
        Image img;
        ASSERT_EQ(DecodeBmp(file.data(), file.size(), &img, c.options), Status::Ok);
        ASSERT_EQ(img.width, c.width);
        ASSERT_EQ(img.height, c.height);
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(img.pixels[i], c.expected[i]) << "pixel " << i << std::hex << " got " << img.pixels[i];
    }
}

TEST(ImageBmp, EngineTexturePixelsKeepTheirKeyAlpha)
{
    // The engine hands D3DX a 108-byte-header BMP whose colour-key pixels carry alpha 254.
    ByteWriter w;
    w.u32(0xFE000000).u32(0x00000000).u32(0xFF123456);
    BmpDesc s = WithMasks(Desc(108, -1, 32, 3, {}, w.bytes), {0xFF0000, 0xFF00, 0xFF, 0xFF000000});
    s.width = 3;
    s.height = -1;
    const Bytes file = MakeBmp(s);
    Image img;
    ASSERT_EQ(Decode(file.data(), file.size(), &img), Status::Ok);
    EXPECT_EQ(img.pixels, (std::vector<uint32_t>{0xFE000000, 0x00000000, 0xFF123456}));
    EXPECT_TRUE(img.hasAlpha);
}

TEST(ImageBmp, ResolutionFromPixelsPerMetre)
{
    BmpDesc s = Desc(40, 2, 24, 0, {}, Rows({{0, 0, 255, 0, 255, 0}, {255, 0, 0, 128, 128, 128}}, false));
    const struct
    {
        int32_t ppm;
        float dpi;
    } cases[] = {{3780, 96.012f}, {11811, 299.9994f}, {0, 0.f}, {-5, 0.f}};
    for (const auto& c : cases)
    {
        s.pelsPerMetre = c.ppm;
        const Bytes file = MakeBmp(s);
        Info info;
        ASSERT_EQ(QueryInfo(file.data(), file.size(), &info), Status::Ok);
        EXPECT_NEAR(info.dpiX, c.dpi, 0.01f) << c.ppm;
        EXPECT_NEAR(info.dpiY, c.dpi, 0.01f) << c.ppm;
        EXPECT_EQ(info.width, 2u);
        EXPECT_EQ(info.bitsPerPixel, 24u);
    }
}

TEST(ImageBmp, MalformedHeadersFailCleanly)
{
    const Bytes rows = Rows({{0, 0, 255, 0, 255, 0}, {255, 0, 0, 128, 128, 128}}, false);
    const Bytes rows32 = Bytes(16, 0);
    struct Bad
    {
        const char* name;
        BmpDesc desc;
        Status expected;
    };
    auto heightOf = [&](int32_t w, int32_t h)
    {
        BmpDesc s = Desc(40, h, 24, 0, {}, rows);
        s.width = w;
        return s;
    };
    BmpDesc paletteOverrun = Desc(40, 2, 8, 0, Palette({kRed}), {});
    paletteOverrun.clrUsed = 200;
    paletteOverrun.pixelOffset = 0; // "right after the palette"
    BmpDesc offsetBeyond = Desc(40, 2, 24, 0, {}, rows);
    offsetBeyond.pixelOffset = 100000;
    BmpDesc offsetInHeader = Desc(40, 2, 24, 0, {}, rows);
    offsetInHeader.pixelOffset = 20;
    const Bad cases[] = {
        {"zero width", heightOf(0, 2), Status::Corrupt},
        {"negative width", heightOf(-2, 2), Status::Corrupt},
        {"zero height", heightOf(2, 0), Status::Corrupt},
        {"most negative height", heightOf(2, INT32_MIN), Status::TooLarge},
        {"huge width", heightOf(1 << 30, 2), Status::TooLarge},
        {"area above the pixel limit", heightOf(16384, 16384), Status::TooLarge},
        {"pixel rows missing", heightOf(2, 3), Status::Corrupt},
        {"palette beyond the file", paletteOverrun, Status::Corrupt},
        {"pixel offset beyond the file", offsetBeyond, Status::Corrupt},
        {"pixel offset inside the header", offsetInHeader, Status::Corrupt},
        {"unknown header size", Desc(41, 2, 24, 0, {}, rows), Status::Unsupported},
        {"bit count 7", Desc(40, 2, 7, 0, {}, rows), Status::Unsupported},
        {"embedded JPEG", Desc(40, 2, 24, 4, {}, rows), Status::Unsupported},
        {"RLE8 at 24 bits", Desc(40, 2, 24, 1, {}, rows), Status::Corrupt},
        {"top-down RLE", Desc(40, -2, 8, 1, Palette({kRed}), {0, 1}), Status::Corrupt},
        {"RLE without end", Desc(40, 2, 8, 1, Palette({kRed}), {2, 0}), Status::Corrupt},
        {"RLE literal past the data", Desc(40, 2, 8, 1, Palette({kRed}), {0, 200, 1, 2}), Status::Corrupt},
        {"bit fields all zero", Desc(40, 2, 32, 3, Masks({0, 0, 0}), rows32), Status::Corrupt},
        {"bit fields overlapping", Desc(40, 2, 32, 3, Masks({0xFF00, 0xFFF0, 0xFF}), rows32),
         Status::Corrupt},
        {"bit fields not contiguous", Desc(40, 2, 32, 3, Masks({0xF0F000, 0xFF00, 0xFF}), rows32),
         Status::Corrupt},
        {"bit fields beyond 16 bits", Desc(40, 2, 16, 3, Masks({0xF80000, 0x07E0, 0x1F}), rows32),
         Status::Corrupt},
        {"bit fields at 24 bits", Desc(40, 2, 24, 3, Masks({0xFF0000, 0xFF00, 0xFF}), rows),
         Status::Unsupported},
        {"bit fields masks cut off", Desc(40, 2, 32, 3, {}, {}), Status::Corrupt},
    };
    for (const Bad& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeBmp(c.desc);
        Image img;
        img.width = 9;
        EXPECT_EQ(DecodeBmp(file.data(), file.size(), &img), c.expected);
        EXPECT_EQ(img.width, 0u);
        EXPECT_TRUE(img.pixels.empty());
    }
}
} // namespace
} // namespace ferolt::image::test
