#pragma once
// Headers of the BMP files the engine and the codec build in memory to hand pixels on to a decoder.
#include "platform/win32/windef.h"

namespace LMK
{
constexpr DWORD kBmpFileHeaderSize = 14;

// BITMAPFILEHEADER and the first 40 bytes of the info header (size `infoHeaderSize`); the rest of the
// info header is zero. A negative height marks top-down rows.
void WriteMemoryBmpHeader(BYTE* file, DWORD fileSize, DWORD pixelOffset, DWORD infoHeaderSize, INT width,
                          INT height, WORD bitsPerPixel, DWORD compression, DWORD imageSize);
// A little-endian value into a byte buffer.
void PutLittleEndian(BYTE* at, DWORD value, int bytes);
} // namespace LMK
