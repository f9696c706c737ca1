#pragma once
// The engine's public API for lights. None of these has the started check. Lights are counted:
// LRAddRefLight adds a holder, LRReleaseLight drops one and clears the caller's pointer.
#include "engine/core/light.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

// Fills all 148 bytes with the defaults.
HRESULT LRGetDefaultLightParams(LMK::LightParamsStruct_TYP* params);
// A new light (count 1) with the identity matrix: it sits at the origin and points along -z whatever
// position and direction the block gives.
HRESULT LRCreateLight(const LMK::LightParamsStruct_TYP* params, LMK::Light_** light);
// A light from a stored "LRLG" record of at most length bytes, placed at the record's position and
// pointing along its direction. *recordSize (when given) gets the record's size field on success, 0
// otherwise. E_FAIL for a wrong magic, a record longer than length, or when no light can be made.
HRESULT LRCreateLightFromRecord(const void* record, DWORD length, LMK::Light_** light, DWORD* recordSize);
// S_OK also for a null light.
HRESULT LRAddRefLight(LMK::Light_* light);
// Drops the caller's reference when *light is set and clears *light.
HRESULT LRReleaseLight(LMK::Light_** light);
HRESULT LRSetLightParams(LMK::Light_* light, const LMK::LightParamsStruct_TYP* params);
HRESULT LRGetLightParams(LMK::Light_* light, LMK::LightParamsStruct_TYP* params);
// For the camera light: position is v and direction normalize(v).
HRESULT LRSetLightPositionDirection(LMK::Light_* light, const D3DXVECTOR3* v);
