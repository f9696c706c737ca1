#pragma once
// Section walk and chunk framing of an object file. The walk checks each section's CRC-32,
// unpacks bzip2 sections and hands every chunk it can frame to a handler; what a chunk means is
// the handler's business.
#include "codec/blob_storage_data.h"
#include "codec/p3d_budget.h"

enum class P3DSectionDrop
{
    BadCrc,         // the stored bytes do not match their CRC-32
    BadBzip2,       // damaged, cut or larger than declared: the whole chunks it produced are still read
    TruncatedChunk, // a chunk header or body runs past the section; the rest of it is dropped
    OverBudget,     // the file's bzip2 sections together declare more than the reader unpacks
};

// What one file's bzip2 sections may unpack to in all. Each section is capped on its own, but a
// small file can hold many sections, and what they unpack to is kept by the reader.
constexpr size_t kP3DMaxUnpackedPerFile = P3DBudget::kUnpackedBytes;

enum class P3DWalkEnd
{
    EndOfFile,     // every section was read
    EndKind,       // an end section or an unknown kind
    TruncatedFile, // a section header or its stored bytes run past the end of the file
    Stopped,       // the handler asked to stop
};

// The chunks after the one being handed over, framed on demand in file order: those the walk hands over
// next, unless the handler stops it. A chunk's bytes stay valid until the chunk has been handed over.
class IP3DChunksAhead
{
public:
    virtual ~IP3DChunksAhead() = default;
    // The next chunk not looked at yet; false after the last. size may be 0 (data is then null).
    virtual bool Next(DWORD* type, const BYTE** data, size_t* size) = 0;
};

class IP3DChunkHandler
{
public:
    virtual ~IP3DChunkHandler() = default;
    // Once, after the sections are unpacked and before the first chunk is handed over: a handler may
    // look ahead to prepare what later chunks need. ahead is valid until the walk returns.
    virtual void BeforeHandOver(IP3DChunksAhead&) {}
    // data is valid only during the call; size may be 0.
    virtual void OnChunk(DWORD type, const BYTE* data, size_t size) = 0;
    virtual void OnSectionDropped(P3DSectionDrop) {}
    // Asked after every chunk and section: true ends the walk there.
    virtual bool Stopped() const { return false; }
};

// Walks the sections from the file's position to its end. Sections are unpacked on up to threads
// worker threads (0: as many as the engine's devices use); the handler is called on the calling
// thread only, in file order, with the same chunks and drops at every thread count.
P3DWalkEnd P3DWalkSections(BlobStorageData& file, IP3DChunkHandler& handler,
                           size_t unpackBudget = kP3DMaxUnpackedPerFile, unsigned threads = 0);

// Frames the chunks of one section's content.
void P3DWalkChunks(BlobStorageData& section, IP3DChunkHandler& handler);
