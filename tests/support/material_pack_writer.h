#pragma once
// Builds material records (versions 1 to 3) and "LKMA" material packs byte by byte, from the stored
// layout alone, for the engine's and the codec's tests and the bundled example.
#include "tests/support/object_file_writer.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ferolt::test
{
// Record flags the fixtures set by name.
constexpr uint32_t kRecordChangeModes = 0x10;
constexpr uint32_t kRecordBaseTransform = 0x20;
constexpr uint32_t kRecordMaterialName = 0x800;
constexpr uint32_t kRecordBaseName = 0x1000;
constexpr uint32_t kRecordNameIndices = 0x8000;

// The 55-byte packed texture transform; the defaults are the identity with wrapping.
struct PackedTransformFields
{
    std::array<float, 6> matrix = {1, 0, 0, 1, 0, 0}; // _11, _12, _21, _22, _41, _42
    uint8_t addressU = 1;
    uint8_t addressV = 1;
    uint32_t borderColour = 0;
    uint8_t flags = 0; // bit 0 animated, bit 1 point filter
    int32_t effectIndex = 0;
    std::array<float, 3> effectParams = {0, 0, 0};
    uint16_t extraWord = 0;
    uint8_t extraByte = 0;
    float speed = 0;
    uint8_t pingPong = 0;
};
Bytes PackedTransform(const PackedTransformFields& fields);

struct MaterialRecordFields
{
    uint32_t version = 3;
    uint32_t flags = 0;
    std::array<uint32_t, 4> colours = {0xFF101010u, 0xFF336699u, 0xFF808080u, 0xFF000000u}; // ambient,
                                                                                            // diffuse,
                                                                                            // specular,
                                                                                            // emissive
    float power = 12.0f;
    float reflectionWeight = 0.5f;
    float bumpHeight = 3.0f;
    float mirrorReflectivity = 0.25f; // versions 2 and 3
    uint8_t projection = 0;           // version 3
    std::array<float, 6> projectionElements = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    Bytes body = {};       // the variable part, as written (see the helpers below)
    int64_t sizeDelta = 0; // added to the true size in the size field
};
Bytes MaterialRecord(const MaterialRecordFields& fields);

// Pieces of a record's variable part.
Bytes InlineName(const std::string& name); // with its NUL
Bytes NameIndex(uint16_t index);
Bytes ChangeModes(std::vector<int8_t> modes); // padded to 24 bytes

// A plain material: the colour as emissive, black ambient, diffuse and specular except for the
// diffuse alpha, so that it shows its colour whatever the lights and blends at that alpha.
Bytes ColourRecord(uint32_t rgb, uint8_t alpha = 0xFF, const std::string& baseTexture = {});

struct MaterialPackFields
{
    uint32_t version = 1;
    std::vector<uint32_t> slots = {};
    std::vector<std::string> strings = {};
    std::vector<Bytes> records = {};
    int64_t stringBytesDelta = 0; // added to the true total in the string-bytes field
    int64_t materialCountDelta = 0;
};
Bytes MaterialPack(const MaterialPackFields& fields);
} // namespace ferolt::test
