#include "engine/scene/object_api.h"

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "engine/scene/object.h"
#include "engine/scene/object_light.h"

HRESULT LRCreateObject(LMK::Model_* model, LMK::Object_** object, const D3DXMATRIX* placement)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!model) return E_INVALIDARG;
    *object = LMK::CreateObject(model, placement, nullptr, false);
    return *object ? S_OK : E_OUTOFMEMORY;
}

HRESULT LRReleaseObject(LMK::Object_** object)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!object) return E_INVALIDARG;
    if (*object) (*object)->Release();
    *object = nullptr;
    return S_OK;
}

HRESULT LRGetObjectModel(LMK::Object_* object, LMK::Model_** model)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!object || !model) return E_INVALIDARG;
    object->model->AddRef();
    *model = object->model;
    return S_OK;
}

HRESULT LRGetObjectBoundingBox(LMK::Object_* object, D3DXVECTOR3* minimum, D3DXVECTOR3* maximum)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!object || !minimum || !maximum) return E_INVALIDARG;
    object->GetBoundingBox(minimum, maximum);
    return S_OK;
}

HRESULT LRSetObjectAnimationTime(LMK::Object_* object, float seconds)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!object) return E_INVALIDARG;
    object->animationTime = seconds;
    object->boundsValid = 0;
    return S_OK;
}

HRESULT LRSetObjectGroupMaterial(LMK::Object_* object, DWORD group, LMK::Material_* change)
{
    if (!object || !change) return E_INVALIDARG;
    LMK::Model_* model = object->model;
    if (group >= model->subsetCount) return E_FAIL;
    for (DWORD i = 0; i < model->subsetCount; ++i)
        if (model->subsets[i].materialGroup == group) object->SetSubsetMaterial(change, i);
    return S_OK;
}

HRESULT LRSetObjectLightPointLight(LMK::Object_* object, DWORD lightPoint, LMK::Light_* light)
{
    if (!object) return E_INVALIDARG;
    LMK::Model_* model = object->model;
    if (lightPoint >= model->lightPointCount) return E_FAIL;
    if (!object->lightPointLights)
    {
        object->lightPointLights = LMK::NewArray<LMK::Light_*>(model->lightPointCount);
        if (!object->lightPointLights) return E_OUTOFMEMORY;
    }
    if (light)
    {
        light->AddRef();
        LMK::Light_*& slot = object->lightPointLights[lightPoint];
        if (slot) slot->Release();
        slot = light;
    }
    return S_OK;
}
