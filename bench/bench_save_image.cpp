// LRSaveImage of a lit box at 4096 x 4096 with 8x8 oversampling (32768 x 32768 rendered pixels) on a
// 1920 x 1080 display, and 5000 x 3000 likewise. Besides the time it reports the peak resident memory
// of the save (the process's high-water mark, reset before each run), which the strip, not the image,
// must bound.
#include "bench/headless_engine.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/render/save_image.h"
#include "engine/scene/model.h"
#include "engine/scene/model_api.h"
#include "engine/scene/object.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace
{
// VmHWM in MiB.
double PeakMiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

LMK::Object_* MakeBox(LMK::Model_** model)
{
    std::vector<LMK::RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;
    const float n[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    const int u[6][3] = {{0, 1, 0}, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    for (int f = 0; f < 6; ++f)
    {
        const int v[3] = {int(n[f][1]) * u[f][2] - int(n[f][2]) * u[f][1],
                          int(n[f][2]) * u[f][0] - int(n[f][0]) * u[f][2],
                          int(n[f][0]) * u[f][1] - int(n[f][1]) * u[f][0]};
        const DWORD base = static_cast<DWORD>(vertices.size());
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners)
        {
            LMK::RawVertexStruct_TYP r{};
            for (int a = 0; a < 3; ++a)
            {
                r.position[a] = n[f][a] + c[0] * u[f][a] + c[1] * v[a];
                r.normal[a] = n[f][a];
            }
            vertices.push_back(r);
        }
        indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    LMK::Material_* m = nullptr;
    LRCreateMaterialFromColor(0.8f, 0.4f, 0.2f, 1.0f, &m);
    LMK::SubsetStruct_TYP s{};
    s.faceCount = 12;
    s.material = m;
    s.sourceIndex = LMK::kNoSourceIndex;
    HRESULT hr = E_FAIL;
    *model = new LMK::Model_(1, vertices.data(), static_cast<DWORD>(vertices.size()), indices.data(), 12,
                             nullptr, 0, &s, 1, nullptr, nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    LMK::LoadedPart_* part = m;
    LRReleaseLoadedPart(&part);
    LMK::Object_* object = nullptr;
    LRCreateObject(*model, &object, nullptr);
    return object;
}

void BM_SaveImage(benchmark::State& state)
{
    benchsupport::HeadlessEngine engine(0, 1920, 1080);
    if (!engine.Started())
    {
        state.SkipWithError("engine did not start");
        return;
    }
    LMK::Model_* model = nullptr;
    LMK::Object_* object = MakeBox(&model);
    LMK::View_* camera = nullptr;
    const D3DXVECTOR3 eye(3, 2, 4), at(0, 0, 0), up(0, 1, 0);
    LRCreateView(&eye, &at, &up, 0, 1.6f, 1.2f, 0.5f, 50.0f, &camera);
    const std::string path = "/tmp/ferolt_bench_save_" + std::to_string(getpid()) + ".jpg";
    double peak = 0;
    {
        // A small save first makes the tile windows, devices and writer once before anything is timed.
        LMK::SaveImageStruct_TYP p{};
        p.width = 256;
        p.height = 256;
        p.oversampling = 2;
        p.format = LMK::SaveImageFormatJpeg;
        p.quality = 0.9f;
        p.fileName = path.c_str();
        LMK::RenderViewStruct_TYP v{};
        v.camera = camera;
        v.cameraLight = 1;
        LRSaveImage(&v, 1, &object, 0, nullptr, &p);
    }
    for (auto _ : state)
    {
        LMK::SaveImageStruct_TYP p{};
        p.width = static_cast<uint16_t>(state.range(0));
        p.height = static_cast<uint16_t>(state.range(1));
        p.oversampling = 8;
        p.format = LMK::SaveImageFormatJpeg;
        p.quality = 0.9f;
        p.fileName = path.c_str();
        LMK::RenderViewStruct_TYP v{};
        v.camera = camera;
        v.cameraLight = 1;
        ResetPeak();
        const double before = PeakMiB();
        if (LRSaveImage(&v, 1, &object, 0, nullptr, &p) != S_OK) state.SkipWithError("save failed");
        peak = PeakMiB();
        state.counters["resident_before_MiB"] = before;
    }
    state.counters["peak_resident_MiB"] = peak;
    std::remove(path.c_str());
    LRReleaseView(&camera);
    LRReleaseObject(&object);
    model->Release();
}
BENCHMARK(BM_SaveImage)->Args({4096, 4096})->Args({5000, 3000})->Unit(benchmark::kSecond)->Iterations(2);
} // namespace

BENCHMARK_MAIN();
