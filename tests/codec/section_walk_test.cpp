#include "codec/p3d_sections.h"

#include "tests/support/object_file_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace ferolt::test;

namespace
{

// Records what the walk hands over: "type:bytes" per chunk, "!reason" per dropped section.
class Recorder : public IP3DChunkHandler
{
public:
    std::string events;
    void OnChunk(DWORD type, const BYTE* data, size_t size) override
    {
        events += std::to_string(type) + ":";
        for (size_t i = 0; i < size; ++i)
            events += std::to_string(data[i]) + (i + 1 < size ? "." : "");
        events += " ";
    }
    void OnSectionDropped(P3DSectionDrop reason) override
    {
        const char* names[] = {"crc", "bzip2", "chunk", "budget"};
        events += std::string("!") + names[static_cast<int>(reason)] + " ";
    }
};

} // namespace

TEST(SectionWalk, HandsOverEveryChunkItCanFrame)
{
    const Bytes twoChunks = ChunkWriter().Chunk(1, {1, 2}).Chunk(10, {}).Data();
    const Bytes oneChunk = ChunkWriter().Chunk(77, {9}).Data();
    // Twenty sections, more than are ever unpacked at once: stored, bzip2 and bad-CRC ones, with a
    // budget for four bzip2 sections. Their chunks must arrive in file order all the same.
    const auto manySections = [](ObjectFileWriter& w)
    {
        for (uint8_t i = 0; i < 20; ++i)
        {
            const Bytes chunk = ChunkWriter().Chunk(20u + i, {i}).Data();
            if (i % 5 == 3)
                w.Section(kSectionStored, 0, chunk, Crc32(chunk) ^ 1);
            else if (i % 2)
                w.Bzip2Section(chunk);
            else
                w.StoredSection(chunk);
        }
        w.EndSection();
    };
    std::string manyEvents;
    for (int i = 0, unpacked = 0; i < 20; ++i)
    {
        const std::string chunk = std::to_string(20 + i) + ":" + std::to_string(i) + " ";
        if (i % 5 == 3)
            manyEvents += "!crc ";
        else if (i % 2 && unpacked == 4)
            manyEvents += "!budget ";
        else
        {
            unpacked += i % 2;
            manyEvents += chunk;
        }
    }
    struct Case
    {
        const char* name;
        std::function<void(ObjectFileWriter&)> sections;
        size_t budget;
        std::string events;
        P3DWalkEnd end;
    };
    const Case cases[] = {
        {"no sections", [](auto&) {}, 1000, "", P3DWalkEnd::EndOfFile},
        {"stored and bzip2",
         [&](auto& w)
         {
             w.StoredSection(twoChunks);
             w.Bzip2Section(oneChunk);
         },
         1000, "1:1.2 10: 77:9 ", P3DWalkEnd::EndOfFile},
        {"bad CRC", [&](auto& w) { w.Section(kSectionStored, 0, oneChunk, 5).StoredSection(twoChunks); },
         1000, "!crc 1:1.2 10: ", P3DWalkEnd::EndOfFile},
        {"zero bytes of bzip2", [&](auto& w) { w.Section(kSectionBzip2, 9, {}).StoredSection(oneChunk); },
         1000, "!bzip2 77:9 ", P3DWalkEnd::EndOfFile},
        {"declared empty bzip2", [&](auto& w) { w.Section(kSectionBzip2, 0, Bzip2(oneChunk)); }, 1000, "",
         P3DWalkEnd::EndOfFile},
        {"unpack budget",
         [&](auto& w) { w.Bzip2Section(oneChunk).Bzip2Section(twoChunks).Bzip2Section(oneChunk); },
         oneChunk.size() * 2, "77:9 !budget 77:9 ", P3DWalkEnd::EndOfFile},
        {"chunk header cut", [&](auto& w) { w.StoredSection(Bytes(oneChunk.begin(), oneChunk.end() - 2)); },
         1000, "!chunk ", P3DWalkEnd::EndOfFile},
        {"trailing partial chunk header",
         [&](auto& w) { w.StoredSection(ByteWriter().Raw(oneChunk).U32(3).Data()); }, 1000, "77:9 !chunk ",
         P3DWalkEnd::EndOfFile},
        {"end kind", [&](auto& w) { w.StoredSection(oneChunk).EndSection().StoredSection(oneChunk); }, 1000,
         "77:9 ", P3DWalkEnd::EndKind},
        {"stored section without bytes", [&](auto& w) { w.Section(kSectionStored, 0, {}, 0); }, 1000, "",
         P3DWalkEnd::EndOfFile},
        {"many sections", manySections, 4 * 9, manyEvents, P3DWalkEnd::EndKind},
        {"corrupt bzip2 between sound ones",
         [&](auto& w)
         {
             Bytes corrupt = Bzip2(twoChunks);
             corrupt[corrupt.size() / 2] ^= 0x55;
             w.Bzip2Section(oneChunk)
                 .Section(kSectionBzip2, twoChunks.size(), corrupt)
                 .Bzip2Section(oneChunk);
         },
         1000, "77:9 !bzip2 77:9 ", P3DWalkEnd::EndOfFile},
    };
    // Sections are unpacked on worker threads; what the handler sees must not depend on how many.
    for (unsigned threads : {1u, 3u, 8u})
        for (const Case& c : cases)
        {
            ObjectFileWriter writer;
            c.sections(writer);
            BlobStorageData file;
            file.Append(writer.Data().data(), writer.Data().size());
            file.Rewind();
            file.Skip(sizeof(P3DFileHeader));
            Recorder recorder;
            EXPECT_EQ(P3DWalkSections(file, recorder, c.budget, threads), c.end) << c.name << threads;
            EXPECT_EQ(recorder.events, c.events) << c.name << " at " << threads << " threads";
        }

    // A section header cut short, and stored bytes that run past the file.
    for (size_t cut : {1u, 10u, 20u})
    {
        ObjectFileWriter writer;
        writer.StoredSection(oneChunk).StoredSection(oneChunk);
        Bytes bytes = writer.Data();
        bytes.resize(bytes.size() - oneChunk.size() - 20 + cut);
        BlobStorageData file;
        file.Append(bytes.data(), bytes.size());
        file.Rewind();
        file.Skip(sizeof(P3DFileHeader));
        Recorder recorder;
        EXPECT_EQ(P3DWalkSections(file, recorder), P3DWalkEnd::TruncatedFile) << cut;
        EXPECT_EQ(recorder.events, "77:9 ") << cut;
    }
}
