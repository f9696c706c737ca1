#include "engine/scene/object.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/core/owned_array.h"
#include "engine/core/view.h"
#include "engine/render/render_records.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/model_draw_data.h"
#include "engine/scene/object_light.h"
#include "engine/scene/vertex_buffer_walk.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{

namespace
{
constexpr float kTurnAngle = 3.1415927f;
constexpr float kLargestDeterminant = 1e8f;
// Fewer faces than this never count as small on screen.
constexpr DWORD kSmallObjectFaces = 40;

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &a, &b);
    return m;
}

D3DXMATRIX TurnMatrix()
{
    D3DXMATRIX m;
    D3DXMatrixRotationZ(&m, kTurnAngle);
    return m;
}

// Takes model-space points into the space the bounds are kept in: world, or with a camera its
// projection space, with points before the near plane moved onto it.
struct BoundsTransform_
{
    D3DXMATRIX toWorld;
    bool projected = false;
    D3DXMATRIX worldView;
    D3DXMATRIX projection;
    float zNear = 0.0f;

    D3DXVECTOR3 Apply(const D3DXVECTOR3& p) const
    {
        D3DXVECTOR3 out;
        if (!projected)
        {
            D3DXVec3TransformCoord(&out, &p, &toWorld);
            return out;
        }
        D3DXVECTOR3 v;
        D3DXVec3TransformCoord(&v, &p, &worldView);
        // The view is right-handed: in front of the camera z is negative, the near plane at -zNear.
        if (v.z > -zNear) v.z = -zNear;
        D3DXVec3TransformCoord(&out, &v, &projection);
        return out;
    }
};

void ExtendWithVertices(Object_* object, IDirect3DVertexBuffer9* buffer, DWORD first, DWORD count,
                        const BoundsTransform_& transform)
{
    ForEachBufferPosition(buffer, first, count,
                          [&](const float* p) { object->ExtendBounds(transform.Apply(D3DXVECTOR3(p))); });
}
} // namespace

Object_* CreateObject(Model_* model, const D3DXMATRIX* placement, Material_* override, bool ignoreTurn)
{
    CountedPtr<Object_> object = NewCounted<Object_>(model, placement, override, ignoreTurn);
    if (object && !object->IsComplete()) return nullptr; // its owner releases what it made
    return object.release();
}

Object_::Object_(Model_* ownerModel, const D3DXMATRIX* placement, Material_* override, bool ignoreTurn)
    : model(ownerModel)
{
    model->AddRef();
    if (!ferolt::Allocated(
            [&]
            {
                model->users.push_back(this);
                userSlot_ = model->users.size() - 1;
            }))
        return;
    world = &matrixBlock_[0];
    inverseWorld = &matrixBlock_[1];
    baseMatrix = &matrixBlock_[2];
    extraMatrix = &matrixBlock_[3];
    for (int i = 0; i < 4; ++i)
        D3DXMatrixIdentity(&matrixBlock_[i]);
    const DWORD subsets = model->subsetCount;
    if (subsets)
    {
        overrides = NewArray<Material_*>(2 * size_t(subsets)); // the light maps' slots follow
        if (!overrides) return;
        lightMaps = reinterpret_cast<LightMapStruct_TYP**>(overrides.get() + subsets);
        std::uninitialized_value_construct_n(lightMaps, subsets);
        if (override)
            for (DWORD i = 0; i < subsets; ++i)
            {
                override->AddRef();
                overrides[i] = override;
            }
    }
    SetPlacement(placement, ignoreTurn);
    complete_ = true;
}

Object_::~Object_()
{
    // The users are not ordered: the last one takes this one's place.
    auto& users = model->users;
    if (userSlot_ < users.size() && users[userSlot_] == this)
    {
        users[userSlot_] = users.back();
        users[userSlot_]->userSlot_ = userSlot_;
        users.pop_back();
    }
    if (overrides)
    {
        for (DWORD i = 0; i < model->subsetCount; ++i)
            if (overrides[i]) overrides[i]->Release();
    }
    ReleaseLightMaps();
    for (Light_* light : attachedLights)
        if (light) light->Release();
    if (lightPointLights)
        for (DWORD i = 0; i < model->lightPointCount; ++i)
            if (lightPointLights[i]) lightPointLights[i]->Release();
    model->RemoveVariantUser(this);
    if (lampLight) lampLight->Release();
    model->Release();
    if (impostorAtlas) impostorAtlas->Release();
}

void Object_::Release()
{
    if (--refCount == 0) delete this;
}

void Object_::ReleaseLightMaps()
{
    if (!lightMaps) return;
    for (DWORD i = 0; i < model->subsetCount; ++i)
        ReleaseLightMap(i);
}

void Object_::SetPlacement(const D3DXMATRIX* placement, bool ignoreTurn)
{
    D3DXMATRIX m = *baseMatrix;
    if (!ignoreTurn && model->turned) m = Multiply(m, TurnMatrix());
    if (placement) m = Multiply(m, *placement);
    *world = m;
    float det = 0.0f;
    // A singular placement has no inverse; the identity keeps later transforms finite.
    if (!D3DXMatrixInverse(inverseWorld, &det, world)) D3DXMatrixIdentity(inverseWorld);
    determinant = det;
    if (std::fabs(determinant) > kLargestDeterminant)
    {
        D3DXMatrixIdentity(world);
        D3DXMatrixIdentity(inverseWorld);
        determinant = 1.0f;
    }
    boundsValid = 0;
}

void Object_::GetWorldMatrix(D3DXMATRIX* out) const
{
    D3DXMATRIX m = *extraMatrix;
    if (model->turned) m = Multiply(m, TurnMatrix());
    *out = Multiply(m, *world);
}

Material_* Object_::GetSubsetMaterial(DWORD subset, BYTE* fromModel)
{
    if (subset >= model->subsetCount) return nullptr;
    if (overrides && overrides[subset])
    {
        if (fromModel) *fromModel = 0;
        overrides[subset]->AddRef();
        return overrides[subset];
    }
    if (fromModel) *fromModel = 1;
    Material_* material = model->subsets[subset].material;
    if (material) material->AddRef();
    return material;
}

HRESULT Object_::SetSubsetMaterial(Material_* change, DWORD subset)
{
    if (subset >= model->subsetCount || !overrides) return E_FAIL;
    Material_*& slot = overrides[subset];
    Material_* source = slot ? slot : model->subsets[subset].material;
    if (source)
    {
        Material_* clone = source->Clone();
        if (!clone) return E_OUTOFMEMORY;
        if (slot) slot->Release();
        slot = clone;
    }
    MergeMaterialChange(&slot, change);
    if (impostorAtlas)
    {
        impostorAtlas->Release();
        impostorAtlas = nullptr;
    }
    return S_OK;
}

bool Object_::HasTransparency() const
{
    if (seeThrough) return true;
    for (DWORD i = 0; i < model->subsetCount; ++i)
    {
        const Material_* m = (overrides && overrides[i]) ? overrides[i] : model->subsets[i].material;
        if (m && !(m->material.Diffuse.a == 1.0f)) return true;
    }
    return false;
}

void Object_::ExtendBounds(const D3DXVECTOR3& p)
{
    const float v[3] = {p.x, p.y, p.z};
    for (int k = 0; k < 3; ++k)
    {
        boundsMin[k] = std::min(boundsMin[k], v[k]);
        boundsMax[k] = std::max(boundsMax[k], v[k]);
    }
}

void Object_::ComputeBounds(const D3DXMATRIX* extra, View_* camera)
{
    std::fill(std::begin(boundsMin), std::end(boundsMin), kEmptyBoxMin);
    std::fill(std::begin(boundsMax), std::end(boundsMax), kEmptyBoxMax);
    model->currentObject = this;
    model->currentObjectListIndex = listIndex;
    model->PrepareForObject(this);

    const D3DXMATRIX m = extra ? Multiply(*world, *extra) : *world;
    BoundsTransform_ transform;
    transform.toWorld = m;
    D3DXMATRIX view;
    if (camera && SUCCEEDED(camera->GetViewMatrix(&view)) && camera->projectionMatrix)
    {
        transform.projected = true;
        transform.worldView = Multiply(m, view);
        transform.projection = *camera->projectionMatrix;
        transform.zNear = camera->params.zNear;
    }

    LKXMesh_** parts = model->PrimaryParts();
    if (parts && !model->animation)
    {
        for (DWORD p = 0; p < model->partCount; ++p)
        {
            LKXMesh_* part = parts[p];
            if (!part) continue;
            if (p == 0 && model->lineVertexCount)
                ExtendWithVertices(this, part->currentLineVertexBuffer, 0, model->lineVertexCount, transform);
            if (part->mesh)
                ExtendWithVertices(this, part->currentVertexBuffer, 0, part->mesh->GetNumVertices(),
                                   transform);
        }
    }
    else if (parts)
    {
        for (DWORD i = 0; i < model->subsetCount; ++i)
        {
            const SubsetStruct_TYP& subset = model->subsets[i];
            LKXMesh_* part = subset.part < model->partCount ? parts[subset.part] : nullptr;
            const D3DXATTRIBUTERANGE* range = part ? part->FindSubsetRange(i) : nullptr;
            if (!range) continue;
            BoundsTransform_ subsetTransform = transform;
            D3DXMATRIX node;
            if (subset.animationNode &&
                GetAnimationNodeMatrix(subset.animationNode, animationClip, animationTime, &node))
            {
                subsetTransform.toWorld =
                    extra ? Multiply(Multiply(node, *world), *extra) : Multiply(node, *world);
                if (transform.projected) subsetTransform.worldView = Multiply(subsetTransform.toWorld, view);
            }
            ExtendWithVertices(this, part->currentVertexBuffer, range->VertexStart, range->VertexCount,
                               subsetTransform);
        }
    }

    float lengthSquared = 0.0f;
    for (int k = 0; k < 3; ++k)
    {
        boundsCentre[k] = (boundsMin[k] + boundsMax[k]) / 2.0f;
        const float d = boundsMax[k] - boundsMin[k];
        lengthSquared += d * d;
    }
    boundsRadius = std::sqrt(lengthSquared) / 2.0f;
    boundsValid = 1;
}

void Object_::GetBoundingBox(D3DXVECTOR3* minimum, D3DXVECTOR3* maximum)
{
    if (!boundsValid) ComputeBounds(nullptr, nullptr);
    *minimum = D3DXVECTOR3(boundsMin);
    *maximum = D3DXVECTOR3(boundsMax);
}

bool Object_::IsInFrustum(const std::vector<D3DXPLANE>* planes, const D3DXMATRIX* transform, float* depthNear,
                          float* depthFar)
{
    if (!planes || planes->empty()) return false;
    if (!boundsValid) ComputeBounds(nullptr, nullptr);
    D3DXVECTOR3 c(boundsCentre);
    if (transform) D3DXVec3TransformCoord(&c, &c, transform);
    const float r = boundsRadius;
    auto distance = [&c](const D3DXPLANE& p) { return p.a * c.x + p.b * c.y + p.c * c.z + p.d; };
    const bool depth = depthNear && depthFar;
    for (size_t i = depth ? 2 : 0; i < planes->size(); ++i)
        if (distance((*planes)[i]) < -r) return false;
    if (depth)
    {
        const float d0 = distance((*planes)[0]);
        *depthNear = d0 - r;
        *depthFar = d0 + r;
    }
    return true;
}

float Object_::GetScreenSize(DWORD width, DWORD height, View_* camera)
{
    if (!camera) return 0.0f;
    if (!boundsValid) ComputeBounds(nullptr, nullptr);
    D3DXMATRIX vp, inverse;
    if (FAILED(camera->GetViewProjectionMatrix(&vp)) || !D3DXMatrixInverse(&inverse, nullptr, &vp))
        return 0.0f;
    const float halfWidth = static_cast<float>(width) / 2.0f;
    const float halfHeight = static_cast<float>(height) / 2.0f;
    const D3DXVECTOR3 centre(boundsCentre);
    // Depth is judged before the perspective divide: behind the eye the divided depth turns positive
    // again, and the point would be measured mirrored.
    D3DXVECTOR3 p;
    auto project = [&vp](const D3DXVECTOR3& point, D3DXVECTOR3* out)
    {
        D3DXVECTOR4 h;
        D3DXVec3Transform(&h, &point, &vp);
        const float w = h.w != 0.0f ? h.w : 1.0f;
        *out = D3DXVECTOR3(h.x / w, h.y / w, h.z / w);
        return h.z;
    };
    if (project(centre, &p) < 0.0f)
    {
        float depth = -1.0f;
        for (int k = 0; k < 8 && depth <= 0.0f; ++k)
        {
            const D3DXVECTOR3 corner((k & 1) ? boundsMin[0] : boundsMax[0],
                                     (k & 2) ? boundsMin[1] : boundsMax[1],
                                     (k & 4) ? boundsMin[2] : boundsMax[2]);
            depth = project(corner, &p);
        }
        if (depth < 0.0f) return 0.0f;
    }
    D3DXVECTOR3 q(p.x, p.y + 1.0f, p.z);
    D3DXVec3TransformCoord(&q, &q, &inverse);
    D3DXVECTOR3 dir = q - centre;
    D3DXVec3Normalize(&dir, &dir);
    D3DXVECTOR3 s = centre + boundsRadius * dir;
    D3DXVec3TransformCoord(&s, &s, &vp);
    const float dx = (s.x - p.x) * halfWidth;
    const float dy = (s.y - p.y) * halfHeight;
    return 2.0f * std::sqrt(dx * dx + dy * dy);
}

bool Object_::IsSmallerOnScreenThan(float pixels, DWORD width, DWORD height, View_* camera)
{
    if (model->TotalFaceCount() < kSmallObjectFaces) return false;
    return GetScreenSize(width, height, camera) < pixels;
}

void Object_::OrientToCamera(View_* camera)
{
    if (!camera) return;
    D3DXVECTOR3 eye, target, up;
    camera->GetLookAt(&eye, &target, &up);
    D3DXVECTOR3 f = target - eye;
    D3DXVec3Normalize(&f, &f);
    D3DXVECTOR3 u;
    D3DXVec3Normalize(&u, &up);
    D3DXVECTOR3 side;
    D3DXVec3Cross(&side, &f, &u);
    const D3DXMATRIX r(side.x, side.y, side.z, 0.0f, f.x, f.y, f.z, 0.0f, u.x, u.y, u.z, 0.0f, 0.0f, 0.0f,
                       0.0f, 1.0f);
    D3DXMATRIX to, back;
    D3DXMatrixTranslation(&to, -boundsCentre[0], -boundsCentre[1], -boundsCentre[2]);
    D3DXMatrixTranslation(&back, boundsCentre[0], boundsCentre[1], boundsCentre[2]);
    *world = Multiply(Multiply(Multiply(*world, to), r), back);
    float det = 0.0f;
    if (!D3DXMatrixInverse(inverseWorld, &det, world)) D3DXMatrixIdentity(inverseWorld);
    determinant = det;
}

HRESULT Object_::Draw(BackBufferPart_* part, const D3DXVECTOR3* eye, DWORD mode, RenderViewStruct_TYP* view,
                      Light_* light, PassContextStruct_TYP* pass)
{
    if (!model) return E_FAIL;
    const bool orient = cameraFacing && view && view->camera;
    D3DXMATRIX savedWorld, savedInverse;
    const float savedDeterminant = determinant;
    if (orient)
    {
        savedWorld = *world;
        savedInverse = *inverseWorld;
        OrientToCamera(view->camera);
    }
    D3DXVECTOR3 modelEye;
    if (eye) D3DXVec3TransformCoord(&modelEye, eye, inverseWorld);
    const HRESULT result =
        model->DrawForObject(part, this, eye ? &modelEye : nullptr, mode, view, light, pass);
    if (orient)
    {
        *world = savedWorld;
        *inverseWorld = savedInverse;
        determinant = savedDeterminant;
    }
    return result;
}

void Object_::PushMirrorOverrides(bool firstList)
{
    for (MirrorOverrideStruct_TYP& record : firstList ? mirrorOverrides1 : mirrorOverrides2)
    {
        if (record.subset >= model->subsetCount) continue;
        SubsetStruct_TYP& subset = model->subsets[record.subset];
        record.savedSurfaceType = subset.surfaceType;
        record.savedSpecialSurface = subset.specialSurface;
        std::copy(std::begin(subset.surfacePlane), std::end(subset.surfacePlane), record.savedSurfacePlane);
        subset.surfaceType = 0x80000000;
        subset.specialSurface = 1;
        std::copy(std::begin(record.plane), std::end(record.plane), subset.surfacePlane);
    }
}

void Object_::PopMirrorOverrides(bool firstList)
{
    for (MirrorOverrideStruct_TYP& record : firstList ? mirrorOverrides1 : mirrorOverrides2)
    {
        if (record.subset >= model->subsetCount) continue;
        SubsetStruct_TYP& subset = model->subsets[record.subset];
        subset.surfaceType = record.savedSurfaceType;
        subset.specialSurface = record.savedSpecialSurface;
        std::copy(std::begin(record.savedSurfacePlane), std::end(record.savedSurfacePlane),
                  subset.surfacePlane);
    }
}
} // namespace LMK
