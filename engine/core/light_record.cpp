#include "engine/core/light_record.h"

#include "engine/core/file_numbers.h"
#include "platform/bytes/byte_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace LMK
{
static_assert(std::endian::native == std::endian::little, "records are read in place as little-endian");

bool ReadLightRecord(const void* record, uint32_t length, LightParamsStruct_TYP* params, uint32_t* size)
{
    GetDefaultLightParams(params);
    if (size) *size = 0;
    if (!record) return false;
    const ferolt::ByteReader in(record, length);
    uint32_t magic = 0;
    uint32_t recordSize = 0;
    if (!in.U32(0, &magic) || !in.U32(4, &recordSize) || magic != kLightRecordMagic) return false;
    // A record that claims fewer bytes than its own header would make a caller stepping by the size
    // field stand still; one that claims more than it was given would send it past its buffer.
    if (recordSize < kLightRecordHeaderSize || recordSize > length) return false;

    // Shorter, earlier versions of the record leave the fields they lack zero.
    LightRecordStruct_TYP r{};
    std::span<const uint8_t> known;
    if (!in.Bytes(0, std::min<size_t>(recordSize, sizeof(r)), &known)) return false;
    std::memcpy(&r, known.data(), known.size());

    params->light = r.light;
    params->diffuseOn = r.diffuseOn;
    params->specularOn = r.specularOn;
    params->ambientOn = r.ambientOn;
    params->spotFalloff = r.spotFalloff;
    params->attenuationPreset = r.attenuationPreset;
    params->glowType = r.glowType;
    params->flareType = r.flareType;
    params->glowSize = r.glowSize;
    params->flareSize = r.flareSize;
    params->intensity = r.intensity;
    params->flareAlpha = r.flareAlpha == 0.0f ? 0.5f : r.flareAlpha;
    params->glowAlpha = r.glowAlpha == 0.0f ? 0.5f : r.glowAlpha;
    params->castsShadows = r.noShadows == 0 ? 1 : 0;
    params->hardness = 1.0f - r.softness;
    LightParamsStruct_TYP defaults;
    GetDefaultLightParams(&defaults);
    KeepFiniteLightParams(params, defaults);
    if (size) *size = recordSize;
    return true;
}
} // namespace LMK
