// Picking through LRPick and LRPickAtScreenPoint on small scenes whose answers are worked by hand.
//
// The camera stands at (0, 0, 10) looking at the origin with a 4 x 4 window on the plane z = 0, so a
// device point (x, y) lies over the world point (2x, -2y, 0) there (y runs down the view). The quad model
// covers x and y from -1 to 1 at z = 0: face 0 is A B C (subset 0), face 1 is A C D (subset 1), with
// A (-1, -1), B (1, -1), C (1, 1), D (-1, 1) and texture coordinates u = (x + 1) / 2, v = (1 - y) / 2.
// Both faces are wound so that their normal (v1 - v0) x (v2 - v0) points at the camera (+z).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "../scene_model/scene_fixture.h"
#include "engine/core/backbuffer.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/core/view.h"
#include "engine/render/picking.h"
#include "engine/render/render_records.h"
#include "engine/scene/object.h"
#include "engine/scene/object_api.h"
#include "platform/win32/windows.h"

namespace
{
constexpr DWORD kValue0 = 100;
constexpr DWORD kValue1 = 101;

struct PickResult
{
    HRESULT hr = E_UNEXPECTED;
    BYTE hit = 0xCD;
    DWORD object = 0xCDCDCDCD;
    DWORD subset = 0xCDCDCDCD;
    DWORD face = 0xCDCDCDCD;
    float barycentric[2] = {-7, -7};
    float texture[2] = {-7, -7};
    DWORD value = 0;
    float point[3] = {-7, -7, -7};
    LMK::Material_* material = nullptr;
};

class PickTest : public scenetest::SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        Camera(D3DXVECTOR3(0, 0, 10));
    }

    void TearDown() override
    {
        for (LMK::Material_*& m : materials_)
            ReleaseMaterial(&m);
        for (LMK::Object_*& o : objects_)
            if (o) LRReleaseObject(&o);
        for (LMK::Model_* m : models_)
            m->Release();
        delete camera_;
        if (backBuffer_) LRReleaseBackBuffer(&backBuffer_);
        if (window_) DestroyWindow(window_);
        SceneTest::TearDown();
    }

    static void ReleaseMaterial(LMK::Material_** m)
    {
        LMK::LoadedPart_* part = *m;
        if (part) LRReleaseLoadedPart(&part);
        *m = nullptr;
    }

    void Camera(D3DXVECTOR3 eye)
    {
        delete camera_;
        camera_ = new LMK::View_(eye, D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0), 0, 4, 4, 1, 100);
    }

    // A colour material the fixture keeps; alpha below 1 makes it transparent.
    LMK::Material_* Material(float alpha, bool twoSided)
    {
        LMK::Material_* m = nullptr;
        EXPECT_EQ(LRCreateMaterialFromColor(0.5f, 0.5f, 0.5f, alpha, &m), S_OK);
        if (m && twoSided) m->flags |= LMK::kMaterialTwoSided;
        materials_.push_back(m);
        return m;
    }

    // The quad of the file comment; both subsets take the given material (null: the engine's default).
    LMK::Model_* Quad(LMK::Material_* material = nullptr)
    {
        scenetest::RawGeometry g;
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners)
        {
            const DWORD i = g.AddVertex(c[0], c[1], 0);
            g.vertices[i].u = (c[0] + 1) / 2;
            g.vertices[i].v = (1 - c[1]) / 2;
        }
        g.indices = {0, 1, 2, 0, 2, 3};
        std::vector<LMK::SubsetStruct_TYP> subsets = {scenetest::Subset(0, 1, material),
                                                      scenetest::Subset(1, 1, material)};
        subsets[0].value = kValue0;
        subsets[1].value = kValue1;
        HRESULT hr = E_FAIL;
        LMK::Model_* model = scenetest::BuildModel(g, subsets, &hr);
        EXPECT_EQ(hr, S_OK);
        models_.push_back(model);
        return model;
    }

    LMK::Object_* Place(LMK::Model_* model, float z, float scale = 1.0f)
    {
        D3DXMATRIX s, t, m;
        D3DXMatrixScaling(&s, scale, scale, scale);
        D3DXMatrixTranslation(&t, 0, 0, z);
        D3DXMatrixMultiply(&m, &s, &t);
        LMK::Object_* object = nullptr;
        EXPECT_EQ(LRCreateObject(model, &object, &m), S_OK);
        objects_.push_back(object);
        return object;
    }

    PickResult Pick(std::vector<LMK::Object_*> scene, float x, float y, bool farthest = false,
                    bool skipTransparent = false, const float* sectionPlane = nullptr)
    {
        PickResult r;
        const float point[3] = {x, y, 0};
        r.hr = LRPick(farthest, camera_, false, sectionPlane, nullptr, static_cast<DWORD>(scene.size()),
                      scene.data(), point, skipTransparent, &r.hit, &r.object, &r.subset, &r.face,
                      r.barycentric, r.texture, &r.material, &r.value, r.point);
        if (r.material) materials_.push_back(r.material);
        return r;
    }

    LMK::View_* camera_ = nullptr;
    std::vector<LMK::Material_*> materials_;
    std::vector<LMK::Object_*> objects_;
    std::vector<LMK::Model_*> models_;
    HWND window_ = nullptr;
    LMK::BackBuffer_* backBuffer_ = nullptr;
};

void ExpectPoint(const float* actual, D3DXVECTOR3 expected)
{
    EXPECT_NEAR(actual[0], expected.x, 1e-4f);
    EXPECT_NEAR(actual[1], expected.y, 1e-4f);
    EXPECT_NEAR(actual[2], expected.z, 1e-4f);
}

TEST_F(PickTest, KnownFacesGiveObjectSubsetFaceAndCoordinates)
{
    LMK::Material_* own = Material(1.0f, false);
    LMK::Object_* quad = Place(Quad(own), 0);
    struct Case
    {
        const char* name;
        float x, y;
        bool hit;
        DWORD subset, face, value;
        float u, v; // barycentric
        float s, t; // texture coordinate
        D3DXVECTOR3 world;
    };
    const Case cases[] = {
        // World (0.5, -0.5) = A + 0.5 (B - A) + 0.25 (C - A).
        {"lower right face", 0.25f, 0.25f, true, 0, 0, kValue0, 0.5f, 0.25f, 0.75f, 0.75f, {0.5f, -0.5f, 0}},
        // World (-0.5, 0.5) = A + 0.25 (C - A) + 0.5 (D - A).
        {"upper left face", -0.25f, -0.25f, true, 1, 1, kValue1, 0.25f, 0.5f, 0.25f, 0.25f, {-0.5f, 0.5f, 0}},
        // World (1.5, -1.5): beside the quad.
        {"background", 0.75f, 0.75f, false, 0, 0, 0, 0, 0, 0, 0, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        // A null entry first: it is passed over, and the index still counts it.
        const PickResult r = Pick({nullptr, quad}, c.x, c.y);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, c.hit ? 1 : 0);
        EXPECT_EQ(r.object, c.hit ? 1u : 0u);
        EXPECT_NEAR(r.texture[0], c.s, 1e-5f);
        EXPECT_NEAR(r.texture[1], c.t, 1e-5f);
        if (!c.hit)
        {
            EXPECT_EQ(r.material, nullptr);
            continue;
        }
        EXPECT_EQ(r.subset, c.subset);
        EXPECT_EQ(r.face, c.face);
        EXPECT_EQ(r.value, c.value);
        EXPECT_NEAR(r.barycentric[0], c.u, 1e-5f);
        EXPECT_NEAR(r.barycentric[1], c.v, 1e-5f);
        ExpectPoint(r.point, c.world);
        EXPECT_EQ(r.material, own);
    }
}

TEST_F(PickTest, NearestAndFarthestChooseAmongObjectsBehindEachOther)
{
    LMK::Model_* model = Quad();
    LMK::Object_* front = Place(model, 0);
    // Three times the size five units behind: the ray through (0.5, -0.5, 0) meets it at (0.75, -0.75, -5).
    LMK::Object_* back = Place(model, -5, 3);
    LMK::Object_* twin = Place(model, 0);
    struct Case
    {
        const char* name;
        std::vector<LMK::Object_*> scene;
        bool farthest;
        DWORD object;
        D3DXVECTOR3 world;
    };
    const Case cases[] = {
        {"nearest is the front one", {back, front}, false, 1, {0.5f, -0.5f, 0}},
        {"farthest is the back one", {front, back}, true, 1, {0.75f, -0.75f, -5}},
        {"nearest tie keeps the first", {front, twin}, false, 0, {0.5f, -0.5f, 0}},
        {"farthest tie takes the last", {front, twin}, true, 1, {0.5f, -0.5f, 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const PickResult r = Pick(c.scene, 0.25f, 0.25f, c.farthest);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, 1);
        EXPECT_EQ(r.object, c.object);
        ExpectPoint(r.point, c.world);
    }
}

TEST_F(PickTest, SingleSidedFaceSeenFromBehindIsHitOnlyByFarthestPicks)
{
    Camera(D3DXVECTOR3(0, 0, -10));
    LMK::Object_* singleSided = Place(Quad(), 0);
    LMK::Object_* twoSided = Place(Quad(Material(1.0f, true)), 0);
    struct Case
    {
        const char* name;
        LMK::Object_* object;
        bool farthest;
        bool hit;
    };
    const Case cases[] = {
        {"single-sided, nearest", singleSided, false, false},
        {"single-sided, farthest", singleSided, true, true},
        {"two-sided, nearest", twoSided, false, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const PickResult r = Pick({c.object}, 0.25f, 0.25f, c.farthest);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, c.hit ? 1 : 0);
    }
}

TEST_F(PickTest, TransparentSubsetsAreSkippedOnRequest)
{
    LMK::Object_* glass = Place(Quad(Material(0.5f, false)), 0);
    LMK::Object_* pane = Place(Quad(), 0.5f); // opaque, but made see-through below
    LMK::Object_* wall = Place(Quad(), -5, 3);
    pane->seeThrough = 1;
    struct Case
    {
        const char* name;
        std::vector<LMK::Object_*> scene;
        bool skip;
        DWORD object;
    };
    const Case cases[] = {
        {"glass is hit when asked", {glass, wall}, false, 0},
        {"glass is skipped", {glass, wall}, true, 1},
        {"see-through object is skipped", {pane, wall}, true, 1},
        {"see-through object is hit when asked", {pane, wall}, false, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const PickResult r = Pick(c.scene, 0.25f, 0.25f, false, c.skip);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, 1);
        EXPECT_EQ(r.object, c.object);
    }
}

TEST_F(PickTest, SectionPlaneIgnoresHitsOnItsCutAwaySide)
{
    LMK::Model_* model = Quad();
    LMK::Object_* front = Place(model, 0);
    LMK::Object_* back = Place(model, -5, 3);
    struct Case
    {
        const char* name;
        float plane[4];
        bool farthest;
        bool hit;
        DWORD object;
    };
    const Case cases[] = {
        // Kept where -z - 2.5 >= 0: the eye is behind the plane, the front quad cut away.
        {"eye behind, front cut away", {0, 0, -1, -2.5f}, false, true, 1},
        // Kept where z + 2.5 >= 0: the back quad is cut away, so even a farthest pick gets the front one.
        {"eye in front, back cut away", {0, 0, 1, 2.5f}, true, true, 0},
        // Kept where -z - 20 >= 0: the plane lies ahead, behind everything.
        {"eye behind, everything cut away", {0, 0, -1, -20}, false, false, 0},
        // Kept where z - 20 >= 0: the eye is behind a plane that lies behind it.
        {"eye and plane behind", {0, 0, 1, -20}, false, false, 0},
        // Kept where -z + 20 >= 0: the plane is behind an eye on its kept side.
        {"plane behind the eye", {0, 0, -1, 20}, false, true, 0},
        // Parallel to the line of sight: ignored.
        {"parallel plane", {1, 0, 0, -5}, false, true, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const PickResult r = Pick({front, back}, 0.0f, 0.0f, c.farthest, false, c.plane);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, c.hit ? 1 : 0);
        EXPECT_EQ(r.object, c.object);
    }
}

TEST_F(PickTest, StretchedObjectIsPickedOnItsOwnGeometry)
{
    LMK::Model_* model = Quad();
    LMK::Object_* plain = Place(model, 0);
    LMK::Object_* stretched = Place(model, 0);
    // Everything beyond half a unit from x = 0 moves one unit outward: the quad spans x from -2 to 2.
    LMK::StretchPlaneStruct_TYP plane{{1, 0, 0, 0}, 1.0f, 3.0f, 0};
    stretched->stretchPlanes.push_back(plane);
    struct Case
    {
        const char* name;
        LMK::Object_* object;
        bool hit;
    };
    // World (1.5, 0.5) lies on the stretched face A B C at A + 0.125 (B - A) + 0.75 (C - A); the texture
    // coordinates stay those of the unstretched corners. The plain object after it must see its own
    // vertices again.
    const Case cases[] = {
        {"stretched", stretched, true}, {"plain", plain, false}, {"stretched again", stretched, true}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const PickResult r = Pick({c.object}, 0.75f, -0.25f);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, c.hit ? 1 : 0);
        if (!c.hit) continue;
        EXPECT_EQ(r.face, 0u);
        EXPECT_NEAR(r.barycentric[0], 0.125f, 1e-5f);
        EXPECT_NEAR(r.barycentric[1], 0.75f, 1e-5f);
        EXPECT_NEAR(r.texture[0], 0.875f, 1e-5f);
        EXPECT_NEAR(r.texture[1], 0.25f, 1e-5f);
        ExpectPoint(r.point, {1.5f, 0.5f, 0});
    }
    LMK::ModelVertexStruct_TYP base[3] = {};
    ASSERT_EQ(model->GetFaceVertices(0, 0, false, base), S_OK);
    EXPECT_EQ(base[1].position[0], 1.0f);
}

TEST_F(PickTest, OrthographicRaysRunParallelToTheView)
{
    delete camera_;
    camera_ =
        new LMK::View_(D3DXVECTOR3(0, 0, 10), D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0), 1, 4, 4, 1, 100);
    LMK::Model_* model = Quad();
    LMK::Object_* front = Place(model, 0);
    LMK::Object_* back = Place(model, -5, 3);
    struct Case
    {
        const char* name;
        const float* plane;
        DWORD object;
        D3DXVECTOR3 world;
    };
    // Kept where -z - 2.5 >= 0. The eye moves onto the picked point, yet the plane still cuts the ray.
    const float cut[4] = {0, 0, -1, -2.5f};
    const Case cases[] = {
        {"no plane", nullptr, 0, {0.5f, -0.5f, 0}},
        {"front cut away", cut, 1, {0.5f, -0.5f, -5}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const PickResult r = Pick({front, back}, 0.25f, 0.25f, false, false, c.plane);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.hit, 1);
        EXPECT_EQ(r.object, c.object);
        ExpectPoint(r.point, c.world);
    }
}

TEST_F(PickTest, CameraFacingObjectGetsItsPlacementBack)
{
    LMK::Object_* quad = Place(Quad(), 0);
    quad->cameraFacing = 1;
    const D3DXMATRIX world = *quad->world, inverse = *quad->inverseWorld;
    const float determinant = quad->determinant;
    const PickResult r = Pick({quad}, 0.0f, 0.0f);
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(std::memcmp(&world, quad->world, sizeof world), 0);
    EXPECT_EQ(std::memcmp(&inverse, quad->inverseWorld, sizeof inverse), 0);
    EXPECT_EQ(quad->determinant, determinant);
}

TEST_F(PickTest, ArgumentsAreChecked)
{
    LMK::Object_* quad = Place(Quad(), 0);
    LMK::Object_* list[] = {quad};
    const float point[3] = {0, 0, 0};
    BYTE hit = 0;
    EXPECT_EQ(LRPick(false, nullptr, false, nullptr, nullptr, 1, list, point, false, &hit, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(LRPick(false, camera_, false, nullptr, nullptr, 1, list, nullptr, false, &hit, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(LRPick(false, camera_, false, nullptr, nullptr, 1, list, point, false, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(LRPick(false, camera_, false, nullptr, nullptr, 1, nullptr, point, false, &hit, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
    // Every output but the hit byte may be left out.
    EXPECT_EQ(LRPick(false, camera_, false, nullptr, nullptr, 1, list, point, false, &hit, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(hit, 1);
}

TEST(PickWithoutEngine, Fails)
{
    ASSERT_EQ(LMK::CurrentGlobals, nullptr);
    LMK::View_ camera(D3DXVECTOR3(0, 0, 10), D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0), 0, 4, 4, 1, 100);
    const float point[3] = {0, 0, 0};
    BYTE hit = 0;
    EXPECT_EQ(LRPick(false, &camera, false, nullptr, nullptr, 0, nullptr, point, false, &hit, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              E_FAIL);
}

TEST_F(PickTest, FaceVerticesAreCheckedAndCopied)
{
    LMK::Model_* model = Quad();
    struct Case
    {
        DWORD subset, face;
        HRESULT hr;
    };
    const Case cases[] = {{0, 0, S_OK}, {1, 1, S_OK}, {2, 0, E_FAIL}, {0, 2, E_FAIL}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "subset " << c.subset << " face " << c.face);
        LMK::ModelVertexStruct_TYP v[3] = {};
        EXPECT_EQ(model->GetFaceVertices(c.subset, c.face, false, v), c.hr);
    }
    LMK::ModelVertexStruct_TYP v[3] = {};
    ASSERT_EQ(model->GetFaceVertices(1, 1, true, v), S_OK);
    const float expected[3][4] = {{-1, -1, 0, 1}, {1, 1, 1, 0}, {-1, 1, 0, 0}}; // x, y, texture u, v
    for (int c = 0; c < 3; ++c)
    {
        EXPECT_EQ(v[c].position[0], expected[c][0]);
        EXPECT_EQ(v[c].position[1], expected[c][1]);
        EXPECT_EQ(v[c].tex0[0], expected[c][2]);
        EXPECT_EQ(v[c].tex0[1], expected[c][3]);
    }
}

TEST_F(PickTest, ScreenPointMapsThroughTheClientRectangle)
{
    LMK::Object_* quad = Place(Quad(), 0);
    // 40 x 40 client area at (8, 4): the screen point (8 + 25, 4 + 25) is the device point (0.25, 0.25).
    window_ =
        CreateWindowExA(0, "Static", "pick", WS_POPUP, 8, 4, 40, 40, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_EQ(LRCreateBackBuffer(window_, &backBuffer_, nullptr), S_OK);
    LMK::RenderViewStruct_TYP view{};
    view.backBuffer = backBuffer_;
    view.camera = camera_;
    LMK::Object_* list[] = {quad};
    POINT at{33, 29};
    BYTE hit = 0;
    DWORD face = 9;
    float barycentric[2] = {};
    float world[3] = {};
    ASSERT_EQ(LRPickAtScreenPoint(&view, 1, list, &at, false, &hit, nullptr, nullptr, &face, barycentric,
                                  nullptr, nullptr, nullptr, world),
              S_OK);
    EXPECT_EQ(hit, 1);
    EXPECT_EQ(face, 0u);
    EXPECT_NEAR(barycentric[0], 0.5f, 1e-5f);
    EXPECT_NEAR(barycentric[1], 0.25f, 1e-5f);
    ExpectPoint(world, {0.5f, -0.5f, 0});

    // An empty client area: no ray can be made, so the pick fails and reports nothing hit.
    ASSERT_TRUE(MoveWindow(window_, 8, 4, 0, 0, FALSE));
    hit = 1;
    DWORD object = 5;
    float texture[2] = {-7, -7};
    EXPECT_EQ(LRPickAtScreenPoint(&view, 1, list, &at, false, &hit, &object, nullptr, nullptr, nullptr,
                                  texture, nullptr, nullptr, nullptr),
              E_FAIL);
    EXPECT_EQ(hit, 0);
    EXPECT_EQ(object, 0u);
    EXPECT_FALSE(std::isnan(texture[0]) || std::isnan(texture[1]));

    view.camera = nullptr;
    EXPECT_EQ(LRPickAtScreenPoint(&view, 1, list, &at, false, &hit, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr),
              E_INVALIDARG);
}
} // namespace
