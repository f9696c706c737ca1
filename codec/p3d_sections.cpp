#include "codec/p3d_sections.h"

void P3DWalkChunks(BlobStorageData& section, IP3DChunkHandler& handler)
{
    section.Rewind();
    while (section.Remaining() > 0)
    {
        P3DChunkHeader chunk;
        if (!section.Read(&chunk, sizeof chunk) || chunk.size > section.Remaining())
        {
            handler.OnSectionDropped(P3DSectionDrop::TruncatedChunk);
            return;
        }
        // The chunk is read in place; a chunk of size 0 gets no bytes, never an earlier chunk's.
        handler.OnChunk(chunk.type, chunk.size ? section.Current() : nullptr, chunk.size);
        if (handler.Stopped()) return;
        (void)section.Skip(chunk.size);
    }
}

P3DWalkEnd P3DWalkSections(BlobStorageData& file, IP3DChunkHandler& handler, size_t unpackBudget)
{
    while (file.Remaining() > 0)
    {
        P3DSectionHeader header;
        if (!file.Read(&header, sizeof header)) return P3DWalkEnd::TruncatedFile;
        if (header.kind != P3D_SECTION_BZIP2 && header.kind != P3D_SECTION_STORED) return P3DWalkEnd::EndKind;

        // A fresh buffer per section: an empty section must not leave the previous one to be read again.
        BlobStorageData section;
        if (header.storedSize > 0 && !section.ExtractTo(file, header.storedSize))
            return P3DWalkEnd::TruncatedFile;

        DWORD crc = 0;
        section.ComputeCrc32(crc);
        if (crc != header.crc32)
        {
            handler.OnSectionDropped(P3DSectionDrop::BadCrc);
            continue;
        }
        if (header.kind == P3D_SECTION_BZIP2)
        {
            if (header.unpackedSize > unpackBudget)
            {
                handler.OnSectionDropped(P3DSectionDrop::OverBudget);
                if (handler.Stopped()) return P3DWalkEnd::Stopped;
                continue;
            }
            unpackBudget -= header.unpackedSize;
            if (!section.DecompressBzip2(header.unpackedSize))
                handler.OnSectionDropped(P3DSectionDrop::BadBzip2);
        }
        if (handler.Stopped()) return P3DWalkEnd::Stopped;
        P3DWalkChunks(section, handler);
        if (handler.Stopped()) return P3DWalkEnd::Stopped;
    }
    return P3DWalkEnd::EndOfFile;
}
