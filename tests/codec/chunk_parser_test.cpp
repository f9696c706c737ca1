#include "codec/p3d_chunks.h"

#include "tests/support/object_file_writer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ferolt::test;

namespace
{

struct RecordSummary
{
    DWORD outputIndex;
    DWORD materialSet;
    DWORD lightGroup;
    float firstMatrixValue;
    bool operator==(const RecordSummary&) const = default;
};

std::vector<RecordSummary> Summaries(const std::vector<P3DInstanceRecord>& records)
{
    std::vector<RecordSummary> out;
    for (const P3DInstanceRecord& r : records)
    {
        // The whole matrix arrives in order.
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(r.matrix[i], r.matrix[0] + static_cast<float>(i));
        out.push_back({r.outputIndex, r.materialSet, r.lightGroup, r.matrix[0]});
    }
    return out;
}

Bytes Cut(Bytes b, size_t removed)
{
    b.resize(b.size() - removed);
    return b;
}

} // namespace

TEST(ChunkParser, ModelChunks)
{
    const Bytes model = {0xAA, 0xBB, 0xCC};
    const Bytes type1 = ByteWriter()
                            .U32(3)
                            .Raw(model)
                            .U32(2)
                            .Raw(InstanceRecord(4, 1, TestMatrix(10)))
                            .Raw(InstanceRecord(0, 0, TestMatrix(20)))
                            .Data();
    const Bytes type5 =
        ByteWriter().U32(3).U32(1).Raw(InstanceRecord(7, 2, TestMatrix(30))).Raw(model).Data();
    const Bytes type8wide = ByteWriter()
                                .U32(3)
                                .U32(2)
                                .U32(76)
                                .Raw(InstanceRecord(1, 1, TestMatrix(40), 2))
                                .Raw(InstanceRecord(2, 0, TestMatrix(50), 1))
                                .Raw(model)
                                .Data();
    const Bytes type8narrow =
        ByteWriter().U32(3).U32(1).U32(72).Raw(InstanceRecord(9, 3, TestMatrix(60))).Raw(model).Data();
    // A record size above 76 still reads 76-byte records back to back.
    const Bytes type8larger =
        ByteWriter().U32(3).U32(1).U32(100).Raw(InstanceRecord(9, 3, TestMatrix(60), 5)).Raw(model).Data();
    const Bytes hugeCount =
        ByteWriter().U32(0).U32(0x04000000).Raw(InstanceRecord(9, 3, TestMatrix(60))).Data();
    const Bytes hugeModel = ByteWriter().U32(0xFFFFFFF0u).U32(0).Data();

    struct Case
    {
        const char* name;
        DWORD type;
        Bytes chunk;
        bool succeeds;
        std::vector<RecordSummary> records;
    };
    const Case cases[] = {
        {"type 1", 1, type1, true, {{4, 1, 0, 10}, {0, 0, 0, 20}}},
        {"type 5", 5, type5, true, {{7, 2, 0, 30}}},
        {"type 8, 76-byte records", 8, type8wide, true, {{1, 1, 2, 40}, {2, 0, 1, 50}}},
        {"type 8, 72-byte records", 8, type8narrow, true, {{9, 3, 0, 60}}},
        {"type 8, record size 100", 8, type8larger, true, {{9, 3, 5, 60}}},
        {"type 1 without its last record byte", 1, Cut(type1, 1), false, {}},
        {"type 5 without its model's last byte", 5, Cut(type5, 1), false, {}},
        {"type 8 without its model", 8, Cut(type8wide, 3 + 76), false, {}},
        {"record count beyond the chunk", 5, hugeCount, false, {}},
        {"model size beyond the chunk", 5, hugeModel, false, {}},
        {"empty", 5, {}, false, {}},
        {"not a model chunk", 2, type5, false, {}},
    };
    for (const Case& c : cases)
    {
        P3DModelChunk parsed;
        ASSERT_EQ(P3DParseModelChunk(c.type, c.chunk.data(), c.chunk.size(), parsed), c.succeeds) << c.name;
        EXPECT_EQ(Summaries(parsed.records), c.records) << c.name;
        if (c.succeeds)
        {
            ASSERT_EQ(parsed.modelSize, model.size()) << c.name;
            EXPECT_EQ(Bytes(parsed.modelData, parsed.modelData + parsed.modelSize), model) << c.name;
        }
    }
}

TEST(ChunkParser, ModelChunkItems)
{
    const Bytes two = ByteWriter().U32(0x114).U32(2).U32(3).U8(7).U8(8).U32(5).U32(0).U32(0).Data();
    const Bytes overlong = ByteWriter().U32(1).U32(1).U32(0).U8(1).U32(2).U32(100).U32(0).U8(2).Data();
    struct Case
    {
        const char* name;
        Bytes chunk;
        bool complete;
        std::vector<std::array<DWORD, 3>> items; // id, size, entry index
    };
    const Case cases[] = {
        {"two items", two, true, {{0x114, 2, 3}, {5, 0, 0}}},
        {"a partial item header is ignored",
         Cut(ByteWriter().Raw(two).U32(1).U32(2).Data(), 0),
         true,
         {{0x114, 2, 3}, {5, 0, 0}}},
        {"item data past the chunk", overlong, false, {{1, 1, 0}}},
        {"empty", {}, true, {}},
    };
    for (const Case& c : cases)
    {
        std::vector<P3DModelChunkItem> items;
        EXPECT_EQ(P3DParseModelChunkItems(c.chunk.data(), c.chunk.size(), items), c.complete) << c.name;
        std::vector<std::array<DWORD, 3>> got;
        for (const auto& item : items)
            got.push_back({item.id, item.size, item.entryIndex});
        EXPECT_EQ(got, c.items) << c.name;
    }
    std::vector<P3DModelChunkItem> items;
    P3DParseModelChunkItems(two.data(), two.size(), items);
    EXPECT_EQ(items[0].data[0], 7);
    EXPECT_EQ(items[0].data[1], 8);
}

TEST(ChunkParser, LightItemsCarryTheirLength)
{
    const Bytes chunk = ByteWriter().U32(2).U32(3).U8(1).U8(2).U8(3).U32(0).U32(1).U8(9).Data();
    std::vector<P3DLightItem> items;
    ASSERT_TRUE(P3DParseLightItems(chunk.data(), chunk.size(), items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].lightPointIndex, 2u);
    EXPECT_EQ(items[0].size, 3u);
    EXPECT_EQ(items[0].record, chunk.data() + 8);
    EXPECT_EQ(items[1].lightPointIndex, 0u);
    EXPECT_EQ(items[1].record[0], 9);

    const Bytes cuts[] = {Cut(chunk, 1), Cut(chunk, 5), Cut(chunk, 7)};
    for (const Bytes& cut : cuts)
    {
        EXPECT_FALSE(P3DParseLightItems(cut.data(), cut.size(), items)) << cut.size();
        EXPECT_EQ(items.size(), 1u) << "the whole first item is kept";
    }
}

TEST(ChunkParser, SmallChunks)
{
    std::vector<DWORD> flags = {99};
    const Bytes ten = ByteWriter().U32(5).U32(6).U16(7).Data();
    P3DParseSpecialFlags(ten.data(), ten.size(), flags);
    EXPECT_EQ(flags, (std::vector<DWORD>{5, 6}));
    P3DParseSpecialFlags(nullptr, 0, flags);
    EXPECT_TRUE(flags.empty());

    const Bytes animation = ByteWriter().U32(4).U8(1).U8(2).Data();
    P3DAnimationChunk a;
    ASSERT_TRUE(P3DParseAnimationChunk(animation.data(), animation.size(), a));
    EXPECT_EQ(a.entryIndex, 4u);
    EXPECT_EQ(a.length, 2u);
    EXPECT_FALSE(P3DParseAnimationChunk(animation.data(), 3, a));

    const Bytes texture =
        ByteWriter().U32(1).U32(6).Raw({'a', '.', 'p', 0, 'x', 'x'}).U8(0x89).U8(0x50).Data();
    P3DTextureChunk t;
    ASSERT_TRUE(P3DParseTextureChunk(false, texture.data(), texture.size(), t));
    EXPECT_EQ(t.flags, 1u);
    EXPECT_EQ(t.name, "a.p");
    EXPECT_EQ(t.imageSize, 2u);
    ASSERT_TRUE(P3DParseTextureChunk(true, texture.data() + 4, texture.size() - 4, t));
    EXPECT_EQ(t.flags, 0u);
    EXPECT_EQ(t.name, "a.p");
    EXPECT_FALSE(P3DParseTextureChunk(false, texture.data(), 9, t)) << "name past the chunk";
}
