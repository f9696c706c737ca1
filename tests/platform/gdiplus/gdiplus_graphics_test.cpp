// Scaled drawing: exact copies at the same size, area averaging when shrinking, no bleeding from
// transparent pixels, blending over the target, clipping, and the settings the engine makes.
#include "platform/gdiplus/gdiplus.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ferolt::gdiplus::test
{
namespace
{
using namespace Gdiplus;

std::vector<uint32_t> Pixels(Bitmap& bmp)
{
    std::vector<uint32_t> out;
    for (UINT y = 0; y < bmp.GetHeight(); ++y)
        for (UINT x = 0; x < bmp.GetWidth(); ++x)
        {
            Color c;
            bmp.GetPixel(INT(x), INT(y), &c);
            out.push_back(c.GetValue());
        }
    return out;
}

void Fill(Bitmap& bmp, const std::vector<uint32_t>& px)
{
    for (UINT i = 0; i < px.size(); ++i)
        bmp.SetPixel(INT(i % bmp.GetWidth()), INT(i / bmp.GetWidth()), Color(px[i]));
}

TEST(GdiplusResample, FilterTable)
{
    const uint32_t g0 = 0xFF000000, g90 = 0xFF5A5A5A, g180 = 0xFFB4B4B4;
    struct Case
    {
        const char* name;
        std::vector<uint32_t> src;
        uint32_t sw, sh, dw, dh;
        Filter filter;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"same size is a copy",
         {0x12345678, 0x00000000, 0x80FF0000},
         3,
         1,
         3,
         1,
         Filter::HighQuality,
         {0x12345678, 0x00000000, 0x80FF0000}},
        // 3 -> 2: outputs cover [0, 1.5) and [1.5, 3): (0 + 45) / 1.5 = 30, (45 + 180) / 1.5 = 150.
        {"area average, fractional",
         {g0, g90, g180},
         3,
         1,
         2,
         1,
         Filter::HighQuality,
         {0xFF1E1E1E, 0xFF969696}},
        {"area average, 2 x 2 blocks",
         {g0, g180, g0, g180, g0, g0, g90, g90},
         4,
         2,
         2,
         1,
         Filter::HighQuality,
         {0xFF2D2D2D, 0xFF5A5A5A}},
        // Transparent pixels count by their alpha only: no dark fringe around the opaque red.
        {"transparent neighbours do not bleed",
         {0xFFFF0000, 0x00000000},
         2,
         1,
         1,
         1,
         Filter::HighQuality,
         {0x80FF0000}},
        {"bicubic keeps a flat colour",
         {0xFF336699, 0xFF336699, 0xFF336699, 0xFF336699},
         2,
         2,
         5,
         3,
         Filter::HighQuality,
         std::vector<uint32_t>(15, 0xFF336699)},
        {"nearest",
         {1 | 0xFF000000u, 2 | 0xFF000000u},
         2,
         1,
         4,
         1,
         Filter::Nearest,
         {0xFF000001, 0xFF000001, 0xFF000002, 0xFF000002}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Resample(c.src.data(), c.sw, c.sh, c.dw, c.dh, c.filter), c.expected);
    }
    // Growing a step stays within the two colours (no ringing past them) and is monotonic.
    const uint32_t step[2] = {0xFF000000, 0xFFFFFFFF};
    const std::vector<uint32_t> grown = Resample(step, 2, 1, 8, 1, Filter::HighQuality);
    for (size_t i = 1; i < grown.size(); ++i)
        EXPECT_GE(grown[i] & 0xFF, grown[i - 1] & 0xFF);
    EXPECT_EQ(grown.front(), 0xFF000000u);
    EXPECT_EQ(grown.back(), 0xFFFFFFFFu);
    EXPECT_TRUE(Resample(nullptr, 1, 1, 1, 1, Filter::Nearest).empty());
}

TEST(GdiplusResample, BlendOverTable)
{
    const struct
    {
        uint32_t src, dst, expected;
    } cases[] = {
        {0xFF102030, 0xFFFFFFFF, 0xFF102030},
        {0x00102030, 0xFF405060, 0xFF405060},
        {0x80FF0000, 0xFF0000FF, 0xFF80007F},
        {0x80FF0000, 0x00000000, 0x80FF0000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BlendOver(c.src, c.dst), c.expected) << std::hex << c.src;
}

TEST(GdiplusGraphics, EngineDownscaleIntoNewBitmap)
{
    // What the engine does with an image too large for the device: a new ARGB bitmap of the
    // clamped size, the high-quality modes, the whole image drawn into it.
    Bitmap source(8, 4, PixelFormat32bppARGB);
    std::vector<uint32_t> px(32);
    for (UINT i = 0; i < 32; ++i)
        px[i] = (i % 8) < 4 ? 0xFFFF0000 : 0xFF0000FF;
    px[0] = 0xFF000000; // a key-coloured corner survives as part of an average
    Fill(source, px);
    Bitmap scaled(4, 4, PixelFormat32bppARGB);
    Graphics* g = Graphics::FromImage(&scaled);
    ASSERT_EQ(g->GetLastStatus(), Ok);
    ASSERT_EQ(g->SetSmoothingMode(SmoothingModeHighQuality), Ok);
    ASSERT_EQ(g->SetInterpolationMode(InterpolationModeHighQualityBicubic), Ok);
    ASSERT_EQ(g->SetPixelOffsetMode(PixelOffsetModeHighQuality), Ok);
    ASSERT_EQ(g->DrawImage(&source, 0, 0, 4, 4), Ok);
    delete g;
    const std::vector<uint32_t> out = Pixels(scaled);
    EXPECT_EQ(out[0], 0xFF800000u); // black and red averaged
    EXPECT_EQ(out[1], 0xFFFF0000u);
    EXPECT_EQ(out[2], 0xFF0000FFu);
    EXPECT_EQ(out[15], 0xFF0000FFu);
}

TEST(GdiplusGraphics, DrawingBlendsAndClips)
{
    Bitmap target(4, 2, PixelFormat32bppARGB);
    Graphics g(&target);
    ASSERT_EQ(g.Clear(Color(0xFF0000FF)), Ok);
    Bitmap red(2, 2, PixelFormat32bppARGB);
    Fill(red, {0x80FF0000, 0xFFFF0000, 0x00000000, 0xFFFF0000});
    ASSERT_EQ(g.DrawImage(&red, 3, 1), Ok);         // only the top-left pixel lands inside
    ASSERT_EQ(g.DrawImage(&red, -1, -1, 2, 2), Ok); // only the bottom-right one
    EXPECT_EQ(Pixels(target), (std::vector<uint32_t>{0xFFFF0000, 0xFF0000FF, 0xFF0000FF, 0xFF0000FF,
                                                     0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0xFF80007F}));
    // Into opaque 24-bit memory: the left column averages to red at alpha 64 over black.
    std::vector<uint8_t> rgb(8, 0);
    Bitmap opaque(2, 1, 8, PixelFormat24bppRGB, rgb.data());
    Graphics og(&opaque);
    ASSERT_EQ(og.DrawImage(&red, 0, 0, 2, 1), Ok);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{0, 0, 0x40, 0, 0, 0xFF, 0, 0}));

    const struct
    {
        const char* name;
        Image* image;
        INT w, h;
        Status expected;
    } cases[] = {
        {"null image", nullptr, 1, 1, InvalidParameter},
        {"zero size draws nothing", &red, 0, 5, Ok},
        {"huge size", &red, 1 << 20, 1 << 20, OutOfMemory},
    };
    for (const auto& c : cases)
        EXPECT_EQ(g.DrawImage(c.image, 0, 0, c.w, c.h), c.expected) << c.name;
    EXPECT_EQ(g.DrawImage(&red, std::nanf(""), 0.f, 1.f, 1.f), InvalidParameter);
    EXPECT_EQ(g.SetInterpolationMode(InterpolationModeInvalid), InvalidParameter);
    EXPECT_EQ(g.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(g.GetLastStatus(), Ok);
    Graphics none(static_cast<Image*>(nullptr));
    EXPECT_EQ(none.GetLastStatus(), InvalidParameter);
    EXPECT_EQ(none.DrawImage(&red, 0, 0), InvalidParameter);
}
} // namespace
} // namespace ferolt::gdiplus::test
