// Adapters, device creation and reset, device loss, state defaults, resources and Clear.
#include "tests/platform/d3d9/d3d9_test_util.h"
#include "tests/platform/expect_refused.h"

#include <functional>
#include <tuple>

#include "platform/win32/winbase.h"

using namespace d3d9test;
using ferolt::hooks::D3D9Adapter;

namespace
{
class D3D9Hooks : public ::testing::Test
{
protected:
    void SetUp() override { ferolt::hooks::ResetD3D9Hooks(); }
    void TearDown() override { ferolt::hooks::ResetD3D9Hooks(); }
};

using AdapterTest = D3D9Hooks;

TEST_F(AdapterTest, DefaultAdapterReportsDocumentedCaps)
{
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    EXPECT_EQ(d3d->GetAdapterCount(), 1u);
    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), D3D_OK);
    EXPECT_EQ(caps.MaxTextureWidth, 4096u);
    EXPECT_EQ(caps.MaxTextureHeight, 4096u);
    EXPECT_EQ(caps.MaxTextureBlendStages, 8u);
    EXPECT_EQ(caps.MaxSimultaneousTextures, 8u);
    EXPECT_EQ(caps.MaxActiveLights, 8u);
    EXPECT_EQ(caps.MaxUserClipPlanes, 6u);
    EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    D3DDISPLAYMODE mode;
    ASSERT_EQ(d3d->GetAdapterDisplayMode(0, &mode), D3D_OK);
    EXPECT_EQ(mode.Width, 1920u);
    EXPECT_EQ(mode.Height, 1080u);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_NE(d3d->GetAdapterMonitor(0), nullptr);
    EXPECT_EQ(d3d->GetAdapterMonitor(1), nullptr);
    d3d->Release();
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
}

TEST_F(AdapterTest, InvalidArgumentsAreRefused)
{
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 0, &mode), D3D_OK);
    EXPECT_EQ(mode.Width, 1920u);
    D3DCAPS9 caps;
    D3DPRESENT_PARAMETERS pp = Params(16, 16);
    IDirect3DDevice9* dev = nullptr;
    // Each case breaks exactly one rule, so the id names the rule that refused it.
    struct Case
    {
        const char* rule;
        std::function<HRESULT()> call;
    };
    const Case cases[] = {
        {"Direct3D9.GetDeviceCaps.NoAdapter", [&] { return d3d->GetDeviceCaps(1, D3DDEVTYPE_HAL, &caps); }},
        {"Direct3D9.GetDeviceCaps.NullPointer",
         [&] { return d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, nullptr); }},
        {"Direct3D9.EnumAdapterModes.NoAdapter",
         [&] { return d3d->EnumAdapterModes(1, D3DFMT_X8R8G8B8, 0, &mode); }},
        {"Direct3D9.EnumAdapterModes.NullPointer",
         [&] { return d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 0, nullptr); }},
        {"Direct3D9.EnumAdapterModes.FormatMismatch",
         [&] { return d3d->EnumAdapterModes(0, D3DFMT_R5G6B5, 0, &mode); }},
        {"Direct3D9.EnumAdapterModes.ModeOutOfRange",
         [&] { return d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, 1, &mode); }},
        {"Direct3D9.CreateDevice.NullPointer",
         [&] { return d3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), 0, &pp, nullptr); }},
        {"Direct3D9.CreateDevice.NoAdapter",
         [&] { return d3d->CreateDevice(1, D3DDEVTYPE_HAL, FakeWindow(), 0, &pp, &dev); }},
        {"Direct3D9.CreateDevice.NullPointer",
         [&] { return d3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), 0, nullptr, &dev); }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.rule);
        EXPECT_REFUSED(c.call(), c.rule);
    }
    EXPECT_EQ(dev, nullptr);
    d3d->Release();
}

TEST_F(AdapterTest, ModuleExportsDirect3DCreate9)
{
    HMODULE module = LoadLibraryA("D3D9.DLL");
    ASSERT_NE(module, nullptr);
    auto create = reinterpret_cast<IDirect3D9* (*)(UINT)>(GetProcAddress(module, "Direct3DCreate9"));
    ASSERT_NE(create, nullptr);
    IDirect3D9* d3d = create(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    d3d->Release();
    FreeLibrary(module);
}

TEST_F(AdapterTest, FormatChecks)
{
    struct Case
    {
        DWORD usage;
        D3DRESOURCETYPE type;
        D3DFORMAT format;
        HRESULT expected;
    };
    const Case cases[] = {
        {D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8, D3D_OK},
        {D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16, D3D_OK},
        {D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8, D3DERR_NOTAVAILABLE},
        {D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8, D3D_OK},
        {D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_V8U8, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_TEXTURE, D3DFMT_V8U8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_L6V5U5, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_X8L8V8U8, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_R5G6B5, D3D_OK},
        {0, D3DRTYPE_TEXTURE, D3DFMT_DXT1, D3DERR_NOTAVAILABLE},
        {0, D3DRTYPE_INDEXBUFFER, D3DFMT_INDEX32, D3D_OK},
    };
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    for (const Case& c : cases)
        EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, c.usage, c.type, c.format),
                  c.expected)
            << "format " << c.format << " usage " << c.usage;
    d3d->Release();
}

TEST_F(AdapterTest, ConfiguredAdaptersChangeWhatIsReported)
{
    D3D9Adapter a;
    D3D9Adapter b;
    b.vendorId = 0x10DE;
    b.monitorRect = {1920, 0, 3200, 1024};
    b.depthFormats = {D3DFMT_D16};
    b.multiSampleTypes = {D3DMULTISAMPLE_2_SAMPLES};
    b.maxTextureBlendStages = 2;
    b.hwTransformAndLight = false;
    b.deviceTypes = {D3DDEVTYPE_REF};
    ferolt::hooks::SetD3D9Adapters({a, b});
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_EQ(d3d->GetAdapterCount(), 2u);
    D3DADAPTER_IDENTIFIER9 id;
    ASSERT_EQ(d3d->GetAdapterIdentifier(1, 0, &id), D3D_OK);
    EXPECT_EQ(id.VendorId, 0x10DEu);
    EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE), D3D_OK);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(1, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D24S8),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDepthStencilMatch(1, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_D16),
              D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(1, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, TRUE,
                                              D3DMULTISAMPLE_4_SAMPLES, nullptr),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(1, D3DDEVTYPE_REF, D3DFMT_X8R8G8B8, TRUE,
                                              D3DMULTISAMPLE_2_SAMPLES, nullptr),
              D3D_OK);
    D3DCAPS9 caps;
    ASSERT_EQ(d3d->GetDeviceCaps(1, D3DDEVTYPE_REF, &caps), D3D_OK);
    EXPECT_EQ(caps.MaxTextureBlendStages, 2u);
    EXPECT_FALSE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
    D3DDISPLAYMODE mode;
    d3d->GetAdapterDisplayMode(1, &mode);
    EXPECT_EQ(mode.Width, 1280u);
    EXPECT_EQ(mode.Height, 1024u);
    d3d->Release();
}

TEST_F(AdapterTest, CreationFailsAtConfiguredSizesOnly)
{
    D3D9Adapter a;
    a.failingBackBufferSizes = {{1920, 1080}, {1280, 1024}};
    ferolt::hooks::SetD3D9Adapters({a});
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    struct Case
    {
        UINT w, h;
        HRESULT expected;
    };
    for (const Case& c : {Case{1920, 1080, D3DERR_NOTAVAILABLE}, Case{1280, 1024, D3DERR_NOTAVAILABLE},
                          Case{1024, 768, D3D_OK}})
    {
        D3DPRESENT_PARAMETERS pp = Params(c.w, c.h);
        IDirect3DDevice9* dev = nullptr;
        EXPECT_EQ(
            d3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &dev),
            c.expected);
        EXPECT_EQ(dev != nullptr, c.expected == D3D_OK);
        if (dev) dev->Release();
    }
    d3d->Release();
}

TEST(DeviceStateTest, DefaultsAreTheDocumentedOnes)
{
    Target t;
    // The fixture changes LIGHTING and CULLMODE; a fresh Reset brings the defaults back.
    D3DPRESENT_PARAMETERS pp = Params(16, 16);
    ASSERT_EQ(t->Reset(&pp), D3D_OK);
    struct Case
    {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const Case renderStates[] = {
        {D3DRS_ZENABLE, D3DZB_TRUE},
        {D3DRS_FILLMODE, D3DFILL_SOLID},
        {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
        {D3DRS_ZWRITEENABLE, TRUE},
        {D3DRS_SRCBLEND, D3DBLEND_ONE},
        {D3DRS_DESTBLEND, D3DBLEND_ZERO},
        {D3DRS_CULLMODE, D3DCULL_CCW},
        {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
        {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
        {D3DRS_FOGEND, F2DW(1.0f)},
        {D3DRS_STENCILMASK, 0xffffffffu},
        {D3DRS_TEXTUREFACTOR, 0xffffffffu},
        {D3DRS_LIGHTING, TRUE},
        {D3DRS_COLORVERTEX, TRUE},
        {D3DRS_LOCALVIEWER, TRUE},
        {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
        {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
        {D3DRS_COLORWRITEENABLE, 0xf},
        {D3DRS_BLENDOP, D3DBLENDOP_ADD},
        {D3DRS_CLIPPING, TRUE},
    };
    for (const Case& c : renderStates)
    {
        DWORD v = 0xdeadbeef;
        ASSERT_EQ(t->GetRenderState(c.state, &v), D3D_OK);
        EXPECT_EQ(v, c.value) << "render state " << c.state;
    }
    struct StageCase
    {
        DWORD stage;
        D3DTEXTURESTAGESTATETYPE type;
        DWORD value;
    };
    const StageCase stageStates[] = {
        {0, D3DTSS_COLOROP, D3DTOP_MODULATE},   {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
        {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1}, {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
        {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},   {0, D3DTSS_COLORARG2, D3DTA_CURRENT},
        {3, D3DTSS_TEXCOORDINDEX, 3},           {0, D3DTSS_RESULTARG, D3DTA_CURRENT},
    };
    for (const StageCase& c : stageStates)
    {
        DWORD v = 0xdeadbeef;
        ASSERT_EQ(t->GetTextureStageState(c.stage, c.type, &v), D3D_OK);
        EXPECT_EQ(v, c.value) << "stage " << c.stage << " state " << c.type;
    }
    DWORD v;
    EXPECT_EQ(t->GetSamplerState(0, D3DSAMP_ADDRESSU, &v), D3D_OK);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_EQ(t->GetSamplerState(0, D3DSAMP_MAGFILTER, &v), D3D_OK);
    EXPECT_EQ(v, static_cast<DWORD>(D3DTEXF_POINT));
    D3DVIEWPORT9 vp;
    t->GetViewport(&vp);
    EXPECT_EQ(vp.Width, 16u);
    EXPECT_EQ(vp.MaxZ, 1.0f);
    BOOL enabled;
    EXPECT_REFUSED(t->GetLightEnable(0, &enabled), "Device.GetLightEnable.NoSuchLight");
    ASSERT_EQ(t->LightEnable(3, TRUE), D3D_OK);
    D3DLIGHT9 light;
    ASSERT_EQ(t->GetLight(3, &light), D3D_OK);
    EXPECT_EQ(light.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(light.Direction.z, 1.0f);
}

// Draws a triangle with the vertex format, then puts the device's format back to none.
HRESULT DrawWithFvf(IDirect3DDevice9* d, DWORD fvf)
{
    d->SetFVF(fvf);
    const HRESULT hr = d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1);
    d->SetFVF(0);
    return hr;
}

TEST(DeviceStateTest, InvalidArgumentsAreRefused)
{
    Target t;
    const D3DMATRIX matrix{};
    const D3DVIEWPORT9 pastTarget = {8, 8, 16, 16, 0, 1};
    D3DLIGHT9 unknownType{};
    unknownType.Type = static_cast<D3DLIGHTTYPE>(9);
    const float plane[4] = {1, 0, 0, 0};
    const TVertex triangle[3] = {};
    const WORD indices[3] = {0, 1, 2};
    // Each case breaks exactly one rule, so the id names the rule that refused it.
    struct Case
    {
        const char* rule;
        std::function<HRESULT(IDirect3DDevice9*)> call;
    };
    const Case cases[] = {
        {"Device.SetTextureStageState.StageOutOfRange",
         [](IDirect3DDevice9* d) { return d->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_ADD); }},
        {"Device.SetSamplerState.SamplerOutOfRange",
         [](IDirect3DDevice9* d) { return d->SetSamplerState(16, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP); }},
        {"Device.SetRenderState.BadState",
         [](IDirect3DDevice9* d) { return d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(300), 1); }},
        {"Device.SetTransform.BadState", [&](IDirect3DDevice9* d)
         { return d->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(5), &matrix); }},
        {"Device.SetTransform.NullPointer",
         [](IDirect3DDevice9* d) { return d->SetTransform(D3DTS_VIEW, nullptr); }},
        {"Device.SetViewport.OutsideTarget",
         [&](IDirect3DDevice9* d) { return d->SetViewport(&pastTarget); }},
        {"Device.SetLight.BadType", [&](IDirect3DDevice9* d) { return d->SetLight(0, &unknownType); }},
        {"Device.SetClipPlane.IndexOutOfRange",
         [&](IDirect3DDevice9* d) { return d->SetClipPlane(6, plane); }},
        // A draw's vertices must have a position, in a format the device reads, from a bound stream.
        {"Device.Draw.NoPosition",
         [](IDirect3DDevice9* d) { return d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1); }},
        {"Device.Draw.BadVertexFormat",
         [](IDirect3DDevice9* d) { return DrawWithFvf(d, D3DFVF_XYZW | D3DFVF_XYZRHW); }},
        {"Device.Draw.NoPositionStream", [](IDirect3DDevice9* d) { return DrawWithFvf(d, D3DFVF_XYZ); }},
        {"Device.DrawPrimitive.BadType",
         [](IDirect3DDevice9* d) { return d->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(7), 0, 1); }},
        {"Device.DrawPrimitive.CountOutOfRange",
         [](IDirect3DDevice9* d) { return d->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 0); }},
        {"Device.DrawIndexedPrimitive.BadType", [](IDirect3DDevice9* d)
         { return d->DrawIndexedPrimitive(static_cast<D3DPRIMITIVETYPE>(0), 0, 0, 3, 0, 1); }},
        {"Device.DrawIndexedPrimitive.CountOutOfRange",
         [](IDirect3DDevice9* d) { return d->DrawIndexedPrimitive(D3DPT_LINELIST, 0, 0, 3, 0, 0x40000000); }},
        {"Device.DrawPrimitiveUP.BadType", [&](IDirect3DDevice9* d)
         { return d->DrawPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(7), 1, triangle, 12); }},
        {"Device.DrawPrimitiveUP.CountOutOfRange",
         [&](IDirect3DDevice9* d) { return d->DrawPrimitiveUP(D3DPT_POINTLIST, 0, triangle, 12); }},
        {"Device.DrawIndexedPrimitiveUP.BadType",
         [&](IDirect3DDevice9* d)
         {
             return d->DrawIndexedPrimitiveUP(static_cast<D3DPRIMITIVETYPE>(7), 0, 3, 1, indices,
                                              D3DFMT_INDEX16, triangle, 12);
         }},
        {"Device.DrawIndexedPrimitiveUP.CountOutOfRange",
         [&](IDirect3DDevice9* d) {
             return d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 0, indices, D3DFMT_INDEX16, triangle,
                                              12);
         }},
        {"Device.DrawIndexedPrimitive.NoIndexBuffer",
         [](IDirect3DDevice9* d) { return d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1); }},
        {"Device.DrawPrimitiveUP.ZeroStride",
         [&](IDirect3DDevice9* d) { return d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, triangle, 0); }},
        {"Device.Clear.NullRects",
         [](IDirect3DDevice9* d) { return d->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1, 0); }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.rule);
        EXPECT_REFUSED(c.call(t.Get()), c.rule);
    }
}

TEST(ResourceTest, TexturesHaveTheirLevelsAndLock)
{
    Target t;
    struct Case
    {
        UINT w, h, levels;
        DWORD usage;
        D3DFORMAT format;
        D3DPOOL pool;
        const char* refusal; // nullptr when the texture is made
        UINT expectedLevels;
    };
    const Case cases[] = {
        {64, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr, 7},
        {64, 16, 3, 0, D3DFMT_R5G6B5, D3DPOOL_SYSTEMMEM, nullptr, 3},
        {32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, nullptr, 1},
        {32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
         "Texture.Create.RenderTargetNotDefaultPool", 0},
        {32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A4R4G4B4, D3DPOOL_DEFAULT,
         "Texture.Create.NotRenderTargetFormat", 0},
        {8, 8, 1, 0, D3DFMT_V8U8, D3DPOOL_MANAGED, nullptr, 1},
        {8, 8, 1, 0, D3DFMT_D24S8, D3DPOOL_MANAGED, "Texture.Create.NotTextureFormat", 0},
        {8, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, "Texture.Create.NotTextureFormat", 0},
        {8, 8, 1, D3DUSAGE_DEPTHSTENCIL, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, "Texture.Create.DepthStencilUsage",
         0},
        {8, 8, 1, 0, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(D3DPOOL_SCRATCH + 1), "Texture.Create.BadPool", 0},
        {8192, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, "Device.CreateTexture.TooLarge", 0},
        {0, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, "Texture.Create.ZeroSize", 0},
        {8, 0, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, "Texture.Create.ZeroSize", 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " format " << c.format);
        IDirect3DTexture9* tex = nullptr;
        if (c.refusal)
        {
            EXPECT_REFUSED(t->CreateTexture(c.w, c.h, c.levels, c.usage, c.format, c.pool, &tex, nullptr),
                           c.refusal);
            continue;
        }
        ASSERT_EQ(t->CreateTexture(c.w, c.h, c.levels, c.usage, c.format, c.pool, &tex, nullptr), D3D_OK);
        ASSERT_EQ(tex->GetLevelCount(), c.expectedLevels);
        D3DSURFACE_DESC d;
        ASSERT_EQ(tex->GetLevelDesc(c.expectedLevels - 1, &d), D3D_OK);
        EXPECT_EQ(d.Width, std::max(1u, c.w >> (c.expectedLevels - 1)));
        EXPECT_EQ(d.Format, c.format);
        EXPECT_REFUSED(tex->GetLevelDesc(c.expectedLevels, &d), "Texture.GetLevelDesc.OutOfRange");
        D3DLOCKED_RECT lr;
        RECT outside = {0, 0, static_cast<LONG>(c.w) + 1, 1};
        EXPECT_REFUSED(tex->LockRect(0, &lr, &outside, 0), "Surface.LockRect.RectOutside");
        ASSERT_EQ(tex->LockRect(0, &lr, nullptr, 0), D3D_OK);
        EXPECT_REFUSED(tex->LockRect(0, &lr, nullptr, 0), "Surface.LockRect.Locked");
        EXPECT_EQ(tex->UnlockRect(0), D3D_OK);
        EXPECT_REFUSED(tex->UnlockRect(0), "Surface.UnlockRect.NotLocked");
        // Surface levels share the texture's reference count.
        IDirect3DSurface9* level = nullptr;
        ASSERT_EQ(tex->GetSurfaceLevel(0, &level), D3D_OK);
        IDirect3DTexture9* container = nullptr;
        ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
        EXPECT_EQ(container, tex);
        container->Release();
        level->Release();
        EXPECT_EQ(tex->Release(), 0u);
    }
}

TEST(ResourceTest, CubeFacesAndBuffers)
{
    Target t;
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(t->CreateCubeTexture(16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    EXPECT_EQ(cube->GetLevelCount(), 5u);
    IDirect3DSurface9* face = nullptr;
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Z, 4, &face), D3D_OK);
    D3DSURFACE_DESC d;
    face->GetDesc(&d);
    EXPECT_EQ(d.Width, 1u);
    face->Release();
    EXPECT_REFUSED(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(6), 0, &face),
                   "CubeTexture.GetCubeMapSurface.NoSuchFace");
    cube->Release();

    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(t->CreateVertexBuffer(96, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    void* p = nullptr;
    EXPECT_REFUSED(vb->Lock(90, 8, &p, 0), "Buffer.Lock.RangePastEnd");
    ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    D3DVERTEXBUFFER_DESC vd;
    vb->GetDesc(&vd);
    EXPECT_EQ(vd.Size, 96u);
    EXPECT_EQ(vd.FVF, D3DFVF_XYZ);
    vb->Release();
    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_REFUSED(t->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &ib, nullptr),
                   "Device.CreateIndexBuffer.BadFormat");
    ASSERT_EQ(t->CreateIndexBuffer(12, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    D3DINDEXBUFFER_DESC id;
    ib->GetDesc(&id);
    EXPECT_EQ(id.Format, D3DFMT_INDEX32);
    ib->Release();
}

TEST(ResourceTest, EveryObjectAnswersItsOwnInterfacesOnly)
{
    Target t;
    IDirect3DTexture9* tex = nullptr;
    IDirect3DCubeTexture9* cube = nullptr;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(t->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), D3D_OK);
    ASSERT_EQ(t->CreateCubeTexture(4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    ASSERT_EQ(t->CreateVertexBuffer(16, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    ASSERT_EQ(t->CreateIndexBuffer(16, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
    ASSERT_EQ(tex->GetSurfaceLevel(0, &level), D3D_OK);
    IDirect3D9* d3d = nullptr;
    ASSERT_EQ(t->GetDirect3D(&d3d), D3D_OK);

    struct Case
    {
        IUnknown* object;
        IID iid;
        bool answers;
    };
    const Case cases[] = {
        {d3d, IID_IDirect3D9, true},
        {d3d, IID_IDirect3DDevice9, false},
        {t.Get(), IID_IDirect3DDevice9, true},
        {t.Get(), IID_IDirect3DResource9, false},
        {tex, IID_IDirect3DTexture9, true},
        {tex, IID_IDirect3DBaseTexture9, true},
        {tex, IID_IDirect3DResource9, true},
        {tex, IID_IDirect3DCubeTexture9, false},
        {cube, IID_IDirect3DCubeTexture9, true},
        {cube, IID_IDirect3DBaseTexture9, true},
        {cube, IID_IDirect3DTexture9, false},
        {vb, IID_IDirect3DVertexBuffer9, true},
        {vb, IID_IDirect3DIndexBuffer9, false},
        {ib, IID_IDirect3DIndexBuffer9, true},
        {ib, IID_IDirect3DResource9, true},
        {level, IID_IDirect3DSurface9, true},
        {level, IID_IDirect3DTexture9, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(&c - cases);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.object->QueryInterface(c.iid, &out), c.answers ? S_OK : E_NOINTERFACE);
        EXPECT_EQ(out, c.answers ? static_cast<void*>(c.object) : nullptr);
        if (c.answers) static_cast<IUnknown*>(out)->Release();
        void* unknown = nullptr;
        ASSERT_EQ(c.object->QueryInterface(IID_IUnknown, &unknown), S_OK);
        static_cast<IUnknown*>(unknown)->Release();
        EXPECT_EQ(c.object->QueryInterface(c.iid, nullptr), E_POINTER);
    }

    // A level counts its references on its texture: the texture lives while the level is held.
    EXPECT_EQ(tex->Release(), 1u);
    EXPECT_EQ(level->AddRef(), 2u);
    EXPECT_EQ(level->Release(), 1u);
    EXPECT_EQ(level->Release(), 0u);
    EXPECT_EQ(cube->Release(), 0u);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(ib->Release(), 0u);
    d3d->Release();
}

TEST(ClearTest, ClearStaysInsideTheViewportAndRects)
{
    struct Case
    {
        D3DVIEWPORT9 viewport;
        std::vector<D3DRECT> rects;
        int expected;
    };
    const Case cases[] = {
        {{0, 0, 16, 16, 0, 1}, {}, 256},
        {{4, 4, 8, 8, 0, 1}, {}, 64},
        {{4, 4, 8, 8, 0, 1}, {{0, 0, 6, 6}}, 4},
        {{0, 0, 16, 16, 0, 1}, {{2, 2, 4, 4}, {10, 10, 30, 30}}, 4 + 36},
    };
    for (const Case& c : cases)
    {
        Target t;
        t.Clear(0xff000000);
        ASSERT_EQ(t->SetViewport(&c.viewport), D3D_OK);
        ASSERT_EQ(t->Clear(static_cast<DWORD>(c.rects.size()), c.rects.empty() ? nullptr : c.rects.data(),
                           D3DCLEAR_TARGET, 0xffff0000, 1, 0),
                  D3D_OK);
        EXPECT_EQ(t.Count(0xffff0000), c.expected);
    }
}

TEST(DeviceLossTest, LostDeviceRendersNothingUntilReset)
{
    Target t;
    t.Clear(0xff000000);
    ferolt::hooks::SetD3D9DeviceState(t.Get(), D3DERR_DEVICELOST);
    EXPECT_EQ(static_cast<DWORD>(t->TestCooperativeLevel()), 0x88760868u);
    t.Rect(0, 0, 16, 16, 0xffffffff);
    EXPECT_EQ(t->Clear(0, nullptr, D3DCLEAR_TARGET, 0xff00ff00, 1, 0), D3D_OK);
    EXPECT_EQ(t->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    D3DPRESENT_PARAMETERS pp = Params(16, 16);
    EXPECT_EQ(t->Reset(&pp), D3DERR_DEVICELOST);
    ferolt::hooks::SetD3D9DeviceState(t.Get(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(static_cast<DWORD>(t->TestCooperativeLevel()), 0x88760869u);
    EXPECT_EQ(t.Count(0xff000000), 256);
    ASSERT_EQ(t->Reset(&pp), D3D_OK);
    EXPECT_EQ(t->TestCooperativeLevel(), D3D_OK);
    t->SetRenderState(D3DRS_LIGHTING, FALSE);
    t.Clear(0xff000000);
    t.Rect(0, 0, 16, 16, 0xffffffff);
    EXPECT_EQ(t.Count(0xffffffff), 256);
}

TEST(DeviceLossTest, ManagedTexturesSurviveResetDefaultOnesBlockIt)
{
    Target t;
    IDirect3DTexture9* managed =
        MakeTexture(t.Get(), 4, 4, [](UINT x, UINT y, UINT) { return 0xff000000u + x * 16 + y; });
    IDirect3DTexture9* rt = nullptr;
    ASSERT_EQ(
        t->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &rt, nullptr),
        D3D_OK);
    D3DPRESENT_PARAMETERS pp = Params(32, 24);
    EXPECT_REFUSED(t->Reset(&pp), "Device.Reset.DefaultPoolResourcesAlive");
    rt->Release();
    ASSERT_EQ(t->Reset(&pp), D3D_OK);
    IDirect3DSurface9* bb = nullptr;
    t->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &bb);
    D3DSURFACE_DESC d;
    bb->GetDesc(&d);
    EXPECT_EQ(d.Width, 32u);
    EXPECT_EQ(d.Height, 24u);
    bb->Release();
    D3DLOCKED_RECT lr;
    ASSERT_EQ(managed->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t texel;
    std::memcpy(&texel, static_cast<uint8_t*>(lr.pBits) + 2 * lr.Pitch + 3 * 4, 4);
    EXPECT_EQ(texel, 0xff000000u + 3 * 16 + 2);
    managed->UnlockRect(0);
    managed->Release();
}

TEST(DeviceLossTest, FailedResetLeavesTheDeviceResettable)
{
    D3D9Adapter a;
    a.failingBackBufferSizes = {{640, 480}};
    ferolt::hooks::SetD3D9Adapters({a});
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp = Params(16, 16);
    IDirect3DDevice9* dev = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &dev),
              D3D_OK);
    D3DPRESENT_PARAMETERS big = Params(640, 480);
    EXPECT_EQ(dev->Reset(&big), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(dev->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS smaller = Params(320, 240);
    EXPECT_EQ(dev->Reset(&smaller), D3D_OK);
    EXPECT_EQ(dev->TestCooperativeLevel(), D3D_OK);
    dev->Release();
    d3d->Release();
    ferolt::hooks::ResetD3D9Hooks();
}
} // namespace

namespace
{
TEST(DeviceHookTest, RenderTargetTexturesFailAtTheListedSizesOnly)
{
    D3D9Adapter a;
    a.failingRenderTargetTextureSizes = {{64, 64}};
    ferolt::hooks::SetD3D9Adapters({a});
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp = Params(16, 16);
    IDirect3DDevice9* dev = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, FakeWindow(), D3DCREATE_MIXED_VERTEXPROCESSING, &pp, &dev),
              D3D_OK);
    IDirect3DTexture9* t = nullptr;
    EXPECT_EQ(
        dev->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &t, nullptr),
        D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(t, nullptr);
    for (auto [size, usage, pool] : {std::tuple{32u, DWORD{D3DUSAGE_RENDERTARGET}, D3DPOOL_DEFAULT},
                                     std::tuple{64u, DWORD{0}, D3DPOOL_MANAGED}})
    {
        ASSERT_EQ(dev->CreateTexture(size, size, 1, usage, D3DFMT_X8R8G8B8, pool, &t, nullptr), D3D_OK);
        t->Release();
    }
    dev->Release();
    d3d->Release();
    ferolt::hooks::ResetD3D9Hooks();
}
} // namespace
