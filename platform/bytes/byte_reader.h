#pragma once
// The one bounds-checked reader for every file layout the program reads. Reads are little-endian
// (the layouts are, and so is every machine we build for) and can only reach the bytes through a
// checked result: a read past the end is a refused read, never a read outside the buffer.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ferolt
{
static_assert(std::endian::native == std::endian::little, "file layouts are read in place");

// Values a reader hands out by copying: numbers, and packed records whose layout is the file's.
template <class T>
concept FileValue = std::is_trivially_copyable_v<T> && !std::is_pointer_v<T>;

// Random access over a byte range that the reader does not own.
class ByteReader
{
public:
    ByteReader() = default;
    ByteReader(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0)
    {
    }
    explicit ByteReader(std::span<const uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    // The whole range, for handing on to a library that takes a pointer and a length.
    std::span<const uint8_t> All() const { return {data_, size_}; }

    [[nodiscard]] bool Has(size_t offset, size_t count) const
    {
        return offset <= size_ && count <= size_ - offset;
    }

    template <FileValue T> [[nodiscard]] bool Read(size_t offset, T* out) const
    {
        if (!Has(offset, sizeof(T))) return false;
        std::memcpy(out, data_ + offset, sizeof(T));
        return true;
    }
    [[nodiscard]] bool U8(size_t offset, uint8_t* v) const { return Read(offset, v); }
    [[nodiscard]] bool U16(size_t offset, uint16_t* v) const { return Read(offset, v); }
    [[nodiscard]] bool U32(size_t offset, uint32_t* v) const { return Read(offset, v); }
    [[nodiscard]] bool I32(size_t offset, int32_t* v) const { return Read(offset, v); }
    [[nodiscard]] bool U64(size_t offset, uint64_t* v) const { return Read(offset, v); }
    [[nodiscard]] bool F32(size_t offset, float* v) const { return Read(offset, v); }
    [[nodiscard]] bool F64(size_t offset, double* v) const { return Read(offset, v); }
    [[nodiscard]] bool BE32(size_t offset, uint32_t* v) const
    {
        if (!Read(offset, v)) return false;
        *v = __builtin_bswap32(*v);
        return true;
    }

    // `count` bytes at `offset`, as a span or as a reader of their own.
    [[nodiscard]] bool Bytes(size_t offset, size_t count, std::span<const uint8_t>* out) const
    {
        if (!Has(offset, count)) return false;
        *out = {data_ + offset, count};
        return true;
    }
    [[nodiscard]] bool Sub(size_t offset, size_t count, ByteReader* out) const
    {
        if (!Has(offset, count)) return false;
        *out = ByteReader(data_ + offset, count);
        return true;
    }
    // Everything from `offset` to the end (empty at the end itself).
    [[nodiscard]] bool Tail(size_t offset, ByteReader* out) const
    {
        return offset <= size_ && Sub(offset, size_ - offset, out);
    }

    // A NUL-terminated string that starts at `offset` and whose terminator lies within `maxLength`
    // bytes and within the range; the view excludes the terminator.
    [[nodiscard]] bool CString(size_t offset, size_t maxLength, std::string_view* out) const
    {
        if (offset > size_) return false;
        const size_t window = std::min(maxLength, size_ - offset);
        const void* nul = std::memchr(data_ + offset, 0, window);
        if (!nul) return false;
        *out = {reinterpret_cast<const char*>(data_ + offset),
                size_t(static_cast<const uint8_t*>(nul) - (data_ + offset))};
        return true;
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Sequential reads. A read that does not fit leaves the position where it was.
class ByteCursor
{
public:
    ByteCursor() = default;
    explicit ByteCursor(ByteReader reader, size_t position = 0)
        : reader_(reader), position_(std::min(position, reader.Size()))
    {
    }
    ByteCursor(const void* data, size_t size) : ByteCursor(ByteReader(data, size)) {}

    size_t Position() const { return position_; }
    size_t Remaining() const { return reader_.Size() - position_; }
    bool AtEnd() const { return position_ == reader_.Size(); }
    const ByteReader& Reader() const { return reader_; }

    template <FileValue T> [[nodiscard]] bool Read(T* out)
    {
        if (!reader_.Read(position_, out)) return false;
        position_ += sizeof(T);
        return true;
    }
    [[nodiscard]] bool U8(uint8_t* v) { return Read(v); }
    [[nodiscard]] bool U16(uint16_t* v) { return Read(v); }
    [[nodiscard]] bool U32(uint32_t* v) { return Read(v); }
    [[nodiscard]] bool I32(int32_t* v) { return Read(v); }
    [[nodiscard]] bool F32(float* v) { return Read(v); }
    [[nodiscard]] bool F64(double* v) { return Read(v); }

    [[nodiscard]] bool Skip(size_t count)
    {
        if (count > Remaining()) return false;
        position_ += count;
        return true;
    }
    [[nodiscard]] bool Seek(size_t position)
    {
        if (position > reader_.Size()) return false;
        position_ = position;
        return true;
    }
    [[nodiscard]] bool Take(size_t count, std::span<const uint8_t>* out)
    {
        if (!reader_.Bytes(position_, count, out)) return false;
        position_ += count;
        return true;
    }
    [[nodiscard]] bool Take(size_t count, ByteReader* out)
    {
        if (!reader_.Sub(position_, count, out)) return false;
        position_ += count;
        return true;
    }
    // A NUL-terminated string within `maxLength` bytes; the terminator is consumed.
    [[nodiscard]] bool CString(size_t maxLength, std::string_view* out)
    {
        if (!reader_.CString(position_, maxLength, out)) return false;
        position_ += out->size() + 1;
        return true;
    }
    // `count` values into `out`, refused before anything is allocated when the bytes are not there
    // or the count exceeds `maxCount`.
    template <FileValue T>
    [[nodiscard]] bool ReadArray(size_t count, std::vector<T>* out,
                                 size_t maxCount = std::numeric_limits<size_t>::max())
    {
        if (count > maxCount || count > Remaining() / sizeof(T)) return false;
        out->resize(count);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
// GCC 12 with the sanitizers assumes a bound near SIZE_MAX, which the check above rules out.
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
        if (count) std::memcpy(out->data(), reader_.All().data() + position_, count * sizeof(T));
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
        position_ += count * sizeof(T);
        return true;
    }

private:
    ByteReader reader_;
    size_t position_ = 0;
};
// Bits of a byte range, taken from bit 0 to bit 7 of each byte and bytes in increasing address
// order; a value of n bits is assembled least significant bit first. The bit streams of compressed
// geometry are read this way. A read that does not fit leaves the position where it was.
class BitCursor
{
public:
    static constexpr unsigned kMaxBits = 32;

    BitCursor() = default;
    explicit BitCursor(ByteReader reader)
        : data_(reader.All().data()), bits_(std::min(reader.Size(), kMaxBytes) * 8)
    {
    }

    size_t Position() const { return position_; }
    size_t BitsLeft() const { return bits_ - position_; }

    // The next n <= 32 bits, without or with moving past them.
    [[nodiscard]] bool Peek(unsigned n, uint32_t* value) const
    {
        if (n > kMaxBits || n > BitsLeft()) return false;
        *value = static_cast<uint32_t>(Window() & ((uint64_t{1} << n) - 1));
        return true;
    }
    [[nodiscard]] bool Read(unsigned n, uint32_t* value)
    {
        if (!Peek(n, value)) return false;
        position_ += n;
        return true;
    }
    [[nodiscard]] bool Skip(size_t n)
    {
        if (n > BitsLeft()) return false;
        position_ += n;
        return true;
    }

private:
    static constexpr size_t kMaxBytes = std::numeric_limits<size_t>::max() / 8;

    // At least 57 bits from the position on; bits past the range read as zero and are never handed
    // out, since every read is checked against BitsLeft first.
    uint64_t Window() const
    {
        const size_t byte = position_ >> 3;
        const size_t bytes = bits_ >> 3;
        uint64_t window = 0;
        if (bytes - byte >= sizeof window)
            std::memcpy(&window, data_ + byte, sizeof window);
        else
            for (size_t i = byte; i < bytes; ++i)
                window |= uint64_t{data_[i]} << (8 * (i - byte));
        return window >> (position_ & 7);
    }

    const uint8_t* data_ = nullptr;
    size_t bits_ = 0;
    size_t position_ = 0;
};
} // namespace ferolt
