// The model API: subset materials, attributes, chunks and names.
#include "scene_fixture.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/scene/model_api.h"

namespace
{
using namespace scenetest;

class ModelApiTest : public SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        red = new LMK::Material_(1, 0, 0, 1, false);
        RawGeometry g;
        g.AddQuad(0, 0);
        g.AddQuad(2, 1);
        HRESULT hr = E_FAIL;
        model = BuildModel(g, {Subset(0, 2, red), Subset(2, 2)}, &hr);
        ASSERT_EQ(hr, S_OK);
    }
    void TearDown() override
    {
        if (model) model->Release();
        if (red) red->Release();
        SceneTest::TearDown();
    }
    LMK::Model_* model = nullptr;
    LMK::Material_* red = nullptr;
};

TEST_F(ModelApiTest, ArgumentsAreChecked)
{
    DWORD count = 7;
    LMK::Material_* material = red;
    LMK::ModelChunkStruct_TYP* chunks = reinterpret_cast<LMK::ModelChunkStruct_TYP*>(&count);
    LMK::ModelChunkStruct_TYP chunk{1, nullptr, 0};
    struct Case
    {
        const char* name;
        HRESULT actual;
        HRESULT expected;
    } cases[] = {
        {"count of null model", LRGetModelSubsetCount(nullptr, &count), E_INVALIDARG},
        {"count into null", LRGetModelSubsetCount(model, nullptr), E_INVALIDARG},
        {"material past the subsets", LRGetModelSubsetMaterial(model, 2, &material), E_FAIL},
        {"set material past the subsets", LRSetModelSubsetMaterial(model, 2, red), E_FAIL},
        {"set materials with none", LRSetModelSubsetMaterials(model, &material, 0), E_INVALIDARG},
        {"attributes past the subsets", LRSetSubsetAttributes(model, 2, 0, nullptr), E_FAIL},
        {"chunk of null model", LRAddModelChunk(nullptr, &chunk), E_INVALIDARG},
        {"chunks of null model", LRGetModelChunks(nullptr, &chunks, &count), E_INVALIDARG},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.name;
    EXPECT_EQ(material, nullptr) << "the out value is cleared";
    EXPECT_EQ(chunks, nullptr) << "the out value is cleared";
}

TEST_F(ModelApiTest, SubsetMaterialsAreCountedAndChangedOnCopies)
{
    LMK::Material_* got = red;
    ASSERT_EQ(LRGetModelSubsetMaterial(model, 1, &got), S_OK);
    EXPECT_EQ(got, nullptr);
    ASSERT_EQ(LRGetModelSubsetMaterial(model, 0, &got), S_OK);
    EXPECT_EQ(got, red);
    EXPECT_EQ(red->refCount, 3u);
    got->Release();

    // More entries than subsets: only the existing subsets change. Subset 0 gets its own copy of red
    // with the change's diffuse colour; subset 1, which had none, takes the change itself.
    auto* blue = new LMK::Material_(0, 0, 1, 1, false);
    blue->flags |= LMK::kMaterialChangeModes;
    blue->changeModes = std::make_unique<LMK::MaterialChangeModesStruct_TYP>();
    std::fill(std::begin(blue->changeModes->modes), std::end(blue->changeModes->modes), LMK::kChangeKeep);
    blue->changeModes->modes[LMK::kChangeDiffuseRgb] = LMK::kChangeTake;
    LMK::Material_* list[3] = {blue, blue, blue};
    ASSERT_EQ(LRSetModelSubsetMaterials(model, list, 3), S_OK);
    LMK::Material_* copy = model->subsets[0].material;
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, red);
    EXPECT_NE(copy, blue);
    EXPECT_FLOAT_EQ(copy->material.Diffuse.b, 1.0f);
    EXPECT_EQ(red->refCount, 1u);
    EXPECT_FLOAT_EQ(red->material.Diffuse.r, 1.0f) << "the shared material is untouched";
    EXPECT_FLOAT_EQ(red->material.Diffuse.b, 0.0f);
    EXPECT_EQ(model->subsets[1].material, blue);
    EXPECT_EQ(blue->refCount, 2u);
    blue->Release();
}

TEST_F(ModelApiTest, AttributesAreCopiedIntoTheSubset)
{
    LMK::SubsetAttributesStruct_TYP block{{1, 2, 3, 4}, {5, 6, 7, 8}, 1, 1};
    ASSERT_EQ(LRSetSubsetAttributes(model, 1, 0xA000, &block), S_OK);
    const LMK::SubsetStruct_TYP& s = model->subsets[1];
    EXPECT_EQ(s.surfaceType, 0xA000u);
    EXPECT_FLOAT_EQ(s.backFacePlane[3], 4.0f);
    EXPECT_FLOAT_EQ(s.surfacePlane[0], 5.0f);
    EXPECT_EQ(s.backFace, 1);
    EXPECT_EQ(s.specialSurface, 1);
    ASSERT_EQ(LRSetSubsetAttributes(model, 1, 0x2000, nullptr), S_OK);
    EXPECT_EQ(s.surfaceType, 0x2000u);
    EXPECT_FLOAT_EQ(s.surfacePlane[0], 5.0f) << "no block keeps the planes";
}

TEST_F(ModelApiTest, ChunksKeepOneCopyPerId)
{
    LMK::ModelChunkStruct_TYP* chunks = nullptr;
    DWORD count = 9;
    ASSERT_EQ(LRGetModelChunks(model, &chunks, &count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(chunks, nullptr);

    BYTE first[3] = {1, 2, 3};
    BYTE second[2] = {7, 8};
    BYTE animation[4] = {};
    LMK::ModelChunkStruct_TYP add[] = {
        {0x111, first, 3}, {0x112, first, 0}, {0x111, second, 2}, {LMK::kAnimationChunkId, animation, 4}};
    for (const auto& chunk : add)
        ASSERT_EQ(LRAddModelChunk(model, &chunk), S_OK);
    second[0] = 0; // the model keeps its own copy

    ASSERT_EQ(LRGetModelChunks(model, &chunks, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(chunks[0].id, 0x111u);
    ASSERT_EQ(chunks[0].size, 2u);
    EXPECT_EQ(chunks[0].data[0], 7);
    EXPECT_EQ(chunks[1].id, 0x112u);
    EXPECT_EQ(chunks[1].size, 0u);
    EXPECT_NE(chunks[1].data, nullptr);
}

TEST_F(ModelApiTest, NameListsAreCopiedWhole)
{
    struct Case
    {
        const char* name;
        const char* list;
        size_t bytes;
        DWORD count;
    } cases[] = {
        {"two names", "ab\0c\0", 6, 2},
        {"empty list", "", 1, 0},
        {"none", nullptr, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(LMK::SetModelNameList(model, c.list), S_OK);
        EXPECT_EQ(model->nameCount, c.count);
        if (!c.list)
            EXPECT_EQ(model->nameList, nullptr);
        else
            EXPECT_EQ(std::memcmp(model->nameList, c.list, c.bytes), 0);
    }
    EXPECT_EQ(LMK::SetModelNameList(nullptr, "a\0"), E_INVALIDARG);
}
} // namespace
