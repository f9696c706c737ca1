// Fog of a view at hand-worked distances, with and without clearing to the fog colour, and the fill
// that clears only the pixels the stencil leaves to a pass.
#include "engine/render/environment.h"
#include "engine/render/pass_setup.h"
#include "render_view_fixture.h"

namespace
{
using namespace rendertest;

class FogTest : public RenderViewTest
{
protected:
    void TearDown() override
    {
        if (LMK::CurrentGlobals) LRReleaseEnvironment(&environment_);
        RenderViewTest::TearDown();
    }
    LMK::Environment_* environment_ = nullptr;
};

// A white quad facing the camera at distance d, fog from 2 to 8: the quad keeps (8 - d) / 6 of its
// colour, clamped to 0..1, and takes the rest from the fog colour (blue).
TEST_F(FogTest, LinearFogBlendsByDistanceFromTheEye)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 4, 3);
    LMK::EnvironmentStruct_TYP d{};
    d.type = LMK::EnvironmentPlainColor;
    d.colors[0] = {0.0f, 1.0f, 0.0f, 1.0f};
    ASSERT_EQ(LRCreateEnvironment(&d, &environment_), S_OK);

    struct Case
    {
        const char* name;
        float distance;
        bool on, clears;
        Rgb quad, background;
    } cases[] = {
        {"off", 5, false, false, {255, 255, 255}, {0, 255, 0}},
        {"nearer than the start", 1, true, false, {255, 255, 255}, {0, 255, 0}},
        {"a sixth of the way", 3, true, false, {212, 212, 255}, {0, 255, 0}},
        {"half way", 5, true, false, {127, 127, 255}, {0, 255, 0}},
        {"five sixths", 7, true, false, {42, 42, 255}, {0, 255, 0}},
        {"beyond the end", 9, true, false, {0, 0, 255}, {0, 255, 0}},
        {"clearing to the fog colour", 5, true, true, {127, 127, 255}, {0, 0, 255}},
        {"clearing, but switched off: the environment", 5, false, true, {255, 255, 255}, {0, 255, 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        // A fifth of the view's height across, whatever its distance.
        const float z = 10.0f - c.distance, h = 0.03f * c.distance;
        LMK::Object_* quad = AddQuad(
            {D3DXVECTOR3(-h, -h, z), D3DXVECTOR3(h, -h, z), D3DXVECTOR3(h, h, z), D3DXVECTOR3(-h, h, z)},
            {1, 1, 1, 1});
        LMK::FogStruct_TYP fog{2.0f, 8.0f, 0xFF0000FF, static_cast<BYTE>(c.clears), static_cast<BYTE>(c.on)};
        LMK::RenderViewStruct_TYP v = Record(bb);
        v.environment = environment_;
        v.fog = &fog;
        ASSERT_EQ(Render(&v, {quad}), S_OK);
        EXPECT_TRUE(Near(backend_.Pixel(w, 32, 24), c.quad, 2)) << std::hex << backend_.Pixel(w, 32, 24);
        EXPECT_TRUE(Near(backend_.Pixel(w, 2, 2), c.background, 0)) << std::hex << backend_.Pixel(w, 2, 2);
    }
}

// Stencil values 0, 1 and 2 in three bands: the fill takes the bands below its reference and zeroes
// their stencil; depth is cleared everywhere.
TEST_F(FogTest, FillLeavesWhatTheStencilKeeps)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 60, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 4, 3);
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {}), S_OK); // the first frame resets the device to its window
    LMK::BackBufferPart_* part = bb->parts.at(0);
    IDirect3DDevice9* device = part->GetD3DDevice();
    for (bool finalPass : {false, true})
    {
        SCOPED_TRACE(finalPass ? "final pass" : "mirror pass");
        device->SetViewport(&part->viewport);
        device->BeginScene();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF000000, 0.5f, 0);
        const D3DRECT one = {20, 0, 40, 48}, two = {40, 0, 60, 48};
        device->Clear(1, &one, D3DCLEAR_STENCIL, 0, 0, 1);
        device->Clear(1, &two, D3DCLEAR_STENCIL, 0, 0, 2);
        LMK::FillScreenWhereStencilGreater(device, 0xFFFF8000, finalPass);
        // A second fill in another colour shows where the stencil was zeroed.
        LMK::FillScreenWhereStencilGreater(device, 0xFF0080FF, false);
        device->EndScene();
        device->Present(&part->sourceRect, &part->destinationRect, bb->window, nullptr);
        DWORD value = 0;
        device->GetRenderState(D3DRS_STENCILENABLE, &value);
        EXPECT_EQ(value, 0u);
        device->GetRenderState(D3DRS_ZENABLE, &value);
        EXPECT_EQ(value, 1u);
        EXPECT_TRUE(Near(backend_.Pixel(w, 10, 10), {0, 128, 255}, 0))
            << "stencil 0: filled, zeroed, filled again";
        if (finalPass)
            EXPECT_TRUE(Near(backend_.Pixel(w, 30, 10), {0, 128, 255}, 0)) << "stencil 1 is below 2: zeroed";
        else
            EXPECT_TRUE(Near(backend_.Pixel(w, 30, 10), {0, 0, 0}, 0)) << "stencil 1 kept";
        EXPECT_TRUE(Near(backend_.Pixel(w, 50, 10), {0, 0, 0}, 0)) << "stencil 2 kept";
    }
}
} // namespace
