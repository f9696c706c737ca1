#pragma once
// JPEG-2000 code streams to 32-bit ARGB bitmaps, for texture chunks that the engine's image decoding
// does not take.
#include "platform/win32/windef.h"

#include <cstddef>

namespace Gdiplus
{
class Bitmap;
}

struct P3DByteBlock
{
    const BYTE* data;
    size_t size;
};

// Largest image a code stream may ask for; the header is checked before anything is decoded, since a
// damaged one can ask for gigabytes.
constexpr unsigned kMaxJpeg2000Side = 16384;
constexpr unsigned long long kMaxJpeg2000Pixels = 4096ull * 4096ull;
constexpr unsigned long long kMaxJpeg2000Tiles = 4096;

// True with a new bitmap in *result for a code stream of 3 (opaque) or 4 components (alpha from the
// fourth), each of 8-bit unsigned samples at the image's full size, in no more than kMaxJpeg2000Tiles
// tiles. Anything else makes no bitmap.
bool DecodeJpeg2000ToBitmap(const P3DByteBlock& block, Gdiplus::Bitmap** result);
// Deletes *bitmap when set and clears it.
void ReleaseBitmapHolder(Gdiplus::Bitmap** bitmap);
