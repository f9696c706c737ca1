#pragma once
// "v7q!" containers (a stored or zlib-packed body) and the "V7Q1" stream inside them: a chunk list, an
// object header with bounds, name, strings, light points and materials, and parts that are either
// delta-coded vertices and faces or transformed instances of earlier parts. The stream converts into
// the record layout of model blobs and is built by the same builder.
#include <array>
#include <string>
#include <vector>

#include "engine/scene/model_blob.h"

namespace LMK
{
constexpr DWORD kV7QStreamMagic = 0x31513756; // "V7Q1"
// {0800D40A-279B-11D3-8828-00600857F45C}, which may stand once or twice before a stream.
inline constexpr uint8_t kV7QFormatIdentifier[16] = {0x0A, 0xD4, 0x00, 0x08, 0x9B, 0x27, 0xD3, 0x11,
                                                     0x88, 0x28, 0x00, 0x60, 0x08, 0x57, 0xF4, 0x5C};
constexpr size_t kV7QObjectHeaderSize = 50;
constexpr size_t kV7QFullPartHeaderSize = 46;
constexpr size_t kV7QInstancePartHeaderSize = 50;

// Face flags of a decoded part.
constexpr DWORD kV7QFaceQuad = 0x1;
constexpr DWORD kV7QFaceHard01 = 0x2; // 0x4, 0x8 and 0x10 are the further hard edges
constexpr DWORD kV7QFaceMarked = 0x20;

struct V7QVertex
{
    float x, y, z, u, v;
};

struct V7QFace
{
    DWORD flags;
    DWORD group;
    DWORD corners[4]; // local to the part; a triangle repeats c2 as c3
};

struct V7QPartStruct_TYP
{
    bool instance = false;
    // Full part: position min (3), max (3), u min/max, v min/max. Instance: the 4x3 transform.
    std::array<float, 12> header{};
    WORD vertexCapacity = 0, faceCapacity = 0, recordCount = 0;
    WORD source = 0;
    std::vector<V7QVertex> vertices;
    std::vector<V7QFace> faces;
};

struct V7QMaterialRecord
{
    BYTE color1[3], color2[3];
    WORD transparency;
    WORD factors[4];
    WORD texture;
    BYTE flags;
};

struct V7QLightRecord
{
    BYTE color[3];
    float position[3];
};

struct V7QModelStruct_TYP
{
    float boundsMin[3] = {0, 0, 0}, boundsMax[3] = {0, 0, 0};
    DWORD value = 0;
    BYTE flags = 0;
    std::string name;
    std::vector<std::string> strings;
    std::vector<V7QLightRecord> lightPoints;
    std::vector<V7QMaterialRecord> materials;
    std::vector<V7QPartStruct_TYP> parts;
    DWORD totalVertices = 0, totalFaces = 0;
};

bool UnpackV7QContainer(const void* data, DWORD size, std::vector<BYTE>* body);
// chunks (or null): the stream's chunk list, its offsets from the stream's start. allPartsRead (or
// null): every stored part was read; the parts before a failed one are kept.
bool ReadV7QModel(BlobOptionsStruct_TYP* options, const void* stream, DWORD size, V7QModelStruct_TYP* model,
                  BYTE noHardEdges, std::vector<BlobChunkStruct_TYP>* chunks, bool* allPartsRead);
bool DecodeV7QPart(V7QPartStruct_TYP* part, ferolt::ByteCursor& in, BYTE noHardEdges);
// Converts into the record layout (memory form) and builds; the model takes the stream's name.
HRESULT BuildModelFromV7Q(BYTE optimise, BYTE noTextures, BYTE noResmooth, const V7QModelStruct_TYP& model,
                          const BlobOptionsStruct_TYP* options, BYTE animated,
                          const BlobChunksStruct_TYP* chunks, LoadRecordStruct_TYP* record, Model_** out);
// The record layout of a stream, for tests and the builder.
void ConvertV7QToRecords(const V7QModelStruct_TYP& model, BlobRecordsStruct_TYP* out);
} // namespace LMK
