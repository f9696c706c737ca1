#include "platform/bytes/byte_reader.h"

#include <gtest/gtest.h>

#include <array>

using ferolt::ByteCursor;
using ferolt::ByteReader;

namespace
{
const std::array<uint8_t, 10> kBytes = {0x01, 0x02, 0x03, 0x04, 'a', 'b', 0, 0xFF, 0x00, 0x80};

TEST(ByteReader, ReadsOnlyWhatFitsAndNeverWrapsTheOffset)
{
    const ByteReader r(kBytes.data(), kBytes.size());
    struct Case
    {
        size_t offset, count;
        bool has;
    };
    const Case cases[] = {{0, 10, true},        {10, 0, true},           {9, 1, true},
                          {9, 2, false},        {11, 0, false},          {1, SIZE_MAX, false},
                          {SIZE_MAX, 1, false}, {SIZE_MAX - 1, 2, false}};
    for (const Case& c : cases)
        EXPECT_EQ(r.Has(c.offset, c.count), c.has) << c.offset << "+" << c.count;

    uint32_t u = 0xDEAD;
    EXPECT_TRUE(r.U32(0, &u));
    EXPECT_EQ(u, 0x04030201u);
    EXPECT_FALSE(r.U32(7, &u));
    EXPECT_EQ(u, 0x04030201u) << "a refused read leaves the value alone";
    EXPECT_TRUE(r.BE32(0, &u));
    EXPECT_EQ(u, 0x01020304u);
    uint16_t h;
    EXPECT_TRUE(r.U16(8, &h));
    EXPECT_EQ(h, 0x8000);

    EXPECT_FALSE(ByteReader(nullptr, 100).Has(0, 1)) << "a null range is empty whatever its size";
}

TEST(ByteReader, StringsEndWithinTheirBoundAndTheRange)
{
    const ByteReader r(kBytes.data(), kBytes.size());
    std::string_view s;
    EXPECT_TRUE(r.CString(4, 3, &s));
    EXPECT_EQ(s, "ab");
    EXPECT_FALSE(r.CString(4, 2, &s)) << "terminator beyond the bound";
    EXPECT_TRUE(r.CString(7, 100, &s));
    EXPECT_EQ(s.size(), 1u);
    const ByteReader noEnd(kBytes.data(), 6);
    EXPECT_FALSE(noEnd.CString(4, 100, &s)) << "terminator beyond the range";
    EXPECT_FALSE(r.CString(11, 1, &s));
}

TEST(ByteCursor, AdvancesOnlyOnSuccessAndRefusesArraysBeforeAllocating)
{
    ByteCursor c(kBytes.data(), kBytes.size());
    uint32_t u;
    ASSERT_TRUE(c.U32(&u));
    std::string_view s;
    ASSERT_TRUE(c.CString(16, &s));
    EXPECT_EQ(s, "ab");
    EXPECT_EQ(c.Position(), 7u);
    EXPECT_FALSE(c.U32(&u));
    EXPECT_EQ(c.Position(), 7u);
    ByteReader sub;
    ASSERT_TRUE(c.Take(2, &sub));
    EXPECT_EQ(sub.Size(), 2u);
    EXPECT_FALSE(c.Skip(2));
    EXPECT_TRUE(c.Skip(1));
    EXPECT_TRUE(c.AtEnd());

    ByteCursor arrays(kBytes.data(), kBytes.size());
    std::vector<uint16_t> values;
    EXPECT_FALSE(arrays.ReadArray(SIZE_MAX / 2, &values));
    EXPECT_TRUE(values.empty());
    EXPECT_FALSE(arrays.ReadArray(5, &values, 4)) << "count over the caller's cap";
    ASSERT_TRUE(arrays.ReadArray(5, &values));
    EXPECT_EQ(values[0], 0x0201);
    EXPECT_TRUE(arrays.AtEnd());
}
} // namespace

TEST(BitCursor, ReadsLowBitsFirstAndRefusesWhatIsNotThere)
{
    // 0xB4 = 1011'0100, 0x01: bits in reading order 0,0,1,0,1,1,0,1, 1,0,...
    const uint8_t bytes[10] = {0xB4, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80};
    struct Case
    {
        size_t skip;
        unsigned n;
        bool fits;
        uint32_t value;
    };
    const Case cases[] = {
        {0, 0, true, 0},           {0, 3, true, 0x4},   {2, 7, true, 0x6D},         {0, 32, true, 0xFFFF01B4},
        {9, 32, true, 0xFFFFFF80}, {73, 7, true, 0x40}, {73, 8, false, 0},          {80, 0, true, 0},
        {80, 1, false, 0},         {0, 33, false, 0},   {48, 32, true, 0x80FFFFFF},
    };
    for (const Case& c : cases)
    {
        ferolt::BitCursor bits(ferolt::ByteReader(bytes, sizeof bytes));
        ASSERT_TRUE(bits.Skip(c.skip));
        uint32_t peeked = 7, value = 7;
        EXPECT_EQ(bits.Peek(c.n, &peeked), c.fits) << c.skip << "+" << c.n;
        EXPECT_EQ(bits.Read(c.n, &value), c.fits) << c.skip << "+" << c.n;
        if (c.fits)
        {
            EXPECT_EQ(value, c.value) << c.skip << "+" << c.n;
            EXPECT_EQ(peeked, c.value);
        }
        EXPECT_EQ(bits.Position(), c.skip + (c.fits ? c.n : 0));
        EXPECT_EQ(bits.BitsLeft(), 80 - bits.Position());
    }
    ferolt::BitCursor empty;
    uint32_t value = 0;
    EXPECT_TRUE(empty.Read(0, &value));
    EXPECT_FALSE(empty.Read(1, &value));
    EXPECT_FALSE(empty.Skip(1));
}
