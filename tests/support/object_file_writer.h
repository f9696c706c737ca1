#pragma once
// Builds object files byte by byte for the reader's tests: the 76-byte header, stored and bzip2
// sections with their CRC-32, chunks and instance records. Written from the file layout alone
// (zlib's CRC-32 and libbz2's compressor, not the reader's code), so a test shows every byte.
#include "platform/win32/windef.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace ferolt::test
{

using Bytes = std::vector<uint8_t>;

// Little-endian byte builder.
class ByteWriter
{
public:
    ByteWriter& U8(uint8_t v);
    ByteWriter& U16(uint16_t v);
    ByteWriter& U32(uint32_t v);
    ByteWriter& F32(float v);
    ByteWriter& Raw(const Bytes& b);
    ByteWriter& Guid(const GUID& g);
    const Bytes& Data() const { return m_bytes; }
    size_t Size() const { return m_bytes.size(); }

private:
    Bytes m_bytes;
};

constexpr uint32_t kSectionBzip2 = 0x10000000u;
constexpr uint32_t kSectionStored = 0x20000000u;
constexpr uint32_t kSectionEnd = 0x80008000u;

// The MD5 digest of four zero bytes, which every file starts with.
constexpr std::array<uint8_t, 16> kObjectFileSignature = {0xf1, 0xd3, 0xff, 0x84, 0x43, 0x29, 0x77, 0x32,
                                                          0x86, 0x2d, 0xf2, 0x1d, 0xc4, 0xe5, 0x72, 0x62};

struct ObjectFileHeaderFields
{
    std::array<uint8_t, 16> signature = kObjectFileSignature;
    uint32_t version = 3;
    uint32_t revision = 1;
    uint32_t value1 = 0;
    uint32_t value2 = 0;
    GUID contentType = {};
    GUID secondGuid = {};
    uint32_t value3 = 0;
};

uint32_t Crc32(const Bytes& bytes);
// Blocks of blockSize100k x 100 kB; a stream cut inside a block keeps the blocks before it.
Bytes Bzip2(const Bytes& bytes, int blockSize100k = 9);

// A placement matrix whose 16 floats are base, base + 1, ... so that records are told apart.
std::array<float, 16> TestMatrix(float base);

// Instance record, file form: 72 bytes, or 76 with a light group.
Bytes InstanceRecord(uint32_t outputIndex, uint32_t materialSet, const std::array<float, 16>& matrix,
                     std::optional<uint32_t> lightGroup = std::nullopt);

// Section content: chunks back to back.
class ChunkWriter
{
public:
    ChunkWriter& Chunk(uint32_t type, const Bytes& payload);
    // A chunk header that declares `size` but carries `payload` (for truncated chunks).
    ChunkWriter& ChunkWithSize(uint32_t type, uint32_t size, const Bytes& payload);
    const Bytes& Data() const { return m_bytes.Data(); }

private:
    ByteWriter m_bytes;
};

class ObjectFileWriter
{
public:
    explicit ObjectFileWriter(const ObjectFileHeaderFields& header = {});

    ObjectFileWriter& StoredSection(const Bytes& content);
    ObjectFileWriter& Bzip2Section(const Bytes& content);
    // Any section: kind, unpacked size, stored bytes and CRC as given (CRC computed when absent).
    ObjectFileWriter& Section(uint32_t kind, uint32_t unpackedSize, const Bytes& stored,
                              std::optional<uint32_t> crc = std::nullopt);
    ObjectFileWriter& EndSection();

    const Bytes& Data() const { return m_bytes.Data(); }
    // Offsets at which a field of the header or of a section header ends, and where stored bytes end.
    const std::vector<size_t>& FieldBoundaries() const { return m_boundaries; }

private:
    void Mark() { m_boundaries.push_back(m_bytes.Size()); }
    ByteWriter m_bytes;
    std::vector<size_t> m_boundaries;
};

} // namespace ferolt::test
