// LRRenderView on a scene of 1,000,000 triangles in 1,000 objects at 1280 x 720: the whole road of a
// frame (pass, visible set, model draws, software rasterizer, Present into a headless window), on one
// rasterizer thread and on all of them.
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
constexpr int kObjects = 1000;
constexpr int kTrianglesPerObject = 1000;

// A sphere of 1,000 triangles: 20 rings of 25 quads, radius 0.4, each ring its own colour subset every
// fifth ring, so that material changes happen as in a real model.
LMK::Model_* SphereModel()
{
    constexpr int rings = 20, segments = 25;
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
        s.firstFace = k * kTrianglesPerObject / 4;
        s.faceCount = kTrianglesPerObject / 4;
        s.material = m;
        s.sourceIndex = LMK::kNoSourceIndex;
        subsets.push_back(s);
    }
    HRESULT hr = E_FAIL;
    auto* model = new LMK::Model_(1, vertices.data(), static_cast<DWORD>(vertices.size()), indices.data(),
                                  static_cast<DWORD>(indices.size() / 3), nullptr, 0, subsets.data(),
                                  static_cast<DWORD>(subsets.size()), nullptr, nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    for (LMK::Material_* m : materials)
    {
        LMK::LoadedPart_* part = m;
        LRReleaseLoadedPart(&part);
    }
    return model;
}

void BM_RenderView(benchmark::State& state)
{
    benchsupport::HeadlessEngine engine(static_cast<unsigned>(state.range(0)), 1280, 720);
    if (!engine.Started())
    {
        state.SkipWithError("engine did not start");
        return;
    }
    HWND window = CreateWindowExA(0, "Static", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 720, nullptr, nullptr,
                                  nullptr, nullptr);
    LMK::BackBuffer_* backBuffer = nullptr;
    LRCreateBackBuffer(window, &backBuffer, nullptr);
    LMK::View_* camera = nullptr;
    const D3DXVECTOR3 eye(0, 4, 14), at(0, 0, 0), up(0, 1, 0);
    LRCreateView(&eye, &at, &up, 0, 16, 9, 0.5f, 100.0f, &camera);

    // Ten distinct models, a hundred objects each, on a 10 x 10 x 10 grid.
    std::vector<LMK::Model_*> models;
    for (int k = 0; k < 10; ++k)
        models.push_back(SphereModel());
    std::vector<LMK::Object_*> objects;
    for (int i = 0; i < kObjects; ++i)
    {
        D3DXMATRIX placement;
        D3DXMatrixTranslation(&placement, static_cast<float>(i % 10) - 4.5f, static_cast<float>(i / 10 % 10) - 4.5f,
                              -static_cast<float>(i / 100));
        LMK::Object_* object = nullptr;
        LRCreateObject(models[static_cast<size_t>(i) % models.size()], &object, &placement);
        objects.push_back(object);
    }
    LMK::RenderViewStruct_TYP view{};
    view.backBuffer = backBuffer;
    view.camera = camera;
    view.cameraLight = 1;
    // The first frame resets the device to the window's size.
    LRRenderView(&view, kObjects, objects.data(), 0, nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(LRRenderView(&view, kObjects, objects.data(), 0, nullptr));
    state.SetItemsProcessed(state.iterations() * kObjects * kTrianglesPerObject);

    for (LMK::Object_*& o : objects)
        LRReleaseObject(&o);
    for (LMK::Model_* m : models)
        m->Release();
    LRReleaseView(&camera);
    LRReleaseBackBuffer(&backBuffer);
    DestroyWindow(window);
}
// 1 rasterizer thread, then one per core.
BENCHMARK(BM_RenderView)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace

BENCHMARK_MAIN();
