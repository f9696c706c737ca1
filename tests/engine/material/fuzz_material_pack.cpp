// Fuzzes the material pack and the material record: the input is read as a pack, its strings are
// listed, and the same bytes are read as a single record. Nothing read may claim bytes it was not
// given. The engine runs, so that what is read becomes materials and their slots are counted.
#include "engine/core/lr_core_api.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = SUCCEEDED(LRStart(nullptr));
    (void)started;
    if (size > 0xFFFFFFFFu) return 0;
    // An exact-size copy, so a read past the length is a read past the allocation.
    std::vector<uint8_t> bytes(data, data + size);
    const void* input = bytes.empty() ? nullptr : bytes.data();
    const DWORD length = static_cast<DWORD>(size);

    const char** strings = nullptr;
    DWORD count = 0;
    if (SUCCEEDED(LRGetMaterialPackStrings(input, length, &strings, &count)))
    {
        for (DWORD i = 0; i < count; ++i)
            if (strings[i] < reinterpret_cast<const char*>(input) ||
                strings[i] >= reinterpret_cast<const char*>(input) + size)
                __builtin_trap();
        LRFreeMaterialPackStrings(&strings);
    }

    LMK::Material_** slots = nullptr;
    DWORD slotCount = 0;
    if (SUCCEEDED(LRLoadMaterialPack(input, length, &slots, &slotCount, nullptr)) && slots)
    {
        // Each filled slot holds one reference of its own.
        for (DWORD i = 0; i < slotCount; ++i)
        {
            if (!slots[i]) continue;
            DWORD holders = 0;
            for (DWORD j = 0; j < slotCount; ++j)
                holders += slots[j] == slots[i];
            if (slots[i]->refCount != holders) __builtin_trap();
        }
        auto* parts = reinterpret_cast<LMK::LoadedPart_**>(slots);
        LRReleaseLoadedPartArray(&parts, slotCount);
    }

    LMK::MaterialDescriptionStruct_TYP* description = nullptr;
    if (SUCCEEDED(LRReadMaterialRecord(input, length, &description))) LRFreeMaterialDescription(&description);
    return 0;
}
