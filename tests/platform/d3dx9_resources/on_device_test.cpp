// D3DX meshes and textures on the software device itself: what the attribute table addresses is
// what DrawSubset draws, and loaded textures land in the device's own levels.
#include <gtest/gtest.h>

#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/d3dx9/d3dx9.h"
#include "platform/image/image.h"
#include "tests/support/d3d9_device.h"

namespace
{
class OnDevice : public ::testing::Test
{
protected:
    static constexpr UINT kSize = 16;

    void SetUp() override
    {
        ferolt::hooks::ResetD3D9Hooks();
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        D3DPRESENT_PARAMETERS pp = ferolt::test::DeviceParams(kSize, kSize, D3DFMT_UNKNOWN);
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, pp.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                     &pp, &dev_),
                  D3D_OK);
        dev_->SetRenderState(D3DRS_LIGHTING, FALSE);
        dev_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        dev_->SetRenderState(D3DRS_ZENABLE, FALSE);
    }
    void TearDown() override
    {
        if (dev_) dev_->Release();
        if (d3d_) d3d_->Release();
    }

    uint32_t Pixel(UINT x, UINT y)
    {
        IDirect3DSurface9* bb = nullptr;
        EXPECT_EQ(dev_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb), D3D_OK);
        D3DLOCKED_RECT lr;
        EXPECT_EQ(bb->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        uint32_t p = static_cast<const uint32_t*>(lr.pBits)[size_t(y) * lr.Pitch / 4 + x];
        bb->UnlockRect();
        bb->Release();
        return p;
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* dev_ = nullptr;
};

TEST_F(OnDevice, DrawSubsetDrawsExactlyTheSortedSubset)
{
    // Four vertical bands of pre-transformed quads; bands 0 and 2 carry id 7, bands 1 and 3 id 3,
    // each band in its own colour so a wrong range shows as a wrong colour.
    struct TVertex
    {
        float x, y, z, rhw;
        D3DCOLOR colour;
    };
    const D3DCOLOR colours[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
    const DWORD ids[4] = {7, 3, 7, 3};
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(8, 16, D3DXMESH_MANAGED, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, dev_, &mesh), S_OK);
    TVertex* v = nullptr;
    WORD* ix = nullptr;
    DWORD* attr = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v)), S_OK);
    ASSERT_EQ(mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&ix)), S_OK);
    ASSERT_EQ(mesh->LockAttributeBuffer(0, &attr), S_OK);
    for (int b = 0; b < 4; ++b)
    {
        const float x0 = float(b * 4), x1 = float(b * 4 + 4);
        v[b * 4 + 0] = {x0, 0, 0.5f, 1, colours[b]};
        v[b * 4 + 1] = {x1, 0, 0.5f, 1, colours[b]};
        v[b * 4 + 2] = {x1, 16, 0.5f, 1, colours[b]};
        v[b * 4 + 3] = {x0, 16, 0.5f, 1, colours[b]};
        const WORD base = WORD(b * 4);
        const WORD tri[6] = {base, WORD(base + 1), WORD(base + 2), base, WORD(base + 2), WORD(base + 3)};
        for (int i = 0; i < 6; ++i)
            ix[b * 6 + i] = tri[i];
        attr[b * 2] = attr[b * 2 + 1] = ids[b];
    }
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    ASSERT_EQ(mesh->OptimizeInplace(0x07000000, nullptr, nullptr, nullptr, nullptr), S_OK);

    struct Case
    {
        DWORD id;
        bool drawn[4];
    };
    const Case cases[] = {{3, {false, true, false, true}}, {7, {true, false, true, false}}, {5, {}}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(dev_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
        ASSERT_EQ(dev_->BeginScene(), D3D_OK);
        EXPECT_EQ(mesh->DrawSubset(c.id), S_OK);
        ASSERT_EQ(dev_->EndScene(), D3D_OK);
        for (int b = 0; b < 4; ++b)
            EXPECT_EQ(Pixel(UINT(b * 4 + 2), 8), c.drawn[b] ? colours[b] : 0xFF000000u) << "band " << b;
    }
    mesh->Release();
}

TEST_F(OnDevice, TextureLevelsComeFromTheFile)
{
    const uint32_t w = 5, h = 3;
    std::vector<uint32_t> pixels(w * h);
    for (uint32_t i = 0; i < w * h; ++i)
        pixels[i] = 0xFF000000u | (i * 0x00101010u);
    std::vector<uint8_t> bmp;
    ASSERT_EQ(ferolt::image::EncodeBmp24(pixels.data(), w, h, w, &bmp), ferolt::image::Status::Ok);
    IDirect3DTexture9* tex = nullptr;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateTextureFromFileInMemoryEx(dev_, bmp.data(), UINT(bmp.size()), 0, 0, 0, 0,
                                                  D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE,
                                                  D3DX_FILTER_BOX, 0, &info, nullptr, &tex),
              S_OK);
    EXPECT_EQ(info.Width, w);
    const std::pair<UINT, UINT> sizes[] = {{5, 3}, {2, 1}, {1, 1}};
    ASSERT_EQ(tex->GetLevelCount(), 3u);
    for (UINT i = 0; i < 3; ++i)
    {
        D3DSURFACE_DESC d;
        ASSERT_EQ(tex->GetLevelDesc(i, &d), D3D_OK);
        EXPECT_EQ(d.Width, sizes[i].first);
        EXPECT_EQ(d.Height, sizes[i].second);
    }
    D3DLOCKED_RECT lr;
    ASSERT_EQ(tex->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            EXPECT_EQ(static_cast<const uint32_t*>(lr.pBits)[y * lr.Pitch / 4 + x], pixels[y * w + x]);
    tex->UnlockRect(0);
    tex->Release();
}
} // namespace
