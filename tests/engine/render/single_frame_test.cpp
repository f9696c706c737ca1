// The single back-buffer frame: one object drawn into every part of a back buffer with its own light and
// clear colour, compared with the render pass's picture of the same object alone.
#include "render_view_fixture.h"

#include "engine/render/single_frame.h"

namespace
{
using namespace rendertest;

class SingleFrameTest : public RenderViewTest
{
protected:
    // The first frame of a new device resets it to its window and draws nothing.
    HRESULT Frame(LMK::BackBuffer_* bb, DWORD mode, D3DCOLOR clear, LMK::Object_* object)
    {
        HRESULT hr = LMK::RenderBackBufferFrame(bb, camera_, mode, clear, object);
        if (hr == E_FAIL) hr = LMK::RenderBackBufferFrame(bb, camera_, mode, clear, object);
        return hr;
    }

    // A white box seen face on from (0, 0, 10), filling the centre of a 64 x 48 window.
    void OneWhiteBox()
    {
        Start({{0, 0, 64, 48}});
        w = Window({0, 0, 64, 48});
        bb = BackBuffer(w);
        Camera({0, 0, 10}, 4, 3);
        box = AddBox({0, 0, 0}, 0.5f, Uniform(1, 1, 1));
    }

    HWND w = nullptr;
    LMK::BackBuffer_* bb = nullptr;
    LMK::Object_* box = nullptr;
};

TEST_F(SingleFrameTest, RejectsModesAndArgumentsBeforeDrawing)
{
    EXPECT_EQ(LMK::RenderBackBufferFrame(nullptr, nullptr, 0, 0, nullptr), E_FAIL) << "engine not started";
    OneWhiteBox();
    EXPECT_EQ(LMK::RenderBackBufferFrame(nullptr, camera_, 0, 0, box), E_INVALIDARG);
    ASSERT_EQ(Frame(bb, 0, 0xFF102030, box), S_OK);
    for (DWORD mode : {6u, 0x100u, 0x10000u, 0x40000u, 0x20000u | 1u, 0x80000000u})
    {
        EXPECT_EQ(LMK::RenderBackBufferFrame(bb, camera_, mode, 0xFFFFFFFF, box), E_FAIL) << std::hex << mode;
        EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, 0x102030u) << "drew in mode " << std::hex << mode;
    }
}

// The render pass draws the lone box with its camera light (along look-at minus eye) over the default
// background; the frame's light runs from the eye to the origin, which is the same direction here.
TEST_F(SingleFrameTest, TwoPartFrameEqualsTheRenderPassPicture)
{
    Start({{0, 0, 64, 48}, {64, 0, 128, 48}});
    w = Window({16, 0, 112, 48});
    bb = BackBuffer(w);
    ASSERT_EQ(bb->parts.size(), 2u);
    Camera({3, 4, 6}, 4, 2);
    FaceColours colours = Uniform(1, 1, 1);
    colours[0] = {1, 0, 0, 1};
    colours[2] = {0, 1, 0, 1};
    box = AddBox({0.3f, 0, 0}, 0.8f, colours);

    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {box}), S_OK);
    const std::vector<uint32_t> pass = Pixels(w);
    int covered = 0;
    for (uint32_t p : pass)
        covered += p != kBackground;
    ASSERT_GT(covered, 200);

    ASSERT_EQ(Frame(bb, 0, 0xFF000000, box), S_OK);
    ASSERT_NE(Pixels(w), pass);
    ASSERT_EQ(Frame(bb, 0, 0xFF000000 | kBackground, box), S_OK);
    EXPECT_EQ(Pixels(w), pass);
}

TEST_F(SingleFrameTest, ClearsToTheColourLightsFromTheEyeAndSkipsBusyParts)
{
    OneWhiteBox();
    ASSERT_EQ(Frame(bb, 0, 0xFF000000, box), S_OK);
    EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(backend_.Pixel(w, 32, 24) & 0xFFFFFF, 0xFFFFFFu) << "the face towards the eye is fully lit";

    D3DLIGHT9 light{};
    IDirect3DDevice9* device = bb->parts[0]->GetD3DDevice();
    ASSERT_EQ(device->GetLight(0, &light), D3D_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(light.Direction.x, 0);
    EXPECT_FLOAT_EQ(light.Direction.y, 0);
    EXPECT_FLOAT_EQ(light.Direction.z, -1);
    BOOL enabled = TRUE;
    device->GetLightEnable(0, &enabled);
    EXPECT_FALSE(enabled) << "light 0 is switched off after the frame";

    bb->parts[0]->busy = 1;
    EXPECT_EQ(LMK::RenderBackBufferFrame(bb, camera_, 0, 0xFFFF0000, box), S_OK);
    EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, 0u) << "a busy part is not drawn";
    EXPECT_EQ(bb->parts[0]->busy, 1);
}

// Light-map baking tests depth with GREATER: its depth must start at 0 or nothing passes. Opaque
// surfaces bake black.
TEST_F(SingleFrameTest, LightMapBakingModeDrawsTheObject)
{
    OneWhiteBox();
    ASSERT_EQ(Frame(bb, LMK::DisplayModeLightMapBaking, 0xFFFFFFFF, box), S_OK);
    EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(backend_.Pixel(w, 32, 24) & 0xFFFFFF, 0u);
}

TEST_F(SingleFrameTest, LostDeviceSkipsThePartAndOneNeedingAResetIsReset)
{
    OneWhiteBox();
    ASSERT_EQ(Frame(bb, 0, 0xFF000000, box), S_OK);
    IDirect3DDevice9* device = bb->parts[0]->GetD3DDevice();

    ferolt::hooks::SetD3D9DeviceState(device, D3DERR_DEVICELOST);
    EXPECT_EQ(LMK::RenderBackBufferFrame(bb, camera_, 0, 0xFFFF0000, box), S_OK);
    EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, 0u) << "a lost device drew";
    EXPECT_EQ(bb->parts[0]->busy, 0);

    ferolt::hooks::SetD3D9DeviceState(device, D3DERR_DEVICENOTRESET);
    EXPECT_EQ(LMK::RenderBackBufferFrame(bb, camera_, 0, 0xFFFF0000, box), S_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, 0xFF0000u) << "drawn after the reset";
    EXPECT_EQ(bb->parts[0]->busy, 0);
}
} // namespace
