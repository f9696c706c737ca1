#pragma once
// The engine's public API for materials. References are added and dropped with LRAddRefLoadedPart and
// LRReleaseLoadedPart; descriptions go back through LRFreeMaterialDescription.
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Material_;
struct MaterialDescriptionStruct_TYP;
} // namespace LMK

// Started. A one-sided colour material.
HRESULT LRCreateMaterialFromColor(float r, float g, float b, float a, LMK::Material_** material);
// Started. A material from a description, not shared by name.
HRESULT LRCreateMaterialFromDescription(const LMK::MaterialDescriptionStruct_TYP* description,
                                        LMK::Material_** material);
// A new description of the material; no started check.
HRESULT LRGetMaterialDescription(const LMK::Material_* material,
                                 LMK::MaterialDescriptionStruct_TYP** description);
// Frees the description with its strings and clears *description; S_OK for a null description.
HRESULT LRFreeMaterialDescription(LMK::MaterialDescriptionStruct_TYP** description);
// Started. Shared by upper-cased name: a material record, else an image worn as the base texture.
HRESULT LRLoadMaterial(const char* name, LMK::Material_** material);
// Turns one stored material record into a description; size is the bytes available. No started check.
HRESULT LRReadMaterialRecord(const void* record, DWORD size,
                             LMK::MaterialDescriptionStruct_TYP** description);
// The material pack "LKMA" of `size` bytes. No started check. The names of its string table: an array
// of pointers into the pack itself (which must outlive it), null with a count of 0 when it has none.
HRESULT LRGetMaterialPackStrings(const void* pack, DWORD size, const char*** strings, DWORD* count);
HRESULT LRFreeMaterialPackStrings(const char*** strings);
// One material per slot, each holding one reference for that slot, or null; free the array with
// LRReleaseLoadedPartArray. The materials are made with LRCreateMaterialFromDescription, which needs
// a started engine. consumed: the header, slot and string bytes as the header gives them plus the
// records read.
HRESULT LRLoadMaterialPack(const void* pack, DWORD size, LMK::Material_*** slots, DWORD* slotCount,
                           DWORD* consumed);
