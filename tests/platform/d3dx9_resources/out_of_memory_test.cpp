// Memory running out inside the D3DX texture and mesh calls on the software device: every allocation
// of each call is made to fail in turn. Each run answers success or E_OUTOFMEMORY, never throws, and
// leaves every object with the references it had (the sanitizer build's leak checker watches the rest).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/d3dx9/d3dx9.h"
#include "platform/image/image.h"
#include "tests/support/failing_allocation.h"

namespace
{
thread_local long t_count = 0;
thread_local long t_failAt = -1;

bool FailAtCount(size_t)
{
    return t_count++ == t_failAt;
}

class OutOfMemory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ferolt::hooks::ResetD3D9Hooks();
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = pp.BackBufferHeight = 8;
        pp.BackBufferFormat = D3DFMT_A8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
        pp.Windowed = TRUE;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, pp.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                     &pp, &dev_),
                  D3D_OK);
    }
    void TearDown() override
    {
        if (dev_)
        {
            EXPECT_EQ(dev_->Release(), 0u) << "a device reference was kept";
        }
        if (d3d_) d3d_->Release();
    }

    IDirect3DTexture9* Texture(UINT edge, UINT levels)
    {
        IDirect3DTexture9* tex = nullptr;
        EXPECT_EQ(dev_->CreateTexture(edge, edge, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr),
                  D3D_OK);
        return tex;
    }

    // Runs call with each of its allocations failing in turn until one run needs no failure.
    static void EachAllocationFails(const std::function<HRESULT()>& call)
    {
        for (long failAt = 0;; ++failAt)
        {
            SCOPED_TRACE(failAt);
            t_count = 0;
            t_failAt = failAt;
            ferolt::test::SetAllocationVeto(FailAtCount);
            const HRESULT hr = call();
            ferolt::test::SetAllocationVeto(nullptr);
            if (t_count <= failAt)
            {
                EXPECT_EQ(hr, S_OK);
                return;
            }
            EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY || hr == D3DERR_OUTOFVIDEOMEMORY) << std::hex << hr;
        }
    }

    IDirect3D9* d3d_ = nullptr;
    IDirect3DDevice9* dev_ = nullptr;
};

TEST_F(OutOfMemory, TextureFromFileReleasesWhatItMade)
{
    std::vector<uint32_t> pixels(8 * 8, 0xFF336699u);
    std::vector<uint8_t> bmp;
    ASSERT_EQ(ferolt::image::EncodeBmp24(pixels.data(), 8, 8, 8, &bmp), ferolt::image::Status::Ok);
    EachAllocationFails(
        [&]
        {
            IDirect3DTexture9* tex = nullptr;
            const HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(
                dev_, bmp.data(), UINT(bmp.size()), D3DX_DEFAULT, D3DX_DEFAULT, 0, 0, D3DFMT_A8R8G8B8,
                D3DPOOL_MANAGED, D3DX_FILTER_BOX, D3DX_FILTER_BOX, 0, nullptr, nullptr, &tex);
            EXPECT_EQ(tex != nullptr, hr == S_OK);
            if (tex)
            {
                EXPECT_EQ(tex->Release(), 0u);
            }
            return hr;
        });
}

TEST_F(OutOfMemory, FilteringAndCopyingKeepEveryReference)
{
    IDirect3DTexture9* tex = Texture(8, 4);
    IDirect3DTexture9* other = Texture(4, 1);
    IDirect3DSurface9 *top = nullptr, *small = nullptr;
    ASSERT_EQ(tex->GetSurfaceLevel(0, &top), D3D_OK);
    ASSERT_EQ(other->GetSurfaceLevel(0, &small), D3D_OK);
    EachAllocationFails([&] { return D3DXFilterTexture(tex, nullptr, 0, D3DX_FILTER_BOX); });
    EachAllocationFails(
        [&] {
            return D3DXLoadSurfaceFromSurface(small, nullptr, nullptr, top, nullptr, nullptr, D3DX_FILTER_BOX,
                                              0);
        });
    top->Release();
    small->Release();
    EXPECT_EQ(tex->Release(), 0u);
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(OutOfMemory, CleaningAMeshLeavesNoHalfMadeCopy)
{
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(2, 4, D3DXMESH_MANAGED, D3DFVF_XYZ, dev_, &mesh), D3D_OK);
    // Two triangles back to back on the same three corners, and a fourth vertex on its own.
    const float positions[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5};
    const WORD indices[] = {0, 1, 2, 0, 2, 1};
    void* p = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(0, &p), D3D_OK);
    std::memcpy(p, positions, sizeof(positions));
    mesh->UnlockVertexBuffer();
    ASSERT_EQ(mesh->LockIndexBuffer(0, &p), D3D_OK);
    std::memcpy(p, indices, sizeof(indices));
    mesh->UnlockIndexBuffer();
    EachAllocationFails(
        [&]
        {
            ID3DXMesh* cleaned = nullptr;
            const HRESULT hr =
                D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, nullptr, &cleaned, nullptr, nullptr);
            EXPECT_EQ(cleaned != nullptr, hr == S_OK);
            if (cleaned)
            {
                EXPECT_EQ(cleaned->Release(), 0u);
            }
            dev_->AddRef();
            EXPECT_EQ(dev_->Release(), 2u) << "the mesh and the test hold the device";
            return hr;
        });
    EXPECT_EQ(mesh->Release(), 0u);
}
} // namespace
