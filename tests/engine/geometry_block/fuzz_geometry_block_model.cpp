// Fuzzes model building from a compressed geometry block on a started engine: the block decoded,
// its meshes made, wrapped into parts with normals computed and creased, then the model measured and
// released.
#include <cstdint>
#include <vector>

#include "engine/scene/lr_geometry_block_api.h"
#include "engine/scene/model.h"
#include "tests/support/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ferolt::test::StartFuzzEngine()) __builtin_trap();
    if (size < 1) return 0;
    // The first byte says whether normals are kept; the rest is the block, copied to its exact size.
    const std::vector<uint8_t> block(data + 1, data + size);
    LMK::Model_* model = nullptr;
    LRCreateModelFromMemory(block.empty() ? nullptr : block.data(), static_cast<DWORD>(block.size()),
                            data[0] & 1, nullptr, &model);
    if (model)
    {
        model->ComputeBoundingBox();
        (void)model->TotalFaceCount();
        LMK::LoadedPart_* part = model;
        LRReleaseLoadedPart(&part);
    }
    return 0;
}
