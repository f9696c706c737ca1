#pragma once
// Object file layout: the file header, section and chunk headers, and the instance records.
// All numbers are little-endian.
#include "engine/engine_api.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/mfc/afx_string.h"
#include "platform/win32/windef.h"

#include <bit>
#include <memory>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the file records are read in place");

namespace LMK
{
class Model_;
class Light_;
class Texture_;
class Material_;
} // namespace LMK

#pragma pack(push, 1)
struct P3DFileHeader
{
    BYTE signature[16]; // MD5 of four zero bytes
    DWORD version;      // 3
    DWORD revision;     // 1
    DWORD value1;
    DWORD value2;
    BYTE reserved[8];
    GUID contentType;
    GUID secondGuid;
    DWORD value3; // the viewer's viewpoint switch
};
static_assert(sizeof(P3DFileHeader) == 76);

struct P3DSectionHeader
{
    DWORD unused;
    DWORD kind;
    DWORD unpackedSize;
    DWORD storedSize;
    DWORD crc32; // over the stored bytes
};
static_assert(sizeof(P3DSectionHeader) == 20);

struct P3DChunkHeader
{
    DWORD type;
    DWORD size;
};
static_assert(sizeof(P3DChunkHeader) == 8);

// Instance record as stored; a 76-byte record carries a light group after it.
struct P3DInstanceRecordFile
{
    DWORD outputIndex;
    DWORD materialSet;
    float matrix[16];
};
static_assert(sizeof(P3DInstanceRecordFile) == 72);
#pragma pack(pop)

constexpr DWORD P3D_FORMAT_VERSION = 3;
constexpr DWORD P3D_FORMAT_REVISION = 1;
constexpr DWORD P3D_SECTION_BZIP2 = 0x10000000u;
constexpr DWORD P3D_SECTION_STORED = 0x20000000u;
constexpr DWORD P3D_SECTION_END = 0x80008000u;

enum P3DChunkType : DWORD
{
    P3D_CHUNK_MODEL = 1,
    P3D_CHUNK_MATERIAL_PACK = 2,
    P3D_CHUNK_ANIMATION = 3,
    P3D_CHUNK_TEXTURE = 4,
    P3D_CHUNK_MODEL_RECORDS_FIRST = 5,
    P3D_CHUNK_TEXTURE_FLAGS = 6,
    P3D_CHUNK_MODEL_CHUNKS = 7,
    P3D_CHUNK_MODEL_RECORD_SIZE = 8,
    P3D_CHUNK_LIGHTS = 9,
    P3D_CHUNK_SKIPPED = 10,
    P3D_CHUNK_SPECIAL_FLAGS = 11,
};

// Instance record in memory; fields not present in the file are 0.
struct P3DInstanceRecord
{
    D3DXMATRIX matrix;
    DWORD materialSet; // 1-based, 0 none
    DWORD outputIndex;
    DWORD lightGroup; // 1-based, 0 none
};

// A model chunk whose data block the entry owns until it is handed on.
struct P3DOwnedChunk
{
    DWORD id = 0;
    std::unique_ptr<BYTE[]> data;
    DWORD size = 0;
};

struct P3DChunkEntry
{
    LMK::Model_* model = nullptr;
    std::vector<P3DInstanceRecord> records;
    std::vector<P3DOwnedChunk> chunks;
};

struct P3DMaterialSet
{
    std::vector<BYTE> pack; // private copy of the material pack
    DWORD slotCount = 0;
    std::vector<CString> names;           // from the pack's string table
    LMK::Material_** materials = nullptr; // slotCount entries once the pack is loaded, each counted
    LMK::Material_** copies = nullptr;    // copyCount entries, counted; only while objects are assembled
    DWORD copyCount = 0; // the slot count may change when the pack is reloaded while copies exist
};

struct P3DLightSlot
{
    LMK::Light_* light = nullptr;
    DWORD lightPointIndex = 0;
};
