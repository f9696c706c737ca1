#include "engine/scene/bit_reader.h"

#include "engine/core/owned_array.h"
#include "platform/bytes/byte_reader.h"
#include "platform/win32/out_of_memory.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace LMK
{
namespace
{

inline void PutBit(BYTE* bytes, uint64_t position, DWORD bit)
{
    const BYTE mask = static_cast<BYTE>(1u << (position & 7));
    if (bit)
        bytes[position >> 3] |= mask;
    else
        bytes[position >> 3] &= static_cast<BYTE>(~mask);
}

} // namespace

void BitReader::Init(const BYTE* data, size_t size)
{
    bits = ferolt::BitCursor(ferolt::ByteReader(data, size));
    lastCount = 0;
}

DWORD BitReader::HighestBit(DWORD v)
{
    return static_cast<DWORD>(std::bit_width(v));
}

HRESULT HuffmanTable::Create(const BYTE* block, DWORD size, HuffmanTable** out)
{
    if (out) *out = nullptr;
    if (!block || size == 0 || !out) return E_INVALIDARG;
    const ferolt::ByteReader in(block, size);
    DWORD magic = 0;
    WORD fieldLength = 0;
    if (!in.U32(0, &magic) || !in.U16(4, &fieldLength)) return E_FAIL;
    if (magic == kMagicUncoded)
    {
        std::unique_ptr<HuffmanTable> table(new (std::nothrow) HuffmanTable);
        if (!table) return E_OUTOFMEMORY;
        table->fieldLength = fieldLength;
        *out = table.release(); // Free takes it back
        return S_OK;
    }
    // Version, symbol width, field length, node count, escape, then the tree's bits.
    BYTE version = 0, symbolWidth = 0;
    DWORD nodeCount = 0, escape = 0;
    ferolt::ByteReader tree;
    if (magic != kMagicCoded || !in.U8(4, &version) || !in.U8(5, &symbolWidth) || !in.U16(6, &fieldLength) ||
        !in.U32(8, &nodeCount) || !in.U32(12, &escape) || !in.Tail(16, &tree) || version != 1)
        return E_FAIL;

    const DWORD width = symbolWidth;
    const uint64_t treeBits = static_cast<uint64_t>(tree.Size()) * 8;
    // Every node takes at least one bit of the tree, which bounds the allocation by the block size.
    if (width == 0 || width > kMaxSymbolWidth || nodeCount == 0 || nodeCount > treeBits) return E_FAIL;

    std::unique_ptr<HuffmanTable> table(new (std::nothrow) HuffmanTable);
    if (!table) return E_OUTOFMEMORY;
    table->nodesToFree = NewArray<HuffmanNode>(nodeCount);
    if (!table->nodesToFree) return E_OUTOFMEMORY;
    HuffmanNode* nodes = table->nodesToFree.get();
    table->symbolWidth = width;
    table->fieldLength = fieldLength;
    table->symbolCount = (table->fieldLength + width - 1) / width;
    table->escape = escape;
    table->nodes = nodes;
    table->nodeCount = nodeCount;
    if (!ReadTree(ferolt::BitCursor(tree), width, nodes, nodeCount, &table->depth)) return E_FAIL;
    if (!ferolt::Allocated([&] { table->BuildLookup(); })) return E_OUTOFMEMORY;
    *out = table.release(); // Free takes it back
    return S_OK;
}

// Pre-order: a 1 bit is an inner node whose children are the next two unused nodes (0-child
// first), followed by the 0-child's tree and then the 1-child's; a 0 bit is a leaf followed by its
// w-bit symbol. Iterative, so a hostile tree cannot exhaust the stack; it is refused when it needs
// more nodes than declared, more bits than the block holds, or more depth than a real code has.
bool HuffmanTable::ReadTree(ferolt::BitCursor bits, DWORD symbolWidth, HuffmanNode* nodes, DWORD nodeCount,
                            DWORD* treeDepth)
{
    struct Pending
    {
        DWORD node;
        DWORD depth;
    };
    Pending pending[kMaxTreeDepth];
    DWORD pendingCount = 0;
    DWORD nextFree = 1;
    DWORD node = 0;
    DWORD depth = 0;
    *treeDepth = 0;
    for (;;)
    {
        for (;;)
        {
            uint32_t inner = 0;
            if (!bits.Read(1, &inner)) return false;
            if (!inner) break;
            if (depth == kMaxTreeDepth || nodeCount - nextFree < 2) return false;
            nodes[node].child0 = nextFree;
            nodes[node].child1 = nextFree + 1;
            nextFree += 2;
            ++depth;
            pending[pendingCount++] = {nodes[node].child1, depth};
            node = nodes[node].child0;
        }
        if (!bits.Read(symbolWidth, &nodes[node].symbol)) return false;
        *treeDepth = std::max(*treeDepth, depth);
        if (pendingCount == 0) return true;
        --pendingCount;
        node = pending[pendingCount].node;
        depth = pending[pendingCount].depth;
    }
}

void HuffmanTable::BuildLookup()
{
    lookupBits = std::min(depth, kMaxLookupBits);
    lookup.resize(size_t{1} << lookupBits);
    for (DWORD pattern = 0; pattern < lookup.size(); ++pattern)
    {
        DWORD node = 0;
        DWORD length = 0;
        while (nodes[node].child0 && length < lookupBits)
            node = (pattern >> length++) & 1u ? nodes[node].child1 : nodes[node].child0;
        lookup[pattern] = {node, length};
    }
}

bool HuffmanTable::DecodeSymbol(ferolt::BitCursor& bits, DWORD& value) const
{
    value = 0;
    if (bits.BitsLeft() == 0) return false;
    // With room for the deepest code and an escape's literal, the end of the stream cannot be met.
    if (bits.BitsLeft() >= kMaxTreeDepth + kMaxSymbolWidth)
    {
        uint32_t window = 0;
        (void)bits.Peek(lookupBits, &window);
        DWORD node = lookup[window].node;
        (void)bits.Skip(lookup[window].length);
        uint32_t bit = 0;
        while (nodes[node].child0)
        {
            (void)bits.Read(1, &bit);
            node = bit ? nodes[node].child1 : nodes[node].child0;
        }
        value = nodes[node].symbol;
        return value != escape || bits.Read(symbolWidth, &value);
    }
    return WalkSymbol(bits, value);
}

bool HuffmanTable::WalkSymbol(ferolt::BitCursor& bits, DWORD& value) const
{
    value = 0;
    if (bits.BitsLeft() == 0) return false;
    DWORD node = 0;
    while (nodes[node].child0)
    {
        uint32_t bit = 0;
        if (!bits.Read(1, &bit)) return false;
        node = bit ? nodes[node].child1 : nodes[node].child0;
        // A code may end exactly at the last bit; only an inner node there is a truncated code.
        if (bits.BitsLeft() == 0 && nodes[node].child0) return false;
    }
    value = nodes[node].symbol;
    // A code that ran into the end of the stream is taken as the leaf it reached, escape or not,
    // so a stream ending that way keeps its last value.
    if (value == escape && bits.BitsLeft() > 0) return bits.Read(symbolWidth, &value);
    return true;
}

bool HuffmanTable::DecodeCoded(ferolt::BitCursor& bits, DWORD n, DWORD& value) const
{
    const uint64_t keep = (uint64_t{1} << n) - 1;
    // A lone non-escape leaf decodes without reading a bit, so once the field is full its
    // remaining symbols change nothing; stopping keeps a long field from costing time for nothing.
    const bool freeSymbols = nodes[0].child0 == 0 && nodes[0].symbol != escape;
    uint64_t field = 0;
    DWORD written = 0;
    for (DWORD s = 0; s < symbolCount && !(freeSymbols && written >= n); ++s)
    {
        DWORD symbol = 0;
        if (!DecodeSymbol(bits, symbol)) return false;
        const DWORD carried = written + symbolWidth > fieldLength ? fieldLength - written : symbolWidth;
        if (written < n) field |= (symbol & ((uint64_t{1} << carried) - 1)) << written;
        written += carried;
    }
    value = static_cast<DWORD>(field & keep);
    return true;
}

HRESULT HuffmanTable::DecodeField(const HuffmanTable* table, BYTE* destination, DWORD destinationBitOffset,
                                  DWORD n, const BYTE* source, DWORD sourceLength, DWORD* bitPosition,
                                  DWORD* bitsConsumed)
{
    if (!table || !destination || !source || !bitPosition || !bitsConsumed || n == 0 || sourceLength == 0)
        return E_INVALIDARG;
    if (table->tag != kTag) return E_FAIL;
    ferolt::BitCursor bits(ferolt::ByteReader(source, sourceLength));
    if (!bits.Skip(*bitPosition)) return E_FAIL;
    const uint64_t base = destinationBitOffset;
    uint64_t written = 0;
    auto put = [&](DWORD value, DWORD count)
    {
        for (DWORD i = 0; i < count && written < n; ++i)
            PutBit(destination, base + written++, (value >> i) & 1u);
    };
    if (table->symbolWidth == 0)
    {
        const DWORD width = table->fieldLength;
        if (width > bits.BitsLeft()) return E_FAIL;
        for (DWORD taken = 0; taken < width;)
        {
            const DWORD count = std::min<DWORD>(width - taken, 32);
            uint32_t chunk = 0;
            (void)bits.Read(count, &chunk);
            put(chunk, count);
            taken += count;
        }
    }
    else
    {
        DWORD carriedTotal = 0;
        const bool freeSymbols = table->nodes[0].child0 == 0 && table->nodes[0].symbol != table->escape;
        for (DWORD s = 0; s < table->symbolCount && !(freeSymbols && carriedTotal >= n); ++s)
        {
            DWORD symbol = 0;
            if (!table->WalkSymbol(bits, symbol)) return E_FAIL;
            const DWORD carried = carriedTotal + table->symbolWidth > table->fieldLength
                                      ? table->fieldLength - carriedTotal
                                      : table->symbolWidth;
            put(symbol, carried);
            carriedTotal += carried;
        }
    }
    while (written < n)
        PutBit(destination, base + written++, 0);
    *bitsConsumed = static_cast<DWORD>(bits.Position() - *bitPosition);
    *bitPosition = static_cast<DWORD>(bits.Position());
    return S_OK;
}

HRESULT HuffmanTable::Free(HuffmanTable** table)
{
    if (!table) return E_INVALIDARG;
    if (!*table) return S_OK;
    // Only tables made by Create are released; anything else is not ours to free.
    if ((*table)->tag != kTag) return E_FAIL;
    const std::unique_ptr<HuffmanTable> owned(*table);
    *table = nullptr;
    return S_OK;
}

} // namespace LMK
