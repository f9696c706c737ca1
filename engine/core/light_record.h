#pragma once
// The stored light record "LRLG" carried in object files. Shorter records (earlier versions) leave the
// missing fields zero; longer ones are read as their first 153 bytes.
#include "engine/core/light.h"

#include <cstdint>

namespace LMK
{
constexpr uint32_t kLightRecordMagic = 0x474C524C; // "LRLG"
constexpr uint32_t kLightRecordHeaderSize = 8;

#pragma pack(push, 1)
struct LightRecordStruct_TYP
{
    uint32_t magic;
    uint32_t size; // the whole record, for stepping over it
    D3DLIGHT9 light;
    uint8_t diffuseOn;
    uint8_t specularOn;
    uint8_t ambientOn;
    uint8_t spotFalloff;
    uint32_t attenuationPreset;
    uint32_t glowType;
    uint32_t flareType;
    float glowSize;
    float flareSize;
    float intensity;
    float flareAlpha; // 0 means 0.5
    float glowAlpha;  // 0 means 0.5
    uint8_t noShadows;
    float softness; // hardness = 1 - softness
};
#pragma pack(pop)
static_assert(sizeof(LightRecordStruct_TYP) == 153);

// length: the bytes available at record. Fills *params with the defaults first, then with the record's
// fields. False for a wrong magic, a size field below the header, or a record longer than length. On
// success *size (when given) is the record's size field.
bool ReadLightRecord(const void* record, uint32_t length, LightParamsStruct_TYP* params, uint32_t* size);
} // namespace LMK
