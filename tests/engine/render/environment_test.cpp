// Backgrounds: the stored record read field by field, the description calls, environments as counted
// objects, and what a frame shows behind its scene for each kind of background.
#include "engine/render/environment.h"
#include "engine/scene/mesh.h"
#include "render_view_fixture.h"
#include "tests/support/environment_record_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace
{
using namespace rendertest;
using ferolt::test::Bytes;
using ferolt::test::EnvironmentRecordFields;

// Every field a distinct value, and the pointer slots filled as a 32-bit writer would have left them.
EnvironmentRecordFields DistinctFields()
{
    EnvironmentRecordFields f;
    f.type = 1004;
    for (int c = 0; c < 4; ++c)
        for (int k = 0; k < 4; ++k)
            f.colors[c][k] = 0.0625f * static_cast<float>(4 * c + k);
    f.textureCount = 3;
    f.texturesSlot = 0x00C0FFEE;
    f.heightOffset = -1.5f;
    f.turn = 0.25f;
    f.viewAngle = 0.75f;
    f.pictureAngle = 0.5f;
    f.stretchPicture = 0;
    f.cropPicture = 1;
    f.crop = {0.125f, 0.875f, 0.25f, 0.75f};
    f.overlaySlot = 0x0BADF00D;
    f.overlayX = -7;
    f.overlayY = 300;
    f.screenPictureTextureMatrix = 1;
    f.uOffset = -11;
    f.vOffset = 13;
    return f;
}

TEST(EnvironmentRecord, EveryFieldLandsWhereTheLayoutPutsIt)
{
    const EnvironmentRecordFields f = DistinctFields();
    const Bytes bytes = ferolt::test::EnvironmentRecord(f);
    ASSERT_EQ(bytes.size(), LMK::kEnvironmentRecordSize);
    LMK::EnvironmentStruct_TYP d;
    std::string_view names = "untouched";
    ASSERT_TRUE(LMK::ReadEnvironmentRecord(bytes.data(), bytes.size(), &d, &names));
    EXPECT_EQ(d.type, 1004u);
    for (int c = 0; c < 4; ++c)
    {
        EXPECT_EQ(d.colors[c].r, f.colors[c][0]);
        EXPECT_EQ(d.colors[c].g, f.colors[c][1]);
        EXPECT_EQ(d.colors[c].b, f.colors[c][2]);
        EXPECT_EQ(d.colors[c].a, f.colors[c][3]);
    }
    EXPECT_EQ(d.textureCount, 3u);
    EXPECT_EQ(d.textures, nullptr);
    EXPECT_EQ(d.heightOffset, -1.5f);
    EXPECT_EQ(d.turn, 0.25f);
    EXPECT_EQ(d.viewAngle, 0.75f);
    EXPECT_EQ(d.pictureAngle, 0.5f);
    EXPECT_EQ(d.stretchPicture, 0);
    EXPECT_EQ(d.cropPicture, 1);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(d.crop[i], f.crop[i]);
    EXPECT_EQ(d.overlay, nullptr);
    EXPECT_EQ(d.overlayX, -7);
    EXPECT_EQ(d.overlayY, 300);
    EXPECT_EQ(d.screenPictureTextureMatrix, 1);
    EXPECT_EQ(d.uOffset, -11);
    EXPECT_EQ(d.vOffset, 13);
    EXPECT_TRUE(names.empty());
}

// The chunk's size bounds everything read: the record, the names after it, and the count that sizes the
// texture array its reader allocates.
TEST(EnvironmentRecord, ChunkSizeTextAndCountAreBounded)
{
    auto withCount = [](uint32_t count)
    {
        EnvironmentRecordFields f;
        f.textureCount = count;
        return f;
    };
    const Bytes record = ferolt::test::EnvironmentRecord({});
    struct Case
    {
        const char* name;
        Bytes chunk;
        bool read;
        std::string names;
    } cases[] = {
        {"empty", {}, false, ""},
        {"one byte short", Bytes(record.begin(), record.end() - 1), false, ""},
        {"record alone", record, true, ""},
        {"names ended by NUL", ferolt::test::BackgroundChunk({}, "sky.png\nsea.png"), true,
         "sky.png\nsea.png"},
        {"text after the NUL is not a name", ferolt::test::BackgroundChunk({}, std::string("a\0b", 3)), true,
         "a"},
        {"names without NUL end with the chunk", ferolt::test::BackgroundChunk({}, "sky.png\nsea", false),
         true, "sky.png\nsea"},
        {"32 textures", ferolt::test::BackgroundChunk(withCount(32)), true, ""},
        {"33 textures", ferolt::test::BackgroundChunk(withCount(33)), false, ""},
        {"count of all ones", ferolt::test::BackgroundChunk(withCount(0xFFFFFFFFu)), false, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        // An exact-size copy on the heap, so that a read past the chunk is caught.
        std::unique_ptr<uint8_t[]> chunk(new uint8_t[c.chunk.size() + 1]);
        std::copy(c.chunk.begin(), c.chunk.end(), chunk.get());
        LMK::EnvironmentStruct_TYP d;
        LRInitEnvironmentStruct(&d);
        std::string_view names = "untouched";
        EXPECT_EQ(LMK::ReadEnvironmentRecord(chunk.get(), c.chunk.size(), &d, &names), c.read);
        if (!c.read)
        {
            EXPECT_EQ(d.type, 1u) << "a refused record leaves the description alone";
            EXPECT_EQ(names, "untouched");
            continue;
        }
        EXPECT_EQ(std::string(names), c.names);
        EXPECT_LE(names.data() + names.size(), reinterpret_cast<const char*>(chunk.get() + c.chunk.size()));
    }
    LMK::EnvironmentStruct_TYP d;
    EXPECT_FALSE(LMK::ReadEnvironmentRecord(nullptr, 136, &d, nullptr));
}

TEST(EnvironmentDescription, InitAndCopy)
{
    EXPECT_EQ(LRInitEnvironmentStruct(nullptr), E_INVALIDARG);
    LMK::EnvironmentStruct_TYP d;
    std::memset(&d, 0xCD, sizeof d);
    ASSERT_EQ(LRInitEnvironmentStruct(&d), S_OK);
    EXPECT_EQ(d.type, 1u);
    EXPECT_FLOAT_EQ(d.colors[0].r, 26.0f / 255.0f);
    EXPECT_FLOAT_EQ(d.colors[0].g, 0.4f);
    EXPECT_FLOAT_EQ(d.colors[1].b, 251.0f / 255.0f);
    EXPECT_FLOAT_EQ(d.colors[3].g, 214.0f / 255.0f);
    EXPECT_EQ(d.colors[3].a, 1.0f);
    EXPECT_EQ(d.textureCount, 0u);
    EXPECT_EQ(d.textures, nullptr);
    EXPECT_FLOAT_EQ(d.viewAngle, 1.0471976f);
    EXPECT_EQ(d.stretchPicture, 1);
    EXPECT_EQ(d.cropPicture, 0);
    EXPECT_EQ(d.crop[0], 0.0f);
    EXPECT_EQ(d.crop[1], 1.0f);
    EXPECT_EQ(d.crop[2], 0.0f);
    EXPECT_EQ(d.crop[3], 1.0f);
    EXPECT_EQ(d.overlay, nullptr);
    EXPECT_EQ(d.overlayX, 0);
    EXPECT_EQ(d.uOffset, 0);

    // The copy keeps the count but not the pointers, which belong to the source's owner.
    LMK::Texture_* slots[2] = {};
    d.type = 5;
    d.textureCount = 2;
    d.textures = slots;
    d.overlay = reinterpret_cast<LMK::Texture_*>(&slots[0]);
    d.overlayY = 42;
    LMK::EnvironmentStruct_TYP copy;
    EXPECT_EQ(LRCopyEnvironmentStruct(nullptr, &d), E_INVALIDARG);
    EXPECT_EQ(LRCopyEnvironmentStruct(&copy, nullptr), E_INVALIDARG);
    ASSERT_EQ(LRCopyEnvironmentStruct(&copy, &d), S_OK);
    EXPECT_EQ(copy.type, 5u);
    EXPECT_EQ(copy.textureCount, 2u);
    EXPECT_EQ(copy.textures, nullptr);
    EXPECT_EQ(copy.overlay, nullptr);
    EXPECT_EQ(copy.overlayY, 42);
    EXPECT_FLOAT_EQ(copy.colors[2].g, 74.0f / 255.0f);
}

TEST(EnvironmentColor, ChannelsClampAndTruncate)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        D3DCOLORVALUE color;
        D3DCOLOR packed;
    } cases[] = {
        {{1.5f, -0.2f, 0.5f, 1.0f}, 0xFFFF007F},
        {{0.0f, 1.0f, 0.25f, 0.5f}, 0x7F00FF3F},
        {{nan, 0.999f, 0.001f, 2.0f}, 0xFF00FE00},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LMK::ColorValueToD3DColor(&c.color), c.packed) << std::hex << c.packed;
}

TEST(EnvironmentTextures, EachTypeTakesItsShare)
{
    struct Case
    {
        DWORD type, count, used;
    } cases[] = {
        {0, 4, 0}, {1, 4, 0},    {2, 4, 1},    {3, 4, 1},    {4, 40, 40}, {5, 8, 6},
        {5, 3, 3}, {1002, 2, 1}, {1003, 2, 1}, {1004, 0, 0}, {7, 4, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LMK::EnvironmentTexturesUsed(c.type, c.count), c.used) << c.type << " with " << c.count;
}

class EnvironmentTest : public RenderViewTest
{
protected:
    void TearDown() override
    {
        if (LMK::CurrentGlobals) LRReleaseEnvironment(&environment_);
        RenderViewTest::TearDown();
    }
    LMK::Environment_* environment_ = nullptr;
};

TEST_F(EnvironmentTest, CreateAndReleaseCountReferences)
{
    LMK::EnvironmentStruct_TYP d;
    LRInitEnvironmentStruct(&d);
    EXPECT_EQ(LRCreateEnvironment(&d, &environment_), E_FAIL) << "engine not started";
    EXPECT_EQ(environment_, nullptr);
    EXPECT_EQ(LRReleaseEnvironment(&environment_), E_FAIL);
    Start({{0, 0, 64, 48}});
    EXPECT_EQ(LRCreateEnvironment(&d, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRReleaseEnvironment(nullptr), E_INVALIDARG);

    ASSERT_EQ(LRCreateEnvironment(&d, &environment_), S_OK);
    ASSERT_NE(environment_, nullptr);
    EXPECT_EQ(environment_->refCount, 1u);
    EXPECT_NE(environment_->model, nullptr) << "the default description is a gradient sphere";
    EXPECT_EQ(environment_->secondModel, nullptr);
    LMK::Environment_* second = environment_;
    second->AddRef();
    EXPECT_EQ(LRReleaseEnvironment(&second), S_OK);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(environment_->refCount, 1u);
    EXPECT_EQ(LRReleaseEnvironment(&environment_), S_OK);
    EXPECT_EQ(environment_, nullptr);
    EXPECT_EQ(LRReleaseEnvironment(&environment_), S_OK) << "nothing held: nothing to drop";
}

TEST_F(EnvironmentTest, CreationNormalisesTheDescriptionAndPlacesTheModel)
{
    Start({{0, 0, 64, 48}});
    const float pi = D3DX_PI;
    struct Case
    {
        const char* name;
        bool described;
        DWORD type, count;
        float heightOffset, turn, viewAngle;
        DWORD expectType, expectCount;
        D3DCOLOR color0;
        D3DXVECTOR3 unitXPlaced; // where the placement takes (1, 0, 0)
    } cases[] = {
        {"no description: black plain colour", false, 0, 0, 0, 0, 0, 0, 0, 0x00000000, {1, 0, 0}},
        {"old plain colour number", true, 1000, 2, 3, 1, 1, 0, 0, 0xFF7F3F19, {1, 0, 0}},
        // A gradient's one texture is the gradient it makes.
        {"old gradient number", true, 1001, 0, 2, pi / 2, 1, 1, 1, 0xFF7F3F19, {0, 1, 2}},
        {"textured sphere: lifted, then turned", true, 3, 4, 2, pi / 2, 1, 3, 1, 0xFF7F3F19, {0, 1, 2}},
        // A panorama's height scale is tan(view angle / 2).
        {"panorama", true, 4, 40, 2, 0, 2 * std::atan(0.5f), 4, 40, 0xFF7F3F19, {1, 0, 1}},
        {"cube keeps six", true, 5, 8, 0, 0, 1, 5, 6, 0xFF7F3F19, {1, 0, 0}},
        {"a picture is not placed", true, 2, 1, 2, pi / 2, 1, 2, 1, 0xFF7F3F19, {1, 0, 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::EnvironmentStruct_TYP d;
        LRInitEnvironmentStruct(&d);
        d.type = c.type;
        d.colors[0] = {0.5f, 0.25f, 0.1f, 1.0f};
        // A count without an array: the textures count as absent and nothing is allocated for them.
        d.textureCount = c.count;
        d.heightOffset = c.heightOffset;
        d.turn = c.turn;
        d.viewAngle = c.viewAngle;
        ASSERT_EQ(LRCreateEnvironment(c.described ? &d : nullptr, &environment_), S_OK);
        EXPECT_EQ(environment_->description.type, c.expectType);
        EXPECT_EQ(environment_->description.textureCount, c.expectCount);
        EXPECT_EQ(environment_->TextureAt(0) != nullptr, c.expectType == LMK::EnvironmentGradientSphere);
        EXPECT_EQ(environment_->color0, c.color0);
        ASSERT_NE(environment_->placement, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(environment_->placement) % 16, 0u);
        D3DXVECTOR3 placed;
        const D3DXVECTOR3 unitX(1, 0, 0);
        D3DXVec3TransformCoord(&placed, &unitX, environment_->placement);
        EXPECT_NEAR(placed.x, c.unitXPlaced.x, 1e-5f);
        EXPECT_NEAR(placed.y, c.unitXPlaced.y, 1e-5f);
        EXPECT_NEAR(placed.z, c.unitXPlaced.z, 1e-5f);
        LRReleaseEnvironment(&environment_);
    }

    // A hostile count with no array behind it allocates nothing.
    LMK::EnvironmentStruct_TYP d;
    LRInitEnvironmentStruct(&d);
    d.type = LMK::EnvironmentPanorama;
    d.textureCount = 0xFFFFFFFFu;
    ASSERT_EQ(LRCreateEnvironment(&d, &environment_), S_OK);
    EXPECT_EQ(environment_->TextureAt(0xFFFFFFFEu), nullptr);
}

// A box in the middle of the window: what shows around it is the background. Backgrounds with geometry
// but without pictures are drawn unlit, so in white.
TEST_F(EnvironmentTest, EveryTypeShowsBehindTheScene)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 32, 24});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 5}, 4, 3);
    LMK::Object_* box = AddBox({0, 0, 0}, 0.5f, Uniform(1, 0, 0));
    struct Case
    {
        const char* name;
        bool environment, described;
        DWORD type;
        uint32_t expected;
    } cases[] = {
        {"no environment", false, false, 0, kBackground},
        {"plain colour", true, true, 0, 0xFF7F3F},
        {"plain colour, old number", true, true, 1000, 0xFF7F3F},
        {"no description: black", true, false, 0, 0x000000},
        {"textured sphere", true, true, 3, 0xFFFFFF},
        {"panorama", true, true, 4, 0xFFFFFF},
        {"cube", true, true, 5, 0xFFFFFF},
        {"picture", true, true, 2, 0xFFFFFF},
        {"screen picture", true, true, 1003, 0xFFFFFF},
        {"unknown type: cleared only", true, true, 7, kBackground},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::EnvironmentStruct_TYP d;
        LRInitEnvironmentStruct(&d);
        d.type = c.type;
        d.colors[0] = {1.0f, 0.5f, 0.25f, 1.0f};
        if (c.environment)
        {
            ASSERT_EQ(LRCreateEnvironment(c.described ? &d : nullptr, &environment_), S_OK);
        }
        LMK::RenderViewStruct_TYP v = Record(bb);
        v.environment = environment_;
        ASSERT_EQ(Render(&v, {box}), S_OK);
        EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, c.expected) << std::hex << (backend_.Pixel(w, 0, 0));
        EXPECT_EQ(backend_.Pixel(w, 31, 23) & 0xFFFFFF, c.expected);
        EXPECT_TRUE(Near(backend_.Pixel(w, 16, 12), {255, 0, 0}, 8)) << "the box is in front";
        LRReleaseEnvironment(&environment_);
    }
}
} // namespace

namespace
{
// Every face of every background turns toward the eye at the centre, and the geometry has the shape of
// its type: a unit sphere, a cylinder of radius 1 and half-height h, a cube of half-size 1, one quad.
TEST_F(EnvironmentTest, BackgroundGeometryTurnsInward)
{
    Start({{0, 0, 64, 48}});
    struct Case
    {
        const char* name;
        DWORD type;
        float viewAngle;
        DWORD faces;
        DWORD subsets;
    } cases[] = {
        // 448 quads and two caps of 32 triangles.
        {"gradient sphere", 1, 0, 2 * 448 + 64, 1},
        {"textured sphere", 3, 0, 2 * 448 + 64, 1},
        // Without pictures: one piece of 32 segments, a floor and a ceiling of 32 triangles each.
        {"panorama", 4, D3DX_PI / 2, 2 * 32 + 64, 1},
        {"cube", 5, 0, 12, 6},
        {"picture", 2, 0, 2, 1},
        {"screen picture", 1004, 0, 2, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::EnvironmentStruct_TYP d;
        LRInitEnvironmentStruct(&d);
        d.type = c.type;
        d.viewAngle = c.viewAngle;
        ASSERT_EQ(LRCreateEnvironment(&d, &environment_), S_OK);
        LMK::Model_* model = environment_->model;
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->TotalFaceCount(), c.faces);
        EXPECT_EQ(model->subsetCount, c.subsets);
        LMK::LKXMesh_* part = model->PrimaryParts()[0];
        void* v = nullptr;
        void* i = nullptr;
        ASSERT_EQ(part->mesh->LockVertexBuffer(D3DLOCK_READONLY, &v), S_OK);
        ASSERT_EQ(part->mesh->LockIndexBuffer(D3DLOCK_READONLY, &i), S_OK);
        const auto* vertices = static_cast<const LMK::ModelVertexStruct_TYP*>(v);
        const auto* indices = static_cast<const WORD*>(i);
        int outward = 0, offShape = 0;
        for (DWORD f = 0; f < part->mesh->GetNumFaces(); ++f)
        {
            D3DXVECTOR3 p[3];
            for (int k = 0; k < 3; ++k)
            {
                p[k] = D3DXVECTOR3(vertices[indices[3 * f + k]].position);
                const float radial = std::sqrt(p[k].x * p[k].x + p[k].y * p[k].y);
                const float length = D3DXVec3Length(&p[k]);
                const float box = std::max({std::fabs(p[k].x), std::fabs(p[k].y), std::fabs(p[k].z)});
                const bool onShape = (c.type == 1 || c.type == 3) ? std::fabs(length - 1) < 1e-5f
                                     : c.type == 4 ? std::fabs(radial - 1) < 1e-5f || radial < 1e-6f ||
                                                         std::fabs(std::fabs(p[k].z) - 1) < 1e-5f
                                                   : std::fabs(box - 1) < 1e-6f;
                offShape += !onShape;
            }
            D3DXVECTOR3 n, centre = (p[0] + p[1] + p[2]) / 3.0f;
            const D3DXVECTOR3 a = p[1] - p[0], b = p[2] - p[0];
            D3DXVec3Cross(&n, &a, &b);
            outward += D3DXVec3Dot(&n, &centre) >= 0.0f;
        }
        part->mesh->UnlockIndexBuffer();
        part->mesh->UnlockVertexBuffer();
        EXPECT_EQ(outward, 0);
        EXPECT_EQ(offShape, 0);
        LRReleaseEnvironment(&environment_);
    }
}
} // namespace
