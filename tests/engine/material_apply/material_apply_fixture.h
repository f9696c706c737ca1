#pragma once
// A started engine whose adapter offers a chosen number of blend stages, a 2 x 2 device made on that
// adapter, device textures put behind texture pointers, and a quad that covers the target.
#include "../core/engine_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "engine/core/material.h"
#include "engine/core/material_apply.h"
#include "tests/platform/d3d9/d3d9_test_util.h"

namespace applytest
{
// Texture pointers are opaque to application: these stand for textures, looked up in the fixture.
inline std::map<LMK::Texture_*, IDirect3DBaseTexture9*> g_deviceTextures;
inline std::map<LMK::Texture_*, LMK::Texture_*> g_bumpSources;

inline LMK::Texture_* Token(int i)
{
    static char tokens[16];
    return reinterpret_cast<LMK::Texture_*>(&tokens[i]);
}

struct Rgba
{
    float r, g, b, a;
};

inline Rgba FromArgb(uint32_t c)
{
    return {((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f, (c >> 24) / 255.0f};
}

inline uint32_t ToArgb(const Rgba& c)
{
    auto b = [](float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    return (b(c.a) << 24) | (b(c.r) << 16) | (b(c.g) << 8) | b(c.b);
}

// Each channel within one step of the expected byte.
inline bool Near(uint32_t a, uint32_t b)
{
    for (int shift = 0; shift < 32; shift += 8)
    {
        const int x = (a >> shift) & 0xFF, y = (b >> shift) & 0xFF;
        if (std::abs(x - y) > 1) return false;
    }
    return true;
}

struct MaterialDeleter
{
    void operator()(LMK::Material_* m) const
    {
        // The slots hold stand-ins, never real textures.
        m->baseTexture = m->reflectionTexture = m->bumpTexture = nullptr;
        m->Release();
    }
};
using MaterialPtr = std::unique_ptr<LMK::Material_, MaterialDeleter>;

// A material whose lit colour (no lights, white ambient light) is exactly c.
inline MaterialPtr ColourMaterial(Rgba c)
{
    auto* m = new LMK::Material_(c.r, c.g, c.b, c.a, false);
    m->material.Ambient = D3DCOLORVALUE{c.r, c.g, c.b, 1.0f};
    return MaterialPtr(m);
}

class ApplyTest : public enginetest::EngineTest
{
protected:
    // Starts the engine on an adapter with `stages` blend stages and makes the 2 x 2 device on it.
    void Start(DWORD stages)
    {
        auto adapter = enginetest::SmallAdapter();
        adapter.maxTextureBlendStages = stages;
        adapter.maxSimultaneousTextures = stages;
        enginetest::UseAdapters({adapter});
        ASSERT_EQ(LRStart(nullptr), S_OK);
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS pp = d3d9test::Params(2, 2);
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, d3d9test::FakeWindow(),
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device_),
                  D3D_OK);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
        // What the pass set-up does for every part.
        device_->SetRenderState(D3DRS_ALPHAREF, 0xFE);
        device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_NOTEQUAL);
        // Textures here are tokens, not texture objects: nothing of the real texture layer is asked.
        savedAccess_ = LMK::MaterialTextureAccess;
        LMK::MaterialTextureAccess = {};
        LMK::MaterialTextureAccess.deviceTexture = [](LMK::Texture_* t, IDirect3DDevice9*)
        {
            auto it = g_deviceTextures.find(t);
            return it == g_deviceTextures.end() ? nullptr : it->second;
        };
        LMK::MaterialTextureAccess.bumpSource = [](LMK::Texture_* t) -> LMK::Texture_*
        {
            auto it = g_bumpSources.find(t);
            return it == g_bumpSources.end() ? nullptr : it->second;
        };
        context_ = {};
        context_.device = device_;
        context_.validationTable = table_;
        context_.displayMode = LMK::DisplayModeTextured;
    }

    void TearDown() override
    {
        LMK::MaterialTextureAccess = savedAccess_;
        for (auto& [token, texture] : g_deviceTextures)
            texture->Release();
        g_deviceTextures.clear();
        g_bumpSources.clear();
        if (device_) device_->Release();
        if (d3d_) d3d_->Release();
        EngineTest::TearDown();
    }

    // A device texture of 2 x 1 texels (left, right) behind token i.
    LMK::Texture_* Texture(int i, uint32_t left, uint32_t right, D3DFORMAT format = D3DFMT_A8R8G8B8)
    {
        IDirect3DTexture9* t = d3d9test::MakeTexture(
            device_, 2, 1, [&](UINT x, UINT, UINT) { return x ? right : left; }, 1, format);
        IDirect3DBaseTexture9*& slot = g_deviceTextures[Token(i)];
        if (slot) slot->Release();
        slot = t;
        return Token(i);
    }
    LMK::Texture_* Texture(int i, uint32_t texel) { return Texture(i, texel, texel); }

    // Draws a quad over the whole target, facing the camera, texture coordinates 0..1 in both sets. Pixel
    // centres lie on integer coordinates, so the quad is moved by half a pixel to put them on texel
    // centres.
    std::vector<uint32_t> Draw(uint32_t background = 0xFF000000)
    {
        struct V
        {
            float x, y, z, nx, ny, nz, u0, v0, u1, v1;
        } v[4] = {{-1.5f, 1.5f, 0.5f, 0, 0, -1, 0, 0, 0, 0},
                  {0.5f, 1.5f, 0.5f, 0, 0, -1, 1, 0, 1, 0},
                  {-1.5f, -0.5f, 0.5f, 0, 0, -1, 0, 1, 0, 1},
                  {0.5f, -0.5f, 0.5f, 0, 0, -1, 1, 1, 1, 1}};
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0);
        device_->BeginScene();
        device_->SetFVF(0x212);
        EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(V)), D3D_OK);
        device_->EndScene();
        std::vector<uint32_t> out(4);
        IDirect3DSurface9* bb = nullptr;
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
        D3DLOCKED_RECT lr;
        bb->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                std::memcpy(&out[y * 2 + x], static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
        bb->UnlockRect();
        bb->Release();
        return out;
    }

    const LMK::StageValidationStruct_TYP& Entry(DWORD code) const { return table_[code]; }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    LMK::StageValidationStruct_TYP table_[LMK::kStageValidationEntries]{};
    LMK::PartDrawContextStruct_TYP context_{};
    LMK::MaterialTextureAccessStruct_TYP savedAccess_{};
};
} // namespace applytest
