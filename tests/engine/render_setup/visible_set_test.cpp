// The visible set of a render pass: culling, alternatives and levels of detail, batching, near and far
// fitted to what is visible, and impostor grouping.
#include "render_setup_fixture.h"

#include <cmath>
#include <map>
#include <string>

#include "engine/core/material.h"
#include "engine/core/material_loader_lists.h"
#include "engine/render/visible_set.h"
#include "engine/scene/model_lists.h"
#include "platform/mfc/afx_string.h"

namespace
{
using namespace rendertest;

class VisibleSetTest : public RenderSetupTest
{
protected:
    void SetUp() override
    {
        RenderSetupTest::SetUp();
        MakeCamera();
    }
    void TearDown() override
    {
        LMK::FreeVisibleSet(&set);
        RenderSetupTest::TearDown();
    }

    void Build(DWORD mode, DWORD width = 100, DWORD height = 100)
    {
        LMK::FreeVisibleSet(&set);
        set = LMK::VisibleSetStruct_TYP{};
        planes.clear();
        ASSERT_EQ(camera->GetFrustumPlanes(&planes), S_OK);
        ASSERT_EQ(camera->GetViewProjectionMatrix(&vp), S_OK);
        ASSERT_EQ(camera->GetInverseViewProjectionMatrix(&inverseVp), S_OK);
        view.modeFlags = mode;
        D3DXVECTOR3 eye;
        camera->GetLookAt(&eye, nullptr, nullptr);
        const LMK::VisibleSetInputStruct_TYP input{
            &view, DWORD(objects.size()), objects.data(), mode, nullptr, &planes, &vp, &inverseVp, eye, width,
            height};
        LMK::BuildVisibleSet(input, &set);
    }

    // "o<index>:m<model index>" for each draw-list entry, in order.
    std::string DrawList() const
    {
        std::string out;
        for (const LMK::DrawPairStruct_TYP& p : set.drawList)
        {
            const auto o = std::find(objects.begin(), objects.end(), p.object) - objects.begin();
            const auto m = std::find(models.begin(), models.end(), p.model) - models.begin();
            out += (out.empty() ? "" : " ") + std::string("o") + std::to_string(o) + ":m" + std::to_string(m);
        }
        return out;
    }
    // The set refers to the objects: it goes first.
    void ClearObjects()
    {
        LMK::FreeVisibleSet(&set);
        for (LMK::Object_*& o : objects)
            LRReleaseObject(&o);
        objects.clear();
    }
    size_t InstanceCount(const LMK::Object_* head) const
    {
        return head->instances ? head->instances->size() : 0;
    }

    LMK::VisibleSetStruct_TYP set;
    std::vector<D3DXPLANE> planes;
    D3DXMATRIX vp, inverseVp;
};

// Objects outside the frustum, invisible or null are not drawn; the rest keep array order.
TEST_F(VisibleSetTest, CullsAgainstTheFrustum)
{
    LMK::Model_* m = MakeModel();
    Place(m, 0, 0, 0);                   // o0 in view
    Place(m, 100, 0, 0);                 // o1 far off to the side
    Place(m, 0, 0, -40);                 // o2 behind the eye
    Place(m, -5, 3, 50)->visible = 0;    // o3 hidden by visibility
    Place(m, -5, 3, 50);                 // o4 in view
    objects.push_back(nullptr);          // a null entry
    Build(LMK::DisplayModeIdColoursAll); // nothing batched in this mode
    EXPECT_EQ(DrawList(), "o0:m0 o4:m0");
    EXPECT_TRUE(set.batchedModels.empty());
}

struct AlternativeCase
{
    const char* name;
    DWORD selector;
    std::vector<uint32_t> masks;
    std::vector<DWORD> values; // the alternatives' values, models 1, 2, ...
    bool lodMode;              // hidden lines: levels of detail are never taken
    int expectedModel;         // 0: the object's own model
};

TEST_F(VisibleSetTest, ChoosesAlternativesBySelectorThenMasks)
{
    const AlternativeCase cases[] = {
        {"exact value", 5, {}, {4, 5}, false, 2},
        {"masked value, first mask that finds one", 6, {2}, {4, 7}, false, 2},
        {"first mask decides even when a later one matches better", 6, {1, 2}, {4, 7}, false, 1},
        {"exact beats masked", 7, {1}, {5, 7}, false, 2},
        {"selector 0 switches alternatives off", 0, {0}, {0, 5}, false, 0},
        {"nothing matches", 3, {4}, {4, 12}, false, 0},
        {"hidden-line mode still takes alternatives", 5, {}, {4, 5}, true, 2},
    };
    for (const AlternativeCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::Model_* own = MakeModel();
        const size_t base = models.size() - 1;
        for (DWORD value : c.values)
            own->alternatives.push_back({Counted(MakeModel()), value});
        lumoVector<uint32_t> masks;
        for (uint32_t m : c.masks)
            masks.PushBack(m);
        view.alternativeSelector = c.selector;
        view.alternativeMasks = c.masks.empty() ? nullptr : &masks;
        LMK::Object_* object = Place(own, 0, 0, 0);
        LMK::Model_* chosen =
            LMK::ChooseModel(object, &view, c.lodMode ? LMK::DisplayModeHiddenLines : 0, 100, 100);
        EXPECT_EQ(chosen, models[base + c.expectedModel]);
        view.alternativeMasks = nullptr;
    }
}

struct LodCase
{
    const char* name;
    std::vector<float> thresholds; // multiples of the object's on-screen size
    DWORD mode;
    int expectedModel; // 0: the model itself, else the level of detail 1, 2, ...
};

// A level of detail is taken when its threshold exceeds the on-screen size (strictly).
TEST_F(VisibleSetTest, ChoosesTheLevelOfDetailByScreenSize)
{
    const LodCase cases[] = {
        {"first threshold above the size", {0.5f, 2.0f, 4.0f}, 0, 2},
        {"a threshold equal to the size is not taken", {1.0f, 2.0f}, 0, 2},
        {"no threshold above the size", {0.25f, 0.5f}, 0, 0},
        {"hidden lines never take a level of detail", {2.0f}, LMK::DisplayModeHiddenLines, 0},
    };
    for (const LodCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::Model_* own = MakeModel();
        const size_t base = models.size() - 1;
        LMK::Object_* object = Place(own, 0, 0, 0);
        const float size = object->GetScreenSize(100, 100, camera);
        ASSERT_GT(size, 1.0f);
        for (float t : c.thresholds)
            own->lods.push_back({Counted(MakeModel()), t * size});
        EXPECT_EQ(LMK::ChooseModel(object, &view, c.mode, 100, 100), models[base + c.expectedModel]);
    }
}

// Objects of one model that draw alike share a batch head; anything that changes how they draw starts a
// new head; modes that draw per object batch nothing.
TEST_F(VisibleSetTest, BatchesEqualObjects)
{
    LMK::Model_* m = MakeModel(1, 2);
    LMK::Model_* other = MakeModel();
    LMK::Material_* red = new LMK::Material_(1, 0, 0, 1, false); // its reference goes to o3
    Place(m, 0, 0, 0);                                           // o0 head
    Place(m, 1, 0, 0);                                           // o1 joins o0
    Place(m, 2, 0, 0, -1.0f);                                    // o2 mirrored: own head
    Place(m, 3, 0, 0)->overrides[1] = red;                       // o3 other override: own head
    Place(m, 4, 0, 0)->tint = 1;                                 // o4 tinted: own head
    Place(other, 5, 0, 0);                                       // o5 other model
    Place(m, 6, 0, 0)->seeThrough = 1;                           // o6 see-through: own head
    Place(m, 7, 0, 0, -1.0f);                                    // o7 joins o2

    Build(LMK::DisplayModeTextured);
    EXPECT_EQ(DrawList(), "o0:m0 o2:m0 o3:m0 o4:m0 o6:m0 o5:m1");
    ASSERT_EQ(set.batchedModels.size(), 2u);
    ASSERT_NE(objects[0]->instances, nullptr);
    EXPECT_EQ(*objects[0]->instances, std::vector<LMK::Object_*>{objects[1]});
    EXPECT_EQ(*objects[2]->instances, std::vector<LMK::Object_*>{objects[7]});
    EXPECT_EQ(InstanceCount(objects[3]), 0u);

    // A second see-through object with the same value joins; another value does not.
    Place(m, 8, 0, 0)->seeThrough = 1; // o8 joins o6
    Place(m, 9, 0, 0)->seeThrough = 1; // o9 other value: own head
    objects[9]->alphaFactor = 0.5f;
    Build(LMK::DisplayModeTextured);
    EXPECT_EQ(*objects[6]->instances, std::vector<LMK::Object_*>{objects[8]});
    EXPECT_EQ(InstanceCount(objects[9]), 0u);

    for (DWORD mode : {LMK::DisplayModeTextured | LMK::ModeFlagFinalPass, LMK::DisplayModeIdColoursOpaque,
                       LMK::DisplayModeWireframe})
    {
        SCOPED_TRACE(mode);
        Build(mode);
        EXPECT_EQ(set.drawList.size(), objects.size());
        EXPECT_TRUE(set.batchedModels.empty());
        for (LMK::Object_* o : objects)
            EXPECT_EQ(o->instances, nullptr);
    }
}

// Per-object subsets (animated, or culled by their plane) dissolve the model's batches: the members
// come before their head, after every unbatched object.
TEST_F(VisibleSetTest, DissolvesBatchesOfPlaneCulledModels)
{
    LMK::Model_* culled = MakeModel();
    culled->subsets[0].backFace = 1;
    LMK::Model_* plain = MakeModel();
    Place(culled, 0, 0, 0);        // o0
    Place(plain, 1, 0, 0);         // o1
    Place(culled, 2, 0, 0);        // o2
    Place(culled, 3, 0, 0, -1.0f); // o3
    Place(plain, 4, 0, 0);         // o4
    Build(LMK::DisplayModeTextured);
    EXPECT_EQ(DrawList(), "o2:m0 o0:m0 o3:m0 o1:m1");
    EXPECT_EQ(set.batchedModels[0].batchList, nullptr);
    EXPECT_EQ(objects[0]->instances, nullptr);
    EXPECT_EQ(*objects[1]->instances, std::vector<LMK::Object_*>{objects[4]});
}

struct NearFarCase
{
    const char* name;
    std::vector<float> depths; // z of each object's sphere centre; the eye is at z = -20
    float expectedNear;        // < 0: the camera keeps its planes
    float expectedFar;
};

TEST_F(VisibleSetTest, FitsNearAndFarToTheVisibleSpheres)
{
    const float r = std::sqrt(2.0f) / 2.0f; // the unit quad's bounding sphere
    const NearFarCase cases[] = {
        {"spheres between the planes", {0, 30}, 20 - r, 50 + r},
        {"sphere starting 0.01 before the eye", {-20 + r + 0.01f}, 0.05f, 0.01f + 2 * r},
        {"beyond 1000 the far plane stays at 1000", {0, 1500}, 20 - r, 1000},
        {"everything beyond 1000: far follows near", {1500}, 1520 - r, 1521 - r},
        {"nothing visible keeps the planes", {}, -1, -1},
    };
    camera->params.autoNearFar = 1;
    LMK::Model_* m = MakeModel();
    for (const NearFarCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        ClearObjects();
        camera->SetNearFar(1, 1000);
        for (float z : c.depths)
            Place(m, -0.5f, -0.5f, z);
        Place(m, 500, 0, 0); // outside the side planes: never measured
        Build(LMK::DisplayModeTextured);
        float zNear = 0, zFar = 0;
        camera->GetNearFar(&zNear, &zFar);
        if (c.expectedNear < 0)
        {
            EXPECT_FALSE(set.nearFarFitted);
            EXPECT_EQ(zNear, 1.0f);
            EXPECT_EQ(zFar, 1000.0f);
            continue;
        }
        EXPECT_TRUE(set.nearFarFitted);
        EXPECT_EQ(set.keptNear, 1.0f);
        EXPECT_EQ(set.keptFar, 1000.0f);
        EXPECT_NEAR(zNear, c.expectedNear, 1e-3f);
        EXPECT_NEAR(zFar, c.expectedFar, 1e-3f);
        // The fitted planes always give a usable projection.
        D3DXMATRIX check;
        EXPECT_EQ(camera->GetViewProjectionMatrix(&check), S_OK);
        EXPECT_TRUE(std::isfinite(check._33) && std::isfinite(check._43));
    }
}

// Without automatic near/far the near and far planes take no part: only the objects inside all six
// planes are drawn and the camera keeps its planes.
TEST_F(VisibleSetTest, WithoutAutomaticNearFarTheDepthPlanesCull)
{
    LMK::Model_* m = MakeModel();
    Place(m, -0.5f, -0.5f, 0);
    Place(m, -0.5f, -0.5f, 1200);
    Build(LMK::DisplayModeIdColoursAll);
    EXPECT_EQ(DrawList(), "o0:m0");
    EXPECT_FALSE(set.nearFarFitted);
}

TEST(FitNearFar, EdgesOfTheFittedRange)
{
    struct Case
    {
        float minimum, maximum, offset;
        bool fitted;
        float zNear, zFar;
    } const cases[] = {
        {10, 20, 0, true, 10, 20},
        {10, 20, 5, true, 5, 15},
        {-3, 2, 0, true, 0.05f, 2},
        {-3, -2, 0, true, 0.05f, 1.05f},
        {1e10f, -1e10f, 0, false, 0, 0},                // nothing measured
        {3e7f, 3e7f + 1, 0, true, 3e7f, 3e7f * 1.001f}, // one unit lost in the float
    };
    for (const Case& c : cases)
    {
        float n = 0, f = 0;
        EXPECT_EQ(LMK::FitNearFar(c.minimum, c.maximum, c.offset, &n, &f), c.fitted);
        EXPECT_FLOAT_EQ(n, c.zNear);
        EXPECT_FLOAT_EQ(f, c.zFar);
        if (c.fitted)
        {
            EXPECT_GT(f, n);
        }
    }
}

struct ImpostorCase
{
    const char* name;
    int small;
    int large;
    size_t expectedImpostors;
    size_t expectedInstancesOfRemainingHead; // the head left in the batch, or none
    bool headRemains;
};

// Large batches of small objects become impostors; the rest of the batch stays one batch.
TEST_F(VisibleSetTest, GroupsSmallMembersOfLargeBatchesIntoImpostors)
{
    const ImpostorCase cases[] = {
        {"70 small of 100", 70, 30, 70, 29, true},
        {"63 small of 100: the batch stays whole", 63, 37, 0, 99, true},
        {"all 64 small", 64, 0, 64, 0, false},
    };
    LMK::Model_* m = MakeModel(24); // enough faces to count as small on screen
    for (const ImpostorCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        ClearObjects();
        // Small ones far away first, so the head is small and its slot is taken over by a large one.
        for (int i = 0; i < c.small; ++i)
            Place(m, float(i % 10) - 5, float(i / 10) - 5, 800);
        for (int i = 0; i < c.large; ++i)
            Place(m, float(i % 10) - 5, float(i / 10) - 5, 0);
        const float smallSize = objects.front()->GetScreenSize(100, 100, camera);
        const float largeSize =
            objects.front()->GetScreenSize(100, 100, camera) * 4; // of a placement at z = 0
        view.impostorSize = (smallSize + largeSize) / 2;
        if (c.large)
        {
            ASSERT_GT(objects.back()->GetScreenSize(100, 100, camera), float{view.impostorSize});
        }
        Build(LMK::DisplayModeTextured);
        view.impostorSize = 0;

        EXPECT_EQ(set.impostors.size(), c.expectedImpostors);
        for (LMK::Object_* o : set.impostors)
        {
            EXPECT_NE(o->impostorAtlas, nullptr); // one atlas, built on the first small object, for all
            EXPECT_EQ(o->impostorAtlas, set.impostors.front()->impostorAtlas);
            EXPECT_EQ(o->impostorRenderMode, LMK::DisplayModeTextured);
        }
        ASSERT_EQ(set.drawList.size(), c.headRemains ? 1u : 0u);
        if (!c.headRemains) continue;
        LMK::Object_* head = set.drawList[0].object;
        EXPECT_EQ(InstanceCount(head), c.expectedInstancesOfRemainingHead);
        if (c.expectedImpostors)
        {
            EXPECT_EQ(head, objects[size_t(c.small)]);
        }
    }
}

TEST_F(VisibleSetTest, ImpostorAtlasIsCountedAndKeptForTheSameMode)
{
    LMK::Model_* m = MakeModel();
    LMK::Object_* object = Place(m, 0, 0, 0);
    LMK::Material_* atlas = new LMK::Material_(1, 1, 1, 1, false); // any counted resource
    LMK::SetImpostorAtlas(object, atlas, 3);
    EXPECT_EQ(atlas->refCount, 2u);
    LMK::SetImpostorAtlas(object, atlas, 3); // same atlas, same mode: no further reference
    EXPECT_EQ(atlas->refCount, 2u);
    LMK::SetImpostorAtlas(object, nullptr, 4);
    EXPECT_EQ(atlas->refCount, 1u);
    EXPECT_EQ(object->impostorRenderMode, 4u);
    atlas->Release();
}

// ---------------------------------------------------------------------------------------------------
// Models loaded by name: a test loader serves rows of quads (the quad count tells models apart) and
// names their levels of detail and alternatives; the lists load through the model loader's own steps.
struct Shelf
{
    std::map<std::string, int> quads; // upper-cased name -> quads in the model's row
    std::map<std::string, std::vector<std::pair<std::string, float>>> lods;
    std::map<std::string, std::vector<std::pair<std::string, DWORD>>> alternatives;
    std::vector<std::string> built; // in the order the models were built
};

std::string Upper(const char* name)
{
    CString s(name);
    s.MakeUpper();
    return std::string(static_cast<LPCSTR>(s));
}

int __stdcall ShelfLoad(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size, void**, DWORD*)
{
    auto* shelf = static_cast<Shelf*>(request->context);
    auto it = shelf->quads.find(Upper(request->name));
    if (it == shelf->quads.end()) return LMK::kLoaderNotMine;
    *data = &it->second;
    *size = sizeof(int);
    return LMK::kLoaderDelivered;
}

void __stdcall ShelfRelease(void*, void*, void*, DWORD, LMK::LoadedPart_*) {}

template <class Element, class Value>
int ShelfList(const std::map<std::string, std::vector<std::pair<std::string, Value>>>& lists,
              const char* name, IlumoVector<Element>* list)
{
    auto it = lists.find(Upper(name));
    if (it == lists.end()) return LMK::kLoaderNotMine;
    for (const auto& [entry, value] : it->second)
        list->PushBack({CString(entry.c_str()), value});
    return 0;
}

int __stdcall ShelfLODs(void* context, const char* name, IlumoVector<LMK::LoaderLODStruct_TYP>* list)
{
    return ShelfList(static_cast<Shelf*>(context)->lods, name, list);
}

int __stdcall ShelfAlternatives(void* context, const char* name,
                                IlumoVector<LMK::LoaderAlternativeStruct_TYP>* list)
{
    return ShelfList(static_cast<Shelf*>(context)->alternatives, name, list);
}

Shelf* g_shelf = nullptr;

// The model loader's road for the shelf: a shared load, a model built on the record (or the one it
// already has), then its lists under the requested name.
HRESULT LoadShelfModel(const char* name, DWORD shared, BYTE allow3DS, BYTE noResmooth, LMK::Model_** out,
                       BYTE noLODs, BYTE noAlternatives)
{
    *out = nullptr;
    LMK::LoadRecordStruct_TYP* record = nullptr;
    if (LMK::CurrentGlobals->loaders.LoadShared(LoadedPartModel, name, &record) != 0) return E_FAIL;
    auto* model = static_cast<LMK::Model_*>(record->object);
    if (!model)
    {
        const RawGeometry g = QuadRow(*static_cast<const int*>(record->data));
        const std::vector<LMK::SubsetStruct_TYP> subsets = {scenetest::Subset(0, g.FaceCount())};
        HRESULT hr = E_FAIL;
        model =
            new LMK::Model_(0, g.vertices.data(), DWORD(g.vertices.size()), g.indices.data(), g.FaceCount(),
                            nullptr, 0, subsets.data(), 1, nullptr, record, &hr, 0, 0, 0, nullptr, 0, 0);
        model->loadRecord = record;
        g_shelf->built.push_back(Upper(name));
    }
    LMK::LoadModelLists(model, record->name, shared, allow3DS, noResmooth, noLODs, noAlternatives,
                        LoadShelfModel);
    *out = model;
    return S_OK;
}

class LoadedListsTest : public VisibleSetTest
{
protected:
    void SetUp() override
    {
        VisibleSetTest::SetUp();
        g_shelf = &shelf;
        LMK::LoaderCallbacksStruct_TYP cb{ShelfLoad, ShelfRelease, nullptr,
                                          &shelf,    ShelfLODs,    ShelfAlternatives};
        ASSERT_EQ(LRRegisterLoader(LoadedPartModel, &cb, true, &loader), S_OK);
    }
    void TearDown() override
    {
        ClearObjects();
        for (LMK::Model_* m : loaded)
            m->Release();
        VisibleSetTest::TearDown();
        g_shelf = nullptr;
    }
    LMK::Model_* Load(const char* name)
    {
        LMK::Model_* m = nullptr;
        EXPECT_EQ(LoadShelfModel(name, 1, 0, 0, &m, 0, 0), S_OK);
        if (m) loaded.push_back(m);
        return m;
    }
    // Quads of each model in the draw list, in order: which model each object drew with.
    std::vector<int> DrawnQuads()
    {
        std::vector<int> quads;
        for (const LMK::DrawPairStruct_TYP& p : set.drawList)
            quads.push_back(int(p.model->TotalFaceCount() / 2));
        return quads;
    }

    Shelf shelf;
    LMK::Loader_* loader = nullptr;
    std::vector<LMK::Model_*> loaded;
};

TEST_F(LoadedListsTest, LevelsOfDetailAndAlternativesLoadInOrderAndAreChosenInTheVisibleSet)
{
    shelf.quads = {{"HOUSE", 8},  {"HOUSE-MID", 4},  {"HOUSE-FAR", 1},
                   {"WINTER", 7}, {"WINTER-FAR", 2}, {"NIGHT", 6}};
    // Out of order, one missing, one the house itself, one threshold given twice: sorted, the first of
    // equal thresholds kept, the missing one and the house itself left out.
    shelf.lods["HOUSE"] = {
        {"house-mid", 40.0f}, {"house-far", 10.0f}, {"missing", 20.0f}, {"house", 30.0f}, {"night", 40.0f}};
    shelf.lods["WINTER"] = {{"winter-far", 10.0f}};
    shelf.lods["HOUSE-FAR"] = {{"house-mid", 5.0f}}; // a level of detail loads no lists of its own
    shelf.alternatives["HOUSE"] = {{"winter", 1}, {"missing", 3}, {"night", 2}};
    shelf.alternatives["WINTER"] = {{"night", 9}}; // an alternative loads no alternatives

    LMK::Model_* house = Load("House");
    ASSERT_NE(house, nullptr);
    ASSERT_EQ(house->lods.size(), 2u);
    EXPECT_EQ(house->lods[0].threshold, 10.0f);
    EXPECT_EQ(house->lods[0].model->TotalFaceCount(), 2u);
    EXPECT_EQ(house->lods[1].threshold, 40.0f);
    EXPECT_EQ(house->lods[1].model->TotalFaceCount(), 8u);
    EXPECT_TRUE(house->lods[0].model->lods.empty());
    ASSERT_EQ(house->alternatives.size(), 2u);
    EXPECT_EQ(house->alternatives[0].value, 1u);
    EXPECT_EQ(house->alternatives[1].value, 2u);
    LMK::Model_* winter = house->alternatives[0].model;
    EXPECT_EQ(winter->lods.size(), 1u);
    EXPECT_TRUE(winter->alternatives.empty());
    EXPECT_EQ(house->refCount, 1u) << "the house holds no reference of itself";

    // Three houses whose screen sizes straddle the thresholds: about 5, 20 and 80 pixels.
    Place(house, 0, 0, 0);
    const float unit = objects[0]->GetScreenSize(100, 100, camera);
    ClearObjects();
    ASSERT_GT(unit, 0.0f);
    for (float size : {5.0f, 20.0f, 80.0f})
        Place(house, 0, 0, 0, size / unit);
    struct Case
    {
        const char* title;
        DWORD selector;
        std::vector<int> quads; // of the model each object draws with
    } cases[] = {
        {"no selector: far, middle, the house", 0, {1, 4, 8}},
        {"winter with its own level of detail", 1, {2, 7, 7}},
        {"night has none", 2, {6, 6, 6}},
        {"no alternative of that value", 5, {1, 4, 8}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        view.alternativeSelector = c.selector;
        Build(LMK::DisplayModeIdColoursAll); // one entry per object: nothing batched
        EXPECT_EQ(DrawnQuads(), c.quads);
    }
}
} // namespace
