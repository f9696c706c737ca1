// Keyframe animation: node matrices at times and clip modes, hand-worked; the stream and block
// readers against damaged input; models binding subsets to nodes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "engine/scene/animation.h"
#include "engine/scene/lr_animation_api.h"
#include "tests/support/animation_writer.h"

namespace
{
using ferolt::test::AnimationClipDesc;
using ferolt::test::AnimationCurveDesc;
using ferolt::test::AnimationDesc;
using ferolt::test::AnimationKey;
using ferolt::test::AnimationNodeDesc;
using ferolt::test::Bytes;

constexpr float kPi = 3.14159265358979f;
constexpr float kTolerance = 1e-5f;

struct AnimationPtr
{
    LMK::Animation_* p = nullptr;
    ~AnimationPtr() { LRReleaseAnimation(&p); }
    LMK::Animation_* operator->() const { return p; }
};

HRESULT FromStream(const Bytes& bytes, AnimationPtr& out, DWORD* length = nullptr)
{
    return LRCreateAnimationFromStream(bytes.data(), static_cast<DWORD>(bytes.size()), &out.p, length);
}

D3DXMATRIX NodeMatrix(LMK::Animation_* a, size_t node, float t, LMK::AnimationClip_* clip = nullptr)
{
    D3DXMATRIX* m = nullptr;
    a->nodes[node].GetMatrix(clip, t, &m);
    return *m;
}

void ExpectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, const std::string& what)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(static_cast<const float*>(actual)[i], static_cast<const float*>(expected)[i], kTolerance)
            << what << " element " << i;
}

D3DXMATRIX Translation(float x, float y, float z)
{
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, z);
    return m;
}

AnimationKey Key(float time, std::vector<float> value, std::optional<float> continuity = std::nullopt)
{
    AnimationKey k;
    k.time = time;
    k.value = std::move(value);
    k.continuity = continuity;
    return k;
}

// One node moving along x through keys (time, x); continuity -1 gives corner keys, so two keys
// interpolate linearly.
AnimationDesc MovingNode(std::vector<std::pair<float, float>> keys, float start, float end, uint32_t pre,
                         uint32_t post, std::optional<float> continuity,
                         std::optional<std::array<float, 3>> middleTcb = {})
{
    AnimationCurveDesc curve;
    curve.start = start;
    curve.end = end;
    curve.preMode = pre;
    curve.postMode = post;
    for (size_t i = 0; i < keys.size(); ++i)
    {
        curve.keys.push_back(Key(keys[i].first, {keys[i].second, 0, 0}, continuity));
        if (middleTcb && i == 1)
        {
            curve.keys.back().tension = (*middleTcb)[0];
            curve.keys.back().continuity = (*middleTcb)[1];
            curve.keys.back().bias = (*middleTcb)[2];
        }
    }
    AnimationNodeDesc node;
    node.position = curve;
    AnimationDesc desc;
    desc.nodes = {node};
    return desc;
}

// ---------------------------------------------------------------------------------------------------

// A position curve evaluated at times before, inside, at the ends of and after its range, in every
// mode. Linear: keys (0, 0) and (1, 4) as corners, tangents 4. Hermite: the same keys with the default
// tangents (half the difference), x(s) = 4(-s^3 + 1.5s^2 + 0.5s); three keys (0, 0), (1, 4), (2, 2):
// tangents 2 | 1, 1 | -1 (with tension 0.5 on the middle key 0.5, 0.5; bias 0.5: 2.5, 2.5; continuity
// 0.5: -0.5, 2.5); in cycle mode over 0..3 the seam runs from the last key to the first with
// tangents -2 and 1.
TEST(AnimationCurve, PositionAtTimesInEveryMode)
{
    const std::vector<std::pair<float, float>> two = {{0, 0}, {1, 4}}, three = {{0, 0}, {1, 4}, {2, 2}};
    constexpr float kCorner = -1.0f;
    struct Case
    {
        const char* name;
        AnimationDesc desc;
        float t;
        float x;
    } cases[] = {
        {"linear inside", MovingNode(two, 0, 1, 0, 0, kCorner), 0.25f, 1.0f},
        {"linear at start", MovingNode(two, 0, 1, 0, 0, kCorner), 0.0f, 0.0f},
        {"linear at end", MovingNode(two, 0, 1, 0, 0, kCorner), 1.0f, 4.0f},
        {"snaps to next key", MovingNode(two, 0, 1, 0, 0, kCorner), 0.999995f, 4.0f},
        {"hold before", MovingNode(two, 0, 1, 0, 0, kCorner), -0.5f, 0.0f},
        {"hold after", MovingNode(two, 0, 1, 0, 0, kCorner), 3.0f, 4.0f},
        {"unknown mode holds", MovingNode(two, 0, 1, 9, 9, kCorner), 3.0f, 4.0f},
        {"repeat after", MovingNode(two, 0, 1, 0, 1, kCorner), 1.25f, 1.0f},
        {"repeat before", MovingNode(two, 0, 1, 1, 0, kCorner), -0.25f, 3.0f},
        {"ping-pong after", MovingNode(two, 0, 1, 0, 3, kCorner), 1.25f, 3.0f},
        {"ping-pong twice after", MovingNode(two, 0, 1, 0, 3, kCorner), 2.25f, 1.0f},
        {"ping-pong before", MovingNode(two, 0, 1, 3, 0, kCorner), -0.25f, 1.0f},
        {"ping-pong twice before", MovingNode(two, 0, 1, 3, 0, kCorner), -1.25f, 3.0f},
        {"offset after", MovingNode(two, 0, 1, 0, 5, kCorner), 1.25f, 5.0f},
        {"offset twice after", MovingNode(two, 0, 1, 0, 5, kCorner), 2.5f, 10.0f},
        {"offset before", MovingNode(two, 0, 1, 5, 0, kCorner), -0.25f, -1.0f},
        {"extrapolate after", MovingNode(two, 0, 1, 0, 4, kCorner), 3.0f, 12.0f},
        {"extrapolate before", MovingNode(two, 0, 1, 4, 0, kCorner), -0.5f, -2.0f},
        {"hermite quarter", MovingNode(two, 0, 1, 0, 0, {}), 0.25f, 0.8125f},
        {"hermite half", MovingNode(two, 0, 1, 0, 0, {}), 0.5f, 2.0f},
        {"hermite three keys first", MovingNode(three, 0, 2, 0, 0, {}), 0.5f, 2.125f},
        {"hermite three keys second", MovingNode(three, 0, 2, 0, 0, {}), 1.5f, 3.25f},
        {"hermite tension 0.5", MovingNode(three, 0, 2, 0, 0, {}, {{0.5f, 0, 0}}), 0.5f, 2.1875f},
        {"hermite bias 0.5", MovingNode(three, 0, 2, 0, 0, {}, {{0, 0, 0.5f}}), 0.5f, 1.9375f},
        {"hermite continuity 0.5 in", MovingNode(three, 0, 2, 0, 0, {}, {{0, 0.5f, 0}}), 0.5f, 2.3125f},
        {"hermite continuity 0.5 out", MovingNode(three, 0, 2, 0, 0, {}, {{0, 0.5f, 0}}), 1.5f, 3.4375f},
        {"hermite extrapolate after", MovingNode(three, 0, 2, 0, 4, {}), 3.0f, 1.0f},
        {"cycle seam", MovingNode(three, 0, 3, 0, 2, {}), 2.5f, 0.625f},
        {"hold past last key", MovingNode(three, 0, 3, 0, 0, {}), 2.5f, 2.0f},
        {"cycle folded", MovingNode(three, 0, 3, 0, 2, {}), 3.5f, 2.0f},
        {"cycle first segment", MovingNode(three, 0, 2, 0, 2, {}), 2.5f, 2.0f},
        {"repeat first segment", MovingNode(three, 0, 2, 0, 1, {}), 2.5f, 2.125f},
    };
    for (const Case& c : cases)
    {
        AnimationPtr a;
        ASSERT_EQ(FromStream(ferolt::test::AnimationStream(c.desc), a), S_OK) << c.name;
        ExpectMatrixNear(NodeMatrix(a.p, 0, c.t), Translation(c.x, 0, 0), c.name);
    }
}

// Quaternion keys from no turn to a quarter turn about z, with the default and with corner tangents:
// halfway is an eighth of a turn either way; a quarter of the way the Hermite value, normalised, turns
// by 0.3030918 rad.
TEST(AnimationCurve, QuaternionKeysTurnTheNode)
{
    struct Case
    {
        const char* name;
        std::optional<float> continuity;
        float t;
        float angle;
    } cases[] = {
        {"hermite halfway", {}, 0.5f, kPi / 4},   {"hermite quarter", {}, 0.25f, 0.30309178f},
        {"corner halfway", -1.0f, 0.5f, kPi / 4}, {"end", {}, 1.0f, kPi / 2},
        {"hold after", {}, 2.0f, kPi / 2},
    };
    for (const Case& c : cases)
    {
        AnimationCurveDesc rotation;
        rotation.keys = {Key(0, ferolt::test::RotationZ(0), c.continuity),
                         Key(1, ferolt::test::RotationZ(kPi / 2), c.continuity)};
        AnimationNodeDesc node;
        node.rotation = rotation;
        AnimationDesc desc;
        desc.nodes = {node};
        AnimationPtr a;
        ASSERT_EQ(FromStream(ferolt::test::AnimationStream(desc), a), S_OK) << c.name;
        D3DXMATRIX expected;
        D3DXMatrixRotationZ(&expected, c.angle);
        ExpectMatrixNear(NodeMatrix(a.p, 0, c.t), expected, c.name);
    }
}

// Node composition: pre x translate(-pivot) x scale x rotate x translate x parent local x post. A
// child follows its parent's local matrix; a reversed clip turns the time once, for the parent too.
TEST(AnimationNode, PivotParentAndReversedClip)
{
    AnimationDesc desc;
    AnimationNodeDesc parent;
    parent.position = MovingNode({{0, 0}, {1, 4}}, 0, 1, 0, 0, -1.0f).nodes[0].position;
    AnimationNodeDesc child;
    child.parent = 0;
    AnimationCurveDesc still;
    still.keys = {Key(0, {0, 1, 0})};
    child.position = still;
    AnimationNodeDesc turned;
    AnimationCurveDesc quarter;
    quarter.keys = {Key(0, ferolt::test::RotationZ(0)), Key(1, ferolt::test::RotationZ(kPi / 2))};
    turned.rotation = quarter;
    AnimationCurveDesc doubled;
    doubled.keys = {Key(0, {2, 2, 2})};
    turned.scale = doubled;
    turned.pivot[0] = 1.0f;
    turned.pre = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1}; // translate (0, 0, 5)
    turned.post = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    turned.post[12] = 7.0f; // translate (7, 0, 0)
    desc.nodes = {parent, child, turned};
    AnimationClipDesc reversed;
    reversed.name = "back";
    reversed.start = 0.0f;
    reversed.end = 1.0f;
    reversed.playReversed = 1;
    reversed.nodeCount = 3;
    desc.clips = {reversed};

    AnimationPtr a;
    ASSERT_EQ(FromStream(ferolt::test::AnimationStream(desc), a), S_OK);
    ExpectMatrixNear(NodeMatrix(a.p, 1, 0.25f), Translation(1, 1, 0), "child without a clip");
    LMK::AnimationClip_* back = &a->clips[0];
    ExpectMatrixNear(NodeMatrix(a.p, 1, 0.25f, back), Translation(3, 1, 0), "child in the reversed clip");
    ExpectMatrixNear(NodeMatrix(a.p, 0, 0.25f, back), Translation(3, 0, 0), "parent in the reversed clip");

    // (x, y, z) -> +(0, 0, 5) -> -(1, 0, 0) -> x2 -> quarter turn -> +(7, 0, 0).
    const D3DXMATRIX m = NodeMatrix(a.p, 2, 1.0f);
    D3DXVECTOR3 p(1, 0, 0), out;
    D3DXVec3TransformCoord(&out, &p, &m);
    EXPECT_NEAR(out.x, 7.0f, kTolerance);
    EXPECT_NEAR(out.y, 0.0f, kTolerance);
    EXPECT_NEAR(out.z, 10.0f, kTolerance);
    p = D3DXVECTOR3(2, 0, 0);
    D3DXVec3TransformCoord(&out, &p, &m);
    EXPECT_NEAR(out.x, 7.0f, kTolerance);
    EXPECT_NEAR(out.y, 2.0f, kTolerance);
    EXPECT_NEAR(out.z, 10.0f, kTolerance);
}

// A node whose own and inherited curves have a key at most is computed at load and never again;
// its child with a moving curve is not.
TEST(AnimationNode, StaticNodesAreComputedOnceAtLoad)
{
    AnimationDesc desc;
    AnimationNodeDesc root, still, moving;
    AnimationCurveDesc one;
    one.keys = {Key(5, {1, 2, 3})};
    root.position = one;
    still.parent = 0;
    still.position = one;
    moving.parent = 1;
    moving.position = MovingNode({{0, 0}, {1, 4}}, 0, 1, 0, 0, -1.0f).nodes[0].position;
    desc.nodes = {root, still, moving};
    AnimationPtr a;
    ASSERT_EQ(FromStream(ferolt::test::AnimationStream(desc), a), S_OK);
    EXPECT_EQ(a->nodes[0].constant, 1);
    EXPECT_EQ(a->nodes[1].constant, 1);
    EXPECT_EQ(a->nodes[2].constant, 0);
    EXPECT_EQ(a->nodes[1].cachedTime, 0.0f);
    ExpectMatrixNear(NodeMatrix(a.p, 1, 3.0f), Translation(2, 4, 6), "still child");
    EXPECT_EQ(a->nodes[1].cachedTime, 0.0f) << "a constant node is not evaluated again";
    ExpectMatrixNear(NodeMatrix(a.p, 2, 0.5f), Translation(4, 4, 6), "moving grandchild");
}

// ---------------------------------------------------------------------------------------------------

AnimationDesc SmallStream()
{
    AnimationDesc desc = MovingNode({{0, 0}, {1, 4}}, 0, 1, 0, 0, {});
    desc.nodes[0].rotation = AnimationCurveDesc{};
    desc.nodes[0].rotation->keys = {Key(0, ferolt::test::RotationZ(0)), Key(1, ferolt::test::RotationZ(1))};
    desc.nodes[0].rotation->keys[0].tension = 0.25f;
    desc.nodes[0].rotation->keys[1].bias = 0.5f;
    AnimationNodeDesc child;
    child.parent = 0;
    desc.nodes.push_back(child);
    AnimationClipDesc clip;
    clip.name = "walk";
    clip.start = 0.5f;
    clip.end = 2.0f;
    clip.nodeCount = 2;
    clip.indices = {1, 0};
    desc.clips = {clip, AnimationClipDesc{}};
    desc.indices = {1, 0, 7};
    return desc;
}

TEST(AnimationStream, HeaderClipsAndIndices)
{
    AnimationDesc desc = SmallStream();
    desc.version = 2;
    desc.length = 0x12345;
    AnimationPtr a;
    DWORD length = 0;
    ASSERT_EQ(FromStream(ferolt::test::AnimationStream(desc), a, &length), S_OK);
    EXPECT_EQ(length, 0x12345u) << "the stored length is handed on as it stands";
    EXPECT_EQ(a->framesPerSecond, 15.0f);
    ASSERT_EQ(a->clips.size(), 2u);
    EXPECT_EQ(a->clips[0].name, "walk");
    EXPECT_EQ(a->clips[1].name, "");
    EXPECT_EQ(a->clips[0].firstNode, &a->nodes[0]);
    EXPECT_EQ(a->clips[0].indices, (std::vector<DWORD>{1, 0}));
    EXPECT_EQ(a->NodeForSource(0), &a->nodes[1]);
    EXPECT_EQ(a->NodeForSource(1), &a->nodes[0]);
    EXPECT_EQ(a->NodeForSource(2), nullptr) << "an index past the tree is no node";
    EXPECT_EQ(a->NodeForSource(3), nullptr) << "past the table";
    float start = 0, end = 0;
    ASSERT_EQ(LRGetModelAnimationRange(a.p, &start, &end), S_OK);
    EXPECT_EQ(start, 0.0f);
    EXPECT_EQ(end, 2.0f);

    desc.clips.clear();
    AnimationPtr bare;
    ASSERT_EQ(FromStream(ferolt::test::AnimationStream(desc), bare), S_OK);
    ASSERT_EQ(LRGetModelAnimationRange(bare.p, &start, nullptr), S_OK);
    EXPECT_EQ(start, 1e10f);
    ASSERT_EQ(LRGetModelAnimationRange(bare.p, nullptr, &end), S_OK);
    EXPECT_EQ(end, -1e10f);
    EXPECT_EQ(LRGetModelAnimationRange(nullptr, &start, &end), E_INVALIDARG);
}

// Every way a stream can be damaged fails cleanly with no animation.
TEST(AnimationStream, DamagedStreamsAreRefused)
{
    const Bytes good = ferolt::test::AnimationStream(SmallStream());
    AnimationPtr ok;
    ASSERT_EQ(FromStream(good, ok), S_OK);

    std::vector<size_t> ends;
    ferolt::test::AnimationStream(SmallStream(), &ends);
    ASSERT_EQ(ends.back(), good.size());
    ends.pop_back();
    for (size_t cut : ends)
    {
        AnimationPtr a;
        const Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(LRCreateAnimationFromStream(truncated.data(), static_cast<DWORD>(cut), &a.p, nullptr),
                  E_FAIL)
            << "cut at " << cut;
        EXPECT_EQ(a.p, nullptr);
    }

    struct Case
    {
        const char* name;
        std::function<void(AnimationDesc&)> damage;
    } cases[] = {
        {"magic", [](AnimationDesc& s) { s.magic = 0x4E414B4D; }},
        {"version 0", [](AnimationDesc& s) { s.version = 0; }},
        {"version 3", [](AnimationDesc& s) { s.version = 3; }},
        {"no nodes", [](AnimationDesc& s) { s.nodeCount = 0; }},
        {"node count past the end", [](AnimationDesc& s) { s.nodeCount = 0x7FFFFFFF; }},
        {"one node more than there is", [](AnimationDesc& s) { s.nodeCount = 3; }},
        {"clip count past the end", [](AnimationDesc& s) { s.clipCount = 0xFFFFFFFF; }},
        {"index count past the end", [](AnimationDesc& s) { s.indexCount = 0x40000000; }},
        {"key count past the end", [](AnimationDesc& s) { s.nodes[0].position->keyCount = 0x10000000; }},
        {"name past the end", [](AnimationDesc& s) { s.clips[0].nameLength = 0xFFFFFFF0; }},
        {"clip indices past the end", [](AnimationDesc& s) { s.clips[0].indexCount = 0x3FFFFFFF; }},
        {"clip starts past the tree", [](AnimationDesc& s) { s.clips[0].firstNode = 2; }},
        {"node is its own parent", [](AnimationDesc& s) { s.nodes[1].parent = 1; }},
        {"parents in a ring", [](AnimationDesc& s) { s.nodes[0].parent = 1; }},
    };
    for (const Case& c : cases)
    {
        AnimationDesc desc = SmallStream();
        c.damage(desc);
        AnimationPtr a;
        EXPECT_EQ(FromStream(ferolt::test::AnimationStream(desc), a), E_FAIL) << c.name;
        EXPECT_EQ(a.p, nullptr) << c.name;
    }

    AnimationDesc farParent = SmallStream();
    farParent.nodes[1].parent = 9;
    AnimationPtr a;
    ASSERT_EQ(FromStream(ferolt::test::AnimationStream(farParent), a), S_OK);
    EXPECT_EQ(a->nodes[1].parent, nullptr) << "a parent past the tree is no parent";

    EXPECT_EQ(LRCreateAnimationFromStream(good.data(), static_cast<DWORD>(good.size()), nullptr, nullptr),
              E_INVALIDARG);
    AnimationPtr none;
    EXPECT_EQ(LRCreateAnimationFromStream(nullptr, 100, &none.p, nullptr), E_FAIL);
    EXPECT_EQ(LRReleaseAnimation(nullptr), S_OK);
}

// ---------------------------------------------------------------------------------------------------

TEST(AnimationBlock, FramesQuaternionsStoredTangentsAndTheWholeClip)
{
    AnimationDesc desc;
    AnimationNodeDesc node;
    AnimationCurveDesc position;
    position.start = 0;
    position.end = 15; // frames
    AnimationKey a = Key(0, {0, 0, 0}), b = Key(15, {4, 0, 0});
    a.inTangent = a.outTangent = b.inTangent = b.outTangent = std::array<float, 4>{4, 0, 0, 0};
    position.keys = {a, b};
    node.position = position;
    AnimationCurveDesc rotation;
    rotation.start = 0;
    rotation.end = 15;
    rotation.postMode = 77; // becomes hold
    // Rotation keys are stored with w negated.
    std::vector<float> stored = ferolt::test::RotationZ(kPi / 2);
    stored[3] = -stored[3];
    rotation.keys = {Key(0, {0, 0, 0, -2}), Key(15, stored)}; // the first normalises to (0, 0, 0, 1)
    node.rotation = rotation;
    node.pre.fill(9.0f);
    node.pre[15] = 0.0f; // stands for the identity
    desc.nodes = {node};
    desc.indices = {0, 1};

    Bytes block = ferolt::test::AnimationBlock(desc);
    LMK::Animation_* animation = nullptr;
    ASSERT_TRUE(LMK::CreateAnimationFromBlock(block.data(), static_cast<DWORD>(block.size()), &animation));
    AnimationPtr owner;
    owner.p = animation;
    EXPECT_EQ(animation->framesPerSecond, 15.0f);
    EXPECT_EQ(animation->nodes[0].cachedTime, -1e10f);
    ASSERT_EQ(animation->clips.size(), 1u) << "a block without clips gets one";
    EXPECT_EQ(animation->clips[0].start, 0.0f);
    EXPECT_EQ(animation->clips[0].end, 1.0f);
    EXPECT_EQ(animation->clips[0].nodeCount, 1u);
    EXPECT_EQ(animation->NodeForSource(0), &animation->nodes[0]);
    EXPECT_EQ(animation->NodeForSource(1), nullptr);
    EXPECT_EQ(animation->nodes[0].rotation->ownPost, 0u);

    // Stored tangents equal to the difference make the position linear; the rotation is a quarter
    // turn at the end.
    D3DXMATRIX expected, turn;
    const D3DXMATRIX shift = Translation(4, 0, 0);
    D3DXMatrixRotationZ(&turn, kPi / 2);
    D3DXMatrixMultiply(&expected, &turn, &shift);
    ExpectMatrixNear(NodeMatrix(animation, 0, 1.0f), expected, "end");
    const D3DXMATRIX quarter = NodeMatrix(animation, 0, 0.25f);
    EXPECT_NEAR(quarter._41, 1.0f, kTolerance);

    desc.framesPerSecond = 30.0f;
    desc.clips = {AnimationClipDesc{"run", 3.0f, 30.0f, 1, 2, 1, 0, 0u, 1, {0}}};
    block = ferolt::test::AnimationBlock(desc);
    ASSERT_TRUE(LMK::CreateAnimationFromBlock(block.data(), static_cast<DWORD>(block.size()), &animation));
    AnimationPtr second;
    second.p = animation;
    ASSERT_EQ(animation->clips.size(), 1u);
    EXPECT_EQ(animation->clips[0].name, "run");
    EXPECT_EQ(animation->clips[0].start, 0.1f);
    EXPECT_EQ(animation->clips[0].end, 1.0f);
    EXPECT_EQ(animation->clips[0].preMode, 1u);
    EXPECT_EQ(animation->clips[0].postMode, 2u);
    EXPECT_EQ(animation->clips[0].carried, 1);
    EXPECT_NEAR(NodeMatrix(animation, 0, 0.25f)._41, 2.0f, kTolerance) << "frames at 30 per second";
}

TEST(AnimationBlock, DamagedBlocksAreRefused)
{
    AnimationDesc desc;
    AnimationNodeDesc node;
    node.position = MovingNode({{0, 0}, {15, 4}}, 0, 15, 0, 0, {}).nodes[0].position;
    desc.nodes = {node, node};
    desc.nodes[1].parent = 0;
    desc.clips = {AnimationClipDesc{"a", 0, 15, 0, 0, 0, 0, 1u, 1, {1}}};
    desc.indices = {0};
    const Bytes good = ferolt::test::AnimationBlock(desc);
    LMK::Animation_* animation = nullptr;
    ASSERT_TRUE(LMK::CreateAnimationFromBlock(good.data(), static_cast<DWORD>(good.size()), &animation));
    LRReleaseAnimation(&animation);

    for (size_t cut = 0; cut < good.size(); cut += 7)
    {
        EXPECT_FALSE(LMK::CreateAnimationFromBlock(good.data(), static_cast<DWORD>(cut), &animation)) << cut;
        EXPECT_EQ(animation, nullptr);
    }
    auto patched = [&](size_t at, uint32_t value)
    {
        Bytes b = good;
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return b;
    };
    struct Case
    {
        const char* name;
        Bytes block;
    } cases[] = {
        {"no nodes", patched(64, 0)},
        {"node count past the end", patched(64, 0x01000000)},
        {"node offset past the end", patched(88, 0xFFFFFF00)},
        {"clip offset past the end", patched(92, 0x7FFFFFFF)},
        {"clip count past the end", patched(68, 0x00FFFFFF)},
        {"index count past the end", patched(84, 0x00FFFFFF)},
        {"pool offset past the end", patched(100, 0xFFFFFFF0)},
        {"key count past the end", patched(108 + 148, 0x0FFFFFFF)},
        {"key records past the end", patched(108 + 148 + 8, 0xFFFFFFF0)},
        {"parents in a ring", patched(108 + 144, 1)},
    };
    for (const Case& c : cases)
    {
        EXPECT_FALSE(
            LMK::CreateAnimationFromBlock(c.block.data(), static_cast<DWORD>(c.block.size()), &animation))
            << c.name;
        EXPECT_EQ(animation, nullptr) << c.name;
    }
    EXPECT_FALSE(LMK::CreateAnimationFromBlock(nullptr, 200, &animation));
    EXPECT_FALSE(LMK::CreateAnimationFromBlock(good.data(), 0, &animation));
}
} // namespace
