#include "engine/scene/model_api.h"

#include <algorithm>

#include "engine/core/globals.h"
#include "engine/core/material.h"
#include "engine/scene/animation.h"
#include "engine/scene/model.h"

HRESULT LRGetModelSubsetCount(LMK::Model_* model, DWORD* count)
{
    if (!model || !count) return E_INVALIDARG;
    *count = model->subsetCount;
    return S_OK;
}

HRESULT LRGetModelSubsetMaterial(LMK::Model_* model, DWORD index, LMK::Material_** material)
{
    if (!model || !material) return E_INVALIDARG;
    *material = nullptr;
    if (index >= model->subsetCount) return E_FAIL;
    *material = model->GetSubsetMaterial(index);
    return S_OK;
}

HRESULT LRSetModelSubsetMaterial(LMK::Model_* model, DWORD index, LMK::Material_* change)
{
    if (!model) return E_INVALIDARG;
    if (index >= model->subsetCount) return E_FAIL;
    model->SetSubsetMaterial(change, index);
    return S_OK;
}

HRESULT LRSetModelSubsetMaterials(LMK::Model_* model, LMK::Material_** list, DWORD count)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!model || !list || count == 0) return E_INVALIDARG;
    model->SetSubsetMaterials(list, count);
    return S_OK;
}

HRESULT LRSetSubsetAttributes(LMK::Model_* model, DWORD subset, DWORD surfaceType,
                              const LMK::SubsetAttributesStruct_TYP* attributes)
{
    if (!model) return E_INVALIDARG;
    if (subset >= model->subsetCount) return E_FAIL;
    LMK::SubsetStruct_TYP& record = model->subsets[subset];
    record.surfaceType = surfaceType;
    if (attributes)
    {
        std::copy(std::begin(attributes->backFacePlane), std::end(attributes->backFacePlane),
                  record.backFacePlane);
        std::copy(std::begin(attributes->surfacePlane), std::end(attributes->surfacePlane),
                  record.surfacePlane);
        record.backFace = attributes->backFace;
        record.specialSurface = attributes->specialSurface;
    }
    return S_OK;
}

HRESULT LRAddModelChunk(LMK::Model_* model, const LMK::ModelChunkStruct_TYP* chunk)
{
    if (!model || !chunk) return E_INVALIDARG;
    // The animation block becomes the model's animation and never stays a chunk; a block that cannot be
    // read leaves the model without one.
    if (chunk->id == LMK::kAnimationChunkId)
    {
        LMK::Animation_* animation = nullptr;
        if (chunk->data && chunk->size && LMK::CreateAnimationFromBlock(chunk->data, chunk->size, &animation))
        {
            model->SetAnimation(animation);
            animation->Release();
        }
        return S_OK;
    }
    model->SetChunk(chunk);
    return S_OK;
}

HRESULT LRGetModelChunks(LMK::Model_* model, LMK::ModelChunkStruct_TYP** chunks, DWORD* count)
{
    if (!chunks) return E_INVALIDARG;
    *chunks = nullptr;
    if (!model || !count) return E_INVALIDARG;
    *count = static_cast<DWORD>(model->chunks.size());
    *chunks = model->chunks.empty() ? nullptr : model->chunks.data();
    return S_OK;
}
