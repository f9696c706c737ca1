#pragma once
// Builds the stored background record (136 bytes) byte by byte from the record layout alone, and the
// model-chunk item that carries it in an object file, so a test shows every byte it hands over.
#include "tests/support/object_file_writer.h"

#include <array>
#include <cstdint>
#include <string>

namespace ferolt::test
{
constexpr uint32_t kEnvironmentRecordBytes = 136;
constexpr uint32_t kBackgroundChunkId = 0x112;

struct EnvironmentRecordFields
{
    uint32_t type = 1;
    std::array<std::array<float, 4>, 4> colors = {{{26.0f / 255.0f, 0.4f, 1.0f, 1.0f},
                                                   {202.0f / 255.0f, 218.0f / 255.0f, 251.0f / 255.0f, 1.0f},
                                                   {21.0f / 255.0f, 74.0f / 255.0f, 0.0f, 1.0f},
                                                   {60.0f / 255.0f, 214.0f / 255.0f, 0.0f, 1.0f}}};
    uint32_t textureCount = 0;
    uint32_t texturesSlot = 0; // a pointer of the program that wrote the file: meaningless when read
    float heightOffset = 0.0f;
    float turn = 0.0f;
    float viewAngle = 1.0471976f;
    float pictureAngle = 0.0f;
    uint8_t stretchPicture = 1;
    uint8_t cropPicture = 0;
    std::array<float, 4> crop = {0.0f, 1.0f, 0.0f, 1.0f};
    uint32_t overlaySlot = 0; // likewise
    int32_t overlayX = 0;
    int32_t overlayY = 0;
    uint8_t screenPictureTextureMatrix = 0;
    int32_t uOffset = 0;
    int32_t vOffset = 0;
};

// The 136-byte record; its unused bytes are zero.
Bytes EnvironmentRecord(const EnvironmentRecordFields& fields);

// The record followed by `names` (texture names separated by line feeds) and, when asked, a NUL.
Bytes BackgroundChunk(const EnvironmentRecordFields& fields, const std::string& names = {},
                      bool terminated = true);

// One item of a model-chunks chunk (object file chunk type 7): id, size, row index, then the data.
Bytes ModelChunkItem(uint32_t id, uint32_t row, const Bytes& data);
} // namespace ferolt::test
