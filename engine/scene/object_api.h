#pragma once
// The engine's public API for objects: placed instances of models. Each function but the two material
// and light-point ones answers E_FAIL while the engine is not started.
#include "engine/core/lr_core_api.h"
#include "platform/d3dx9/d3dx9math.h"

namespace LMK
{
class Model_;
class Object_;
class Material_;
class Light_;
} // namespace LMK

// A new object of the model, placed (null: at the origin). E_OUTOFMEMORY when it cannot be made.
HRESULT LRCreateObject(LMK::Model_* model, LMK::Object_** object, const D3DXMATRIX* placement);
// Drops the caller's reference and clears *object.
HRESULT LRReleaseObject(LMK::Object_** object);
// The object's model with one added reference.
HRESULT LRGetObjectModel(LMK::Object_* object, LMK::Model_** model);
// The world-space box, computed when placement or animation time changed.
HRESULT LRGetObjectBoundingBox(LMK::Object_* object, D3DXVECTOR3* minimum, D3DXVECTOR3* maximum);
HRESULT LRSetObjectAnimationTime(LMK::Object_* object, float seconds);
// Merges the change into the object's own copy of the material of every subset of the group.
HRESULT LRSetObjectGroupMaterial(LMK::Object_* object, DWORD group, LMK::Material_* change);
// Attaches a light (counted) to one of the model's light points; a light stored there before is released.
HRESULT LRSetObjectLightPointLight(LMK::Object_* object, DWORD lightPoint, LMK::Light_* light);
