#pragma once
// A model's level-of-detail and alternative models, loaded by name from the lists that the model
// loaders of the registry give for it.
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class Model_;

// Loads one listed model by name; the model loader's own entry point, with its arguments.
using ModelLoadByName = HRESULT (*)(const char* name, DWORD shared, BYTE allow3DS, BYTE noResmooth,
                                    Model_** out, BYTE noLODs, BYTE noAlternatives);

// Appends to the model's lists: levels of detail in ascending threshold (of equal thresholds the first
// listed), each loaded without lists of its own; alternatives in the order given, each with its own
// levels of detail but no alternatives. Entries that do not load are left out, and so is the model
// itself, which would otherwise hold its own last reference.
void LoadModelLists(Model_* model, const char* listName, DWORD shared, BYTE allow3DS, BYTE noResmooth,
                    BYTE noLODs, BYTE noAlternatives, ModelLoadByName load);
} // namespace LMK
