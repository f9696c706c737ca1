#pragma once
// Builds stored light records ("LRLG") byte by byte from the record layout alone, independent of the
// engine's reader, so a test shows every byte it hands over.
#include "tests/support/object_file_writer.h"

#include <cstdint>
#include <optional>

namespace ferolt::test
{
constexpr uint32_t kLightRecordFullSize = 153;
constexpr uint32_t kLightRecordTag = 0x474C524Cu; // "LRLG"

struct LightRecordFields
{
    uint32_t magic = kLightRecordTag;
    uint32_t type = 1;
    float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float specular[4] = {0.6f, 0.6f, 0.6f, 1.0f};
    float ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    float position[3] = {0.0f, 0.0f, 0.0f};
    float direction[3] = {0.0f, 0.0f, -1.0f};
    float range = 50.0f;
    float falloff = 1.0f;
    float attenuation[3] = {0.0f, 1.0f, 0.0f};
    float theta = 0.62831855f;
    float phi = 1.5707964f;
    uint8_t diffuseOn = 1;
    uint8_t specularOn = 1;
    uint8_t ambientOn = 1;
    uint8_t spotFalloff = 0;
    uint32_t attenuationPreset = 4;
    uint32_t glowType = 1;
    uint32_t flareType = 1;
    float glowSize = 1.0f;
    float flareSize = 30.0f;
    float intensity = 1.0f;
    float flareAlpha = 0.5f;
    float glowAlpha = 0.5f;
    uint8_t noShadows = 0;
    float softness = 0.0f;
};

// The record with `sizeField` in its size field. Its bytes are the full layout cut to `emitted` bytes
// (default: the size field), and past the 153 known bytes a filler of 0xA5.
Bytes LightRecord(const LightRecordFields& fields, uint32_t sizeField = kLightRecordFullSize,
                  std::optional<size_t> emitted = std::nullopt);
} // namespace ferolt::test
