// The render pass: for each part of the view's back buffer, check its device (a lost device is skipped,
// one that needs a reset is reset through the device thread), build the part's visible set, set the
// device up, draw the objects in a fixed order of sub-passes and present or read the image back.
#include "engine/render/render_pass.h"

#include <algorithm>
#include <map>
#include <vector>

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/core/render_lock.h"
#include "engine/core/view.h"
#include "engine/render/environment.h"
#include "engine/render/frame_devices.h"
#include "engine/render/impostors.h"
#include "engine/render/pass_setup.h"
#include "engine/render/portal_cell.h"
#include "engine/render/render_view.h"
#include "engine/render/visible_set.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX out;
    D3DXMatrixMultiply(&out, &a, &b);
    return out;
}

// The part of a pass that stays the same for every back-buffer part.
struct PassState_
{
    RenderViewStruct_TYP* view = nullptr;
    DWORD objectCount = 0;
    Object_** objects = nullptr;
    DWORD lightCount = 0;
    Light_** lights = nullptr;
    Light_* modeThreeLight = nullptr;
    const D3DXPLANE* mirrorPlane = nullptr;
    DWORD stencilReference = 0;
    std::vector<MirrorSubsetStruct_TYP>* mirrors = nullptr;
    D3DXVECTOR3 eye{};
    D3DXVECTOR3 lookAt{};
    std::vector<D3DXPLANE> frustum;
    D3DXMATRIX viewProjection{};
    D3DXMATRIX inverseViewProjection{};
    D3DXMATRIX mirror{};
    DWORD mode = 0;
    bool resetFailed = false;
    bool portalVisibility = false; // objects would enable their own light groups; this system gives them none
};

class PartDraw_
{
public:
    PartDraw_(PassState_& s, BackBufferPart_* part, IDirect3DDevice9* device, PassContextStruct_TYP* context,
              DWORD mode, DWORD clipMask)
        : s_(s), part_(part), device_(device), context_(context), mode_(mode), clipMask_(clipMask)
    {
    }

    // Steps 1 and 2 of an object draw: the chosen model in, the mirror overrides applied.
    void PutIn(Object_* object, Model_* chosen, Model_** own)
    {
        *own = object->model;
        if (chosen && chosen->subsetCount <= object->model->subsetCount) object->model = chosen;
        object->PushMirrorOverrides(true);
    }
    void GiveBack(Object_* object, Model_* own)
    {
        object->model = own;
        object->PopMirrorOverrides(true);
    }

    void DrawObject(Object_* object, Model_* chosen, bool edges)
    {
        Model_* own = nullptr;
        PutIn(object, chosen, &own);
        const bool exempt = s_.view->sectionPlane && (object->noClip || object->model->noClip);
        if (exempt) device_->SetRenderState(D3DRS_CLIPPLANEENABLE, s_.mirrorPlane ? 2 : 0);
        Model_* model = object->model;
        const bool silhouette = edges && (mode_ == DisplayModeWireframe || mode_ == DisplayModeWireframeLit);
        const bool hidden = edges && (mode_ == DisplayModeHiddenLines || mode_ == DisplayModeShadedWithEdges);
        if (silhouette || hidden)
        {
            model->currentObject = object;
            model->currentObjectListIndex = object->listIndex;
            model->PrepareForObject(object);
            if (silhouette)
                model->BuildSilhouetteEdges(s_.view->camera, 1, 1);
            else
                model->BuildHiddenEdges(s_.view->camera, 1, 1);
        }
        SetMirrorStencilValues(object, s_.mirrors);
        object->Draw(part_, &s_.eye, mode_, s_.view, s_.modeThreeLight, context_);
        if (silhouette) model->FreeSilhouetteEdges();
        if (hidden) model->FreeHiddenEdges();
        if (exempt)
        {
            const float* p = reinterpret_cast<const float*>(s_.view->sectionPlane);
            device_->SetClipPlane(0, p);
            device_->SetRenderState(D3DRS_CLIPPLANEENABLE, clipMask_);
        }
        if (s_.portalVisibility)
            for (DWORD i = 0; i < s_.lightCount; ++i)
                device_->LightEnable(i, FALSE);
        GiveBack(object, own);
    }

    void Run(const VisibleSetStruct_TYP& set);

private:
    bool HasMirrorSubset(Object_* object);

    PassState_& s_;
    BackBufferPart_* part_;
    IDirect3DDevice9* device_;
    PassContextStruct_TYP* context_;
    DWORD mode_;
    DWORD clipMask_;
};

bool PartDraw_::HasMirrorSubset(Object_* object)
{
    RenderViewStruct_TYP* view = s_.view;
    Model_* model = object->model;
    for (DWORD i = 0; i < model->subsetCount; ++i)
    {
        const SubsetStruct_TYP& subset = model->subsets[i];
        if (!subset.specialSurface) continue;
        Material_* m = object->overrides ? object->overrides[i] : nullptr;
        if (!m) m = subset.material;
        if (m && m->IsReflecting(subset.surfaceType, view->reflectionLevel, view->minimumReflectivity))
            return true;
    }
    return false;
}

void PartDraw_::Run(const VisibleSetStruct_TYP& set)
{
    RenderViewStruct_TYP* view = s_.view;
    const bool edgeMode = mode_ >= DisplayModeWireframe && mode_ <= DisplayModeShadedWithEdges;

    // 1. Mirror surfaces, in the final pass only.
    if (context_->finalPass)
    {
        context_->testStencil = 1;
        context_->mirrorSubsetsOnly = 1;
        for (const DrawPairStruct_TYP& pair : set.drawList)
        {
            Model_* own = nullptr;
            PutIn(pair.object, pair.model, &own);
            const bool mirror = HasMirrorSubset(pair.object);
            GiveBack(pair.object, own);
            if (mirror) DrawObject(pair.object, pair.model, false);
        }
        context_->mirrorSubsetsOnly = 0;
        context_->mirrorSubsetsDone = 1;
        context_->testStencil = s_.mirrorPlane ? 1 : 0;
    }

    // 2. Depth-only objects.
    if (view->depthOnlyObjects && view->depthOnlyObjects->Size() != 0)
    {
        if (!s_.mirrorPlane) device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
        IlumoVector<Object_*>* list = view->depthOnlyObjects;
        view->depthOnlyObjects = nullptr;
        device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
        for (UINT k = 0; k < list->Size(); ++k)
        {
            Object_* object = *list->Element(k);
            if (!object || !object->model) continue;
            const BYTE saved = object->seeThrough;
            object->seeThrough = 1;
            SetMirrorStencilValues(object, s_.mirrors);
            object->Draw(part_, &s_.eye, DisplayModeDepthOnly, view, s_.modeThreeLight, nullptr);
            object->seeThrough = saved;
        }
        device_->SetRenderState(D3DRS_ZFUNC, PassDepthFunction(mode_));
        view->depthOnlyObjects = list;
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    }

    // 3. Impostors.
    if (!set.impostors.empty())
    {
        IDirect3DVertexBuffer9* billboard = nullptr;
        BeginImpostorDraw(device_, &billboard);
        for (Object_* object : set.impostors)
            object->DrawImpostor(device_, view->camera);
        EndImpostorDraw(device_, &billboard);
    }

    // 4. Opaque objects; transparent ones are queued farthest first, equal keys in arrival order.
    std::multimap<float, DrawPairStruct_TYP> transparent;
    const D3DXMATRIX* mirror = s_.mirrorPlane ? &s_.mirror : nullptr;
    for (const DrawPairStruct_TYP& pair : set.drawList)
    {
        Object_* object = pair.object;
        Model_* own = nullptr;
        PutIn(object, pair.model, &own);
        if (object->HasTransparency())
        {
            const Model_* m = object->model;
            D3DXVECTOR3 centre((m->currentBox[0] + m->currentBox[3]) * 0.5f,
                               (m->currentBox[1] + m->currentBox[4]) * 0.5f,
                               (m->currentBox[2] + m->currentBox[5]) * 0.5f);
            D3DXMATRIX world = *object->world;
            if (mirror) world = Multiply(world, *mirror);
            D3DXVECTOR3 at;
            D3DXVec3TransformCoord(&at, &centre, &world);
            const D3DXVECTOR3 d = at - s_.eye;
            transparent.emplace(-D3DXVec3Dot(&d, &d), pair);
            GiveBack(object, own);
            continue;
        }
        GiveBack(object, own);
        DrawObject(object, pair.model, edgeMode);
    }

    // 5. Planar shadows need the lights' shadow parameters, which arrive with the light sprites.

    // 6. Transparent objects.
    for (const auto& [key, pair] : transparent)
        DrawObject(pair.object, pair.model, edgeMode);

    // 7. Device lights off again.
    for (DWORD i = 0; i < s_.lightCount; ++i)
        device_->LightEnable(i, FALSE);

    // 8. The scene behind semi-transparent mirrors, over the part.
    if (context_->finalPass && part_->mirrorTexture)
    {
        const RECT& t = part_->tileRect;
        DrawTextureOverRect(device_, t, part_->mirrorTexture);
    }
    // 9. Scene lights' flares and glows, 10. those of the objects' light points.
    const D3DXPLANE* const* plane = &context_->mirrorPlane;
    if (mode_ == DisplayModeTextured || mode_ == DisplayModeBaseAndLightMap)
        for (DWORD i = 0; i < s_.lightCount; ++i)
            if (Light_* light = s_.lights ? s_.lights[i] : nullptr)
            {
                light->DrawFlare(device_, view, plane);
                light->DrawGlow(device_, view, plane);
            }
    const bool lit = mode_ <= DisplayModeColouredFlat;
    if (lit)
        for (DWORD i = 0; i < s_.objectCount; ++i)
        {
            Object_* object = s_.objects[i];
            if (!object || !object->lightPointsOn || !object->model || !object->lightPointLights) continue;
            for (DWORD k = 0; k < object->model->lightPointCount; ++k)
                if (Light_* light = object->lightPointLights[k])
                {
                    light->DrawFlare(device_, view, plane);
                    light->DrawGlow(device_, view, plane);
                }
        }
    // 11. The overlay.
    if ((lit || edgeMode) && view->environment && view->environment->description.overlay)
        view->environment->DrawOverlay(device_,
                                       static_cast<UINT>(part_->screenRect.bottom - part_->screenRect.top));
}

HRESULT CheckDevice(PassState_& s, Device_* d, BackBufferPart_* part)
{
    const HRESULT hr = CheckFrameDevice(d, s.view->readBack != nullptr, &s.resetFailed);
    if (hr != S_OK && part) part->busy = 0;
    return hr;
}

void Present(PassState_& s, BackBufferPart_* part, IDirect3DDevice9* device, Device_* d, DWORD partIndex)
{
    RenderViewStruct_TYP* view = s.view;
    BackBuffer_* bb = view->backBuffer;
    auto present = [&]
    {
        if (d->presentParams.Windowed)
            device->Present(&part->sourceRect, &part->destinationRect, bb->window, nullptr);
        else
            device->Present(nullptr, nullptr, bb->window, nullptr);
    };
    if (!view->readBack)
    {
        if (!view->noPresent) present();
        return;
    }
    IDirect3DSurface9* surface = nullptr;
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface)) || !surface) return;
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(surface->GetDesc(&desc)) && SUCCEEDED(surface->LockRect(&locked, nullptr, 0)))
    {
        ReadBackStruct_TYP record{};
        record.partIndex = partIndex;
        record.partCount = static_cast<uint32_t>(bb->parts.size());
        record.backBufferRect = bb->clientRect;
        record.partRect = part->screenRect;
        record.format = desc.Format;
        record.pitch = locked.Pitch;
        record.bits = locked.pBits;
        const bool show = view->readBack(view->readBackContext, &record);
        surface->UnlockRect();
        if (show) present();
    }
    surface->Release();
}
// The pass state every part shares: the camera's eye, planes and matrices, the mirror and the mode.
void BeginPassState(PassState_& s)
{
    RenderViewStruct_TYP* view = s.view;
    View_* camera = view->camera;
    camera->GetLookAt(&s.eye, &s.lookAt, nullptr);
    camera->GetFrustumPlanes(&s.frustum);
    camera->GetViewProjectionMatrix(&s.viewProjection);
    camera->GetInverseViewProjectionMatrix(&s.inverseViewProjection);
    if (view->animatedSubsetFlag) *view->animatedSubsetFlag = 0;
    if (view->textureEffectFlag) *view->textureEffectFlag = 0;
    if (camera->params.orthographic) s.eye = s.lookAt + 1e8f * (s.eye - s.lookAt);
    if (s.mirrorPlane) D3DXMatrixReflect(&s.mirror, s.mirrorPlane);
    s.mode = PassModeFromFlags(view->modeFlags);
    if ((s.mode & ModeLowMask) == DisplayModeLightMapBaking && s.lights && s.lightCount)
    {
        s.modeThreeLight = s.lights[0];
        s.lightCount = 0;
        s.lights = nullptr;
    }
}

// Which objects the part may see: through the portal cells from the part's frustum, or all of them.
void MarkVisibleObjects(PassState_& s, BackBufferPart_* part)
{
    s.portalVisibility = s.view->portalCell != nullptr;
    if (s.portalVisibility)
    {
        s.view->camera->UpdatePartProjection(part);
        s.view->portalCell->ComputeVisibility(s.view->camera, s.objects, s.objectCount);
    }
    else
        for (DWORD i = 0; i < s.objectCount; ++i)
            if (s.objects[i]) s.objects[i]->visible = 1;
}

void BuildPartVisibleSet(const PassState_& s, UINT width, UINT height, VisibleSetStruct_TYP* set)
{
    VisibleSetInputStruct_TYP input{};
    input.view = s.view;
    input.objectCount = s.objectCount;
    input.objects = s.objects;
    input.mode = s.mode;
    input.mirror = s.mirrorPlane ? &s.mirror : nullptr;
    input.frustumPlanes = &s.frustum;
    input.viewProjection = &s.viewProjection;
    input.inverseViewProjection = &s.inverseViewProjection;
    input.eye = s.eye;
    input.width = width;
    input.height = height;
    BuildVisibleSet(input, set);
}

// Lights, states, background, fill mode, camera and clip planes of one part, inside its scene. Gives the
// mode the part draws in, with the flags taken out that only the set-up reads; *clipMask the planes set.
DWORD SetUpPart(PassState_& s, BackBufferPart_* part, IDirect3DDevice9* device,
                PassContextStruct_TYP* context, DWORD* clipMask)
{
    context->mirrorPlane = s.mirrorPlane;
    context->testStencil = s.mirrorPlane ? 1 : 0;
    context->stencilReference = s.stencilReference;
    DWORD mode = s.mode;
    if (mode & ModeFlagFinalPass)
    {
        mode &= ~ModeFlagFinalPass;
        context->testStencil = 1;
        context->finalPass = 1;
    }
    PassSetupStruct_TYP setup{};
    setup.device = device;
    setup.part = part;
    setup.view = s.view;
    setup.mode = mode;
    setup.lightCount = s.lightCount;
    setup.lights = s.lights;
    setup.objectCount = s.objectCount;
    setup.objects = s.objects;
    setup.mirror = s.mirrorPlane ? &s.mirror : nullptr;
    setup.mirrorPlane = s.mirrorPlane;
    setup.pass = context;
    setup.portalVisibility = s.portalVisibility;
    SetUpPassLights(setup);
    SetPassStates(setup);
    ClearAndDrawBackground(setup);
    if (mode & ModeFlagWireFill)
    {
        device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        mode &= ~ModeFlagWireFill;
    }
    s.view->camera->ApplyToDevice(part);
    setup.mode = mode;
    *clipMask = SetPassClipPlanes(setup);
    return mode;
}

// One part whose device is ready: its visible set, its scene, and the image presented or read back.
void DrawPart(PassState_& s, BackBufferPart_* part, Device_* d, DWORD index)
{
    IDirect3DDevice9* device = d->device;
    MarkVisibleObjects(s, part);
    UINT width = 0, height = 0;
    LRGetBackBufferSize(s.view->backBuffer, &width, &height);
    VisibleSetStruct_TYP set;
    BuildPartVisibleSet(s, width, height, &set);

    device->SetViewport(&part->viewport);
    if (s.view->allLightsFlag) *s.view->allLightsFlag = 1;
    device->BeginScene();
    PassContextStruct_TYP context{};
    DWORD clipMask = 0;
    const DWORD mode = SetUpPart(s, part, device, &context, &clipMask);
    PartDraw_ draw(s, part, device, &context, mode, clipMask);
    draw.Run(set);
    device->EndScene();

    if (mode != DisplayModeMirrorMarking && !s.mirrorPlane) Present(s, part, device, d, index);
    part->busy = 0;
    FreeVisibleSet(&set);
}
} // namespace

HRESULT RenderViewPass(RenderViewStruct_TYP* view, DWORD objectCount, Object_** objects, DWORD lightCount,
                       Light_** lights, const D3DXPLANE* mirrorPlane, DWORD stencilReference,
                       std::vector<MirrorSubsetStruct_TYP>* mirrors)
{
    for (DWORD i = 0; i < objectCount; ++i)
        if (objects[i]) objects[i]->listIndex = i;
    AllGlobals_* root = CurrentGlobals;
    RenderLock_ lock(root);

    PassState_ s;
    s.view = view;
    s.objectCount = objectCount;
    s.objects = objects;
    s.lightCount = lightCount;
    s.lights = lights;
    s.mirrorPlane = mirrorPlane;
    s.stencilReference = stencilReference;
    s.mirrors = mirrors;
    BeginPassState(s);
    View_* camera = view->camera;
    float keptNear = 0.01f, keptFar = 1000.0f;
    const bool autoNearFar = camera->params.autoNearFar != 0;
    if (autoNearFar) camera->GetNearFar(&keptNear, &keptFar);

    // Devices created before their window had a size are reset to it first; that frame is not drawn.
    BackBuffer_* bb = view->backBuffer;
    if (ResetResizedDevices(bb, true)) return E_FAIL;

    Device_* lastDevice = nullptr;
    const std::vector<BackBufferPart_*> parts = bb->parts;
    for (DWORD index = 0; index < parts.size(); ++index)
    {
        BackBufferPart_* part = parts[index];
        if (!part || !part->device || !part->device->device) continue;
        if (part->busy) continue;
        part->busy = 1;
        lastDevice = part->device;
        if (CheckDevice(s, part->device, part) == S_OK) DrawPart(s, part, part->device, index);
    }
    // The primary device is checked every frame, so that it recovers even when no part uses it.
    Device_* primary = root->devices.primaryDevice;
    if (primary && primary->device && lastDevice != primary) CheckDevice(s, primary, nullptr);

    if (autoNearFar) camera->SetNearFar(keptNear, keptFar);
    return s.resetFailed ? E_FAIL : S_OK;
}
} // namespace LMK
