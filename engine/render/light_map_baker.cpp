// Light-map baking of one object: for every receiving subset, the shadow of each light (several jittered
// renders for a soft one) as a mask, the lit surface multiplied by it, a sky term and an ambient term,
// all drawn by the device into render-target textures of the light map's size.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/lr_light_api.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/core/view.h"
#include "engine/render/back_buffer_window.h"
#include "engine/core/texture.h"
#include "engine/render/render_view.h"
#include "engine/render/shadows.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_draw_data.h"
#include "engine/scene/object.h"
#include "platform/win32/crt.h"

namespace LMK
{
IDirect3DSurface9* LightMapDepthSurface = nullptr;

namespace
{
constexpr float kFarDistance = 10000.0f, kFarNearOffset = 200.0f;
constexpr float kSingleFaceDistance = 2500.0f, kSingleFaceNearOffset = 100.0f;

template <typename T> void SafeRelease(T*& p)
{
    if (p) p->Release();
    p = nullptr;
}

bool IsSingleFaceSubset(const SubsetStruct_TYP& s)
{
    const DWORD category = s.surfaceType & 0xFFFFF000u;
    return s.faceCount == 1 && (category == 0xA000 || category == 0xB000);
}

void ReleaseMaterial(Material_** material)
{
    if (!*material) return;
    LoadedPart_* part = *material;
    LRReleaseLoadedPart(&part);
    *material = nullptr;
}

// The textureless copy of the subset's material that the lit pass draws the surface with.
Material_* MakeReceiverMaterial(Material_* source)
{
    Material_* temporary = nullptr;
    if (!source && SUCCEEDED(LRCreateMaterialFromColor(0.3f, 0.3f, 0.3f, 1.0f, &temporary)))
        source = temporary;
    MaterialDescriptionStruct_TYP* d = nullptr;
    Material_* receiver = nullptr;
    if (source && SUCCEEDED(LRGetMaterialDescription(source, &d)) && d)
    {
        char* names[3] = {d->baseFile, d->bumpFile, d->reflectionFile};
        d->baseFile = d->bumpFile = d->reflectionFile = nullptr;
        if (names[0] && !d->keepDiffuse)
            d->material.Diffuse.r = d->material.Diffuse.g = d->material.Diffuse.b = 1.0f;
        d->material.Diffuse.a = 1.0f;
        LRCreateMaterialFromDescription(d, &receiver);
        d->baseFile = names[0];
        d->bumpFile = names[1];
        d->reflectionFile = names[2];
        LRFreeMaterialDescription(&d);
    }
    ReleaseMaterial(&temporary);
    return receiver;
}

void SetHelperMaterials(Model_* model, Material_* material)
{
    if (!model) return;
    for (DWORD i = 0; i < model->subsetCount; ++i)
        model->subsets[i].material = material;
}

bool IsMirrorableFormat(D3DFORMAT f)
{
    return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8B8G8R8 || f == D3DFMT_X8B8G8R8;
}

// A flipped camera sees the surface from behind: its image is the light map mirrored left to right.
void MirrorRenderTarget(IDirect3DDevice9* device, IDirect3DTexture9* target, uint32_t width, uint32_t height)
{
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(target->GetSurfaceLevel(0, &surface))) return;
    D3DSURFACE_DESC desc{};
    surface->GetDesc(&desc);
    IDirect3DTexture9* copy = nullptr;
    IDirect3DSurface9* copySurface = nullptr;
    if (SUCCEEDED(
            device->CreateTexture(width, height, 1, 0, desc.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr)) &&
        SUCCEEDED(copy->GetSurfaceLevel(0, &copySurface)) &&
        SUCCEEDED(device->GetRenderTargetData(surface, copySurface)))
    {
        D3DLOCKED_RECT locked{};
        if (IsMirrorableFormat(desc.Format) && SUCCEEDED(copySurface->LockRect(&locked, nullptr, 0)))
        {
            for (uint32_t y = 0; y < height; ++y)
            {
                auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                                        size_t{y} * locked.Pitch);
                std::reverse(row, row + width);
            }
            copySurface->UnlockRect();
        }
        device->UpdateSurface(copySurface, nullptr, surface, nullptr);
    }
    SafeRelease(copySurface);
    SafeRelease(copy);
    SafeRelease(surface);
}

struct QuadVertexTex_
{
    float x, y, z, rhw, u, v;
};
struct QuadVertexColour_
{
    float x, y, z, rhw;
    D3DCOLOR colour;
};

// The frame the three quad routines share: a fan over the whole target, states for a flat copy.
template <typename Vertex>
void DrawFullTargetQuad(IDirect3DDevice9* device, IDirect3DSurface9* depth, IDirect3DSurface9* target,
                        uint32_t width, uint32_t height, DWORD fvf, const Vertex (&vertices)[4])
{
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(sizeof vertices, 0, fvf, D3DPOOL_MANAGED, &buffer, nullptr)))
        return;
    void* data = nullptr;
    if (SUCCEEDED(buffer->Lock(0, sizeof vertices, &data, 0)) && data)
    {
        std::memcpy(data, vertices, sizeof vertices);
        buffer->Unlock();
        device->SetRenderTarget(0, target);
        device->SetDepthStencilSurface(depth);
        const D3DVIEWPORT9 viewport{0, 0, width, height, 0.0f, 1.0f};
        device->SetViewport(&viewport);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
        device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
        device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        // Texels land on pixels one to one: a filter would blur every pass by half a texel.
        for (DWORD stage = 0; stage < 2; ++stage)
        {
            device->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_POINT);
            device->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
            device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        }
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        device->SetFVF(fvf);
        device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        if (SUCCEEDED(device->BeginScene()))
        {
            device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
            device->EndScene();
        }
        device->SetStreamSource(0, nullptr, 0, 0);
        for (DWORD stage = 0; stage < 3; ++stage)
            device->SetTexture(stage, nullptr);
    }
    buffer->Release();
}

void TexturedQuad(uint32_t width, uint32_t height, QuadVertexTex_ (&v)[4])
{
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    v[0] = {0, 0, 0, 1, 0, 0};
    v[1] = {w, 0, 0, 1, 1, 0};
    v[2] = {w, h, 0, 1, 1, 1};
    v[3] = {0, h, 0, 1, 0, 1};
}

void SetStageTexture(IDirect3DDevice9* device, DWORD stage, IDirect3DTexture9* texture)
{
    static const D3DXMATRIX identity(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    device->SetTexture(stage, texture);
    device->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
    device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + stage), &identity);
}

void SetAddBlending(IDirect3DDevice9* device, bool add)
{
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, add ? TRUE : FALSE);
    if (!add) return;
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
}

DWORD FactorChannel(float c)
{
    return static_cast<DWORD>(std::min(std::trunc(c * 255.0f + 0.5f), 255.0f));
}
} // namespace

void AccumulateLightMapSample(IDirect3DSurface9* depth, IDirect3DTexture9* source, IDirect3DSurface9* target,
                              float weight, uint32_t width, uint32_t height, bool add)
{
    IDirect3DDevice9* device = PrimaryDevice();
    if (!device || !source || !target) return;
    const DWORD g = static_cast<DWORD>(std::trunc(std::min(weight, 1.0f) * 255.0f + 0.5f));
    device->SetRenderState(D3DRS_TEXTUREFACTOR, (g << 16) | (g << 8) | g);
    SetStageTexture(device, 0, source);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    SetAddBlending(device, add);
    QuadVertexTex_ v[4];
    TexturedQuad(width, height, v);
    DrawFullTargetQuad(device, depth, target, width, height, D3DFVF_XYZRHW | D3DFVF_TEX1, v);
}

void AddColourToRenderTarget(IDirect3DSurface9* depth, const float colour[4], IDirect3DSurface9* target,
                             uint32_t width, uint32_t height)
{
    IDirect3DDevice9* device = PrimaryDevice();
    if (!device || !target) return;
    auto channel = [](float c) { return c > 1.0f ? 255u : static_cast<DWORD>(std::max(c, 0.0f) * 255.0f); };
    const D3DCOLOR argb = (channel(colour[3]) << 24) | (channel(colour[0]) << 16) |
                          (channel(colour[1]) << 8) | channel(colour[2]);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    SetAddBlending(device, true);
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    const QuadVertexColour_ v[4] = {
        {0, 0, 0, 1, argb}, {w, 0, 0, 1, argb}, {w, h, 0, 1, argb}, {0, h, 0, 1, argb}};
    DrawFullTargetQuad(device, depth, target, width, height, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, v);
}

void CombineLightMapTextures(IDirect3DSurface9* depth, IDirect3DTexture9* first, IDirect3DSurface9* target,
                             uint32_t width, uint32_t height, bool add, IDirect3DTexture9* second,
                             const float colour[3])
{
    IDirect3DDevice9* device = PrimaryDevice();
    if (!device || !first || !target) return;
    SetStageTexture(device, 0, first);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    DWORD next = 1;
    if (second || colour)
    {
        if (second)
        {
            SetStageTexture(device, 1, second);
            device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
        }
        else
        {
            device->SetRenderState(D3DRS_TEXTUREFACTOR, (FactorChannel(colour[0]) << 16) |
                                                            (FactorChannel(colour[1]) << 8) |
                                                            FactorChannel(colour[2]));
            device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
        }
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
        device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        next = 2;
    }
    device->SetTextureStageState(next, D3DTSS_COLOROP, D3DTOP_DISABLE);
    SetAddBlending(device, add);
    QuadVertexTex_ v[4];
    TexturedQuad(width, height, v);
    DrawFullTargetQuad(device, depth, target, width, height, D3DFVF_XYZRHW | D3DFVF_TEX1, v);
}

void LightSampleGrid(const D3DLIGHT9& light, float h, uint32_t* n, float* spread)
{
    if (light.Type == D3DLIGHT_DIRECTIONAL || h > 0.9f)
        *n = 1, *spread = 0.1f;
    else if (h > 0.8f)
        *n = 2, *spread = 0.1f;
    else if (h > 0.6f)
        *n = 4, *spread = 0.2f;
    else if (h > 0.4f)
        *n = 4, *spread = 0.3f;
    else if (h > 0.2f)
        *n = 7, *spread = 0.4f;
    else
        *n = 8, *spread = 0.6f;
}

uint32_t SkyDirectionCount(uint32_t width, uint32_t height)
{
    const uint32_t side = std::max(width, height);
    if (side > 256) return 256;
    if (side > 128) return 196;
    if (side > 64) return 128;
    if (side > 32) return 64;
    return 32;
}

void MakeSkyDirections(uint32_t count, std::vector<D3DXVECTOR3>* directions)
{
    directions->clear();
    const double twoPi = 2.0 * 3.14159265358979323846;
    float phi = 0.0f;
    for (uint32_t i = 1; i <= count; ++i)
    {
        const float z =
            count > 1 ? 2.0f * static_cast<float>(i - 1) / static_cast<float>(count - 1) - 1.0f : 0.0f;
        const float theta = std::acos(z);
        if (i == 1 || i == count)
            phi = 0.0f;
        else
        {
            phi += 3.6f / std::sqrt(static_cast<float>(count) * (1.0f - z * z));
            while (phi > twoPi)
                phi -= static_cast<float>(twoPi);
        }
        directions->push_back(D3DXVECTOR3(-std::cos(theta) * std::sin(phi), -std::sin(theta) * std::sin(phi),
                                          -std::fabs(std::cos(phi))));
    }
}

bool IsCategoryBakedAtLevel(DWORD category, uint32_t level)
{
    switch (category)
    {
    case 0x80000000u:
    case 0x5000:
    case 0x11000:
    case 0x13000:
        return level >= 1 && level <= 3;
    case 0x2000:
    case 0x3000:
    case 0x6000:
        return level == 2 || level == 3;
    case 0xA000:
    case 0xB000:
    case 0x9000:
    case 0x8000:
        return level == 3;
    default:
        return false;
    }
}

namespace
{
// One receiving subset's turn: its render targets, helper objects, window and the sums over the lights.
class SubsetBake_
{
public:
    SubsetBake_(Object_* object, DWORD subset, Model_* grid, Model_* quad, DWORD objectCount,
                Object_** objects, DWORD lightCount, Light_** lights, float* intensity,
                const ShadowOptionsStruct_TYP& options, bool shadowCastersOnly)
        : object_(object), model_(object->model), subset_(subset), record_(object->lightMaps[subset]),
          grid_(grid), quad_(quad), objectCount_(objectCount), objects_(objects), lightCount_(lightCount),
          lights_(lights), intensity_(intensity), options_(options), castersOnly_(shadowCastersOnly),
          singleFace_(IsSingleFaceSubset(object->model->subsets[subset]))
    {
    }
    ~SubsetBake_() { Finish(false); }

    // False when the render targets could not be made: the record is gone and the computation stops.
    bool Run();

private:
    bool MakeTargets();
    void ReleaseTargets();
    void Finish(bool store);
    void Render(IDirect3DTexture9* target, View_* camera, DWORD mode, DWORD count, Object_** objects,
                DWORD lights, Light_** list);
    void BakeLight(Light_* light);
    bool RenderShadow(Light_* light, const LightParamsStruct_TYP& params);
    void RenderLitSurface(Light_* light);
    void RenderSplitRectangle(Light_* light);
    void MaterialColours(D3DCOLORVALUE* diffuse, D3DCOLORVALUE* ambient, D3DCOLORVALUE* specular) const;
    void SkyAndAmbient();

    Object_* object_;
    Model_* model_;
    DWORD subset_;
    LightMapStruct_TYP* record_;
    Model_* grid_;
    Model_* quad_;
    DWORD objectCount_;
    Object_** objects_;
    DWORD lightCount_;
    Light_** lights_;
    float* intensity_;
    const ShadowOptionsStruct_TYP& options_;
    bool castersOnly_;
    bool singleFace_;

    IDirect3DDevice9* device_ = nullptr;
    Material_* receiver_ = nullptr;
    Object_* gridObject_ = nullptr;
    Object_* quadObject_ = nullptr;
    std::unique_ptr<CBackBWnd> window_;
    BackBuffer_* backBuffer_ = nullptr;
    RenderViewStruct_TYP view_{};
    IDirect3DSurface9* keptTarget_ = nullptr;
    IDirect3DSurface9* keptDepth_ = nullptr;
    IDirect3DTexture9* textures_[3] = {}; // S, M, R
    IDirect3DSurface9* surfaces_[3] = {};
    IDirect3DTexture9* result_ = nullptr;
    D3DFORMAT format_ = D3DFMT_X8R8G8B8;
    float skyShare_ = 0.5f;
    float ambientSum_[3] = {};
    float skySum_[3] = {};
    bool combined_ = false;
    bool anyShadow_ = false;
    bool finished_ = false;
};

void SubsetBake_::ReleaseTargets()
{
    for (int k = 0; k < 3; ++k)
    {
        SafeRelease(surfaces_[k]);
        SafeRelease(textures_[k]);
    }
}

bool SubsetBake_::MakeTargets()
{
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        bool ok = true;
        for (int k = 0; k < 3 && ok; ++k)
            ok = SUCCEEDED(device_->CreateTexture(record_->width, record_->height, 1, D3DUSAGE_RENDERTARGET,
                                                  format_, D3DPOOL_DEFAULT, &textures_[k], nullptr)) &&
                 textures_[k] && SUCCEEDED(textures_[k]->GetSurfaceLevel(0, &surfaces_[k]));
        if (ok) return true;
        ReleaseTargets();
        record_->width = std::max(1u, record_->width / 2);
        record_->height = std::max(1u, record_->height / 2);
    }
    return false;
}

void SubsetBake_::Render(IDirect3DTexture9* target, View_* camera, DWORD mode, DWORD count, Object_** objects,
                         DWORD lights, Light_** list)
{
    IDirect3DSurface9* surface = target == textures_[0]   ? surfaces_[0]
                                 : target == textures_[1] ? surfaces_[1]
                                                          : surfaces_[2];
    device_->SetRenderTarget(0, surface);
    device_->SetDepthStencilSurface(LightMapDepthSurface);
    view_.camera = camera;
    view_.modeFlags = mode;
    view_.lightMapWeight = options_.directWeight;
    view_.lightIntensity = intensity_;
    view_.noPresent = 1;
    LRRenderView(&view_, count, objects, lights, list);
}

bool SubsetBake_::Run()
{
    device_ = PrimaryDevice();
    if (!device_) return false;
    receiver_ = MakeReceiverMaterial(model_->subsets[subset_].material);
    SetHelperMaterials(grid_, receiver_);
    SetHelperMaterials(quad_, receiver_);
    if (grid_) gridObject_ = CreateObject(grid_, &record_->unitBoxToWorld, nullptr, true);
    if (quad_) quadObject_ = CreateObject(quad_, &record_->unitBoxToWorld, nullptr, true);

    device_->GetRenderTarget(0, &keptTarget_);
    device_->GetDepthStencilSurface(&keptDepth_);
    D3DSURFACE_DESC desc{};
    if (keptTarget_ && SUCCEEDED(keptTarget_->GetDesc(&desc))) format_ = desc.Format;
    D3DFORMAT depthFormat = D3DFMT_D24S8;
    if (keptDepth_ && SUCCEEDED(keptDepth_->GetDesc(&desc))) depthFormat = desc.Format;
    // Kept from the previous subset only on adapters that keep it; otherwise the slot is already empty.
    SafeRelease(LightMapDepthSurface);
    device_->CreateDepthStencilSurface(record_->width, record_->height, depthFormat, D3DMULTISAMPLE_NONE, 0,
                                       FALSE, &LightMapDepthSurface, nullptr);
    if (!LightMapDepthSurface || !MakeTargets())
    {
        object_->ReleaseLightMap(subset_);
        record_ = nullptr;
        return false;
    }
    // The frame pass only needs a back-buffer part of the light map's size; it draws into our targets.
    window_ = std::make_unique<CBackBWnd>(record_->width, record_->height);
    LRCreateBackBuffer(window_->m_hWnd, &backBuffer_, nullptr);
    view_.backBuffer = backBuffer_;
    if (!backBuffer_) return true;

    skyShare_ = options_.skyTerm ? options_.skyWeight : 0.5f;
    for (DWORD j = 0; j < lightCount_; ++j)
    {
        Light_* light = lights_[j];
        if (!light || (castersOnly_ && !light->params.castsShadows)) continue;
        BakeLight(light);
        if (castersOnly_) break;
    }
    if (!castersOnly_) SkyAndAmbient();
    Finish(true);
    return true;
}

void SubsetBake_::BakeLight(Light_* light)
{
    LightParamsStruct_TYP kept{};
    LRGetLightParams(light, &kept);
    LightParamsStruct_TYP params = kept;
    if (params.ambientOn)
    {
        const float w = params.intensity * (intensity_ ? *intensity_ : 1.0f);
        const D3DCOLORVALUE& a = params.light.Ambient;
        ambientSum_[0] += w * a.r;
        ambientSum_[1] += w * a.g;
        ambientSum_[2] += w * a.b;
        if (options_.skyTerm)
        {
            const D3DCOLORVALUE &d = params.light.Diffuse, &s = params.light.Specular;
            skySum_[0] += w * skyShare_ * (s.r + d.r + a.r);
            skySum_[1] += w * skyShare_ * (s.g + d.g + a.g);
            skySum_[2] += w * skyShare_ * (s.b + d.b + a.b);
            params.light.Diffuse.r *= 1.0f - skyShare_;
            params.light.Diffuse.g *= 1.0f - skyShare_;
            params.light.Diffuse.b *= 1.0f - skyShare_;
        }
        params.ambientOn = 0;
    }
    params.light.Specular = {0, 0, 0, params.light.Specular.a};
    LRSetLightParams(light, &params);

    const bool shadow = RenderShadow(light, params);
    anyShadow_ = anyShadow_ || shadow;
    if (castersOnly_)
        result_ = textures_[1];
    else
    {
        RenderLitSurface(light);
        CombineLightMapTextures(LightMapDepthSurface, textures_[0], surfaces_[2], record_->width,
                                record_->height, combined_, shadow ? textures_[1] : nullptr, nullptr);
        combined_ = true;
        result_ = textures_[2];
    }
    LRSetLightParams(light, &kept);
}

// The light's shadow on the surface into M; false when no camera could be made (no shadow).
bool SubsetBake_::RenderShadow(Light_* light, const LightParamsStruct_TYP& params)
{
    // A lamp does not shadow its own light.
    DWORD lampSlot = objectCount_;
    for (DWORD k = 0; k < objectCount_; ++k)
        if (objects_[k] && objects_[k]->lampLight == light && objects_[k]->model->lightPointCount == 0)
        {
            lampSlot = k;
            break;
        }
    Object_* lamp = lampSlot < objectCount_ ? objects_[lampSlot] : nullptr;
    if (lamp) objects_[lampSlot] = nullptr;
    SubsetStruct_TYP& s = model_->subsets[subset_];
    const DWORD faces = s.faceCount;
    // The surface must not hide itself.
    s.faceCount = 0;

    uint32_t n = 1;
    float spread = 0.1f;
    LightSampleGrid(params.light, params.hardness, &n, &spread);
    const bool directional = params.light.Type == D3DLIGHT_DIRECTIONAL;
    const float distance = singleFace_ ? kSingleFaceDistance : kFarDistance;
    const float nearOffset = singleFace_ ? kSingleFaceNearOffset : kFarNearOffset;
    const D3DVECTOR& dir = params.light.Direction;
    const D3DXVECTOR3 position =
        directional ? D3DXVECTOR3(-distance * dir.x, -distance * dir.y, -distance * dir.z)
                    : D3DXVECTOR3(params.light.Position.x, params.light.Position.y, params.light.Position.z);
    const float weight = 1.0f / static_cast<float>(n * n);
    bool rendered = false, flippedAny = false;
    for (uint32_t r = 0; r < n && params.castsShadows; ++r)
        for (uint32_t c = 0; c < n; ++c)
        {
            float offset[2] = {0.0f, 0.0f};
            if (n > 1)
            {
                const float step = spread / static_cast<float>(n - 1);
                offset[0] = static_cast<float>(r) * step;
                offset[1] = static_cast<float>(c) * step;
                if (n > 3)
                {
                    offset[0] += (static_cast<float>(rand()) / 32768.0f - 0.5f) * step;
                    offset[1] += (static_cast<float>(rand()) / 32768.0f - 0.5f) * step;
                }
            }
            View_* camera = nullptr;
            bool made = false, flipped = false;
            object_->CreateLightMapView(&position, directional, singleFace_, offset, nearOffset, subset_,
                                        object_->world, &camera, &made, &flipped);
            if (!made) continue;
            Light_* alone[1] = {light};
            if (n == 1)
                Render(textures_[1], camera, DisplayModeLightMapBaking, objectCount_, objects_, 1, alone);
            else
            {
                Render(textures_[0], camera, DisplayModeLightMapBaking, objectCount_, objects_, 1, alone);
                AccumulateLightMapSample(LightMapDepthSurface, textures_[0], surfaces_[1], weight,
                                         record_->width, record_->height, rendered);
            }
            rendered = true;
            flippedAny = flippedAny || flipped;
            LRReleaseView(&camera);
        }
    if (rendered && flippedAny) MirrorRenderTarget(device_, textures_[1], record_->width, record_->height);
    if (lamp) objects_[lampSlot] = lamp;
    s.faceCount = faces;
    return rendered;
}

void SubsetBake_::RenderLitSurface(Light_* light)
{
    Light_* alone[1] = {light};
    if (singleFace_)
    {
        RenderSplitRectangle(light);
        return;
    }
    Object_* helper = light->params.light.Type == D3DLIGHT_DIRECTIONAL ? quadObject_ : gridObject_;
    if (!helper) return;
    Render(textures_[0], record_->view, DisplayModeColoured, 1, &helper, 1, alone);
}

// A single face lit on its own: the triangle and two more that fill its rectangle along the edge most
// in line with the light-map axis, so that the whole light map is covered.
void SubsetBake_::RenderSplitRectangle(Light_* light)
{
    const SubsetStruct_TYP& s = model_->subsets[subset_];
    LKXMesh_** parts = model_->PrimaryParts();
    LKXMesh_* part = parts && s.part < model_->partCount ? parts[s.part] : nullptr;
    if (!part || !part->currentVertexBuffer || !part->indexBuffer) return;
    BYTE* vertices = nullptr;
    WORD* indices = nullptr;
    if (FAILED(part->currentVertexBuffer->Lock(0, 0, reinterpret_cast<void**>(&vertices), D3DLOCK_READONLY)))
        return;
    if (FAILED(part->indexBuffer->Lock(0, 0, reinterpret_cast<void**>(&indices), D3DLOCK_READONLY)))
    {
        part->currentVertexBuffer->Unlock();
        return;
    }
    const DWORD stride = model_->vertexStride ? model_->vertexStride : part->vertexStride;
    D3DXVECTOR3 p[3], nrm[3];
    for (int k = 0; k < 3; ++k)
    {
        const BYTE* v = vertices + size_t{indices[3 * s.firstFace + k]} * stride;
        std::memcpy(&p[k], v, sizeof p[k]);
        std::memcpy(&nrm[k], v + 12, sizeof nrm[k]);
    }
    part->indexBuffer->Unlock();
    part->currentVertexBuffer->Unlock();

    D3DXVECTOR3 t(s.lightMapAxis[0], s.lightMapAxis[1], s.lightMapAxis[2]);
    D3DXVECTOR3 normal(s.planeNormal[0], s.planeNormal[1], s.planeNormal[2]);
    if (D3DXVec3Dot(&normal, &normal) < 1e-8f)
    {
        const float a = s.surfacePlane[0], b = s.surfacePlane[1];
        t = (a == 0.0f && b == 0.0f) ? D3DXVECTOR3(1, 0, 0) : D3DXVECTOR3(-b, a, 0);
    }
    D3DXVec3Normalize(&t, &t);
    int best = 0;
    float bestAlign = -1.0f;
    for (int e = 0; e < 3; ++e)
    {
        D3DXVECTOR3 edge = p[(e + 1) % 3] - p[e];
        D3DXVec3Normalize(&edge, &edge);
        const float align = std::fabs(D3DXVec3Dot(&t, &edge));
        if (align > bestAlign)
        {
            bestAlign = align;
            best = e;
        }
    }
    std::rotate(p, p + best, p + 3);
    std::rotate(nrm, nrm + best, nrm + 3);

    RawVertexStruct_TYP raw[5] = {};
    D3DXVECTOR3 extra[2] = {D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 0)};
    D3DXVECTOR3 extraNormal[2] = {D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 0)};
    const D3DXVECTOR3 base = p[1] - p[0];
    const float length = D3DXVec3Length(&base);
    if (length > 1e-5f)
    {
        const D3DXVECTOR3 a = base / length;
        const D3DXVECTOR3 toApex = p[2] - p[0];
        const float along = D3DXVec3Dot(&toApex, &a);
        const D3DXVECTOR3 foot = p[0] + along * a;
        const D3DXVECTOR3 e = p[2] - foot;
        if (along > length)
            extra[0] = foot, extra[1] = p[0] + e;
        else if (along < 0.0f)
            extra[0] = p[1] + e, extra[1] = foot;
        else
            extra[0] = p[1] + e, extra[1] = p[0] + e;
        extraNormal[0] = (nrm[1] + nrm[2]) * 0.5f;
        extraNormal[1] = (nrm[0] + nrm[2]) * 0.5f;
    }
    const D3DXVECTOR3* positions[5] = {&p[0], &p[1], &p[2], &extra[0], &extra[1]};
    const D3DXVECTOR3* normals[5] = {&nrm[0], &nrm[1], &nrm[2], &extraNormal[0], &extraNormal[1]};
    for (int k = 0; k < 5; ++k)
    {
        std::memcpy(raw[k].position, positions[k], sizeof raw[k].position);
        std::memcpy(raw[k].normal, normals[k], sizeof raw[k].normal);
    }
    const DWORD faces[] = {0, 1, 2, 1, 3, 2, 2, 4, 0};
    SubsetStruct_TYP subset{};
    subset.faceCount = 3;
    subset.material = receiver_;
    subset.sourceIndex = kNoSourceIndex;
    const ModelBuildInputStruct_TYP input{.keepNormals = 1,
                                          .vertices = raw,
                                          .vertexCount = 5,
                                          .indices = faces,
                                          .faceCount = 3,
                                          .subsets = &subset,
                                          .subsetCount = 1,
                                          .normalsGiven = 1};
    HRESULT hr = E_FAIL;
    const CountedPtr<Model_> model = BuildModel(input, &hr);
    if (!model) return;
    // Placed where the object itself stands, so that the record's view (in world space) sees it.
    const D3DXMATRIX placement = record_->objectToUnitBox * record_->unitBoxToWorld;
    if (Object_* object = CreateObject(model.get(), &placement, nullptr, true))
    {
        Light_* alone[1] = {light};
        Render(textures_[0], record_->view, DisplayModeColoured, 1, &object, 1, alone);
        object->Release();
    }
}

void SubsetBake_::MaterialColours(D3DCOLORVALUE* diffuse, D3DCOLORVALUE* ambient,
                                  D3DCOLORVALUE* specular) const
{
    Material_* m = object_->overrides ? object_->overrides[subset_] : nullptr;
    if (!m) m = model_->subsets[subset_].material;
    if (!m)
    {
        *diffuse = *ambient = {0.3f, 0.3f, 0.3f, 1.0f};
        *specular = {0, 0, 0, 1.0f};
        return;
    }
    *diffuse = m->material.Diffuse;
    *ambient = m->material.Ambient;
    *specular = m->material.Specular;
    if (m->baseTexture && !(m->flags & kMaterialKeepDiffuse)) *diffuse = {0.3f, 0.3f, 0.3f, diffuse->a};
}

void SubsetBake_::SkyAndAmbient()
{
    D3DCOLORVALUE diffuse, ambient, specular;
    MaterialColours(&diffuse, &ambient, &specular);
    const float materialDiffuse[3] = {diffuse.r, diffuse.g, diffuse.b};
    const float materialAmbient[3] = {ambient.r, ambient.g, ambient.b};
    const float materialSpecular[3] = {specular.r, specular.g, specular.b};
    float ambientTerm[4] = {0, 0, 0, 1.0f};
    if (options_.skyTerm)
    {
        float sky[3];
        for (int c = 0; c < 3; ++c)
        {
            sky[c] =
                ((materialSpecular[c] + materialDiffuse[c]) * skyShare_ + materialAmbient[c]) * skySum_[c];
            ambientTerm[c] = materialAmbient[c] * (1.0f - skyShare_);
        }
        std::vector<D3DXVECTOR3> directions;
        MakeSkyDirections(SkyDirectionCount(record_->width, record_->height), &directions);
        SubsetStruct_TYP& s = model_->subsets[subset_];
        const DWORD faces = s.faceCount;
        s.faceCount = 0;
        const float distance = singleFace_ ? kSingleFaceDistance : kFarDistance;
        const float nearOffset = singleFace_ ? kSingleFaceNearOffset : kFarNearOffset;
        const float weight = 1.0f / static_cast<float>(directions.size());
        const float noOffset[2] = {0.0f, 0.0f};
        bool anySky = false;
        for (const D3DXVECTOR3& d : directions)
        {
            const D3DXVECTOR3 position = -distance * d;
            View_* camera = nullptr;
            bool made = false;
            object_->CreateLightMapView(&position, true, false, noOffset, nearOffset, subset_, object_->world,
                                        &camera, &made, nullptr);
            if (!made) continue;
            // The sky is no light: the pass gets none to read.
            Render(textures_[0], camera, DisplayModeLightMapBaking, objectCount_, objects_, 0, nullptr);
            AccumulateLightMapSample(LightMapDepthSurface, textures_[0], surfaces_[1], weight, record_->width,
                                     record_->height, anySky);
            anySky = true;
            LRReleaseView(&camera);
        }
        s.faceCount = faces;
        // Only a sky mask that was rendered: M otherwise still holds the last light's shadow.
        if (anySky)
        {
            CombineLightMapTextures(LightMapDepthSurface, textures_[1], surfaces_[2], record_->width,
                                    record_->height, combined_, nullptr, sky);
            combined_ = true;
            result_ = textures_[2];
        }
    }
    else
        for (int c = 0; c < 3; ++c)
            ambientTerm[c] = materialAmbient[c] * ambientSum_[c];
    AddColourToRenderTarget(LightMapDepthSurface, ambientTerm, surfaces_[2], record_->width, record_->height);
    result_ = textures_[2];
}

void SubsetBake_::Finish(bool store)
{
    if (finished_) return;
    finished_ = true;
    if (device_)
    {
        if (keptTarget_) device_->SetRenderTarget(0, keptTarget_);
        device_->SetDepthStencilSurface(keptDepth_);
    }
    SafeRelease(keptTarget_);
    SafeRelease(keptDepth_);
    if (!CurrentGlobals || !CurrentGlobals->devices.vendorFlag) SafeRelease(LightMapDepthSurface);
    if (store && record_ && result_ && !(castersOnly_ && !anyShadow_))
    {
        IDirect3DTexture9* texture = nullptr;
        IDirect3DSurface9* surface = nullptr;
        IDirect3DSurface9* source = nullptr;
        if (SUCCEEDED(device_->CreateTexture(record_->width, record_->height, 1, 0, format_, D3DPOOL_MANAGED,
                                             &texture, nullptr)) &&
            SUCCEEDED(texture->GetSurfaceLevel(0, &surface)) &&
            SUCCEEDED(result_->GetSurfaceLevel(0, &source)) &&
            SUCCEEDED(D3DXLoadSurfaceFromSurface(surface, nullptr, nullptr, source, nullptr, nullptr,
                                                 D3DX_FILTER_NONE, 0)))
        {
            // No load record, no image information: the light map is nobody's file.
            record_->texture = Texture_::Create(nullptr, texture, nullptr, 0.0f, 0.0f);
            if (record_->texture)
            {
                texture = nullptr; // the texture holds it now
                record_->baked = 1;
            }
        }
        SafeRelease(source);
        SafeRelease(surface);
        SafeRelease(texture);
    }
    ReleaseTargets();
    ReleaseMaterial(&receiver_);
    SetHelperMaterials(grid_, nullptr);
    SetHelperMaterials(quad_, nullptr);
    LRReleaseBackBuffer(&backBuffer_);
    window_.reset();
    if (gridObject_) gridObject_->Release();
    if (quadObject_) quadObject_->Release();
    gridObject_ = quadObject_ = nullptr;
}

// Pops the mirror overrides on every way out.
struct MirrorOverridesPushed_
{
    explicit MirrorOverridesPushed_(Object_* o) : object(o) { object->PushMirrorOverrides(true); }
    ~MirrorOverridesPushed_() { object->PopMirrorOverrides(true); }
    Object_* object;
};
} // namespace

bool Object_::ComputeLightMaps(Model_* grid, Model_* quad, DWORD objectIndex, DWORD objectCount,
                               Object_** objects, DWORD lightCount, Light_** lights, float* intensity,
                               ShadowOptionsStruct_TYP* options, ProgressCallback_TYP callback, void* user,
                               bool shadowCastersOnly, const std::vector<uint32_t>* visibleSubsets)
{
    const float f0 = static_cast<float>(objectIndex) / static_cast<float>(objectCount);
    if (callback && !callback(f0, user)) return false;
    if (lightCount == 0 || !lights) return false;
    ShadowOptionsStruct_TYP defaults{};
    LRInitShadowOptions(&defaults);
    const ShadowOptionsStruct_TYP& o = options ? *options : defaults;
    if (o.level == 0) return true;

    model->currentObject = this;
    model->currentObjectListIndex = listIndex;
    model->PrepareForObject(this);
    auto* data = static_cast<DeviceSpecificModelData_*>(model->primaryData.get());
    if (!data || !data->parts || !lightMaps) return false;
    MirrorOverridesPushed_ pushed(this);

    if (visibleSubsets)
    {
        for (DWORD i = 0; i < model->subsetCount; ++i)
            model->subsets[i].lightMapExcluded = 1;
        for (uint32_t i : *visibleSubsets)
            if (i < model->subsetCount) model->subsets[i].lightMapExcluded = 0;
    }

    // Records and layout, one part's buffers locked at a time.
    LKXMesh_* locked = nullptr;
    BYTE* vertices = nullptr;
    WORD* indices = nullptr;
    auto unlock = [&]
    {
        if (!locked) return;
        locked->currentVertexBuffer->Unlock();
        locked->indexBuffer->Unlock();
        locked = nullptr;
    };
    const DWORD stride = model->vertexStride ? model->vertexStride : kModelVertexStride;
    for (DWORD i = 0; i < model->subsetCount; ++i)
    {
        if (lightMaps[i])
        {
            if (o.keepExisting) continue;
            ReleaseLightMap(i);
        }
        const SubsetStruct_TYP& s = model->subsets[i];
        if (!s.specialSurface || (visibleSubsets && s.lightMapExcluded)) continue;
        LKXMesh_* part = s.part < data->partCount ? data->parts[s.part] : nullptr;
        if (!part || !part->currentVertexBuffer || !part->indexBuffer) continue;
        if (part != locked)
        {
            unlock();
            if (FAILED(part->currentVertexBuffer->Lock(0, 0, reinterpret_cast<void**>(&vertices), 0)))
                continue;
            if (FAILED(part->indexBuffer->Lock(0, 0, reinterpret_cast<void**>(&indices), D3DLOCK_READONLY)))
            {
                part->currentVertexBuffer->Unlock();
                continue;
            }
            locked = part;
        }
        // The slot is the object's to give back through ReleaseLightMap (with the map's texture and view).
        lightMaps[i] = NewObject<LightMapStruct_TYP>().release();
        if (lightMaps[i] && !LayoutLightMap(i, options ? o.quality : 2, stride, vertices, indices))
            ReleaseLightMap(i);
    }
    unlock();
    // Copies on other devices are rebuilt from the new light-map coordinates.
    model->ReleaseSecondaryData();

    auto isCandidate = [&](DWORD i)
    { return lightMaps[i] && !lightMaps[i]->baked && model->subsets[i].specialSurface; };
    DWORD candidates = 0;
    if (callback)
        for (DWORD i = 0; i < model->subsetCount; ++i)
            if (isCandidate(i)) ++candidates;
    DWORD done = 0;
    for (DWORD i = 0; i < model->subsetCount; ++i)
    {
        if (!isCandidate(i)) continue;
        if (o.level < 1 || o.level > 3) return true;
        ++done;
        if (!IsCategoryBakedAtLevel(model->subsets[i].surfaceType & 0xFFFFF000u, o.level)) continue;
        if (callback && !callback(f0 + (static_cast<float>(done) / static_cast<float>(candidates)) /
                                           static_cast<float>(objectCount),
                                  user))
            return false;
        SubsetBake_ bake(this, i, grid, quad, objectCount, objects, lightCount, lights, intensity, o,
                         shadowCastersOnly);
        if (!bake.Run()) return false;
    }
    return true;
}
} // namespace LMK
