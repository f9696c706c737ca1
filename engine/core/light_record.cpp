#include "engine/core/light_record.h"

#include "engine/core/file_numbers.h"

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
    if (!record || length < kLightRecordHeaderSize) return false;
    const auto* bytes = static_cast<const BYTE*>(record);
    uint32_t magic = 0;
    uint32_t recordSize = 0;
    std::memcpy(&magic, bytes, 4);
    std::memcpy(&recordSize, bytes + 4, 4);
    if (magic != kLightRecordMagic) return false;
    // A record that claims fewer bytes than its own header would make a caller stepping by the size
    // field stand still; one that claims more than it was given would send it past its buffer.
    if (recordSize < kLightRecordHeaderSize || recordSize > length) return false;

    LightRecordStruct_TYP r{};
    std::memcpy(&r, bytes, std::min<size_t>(recordSize, sizeof(r)));

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
