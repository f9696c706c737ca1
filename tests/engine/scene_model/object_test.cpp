// Objects: placement, bounds, screen size, material overrides and light-point lights.
#include "scene_fixture.h"

#include <algorithm>
#include <cmath>

#include "engine/core/backbuffer.h"
#include "engine/core/view.h"
#include "engine/scene/object.h"
#include "engine/scene/object_api.h"
#include "engine/scene/object_light.h"

namespace
{
using namespace scenetest;

// A box from (-1, -2, -3) to (1, 2, 3): twelve faces on eight corners.
RawGeometry Box()
{
    RawGeometry g;
    for (int i = 0; i < 8; ++i)
        g.AddVertex((i & 1) ? 1.0f : -1.0f, (i & 2) ? 2.0f : -2.0f, (i & 4) ? 3.0f : -3.0f);
    const DWORD sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                               {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& q : sides)
        g.indices.insert(g.indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
    return g;
}

class ObjectTest : public SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        const RawGeometry g = Box();
        HRESULT hr = E_FAIL;
        const std::vector<LMK::RawLightPointStruct_TYP> points(2);
        model = new LMK::Model_(0, g.vertices.data(), 8, g.indices.data(), 12, nullptr, 0, nullptr, 0,
                                nullptr, nullptr, &hr, 0, 0, 2, points.data(), 0, 0);
        ASSERT_EQ(hr, S_OK);
        LMK::SubsetStruct_TYP subsets[2] = {Subset(0, 6), Subset(6, 6)};
        model2 = BuildModel(g, {subsets[0], subsets[1]}, &hr);
        ASSERT_EQ(hr, S_OK);
    }
    void TearDown() override
    {
        if (model) model->Release();
        if (model2) model2->Release();
        SceneTest::TearDown();
    }
    // Scaled by 2, turned a quarter about z, moved to x = 10.
    static D3DXMATRIX Placement()
    {
        D3DXMATRIX s, r, t, m;
        D3DXMatrixScaling(&s, 2, 2, 2);
        D3DXMatrixRotationZ(&r, 3.14159265f / 2);
        D3DXMatrixTranslation(&t, 10, 0, 0);
        D3DXMatrixMultiply(&m, &s, &r);
        D3DXMatrixMultiply(&m, &m, &t);
        return m;
    }
    LMK::Model_* model = nullptr;  // no subsets, two light points
    LMK::Model_* model2 = nullptr; // two subsets
};

TEST_F(ObjectTest, BoundsOfAPlacedRotatedScaledModel)
{
    const D3DXMATRIX placement = Placement();
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model2, &object, &placement), S_OK);
    EXPECT_NEAR(object->determinant, 8.0f, 1e-4f);
    D3DXVECTOR3 lo, hi;
    ASSERT_EQ(LRGetObjectBoundingBox(object, &lo, &hi), S_OK);
    // x' = 10 - 2y, y' = 2x, z' = 2z.
    const float expectLo[3] = {6, -2, -6}, expectHi[3] = {14, 2, 6};
    const float got[2][3] = {{lo.x, lo.y, lo.z}, {hi.x, hi.y, hi.z}};
    for (int k = 0; k < 3; ++k)
    {
        EXPECT_NEAR(got[0][k], expectLo[k], 1e-4f) << k;
        EXPECT_NEAR(got[1][k], expectHi[k], 1e-4f) << k;
    }
    EXPECT_NEAR(object->boundsCentre[0], 10.0f, 1e-4f);
    EXPECT_NEAR(object->boundsRadius, std::sqrt(224.0f) / 2, 1e-4f);

    // A new placement invalidates the box.
    object->SetPlacement(nullptr, false);
    ASSERT_EQ(LRGetObjectBoundingBox(object, &lo, &hi), S_OK);
    EXPECT_NEAR(hi.x, 1.0f, 1e-5f);
    EXPECT_NEAR(hi.z, 3.0f, 1e-5f);
    ASSERT_EQ(LRReleaseObject(&object), S_OK);
    EXPECT_EQ(object, nullptr);
}

// With a camera the box is kept in projection space. The engine's cameras are right-handed: what lies in
// front of the camera has negative view-space z, and points nearer than the near plane move onto it, so
// a box in front spans depths inside [0, 1] and a box reaching behind the camera starts at depth 0.
TEST_F(ObjectTest, BoundsThroughACameraStayInFrontOfIt)
{
    struct Case
    {
        const char* name;
        float eyeZ;
        float minDepth, maxDepth; // expected, in projection space
    };
    // Box z from -3 to 3; near 1, far 100: depth(d) = 100 (d - 1) / (99 d) at view distance d.
    auto depth = [](float d) { return 100.0f * (d - 1.0f) / (99.0f * d); };
    const Case cases[] = {
        {"wholly in front", 13, depth(10), depth(16)},
        {"reaching behind the camera", 2, 0.0f, depth(5)},
    };
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model2, &object, nullptr), S_OK);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::View_ camera(D3DXVECTOR3(0, 0, c.eyeZ), D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 1, 0), 0, 40, 40, 1,
                          100);
        object->ComputeBounds(nullptr, &camera);
        EXPECT_NEAR(object->boundsMin[2], c.minDepth, 1e-4f);
        EXPECT_NEAR(object->boundsMax[2], c.maxDepth, 1e-4f);
    }
    object->ComputeBounds(nullptr, nullptr);
    LRReleaseObject(&object);
}

struct ScreenCase
{
    const char* name;
    uint8_t orthographic;
    D3DXVECTOR3 eye;
    D3DXVECTOR3 target;
    float pixels;
};

// The bounding sphere's projected diameter: radius r seen through a window 40 units high on the plane of
// the object's centre, in a 100-pixel-high image, is 2 r x 100 / 40 pixels.
TEST_F(ObjectTest, ScreenSizeOfAPlacedModel)
{
    const float r = std::sqrt(224.0f) / 2;
    const ScreenCase cases[] = {
        {"orthographic", 1, {10, 0, 50}, {10, 0, 0}, 2 * r * 100 / 40},
        {"perspective, centre at the look-at plane", 0, {10, 0, 50}, {10, 0, 0}, 2 * r * 100 / 40},
        {"behind the camera", 0, {10, 0, -50}, {10, 0, -100}, 0},
    };
    const D3DXMATRIX placement = Placement();
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model2, &object, &placement), S_OK);
    for (const ScreenCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::View_ camera(c.eye, c.target, D3DXVECTOR3(0, 1, 0), c.orthographic, 40, 40, 1, 1000);
        EXPECT_NEAR(object->GetScreenSize(100, 100, &camera), c.pixels, 1e-2f);
        // Twelve faces are too few to ever count as small.
        EXPECT_FALSE(object->IsSmallerOnScreenThan(1e6f, 100, 100, &camera));
    }
    LRReleaseObject(&object);
}

struct PlacementCase
{
    const char* name;
    BYTE turned;
    float scale;
    float expectedDeterminant;
    float expected11; // world._11
};

TEST_F(ObjectTest, PlacementTurnsAndRejectsHugeScales)
{
    const PlacementCase cases[] = {
        {"plain", 0, 1, 1, 1},
        {"turned model, no placement", 1, 0, 1, -1},
        {"scaled by 2", 0, 2, 8, 2},
        {"scaled by 1000 is replaced", 0, 1000, 1, 1},
    };
    for (const PlacementCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        model2->turned = c.turned;
        D3DXMATRIX scale;
        D3DXMatrixScaling(&scale, c.scale, c.scale, c.scale);
        LMK::Object_* object = nullptr;
        ASSERT_EQ(LRCreateObject(model2, &object, c.scale ? &scale : nullptr), S_OK);
        EXPECT_NEAR(object->determinant, c.expectedDeterminant, 1e-4f);
        EXPECT_NEAR(object->world->_11, c.expected11, 1e-5f);
        D3DXMATRIX product;
        D3DXMatrixMultiply(&product, object->world, object->inverseWorld);
        EXPECT_NEAR(product._11, 1.0f, 1e-5f);
        EXPECT_NEAR(product._22, 1.0f, 1e-5f);
        LRReleaseObject(&object);
    }
    model2->turned = 0;
}

TEST_F(ObjectTest, ApiChecksArguments)
{
    LMK::Object_* object = reinterpret_cast<LMK::Object_*>(this);
    EXPECT_EQ(LRCreateObject(model2, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRCreateObject(nullptr, &object, nullptr), E_INVALIDARG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(LRReleaseObject(nullptr), E_INVALIDARG);
    EXPECT_EQ(LRSetObjectLightPointLight(nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRSetObjectGroupMaterial(nullptr, 0, nullptr), E_INVALIDARG);

    ASSERT_EQ(LRCreateObject(model2, &object, nullptr), S_OK);
    EXPECT_EQ(model2->refCount, 2u);
    ASSERT_EQ(model2->users.size(), 1u);
    LRReleaseObject(&object);
    EXPECT_EQ(model2->refCount, 1u);
    EXPECT_TRUE(model2->users.empty());
}

// Objects leave their model's users in any order; each one still finds its own place afterwards, and
// the model's reference count follows.
TEST_F(ObjectTest, UsersStayExactWhateverTheReleaseOrder)
{
    const std::vector<std::vector<int>> orders = {
        {0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 0, 4, 1, 3}, {1, 3, 0, 4, 2}};
    for (const auto& order : orders)
    {
        std::vector<LMK::Object_*> objects(order.size());
        for (LMK::Object_*& o : objects)
            ASSERT_EQ(LRCreateObject(model2, &o, nullptr), S_OK);
        std::vector<LMK::Object_*> alive = objects;
        for (int k : order)
        {
            alive.erase(std::find(alive.begin(), alive.end(), objects[k]));
            LRReleaseObject(&objects[k]);
            std::vector<LMK::Object_*> users = model2->users;
            std::sort(users.begin(), users.end());
            std::vector<LMK::Object_*> expected = alive;
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(users, expected);
            EXPECT_EQ(model2->refCount, 1u + alive.size());
        }
    }
}

using StoppedEngineTest = enginetest::EngineTest;

TEST_F(StoppedEngineTest, ObjectApiNeedsAStartedEngine)
{
    LMK::Object_* object = nullptr;
    auto* someModel = reinterpret_cast<LMK::Model_*>(&object);
    D3DXVECTOR3 lo, hi;
    EXPECT_EQ(LRCreateObject(someModel, &object, nullptr), E_FAIL);
    EXPECT_EQ(LRReleaseObject(&object), E_FAIL);
    EXPECT_EQ(LRGetObjectBoundingBox(object, &lo, &hi), E_FAIL);
    EXPECT_EQ(LRSetObjectAnimationTime(object, 1.0f), E_FAIL);
}

// A light stored at a light point replaces the one there before, which gets its reference back.
TEST_F(ObjectTest, LightPointLightsAreCounted)
{
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model, &object, nullptr), S_OK);
    auto* a = new LMK::Light_();
    auto* b = new LMK::Light_();
    EXPECT_EQ(LRSetObjectLightPointLight(object, 2, a), E_FAIL);
    EXPECT_EQ(LRSetObjectLightPointLight(object, 0, nullptr), S_OK);
    ASSERT_NE(object->lightPointLights, nullptr);
    EXPECT_EQ(object->lightPointLights[0], nullptr);

    ASSERT_EQ(LRSetObjectLightPointLight(object, 0, a), S_OK);
    EXPECT_EQ(a->refCount, 2u);
    ASSERT_EQ(LRSetObjectLightPointLight(object, 0, b), S_OK);
    EXPECT_EQ(a->refCount, 1u);
    EXPECT_EQ(b->refCount, 2u);
    ASSERT_EQ(LRSetObjectLightPointLight(object, 0, b), S_OK);
    EXPECT_EQ(b->refCount, 2u) << "storing the same light again keeps one reference";
    LRReleaseObject(&object);
    EXPECT_EQ(b->refCount, 1u);
    a->Release();
    b->Release();
}

TEST_F(ObjectTest, OverridesAreCopiesAndCounted)
{
    auto* red = new LMK::Material_(1, 0, 0, 1, false);
    auto* change = new LMK::Material_(0, 1, 0, 0.5f, false);
    model2->SetSubsetMaterial(red, 0); // subset 0 takes red itself
    ASSERT_EQ(model2->subsets[0].material, red);
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model2, &object, nullptr), S_OK);
    EXPECT_FALSE(object->HasTransparency());

    BYTE fromModel = 0;
    LMK::Material_* m = object->GetSubsetMaterial(0, &fromModel);
    EXPECT_EQ(m, red);
    EXPECT_EQ(fromModel, 1);
    m->Release();

    // A group no subset carries (but below the count) changes nothing.
    model2->subsets[1].materialGroup = 0;
    EXPECT_EQ(LRSetObjectGroupMaterial(object, 1, change), S_OK);
    EXPECT_EQ(object->overrides[0], nullptr);
    EXPECT_EQ(LRSetObjectGroupMaterial(object, 2, change), E_FAIL);
    // Group 0 now holds both subsets: subset 0 gets a copy of red, subset 1 the change itself.
    ASSERT_EQ(LRSetObjectGroupMaterial(object, 0, change), S_OK);
    ASSERT_NE(object->overrides[0], nullptr);
    EXPECT_NE(object->overrides[0], red);
    EXPECT_EQ(object->overrides[1], change);
    EXPECT_EQ(red->refCount, 2u) << "the model's material is untouched";
    EXPECT_TRUE(object->HasTransparency());
    m = object->GetSubsetMaterial(1, &fromModel);
    EXPECT_EQ(fromModel, 0);
    m->Release();

    LRReleaseObject(&object);
    EXPECT_EQ(change->refCount, 1u);
    change->Release();
    red->Release();
}

TEST_F(ObjectTest, FrustumTestUsesTheBoundingSphere)
{
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model2, &object, nullptr), S_OK);
    const float r = std::sqrt(4.0f + 16.0f + 36.0f) / 2;
    std::vector<D3DXPLANE> planes = {{0, 0, 1, 10}, {0, 0, -1, 10}, {1, 0, 0, 0}};
    EXPECT_TRUE(object->IsInFrustum(&planes, nullptr, nullptr, nullptr));
    planes[2].d = -r - 0.01f; // the sphere lies just behind plane 2
    EXPECT_FALSE(object->IsInFrustum(&planes, nullptr, nullptr, nullptr));
    planes[2].d = 0;
    planes[0].d = -100; // planes 0 and 1 do not count with depth outputs
    float zNear = 0, zFar = 0;
    EXPECT_TRUE(object->IsInFrustum(&planes, nullptr, &zNear, &zFar));
    EXPECT_NEAR(zNear, -100 - r, 1e-4f);
    EXPECT_NEAR(zFar, -100 + r, 1e-4f);
    EXPECT_FALSE(object->IsInFrustum(&planes, nullptr, nullptr, nullptr));
    std::vector<D3DXPLANE> none;
    EXPECT_FALSE(object->IsInFrustum(&none, nullptr, nullptr, nullptr));
    LRReleaseObject(&object);
}

// The draw of an object reaches the model's copy on the part's device and leaves the model describing
// that object; a model without subsets does nothing.
TEST_F(ObjectTest, DrawMakesTheObjectCurrent)
{
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model2, &object, nullptr), S_OK);
    object->listIndex = 7;
    LMK::Device_* device = LMK::CurrentGlobals->devices.primaryDevice;
    RECT rect{0, 0, 8, 8};
    LMK::BackBufferPart_ part(device, rect, nullptr, 0, 0);
    const D3DXVECTOR3 eye(0, 0, 10);
    ASSERT_EQ(object->Draw(&part, &eye, 0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(model2->currentObject, object);
    EXPECT_EQ(model2->currentObjectListIndex, 7u);
    EXPECT_FLOAT_EQ(model2->eyePoint[2], 10.0f);
    EXPECT_EQ(model2->validationTable, device->stageValidation);
    EXPECT_EQ(model2->lastUsed, model2->primaryData.get());

    LMK::Object_* empty = nullptr;
    ASSERT_EQ(LRCreateObject(model, &empty, nullptr), S_OK);
    empty->drawnValidly = 0;
    EXPECT_EQ(empty->Draw(&part, &eye, 0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(empty->drawnValidly, 0);
    EXPECT_EQ(model->currentObject, nullptr);
    LRReleaseObject(&empty);
    LRReleaseObject(&object);
}
} // namespace

namespace
{
using scenetest::Primary;

// Drawn through a part of another device, the model makes its copy there: the same parts, attribute
// tables and line vertices, and the parked model drops it again.
TEST_F(StoppedEngineTest, SecondDeviceGetsACopyOfTheParts)
{
    enginetest::UseAdapters({enginetest::SmallAdapter(0), enginetest::SmallAdapter(64)});
    ASSERT_EQ(LRStart(nullptr), S_OK);
    const auto& devices = LMK::CurrentGlobals->devices.requests.devices;
    ASSERT_EQ(devices.size(), 2u);

    scenetest::RawGeometry g;
    g.AddQuad(0, 0);
    g.AddQuad(2, 1);
    std::vector<LMK::RawVertexStruct_TYP> lines(2);
    lines[1].position[0] = 1;
    LMK::SubsetStruct_TYP subsets[2] = {scenetest::Subset(0, 2), scenetest::Subset(2, 2)};
    subsets[1].lineSegmentCount = 1;
    HRESULT hr = E_FAIL;
    LMK::Model_* model = scenetest::BuildModel(g, {subsets[0], subsets[1]}, &hr, 0, lines);
    ASSERT_EQ(hr, S_OK);
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model, &object, nullptr), S_OK);

    LMK::Device_* other = devices[0] == LMK::CurrentGlobals->devices.primaryDevice ? devices[1] : devices[0];
    RECT rect{0, 0, 8, 8};
    LMK::BackBufferPart_ part(other, rect, nullptr, 0, 0);
    ASSERT_EQ(object->Draw(&part, nullptr, 0, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(model->secondaryData.size(), 1u);
    auto* copy = static_cast<LMK::DeviceSpecificModelData_*>(model->secondaryData[0]);
    EXPECT_EQ(copy->device, other->device);
    ASSERT_EQ(copy->partCount, 1u);
    LMK::LKXMesh_* mine = Primary(model)->parts[0];
    LMK::LKXMesh_* theirs = copy->parts[0];
    ASSERT_NE(theirs, nullptr);
    ASSERT_EQ(theirs->attributeRangeCount, mine->attributeRangeCount);
    for (DWORD k = 0; k < mine->attributeRangeCount; ++k)
    {
        EXPECT_EQ(theirs->attributeTable[k].AttribId, mine->attributeTable[k].AttribId);
        EXPECT_EQ(theirs->attributeTable[k].FaceCount, mine->attributeTable[k].FaceCount);
    }
    EXPECT_NE(theirs->baseLineVertexBuffer, nullptr);
    EXPECT_EQ(theirs->currentVertexBuffer, theirs->baseVertexBuffer);

    model->OnCached();
    EXPECT_TRUE(model->secondaryData.empty());
    LRReleaseObject(&object);
    model->Release();
}
} // namespace
