// Navigation, run headless through the whole program: the viewer starts with a generated house on its
// command line, the first timer tick loads it, and the backend plays the user against the camera
// parameter block.
#include "engine/engine_api.h"
#include "examples/example_object.h"
#include "platform/backends/headless/headless_backend.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_host.h"
#include "tests/support/default_gradient.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/material_pack_writer.h"
#include "tests/support/model_blob_writer.h"
#include "tests/support/png_image.h"
#include "tests/support/texture_chunk_writer.h"
#include "tests/support/three_ds_writer.h"
#include "tests/support/xfile_writer.h"
#include "tests/viewer/viewer_program.h"
#include "viewer/navigation.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using ferolt::backend::HeadlessBackend;
using ferolt::win32::host::Button;

namespace
{
using ferolt::test::OneStepBackend;

D3DXVECTOR3 Eye(const CTolvexControl3D& v)
{
    return D3DXVECTOR3(v.m_viewParams.eye);
}

D3DXVECTOR3 Target(const CTolvexControl3D& v)
{
    return D3DXVECTOR3(v.m_viewParams.lookAt);
}

float Distance(const D3DXVECTOR3& a, const D3DXVECTOR3& b)
{
    D3DXVECTOR3 d = a - b;
    return D3DXVec3Length(&d);
}

// The house spans (0, 0, 0) to (2, 2, 3).
const D3DXVECTOR3 kCentre(1, 1, 1.5f);
const float kDiagonal = std::sqrt(17.0f);

int g_contextMenus = 0;
WNDPROC g_viewerProc = nullptr;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CONTEXTMENU) ++g_contextMenus;
    return ::CallWindowProcA(g_viewerProc, hwnd, message, wParam, lParam);
}

class NavigationTest : public ferolt::test::ViewerProgramTest
{
protected:
    NavigationTest() : ViewerProgramTest("ferolt_navigation_") {}

    void SetUp() override
    {
        ViewerProgramTest::SetUp();
        WriteFile("house.tolvex", ferolt::example::HouseObjectFile());
    }

    // Starts the program on the house (or another file in the test's folder).
    void Run(const std::function<void(OneStepBackend&, HWND, CTolvexControl3D&)>& script,
             const std::string& startFile = "house.tolvex")
    {
        ViewerProgramTest::Run(script, startFile);
    }
};

void ExpectNear(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected, float tolerance = 1e-4f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// ---------------------------------------------------------------------------------------------------

TEST_F(NavigationTest, StartFileLoadsOnTheFirstTickAndTheNextPaintShowsTheModel)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            backend.RunPending();
            RECT client{};
            GetClientRect(w, &client);
            const uint32_t background = backend.Pixel(w, 1, 1) & 0xFFFFFF;
            const uint32_t centre = backend.Pixel(w, client.right / 2, client.bottom / 2) & 0xFFFFFF;
            EXPECT_NE(centre, background);
            EXPECT_NE(viewer.m_renderView.camera, nullptr);
        });
}

TEST_F(NavigationTest, XFileOnTheCommandLineIsShown)
{
    // Not an object file: the codec rejects it and the engine's model loader reads it.
    ferolt::test::XFileDesc desc;
    desc.meshes = {ferolt::test::XCubeMesh()};
    const std::vector<uint8_t> cube = ferolt::test::WriteXFile(desc, ferolt::test::XEncoding::Binary);
    std::ofstream(root_ / "Cube.x", std::ios::binary)
        .write(reinterpret_cast<const char*>(cube.data()), static_cast<std::streamsize>(cube.size()));
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            ASSERT_EQ(viewer.m_objects.size(), 1u);
            backend.RunPending();
            RECT client{};
            GetClientRect(w, &client);
            const uint32_t background = backend.Pixel(w, 1, 1) & 0xFFFFFF;
            const uint32_t centre = backend.Pixel(w, client.right / 2, client.bottom / 2) & 0xFFFFFF;
            EXPECT_NE(centre, background);
        },
        "Cube.x");
}

// The engine's other model formats open the same way: a 3D Studio file, a model blob, a packed model
// container and a "v7q!" container, each a box in front of the camera.
TEST_F(NavigationTest, EngineModelFilesOnTheCommandLineAreShown)
{
    using namespace ferolt::test;
    Ds3File box;
    box.meshes = {Ds3Cube()};
    box.meshes[0].groups.clear();
    RecordLayout square;
    square.materials = {RecordMaterial{}};
    square.partFaceCounts = {2};
    for (float x : {-1.0f, 1.0f})
        for (float y : {-1.0f, 1.0f})
            square.vertices.push_back({x, y, 0, 0, 0});
    square.faces = {{{0, 2, 3, 1}, {0, 0, 0, 0}, 0x1 | 0x200, 0, 0, 0},
                    {{0, 1, 3, 2}, {1, 1, 1, 1}, 0x1, 0, 0, 0}};
    BlobDesc blob;
    blob.section = WriteRecordLayout(square, true);
    StreamDesc stream;
    stream.materials = {StreamMaterial{}};
    StreamPart part;
    part.ranges = {-1, -1, -1, 1, 1, 1, 0, 1, 0, 1};
    part.vertices = {{-32767, -32767, 0, 0, 0},
                     {32767, -32767, 0, 1, 0},
                     {32767, 32767, 0, 1, 1},
                     {-32767, 32767, 0, 0, 1}};
    part.faces = {{0, 1, 2, 3}, {0, 3, 2, 1}};
    stream.parts = {part};
    const struct
    {
        const char* name;
        std::vector<uint8_t> bytes;
    } files[] = {
        {"Box.3ds", Write3DS(box)},
        {"Square.lmo", WriteModelBlob(blob)},
        {"Square.pak", WritePackedContainer({}, WriteRecordLayout(square, false))},
        {"Square.v7q", WriteV7QContainer(WriteV7QStream(stream), 1)},
    };
    for (const auto& file : files)
    {
        SCOPED_TRACE(file.name);
        std::ofstream(root_ / file.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.bytes.data()),
                   static_cast<std::streamsize>(file.bytes.size()));
        Run(
            [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
            {
                ASSERT_EQ(viewer.m_objects.size(), 1u);
                backend.RunPending();
                RECT client{};
                GetClientRect(w, &client);
                const uint32_t background = backend.Pixel(w, 1, 1) & 0xFFFFFF;
                const uint32_t centre = backend.Pixel(w, client.right / 2, client.bottom / 2) & 0xFFFFFF;
                EXPECT_NE(centre, background);
            },
            file.name);
    }
}

// Home fits the house from the standard direction; 0 fits it along whatever direction the view has.
TEST_F(NavigationTest, HomeAndZeroFitTheSceneBounds)
{
    Run(
        [](OneStepBackend& backend, HWND, CTolvexControl3D& viewer)
        {
            D3DXVECTOR3 standard(-3, 0, 2);
            D3DXVec3Normalize(&standard, &standard);
            struct Step
            {
                const char* name;
                UINT key;
            } steps[] = {{"Home", VK_HOME}, {"0", '0'}, {"numpad 0", VK_NUMPAD0}};
            for (const Step& s : steps)
            {
                SCOPED_TRACE(s.name);
                // Move away first: a turn and a pan, so that the fit has something to undo.
                backend.KeyPress(VK_LEFT);
                backend.RunPending();
                backend.KeyPress(VK_NUMPAD6);
                backend.RunPending();
                D3DXVECTOR3 before = Eye(viewer) - Target(viewer);
                D3DXVec3Normalize(&before, &before);
                backend.KeyPress(s.key);
                backend.RunPending();
                ExpectNear(Target(viewer), kCentre);
                EXPECT_NEAR(Distance(Eye(viewer), Target(viewer)), 1.5f * kDiagonal, 1e-4f);
                D3DXVECTOR3 after = Eye(viewer) - Target(viewer);
                D3DXVec3Normalize(&after, &after);
                ExpectNear(after, s.key == VK_HOME ? standard : before);
                // The window is wider than high: its height is the diagonal.
                const auto& p = viewer.m_viewParams;
                EXPECT_NEAR(p.window[2] - p.window[3], kDiagonal, 1e-4f);
                EXPECT_GT(p.window[1] - p.window[0], p.window[2] - p.window[3]);
                for (int i = 0; i < 4; ++i)
                    EXPECT_EQ(p.secondWindow[i], p.window[i]);
                D3DXVECTOR3 cameraEye;
                ASSERT_EQ(LRGetViewLookAt(viewer.m_renderView.camera, &cameraEye, nullptr, nullptr), S_OK);
                ExpectNear(cameraEye, Eye(viewer));
            }
        });
}

TEST_F(NavigationTest, FullWidthLeftDragTurnsHalfAroundTheVertical)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            RECT client{};
            GetClientRect(w, &client);
            const D3DXVECTOR3 target = Target(viewer), d = Eye(viewer) - target;
            const LONG y = client.bottom / 2;
            backend.MouseDown(w, {0, y});
            backend.RunPending();
            // Leaving the drag rectangle starts the drag and captures the mouse, which then follows it out.
            backend.MouseMove(w, {6, y});
            backend.RunPending();
            backend.MouseMove(w, {client.right, y});
            backend.RunPending();
            backend.MouseUp(w, {client.right, y});
            backend.RunPending();
            ExpectNear(Target(viewer), target);
            ExpectNear(Eye(viewer) - target, D3DXVECTOR3(-d.x, -d.y, d.z), 1e-3f);
            EXPECT_FALSE(viewer.m_bDragging);
            EXPECT_EQ(backend.capture(), nullptr);
        });
}

// Wheel forward: over the background the camera moves 0.135 units along the view; over the house by
// 13.5 percent of the distance to the picked point.
TEST_F(NavigationTest, WheelMovesTowardThePointUnderTheCursor)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            backend.RunPending();
            RECT client{};
            GetClientRect(w, &client);
            struct Case
            {
                const char* name;
                POINT point;
            } cases[] = {{"background", {2, 2}}, {"house", {client.right / 2, client.bottom / 2}}};
            for (const Case& c : cases)
            {
                SCOPED_TRACE(c.name);
                backend.KeyPress(VK_HOME);
                backend.RunPending();
                POINT screen = c.point;
                ClientToScreen(w, &screen);
                BYTE hit = 0;
                float hitPoint[3] = {};
                LRPickAtScreenPoint(&viewer.m_renderView, static_cast<DWORD>(viewer.m_objects.size()),
                                    viewer.m_objects.data(), &screen, true, &hit, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, hitPoint);
                const D3DXVECTOR3 eye = Eye(viewer);
                D3DXVECTOR3 toward = hit ? D3DXVECTOR3(hitPoint) - eye : Target(viewer) - eye;
                const float expected = hit ? 0.135f * D3DXVec3Length(&toward) : 0.135f;
                D3DXVec3Normalize(&toward, &toward);
                EXPECT_EQ(hit != 0, c.point.x != 2);

                backend.Wheel(w, c.point, WHEEL_DELTA);

                backend.RunPending();
                ExpectNear(Eye(viewer), eye + toward * expected);
                EXPECT_EQ(viewer.m_viewParams.zNear, 0.05f);
                EXPECT_EQ(viewer.m_viewParams.zFar, 1000.0f);
            }
        });
}

// W held for one 20 ms tick walks 20 * 3 * 0.75 * 0.02 * 0.1 = 0.09 units forward, level.
TEST_F(NavigationTest, WalkStepOfOneTickMovesByTheWalkSpeed)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            ::SetFocus(w);
            backend.KeyPress(VK_F2);
            backend.RunPending();
            ASSERT_TRUE(viewer.m_bWalkMode);
            const D3DXVECTOR3 eye = Eye(viewer), target = Target(viewer);
            D3DXVECTOR3 forward(target.x - eye.x, target.y - eye.y, 0);
            D3DXVec3Normalize(&forward, &forward);
            backend.KeyDown('W');
            backend.RunPending();
            backend.AdvanceAndRun(CTolvexControl3D::kTimerMilliseconds, CTolvexControl3D::kTimerMilliseconds);
            backend.KeyUp('W');
            backend.RunPending();
            ExpectNear(Eye(viewer), eye + forward * 0.09f);
            ExpectNear(Target(viewer), target + forward * 0.09f);
            EXPECT_EQ(viewer.m_nCursorId, 809u);
            backend.KeyPress(VK_F2);
            backend.RunPending();
            EXPECT_FALSE(viewer.m_bWalkMode);
            EXPECT_EQ(viewer.m_nCursorId, 812u);
        });
}

// A right click opens the context menu; the release that ends an Alt+right turn does not.
TEST_F(NavigationTest, ReleaseAfterAltRightTurnOpensNoContextMenu)
{
    Run(
        [](OneStepBackend& backend, HWND w, CTolvexControl3D& viewer)
        {
            g_viewerProc = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
            struct Case
            {
                const char* name;
                bool alt;
                bool move;
                int menus;
            } cases[] = {
                {"click", false, false, 1}, {"Alt click", true, false, 1}, {"Alt drag", true, true, 0}};
            for (const Case& c : cases)
            {
                SCOPED_TRACE(c.name);
                g_contextMenus = 0;
                const D3DXVECTOR3 target = Target(viewer);
                if (c.alt) backend.KeyDown(VK_MENU);
                backend.MouseDown(w, {50, 50}, Button::Right);
                backend.RunPending();
                if (c.move)
                {
                    backend.MouseMove(w, {80, 50});
                    backend.RunPending();
                }
                backend.MouseUp(w, {80, 50}, Button::Right);
                backend.RunPending();
                if (c.alt) backend.KeyUp(VK_MENU);
                backend.RunPending();
                EXPECT_EQ(g_contextMenus, c.menus);
                // The turn is about the eye.
                EXPECT_EQ(Distance(Target(viewer), target) > 1e-3f, c.move);
                EXPECT_FALSE(viewer.m_bDragging);
            }
            ::SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_viewerProc));
        });
}

// Three upright panels side by side along y, in the plane x = 0 facing -x (towards the standard
// view's eye), one geometry group each, placed once with material set 1 and the given chunks.
ferolt::test::Bytes PanelsObjectFile(const ferolt::test::Bytes& materialPack,
                                     const std::vector<std::pair<uint32_t, ferolt::test::Bytes>>& chunks)
{
    using namespace ferolt::test;
    std::vector<std::array<std::array<float, 3>, 4>> quads;
    for (float left : {0.0f, 3.0f, 6.0f})
        quads.push_back({{{0, left, 2}, {0, left + 2, 2}, {0, left, 0}, {0, left + 2, 0}}});
    BlockDesc blockDesc;
    blockDesc.meshes = {EncodeMesh(QuadGroupsMesh(quads)).bytes};
    const Bytes block = EncodeBlock(blockDesc);
    ByteWriter records;
    records.U32(uint32_t(block.size())).U32(1).U32(72);
    records.Raw(InstanceRecord(0, 1, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})).Raw(block);
    ChunkWriter content;
    for (const auto& [type, payload] : chunks)
        content.Chunk(type, payload);
    content.Chunk(2, materialPack).Chunk(8, records.Data());
    ObjectFileHeaderFields header;
    header.contentType = ferolt::example::kViewerContentType;
    return ObjectFileWriter(header).Bzip2Section(content.Data()).EndSection().Data();
}

// A pack of three materials drawn through the whole program: the plain panel shows its colour, the
// textured one its texture's, and the half-transparent one blends with the sky behind it.
TEST_F(NavigationTest, MaterialPackColoursEachSubsetAndTheTransparentOneBlends)
{
    constexpr uint32_t kPlain = 0xC04030, kTexel = 0x20A0B0, kGlass = 0x2040E0;
    using namespace ferolt::test;
    // A texture of one colour, so that filtering cannot mix it with anything; the material is white,
    // so that the texture shows as it is.
    const Bytes texture = Jpeg2000Rgb(std::vector<uint32_t>(4, 0xFF000000u | kTexel));
    const Bytes file = PanelsObjectFile(
        MaterialPack({.slots = {0, 1, 2},
                      .records = {ColourRecord(kPlain), ColourRecord(0xFFFFFF, 0xFF, "panel texture"),
                                  ColourRecord(kGlass, 0x80)}}),
        {{kTextureChunk, TextureChunkContent(kTextureChunk, 0, "panel texture", texture)}});
    std::ofstream(root_ / "house.tolvex", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    Run(
        [&](OneStepBackend& backend, HWND w, CTolvexControl3D&)
        {
            ::InvalidateRect(w, nullptr, FALSE);
            backend.RunPending();
            ASSERT_TRUE(backend.ReadPixels(w, &pixels, &width, &height));
        });
    if (const char* dump = std::getenv("FEROLT_DUMP_PNG"))
        WritePng(dump, pixels.data(), width, height, width * 4);

    // Half of the glass colour over the sky, the default gradient: what lies behind, worked back from
    // the blend.
    auto glassOverSky = [](uint32_t p)
    {
        uint32_t under = 0;
        for (int shift : {0, 8, 16})
        {
            const int top = (kGlass >> shift) & 0xFF, blended = (p >> shift) & 0xFF;
            const int below = (blended * 0xFF - top * 0x80) / (0xFF - 0x80);
            if (below < -4 || below > 0xFF + 4) return false;
            under |= static_cast<uint32_t>(std::clamp(below, 0, 0xFF)) << shift;
        }
        return ferolt::test::OnDefaultGradient(under, 0.04f);
    };
    auto count = [&](auto match)
    { return std::count_if(pixels.begin(), pixels.end(), [&](uint32_t p) { return match(p & 0xFFFFFF); }); };
    auto exactly = [](uint32_t colour) { return [colour](uint32_t p) { return p == colour; }; };
    EXPECT_GT(count(exactly(kPlain)), 1000);
    EXPECT_GT(count(exactly(kTexel)), 1000);
    EXPECT_EQ(count(exactly(0xFFFFFF)), 0) << "the textured panel shows its texture, not its material";
    EXPECT_EQ(count(exactly(kGlass)), 0) << "nothing of the glass panel is drawn opaque";
    EXPECT_GT(count(glassOverSky), 1000) << "the sky shows through the glass panel";
}

// ---------------------------------------------------------------------------------------------------
// Helpers without a window

// The bundled example is what its generator writes today.
TEST(BundledExample, MatchesItsGenerator)
{
    std::ifstream in(std::string(FEROLT_SOURCE_DIR) + "/examples/example.tolvex", std::ios::binary);
    ASSERT_TRUE(in.good());
    const ferolt::test::Bytes committed{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(committed, ferolt::example::HouseObjectFile()) << "run make_example examples/example.tolvex";
}

TEST(WalkZones, ZoneAndSpeedFactorsFollowTheRowsAndColumns)
{
    const RECT client{0, 0, 100, 100};
    struct Case
    {
        POINT point;
        int zone;
        float fx, fy;
    } cases[] = {
        {{0, 0}, 0, 1.0f, 1.0f},
        {{50, 10}, 1, 21.0f / 32, 0.8f},
        {{99, 0}, 2, 28.0f / 29, 1.0f},
        {{39, 50}, 4, 1.0f, 1.0f},
        {{0, 69}, 3, 1.0f, 0.05f},
        {{71, 70}, 8, 0.0f, 0.0f},
        {{20, 99}, 6, 19.0f / 39, 29.0f / 30},
    };
    for (const Case& c : cases)
    {
        float fx = -1, fy = -1;
        EXPECT_EQ(CTolvexControl3D::ClassifyWalkCursorZone(client, c.point, &fx, &fy), c.zone)
            << c.point.x << "," << c.point.y;
        EXPECT_NEAR(fx, c.fx, 1e-5f);
        EXPECT_NEAR(fy, c.fy, 1e-5f);
    }
    float fx = -1, fy = -1;
    EXPECT_EQ(CTolvexControl3D::ClassifyWalkCursorZone(RECT{0, 0, 0, 0}, POINT{0, 0}, &fx, &fy), 8);
    EXPECT_EQ(fx, 0.0f) << "an empty client area has no span to divide by";
    EXPECT_EQ(fy, 0.0f);
}

// A view straight down still has a right-hand axis across it, so pan and orbit keep working.
TEST(ViewAxes, RightAxisStaysAcrossTheViewWhenLookingAlongUp)
{
    struct Case
    {
        D3DXVECTOR3 d;
    } cases[] = {{{-3, 0, 2}}, {{0, 0, 5}}, {{0, 0, -5}}, {{1e-9f, 0, 5}}};
    for (const Case& c : cases)
    {
        D3DXVECTOR3 r = ferolt::viewer::ViewRightAxis(D3DXVECTOR3(0, 0, 1), c.d);
        EXPECT_GT(D3DXVec3Length(&r), 0.0f);
        EXPECT_NEAR(D3DXVec3Dot(&r, &c.d), 0.0f, 1e-4f);
        EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z));
    }
}

TEST(ViewAxes, PointOnTheViewAxisAtTheDepthOfAPoint)
{
    D3DXVECTOR3 q;
    ASSERT_TRUE(CTolvexControl3D::ViewAxisPointAtDepth({0, 0, 0}, {10, 0, 0}, {4, 3, -2}, &q));
    ExpectNear(q, D3DXVECTOR3(4, 0, 0));
    EXPECT_FALSE(CTolvexControl3D::ViewAxisPointAtDepth({1, 1, 1}, {1, 1, 1}, {4, 3, -2}, &q))
        << "an eye on its target has no axis";
}
} // namespace
