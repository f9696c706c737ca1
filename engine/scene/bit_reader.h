#pragma once
// Bit reader and entropy tables of the compressed geometry block.
//
// Bits are taken from bit 0 to bit 7 of each byte, bytes in increasing address order, and a value
// of n bits is assembled least significant bit first. A field is read either as a plain bit field
// or through a table: "LKHN" (uncoded, a fixed raw width) or "LKHF" (a prefix code over w-bit
// symbols with an escape symbol that is followed by a w-bit literal).
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"
#include "platform/bytes/byte_reader.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace LMK
{

struct HuffmanTable;

// Reader state kept for one mesh; the bits are read through the checked bit cursor. A reader over
// no bytes fails every read.
struct BitReader
{
    ferolt::BitCursor bits;
    DWORD lastCount = 0; // bits taken by the most recent read, for the mesh statistics

    void Init(const BYTE* data, size_t size);
    size_t BitsLeft() const { return bits.BitsLeft(); }

    // Values are at most 32 bits wide: n above 32 fails. Every read, even of no bits, needs at least
    // one bit left.
    static bool ReadBits(DWORD& value, DWORD n, BitReader& reader)
    {
        value = 0;
        if (reader.bits.BitsLeft() == 0) return false;
        reader.lastCount = n;
        return reader.bits.Read(n, &value);
    }
    // A field through its table; inline, as uncoded tables carry most of a mesh's values.
    static bool ReadField(DWORD& value, DWORD n, const HuffmanTable* table, BitReader& reader);
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

    // Codes up to this long are resolved by one look-up of the next bits; longer ones walk on.
    static constexpr DWORD kMaxLookupBits = 10;

    // What the next lookupBits bits lead to: the node reached and the bits it took.
    struct LookupEntry
    {
        DWORD node;
        DWORD length;
    };

    DWORD tag = kTag;
    DWORD symbolWidth = 0; // 0 for an uncoded table
    DWORD fieldLength = 0; // L for a coded table, the raw width for an uncoded one
    DWORD symbolCount = 0;
    DWORD escape = 0;
    HuffmanNode* nodes = nullptr; // points into nodesToFree
    std::unique_ptr<HuffmanNode[]> nodesToFree;
    DWORD nodeCount = 0;
    DWORD depth = 0; // of the deepest leaf
    DWORD lookupBits = 0;
    std::vector<LookupEntry> lookup;

    static HRESULT Create(const BYTE* block, DWORD size, HuffmanTable** out);
    static HRESULT Free(HuffmanTable** table);
    // Decodes a field of n bits into destination at a bit offset; *bitPosition counts from source.
    // Symbols are walked bit by bit, so this is the reference the look-up path is checked against.
    static HRESULT DecodeField(const HuffmanTable* table, BYTE* destination, DWORD destinationBitOffset,
                               DWORD n, const BYTE* source, DWORD sourceLength, DWORD* bitPosition,
                               DWORD* bitsConsumed);

    // Reads the tree into nodes and gives the depth of its deepest leaf.
    static bool ReadTree(ferolt::BitCursor bits, DWORD symbolWidth, HuffmanNode* nodes, DWORD nodeCount,
                         DWORD* depth);
    // One symbol, an escape followed by its literal. A code may end exactly at the end of the stream
    // (an escape there stands for itself); one that runs into it fails.
    bool DecodeSymbol(ferolt::BitCursor& bits, DWORD& value) const;
    // The same bit by bit down the tree, without the look-up: the generic field decoder's way.
    bool WalkSymbol(ferolt::BitCursor& bits, DWORD& value) const;
    // A field of n <= 32 bits: the field's symbols in order, kept up to n bits, zero-extended.
    bool DecodeValue(ferolt::BitCursor& bits, DWORD n, DWORD& value) const
    {
        value = 0;
        return symbolWidth == 0 ? ReadUncoded(bits, n, value) : DecodeCoded(bits, n, value);
    }

private:
    // An uncoded field is fieldLength raw bits, of which the first n are kept.
    bool ReadUncoded(ferolt::BitCursor& bits, DWORD n, DWORD& value) const
    {
        uint32_t raw = 0;
        if (fieldLength > bits.BitsLeft() || !bits.Peek(std::min(fieldLength, n), &raw)) return false;
        (void)bits.Skip(fieldLength);
        value = raw;
        return true;
    }
    bool DecodeCoded(ferolt::BitCursor& bits, DWORD n, DWORD& value) const;
    void BuildLookup();
};

inline bool BitReader::ReadField(DWORD& value, DWORD n, const HuffmanTable* table, BitReader& reader)
{
    value = 0;
    if (n == 0 || n > 32 || !table || table->tag != HuffmanTable::kTag || reader.bits.BitsLeft() == 0)
        return false;
    // A field that fails leaves the reader where it was.
    ferolt::BitCursor bits = reader.bits;
    if (!table->DecodeValue(bits, n, value))
    {
        value = 0;
        return false;
    }
    reader.lastCount = static_cast<DWORD>(bits.Position() - reader.bits.Position());
    reader.bits = bits;
    return true;
}

} // namespace LMK
