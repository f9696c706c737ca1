// Reflections through LRRenderView: a mirror floor under a cube, drawn with and without the reflection
// flag into a headless window; the mirrored scene may only show where the floor's own pixels are.
#include "render_view_fixture.h"

#include "engine/core/globals.h"
#include "engine/render/render_view.h"
#include "tests/platform/d3d9/d3d9_test_util.h"

namespace
{
using namespace rendertest;

constexpr uint32_t kReflections = LMK::ModeFlagReflections;
constexpr uint32_t kMirrorSurface = 0x5000; // reflects at every level

class MirrorTest : public RenderViewTest
{
protected:
    // A strip of floor in the plane y = 0 (before the world matrix), facing up, made a mirror.
    LMK::Object_* AddMirrorFloor(float halfWidth, float halfDepth, const std::array<float, 4>& colour,
                                 float reflectivity, const D3DXMATRIX* world = nullptr)
    {
        LMK::Material_* material = nullptr;
        LMK::Object_* floor =
            AddQuad({D3DXVECTOR3(-halfWidth, 0, halfDepth), D3DXVECTOR3(halfWidth, 0, halfDepth),
                     D3DXVECTOR3(halfWidth, 0, -halfDepth), D3DXVECTOR3(-halfWidth, 0, -halfDepth)},
                    colour, &material, world);
        material->flags |= LMK::kMaterialMirror;
        material->mirrorReflectivity = reflectivity;
        LMK::SubsetAttributesStruct_TYP attributes{};
        attributes.surfacePlane[1] = 1.0f;
        attributes.specialSurface = 1;
        EXPECT_EQ(LRSetSubsetAttributes(floor->model, 0, kMirrorSurface, &attributes), S_OK);
        return floor;
    }

    LMK::RenderViewStruct_TYP MirrorRecord(LMK::BackBuffer_* bb, uint32_t modeFlags)
    {
        LMK::RenderViewStruct_TYP v = Record(bb);
        v.modeFlags = modeFlags;
        v.reflectionLevel = 1;
        v.minimumReflectivity = 0.0f;
        return v;
    }
};

// The cube stands above a narrow mirror strip and is wider than it, so its reflection would spill beside
// the strip without the stencil. Outside the strip's visible pixels the frame is the frame without
// reflections, byte for byte; inside them the cube's lit front face shows, blended with the floor.
TEST_F(MirrorTest, MirrorFloorReflectsTheCubeOnlyInsideItsStencilArea)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 3, 6}, 8, 6);
    FaceColours colours = Uniform(1, 0, 0);
    colours[4] = {0, 0, 1, 1}; // +z, towards the camera: the face the reflection shows
    LMK::Object_* cube = AddBox({0, 1, 0}, 0.5f, colours);
    LMK::Object_* floor = AddMirrorFloor(0.3f, 3, {0.4f, 0.4f, 0.4f, 1}, 0.5f);

    LMK::RenderViewStruct_TYP plain = MirrorRecord(bb, LMK::DisplayModeTextured);
    ASSERT_EQ(Render(&plain, {cube, floor}), S_OK);
    const std::vector<uint32_t> without = Pixels(w);
    const POINT floorPoint = Project(bb, {0, 0, 2.8f}); // near edge, far from the reflection
    const uint32_t floorColour = without[floorPoint.y * 64 + floorPoint.x];
    ASSERT_NE(floorColour, kBackground);

    LMK::RenderViewStruct_TYP mirrored = MirrorRecord(bb, LMK::DisplayModeTextured | kReflections);
    ASSERT_EQ(Render(&mirrored, {cube, floor}), S_OK);
    EXPECT_EQ(mirrored.modeFlags, LMK::DisplayModeTextured | kReflections) << "the caller's flags come back";
    const std::vector<uint32_t> with = Pixels(w);

    // The floor at reflectivity 0.5 lets half of what lies behind the mirror through: the background
    // where nothing is reflected.
    const Rgb f = Split(floorColour), sky = Split(kBackground);
    const Rgb emptyMirror = {(f.r + sky.r) / 2, (f.g + sky.g) / 2, (f.b + sky.b) / 2};
    int outsideChanged = 0, reflected = 0, floorPixels = 0;
    for (size_t i = 0; i < without.size(); ++i)
    {
        if (without[i] != floorColour)
        {
            outsideChanged += with[i] != without[i];
            continue;
        }
        ++floorPixels;
        reflected += !Near(with[i], emptyMirror, 3);
    }
    EXPECT_EQ(outsideChanged, 0) << "the reflection spilled outside the mirror";
    EXPECT_GT(floorPixels, 40);
    EXPECT_GT(reflected, 10) << "no reflection inside the mirror";
    EXPECT_LT(reflected, floorPixels) << "the whole mirror changed";
    EXPECT_TRUE(Near(with[floorPoint.y * 64 + floorPoint.x], emptyMirror, 3))
        << std::hex << with[floorPoint.y * 64 + floorPoint.x];

    // The mirror image of the blue face centre, seen through the floor: half floor, half lit blue. The
    // face is lit by the camera light as the real one is, at cos = 6 / sqrt(45).
    const POINT image = Project(bb, {0, -1, 0.5f});
    const int blue = static_cast<int>(255 * 6 / std::sqrt(45.0f));
    EXPECT_TRUE(Near(with[image.y * 64 + image.x], {f.r / 2, f.g / 2, (f.b + blue) / 2}, 3))
        << std::hex << with[image.y * 64 + image.x];
    EXPECT_TRUE(MatchesBaseline("engine/mirror_floor", w));
}

// A semi-transparent mirror floor (diffuse alpha 0.5) with a box beneath it. With the engine's
// transparent-mirror option the scene is first drawn into the part's texture with the floor as plain glass,
// and that picture is laid over the reflected frame by its alpha (0.75 where the glass lies over the
// background): a quarter of the mirrored picture shows through. Without the option the floor is an
// ordinary mirror. Either way the frame outside the floor is the frame without reflections, and the
// floor's material comes back as it was.
TEST_F(MirrorTest, SemiTransparentMirrorWithAndWithoutTheSceneBehindIt)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 3, 6}, 8, 6);
    FaceColours colours = Uniform(1, 0, 0);
    colours[4] = {0, 0, 1, 1};
    LMK::Object_* cube = AddBox({0, 1, 0}, 0.5f, colours);
    LMK::Object_* below = AddBox({0, -2, 1}, 0.5f, Uniform(0, 1, 0));
    LMK::Object_* floor = AddMirrorFloor(0.3f, 3, {0.4f, 0.4f, 0.4f, 1}, 0.5f);
    LMK::Material_* glass = floor->model->subsets[0].material;
    const std::vector<LMK::Object_*> scene = {cube, below, floor};

    // The floor's visible pixels, from a frame with the floor opaque.
    LMK::RenderViewStruct_TYP plain = MirrorRecord(bb, LMK::DisplayModeTextured);
    ASSERT_EQ(Render(&plain, scene), S_OK);
    const std::vector<uint32_t> mask = Pixels(w);
    const POINT floorPoint = Project(bb, {0, 0, 2.8f});
    const uint32_t floorColour = mask[floorPoint.y * 64 + floorPoint.x];
    glass->material.Diffuse.a = 0.5f;
    const DWORD glassFlags = glass->flags;
    ASSERT_EQ(Render(&plain, scene), S_OK);
    const std::vector<uint32_t> without = Pixels(w);

    struct Case
    {
        const char* name;
        BYTE option;
        bool texture;
        float floorWeight, skyWeight, blueWeight; // at the image of the cube's blue face
    };
    const Case cases[] = {
        {"option off: an ordinary mirror", 0, false, 0.5f, 0.0f, 0.5f},
        {"option on: the glass picture over the reflection", 1, true, 0.5f, 0.375f, 0.125f},
    };
    const Rgb f = Split(floorColour), sky = Split(kBackground);
    const int blue = static_cast<int>(255 * 6 / std::sqrt(45.0f));
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const BYTE savedOption = LMK::TransparentMirrorsOption;
        LMK::TransparentMirrorsOption = c.option;
        LMK::RenderViewStruct_TYP mirrored = MirrorRecord(bb, LMK::DisplayModeTextured | kReflections);
        const HRESULT hr = Render(&mirrored, scene);
        LMK::TransparentMirrorsOption = savedOption;
        ASSERT_EQ(hr, S_OK);
        const std::vector<uint32_t> with = Pixels(w);
        EXPECT_EQ(bb->parts.at(0)->mirrorTexture != nullptr, c.texture);
        EXPECT_EQ(glass->material.Diffuse.a, 0.5f);
        EXPECT_EQ(glass->flags, glassFlags);
        EXPECT_EQ(mirrored.noPresent, 0);
        EXPECT_EQ(mirrored.modeFlags, LMK::DisplayModeTextured | kReflections);

        int outsideChanged = 0;
        for (size_t i = 0; i < without.size(); ++i)
            outsideChanged += mask[i] != floorColour && with[i] != without[i];
        EXPECT_EQ(outsideChanged, 0);
        const POINT image = Project(bb, {0, -1, 0.5f});
        ASSERT_EQ(mask[image.y * 64 + image.x], floorColour);
        const Rgb want = {static_cast<int>(c.floorWeight * f.r + c.skyWeight * sky.r),
                          static_cast<int>(c.floorWeight * f.g + c.skyWeight * sky.g),
                          static_cast<int>(c.floorWeight * f.b + c.skyWeight * sky.b + c.blueWeight * blue)};
        EXPECT_TRUE(Near(with[image.y * 64 + image.x], want, 4)) << std::hex << with[image.y * 64 + image.x];
        if (c.texture)
        {
            EXPECT_TRUE(MatchesBaseline("engine/mirror_glass_floor", w));
        }
    }
}
// A window across two monitors with a mirror floor that runs under both parts: the parts share one
// depth-stencil surface, so each part's marks must still be there when its own plane and final passes
// test them. The picture equals the one on a single monitor, opaque and semi-transparent mirror alike.
TEST_F(MirrorTest, TwoMonitorMirrorPictureMatchesSingleMonitorPicture)
{
    for (float alpha : {1.0f, 0.5f})
    {
        SCOPED_TRACE(alpha);
        std::vector<uint32_t> pictures[2];
        for (int monitors = 1; monitors <= 2; ++monitors)
        {
            if (monitors == 1)
                Start({{0, 0, 128, 48}});
            else
                Start({{0, 0, 64, 48}, {64, 0, 128, 48}});
            HWND w = Window({16, 0, 112, 48});
            LMK::BackBuffer_* bb = BackBuffer(w);
            ASSERT_EQ(bb->parts.size(), static_cast<size_t>(monitors));
            Camera({0, 3, 6}, 12, 6);
            FaceColours colours = Uniform(1, 0, 0);
            colours[4] = {0, 0, 1, 1};
            LMK::Object_* left = AddBox({-1.5f, 1, 0}, 0.5f, colours);
            LMK::Object_* right = AddBox({1.5f, 1, 0}, 0.5f, colours);
            LMK::Material_* glass = nullptr;
            LMK::Object_* floor = AddMirrorFloor(4, 3, {0.4f, 0.4f, 0.4f, 1}, 0.5f);
            glass = floor->model->subsets[0].material;
            glass->material.Diffuse.a = alpha;
            const BYTE savedOption = LMK::TransparentMirrorsOption;
            LMK::TransparentMirrorsOption = 1;
            LMK::RenderViewStruct_TYP v = MirrorRecord(bb, LMK::DisplayModeTextured | kReflections);
            const HRESULT hr = Render(&v, {left, right, floor});
            LMK::TransparentMirrorsOption = savedOption;
            ASSERT_EQ(hr, S_OK);
            pictures[monitors - 1] = Pixels(w);
            Restart();
        }
        ASSERT_EQ(pictures[0].size(), pictures[1].size());
        int differing = 0;
        for (size_t i = 0; i < pictures[0].size(); ++i)
            differing += pictures[0][i] != pictures[1][i];
        EXPECT_EQ(differing, 0);
    }
}

// Counting mode groups coplanar mirrors and draws nothing. Planes are compared in world space as unit
// planes, so a mirror scaled by its object's matrix still joins the unscaled one in its plane.
TEST_F(MirrorTest, CountingModeGroupsCoplanarMirrors)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 3, 6}, 8, 6);
    struct Case
    {
        const char* name;
        float secondHeight, secondScale;
        uint32_t groups;
    };
    const Case cases[] = {
        {"0.005 apart: one plane", 0.005f, 1, 1},
        {"0.02 apart: two planes", 0.02f, 1, 2},
        {"scaled twice, same plane", 0.0f, 2, 1},
        {"above the eye, seen from behind", 4.0f, 1, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::Object_* first = AddMirrorFloor(1, 1, {1, 1, 1, 1}, 0.5f);
        D3DXMATRIX scale, lift, world;
        D3DXMatrixScaling(&scale, c.secondScale, c.secondScale, c.secondScale);
        D3DXMatrixTranslation(&lift, 0, c.secondHeight, 0);
        D3DXMatrixMultiply(&world, &scale, &lift);
        LMK::Object_* second = AddMirrorFloor(1, 1, {1, 1, 1, 1}, 0.5f, &world);
        LMK::RenderViewStruct_TYP v = MirrorRecord(bb, LMK::DisplayModeTextured | kReflections);
        uint32_t groups = 99;
        v.mirrorGroupCount = &groups;
        EXPECT_EQ(LRRenderView(&v, 2, std::array<LMK::Object_*, 2>{first, second}.data(), 0, nullptr), S_OK);
        EXPECT_EQ(groups, c.groups);
    }
}
} // namespace

namespace
{
TEST(MirrorTextureTest, LayingTheTextureOverAPartLeavesNoTextureStreamOrStencil)
{
    d3d9test::Target t(8, 8);
    IDirect3DTexture9* texture =
        d3d9test::MakeTexture(t.Get(), 8, 8, [](UINT, UINT, UINT) { return 0xffff0000u; });
    t.Clear(0xff000000);
    t->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    t->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    LMK::DrawTextureOverRect(t.Get(), RECT{0, 0, 8, 8}, texture);
    EXPECT_EQ(t.At(3, 3), 0xffff0000u);

    IDirect3DBaseTexture9* bound = nullptr;
    EXPECT_EQ(t->GetTexture(0, &bound), D3D_OK);
    EXPECT_EQ(bound, nullptr);
    IDirect3DVertexBuffer9* stream = nullptr;
    UINT offset = 0, stride = 0;
    EXPECT_EQ(t->GetStreamSource(0, &stream, &offset, &stride), D3D_OK);
    EXPECT_EQ(stream, nullptr);
    DWORD stencil = TRUE;
    EXPECT_EQ(t->GetRenderState(D3DRS_STENCILENABLE, &stencil), D3D_OK);
    EXPECT_EQ(stencil, FALSE);
    texture->AddRef();
    EXPECT_EQ(texture->Release(), 1u) << "the device holds no reference to the texture";
    texture->Release();
}
} // namespace
