// Models and animations: subsets bound to nodes by their source index, references, the animation
// block chunk, and an object's bounds following its animation time.
#include "../scene_model/scene_fixture.h"
#include "engine/engine_api.h"
#include "engine/scene/animation.h"
#include "engine/scene/object.h"
#include "tests/support/animation_writer.h"

namespace
{
using ferolt::test::AnimationDesc;

// Node 0 moves along x from 0 to 4 during the first second; node 1 stays. Source 0 -> node 1,
// source 1 -> no node (past the tree), source 2 -> node 0.
AnimationDesc TwoNodes()
{
    ferolt::test::AnimationCurveDesc curve;
    curve.keys = {{0.0f, {0, 0, 0}, {}, -1.0f, {}}, {1.0f, {4, 0, 0}, {}, -1.0f, {}}};
    ferolt::test::AnimationNodeDesc moving, still;
    moving.position = curve;
    AnimationDesc desc;
    desc.nodes = {moving, still};
    desc.clips = {{"all", 0.0f, 1.0f}};
    desc.indices = {1, 5, 0};
    return desc;
}

class ModelAnimationTest : public scenetest::SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        scenetest::RawGeometry g;
        for (int i = 0; i < 4; ++i)
            g.AddTriangle(static_cast<float>(10 * i), 0);
        std::vector<LMK::SubsetStruct_TYP> subsets;
        const DWORD sources[] = {2, 1, LMK::kNoSourceIndex, 7};
        for (DWORD i = 0; i < 4; ++i)
        {
            subsets.push_back(scenetest::Subset(i, 1));
            subsets.back().sourceIndex = sources[i];
        }
        HRESULT result = E_FAIL;
        model = scenetest::BuildModel(g, subsets, &result);
        ASSERT_EQ(result, S_OK);
        const ferolt::test::Bytes stream = ferolt::test::AnimationStream(TwoNodes());
        ASSERT_EQ(LRCreateAnimationFromStream(stream.data(), static_cast<DWORD>(stream.size()), &animation,
                                              nullptr),
                  S_OK);
    }
    void TearDown() override
    {
        LRReleaseAnimation(&animation);
        LMK::LoadedPart_* part = model;
        LRReleaseLoadedPart(&part);
        SceneTest::TearDown();
    }

    LMK::Model_* model = nullptr;
    LMK::Animation_* animation = nullptr;
};

TEST_F(ModelAnimationTest, SubsetsBindToNodesBySourceIndex)
{
    ASSERT_EQ(LRSetModelAnimation(model, animation), S_OK);
    EXPECT_EQ(animation->refCount, 2u);
    EXPECT_EQ(model->subsets[0].animationNode, &animation->nodes[0]);
    EXPECT_EQ(model->subsets[1].animationNode, nullptr) << "table entry past the tree";
    EXPECT_EQ(model->subsets[2].animationNode, nullptr) << "no source";
    EXPECT_EQ(model->subsets[3].animationNode, nullptr) << "source past the table";

    LMK::Animation_* got = nullptr;
    ASSERT_EQ(LRGetModelAnimation(model, &got), S_OK);
    EXPECT_EQ(got, animation);
    EXPECT_EQ(animation->refCount, 3u);
    LRReleaseAnimation(&got);
    EXPECT_EQ(got, nullptr);

    // Setting the animation the model already holds, with the model's the only reference left.
    LMK::Animation_* mine = animation;
    animation = nullptr;
    LRReleaseAnimation(&mine);
    ASSERT_EQ(LRSetModelAnimation(model, model->animation), S_OK);
    ASSERT_NE(model->animation, nullptr);
    EXPECT_EQ(model->animation->refCount, 1u);
    EXPECT_EQ(model->subsets[0].animationNode, &model->animation->nodes[0]);

    ASSERT_EQ(LRSetModelAnimation(model, nullptr), S_OK);
    EXPECT_EQ(model->subsets[0].animationNode, nullptr);
    EXPECT_EQ(LRSetModelAnimation(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRGetModelAnimation(model, nullptr), E_INVALIDARG);
}

TEST_F(ModelAnimationTest, ObjectBoundsFollowTheAnimationTime)
{
    ASSERT_EQ(LRSetModelAnimation(model, animation), S_OK);
    LMK::Object_* object = nullptr;
    ASSERT_EQ(LRCreateObject(model, &object, nullptr), S_OK);
    D3DXVECTOR3 low, high;
    ASSERT_EQ(LRGetObjectBoundingBox(object, &low, &high), S_OK);
    EXPECT_FLOAT_EQ(low.x, 0.0f);
    ASSERT_EQ(LRSetObjectAnimationTime(object, 0.5f), S_OK);
    ASSERT_EQ(LRGetObjectBoundingBox(object, &low, &high), S_OK);
    EXPECT_FLOAT_EQ(low.x, 2.0f) << "subset 0 moved along with node 0; the others stay";
    EXPECT_FLOAT_EQ(high.x, 30.5f);
    LRReleaseObject(&object);
}

// Chunk 20 becomes the model's animation; one that cannot be read leaves none, and is not kept.
TEST_F(ModelAnimationTest, AnimationBlockChunkBecomesTheAnimation)
{
    AnimationDesc desc = TwoNodes();
    desc.clips.clear();
    desc.nodes[0].position->end = 15.0f;
    for (auto& key : desc.nodes[0].position->keys)
        key.time *= 15.0f;
    ferolt::test::Bytes block = ferolt::test::AnimationBlock(desc);
    LMK::ModelChunkStruct_TYP chunk{LMK::kAnimationChunkId, block.data(), static_cast<DWORD>(block.size())};
    ASSERT_EQ(LRAddModelChunk(model, &chunk), S_OK);
    ASSERT_NE(model->animation, nullptr);
    EXPECT_EQ(model->animation->refCount, 1u) << "the creator's reference is dropped";
    EXPECT_EQ(model->subsets[0].animationNode, &model->animation->nodes[0]);

    block.resize(block.size() / 2);
    chunk.size = static_cast<DWORD>(block.size());
    LMK::Animation_* before = model->animation;
    ASSERT_EQ(LRAddModelChunk(model, &chunk), S_OK);
    EXPECT_EQ(model->animation, before);
    chunk.data = nullptr;
    ASSERT_EQ(LRAddModelChunk(model, &chunk), S_OK);
    EXPECT_TRUE(model->chunks.empty());
}
} // namespace
