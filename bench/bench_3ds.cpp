// 3D Studio files into models: a file of about 1 MB, four grid meshes with texture coordinates,
// smoothing groups and two material groups each, placed by keyframer nodes, as exporters write them.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/headless_engine.h"
#include "engine/scene/model.h"
#include "engine/scene/model_3ds.h"
#include "tests/support/three_ds_writer.h"

namespace
{
using namespace ferolt::test;

const std::vector<uint8_t>& MegabyteFile()
{
    static const std::vector<uint8_t> file = []
    {
        Ds3File scene;
        Ds3Material red, blue;
        red.name = "Red";
        blue.name = "Blue";
        scene.materials = {red, blue};
        for (int i = 0; i < 4; ++i)
        {
            const std::string name = "Grid" + std::to_string(i);
            scene.meshes.push_back(Ds3Grid(name, 80, 75));
            Ds3Node node;
            node.name = name;
            node.position = {{0, {float(i) * 100.0f, 0, 0, 0}}, {30, {float(i) * 100.0f, 50, 0, 0}}};
            scene.nodes.push_back(node);
        }
        return Write3DS(scene);
    }();
    return file;
}

void Report(benchmark::State& state, const std::vector<uint8_t>& file)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

// The chunk reader alone.
void BM_3DSParse(benchmark::State& state)
{
    const std::vector<uint8_t>& file = MegabyteFile();
    for (auto _ : state)
    {
        LMK::Parsed3DS parsed;
        if (!LMK::Parse3DS(file.data(), DWORD(file.size()), &parsed))
            return state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(parsed.meshes.data());
    }
    Report(state, file);
}

// The whole load: chunks, placement, materials, animation, normals, vertex-cache order and mesh parts.
void BM_3DSToModel(benchmark::State& state)
{
    const std::vector<uint8_t>& file = MegabyteFile();
    static benchsupport::HeadlessEngine engine(1, 64, 48);
    if (!engine.Started()) return state.SkipWithError("no engine");
    for (auto _ : state)
    {
        LMK::Parsed3DS parsed;
        LMK::Model_* model = nullptr;
        if (!LMK::Parse3DS(file.data(), DWORD(file.size()), &parsed) ||
            FAILED(LMK::Build3DSModel(&parsed, 0, nullptr, &model)))
            return state.SkipWithError("load failed");
        model->Release();
    }
    Report(state, file);
}

BENCHMARK(BM_3DSParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_3DSToModel)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
