// Texture effects: each effect's matrix at given cycle fractions, the cycle on the material's clock,
// and the stage set-up of a record through the root's table.
#include <gtest/gtest.h>

#include <string>

#include "../core/engine_fixture.h"
#include "engine/core/texture_effects.h"
#include "platform/win32/mmsystem.h"

namespace
{
constexpr float kTolerance = 1e-6f;

D3DXMATRIX Translated(D3DXMATRIX m, float x, float y)
{
    m._41 = x;
    m._42 = y;
    return m;
}

D3DXMATRIX Scaled(float sx, float sy, float x, float y)
{
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, sx, sy, 1.0f);
    return Translated(m, x, y);
}

void ExpectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, const std::string& what)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(static_cast<const float*>(actual)[i], static_cast<const float*>(expected)[i], 1e-5f)
            << what << " element " << i;
}

TEST(TextureEffect, MatricesFollowEachEffectsRule)
{
    const LMK::CFloatingTexEffect floating;
    const LMK::CSubPicAnimTexEffect sheet;
    const LMK::CSpiralEffect spiral;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    // Spiral, a quarter of the way with one turn per cycle and scale 1 to 3: (u, v) -> centred,
    // turned a quarter, scaled 1.5, moved by 0.5 / 1.5: rows (0, 1.5), (-1.5, 0), offset (13/12, -5/12).
    D3DXMATRIX quarterSpiral = identity;
    quarterSpiral._11 = 0.0f;
    quarterSpiral._12 = 1.5f;
    quarterSpiral._21 = -1.5f;
    quarterSpiral._22 = 0.0f;
    quarterSpiral._33 = 1.5f;
    quarterSpiral = Translated(quarterSpiral, 0.75f + 1.0f / 3.0f, -0.75f + 1.0f / 3.0f);
    struct Case
    {
        const char* name;
        const LMK::CTexEffect* effect;
        float t;
        float p[3];
        D3DXMATRIX expected;
    } cases[] = {
        {"floating at 0", &floating, 0.0f, {3, 5, 0}, identity},
        {"floating halfway", &floating, 0.5f, {2, 4, 0}, Translated(identity, 1, 2)},
        {"sheet 4 x 2 at 0.6", &sheet, 0.6f, {4, 2, 0}, Scaled(0.25f, 0.5f, 0, 0.5f)},
        {"sheet 4 x 2 at 0.95", &sheet, 0.95f, {4, 2, 0}, Scaled(0.25f, 0.5f, 0.75f, 0.5f)},
        {"sheet side truncated", &sheet, 0.6f, {4.9f, 2.5f, 0}, Scaled(0.25f, 0.5f, 0, 0.5f)},
        {"sheet without columns", &sheet, 0.6f, {0, 2, 0}, Scaled(1, 0.5f, 0, 0.5f)},
        {"sheet with negative columns", &sheet, 0.6f, {-3, 2, 0}, Scaled(1, 0.5f, 0, 0.5f)},
        {"sheet with negative rows", &sheet, 0.7f, {4, -8, 0}, Scaled(0.25f, 1, 0.5f, 0)},
        {"spiral without scale", &spiral, 0.0f, {1, 0, 0}, identity},
        {"spiral a quarter", &spiral, 0.25f, {1, 1, 3}, quarterSpiral},
    };
    for (const Case& c : cases)
    {
        D3DXMATRIX m;
        EXPECT_EQ(c.effect->ComputeMatrix(c.t, c.p, nullptr, &m), &m);
        ExpectMatrixNear(m, c.expected, c.name);
    }
}

TEST(TextureEffect, ParameterInfo)
{
    const LMK::CFloatingTexEffect floating;
    const LMK::CSubPicAnimTexEffect sheet;
    const LMK::CSpiralEffect spiral;
    struct Case
    {
        const LMK::CTexEffect* effect;
        DWORD count;
        std::vector<float> defaults, minimums, maximums;
    } cases[] = {
        {&floating, 2, {1, 1}, {0, 0}, {1000, 1000}},
        {&sheet, 2, {1, 1}, {1, 1}, {10, 10}},
        {&spiral, 3, {1, 1, 1}, {0, 0.01f, 0.01f}, {100, 100, 100}},
    };
    for (const Case& c : cases)
    {
        DWORD count = 0;
        const float *d = nullptr, *lo = nullptr, *hi = nullptr;
        const void* further[2] = {&count, &count};
        c.effect->GetParameterInfo(&count, &d, &lo, &hi, &further[0], &further[1]);
        ASSERT_EQ(count, c.count);
        EXPECT_EQ(std::vector<float>(d, d + count), c.defaults);
        EXPECT_EQ(std::vector<float>(lo, lo + count), c.minimums);
        EXPECT_EQ(std::vector<float>(hi, hi + count), c.maximums);
        EXPECT_EQ(further[0], nullptr);
        EXPECT_EQ(further[1], nullptr);
        c.effect->GetParameterInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
}

TEST(TextureEffect, CycleOnTheMaterialClock)
{
    struct Case
    {
        const char* name;
        DWORD elapsedMs;
        float speed;
        bool pingPong;
        float expected;
    } cases[] = {
        {"even cycle", 1250, 2.0f, true, 0.5f},
        {"odd cycle mirrored", 1750, 2.0f, true, 0.5f},
        {"odd cycle mirrored off centre", 1600, 2.0f, true, 0.8f},
        {"odd cycle without ping-pong", 1600, 2.0f, false, 0.2f},
        {"no speed", 123456, 0.0f, true, 0.0f},
        {"backwards", 250, -1.0f, false, 0.75f},
        {"count past 32 bits", 4294967000u, 1000.5f, false, 0.5f},
        {"infinite speed", 1000, INFINITY, false, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(LMK::TextureEffectCycle(c.elapsedMs, c.speed, c.pingPong), c.expected, kTolerance)
            << c.name;
}

class StageTest : public enginetest::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ferolt::hooks::InstallManualClock(100000);
        ASSERT_EQ(LRStart(nullptr), S_OK);
        device = LMK::CurrentGlobals->devices.primaryDevice->device;
    }
    void TearDown() override
    {
        EngineTest::TearDown();
        ferolt::hooks::RemoveManualClock();
    }
    D3DXMATRIX Texture(DWORD stage)
    {
        D3DXMATRIX m;
        device->GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + stage), &m);
        return m;
    }
    DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type)
    {
        DWORD v = 0;
        device->GetTextureStageState(stage, type, &v);
        return v;
    }
    IDirect3DDevice9* device = nullptr;
};

// The root's table drives the stage: the record's effect index picks the effect, an index past the
// table falls back to entry 0, and a running record keeps the viewer redrawing.
TEST_F(StageTest, AnimatedRecordRunsOnItsMaterialsClock)
{
    LMK::AllGlobals_* root = LMK::CurrentGlobals;
    ASSERT_EQ(root->textureEffectCount, 3u);
    EXPECT_NE(dynamic_cast<LMK::CFloatingTexEffect*>(root->textureEffects[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<LMK::CSubPicAnimTexEffect*>(root->textureEffects[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<LMK::CSpiralEffect*>(root->textureEffects[2].get()), nullptr);

    LMK::TextureTransformStruct_TYP record{};
    LMK::SetIdentityTextureTransform(&record);
    record.matrix._11 = 2.0f; // the record's own matrix comes first
    record.animated = 1;
    record.speed = 2.0f;
    record.pingPong = 1;
    record.effectParams[0] = 1.0f;
    record.effectParams[1] = 4.0f;
    const DWORD start = timeGetTime() - 1600; // x = 3.2: odd, mirrored to 0.8
    BYTE animating = 0;
    LMK::SetupStageThroughTextureEffect(0, nullptr, device, start, &record, &animating, 1, 0, 2);
    EXPECT_EQ(animating, 1);
    D3DXMATRIX expected;
    D3DXMatrixIdentity(&expected);
    expected._11 = 2.0f;
    expected._31 = expected._41 = 0.8f;
    expected._32 = expected._42 = 3.2f;
    ExpectMatrixNear(Texture(1), expected, "floating, first stage");
    ExpectMatrixNear(Texture(3), expected, "floating, second stage");
    EXPECT_EQ(StageState(3, D3DTSS_TEXTURETRANSFORMFLAGS), static_cast<DWORD>(D3DTTFF_COUNT2));

    ferolt::hooks::AdvanceClock(150); // x = 3.5: mirrored to 0.5
    record.matrix._11 = 1.0f;
    record.effectParams[1] = 2.0f;
    LMK::SetupStageThroughTextureEffect(1, nullptr, device, start, &record, nullptr, 0, 0, 0);
    expected = Scaled(1, 0.5f, 0, 0.5f);
    expected._32 = 0.5f; // two-component coordinates take the translation from the third row
    ExpectMatrixNear(Texture(0), expected, "sheet");
    LMK::SetupStageThroughTextureEffect(7, nullptr, device, start, &record, nullptr, 0, 0, 0);
    D3DXMatrixIdentity(&expected);
    expected._31 = expected._41 = 0.5f;
    expected._32 = expected._42 = 1.0f;
    ExpectMatrixNear(Texture(0), expected, "an index past the table");

    record.speed = 0.0f;
    animating = 0;
    LMK::SetupStageThroughTextureEffect(0, nullptr, device, start, &record, &animating, 0, 0, 0);
    EXPECT_EQ(animating, 0) << "a record that does not move";
    D3DXMatrixIdentity(&expected);
    ExpectMatrixNear(Texture(0), expected, "no speed");

    LMK::SetupStageThroughTextureEffect(0, nullptr, device, start, nullptr, &animating, 2, 0, 0);
    ExpectMatrixNear(Texture(2), expected, "no record");
    DWORD address = 0;
    device->GetSamplerState(2, D3DSAMP_ADDRESSU, &address);
    EXPECT_EQ(address, static_cast<DWORD>(D3DTADDRESS_WRAP));
}
} // namespace
