// The span loop, at four and eight lanes, against the pixel-by-pixel path: the same scene drawn with a
// stencil and an alpha test that pass everything (which the span loop does not take) must give the same
// bytes.
#include <functional>
#include <vector>

#include "platform/d3d9/raster.h"
#include "tests/platform/d3d9/d3d9_test_util.h"

using namespace d3d9test;

namespace
{
D3DMATRIX Identity()
{
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

void LinearFog(IDirect3DDevice9* d)
{
    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    d->SetRenderState(D3DRS_FOGSTART, F2DW(1.0f));
    d->SetRenderState(D3DRS_FOGEND, F2DW(6.0f));
    d->SetRenderState(D3DRS_FOGCOLOR, 0xff304050);
}

struct Variant
{
    const char* name;
    std::function<void(IDirect3DDevice9*)> state;
    D3DFORMAT depth = D3DFMT_D24S8;
};

// Random perspective triangles, textured with a mip chain, lit with a specular highlight: large ones, or
// small ones of a pixel or two that overlap each other.
std::vector<uint32_t> Render(const Variant& v, bool generalPath, bool small)
{
    Target t(72, 56, v.depth);
    IDirect3DDevice9* dev = t.Get();
    D3DMATRIX id = Identity(), proj{};
    proj._11 = proj._22 = 1.2f;
    proj._33 = 1.1f;
    proj._34 = 1;
    proj._43 = -0.5f;
    dev->SetTransform(D3DTS_WORLD, &id);
    dev->SetTransform(D3DTS_VIEW, &id);
    dev->SetTransform(D3DTS_PROJECTION, &proj);
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {1, 0.8f, 0.6f, 1};
    l.Specular = {1, 1, 1, 1};
    l.Position = {0.5f, 0.5f, 0};
    l.Range = 100;
    l.Attenuation0 = 0.5f;
    dev->SetLight(0, &l);
    dev->LightEnable(0, TRUE);
    D3DMATERIAL9 m{};
    m.Diffuse = {0.9f, 0.9f, 0.9f, 0.6f};
    m.Specular = {0.5f, 0.5f, 0.5f, 1};
    m.Power = 8;
    dev->SetMaterial(&m);
    dev->SetRenderState(D3DRS_LIGHTING, TRUE);
    IDirect3DTexture9* tex = MakeTexture(
        dev, 32, 16,
        [](UINT x, UINT y, UINT lv)
        { return ((x * 37 + y * 11) << 24) | ((x * 8) << 16) | ((y * 16) << 8) | (lv * 40); },
        0);
    dev->SetTexture(0, tex);
    dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    dev->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    v.state(dev);
    if (generalPath)
    {
        // A depth format without stencil bits has no stencil test: an alpha test that passes everything
        // keeps those draws on the general path instead.
        dev->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        dev->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
        dev->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        dev->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_ALWAYS);
    }
    struct V
    {
        float x, y, z, nx, ny, nz, u, v;
    };
    std::vector<V> verts;
    uint32_t seed = 777;
    auto rnd = [&]
    {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0f;
    };
    const int triangles = small ? 3000 : 300;
    for (int i = 0; i < triangles; ++i)
    {
        const float cx = rnd() * 4 - 2, cy = rnd() * 4 - 2, cz = 1.5f + rnd() * 4;
        for (int k = 0; k < 3; ++k)
        {
            if (small)
            {
                // Coordinates follow the position, so the levels differ from triangle to triangle.
                const float x = cx + rnd() * 0.16f - 0.08f, y = cy + rnd() * 0.16f - 0.08f;
                verts.push_back(
                    {x, y, cz + rnd() * 0.2f, rnd() - 0.5f, rnd() - 0.5f, -1, x * cz * 0.4f, y * cz * 0.3f});
            }
            else
                verts.push_back({rnd() * 4 - 2, rnd() * 4 - 2, 1.5f + rnd() * 4, rnd() - 0.5f, rnd() - 0.5f,
                                 -1, rnd() * 6 - 3, rnd() * 6 - 3});
        }
    }
    EXPECT_EQ(dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80102030, 1.0f, 0), D3D_OK);
    dev->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
    EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, triangles, verts.data(), sizeof(V)), D3D_OK);
    std::vector<uint32_t> pixels = t.Pixels();
    dev->SetTexture(0, nullptr);
    dev->SetTexture(1, nullptr);
    tex->Release();
    return pixels;
}
} // namespace

TEST(QuadLoopTest, MatchesThePixelByPixelPath)
{
    const Variant variants[] = {
        {"modulate", [](IDirect3DDevice9*) {}},
        {"blend, fog, specular",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
             d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
             d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
             LinearFog(d);
         }},
        {"fog, specular, flat, alpha modulate, no blend",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
             d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
             d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
             d->SetRenderState(D3DRS_FOGENABLE, TRUE);
             d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP);
             d->SetRenderState(D3DRS_FOGDENSITY, F2DW(0.3f));
             d->SetRenderState(D3DRS_FOGCOLOR, 0xff506070);
         }},
        {"diffuse times texture, diffuse alpha",
         [](IDirect3DDevice9* d)
         {
             d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
             d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TEXTURE);
             d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
         }},
        {"clamp, point filter, flat, write mask, alpha modulate",
         [](IDirect3DDevice9* d)
         {
             d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
             d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
             d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
             d->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
             d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_ALPHA);
             d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
         }},
        {"two stages, factor, additive blend, z not equal",
         [](IDirect3DDevice9* d)
         {
             d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
             d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
             d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
             d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
             d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
             d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
             d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x60402010);
             d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR);
             d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
             d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_SRCALPHASAT);
             d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_INVDESTALPHA);
             d->SetRenderState(D3DRS_ZFUNC, D3DCMP_NOTEQUAL);
         }},
        {"no depth buffer, clamp v, blend",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
             d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
             d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
             d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
             d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
         }},
        {"two textured stages, fog, specular: one-lane and two-lane planes share a slot",
         [](IDirect3DDevice9* d)
         {
             IDirect3DBaseTexture9* t = nullptr;
             d->GetTexture(0, &t);
             d->SetTexture(1, t);
             t->Release();
             d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
             d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
             d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
             d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
             d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
             d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
             LinearFog(d);
         }},
        {"no active stage: the lit material colour alone",
         [](IDirect3DDevice9* d) { d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE); }},
        {"no active stage, specular, fog, additive blend",
         [](IDirect3DDevice9* d)
         {
             d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
             d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
             LinearFog(d);
             d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
             d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
         }},
        {"vertex fog with a NaN density: every path clamps the factor to 0",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_FOGENABLE, TRUE);
             d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP);
             d->SetRenderState(D3DRS_FOGDENSITY, 0x7fc00000u);
             d->SetRenderState(D3DRS_FOGCOLOR, 0xff304050);
         }},
        {"point-sampled texture times factor added onto the target, no depth test",
         [](IDirect3DDevice9* d)
         {
             d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
             d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
             d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
             d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
             d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
             d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
             d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x00a0a0a0);
             d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
             d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
             d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
             d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
         }},
        {"32-bit depth: values from 2^31 up", [](IDirect3DDevice9*) {}, D3DFMT_D32},
        {"coordinates far outside the texture",
         [](IDirect3DDevice9* d)
         {
             D3DMATRIX scale = Identity();
             scale._11 = scale._22 = 3.0e9f;
             d->SetTransform(D3DTS_TEXTURE0, &scale);
             d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
         }},
    };
    // The four-wide loop, and the eight-wide one where the processor has it; large triangles, and small
    // ones whose pixels the eight-wide loop gathers from several triangles into one step.
    const bool wide[] = {false, true};
    for (const Variant& v : variants)
        for (bool small : {false, true})
        {
            const std::vector<uint32_t> general = Render(v, true, small);
            for (bool eight : wide)
            {
                ferolt::d3d9::SetPixelAvx2Allowed(eight);
                const std::vector<uint32_t> fast = Render(v, false, small);
                ferolt::d3d9::SetPixelAvx2Allowed(true);
                ASSERT_EQ(fast.size(), general.size());
                size_t differ = 0, drawn = 0;
                for (size_t i = 0; i < fast.size(); ++i)
                {
                    differ += fast[i] != general[i];
                    drawn += fast[i] != 0x80102030u;
                }
                EXPECT_EQ(differ, 0u) << v.name << (eight ? ", eight-wide" : ", four-wide")
                                      << (small ? ", small triangles" : "");
                EXPECT_GT(drawn, fast.size() / (small ? 8 : 4)) << v.name;
            }
        }
}
