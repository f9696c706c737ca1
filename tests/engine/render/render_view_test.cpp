// LRRenderView end to end: scenes drawn through the render pass and the model draw into windows of the
// headless backend, checked by colours at projected points and by pixel counts.
#include "render_view_fixture.h"

namespace
{
using namespace rendertest;

TEST_F(RenderViewTest, RejectsMissingPieces)
{
    LMK::RenderViewStruct_TYP v{};
    EXPECT_EQ(LRRenderView(&v, 0, nullptr, 0, nullptr), E_FAIL) << "engine not started";
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 32, 24});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 5}, 2, 1.5f);
    struct Case
    {
        const char* name;
        bool record, backBuffer, camera;
    };
    for (const Case& c : {Case{"no record", false, true, true}, Case{"no back buffer", true, false, true},
                          Case{"no camera", true, true, false}})
    {
        LMK::RenderViewStruct_TYP r = Record(c.backBuffer ? bb : nullptr);
        if (!c.camera) r.camera = nullptr;
        EXPECT_EQ(LRRenderView(c.record ? &r : nullptr, 0, nullptr, 0, nullptr), E_FAIL) << c.name;
    }
}

// A lit cube seen from (6, 8, 10): the camera light shades each face by the cosine between its normal and
// the view direction, the three back faces never show, and the silhouette covers a known share.
TEST_F(RenderViewTest, LitCubeShowsItsThreeFrontFacesShadedByTheCameraLight)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({6, 8, 10}, 6, 4.5f);
    // +x red, -x white, +y green, -y white, +z blue, -z white.
    FaceColours colours = Uniform(1, 1, 1);
    colours[0] = {1, 0, 0, 1};
    colours[2] = {0, 1, 0, 1};
    colours[4] = {0, 0, 1, 1};
    LMK::Object_* cube = AddBox({0, 0, 0}, 1, colours);
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {cube}), S_OK);

    const float len = std::sqrt(50.0f);
    struct Probe
    {
        D3DXVECTOR3 at;
        Rgb want;
    };
    const Probe probes[] = {
        {{1, 0.2f, 0.2f}, {static_cast<int>(255 * 3 / len), 0, 0}},
        {{0.2f, 1, 0.2f}, {0, static_cast<int>(255 * 4 / len), 0}},
        {{0.2f, 0.2f, 1}, {0, 0, static_cast<int>(255 * 5 / len)}},
    };
    for (const Probe& p : probes)
    {
        const POINT s = Project(bb, p.at);
        const uint32_t pixel = backend_.Pixel(w, s.x, s.y);
        EXPECT_TRUE(Near(pixel, p.want, 3)) << "at (" << s.x << ", " << s.y << "): " << std::hex << pixel;
    }
    int background = 0, white = 0;
    for (uint32_t p : Pixels(w))
    {
        background += p == kBackground;
        white += Near(p, {255, 255, 255}, 40);
    }
    EXPECT_EQ(white, 0) << "a back face showed";
    EXPECT_EQ(backend_.Pixel(w, 0, 0) & 0xFFFFFF, kBackground);
    // The outline is a hexagon whose area is the box's projected area, 4 (3 + 4 + 5) / sqrt(50) of the
    // 6 x 4.5 window at the look-at plane, enlarged somewhat by perspective.
    const float expected = 64 * 48 * 4 * 12 / std::sqrt(50.0f) / 27;
    const int covered = 64 * 48 - background;
    EXPECT_GT(covered, expected);
    EXPECT_LT(covered, 1.3f * expected);
    EXPECT_TRUE(MatchesBaseline("engine/lit_cube", w));
}

// Objects in array order far, near and near, far: the nearer one wins where they overlap either way.
TEST_F(RenderViewTest, NearerObjectHidesFartherOneWhateverTheOrder)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    LMK::Object_* far = AddBox({0.5f, 0, -1}, 1, Uniform(1, 0, 0));
    LMK::Object_* near = AddBox({-0.5f, 0, 1}, 1, Uniform(0, 1, 0));
    for (bool nearFirst : {false, true})
    {
        LMK::RenderViewStruct_TYP v = Record(bb);
        ASSERT_EQ(Render(&v, nearFirst ? std::vector<LMK::Object_*>{near, far}
                                       : std::vector<LMK::Object_*>{far, near}),
                  S_OK);
        EXPECT_TRUE(
            Near(backend_.Pixel(w, Project(bb, {0.2f, 0, 2}).x, Project(bb, {0.2f, 0, 2}).y), {0, 255, 0}))
            << "overlap, near first " << nearFirst;
        const POINT farOnly = Project(bb, {1.3f, 0, 0});
        EXPECT_TRUE(Near(backend_.Pixel(w, farOnly.x, farOnly.y), {255, 0, 0}))
            << "far alone, near first " << nearFirst;
    }
}

// A half-transparent box in front of an opaque one, first in the array: it is still drawn after the
// opaque box and blends over it; drawn first, the opaque box would have covered it.
TEST_F(RenderViewTest, TransparentObjectsAreDrawnAfterOpaqueOnes)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    LMK::Object_* glass = AddBox({0, 0, 2}, 1, Uniform(0, 0, 1, 0.5f));
    LMK::Object_* wall = AddBox({0, 0, -1}, 2, Uniform(1, 0, 0));
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {glass, wall}), S_OK);
    const POINT both = Project(bb, {0, 0, 3});
    EXPECT_TRUE(Near(backend_.Pixel(w, both.x, both.y), {127, 0, 127}, 3))
        << std::hex << backend_.Pixel(w, both.x, both.y);
    const POINT wallOnly = Project(bb, {1.6f, 1.6f, 1});
    EXPECT_TRUE(Near(backend_.Pixel(w, wallOnly.x, wallOnly.y), {255, 0, 0}));
}

// A lost device is skipped with S_OK and the window keeps its pixels; one that needs a reset is reset
// through the device thread and drawn in the same call.
TEST_F(RenderViewTest, DeviceLossSkipsLostDevicesAndResetsRecoverableOnes)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    LMK::Object_* cube = AddBox({0, 0, 0}, 1, Uniform(0, 1, 0));
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {cube}), S_OK);
    const std::vector<uint32_t> drawn = Pixels(w);
    IDirect3DDevice9* device = bb->parts.at(0)->GetD3DDevice();
    const POINT centre = Project(bb, {0, 0, 1});

    // Paint the window over so that a skipped frame is visible as "untouched".
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->Present(nullptr, nullptr, w, nullptr);
    const std::vector<uint32_t> black = Pixels(w);
    ASSERT_NE(black, drawn);

    ferolt::hooks::SetD3D9DeviceState(device, D3DERR_DEVICELOST);
    EXPECT_EQ(LRRenderView(&v, 1, &cube, 0, nullptr), S_OK);
    EXPECT_EQ(Pixels(w), black) << "a lost device drew";

    ferolt::hooks::SetD3D9DeviceState(device, D3DERR_DEVICENOTRESET);
    EXPECT_EQ(LRRenderView(&v, 1, &cube, 0, nullptr), S_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(Pixels(w), drawn) << "the frame after the reset";
    EXPECT_TRUE(Near(backend_.Pixel(w, centre.x, centre.y), {0, 255, 0}));
}

// A nested pass finds the part busy and leaves it alone.
TEST_F(RenderViewTest, BusyPartIsSkipped)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    LMK::Object_* cube = AddBox({0, 0, 0}, 1, Uniform(0, 1, 0));
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {}), S_OK);
    const std::vector<uint32_t> empty = Pixels(w);
    bb->parts.at(0)->busy = 1;
    EXPECT_EQ(LRRenderView(&v, 1, &cube, 0, nullptr), S_OK);
    EXPECT_EQ(Pixels(w), empty);
    EXPECT_EQ(bb->parts.at(0)->busy, 1) << "the outer pass owns the flag";
    bb->parts.at(0)->busy = 0;
}

// A window across two monitors is drawn as two parts whose pixels meet without a seam:
// the picture equals the one drawn into the same window on a single monitor.
TEST_F(RenderViewTest, TwoMonitorWindowMatchesSingleMonitorPicture)
{
    std::vector<uint32_t> pictures[2];
    for (int monitors = 1; monitors <= 2; ++monitors)
    {
        if (monitors == 1)
            Start({{0, 0, 128, 48}});
        else
            Start({{0, 0, 64, 48}, {64, 0, 128, 48}});
        // Wider than the primary monitor: on two monitors the primary device draws it in two tiles.
        HWND w = Window({16, 0, 112, 48});
        LMK::BackBuffer_* bb = BackBuffer(w);
        ASSERT_EQ(bb->parts.size(), static_cast<size_t>(monitors));
        Camera({3, 4, 5}, 6, 3);
        FaceColours colours = Uniform(1, 1, 1);
        colours[0] = {1, 0, 0, 1};
        colours[2] = {0, 1, 0, 1};
        colours[4] = {0, 0, 1, 1};
        LMK::Object_* cube = AddBox({1, 0, 0}, 1, colours);
        LMK::RenderViewStruct_TYP v = Record(bb);
        ASSERT_EQ(Render(&v, {cube}), S_OK);
        pictures[monitors - 1] = Pixels(w);
        // The cube straddles the tile edge at client x = 64.
        for (int x : {63, 64})
        {
            int covered = 0;
            for (int y = 0; y < 48; ++y)
                covered += pictures[monitors - 1][y * 96 + x] != kBackground;
            EXPECT_GT(covered, 0) << "column " << x;
        }
        Restart();
    }
    ASSERT_EQ(pictures[0].size(), pictures[1].size());
    int differing = 0;
    for (size_t i = 0; i < pictures[0].size(); ++i)
        differing += pictures[0][i] != pictures[1][i];
    EXPECT_EQ(differing, 0);
}

// A batch head drawn with an instance: both copies get their faces and their lines where they stand,
// the head's lines included, although the instance's faces were drawn last.
TEST_F(RenderViewTest, BatchedObjectsDrawTheirLinesAtTheirOwnPlaces)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {}), S_OK);

    auto vertex = [](float x, float y)
    {
        LMK::RawVertexStruct_TYP r{};
        r.position[0] = x;
        r.position[1] = y;
        r.normal[2] = 1;
        return r;
    };
    const std::vector<LMK::RawVertexStruct_TYP> quad = {vertex(-0.3f, -0.3f), vertex(0.3f, -0.3f),
                                                        vertex(0.3f, 0.3f), vertex(-0.3f, 0.3f)};
    const std::vector<DWORD> indices = {0, 1, 2, 0, 2, 3};
    const std::vector<LMK::RawVertexStruct_TYP> line = {vertex(0, 0.6f), vertex(0, 1.4f)};
    LMK::Material_* green = nullptr;
    ASSERT_EQ(LRCreateMaterialFromColor(0, 1, 0, 1, &green), S_OK);
    LMK::SubsetStruct_TYP subset{};
    subset.faceCount = 2;
    subset.lineSegmentCount = 1;
    subset.material = green;
    subset.sourceIndex = LMK::kNoSourceIndex;
    HRESULT hr = E_FAIL;
    auto* model = new LMK::Model_(1, quad.data(), 4, indices.data(), 2, line.data(), 2, &subset, 1, nullptr,
                                  nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    LMK::LoadedPart_* mine = green;
    LRReleaseLoadedPart(&mine);
    ASSERT_EQ(hr, S_OK);
    models_.push_back(model);
    D3DXMATRIX left, right;
    D3DXMatrixTranslation(&left, -2, 0, 0);
    D3DXMatrixTranslation(&right, 2, 0, 0);
    LMK::Object_* head = nullptr;
    LMK::Object_* instance = nullptr;
    ASSERT_EQ(LRCreateObject(model, &head, &left), S_OK);
    objects_.push_back(head);
    ASSERT_EQ(LRCreateObject(model, &instance, &right), S_OK);
    objects_.push_back(instance);

    // One frame by hand, so that the batch is exactly this one.
    LMK::BackBufferPart_* part = bb->parts.at(0);
    IDirect3DDevice9* device = part->GetD3DDevice();
    device->BeginScene();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(camera_->ApplyToDevice(part), S_OK);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0, 0, -1};
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    std::vector<LMK::Object_*> batch = {instance};
    head->instances = &batch;
    const D3DXVECTOR3 eye(0, 0, 10);
    head->Draw(part, &eye, LMK::DisplayModeTextured, &v, nullptr, nullptr);
    head->instances = nullptr;
    device->EndScene();
    device->Present(&part->sourceRect, &part->destinationRect, w, nullptr);

    for (float x : {-2.0f, 2.0f})
    {
        const POINT face = Project(bb, {x, 0, 0});
        EXPECT_TRUE(Near(backend_.Pixel(w, face.x, face.y), {0, 255, 0})) << "faces at " << x;
        const POINT top = Project(bb, {x, 1.0f, 0});
        int lit = 0;
        for (int dx = -1; dx <= 1; ++dx)
            lit += (backend_.Pixel(w, top.x + dx, top.y) & 0xFFFFFF) != 0;
        EXPECT_GT(lit, 0) << "line at " << x;
    }
}

// Two subsets of one mesh part, each with faces and lines: after the first subset's lines the stream
// holds the line buffer, and the second subset's faces must come from the part's own vertex buffer again.
TEST_F(RenderViewTest, FacesAfterAnotherSubsetsLinesComeFromTheFaceBuffer)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    auto vertex = [](float x, float y)
    {
        LMK::RawVertexStruct_TYP r{};
        r.position[0] = x;
        r.position[1] = y;
        r.normal[2] = 1;
        return r;
    };
    std::vector<LMK::RawVertexStruct_TYP> quads, lines;
    std::vector<DWORD> indices;
    for (float x : {-2.0f, 2.0f})
    {
        const DWORD base = static_cast<DWORD>(quads.size());
        for (const auto& [dx, dy] : {std::pair{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}})
            quads.push_back(vertex(x + dx, dy));
        indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
        lines.push_back(vertex(x, 1.0f));
        lines.push_back(vertex(x, 1.8f));
    }
    LMK::Material_* colours[2] = {};
    ASSERT_EQ(LRCreateMaterialFromColor(0, 1, 0, 1, &colours[0]), S_OK);
    ASSERT_EQ(LRCreateMaterialFromColor(0, 0, 1, 1, &colours[1]), S_OK);
    LMK::SubsetStruct_TYP subsets[2] = {};
    for (DWORD k = 0; k < 2; ++k)
    {
        subsets[k].firstFace = 2 * k;
        subsets[k].faceCount = 2;
        subsets[k].lineSegmentCount = 1;
        subsets[k].material = colours[k];
        subsets[k].sourceIndex = LMK::kNoSourceIndex;
    }
    HRESULT hr = E_FAIL;
    auto* model = new LMK::Model_(1, quads.data(), 8, indices.data(), 4, lines.data(), 4, subsets, 2, nullptr,
                                  nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    for (LMK::Material_* m : colours)
    {
        LMK::LoadedPart_* mine = m;
        LRReleaseLoadedPart(&mine);
    }
    ASSERT_EQ(hr, S_OK);
    LMK::Object_* object = Place(model);
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, {object}), S_OK);
    const POINT left = Project(bb, {-2, 0, 0}), right = Project(bb, {2, 0, 0});
    EXPECT_EQ(Split(backend_.Pixel(w, left.x, left.y)).g > 128, true);
    const Rgb second = Split(backend_.Pixel(w, right.x, right.y));
    EXPECT_TRUE(second.b > 128 && second.g < 64)
        << "second subset's faces: " << std::hex << backend_.Pixel(w, right.x, right.y);
}

TEST_F(RenderViewTest, ReadBackSeesTheFrameAndDecidesThePresent)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8, 6);
    LMK::Object_* cube = AddBox({0, 0, 0}, 1, Uniform(0, 1, 0));
    LMK::RenderViewStruct_TYP plain = Record(bb);
    ASSERT_EQ(Render(&plain, {}), S_OK);
    const std::vector<uint32_t> empty = Pixels(w);

    struct Seen
    {
        int calls = 0;
        uint32_t centre = 0;
        bool answer = false;
        POINT at{};
    };
    for (bool answer : {false, true})
    {
        Seen seen;
        seen.answer = answer;
        seen.at = Project(bb, {0, 0, 1});
        LMK::RenderViewStruct_TYP v = Record(bb);
        v.readBackContext = &seen;
        v.readBack = [](void* context, LMK::ReadBackStruct_TYP* r) -> bool
        {
            auto* s = static_cast<Seen*>(context);
            ++s->calls;
            s->centre = static_cast<const uint32_t*>(r->bits)[s->at.y * (r->pitch / 4) + s->at.x] & 0xFFFFFF;
            return s->answer;
        };
        ASSERT_EQ(Render(&v, {cube}), S_OK);
        EXPECT_EQ(seen.calls, 1);
        EXPECT_TRUE(Near(seen.centre, {0, 255, 0})) << std::hex << seen.centre;
        if (answer)
            EXPECT_NE(Pixels(w), empty) << "presented";
        else
            EXPECT_EQ(Pixels(w), empty) << "not presented";
    }
}
} // namespace
