#pragma once
// Writes the record layout, model blobs, packed model containers, "V7Q1" streams and "v7q!"
// containers from plain descriptions. Stream parts are coded the plain way an exporter may: one record
// per vertex with all five deltas, then one record per face with explicit 16-bit back-references.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferolt::test
{
struct RecordMaterial
{
    std::array<float, 3> color1{1, 1, 1}, color2{0, 0, 0};
    float transparency = 0, ambient = 0.25f, diffuse = 1, specular = 0, power = 0;
    uint32_t texture = 0;
    uint32_t flags = 0;
};

struct RecordVertex
{
    float x, y, z, u, v;
    uint32_t split = 0;
    uint16_t flags = 0;
};

struct RecordFace
{
    std::array<uint32_t, 4> corners;
    std::array<uint32_t, 4> neighbours; // the face's own index where there is none
    uint16_t flags = 0;
    uint32_t normal = 0;
    uint16_t material = 0;
    uint16_t texture = 0;
};

struct RecordLayout
{
    std::vector<std::array<float, 6>> lightPoints; // r, g, b, x, y, z
    std::vector<RecordMaterial> materials;
    std::vector<std::string> strings;
    std::vector<int32_t> partFaceCounts;
    std::vector<std::array<float, 3>> normals;
    std::vector<RecordVertex> vertices;
    std::vector<RecordFace> faces;
};

// Faces and vertices take their wide forms past 65534 of either.
std::vector<uint8_t> WriteRecordLayout(const RecordLayout& layout, bool withStrings);

struct BlobChunk
{
    uint32_t id;
    std::vector<uint8_t> bytes;
};

struct BlobDesc
{
    std::string header = "LMO V1.1";
    std::string name = "Model";
    uint32_t options = 0; // bits 3, 4, 5: file flags
    uint32_t value = 0;
    std::vector<BlobChunk> chunks; // more than four: the fourth record points at the rest
    std::vector<uint8_t> section;
    int32_t checksumAdjust = 0; // added to the true sum
};

std::vector<uint8_t> WriteModelBlob(const BlobDesc& desc);
std::vector<uint8_t> WritePackedContainer(const std::vector<std::string>& names,
                                          const std::vector<uint8_t>& section);

struct StreamPart
{
    bool instance = false;
    // Full part: the position and texture ranges, grid vertices (value = q x (max - min) / 32767 + min)
    // and faces with corners local to the part (a triangle has three).
    std::array<float, 10> ranges{0, 0, 0, 1, 1, 1, 0, 1, 0, 1};
    std::vector<std::array<int16_t, 5>> vertices;
    std::vector<std::vector<uint16_t>> faces;
    std::vector<uint16_t> groups; // per face; empty: all 0
    // Instance part.
    std::array<float, 12> transform{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    uint16_t source = 0;
};

struct StreamMaterial
{
    std::array<uint8_t, 3> color1{255, 255, 255}, color2{0, 0, 0};
    uint16_t transparency = 0;
    std::array<uint16_t, 4> factors{64, 256, 0, 0};
    uint16_t texture = 0;
    uint8_t flags = 0;
};

struct StreamDesc
{
    int identifiers = 0; // leading format identifiers, 0 to 2
    std::string name = "Stream";
    uint8_t flags = 0;
    uint32_t value = 0;
    std::vector<std::string> strings;
    std::vector<std::array<float, 6>> lightPoints; // colour bytes as 0-255 floats, then x, y, z
    std::vector<StreamMaterial> materials;
    std::vector<BlobChunk> chunks;
    std::vector<StreamPart> parts;
};

std::vector<uint8_t> WriteV7QStream(const StreamDesc& desc);
// method 0 stores the body, 1 packs it with zlib.
std::vector<uint8_t> WriteV7QContainer(const std::vector<uint8_t>& body, uint32_t method);

// The float a stream vertex component decodes to.
float StreamValue(int16_t q, float min, float max);
} // namespace ferolt::test
