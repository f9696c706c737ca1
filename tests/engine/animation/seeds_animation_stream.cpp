// Seeds of fuzz_animation_stream: two streams and a block with every kind of curve, key field, clip
// and index.
#include "tests/support/animation_writer.h"
#include "tests/support/fuzz_seeds.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    AnimationCurveDesc moving{
        0.0f,
        2.0f,
        3,
        5,
        {{0.0f, {0, 0, 0}, 0.5f, {}, {}}, {1.0f, {4, 0, 0}}, {2.0f, {2, 1, 0}, {}, -1.0f, 0.25f}}};
    AnimationCurveDesc turning{0.0f, 1.0f, 2, 4, {{0.0f, RotationZ(0)}, {1.0f, RotationZ(1.5f)}}};
    AnimationCurveDesc scaled{0.0f, 1.0f, 1, 0, {{0.5f, {2, 2, 2}}}};
    AnimationNodeDesc root, child;
    root.position = moving;
    root.rotation = turning;
    root.pivot[0] = 1.0f;
    child.parent = 0;
    child.scale = scaled;
    AnimationDesc desc;
    desc.nodes = {root, child};
    desc.clips = {{"walk", 0.5f, 2.0f, 1, 3, 1, 1, 0u, 2, {1, 0}}, {"", 0.0f, 1.0f}};
    desc.indices = {1, 0, 9};

    std::vector<FuzzSeed> seeds;
    seeds.push_back({"stream_two_nodes", AnimationStream(desc)});
    desc.version = 2;
    desc.clips.clear();
    seeds.push_back({"stream_no_clips", AnimationStream(desc)});
    desc.framesPerSecond = 30.0f;
    desc.clips = {{"run", 3.0f, 30.0f, 1, 2, 1, 0, 0u, 1, {0}}};
    desc.nodes[0].rotation->keys[0].inTangent = desc.nodes[0].rotation->keys[0].outTangent =
        std::array<float, 4>{0, 0, 0.1f, 0};
    seeds.push_back({"block_two_nodes", AnimationBlock(desc)});
    return seeds;
}
} // namespace ferolt::test
