#include "codec/blob_storage_data.h"

#include "platform/bytes/byte_reader.h"

#include <bzlib.h>
#include <crypto++/crc.h>

#include <climits>
#include <cstring>
#include <new>

bool BlobStorageData::Append(const BYTE* data, size_t n)
{
    if (n == 0 || !data || n > SIZE_MAX - m_size) return false;
    std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[m_size + n]);
    if (!grown) return false;
    if (m_size) std::memcpy(grown.get(), m_data.get(), m_size);
    // The new bytes go at the position, which is the end whenever this is used as intended.
    std::memcpy(grown.get() + m_position, data, n);
    m_data = std::move(grown);
    m_size += n;
    m_position = m_size;
    return true;
}

bool BlobStorageData::Rewind()
{
    m_position = 0;
    return true;
}

bool BlobStorageData::Read(void* destination, size_t n)
{
    std::span<const uint8_t> bytes;
    if (!ferolt::ByteReader(m_data.get(), m_size).Bytes(m_position, n, &bytes)) return false;
    if (n) std::memcpy(destination, bytes.data(), n);
    m_position += n;
    return true;
}

bool BlobStorageData::Skip(size_t n)
{
    if (n > Remaining()) return false;
    m_position += n;
    return true;
}

bool BlobStorageData::ReadHeader(P3DFileHeader& header)
{
    return Read(&header, sizeof header);
}

bool BlobStorageData::ExtractTo(BlobStorageData& source, size_t n)
{
    std::span<const uint8_t> taken;
    if (n == 0 || !ferolt::ByteReader(source.m_data.get(), source.m_size).Bytes(source.m_position, n, &taken))
        return false;
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[n]);
    if (!bytes) return false;
    std::memcpy(bytes.get(), taken.data(), n);
    source.m_position += n;
    m_data = std::move(bytes);
    m_size = n;
    m_position = 0;
    return true;
}

bool BlobStorageData::ComputeCrc32(DWORD& crc) const
{
    CryptoPP::CRC32 hash;
    if (m_size) hash.Update(m_data.get(), m_size);
    BYTE digest[CryptoPP::CRC32::DIGESTSIZE];
    hash.Final(digest);
    // The digest holds the CRC least significant byte first.
    crc = static_cast<DWORD>(digest[0]) | static_cast<DWORD>(digest[1]) << 8 |
          static_cast<DWORD>(digest[2]) << 16 | static_cast<DWORD>(digest[3]) << 24;
    return true;
}

bool BlobStorageData::DecompressBzip2(size_t n)
{
    if (n == 0)
    {
        Clear();
        return true;
    }
    if (n > kMaxUnpackedSize || m_size > UINT_MAX)
    {
        Clear();
        return false;
    }
    std::unique_ptr<BYTE[]> out(new (std::nothrow) BYTE[n]);
    bz_stream stream{};
    if (!out || BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK)
    {
        Clear();
        return false;
    }
    stream.next_in = reinterpret_cast<char*>(m_data.get());
    stream.avail_in = static_cast<unsigned int>(m_size);
    stream.next_out = reinterpret_cast<char*>(out.get());
    stream.avail_out = static_cast<unsigned int>(n);
    int result = BZ_OK;
    // A call that takes nothing in and gives nothing out means the stream was cut or the output is full.
    for (;;)
    {
        const unsigned int in = stream.avail_in, room = stream.avail_out;
        result = BZ2_bzDecompress(&stream);
        if (result != BZ_OK || (stream.avail_in == in && stream.avail_out == room)) break;
    }
    BZ2_bzDecompressEnd(&stream);
    // bzip2 hands out a block only once the whole block is read, so what a cut stream or a short
    // declared size produced is sound and is kept. A corrupt block may have been handed out before its
    // checksum failed, so a data error keeps nothing.
    if (result != BZ_OK && result != BZ_STREAM_END)
    {
        Clear();
        return false;
    }
    m_data = std::move(out);
    m_size = n - stream.avail_out;
    m_position = 0;
    return result == BZ_STREAM_END;
}

void BlobStorageData::Clear()
{
    m_data.reset();
    m_size = 0;
    m_position = 0;
}
