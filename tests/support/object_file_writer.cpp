#include "tests/support/object_file_writer.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace ferolt::test
{

ByteWriter& ByteWriter::U8(uint8_t v)
{
    m_bytes.push_back(v);
    return *this;
}

ByteWriter& ByteWriter::U16(uint16_t v)
{
    return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8));
}

ByteWriter& ByteWriter::U32(uint32_t v)
{
    return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
}

ByteWriter& ByteWriter::F32(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return U32(bits);
}

ByteWriter& ByteWriter::Raw(const Bytes& b)
{
    m_bytes.insert(m_bytes.end(), b.begin(), b.end());
    return *this;
}

ByteWriter& ByteWriter::Guid(const GUID& g)
{
    U32(g.Data1).U16(g.Data2).U16(g.Data3);
    for (uint8_t b : g.Data4)
        U8(b);
    return *this;
}

uint32_t Crc32(const Bytes& bytes)
{
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
}

Bytes Bzip2(const Bytes& bytes, int blockSize100k)
{
    unsigned int size = static_cast<unsigned int>(bytes.size() + bytes.size() / 100 + 600);
    Bytes out(size);
    Bytes in = bytes;
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                 reinterpret_cast<char*>(in.data()), static_cast<unsigned int>(in.size()),
                                 blockSize100k, 0, 0) != BZ_OK)
        throw std::runtime_error("bzip2 compression failed");
    out.resize(size);
    return out;
}

std::array<float, 16> TestMatrix(float base)
{
    std::array<float, 16> m{};
    for (int i = 0; i < 16; ++i)
        m[i] = base + static_cast<float>(i);
    return m;
}

Bytes InstanceRecord(uint32_t outputIndex, uint32_t materialSet, const std::array<float, 16>& matrix,
                     std::optional<uint32_t> lightGroup)
{
    ByteWriter w;
    w.U32(outputIndex).U32(materialSet);
    for (float f : matrix)
        w.F32(f);
    if (lightGroup) w.U32(*lightGroup);
    return w.Data();
}

ChunkWriter& ChunkWriter::Chunk(uint32_t type, const Bytes& payload)
{
    return ChunkWithSize(type, static_cast<uint32_t>(payload.size()), payload);
}

ChunkWriter& ChunkWriter::ChunkWithSize(uint32_t type, uint32_t size, const Bytes& payload)
{
    m_bytes.U32(type).U32(size).Raw(payload);
    return *this;
}

ObjectFileWriter::ObjectFileWriter(const ObjectFileHeaderFields& h)
{
    for (uint8_t b : h.signature)
        m_bytes.U8(b);
    Mark();
    m_bytes.U32(h.version);
    Mark();
    m_bytes.U32(h.revision);
    Mark();
    m_bytes.U32(h.value1);
    Mark();
    m_bytes.U32(h.value2);
    Mark();
    m_bytes.U32(0).U32(0); // reserved
    Mark();
    m_bytes.Guid(h.contentType);
    Mark();
    m_bytes.Guid(h.secondGuid);
    Mark();
    m_bytes.U32(h.value3);
    Mark();
}

ObjectFileWriter& ObjectFileWriter::StoredSection(const Bytes& content)
{
    return Section(kSectionStored, static_cast<uint32_t>(content.size()), content);
}

ObjectFileWriter& ObjectFileWriter::Bzip2Section(const Bytes& content)
{
    return Section(kSectionBzip2, static_cast<uint32_t>(content.size()), Bzip2(content));
}

ObjectFileWriter& ObjectFileWriter::Section(uint32_t kind, uint32_t unpackedSize, const Bytes& stored,
                                            std::optional<uint32_t> crc)
{
    m_bytes.U32(0);
    Mark();
    m_bytes.U32(kind);
    Mark();
    m_bytes.U32(unpackedSize);
    Mark();
    m_bytes.U32(static_cast<uint32_t>(stored.size()));
    Mark();
    m_bytes.U32(crc.value_or(Crc32(stored)));
    Mark();
    m_bytes.Raw(stored);
    Mark();
    return *this;
}

ObjectFileWriter& ObjectFileWriter::EndSection()
{
    return Section(kSectionEnd, 0, {}, 0);
}

} // namespace ferolt::test
