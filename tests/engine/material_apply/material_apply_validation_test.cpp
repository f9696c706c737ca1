// What a device accepts decides the set-up: verdicts cached per device, known failures pruned before
// anything is written, the states-valid answer on the first and on later frames, the weight stage, and
// the state application sets around the stages.
#include "tests/engine/material_apply/material_apply_fixture.h"

#include <limits>

#include "engine/core/globals.h"
#include "engine/core/texture_stage_setups.h"

using namespace applytest;

namespace
{
constexpr uint32_t kBase = 0xFF4080C0;
constexpr uint32_t kReflection = 0xFF608040;
constexpr uint32_t kLightMap = 0xFFC0A080;
constexpr uint32_t kBump = 0x0040;

struct FrameCase
{
    const char* name;
    DWORD stages;
    bool base, reflection, bump, lightMap;
    float weight;
    BYTE statesValid[2]; // first frame, later frames
    DWORD rejected;      // set-up recorded as not valid (0xFF: none)
    DWORD used;          // set-up drawn on later frames
    DWORD blendValid;    // verdict on the weight stage of `used` (0xFF: none asked)
};

const FrameCase kFrames[] = {
    // 0x15 needs three stages: recorded as rejected, 0x11 draws; the bump is lost on every frame.
    {"TwoStagesDropBump", 2, true, false, true, true, 1, {0, 0}, 0x15, 0x11, 0xFF},
    {"EightStagesKeepBump", 8, true, false, true, true, 1, {1, 1}, 0xFF, 0x15, 0xFF},
    // 0x12 on two stages: the weight stage is refused, the reflection shows at full strength.
    {"WeightRefused", 2, false, true, false, true, 0.5f, {0, 0}, 0xFF, 0x12, 0},
    // ... which loses nothing when the weight is 1: the blend would have selected the reflection alone.
    {"WeightRefusedAtFullWeight", 2, false, true, false, true, 1.0f, {1, 1}, 0xFF, 0x12, 0},
    // 0x07 needs four stages. Later frames prune the bump and reach 0x03, whose weight stage is accepted:
    // the bump is still lost.
    {"AcceptedWeightAfterPruning", 3, true, true, true, false, 0.5f, {0, 0}, 0x07, 0x03, 1},
};

void PrintTo(const FrameCase& c, std::ostream* os)
{
    *os << c.name;
}

class FrameTest : public ApplyTest, public ::testing::WithParamInterface<FrameCase>
{
};

TEST_P(FrameTest, StatesValidOnFirstAndLaterFrames)
{
    const FrameCase& c = GetParam();
    Start(c.stages);
    MaterialPtr m = ColourMaterial({0.5f, 0.75f, 1.0f, 1.0f});
    m->reflectionWeight = c.weight;
    if (c.base) m->baseTexture = Texture(0, kBase);
    if (c.reflection) m->reflectionTexture = Texture(1, kReflection);
    if (c.bump) m->bumpTexture = Texture(2, kBump, kBump, D3DFMT_V8U8);
    if (c.lightMap) context_.lightMap = Texture(4, kLightMap);

    for (int frame = 0; frame < 3; ++frame)
    {
        EXPECT_EQ(m->Apply(&context_, nullptr), 1u);
        EXPECT_EQ(context_.statesValid, c.statesValid[frame == 0 ? 0 : 1]) << "frame " << frame;
        // Whatever was chosen, the device takes it.
        DWORD passes = 0;
        EXPECT_EQ(device_->ValidateDevice(&passes), D3D_OK) << "frame " << frame;
    }
    if (c.rejected != 0xFF)
    {
        EXPECT_TRUE(Entry(c.rejected).tested);
        EXPECT_FALSE(Entry(c.rejected).valid);
    }
    EXPECT_TRUE(Entry(c.used).tested && Entry(c.used).valid);
    if (c.blendValid != 0xFF)
    {
        EXPECT_TRUE(Entry(c.used).blendTested);
        EXPECT_EQ(Entry(c.used).blendValid, c.blendValid);
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, FrameTest, ::testing::ValuesIn(kFrames),
                         [](const auto& info) { return std::string(info.param.name); });

// The pruned set-up draws what it says: on two stages, base under light map; the refused weight stage
// leaves the reflection at full strength under the light map.
TEST_F(ApplyTest, TwoStageDevicesDrawThePrunedSetUps)
{
    Start(2);
    MaterialPtr lit = ColourMaterial({0.5f, 0.75f, 1.0f, 1.0f});
    lit->baseTexture = Texture(0, kBase);
    lit->bumpTexture = Texture(2, kBump, kBump, D3DFMT_V8U8);
    context_.lightMap = Texture(4, kLightMap);
    const Rgba b = FromArgb(kBase), r = FromArgb(kReflection), l = FromArgb(kLightMap);
    for (int frame = 0; frame < 2; ++frame)
    {
        lit->Apply(&context_, nullptr);
        for (uint32_t p : Draw())
            EXPECT_TRUE(Near(p, ToArgb({b.r * l.r, b.g * l.g, b.b * l.b, b.a}))) << std::hex << p;
    }

    MaterialPtr mirror = ColourMaterial({0.5f, 0.75f, 1.0f, 1.0f});
    mirror->reflectionTexture = Texture(1, kReflection);
    mirror->reflectionWeight = 0.5f;
    mirror->Apply(&context_, nullptr);
    DWORD op = 0;
    device_->GetTextureStageState(2, D3DTSS_COLOROP, &op);
    EXPECT_EQ(op, static_cast<DWORD>(D3DTOP_DISABLE));
    for (uint32_t p : Draw())
        EXPECT_TRUE(Near(p, ToArgb({r.r * l.r, r.g * l.g, r.b * l.b, 1.0f}))) << std::hex << p;
}

TEST(TextureFactors, WeightsAndHeightsAreClampedIntoTheirBytes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        float x;
        DWORD grey, alpha, whiteAlpha;
    } cases[] = {
        {0.0f, 0x00000000, 0x00000000, 0x00FFFFFF},   {0.5f, 0x7F7F7F7F, 0x7F000000, 0x7FFFFFFF},
        {1.0f, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF},   {1.5f, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF},
        {300.0f, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}, {-0.5f, 0x00000000, 0x00000000, 0x00FFFFFF},
        {nan, 0x00000000, 0x00000000, 0x00FFFFFF},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(LMK::FactorGrey(c.x), c.grey) << c.x;
        EXPECT_EQ(LMK::FactorAlpha(c.x), c.alpha) << c.x;
        EXPECT_EQ(LMK::FactorWhiteAlpha(c.x), c.whiteAlpha) << c.x;
    }
}

TEST_F(ApplyTest, OutOfRangeWeightFromAFileStaysInItsByte)
{
    Start(8);
    MaterialPtr m = ColourMaterial({1, 1, 1, 1});
    m->flags = LMK::kMaterialAdditiveReflection;
    m->reflectionTexture = Texture(1, kReflection);
    for (const auto& [weight, factor] : {std::pair{2.0f, 0xFFFFFFFFu}, std::pair{-1.0f, 0u}})
    {
        m->reflectionWeight = weight;
        m->Apply(&context_, nullptr);
        DWORD set = 1;
        device_->GetRenderState(D3DRS_TEXTUREFACTOR, &set);
        EXPECT_EQ(set, factor) << weight;
    }
}

// The device material each mode makes of the same material.
TEST_F(ApplyTest, DeviceMaterialByMode)
{
    Start(8);
    LMK::MaterialTextureAccess.averageColor = [](LMK::Texture_*, D3DCOLORVALUE* out)
    {
        *out = D3DCOLORVALUE{0.2f, 0.4f, 0.6f, 0.8f};
        return true;
    };
    const struct
    {
        const char* name;
        DWORD mode;
        bool lightMap, finalPass, averageColor;
        D3DCOLORVALUE diffuse, ambient;
    } cases[] = {
        {"Textured", 0, false, false, false, {0.5f, 0.75f, 1.0f, 0.5f}, {0.5f, 0.75f, 1.0f, 1.0f}},
        {"UnderLightMap", 0, true, false, false, {0, 0, 0, 0.5f}, {0, 0, 0, 1.0f}},
        {"MirrorInFinalPass", 0, false, true, false, {0.5f, 0.75f, 1.0f, 0.75f}, {0.5f, 0.75f, 1.0f, 1.0f}},
        {"AverageColour", 1, false, false, true, {0.2f, 0.4f, 0.6f, 0.8f}, {0.5f, 0.75f, 1.0f, 1.0f}},
        // Translucent in light-map baking: the diffuse becomes ambient, its alpha scaled by the weight
        // 0.5, and the ambient raised by 1 - 0.5.
        {"Baking", 3, false, false, false, {0, 0, 0, 0.25f}, {1.0f, 1.25f, 1.5f, 0.5f}},
    };
    for (const auto& c : cases)
    {
        MaterialPtr m = ColourMaterial({0.5f, 0.75f, 1.0f, 0.5f});
        m->flags = LMK::kMaterialMirror;
        m->mirrorReflectivity = 0.25f;
        m->baseTexture = Texture(0, kBase);
        LMK::RenderViewStruct_TYP view{};
        view.lightMapWeight = 0.5f;
        view.averageColor = c.averageColor;
        context_.view = &view;
        context_.displayMode = c.mode;
        context_.finalPass = c.finalPass;
        context_.lightMap = c.lightMap ? Texture(4, kLightMap) : nullptr;
        m->Apply(&context_, nullptr);
        D3DMATERIAL9 set{};
        device_->GetMaterial(&set);
        EXPECT_EQ(std::memcmp(&set, &m->lastApplied, sizeof(set)), 0) << c.name;
        const float* want[2] = {&c.diffuse.r, &c.ambient.r};
        const float* got[2] = {&set.Diffuse.r, &set.Ambient.r};
        for (int k = 0; k < 2; ++k)
            for (int i = 0; i < 4; ++i)
                EXPECT_FLOAT_EQ(got[k][i], want[k][i]) << c.name << (k ? " ambient " : " diffuse ") << i;
    }
}

// The stage transforms take the engine's magnification filter unless a record asks for points, and an
// animated record keeps the viewer redrawing.
TEST_F(ApplyTest, FiltersAndAnimatedTextureFlag)
{
    Start(8);
    LMK::CurrentGlobals->magFilter = D3DTEXF_POINT;
    MaterialPtr m = ColourMaterial({1, 1, 1, 1});
    m->baseTexture = Texture(0, kBase);
    BYTE animating = 0;
    LMK::RenderViewStruct_TYP view{};
    view.textureEffectFlag = &animating;
    view.surfaceColor = 0xFFFFFFFF;
    context_.view = &view;

    DWORD filter = 0;
    m->Apply(&context_, nullptr);
    device_->GetSamplerState(0, D3DSAMP_MAGFILTER, &filter);
    EXPECT_EQ(filter, static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(animating, 0);

    m->baseTransform = std::make_unique<LMK::TextureTransformStruct_TYP>();
    LMK::TextureTransformStruct_TYP& record = *m->baseTransform;
    LMK::SetIdentityTextureTransform(&record);
    record.animated = 1;
    record.speed = 0.0f;
    LMK::CurrentGlobals->magFilter = D3DTEXF_LINEAR;
    m->Apply(&context_, nullptr);
    EXPECT_EQ(animating, 0) << "a record that does not move";
    device_->GetSamplerState(0, D3DSAMP_MAGFILTER, &filter);
    EXPECT_EQ(filter, static_cast<DWORD>(D3DTEXF_LINEAR));

    record.speed = 2.0f;
    record.pointFilter = 1;
    m->Apply(&context_, nullptr);
    EXPECT_EQ(animating, 1);
    device_->GetSamplerState(0, D3DSAMP_MAGFILTER, &filter);
    EXPECT_EQ(filter, static_cast<DWORD>(D3DTEXF_POINT));
}
} // namespace
