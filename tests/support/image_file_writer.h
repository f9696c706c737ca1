#pragma once
// Builds small image files for the texture tests byte by byte: BMPs of the usual kinds and JPEG-2000
// code streams (encoded losslessly with OpenJPEG, so that decoded samples equal the written ones).
#include <cstdint>
#include <vector>

namespace ferolt::test
{
using ImageBytes = std::vector<uint8_t>;

// A BMP with a 40-byte header, 24 or 32 bits per pixel, of ARGB pixels given top-down. 32-bit rows
// carry the alpha byte as given; 24-bit rows drop it.
ImageBytes BmpFile(uint32_t width, uint32_t height, const std::vector<uint32_t>& argb, int bitsPerPixel,
                   bool bottomUp);
// An 8-bit palette BMP (bottom-up) of indices given top-down, with `colorsUsed` in its header.
ImageBytes Bmp8File(uint32_t width, uint32_t height, const std::vector<uint32_t>& palette,
                    const std::vector<uint8_t>& indices, uint32_t colorsUsed);
// A JPEG-2000 code stream of 8-bit unsigned components, one plane of width x height samples each.
ImageBytes Jpeg2000CodeStream(uint32_t width, uint32_t height,
                              const std::vector<std::vector<uint8_t>>& planes);
// The code stream with the image and tile size of its SIZ marker replaced (tiles of the image's size
// unless given).
ImageBytes WithJpeg2000Size(ImageBytes codeStream, uint32_t width, uint32_t height, uint32_t tileWidth = 0,
                            uint32_t tileHeight = 0);
// The planes of ARGB pixels: red, green, blue, and alpha when `withAlpha`.
std::vector<std::vector<uint8_t>> Planes(const std::vector<uint32_t>& argb, bool withAlpha);
} // namespace ferolt::test
