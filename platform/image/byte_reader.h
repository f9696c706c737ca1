#pragma once
// Helpers of the decoders in this folder. Their file layouts are read through ferolt::ByteReader
// (platform/bytes/byte_reader.h), which this header brings in.
#include "platform/bytes/byte_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ferolt::image::detail
{
// Allocates the pixel buffer after the limits are checked; false when the allocation fails.
bool AllocatePixels(std::vector<uint32_t>* pixels, uint32_t width, uint32_t height);

inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

constexpr float kInchesPerMetre = 0.0254f;
} // namespace ferolt::image::detail
