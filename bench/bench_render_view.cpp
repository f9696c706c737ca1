// LRRenderView at 1280 x 720: the whole road of a frame (pass, visible set, model draws, software
// rasterizer, Present into a headless window) for 1 to 10,000 sphere objects, on 1, 2, 4 and 8 rasterizer
// threads. Frames are timed after warm-up ones, which pay the first touch of the device's buffers.
#include "bench/headless_engine.h"
#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"
#include "engine/core/lr_view_api.h"
#include "engine/engine_api.h"
#include "engine/render/render_view.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"
#include "platform/win32/windows.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
constexpr int kWarmUpFrames = 3;

// A sphere of 2 x rings x segments triangles, radius 0.4, in four colour subsets of consecutive rings, so
// that material changes happen as in a real model.
LMK::Model_* SphereModel(int rings, int segments)
{
    const int triangles = 2 * rings * segments;
    std::vector<LMK::RawVertexStruct_TYP> vertices;
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s <= segments; ++s)
        {
            const float theta = 3.14159265f * r / rings, phi = 2 * 3.14159265f * s / segments;
            LMK::RawVertexStruct_TYP v{};
            v.normal[0] = std::sin(theta) * std::cos(phi);
            v.normal[1] = std::cos(theta);
            v.normal[2] = std::sin(theta) * std::sin(phi);
            for (int k = 0; k < 3; ++k)
                v.position[k] = 0.4f * v.normal[k];
            vertices.push_back(v);
        }
    std::vector<DWORD> indices;
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s)
        {
            const DWORD a = r * (segments + 1) + s, b = a + 1, c = a + segments + 1, d = c + 1;
            indices.insert(indices.end(), {a, c, b, b, c, d});
        }
    std::vector<LMK::SubsetStruct_TYP> subsets;
    std::vector<LMK::Material_*> materials;
    for (int k = 0; k < 4; ++k)
    {
        LMK::Material_* m = nullptr;
        LRCreateMaterialFromColor(0.2f * k + 0.2f, 0.5f, 1.0f - 0.2f * k, 1.0f, &m);
        materials.push_back(m);
        LMK::SubsetStruct_TYP s{};
        s.firstFace = k * triangles / 4;
        s.faceCount = triangles / 4;
        s.material = m;
        s.sourceIndex = LMK::kNoSourceIndex;
        subsets.push_back(s);
    }
    HRESULT hr = E_FAIL;
    auto* model =
        new LMK::Model_(1, vertices.data(), static_cast<DWORD>(vertices.size()), indices.data(),
                        static_cast<DWORD>(indices.size() / 3), nullptr, 0, subsets.data(),
                        static_cast<DWORD>(subsets.size()), nullptr, nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    for (LMK::Material_* m : materials)
    {
        LMK::LoadedPart_* part = m;
        LRReleaseLoadedPart(&part);
    }
    return model;
}

// Arguments: rasterizer threads, objects, triangles per object (1,000: 20 x 25 rings, 100: 5 x 10).
void BM_RenderView(benchmark::State& state)
{
    const int objectCount = static_cast<int>(state.range(1));
    const bool small = state.range(2) <= 100;
    const int rings = small ? 5 : 20, segments = small ? 10 : 25, trianglesPerObject = 2 * rings * segments;
    benchsupport::HeadlessEngine engine(static_cast<unsigned>(state.range(0)), 1280, 720);
    if (!engine.Started())
    {
        state.SkipWithError("engine did not start");
        return;
    }
    HWND window = CreateWindowExA(0, "Static", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 720, nullptr,
                                  nullptr, nullptr, nullptr);
    LMK::BackBuffer_* backBuffer = nullptr;
    LRCreateBackBuffer(window, &backBuffer, nullptr);
    LMK::View_* camera = nullptr;
    const D3DXVECTOR3 eye(0, 4, 14), at(0, 0, 0), up(0, 1, 0);
    LRCreateView(&eye, &at, &up, 0, 16, 9, 0.5f, 100.0f, &camera);

    // Ten distinct models on a grid of 10 x 10 layers going away from the eye; 10,000 objects stand at
    // half the spacing so that they cover about what 1,000 do.
    std::vector<LMK::Model_*> models;
    for (int k = 0; k < 10; ++k)
        models.push_back(SphereModel(rings, segments));
    const float spacing = objectCount > 1000 ? 0.5f : 1.0f;
    std::vector<LMK::Object_*> objects;
    for (int i = 0; i < objectCount; ++i)
    {
        D3DXMATRIX placement;
        D3DXMatrixTranslation(&placement, spacing * (static_cast<float>(i % 10) - 4.5f),
                              spacing * (static_cast<float>(i / 10 % 10) - 4.5f),
                              -spacing * static_cast<float>(i / 100));
        LMK::Object_* object = nullptr;
        LRCreateObject(models[static_cast<size_t>(i) % models.size()], &object, &placement);
        objects.push_back(object);
    }
    LMK::RenderViewStruct_TYP view{};
    view.backBuffer = backBuffer;
    view.camera = camera;
    view.cameraLight = 1;
    // The first frame resets the device to the window's size.
    for (int i = 0; i < kWarmUpFrames; ++i)
        LRRenderView(&view, static_cast<DWORD>(objectCount), objects.data(), 0, nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            LRRenderView(&view, static_cast<DWORD>(objectCount), objects.data(), 0, nullptr));
    state.SetItemsProcessed(state.iterations() * objectCount * trianglesPerObject);

    for (LMK::Object_*& o : objects)
        LRReleaseObject(&o);
    for (LMK::Model_* m : models)
        m->Release();
    LRReleaseView(&camera);
    LRReleaseBackBuffer(&backBuffer);
    DestroyWindow(window);
}
void Sweep(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"threads", "objects", "triangles"});
    for (int threads : {1, 2, 4, 8})
    {
        for (int objects : {1, 10, 100, 1000})
            b->Args({threads, objects, 1000});
        b->Args({threads, 10000, 100});
    }
}
BENCHMARK(BM_RenderView)->Apply(Sweep)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
} // namespace

BENCHMARK_MAIN();
