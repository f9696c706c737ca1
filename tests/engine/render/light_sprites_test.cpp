// Light sprites over a black background: a glow centred where its light projects, nothing for a light
// without colour or behind a mirror, and the device's states left as they were.
#include "engine/core/light.h"
#include "engine/core/lr_light_api.h"
#include "engine/render/environment.h"
#include "render_view_fixture.h"

#include <cmath>

namespace
{
using namespace rendertest;

constexpr LONG kWidth = 64, kHeight = 48;

class LightSpritesTest : public RenderViewTest
{
protected:
    void SetUp() override
    {
        RenderViewTest::SetUp();
        bb_ = StartWithWindow(kWidth, kHeight, &window_);
        Camera({0, 0, 5}, 4, 3);
        LMK::EnvironmentStruct_TYP black{};
        ASSERT_EQ(LRCreateEnvironment(&black, &environment_), S_OK);
    }
    void TearDown() override
    {
        if (LMK::CurrentGlobals) LRReleaseEnvironment(&environment_);
        if (light_) light_->Release();
        RenderViewTest::TearDown();
    }

    // A white point light at p with a glow of type 2.
    void PointLight(D3DXVECTOR3 p, bool coloured = true)
    {
        light_ = new LMK::Light_;
        LMK::LightParamsStruct_TYP params = light_->params;
        params.light.Type = D3DLIGHT_POINT;
        params.light.Diffuse = {1, 1, 1, 1};
        params.light.Range = 100;
        params.diffuseOn = coloured;
        params.specularOn = 0;
        params.ambientOn = 0;
        params.glowType = 2;
        params.glowSize = 1.0f;
        params.glowAlpha = 1.0f;
        light_->SetParams(params);
        D3DXMATRIX at;
        D3DXMatrixTranslation(&at, p.x, p.y, p.z);
        light_->SetTransform(&at);
    }

    // Brightness-weighted centre of the picture and its total brightness.
    double Glow(POINT* centre)
    {
        double sum = 0, sx = 0, sy = 0;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x)
            {
                const Rgb c = Split(backend_.Pixel(window_, x, y));
                const double v = c.r + c.g + c.b;
                sum += v;
                sx += v * x;
                sy += v * y;
            }
        if (sum > 0)
            *centre = {static_cast<LONG>(std::lround(sx / sum)), static_cast<LONG>(std::lround(sy / sum))};
        return sum;
    }

    HRESULT RenderLit(LMK::RenderViewStruct_TYP* v)
    {
        LMK::Light_* lights[] = {light_};
        HRESULT hr = LRRenderView(v, 0, nullptr, 1, lights);
        if (hr == E_FAIL) hr = LRRenderView(v, 0, nullptr, 1, lights);
        return hr;
    }

    HWND window_ = nullptr;
    LMK::BackBuffer_* bb_ = nullptr;
    LMK::Environment_* environment_ = nullptr;
    LMK::Light_* light_ = nullptr;
};

TEST_F(LightSpritesTest, GlowIsCentredOnTheLight)
{
    for (D3DXVECTOR3 p : {D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0.8f, -0.5f, 1.0f)})
    {
        SCOPED_TRACE(p.x);
        PointLight(p);
        LMK::RenderViewStruct_TYP v = Record(bb_);
        v.environment = environment_;
        ASSERT_EQ(RenderLit(&v), S_OK);
        POINT centre{};
        ASSERT_GT(Glow(&centre), 0.0);
        const POINT expected = Project(bb_, p);
        EXPECT_LE(std::abs(centre.x - expected.x), 1) << centre.x << " for " << expected.x;
        EXPECT_LE(std::abs(centre.y - expected.y), 1) << centre.y << " for " << expected.y;
        const Rgb middle = Split(backend_.Pixel(window_, expected.x, expected.y));
        EXPECT_GT(middle.r, 128) << "brightest in the middle";
        EXPECT_EQ(middle.r, middle.b) << "a white light glows white";
        light_->Release();
        light_ = nullptr;
    }
}

// A directional light's glow stands far along the way the light comes from, at the projected point of
// that direction; a light from behind the camera has none.
TEST_F(LightSpritesTest, DirectionalGlowLiesWhereTheLightComesFrom)
{
    struct Case
    {
        D3DXVECTOR3 direction; // the way the light shines
        bool seen;
    } cases[] = {
        {{0, 0, 1}, true},
        {{-0.3f, 0.2f, 1}, true},
        {{0, 0, -1}, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.direction.x);
        PointLight({0, 0, 0});
        LMK::LightParamsStruct_TYP params = light_->params;
        params.light.Type = D3DLIGHT_DIRECTIONAL;
        params.glowSize = 0.05f; // times far over the window's width
        light_->SetParams(params);
        D3DXVECTOR3 d;
        D3DXVec3Normalize(&d, &c.direction);
        light_->SetPositionDirection(d);
        LMK::RenderViewStruct_TYP v = Record(bb_);
        v.environment = environment_;
        ASSERT_EQ(RenderLit(&v), S_OK);
        POINT centre{};
        const double glow = Glow(&centre);
        EXPECT_EQ(glow > 0.0, c.seen);
        if (c.seen)
        {
            const POINT expected = Project(bb_, D3DXVECTOR3(0, 0, 5) - d * 40.0f); // seen from the eye
            EXPECT_LE(std::abs(centre.x - expected.x), 1) << centre.x << " for " << expected.x;
            EXPECT_LE(std::abs(centre.y - expected.y), 1) << centre.y << " for " << expected.y;
        }
        light_->Release();
        light_ = nullptr;
    }
}

TEST_F(LightSpritesTest, NothingWithoutColourOrBehindTheMirror)
{
    POINT centre{};
    PointLight({0, 0, 0}, false);
    LMK::RenderViewStruct_TYP v = Record(bb_);
    v.environment = environment_;
    ASSERT_EQ(RenderLit(&v), S_OK);
    EXPECT_EQ(Glow(&centre), 0.0) << "no colour term switched on";
    light_->Release();
    light_ = nullptr;

    PointLight({0, 0, 0});
    IDirect3DDevice9* device = bb_->parts.at(0)->GetD3DDevice();
    const D3DXPLANE facing(0, 0, 1, 1), away(0, 0, 1, -1); // the light is in front of the first only
    for (const D3DXPLANE* mirror : {&away, &facing})
    {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        camera_->ApplyToDevice(bb_->parts.at(0));
        light_->DrawGlow(device, &v, &mirror);
        device->EndScene();
        LMK::BackBufferPart_* part = bb_->parts.at(0);
        device->Present(&part->sourceRect, &part->destinationRect, bb_->window, nullptr);
        EXPECT_EQ(Glow(&centre) > 0.0, mirror == &facing);
    }
}

TEST_F(LightSpritesTest, DeviceStatesAreLeftAsTheyWere)
{
    PointLight({0, 0, 0});
    light_->params.flareType = 3;
    LMK::RenderViewStruct_TYP v = Record(bb_);
    v.environment = environment_;
    ASSERT_EQ(RenderLit(&v), S_OK); // makes the device's first frame
    IDirect3DDevice9* device = bb_->parts.at(0)->GetD3DDevice();
    const std::pair<D3DRENDERSTATETYPE, DWORD> states[] = {
        {D3DRS_ZWRITEENABLE, TRUE},        {D3DRS_ALPHABLENDENABLE, FALSE}, {D3DRS_CULLMODE, D3DCULL_CW},
        {D3DRS_TEXTUREFACTOR, 0x12345678}, {D3DRS_LIGHTING, TRUE},          {D3DRS_ZENABLE, TRUE},
    };
    for (const auto& [state, value] : states)
        device->SetRenderState(state, value);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->BeginScene();
    light_->DrawFlare(device, &v, nullptr);
    light_->DrawGlow(device, &v, nullptr);
    device->EndScene();
    for (const auto& [state, value] : states)
    {
        DWORD now = 0;
        device->GetRenderState(state, &now);
        EXPECT_EQ(now, value) << "render state " << state;
    }
    DWORD flags = 0;
    device->GetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, &flags);
    EXPECT_EQ(flags, DWORD(D3DTTFF_DISABLE));
    IDirect3DVertexBuffer9* stream = nullptr;
    UINT offset = 0, stride = 0;
    device->GetStreamSource(0, &stream, &offset, &stride);
    EXPECT_EQ(stream, nullptr);
}
} // namespace
