#include "engine/render/impostors.h"

#include <cmath>
#include <memory>

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/render_lock.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/owned_array.h"
#include "engine/core/view.h"
#include "engine/render/back_buffer_window.h"
#include "engine/render/single_frame.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr float kPi = 3.14159265358979323846f;
constexpr UINT kViewSize = 128;
constexpr float kEyeDistance = 10.0f;
constexpr D3DCOLOR kCellBackground = 0xFF000000; // copied with this colour key, it becomes transparent
constexpr UINT kBillboardVertices = 10;

// A fan of 8 triangles round the centre; the rim's normals lean outwards.
void FillBillboard(ModelVertexStruct_TYP* v)
{
    const float a = 1.0f / std::sqrt(2.0f);
    const float table[kBillboardVertices][7] = {
        {0, 0, 0, 0, 1, 0.5f, 0.5f}, {1, 0, 1, 0, 0, 1, 0.5f},  {1, -1, a, -a, 0, 1, 1},
        {0, -1, 0, -1, 0, 0.5f, 1},  {-1, -1, -a, -a, 0, 0, 1}, {-1, 0, -1, 0, 0, 0, 0.5f},
        {-1, 1, -a, a, 0, 0, 0},     {0, 1, 0, 1, 0, 0.5f, 0},  {1, 1, a, a, 0, 1, 0},
        {1, 0, 1, 0, 0, 1, 0.5f},
    };
    for (UINT k = 0; k < kBillboardVertices; ++k)
    {
        const float* t = table[k];
        v[k] = {{t[0], t[1], 0}, {t[2], t[3], t[4]}, {t[5], t[6]}, {0, 0}};
    }
}

LONG Round(float x)
{
    return static_cast<LONG>(x + 0.5f);
}

template <typename T> void ReleaseAndClear(T*& p)
{
    if (p) p->Release();
    p = nullptr;
}

// The view of cell (i, j): the object turned so that yaw i and pitch j face the camera on -X.
D3DXMATRIX CellTurn(UINT i, UINT j)
{
    D3DXMATRIX z, y, out;
    D3DXMatrixRotationZ(&z, -static_cast<float>(i) * kPi / 4.0f);
    D3DXMatrixRotationY(&y, -(static_cast<float>(j) * kPi / 4.0f - kPi / 2.0f));
    D3DXMatrixMultiply(&out, &z, &y);
    return out;
}
} // namespace

ImpostorAtlas_::~ImpostorAtlas_()
{
    ReleaseAndClear(texture);
}

IDirect3DTexture9* ImpostorAtlas_::DeviceTexture(IDirect3DDevice9* device) const
{
    IDirect3DDevice9* owner = nullptr;
    if (!texture || FAILED(texture->GetDevice(&owner)) || !owner) return nullptr;
    owner->Release();
    return owner == device ? texture : nullptr;
}

RECT ImpostorCell(UINT column, UINT row, UINT width, UINT height)
{
    const float w = static_cast<float>(width) * 0.125f;
    const float h = static_cast<float>(height) / static_cast<float>(kImpostorRows);
    const LONG left = Round(static_cast<float>(column) * w), top = Round(static_cast<float>(row) * h);
    return {left, top, left + Round(w), top + Round(h)};
}

void ImpostorCellFor(const D3DXVECTOR3& d, UINT* column, UINT* row)
{
    const float yaw = std::atan2(d.y, d.x) / (2.0f * kPi) + 0.5f;
    const float pitch = std::atan2(d.z, std::sqrt(d.x * d.x + d.y * d.y)) / kPi + 0.5f;
    *column = static_cast<UINT>(8.0f * yaw + 0.5f);
    *row = static_cast<UINT>(5.0f * pitch);
}

void Object_::BuildImpostorAtlas(DWORD renderMode)
{
    if (impostorAtlas) impostorAtlas->Release();
    impostorAtlas = nullptr;
    impostorRenderMode = renderMode;
    AllGlobals_* root = CurrentGlobals;
    Device_* primary = IsEngineStarted() ? root->devices.primaryDevice : nullptr;
    if (!primary || !primary->device || !model) return;
    RenderLock_ lock(root);
    const D3DXMATRIX keptWorld = *world, keptInverse = *inverseWorld;
    const float keptDeterminant = determinant;
    // A batch head would draw its whole batch, unturned, into every view.
    std::vector<Object_*>* keptInstances = instances;
    instances = nullptr;
    D3DXMatrixIdentity(world);
    D3DXMatrixIdentity(inverseWorld);
    determinant = 1.0f;

    auto window = std::make_unique<CBackBWnd>(kViewSize, kViewSize);
    BackBuffer_* bb = nullptr;
    LRCreateBackBuffer(window->m_hWnd, &bb, nullptr);
    const D3DXVECTOR3 c(model->currentCentre);
    const float r = model->radius;
    const D3DXVECTOR3 eye = c - D3DXVECTOR3(kEyeDistance, 0, 0), up(0, 0, 1);
    View_* camera = nullptr;
    LRCreateView(&eye, &c, &up, 1, 2.0f * r, 2.0f * r, kEyeDistance - r, r + kEyeDistance, &camera);

    IDirect3DDevice9* device = primary->device;
    IDirect3DSurface9 *keptTarget = nullptr, *keptDepth = nullptr, *depth = nullptr, *target = nullptr;
    IDirect3DSurface9* atlasSurface = nullptr;
    IDirect3DTexture9 *targetTexture = nullptr, *atlas = nullptr;
    device->GetRenderTarget(0, &keptTarget);
    device->GetDepthStencilSurface(&keptDepth);
    D3DSURFACE_DESC targetDesc{}, depthDesc{};
    targetDesc.Format = D3DFMT_X8R8G8B8;
    depthDesc.Format = D3DFMT_D24S8;
    if (keptTarget) keptTarget->GetDesc(&targetDesc);
    if (keptDepth) keptDepth->GetDesc(&depthDesc);
    device->CreateDepthStencilSurface(kViewSize, kViewSize, depthDesc.Format, D3DMULTISAMPLE_NONE, 0, FALSE,
                                      &depth, nullptr);
    const bool made = bb && camera &&
                      SUCCEEDED(D3DXCreateTexture(device, kViewSize, kViewSize, 1, D3DUSAGE_RENDERTARGET,
                                                  targetDesc.Format, D3DPOOL_DEFAULT, &targetTexture)) &&
                      targetTexture;
    bool complete = false;
    if (made && SUCCEEDED(targetTexture->GetSurfaceLevel(0, &target)))
    {
        auto bindTarget = [&]
        {
            device->SetRenderTarget(0, target);
            device->SetDepthStencilSurface(depth);
        };
        bindTarget();
        D3DSURFACE_DESC atlasDesc{};
        if (SUCCEEDED(D3DXCreateTexture(device, kImpostorAtlasWidth, kImpostorAtlasHeight, 1, 0,
                                        D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &atlas)) &&
            atlas && SUCCEEDED(atlas->GetSurfaceLevel(0, &atlasSurface)) &&
            SUCCEEDED(atlasSurface->GetDesc(&atlasDesc)))
        {
            // Every view must be drawn and copied: an atlas with a view missing would show whatever the
            // texture held, so it is not kept.
            complete = true;
            for (UINT i = 0; complete && i < kImpostorColumns; ++i)
                for (UINT j = 0; complete && j < kImpostorRows; ++j)
                {
                    const D3DXMATRIX turn = CellTurn(i, j);
                    *world = turn;
                    D3DXMatrixInverse(inverseWorld, nullptr, &turn);
                    HRESULT hr = RenderBackBufferFrame(bb, camera, renderMode, kCellBackground, this);
                    if (FAILED(hr))
                    {
                        // A frame that reset its device drew nothing and took the target away.
                        bindTarget();
                        hr = RenderBackBufferFrame(bb, camera, renderMode, kCellBackground, this);
                    }
                    const RECT cell = ImpostorCell(i, j, atlasDesc.Width, atlasDesc.Height);
                    complete =
                        SUCCEEDED(hr) &&
                        SUCCEEDED(D3DXLoadSurfaceFromSurface(atlasSurface, nullptr, &cell, target, nullptr,
                                                             nullptr, D3DX_FILTER_POINT, kCellBackground));
                }
        }
        device->SetRenderTarget(0, keptTarget);
        device->SetDepthStencilSurface(keptDepth);
    }
    ReleaseAndClear(atlasSurface);
    ReleaseAndClear(target);
    ReleaseAndClear(targetTexture);
    ReleaseAndClear(depth);
    ReleaseAndClear(keptTarget);
    ReleaseAndClear(keptDepth);
    // The atlas takes the texture over; without one the texture goes here.
    CountedPtr<ImpostorAtlas_> kept = complete ? NewCounted<ImpostorAtlas_>(atlas) : nullptr;
    if (kept) atlas = nullptr;
    ReleaseAndClear(atlas);
    impostorAtlas = kept.release(); // the object's reference

    if (bb) LRReleaseBackBuffer(&bb);
    if (camera) LRReleaseView(&camera);
    *world = keptWorld;
    *inverseWorld = keptInverse;
    determinant = keptDeterminant;
    instances = keptInstances;
    window.reset();
}

void BeginImpostorDraw(IDirect3DDevice9* device, IDirect3DVertexBuffer9** buffer)
{
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHAREF, 0);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);

    D3DMATERIAL9 material{};
    material.Diffuse = material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    device->SetMaterial(&material);

    *buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(kModelVertexStride * kBillboardVertices, 0, kModelVertexFormat,
                                          D3DPOOL_MANAGED, buffer, nullptr)) ||
        !*buffer)
    {
        *buffer = nullptr;
        return;
    }
    void* data = nullptr;
    if (SUCCEEDED((*buffer)->Lock(0, 0, &data, 0)) && data)
    {
        FillBillboard(static_cast<ModelVertexStruct_TYP*>(data));
        (*buffer)->Unlock();
    }
    device->SetVertexShader(nullptr);
    device->SetFVF(kModelVertexFormat);
    device->SetStreamSource(0, *buffer, 0, kModelVertexStride);
}

void Object_::DrawImpostor(IDirect3DDevice9* device, View_* camera)
{
    auto* atlas = static_cast<ImpostorAtlas_*>(impostorAtlas);
    if (!atlas || !model || !camera) return;
    // Made on the primary device: elsewhere there is no picture to show.
    IDirect3DTexture9* texture = atlas->DeviceTexture(device);
    if (!texture) return;

    D3DXVECTOR3 eye, e, c;
    camera->GetLookAt(&eye, nullptr, nullptr);
    if (!boundsValid) ComputeBounds(nullptr, nullptr);
    const D3DXVECTOR3 centre(boundsCentre);
    D3DXVec3TransformCoord(&e, &eye, inverseWorld);
    D3DXVec3TransformCoord(&c, &centre, inverseWorld);
    D3DXVECTOR3 d = e - c;
    if (D3DXVec3Length(&d) == 0.0f) d = D3DXVECTOR3(-1, 0, 0);
    D3DXVec3Normalize(&d, &d);
    // Seen from straight above or below the side vector is not defined by the eye: the one of column 0 is
    // taken.
    D3DXVECTOR3 s(-d.y, d.x, 0);
    if (D3DXVec3Length(&s) < 1e-6f) s = D3DXVECTOR3(0, -1, 0);
    D3DXVec3Normalize(&s, &s);
    D3DXVECTOR3 u;
    D3DXVec3Cross(&u, &d, &s);

    UINT column = 0, row = 0;
    ImpostorCellFor(d, &column, &row);
    device->SetTexture(0, texture);

    const float r = model->radius;
    D3DXMATRIX quad(r * s.x, r * s.y, r * s.z, 0, r * u.x, r * u.y, r * u.z, 0, r * d.x, r * d.y, r * d.z, 0,
                    c.x, c.y, c.z, 1);
    D3DXMATRIX placed;
    D3DXMatrixMultiply(&placed, &quad, world);
    device->SetTransform(D3DTS_WORLD, &placed);
    D3DXMATRIX cell(0.125f, 0, 0, 0, 0, 0.2f, 0, 0, static_cast<float>(column) * 0.125f,
                    static_cast<float>(row) / static_cast<float>(kImpostorRows), 1, 0, 0, 0, 0, 1);
    device->SetTransform(D3DTS_TEXTURE0, &cell);
    device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 8);
}

void EndImpostorDraw(IDirect3DDevice9* device, IDirect3DVertexBuffer9** buffer)
{
    ReleaseAndClear(*buffer);
    device->SetRenderState(D3DRS_ALPHAREF, 0xFE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    // Left on, the cell's scale and offset would move the texture of everything drawn after.
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}
} // namespace LMK
