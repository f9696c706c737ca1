// GDI+ bitmaps: start-up, decoding from streams, bitmaps over caller memory, locks and clones.
#include "platform/gdiplus/gdiplus.h"
#include "tests/platform/gdiplus/memory_stream.h"
#include "tests/platform/image/image_fixtures.h"

#include <gtest/gtest.h>
#include <png.h>

#include <memory>

namespace ferolt::gdiplus::test
{
namespace
{
using namespace Gdiplus;
using image::test::Bytes;

class GdiplusSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&token_, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(token_); }
    ULONG_PTR token_ = 0;
};

TEST(GdiplusStartupTest, TokensAndArguments)
{
    GdiplusStartupInput input;
    ULONG_PTR a = 0, b = 0;
    EXPECT_EQ(GdiplusStartup(nullptr, &input, nullptr), InvalidParameter);
    EXPECT_EQ(GdiplusStartup(&a, nullptr, nullptr), InvalidParameter);
    GdiplusStartupInput v2;
    v2.GdiplusVersion = 2;
    EXPECT_EQ(GdiplusStartup(&a, &v2, nullptr), UnsupportedGdiplusVersion);
    ASSERT_EQ(GdiplusStartup(&a, &input, nullptr), Ok);
    ASSERT_EQ(GdiplusStartup(&b, &input, nullptr), Ok);
    EXPECT_NE(a, b);
    GdiplusShutdown(a);
    EXPECT_TRUE(ferolt::gdiplus::Started());
    GdiplusShutdown(b);
    EXPECT_FALSE(ferolt::gdiplus::Started());
}

uint32_t PixelAt(Bitmap& bmp, INT x, INT y)
{
    Color c;
    EXPECT_EQ(bmp.GetPixel(x, y, &c), Ok);
    return c.GetValue();
}

TEST_F(GdiplusSession, DecodesFromStreams)
{
    image::test::BmpDesc bmp;
    bmp.width = 2;
    bmp.height = 1;
    bmp.pelsPerMetre = 3780;
    bmp.pixels = {0, 0, 255, 255, 0, 0, 0, 0};
    image::test::PngDesc png;
    png.width = 2;
    png.height = 1;
    png.colorType = PNG_COLOR_TYPE_RGBA;
    png.rows = {{255, 0, 0, 255, 0, 0, 255, 0x80}};
    png.pixelsPerMetre = 11811;
    image::test::JpegDesc jpeg;
    jpeg.width = 8;
    jpeg.height = 8;
    jpeg.pixels.assign(64, 0xFF00FF00);
    jpeg.progressive = true;
    jpeg.densityUnit = 1;
    jpeg.density = 72;
    image::test::GifDesc gif;
    gif.screenWidth = gif.width = 2;
    gif.palette = {0xFF0000, 0x0000FF};
    gif.indices = {0, 1};
    gif.transparent = 1;
    struct Case
    {
        const char* name;
        Bytes file;
        UINT width, height;
        REAL dpi;
        PixelFormat format;
        uint32_t first, second; // pixels (0, 0) and (1, 0)
    };
    const Case cases[] = {
        {"BMP", image::test::MakeBmp(bmp), 2, 1, 96.012f, PixelFormat24bppRGB, 0xFFFF0000, 0xFF0000FF},
        {"PNG", image::test::MakePng(png), 2, 1, 299.9994f, PixelFormat32bppARGB, 0xFFFF0000, 0x800000FF},
        {"JPEG", image::test::MakeJpeg(jpeg), 8, 8, 72.f, PixelFormat24bppRGB, 0xFF00FF00, 0xFF00FF00},
        {"GIF", image::test::MakeGif(gif), 2, 1, 0.f, PixelFormat32bppARGB, 0xFFFF0000, 0x00000000},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        // Decoding starts at the stream's position, as the engine hands streams over.
        Bytes prefixed = {'x', 'y', 'z'};
        prefixed.insert(prefixed.end(), c.file.begin(), c.file.end());
        MemoryStream stream(prefixed);
        LARGE_INTEGER skip;
        skip.QuadPart = 3;
        ASSERT_EQ(stream.Seek(skip, 0, nullptr), S_OK);
        std::unique_ptr<Bitmap> bitmap(Bitmap::FromStream(&stream));
        ASSERT_NE(bitmap, nullptr);
        ASSERT_EQ(bitmap->GetLastStatus(), Ok);
        EXPECT_EQ(bitmap->GetWidth(), c.width);
        EXPECT_EQ(bitmap->GetHeight(), c.height);
        EXPECT_NEAR(bitmap->GetHorizontalResolution(), c.dpi, 0.01f);
        EXPECT_NEAR(bitmap->GetVerticalResolution(), c.dpi, 0.01f);
        EXPECT_EQ(bitmap->GetPixelFormat(), c.format);
        const uint32_t first = PixelAt(*bitmap, 0, 0), second = PixelAt(*bitmap, 1, 0);
        for (int shift = 0; shift < 32; shift += 8)
        {
            EXPECT_NEAR(int((first >> shift) & 0xFF), int((c.first >> shift) & 0xFF), 2) << std::hex << first;
            EXPECT_NEAR(int((second >> shift) & 0xFF), int((c.second >> shift) & 0xFF), 2)
                << std::hex << second;
        }
    }
}

TEST_F(GdiplusSession, StreamsThatDoNotDecodeFail)
{
    image::test::JpegDesc jpeg;
    jpeg.pixels = {0};
    Bytes cutPng = image::test::MakePng({1, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3}}, {}, {}, 0, false});
    cutPng.resize(cutPng.size() / 2);
    Bytes tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 1, 2, 3};
    struct Case
    {
        const char* name;
        Bytes bytes;
        Status expected;
    };
    const Case cases[] = {
        {"JPEG-2000 code stream", {0xFF, 0x4F, 0xFF, 0x51, 0, 0x29, 0, 0}, UnknownImageFormat},
        {"TGA", tga, UnknownImageFormat},
        {"empty", {}, UnknownImageFormat},
        {"truncated PNG", cutPng, InvalidParameter},
        {"huge BMP", image::test::MakeBmp({40, 70000, 70000, 24, 0, 0, 0, {}, {}, {}, -1}), OutOfMemory},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        MemoryStream stream(c.bytes);
        Bitmap bitmap(&stream);
        EXPECT_EQ(bitmap.GetLastStatus(), c.expected);
        EXPECT_EQ(bitmap.GetWidth(), 0u);
        BitmapData data{};
        EXPECT_EQ(bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data), InvalidParameter);
    }
    Bitmap none(static_cast<IStream*>(nullptr));
    EXPECT_EQ(none.GetLastStatus(), InvalidParameter);
    MemoryStream failing(image::test::MakeJpeg(jpeg));
    failing.FailReads();
    Bitmap unread(&failing);
    EXPECT_NE(unread.GetLastStatus(), Ok);
}

TEST_F(GdiplusSession, BitmapOverCallerMemoryLocksAndConverts)
{
    // 3 x 2 ARGB pixels in rows of 4 pixels; rows run upwards through a negative stride.
    std::vector<uint32_t> memory = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
    struct Case
    {
        const char* name;
        INT stride;
        BYTE* scan0;
        uint32_t topLeft;
    };
    BYTE* base = reinterpret_cast<BYTE*>(memory.data());
    const Case cases[] = {{"downwards", 16, base, 1}, {"upwards", -16, base + 16, 4}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Bitmap bmp(3, 2, c.stride, PixelFormat32bppARGB, c.scan0);
        ASSERT_EQ(bmp.GetLastStatus(), Ok);
        BitmapData data{};
        const Rect all(0, 0, 3, 2);
        ASSERT_EQ(bmp.LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &data), Ok);
        EXPECT_EQ(data.Width, 3u);
        EXPECT_EQ(data.Stride, c.stride);
        EXPECT_EQ(*static_cast<uint32_t*>(data.Scan0), c.topLeft);
        EXPECT_EQ(bmp.LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &data), WrongState);
        EXPECT_EQ(bmp.GetLastStatus(), WrongState);
        ASSERT_EQ(bmp.UnlockBits(&data), Ok);
        EXPECT_EQ(bmp.UnlockBits(&data), WrongState);
    }
    EXPECT_EQ(memory[3], 0xEEu); // padding untouched

    // 24-bit memory locked as 32-bit ARGB: read converts, write converts back and drops alpha.
    Bytes rgb = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    Bitmap bmp24(2, 2, 8, PixelFormat24bppRGB, rgb.data());
    BitmapData data{};
    const Rect second(1, 0, 1, 2);
    ASSERT_EQ(bmp24.LockBits(&second, ImageLockModeRead | ImageLockModeWrite, PixelFormat32bppARGB, &data),
              Ok);
    auto* px = static_cast<uint32_t*>(data.Scan0);
    EXPECT_EQ(px[0], 0xFF060504u);
    EXPECT_EQ(*reinterpret_cast<uint32_t*>(static_cast<BYTE*>(data.Scan0) + data.Stride), 0xFF0C0B0Au);
    px[0] = 0x80A0B0C0;
    ASSERT_EQ(bmp24.UnlockBits(&data), Ok);
    EXPECT_EQ(rgb, (Bytes{1, 2, 3, 0xC0, 0xB0, 0xA0, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}));

    // A caller's buffer receives the pixels (and hands them back on unlock).
    uint32_t user[2] = {};
    BitmapData userData{};
    userData.Scan0 = user;
    userData.Stride = 4;
    ASSERT_EQ(bmp24.LockBits(&second, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppARGB,
                             &userData),
              Ok);
    EXPECT_EQ(user[0], 0xFFA0B0C0u);
    EXPECT_EQ(user[1], 0xFF0C0B0Au);
    ASSERT_EQ(bmp24.UnlockBits(&userData), Ok);

    const struct
    {
        const char* name;
        Rect rect;
        UINT flags;
        PixelFormat format;
    } bad[] = {
        {"beyond the right", Rect(1, 0, 2, 1), ImageLockModeRead, PixelFormat32bppARGB},
        {"negative origin", Rect(-1, 0, 1, 1), ImageLockModeRead, PixelFormat32bppARGB},
        {"empty", Rect(0, 0, 0, 1), ImageLockModeRead, PixelFormat32bppARGB},
        {"no mode", Rect(0, 0, 1, 1), 0, PixelFormat32bppARGB},
        {"indexed format", Rect(0, 0, 1, 1), ImageLockModeRead, 0x30803},
    };
    for (const auto& b : bad)
    {
        SCOPED_TRACE(b.name);
        BitmapData d{};
        EXPECT_EQ(bmp24.LockBits(&b.rect, b.flags, b.format, &d), InvalidParameter);
    }
    Bitmap tooNarrow(3, 1, 8, PixelFormat32bppARGB, base);
    EXPECT_EQ(tooNarrow.GetLastStatus(), InvalidParameter);
    Bitmap unaligned(1, 1, 6, PixelFormat24bppRGB, rgb.data());
    EXPECT_EQ(unaligned.GetLastStatus(), InvalidParameter);
}

TEST_F(GdiplusSession, NewBitmapsAndClones)
{
    Bitmap bmp(3, 2, PixelFormat32bppARGB);
    ASSERT_EQ(bmp.GetLastStatus(), Ok);
    EXPECT_EQ(PixelAt(bmp, 2, 1), 0u); // transparent black
    EXPECT_EQ(bmp.GetHorizontalResolution(), 0.f);
    for (INT y = 0; y < 2; ++y)
        for (INT x = 0; x < 3; ++x)
            ASSERT_EQ(bmp.SetPixel(x, y, Color(0x80000000u | uint32_t(y * 3 + x))), Ok);
    std::unique_ptr<Bitmap> clone(bmp.Clone(Rect(1, 0, 2, 2), PixelFormat32bppARGB));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->GetWidth(), 2u);
    EXPECT_EQ(PixelAt(*clone, 0, 0), 0x80000001u);
    EXPECT_EQ(PixelAt(*clone, 1, 1), 0x80000005u);
    std::unique_ptr<Bitmap> opaque(bmp.Clone(0, 0, 1, 1, PixelFormat32bppRGB));
    ASSERT_NE(opaque, nullptr);
    EXPECT_EQ(PixelAt(*opaque, 0, 0), 0xFF000000u);
    EXPECT_EQ(bmp.Clone(Rect(2, 0, 2, 1), PixelFormat32bppARGB), nullptr);
    EXPECT_EQ(bmp.GetLastStatus(), InvalidParameter);
    const struct
    {
        INT w, h;
        PixelFormat f;
        Status expected;
    } sizes[] = {{0, 1, PixelFormat32bppARGB, InvalidParameter},
                 {1, -1, PixelFormat32bppARGB, InvalidParameter},
                 {1, 1, 0x30803, InvalidParameter},
                 {100000, 100000, PixelFormat32bppARGB, OutOfMemory}};
    for (const auto& s : sizes)
    {
        Bitmap b(s.w, s.h, s.f);
        EXPECT_EQ(b.GetLastStatus(), s.expected) << s.w << "x" << s.h;
    }
}
} // namespace
} // namespace ferolt::gdiplus::test
