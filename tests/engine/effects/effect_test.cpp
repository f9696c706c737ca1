// The default effect made at start, its per-device copies, technique selection and the light
// parameters a model draw fills.
#include <gtest/gtest.h>

#include <string>

#include "../core/engine_fixture.h"
#include "engine/core/effect.h"
#include "engine/core/resource_links.h"
#include "engine/render/effect_lights.h"

namespace
{
class EffectTest : public enginetest::EngineTest
{
protected:
    void Start(int adapters = 1)
    {
        std::vector<ferolt::hooks::D3D9Adapter> list;
        for (int i = 0; i < adapters; ++i)
        {
            list.push_back(enginetest::SmallAdapter(64 * i));
            list.back().maxActiveLights = 16;
        }
        enginetest::UseAdapters(list);
        ASSERT_EQ(LRStart(nullptr), S_OK);
        root = LMK::CurrentGlobals;
        device = root->devices.primaryDevice->device;
    }
    LMK::Effect_* Create(const std::string& text)
    {
        LMK::Effect_* effect = nullptr;
        EXPECT_EQ(LRCreateEffect(text.data(), static_cast<DWORD>(text.size()), &effect), S_OK);
        return effect;
    }
    static LMK::DeviceSpecificEffectData_* Primary(LMK::Effect_* effect)
    {
        return static_cast<LMK::DeviceSpecificEffectData_*>(effect->primaryData.get());
    }

    LMK::AllGlobals_* root = nullptr;
    IDirect3DDevice9* device = nullptr;
};

TEST_F(EffectTest, DefaultEffectIsMadeAtStartWithEveryHandle)
{
    Start();
    LMK::Effect_* effect = root->defaultEffect;
    ASSERT_NE(effect, nullptr);
    ASSERT_EQ(root->effects.size(), 1u);
    EXPECT_EQ(root->effects[0], effect);
    EXPECT_EQ(effect->techniqueCount, 2u);
    EXPECT_EQ(effect->loadRecord, nullptr);
    LMK::DeviceSpecificEffectData_* data = Primary(effect);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->device, device);
    for (D3DXHANDLE h : data->lightCounts)
        EXPECT_NE(h, nullptr);
    for (auto& light : data->lightHandles)
        for (D3DXHANDLE h : light)
            EXPECT_NE(h, nullptr);
}

// Each technique keeps its own verdict: a lit technique that needs shaders is refused without
// deciding for the unlit one, and is never set afterwards. A state index past the techniques is
// refused instead of read past the state table.
TEST_F(EffectTest, TechniquesAreJudgedOncePerStateIndex)
{
    Start();
    LMK::Effect_* effect =
        Create("ferolt-effect 1\nparam int iLightNum\ntechnique DX9FixedFuncReplacementEffect 1 shaders\n"
               "technique DX9FixedFuncReplacementEffectNoLs 1\n");
    ASSERT_NE(effect, nullptr);
    LMK::DeviceSpecificEffectData_* data = Primary(effect);
    ID3DXEffect* fx = data->effect;
    EXPECT_EQ(data->SelectTechnique(LMK::kUnlitTechniqueState, LMK::kUnlitTechnique), 1);
    EXPECT_EQ(fx->GetCurrentTechnique(), fx->GetTechniqueByName(LMK::kUnlitTechnique));
    EXPECT_EQ(data->SelectTechnique(LMK::kLitTechniqueState, LMK::kLitTechnique), 0);
    EXPECT_EQ(data->SelectTechnique(LMK::kLitTechniqueState, LMK::kLitTechnique), 0);
    EXPECT_EQ(fx->GetCurrentTechnique(), fx->GetTechniqueByName(LMK::kUnlitTechnique)) << "never set";
    EXPECT_EQ(data->techniqueState, (std::vector<BYTE>{1, 0, 1, 1}));
    EXPECT_EQ(data->SelectTechnique(2, LMK::kUnlitTechnique), 0);
    EXPECT_EQ(data->SelectTechnique(0xFFFFFFFF, LMK::kUnlitTechnique), 0);

    // An effect without some light parameters still loads; their handles are null.
    EXPECT_EQ(data->lightCounts[0] != nullptr, true);
    EXPECT_EQ(data->lightCounts[1], nullptr);
    EXPECT_EQ(data->lightHandles[3][7], nullptr);

    ASSERT_EQ(root->effects.size(), 2u);
    LMK::ReleaseEffect(&effect);
    EXPECT_EQ(effect, nullptr);
    ASSERT_EQ(root->effects.size(), 1u) << "the last release leaves the root's list";
    EXPECT_EQ(root->effects[0], root->defaultEffect);
}

TEST_F(EffectTest, CreationFailuresAndCopiesForOtherDevices)
{
    Start(2);
    LMK::Effect_* effect = reinterpret_cast<LMK::Effect_*>(1);
    const char bad[] = "not an effect";
    EXPECT_LT(LRCreateEffect(bad, sizeof(bad), &effect), 0);
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(LRCreateEffect(nullptr, 4, &effect), E_INVALIDARG);
    EXPECT_EQ(LRCreateEffect(bad, sizeof(bad), nullptr), E_INVALIDARG);

    ASSERT_EQ(root->devices.requests.devices.size(), 2u);
    IDirect3DDevice9* second = root->devices.requests.devices[1]->device;
    LMK::Effect_* fx = root->defaultEffect;
    auto* copy = static_cast<LMK::DeviceSpecificEffectData_*>(fx->GetDataForDevice(second, nullptr, nullptr));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->device, second);
    ASSERT_NE(copy->effect, nullptr);
    EXPECT_NE(copy->effect, Primary(fx)->effect);
    EXPECT_NE(copy->lightHandles[9][7], nullptr);
    EXPECT_EQ(fx->GetDataForDevice(second, nullptr, nullptr), copy) << "made once";
    fx->OnCached();
    EXPECT_TRUE(fx->secondaryData.empty());
    EXPECT_EQ(fx->GetDataForDevice(nullptr, nullptr, nullptr), nullptr) << "no copy without an effect";
    EXPECT_TRUE(fx->secondaryData.empty());
}

// With 12 enabled lights the effect gets the first 10 in device order, directional first, then
// point, then spot; a disabled light is passed over.
TEST_F(EffectTest, ModelDrawFillsTheLightsAndPicksTheTechniqueByLighting)
{
    Start();
    const D3DLIGHTTYPE types[13] = {
        D3DLIGHT_SPOT,        D3DLIGHT_POINT, D3DLIGHT_DIRECTIONAL, D3DLIGHT_POINT, D3DLIGHT_DIRECTIONAL,
        D3DLIGHT_SPOT,        D3DLIGHT_POINT, D3DLIGHT_POINT,       D3DLIGHT_SPOT,  D3DLIGHT_POINT,
        D3DLIGHT_DIRECTIONAL, D3DLIGHT_POINT, D3DLIGHT_POINT};
    for (DWORD k = 0; k < 13; ++k)
    {
        D3DLIGHT9 light{};
        light.Type = types[k];
        light.Diffuse = {1, 1, 1, 1};
        light.Direction = {0, 0, -1};
        light.Range = static_cast<float>(k); // tells the lights apart
        light.Theta = 1.0f;
        light.Phi = 2.0f;
        ASSERT_EQ(device->SetLight(k, &light), D3D_OK);
        ASSERT_EQ(device->LightEnable(k, k != 1), D3D_OK);
    }
    LMK::RenderViewStruct_TYP view{};
    view.lightsUsed = 13;
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    LMK::PrepareEffectForDraw(root->defaultEffect, device, &view, nullptr);

    LMK::DeviceSpecificEffectData_* data = Primary(root->defaultEffect);
    ID3DXEffect* fx = data->effect;
    EXPECT_EQ(fx->GetCurrentTechnique(), fx->GetTechniqueByName(LMK::kLitTechnique));
    // Enabled, in device order, until ten: 0 S, 2 D, 3 P, 4 D, 5 S, 6 P, 7 P, 8 S, 9 P, 10 D.
    const INT counts[5] = {10, 3, 3, 4, 7};
    for (int i = 0; i < 5; ++i)
    {
        INT n = -1;
        ASSERT_EQ(fx->GetInt(data->lightCounts[i], &n), D3D_OK);
        EXPECT_EQ(n, counts[i]) << i;
    }
    const float ranges[10] = {2, 4, 10, 3, 6, 7, 9, 0, 5, 8};
    for (int j = 0; j < 10; ++j)
    {
        float attenuation[4] = {};
        ASSERT_EQ(fx->GetValue(data->lightHandles[j][6], attenuation, 16), D3D_OK);
        EXPECT_EQ(attenuation[3], ranges[j]) << "effect light " << j;
    }
    float spot[3] = {};
    ASSERT_EQ(fx->GetValue(data->lightHandles[7][7], spot, 12), D3D_OK);
    EXPECT_FLOAT_EQ(spot[0], std::cos(0.5f));
    EXPECT_FLOAT_EQ(spot[1], std::cos(1.0f));

    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    LMK::PrepareEffectForDraw(root->defaultEffect, device, &view, nullptr);
    EXPECT_EQ(fx->GetCurrentTechnique(), fx->GetTechniqueByName(LMK::kUnlitTechnique));
}
} // namespace
