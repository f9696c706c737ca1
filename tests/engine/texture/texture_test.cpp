// Textures: loading by name and from memory, raw pixels, bump maps, average colours, per-device
// copies, and what materials get from them.
#include "texture_fixture.h"

#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"
#include "engine/core/material_apply.h"
#include "tests/support/image_file_writer.h"

#include <cstdlib>

using LMK::Texture_;
using texturetest::Bytes;
using texturetest::FileTable;
using texturetest::kExact;
using texturetest::Texels;
using texturetest::TextureTest;
using texturetest::WithFormat;

namespace
{
const std::vector<uint32_t> kFourPixels = {0xFF102030u, 0xFF405060u, 0xFF708090u, 0xFFA0B0C0u};

Bytes FourPixelBmp()
{
    return ferolt::test::BmpFile(2, 2, kFourPixels, 24, true);
}

// Pixels of width x 1 whose blue channel is the given height, through the raw-pixel path.
Texture_* HeightTexture(const std::vector<uint8_t>& heights, D3DFORMAT format = D3DFMT_A8R8G8B8)
{
    std::vector<uint32_t> pixels;
    for (uint8_t h : heights)
        pixels.push_back(0xFF000000u | h);
    const auto options = WithFormat(format);
    Texture_* texture = nullptr;
    EXPECT_EQ(LRCreateTextureFromPixels(pixels.data(), nullptr, DWORD(pixels.size()), 1, &options, &texture),
              S_OK);
    return texture;
}

TEST_F(TextureTest, EveryCallFailsBeforeTheEngineStarts)
{
    Texture_* texture = nullptr;
    const uint32_t pixel = 0;
    EXPECT_EQ(LRLoadTexture("a.bmp", nullptr, &texture), E_FAIL);
    EXPECT_EQ(LRCreateTextureFromMemory(&pixel, 4, nullptr, &texture, nullptr), E_FAIL);
    EXPECT_EQ(LRCreateTextureFromBitmapMemory(&pixel, 4, nullptr, &texture, nullptr), E_FAIL);
    EXPECT_EQ(LRCreateTextureFromPixels(&pixel, nullptr, 1, 1, nullptr, &texture), E_FAIL);
    EXPECT_EQ(LRCreateBumpMap(reinterpret_cast<Texture_*>(8), &texture, D3DFMT_V8U8), E_FAIL);
    EXPECT_EQ(LRReleaseTexture(&texture), E_FAIL);
    EXPECT_EQ(LRSetTextureFlag(texture, 1), E_FAIL);
}

TEST_F(TextureTest, LoadedByNameAndShared)
{
    StartEngine();
    FileTable table;
    table.files["WALL.BMP"] = FourPixelBmp();
    table.Register();

    Texture_* first = nullptr;
    Texture_* second = nullptr;
    ASSERT_EQ(LRLoadTexture("wall.bmp", &kExact, &first), S_OK);
    ASSERT_EQ(LRLoadTexture("Wall.Bmp", nullptr, &second), S_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->refCount, 2u);
    EXPECT_EQ(table.loads, 1);
    EXPECT_EQ(Texels(first->PrimaryTexture()), kFourPixels);

    UINT width = 0, height = 0;
    EXPECT_EQ(first->GetImageSize(&width, &height), S_OK);
    EXPECT_EQ(width, 2u);
    EXPECT_EQ(height, 2u);
    char* requested = nullptr;
    char* resolved = reinterpret_cast<char*>(1);
    ASSERT_TRUE(first->GetNames(&requested, &resolved));
    EXPECT_STREQ(requested, "WALL.BMP");
    EXPECT_EQ(resolved, nullptr); // the loader reported none
    std::free(requested);

    EXPECT_EQ(LRReleaseTexture(&second), S_OK);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(LRReleaseTexture(&first), S_OK);
    // Parked in the release cache: the next load finds it without the loader.
    ASSERT_EQ(LRLoadTexture("WALL.BMP", nullptr, &first), S_OK);
    EXPECT_EQ(table.loads, 1);
    LRReleaseTexture(&first);
}

TEST_F(TextureTest, NamesThatDoNotMakeATexture)
{
    StartEngine();
    FileTable table;
    table.files["JUNK.BMP"] = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    table.files["EMPTY.BMP"] = {};
    table.Register();
    Texture_* texture = nullptr;

    EXPECT_EQ(LRLoadTexture(" ", nullptr, &texture), E_FAIL);
    EXPECT_EQ(table.loads, 0) << "a single blank is refused before any loader is asked";
    EXPECT_EQ(LRLoadTexture(nullptr, nullptr, &texture), E_INVALIDARG);
    EXPECT_EQ(LRLoadTexture("missing.bmp", nullptr, &texture), E_FAIL);

    // A short file that starts like a BMP: nothing is read or written past its end.
    for (const char* name : {"junk.bmp", "empty.bmp"})
    {
        SCOPED_TRACE(name);
        const int before = table.loads;
        EXPECT_EQ(LRLoadTexture(name, nullptr, &texture), E_FAIL);
        EXPECT_EQ(texture, nullptr);
        // The failed record was unloaded: the name is asked of the loaders again.
        EXPECT_EQ(LRLoadTexture(name, nullptr, &texture), E_FAIL);
        EXPECT_GT(table.loads, before + 1);
    }
    EXPECT_TRUE(LMK::CurrentGlobals->loaders.records.empty());
}

TEST_F(TextureTest, BmpNamingMoreThan256ColoursLoadsAs256)
{
    StartEngine();
    FileTable table;
    std::vector<uint32_t> palette(256, 0);
    palette[1] = 0x00FF8040u;
    table.files["PAL.BMP"] = ferolt::test::Bmp8File(2, 1, palette, {1, 0}, 1000);
    table.Register();
    Texture_* texture = nullptr;
    ASSERT_EQ(LRLoadTexture("pal.bmp", &kExact, &texture), S_OK);
    EXPECT_EQ(Texels(texture->PrimaryTexture()), (std::vector<uint32_t>{0xFFFF8040u, 0xFF000000u}));
    uint32_t colorsUsed = 0;
    std::memcpy(&colorsUsed, table.files["PAL.BMP"].data() + 46, 4);
    EXPECT_EQ(colorsUsed, 256u);
    LRReleaseTexture(&texture);
}

TEST_F(TextureTest, AlternativesAreLoadedAndANameOfItsOwnIsSkipped)
{
    StartEngine();
    FileTable table;
    table.files["A.BMP"] = FourPixelBmp();
    table.files["B.BMP"] = ferolt::test::BmpFile(1, 1, {0xFF00FF00u}, 24, true);
    table.alternatives["A.BMP"] = {{"b.bmp", 7}, {"a.bmp", 9}, {"missing.bmp", 3}};
    table.Register();
    Texture_* texture = nullptr;
    ASSERT_EQ(LRLoadTexture("a.bmp", nullptr, &texture), S_OK);
    ASSERT_EQ(texture->alternatives.size(), 1u);
    EXPECT_EQ(texture->alternatives[0].value, 7u);
    Texture_* alternative = nullptr;
    DWORD value = 0;
    ASSERT_TRUE(LMK::MaterialTextureAccess.alternative(texture, 0, &alternative, &value));
    EXPECT_EQ(alternative, texture->alternatives[0].texture);
    EXPECT_FALSE(LMK::MaterialTextureAccess.alternative(texture, 1, &alternative, &value));
    EXPECT_EQ(texture->refCount, 1u);
    LRReleaseTexture(&texture);
}

TEST_F(TextureTest, FromMemoryPrivateOrSharedUnderAName)
{
    StartEngine();
    const Bytes first = FourPixelBmp();
    const Bytes other = ferolt::test::BmpFile(1, 1, {0xFF00FF00u}, 24, true);

    Texture_* anonymous = nullptr;
    ASSERT_EQ(LRCreateTextureFromMemory(first.data(), DWORD(first.size()), &kExact, &anonymous, nullptr),
              S_OK);
    EXPECT_EQ(anonymous->loadRecord, nullptr);

    Texture_* named = nullptr;
    Texture_* again = nullptr;
    ASSERT_EQ(LRCreateTextureFromMemory(first.data(), DWORD(first.size()), &kExact, &named, "inner.bmp"),
              S_OK);
    ASSERT_EQ(LRCreateTextureFromMemory(other.data(), DWORD(other.size()), &kExact, &again, "INNER.BMP"),
              S_OK);
    EXPECT_EQ(named, again) << "the second use of a name shares the first texture";
    EXPECT_EQ(Texels(again->PrimaryTexture()), kFourPixels);
    Texture_* byName = nullptr;
    ASSERT_EQ(LRLoadTexture("inner.bmp", nullptr, &byName), S_OK);
    EXPECT_EQ(byName, named);
    EXPECT_EQ(named->refCount, 3u);

    Texture_* failed = nullptr;
    const Bytes junk = {1, 2, 3};
    EXPECT_EQ(LRCreateTextureFromMemory(junk.data(), 3, nullptr, &failed, "junk.bmp"), E_FAIL);
    EXPECT_FALSE(LMK::CurrentGlobals->loaders.FindSharedRecord(LoadedPartTexture, "JUNK.BMP", nullptr));
    EXPECT_EQ(LRCreateTextureFromMemory(nullptr, 3, nullptr, &failed, nullptr), E_INVALIDARG);

    for (Texture_* t : {anonymous, named, again, byName})
        LRReleaseTexture(&t);
}

TEST_F(TextureTest, BitmapMemoryTurnsEightBitBmpsOnly)
{
    StartEngine();
    std::vector<uint32_t> palette(256, 0);
    palette[1] = 0x00FFFFFFu;
    const Bytes indexed = ferolt::test::Bmp8File(1, 2, palette, {1, 0}, 0);
    const Bytes direct = ferolt::test::BmpFile(1, 2, {0xFFFFFFFFu, 0xFF000000u}, 24, true);
    const std::vector<uint32_t> asStored = {0xFFFFFFFFu, 0xFF000000u};
    const std::vector<uint32_t> turned = {0xFF000000u, 0xFFFFFFFFu};
    struct Case
    {
        const Bytes* file;
        std::vector<uint32_t> texels;
    };
    for (const Case& c : {Case{&indexed, turned}, Case{&direct, asStored}})
    {
        Texture_* texture = nullptr;
        ASSERT_EQ(LRCreateTextureFromBitmapMemory(c.file->data(), DWORD(c.file->size()), &kExact, &texture,
                                                  nullptr),
                  S_OK);
        EXPECT_EQ(Texels(texture->PrimaryTexture()), c.texels);
        LRReleaseTexture(&texture);
    }
}

TEST_F(TextureTest, RawPixels)
{
    StartEngine();
    const std::vector<uint32_t> opaque = {0xFF112233u, 0xFF445566u, 0xFF778899u,
                                          0xFFAABBCCu, 0xFF020304u, 0xFFFFFFFFu};
    // The device's own texture keeps alpha as given.
    const std::vector<uint32_t> argb = {0x80112233u, 0xFF445566u, 0x00778899u,
                                        0xFFAABBCCu, 0x01020304u, 0xFFFFFFFFu};
    std::vector<DWORD> palette(256, 0);
    palette[2] = 0x00A0B0C0u;
    const std::vector<uint8_t> indices = {2, 0, 0, 0, 0, 2}; // 3 x 2: rows padded in the BMP
    struct Case
    {
        const char* title;
        const void* pixels;
        const DWORD* palette;
        DWORD format;
        D3DFORMAT expected;
        std::vector<uint32_t> texels;
    };
    const Case cases[] = {
        {"32-bit pixels", opaque.data(), nullptr, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, opaque},
        {"palette indices",
         indices.data(),
         palette.data(),
         D3DFMT_A8R8G8B8,
         D3DFMT_A8R8G8B8,
         {0xFFA0B0C0u, 0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFFA0B0C0u}},
        {"made by the device itself", argb.data(), nullptr, LMK::kDirectPixelsFormat, D3DFMT_A8R8G8B8, argb},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        auto options = kExact;
        options.format = c.format;
        Texture_* texture = nullptr;
        ASSERT_EQ(LRCreateTextureFromPixels(c.pixels, c.palette, 3, 2, &options, &texture), S_OK);
        ASSERT_NE(texture->PrimaryTexture(), nullptr);
        D3DSURFACE_DESC desc{};
        texture->PrimaryTexture()->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Format, c.expected);
        EXPECT_EQ(Texels(texture->PrimaryTexture()), c.texels);
        UINT width = 0, height = 0;
        EXPECT_EQ(texture->GetImageSize(&width, &height), S_OK);
        EXPECT_EQ(width * 10 + height, 32u);
        LRReleaseTexture(&texture);
    }

    Texture_* texture = reinterpret_cast<Texture_*>(8);
    EXPECT_EQ(LRCreateTextureFromPixels(nullptr, nullptr, 1, 1, nullptr, &texture), E_INVALIDARG);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(LRCreateTextureFromPixels(argb.data(), nullptr, 0, 1, nullptr, &texture), E_INVALIDARG);
    // Pixels no device texture is made from report the failure and give no texture: too wide for the
    // device itself and for the image decoder behind D3DX.
    const std::vector<uint32_t> wide(0x10000, 0xFF808080u);
    for (DWORD format : {DWORD(D3DFMT_A8R8G8B8), LMK::kDirectPixelsFormat})
    {
        auto options = kExact;
        options.format = format;
        EXPECT_TRUE(FAILED(LRCreateTextureFromPixels(wide.data(), nullptr, 0x10000, 1, &options, &texture)));
        EXPECT_EQ(texture, nullptr);
    }
    // A size whose byte count does not fit 32 bits is refused before anything is allocated or read.
    for (DWORD format : {DWORD(D3DFMT_A8R8G8B8), LMK::kDirectPixelsFormat})
    {
        auto options = kExact;
        options.format = format;
        EXPECT_TRUE(
            FAILED(LRCreateTextureFromPixels(argb.data(), nullptr, 0x10000, 0x10000, &options, &texture)));
        EXPECT_EQ(texture, nullptr);
    }
}

TEST_F(TextureTest, BumpMapsFromHeights)
{
    StartEngine();
    // Heights 10, 200, 50 along one row: du = left - right with wrap-around, dv = 0 (the row is its
    // own neighbour), luminance 127 up to height 128 and 10 above.
    struct Case
    {
        D3DFORMAT format;
        Bytes texels;
    };
    const Case cases[] = {
        {D3DFMT_V8U8, {BYTE(-150), 0, BYTE(-40), 0, 190, 0}},
        // U = (du >> 3) & 31 in bits 0-4, V in 5-9, luminance >> 2 in 10-15.
        {D3DFMT_L6V5U5, {13, 31 << 2, 27, 2 << 2, 23, 31 << 2}},
        {D3DFMT_X8L8V8U8, {BYTE(-150), 0, 127, 0, BYTE(-40), 0, 10, 0, 190, 0, 127, 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.format);
        Texture_* heights = HeightTexture({10, 200, 50});
        Texture_* bump = nullptr;
        ASSERT_EQ(LRCreateBumpMap(heights, &bump, c.format), S_OK);
        EXPECT_EQ(texturetest::LevelBytes(bump->PrimaryTexture()), c.texels);
        EXPECT_EQ(bump->bumpSource, heights);
        LRReleaseTexture(&heights);
        LRReleaseTexture(&bump);
    }
}

TEST_F(TextureTest, BumpMapHeightsAreReadByTheSourceFormat)
{
    StartEngine();
    // 16-bit source texels: the blue channel is the height, read two bytes at a time.
    Texture_* heights = HeightTexture({0, 255, 0}, D3DFMT_R5G6B5);
    Texture_* bump = nullptr;
    ASSERT_EQ(LRCreateBumpMap(heights, &bump, D3DFMT_V8U8), S_OK);
    EXPECT_EQ(texturetest::LevelBytes(bump->PrimaryTexture()), (Bytes{1, 0, 0, 0, 255, 0}));
    LRReleaseTexture(&heights);
    LRReleaseTexture(&bump);

    Texture_* single = HeightTexture({200});
    ASSERT_EQ(LRCreateBumpMap(single, &bump, D3DFMT_X8L8V8U8), S_OK);
    EXPECT_EQ(texturetest::LevelBytes(bump->PrimaryTexture()), (Bytes{0, 0, 10, 0})) << "its own neighbours";
    LRReleaseTexture(&single);
    LRReleaseTexture(&bump);
}

TEST_F(TextureTest, OneBumpMapPerSourceHoldsTheSource)
{
    StartEngine();
    Texture_* heights = HeightTexture({1, 2});
    Texture_* first = nullptr;
    Texture_* second = nullptr;
    ASSERT_EQ(LRCreateBumpMap(heights, &first, D3DFMT_V8U8), S_OK);
    ASSERT_EQ(LRCreateBumpMap(heights, &second, D3DFMT_X8L8V8U8), S_OK);
    EXPECT_EQ(first, second) << "whatever format is asked";
    EXPECT_EQ(first->refCount, 2u);
    EXPECT_EQ(heights->refCount, 2u);
    EXPECT_EQ(LMK::MaterialTextureAccess.bumpSource(first), heights);

    LRReleaseTexture(&first);
    EXPECT_EQ(heights->derivedBumpMap, second);
    LRReleaseTexture(&second);
    EXPECT_EQ(heights->refCount, 1u);
    EXPECT_EQ(heights->derivedBumpMap, nullptr);

    // A bump map that outlives every other reference of its source takes the source with it.
    Texture_* bump = nullptr;
    ASSERT_EQ(LRCreateBumpMap(heights, &bump, D3DFMT_V8U8), S_OK);
    LRReleaseTexture(&heights);
    EXPECT_EQ(bump->bumpSource->refCount, 1u);
    LRReleaseTexture(&bump);
    EXPECT_EQ(LRCreateBumpMap(nullptr, &bump, D3DFMT_V8U8), E_INVALIDARG);
}

// A private texture over a device texture of the format whose levels hold the given bytes.
Texture_* TextureOfTexels(IDirect3DDevice9* device, D3DFORMAT format, UINT width, UINT height,
                          const std::vector<Bytes>& levels)
{
    IDirect3DTexture9* d3d = nullptr;
    EXPECT_EQ(
        device->CreateTexture(width, height, UINT(levels.size()), 0, format, D3DPOOL_MANAGED, &d3d, nullptr),
        D3D_OK);
    for (UINT level = 0; level < levels.size(); ++level)
    {
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        d3d->GetLevelDesc(level, &desc);
        d3d->LockRect(level, &locked, nullptr, 0);
        const size_t row = levels[level].size() / desc.Height;
        for (UINT y = 0; y < desc.Height; ++y)
            std::memcpy(static_cast<BYTE*>(locked.pBits) + size_t(y) * locked.Pitch,
                        levels[level].data() + y * row, row);
        d3d->UnlockRect(level);
    }
    return new Texture_(nullptr, d3d, nullptr, 0, 0);
}

TEST_F(TextureTest, AverageColourOfTheSmallestLevel)
{
    StartEngine();
    struct Case
    {
        const char* title;
        D3DFORMAT format;
        std::vector<Bytes> levels; // 2 x 2, then 1 x 1
        float r, g, b, a;
    };
    const Case cases[] = {
        {"A8R8G8B8",
         D3DFMT_A8R8G8B8,
         {{0, 0, 255, 255, 0, 0, 255, 0, 255, 0, 0, 255, 255, 0, 0, 255}},
         0.5f,
         0,
         0.5f,
         0.75f},
        {"X8R8G8B8: no alpha",
         D3DFMT_X8R8G8B8,
         {{0, 0, 255, 255, 0, 0, 255, 255, 0, 255, 0, 9, 0, 255, 0, 9}},
         0.5f,
         0.5f,
         0,
         0},
        {"R8G8B8", D3DFMT_R8G8B8, {{255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0}}, 0, 0, 0.5f, 0},
        {"A1R5G5B5: alpha is the share of set top bits",
         D3DFMT_A1R5G5B5,
         {{0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F}},
         1,
         1,
         1,
         0.25f},
        {"X1R5G5B5", D3DFMT_X1R5G5B5, {{0x00, 0x7C, 0x00, 0x7C, 0x00, 0x00, 0x00, 0x00}}, 0.5f, 0, 0, 0},
        {"R5G6B5", D3DFMT_R5G6B5, {{0xE0, 0x07, 0xE0, 0x07, 0xE0, 0x07, 0x00, 0x00}}, 0, 0.75f, 0, 0},
        {"the smallest level counts",
         D3DFMT_A8R8G8B8,
         {Bytes(16, 0), {51, 102, 153, 255}},
         0.6f,
         0.4f,
         0.2f,
         1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        Texture_* texture = TextureOfTexels(PrimaryDevice(), c.format, 2, 2, c.levels);
        D3DCOLORVALUE average{};
        ASSERT_TRUE(LMK::MaterialTextureAccess.averageColor(texture, &average));
        EXPECT_NEAR(average.r, c.r, 1e-6);
        EXPECT_NEAR(average.g, c.g, 1e-6);
        EXPECT_NEAR(average.b, c.b, 1e-6);
        EXPECT_NEAR(average.a, c.a, 1e-6);
        LRReleaseTexture(&texture);
    }

    // A format without an average writes nothing and is asked again next time.
    Texture_* texture = TextureOfTexels(PrimaryDevice(), D3DFMT_L8, 2, 2, {{1, 2, 3, 4}});
    float r = -1;
    texture->GetAverageColor(&r, nullptr, nullptr, nullptr);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(texture->averageValid, 0);
    LRReleaseTexture(&texture);
}

TEST_F(TextureTest, CopiesForOtherDevicesSurviveResetAndGoWhenParked)
{
    enginetest::UseAdapters({enginetest::SmallAdapter(0), enginetest::SmallAdapter(64)});
    StartEngine();
    FileTable table;
    table.files["WALL.BMP"] = FourPixelBmp();
    table.Register();
    auto& devices = LMK::CurrentGlobals->devices.requests.devices;
    ASSERT_EQ(devices.size(), 2u);
    IDirect3DDevice9* other = devices[1]->device;

    Texture_* texture = nullptr;
    ASSERT_EQ(LRLoadTexture("wall.bmp", &kExact, &texture), S_OK);
    EXPECT_EQ(texture->TextureForDevice(PrimaryDevice()), texture->PrimaryTexture());
    IDirect3DTexture9* copy = texture->TextureForDevice(other);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, texture->PrimaryTexture());
    EXPECT_EQ(Texels(copy), kFourPixels);
    EXPECT_EQ(LMK::MaterialTextureAccess.deviceTexture(texture, other), copy);

    ASSERT_EQ(LMK::CurrentGlobals->devices.requests.RequestResetAll(nullptr, 0), S_OK);
    EXPECT_EQ(texture->TextureForDevice(other), copy);
    EXPECT_EQ(Texels(copy), kFourPixels);
    EXPECT_EQ(Texels(texture->PrimaryTexture()), kFourPixels);

    Texture_* keep = texture;
    LRReleaseTexture(&texture);
    EXPECT_TRUE(keep->secondaryData.empty()) << "parked in the release cache";
}

TEST_F(TextureTest, MaterialsWearTheirTextures)
{
    StartEngine();
    FileTable table;
    table.files["WALL.BMP"] = FourPixelBmp();
    table.Register();
    LMK::MaterialDescriptionStruct_TYP description;
    std::memset(&description, 0, sizeof description);
    description.material.Diffuse = {1, 1, 1, 1};
    char name[] = "wall.bmp";
    description.baseFile = name;
    description.bumpFile = name;
    LMK::Material_* material = nullptr;
    ASSERT_EQ(LRCreateMaterialFromDescription(&description, &material), S_OK);
    ASSERT_NE(material->baseTexture, nullptr);
    ASSERT_NE(material->bumpTexture, nullptr);
    EXPECT_EQ(material->bumpTexture->bumpSource, material->baseTexture);
    EXPECT_EQ(LMK::MaterialTextureAccess.deviceTexture(material->baseTexture, PrimaryDevice()),
              material->baseTexture->PrimaryTexture());

    LMK::MaterialDescriptionStruct_TYP* back = nullptr;
    ASSERT_EQ(LRGetMaterialDescription(material, &back), S_OK);
    EXPECT_EQ(back->baseFile, nullptr) << "a loader that reports no resolved name gives no file name";
    LRFreeMaterialDescription(&back);
    LMK::LoadedPart_* part = material;
    LRReleaseLoadedPart(&part);
}
} // namespace
