// Keyframe animation: reading a stream, and evaluating a chain of animated nodes frame after frame
// (every node recomputed at each new time) against the same time again (answered from the caches).
#include <benchmark/benchmark.h>

#include "engine/scene/animation.h"
#include "engine/scene/lr_animation_api.h"
#include "tests/support/animation_writer.h"

namespace
{
using namespace ferolt::test;

// `count` nodes, each the child of the one before, each moving and turning through eight keys.
Bytes Chain(int count)
{
    AnimationDesc desc;
    for (int n = 0; n < count; ++n)
    {
        AnimationCurveDesc position, rotation;
        position.end = rotation.end = 7.0f;
        position.postMode = rotation.postMode = 2;
        for (int k = 0; k < 8; ++k)
        {
            position.keys.push_back({float(k), {float(k % 3), float(n), 0.5f * k}});
            rotation.keys.push_back({float(k), RotationZ(0.3f * k + 0.01f * n)});
        }
        AnimationNodeDesc node;
        if (n) node.parent = n - 1;
        node.position = position;
        node.rotation = rotation;
        desc.nodes.push_back(node);
    }
    desc.clips = {{"all", 0.0f, 7.0f}};
    return AnimationStream(desc);
}

void BM_ReadStream(benchmark::State& state)
{
    const Bytes stream = Chain(static_cast<int>(state.range(0)));
    for (auto _ : state)
    {
        LMK::Animation_* a = nullptr;
        LRCreateAnimationFromStream(stream.data(), static_cast<DWORD>(stream.size()), &a, nullptr);
        LRReleaseAnimation(&a);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ReadStream)->Arg(16)->Arg(256);

void BM_EvaluateFrames(benchmark::State& state, bool newTime)
{
    const Bytes stream = Chain(static_cast<int>(state.range(0)));
    LMK::Animation_* a = nullptr;
    LRCreateAnimationFromStream(stream.data(), static_cast<DWORD>(stream.size()), &a, nullptr);
    float t = 0.0f;
    for (auto _ : state)
    {
        if (newTime) t += 0.02f;
        for (LMK::AnimationNode_& node : a->nodes)
        {
            D3DXMATRIX* m = nullptr;
            node.GetMatrix(nullptr, t, &m);
            benchmark::DoNotOptimize(m);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * a->nodes.size()));
    LRReleaseAnimation(&a);
}
BENCHMARK_CAPTURE(BM_EvaluateFrames, new_time, true)->Arg(16)->Arg(256);
BENCHMARK_CAPTURE(BM_EvaluateFrames, same_time, false)->Arg(16)->Arg(256);
} // namespace

BENCHMARK_MAIN();
