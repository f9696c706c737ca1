// LRRenderView and the mirror pipeline: one pass without reflections; with them a stencil marking pass,
// one pass per group of coplanar mirrors drawing the mirrored scene inside the group's stencil value, and
// a final pass drawing the scene itself. Semi-transparent mirrors first get the scene behind them
// rendered into one texture per back-buffer part.
#include "engine/render/render_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/material.h"
#include "engine/core/view.h"
#include "engine/render/render_pass.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr DWORD kMirrorFlag = 0x10000;

// How deep LRRenderView is nested in itself on this (the single rendering) thread.
int RenderViewDepth = 0;

bool CategoryReflects(DWORD category, DWORD level)
{
    static constexpr DWORD kLevel1[] = {0x5000, 0x11000, 0x13000, 0x80000000};
    static constexpr DWORD kLevel2[] = {0x2000, 0x3000, 0x5000, 0x6000, 0x11000, 0x13000, 0x80000000};
    static constexpr DWORD kLevel3[] = {0x2000, 0x3000, 0x5000, 0x6000,  0x8000,  0x9000,    0xA000,
                                        0xB000, 0xE000, 0xF000, 0x11000, 0x13000, 0x80000000};
    auto in = [category](const auto& row)
    { return std::find(std::begin(row), std::end(row), category) != std::end(row); };
    switch (level)
    {
    case 1:
        return in(kLevel1);
    case 2:
        return in(kLevel2);
    case 3:
        return in(kLevel3);
    default:
        return false;
    }
}

struct CallState_
{
    RenderViewStruct_TYP* view;
    uint32_t entryFlags;
    std::vector<MirrorSubsetStruct_TYP> mirrors;

    // Every way out gives the mirror materials back their alpha and flags and the record its flags.
    ~CallState_()
    {
        for (MirrorSubsetStruct_TYP& r : mirrors)
            if (r.material)
            {
                r.material->material.Diffuse.a = r.savedAlpha;
                r.material->flags = r.savedFlags;
            }
        view->modeFlags = entryFlags;
    }
};

HRESULT PlainPass(RenderViewStruct_TYP* view, DWORD objectCount, Object_** objects, DWORD lightCount,
                  Light_** lights)
{
    view->modeFlags &= ~ModeFlagReflections;
    return RenderViewPass(view, objectCount, objects, lightCount, lights, nullptr, 0, nullptr);
}

// Mirror records of every object, planes in world space with unit normals: grouping compares them as
// unit planes, so a scaled object's plane must not carry the scale.
void CollectMirrors(RenderViewStruct_TYP* view, DWORD objectCount, Object_** objects,
                    std::vector<MirrorSubsetStruct_TYP>* out, DWORD* semiTransparent)
{
    D3DXVECTOR3 eye;
    view->camera->GetLookAt(&eye, nullptr, nullptr);
    for (DWORD k = 0; k < objectCount; ++k)
    {
        Object_* object = objects[k];
        if (!object || !object->model || !object->world) continue;
        D3DXVECTOR3 local;
        D3DXVec3TransformCoord(&local, &eye, object->inverseWorld);
        object->PushMirrorOverrides(true);
        D3DXMATRIX planeTransform;
        D3DXMatrixTranspose(&planeTransform, object->inverseWorld);
        Model_* model = object->model;
        for (DWORD i = 0; i < model->subsetCount; ++i)
        {
            model->subsets[i].stencilGroup = 0;
            Material_* material = nullptr;
            if (!IsMirrorSubset(object, view, i, &local, &material)) continue;
            if (material && material->material.Diffuse.a < 1.0f) ++*semiTransparent;
            const float* p = model->subsets[i].surfacePlane;
            D3DXPLANE plane(p[0], p[1], p[2], p[3]), world;
            D3DXPlaneTransform(&world, &plane, &planeTransform);
            D3DXPlaneNormalize(&world, &world);
            MirrorSubsetStruct_TYP r{};
            r.object = object;
            r.subset = i;
            r.plane[0] = world.a;
            r.plane[1] = world.b;
            r.plane[2] = world.c;
            r.plane[3] = world.d;
            r.material = material;
            r.savedAlpha = material ? material->material.Diffuse.a : 1.0f;
            r.savedFlags = material ? material->flags : 0;
            out->push_back(r);
        }
        object->PopMirrorOverrides(true);
    }
}

std::vector<D3DXPLANE> GroupMirrors(std::vector<MirrorSubsetStruct_TYP>* mirrors)
{
    std::vector<D3DXPLANE> planes;
    DWORD value = 1;
    for (size_t i = 0; i < mirrors->size(); ++i)
    {
        MirrorSubsetStruct_TYP& a = (*mirrors)[i];
        if (a.grouped) continue;
        ++value;
        a.stencilValue = value;
        a.grouped = 1;
        planes.emplace_back(a.plane[0], a.plane[1], a.plane[2], a.plane[3]);
        for (size_t j = i + 1; j < mirrors->size(); ++j)
        {
            MirrorSubsetStruct_TYP& b = (*mirrors)[j];
            if (b.grouped) continue;
            const float dot = a.plane[0] * b.plane[0] + a.plane[1] * b.plane[1] + a.plane[2] * b.plane[2];
            if (dot > 0.999f && std::fabs(a.plane[3] - b.plane[3]) < 0.01f)
            {
                b.stencilValue = value;
                b.grouped = 1;
            }
        }
    }
    return planes;
}
} // namespace

bool Material_::IsReflecting(DWORD surfaceType, DWORD level, float minimumReflectivity) const
{
    return (flags & kMirrorFlag) && surfaceType != 0 && level != 0 &&
           mirrorReflectivity >= minimumReflectivity && CategoryReflects(surfaceType & 0xFFFFF000u, level);
}

bool IsMirrorSubset(Object_* object, RenderViewStruct_TYP* view, DWORD subset, const D3DXVECTOR3* eye,
                    Material_** material)
{
    Model_* model = object ? object->model : nullptr;
    if (!model || subset >= model->subsetCount) return false;
    const SubsetStruct_TYP& s = model->subsets[subset];
    if (!s.specialSurface) return false;
    Material_* m = object->overrides ? object->overrides[subset] : nullptr;
    if (!m) m = s.material;
    if (material) *material = m;
    if (!m || !m->IsReflecting(s.surfaceType, view->reflectionLevel, view->minimumReflectivity)) return false;
    if (eye)
    {
        const float* p = s.surfacePlane;
        if (p[0] * eye->x + p[1] * eye->y + p[2] * eye->z + p[3] < 0.0f) return false;
    }
    return true;
}

void SetMirrorStencilValues(Object_* object, std::vector<MirrorSubsetStruct_TYP>* mirrors)
{
    if (!mirrors || !object || !object->model) return;
    for (const MirrorSubsetStruct_TYP& r : *mirrors)
    {
        if (r.object != object) continue;
        if (r.subset >= object->model->subsetCount) break;
        object->model->subsets[r.subset].stencilGroup = r.stencilValue;
    }
}

void DrawTextureOverRect(IDirect3DDevice9* device, const RECT& rect, IDirect3DTexture9* texture)
{
    struct Vertex
    {
        float x, y, z, rhw, u, v;
    };
    // Pixel centres lie on integer screen coordinates and texel centres half a texel in: the quad moves
    // half a pixel up and left so that each pixel samples its own texel instead of a blend of four.
    const float w = static_cast<float>(rect.right - rect.left),
                h = static_cast<float>(rect.bottom - rect.top);
    const float x0 = -0.5f, y0 = -0.5f, x1 = w - 0.5f, y1 = h - 0.5f;
    const Vertex quad[4] = {
        {x0, y0, 0, 1, 0, 0}, {x1, y0, 0, 1, 1, 0}, {x1, y1, 0, 1, 1, 1}, {x0, y1, 0, 1, 0, 1}};
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(sizeof(quad), 0, D3DFVF_XYZRHW | D3DFVF_TEX1, D3DPOOL_MANAGED,
                                          &buffer, nullptr)) ||
        !buffer)
        return;
    void* data = nullptr;
    if (SUCCEEDED(buffer->Lock(0, sizeof(quad), &data, 0)) && data)
    {
        std::memcpy(data, quad, sizeof(quad));
        buffer->Unlock();
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        device->SetVertexShader(nullptr);
        device->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
        device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        device->SetTransform(D3DTS_TEXTURE0, &identity);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        device->SetTexture(0, texture);
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
        // The device would otherwise keep the part's reflection texture and the buffer alive past the
        // frame, and the stencil marks of the mirror passes would keep clipping what follows.
        device->SetStreamSource(0, nullptr, 0, 0);
        device->SetTexture(0, nullptr);
        device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    }
    buffer->Release();
}

void TransformLight(const LightParamsStruct_TYP* params, D3DLIGHT9* out, float intensity,
                    const D3DXMATRIX* mirror)
{
    *out = params->light;
    if (mirror)
    {
        D3DXVECTOR3 position, direction, origin, zero(0.0f, 0.0f, 0.0f);
        const D3DXVECTOR3 p(out->Position.x, out->Position.y, out->Position.z);
        const D3DXVECTOR3 v(out->Direction.x, out->Direction.y, out->Direction.z);
        D3DXVec3TransformCoord(&position, &p, mirror);
        D3DXVec3TransformCoord(&direction, &v, mirror);
        D3DXVec3TransformCoord(&origin, &zero, mirror);
        D3DXVECTOR3 d = direction - origin;
        D3DXVec3Normalize(&d, &d);
        out->Position = position;
        out->Direction = d;
    }
    if (out->Type == D3DLIGHT_SPOT)
    {
        if (!params->spotFalloff) out->Falloff = 0.0f;
    }
    else
        out->Falloff = 1.0f;
    if (out->Attenuation0 == 0.0f && out->Attenuation1 == 0.0f && out->Attenuation2 == 0.0f)
        out->Attenuation0 = 1.0f;
    const float f = params->intensity * intensity;
    auto scale = [f](D3DCOLORVALUE* c, bool on)
    {
        c->r = on ? c->r * f : 0.0f;
        c->g = on ? c->g * f : 0.0f;
        c->b = on ? c->b * f : 0.0f;
    };
    scale(&out->Ambient, params->ambientOn);
    scale(&out->Diffuse, params->diffuseOn);
    scale(&out->Specular, params->specularOn);
    if (out->Phi < out->Theta) out->Theta = 0.9f * out->Phi;
}
} // namespace LMK

using namespace LMK;

namespace
{
// Lets a pass draw one part only: every other part that is free is marked busy, as a nested pass marks
// the parts it draws, and freed again afterwards (unless a pass rebuilt the parts meanwhile).
class OnlyPart_
{
public:
    OnlyPart_(BackBuffer_* backBuffer, BackBufferPart_* only) : backBuffer_(backBuffer)
    {
        for (BackBufferPart_* part : backBuffer->parts)
            if (part && part != only && !part->busy)
            {
                part->busy = 1;
                marked_.push_back(part);
            }
    }
    ~OnlyPart_()
    {
        const std::vector<BackBufferPart_*>& live = backBuffer_->parts;
        for (BackBufferPart_* part : marked_)
            if (std::find(live.begin(), live.end(), part) != live.end()) part->busy = 0;
    }
    OnlyPart_(const OnlyPart_&) = delete;
    OnlyPart_& operator=(const OnlyPart_&) = delete;

private:
    BackBuffer_* backBuffer_;
    std::vector<BackBufferPart_*> marked_;
};
} // namespace

HRESULT LRRenderView(RenderViewStruct_TYP* view, DWORD objectCount, Object_** objects, DWORD lightCount,
                     Light_** lights)
{
    if (!IsEngineStarted() || !view || !view->backBuffer || !view->camera) return E_FAIL;
    if (objectCount && !objects) objectCount = 0;
    if (lightCount && !lights) lightCount = 0;
    if (view->mirrorGroupCount) *view->mirrorGroupCount = 0;
    CallState_ call{view, view->modeFlags, {}};
    const uint32_t entry = call.entryFlags;
    if (!((entry & ModeLowMask) <= ModeEdgeModeBit && (entry & ModeFlagReflections)))
        return PlainPass(view, objectCount, objects, lightCount, lights);

    ++RenderViewDepth;
    struct DepthGuard_
    {
        ~DepthGuard_() { --RenderViewDepth; }
    } depthGuard;

    DWORD semiTransparent = 0;
    CollectMirrors(view, objectCount, objects, &call.mirrors, &semiTransparent);
    const std::vector<D3DXPLANE> planes = GroupMirrors(&call.mirrors);
    if (view->mirrorGroupCount)
    {
        *view->mirrorGroupCount = static_cast<uint32_t>(planes.size());
        return S_OK;
    }
    if (call.mirrors.empty()) return PlainPass(view, objectCount, objects, lightCount, lights);

    if (!TransparentMirrorsOption) semiTransparent = 0;
    std::vector<BackBufferPart_*>& parts = view->backBuffer->parts;
    // A nested call runs while the outer one is filling these textures part by part; releasing them
    // here would take away the ones the outer call has already drawn.
    if (RenderViewDepth == 1)
        for (BackBufferPart_* part : parts)
            if (part && part->mirrorTexture)
            {
                part->mirrorTexture->Release();
                part->mirrorTexture = nullptr;
            }
    if (semiTransparent)
    {
        for (BackBufferPart_* part : parts)
        {
            IDirect3DDevice9* device = part ? part->GetD3DDevice() : nullptr;
            if (!device) continue;
            const RECT& t = part->tileRect;
            IDirect3DTexture9* texture = nullptr;
            if (FAILED(D3DXCreateTexture(device, static_cast<UINT>(t.right - t.left),
                                         static_cast<UINT>(t.bottom - t.top), 1, D3DUSAGE_RENDERTARGET,
                                         D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture)) ||
                !texture)
            {
                auto& m = call.mirrors;
                m.erase(std::remove_if(m.begin(), m.end(),
                                       [](const MirrorSubsetStruct_TYP& r) { return r.savedAlpha < 1.0f; }),
                        m.end());
                if (m.empty()) return PlainPass(view, objectCount, objects, lightCount, lights);
                continue;
            }
            part->mirrorTexture = texture;
            IDirect3DSurface9* target = nullptr;
            IDirect3DSurface9* depth = nullptr;
            IDirect3DSurface9* level = nullptr;
            device->GetRenderTarget(0, &target);
            device->GetDepthStencilSurface(&depth);
            texture->GetSurfaceLevel(0, &level);
            device->SetRenderTarget(0, level);
            device->SetDepthStencilSurface(depth);
            for (MirrorSubsetStruct_TYP& r : call.mirrors)
                if (r.material && r.material->material.Diffuse.a < 1.0f) r.material->flags &= ~kMirrorFlag;
            const BYTE savedNoPresent = view->noPresent;
            view->noPresent = 1;
            part->mirrorTexture = nullptr;
            {
                // The texture holds this part's picture alone.
                OnlyPart_ only(view->backBuffer, part);
                LRRenderView(view, objectCount, objects, lightCount, lights);
            }
            part->mirrorTexture = texture;
            for (MirrorSubsetStruct_TYP& r : call.mirrors)
                if (r.material) r.material->flags = r.savedFlags;
            view->modeFlags = entry;
            view->noPresent = savedNoPresent;
            device->SetRenderTarget(0, target);
            device->SetDepthStencilSurface(depth);
            if (target) target->Release();
            if (depth) depth->Release();
            if (level) level->Release();
        }
    }
    // The marking pass draws opaque subsets only: a mirror left semi-transparent would get no stencil
    // value, and the plane and final passes, which test for it, would draw neither its reflection nor
    // the mirror itself. The texture (when made) already holds the scene behind it.
    for (MirrorSubsetStruct_TYP& r : call.mirrors)
        if (r.material) r.material->material.Diffuse.a = 1.0f;

    auto mirrorPasses = [&]() -> HRESULT
    {
        view->modeFlags = DisplayModeMirrorMarking;
        RenderViewPass(view, objectCount, objects, lightCount, lights, nullptr, 0, &call.mirrors);

        view->modeFlags = entry & ~ModeFlagReflections;
        const uint8_t savedAuto = view->camera->params.autoNearFar;
        view->camera->params.autoNearFar = 1;
        IlumoVector<Object_*>* depthOnly = view->depthOnlyObjects;
        view->depthOnlyObjects = nullptr;
        for (size_t g = 0; g < planes.size(); ++g)
            RenderViewPass(view, objectCount, objects, lightCount, lights, &planes[g],
                           static_cast<DWORD>(g + 2), &call.mirrors);
        view->camera->params.autoNearFar = savedAuto;
        view->depthOnlyObjects = depthOnly;

        view->modeFlags = (entry & ~ModeFlagReflections) | ModeFlagFinalPass;
        return RenderViewPass(view, objectCount, objects, lightCount, lights, nullptr, 0, &call.mirrors);
    };
    // The parts of a window share their device's depth-stencil surface: one part's marking pass would
    // wipe the marks that another part's plane and final passes test, so with several parts the passes
    // run part by part.
    if (parts.size() <= 1) return mirrorPasses();
    HRESULT result = S_OK;
    for (size_t index = 0; index < view->backBuffer->parts.size(); ++index)
    {
        BackBufferPart_* part = view->backBuffer->parts[index];
        if (!part || part->busy) continue;
        OnlyPart_ only(view->backBuffer, part);
        if (FAILED(mirrorPasses())) result = E_FAIL;
    }
    return result;
}
