// Decoding a compressed geometry block of 1,000,000 triangles: 20 meshes of 50 grid strips with
// 1,000 faces each, predicted vertices and uncoded tables. Faces/s and bytes/s are reported on one
// thread and on every thread at once (each decoding the block on its own), and for the block's meshes
// spread over every thread, as a file's models are read; timed in wall-clock time after the block is
// built once.
#include <benchmark/benchmark.h>

#include "engine/scene/geometry_block.h"
#include "engine/scene/geometry_block_batch.h"
#include "tests/support/geometry_block_encoder.h"

#include <algorithm>
#include <thread>

namespace
{

std::vector<uint8_t> MillionTriangleBlock()
{
    using namespace ferolt::test;
    constexpr uint32_t kMeshes = 20, kStrips = 50, kEntries = 1002;
    BlockDesc block;
    for (uint32_t m = 0; m < kMeshes; ++m)
    {
        MeshDesc desc;
        GroupDesc group;
        for (int i = 0; i < 5; ++i)
        {
            group.minimum[i] = i < 3 ? -8.0f : 0.0f;
            group.maximum[i] = group.minimum[i] + 65535.0f;
        }
        for (uint32_t s = 0; s < kStrips; ++s)
        {
            StripDesc strip;
            for (uint32_t k = 0; k < kEntries; ++k)
            {
                const float x = static_cast<float>(1 + k / 2), y = static_cast<float>(1 + 2 * s + k % 2);
                strip.ops.push_back({StripOp::New, static_cast<uint32_t>(desc.keys.size())});
                desc.keys.push_back({{x, y, static_cast<float>(1 + m)}, {x, y}});
            }
            group.strips.push_back(std::move(strip));
        }
        desc.groups = {group};
        block.meshes.push_back(EncodeMesh(desc).bytes);
    }
    return EncodeBlock(block);
}

void BM_DecodeMillionTriangleBlock(benchmark::State& state)
{
    static const std::vector<uint8_t> bytes = MillionTriangleBlock();
    size_t faces = 0;
    for (auto _ : state)
    {
        LMK::DecodedMeshListStruct_TYP list;
        LMK::DecodeMeshList(2, bytes.data(), bytes.size(), &list);
        faces = 0;
        for (const auto& mesh : list.meshes)
            faces += mesh.attributes.size();
        benchmark::DoNotOptimize(list.meshes.data());
    }
    state.counters["faces"] = benchmark::Counter(static_cast<double>(faces), benchmark::Counter::kAvgThreads);
    state.counters["bytes"] =
        benchmark::Counter(static_cast<double>(bytes.size()), benchmark::Counter::kAvgThreads);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * faces));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeMillionTriangleBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Threads(1)
    ->Threads(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));

void BM_DecodeMillionTriangleBlockOnWorkers(benchmark::State& state)
{
    static const std::vector<uint8_t> bytes = MillionTriangleBlock();
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    const LMK::GeometryBlockViewStruct_TYP view = {bytes.data(), bytes.size()};
    size_t faces = 0;
    for (auto _ : state)
    {
        LMK::DecodedBlockStruct_TYP decoded;
        LMK::DecodeMeshLists(2, {&view, 1}, {&decoded, 1}, threads);
        faces = decoded.list.FaceTotal();
        benchmark::DoNotOptimize(decoded.list.meshes.data());
    }
    state.counters["faces"] = static_cast<double>(faces);
    state.counters["threads"] = threads;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * faces));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodeMillionTriangleBlockOnWorkers)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
