// The model draw: a model's device copy draws its current object in up to four sweeps (opaque, then
// transparent; front faces, then the back faces of two-sided materials), applying each subset's material
// only when it changes and drawing batched instances with the same material.
#include "engine/render/model_draw.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/material.h"
#include "engine/render/effect_lights.h"
#include "engine/render/id_colours.h"
#include "engine/render/shadows.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/model_draw_data.h"
#include "engine/scene/object.h"
#include "engine/scene/progressive_mesh.h"

namespace LMK
{
namespace
{
constexpr DWORD kTwoSidedFlag = 0x4;

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX out;
    D3DXMatrixMultiply(&out, &a, &b);
    return out;
}

bool IsDepthOnlySurface(DWORD surfaceType)
{
    return surfaceType == 0x2000 || surfaceType == 0x4000 || surfaceType == 0xC000 || surfaceType == 0xD000;
}

bool HasDepthOnlyObjects(const RenderViewStruct_TYP* view)
{
    return view && view->depthOnlyObjects && view->depthOnlyObjects->Size() != 0;
}

D3DCOLORVALUE ColourFromArgb(D3DCOLOR argb)
{
    D3DCOLORVALUE c;
    ColorValueFromArgb(&c, argb);
    return c;
}

// The alternative a view selects, or the material itself.
Material_* ChooseAlternative(Material_* m, const RenderViewStruct_TYP* view)
{
    if (!view || !m || view->alternativeSelector == 0 || m->alternatives.empty()) return m;
    const DWORD selector = view->alternativeSelector;
    for (const MaterialAlternativeStruct_TYP& a : m->alternatives)
        if (a.value == selector) return a.material;
    if (view->alternativeMasks)
        for (UINT k = 0; k < view->alternativeMasks->Size(); ++k)
        {
            const uint32_t mask = *view->alternativeMasks->Element(k);
            for (const MaterialAlternativeStruct_TYP& a : m->alternatives)
                if ((a.value & mask) == (selector & mask)) return a.material;
        }
    return m;
}

// One Apply call's state.
class ModelDraw_
{
public:
    ModelDraw_(DeviceSpecificModelData_* data, RenderViewStruct_TYP* view, PassContextStruct_TYP* pass)
        : data_(data), model_(data->model), object_(data->model->currentObject), device_(data->device),
          view_(view), pass_(pass), mode_(data->model->renderMode)
    {
    }

    void Run();

private:
    // A progressive part draws from the mesh of its current level, vertices and indices alike.
    LKXMesh_* Part(DWORD index) const
    {
        if (index >= data_->partCount) return nullptr;
        if (data_->progressiveParts && data_->progressiveParts[index])
            return data_->progressiveParts[index]->currentMesh;
        return data_->parts[index];
    }
    void Unbind();
    void Bind(LKXMesh_* part);
    void PrepareEdgeBuffer();
    bool DrawSubsetInSweep(DWORD i, int t, int b);
    void DrawHiddenLineSubset(DWORD i, LKXMesh_* part, Material_* m, bool transparent);
    void DrawSilhouette(DWORD i, LKXMesh_* part);
    bool FillEdgeBuffer(const void* source, size_t bytes);

    DeviceSpecificModelData_* data_;
    Model_* model_;
    Object_* object_;
    IDirect3DDevice9* device_;
    RenderViewStruct_TYP* view_;
    PassContextStruct_TYP* pass_;
    DWORD mode_;

    D3DXMATRIX world_{};
    D3DXMATRIX mirror_{};
    bool haveMirror_ = false;
    bool mirrored_ = false;
    bool stretched_ = false;
    int passCount_ = 1;
    std::vector<IDirect3DVertexBuffer9*> edgeVertexBuffers_;
    IDirect3DIndexBuffer9* edgeIndexBuffer_ = nullptr;
    DWORD edgeIndexCapacity_ = 0;
    LKXMesh_* boundPart_ = nullptr;
    Material_* lastMaterial_ = nullptr;
    Texture_* lastLightMap_ = nullptr;
    bool lastHadEdges_ = false;
    // A line draw put the line buffer on stream 0: the next faces need their part bound again.
    bool linesOnStream_ = false;
    PartDrawContextStruct_TYP context_{};
};

void ModelDraw_::Unbind()
{
    if (!boundPart_) return;
    IDirect3DDevice9* d = boundPart_->device ? boundPart_->device : device_;
    d->SetStreamSource(0, nullptr, 0, 0);
    d->SetIndices(nullptr);
    boundPart_ = nullptr;
}

void ModelDraw_::Bind(LKXMesh_* part)
{
    Unbind();
    device_->SetStreamSource(0, part->currentVertexBuffer, 0, part->vertexStride);
    device_->SetIndices(part->indexBuffer);
    boundPart_ = part;
    linesOnStream_ = false;
}

void ModelDraw_::PrepareEdgeBuffer()
{
    edgeVertexBuffers_.assign(data_->partCount, nullptr);
    DWORD largest = 0;
    for (DWORD i = 0; i < model_->subsetCount; ++i)
    {
        const SubsetStruct_TYP& s = model_->subsets[i];
        DWORD count = 0;
        if (s.silhouetteEdges) count = 2 * s.silhouetteEdgeCount;
        if (s.hiddenEdges) count = std::max(count, 4 * s.hiddenEdgeCount);
        if (!s.silhouetteEdges && !s.hiddenEdges) continue;
        LKXMesh_* part = Part(s.part);
        if (part && !edgeVertexBuffers_[s.part]) edgeVertexBuffers_[s.part] = part->currentVertexBuffer;
        largest = std::max(largest, count);
    }
    // 16-bit indices: an edge list longer than a buffer can address is not drawn.
    if (largest == 0 || largest > 0x7FFFFFFF / 2) return;
    if (FAILED(device_->CreateIndexBuffer(2 * largest, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &edgeIndexBuffer_,
                                          nullptr)))
        edgeIndexBuffer_ = nullptr;
    if (edgeIndexBuffer_) edgeIndexCapacity_ = largest;
}

// A failed creation or lock leaves the edges undrawn rather than writing through a null buffer.
bool ModelDraw_::FillEdgeBuffer(const void* source, size_t bytes)
{
    if (!edgeIndexBuffer_ || !source || bytes > size_t{2} * edgeIndexCapacity_) return false;
    void* target = nullptr;
    if (FAILED(edgeIndexBuffer_->Lock(0, static_cast<UINT>(bytes), &target, 0)) || !target) return false;
    std::memcpy(target, source, bytes);
    edgeIndexBuffer_->Unlock();
    return true;
}

void ModelDraw_::Run()
{
    passCount_ = 1;
    stretched_ = !object_->stretchPlanes.empty();
    world_ = *object_->world;
    if (mode_ == DisplayModeLightMapBaking && object_->lightMapExcluded) return;

    mirrored_ = object_->determinant < 0.0f;
    if (pass_ && pass_->mirrorPlane)
    {
        mirrored_ = !mirrored_;
        D3DXMatrixReflect(&mirror_, pass_->mirrorPlane);
        haveMirror_ = true;
        world_ = Multiply(world_, mirror_);
    }
    // The default effect's declaration, technique and light parameters change no pixel: drawing stays on
    // the fixed-function pipeline and the flexible vertex format set per subset replaces the declaration.
    if (CurrentGlobals->defaultEffect)
    {
        if (data_->vertexDeclaration) device_->SetVertexDeclaration(data_->vertexDeclaration);
        PrepareEffectForDraw(CurrentGlobals->defaultEffect, device_, view_, pass_);
    }

    for (DWORD p = 0; data_->progressiveParts && p < data_->partCount; ++p)
        if (ProgressiveMesh_* progressive = data_->progressiveParts[p])
        {
            // A fraction outside 0 to 1 (or not a number) has no level to convert to.
            const float level = static_cast<float>(progressive->GetFaceCount()) * model_->progressiveFraction;
            progressive->SetFaceCount(level >= 1.0f ? static_cast<DWORD>(std::min(level, 4294967040.0f)) : 0);
        }

    PrepareEdgeBuffer();

    const int transparencySweeps =
        (mode_ == DisplayModeMirrorMarking || mode_ == DisplayModeIdColoursOpaque) ? 1 : 2;
    for (int t = 0; t < transparencySweeps; ++t)
        for (int b = 0; b < 2; ++b)
        {
            Unbind();
            lastMaterial_ = nullptr;
            lastHadEdges_ = false;
            for (DWORD i = 0; i < model_->subsetCount; ++i)
                DrawSubsetInSweep(i, t, b);
        }
    Unbind();
    if (edgeIndexBuffer_) edgeIndexBuffer_->Release();
    edgeIndexBuffer_ = nullptr;
}

bool ModelDraw_::DrawSubsetInSweep(DWORD i, int t, int b)
{
    SubsetStruct_TYP& s = model_->subsets[i];
    if (s.faceCount == 0 && s.lineSegmentCount == 0) return false;
    if (mode_ == DisplayModeLightMapBaking)
    {
        if (s.lampSurface && object_->lampLight == model_->passLight) return false;
        const DWORD category = s.surfaceType & 0xFFFFF000u;
        if (category == 0xA000 || category == 0xB000) return false;
    }
    Material_* m = object_->overrides ? object_->overrides[i] : nullptr;
    if (!m) m = s.material;
    if (!m) m = CurrentGlobals->defaultMaterial;
    m = ChooseAlternative(m, view_);

    const bool transparent = (m && !(m->material.Diffuse.a == 1.0f)) || object_->seeThrough;
    if (transparent != (t == 1) && mode_ != DisplayModeIdColoursAll) return false;
    if (b == 1 && m && !(m->flags & kTwoSidedFlag) && !object_->seeThrough) return false;

    const bool reflecting =
        view_ && m && m->IsReflecting(s.surfaceType, view_->reflectionLevel, view_->minimumReflectivity);
    if (reflecting && pass_ && pass_->finalPass)
    {
        device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        if (pass_->mirrorSubsetsDone) return false;
    }
    else
    {
        device_->SetRenderState(D3DRS_ZWRITEENABLE, t == 0);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, t == 1);
        if (pass_ && pass_->finalPass && pass_->mirrorSubsetsOnly) return false;
    }
    if (reflecting && b == 1) return false;

    LKXMesh_* part = Part(s.part);
    if (s.faceCount)
    {
        // A subset whose part is missing on this device has nothing to draw from.
        if (!part) return false;
        const bool hasEdges = s.silhouetteEdges || s.hiddenEdges || s.lineSegmentCount;
        if (part != boundPart_ || linesOnStream_ || (lastHadEdges_ && !hasEdges)) Bind(part);
        lastHadEdges_ = hasEdges;
    }
    device_->SetVertexShader(nullptr);
    device_->SetFVF(data_->vertexFormat);

    D3DXMATRIX subsetWorld = world_;
    D3DXMATRIX nodeMatrix;
    if (s.animationNode && model_->animation &&
        GetAnimationNodeMatrix(s.animationNode, object_->animationClip, object_->animationTime, &nodeMatrix))
    {
        subsetWorld = Multiply(nodeMatrix, world_);
        if (view_ && view_->animatedSubsetFlag) *view_->animatedSubsetFlag = 1;
    }
    else if (s.backFace && !mirrored_ && !stretched_ &&
             (!m || (!(m->flags & kTwoSidedFlag) && !object_->seeThrough)))
    {
        const float* p = s.backFacePlane;
        const float d =
            p[0] * model_->eyePoint[0] + p[1] * model_->eyePoint[1] + p[2] * model_->eyePoint[2] + p[3];
        if (d < 0.0f) return false;
    }
    SetWorldTransform(device_, nullptr, &subsetWorld);
    const bool front = b == 0;
    device_->SetRenderState(D3DRS_CULLMODE, (front != mirrored_) ? D3DCULL_CW : D3DCULL_CCW);

    context_.device = device_;
    context_.effect = nullptr;
    context_.validationTable = static_cast<StageValidationStruct_TYP*>(model_->validationTable);
    context_.object = object_;
    context_.displayMode = mode_;
    context_.view = view_;
    // The shadow computation's light map of this subset, drawn through the second coordinate set.
    const LightMapStruct_TYP* lightMap = object_->lightMaps ? object_->lightMaps[i] : nullptr;
    context_.lightMap = lightMap ? lightMap->texture : nullptr;
    context_.finalPass = pass_ ? pass_->finalPass : 0;
    context_.statesValid = 1;
    if (context_.lightMap != lastLightMap_) lastMaterial_ = nullptr;
    lastLightMap_ = context_.lightMap;
    if (mode_ == DisplayModeIdColoursAll || mode_ == DisplayModeIdColoursOpaque)
    {
        EncodeIdColour(object_->listIndex, i, &context_.identityColor);
        lastMaterial_ = nullptr;
    }
    if (m && m != lastMaterial_)
    {
        passCount_ = static_cast<int>(m->Apply(&context_, nullptr));
        lastMaterial_ = m;
    }

    std::vector<Object_*>* instances = object_->instances;
    const D3DXMATRIX* mirror = haveMirror_ ? &mirror_ : nullptr;
    if (s.faceCount)
    {
        if (s.hiddenEdges)
            DrawHiddenLineSubset(i, part, m, transparent);
        else if (s.silhouetteEdges)
            DrawSilhouette(i, part);
        else
        {
            const bool write = mode_ == DisplayModeMirrorMarking || mode_ == DisplayModeDepthOnly;
            bool test = pass_ && pass_->testStencil;
            DWORD reference = (pass_ && pass_->mirrorPlane) ? pass_->stencilReference : s.stencilGroup;
            if (HasDepthOnlyObjects(view_))
            {
                if (mode_ == DisplayModeDepthOnly)
                    reference = 1;
                else if (IsDepthOnlySurface(s.surfaceType))
                {
                    test = true;
                    reference = 0;
                }
            }
            else if (mode_ == DisplayModeDepthOnly)
                reference = 1;
            for (int k = 0; k < passCount_; ++k)
                part->DrawSubset(&context_, i, instances, mirror, write, test, reference);
        }
    }

    if (model_->lineVertexCount && s.lineSegmentCount && !s.hiddenEdges)
    {
        LKXMesh_* lines = Part(0);
        if (!lines) return true;
        if (lines->currentLineVertexBuffer)
        {
            // The faces' instance draws left the last instance's world on the device.
            if (s.faceCount && instances && !instances->empty())
                SetWorldTransform(device_, nullptr, &subsetWorld);
            device_->SetStreamSource(0, lines->currentLineVertexBuffer, 0, lines->vertexStride);
            lastHadEdges_ = true;
            linesOnStream_ = true;
            for (int k = 0; k < passCount_; ++k)
                lines->DrawLines(&context_, i, s.lineSegmentCount, instances, mirror);
        }
    }
    if (!context_.statesValid) object_->drawnValidly = 0;
    return true;
}

void ModelDraw_::DrawHiddenLineSubset(DWORD i, LKXMesh_* part, Material_* m, bool transparent)
{
    const SubsetStruct_TYP& s = model_->subsets[i];
    if (!(view_ && view_->edgesOnTransparentSubsets) && transparent) return;
    // Hidden lines fill the faces in the view's surface colour; shaded with edges keeps their material.
    if (mode_ != DisplayModeShadedWithEdges)
    {
        device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        D3DMATERIAL9 surface{};
        surface.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
        device_->SetMaterial(&surface);
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device_->SetRenderState(D3DRS_AMBIENT, view_ ? view_->surfaceColor : 0);
    }
    const bool test = HasDepthOnlyObjects(view_) && IsDepthOnlySurface(s.surfaceType);
    Bind(part);
    part->DrawSubset(&context_, i, object_->instances, nullptr, false, test, 0);

    D3DMATERIAL9 edge{};
    edge.Emissive = ColourFromArgb(view_ ? view_->edgeColor : 0);
    device_->SetMaterial(&edge);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    if (FillEdgeBuffer(s.hiddenEdges, size_t{8} * s.hiddenEdgeCount) && s.part < edgeVertexBuffers_.size())
    {
        device_->SetStreamSource(0, edgeVertexBuffers_[s.part], 0, model_->vertexStride);
        device_->SetIndices(edgeIndexBuffer_);
        part->DrawHiddenEdges(i);
    }
    if (m) device_->SetMaterial(&m->lastApplied);
    // Stage 0 was switched off for the edges: the next subset must apply its material again.
    lastMaterial_ = nullptr;
}

void ModelDraw_::DrawSilhouette(DWORD i, LKXMesh_* part)
{
    const SubsetStruct_TYP& s = model_->subsets[i];
    if (!FillEdgeBuffer(s.silhouetteEdges, size_t{4} * s.silhouetteEdgeCount)) return;
    if (s.part >= edgeVertexBuffers_.size()) return;
    device_->SetStreamSource(0, edgeVertexBuffers_[s.part], 0, model_->vertexStride);
    device_->SetIndices(edgeIndexBuffer_);
    const D3DXATTRIBUTERANGE* range = part->FindSubsetRange(i);
    if (!range) return;
    for (int k = 0; k < passCount_; ++k)
        device_->DrawIndexedPrimitive(D3DPT_LINELIST, 0, range->VertexStart, range->VertexCount, 0,
                                      s.silhouetteEdgeCount);
}
} // namespace

void SetWorldTransform(IDirect3DDevice9* device, ID3DXEffect* effect, const D3DXMATRIX* world)
{
    device->SetTransform(D3DTS_WORLD, world);
    if (!effect) return;
    D3DXHANDLE hWorld = effect->GetParameterByName(nullptr, "matWorld");
    D3DXHANDLE hWorldView = effect->GetParameterByName(nullptr, "matWorldView");
    D3DXHANDLE hWorldViewIT = effect->GetParameterByName(nullptr, "matWorldViewIT");
    D3DXHANDLE hViewIT = effect->GetParameterByName(nullptr, "matViewIT");
    D3DXHANDLE hWorldViewProj = effect->GetParameterByName(nullptr, "matWorldViewProj");
    D3DXMATRIX view, projection;
    device->GetTransform(D3DTS_VIEW, &view);
    device->GetTransform(D3DTS_PROJECTION, &projection);
    const D3DXMATRIX worldView = Multiply(*world, view);
    effect->SetMatrixTranspose(hWorld, world);
    effect->SetMatrixTranspose(hWorldView, &worldView);
    D3DXMATRIX inverse;
    if (D3DXMatrixInverse(&inverse, nullptr, &worldView)) effect->SetMatrix(hWorldViewIT, &inverse);
    if (D3DXMatrixInverse(&inverse, nullptr, &view)) effect->SetMatrix(hViewIT, &inverse);
    const D3DXMATRIX worldViewProjection = Multiply(worldView, projection);
    effect->SetMatrixTranspose(hWorldViewProj, &worldViewProjection);
    effect->CommitChanges();
}

int ApplyMaterialForDraw(Material_* material, PartDrawContextStruct_TYP* context)
{
    return material ? static_cast<int>(material->Apply(context, nullptr)) : 1;
}

void DeviceSpecificModelData_::Apply(void* view, void* pass)
{
    if (!CurrentGlobals || !device || !model) return;
    CurrentGlobals->GetDefaultMaterial();
    if (!model->currentObject || !model->currentObject->world) return;
    ModelDraw_ draw(this, static_cast<RenderViewStruct_TYP*>(view),
                    static_cast<PassContextStruct_TYP*>(pass));
    draw.Run();
}

void LKXMesh_::DrawSubset(PartDrawContextStruct_TYP* context, DWORD subsetIndex,
                          std::vector<Object_*>* instances, const D3DXMATRIX* mirror, bool writeStencil,
                          bool testStencil, DWORD reference)
{
    IDirect3DDevice9* d = context->device;
    if (writeStencil)
    {
        d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
        d->SetRenderState(D3DRS_STENCILREF, reference);
        d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_REPLACE);
        d->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
        d->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    }
    if (testStencil)
    {
        d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        d->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_EQUAL);
        d->SetRenderState(D3DRS_STENCILREF, reference);
        d->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_KEEP);
        d->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
        d->SetRenderState(D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP);
    }
    // Looked up by the subset's id: the table is sorted by attribute, not laid out by subset position.
    const D3DXATTRIBUTERANGE* range = FindSubsetRange(subsetIndex);
    if (!range) return;
    auto draw = [&]
    {
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, range->VertexStart, range->VertexCount,
                                3 * range->FaceStart, range->FaceCount);
    };
    draw();
    // Texture layers would draw here again, one draw per layer material; nothing adds a layer to a model.
    if (instances)
        for (Object_* instance : *instances)
        {
            if (!instance || !instance->world) continue;
            D3DXMATRIX world = *instance->world;
            if (mirror) world = Multiply(world, *mirror);
            SetWorldTransform(d, context->effect, &world);
            draw();
        }
    if (writeStencil || testStencil) d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
}

void LKXMesh_::DrawLines(PartDrawContextStruct_TYP* context, DWORD subsetIndex, DWORD lineCount,
                         std::vector<Object_*>* instances, const D3DXMATRIX* mirror)
{
    if (subsetIndex < firstSubsetIndex) return;
    const DWORD u = subsetIndex - firstSubsetIndex;
    if (u >= owner->lineSubsetCount || !owner->lineStarts) return;
    IDirect3DDevice9* d = context->device;
    d->DrawPrimitive(D3DPT_LINELIST, owner->lineStarts[u], lineCount);
    if (instances)
        for (Object_* instance : *instances)
        {
            if (!instance || !instance->world) continue;
            D3DXMATRIX world = *instance->world;
            if (mirror) world = Multiply(world, *mirror);
            SetWorldTransform(d, context->effect, &world);
            d->DrawPrimitive(D3DPT_LINELIST, owner->lineStarts[u], lineCount);
        }
}
} // namespace LMK
