#pragma once
// Bounds-checked little-endian reads over a byte range; every file layout of this folder goes
// through it, so an offset past the end reads as a failure instead of outside the buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferolt::image::detail
{
class ByteReader
{
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    size_t Size() const { return size_; }
    const uint8_t* Data() const { return data_; }
    bool Has(size_t offset, size_t count) const { return offset <= size_ && count <= size_ - offset; }

    bool U8(size_t offset, uint8_t* v) const
    {
        if (!Has(offset, 1)) return false;
        *v = data_[offset];
        return true;
    }
    bool U16(size_t offset, uint16_t* v) const
    {
        if (!Has(offset, 2)) return false;
        *v = uint16_t(data_[offset] | (data_[offset + 1] << 8));
        return true;
    }
    bool U32(size_t offset, uint32_t* v) const
    {
        if (!Has(offset, 4)) return false;
        *v = uint32_t(data_[offset]) | (uint32_t(data_[offset + 1]) << 8) |
             (uint32_t(data_[offset + 2]) << 16) | (uint32_t(data_[offset + 3]) << 24);
        return true;
    }
    bool I32(size_t offset, int32_t* v) const
    {
        uint32_t u;
        if (!U32(offset, &u)) return false;
        *v = int32_t(u);
        return true;
    }
    uint32_t BE32(size_t offset) const // caller checked Has(offset, 4)
    {
        return (uint32_t(data_[offset]) << 24) | (uint32_t(data_[offset + 1]) << 16) |
               (uint32_t(data_[offset + 2]) << 8) | uint32_t(data_[offset + 3]);
    }

private:
    const uint8_t* data_;
    size_t size_;
};

// Allocates the pixel buffer after the limits are checked; false when the allocation fails.
bool AllocatePixels(std::vector<uint32_t>* pixels, uint32_t width, uint32_t height);

inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

constexpr float kInchesPerMetre = 0.0254f;
} // namespace ferolt::image::detail
