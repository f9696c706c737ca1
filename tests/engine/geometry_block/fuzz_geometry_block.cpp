// libFuzzer entry for the compressed geometry block: the whole block, and the same bytes as a lone
// compressed mesh, must decode or fail without touching memory outside them.
#include <cstdint>
#include <vector>

#include "engine/scene/geometry_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LMK::DecodedMeshListStruct_TYP list;
    LMK::DecodeMeshList(2, data, size, &list);
    LMK::DecodedMeshStruct_TYP mesh;
    DWORD counter = 0;
    std::vector<LMK::IndexTripleStruct_TYP> triples;
    LMK::DecodeCompressedMesh(2, data, size, &mesh, &counter, &triples, nullptr);
    return 0;
}
