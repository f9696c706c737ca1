#pragma once
// One entry of a device's stage-validation table: whether a texture-stage set-up works on that device,
// asked once and kept for the device's life. Indexed by the set-up's combination code.
#include <cstddef>

#include "platform/win32/windef.h"

namespace LMK
{
struct StageValidationStruct_TYP
{
    BYTE tested;
    BYTE valid; // ValidateDevice accepted it and its highest stage is below the device set's limit
    BYTE blendTested;
    BYTE blendValid; // the reflection weight stage of the set-up was accepted
    DWORD passCount; // 1 once tested
};
static_assert(sizeof(StageValidationStruct_TYP) == 8);

constexpr size_t kStageValidationEntries = 128;
} // namespace LMK
