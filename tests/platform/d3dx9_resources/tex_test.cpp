// D3DX textures from image files in memory over the fake device.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/d3dx9/d3dx9.h"
#include "platform/image/image.h"
#include "tests/platform/d3dx9_resources/fake_device.h"
#include "tests/platform/expect_refused.h"

namespace
{
using ferolt::test::FakeDevice;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    std::memcpy(&b[at], &v, 2);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    std::memcpy(&b[at], &v, 4);
}

// The 2 x 2 image every BMP variant below encodes: top row red, green; bottom row blue, white; in
// variants with alpha the green texel is half transparent.
constexpr uint32_t kTopLeft = 0xFFFF0000, kTopRight = 0xFF00FF00, kBottomLeft = 0xFF0000FF,
                   kBottomRight = 0xFFFFFFFF;

struct BmpVariant
{
    const char* name;
    uint32_t headerSize; // 40, 108 or 124
    uint16_t bpp;        // 8, 24 or 32
    bool topDown;
    uint32_t compression; // 0 BI_RGB, 3 BI_BITFIELDS
    bool alphaMask;
};

std::vector<uint8_t> MakeBmp(const BmpVariant& s, const uint32_t px[4])
{
    const uint32_t w = 2, h = 2;
    const uint32_t paletteBytes = s.bpp == 8 ? 256 * 4 : 0;
    const uint32_t masksBytes = (s.headerSize == 40 && s.compression == 3) ? 12 : 0;
    const uint32_t rowBytes = ((w * s.bpp + 31) / 32) * 4;
    const uint32_t offset = 14 + s.headerSize + masksBytes + paletteBytes;
    std::vector<uint8_t> b(offset + rowBytes * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, 10, offset);
    Put32(b, 14, s.headerSize);
    Put32(b, 18, w);
    Put32(b, 22, s.topDown ? uint32_t(-int32_t(h)) : h);
    Put16(b, 26, 1);
    Put16(b, 28, s.bpp);
    Put32(b, 30, s.compression);
    if (s.compression == 3)
    {
        size_t m = 14 + 40;
        Put32(b, m, 0x00FF0000);
        Put32(b, m + 4, 0x0000FF00);
        Put32(b, m + 8, 0x000000FF);
        if (s.headerSize >= 108) Put32(b, m + 12, s.alphaMask ? 0xFF000000 : 0);
    }
    if (s.bpp == 8)
    {
        Put32(b, 46, 256);
        for (int i = 0; i < 4; ++i)
            Put32(b, 14 + s.headerSize + i * 4, px[i] & 0x00FFFFFF);
    }
    for (uint32_t y = 0; y < h; ++y)
    {
        const uint32_t fileRow = s.topDown ? y : h - 1 - y;
        uint8_t* row = &b[offset + fileRow * rowBytes];
        for (uint32_t x = 0; x < w; ++x)
        {
            const uint32_t p = px[y * w + x];
            if (s.bpp == 8)
                row[x] = uint8_t(y * w + x);
            else if (s.bpp == 24)
            {
                row[x * 3] = uint8_t(p);
                row[x * 3 + 1] = uint8_t(p >> 8);
                row[x * 3 + 2] = uint8_t(p >> 16);
            }
            else
                std::memcpy(row + x * 4, &p, 4);
        }
    }
    return b;
}

// A PNG made with libpng from 0xAARRGGBB pixels, with or without its alpha channel.
std::vector<uint8_t> MakePng(const std::vector<uint32_t>& argb, uint32_t w, uint32_t h, bool alpha)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    std::vector<uint8_t> rows;
    for (uint32_t p : argb)
    {
        rows.push_back(uint8_t(p));
        rows.push_back(uint8_t(p >> 8));
        rows.push_back(uint8_t(p >> 16));
        if (alpha) rows.push_back(uint8_t(p >> 24));
    }
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, nullptr)) return {};
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, rows.data(), 0, nullptr)) return {};
    out.resize(size);
    return out;
}

class TextureTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(device_.counters.live, 0) << "a texture was leaked";
        EXPECT_EQ(device_.References(), 1u);
    }
    HRESULT Load(const std::vector<uint8_t>& file, IDirect3DTexture9** tex, UINT w = 0, UINT h = 0,
                 UINT levels = 1, D3DFORMAT format = D3DFMT_A8R8G8B8, DWORD filter = D3DX_FILTER_NONE,
                 D3DCOLOR key = 0, D3DXIMAGE_INFO* info = nullptr)
    {
        return D3DXCreateTextureFromFileInMemoryEx(&device_, file.data(), UINT(file.size()), w, h, levels, 0,
                                                   format, D3DPOOL_MANAGED, filter, filter, key, info,
                                                   nullptr, tex);
    }
    FakeDevice device_;
};

TEST_F(TextureTest, EachBmpVariantDecodesToTheExpectedTexels)
{
    const uint32_t opaque[4] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
    const uint32_t withAlpha[4] = {kTopLeft, 0x8000FF00, kBottomLeft, kBottomRight};
    const BmpVariant variants[] = {
        {"40-byte 8 bpp bottom-up", 40, 8, false, 0, false},
        {"40-byte 24 bpp bottom-up", 40, 24, false, 0, false},
        {"40-byte 24 bpp top-down", 40, 24, true, 0, false},
        {"40-byte 32 bpp top-down, fourth byte ignored", 40, 32, true, 0, false},
        {"40-byte 32 bpp bitfields", 40, 32, false, 3, false},
        {"108-byte 32 bpp bitfields with alpha mask", 108, 32, true, 3, true},
        {"124-byte 32 bpp bitfields with alpha mask", 124, 32, false, 3, true},
    };
    for (const BmpVariant& s : variants)
    {
        SCOPED_TRACE(s.name);
        const uint32_t* px = s.alphaMask ? withAlpha : opaque;
        // Without an alpha mask a 32-bit file's fourth byte is not alpha, so write garbage there.
        uint32_t stored[4];
        for (int i = 0; i < 4; ++i)
            stored[i] = s.alphaMask ? px[i] : (px[i] & 0x00FFFFFF) | 0x12000000;
        IDirect3DTexture9* tex = nullptr;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(Load(MakeBmp(s, stored), &tex, 0, 0, 1, D3DFMT_A8R8G8B8, D3DX_FILTER_NONE, 0, &info), S_OK);
        EXPECT_EQ(info.Width, 2u);
        EXPECT_EQ(info.Height, 2u);
        EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
        auto* fake = device_.lastTexture;
        ASSERT_EQ(fake->surfaces.size(), 1u);
        const auto* level = fake->surfaces[0];
        for (UINT i = 0; i < 4; ++i)
        {
            const uint32_t expected = s.alphaMask ? px[i] : (px[i] | 0xFF000000);
            EXPECT_EQ(level->Pixel(i % 2, i / 2), expected) << "texel " << i;
        }
        tex->Release();
    }
}

TEST_F(TextureTest, PngAndJpegRoundTripWithImageInfo)
{
    const uint32_t w = 8, h = 4;
    std::vector<uint32_t> argb(w * h);
    for (uint32_t i = 0; i < w * h; ++i)
        argb[i] = ((i % 3) ? 0xFF000000u : 0x40000000u) | (i * 0x00070311u & 0xFFFFFF);
    std::vector<uint32_t> flat(w * h, 0xFF3366CC);
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(ferolt::image::EncodeJpeg(flat.data(), w, h, w, 95, &jpeg), ferolt::image::Status::Ok);
    struct Case
    {
        const char* name;
        std::vector<uint8_t> file;
        D3DXIMAGE_FILEFORMAT fileFormat;
        D3DFORMAT format;        // as the file stores it
        D3DFORMAT textureFormat; // what format 0 makes of it
        const std::vector<uint32_t>* expected;
        int tolerance; // per channel: 0 for lossless files
    };
    const Case cases[] = {
        {"PNG with alpha", MakePng(argb, w, h, true), D3DXIFF_PNG, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, &argb,
         0},
        {"PNG without alpha", MakePng(flat, w, h, false), D3DXIFF_PNG, D3DFMT_R8G8B8, D3DFMT_X8R8G8B8, &flat,
         0},
        {"JPEG", jpeg, D3DXIFF_JPG, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, &flat, 3},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.file.empty());
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(c.file.data(), UINT(c.file.size()), &info), S_OK);
        EXPECT_EQ(info.Width, w);
        EXPECT_EQ(info.Height, h);
        EXPECT_EQ(info.MipLevels, 1u);
        EXPECT_EQ(info.ImageFileFormat, c.fileFormat);
        EXPECT_EQ(info.Format, c.format);
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(Load(c.file, &tex, 0, 0, 1, D3DFMT_UNKNOWN), S_OK);
        const auto* level = device_.lastTexture->surfaces[0];
        EXPECT_EQ(level->desc.Format, c.textureFormat) << "format 0 takes the file's";
        for (uint32_t i = 0; i < w * h; ++i)
        {
            const uint32_t got = level->Pixel(i % w, i / w), want = (*c.expected)[i];
            for (int shift = 0; shift < 32; shift += 8)
                EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), c.tolerance)
                    << "texel " << i;
        }
        tex->Release();
    }
}

TEST_F(TextureTest, ColourKeyAndFormatConversion)
{
    const uint32_t px[4] = {0xFF000000, kTopRight, 0xFF000000, 0x00000000};
    const auto file = MakeBmp({"", 108, 32, true, 3, true}, px);
    struct Case
    {
        const char* name;
        D3DFORMAT format;
        D3DCOLOR key;
        uint32_t texel0, texel1, texel3;
    };
    const Case cases[] = {
        {"opaque black keyed out", D3DFMT_A8R8G8B8, 0xFF000000, 0x00000000, kTopRight, 0x00000000},
        {"no key keeps black", D3DFMT_A8R8G8B8, 0, 0xFF000000, kTopRight, 0x00000000},
        {"zero key keys nothing", D3DFMT_A8R8G8B8, 0x00000000, 0xFF000000, kTopRight, 0x00000000},
        {"16-bit with one alpha bit", D3DFMT_A1R5G5B5, 0xFF000000, 0x0000, 0x83E0, 0x0000},
        {"16-bit without alpha", D3DFMT_R5G6B5, 0, 0x0000, 0x07E0, 0x0000},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(Load(file, &tex, 0, 0, 1, c.format, D3DX_FILTER_NONE, c.key), S_OK);
        const auto* level = device_.lastTexture->surfaces[0];
        EXPECT_EQ(level->desc.Format, c.format);
        EXPECT_EQ(level->Pixel(0, 0), c.texel0);
        EXPECT_EQ(level->Pixel(1, 0), c.texel1);
        EXPECT_EQ(level->Pixel(1, 1), c.texel3);
        tex->Release();
    }
}

TEST_F(TextureTest, MipChainsOfOddSizes)
{
    struct Case
    {
        UINT w, h, levels;
        std::vector<std::pair<UINT, UINT>> sizes;
    };
    const Case cases[] = {
        {7, 3, 0, {{7, 3}, {3, 1}, {1, 1}}},
        {5, 5, 0, {{5, 5}, {2, 2}, {1, 1}}},
        {1, 9, 0, {{1, 9}, {1, 4}, {1, 2}, {1, 1}}},
        {6, 6, 2, {{6, 6}, {3, 3}}},
        {3, 1, 9, {{3, 1}, {1, 1}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        std::vector<uint32_t> pixels(size_t(c.w) * c.h, 0xFF204060);
        std::vector<uint8_t> file;
        ASSERT_EQ(ferolt::image::EncodeBmp24(pixels.data(), c.w, c.h, c.w, &file), ferolt::image::Status::Ok);
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(Load(file, &tex, 0, 0, c.levels, D3DFMT_X8R8G8B8, D3DX_FILTER_BOX), S_OK);
        ASSERT_EQ(tex->GetLevelCount(), c.sizes.size());
        for (UINT i = 0; i < c.sizes.size(); ++i)
        {
            D3DSURFACE_DESC d;
            ASSERT_EQ(tex->GetLevelDesc(i, &d), S_OK);
            EXPECT_EQ(d.Width, c.sizes[i].first);
            EXPECT_EQ(d.Height, c.sizes[i].second);
            // A flat colour stays that colour through every filter step.
            EXPECT_EQ(device_.lastTexture->surfaces[i]->Pixel(d.Width - 1, d.Height - 1), 0xFF204060u);
        }
        tex->Release();
    }
}

TEST_F(TextureTest, DdsKeepsItsOwnMipLevels)
{
    // 2 x 2 red over a 1 x 1 blue level: filtering would make the small level red.
    std::vector<uint8_t> dds(128 + 16 + 4, 0);
    std::memcpy(dds.data(), "DDS ", 4);
    Put32(dds, 4, 124);
    Put32(dds, 8, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000); // caps, height, width, pixel format, mip count
    Put32(dds, 12, 2);
    Put32(dds, 16, 2);
    Put32(dds, 28, 2);
    Put32(dds, 76, 32);
    Put32(dds, 80, 0x41); // RGB with alpha
    Put32(dds, 88, 32);
    Put32(dds, 92, 0x00FF0000);
    Put32(dds, 96, 0x0000FF00);
    Put32(dds, 100, 0x000000FF);
    Put32(dds, 104, 0xFF000000);
    Put32(dds, 108, 0x1000 | 0x400000 | 0x8);
    for (int i = 0; i < 4; ++i)
        Put32(dds, 128 + i * 4, 0xFFFF0000);
    Put32(dds, 144, 0xFF0000FF);
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileInMemory(dds.data(), UINT(dds.size()), &info), S_OK);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_DDS);
    EXPECT_EQ(info.MipLevels, 2u);
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(Load(dds, &tex, 0, 0, 0, D3DFMT_A8R8G8B8, D3DX_FILTER_BOX), S_OK);
    ASSERT_EQ(tex->GetLevelCount(), 2u);
    EXPECT_EQ(device_.lastTexture->surfaces[0]->Pixel(1, 1), 0xFFFF0000u);
    EXPECT_EQ(device_.lastTexture->surfaces[1]->Pixel(0, 0), 0xFF0000FFu);
    tex->Release();
}

TEST_F(TextureTest, ScalingFilters)
{
    // 4 x 1: black, white, black, white; halved.
    const uint32_t px[4] = {0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF};
    std::vector<uint8_t> file;
    ASSERT_EQ(ferolt::image::EncodeBmp24(px, 4, 1, 4, &file), ferolt::image::Status::Ok);
    const std::pair<DWORD, uint32_t> cases[] = {
        {D3DX_FILTER_POINT, 0xFFFFFFFF},
        {D3DX_FILTER_BOX, 0xFF808080},
        {D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER, 0xFF808080},
        {D3DX_FILTER_NONE, 0xFFFFFFFF}, // the top-left part
    };
    for (auto [filter, expected] : cases)
    {
        SCOPED_TRACE(filter);
        IDirect3DTexture9* tex = nullptr;
        ASSERT_EQ(Load(file, &tex, 2, 1, 1, D3DFMT_A8R8G8B8, filter), S_OK);
        EXPECT_EQ(device_.lastTexture->surfaces[0]->Pixel(1, 0), expected);
        tex->Release();
    }
    EXPECT_REFUSED(D3DXFilterTexture(nullptr, nullptr, 0, D3DX_FILTER_BOX), "D3DXFilterTexture.NullPointer");
    auto* cube = new ferolt::test::StubCubeTexture;
    EXPECT_REFUSED(D3DXFilterTexture(cube, nullptr, 0, D3DX_FILTER_BOX), "D3DXFilterTexture.WrongType");
    cube->Release();
}

TEST_F(TextureTest, HostileAndForeignImagesFailCleanly)
{
    const uint32_t px[4] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
    const auto good = MakeBmp({"", 40, 24, false, 0, false}, px);
    auto truncated = good;
    truncated.resize(good.size() - 5);
    auto huge = good;
    Put32(huge, 18, 100000);
    Put32(huge, 22, 100000);
    auto badPalette = MakeBmp({"", 40, 8, false, 0, false}, px);
    badPalette.resize(14 + 40 + 100); // the file ends inside its palette
    const std::vector<uint8_t> j2k = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20,
                                      0x0D, 0x0A, 0x87, 0x0A, 0x00, 0x00, 0x00, 0x14};
    const std::vector<uint8_t> noise(64, 0x5A);
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"truncated", truncated},
        {"huge declared size", huge},
        {"palette cut short", badPalette},
        {"JPEG-2000", j2k},
        {"noise", noise},
    };
    for (const auto& [name, bytes] : cases)
    {
        SCOPED_TRACE(name);
        IDirect3DTexture9* tex = reinterpret_cast<IDirect3DTexture9*>(1);
        EXPECT_TRUE(FAILED(Load(bytes, &tex)));
        EXPECT_EQ(tex, nullptr);
    }
    IDirect3DTexture9* tex = nullptr;
    device_.counters.failCreates = 1;
    EXPECT_EQ(Load(good, &tex), E_OUTOFMEMORY);
    EXPECT_EQ(Load(good, &tex, 0, 0, 1, D3DFMT_A8R8G8B8, 0, 0, nullptr), S_OK);
    tex->Release();
    EXPECT_REFUSED(D3DXCreateTextureFromFileInMemoryEx(nullptr, good.data(), UINT(good.size()), 0, 0, 1, 0,
                                                       D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, 1, 1, 0, nullptr,
                                                       nullptr, &tex),
                   "D3DXCreateTextureFromFileInMemoryEx.NoDevice");
    EXPECT_REFUSED(D3DXCreateTextureFromFileInMemoryEx(&device_, nullptr, 10, 0, 0, 1, 0, D3DFMT_A8R8G8B8,
                                                       D3DPOOL_MANAGED, 1, 1, 0, nullptr, nullptr, &tex),
                   "D3DXCreateTextureFromFileInMemoryEx.NullData");
    EXPECT_REFUSED(D3DXCreateTextureFromFileInMemoryEx(&device_, good.data(), 0, 0, 0, 1, 0, D3DFMT_A8R8G8B8,
                                                       D3DPOOL_MANAGED, 1, 1, 0, nullptr, nullptr, &tex),
                   "D3DXCreateTextureFromFileInMemoryEx.Empty");
    D3DXIMAGE_INFO info;
    EXPECT_REFUSED(D3DXGetImageInfoFromFileInMemory(nullptr, 10, &info),
                   "D3DXGetImageInfoFromFileInMemory.NullData");
    EXPECT_REFUSED(D3DXGetImageInfoFromFileInMemory(good.data(), 0, &info),
                   "D3DXGetImageInfoFromFileInMemory.Empty");
    EXPECT_REFUSED(D3DXGetImageInfoFromFileInMemory(good.data(), UINT(good.size()), nullptr),
                   "D3DXGetImageInfoFromFileInMemory.NullPointer");
}

TEST_F(TextureTest, LoadSurfaceFromSurfaceScalesAndKeys)
{
    IDirect3DTexture9* src = nullptr;
    IDirect3DTexture9* dst = nullptr;
    ASSERT_EQ(D3DXCreateTexture(&device_, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &src), S_OK);
    auto* srcFake = device_.lastTexture;
    ASSERT_EQ(D3DXCreateTexture(&device_, 8, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &dst), S_OK);
    auto* dstFake = device_.lastTexture;
    const uint32_t px[4] = {0xFF000000, 0xFF112233, 0xFF445566, 0xFF000000};
    std::memcpy(srcFake->surfaces[0]->bits.data(), px, sizeof px);
    IDirect3DSurface9 *s = nullptr, *d = nullptr;
    src->GetSurfaceLevel(0, &s);
    dst->GetSurfaceLevel(0, &d);
    const RECT cell = {4, 0, 8, 4};
    ASSERT_EQ(
        D3DXLoadSurfaceFromSurface(d, nullptr, &cell, s, nullptr, nullptr, D3DX_FILTER_POINT, 0xFF000000),
        S_OK);
    EXPECT_EQ(dstFake->surfaces[0]->Pixel(4, 0), 0xFF000000u) << "keyed to transparent black, no alpha kept";
    EXPECT_EQ(dstFake->surfaces[0]->Pixel(7, 0), 0xFF112233u);
    EXPECT_EQ(dstFake->surfaces[0]->Pixel(5, 3), 0xFF445566u);
    EXPECT_EQ(dstFake->surfaces[0]->Pixel(0, 0), 0u) << "outside the rectangle untouched";
    const RECT outside = {6, 0, 10, 4};
    EXPECT_REFUSED(
        D3DXLoadSurfaceFromSurface(d, nullptr, &outside, s, nullptr, nullptr, D3DX_FILTER_POINT, 0),
        "D3DXLoadSurfaceFromSurface.RectOutside");
    IDirect3DTexture9* compressed = nullptr;
    ASSERT_EQ(device_.CreateTexture(4, 4, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &compressed, nullptr), S_OK);
    IDirect3DSurface9* block = nullptr;
    compressed->GetSurfaceLevel(0, &block);
    EXPECT_REFUSED(
        D3DXLoadSurfaceFromSurface(block, nullptr, nullptr, s, nullptr, nullptr, D3DX_FILTER_POINT, 0),
        "D3DXLoadSurfaceFromSurface.UnconvertibleFormat");
    block->Release();
    compressed->Release();
    s->Release();
    d->Release();
    src->Release();
    dst->Release();
}
} // namespace
