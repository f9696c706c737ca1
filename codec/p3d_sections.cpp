#include "codec/p3d_sections.h"

#include "platform/bytes/byte_reader.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/d3d9/workers.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <vector>

namespace
{

struct Section
{
    P3DSectionHeader header{};
    BlobStorageData bytes;
    bool crcGood = false;
    bool overBudget = false;
    bool bzip2Good = true;
};

bool HandedOver(const Section& s)
{
    return s.crcGood && !s.overBudget;
}

// One chunk framed in a section's content.
struct FramedChunk
{
    DWORD type;
    const BYTE* data; // null for an empty chunk
    size_t size;
    size_t end; // where the next chunk begins
};

enum class Frame
{
    Chunk,
    End,
    Truncated, // a chunk header or body runs past the section
};

Frame FrameChunk(const BlobStorageData& section, size_t offset, FramedChunk* out)
{
    const ferolt::ByteReader bytes(section.Data(), section.Size());
    if (offset >= bytes.Size()) return Frame::End;
    P3DChunkHeader header;
    if (!bytes.Read(offset, &header) || header.size > bytes.Size() - offset - sizeof header)
        return Frame::Truncated;
    const size_t start = offset + sizeof header;
    *out = {header.type, header.size ? section.Data() + start : nullptr, header.size, start + header.size};
    return Frame::Chunk;
}

class ChunksAhead final : public IP3DChunksAhead
{
public:
    explicit ChunksAhead(const std::vector<Section>& sections) : m_sections(sections) {}

    // The walk hands over the chunk of `section` that ends at `end`: only what follows it is ahead.
    void Reach(size_t section, size_t end)
    {
        if (section > m_section || (section == m_section && end > m_offset))
        {
            m_section = section;
            m_offset = end;
        }
    }

    bool Next(DWORD* type, const BYTE** data, size_t* size) override
    {
        for (; m_section < m_sections.size(); ++m_section, m_offset = 0)
        {
            const Section& s = m_sections[m_section];
            FramedChunk chunk;
            if (!HandedOver(s) || FrameChunk(s.bytes, m_offset, &chunk) != Frame::Chunk) continue;
            m_offset = chunk.end;
            *type = chunk.type;
            *data = chunk.data;
            *size = chunk.size;
            return true;
        }
        return false;
    }

private:
    const std::vector<Section>& m_sections;
    size_t m_section = 0;
    size_t m_offset = 0;
};

void HandOverChunks(const BlobStorageData& section, IP3DChunkHandler& handler, ChunksAhead* ahead,
                    size_t sectionIndex)
{
    FramedChunk chunk;
    for (size_t offset = 0;; offset = chunk.end)
    {
        const Frame frame = FrameChunk(section, offset, &chunk);
        if (frame == Frame::End) return;
        if (frame == Frame::Truncated)
        {
            handler.OnSectionDropped(P3DSectionDrop::TruncatedChunk);
            return;
        }
        if (ahead) ahead->Reach(sectionIndex, chunk.end);
        // The chunk is read in place; a chunk of size 0 gets no bytes, never an earlier chunk's.
        handler.OnChunk(chunk.type, chunk.data, chunk.size);
        if (handler.Stopped()) return;
    }
}

void ForEach(ferolt::d3d9::WorkerPool* pool, std::vector<Section>& sections, void (*fn)(Section&))
{
    if (!pool)
    {
        for (Section& s : sections)
            fn(s);
        return;
    }
    pool->Run(sections.size(), [&](size_t i) { fn(sections[i]); });
}

} // namespace

// Sections are framed first, their CRCs checked and bzip2 streams unpacked on the workers, and only
// then handed over, one after another in file order: the handler sees exactly what a walk on one
// thread shows it. The budget is spent in file order before anything is unpacked, so no more than it
// is ever held, whatever the thread count.
P3DWalkEnd P3DWalkSections(BlobStorageData& file, IP3DChunkHandler& handler, size_t unpackBudget,
                           unsigned threads)
{
    std::vector<Section> sections;
    P3DWalkEnd end = P3DWalkEnd::EndOfFile;
    while (file.Remaining() > 0)
    {
        P3DSectionHeader header;
        if (!file.Read(&header, sizeof header))
        {
            end = P3DWalkEnd::TruncatedFile;
            break;
        }
        if (header.kind != P3D_SECTION_BZIP2 && header.kind != P3D_SECTION_STORED)
        {
            end = P3DWalkEnd::EndKind;
            break;
        }
        // A fresh buffer per section: an empty section must not leave the previous one to be read again.
        Section& section = sections.emplace_back();
        section.header = header;
        if (header.storedSize > 0 && !section.bytes.ExtractTo(file, header.storedSize))
        {
            sections.pop_back();
            end = P3DWalkEnd::TruncatedFile;
            break;
        }
    }

    size_t packed = 0;
    for (const Section& s : sections)
        packed += s.header.kind == P3D_SECTION_BZIP2;
    if (threads == 0) threads = ferolt::hooks::GetD3D9WorkerThreads();
    std::unique_ptr<ferolt::d3d9::WorkerPool> pool;
    if (threads > 1 && packed > 1)
    {
        // Without threads the sections are unpacked on this one, as they would be anyway.
        try
        {
            pool = std::make_unique<ferolt::d3d9::WorkerPool>(
                static_cast<unsigned>(std::min<size_t>(threads, sections.size())));
        }
        catch (const std::system_error&)
        {
        }
    }

    ForEach(pool.get(), sections,
            [](Section& s)
            {
                DWORD crc = 0;
                s.bytes.ComputeCrc32(crc);
                s.crcGood = crc == s.header.crc32;
            });
    for (Section& s : sections)
    {
        if (!s.crcGood || s.header.kind != P3D_SECTION_BZIP2) continue;
        s.overBudget = s.header.unpackedSize > unpackBudget;
        if (!s.overBudget) unpackBudget -= s.header.unpackedSize;
    }
    ForEach(pool.get(), sections,
            [](Section& s)
            {
                if (!s.crcGood || s.header.kind != P3D_SECTION_BZIP2) return;
                if (s.overBudget)
                    s.bytes.Clear();
                else
                    s.bzip2Good = s.bytes.DecompressBzip2(s.header.unpackedSize);
            });
    pool.reset();

    ChunksAhead ahead(sections);
    handler.BeforeHandOver(ahead);
    for (size_t i = 0; i < sections.size(); ++i)
    {
        Section& s = sections[i];
        if (!s.crcGood)
        {
            handler.OnSectionDropped(P3DSectionDrop::BadCrc);
            continue;
        }
        if (s.overBudget)
        {
            handler.OnSectionDropped(P3DSectionDrop::OverBudget);
            if (handler.Stopped()) return P3DWalkEnd::Stopped;
            continue;
        }
        if (!s.bzip2Good) handler.OnSectionDropped(P3DSectionDrop::BadBzip2);
        if (handler.Stopped()) return P3DWalkEnd::Stopped;
        HandOverChunks(s.bytes, handler, &ahead, i);
        if (handler.Stopped()) return P3DWalkEnd::Stopped;
        s.bytes.Clear(); // what the handler keeps it has copied
    }
    return end;
}

void P3DWalkChunks(BlobStorageData& section, IP3DChunkHandler& handler)
{
    HandOverChunks(section, handler, nullptr, 0);
}
