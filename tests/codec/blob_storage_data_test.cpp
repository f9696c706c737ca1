#include "codec/blob_storage_data.h"

#include "tests/support/object_file_writer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ferolt::test;

namespace
{

BlobStorageData Holding(const Bytes& bytes)
{
    BlobStorageData blob;
    if (!bytes.empty()) blob.Append(bytes.data(), bytes.size());
    blob.Rewind();
    return blob;
}

} // namespace

TEST(BlobStorageData, ReadsAndSkipsStopAtTheEnd)
{
    BlobStorageData blob = Holding({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    uint8_t out[16] = {};
    ASSERT_TRUE(blob.Read(out, 4));
    EXPECT_EQ(out[3], 4);
    std::memset(out, 0xEE, sizeof out);
    EXPECT_FALSE(blob.Read(out, 7));
    EXPECT_EQ(out[0], 0xEE) << "a failed read copies nothing";
    EXPECT_EQ(blob.Position(), 4u);
    EXPECT_FALSE(blob.Skip(SIZE_MAX)) << "no wrap-around";
    ASSERT_TRUE(blob.Skip(6));
    EXPECT_FALSE(blob.Skip(1));
    EXPECT_TRUE(blob.Read(out, 0));
    EXPECT_FALSE(blob.Append(nullptr, 0));
}

TEST(BlobStorageData, ExtractTo)
{
    BlobStorageData source = Holding({1, 2, 3, 4, 5});
    source.Skip(1);
    BlobStorageData destination = Holding({9, 9});
    EXPECT_FALSE(destination.ExtractTo(source, 0));
    EXPECT_EQ(destination.Size(), 2u) << "n = 0 leaves the destination as it was";
    EXPECT_FALSE(destination.ExtractTo(source, 5));
    EXPECT_EQ(source.Position(), 1u);
    ASSERT_TRUE(destination.ExtractTo(source, 3));
    EXPECT_EQ(source.Position(), 4u);
    ASSERT_EQ(destination.Size(), 3u);
    EXPECT_EQ(destination.Position(), 0u);
    EXPECT_EQ(Bytes(destination.Data(), destination.Data() + 3), (Bytes{2, 3, 4}));
}

TEST(BlobStorageData, Crc32MatchesTheCommonCrc)
{
    const Bytes cases[] = {
        {}, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, Bytes(1000, 0xA7), {0, 0, 0, 0}};
    for (const Bytes& bytes : cases)
    {
        BlobStorageData blob = Holding(bytes);
        blob.Skip(bytes.size() / 2); // the position does not matter
        DWORD crc = 0;
        ASSERT_TRUE(blob.ComputeCrc32(crc));
        EXPECT_EQ(crc, Crc32(bytes)) << bytes.size();
    }
    BlobStorageData check = Holding({'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    DWORD crc = 0;
    check.ComputeCrc32(crc);
    EXPECT_EQ(crc, 0xCBF43926u);
}

TEST(BlobStorageData, DecompressBzip2)
{
    Bytes content(3000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<uint8_t>(i * 7 + i / 13);
    const Bytes packed = Bzip2(content);
    Bytes damaged = packed;
    damaged[damaged.size() / 2] ^= 0x55;
    struct Case
    {
        const char* name;
        Bytes stored;
        size_t declared;
        bool succeeds;
        size_t size;
    };
    const Case cases[] = {
        {"exact size", packed, content.size(), true, content.size()},
        {"declared larger keeps what was produced", packed, content.size() + 100, true, content.size()},
        {"declared smaller", packed, content.size() - 1, false, 0},
        {"damaged stream", damaged, content.size(), false, 0},
        {"cut stream", Bytes(packed.begin(), packed.begin() + 40), content.size(), false, 0},
        {"not bzip2", Bytes(100, 0x42), 100, false, 0},
        {"over the cap", packed, BlobStorageData::kMaxUnpackedSize + 1, false, 0},
        {"declared empty", packed, 0, true, 0},
    };
    for (const Case& c : cases)
    {
        BlobStorageData blob = Holding(c.stored);
        blob.Skip(3);
        EXPECT_EQ(blob.DecompressBzip2(c.declared), c.succeeds) << c.name;
        EXPECT_EQ(blob.Size(), c.size) << c.name;
        EXPECT_EQ(blob.Position(), 0u) << c.name;
        if (c.succeeds && c.size)
        {
            EXPECT_EQ(Bytes(blob.Data(), blob.Data() + blob.Size()), content) << c.name;
        }
    }
}
