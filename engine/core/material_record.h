#pragma once
// The stored material record (versions 1 to 3), read into a material description. Every read stays
// inside the record's own size field; a record that does not fit in the bytes given is rejected.
#include "engine/core/material.h"

namespace LMK
{
constexpr DWORD kMaterialRecordHeaderSize = 80;
constexpr DWORD kMaterialRecordV1HeaderSize = 38;
constexpr DWORD kMaterialRecordV2HeaderSize = 44;
constexpr DWORD kPackedTextureTransformSize = 55;

// Record flags that only steer reading; the others map onto description bytes.
constexpr DWORD kRecordBaseAsReflection = 0x200;
constexpr DWORD kRecordCarriedByte = 0x400;
constexpr DWORD kRecordName = 0x800;
constexpr DWORD kRecordBaseName = 0x1000;
constexpr DWORD kRecordBumpName = 0x2000;
constexpr DWORD kRecordReflectionName = 0x4000;
constexpr DWORD kRecordNameIndices = 0x8000; // texture names are u16 string-table indices

// Widen a version 1 (38-byte) or version 2 (44-byte) header into the 80-byte version 3 form.
void ConvertMaterialRecordHeaderV1(const BYTE* stored, BYTE* header);
void ConvertMaterialRecordHeaderV2(const BYTE* stored, BYTE* header);

// size: the bytes available, or 0 when the caller vouches for the record's own size field. On success
// *out is a new description (LRFreeMaterialDescription) and *consumed the record's size.
bool ReadMaterialRecord(char** strings, const void* record, DWORD size, MaterialDescriptionStruct_TYP** out,
                        DWORD stringCount, DWORD* consumed);
} // namespace LMK
