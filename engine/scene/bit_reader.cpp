#include "engine/scene/bit_reader.h"

#include "platform/bytes/byte_reader.h"

#include <bit>
#include <cstring>
#include <new>

namespace LMK
{
namespace
{

inline DWORD GetBit(const BYTE* bytes, uint64_t position)
{
    return (bytes[position >> 3] >> (position & 7)) & 1u;
}

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
    bitPosition = 0;
    lastCount = 0;
    if (!data || size == 0)
    {
        current = nullptr;
        last = nullptr;
        return;
    }
    current = data;
    last = data + (size - 1);
}

bool BitReader::ReadBits(DWORD& value, DWORD n, BitReader& reader)
{
    value = 0;
    if (!reader.current || reader.current > reader.last || reader.bitPosition > 7) return false;
    reader.lastCount = n;
    if (n > 32) return false;
    DWORD filled = 0;
    while (filled < n)
    {
        const DWORD available = 8 - reader.bitPosition;
        const DWORD take = available < n - filled ? available : n - filled;
        const DWORD bits = (static_cast<DWORD>(*reader.current) >> reader.bitPosition) & ((1u << take) - 1u);
        value |= bits << filled;
        filled += take;
        reader.bitPosition += take;
        if (reader.bitPosition == 8)
        {
            reader.bitPosition = 0;
            ++reader.current;
            if (filled < n && reader.current > reader.last) return false;
        }
    }
    return true;
}

bool BitReader::ReadField(DWORD& value, DWORD n, HuffmanTable* table, BitReader& reader)
{
    value = 0;
    if (n > 32 || !reader.current || reader.current > reader.last) return false;
    const size_t remaining = static_cast<size_t>(reader.last - reader.current) + 1;
    // DecodeField takes a 32-bit length; a field never needs more than a few bytes of it.
    const DWORD length = remaining > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(remaining);
    BYTE bytes[4] = {};
    if (FAILED(HuffmanTable::DecodeField(table, bytes, 0, n, reader.current, length, &reader.bitPosition,
                                         &reader.lastCount)))
        return false;
    std::memcpy(&value, bytes, sizeof value); // little-endian, as the field was assembled
    reader.current += reader.bitPosition / 8;
    reader.bitPosition %= 8;
    return true;
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
        auto* table = new (std::nothrow) HuffmanTable;
        if (!table) return E_OUTOFMEMORY;
        table->fieldLength = fieldLength;
        *out = table;
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

    auto* table = new (std::nothrow) HuffmanTable;
    auto* nodes = new (std::nothrow) HuffmanNode[nodeCount]();
    if (!table || !nodes)
    {
        delete table;
        delete[] nodes;
        return E_OUTOFMEMORY;
    }
    table->symbolWidth = width;
    table->fieldLength = fieldLength;
    table->symbolCount = (table->fieldLength + width - 1) / width;
    table->escape = escape;
    table->nodes = nodes;
    table->nodesToFree = nodes;
    table->nodeCount = nodeCount;
    if (!ReadTree(tree.All().data(), static_cast<size_t>(treeBits), width, nodes, nodeCount))
    {
        delete[] nodes;
        delete table;
        return E_FAIL;
    }
    *out = table;
    return S_OK;
}

// Pre-order: a 1 bit is an inner node whose children are the next two unused nodes (0-child
// first), followed by the 0-child's tree and then the 1-child's; a 0 bit is a leaf followed by its
// w-bit symbol. Iterative, so a hostile tree cannot exhaust the stack; it is refused when it needs
// more nodes than declared, more bits than the block holds, or more depth than a real code has.
bool HuffmanTable::ReadTree(const BYTE* bits, size_t bitCount, DWORD symbolWidth, HuffmanNode* nodes,
                            DWORD nodeCount)
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
    size_t position = 0;
    for (;;)
    {
        for (;;)
        {
            if (position >= bitCount) return false;
            if (!GetBit(bits, position++)) break;
            if (depth == kMaxTreeDepth || nodeCount - nextFree < 2) return false;
            nodes[node].child0 = nextFree;
            nodes[node].child1 = nextFree + 1;
            nextFree += 2;
            ++depth;
            pending[pendingCount++] = {nodes[node].child1, depth};
            node = nodes[node].child0;
        }
        if (bitCount - position < symbolWidth) return false;
        DWORD symbol = 0;
        for (DWORD i = 0; i < symbolWidth; ++i)
            symbol |= GetBit(bits, position++) << i;
        nodes[node].symbol = symbol;
        if (pendingCount == 0) return true;
        --pendingCount;
        node = pending[pendingCount].node;
        depth = pending[pendingCount].depth;
    }
}

bool HuffmanTable::ReadRawBits(const BYTE* source, DWORD n, DWORD length, DWORD& bitPosition, DWORD& value)
{
    value = 0;
    if (bitPosition / 8 >= length) return false;
    if (n == 0) return true;
    if (n > 32 || static_cast<uint64_t>(bitPosition) + n > static_cast<uint64_t>(length) * 8) return false;
    for (DWORD i = 0; i < n; ++i)
        value |= GetBit(source, static_cast<uint64_t>(bitPosition) + i) << i;
    bitPosition += n;
    return true;
}

bool HuffmanTable::DecodeSymbol(const HuffmanTable* table, const BYTE* source, DWORD length,
                                DWORD& bitPosition, DWORD& value)
{
    value = 0;
    if (bitPosition / 8 >= length) return false;
    const HuffmanNode* nodes = table->nodes;
    DWORD node = 0;
    DWORD position = bitPosition;
    while (nodes[node].child0)
    {
        node = GetBit(source, position) ? nodes[node].child1 : nodes[node].child0;
        ++position;
        // A code may end exactly at the last byte; only an inner node there is a truncated code.
        if (position / 8 >= length && nodes[node].child0) return false;
    }
    value = nodes[node].symbol;
    // An escape's literal follows its code; a code that ran into the end of the stream is taken as
    // the leaf it reached, escape or not, so a stream ending that way keeps its last value.
    const bool streamEnded = position / 8 >= length;
    if (value == table->escape && !streamEnded)
    {
        if (!ReadRawBits(source, table->symbolWidth, length, position, value)) return false;
    }
    bitPosition = position;
    return true;
}

HRESULT HuffmanTable::DecodeField(const HuffmanTable* table, BYTE* destination, DWORD destinationBitOffset,
                                  DWORD n, const BYTE* source, DWORD sourceLength, DWORD* bitPosition,
                                  DWORD* bitsConsumed)
{
    if (!table || !destination || !source || !bitPosition || !bitsConsumed || n == 0 || sourceLength == 0)
        return E_INVALIDARG;
    if (table->tag != kTag) return E_FAIL;
    const uint64_t sourceBits = static_cast<uint64_t>(sourceLength) * 8;

    if (table->symbolWidth == 0)
    {
        const DWORD width = table->fieldLength;
        if (static_cast<uint64_t>(*bitPosition) + width > sourceBits) return E_FAIL;
        const DWORD copied = width < n ? width : n;
        for (DWORD i = 0; i < copied; ++i)
            PutBit(destination, static_cast<uint64_t>(destinationBitOffset) + i,
                   GetBit(source, static_cast<uint64_t>(*bitPosition) + i));
        for (DWORD i = copied; i < n; ++i)
            PutBit(destination, static_cast<uint64_t>(destinationBitOffset) + i, 0);
        *bitPosition += width;
        *bitsConsumed = width;
        return S_OK;
    }

    const DWORD width = table->symbolWidth;
    const DWORD fieldLength = table->fieldLength;
    DWORD position = *bitPosition;
    DWORD written = 0;
    // A lone non-escape leaf decodes without reading a bit, so once the field is full its
    // remaining symbols change nothing; stopping keeps a long field from costing time for nothing.
    const bool freeSymbols = table->nodes[0].child0 == 0 && table->nodes[0].symbol != table->escape;
    for (DWORD s = 0; s < table->symbolCount && !(freeSymbols && written >= n); ++s)
    {
        DWORD symbol = 0;
        if (!DecodeSymbol(table, source, sourceLength, position, symbol)) return E_FAIL;
        const DWORD carried = written + width > fieldLength ? fieldLength - written : width;
        const uint64_t target = static_cast<uint64_t>(destinationBitOffset) + written;
        if (carried == 8 && written <= n && n - written >= 8 && (target & 7) == 0)
        {
            destination[target >> 3] = static_cast<BYTE>(symbol);
            written += 8;
            continue;
        }
        for (DWORD i = 0; i < carried; ++i)
        {
            ++written;
            if (written <= n)
                PutBit(destination, static_cast<uint64_t>(destinationBitOffset) + written - 1,
                       (symbol >> i) & 1u);
        }
    }
    for (DWORD i = written; i < n; ++i)
        PutBit(destination, static_cast<uint64_t>(destinationBitOffset) + i, 0);
    *bitsConsumed = position - *bitPosition;
    *bitPosition = position;
    return S_OK;
}

HRESULT HuffmanTable::Free(HuffmanTable** table)
{
    if (!table) return E_INVALIDARG;
    if (!*table) return S_OK;
    // Only tables made by Create are released; anything else is not ours to free.
    if ((*table)->tag != kTag) return E_FAIL;
    delete[](*table)->nodesToFree;
    delete *table;
    *table = nullptr;
    return S_OK;
}

} // namespace LMK
