#pragma once
// Bit reader and entropy tables of the compressed geometry block.
//
// Bits are taken from bit 0 to bit 7 of each byte, bytes in increasing address order, and a value
// of n bits is assembled least significant bit first. A field is read either as a plain bit field
// or through a table: "LKHN" (uncoded, a fixed raw width) or "LKHF" (a prefix code over w-bit
// symbols with an escape symbol that is followed by a w-bit literal).
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{

struct HuffmanTable;

// Reader state kept for one mesh. `last` is the last readable byte (inclusive); a reader over no
// bytes has both pointers null and fails every read.
struct BitReader
{
    DWORD bitPosition = 0;
    const BYTE* current = nullptr;
    const BYTE* last = nullptr;
    DWORD lastCount = 0; // bits taken by the most recent read, for the mesh statistics

    void Init(const BYTE* data, size_t size);

    // Values are at most 32 bits wide: n above 32 fails.
    static bool ReadBits(DWORD& value, DWORD n, BitReader& reader);
    static bool ReadField(DWORD& value, DWORD n, HuffmanTable* table, BitReader& reader);
    static DWORD HighestBit(DWORD v);
};

struct HuffmanNode
{
    DWORD symbol;
    // Children as indices into the table's node array; 0 means none (the root is never a child).
    DWORD child0;
    DWORD child1;
};
static_assert(sizeof(HuffmanNode) == 12);

struct HuffmanTable
{
    static constexpr DWORD kTag = 0x87654321u;
    static constexpr DWORD kMagicUncoded = 0x4E484B4Cu; // "LKHN"
    static constexpr DWORD kMagicCoded = 0x46484B4Cu;   // "LKHF"
    // Symbols are returned in a u32.
    static constexpr DWORD kMaxSymbolWidth = 32;
    // An optimal prefix code deeper than this needs symbol counts beyond 2^44, so a deeper tree is
    // hostile input rather than a real code.
    static constexpr DWORD kMaxTreeDepth = 64;

    DWORD tag = kTag;
    DWORD symbolWidth = 0; // 0 for an uncoded table
    DWORD fieldLength = 0; // L for a coded table, the raw width for an uncoded one
    DWORD symbolCount = 0;
    DWORD escape = 0;
    HuffmanNode* nodes = nullptr;
    HuffmanNode* nodesToFree = nullptr;
    DWORD nodeCount = 0;

    static HRESULT Create(const BYTE* block, DWORD size, HuffmanTable** out);
    static HRESULT Free(HuffmanTable** table);
    static HRESULT DecodeField(const HuffmanTable* table, BYTE* destination, DWORD destinationBitOffset,
                               DWORD n, const BYTE* source, DWORD sourceLength, DWORD* bitPosition,
                               DWORD* bitsConsumed);

    static bool ReadTree(const BYTE* bits, size_t bitCount, DWORD symbolWidth, HuffmanNode* nodes,
                         DWORD nodeCount);
    static bool DecodeSymbol(const HuffmanTable* table, const BYTE* source, DWORD length, DWORD& bitPosition,
                             DWORD& value);
    static bool ReadRawBits(const BYTE* source, DWORD n, DWORD length, DWORD& bitPosition, DWORD& value);
};

} // namespace LMK
