#pragma once
// The engine's public API for models: subsets, their materials and attributes, and user-data chunks.
// Models are released with LRReleaseLoadedPart. None of these checks that the engine is started, except
// LRSetModelSubsetMaterials.
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Model_;
class Material_;
struct ModelChunkStruct_TYP;
struct SubsetAttributesStruct_TYP;
} // namespace LMK

HRESULT LRGetModelSubsetCount(LMK::Model_* model, DWORD* count);
// The subset's material with one added reference, or null when it has none.
HRESULT LRGetModelSubsetMaterial(LMK::Model_* model, DWORD index, LMK::Material_** material);
// Merges a material change into the subset's own copy of its material.
HRESULT LRSetModelSubsetMaterial(LMK::Model_* model, DWORD index, LMK::Material_* change);
// Started. Entry i changes subset i; entries past the subsets are ignored.
HRESULT LRSetModelSubsetMaterials(LMK::Model_* model, LMK::Material_** list, DWORD count);
// Stores the surface type and, when given, the back-face and surface planes with their bytes.
HRESULT LRSetSubsetAttributes(LMK::Model_* model, DWORD subset, DWORD surfaceType,
                              const LMK::SubsetAttributesStruct_TYP* attributes);
// Keeps a copy of the chunk (one per id); the animation block becomes the model's animation.
HRESULT LRAddModelChunk(LMK::Model_* model, const LMK::ModelChunkStruct_TYP* chunk);
// The model's own array (not a copy), null when there are none.
HRESULT LRGetModelChunks(LMK::Model_* model, LMK::ModelChunkStruct_TYP** chunks, DWORD* count);
