#pragma once
// The material pack "LKMA": a 28-byte header, the slot indices, a string table and a run of material
// records. Every read stays inside the length the caller gives; damage ends the reading there.
#include <vector>

#include "platform/bytes/byte_reader.h"
#include "platform/win32/windef.h"

namespace LMK
{
constexpr DWORD kMaterialPackMagic = 0x414D4B4C; // "LKMA"
constexpr DWORD kMaterialPackHeaderSize = 28;
constexpr DWORD kMaterialPackEmptySlot = 0xFFFFFFFF;

#pragma pack(push, 1)
struct MaterialPackHeaderStruct_TYP
{
    DWORD magic;
    DWORD version; // below 2
    DWORD unused;
    DWORD slotCount;
    DWORD materialCount;
    DWORD stringCount;
    DWORD stringBytes; // the strings with their NULs; not checked against what is walked
};
#pragma pack(pop)
static_assert(sizeof(MaterialPackHeaderStruct_TYP) == kMaterialPackHeaderSize);

// The parts of a pack found by walking it: the slot indices and the strings that end inside it, and
// where the records begin. A damaged string table ends the walk: the strings before the damage are
// kept and `recordsFound` is false, since the records lie behind the missing terminator.
struct MaterialPackLayout
{
    MaterialPackHeaderStruct_TYP header;
    std::vector<DWORD> slots;
    std::vector<const char*> strings;
    size_t recordsStart = 0;
    bool recordsFound = false;
};

// False for a short header, a wrong magic or version, or slot indices cut short.
bool ReadMaterialPackLayout(ferolt::ByteReader pack, MaterialPackLayout* layout);
} // namespace LMK
