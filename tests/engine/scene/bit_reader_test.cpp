#include "engine/scene/bit_reader.h"

#include "tests/support/geometry_bits_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ferolt::test;
using LMK::BitReader;
using LMK::HuffmanTable;

namespace
{

struct TableHolder
{
    HuffmanTable* table = nullptr;
    ~TableHolder() { HuffmanTable::Free(&table); }
};

HRESULT CreateTable(const std::vector<uint8_t>& block, TableHolder& holder)
{
    return HuffmanTable::Create(block.data(), static_cast<DWORD>(block.size()), &holder.table);
}

// Symbol i of a depth-d caterpillar code is i ones and a zero; the last symbol is d ones.
PrefixCode Caterpillar(unsigned depth)
{
    PrefixCode code{8, 8, 0xFF, {}};
    for (unsigned i = 0; i < depth; ++i)
        code.codes.push_back({i, std::string(i, '1') + "0"});
    code.codes.push_back({0xFF, std::string(depth, '1')});
    return code;
}

} // namespace

TEST(BitReader, ReadBitsReturnsWhatWasWritten)
{
    struct Field
    {
        uint32_t value;
        unsigned n;
    };
    const std::vector<std::vector<Field>> cases = {
        {{1, 1}, {0, 1}, {1, 1}},
        {{0x5, 3}, {0xABC, 12}, {0x1, 1}, {0x7F, 7}},
        {{0xDEADBEEF, 32}, {0x3, 2}, {0xFFFFFFFF, 32}},
        {{0, 0}, {0x2A, 6}, {0, 0}, {0x12345, 17}},
        {{0xFF, 8}, {0xA5, 8}, {0x1, 8}},
    };
    for (size_t c = 0; c < cases.size(); ++c)
    {
        BitWriter out;
        for (const Field& f : cases[c])
            out.Put(f.value, f.n);
        BitReader reader;
        reader.Init(out.Bytes().data(), out.Bytes().size());
        for (const Field& f : cases[c])
        {
            DWORD value = 99;
            ASSERT_TRUE(BitReader::ReadBits(value, f.n, reader)) << "case " << c;
            EXPECT_EQ(value, f.value) << "case " << c;
            EXPECT_EQ(reader.lastCount, f.n);
        }
    }
}

TEST(BitReader, ReadBitsStopsAtTheLastByte)
{
    const uint8_t bytes[2] = {0xFF, 0x01};
    struct Case
    {
        std::vector<unsigned> reads; // all but the last succeed
        bool lastSucceeds;
    };
    const Case cases[] = {
        {{16}, true},    {{17}, false},    {{9, 7}, true},
        {{9, 8}, false}, {{16, 0}, false}, // n = 0 still fails once past the last byte
        {{15, 0}, true}, {{33}, false},
    };
    for (const Case& c : cases)
    {
        BitReader reader;
        reader.Init(bytes, sizeof bytes);
        DWORD value = 0;
        for (size_t i = 0; i + 1 < c.reads.size(); ++i)
            ASSERT_TRUE(BitReader::ReadBits(value, c.reads[i], reader));
        EXPECT_EQ(BitReader::ReadBits(value, c.reads.back(), reader), c.lastSucceeds) << c.reads.back();
    }
    BitReader empty;
    empty.Init(nullptr, 0);
    DWORD value = 0;
    EXPECT_FALSE(BitReader::ReadBits(value, 0, empty));
}

TEST(BitReader, HighestBit)
{
    const std::pair<DWORD, DWORD> cases[] = {{0, 0},           {1, 1},   {2, 2},           {3, 2},
                                             {255, 8},         {256, 9}, {0x7FFFFFFF, 31}, {0x80000000u, 32},
                                             {0xFFFFFFFFu, 32}};
    for (auto [v, bits] : cases)
        EXPECT_EQ(BitReader::HighestBit(v), bits) << v;
}

TEST(BitReader, UncodedFieldsTakeTheirRawWidth)
{
    struct Case
    {
        uint16_t rawWidth;
        unsigned n;
        uint32_t written;  // rawWidth bits in the stream
        uint32_t expected; // the field as read
    };
    const Case cases[] = {
        {8, 8, 0xA5, 0xA5},
        {12, 8, 0xFA5, 0xA5}, // wider table: full width consumed, n bits kept
        {4, 8, 0xF, 0xF},     // narrower table: zero-extended
        {32, 32, 0x89ABCDEF, 0x89ABCDEF},
        {0, 5, 0, 0},
    };
    for (const Case& c : cases)
    {
        TableHolder t;
        ASSERT_EQ(CreateTable(UncodedTableBlock(c.rawWidth), t), S_OK);
        BitWriter out;
        out.Put(c.written, c.rawWidth);
        out.Put(0x5, 3); // marker after the field
        BitReader reader;
        reader.Init(out.Bytes().data(), out.Bytes().size());
        DWORD value = 0;
        ASSERT_TRUE(BitReader::ReadField(value, c.n, t.table, reader)) << c.rawWidth;
        EXPECT_EQ(value, c.expected) << c.rawWidth;
        EXPECT_EQ(reader.lastCount, c.rawWidth);
        ASSERT_TRUE(BitReader::ReadBits(value, 3, reader));
        EXPECT_EQ(value, 0x5u) << "the field consumed its raw width, " << c.rawWidth;
    }
}

TEST(BitReader, UncodedFieldPastTheSourceFails)
{
    TableHolder t;
    ASSERT_EQ(CreateTable(UncodedTableBlock(20), t), S_OK);
    const uint8_t bytes[2] = {0xFF, 0xFF};
    BitReader reader;
    reader.Init(bytes, sizeof bytes);
    DWORD value = 0;
    EXPECT_FALSE(BitReader::ReadField(value, 8, t.table, reader));
}

TEST(BitReader, PrefixCodedFieldsRoundTrip)
{
    const PrefixCode bytes{8, 16, 0xFF, {{0x00, "0"}, {0x41, "10"}, {0xFF, "11"}}};
    const PrefixCode triples{3, 10, 7, {{0, "00"}, {1, "01"}, {2, "10"}, {7, "11"}}};
    const PrefixCode single{4, 12, 0xF, {{0x6, ""}}};
    const PrefixCode escapeOnly{5, 15, 0x1F, {{0x1F, ""}}};
    const PrefixCode longField{1, 65535, 0, {{1, ""}}};
    struct Case
    {
        const char* name;
        const PrefixCode* code;
        unsigned n;
        std::vector<uint64_t> values;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"whole bytes", &bytes, 16, {0x4100, 0x0041, 0x1234, 0xFF00}, {0x4100, 0x0041, 0x1234, 0xFF00}},
        {"cut to n", &bytes, 12, {0x4141, 0xAB41}, {0x141, 0xB41}},
        {"zero-extended", &bytes, 24, {0x4100}, {0x4100}},
        {"last symbol partial", &triples, 10, {0x249, 0x3FF, 0x092, 0x2C5}, {0x249, 0x3FF, 0x092, 0x2C5}},
        {"one leaf, no bits", &single, 12, {0x666, 0x666}, {0x666, 0x666}},
        {"escape literals only", &escapeOnly, 15, {0x7FFF, 0x1234}, {0x7FFF, 0x1234}},
        {"long field of one free symbol: no bits", &longField, 32, {}, {0xFFFFFFFF, 0xFFFFFFFF}},
    };
    for (const Case& c : cases)
    {
        TableHolder t;
        ASSERT_EQ(CreateTable(PrefixTableBlock(*c.code), t), S_OK) << c.name;
        BitWriter out;
        for (uint64_t v : c.values)
            PutCodedField(out, *c.code, v);
        out.Put(0x2D, 6); // marker: the stream must end where the fields end
        BitReader reader;
        reader.Init(out.Bytes().data(), out.Bytes().size());
        for (uint32_t expected : c.expected)
        {
            DWORD value = 0;
            ASSERT_TRUE(BitReader::ReadField(value, c.n, t.table, reader)) << c.name;
            EXPECT_EQ(value, expected) << c.name;
        }
        DWORD marker = 0;
        ASSERT_TRUE(BitReader::ReadBits(marker, 6, reader)) << c.name;
        EXPECT_EQ(marker, 0x2Du) << c.name;
    }
}

TEST(BitReader, CodeEndingAtTheLastByte)
{
    // w = 8, L = 8: one symbol per field, whose code ends exactly with the only byte.
    const PrefixCode code{8, 8, 0x99, {{0x42, "0"}, {0x99, "10"}, {0x17, "11"}}};
    struct Case
    {
        const char* name;
        unsigned filler;      // plain bits before the field
        std::string codeBits; // the field's code, which ends the byte
        bool succeeds;
        uint32_t value;
    };
    const Case cases[] = {
        {"data leaf", 6, "11", true, 0x17},
        // The stream ends with the code: the escape leaf is taken as it stands, as any leaf is.
        {"escape leaf at the end of the stream", 6, "10", true, 0x99},
        {"inner node at the end", 7, "1", false, 0},
    };
    for (const Case& c : cases)
    {
        TableHolder t;
        ASSERT_EQ(CreateTable(PrefixTableBlock(code), t), S_OK);
        BitWriter out;
        out.Put(0, c.filler);
        out.PutCode(c.codeBits);
        ASSERT_EQ(out.BitCount(), 8u);
        BitReader reader;
        reader.Init(out.Bytes().data(), out.Bytes().size());
        DWORD filler = 0;
        ASSERT_TRUE(BitReader::ReadBits(filler, c.filler, reader));
        DWORD value = 0;
        EXPECT_EQ(BitReader::ReadField(value, 8, t.table, reader), c.succeeds) << c.name;
        if (c.succeeds)
        {
            EXPECT_EQ(value, c.value) << c.name;
        }
    }
}

TEST(BitReader, TableBlocksAreRefusedWhenMalformedOrHostile)
{
    const PrefixCode small{8, 8, 0xFF, {{1, "0"}, {0xFF, "1"}}};
    std::vector<uint8_t> truncatedTree = PrefixTableBlock(Caterpillar(10));
    truncatedTree.resize(truncatedTree.size() - 2);
    BitWriter endless; // inner nodes only: the tree never ends
    for (int i = 0; i < 64; ++i)
        endless.Put(1, 1);
    BitWriter leaf; // one leaf, with bits to spare for any width
    leaf.Put(0, 1);
    leaf.Put(0, 40);
    struct Case
    {
        const char* name;
        std::vector<uint8_t> block;
        HRESULT expected;
    };
    const Case cases[] = {
        {"a real code", PrefixTableBlock(small), S_OK},
        {"depth 64", PrefixTableBlock(Caterpillar(64)), S_OK},
        {"depth 65", PrefixTableBlock(Caterpillar(65)), E_FAIL},
        {"more nodes than declared", PrefixTableBlock(Caterpillar(4), 7u), E_FAIL},
        {"node count above the block's bits", PrefixTableBlock(small, 0x40000000u), E_FAIL},
        {"node count 0", PrefixTableBlock(small, 0u), E_FAIL},
        {"tree runs past the block", truncatedTree, E_FAIL},
        {"only inner nodes", PrefixTableBlockRaw(1, 8, 8, 64, 0, endless), E_FAIL},
        {"symbol width 0", PrefixTableBlockRaw(1, 0, 8, 1, 0, leaf), E_FAIL},
        {"symbol width 33", PrefixTableBlockRaw(1, 33, 33, 1, 0, leaf), E_FAIL},
        {"version 2", PrefixTableBlock(small, std::nullopt, 2), E_FAIL},
        {"another magic", {'L', 'K', 'H', 'X', 1, 8, 8, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, E_FAIL},
        {"coded header cut short", {'L', 'K', 'H', 'F', 1, 8, 8, 0, 1, 0, 0, 0, 0, 0, 0}, E_FAIL},
        {"shorter than any block", {'L', 'K', 'H', 'N', 8}, E_FAIL},
        {"uncoded block of 6 bytes", {'L', 'K', 'H', 'N', 8, 0}, S_OK},
    };
    for (const Case& c : cases)
    {
        TableHolder t;
        EXPECT_EQ(CreateTable(c.block, t), c.expected) << c.name;
        EXPECT_EQ(t.table != nullptr, c.expected == S_OK) << c.name;
    }
}

TEST(BitReader, ArgumentErrors)
{
    const std::vector<uint8_t> block = UncodedTableBlock(8);
    HuffmanTable* table = reinterpret_cast<HuffmanTable*>(1);
    EXPECT_EQ(HuffmanTable::Create(nullptr, 6, &table), E_INVALIDARG);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(HuffmanTable::Create(block.data(), 0, &table), E_INVALIDARG);
    EXPECT_EQ(HuffmanTable::Create(block.data(), 6, nullptr), E_INVALIDARG);

    TableHolder t;
    ASSERT_EQ(CreateTable(block, t), S_OK);
    const uint8_t source[4] = {1, 2, 3, 4};
    BYTE destination[4] = {};
    DWORD position = 0, consumed = 0;
    EXPECT_EQ(HuffmanTable::DecodeField(nullptr, destination, 0, 8, source, 4, &position, &consumed),
              E_INVALIDARG);
    EXPECT_EQ(HuffmanTable::DecodeField(t.table, destination, 0, 0, source, 4, &position, &consumed),
              E_INVALIDARG);
    EXPECT_EQ(HuffmanTable::DecodeField(t.table, destination, 0, 8, source, 0, &position, &consumed),
              E_INVALIDARG);
    HuffmanTable foreign;
    foreign.tag = 0x12345678;
    EXPECT_EQ(HuffmanTable::DecodeField(&foreign, destination, 0, 8, source, 4, &position, &consumed),
              E_FAIL);

    BitReader reader;
    reader.Init(source, sizeof source);
    DWORD value = 0;
    EXPECT_FALSE(BitReader::ReadField(value, 8, nullptr, reader));
    EXPECT_FALSE(BitReader::ReadField(value, 0, t.table, reader));
    EXPECT_FALSE(BitReader::ReadField(value, 33, t.table, reader));

    EXPECT_EQ(HuffmanTable::Free(nullptr), E_INVALIDARG);
    HuffmanTable* none = nullptr;
    EXPECT_EQ(HuffmanTable::Free(&none), S_OK);
    HuffmanTable* foreignPointer = &foreign;
    EXPECT_EQ(HuffmanTable::Free(&foreignPointer), E_FAIL);
    EXPECT_EQ(foreignPointer, &foreign);
}

TEST(BitReader, DecodeFieldWritesAtABitOffset)
{
    // Two coded fields packed into one destination at bit offsets 3 and 11, around set bits.
    const PrefixCode code{8, 8, 0xFF, {{0xC3, "0"}, {0xFF, "1"}}};
    TableHolder t;
    ASSERT_EQ(CreateTable(PrefixTableBlock(code), t), S_OK);
    BitWriter out;
    PutCodedField(out, code, 0xC3);
    PutCodedField(out, code, 0x5A);
    BYTE destination[3] = {0xFF, 0xFF, 0xFF};
    DWORD position = 0, consumed = 0;
    ASSERT_EQ(HuffmanTable::DecodeField(t.table, destination, 3, 8, out.Bytes().data(),
                                        static_cast<DWORD>(out.Bytes().size()), &position, &consumed),
              S_OK);
    EXPECT_EQ(consumed, 1u);
    ASSERT_EQ(HuffmanTable::DecodeField(t.table, destination, 11, 8, out.Bytes().data(),
                                        static_cast<DWORD>(out.Bytes().size()), &position, &consumed),
              S_OK);
    EXPECT_EQ(consumed, 9u);
    EXPECT_EQ(position, 10u);
    // bits 0-2 kept, 3-10 = 0xC3, 11-18 = 0x5A, 19-23 kept
    const uint32_t expected = 0x7u | 0xC3u << 3 | 0x5Au << 11 | 0x1Fu << 19;
    EXPECT_EQ(destination[0] | destination[1] << 8 | destination[2] << 16, static_cast<int>(expected));
}
