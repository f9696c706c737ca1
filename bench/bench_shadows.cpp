// LRComputeShadows on a house standing on a ground plate: 21 receiving subsets, one sun and the sky
// term, with the viewer's options (direct weight 0.8) on a 1920 x 1080 display, on one rasterizer thread
// and on all of them.
#include "bench/headless_engine.h"
#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/lr_light_api.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"
#include "engine/engine_api.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"
#include "platform/win32/windows.h"

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

namespace
{
struct BoxDesc
{
    D3DXVECTOR3 low, high;
    float r, g, b;
    bool receivesBottom;
};

// One model of axis-aligned boxes, every face its own receiving subset (a bottom face only when asked).
LMK::Model_* BoxesModel(const std::vector<BoxDesc>& boxes, DWORD* receiving)
{
    std::vector<LMK::RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;
    std::vector<LMK::SubsetStruct_TYP> subsets;
    std::vector<LMK::Material_*> materials;
    std::vector<std::array<float, 4>> planes;
    std::vector<bool> receives;
    for (const BoxDesc& box : boxes)
    {
        LMK::Material_* m = nullptr;
        LRCreateMaterialFromColor(box.r, box.g, box.b, 1.0f, &m);
        materials.push_back(m);
        const D3DXVECTOR3 lo = box.low, hi = box.high;
        // Normal, then four corners counter-clockwise seen from outside.
        const std::array<std::array<D3DXVECTOR3, 5>, 6> faces = {{
            {D3DXVECTOR3(1, 0, 0),
             {hi.x, lo.y, lo.z},
             {hi.x, hi.y, lo.z},
             {hi.x, hi.y, hi.z},
             {hi.x, lo.y, hi.z}},
            {D3DXVECTOR3(-1, 0, 0),
             {lo.x, hi.y, lo.z},
             {lo.x, lo.y, lo.z},
             {lo.x, lo.y, hi.z},
             {lo.x, hi.y, hi.z}},
            {D3DXVECTOR3(0, 1, 0),
             {hi.x, hi.y, lo.z},
             {lo.x, hi.y, lo.z},
             {lo.x, hi.y, hi.z},
             {hi.x, hi.y, hi.z}},
            {D3DXVECTOR3(0, -1, 0),
             {lo.x, lo.y, lo.z},
             {hi.x, lo.y, lo.z},
             {hi.x, lo.y, hi.z},
             {lo.x, lo.y, hi.z}},
            {D3DXVECTOR3(0, 0, 1),
             {lo.x, lo.y, hi.z},
             {hi.x, lo.y, hi.z},
             {hi.x, hi.y, hi.z},
             {lo.x, hi.y, hi.z}},
            {D3DXVECTOR3(0, 0, -1),
             {lo.x, hi.y, lo.z},
             {hi.x, hi.y, lo.z},
             {hi.x, lo.y, lo.z},
             {lo.x, lo.y, lo.z}},
        }};
        for (size_t f = 0; f < faces.size(); ++f)
        {
            const D3DXVECTOR3& n = faces[f][0];
            const DWORD base = static_cast<DWORD>(vertices.size());
            for (int c = 1; c <= 4; ++c)
            {
                LMK::RawVertexStruct_TYP v{};
                v.position[0] = faces[f][c].x;
                v.position[1] = faces[f][c].y;
                v.position[2] = faces[f][c].z;
                v.normal[0] = n.x;
                v.normal[1] = n.y;
                v.normal[2] = n.z;
                vertices.push_back(v);
            }
            LMK::SubsetStruct_TYP s{};
            s.firstFace = static_cast<DWORD>(indices.size() / 3);
            s.faceCount = 2;
            s.material = m;
            s.sourceIndex = LMK::kNoSourceIndex;
            subsets.push_back(s);
            indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
            planes.push_back({n.x, n.y, n.z, -D3DXVec3Dot(&n, &faces[f][1])});
            receives.push_back(f != 5 || box.receivesBottom);
        }
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
    *receiving = 0;
    for (DWORD i = 0; i < model->subsetCount && i < planes.size(); ++i)
    {
        LMK::SubsetAttributesStruct_TYP a{};
        std::copy(planes[i].begin(), planes[i].end(), a.surfacePlane);
        a.specialSurface = receives[i];
        LRSetSubsetAttributes(model, i, 0x5000, &a);
        *receiving += receives[i];
    }
    return model;
}

void BM_ComputeShadows(benchmark::State& state)
{
    benchsupport::HeadlessEngine engine(static_cast<unsigned>(state.range(0)), 1920, 1080);
    if (!engine.Started())
    {
        state.SkipWithError("engine did not start");
        return;
    }
    DWORD groundSubsets = 0, houseSubsets = 0;
    // The ground: a 20 x 20 m plate whose top receives; the house: walls, roof, chimney and porch.
    LMK::Model_* ground =
        BoxesModel({{{-10, -10, -0.2f}, {10, 10, 0}, 0.5f, 0.6f, 0.4f, false}}, &groundSubsets);
    for (DWORD i = 0; i < ground->subsetCount; ++i)
        ground->subsets[i].specialSurface = i == 4;
    groundSubsets = 1;
    LMK::Model_* house = BoxesModel({{{-3, -2, 0}, {3, 2, 3}, 0.9f, 0.85f, 0.7f, false},
                                     {{-3.3f, -2.3f, 3}, {3.3f, 2.3f, 3.3f}, 0.6f, 0.2f, 0.2f, true},
                                     {{1.5f, 0.5f, 3.3f}, {2.1f, 1.1f, 4.8f}, 0.5f, 0.5f, 0.5f, false},
                                     {{-1, -3.5f, 0}, {1, -2, 0.2f}, 0.7f, 0.7f, 0.7f, false}},
                                    &houseSubsets);
    LMK::Object_* objects[2] = {};
    LRCreateObject(house, &objects[0], nullptr);
    LRCreateObject(ground, &objects[1], nullptr);

    LMK::LightParamsStruct_TYP p;
    LRGetDefaultLightParams(&p);
    p.light.Type = D3DLIGHT_DIRECTIONAL;
    LMK::Light_* sun = nullptr;
    LRCreateLight(&p, &sun);
    D3DXMATRIX m;
    LMK::LightMatrixFromPositionDirection(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0.5f, 0.8f, -1.0f), &m);
    sun->SetTransform(&m);

    LMK::ShadowOptionsStruct_TYP options;
    LRInitShadowOptions(&options);
    options.directWeight = 0.8f;
    options.skyTerm = 1;
    // One computation first pays the first touch of the render targets and light maps.
    LRComputeShadows(2, objects, 1, &sun, nullptr, &options, nullptr, nullptr, false, nullptr, 0);
    LRReleaseShadows(2, objects);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(
            LRComputeShadows(2, objects, 1, &sun, nullptr, &options, nullptr, nullptr, false, nullptr, 0));
        state.PauseTiming();
        LRReleaseShadows(2, objects);
        state.ResumeTiming();
    }
    state.counters["receivingSubsets"] = static_cast<double>(groundSubsets + houseSubsets);

    LRReleaseLight(&sun);
    for (LMK::Object_*& o : objects)
        LRReleaseObject(&o);
    house->Release();
    ground->Release();
}
// 1 rasterizer thread, then one per core.
BENCHMARK(BM_ComputeShadows)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
} // namespace

BENCHMARK_MAIN();
