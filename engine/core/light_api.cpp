#include "engine/core/light_record.h"
#include "engine/core/lr_light_api.h"
#include "platform/win32/out_of_memory.h"

#include <new>

HRESULT LRGetDefaultLightParams(LMK::LightParamsStruct_TYP* params)
{
    if (!params) return E_INVALIDARG;
    LMK::GetDefaultLightParams(params);
    return S_OK;
}

HRESULT LRCreateLight(const LMK::LightParamsStruct_TYP* params, LMK::Light_** light)
{
    if (!params || !light) return E_INVALIDARG;
    *light = nullptr;
    LMK::Light_* made = nullptr;
    if (!ferolt::Allocated([&] { made = new LMK::Light_(); })) return E_OUTOFMEMORY;
    made->SetParams(*params);
    *light = made;
    return S_OK;
}

HRESULT LRCreateLightFromRecord(const void* record, DWORD length, LMK::Light_** light, DWORD* recordSize)
{
    if (recordSize) *recordSize = 0;
    if (!light) return E_INVALIDARG;
    *light = nullptr;
    if (!record) return E_INVALIDARG;
    LMK::LightParamsStruct_TYP params;
    uint32_t size = 0;
    if (!LMK::ReadLightRecord(record, length, &params, &size)) return E_FAIL;
    LMK::Light_* made = nullptr;
    if (FAILED(LRCreateLight(&params, &made))) return E_FAIL;
    // Creation derived position and direction from the identity; the record's own place them.
    D3DXMATRIX placement;
    LMK::LightMatrixFromPositionDirection(params.light.Position, params.light.Direction, &placement);
    made->SetTransform(&placement);
    *light = made;
    if (recordSize) *recordSize = size;
    return S_OK;
}

HRESULT LRAddRefLight(LMK::Light_* light)
{
    if (light) light->AddRef();
    return S_OK;
}

HRESULT LRReleaseLight(LMK::Light_** light)
{
    if (!light) return E_INVALIDARG;
    if (*light) (*light)->Release();
    *light = nullptr;
    return S_OK;
}

HRESULT LRSetLightParams(LMK::Light_* light, const LMK::LightParamsStruct_TYP* params)
{
    if (!light || !params) return E_INVALIDARG;
    light->SetParams(*params);
    return S_OK;
}

HRESULT LRGetLightParams(LMK::Light_* light, LMK::LightParamsStruct_TYP* params)
{
    if (!light || !params) return E_INVALIDARG;
    *params = light->params;
    return S_OK;
}

HRESULT LRSetLightPositionDirection(LMK::Light_* light, const D3DXVECTOR3* v)
{
    if (!light || !v) return E_INVALIDARG;
    light->SetPositionDirection(*v);
    return S_OK;
}
