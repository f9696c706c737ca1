// Saved-image writers: 24-bit BMP and progressive JPEG, read back by the decoders.
#include "platform/image/image.h"
#include "tests/platform/image/image_fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace ferolt::image::test
{
namespace
{
std::vector<uint32_t> Pattern(uint32_t w, uint32_t h)
{
    std::vector<uint32_t> p(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            p[size_t(y) * w + x] = 0x11000000u * (x & 1) | (x * 40) << 16 | (y * 50) << 8 | 0x7F;
    return p;
}

TEST(ImageWrite, Bmp24HeaderPaddingAndRoundTrip)
{
    // Widths 1 to 4 cover every row padding (3, 2, 1 and 0 bytes).
    for (uint32_t w = 1; w <= 4; ++w)
    {
        SCOPED_TRACE(w);
        const uint32_t h = 3, stride = w + 2; // rows in memory wider than the image
        std::vector<uint32_t> src(size_t(stride) * h, 0xDEADBEEF);
        const std::vector<uint32_t> pat = Pattern(w, h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                src[size_t(y) * stride + x] = pat[size_t(y) * w + x];
        Bytes file;
        ASSERT_EQ(EncodeBmp24(src.data(), w, h, stride, &file), Status::Ok);
        const uint32_t row = (3 * w + 3) & ~3u;
        ASSERT_EQ(file.size(), 54 + size_t(row) * h);
        EXPECT_EQ(RowBytesBmp24(w), row);
        auto u32 = [&](size_t at)
        { return uint32_t(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24); };
        EXPECT_EQ(u32(2), file.size());
        EXPECT_EQ(u32(10), 54u);
        EXPECT_EQ(u32(14), 40u);
        EXPECT_EQ(int32_t(u32(22)), -int32_t(h)); // rows run top-down
        EXPECT_EQ(file[28], 24);
        EXPECT_EQ(u32(30), 0u);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t i = 3 * w; i < row; ++i)
                EXPECT_EQ(file[54 + y * row + i], 0) << "padding";
        Image img;
        ASSERT_EQ(DecodeBmp(file.data(), file.size(), &img), Status::Ok);
        for (size_t i = 0; i < pat.size(); ++i)
            EXPECT_EQ(img.pixels[i], pat[i] | 0xFF000000u) << i;
    }
}

TEST(ImageWrite, JpegIsProgressiveAndRoundTrips)
{
    const uint32_t w = 32, h = 16;
    std::vector<uint32_t> src(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            src[size_t(y) * w + x] = x < 16 ? 0xFF3060C0 : 0xFFE0A010;
    for (int quality : {0, 50, 100, 250})
    {
        SCOPED_TRACE(quality);
        Bytes file;
        ASSERT_EQ(EncodeJpeg(src.data(), w, h, w, quality, &file), Status::Ok);
        bool progressive = false;
        for (size_t i = 0; i + 1 < file.size(); ++i)
            progressive |= file[i] == 0xFF && file[i + 1] == 0xC2;
        EXPECT_TRUE(progressive);
        Image img;
        ASSERT_EQ(DecodeJpeg(file.data(), file.size(), &img), Status::Ok);
        ASSERT_EQ(img.width, w);
        ASSERT_EQ(img.height, h);
        if (quality >= 50)
        {
            const uint32_t got = img.At(3, 8);
            EXPECT_NEAR(int((got >> 16) & 0xFF), 0x30, 8);
            EXPECT_NEAR(int(got & 0xFF), 0xC0, 8);
        }
    }
}

TEST(ImageWrite, JpegToFileRowByRow)
{
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const std::vector<uint32_t> row(8, 0xFF808080);
    JpegWriter writer;
    ASSERT_EQ(writer.Start(f, 8, 2, 90), Status::Ok);
    EXPECT_EQ(writer.Finish(), Status::InvalidArgument); // rows missing
    ASSERT_EQ(writer.WriteRow(row.data()), Status::Ok);
    ASSERT_EQ(writer.WriteRow(row.data()), Status::Ok);
    EXPECT_EQ(writer.WriteRow(row.data()), Status::InvalidArgument); // one row too many
    ASSERT_EQ(writer.Finish(), Status::Ok);
    std::fflush(f);
    const long size = std::ftell(f);
    ASSERT_GT(size, 100);
    Bytes bytes(size_t(size), 0);
    std::rewind(f);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    Image img;
    ASSERT_EQ(DecodeJpeg(bytes.data(), bytes.size(), &img), Status::Ok);
    EXPECT_EQ(img.width, 8u);
    EXPECT_NEAR(int(img.At(4, 1) & 0xFF), 0x80, 3);
}

TEST(ImageWrite, RefusesBadArguments)
{
    const uint32_t px = 0;
    Bytes out;
    EXPECT_EQ(EncodeBmp24(nullptr, 1, 1, 1, &out), Status::InvalidArgument);
    EXPECT_EQ(EncodeBmp24(&px, 0, 1, 1, &out), Status::InvalidArgument);
    EXPECT_EQ(EncodeBmp24(&px, 2, 1, 1, &out), Status::InvalidArgument); // stride below width
    EXPECT_EQ(EncodeJpeg(&px, 0, 1, 1, 90, &out), Status::InvalidArgument);
    EXPECT_EQ(EncodeJpeg(&px, 70000, 1, 70000, 90, &out), Status::InvalidArgument);
    JpegWriter writer;
    EXPECT_EQ(writer.Start(nullptr, 1, 1, 90), Status::InvalidArgument);
    EXPECT_EQ(writer.WriteRow(&px), Status::InvalidArgument); // not started
}
} // namespace
} // namespace ferolt::image::test
