#pragma once
// Many geometry blocks decoded at once, as the blocks of a file's models are: the meshes of all of them
// are decoded in parallel on worker threads, and each block's list is then put together in its own
// order, so what a block gives does not depend on the thread count. Nothing here touches a device.
#include "engine/scene/geometry_block.h"

#include <span>

namespace LMK
{
struct GeometryBlockViewStruct_TYP
{
    const BYTE* data;
    size_t size;
};

// A decoded block and what DecodeMeshList returned for it.
struct DecodedBlockStruct_TYP
{
    HRESULT result = E_FAIL;
    DecodedMeshListStruct_TYP list;
};

// Decodes every block into out (one each) on up to `threads` threads, the calling thread among them.
// Each out[i] is what DecodeMeshList gives for block i. Memory running out on any thread throws
// std::bad_alloc on the calling thread.
void DecodeMeshLists(DWORD maxVersion, std::span<const GeometryBlockViewStruct_TYP> blocks,
                     std::span<DecodedBlockStruct_TYP> out, unsigned threads);
} // namespace LMK
