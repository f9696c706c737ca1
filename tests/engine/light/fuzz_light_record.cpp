// Fuzzes the stored light record: the input is the record and its length. An accepted record never
// claims more bytes than it was given.
#include "engine/core/lr_light_api.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so a read past the length is a read past the allocation.
    std::vector<uint8_t> record(data, data + size);
    LMK::Light_* light = nullptr;
    DWORD consumed = 0;
    if (SUCCEEDED(LRCreateLightFromRecord(record.empty() ? nullptr : record.data(), DWORD(size), &light,
                                          &consumed)))
    {
        if (consumed > size) __builtin_trap();
        LRReleaseLight(&light);
    }
    return 0;
}
