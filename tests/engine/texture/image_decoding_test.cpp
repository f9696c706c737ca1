// The engine's memory stream and image bytes to device textures: colour-key tag, flip, the size a
// request may take, and scaling to what the devices hold.
#include "texture_fixture.h"

#include "engine/core/blob_stream.h"
#include "engine/core/image_decoding.h"
#include "tests/support/image_file_writer.h"

using texturetest::TextureTest;

namespace
{
LARGE_INTEGER Offset(LONGLONG v)
{
    LARGE_INTEGER l;
    l.QuadPart = v;
    return l;
}

TEST(BlobStreamTest, SeekFromEachOrigin)
{
    struct Case
    {
        const char* title;
        DWORD origin;
        LONGLONG offset;
        HRESULT result;
        DWORD position; // after the seek, from position 4 of 10 bytes
    };
    const Case cases[] = {
        {"from the start", STREAM_SEEK_SET, 7, S_OK, 7},
        {"back from the position", STREAM_SEEK_CUR, -3, S_OK, 1},
        {"to the end", STREAM_SEEK_END, 0, S_OK, 10},
        {"one past the end fails and stays", STREAM_SEEK_END, 1, E_FAIL, 4},
        {"back from the end", STREAM_SEEK_END, -10, S_OK, 0},
        {"before the start wraps past the end", STREAM_SEEK_CUR, -5, E_FAIL, 4},
        {"only the low half counts", STREAM_SEEK_SET, 0x100000002LL, S_OK, 2},
        {"an unknown origin goes to 0", 7, 5, S_OK, 0},
    };
    const BYTE data[10] = {};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        auto* stream = new CSimpleBlobStream(data, sizeof data);
        ULARGE_INTEGER at{};
        ASSERT_EQ(stream->Seek(Offset(4), STREAM_SEEK_SET, &at), S_OK);
        EXPECT_EQ(stream->Seek(Offset(c.offset), c.origin, &at), c.result);
        EXPECT_EQ(at.QuadPart, c.position);
        EXPECT_EQ(stream->Position(), c.position);
        EXPECT_EQ(stream->Release(), 0u);
    }
}

TEST(BlobStreamTest, ReadsInterfacesAndStat)
{
    const BYTE data[5] = {1, 2, 3, 4, 5};
    auto* stream = new CSimpleBlobStream(data, sizeof data);
    BYTE buffer[8] = {};
    ULONG read = 99;
    EXPECT_EQ(stream->Read(buffer, 3, &read), S_OK);
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(stream->Read(buffer, 8, &read), S_OK);
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(buffer[1], 5);
    EXPECT_EQ(stream->Read(buffer, 8, &read), S_OK) << "at the end";
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(stream->Read(nullptr, 1, &read), E_INVALIDARG);

    for (const IID* iid : {&IID_IUnknown, &IID_IStream, &IID_ISequentialStream})
    {
        void* object = nullptr;
        EXPECT_EQ(stream->QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IStream*>(stream));
    }
    EXPECT_EQ(stream->Release(), 3u);
    void* other = &read;
    EXPECT_EQ(stream->QueryInterface(GUID{1, 2, 3, {}}, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    STATSTG stat;
    std::memset(&stat, 0xAB, sizeof stat);
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, 3u);
    EXPECT_EQ(stat.cbSize.QuadPart, 5u);
    EXPECT_EQ(stat.pwcsName, nullptr);
    IStream* clone = stream;
    EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    EXPECT_EQ(stream->Write(data, 1, nullptr), S_OK);
    EXPECT_EQ(stream->Release(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
    EXPECT_EQ(stream->Release(), 0u);
}

class ImageDecodingTest : public TextureTest
{
protected:
    HRESULT Decode(const std::vector<uint8_t>& file, UINT width, UINT height, bool flip,
                   IDirect3DTexture9** texture, D3DXIMAGE_INFO* info = nullptr)
    {
        return LMK::CreateDeviceTextureFromImage(PrimaryDevice(), file.data(), DWORD(file.size()), width,
                                                 height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                                 D3DX_FILTER_NONE, D3DX_FILTER_NONE, 0xFF000000u, info,
                                                 nullptr, texture, flip, nullptr, nullptr);
    }
};

TEST_F(ImageDecodingTest, ColorKeyPixelsGetAlpha254AndFlipTurnsRows)
{
    StartEngine();
    // A 32-bit top-down BMP with alpha: opaque black is the key, transparent black is not.
    const std::vector<uint32_t> pixels = {0xFF000000u, 0x00000000u, 0xFF112233u, 0x80FF0000u};
    const auto file = ferolt::test::BmpFile(2, 2, pixels, 32, false);
    struct Case
    {
        bool flip;
        std::vector<uint32_t> texels;
    };
    for (const Case& c : {Case{false, {0xFE000000u, 0x00000000u, 0xFF112233u, 0x80FF0000u}},
                          Case{true, {0xFF112233u, 0x80FF0000u, 0xFE000000u, 0x00000000u}}})
    {
        SCOPED_TRACE(c.flip ? "flipped" : "as stored");
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(Decode(file, 0, 0, c.flip, &texture), S_OK);
        EXPECT_EQ(texturetest::Texels(texture), c.texels);
        texture->Release();
    }
}

TEST_F(ImageDecodingTest, RequestLargerThanImageTakesTheImage)
{
    StartEngine();
    const std::vector<uint32_t> pixels = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u,
                                          0xFFFFFFFFu, 0xFF808080u, 0xFF010203u};
    const auto file = ferolt::test::BmpFile(3, 2, pixels, 24, true);
    struct Case
    {
        UINT width, height, textureWidth, textureHeight;
    };
    for (const Case& c : {Case{64, 64, 3, 2}, Case{2, 9, 2, 2}, Case{0, 1, 3, 1}})
    {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        IDirect3DTexture9* texture = nullptr;
        D3DXIMAGE_INFO info{};
        ASSERT_EQ(Decode(file, c.width, c.height, false, &texture, &info), S_OK);
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, c.textureWidth);
        EXPECT_EQ(desc.Height, c.textureHeight);
        EXPECT_EQ(texturetest::Texels(texture)[0], 0xFF0000FFu);
        EXPECT_EQ(info.Width, 3u);
        EXPECT_EQ(info.Height, 2u);
        texture->Release();
    }
}

TEST_F(ImageDecodingTest, ImagesLargerThanTheDevicesAreScaledSideBySide)
{
    auto adapter = enginetest::SmallAdapter();
    adapter.maxTextureWidth = 8;
    adapter.maxTextureHeight = 8;
    enginetest::UseAdapters({adapter});
    StartEngine();
    // 16 x 4: too wide only, so only the width is clamped; the info keeps the image's size.
    const std::vector<uint32_t> pixels(16 * 4, 0xFF3366CCu);
    IDirect3DTexture9* texture = nullptr;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(Decode(ferolt::test::BmpFile(16, 4, pixels, 24, true), 0, 0, false, &texture, &info), S_OK);
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 8u);
    EXPECT_EQ(desc.Height, 4u);
    EXPECT_EQ(info.Width, 16u);
    EXPECT_EQ(info.Height, 4u);
    EXPECT_EQ(texturetest::Texels(texture)[5], 0xFF3366CCu);
    texture->Release();
}

TEST_F(ImageDecodingTest, UndecodableBytesFail)
{
    StartEngine();
    const std::vector<uint8_t> junk = {'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8};
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(Decode(junk, 0, 0, false, &texture), E_FAIL);
    EXPECT_EQ(texture, nullptr);
}
} // namespace
