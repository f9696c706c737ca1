// Fuzzes model blobs and packed model containers on a started engine: the first byte chooses the
// form, the rest is the file, read and built as a model.
#include <cstdint>
#include <vector>

#include "engine/scene/model.h"
#include "engine/scene/model_blob_load.h"
#include "tests/support/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ferolt::test::StartFuzzEngine()) __builtin_trap();
    if (size < 1 || size > 0xFFFFFFFFu) return 0;
    // An exact-size copy, so a read past the length is a read past the allocation.
    const std::vector<uint8_t> file(data + 1, data + size);
    const void* bytes = file.empty() ? nullptr : file.data();
    LMK::Model_* model = nullptr;
    if (data[0] & 1)
        LMK::LoadPackedModel(bytes, static_cast<DWORD>(file.size()), data[0] & 2, nullptr, nullptr, &model);
    else
        LMK::LoadBlobModel(bytes, static_cast<DWORD>(file.size()), data[0] & 2, nullptr, &model);
    if (model) model->Release();
    return 0;
}
