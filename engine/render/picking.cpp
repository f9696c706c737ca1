#include "engine/render/picking.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/render_lock.h"
#include "engine/core/material.h"
#include "engine/core/resource_links.h"
#include "engine/core/view.h"
#include "engine/render/portal_cell.h"
#include "engine/render/render_records.h"
#include "engine/scene/model.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/model_draw_data.h"
#include "engine/scene/object.h"
#include "platform/d3dx9/d3dx9.h"
#include "platform/win32/winuser.h"

namespace LMK
{
namespace
{
constexpr float kNoDistanceNearest = 1e20f;
constexpr float kNoDistanceFarthest = -1e20f;

bool IsFinite(const D3DXVECTOR3& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

D3DXMATRIX Multiply(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX out;
    D3DXMatrixMultiply(&out, &a, &b);
    return out;
}

// A ray in the space of one transform (the object's world, or a node's matrix times it), with the
// transform back to world space and the section plane's distance along it.
struct PickRay_
{
    D3DXVECTOR3 origin;
    D3DXVECTOR3 direction;
    D3DXMATRIX toWorld;
    float planeDistance;
};

// The ray through (x, y) from the near to the far end of the view, in the space that toWorld maps from.
bool MakeRay(const D3DXMATRIX& toWorld, const D3DXMATRIX& viewProjection, float x, float y, PickRay_* ray)
{
    const D3DXMATRIX toClip = Multiply(toWorld, viewProjection);
    D3DXMATRIX inverse;
    if (!D3DXMatrixInverse(&inverse, nullptr, &toClip)) return false;
    const D3DXVECTOR3 nearEnd(x, y, 0.0f), farEnd(x, y, 1.0f);
    D3DXVECTOR3 first, second;
    D3DXVec3TransformCoord(&first, &nearEnd, &inverse);
    D3DXVec3TransformCoord(&second, &farEnd, &inverse);
    D3DXVECTOR3 direction = second - first;
    if (!IsFinite(first) || !IsFinite(direction) || D3DXVec3Length(&direction) == 0.0f) return false;
    D3DXVec3Normalize(&ray->direction, &direction);
    ray->origin = first;
    ray->toWorld = toWorld;
    ray->planeDistance = 0.0f;
    return true;
}

bool ProbeBox(const float box[6], const PickRay_& ray)
{
    const D3DXVECTOR3 minimum(box[0], box[1], box[2]), maximum(box[3], box[4], box[5]);
    return D3DXBoxBoundProbe(&minimum, &maximum, &ray.origin, &ray.direction) != FALSE;
}

// The section plane as it acts on one pick. Where the line of sight meets the plane ahead of the eye the
// plane cuts the ray there; met behind the eye, the ray lies wholly on one side.
struct SectionClip_
{
    bool active = false;
    bool eyeBehind = false;
    bool everythingClipped = false;
    D3DXVECTOR3 crossing{};
};

SectionClip_ MakeSectionClip(const float* plane, const D3DXVECTOR3& eye, const D3DXVECTOR3& sightDirection)
{
    SectionClip_ clip;
    if (!plane) return clip;
    const D3DXPLANE p(plane[0], plane[1], plane[2], plane[3]);
    clip.eyeBehind = D3DXPlaneDotCoord(&p, &eye) < 0.0f;
    // The line of sight is taken along the view ray rather than from the eye to the picked point: for an
    // orthographic camera the eye is moved onto that point and the two would coincide.
    const D3DXVECTOR3 ahead = eye + sightDirection;
    D3DXVECTOR3 crossing;
    if (!D3DXPlaneIntersectLine(&crossing, &p, &eye, &ahead) || !IsFinite(crossing)) return clip; // parallel
    const D3DXVECTOR3 toCrossing = crossing - eye;
    if (D3DXVec3Dot(&toCrossing, &sightDirection) >= 0.0f)
    {
        clip.active = true;
        clip.crossing = crossing;
    }
    else if (clip.eyeBehind)
        clip.everythingClipped = true;
    return clip;
}

// Signed, so that a plane crossed between the eye and the near end still sorts before every hit.
float PlaneDistanceAlong(const SectionClip_& clip, const PickRay_& ray)
{
    D3DXMATRIX inverse;
    if (!D3DXMatrixInverse(&inverse, nullptr, &ray.toWorld)) return 0.0f;
    D3DXVECTOR3 local;
    D3DXVec3TransformCoord(&local, &clip.crossing, &inverse);
    const D3DXVECTOR3 offset = local - ray.origin;
    return D3DXVec3Dot(&offset, &ray.direction);
}

bool KeptBySection(const SectionClip_& clip, const PickRay_& ray, float t)
{
    if (!clip.active) return true;
    return clip.eyeBehind ? !(t < ray.planeDistance) : t < ray.planeDistance;
}

// Holds one mesh part's buffers locked while its subsets are tested. With a geometry variant the
// contents of the current and base vertex buffers are exchanged so that D3DX, which reads the base
// buffer, sees the current object's vertices; the exchange is undone when the part is let go.
class PartLock_
{
public:
    PartLock_() = default;
    PartLock_(const PartLock_&) = delete;
    PartLock_& operator=(const PartLock_&) = delete;
    ~PartLock_() { Release(); }

    bool Use(LKXMesh_* part, DWORD stride)
    {
        if (part == part_) return ready_;
        Release();
        part_ = part;
        if (!part->mesh || !part->indexBuffer || !part->baseVertexBuffer) return false;
        if (FAILED(part->indexBuffer->Lock(0, 0, &lock_.indexData, D3DLOCK_READONLY)) || !lock_.indexData)
            return false;
        lock_.indexBuffer = part->indexBuffer;
        if (FAILED(part->baseVertexBuffer->Lock(0, 0, &lock_.vertices.data, D3DLOCK_READONLY)) ||
            !lock_.vertices.data)
            return false;
        lock_.vertices.buffer = part->baseVertexBuffer;
        if (part->currentVertexBuffer && part->currentVertexBuffer != part->baseVertexBuffer)
        {
            part->SwapVertexBuffers(&lock_.vertices);
            swapped_ = true;
            if (!lock_.vertices.data) return false;
        }
        D3DINDEXBUFFER_DESC indexDesc{};
        D3DVERTEXBUFFER_DESC vertexDesc{};
        if (FAILED(part->indexBuffer->GetDesc(&indexDesc)) ||
            FAILED(part->baseVertexBuffer->GetDesc(&vertexDesc)))
            return false;
        indexSize_ = indexDesc.Format == D3DFMT_INDEX32 ? 4 : 2;
        indexBytes_ = indexDesc.Size;
        vertexBytes_ = vertexDesc.Size;
        stride_ = stride;
        ready_ = stride_ >= 3 * sizeof(float);
        return ready_;
    }

    // The three positions of a face of the locked part; false when the face or a vertex lies outside the
    // buffers.
    bool FacePositions(DWORD face, D3DXVECTOR3 out[3]) const
    {
        if (!ready_) return false;
        const size_t first = size_t(face) * 3 * indexSize_;
        if (first + 3 * size_t(indexSize_) > indexBytes_) return false;
        const BYTE* indices = static_cast<const BYTE*>(lock_.indexData) + first;
        for (int c = 0; c < 3; ++c)
        {
            DWORD index = 0;
            if (indexSize_ == 4)
                std::memcpy(&index, indices + 4 * c, 4);
            else
            {
                WORD small = 0;
                std::memcpy(&small, indices + 2 * c, 2);
                index = small;
            }
            const size_t offset = size_t(index) * stride_;
            if (offset + 3 * sizeof(float) > vertexBytes_) return false;
            std::memcpy(&out[c], static_cast<const BYTE*>(lock_.vertices.data) + offset, 3 * sizeof(float));
        }
        return true;
    }

    void Release()
    {
        if (swapped_ && part_ && lock_.vertices.data) part_->SwapVertexBuffers(&lock_.vertices);
        swapped_ = false;
        UnlockMeshBuffers(&lock_);
        part_ = nullptr;
        ready_ = false;
    }

private:
    MeshLockStruct_TYP lock_{};
    LKXMesh_* part_ = nullptr;
    bool swapped_ = false;
    bool ready_ = false;
    DWORD indexSize_ = 2;
    size_t indexBytes_ = 0;
    size_t vertexBytes_ = 0;
    DWORD stride_ = kModelVertexStride;
};

// The material a subset is drawn with for the object.
Material_* EffectiveMaterial(const Object_* object, const SubsetStruct_TYP& subset, DWORD index)
{
    if (object->overrides && object->overrides[index]) return object->overrides[index];
    if (subset.material) return subset.material;
    return CurrentGlobals ? CurrentGlobals->defaultMaterial : nullptr;
}

DeviceSpecificModelData_* PickingData(const Model_* model)
{
    // The primary device's copy always exists while the model does; other copies come and go with their
    // devices. Every copy holds the same geometry, and PrepareForObject selects the variant in all of them.
    auto* data = static_cast<DeviceSpecificModelData_*>(model->primaryData.get());
    return data && data->parts && data->partCount ? data : nullptr;
}
} // namespace

void UnlockMeshBuffers(MeshLockStruct_TYP* lock)
{
    if (!lock) return;
    if (lock->indexBuffer && lock->indexData) lock->indexBuffer->Unlock();
    lock->indexBuffer = nullptr;
    lock->indexData = nullptr;
    if (lock->vertices.buffer && lock->vertices.data) lock->vertices.buffer->Unlock();
    lock->vertices.buffer = nullptr;
    lock->vertices.data = nullptr;
}

HRESULT Model_::GetFaceVertices(DWORD subsetIndex, DWORD face, bool current,
                                ModelVertexStruct_TYP vertices[3])
{
    DeviceSpecificModelData_* data = PickingData(this);
    if (!data || !vertices || subsetIndex >= subsetCount) return E_FAIL;
    const DWORD partIndex = subsets[subsetIndex].part;
    if (partIndex >= data->partCount) return E_FAIL;
    LKXMesh_* part = data->parts[partIndex];
    if (!part || !part->mesh || face >= part->mesh->GetNumFaces()) return E_FAIL;
    IDirect3DVertexBuffer9* buffer = current ? part->currentVertexBuffer : part->baseVertexBuffer;
    if (!buffer || !part->indexBuffer) return E_FAIL;

    D3DVERTEXBUFFER_DESC vertexDesc{};
    D3DINDEXBUFFER_DESC indexDesc{};
    if (FAILED(buffer->GetDesc(&vertexDesc)) || FAILED(part->indexBuffer->GetDesc(&indexDesc))) return E_FAIL;
    const DWORD stride = vertexStride ? vertexStride : part->vertexStride;
    const size_t indexSize = indexDesc.Format == D3DFMT_INDEX32 ? 4 : 2;
    if (stride < sizeof(ModelVertexStruct_TYP) || (size_t(face) + 1) * 3 * indexSize > indexDesc.Size)
        return E_FAIL;

    void* vertexData = nullptr;
    void* indexData = nullptr;
    if (FAILED(buffer->Lock(0, 0, &vertexData, D3DLOCK_READONLY)) || !vertexData) return E_FAIL;
    if (FAILED(part->indexBuffer->Lock(0, 0, &indexData, D3DLOCK_READONLY)) || !indexData)
    {
        buffer->Unlock();
        return E_FAIL;
    }
    HRESULT result = S_OK;
    const BYTE* indices = static_cast<const BYTE*>(indexData) + size_t(face) * 3 * indexSize;
    for (int c = 0; c < 3 && result == S_OK; ++c)
    {
        DWORD index = 0;
        if (indexSize == 4)
            std::memcpy(&index, indices + 4 * c, 4);
        else
        {
            WORD small = 0;
            std::memcpy(&small, indices + 2 * c, 2);
            index = small;
        }
        const size_t offset = size_t(index) * stride;
        if (offset + sizeof(ModelVertexStruct_TYP) > vertexDesc.Size)
            result = E_FAIL;
        else
            std::memcpy(&vertices[c], static_cast<const BYTE*>(vertexData) + offset,
                        sizeof(ModelVertexStruct_TYP));
    }
    part->indexBuffer->Unlock();
    buffer->Unlock();
    return result;
}

namespace
{
// What one pick asks, in world space: the eye, the ray through the point and the section plane's clip.
struct PickRequest_
{
    D3DXVECTOR3 eye;
    D3DXMATRIX viewProjection;
    float x = 0.0f, y = 0.0f;
    PickRay_ worldRay;
    SectionClip_ clip;
};

bool MakePickRequest(View_* camera, bool partProjection, const float* sectionPlane, const float* point,
                     PickRequest_* r)
{
    camera->GetLookAt(&r->eye, nullptr, nullptr);
    const HRESULT matrices = partProjection ? camera->GetViewPartProjectionMatrix(&r->viewProjection)
                                            : camera->GetViewProjectionMatrix(&r->viewProjection);
    D3DXMATRIX inverseViewProjection;
    if (FAILED(matrices) || !D3DXMatrixInverse(&inverseViewProjection, nullptr, &r->viewProjection))
        return false;

    r->x = point[0];
    r->y = point[1];
    const D3DXVECTOR3 request(r->x, r->y, point[2]);
    D3DXVECTOR3 requestWorld;
    D3DXVec3TransformCoord(&requestWorld, &request, &inverseViewProjection);
    if (camera->params.orthographic) r->eye = requestWorld; // parallel rays: each starts at its own point

    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    if (!MakeRay(identity, r->viewProjection, r->x, r->y, &r->worldRay)) return false;
    r->clip = MakeSectionClip(sectionPlane, r->eye, r->worldRay.direction);
    return !r->clip.everythingClipped;
}

// The ray every subset of an unanimated object shares, when it meets the object's current box (which
// covers the stretched geometry too); an animated object is tested against its world box, each subset
// then gets its own ray.
bool MakeObjectRay(const PickRequest_& r, Model_* model, Object_* object, bool animated, PickRay_* modelRay)
{
    if (animated)
    {
        D3DXVECTOR3 minimum, maximum;
        object->GetBoundingBox(&minimum, &maximum);
        return D3DXBoxBoundProbe(&minimum, &maximum, &r.eye, &r.worldRay.direction) != FALSE;
    }
    if (!MakeRay(*object->world, r.viewProjection, r.x, r.y, modelRay)) return false;
    if (!ProbeBox(model->currentBox, *modelRay)) return false;
    if (r.clip.active) modelRay->planeDistance = PlaneDistanceAlong(r.clip, *modelRay);
    return true;
}

bool MakeSubsetRay(const PickRequest_& r, Object_* object, const SubsetStruct_TYP& subset, PickRay_* ray)
{
    D3DXMATRIX transform = *object->world;
    D3DXMATRIX node;
    if (subset.animationNode &&
        GetAnimationNodeMatrix(subset.animationNode, object->animationClip, object->animationTime, &node))
        transform = Multiply(node, *object->world);
    if (!MakeRay(transform, r.viewProjection, r.x, r.y, ray)) return false;
    if (r.clip.active) ray->planeDistance = PlaneDistanceAlong(r.clip, *ray);
    return true;
}

// The best hit so far over a model's subsets.
struct PickBest_
{
    bool farthest = false;
    bool animated = false;
    D3DXVECTOR3 eye;
    float best = kNoDistanceNearest;
    bool found = false;
    DWORD face = 0, subset = 0;
    float u = 0.0f, v = 0.0f, distance = 0.0f;
    D3DXVECTOR3 point{0.0f, 0.0f, 0.0f};

    // Nearest: ray distance without an animation, world distance with one (each subset has its own ray).
    void Consider(const PickRay_& ray, DWORD subsetIndex, float t, DWORD hitFace, float hitU, float hitV)
    {
        D3DXVECTOR3 local = ray.origin + ray.direction * t, world;
        D3DXVec3TransformCoord(&world, &local, &ray.toWorld);
        const D3DXVECTOR3 fromEye = world - eye;
        const float worldDistance = D3DXVec3Length(&fromEye);
        const float measure = animated ? worldDistance : t;
        if (!(farthest ? !(measure < best) : measure < best)) return;
        best = measure;
        found = true;
        face = hitFace;
        u = hitU;
        v = hitV;
        subset = subsetIndex;
        point = world;
        distance = worldDistance;
    }
};

// The subset's hits on one part: the first one alone when nothing can reject it, else every hit through
// the section clip and, for one-sided materials, the back-face test.
void IntersectSubset(LKXMesh_* part, DWORD index, const PickRay_& ray, const SectionClip_& clip,
                     bool backFaceTest, const PartLock_& lock, PickBest_* best)
{
    BOOL any = FALSE;
    DWORD firstFace = 0;
    float firstU = 0.0f, firstV = 0.0f, firstT = 0.0f;
    if (!clip.active && !best->farthest && !backFaceTest)
    {
        if (SUCCEEDED(D3DXIntersectSubset(part->mesh, index, &ray.origin, &ray.direction, &any, &firstFace,
                                          &firstU, &firstV, &firstT, nullptr, nullptr)) &&
            any)
            best->Consider(ray, index, firstT, firstFace, firstU, firstV);
        return;
    }
    ID3DXBuffer* all = nullptr;
    DWORD count = 0;
    if (FAILED(D3DXIntersectSubset(part->mesh, index, &ray.origin, &ray.direction, &any, &firstFace, &firstU,
                                   &firstV, &firstT, &all, &count)) ||
        !all)
    {
        if (all) all->Release();
        return;
    }
    const DWORD stored = all->GetBufferSize() / sizeof(D3DXINTERSECTINFO);
    const auto* hits = static_cast<const D3DXINTERSECTINFO*>(all->GetBufferPointer());
    for (DWORD k = 0; k < std::min(count, stored); ++k)
    {
        const D3DXINTERSECTINFO& info = hits[k];
        if (!KeptBySection(clip, ray, info.Dist)) continue;
        if (backFaceTest)
        {
            D3DXVECTOR3 corners[3];
            if (!lock.FacePositions(info.FaceIndex, corners)) continue;
            D3DXVECTOR3 normal;
            const D3DXVECTOR3 e1 = corners[1] - corners[0], e2 = corners[2] - corners[0];
            D3DXVec3Cross(&normal, &e1, &e2);
            if (D3DXVec3Dot(&ray.direction, &normal) > 0.0f) continue;
        }
        best->Consider(ray, index, info.Dist, info.FaceIndex, info.U, info.V);
    }
    all->Release();
}
} // namespace

void Model_::Pick(bool farthest, View_* camera, bool partProjection, const float* sectionPlane,
                  const float* point, bool skipTransparent, BYTE* hit, float* distance, DWORD* subsetOut,
                  DWORD* subsetValue, float* hitPoint, DWORD* face, float* u, float* v)
{
    if (hit) *hit = 0;
    Object_* object = currentObject;
    if (noPick || !object || !object->world || !camera || !point) return;
    PickRequest_ request;
    if (!MakePickRequest(camera, partProjection, sectionPlane, point, &request)) return;

    DeviceSpecificModelData_* data = PickingData(this);
    if (!data) return;
    if (CurrentGlobals) CurrentGlobals->GetDefaultMaterial();

    const bool animated = animation != nullptr;
    PickRay_ modelRay{};
    if (!MakeObjectRay(request, this, object, animated, &modelRay)) return;

    PickBest_ best;
    best.farthest = farthest;
    best.animated = animated;
    best.eye = request.eye;
    best.best = farthest ? kNoDistanceFarthest : kNoDistanceNearest;
    const DWORD stride = vertexStride ? vertexStride : kModelVertexStride;
    PartLock_ lock;
    for (DWORD i = 0; i < subsetCount; ++i)
    {
        const SubsetStruct_TYP& subset = subsets[i];
        Material_* material = EffectiveMaterial(object, subset, i);
        if (skipTransparent && (object->seeThrough || (material && material->IsTransparent()))) continue;
        const bool backFaceTest = !farthest && material && !(material->flags & kMaterialTwoSided);

        PickRay_ ray = modelRay;
        if (animated && !MakeSubsetRay(request, object, subset, &ray)) continue;
        if (!farthest && subset.backFace && object->stretchPlanes.empty() && (!material || backFaceTest))
        {
            const D3DXPLANE plane(subset.backFacePlane[0], subset.backFacePlane[1], subset.backFacePlane[2],
                                  subset.backFacePlane[3]);
            if (D3DXPlaneDotCoord(&plane, &ray.origin) < 0.0f) continue;
        }
        if (!ProbeBox(subset.currentBox, ray)) continue;
        if (subset.part >= data->partCount) continue;
        LKXMesh_* part = data->parts[subset.part];
        if (!part || !part->mesh) continue;
        if (!lock.Use(part, stride)) continue;
        IntersectSubset(part, i, ray, request.clip, backFaceTest, lock, &best);
    }
    lock.Release();

    if (!best.found) return;
    if (hit) *hit = 1;
    if (distance) *distance = best.distance;
    if (subsetOut) *subsetOut = best.subset;
    if (subsetValue) *subsetValue = subsets[best.subset].value;
    if (hitPoint)
    {
        hitPoint[0] = best.point.x;
        hitPoint[1] = best.point.y;
        hitPoint[2] = best.point.z;
    }
    if (face) *face = best.face;
    if (u) *u = best.u;
    if (v) *v = best.v;
}

void Object_::Pick(bool farthest, View_* camera, bool partProjection, const float* sectionPlane,
                   const float* point, bool skipTransparent, BYTE* hit, float* distance, DWORD* subset,
                   DWORD* subsetValue, float* hitPoint, DWORD* face, float* u, float* v)
{
    if (hit) *hit = 0;
    if (!model) return;
    const bool orient = cameraFacing && camera;
    D3DXMATRIX savedWorld, savedInverse;
    const float savedDeterminant = determinant;
    if (orient)
    {
        // The turn is about the bounds' centre, which a pick may be the first to need.
        if (!boundsValid) ComputeBounds(nullptr, nullptr);
        savedWorld = *world;
        savedInverse = *inverseWorld;
        OrientToCamera(camera);
    }
    model->currentObject = this;
    model->currentObjectListIndex = listIndex;
    model->PrepareForObject(this);
    model->Pick(farthest, camera, partProjection, sectionPlane, point, skipTransparent, hit, distance, subset,
                subsetValue, hitPoint, face, u, v);
    if (orient)
    {
        *world = savedWorld;
        *inverseWorld = savedInverse;
        determinant = savedDeterminant;
    }
}
} // namespace LMK

using namespace LMK;

HRESULT LRPick(bool farthest, View_* camera, bool partProjection, const float* sectionPlane,
               PortalCell_* cell, DWORD count, Object_** objects, const float* point, bool skipTransparent,
               BYTE* hit, DWORD* objectIndex, DWORD* subset, DWORD* face, float* barycentric,
               float* textureCoordinate, Material_** material, DWORD* subsetValue, float* hitPoint)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!camera || !hit || !point || (count && !objects)) return E_INVALIDARG;
    RenderLock_ lock(CurrentGlobals);

    *hit = 0;
    if (material) *material = nullptr;
    float best = farthest ? kNoDistanceFarthest : kNoDistanceNearest;

    if (cell)
        cell->ComputeVisibility(camera, objects, count);
    else
        for (DWORD i = 0; i < count; ++i)
            if (objects[i]) objects[i]->visible = 1;

    DWORD bestObject = 0, bestSubset = 0, bestFace = 0;
    float bestU = 0.0f, bestV = 0.0f;
    for (DWORD i = 0; i < count; ++i)
    {
        Object_* object = objects[i];
        if (!object || !object->visible) continue;
        BYTE objectHit = 0;
        float d = 0.0f, hu = 0.0f, hv = 0.0f;
        DWORD s = 0, f = 0, value = 0;
        float where[3] = {};
        object->Pick(farthest, camera, partProjection, sectionPlane, point, skipTransparent, &objectHit, &d,
                     &s, &value, where, &f, &hu, &hv);
        if (!objectHit) continue;
        *hit = 1;
        if (farthest ? d < best : !(d < best)) continue;
        best = d;
        bestObject = i;
        bestSubset = s;
        bestFace = f;
        bestU = hu;
        bestV = hv;
        if (subsetValue) *subsetValue = value;
        if (hitPoint) std::copy(std::begin(where), std::end(where), hitPoint);
        if (material)
        {
            if (*material) ReleaseMaterial(material);
            *material = object->GetSubsetMaterial(s, nullptr);
        }
    }

    if (objectIndex) *objectIndex = bestObject;
    if (subset) *subset = bestSubset;
    if (face) *face = bestFace;
    if (barycentric)
    {
        barycentric[0] = bestU;
        barycentric[1] = bestV;
    }
    if (textureCoordinate)
    {
        textureCoordinate[0] = 0.0f;
        textureCoordinate[1] = 0.0f;
        Object_* object = *hit ? objects[bestObject] : nullptr;
        ModelVertexStruct_TYP corners[3];
        if (object && object->model)
        {
            object->model->PrepareForObject(object);
            if (SUCCEEDED(object->model->GetFaceVertices(bestSubset, bestFace, true, corners)))
                for (int c = 0; c < 2; ++c)
                    textureCoordinate[c] = corners[0].tex0[c] +
                                           bestU * (corners[1].tex0[c] - corners[0].tex0[c]) +
                                           bestV * (corners[2].tex0[c] - corners[0].tex0[c]);
        }
    }
    return S_OK;
}

HRESULT LRPickAtScreenPoint(RenderViewStruct_TYP* view, DWORD count, Object_** objects, POINT* screenPoint,
                            bool skipTransparent, BYTE* hit, DWORD* objectIndex, DWORD* subset, DWORD* face,
                            float* barycentric, float* textureCoordinate, Material_** material,
                            DWORD* subsetValue, float* hitPoint)
{
    if (!view || !view->backBuffer || !view->camera || !screenPoint || !hit) return E_INVALIDARG;
    *hit = 0;
    if (objectIndex) *objectIndex = 0;
    RECT client{};
    if (!GetClientRect(view->backBuffer->window, &client)) return E_FAIL;
    POINT corner{client.left, client.top};
    ClientToScreen(view->backBuffer->window, &corner);
    const LONG width = client.right - client.left, height = client.bottom - client.top;
    // An empty client area has no point to map; dividing by its size would cast a ray of NaNs.
    if (width <= 0 || height <= 0) return E_FAIL;
    const float point[3] = {2.0f * float(screenPoint->x - corner.x) / float(width) - 1.0f,
                            2.0f * float(screenPoint->y - corner.y) / float(height) - 1.0f, 0.0f};
    const float* plane = view->sectionPlane ? &view->sectionPlane->a : nullptr;
    return LRPick(false, view->camera, false, plane, view->portalCell, count, objects, point, skipTransparent,
                  hit, objectIndex, subset, face, barycentric, textureCoordinate, material, subsetValue,
                  hitPoint);
}
