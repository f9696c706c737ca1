#pragma once
// The engine's public API for compressed geometry blocks ("LKGY", "LKGX", "LKGE").
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Model_;
class Animation_;
} // namespace LMK

// Builds a model from a geometry block of size bytes. E_INVALIDARG for null data, size 0 or a null out.
// Otherwise *out holds a new model with the caller's one reference whatever the result: after a failure
// it has no mesh parts and no subsets. Only a failed allocation leaves it null (E_OUTOFMEMORY). The
// model adds its own reference of the animation.
HRESULT LRCreateModelFromMemory(const void* data, DWORD size, BYTE noResmooth, LMK::Animation_* animation,
                                LMK::Model_** out);
