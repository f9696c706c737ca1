// Fuzzes "v7q!" containers on a started engine: the body unpacked, its "V7Q1" stream read and built as
// a model. The first byte's low bit turns hard edges off.
#include <cstdint>
#include <vector>

#include "engine/scene/model.h"
#include "engine/scene/model_blob_load.h"
#include "tests/support/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ferolt::test::StartFuzzEngine()) __builtin_trap();
    if (size < 1 || size > 0xFFFFFFFFu) return 0;
    const std::vector<uint8_t> file(data + 1, data + size);
    LMK::Model_* model = nullptr;
    LMK::LoadV7QContainerModel(file.empty() ? nullptr : file.data(), static_cast<DWORD>(file.size()),
                               data[0] & 1, nullptr, &model);
    if (model) model->Release();
    return 0;
}
