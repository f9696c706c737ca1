#pragma once
// The codec's byte reader: an owned buffer and a read position. Every count is checked against the
// bytes that remain before anything is read, skipped, extracted or copied.
#include "codec/codec_export.h"
#include "codec/p3d_file_format.h"
#include "platform/win32/windef.h"

#include <cstddef>
#include <memory>

class FEROLT_CODEC_API BlobStorageData
{
public:
    // Largest section content a bzip2 section may declare. bzip2 expands by up to a million to one,
    // so the compressed size gives no useful bound; this keeps a hostile size from taking memory.
    static constexpr size_t kMaxUnpackedSize = size_t{256} << 20;

    BlobStorageData() = default;
    BlobStorageData(const BlobStorageData&) = delete;
    BlobStorageData& operator=(const BlobStorageData&) = delete;
    BlobStorageData(BlobStorageData&&) noexcept = default;
    BlobStorageData& operator=(BlobStorageData&&) noexcept = default;

    bool Append(const BYTE* data, size_t n);
    bool Rewind();
    bool Read(void* destination, size_t n);
    bool Skip(size_t n);
    bool ReadHeader(P3DFileHeader& header);
    // The n bytes at the source's position become this buffer (position 0); the source advances.
    // n = 0 returns false and leaves this buffer unchanged.
    bool ExtractTo(BlobStorageData& source, size_t n);
    bool ComputeCrc32(DWORD& crc) const;
    // Replaces the buffer by the bzip2 decompression of the whole buffer, at most n bytes, and
    // rewinds; n = 0 empties the buffer. True when the stream ends within n bytes. A stream that is cut
    // short or runs past n keeps the bytes it produced and gives false; a corrupt stream, or n over
    // kMaxUnpackedSize, leaves the buffer empty and gives false. The buffer keeps the bytes actually
    // produced.
    bool DecompressBzip2(size_t n);
    void Clear();

    const BYTE* Data() const { return m_data.get(); }
    const BYTE* Current() const { return m_data ? m_data.get() + m_position : nullptr; }
    size_t Size() const { return m_size; }
    size_t Position() const { return m_position; }
    size_t Remaining() const { return m_size - m_position; }

private:
    std::unique_ptr<BYTE[]> m_data;
    size_t m_size = 0;
    size_t m_position = 0;
};
