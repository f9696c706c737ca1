#pragma once
// Loading models by name through the model loaders, in every format the engine recognises.
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Model_;
}

// Loads the model named `name` (shared by name when `shared`), recognising its format from its bytes,
// then its level-of-detail models (unless noLODs) and alternatives (unless noAlternatives). On S_OK
// *out holds a model with one reference for the caller. E_FAIL when the engine is not started, for an
// empty name, for data of no known format and for a recognised file that cannot be read;
// E_INVALIDARG for a null name or out; -2 for a 3D Studio file when those are not allowed; the
// registry's result when no loader delivers the name.
HRESULT LRLoadModelEx(const char* name, DWORD shared, BYTE allow3DS, BYTE noResmooth, LMK::Model_** out,
                      BYTE noLODs, BYTE noAlternatives);
HRESULT LRLoadModel(const char* name, DWORD shared, BYTE allow3DS, LMK::Model_** out);
