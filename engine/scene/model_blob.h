#pragma once
// Model blobs ("ACO"/"LMO" headers), packed model containers and the record layout their data sections
// hold: light points, materials, strings, parts, face normals, vertices and faces with quads, hard edges
// and per-face materials. The "v7q!" reader converts into the same layout, and one builder turns it
// into a model.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/loaders.h"
#include "platform/bytes/byte_reader.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Model_;

constexpr DWORD kBlobHeaderSize = 256;
constexpr DWORD kPackedHeaderSize = 48;

// Face flags.
constexpr WORD kBlobFaceQuad = 0x1;
constexpr WORD kBlobFaceTextured = 0x4;
constexpr WORD kBlobFaceTransparent = 0x8;
constexpr WORD kBlobFaceAlphaTest = 0x10;
constexpr WORD kBlobFaceHardEdge0 = 0x20; // edges 1 to 3 follow
constexpr WORD kBlobFaceTwoSided = 0x200;
// Vertex flags: together they mark a vertex on hard edges.
constexpr WORD kBlobVertexOnHardEdges = 0x7E10;

// Chunk ids with a meaning of their own.
constexpr DWORD kBlobAnimationChunk = 20;
constexpr DWORD kBlobTextureTableChunk = 256;
constexpr DWORD kBlobAnimatedChunk = 0x10000;

struct BlobOptionsStruct_TYP
{
    BYTE flags[3];
    DWORD value;
    BYTE valid;
};

struct BlobChunkStruct_TYP
{
    DWORD id;
    DWORD offset; // from the chunk base
    DWORD size;
    DWORD unused;
};

struct BlobLightPoint
{
    float color[3];
    float position[3];
};

struct BlobMaterial
{
    float color1[3];
    float color2[3];
    float transparency;
    float ambient, diffuse, specular, power;
    DWORD texture; // string index
    DWORD flags;   // 0x1 has texture, 0x2 alpha test, 0x4 emissive, 0x8 keep diffuse, 0x10 two-sided,
                   // 0x20 texture as reflection
};

struct BlobPart
{
    DWORD vertexCount;
    int32_t faceCount; // negative: a lamp part of |faceCount| faces
};

// Memory form of the vertex and face records.
struct BlobVertex
{
    float x, y, z, u, v;
    DWORD split; // 0xFFFF: every corner gets its own vertex
    WORD flags;
};

struct BlobFace
{
    DWORD corners[4];
    DWORD neighbours[4];
    WORD flags;
    DWORD normal;
    WORD material;
    WORD texture;
};

// The record layout, read and widened.
struct BlobRecordsStruct_TYP
{
    std::vector<BlobLightPoint> lightPoints;
    std::vector<BlobMaterial> materials;
    std::vector<std::string> strings;
    std::vector<BlobPart> parts;
    std::vector<std::array<float, 3>> normals;
    std::vector<BlobVertex> vertices;
    std::vector<BlobFace> faces;
};

// The chunks a model takes: their table and the bytes their offsets count from.
struct BlobChunksStruct_TYP
{
    ferolt::ByteReader base;
    std::vector<BlobChunkStruct_TYP> table;
};

// The blob's chunk table; false when the extension records lie past the data.
bool GetBlobChunkTable(const ferolt::ByteReader& blob, std::vector<BlobChunkStruct_TYP>* table);
// The record layout (file form) of a data section; false when its arrays pass the section.
bool ReadBlobRecords(const ferolt::ByteReader& section, bool hasStrings, BlobRecordsStruct_TYP* out);
bool BlobToACORObj(BlobOptionsStruct_TYP* options, const void* data, DWORD size, BYTE noResmooth,
                   BYTE hasStrings, BlobRecordsStruct_TYP* records, std::string* name,
                   BlobChunksStruct_TYP* chunks);

// fileForm: widths of the file, material splitting and winding fixes apply (the "v7q!" conversion
// hands its records in memory form).
HRESULT BuildModelFromBlobData(BYTE optimise, BYTE noTextures, BYTE noResmooth,
                               BlobRecordsStruct_TYP* records, const BlobOptionsStruct_TYP* options,
                               bool fileForm, BYTE animated, const std::vector<std::string>* nameList,
                               const BlobChunksStruct_TYP* chunks, LoadRecordStruct_TYP* record,
                               Model_** out);

// The names of a name list: NUL-terminated strings, ending at an empty one or the data's end.
std::vector<std::string> ReadNameList(const ferolt::ByteReader& list);
} // namespace LMK
