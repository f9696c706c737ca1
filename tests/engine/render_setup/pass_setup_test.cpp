// The pass set-up of a part's device: lights, fixed states, clears and background, clip planes, all
// read back through the device.
#include "render_setup_fixture.h"

#include <cstring>

#include "engine/core/devices.h"
#include "engine/core/light.h"
#include "engine/render/pass_setup.h"

namespace
{
using namespace rendertest;

class PassSetupTest : public RenderSetupTest
{
protected:
    void SetUp() override
    {
        RenderSetupTest::SetUp();
        LMK::EnabledLightCount = 0;
        device = LMK::CurrentGlobals->devices.primaryDevice->device;
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(
            device->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, &target, nullptr),
            S_OK);
        ASSERT_EQ(device->CreateDepthStencilSurface(4, 4, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, FALSE, &depth,
                                                    nullptr),
                  S_OK);
        device->SetRenderTarget(0, target);
        device->SetDepthStencilSurface(depth);
        MakeCamera({0, 0, -10}, {0, 0, 0});
        view.allLightsFlag = &allLights;
    }
    void TearDown() override
    {
        for (LMK::Light_* l : lights)
            l->Release();
        if (target) target->Release();
        if (depth) depth->Release();
        LMK::EnabledLightCount = 0;
        RenderSetupTest::TearDown();
    }

    LMK::PassSetupStruct_TYP Setup(DWORD mode, const D3DXMATRIX* mirror = nullptr,
                                   const D3DXPLANE* mirrorPlane = nullptr)
    {
        return {device,
                nullptr,
                &view,
                mode,
                DWORD(lights.size()),
                lights.empty() ? nullptr : lights.data(),
                DWORD(objects.size()),
                objects.empty() ? nullptr : objects.data(),
                mirror,
                mirrorPlane,
                &pass,
                false};
    }
    void AddLights(int n)
    {
        for (int i = 0; i < n; ++i)
            lights.push_back(new LMK::Light_());
    }
    std::vector<bool> Enabled(DWORD n)
    {
        std::vector<bool> out;
        for (DWORD i = 0; i < n; ++i)
        {
            BOOL on = FALSE;
            device->GetLightEnable(i, &on);
            out.push_back(on != FALSE);
        }
        return out;
    }
    D3DLIGHT9 Light(DWORD i)
    {
        D3DLIGHT9 l{};
        EXPECT_EQ(device->GetLight(i, &l), S_OK);
        return l;
    }
    DWORD State(D3DRENDERSTATETYPE s)
    {
        DWORD v = 0;
        device->GetRenderState(s, &v);
        return v;
    }
    D3DCOLOR Pixel()
    {
        D3DLOCKED_RECT r{};
        EXPECT_EQ(target->LockRect(&r, nullptr, D3DLOCK_READONLY), S_OK);
        D3DCOLOR c = 0;
        std::memcpy(&c, r.pBits, sizeof c);
        target->UnlockRect();
        return c;
    }

    IDirect3DDevice9* device = nullptr;
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
    std::vector<LMK::Light_*> lights;
    LMK::PassContextStruct_TYP pass{};
    BYTE allLights = 1;
};

struct LightCase
{
    const char* name;
    DWORD mode;
    int lightCount;
    BYTE cameraLight;
    INT limit;
    std::vector<bool> expectedEnabled; // device lights 0 to 11
    DWORD expectedUsed;
    BYTE expectedAllLights;
};

TEST_F(PassSetupTest, SetsSceneLightsWithinTheDeviceLimit)
{
    const std::vector<bool> none(12, false);
    std::vector<bool> firstTen(12, true), firstEight(12, true), first(12, false);
    firstTen[10] = firstTen[11] = false;
    for (int i = 8; i < 12; ++i)
        firstEight[i] = false;
    first[0] = true;
    const LightCase cases[] = {
        {"ten lights, no limit", 0, 10, 0, -1, firstTen, 10, 1},
        {"ten lights, eight allowed", 0, 10, 0, 8, firstEight, 10, 0},
        {"no lights, camera light", 1, 0, 1, 8, first, 1, 1},
        {"no lights, no camera light", 1, 0, 0, 8, none, 0, 1},
        {"camera light on a device without lights", 0, 0, 1, 0, first, 1, 0},
        {"light-map baking always takes the camera light", 3, 0, 0, 8, first, 1, 1},
        {"hidden lines use no lights", 0x102, 3, 1, 8, none, 0, 1},
        {"ID colours use no lights", 8, 3, 1, 8, none, 0, 1},
        {"wire fill still carried: lights but no light points",
         0x10000,
         2,
         0,
         8,
         {true, true, false, false, false, false, false, false, false, false, false, false},
         2,
         1},
    };
    for (const LightCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        for (LMK::Light_* l : lights)
            l->Release();
        lights.clear();
        AddLights(c.lightCount);
        view.cameraLight = c.cameraLight;
        LMK::CurrentGlobals->devices.activeLightLimit = c.limit;
        allLights = 1;
        // A previous pass with twelve lights leaves them all for this pass to switch off.
        D3DLIGHT9 stale{};
        stale.Type = D3DLIGHT_POINT;
        stale.Range = 1.0f;
        for (DWORD i = 0; i < 12; ++i)
        {
            device->SetLight(i, &stale);
            device->LightEnable(i, TRUE);
        }
        LMK::EnabledLightCount = 12;
        EXPECT_EQ(LMK::SetUpPassLights(Setup(c.mode)), c.expectedUsed);
        EXPECT_EQ(Enabled(12), c.expectedEnabled);
        EXPECT_EQ(DWORD{view.lightsUsed}, c.expectedUsed);
        EXPECT_EQ(LMK::EnabledLightCount, c.expectedUsed);
        EXPECT_EQ(allLights, c.expectedAllLights);
        for (DWORD i = 0; i < lights.size() && c.expectedUsed == lights.size(); ++i)
            EXPECT_EQ(lights[i]->deviceLightIndex, i);
    }
}

// The camera light shines along the view, white; in a mirror pass along the mirrored view.
TEST_F(PassSetupTest, CameraLightFollowsTheView)
{
    view.cameraLight = 1;
    LMK::SetUpPassLights(Setup(LMK::DisplayModeTextured));
    D3DLIGHT9 l = Light(0);
    EXPECT_EQ(l.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(l.Direction.z, 1.0f);
    EXPECT_FLOAT_EQ(l.Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(l.Specular.g, 1.0f);
    EXPECT_FLOAT_EQ(l.Ambient.b, 1.0f);

    D3DXMATRIX reflect;
    const D3DXPLANE floor(0, 0, 1, -3);
    D3DXMatrixReflect(&reflect, &floor);
    LMK::SetUpPassLights(Setup(LMK::DisplayModeTextured, &reflect, &floor));
    l = Light(0);
    EXPECT_NEAR(l.Direction.z, -1.0f, 1e-6f);
    EXPECT_NEAR(l.Direction.x, 0.0f, 1e-6f);
}

// A light point without a light of its own becomes a point light in the point's colour scaled by the
// view's intensity, placed through the object's world matrix.
TEST_F(PassSetupTest, LightPointsFollowTheSceneLights)
{
    HRESULT hr = E_FAIL;
    const RawGeometry g = QuadRow(1);
    LMK::RawLightPointStruct_TYP point{{1.0f, 0.5f, 0.0f}, {1, 2, 3}, {}};
    std::vector<LMK::SubsetStruct_TYP> subsets = {scenetest::Subset(0, 2)};
    LMK::Model_* m =
        new LMK::Model_(0, g.vertices.data(), DWORD(g.vertices.size()), g.indices.data(), g.FaceCount(),
                        nullptr, 0, subsets.data(), 1, nullptr, nullptr, &hr, 0, 0, 1, &point, 0, 0);
    ASSERT_EQ(hr, S_OK);
    models.push_back(m);
    Place(m, 10, 0, 0)->lightPointsOn = 1;
    Place(m, 20, 0, 0); // light points off
    float intensity = 0.81f;
    view.lightIntensity = &intensity;
    LMK::CurrentGlobals->devices.activeLightLimit = 8;
    AddLights(2);
    EXPECT_EQ(LMK::SetUpPassLights(Setup(LMK::DisplayModeTextured)), 3u);
    const D3DLIGHT9 l = Light(2);
    EXPECT_EQ(l.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(l.Diffuse.r, 0.81f);
    EXPECT_FLOAT_EQ(l.Diffuse.g, 0.405f);
    EXPECT_FLOAT_EQ(l.Diffuse.b, 0.0f);
    EXPECT_FLOAT_EQ(l.Diffuse.a, m->lightPoints[0].color[3] * 0.81f);
    EXPECT_FLOAT_EQ(l.Specular.r, 0.0f);
    EXPECT_FLOAT_EQ(l.Position.x, 11.0f);
    EXPECT_FLOAT_EQ(l.Position.y, 2.0f);
    EXPECT_FLOAT_EQ(l.Range, 10000.0f);
    EXPECT_FLOAT_EQ(l.Attenuation0, 1.0f);
    EXPECT_EQ(Enabled(4), (std::vector<bool>{true, true, true, false}));
}

TEST_F(PassSetupTest, FixedStatesFollowTheMode)
{
    struct Case
    {
        DWORD mode;
        DWORD zFunc;
    } const cases[] = {{LMK::DisplayModeTextured, D3DCMP_LESSEQUAL},
                       {LMK::DisplayModeLightMapBaking, D3DCMP_GREATER}};
    for (const Case& c : cases)
    {
        device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        device->SetRenderState(D3DRS_CLIPPLANEENABLE, 3);
        LMK::SetPassStates(Setup(c.mode));
        EXPECT_EQ(State(D3DRS_ZFUNC), c.zFunc);
        EXPECT_EQ(State(D3DRS_FILLMODE), DWORD(D3DFILL_SOLID));
        EXPECT_EQ(State(D3DRS_CLIPPLANEENABLE), 0u);
        EXPECT_EQ(State(D3DRS_ALPHAREF), 0xFEu);
        EXPECT_EQ(State(D3DRS_ALPHAFUNC), DWORD(D3DCMP_NOTEQUAL));
        EXPECT_EQ(State(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
        EXPECT_EQ(State(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
        EXPECT_EQ(State(D3DRS_FOGTABLEMODE), DWORD(D3DFOG_LINEAR));
        EXPECT_EQ(State(D3DRS_LIGHTING), DWORD(FALSE));
        for (DWORD stage : {0u, 4u})
        {
            DWORD v = 0;
            device->GetSamplerState(stage, D3DSAMP_ADDRESSV, &v);
            EXPECT_EQ(v, DWORD(D3DTADDRESS_WRAP));
            device->GetSamplerState(stage, D3DSAMP_MIPFILTER, &v);
            EXPECT_EQ(v, DWORD(D3DTEXF_LINEAR));
        }
    }
}

struct ClearCase
{
    const char* name;
    DWORD mode;
    BYTE finalPass;
    D3DCOLOR expectedPixel;
    DWORD expectedColorWrite;
    DWORD expectedLighting;
};

TEST_F(PassSetupTest, ClearsAndBackgroundByMode)
{
    const D3DCOLOR before = 0xFF102030;
    const ClearCase cases[] = {
        {"default background", LMK::DisplayModeTextured, 0, LMK::kDefaultBackgroundColor, 0xF, TRUE},
        {"hidden lines keep the default background", LMK::DisplayModeHiddenLines, 0,
         LMK::kDefaultBackgroundColor, 0xF, TRUE},
        {"final pass keeps the mirrors' picture", LMK::DisplayModeTextured, 1, before, 0xF, TRUE},
        {"light-map baking clears white", LMK::DisplayModeLightMapBaking, 0, 0xFFFFFFFF, 0xF, TRUE},
        {"ID colours clear black", LMK::DisplayModeIdColoursAll, 0, 0xFF000000, 0xF, FALSE},
        {"light map only clears white", LMK::DisplayModeLightMapOnly, 0, 0xFFFFFFFF, 0xF, FALSE},
        {"mirror marking lays the background without colour writes", LMK::DisplayModeMirrorMarking, 0,
         LMK::kDefaultBackgroundColor, 0, TRUE},
    };
    for (const ClearCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        // The final pass fills only where the stencil is below 2: here the mirrors marked everything.
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, before, 1.0f, c.finalPass ? 2 : 0);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        pass = {};
        pass.finalPass = c.finalPass;
        pass.testStencil = c.finalPass;
        LMK::ClearAndDrawBackground(Setup(c.mode));
        EXPECT_EQ(Pixel(), c.expectedPixel);
        EXPECT_EQ(State(D3DRS_COLORWRITEENABLE), c.expectedColorWrite);
        EXPECT_EQ(State(D3DRS_LIGHTING), c.expectedLighting);
    }
}

struct ClipCase
{
    const char* name;
    bool section;
    bool mirror;
    int extraPlanes;
    DWORD extraCount;
    DWORD deviceClipPlanes;
    DWORD expectedMask;
};

TEST_F(PassSetupTest, ClipPlanesAndTheirMask)
{
    const ClipCase cases[] = {
        {"none", false, false, 0, 0, 6, 0},
        {"section plane and two extra planes in a mirror pass", true, true, 2, 2, 6, 0xF},
        {"extra planes given with a count of 0 use one", false, false, 1, 0, 6, 0x4},
        {"mirror plane alone", false, true, 0, 0, 6, 0x2},
        {"more extra planes than the device has", true, false, 40, 40, 6, 0x3D},
    };
    std::vector<D3DXPLANE> extra;
    for (int k = 0; k < 40; ++k)
        extra.push_back(D3DXPLANE(1, 0, 0, float(k)));
    D3DXPLANE section(0, 1, 0, -1);
    const D3DXPLANE mirrorPlane(0, 0, 1, -3);
    D3DXMATRIX reflect;
    D3DXMatrixReflect(&reflect, &mirrorPlane);
    for (const ClipCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        view.sectionPlane = c.section ? &section : nullptr;
        view.extraClipPlanes = c.extraPlanes ? extra.data() : nullptr;
        view.extraClipPlaneCount = c.extraCount;
        const DWORD mask = LMK::SetPassClipPlanes(Setup(
            LMK::DisplayModeTextured, c.mirror ? &reflect : nullptr, c.mirror ? &mirrorPlane : nullptr));
        EXPECT_EQ(mask, c.expectedMask);
        EXPECT_EQ(State(D3DRS_CLIPPLANEENABLE), c.expectedMask);
        float p[4] = {};
        if (c.mirror)
        {
            device->GetClipPlane(1, p);
            EXPECT_EQ(p[2], -1.0f);
            EXPECT_EQ(p[3], 3.0f);
        }
        if (c.extraPlanes > 1)
        {
            device->GetClipPlane(3, p);
            EXPECT_EQ(p[3], 1.0f); // extra plane 1
        }
    }
}
} // namespace
