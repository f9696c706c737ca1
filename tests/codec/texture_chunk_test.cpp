// Texture chunks read from object files on a started engine: each kind of image becomes its texture,
// equal names share one texture, flags reach the texture, the temporary loader comes and goes, and
// damaged chunks make no texture while the rest of the file is still read.
#include "codec/jpeg2000_decoding.h"
#include "codec/p3d_read_codec.h"
#include "codec/temp_blob_loader.h"

#include "engine/core/globals.h"
#include "engine/core/texture.h"
#include "platform/gdiplus/gdiplus.h"
#include "tests/engine/texture/texture_fixture.h"
#include "tests/support/texture_chunk_writer.h"

#include <gtest/gtest.h>

using namespace ferolt::test;

namespace
{
constexpr GUID kType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID* const kAccepted[] = {&kType, nullptr};

class TextureCodec : public CP3DReadCodec
{
public:
    using CP3DReadCodec::CP3DReadCodec;
    using CP3DReadCodec::m_textures;

    // One stored section per entry.
    void ReadSections(const std::vector<Bytes>& sections)
    {
        ObjectFileHeaderFields header;
        header.contentType = kType;
        ObjectFileWriter writer(header);
        for (const Bytes& section : sections)
            writer.StoredSection(section);
        const Bytes& file = writer.EndSection().Data();
        ASSERT_TRUE(Read(file.data(), file.size(), nullptr, nullptr, kAccepted));
    }
};

Bytes Chunk(uint32_t type, const Bytes& content)
{
    return ChunkWriter().Chunk(type, content).Data();
}

Bytes Texture(uint32_t type, const std::string& name, const Bytes& image, uint32_t flags = 0)
{
    return Chunk(type, TextureChunkContent(type, flags, name, image));
}

std::vector<uint32_t> Texels(LMK::Texture_* texture)
{
    return texturetest::Texels(texture ? texture->PrimaryTexture() : nullptr);
}

class TextureChunkTest : public enginetest::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(LRStart(nullptr), S_OK);
        loaders_ = LMK::CurrentGlobals->loaders.loaders.size();
    }
    size_t AddedLoaders() const { return LMK::CurrentGlobals->loaders.loaders.size() - loaders_; }

    size_t loaders_ = 0;
};

TEST_F(TextureChunkTest, EachKindOfImageBecomesItsTexture)
{
    struct Case
    {
        const char* title;
        uint32_t type;
        uint32_t flags;
        Bytes image;
        std::vector<uint32_t> texels;
    };
    const Case cases[] = {
        {"24-bit bottom-up BMP", kTextureChunk, 0, Bmp24BottomUp(), kOpaqueTexels},
        {"32-bit top-down BMP, flag set", kTextureChunkWithFlags, 1, Bmp32TopDown(), kOpaqueTexels},
        {"JPEG-2000, 3 components: opaque", kTextureChunk, 0, Jpeg2000Rgb(), kOpaqueTexels},
        {"JPEG-2000, 4 components: alpha from the fourth", kTextureChunkWithFlags, 6, Jpeg2000Rgba(),
         kTranslucentTexels},
    };
    Bytes section;
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const Bytes chunk =
            Texture(cases[i].type, "texture" + std::to_string(i), cases[i].image, cases[i].flags);
        section.insert(section.end(), chunk.begin(), chunk.end());
    }
    TextureCodec codec;
    codec.ReadSections({section});
    ASSERT_EQ(codec.m_textures.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        SCOPED_TRACE(cases[i].title);
        LMK::Texture_* texture = codec.m_textures[i];
        EXPECT_EQ(Texels(texture), cases[i].texels);
        EXPECT_EQ(texture->codecFlag, cases[i].flags & 1);
        char* name = nullptr;
        ASSERT_TRUE(texture->GetNames(nullptr, &name));
        EXPECT_EQ(std::string(name), "TEXTURE" + std::to_string(i)) << "registered under its name";
        std::free(name);
    }
    EXPECT_EQ(AddedLoaders(), 0u) << "without a holder no loader outlives its chunk";
}

TEST_F(TextureChunkTest, SecondUseOfANameSharesTheFirstTexture)
{
    TextureCodec codec;
    codec.ReadSections({Texture(kTextureChunk, "same.bmp", Bmp24BottomUp()),
                        Texture(kTextureChunkWithFlags, "SAME.BMP", Jpeg2000Rgba(), 1)});
    ASSERT_EQ(codec.m_textures.size(), 2u);
    EXPECT_EQ(codec.m_textures[0], codec.m_textures[1]);
    EXPECT_EQ(codec.m_textures[0]->refCount, 2u);
    EXPECT_EQ(Texels(codec.m_textures[0]), kOpaqueTexels) << "the later bytes are not decoded";
    EXPECT_EQ(codec.m_textures[0]->codecFlag, 1) << "the later chunk's flag still reaches it";
}

TEST_F(TextureChunkTest, AHolderKeepsOneLoaderForEveryCodec)
{
    IP3DBlobContainer* holder = nullptr;
    {
        TextureCodec first(&holder);
        first.ReadSections({Texture(kTextureChunk, "one.j2k", Jpeg2000Rgb())});
        ASSERT_NE(holder, nullptr);
        TextureCodec second(&holder);
        second.ReadSections({Texture(kTextureChunk, "two.j2k", Jpeg2000Rgba())});
        EXPECT_EQ(second.m_textures.size(), 1u);
        EXPECT_EQ(AddedLoaders(), 1u);
    }
    EXPECT_EQ(AddedLoaders(), 1u);
    holder->Release();
    EXPECT_EQ(AddedLoaders(), 0u);
}

TEST_F(TextureChunkTest, TheLoaderAnswersOnlyWhileItHoldsAnImage)
{
    CTempBlobLoader* loader = GetOrCreateTempBlobLoader(nullptr);
    ASSERT_NE(loader, nullptr);
    LMK::Texture_* texture = nullptr;
    EXPECT_EQ(LRLoadTexture("anything.bmp", nullptr, &texture), E_FAIL);
    const Bytes image = Bmp24BottomUp();
    loader->SetBlob("held.bmp", image.data(), image.size());
    ASSERT_EQ(LRLoadTexture("anything.bmp", nullptr, &texture), S_OK) << "the requested name is not compared";
    EXPECT_EQ(Texels(texture), kOpaqueTexels);
    loader->ClearBlob();
    LMK::Texture_* other = nullptr;
    EXPECT_EQ(LRLoadTexture("other.bmp", nullptr, &other), E_FAIL);
    EXPECT_EQ(AddedLoaders(), 1u);
    loader->Release();
    EXPECT_EQ(AddedLoaders(), 0u);
    // Made through the loader, the texture stays registered under its name after the loader is gone.
    ASSERT_EQ(LRLoadTexture("anything.bmp", nullptr, &other), S_OK);
    EXPECT_EQ(other, texture);
    LRReleaseTexture(&other);
    LRReleaseTexture(&texture);
}

TEST_F(TextureChunkTest, DamagedChunksMakeNoTextureAndTheFileReadsOn)
{
    const Bytes rgb = Jpeg2000Rgb();
    Bytes damagedStream = rgb;
    damagedStream.resize(20); // ends inside the image and tile size marker
    const Bytes grey = Jpeg2000CodeStream(2, 2, {{10, 20, 30, 40}});
    struct Case
    {
        const char* title;
        Bytes chunks;
    };
    const Case cases[] = {
        {"truncated name", Chunk(kTextureChunk, TextureChunkContent(kTextureChunk, 0, "abcdefgh", {}, 9))},
        {"truncated flags", Chunk(kTextureChunkWithFlags, {1, 0})},
        {"name without end",
         Chunk(kTextureChunk, TextureChunkContent(kTextureChunk, 0, "abcd", Bmp24BottomUp(), 4, false))},
        {"name length that would wrap",
         Chunk(kTextureChunk, TextureChunkContent(kTextureChunk, 0, "a.bmp", Bmp24BottomUp(), 0xFFFFFFFCu))},
        {"chunk length past its section",
         ChunkWriter()
             .ChunkWithSize(kTextureChunk, 4096,
                            TextureChunkContent(kTextureChunk, 0, "a.bmp", Bmp24BottomUp()))
             .Data()},
        {"damaged JPEG-2000 stream", Texture(kTextureChunk, "damaged.j2k", damagedStream)},
        {"JPEG-2000 header asking for 100000 x 100000",
         Texture(kTextureChunk, "huge.j2k", WithJpeg2000Size(rgb, 100000, 100000))},
        {"JPEG-2000 with one component", Texture(kTextureChunk, "grey.j2k", grey)},
        {"no image bytes", Texture(kTextureChunkWithFlags, "bare.bmp", {}, 1)},
        {"empty chunk", Chunk(kTextureChunk, {})},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        TextureCodec codec;
        codec.ReadSections({c.chunks, Texture(kTextureChunk, "good.bmp", Bmp24BottomUp())});
        ASSERT_EQ(codec.m_textures.size(), 1u);
        char* name = nullptr;
        ASSERT_TRUE(codec.m_textures[0]->GetNames(nullptr, &name));
        EXPECT_STREQ(name, "GOOD.BMP");
        std::free(name);
        EXPECT_EQ(AddedLoaders(), 0u);
    }
}

TEST(Jpeg2000Decoding, ComponentsBecomeArgbPixels)
{
    struct Case
    {
        const char* title;
        Bytes stream;
        bool decoded;
        std::vector<uint32_t> pixels;
    };
    const Case cases[] = {
        {"3 components", Jpeg2000Rgb(), true, kOpaqueTexels},
        {"4 components", Jpeg2000Rgba(), true, kTranslucentTexels},
        {"1 component", Jpeg2000CodeStream(2, 2, {{1, 2, 3, 4}}), false, {}},
        {"2 components", Jpeg2000CodeStream(2, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}}), false, {}},
        {"5 components",
         Jpeg2000CodeStream(2, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}, {1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}}),
         false,
         {}},
        {"200 x 200 cut into 1 x 1 tiles", WithJpeg2000Size(Jpeg2000Rgb(), 200, 200, 1, 1), false, {}},
        {"not a code stream", Bmp24BottomUp(), false, {}},
        {"empty", {}, false, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        Gdiplus::Bitmap* bitmap = nullptr;
        ASSERT_EQ(DecodeJpeg2000ToBitmap({c.stream.data(), c.stream.size()}, &bitmap), c.decoded);
        if (!c.decoded)
        {
            EXPECT_EQ(bitmap, nullptr);
            continue;
        }
        std::vector<uint32_t> pixels;
        for (INT y = 0; y < 2; ++y)
            for (INT x = 0; x < 2; ++x)
            {
                Gdiplus::Color colour;
                bitmap->GetPixel(x, y, &colour);
                pixels.push_back(colour.GetValue());
            }
        EXPECT_EQ(pixels, c.pixels);
        ReleaseBitmapHolder(&bitmap);
        EXPECT_EQ(bitmap, nullptr);
    }
    EXPECT_FALSE(DecodeJpeg2000ToBitmap({nullptr, 0}, nullptr));
}
} // namespace
