// The shadow computation's entry points, the layout of one light map on its surface, the camera that
// looks at a light map from a light, and the helper models of the baker.
#include "engine/render/shadows.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <memory>
#include <utility>

#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/view.h"
#include "engine/render/back_buffer_window.h"
#include "engine/render/id_colours.h"
#include "engine/core/lr_texture_api.h"
#include "engine/render/render_records.h"
#include "engine/scene/model.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr DWORD kGridSide = 360;

D3DXVECTOR3 Transform(const D3DXVECTOR3& p, const D3DXMATRIX& m)
{
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &p, &m);
    return out;
}

// A subset's normal and light-map axis, the plane's own when the subset carries none.
void PlaneBasis(const SubsetStruct_TYP& s, D3DXVECTOR3* n, D3DXVECTOR3* t)
{
    *n = D3DXVECTOR3(s.planeNormal[0], s.planeNormal[1], s.planeNormal[2]);
    // A NaN length counts as large.
    if (!(D3DXVec3Dot(n, n) < 1e-8f))
    {
        *t = D3DXVECTOR3(s.lightMapAxis[0], s.lightMapAxis[1], s.lightMapAxis[2]);
        return;
    }
    const float a = s.surfacePlane[0], b = s.surfacePlane[1];
    *n = D3DXVECTOR3(a, b, s.surfacePlane[2]);
    *t = (a == 0.0f && b == 0.0f) ? D3DXVECTOR3(1, 0, 0) : D3DXVECTOR3(-b, a, 0);
}

void ReleaseView(View_** view)
{
    if (*view) (*view)->Release();
    *view = nullptr;
}

Model_* MakeHelperModel(const std::vector<RawVertexStruct_TYP>& vertices, const std::vector<DWORD>& indices)
{
    SubsetStruct_TYP subset{};
    subset.faceCount = static_cast<DWORD>(indices.size() / 3);
    subset.sourceIndex = kNoSourceIndex;
    const ModelBuildInputStruct_TYP input{.keepNormals = 1,
                                          .vertices = vertices.data(),
                                          .vertexCount = static_cast<DWORD>(vertices.size()),
                                          .indices = indices.data(),
                                          .faceCount = subset.faceCount,
                                          .subsets = &subset,
                                          .subsetCount = 1};
    HRESULT hr = E_FAIL;
    return BuildModel(input, &hr).release();
}

RawVertexStruct_TYP UnitVertex(float x, float y)
{
    RawVertexStruct_TYP v{};
    v.position[0] = x;
    v.position[1] = y;
    v.u = x;
    v.v = y;
    return v;
}
} // namespace

float LightMapTexelSize(uint32_t quality)
{
    static constexpr float kSizes[] = {0.1f, 0.05f, 0.025f, 0.0125f, 0.006f, 0.002f};
    return quality < std::size(kSizes) ? kSizes[quality] : 0.015f;
}

uint32_t LightMapSide(uint32_t texels)
{
    if (texels > 4096) return 4096;
    if (texels > 2048) return 2048;
    if (texels > 1024) return 1024;
    if (texels > 512) return 512;
    if (texels < 2) return 2;
    uint32_t side = 2;
    while (side < texels)
        side *= 2;
    return side;
}

void CreateLightMapHelperModels(Model_** grid, Model_** quad)
{
    *quad = MakeHelperModel({UnitVertex(0, 0), UnitVertex(1, 0), UnitVertex(0, 1), UnitVertex(1, 1)},
                            {0, 1, 2, 1, 3, 2});
    if (!grid) return;
    std::vector<RawVertexStruct_TYP> vertices;
    vertices.reserve(kGridSide * kGridSide);
    for (DWORD i = 0; i < kGridSide; ++i)
        for (DWORD j = 0; j < kGridSide; ++j)
            vertices.push_back(UnitVertex(j / 359.0f, i / 359.0f));
    std::vector<DWORD> indices;
    indices.reserve(size_t{6} * (kGridSide - 1) * (kGridSide - 1));
    for (DWORD i = 0; i + 1 < kGridSide; ++i)
        for (DWORD j = 0; j + 1 < kGridSide; ++j)
        {
            const DWORD a = kGridSide * i + j;
            indices.insert(indices.end(), {a, a + 1, a + kGridSide, a + 1, a + kGridSide + 1, a + kGridSide});
        }
    *grid = MakeHelperModel(vertices, indices);
}

void Object_::ReleaseLightMap(DWORD subset)
{
    if (!lightMaps || subset >= model->subsetCount || !lightMaps[subset]) return;
    const std::unique_ptr<LightMapStruct_TYP> record(std::exchange(lightMaps[subset], nullptr));
    LRReleaseTexture(&record->texture);
    ReleaseView(&record->view);
}

bool Object_::LayoutLightMap(DWORD subset, DWORD quality, DWORD vertexStride, BYTE* vertices, WORD* indices)
{
    LightMapStruct_TYP* record = lightMaps[subset];
    const SubsetStruct_TYP& s = model->subsets[subset];
    D3DXVECTOR3 n, t, b;
    PlaneBasis(s, &n, &t);
    D3DXVec3Cross(&b, &n, &t);
    D3DXMATRIX basis(t.x, t.y, t.z, 0, b.x, b.y, b.z, 0, n.x, n.y, n.z, 0, 0, 0, 0, 1);
    D3DXMATRIX toPlane;
    // A degenerate basis has no plane to lay a map on.
    if (!D3DXMatrixInverse(&toPlane, nullptr, &basis)) return false;

    D3DXVECTOR3 lo(kEmptyBoxMin, kEmptyBoxMin, kEmptyBoxMin), hi(kEmptyBoxMax, kEmptyBoxMax, kEmptyBoxMax);
    auto position = [&](WORD index)
    {
        D3DXVECTOR3 p;
        std::memcpy(&p, vertices + size_t{index} * vertexStride, sizeof p);
        return p;
    };
    const size_t first = size_t{3} * s.firstFace, last = size_t{3} * (s.firstFace + s.faceCount);
    for (size_t k = first; k < last; ++k)
    {
        const D3DXVECTOR3 p = Transform(position(indices[k]), toPlane);
        for (int c = 0; c < 3; ++c)
        {
            if (p[c] <= lo[c]) lo[c] = p[c];
            if (hi[c] <= p[c]) hi[c] = p[c];
        }
    }
    const D3DXVECTOR3 extent = hi - lo;
    if (!(D3DXVec3Length(&extent) >= 0.001f)) return false;

    D3DXMATRIX scale, shift;
    D3DXMatrixScaling(&scale, extent.x == 0.0f ? 1.0f : 1.0f / extent.x,
                      extent.y == 0.0f ? 1.0f : 1.0f / extent.y, extent.z == 0.0f ? 1.0f : 1.0f / extent.z);
    D3DXMatrixTranslation(&shift, -lo.x, -lo.y, -lo.z);
    record->objectToUnitBox = toPlane * shift * scale;
    D3DXMatrixInverse(&record->unitBoxToObject, nullptr, &record->objectToUnitBox);

    D3DXMATRIX base = *inverseWorld;
    D3DXMATRIX node;
    if (model->animation && s.animationNode &&
        GetAnimationNodeMatrix(s.animationNode, animationClip, animationTime, &node))
    {
        const D3DXMATRIX animated = node * *world;
        D3DXMatrixInverse(&base, nullptr, &animated);
    }
    record->worldToUnitBox = base * record->objectToUnitBox;
    D3DXMatrixInverse(&record->unitBoxToWorld, nullptr, &record->worldToUnitBox);

    const D3DXVECTOR3 c0 = Transform({0, 0, 0}, record->unitBoxToWorld);
    const D3DXVECTOR3 cU = Transform({1, 0, 0}, record->unitBoxToWorld);
    const D3DXVECTOR3 cV = Transform({0, 1, 0}, record->unitBoxToWorld);
    const D3DXVECTOR3 centre = Transform({0.5f, 0.5f, 0}, record->unitBoxToWorld);
    const D3DXVECTOR3 eU = cU - c0, eV = cV - c0;
    const float lenU = D3DXVec3Length(&eU), lenV = D3DXVec3Length(&eV);

    const float texel = LightMapTexelSize(quality);
    record->width = LightMapSide(static_cast<uint32_t>(std::min(lenU / texel, 1e9f)));
    record->height = LightMapSide(static_cast<uint32_t>(std::min(lenV / texel, 1e9f)));
    UINT displayWidth = 0, displayHeight = 0;
    if (SUCCEEDED(LRGetDisplaySize(&displayWidth, &displayHeight)))
    {
        if (record->width > displayWidth) record->width = 512;
        if (record->height > displayHeight) record->height = 512;
    }
    const DWORD category = s.surfaceType & 0xFFFFF000u;
    if (s.faceCount == 1 && (category == 0xA000 || category == 0xB000))
    {
        record->width *= 2;
        record->height *= 2;
    }

    const D3DXVECTOR3 nWorld = Transform(n, *world) - Transform({0, 0, 0}, *world);
    const D3DXVECTOR3 eye = centre + nWorld;
    ReleaseView(&record->view);
    LRCreateView(&eye, &centre, &eV, 1, lenU * 0.999f, lenV * 0.999f, 0.01f, 1.01f, &record->view);

    for (size_t k = first; k < last; ++k)
    {
        BYTE* v = vertices + size_t{indices[k]} * vertexStride;
        D3DXVECTOR3 p;
        std::memcpy(&p, v, sizeof p);
        const D3DXVECTOR3 q = Transform(p, record->objectToUnitBox);
        const float uv[2] = {q.x, 1.0f - q.y};
        std::memcpy(v + 32, uv, sizeof uv);
    }
    return true;
}

void Object_::CreateLightMapView(const D3DXVECTOR3* lightPosition, bool useNearOffset, bool allowBackSide,
                                 const float offset[2], float nearOffset, DWORD subset,
                                 const D3DXMATRIX* world, View_** view, bool* made, bool* flipped)
{
    *view = nullptr;
    *made = false;
    if (flipped) *flipped = false;
    const LightMapStruct_TYP* record = lightMaps ? lightMaps[subset] : nullptr;
    if (!record) return;
    const D3DXVECTOR3 c0 = Transform({0, 0, 0}, record->unitBoxToWorld);
    D3DXVECTOR3 n, t;
    PlaneBasis(model->subsets[subset], &n, &t);
    D3DXVECTOR3 nW = Transform(n, *world) - Transform({0, 0, 0}, *world);
    D3DXVec3Normalize(&nW, &nW);
    const D3DXVECTOR3& light = *lightPosition;
    float d = D3DXVec3Dot(&light, &nW) - D3DXVec3Dot(&c0, &nW);
    bool isFlipped = false;
    if (!(d >= 0.01f))
    {
        if (!allowBackSide || !(d <= -0.01f)) return;
        isFlipped = true;
        nW = -nW;
        d = -d;
    }
    D3DXVECTOR3 eU = Transform({1, 0, 0}, record->unitBoxToWorld) - c0;
    const D3DXVECTOR3 eV = Transform({0, 1, 0}, record->unitBoxToWorld) - c0;
    const float lenU = D3DXVec3Length(&eU), lenV = D3DXVec3Length(&eV);
    if (isFlipped) eU = -eU;
    D3DXVECTOR3 up;
    D3DXVec3Normalize(&up, &eV);

    const D3DXVECTOR3 eye = light + eU * (offset[0] / lenU) + eV * (offset[1] / lenV);
    const D3DXVECTOR3 lookAt = eye - d * nW;
    float zNear = useNearOffset ? d - nearOffset : 0.01f;
    // A grazing light brings the near plane to the eye or behind it, and a light close to the surface
    // puts the far plane in front of the near one: neither gives a usable depth range.
    zNear = std::max(zNear, 0.01f);
    const float zFar = d - 0.005f;
    if (!(zFar > zNear)) return;

    const D3DXVECTOR3 q = Transform(lookAt, record->worldToUnitBox);
    const float left = isFlipped ? q.x * lenU - lenU : -q.x * lenU;
    ViewParamsStruct_TYP params{};
    const float window[4] = {left, left + lenU, (1.0f - q.y) * lenV, -q.y * lenV};
    std::copy(std::begin(window), std::end(window), params.window);
    std::copy(std::begin(window), std::end(window), params.secondWindow);
    const D3DXVECTOR3* vectors[3] = {&eye, &lookAt, &up};
    float* fields[3] = {params.eye, params.lookAt, params.up};
    for (int k = 0; k < 3; ++k)
    {
        fields[k][0] = vectors[k]->x;
        fields[k][1] = vectors[k]->y;
        fields[k][2] = vectors[k]->z;
    }
    params.zNear = zNear;
    params.zFar = zFar;
    if (FAILED(LRCreateViewFromParams(&params, view)) || !*view) return;
    *made = true;
    if (flipped) *flipped = isFlipped;
}
} // namespace LMK

HRESULT LRInitShadowOptions(LMK::ShadowOptionsStruct_TYP* options)
{
    if (!options) return E_INVALIDARG;
    *options = {};
    options->level = 3;
    options->quality = 2;
    options->directWeight = 1.0f;
    options->skyTerm = 0;
    options->skyWeight = 0.5f;
    options->keepExisting = 0;
    return S_OK;
}

HRESULT LRReleaseShadows(DWORD objectCount, LMK::Object_** objects)
{
    if (objectCount == 0) return S_OK;
    if (!objects) return E_INVALIDARG;
    for (DWORD i = 0; i < objectCount; ++i)
        if (objects[i]) objects[i]->ReleaseLightMaps();
    return S_OK;
}

HRESULT LRComputeShadows(DWORD objectCount, LMK::Object_** objects, DWORD lightCount, LMK::Light_** lights,
                         float* intensity, LMK::ShadowOptionsStruct_TYP* options,
                         LMK::ProgressCallback_TYP callback, void* user, bool shadowCastersOnly,
                         LMK::View_* visibilityCamera, DWORD resolution)
{
    using namespace LMK;
    if (objectCount == 0) return S_OK;
    if (!objects) return E_INVALIDARG;
    // Every render below goes through the started engine's primary device.
    if (!IsEngineStarted()) return E_FAIL;
    // Only lights other than directional ones draw the lit surface through the grid: its quarter of a
    // million triangles are made only when such a light takes part.
    bool needGrid = false;
    for (DWORD j = 0; lights && j < lightCount; ++j)
        needGrid = needGrid || (lights[j] && lights[j]->params.light.Type != D3DLIGHT_DIRECTIONAL);
    Model_* grid = nullptr;
    Model_* quad = nullptr;
    CreateLightMapHelperModels(needGrid ? &grid : nullptr, &quad);
    auto releaseHelpers = [&]
    {
        if (grid) grid->Release();
        if (quad) quad->Release();
    };
    if ((needGrid && !grid) || !quad)
    {
        releaseHelpers();
        return S_OK;
    }

    std::vector<VisibleSubsetsStruct_TYP> visible;
    const bool visibilityPass = visibilityCamera != nullptr;
    if (visibilityPass)
    {
        const DWORD side = resolution ? resolution : 512;
        auto window = std::make_unique<CBackBWnd>(side, side);
        BackBuffer_* backBuffer = nullptr;
        LRCreateBackBuffer(window->m_hWnd, &backBuffer, nullptr);
        if (backBuffer)
        {
            RenderViewStruct_TYP view{};
            view.backBuffer = backBuffer;
            view.camera = visibilityCamera;
            // The whole image: right and bottom are exclusive.
            const RECT all{0, 0, static_cast<LONG>(side), static_cast<LONG>(side)};
            LRFindVisibleSubsets(&view, objectCount, objects, &all, false, &visible);
            LRReleaseBackBuffer(&backBuffer);
        }
    }

    for (DWORD i = 0; i < objectCount; ++i)
    {
        Object_* object = objects[i];
        if (!object) continue;
        const std::vector<uint32_t>* subsets = nullptr;
        if (visibilityPass)
        {
            auto found = std::find_if(visible.begin(), visible.end(),
                                      [&](const VisibleSubsetsStruct_TYP& v) { return v.objectIndex == i; });
            if (found == visible.end())
            {
                if (!(options && options->keepExisting)) object->ReleaseLightMaps();
                continue;
            }
            subsets = &found->subsets;
        }
        if (!object->ComputeLightMaps(grid, quad, i, objectCount, objects, lightCount, lights, intensity,
                                      options, callback, user, shadowCastersOnly, subsets))
            break;
    }
    releaseHelpers();
    return S_OK;
}
