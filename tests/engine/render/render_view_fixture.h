#pragma once
// A started engine on small software adapters with windows of the headless backend, a camera, and boxes
// and quads built from raw arrays: the scenes that LRRenderView tests draw, and helpers that read the
// presented pixels back at projected world points.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "../core/engine_fixture.h"
#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/engine_api.h"
#include "engine/render/render_view.h"
#include "engine/scene/model.h"
#include "engine/scene/model_api.h"
#include "engine/scene/object.h"
#include "platform/backends/headless/headless_backend.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/windows.h"
#include "tests/support/png_image.h"

namespace rendertest
{
using ferolt::backend::HeadlessBackend;

constexpr uint32_t kBackground = 0x3A6EA5;

struct Rgb
{
    int r, g, b;
};

inline Rgb Split(uint32_t p)
{
    return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
            static_cast<int>(p & 0xFF)};
}

inline bool Near(uint32_t pixel, Rgb want, int tolerance = 2)
{
    const Rgb got = Split(pixel);
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

// An axis-aligned box of six faces, each its own subset with its own colour, wound counter-clockwise
// seen from outside, normals given.
struct Box
{
    std::vector<LMK::RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;

    Box(D3DXVECTOR3 centre, float half)
    {
        const std::array<std::array<D3DXVECTOR3, 3>, 6> faces = {{
            {D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 1, 0), D3DXVECTOR3(0, 0, 1)},
            {D3DXVECTOR3(-1, 0, 0), D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(0, 1, 0)},
            {D3DXVECTOR3(0, 1, 0), D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(1, 0, 0)},
            {D3DXVECTOR3(0, -1, 0), D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 0, 1)},
            {D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 1, 0)},
            {D3DXVECTOR3(0, 0, -1), D3DXVECTOR3(0, 1, 0), D3DXVECTOR3(1, 0, 0)},
        }};
        for (const auto& f : faces)
        {
            const D3DXVECTOR3 &n = f[0], &u = f[1], &v = f[2];
            const DWORD base = static_cast<DWORD>(vertices.size());
            const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (const auto& c : corners)
            {
                const D3DXVECTOR3 p = centre + half * (n + c[0] * u + c[1] * v);
                LMK::RawVertexStruct_TYP r{};
                r.position[0] = p.x;
                r.position[1] = p.y;
                r.position[2] = p.z;
                r.normal[0] = n.x;
                r.normal[1] = n.y;
                r.normal[2] = n.z;
                vertices.push_back(r);
            }
            indices.insert(indices.end(), {base, base + 1, base + 2, base, base + 2, base + 3});
        }
    }
};

// Face order of Box: +x, -x, +y, -y, +z, -z.
using FaceColours = std::array<std::array<float, 4>, 6>;

class RenderViewTest : public ::testing::Test
{
protected:
    void SetUp() override { ferolt::hooks::SetD3D9WorkerThreads(1); }
    void TearDown() override
    {
        for (LMK::Object_*& o : objects_)
            LRReleaseObject(&o);
        for (LMK::Model_* m : models_)
            m->Release();
        if (camera_) LRReleaseView(&camera_);
        for (LMK::BackBuffer_*& b : backBuffers_)
            LRReleaseBackBuffer(&b);
        for (HWND w : windows_)
            DestroyWindow(w);
        while (LMK::CurrentGlobals)
            LRStop();
        ferolt::hooks::ResetD3D9Hooks();
        ferolt::win32::host::SetVirtualScreen({{{0, 0, 1920, 1080}, {}}});
    }

    // Ends everything the test made and begins afresh, for tests that compare two screen layouts.
    void Restart()
    {
        TearDown();
        objects_.clear();
        models_.clear();
        backBuffers_.clear();
        windows_.clear();
        camera_ = nullptr;
        SetUp();
    }

    void Start(const std::vector<RECT>& monitors)
    {
        std::vector<ferolt::hooks::D3D9Adapter> adapters;
        for (const RECT& r : monitors)
            adapters.push_back(enginetest::SmallAdapter(r.left, r.right - r.left, r.bottom - r.top));
        enginetest::UseAdapters(adapters);
        ASSERT_EQ(LRStart(nullptr), S_OK);
    }

    HWND Window(const RECT& client)
    {
        HWND w = CreateWindowExA(0, "Static", "view", WS_POPUP | WS_VISIBLE, client.left, client.top,
                                 client.right - client.left, client.bottom - client.top, nullptr, nullptr,
                                 nullptr, nullptr);
        windows_.push_back(w);
        return w;
    }

    // One adapter and one window of this size at the screen's origin, with its back buffer.
    LMK::BackBuffer_* StartWithWindow(LONG width, LONG height, HWND* window)
    {
        Start({{0, 0, width, height}});
        *window = Window({0, 0, width, height});
        return BackBuffer(*window);
    }

    LMK::BackBuffer_* BackBuffer(HWND w)
    {
        LMK::BackBuffer_* bb = nullptr;
        EXPECT_EQ(LRCreateBackBuffer(w, &bb, nullptr), S_OK);
        backBuffers_.push_back(bb);
        return bb;
    }

    void Camera(D3DXVECTOR3 eye, float width, float height)
    {
        const D3DXVECTOR3 at(0, 0, 0), up(0, 1, 0);
        ASSERT_EQ(LRCreateView(&eye, &at, &up, 0, width, height, 0.5f, 50.0f, &camera_), S_OK);
    }

    LMK::Object_* AddBox(D3DXVECTOR3 centre, float half, const FaceColours& colours)
    {
        Box box(centre, half);
        std::vector<LMK::SubsetStruct_TYP> subsets;
        std::vector<LMK::Material_*> materials;
        for (DWORD f = 0; f < 6; ++f)
        {
            LMK::Material_* m = nullptr;
            EXPECT_EQ(
                LRCreateMaterialFromColor(colours[f][0], colours[f][1], colours[f][2], colours[f][3], &m),
                S_OK);
            materials.push_back(m);
            LMK::SubsetStruct_TYP s{};
            s.firstFace = 2 * f;
            s.faceCount = 2;
            s.material = m;
            s.sourceIndex = LMK::kNoSourceIndex;
            subsets.push_back(s);
        }
        HRESULT hr = E_FAIL;
        auto* model = new LMK::Model_(1, box.vertices.data(), static_cast<DWORD>(box.vertices.size()),
                                      box.indices.data(), 12, nullptr, 0, subsets.data(), 6, nullptr, nullptr,
                                      &hr, 0, 0, 0, nullptr, 0, 1);
        EXPECT_EQ(hr, S_OK);
        for (LMK::Material_* m : materials)
        {
            LMK::LoadedPart_* part = m;
            LRReleaseLoadedPart(&part);
        }
        return Place(model);
    }

    // A one-subset quad of the given colour, corners counter-clockwise seen from the side it faces;
    // *material (when given) is the subset's material, which the model keeps alive.
    LMK::Object_* AddQuad(const std::array<D3DXVECTOR3, 4>& corners, const std::array<float, 4>& colour,
                          LMK::Material_** material = nullptr, const D3DXMATRIX* world = nullptr)
    {
        D3DXVECTOR3 normal, u = corners[1] - corners[0], v = corners[2] - corners[0];
        D3DXVec3Cross(&normal, &u, &v);
        D3DXVec3Normalize(&normal, &normal);
        std::vector<LMK::RawVertexStruct_TYP> vertices;
        for (const D3DXVECTOR3& p : corners)
        {
            LMK::RawVertexStruct_TYP r{};
            r.position[0] = p.x;
            r.position[1] = p.y;
            r.position[2] = p.z;
            r.normal[0] = normal.x;
            r.normal[1] = normal.y;
            r.normal[2] = normal.z;
            vertices.push_back(r);
        }
        const DWORD indices[] = {0, 1, 2, 0, 2, 3};
        LMK::Material_* m = nullptr;
        EXPECT_EQ(LRCreateMaterialFromColor(colour[0], colour[1], colour[2], colour[3], &m), S_OK);
        LMK::SubsetStruct_TYP s{};
        s.faceCount = 2;
        s.material = m;
        s.sourceIndex = LMK::kNoSourceIndex;
        HRESULT hr = E_FAIL;
        auto* model = new LMK::Model_(1, vertices.data(), 4, indices, 2, nullptr, 0, &s, 1, nullptr, nullptr,
                                      &hr, 0, 0, 0, nullptr, 0, 1);
        EXPECT_EQ(hr, S_OK);
        if (material) *material = m;
        LMK::LoadedPart_* part = m;
        LRReleaseLoadedPart(&part);
        return Place(model, world);
    }

    LMK::Object_* Place(LMK::Model_* model, const D3DXMATRIX* world = nullptr)
    {
        models_.push_back(model);
        LMK::Object_* object = nullptr;
        EXPECT_EQ(LRCreateObject(model, &object, world), S_OK);
        objects_.push_back(object);
        return object;
    }

    static FaceColours Uniform(float r, float g, float b, float a = 1.0f)
    {
        FaceColours c;
        c.fill({r, g, b, a});
        return c;
    }

    LMK::RenderViewStruct_TYP Record(LMK::BackBuffer_* bb)
    {
        LMK::RenderViewStruct_TYP v{};
        v.backBuffer = bb;
        v.camera = camera_;
        v.cameraLight = 1;
        return v;
    }

    // The first frame of a new device resets it to its window and draws nothing.
    HRESULT Render(LMK::RenderViewStruct_TYP* v, std::vector<LMK::Object_*> objects)
    {
        HRESULT hr = LRRenderView(v, static_cast<DWORD>(objects.size()), objects.data(), 0, nullptr);
        if (hr == E_FAIL)
            hr = LRRenderView(v, static_cast<DWORD>(objects.size()), objects.data(), 0, nullptr);
        return hr;
    }

    // The window pixel where a world point lands.
    POINT Project(LMK::BackBuffer_* bb, D3DXVECTOR3 p)
    {
        // What the part's device drew with.
        IDirect3DDevice9* device = bb->parts.at(0)->GetD3DDevice();
        D3DXMATRIX view, projection, vp;
        device->GetTransform(D3DTS_VIEW, &view);
        device->GetTransform(D3DTS_PROJECTION, &projection);
        D3DXMatrixMultiply(&vp, &view, &projection);
        D3DXVECTOR3 ndc;
        D3DXVec3TransformCoord(&ndc, &p, &vp);
        UINT w = 0, h = 0;
        LRGetBackBufferSize(bb, &w, &h);
        return {static_cast<LONG>(std::floor((ndc.x + 1) * 0.5f * w)),
                static_cast<LONG>(std::floor((1 - ndc.y) * 0.5f * h))};
    }

    std::vector<uint32_t> Pixels(HWND w)
    {
        std::vector<uint32_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(backend_.ReadPixels(w, &pixels, &width, &height));
        for (uint32_t& p : pixels)
            p &= 0xFFFFFF;
        return pixels;
    }

    // The window's picture against tests/baselines/<name>.png, opaque so that the files view as drawn.
    ::testing::AssertionResult MatchesBaseline(const std::string& name, HWND w)
    {
        std::vector<uint32_t> pixels;
        int width = 0, height = 0;
        if (!backend_.ReadPixels(w, &pixels, &width, &height))
            return ::testing::AssertionFailure() << "no pixels";
        for (uint32_t& p : pixels)
            p |= 0xFF000000;
        return ferolt::test::MatchesBaseline(name, pixels.data(), width, height, 4 * width);
    }

    HeadlessBackend backend_;
    LMK::View_* camera_ = nullptr;
    std::vector<HWND> windows_;
    std::vector<LMK::BackBuffer_*> backBuffers_;
    std::vector<LMK::Model_*> models_;
    std::vector<LMK::Object_*> objects_;
};
} // namespace rendertest
