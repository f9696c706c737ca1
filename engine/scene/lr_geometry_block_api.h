#pragma once
// The engine's public API for compressed geometry blocks ("LKGY", "LKGX", "LKGE").
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Model_;
class Animation_;
struct GeometryBlockViewStruct_TYP;
struct DecodedBlockStruct_TYP;
} // namespace LMK

// Builds a model from a geometry block of size bytes. E_INVALIDARG for null data, size 0 or a null out.
// Otherwise *out holds a new model with the caller's one reference whatever the result: after a failure
// it has no mesh parts and no subsets. Only a failed allocation leaves it null (E_OUTOFMEMORY). The
// model adds its own reference of the animation.
HRESULT LRCreateModelFromMemory(const void* data, DWORD size, BYTE noResmooth, LMK::Animation_* animation,
                                LMK::Model_** out);

// Decodes count geometry blocks into out (one each), the meshes of all of them in parallel on the
// engine's worker threads; nothing is made on a device. out[i] is what building from block i alone
// decodes, at every thread count. E_INVALIDARG for null arrays with a count; E_OUTOFMEMORY when memory
// ran out, and out then holds no meshes.
HRESULT LRDecodeGeometryBlocks(const LMK::GeometryBlockViewStruct_TYP* blocks, DWORD count,
                               LMK::DecodedBlockStruct_TYP* out);

// A model from a block that LRDecodeGeometryBlocks decoded, as LRCreateModelFromMemory makes it from the
// block's bytes; the decoded meshes are taken over. E_INVALIDARG for a null decoded block or out.
HRESULT LRCreateModelFromDecoded(LMK::DecodedBlockStruct_TYP* decoded, BYTE noResmooth,
                                 LMK::Animation_* animation, LMK::Model_** out);
