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
    // Three blocks of 100 kB: a stream cut in its last block still gives the first two whole.
    Bytes large(250000);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    const Bytes blocks = Bzip2(large, 1);
    struct Case
    {
        const char* name;
        Bytes stored;
        size_t declared;
        bool succeeds;
        size_t size;
        const Bytes* content = nullptr; // the bytes kept are its first `size`
    };
    const Case cases[] = {
        {"exact size", packed, content.size(), true, content.size(), &content},
        {"declared larger keeps what was produced", packed, content.size() + 100, true, content.size(),
         &content},
        {"declared smaller keeps what fits", packed, content.size() - 1, false, content.size() - 1, &content},
        {"damaged stream keeps nothing", damaged, content.size(), false, 0},
        {"cut within the only block", Bytes(packed.begin(), packed.begin() + 40), content.size(), false, 0},
        {"cut within the last block keeps the whole blocks", Bytes(blocks.begin(), blocks.end() - 100),
         large.size(), false, 200000, &large},
        {"not bzip2", Bytes(100, 0x42), 100, false, 0},
        {"over the cap", packed, BlobStorageData::kMaxUnpackedSize + 1, false, 0},
        {"declared empty", packed, 0, true, 0},
    };
    for (const Case& c : cases)
    {
        BlobStorageData blob = Holding(c.stored);
        blob.Skip(3);
        EXPECT_EQ(blob.DecompressBzip2(c.declared), c.succeeds) << c.name;
        // bzip2 fills a block up to 100,000 bytes less a few; the cut case allows for that.
        if (c.content == &large)
            EXPECT_NEAR(double(blob.Size()), double(c.size), 100.0) << c.name;
        else
            EXPECT_EQ(blob.Size(), c.size) << c.name;
        EXPECT_EQ(blob.Position(), 0u) << c.name;
        if (c.content && blob.Size())
        {
            EXPECT_EQ(Bytes(blob.Data(), blob.Data() + blob.Size()),
                      Bytes(c.content->begin(), c.content->begin() + blob.Size()))
                << c.name;
        }
    }
}
