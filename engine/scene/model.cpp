#include "engine/scene/model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/material.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/model_draw_data.h"
#include "engine/scene/object.h"
#include "engine/scene/progressive_mesh.h"
#include "engine/scene/vertex_buffer_walk.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
void EmptyBox(float box[6])
{
    box[0] = box[1] = box[2] = kEmptyBoxMin;
    box[3] = box[4] = box[5] = kEmptyBoxMax;
}

void ExtendBox(float box[6], const float* p)
{
    for (int k = 0; k < 3; ++k)
    {
        box[k] = std::min(box[k], p[k]);
        box[3 + k] = std::max(box[3 + k], p[k]);
    }
}

// A copy of n bytes kept in *store, or null (nothing kept) without a source or when memory runs out.
char* KeepBytes(std::vector<char>* store, const char* source, size_t n)
{
    store->clear();
    if (!source) return nullptr;
    if (!ferolt::Allocated([&] { store->assign(source, source + n); })) return nullptr;
    return store->data();
}

// Every copy of the model, the primary one first.
template <class F> void ForEachCopy(Model_* model, F&& f)
{
    if (model->primaryData) f(static_cast<DeviceSpecificModelData_*>(model->primaryData.get()));
    for (DeviceSpecificDataContainer_* other : model->secondaryData)
        f(static_cast<DeviceSpecificModelData_*>(other));
}

// Extends box with the positions of count 40-byte vertices of a buffer, from vertex first.
void ExtendWithBuffer(float box[6], IDirect3DVertexBuffer9* buffer, DWORD first, DWORD count)
{
    ForEachBufferPosition(buffer, first, count, [box](const float* p) { ExtendBox(box, p); });
}
} // namespace

ModelBuildInputStruct_TYP MeshBuildInput(const std::vector<RawVertexStruct_TYP>& vertices,
                                         const std::vector<DWORD>& indices,
                                         const std::vector<SubsetStruct_TYP>& subsets)
{
    return {.vertices = vertices.empty() ? nullptr : vertices.data(),
            .vertexCount = static_cast<DWORD>(vertices.size()),
            .indices = indices.empty() ? nullptr : indices.data(),
            .faceCount = static_cast<DWORD>(indices.size() / 3),
            .subsets = subsets.empty() ? nullptr : subsets.data(),
            .subsetCount = static_cast<DWORD>(subsets.size())};
}

bool AreStretchPlanesEqual(const std::vector<StretchPlaneStruct_TYP>& a,
                           const std::vector<StretchPlaneStruct_TYP>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        const StretchPlaneStruct_TYP& p = a[i];
        const StretchPlaneStruct_TYP& q = b[i];
        if (p.plane[0] != q.plane[0] || p.plane[1] != q.plane[1] || p.plane[2] != q.plane[2] ||
            p.plane[3] != q.plane[3] || p.innerWidth != q.innerWidth ||
            p.stretchedWidth != q.stretchedWidth || p.flag != q.flag)
            return false;
    }
    return true;
}

void ApplyStretchPlane(DWORD vertexCount, const StretchPlaneStruct_TYP& plane, const BYTE* source,
                       BYTE* destination, const BYTE* measured)
{
    const float h = plane.innerWidth / 2.0f;
    const float scale = (plane.stretchedWidth - plane.innerWidth) / 2.0f;
    const float shift[3] = {scale * plane.plane[0], scale * plane.plane[1], scale * plane.plane[2]};
    for (DWORD i = 0; i < vertexCount; ++i)
    {
        const size_t offset = size_t(i) * kModelVertexStride;
        const float* m = reinterpret_cast<const float*>(measured + offset);
        const float s =
            plane.plane[0] * m[0] + plane.plane[1] * m[1] + plane.plane[2] * m[2] + plane.plane[3];
        if (source != destination) std::memcpy(destination + offset, source + offset, kModelVertexStride);
        float* p = reinterpret_cast<float*>(destination + offset);
        const float f = s < -h ? -1.0f : (s > h ? 1.0f : s / h);
        for (int k = 0; k < 3; ++k)
            p[k] += shift[k] * f;
    }
}

Model_::Model_() = default;

Model_::Model_(BYTE keepNormalsFlag, const RawVertexStruct_TYP* vertices, DWORD vertexCount,
               const DWORD* indices, DWORD faceCount, const RawVertexStruct_TYP* lineVertices,
               DWORD lineCount, const SubsetStruct_TYP* subsetRecords, DWORD count, Animation_* newAnimation,
               LoadRecordStruct_TYP* record, HRESULT* result, BYTE, BYTE turnedFlag, DWORD pointCount,
               const RawLightPointStruct_TYP* points, BYTE optimizeForVertexCache, BYTE normalsGiven)
    : Model_(ModelBuildInputStruct_TYP{.keepNormals = keepNormalsFlag,
                                       .vertices = vertices,
                                       .vertexCount = vertexCount,
                                       .indices = indices,
                                       .faceCount = faceCount,
                                       .lineVertices = lineVertices,
                                       .lineVertexCount = lineCount,
                                       .subsets = subsetRecords,
                                       .subsetCount = count,
                                       .animation = newAnimation,
                                       .turned = turnedFlag,
                                       .lightPointCount = pointCount,
                                       .lightPoints = points,
                                       .optimizeForVertexCache = optimizeForVertexCache,
                                       .normalsGiven = normalsGiven},
             record, result)
{
}

Model_::Model_(const ModelBuildInputStruct_TYP& input, LoadRecordStruct_TYP* record, HRESULT* result)
    : Model_()
{
    Build(input, result);
    // A model built for a load record belongs to it: releasing it goes back through its loader.
    loadRecord = record;
    FinishConstruction(record);
}

CountedPtr<Model_> BuildModel(const ModelBuildInputStruct_TYP& input, HRESULT* result)
{
    *result = E_FAIL;
    CountedPtr<Model_> model(new (std::nothrow) Model_(input, nullptr, result));
    if (!model) *result = E_OUTOFMEMORY;
    if (FAILED(*result)) model.reset();
    return model;
}

void Model_::FinishConstruction(LoadRecordStruct_TYP* record)
{
    if (!record || !CurrentGlobals) return;
    CurrentGlobals->loaders.AttachObjectToRecord(record, this);
    if (CurrentGlobals->PartCreatedCallback)
        CurrentGlobals->PartCreatedCallback(record->loader, record->type, record->resolvedName,
                                            record->loaderCookie, this);
}

void Model_::ReleaseSubsets()
{
    if (subsets)
        for (DWORD i = 0; i < subsetCount; ++i)
            if (subsets[i].material) subsets[i].material->Release();
    subsets.reset();
    subsetCount = 0;
}

void Model_::ReleaseAdjacency()
{
    if (adjacency)
        for (DWORD i = 0; i < partCount; ++i)
            if (adjacency[i]) adjacency[i]->Release();
    adjacency.reset();
}

void Model_::DropGeometry()
{
    ReleaseAllData();
    ReleaseSubsets();
    ReleaseAdjacency();
    if (animation) ReleaseAnimation(animation);
    ResetMembers();
}

void Model_::ResetMembers()
{
    subsets = nullptr;
    subsetCount = 0;
    nameList = nullptr;
    nameListBytes = {};
    nameCount = 0;
    lightPointCount = 0;
    lightPoints = nullptr;
    currentObject = nullptr;
    currentObjectListIndex = 0;
    vertexStride = 0;
    adjacency = nullptr;
    vertexFormat = 0;
    turned = 0;
    fileFlags[0] = 0;
    fileFlags[1] = 1;
    fileFlags[2] = 0;
    fileFlags[3] = 1;
    fileValue = 0.0f;
    fileByte = 0;
    name = nullptr;
    nameBytes = {};
    partCount = 0;
    progressiveFraction = 1.0f;
    std::fill(std::begin(baseBox), std::end(baseBox), 0.0f);
    std::fill(std::begin(currentBox), std::end(currentBox), 0.0f);
    std::fill(std::begin(baseCentre), std::end(baseCentre), 0.0f);
    std::fill(std::begin(currentCentre), std::end(currentCentre), 0.0f);
    radius = 0.0f;
    std::fill(std::begin(eyePoint), std::end(eyePoint), 0.0f);
    animation = nullptr;
    keepNormals = 0;
    lineVertexCount = 0;
    lineSubsetCount = 0;
    lineStarts = nullptr;
}

Model_::~Model_()
{
    ReleaseSubsets();
    ReleaseAdjacency();
    for (ModelLODStruct_TYP& lod : lods)
        if (lod.model) lod.model->Release();
    for (ModelAlternativeStruct_TYP& alternative : alternatives)
        if (alternative.model) alternative.model->Release();
    for (TextureLayerStruct_TYP& layer : textureLayers)
    {
        if (layer.firstMaterial) layer.firstMaterial->Release();
        if (layer.firstTexture) layer.firstTexture->Release();
        if (layer.secondMaterial) layer.secondMaterial->Release();
        if (layer.secondTexture) layer.secondTexture->Release();
    }
    if (animation) ReleaseAnimation(animation);
}

LKXMesh_** Model_::PrimaryParts() const
{
    auto* data = static_cast<DeviceSpecificModelData_*>(primaryData.get());
    return data ? data->parts : nullptr;
}

DWORD Model_::TotalFaceCount() const
{
    DWORD total = 0;
    for (DWORD i = 0; i < subsetCount; ++i)
        total += subsets[i].faceCount;
    return total;
}

void Model_::SetName(const char* newName)
{
    name = KeepBytes(&nameBytes, newName, newName ? std::strlen(newName) + 1 : 0);
}

HRESULT SetModelNameList(Model_* model, const char* list)
{
    if (!model) return E_INVALIDARG;
    model->nameList = KeepBytes(&model->nameListBytes, nullptr, 0);
    model->nameCount = 0;
    if (!list) return S_OK;
    size_t bytes = 0;
    DWORD count = 0;
    while (list[bytes] != '\0')
    {
        bytes += std::strlen(list + bytes) + 1;
        ++count;
    }
    ++bytes; // the empty string that ends the list
    model->nameList = KeepBytes(&model->nameListBytes, list, bytes);
    if (!model->nameList) return E_OUTOFMEMORY;
    model->nameCount = count;
    return S_OK;
}

void Model_::SetChunk(const ModelChunkStruct_TYP* chunk)
{
    const DWORD size = chunk->data ? chunk->size : 0;
    // A chunk that cannot be kept is left out, as is its copy; an empty one still gets data to point at.
    ferolt::Allocated(
        [&]
        {
            std::vector<BYTE> copy(size ? size : 1);
            if (size) std::memcpy(copy.data(), chunk->data, size);
            for (size_t i = 0; i < chunks.size(); ++i)
                if (chunks[i].id == chunk->id)
                {
                    chunkBytes[i] = std::move(copy);
                    chunks[i] = {chunk->id, chunkBytes[i].data(), size};
                    return;
                }
            chunks.reserve(chunks.size() + 1);
            chunkBytes.push_back(std::move(copy));
            chunks.push_back({chunk->id, chunkBytes.back().data(), size});
        });
}

void Model_::SetAnimation(Animation_* newAnimation)
{
    // The new reference first: setting the animation a model already holds must not destroy it.
    if (newAnimation) AddRefAnimation(newAnimation);
    if (animation) ReleaseAnimation(animation);
    animation = newAnimation;
    for (DWORD i = 0; i < subsetCount; ++i)
        subsets[i].animationNode = (animation && subsets[i].sourceIndex != kNoSourceIndex)
                                       ? FindAnimationNodeForSource(animation, subsets[i].sourceIndex)
                                       : nullptr;
}

Material_* Model_::GetSubsetMaterial(DWORD index)
{
    if (index >= subsetCount || !subsets[index].material) return nullptr;
    subsets[index].material->AddRef();
    return subsets[index].material;
}

void Model_::SetSubsetMaterial(Material_* change, DWORD index)
{
    if (index >= subsetCount) return;
    Material_*& slot = subsets[index].material;
    if (slot)
    {
        Material_* clone = slot->Clone();
        if (!clone) return; // keep the shared material rather than merge into it
        slot->Release();
        slot = clone;
    }
    MergeMaterialChange(&slot, change);
}

void Model_::SetSubsetMaterials(Material_** list, DWORD n)
{
    const DWORD count = std::min(n, subsetCount);
    for (DWORD i = 0; i < count; ++i)
        SetSubsetMaterial(list[i], i);
}

// ---- bounds
// ------------------------------------------------------------------------------------------------

namespace
{
// The box of one subset over the chosen buffers (base or current) of the primary copy.
void SubsetBox(const Model_& model, const SubsetStruct_TYP& subset, bool current, float box[6])
{
    EmptyBox(box);
    LKXMesh_** parts = model.PrimaryParts();
    if (!parts) return;
    if (subset.part < model.partCount && parts[subset.part] && parts[subset.part]->mesh && subset.faceCount)
    {
        LKXMesh_* part = parts[subset.part];
        IDirect3DVertexBuffer9* vb = current ? part->currentVertexBuffer : part->baseVertexBuffer;
        const DWORD vertexCount = part->mesh->GetNumVertices();
        const DWORD faceCount = part->mesh->GetNumFaces();
        void* vertices = nullptr;
        void* indices = nullptr;
        if (vb && part->indexBuffer && subset.firstFace < faceCount &&
            SUCCEEDED(vb->Lock(0, 0, &vertices, D3DLOCK_READONLY)))
        {
            if (SUCCEEDED(part->indexBuffer->Lock(0, 0, &indices, D3DLOCK_READONLY)))
            {
                const DWORD last = std::min(faceCount, subset.firstFace + subset.faceCount);
                const WORD* index = static_cast<const WORD*>(indices);
                const BYTE* bytes = static_cast<const BYTE*>(vertices);
                for (DWORD f = subset.firstFace; f < last; ++f)
                    for (int c = 0; c < 3; ++c)
                    {
                        const WORD v = index[3 * f + c];
                        if (v < vertexCount)
                            ExtendBox(box,
                                      reinterpret_cast<const float*>(bytes + size_t(v) * kModelVertexStride));
                    }
                part->indexBuffer->Unlock();
            }
            vb->Unlock();
        }
    }
    if (subset.lineSegmentCount && model.lineVertexCount && parts[0])
    {
        IDirect3DVertexBuffer9* lines =
            current ? parts[0]->currentLineVertexBuffer : parts[0]->baseLineVertexBuffer;
        ExtendWithBuffer(box, lines, subset.firstLineVertex, 2 * subset.lineSegmentCount);
    }
}

void ModelBox(const Model_& model, bool current, float box[6])
{
    EmptyBox(box);
    LKXMesh_** parts = model.PrimaryParts();
    if (!parts) return;
    for (DWORD i = 0; i < model.partCount; ++i)
    {
        LKXMesh_* part = parts[i];
        if (!part || !part->mesh) continue;
        ExtendWithBuffer(box, current ? part->currentVertexBuffer : part->baseVertexBuffer, 0,
                         part->mesh->GetNumVertices());
    }
    if (model.lineVertexCount && parts[0])
        ExtendWithBuffer(box, current ? parts[0]->currentLineVertexBuffer : parts[0]->baseLineVertexBuffer, 0,
                         model.lineVertexCount);
}

float HalfDiagonal(const float box[6])
{
    const float dx = box[3] - box[0];
    const float dy = box[4] - box[1];
    const float dz = box[5] - box[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz) / 2.0f;
}
} // namespace

void Model_::ComputeBoundingBox()
{
    ModelBox(*this, false, baseBox);
    for (int k = 0; k < 3; ++k)
        baseCentre[k] = (baseBox[k] + baseBox[3 + k]) / 2.0f;
    radius = HalfDiagonal(baseBox);
    ComputePartBoxes();
}

void Model_::ComputePartBoxes()
{
    for (DWORD i = 0; i < subsetCount; ++i)
        SubsetBox(*this, subsets[i], false, subsets[i].baseBox);
}

void Model_::ComputeVariantBoundingBox()
{
    ModelBox(*this, true, currentBox);
    for (int k = 0; k < 3; ++k)
        currentCentre[k] = (currentBox[k] + currentBox[3 + k]) / 2.0f;
    radius = HalfDiagonal(currentBox);
    ComputeVariantPartBoxes();
}

void Model_::ComputeVariantPartBoxes()
{
    for (DWORD i = 0; i < subsetCount; ++i)
        SubsetBox(*this, subsets[i], true, subsets[i].currentBox);
}

// ---- objects and variants
// ------------------------------------------------------------------------------------

void Model_::SelectVariant(size_t index)
{
    ForEachCopy(this,
                [&](DeviceSpecificModelData_* copy)
                {
                    for (DWORD p = 0; p < copy->partCount; ++p)
                    {
                        LKXMesh_* part = copy->parts[p];
                        if (!part) continue;
                        IDirect3DVertexBuffer9* variant = index < part->variantVertexBuffers.size()
                                                              ? part->variantVertexBuffers[index]
                                                              : nullptr;
                        part->currentVertexBuffer = variant ? variant : part->baseVertexBuffer;
                        if (p == 0)
                        {
                            IDirect3DVertexBuffer9* lines = index < part->variantLineVertexBuffers.size()
                                                                ? part->variantLineVertexBuffers[index]
                                                                : nullptr;
                            part->currentLineVertexBuffer = lines ? lines : part->baseLineVertexBuffer;
                        }
                    }
                });
    const GeometryVariantStruct_TYP& variant = variants[index];
    for (DWORD i = 0; i < subsetCount && i < variant.subsetBoxes.size(); ++i)
        std::copy(variant.subsetBoxes[i].begin(), variant.subsetBoxes[i].end(), subsets[i].currentBox);
    std::copy(std::begin(variant.box), std::end(variant.box), currentBox);
}

void Model_::PrepareForObject(Object_* object)
{
    if (!object || object->stretchPlanes.empty())
    {
        ForEachCopy(this,
                    [](DeviceSpecificModelData_* copy)
                    {
                        for (DWORD p = 0; p < copy->partCount; ++p)
                            if (LKXMesh_* part = copy->parts[p])
                            {
                                part->currentVertexBuffer = part->baseVertexBuffer;
                                if (p == 0) part->currentLineVertexBuffer = part->baseLineVertexBuffer;
                            }
                    });
        for (DWORD i = 0; i < subsetCount; ++i)
            std::copy(std::begin(subsets[i].baseBox), std::end(subsets[i].baseBox), subsets[i].currentBox);
        std::copy(std::begin(baseBox), std::end(baseBox), currentBox);
        return;
    }
    for (size_t k = 0; k < variants.size(); ++k)
        if (std::find(variants[k].users.begin(), variants[k].users.end(), object) != variants[k].users.end())
        {
            SelectVariant(k);
            return;
        }
    for (size_t k = 0; k < variants.size(); ++k)
        if (AreStretchPlanesEqual(variants[k].key, object->stretchPlanes))
        {
            variants[k].users.push_back(object);
            SelectVariant(k);
            return;
        }

    variants.emplace_back();
    GeometryVariantStruct_TYP& variant = variants.back();
    variant.users.push_back(object);
    variant.key = object->stretchPlanes;
    ForEachCopy(this,
                [&](DeviceSpecificModelData_* copy)
                {
                    for (DWORD p = 0; p < copy->partCount; ++p)
                        if (LKXMesh_* part = copy->parts[p])
                        {
                            IDirect3DVertexBuffer9* buffer =
                                part->MakeVariantVertexBuffer(false, &variant.key);
                            part->variantVertexBuffers.push_back(buffer);
                            part->currentVertexBuffer = buffer ? buffer : part->baseVertexBuffer;
                            if (p == 0)
                            {
                                IDirect3DVertexBuffer9* lines =
                                    part->MakeVariantVertexBuffer(true, &variant.key);
                                part->variantLineVertexBuffers.push_back(lines);
                                part->currentLineVertexBuffer = lines ? lines : part->baseLineVertexBuffer;
                            }
                        }
                });
    ComputeVariantBoundingBox();
    variant.subsetBoxes.resize(subsetCount);
    for (DWORD i = 0; i < subsetCount; ++i)
        std::copy(std::begin(subsets[i].currentBox), std::end(subsets[i].currentBox),
                  variant.subsetBoxes[i].begin());
    std::copy(std::begin(currentBox), std::end(currentBox), variant.box);
}

void Model_::RemoveVariantUser(Object_* object)
{
    for (size_t k = 0; k < variants.size(); ++k)
    {
        auto& users = variants[k].users;
        auto found = std::find(users.begin(), users.end(), object);
        if (found == users.end()) continue;
        users.erase(found);
        if (!users.empty()) return;
        ForEachCopy(
            this,
            [k](DeviceSpecificModelData_* copy)
            {
                for (DWORD p = 0; p < copy->partCount; ++p)
                    if (LKXMesh_* part = copy->parts[p])
                        for (auto* list : {&part->variantVertexBuffers, &part->variantLineVertexBuffers})
                            if (k < list->size())
                            {
                                IDirect3DVertexBuffer9* buffer = (*list)[k];
                                if (part->currentVertexBuffer == buffer)
                                    part->currentVertexBuffer = part->baseVertexBuffer;
                                if (part->currentLineVertexBuffer == buffer)
                                    part->currentLineVertexBuffer = part->baseLineVertexBuffer;
                                if (buffer) buffer->Release();
                                list->erase(list->begin() + static_cast<std::ptrdiff_t>(k));
                            }
            });
        variants.erase(variants.begin() + static_cast<std::ptrdiff_t>(k));
        return;
    }
}

int Model_::DrawForObject(BackBufferPart_* part, Object_* object, const D3DXVECTOR3* eye, DWORD mode,
                          RenderViewStruct_TYP* view, Light_* light, PassContextStruct_TYP* pass)
{
    if (subsetCount == 0) return 0;
    eyePoint[0] = eye ? eye->x : 0.0f;
    eyePoint[1] = eye ? eye->y : 0.0f;
    eyePoint[2] = eye ? eye->z : 0.0f;
    object->drawnValidly = 1;
    currentObject = object;
    currentObjectListIndex = object->listIndex;
    PrepareForObject(object);
    passLight = light;
    renderMode = mode;
    validationTable = (part && part->device) ? part->device->stageValidation : nullptr;
    IDirect3DDevice9* device = part ? part->GetD3DDevice() : nullptr;
    if (device) GetDataForDevice(device, view, pass);
    return 0;
}

std::unique_ptr<DeviceSpecificDataContainer_> Model_::CreateDataForDevice(IDirect3DDevice9* device)
{
    auto* primary = static_cast<DeviceSpecificModelData_*>(primaryData.get());
    CountedArray_<LKXMesh_> parts(partCount);
    if (!parts) return nullptr;
    CountedArray_<ProgressiveMesh_> progressive; // only where the primary copy has progressive parts
    if (primary && primary->progressiveParts) progressive = CountedArray_<ProgressiveMesh_>(partCount);
    for (DWORD i = 0; primary && i < partCount && i < primary->partCount; ++i)
    {
        LKXMesh_* source = primary->parts[i];
        if (!source) continue;
        if (source->mesh)
        {
            ID3DXMesh* clone = nullptr;
            if (SUCCEEDED(source->mesh->CloneMeshFVF(D3DXMESH_MANAGED | D3DXMESH_WRITEONLY, vertexFormat,
                                                     device, &clone)) &&
                clone)
            {
                parts[i] = new (std::nothrow) LKXMesh_(this, clone, source->firstSubsetIndex);
                if (!parts[i]) clone->Release();
            }
        }
        if (lineVertexCount && source->baseLineVertexBuffer)
        {
            if (!parts[i]) parts[i] = new (std::nothrow) LKXMesh_(this, device);
            IDirect3DVertexBuffer9* buffer = nullptr;
            const UINT bytes = vertexStride * lineVertexCount;
            void* from = nullptr;
            void* to = nullptr;
            if (parts[i] && SUCCEEDED(device->CreateVertexBuffer(bytes, 0, kModelVertexFormat,
                                                                 D3DPOOL_MANAGED, &buffer, nullptr)))
            {
                if (SUCCEEDED(source->baseLineVertexBuffer->Lock(0, 0, &from, D3DLOCK_READONLY)))
                {
                    if (SUCCEEDED(buffer->Lock(0, 0, &to, 0)))
                    {
                        std::memcpy(to, from, bytes);
                        buffer->Unlock();
                    }
                    source->baseLineVertexBuffer->Unlock();
                }
                parts[i]->baseLineVertexBuffer = buffer;
                parts[i]->currentLineVertexBuffer = buffer;
            }
        }
        // The variants already built get their buffers on this device too, so variant k means the same
        // on every copy.
        if (LKXMesh_* part = parts[i])
            for (GeometryVariantStruct_TYP& variant : variants)
            {
                part->variantVertexBuffers.push_back(
                    part->mesh ? part->MakeVariantVertexBuffer(false, &variant.key) : nullptr);
                if (i == 0)
                    part->variantLineVertexBuffers.push_back(
                        part->MakeVariantVertexBuffer(true, &variant.key));
            }
    }
    auto copy = NewObject<DeviceSpecificModelData_>(device, this, parts.get(), progressive.get());
    if (!copy) return nullptr;
    parts.release(); // the device copy owns both arrays now
    progressive.release();
    // The new copy starts from the geometry that the current object sees.
    for (size_t k = 0; currentObject && k < variants.size(); ++k)
        if (std::find(variants[k].users.begin(), variants[k].users.end(), currentObject) !=
            variants[k].users.end())
            for (DWORD p = 0; p < partCount; ++p)
                if (LKXMesh_* part = parts[p])
                {
                    if (k < part->variantVertexBuffers.size() && part->variantVertexBuffers[k])
                        part->currentVertexBuffer = part->variantVertexBuffers[k];
                    if (k < part->variantLineVertexBuffers.size() && part->variantLineVertexBuffers[k])
                        part->currentLineVertexBuffer = part->variantLineVertexBuffers[k];
                }
    return copy;
}
} // namespace LMK
