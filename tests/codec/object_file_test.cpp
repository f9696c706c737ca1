#include "codec/p3d_read_codec.h"

#include "tests/support/geometry_block_encoder.h"
#include "tests/support/object_file_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

using namespace ferolt::test;

namespace
{

constexpr GUID kSceneType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOtherType = {0x55667788, 0x3333, 0x4444, {8, 7, 6, 5, 4, 3, 2, 1}};
constexpr GUID kSecond = {0xCAFEF00D, 0x5555, 0x6666, {9, 9, 9, 9, 9, 9, 9, 9}};
const GUID* const kAccepted[] = {&kOtherType, &kSceneType, nullptr};

ObjectFileHeaderFields GoodHeader()
{
    ObjectFileHeaderFields h;
    h.value1 = 11;
    h.value2 = 22;
    h.value3 = 33;
    h.contentType = kSceneType;
    h.secondGuid = kSecond;
    return h;
}

// Exposes the reader's tables to the tests.
class InspectedCodec : public CP3DReadCodec
{
public:
    using CP3DReadCodec::m_chunkEntries;
    using CP3DReadCodec::m_entryCounter;
    using CP3DReadCodec::m_lightGroups;
    using CP3DReadCodec::m_materialSets;
    using CP3DReadCodec::m_specialFlags;

    bool ReadBytes(const Bytes& file) { return Read(file.data(), file.size(), nullptr, nullptr, kAccepted); }

    // A compact description of the tables: per row "records/model chunks", then flags, light
    // groups (light point indices) and material pack sizes.
    std::string Tables() const
    {
        std::string s = "rows";
        for (const P3DChunkEntry& e : m_chunkEntries)
        {
            s += " [";
            for (const P3DInstanceRecord& r : e.records)
                s += std::to_string(r.outputIndex) + ":" + std::to_string(r.materialSet) + ":" +
                     std::to_string(r.lightGroup) + ",";
            s += "/";
            for (const auto& c : e.chunks)
                s += std::to_string(c.id) + "+" + std::to_string(c.size) + ",";
            s += "]";
        }
        s += " flags";
        for (DWORD f : m_specialFlags)
            s += " " + std::to_string(f);
        s += " lights";
        for (const auto& g : m_lightGroups)
        {
            s += " (";
            for (const P3DLightSlot& slot : g)
                s += std::to_string(slot.lightPointIndex) + ",";
            s += ")";
        }
        s += " packs";
        for (const P3DMaterialSet& set : m_materialSets)
            s += " " + std::to_string(set.pack.size());
        return s;
    }
};

Bytes Type5(DWORD outputIndex, float matrixBase)
{
    return ByteWriter()
        .U32(2)
        .U32(1)
        .Raw(InstanceRecord(outputIndex, 1, TestMatrix(matrixBase)))
        .U8(0)
        .U8(0)
        .Data();
}

Bytes Flags(std::vector<DWORD> values)
{
    ByteWriter w;
    for (DWORD v : values)
        w.U32(v);
    return w.Data();
}

} // namespace

TEST(ObjectFileHeader, IsReadable)
{
    struct Case
    {
        const char* name;
        std::function<void(ObjectFileHeaderFields&)> change;
        size_t cut = 0;
        const GUID* const* accepted = kAccepted;
        bool readable = false;
    };
    const GUID* const onlyOther[] = {&kOtherType, nullptr};
    const GUID* const emptyList[] = {nullptr};
    const Case cases[] = {
        {"good", [](auto&) {}, 0, kAccepted, true},
        {"75 bytes", [](auto&) {}, 1},
        {"wrong signature", [](auto& h) { h.signature[15] ^= 1; }},
        {"version 2", [](auto& h) { h.version = 2; }},
        {"version 4", [](auto& h) { h.version = 4; }},
        {"revision 0", [](auto& h) { h.revision = 0; }},
        {"revision 2", [](auto& h) { h.revision = 2; }},
        {"content type not listed", [](auto&) {}, 0, onlyOther},
        {"empty list", [](auto&) {}, 0, emptyList},
        {"no list", [](auto&) {}, 0, nullptr},
    };
    for (const Case& c : cases)
    {
        ObjectFileHeaderFields h = GoodHeader();
        c.change(h);
        Bytes file = ObjectFileWriter(h).Data();
        file.resize(file.size() - c.cut);
        CP3DReadCodec codec;
        DWORD v1 = 0, v2 = 0, v3 = 77;
        GUID second = {};
        EXPECT_EQ(codec.IsReadable(file.data(), file.size(), &v1, &v2, &second, &v3, c.accepted), c.readable)
            << c.name;
        EXPECT_EQ(v3, c.readable ? 33u : 0u) << c.name << ": value 3 is cleared before any check";
        if (c.readable)
        {
            EXPECT_EQ(v1, 11u);
            EXPECT_EQ(v2, 22u);
            EXPECT_TRUE(second == kSecond);
        }
        CP3DReadCodec reader;
        EXPECT_EQ(reader.Read(file.data(), file.size(), &v1, &v2, c.accepted), c.readable) << c.name;
    }
    const Bytes good = ObjectFileWriter(GoodHeader()).Data();
    CP3DReadCodec codec;
    EXPECT_TRUE(codec.IsReadable(good.data(), good.size(), nullptr, nullptr, nullptr, nullptr, kAccepted))
        << "every output may be null";
}

TEST(ObjectFileHeader, MayBeReadableNeedsOnlyAPrefix)
{
    ObjectFileHeaderFields otherType = GoodHeader();
    otherType.contentType = {};
    ObjectFileHeaderFields badRevision = GoodHeader();
    badRevision.revision = 7;
    struct Case
    {
        const char* name;
        ObjectFileHeaderFields header;
        size_t size;
        bool recognised;
    };
    const Case cases[] = {
        {"whole header", GoodHeader(), 76, true},    {"first 40 bytes", GoodHeader(), 40, true},
        {"first 39 bytes", GoodHeader(), 39, false}, {"unlisted content type", otherType, 76, true},
        {"bad revision", badRevision, 40, false},
    };
    for (const Case& c : cases)
    {
        const Bytes file = ObjectFileWriter(c.header).StoredSection({}).Data();
        CP3DReadCodec codec;
        DWORD v1 = 0, v2 = 0;
        EXPECT_EQ(codec.MayBeReadable(file.data(), c.size, &v1, &v2), c.recognised) << c.name;
        if (c.recognised)
        {
            EXPECT_EQ(v1 * 100 + v2, 1122u) << c.name;
        }
    }
}

TEST(ObjectFileRead, SectionsAndChunks)
{
    const Bytes flags = ChunkWriter().Chunk(11, Flags({1, 2})).Data();
    const Bytes otherFlags = ChunkWriter().Chunk(11, Flags({3})).Data();
    Bytes damagedBzip2 = Bzip2(flags);
    damagedBzip2[damagedBzip2.size() / 2] ^= 0xFF;
    const Bytes model = {0x4C, 0x4B};

    struct Case
    {
        const char* name;
        std::function<void(ObjectFileWriter&)> sections;
        std::string tables;
    };
    const Case cases[] = {
        {"header only", [](auto&) {}, "rows flags lights packs"},
        {"stored section", [&](auto& w) { w.StoredSection(flags); }, "rows flags 1 2 lights packs"},
        {"bzip2 section", [&](auto& w) { w.Bzip2Section(flags); }, "rows flags 1 2 lights packs"},
        {"bad CRC, then a good section",
         [&](auto& w)
         {
             w.Section(kSectionStored, 16, flags, Crc32(flags) ^ 1);
             w.StoredSection(otherFlags);
         },
         "rows flags 3 lights packs"},
        {"damaged bzip2 body, then a good section",
         [&](auto& w)
         {
             w.Section(kSectionBzip2, 16, damagedBzip2);
             w.StoredSection(otherFlags);
         },
         "rows flags 3 lights packs"},
        {"bzip2 body larger than declared",
         [&](auto& w)
         {
             w.Section(kSectionBzip2, 15, Bzip2(flags));
             w.StoredSection(otherFlags);
         },
         "rows flags 3 lights packs"},
        {"end section stops the reading",
         [&](auto& w)
         {
             w.StoredSection(flags);
             w.EndSection();
             w.StoredSection(otherFlags);
         },
         "rows flags 1 2 lights packs"},
        {"unknown section kind stops the reading",
         [&](auto& w)
         {
             w.Section(0x30000000, 16, otherFlags);
             w.StoredSection(flags);
         },
         "rows flags lights packs"},
        {"empty section does not re-read the previous one",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter().Chunk(9, ByteWriter().U32(4).U32(0).Data()).Data());
             w.StoredSection({});
         },
         "rows flags lights (4,) packs"},
        {"empty chunk does not re-read the previous one",
         [&](auto& w) {
             w.StoredSection(ChunkWriter().Chunk(11, Flags({5, 6})).Chunk(11, {}).Data());
         },
         "rows flags lights packs"},
        {"10-byte flags chunk, then one that replaces it",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter().Chunk(11, ByteWriter().U32(8).U32(9).U16(1).Data()).Data());
             w.StoredSection(ChunkWriter().Chunk(10, {1, 2, 3}).Chunk(99, {}).Data());
         },
         "rows flags 8 9 lights packs"},
        {"type 5 fills rows by its own counter, type 1 appends a row",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter().Chunk(5, Type5(0, 1)).Chunk(5, Type5(1, 2)).Data());
             w.Bzip2Section(ChunkWriter()
                                .Chunk(1, ByteWriter()
                                              .U32(2)
                                              .Raw(model)
                                              .U32(1)
                                              .Raw(InstanceRecord(2, 0, TestMatrix(3)))
                                              .Data())
                                .Chunk(5, Type5(3, 4))
                                .Data());
         },
         "rows [0:1:0,/] [1:1:0,/] [2:0:0,3:1:0,/] flags lights packs"},
        {"type 8 with 76- and 72-byte records",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter()
                                 .Chunk(8, ByteWriter()
                                               .U32(2)
                                               .U32(2)
                                               .U32(76)
                                               .Raw(InstanceRecord(0, 1, TestMatrix(1), 1))
                                               .Raw(InstanceRecord(1, 2, TestMatrix(1), 2))
                                               .Raw(model)
                                               .Data())
                                 .Chunk(8, ByteWriter()
                                               .U32(2)
                                               .U32(1)
                                               .U32(72)
                                               .Raw(InstanceRecord(2, 1, TestMatrix(1)))
                                               .Raw(model)
                                               .Data())
                                 .Data());
         },
         "rows [0:1:1,1:2:2,/] [2:1:0,/] flags lights packs"},
        {"a damaged type 5 chunk still takes its row",
         [&](auto& w) {
             w.StoredSection(ChunkWriter().Chunk(5, {1, 2, 3}).Chunk(5, Type5(1, 2)).Data());
         },
         "rows [/] [1:1:0,/] flags lights packs"},
        {"model chunks grow the rows they name; a huge index is dropped",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter()
                                 .Chunk(7, ByteWriter()
                                               .U32(276)
                                               .U32(1)
                                               .U32(2)
                                               .U8(5)
                                               .U32(9)
                                               .U32(0)
                                               .U32(0xFFFFFFFFu)
                                               .U32(8)
                                               .U32(0)
                                               .U32(0)
                                               .Data())
                                 .Data());
         },
         "rows [/8+0,] [/] [/276+1,] flags lights packs"},
        {"light groups and material packs",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter()
                                 .Chunk(9, ByteWriter().U32(3).U32(2).U8(0).U8(0).U32(1).U32(0).Data())
                                 .Chunk(9, {})
                                 .Chunk(2, {'L', 'K', 'M', 'A', 0})
                                 .Chunk(2, {})
                                 .Data());
         },
         "rows flags lights (3,1,) () packs 5 0"},
        {"chunk larger than its section drops the rest of the section",
         [&](auto& w)
         {
             w.StoredSection(ChunkWriter().Chunk(11, Flags({1})).ChunkWithSize(11, 100, Flags({2})).Data());
             w.StoredSection(ChunkWriter().Chunk(9, {}).Data());
         },
         "rows flags 1 lights () packs"},
        {"stored section without bytes",
         [&](auto& w)
         {
             w.StoredSection(flags);
             w.Section(kSectionStored, 0, {}, 0);
         },
         "rows flags 1 2 lights packs"},
    };
    for (const Case& c : cases)
    {
        ObjectFileWriter writer(GoodHeader());
        c.sections(writer);
        InspectedCodec codec;
        DWORD v1 = 0, v2 = 0;
        EXPECT_TRUE(codec.Read(writer.Data().data(), writer.Data().size(), &v1, &v2, kAccepted)) << c.name;
        EXPECT_EQ(v1 * 100 + v2, 1122u) << c.name;
        EXPECT_EQ(codec.Tables(), c.tables) << c.name;
    }
}

TEST(ObjectFileRead, SecondReadAddsToTheTables)
{
    const Bytes file =
        ObjectFileWriter(GoodHeader()).StoredSection(ChunkWriter().Chunk(5, Type5(0, 1)).Data()).Data();
    InspectedCodec codec;
    ASSERT_TRUE(codec.ReadBytes(file));
    ASSERT_TRUE(codec.ReadBytes(file));
    EXPECT_EQ(codec.Tables(), "rows [0:1:0,/] [0:1:0,/] flags lights packs");
    EXPECT_EQ(codec.m_entryCounter, 2u);
}

TEST(ObjectFileRead, TruncatedFilesFailCleanly)
{
    // Every prefix of a small file with both section kinds and every chunk type the reader keeps.
    const Bytes content = ChunkWriter()
                              .Chunk(5, Type5(0, 1))
                              .Chunk(7, ByteWriter().U32(276).U32(1).U32(0).U8(5).Data())
                              .Chunk(9, ByteWriter().U32(3).U32(2).U8(0).U8(0).Data())
                              .Chunk(2, {'L', 'K', 'M', 'A'})
                              .Chunk(3, ByteWriter().U32(0).U8(1).Data())
                              .Chunk(6, ByteWriter().U32(1).U32(2).U8('a').U8(0).U8(0xFF).Data())
                              .Chunk(11, Flags({7}))
                              .Data();
    ObjectFileWriter writer(GoodHeader());
    writer.StoredSection(content).Bzip2Section(content).EndSection();
    const Bytes& file = writer.Data();
    const std::string whole = "rows [0:1:0,/276+1,276+1,] [0:1:0,/] flags 7 lights (3,) (3,) packs 4 4";
    {
        InspectedCodec codec;
        ASSERT_TRUE(codec.ReadBytes(file));
        ASSERT_EQ(codec.Tables(), whole);
    }
    // A cut inside a section drops that section and keeps the ones before it.
    const std::string firstSection = "rows [0:1:0,/276+1,] flags 7 lights (3,) packs 4";
    const std::vector<size_t>& boundaries = writer.FieldBoundaries();
    ASSERT_EQ(boundaries.size(), 9u + 3 * 6);
    const size_t firstEnd = boundaries[9 + 5];
    const size_t secondEnd = boundaries[9 + 11];
    for (size_t length = 0; length <= file.size(); ++length)
    {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        InspectedCodec codec;
        ASSERT_EQ(codec.ReadBytes(prefix), length >= 76) << length;
        const std::string expected = length >= secondEnd  ? whole
                                     : length >= firstEnd ? firstSection
                                                          : "rows flags lights packs";
        EXPECT_EQ(codec.Tables(), expected) << length;
    }
}

// Each table holds its bound of rows; one row more refuses the file, and nothing of it is kept.
TEST(ObjectFileRead, TablesHoldTheirBoundAndNoMore)
{
    constexpr size_t kRows = CP3DReadCodec::kMaxTableRows;
    const auto file = [](size_t packs, size_t groups, size_t rows)
    {
        ChunkWriter chunks;
        for (size_t i = 0; i < packs; ++i)
            chunks.Chunk(2, {});
        for (size_t i = 0; i < groups; ++i)
            chunks.Chunk(9, {});
        for (size_t i = 0; i < rows; ++i)
            chunks.Chunk(5, ByteWriter().U32(0).U32(0).Data());
        chunks.Chunk(7, ByteWriter()
                            .U32(1)
                            .U32(0)
                            .U32(static_cast<DWORD>(kRows - 1))
                            .U32(2)
                            .U32(0)
                            .U32(static_cast<DWORD>(kRows))
                            .Data());
        return ObjectFileWriter(GoodHeader()).Bzip2Section(chunks.Data()).Data();
    };
    {
        InspectedCodec codec;
        ASSERT_TRUE(codec.ReadBytes(file(kRows, kRows, kRows)));
        EXPECT_EQ(codec.m_materialSets.size(), kRows);
        EXPECT_EQ(codec.m_lightGroups.size(), kRows);
        ASSERT_EQ(codec.m_chunkEntries.size(), kRows);
        // A model-chunk item past the rows names no row a file could have: it is dropped alone.
        EXPECT_EQ(codec.m_chunkEntries.back().chunks.size(), 1u) << "the item naming the last row is kept";
    }
    for (const Bytes& over : {file(kRows + 1, 0, 0), file(0, kRows + 1, 0), file(0, 0, kRows + 1)})
    {
        InspectedCodec codec;
        EXPECT_FALSE(codec.ReadBytes(over));
        EXPECT_EQ(codec.Refusal(), P3DRefusal::TableRows);
        EXPECT_EQ(codec.Tables(), "rows flags lights packs");
    }
}

// Files made to hurt: each is refused before it can take the memory or time it asks for, with the
// reason, or read up to the damage.
TEST(ObjectFileRead, AmplificationAndDamageFiles)
{
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    // A type-1 chunk without model data and `count` placements.
    const auto placements = [&](uint32_t count, bool distinct)
    {
        ByteWriter w;
        w.U32(0).Raw({}).U32(count);
        const Bytes same = InstanceRecord(0, 0, identity);
        for (uint32_t i = 0; i < count; ++i)
            w.Raw(distinct ? InstanceRecord(i, 0, identity) : same);
        return ChunkWriter().Chunk(1, w.Data()).Data();
    };
    const auto repeated = [](size_t count, uint32_t type, const Bytes& payload)
    {
        ChunkWriter chunks;
        for (size_t i = 0; i < count; ++i)
            chunks.Chunk(type, payload);
        return chunks.Data();
    };
    const auto items = [](size_t count, const Bytes& item)
    {
        ByteWriter w;
        for (size_t i = 0; i < count; ++i)
            w.Raw(item);
        return w.Data();
    };
    // 40,000 light groups of one slot each, its light point index telling which group it is: the groups
    // kept show which whole chunks were read, and that nothing else was.
    constexpr uint32_t kGroups = 40000;
    const auto groupMark = [](uint32_t k) { return k * 2654435761u; };
    ChunkWriter groupChunks;
    for (uint32_t k = 0; k < kGroups; ++k)
        groupChunks.Chunk(9, ByteWriter().U32(groupMark(k)).U32(0).Data());
    const Bytes& groups = groupChunks.Data();
    const Bytes groupsPacked = Bzip2(groups, 1);
    const Bytes flags = ChunkWriter().Chunk(11, Flags({4, 5})).Data();

    // Geometry that takes a few bits a face or a vertex: one strip cycling through three vertices by
    // the ring (65,533 faces a mesh), and one strip of 255 new vertices with 254 copies of it (65,025
    // vertices and 64,515 faces a mesh).
    const auto geometry = [](bool manyVertices, uint32_t meshesPerModel, uint32_t models)
    {
        MeshDesc mesh;
        mesh.predict = false;
        mesh.ringBits = 3;
        GroupDesc group;
        for (float& bound : group.maximum)
            bound = 65535.0f;
        StripDesc strip;
        for (uint32_t k = 0; k < (manyVertices ? 255u : 3u); ++k)
        {
            mesh.keys.push_back({{static_cast<float>(k), static_cast<float>(k % 2), 0.0f}, {0.0f, 0.0f}});
            strip.ops.push_back({StripOp::New, k});
        }
        group.strips = {strip};
        if (manyVertices)
            for (int copy = 0; copy < 254; ++copy)
            {
                group.strips.push_back(strip);
                group.strips.back().copyOf = 0;
            }
        else
            for (uint32_t k = 3; k < 65535; ++k)
                group.strips[0].ops.push_back({StripOp::Ring, k % 3});
        mesh.groups = {group};
        BlockDesc block;
        block.meshes.assign(meshesPerModel, EncodeMesh(mesh).bytes);
        const Bytes bytes = EncodeBlock(block);
        ChunkWriter chunks;
        for (uint32_t m = 0; m < models; ++m)
            chunks.Chunk(1, ByteWriter().U32(static_cast<uint32_t>(bytes.size())).Raw(bytes).U32(0).Data());
        return ObjectFileWriter(GoodHeader()).StoredSection(chunks.Data()).Data();
    };

    struct Case
    {
        const char* name;
        Bytes file;
        P3DRefusal refusal;
        size_t lightGroups = 0; // kept, when read: exactly, or at least when cut inside the stream
        bool exact = true;
    };
    const auto packed = [](const Bytes& content)
    { return ObjectFileWriter(GoodHeader()).Bzip2Section(content).Data(); };
    const Case cases[] = {
        // A million placements take seconds to compress; one over the bound is refused the same way.
        {"65,537 placements at distinct indices", packed(placements(65537, true)),
         P3DRefusal::InstanceRecords},
        {"65,537 placements at index 0", packed(placements(65537, false)), P3DRefusal::InstanceRecords},
        {"65,536 placements in two chunks and one more",
         packed(ByteWriter().Raw(placements(65536, false)).Raw(placements(1, false)).Data()),
         P3DRefusal::InstanceRecords},
        {"70,000 model chunks", packed(repeated(70000, 1, ByteWriter().U32(4).U32(0x59474B4C).U32(0).Data())),
         P3DRefusal::Models},
        {"a million light items in one chunk",
         packed(ChunkWriter().Chunk(9, items(1 << 20, ByteWriter().U32(0).U32(0).Data())).Data()),
         P3DRefusal::Lights},
        {"a million model-chunk items in one chunk",
         packed(ChunkWriter().Chunk(7, items(1 << 20, ByteWriter().U32(1).U32(0).U32(0).Data())).Data()),
         P3DRefusal::ModelChunks},
        {"300,000 empty chunks", packed(repeated(300000, 10, {})), P3DRefusal::Chunks},
        // Refused before the meshes of the model that goes over are made, with or without an engine.
        {"two models decoding to 4,325,178 faces", geometry(false, 33, 2), P3DRefusal::DecodedFaces},
        {"a model decoding to 4,226,625 vertices", geometry(true, 65, 1), P3DRefusal::DecodedVertices},
        {"a section declaring 4 GiB",
         ObjectFileWriter(GoodHeader()).Section(kSectionBzip2, 0xFFFFFFFFu, Bzip2(flags)).Data(),
         P3DRefusal::UnpackedBytes},
        {"sections declaring 384 MiB",
         ObjectFileWriter(GoodHeader())
             .Section(kSectionBzip2, 192u << 20, Bzip2(flags))
             .Section(kSectionBzip2, 192u << 20, Bzip2(flags))
             .Data(),
         P3DRefusal::UnpackedBytes},
        {"bzip2 data ending early keeps the whole blocks",
         ObjectFileWriter(GoodHeader())
             .Section(kSectionBzip2, static_cast<uint32_t>(groups.size()),
                      Bytes(groupsPacked.begin(), groupsPacked.begin() + groupsPacked.size() * 3 / 5))
             .StoredSection(flags)
             .Data(),
         P3DRefusal::None, 10000, false},
        {"declared unpacked size short by three bytes keeps the whole chunks",
         ObjectFileWriter(GoodHeader())
             .Section(kSectionBzip2, static_cast<uint32_t>(groups.size() - 3), groupsPacked)
             .StoredSection(flags)
             .Data(),
         P3DRefusal::None, kGroups - 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        InspectedCodec codec;
        EXPECT_EQ(codec.ReadBytes(c.file), c.refusal == P3DRefusal::None);
        EXPECT_EQ(codec.Refusal(), c.refusal) << P3DRefusalText(codec.Refusal());
        if (c.refusal != P3DRefusal::None)
        {
            EXPECT_EQ(codec.Tables(), "rows flags lights packs");
            continue;
        }
        // The section after the damaged one is read too.
        EXPECT_EQ(codec.m_specialFlags, (std::vector<DWORD>{4, 5}));
        if (c.exact)
            EXPECT_EQ(codec.m_lightGroups.size(), c.lightGroups);
        else
            EXPECT_GE(codec.m_lightGroups.size(), c.lightGroups);
        ASSERT_LT(codec.m_lightGroups.size(), kGroups);
        for (uint32_t k = 0; k < codec.m_lightGroups.size(); ++k)
        {
            ASSERT_EQ(codec.m_lightGroups[k].size(), 1u) << k;
            ASSERT_EQ(codec.m_lightGroups[k][0].lightPointIndex, groupMark(k)) << k;
        }
    }
}
