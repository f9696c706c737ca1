// The shadow computation on small scenes: a box on a plate under a sun, worked out by hand; soft lights,
// the sky term, progress and cancel, the visibility pass, and a frame drawn with the baked light maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "../render/render_view_fixture.h"
#include "engine/core/light.h"
#include "engine/core/lr_light_api.h"
#include "engine/core/texture.h"
#include "engine/render/shadows.h"

namespace
{
using rendertest::RenderViewTest;

TEST(ShadowRulesTest, LightMapSidesAndTexelSizes)
{
    const std::pair<uint32_t, uint32_t> sides[] = {{0, 2},       {1, 2},       {2, 2},       {3, 4},
                                                   {300, 512},   {512, 512},   {513, 512},   {1024, 512},
                                                   {1025, 1024}, {4096, 2048}, {4097, 4096}, {100000, 4096}};
    for (const auto& [texels, side] : sides)
        EXPECT_EQ(LMK::LightMapSide(texels), side) << texels;
    const std::pair<uint32_t, float> sizes[] = {{0, 0.1f},   {1, 0.05f},  {2, 0.025f}, {3, 0.0125f},
                                                {4, 0.006f}, {5, 0.002f}, {6, 0.015f}, {7, 0.015f}};
    for (const auto& [quality, size] : sizes)
        EXPECT_FLOAT_EQ(LMK::LightMapTexelSize(quality), size) << quality;
}

TEST(ShadowRulesTest, SamplesSkyDirectionsAndCategories)
{
    D3DLIGHT9 point{}, sun{};
    point.Type = D3DLIGHT_POINT;
    sun.Type = D3DLIGHT_DIRECTIONAL;
    const struct
    {
        const D3DLIGHT9* light;
        float hardness;
        uint32_t n;
        float spread;
    } grids[] = {{&sun, 0.0f, 1, 0.1f},   {&point, 0.95f, 1, 0.1f}, {&point, 0.9f, 2, 0.1f},
                 {&point, 0.7f, 4, 0.2f}, {&point, 0.5f, 4, 0.3f},  {&point, 0.3f, 7, 0.4f},
                 {&point, 0.2f, 8, 0.6f}};
    for (const auto& g : grids)
    {
        uint32_t n = 0;
        float spread = 0;
        LMK::LightSampleGrid(*g.light, g.hardness, &n, &spread);
        EXPECT_EQ(n, g.n) << g.hardness;
        EXPECT_FLOAT_EQ(spread, g.spread) << g.hardness;
    }
    EXPECT_EQ(LMK::SkyDirectionCount(64, 64), 64u);
    EXPECT_EQ(LMK::SkyDirectionCount(65, 10), 128u);
    EXPECT_EQ(LMK::SkyDirectionCount(2, 2), 32u);
    EXPECT_EQ(LMK::SkyDirectionCount(129, 2), 196u);
    EXPECT_EQ(LMK::SkyDirectionCount(512, 512), 256u);
    std::vector<D3DXVECTOR3> sky;
    LMK::MakeSkyDirections(64, &sky);
    ASSERT_EQ(sky.size(), 64u);
    for (const D3DXVECTOR3& d : sky)
    {
        EXPECT_LE(d.z, 0.0f);
        EXPECT_NEAR(D3DXVec3Length(&d), 1.0f, 1e-4f);
    }

    const struct
    {
        DWORD category;
        bool l1, l2, l3;
    } categories[] = {{0x80000000u, true, true, true}, {0x5000, true, true, true},
                      {0x13000, true, true, true},     {0x2000, false, true, true},
                      {0x6000, false, true, true},     {0x9000, false, false, true},
                      {0xB000, false, false, true},    {0x1000, false, false, false}};
    for (const auto& c : categories)
    {
        EXPECT_EQ(LMK::IsCategoryBakedAtLevel(c.category, 1), c.l1) << std::hex << c.category;
        EXPECT_EQ(LMK::IsCategoryBakedAtLevel(c.category, 2), c.l2) << std::hex << c.category;
        EXPECT_EQ(LMK::IsCategoryBakedAtLevel(c.category, 3), c.l3) << std::hex << c.category;
        EXPECT_FALSE(LMK::IsCategoryBakedAtLevel(c.category, 4));
    }
}

TEST(ShadowApiWithoutEngineTest, ArgumentsAndTheStartedCheck)
{
    EXPECT_EQ(LRInitShadowOptions(nullptr), E_INVALIDARG);
    LMK::ShadowOptionsStruct_TYP o;
    std::memset(&o, 0xCD, sizeof o);
    ASSERT_EQ(LRInitShadowOptions(&o), S_OK);
    EXPECT_EQ(o.level, 3u);
    EXPECT_EQ(o.quality, 2u);
    EXPECT_EQ(o.directWeight, 1.0f);
    EXPECT_EQ(o.skyTerm, 0);
    EXPECT_EQ(o.skyWeight, 0.5f);
    EXPECT_EQ(o.keepExisting, 0);

    EXPECT_EQ(LRComputeShadows(0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr, 0),
              S_OK);
    EXPECT_EQ(LRComputeShadows(1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr, 0),
              E_INVALIDARG);
    LMK::Object_* none[1] = {nullptr};
    // Nothing to render with before the engine starts.
    EXPECT_EQ(LRComputeShadows(1, none, 0, nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr, 0),
              E_FAIL);
    EXPECT_EQ(LRReleaseShadows(0, nullptr), S_OK);
    EXPECT_EQ(LRReleaseShadows(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRReleaseShadows(1, none), S_OK);
}

// A 4 x 4 plate at z = 0 (one receiving subset) with a unit box standing on its centre.
class ShadowsTest : public RenderViewTest
{
protected:
    static constexpr float kHalfPlate = 2.0f;

    void SetUp() override
    {
        RenderViewTest::SetUp();
        Start({{0, 0, 256, 256}});
        LRInitShadowOptions(&options_);
        options_.quality = 0; // 0.1 world units: 40 texels, a 64 x 64 light map
        const float h = kHalfPlate;
        plate_ = AddQuad(
            {D3DXVECTOR3(-h, -h, 0), D3DXVECTOR3(h, -h, 0), D3DXVECTOR3(h, h, 0), D3DXVECTOR3(-h, h, 0)},
            {1, 1, 1, 1});
        LMK::SubsetAttributesStruct_TYP a{};
        a.surfacePlane[2] = 1.0f;
        a.specialSurface = 1;
        ASSERT_EQ(LRSetSubsetAttributes(plate_->model, 0, 0x5000, &a), S_OK);
        box_ = AddBox({0, 0, 0.5f}, 0.5f, Uniform(1, 1, 1));
        scene_ = {box_, plate_};
    }
    void TearDown() override
    {
        LRReleaseShadows(static_cast<DWORD>(scene_.size()), scene_.data());
        for (LMK::Light_*& l : lights_)
            LRReleaseLight(&l);
        RenderViewTest::TearDown();
    }

    LMK::Light_* Sun(D3DXVECTOR3 direction, bool ambientOn = false)
    {
        LMK::LightParamsStruct_TYP p;
        LRGetDefaultLightParams(&p);
        p.light.Type = D3DLIGHT_DIRECTIONAL;
        p.light.Specular = {0, 0, 0, 1};
        p.light.Ambient = {0, 0, 0, 1};
        p.ambientOn = ambientOn;
        return Add(p, D3DXVECTOR3(0, 0, 0), direction);
    }
    LMK::Light_* Lamp(D3DXVECTOR3 position, float hardness)
    {
        LMK::LightParamsStruct_TYP p;
        LRGetDefaultLightParams(&p);
        p.light.Specular = {0, 0, 0, 1};
        p.ambientOn = 0;
        p.attenuationPreset = 1;
        p.hardness = hardness;
        return Add(p, position, D3DXVECTOR3(0, 0, -1));
    }
    LMK::Light_* Add(const LMK::LightParamsStruct_TYP& p, D3DXVECTOR3 position, D3DXVECTOR3 direction)
    {
        LMK::Light_* light = nullptr;
        EXPECT_EQ(LRCreateLight(&p, &light), S_OK);
        D3DXMATRIX m;
        LMK::LightMatrixFromPositionDirection(position, direction, &m);
        light->SetTransform(&m);
        lights_.push_back(light);
        return light;
    }

    HRESULT Compute(std::vector<LMK::Light_*> lights, LMK::ProgressCallback_TYP callback = nullptr,
                    void* user = nullptr)
    {
        return LRComputeShadows(static_cast<DWORD>(scene_.size()), scene_.data(),
                                static_cast<DWORD>(lights.size()), lights.data(), nullptr, &options_,
                                callback, user, false, nullptr, 0);
    }

    // The plate's baked light map as 0x00RRGGBB texels, row 0 at the top (v = 0).
    std::vector<uint32_t> PlateMap(uint32_t* side)
    {
        std::vector<uint32_t> texels;
        LMK::LightMapStruct_TYP* record = plate_->lightMaps ? plate_->lightMaps[0] : nullptr;
        if (!record || !record->texture) return texels;
        IDirect3DTexture9* texture = record->texture->PrimaryTexture();
        if (!texture) return texels;
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return texels;
        *side = record->width;
        for (uint32_t y = 0; y < record->height; ++y)
            for (uint32_t x = 0; x < record->width; ++x)
            {
                uint32_t p = 0;
                std::memcpy(&p, static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + 4 * x, 4);
                texels.push_back(p & 0xFFFFFF);
            }
        texture->UnlockRect(0);
        return texels;
    }

    // The world point at the centre of light-map texel (column, row) of the plate.
    static D3DXVECTOR2 TexelCentre(uint32_t side, uint32_t column, uint32_t row)
    {
        const float u = (column + 0.5f) / side, v = (row + 0.5f) / side;
        return {-kHalfPlate + 4 * u, -kHalfPlate + 4 * (1 - v)};
    }

    static int Red(uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); }

    LMK::ShadowOptionsStruct_TYP options_{};
    LMK::Object_* plate_ = nullptr;
    LMK::Object_* box_ = nullptr;
    std::vector<LMK::Object_*> scene_;
    std::vector<LMK::Light_*> lights_;
};

TEST_F(ShadowsTest, SunCastsTheBoxShadowWorkedOutByHand)
{
    // The sun shines along (1, 0, -1): the box's top edge at x = 0.5, z = 1 lands at x = 1.5, so the shadow
    // on the plate beside the box is 0.5 < x < 1.5, |y| < 0.5. Lit texels get N.L = cos 45 deg of white.
    LMK::Light_* sun = Sun({1, 0, -1});
    ASSERT_EQ(Compute({sun}), S_OK);
    uint32_t side = 0;
    const std::vector<uint32_t> map = PlateMap(&side);
    ASSERT_EQ(side, 64u);
    ASSERT_EQ(map.size(), 64u * 64u);
    EXPECT_EQ(plate_->lightMaps[0]->baked, 1);
    const float texel = 4.0f / side;
    int inside = 0, outside = 0;
    for (uint32_t row = 0; row < side; ++row)
        for (uint32_t column = 0; column < side; ++column)
        {
            const D3DXVECTOR2 p = TexelCentre(side, column, row);
            const bool underBox = std::fabs(p.x) < 0.5f && std::fabs(p.y) < 0.5f;
            const float edge =
                std::min({std::fabs(p.x - 0.5f), std::fabs(p.x - 1.5f), std::fabs(std::fabs(p.y) - 0.5f)});
            if (underBox || edge < texel) continue;
            const bool shadow = p.x > 0.5f && p.x < 1.5f && std::fabs(p.y) < 0.5f;
            const int red = Red(map[row * side + column]);
            if (shadow)
            {
                EXPECT_LE(red, 2) << column << "," << row;
                ++inside;
            }
            else
            {
                EXPECT_NEAR(red, 180, 3) << column << "," << row;
                ++outside;
            }
        }
    EXPECT_GT(inside, 100);
    EXPECT_GT(outside, 2000);
    // The box itself has no receiving subset.
    for (DWORD i = 0; i < box_->model->subsetCount; ++i)
        EXPECT_EQ(box_->lightMaps[i], nullptr);
}

TEST_F(ShadowsTest, SkyTermLightensTheShadowBySkyShare)
{
    auto shadowAndLit = [&](bool sky)
    {
        LRReleaseShadows(static_cast<DWORD>(scene_.size()), scene_.data());
        options_.skyTerm = sky;
        Compute({lights_.back()});
        uint32_t side = 0;
        const std::vector<uint32_t> map = PlateMap(&side);
        EXPECT_EQ(side, 64u);
        // Texels at (1, 0) in the shadow and (-1.5, 1.5) in the open.
        auto at = [&](float x, float y)
        {
            const uint32_t column = static_cast<uint32_t>((x + kHalfPlate) / 4 * side);
            const uint32_t row = static_cast<uint32_t>((1 - (y + kHalfPlate) / 4) * side);
            return map.empty() ? -1 : Red(map[row * side + column]);
        };
        return std::make_pair(at(1.0f, 0.0f), at(-1.5f, 1.5f));
    };
    Sun({1, 0, -1}, true);
    const auto [darkWithout, litWithout] = shadowAndLit(false);
    const auto [darkWith, litWith] = shadowAndLit(true);
    EXPECT_LE(darkWithout, 2);
    EXPECT_NEAR(litWithout, 180, 3);
    // With the sky: the sun keeps half its light (sky weight 0.5), the other half and the material's
    // ambient come back from the sky, of which the box hides part in the shadow.
    EXPECT_GT(darkWith, darkWithout + 40);
    EXPECT_LT(darkWith, litWith - 20);
    EXPECT_GT(litWith, 90 + 40);
}

TEST_F(ShadowsTest, SofterLightsWidenThePenumbra)
{
    // A lamp low on the left: the box's shadow falls to the right; the texels between fully lit and fully
    // shadowed (against the same lamp without shadows) form the penumbra.
    auto bake = [&](float hardness, bool casts)
    {
        LRReleaseShadows(static_cast<DWORD>(scene_.size()), scene_.data());
        LMK::Light_* lamp = Lamp({-3, 0, 2.5f}, hardness);
        lamp->params.castsShadows = casts;
        Compute({lamp});
        uint32_t side = 0;
        return PlateMap(&side);
    };
    const std::vector<uint32_t> open = bake(1.0f, false);
    ASSERT_EQ(open.size(), 64u * 64u);
    auto penumbra = [&](float hardness)
    {
        const std::vector<uint32_t> map = bake(hardness, true);
        int count = 0;
        for (size_t k = 0; k < map.size() && k < open.size(); ++k)
        {
            const int lit = Red(open[k]);
            if (lit < 40) continue;
            const float ratio = static_cast<float>(Red(map[k])) / lit;
            if (ratio > 0.1f && ratio < 0.9f) ++count;
        }
        return count;
    };
    const int hard = penumbra(1.0f), medium = penumbra(0.5f), soft = penumbra(0.1f);
    EXPECT_LT(hard, medium);
    EXPECT_LT(medium, soft);
}

struct ProgressLog
{
    std::vector<float> fractions;
    int cancelAt = 0; // the call (1-based) that answers false; 0 never
    IDirect3DDevice9* device = nullptr;
    bool targetsRestored = true;
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
};

bool __stdcall LogProgress(float fraction, void* user)
{
    auto* log = static_cast<ProgressLog*>(user);
    log->fractions.push_back(fraction);
    // Between subsets the device has its own target and depth surface back.
    IDirect3DSurface9 *target = nullptr, *depth = nullptr;
    log->device->GetRenderTarget(0, &target);
    log->device->GetDepthStencilSurface(&depth);
    if (target != log->target || depth != log->depth) log->targetsRestored = false;
    if (target) target->Release();
    if (depth) depth->Release();
    return log->cancelAt == 0 || static_cast<int>(log->fractions.size()) != log->cancelAt;
}

TEST_F(ShadowsTest, ProgressRisesToOneAndCancelKeepsWhatWasBaked)
{
    // A second receiving plate, so that the cancel falls between two bakes.
    const float h = kHalfPlate;
    LMK::Object_* second = AddQuad(
        {D3DXVECTOR3(-h, -h, -1), D3DXVECTOR3(h, -h, -1), D3DXVECTOR3(h, h, -1), D3DXVECTOR3(-h, h, -1)},
        {1, 1, 1, 1});
    LMK::SubsetAttributesStruct_TYP a{};
    a.surfacePlane[2] = 1.0f;
    a.specialSurface = 1;
    ASSERT_EQ(LRSetSubsetAttributes(second->model, 0, 0x5000, &a), S_OK);
    scene_ = {box_, plate_, second};
    LMK::Light_* sun = Sun({1, 0, -1});

    ProgressLog log;
    log.device = LMK::CurrentGlobals->devices.primaryDevice->device;
    log.device->GetRenderTarget(0, &log.target);
    log.device->GetDepthStencilSurface(&log.depth);
    ASSERT_EQ(Compute({sun}, LogProgress, &log), S_OK);
    ASSERT_GE(log.fractions.size(), 3u);
    EXPECT_EQ(log.fractions.front(), 0.0f);
    EXPECT_FLOAT_EQ(log.fractions.back(), 1.0f);
    EXPECT_TRUE(std::is_sorted(log.fractions.begin(), log.fractions.end()));
    EXPECT_TRUE(log.targetsRestored);

    // Calls: the box's start, the plate's start, the plate's subset, the second plate's start. Answering
    // false there stops the computation; the plate baked before keeps its light map.
    LRReleaseShadows(static_cast<DWORD>(scene_.size()), scene_.data());
    ProgressLog cancel = log;
    cancel.fractions.clear();
    cancel.cancelAt = 4;
    ASSERT_EQ(Compute({sun}, LogProgress, &cancel), S_OK);
    EXPECT_EQ(cancel.fractions.size(), 4u);
    ASSERT_NE(plate_->lightMaps[0], nullptr);
    EXPECT_EQ(plate_->lightMaps[0]->baked, 1);
    EXPECT_EQ(second->lightMaps[0], nullptr);
    IDirect3DSurface9 *target = nullptr, *depth = nullptr;
    log.device->GetRenderTarget(0, &target);
    log.device->GetDepthStencilSurface(&depth);
    EXPECT_EQ(target, log.target);
    EXPECT_EQ(depth, log.depth);
    for (IDirect3DSurface9* s : {target, depth, log.target, log.depth})
        if (s) s->Release();

    // Answering false at the second call (the plate's start) stops before anything is baked.
    LRReleaseShadows(static_cast<DWORD>(scene_.size()), scene_.data());
    ProgressLog early;
    early.device = log.device;
    early.cancelAt = 2;
    early.device->GetRenderTarget(0, &early.target);
    early.device->GetDepthStencilSurface(&early.depth);
    ASSERT_EQ(Compute({sun}, LogProgress, &early), S_OK);
    EXPECT_EQ(early.fractions.size(), 2u);
    EXPECT_TRUE(early.targetsRestored);
    if (early.target) early.target->Release();
    if (early.depth) early.depth->Release();
}

TEST_F(ShadowsTest, LevelsKeepExistingAndTheVisibilityPass)
{
    LMK::Light_* sun = Sun({1, 0, -1});
    options_.level = 0;
    ASSERT_EQ(Compute({sun}), S_OK);
    EXPECT_EQ(plate_->lightMaps[0], nullptr);

    // Level 1 bakes category 0x5000; a category of level 2 waits for level 2.
    options_.level = 1;
    ASSERT_EQ(Compute({sun}), S_OK);
    ASSERT_NE(plate_->lightMaps[0], nullptr);
    LMK::LightMapStruct_TYP* baked = plate_->lightMaps[0];
    options_.keepExisting = 1;
    ASSERT_EQ(Compute({sun}), S_OK);
    EXPECT_EQ(plate_->lightMaps[0], baked);

    // A visibility camera that sees nothing of the scene: with keep-existing the maps stay, without it
    // they go.
    LMK::View_* away = nullptr;
    const D3DXVECTOR3 eye(0, 0, 50), at(0, 0, 100), up(0, 1, 0);
    ASSERT_EQ(LRCreateView(&eye, &at, &up, 0, 1, 1, 0.5f, 50, &away), S_OK);
    auto computeSeenFrom = [&](LMK::View_* camera)
    {
        return LRComputeShadows(2, scene_.data(), 1, &sun, nullptr, &options_, nullptr, nullptr, false,
                                camera, 64);
    };
    ASSERT_EQ(computeSeenFrom(away), S_OK);
    EXPECT_EQ(plate_->lightMaps[0], baked);
    options_.keepExisting = 0;
    ASSERT_EQ(computeSeenFrom(away), S_OK);
    EXPECT_EQ(plate_->lightMaps[0], nullptr);
    // Seen from above, the plate is baked again.
    LMK::View_* above = nullptr;
    const D3DXVECTOR3 high(0, 0, 10), centre(0, 0, 0);
    ASSERT_EQ(LRCreateView(&high, &centre, &up, 0, 6, 6, 0.5f, 50, &above), S_OK);
    ASSERT_EQ(computeSeenFrom(above), S_OK);
    ASSERT_NE(plate_->lightMaps[0], nullptr);
    EXPECT_EQ(plate_->lightMaps[0]->baked, 1);
    LRReleaseView(&away);
    LRReleaseView(&above);

    // No lights: the object's baking stops the computation without touching its records.
    EXPECT_EQ(LRComputeShadows(2, scene_.data(), 0, nullptr, nullptr, &options_, nullptr, nullptr, false,
                               nullptr, 0),
              S_OK);
    EXPECT_NE(plate_->lightMaps[0], nullptr);
}

TEST_F(ShadowsTest, FramesAfterBakingDrawTheLightMaps)
{
    HWND w = Window({0, 0, 128, 128});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, -0.01f, 8}, 5.0f, 5.0f);
    LMK::RenderViewStruct_TYP view = Record(bb);
    ASSERT_EQ(Render(&view, scene_), S_OK);
    const POINT p = Project(bb, {1.0f, 0.0f, 0.0f});
    const uint32_t before = Pixels(w).at(p.y * 128 + p.x);

    LMK::Light_* sun = Sun({1, 0, -1});
    ASSERT_EQ(Compute({sun}), S_OK);
    ASSERT_EQ(Render(&view, scene_), S_OK);
    const std::vector<uint32_t> after = Pixels(w);
    EXPECT_LT(Red(after.at(p.y * 128 + p.x)) + 40, Red(before));
    // Outside the shadow the plate shows its light map's light.
    const POINT open = Project(bb, {-1.5f, 1.5f, 0.0f});
    EXPECT_GT(Red(after.at(open.y * 128 + open.x)), Red(after.at(p.y * 128 + p.x)) + 100);
}
} // namespace

namespace
{
TEST_F(ShadowsTest, LightMapCameraSeesExactlyTheLightMap)
{
    LMK::Light_* sun = Sun({1, 0, -1});
    ASSERT_EQ(Compute({sun}), S_OK);
    ASSERT_NE(plate_->lightMaps[0], nullptr);
    const float none[2] = {0, 0};
    struct Case
    {
        D3DXVECTOR3 light;
        bool useNearOffset, backSide;
        bool made, flipped;
        float zNear, zFar;
    };
    const Case cases[] = {
        {{0.5f, -1, 10}, false, false, true, false, 0.01f, 9.995f},
        {{0, 0, -5}, false, false, false, false, 0, 0},
        {{0, 0, -5}, false, true, true, true, 0.01f, 4.995f},
        // 0.005 above the plate: the far plane would lie on the near plane's wrong side.
        {{0, 0, 0.005f}, false, false, false, false, 0, 0},
        {{0, 0, 0.005f}, false, true, false, false, 0, 0},
        // A grazing sun 100 units above the plate with a near offset of 200: the near plane stays in
        // front of the eye.
        {{-10000, 0, 100}, true, false, true, false, 0.01f, 99.995f},
        {{0, 0, 1000}, true, false, true, false, 800.0f, 999.995f},
    };
    for (const Case& c : cases)
    {
        LMK::View_* view = nullptr;
        bool made = true, flipped = true;
        plate_->CreateLightMapView(&c.light, c.useNearOffset, c.backSide, none, 200.0f, 0, plate_->world,
                                   &view, &made, &flipped);
        EXPECT_EQ(made, c.made) << c.light.z;
        EXPECT_EQ(view != nullptr, c.made);
        if (!view) continue;
        EXPECT_EQ(flipped, c.flipped);
        EXPECT_NEAR(view->params.zNear, c.zNear, 1e-3f);
        EXPECT_NEAR(view->params.zFar, c.zFar, 1e-3f);
        // The plate's corners land on the image's corners: u = 0 on the left (the right when flipped),
        // v = 1 at the top, where the engine's projection puts y = -1.
        D3DXMATRIX vp;
        ASSERT_EQ(view->GetViewProjectionMatrix(&vp), S_OK);
        const float left = c.flipped ? 1.0f : -1.0f;
        const std::pair<D3DXVECTOR3, D3DXVECTOR2> corners[] = {
            {{-2, -2, 0}, {left, 1}}, {{2, -2, 0}, {-left, 1}}, {{-2, 2, 0}, {left, -1}}};
        for (const auto& [corner, ndc] : corners)
        {
            D3DXVECTOR3 projected;
            D3DXVec3TransformCoord(&projected, &corner, &vp);
            EXPECT_NEAR(projected.x, ndc.x, 1e-3f) << c.light.z;
            EXPECT_NEAR(projected.y, ndc.y, 1e-3f) << c.light.z;
        }
        LRReleaseView(&view);
    }
}

TEST_F(ShadowsTest, SkyColourNeedsASkyView)
{
    // A ceiling (facing down) sees no sky direction: its light map is the sun's light from below and the
    // ambient term, and never the sun's shadow mask tinted as sky.
    const float h = kHalfPlate;
    LMK::Object_* ceiling =
        AddQuad({D3DXVECTOR3(-h, -h, 3), D3DXVECTOR3(-h, h, 3), D3DXVECTOR3(h, h, 3), D3DXVECTOR3(h, -h, 3)},
                {1, 1, 1, 1});
    LMK::SubsetAttributesStruct_TYP a{};
    a.surfacePlane[2] = -1.0f;
    a.surfacePlane[3] = 3.0f;
    a.specialSurface = 1;
    ASSERT_EQ(LRSetSubsetAttributes(ceiling->model, 0, 0x5000, &a), S_OK);
    scene_ = {box_, ceiling};
    LMK::Light_* sun = Sun({0, 0, 1}, true);
    options_.skyTerm = 1;
    ASSERT_EQ(Compute({sun}), S_OK);
    ASSERT_NE(ceiling->lightMaps[0], nullptr);
    LMK::Object_* kept = plate_;
    plate_ = ceiling;
    uint32_t side = 0;
    const std::vector<uint32_t> map = PlateMap(&side);
    plate_ = kept;
    ASSERT_EQ(map.size(), size_t{side} * side);
    // Half the sun (the sky takes the other half) straight on, plus the ambient term; the box shadows
    // the middle from below.
    const int open = Red(map[2 * side + 2]), middle = Red(map[(side / 2) * side + side / 2]);
    EXPECT_NEAR(open, 127 + 0, 4);
    EXPECT_LT(middle, open - 60);
}
} // namespace

namespace
{
TEST_F(ShadowsTest, HelperModelsCoverTheUnitSquare)
{
    LMK::Model_* grid = nullptr;
    LMK::Model_* quad = nullptr;
    LMK::CreateLightMapHelperModels(nullptr, &quad);
    ASSERT_NE(quad, nullptr);
    EXPECT_EQ(quad->TotalFaceCount(), 2u);
    quad->Release();
    LMK::CreateLightMapHelperModels(&grid, &quad);
    ASSERT_NE(grid, nullptr);
    ASSERT_NE(quad, nullptr);
    EXPECT_EQ(grid->TotalFaceCount(), 257762u);
    for (const LMK::Model_* m : {grid, quad})
    {
        EXPECT_FLOAT_EQ(m->baseBox[0], 0.0f);
        EXPECT_FLOAT_EQ(m->baseBox[1], 0.0f);
        EXPECT_FLOAT_EQ(m->baseBox[3], 1.0f);
        EXPECT_FLOAT_EQ(m->baseBox[4], 1.0f);
        EXPECT_FLOAT_EQ(m->baseBox[5] - m->baseBox[2], 0.0f);
    }
    grid->Release();
    quad->Release();
}

TEST_F(ShadowsTest, LampLightsTheSurfaceThroughTheGrid)
{
    // A lamp straight above the plate's centre: the grid's vertices carry its falloff across the map,
    // brightest under the lamp. The box stays out of the scene, so that nothing shadows the middle.
    scene_ = {plate_};
    LMK::Light_* lamp = Lamp({0, 0, 1.5f}, 1.0f);
    ASSERT_EQ(Compute({lamp}), S_OK);
    uint32_t side = 0;
    const std::vector<uint32_t> map = PlateMap(&side);
    ASSERT_EQ(map.size(), size_t{side} * side);
    const int centre = Red(map[(side / 2) * side + side / 2]), corner = Red(map[side + 1]);
    EXPECT_GT(centre, 200);
    EXPECT_LT(corner, centre / 2);
}
} // namespace

namespace
{
TEST_F(ShadowsTest, SingleFaceLightMapsFillTheirRectangle)
{
    // One triangle over the lower-left half of the plate's square, a single-face surface: its light map
    // is twice the size, and the lit pass fills the whole square along the edge that runs with the
    // light-map axis, so that filtering at the hypotenuse finds light on both sides.
    const float h = kHalfPlate;
    LMK::RawVertexStruct_TYP corners[3] = {};
    const float xy[3][2] = {{-h, -h}, {h, -h}, {-h, h}};
    for (int k = 0; k < 3; ++k)
    {
        corners[k].position[0] = xy[k][0];
        corners[k].position[1] = xy[k][1];
        corners[k].normal[2] = 1.0f;
    }
    const DWORD face[3] = {0, 1, 2};
    LMK::Material_* white = nullptr;
    ASSERT_EQ(LRCreateMaterialFromColor(1, 1, 1, 1, &white), S_OK);
    LMK::SubsetStruct_TYP s{};
    s.faceCount = 1;
    s.material = white;
    s.sourceIndex = LMK::kNoSourceIndex;
    HRESULT hr = E_FAIL;
    auto* model = new LMK::Model_(1, corners, 3, face, 1, nullptr, 0, &s, 1, nullptr, nullptr, &hr, 0, 0, 0,
                                  nullptr, 0, 1);
    ASSERT_EQ(hr, S_OK);
    LMK::LoadedPart_* part = white;
    LRReleaseLoadedPart(&part);
    LMK::Object_* triangle = Place(model);
    LMK::SubsetAttributesStruct_TYP a{};
    a.surfacePlane[2] = 1.0f;
    a.specialSurface = 1;
    ASSERT_EQ(LRSetSubsetAttributes(model, 0, 0xB000, &a), S_OK);
    LMK::Object_* block = AddBox({-1, -1, 0.5f}, 0.25f, Uniform(1, 1, 1));
    scene_ = {block, triangle};

    ASSERT_EQ(Compute({Sun({0, 0, -1})}), S_OK);
    LMK::Object_* kept = plate_;
    plate_ = triangle;
    uint32_t side = 0;
    const std::vector<uint32_t> map = PlateMap(&side);
    plate_ = kept;
    ASSERT_EQ(side, 128u);
    ASSERT_EQ(map.size(), 128u * 128u);
    auto at = [&](float x, float y)
    {
        const uint32_t column = static_cast<uint32_t>((x + h) / 4 * side);
        const uint32_t row = static_cast<uint32_t>((1 - (y + h) / 4) * side);
        return Red(map[row * side + column]);
    };
    EXPECT_LE(at(-1, -1), 2);        // under the block
    EXPECT_GE(at(-1.5f, 0.5f), 250); // in the triangle, in the sun
    EXPECT_GE(at(1.5f, 1.5f), 250);  // beyond the hypotenuse: the rectangle's fill
}
} // namespace

namespace
{
// The engine on an adapter whose render-target textures cannot be made at the given sizes.
class ShadowTargetsTest : public RenderViewTest
{
protected:
    void StartFailing(std::vector<SIZE> sizes)
    {
        ferolt::hooks::D3D9Adapter adapter = enginetest::SmallAdapter(0, 256, 256);
        adapter.failingRenderTargetTextureSizes = std::move(sizes);
        enginetest::UseAdapters({adapter});
        ASSERT_EQ(LRStart(nullptr), S_OK);
        const float h = 2.0f;
        plate_ = AddQuad(
            {D3DXVECTOR3(-h, -h, 0), D3DXVECTOR3(h, -h, 0), D3DXVECTOR3(h, h, 0), D3DXVECTOR3(-h, h, 0)},
            {1, 1, 1, 1});
        LMK::SubsetAttributesStruct_TYP a{};
        a.surfacePlane[2] = 1.0f;
        a.specialSurface = 1;
        ASSERT_EQ(LRSetSubsetAttributes(plate_->model, 0, 0x5000, &a), S_OK);
        LMK::LightParamsStruct_TYP p;
        LRGetDefaultLightParams(&p);
        p.light.Type = D3DLIGHT_DIRECTIONAL;
        ASSERT_EQ(LRCreateLight(&p, &sun_), S_OK);
        LRInitShadowOptions(&options_);
        options_.quality = 0;
    }
    void TearDown() override
    {
        LRReleaseShadows(1, &plate_);
        LRReleaseLight(&sun_);
        RenderViewTest::TearDown();
    }

    LMK::Object_* plate_ = nullptr;
    LMK::Light_* sun_ = nullptr;
    LMK::ShadowOptionsStruct_TYP options_{};
};

TEST_F(ShadowTargetsTest, HalvesTheLightMapWhenItsTargetsCannotBeMade)
{
    StartFailing({{64, 64}});
    IDirect3DDevice9* device = LMK::CurrentGlobals->devices.primaryDevice->device;
    IDirect3DSurface9* target = nullptr;
    device->GetRenderTarget(0, &target);
    ASSERT_EQ(LRComputeShadows(1, &plate_, 1, &sun_, nullptr, &options_, nullptr, nullptr, false, nullptr, 0),
              S_OK);
    ASSERT_NE(plate_->lightMaps[0], nullptr);
    EXPECT_EQ(plate_->lightMaps[0]->width, 32u);
    EXPECT_EQ(plate_->lightMaps[0]->height, 32u);
    EXPECT_EQ(plate_->lightMaps[0]->baked, 1);
    IDirect3DSurface9* after = nullptr;
    device->GetRenderTarget(0, &after);
    EXPECT_EQ(after, target);
    after->Release();
    target->Release();
}

TEST_F(ShadowTargetsTest, DropsTheRecordWhenHalfSizeFailsToo)
{
    StartFailing({{64, 64}, {32, 32}});
    IDirect3DDevice9* device = LMK::CurrentGlobals->devices.primaryDevice->device;
    IDirect3DSurface9 *target = nullptr, *depth = nullptr;
    device->GetRenderTarget(0, &target);
    device->GetDepthStencilSurface(&depth);
    ASSERT_EQ(LRComputeShadows(1, &plate_, 1, &sun_, nullptr, &options_, nullptr, nullptr, false, nullptr, 0),
              S_OK);
    EXPECT_EQ(plate_->lightMaps[0], nullptr);
    IDirect3DSurface9 *targetAfter = nullptr, *depthAfter = nullptr;
    device->GetRenderTarget(0, &targetAfter);
    device->GetDepthStencilSurface(&depthAfter);
    EXPECT_EQ(targetAfter, target);
    EXPECT_EQ(depthAfter, depth);
    EXPECT_EQ(LMK::LightMapDepthSurface, nullptr);
    for (IDirect3DSurface9* s : {target, depth, targetAfter, depthAfter})
        if (s) s->Release();
}
} // namespace

namespace
{
TEST_F(ShadowsTest, VisibilityPassScansTheImageToItsLastColumn)
{
    // An orthographic camera one world unit per pixel over a 64 x 64 image: pixel column i samples
    // x = i - 32, so a strip over 30.6 < x < 31.4 shows in the last column only.
    LMK::Object_* strip = AddQuad({D3DXVECTOR3(30.6f, -5, 0), D3DXVECTOR3(31.4f, -5, 0),
                                   D3DXVECTOR3(31.4f, 5, 0), D3DXVECTOR3(30.6f, 5, 0)},
                                  {1, 1, 1, 1});
    LMK::SubsetAttributesStruct_TYP a{};
    a.surfacePlane[2] = 1.0f;
    a.specialSurface = 1;
    ASSERT_EQ(LRSetSubsetAttributes(strip->model, 0, 0x5000, &a), S_OK);
    scene_ = {strip};
    LMK::View_* camera = nullptr;
    const D3DXVECTOR3 eye(0, 0, 10), at(0, 0, 0), up(0, 1, 0);
    ASSERT_EQ(LRCreateView(&eye, &at, &up, 1, 64, 64, 0.5f, 50, &camera), S_OK);
    LMK::Light_* sun = Sun({0, 0, -1});
    ASSERT_EQ(
        LRComputeShadows(1, scene_.data(), 1, &sun, nullptr, &options_, nullptr, nullptr, false, camera, 64),
        S_OK);
    ASSERT_NE(strip->lightMaps[0], nullptr);
    EXPECT_EQ(strip->lightMaps[0]->baked, 1);
    LRReleaseView(&camera);
}
} // namespace
