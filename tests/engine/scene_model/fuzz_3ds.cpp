// Fuzzes 3D Studio files: the chunk tree read into lists and, when a mesh was read, the model built
// from them on a started engine. A built model's subsets stay within its faces.
#include <cstdint>
#include <vector>

#include "engine/scene/model.h"
#include "engine/scene/model_3ds.h"
#include "tests/support/fuzz_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ferolt::test::StartFuzzEngine()) __builtin_trap();
    if (size > 0xFFFFFFFFu) return 0;
    // An exact-size copy, so a read past the length is a read past the allocation.
    const std::vector<uint8_t> file(data, data + size);
    LMK::Parsed3DS parsed;
    if (!LMK::Parse3DS(file.empty() ? nullptr : file.data(), static_cast<DWORD>(file.size()), &parsed))
        return 0;
    LMK::Model_* model = nullptr;
    if (SUCCEEDED(LMK::Build3DSModel(&parsed, 0, nullptr, &model)) && model)
    {
        DWORD faces = 0;
        for (DWORD s = 0; s < model->subsetCount; ++s)
            faces += model->subsets[s].faceCount;
        if (faces != model->TotalFaceCount()) __builtin_trap();
    }
    if (model) model->Release();
    LMK::Free3DS(&parsed);
    return 0;
}
