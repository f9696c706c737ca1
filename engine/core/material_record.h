#pragma once
// The stored material record (versions 1 to 3), read into a material description. Every read stays
// inside the record's own size field, and that field inside the bytes the caller has.
#include "engine/core/material.h"

namespace LMK
{
constexpr DWORD kMaterialRecordHeaderSize = 80;
constexpr DWORD kMaterialRecordV1HeaderSize = 38;
constexpr DWORD kMaterialRecordV2HeaderSize = 44;
constexpr DWORD kMaterialRecordModesSize = 24;
constexpr DWORD kPackedTextureTransformSize = 55;

// Record flags that only steer reading; the others map onto description bytes.
constexpr DWORD kRecordBaseAsReflection = 0x200;
constexpr DWORD kRecordCarriedByte = 0x400;
constexpr DWORD kRecordName = 0x800;
constexpr DWORD kRecordBaseName = 0x1000;
constexpr DWORD kRecordBumpName = 0x2000;
constexpr DWORD kRecordReflectionName = 0x4000;
constexpr DWORD kRecordNameIndices = 0x8000; // texture names are u16 string-table indices

#pragma pack(push, 1)
// What every version stores first.
struct MaterialRecordCommonStruct_TYP
{
    DWORD version;
    DWORD size; // the whole record: header, names, change modes, transforms
    D3DCOLOR ambient;
    D3DCOLOR diffuse;
    D3DCOLOR specular;
    D3DCOLOR emissive;
    float power;
    float reflectionWeight;
    float bumpHeight;
};
static_assert(sizeof(MaterialRecordCommonStruct_TYP) == 36);

struct MaterialRecordV1Struct_TYP
{
    MaterialRecordCommonStruct_TYP common;
    WORD flags;
};
static_assert(sizeof(MaterialRecordV1Struct_TYP) == kMaterialRecordV1HeaderSize);

struct MaterialRecordV2Struct_TYP
{
    MaterialRecordCommonStruct_TYP common;
    DWORD flags;
    float mirrorReflectivity;
};
static_assert(sizeof(MaterialRecordV2Struct_TYP) == kMaterialRecordV2HeaderSize);

// Version 3, the form the older headers are widened to before anything else is read.
struct MaterialRecordStruct_TYP
{
    MaterialRecordCommonStruct_TYP common;
    DWORD flags;
    float mirrorReflectivity;
    DWORD headerLength; // where the variable part starts
    BYTE projection;
    BYTE unused[3];
    float projectionElements[6]; // _31, _32, _14, _24, _34, _44 of the base transform
    BYTE unused2[4];
};
static_assert(sizeof(MaterialRecordStruct_TYP) == kMaterialRecordHeaderSize);

struct PackedTextureTransformStruct_TYP
{
    float m11, m12, m21, m22, m41, m42;
    BYTE addressU;
    BYTE addressV;
    D3DCOLOR borderColor;
    BYTE flags; // bit 0 animated, bit 1 point filter
    INT effectIndex;
    float effectParams[3];
    WORD extraWord;
    BYTE extraByte;
    float speed;
    BYTE pingPong;
};
static_assert(sizeof(PackedTextureTransformStruct_TYP) == kPackedTextureTransformSize);
#pragma pack(pop)

void ConvertMaterialRecordHeaderV1(const MaterialRecordV1Struct_TYP& stored,
                                   MaterialRecordStruct_TYP* header);
void ConvertMaterialRecordHeaderV2(const MaterialRecordV2Struct_TYP& stored,
                                   MaterialRecordStruct_TYP* header);

// size: the bytes available, or 0 when the caller vouches for the record's own size field. A string
// table index at or past stringCount names nothing. On success *out is a new description
// (LRFreeMaterialDescription) and *consumed the record's size.
bool ReadMaterialRecord(const char* const* strings, const void* record, DWORD size,
                        MaterialDescriptionStruct_TYP** out, DWORD stringCount, DWORD* consumed);
} // namespace LMK
