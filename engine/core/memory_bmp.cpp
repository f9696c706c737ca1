#include "engine/core/memory_bmp.h"

#include <cstring>

namespace LMK
{
void PutLittleEndian(BYTE* at, DWORD value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = BYTE(value >> (8 * i));
}

void WriteMemoryBmpHeader(BYTE* file, DWORD fileSize, DWORD pixelOffset, DWORD infoHeaderSize, INT width,
                          INT height, WORD bitsPerPixel, DWORD compression, DWORD imageSize)
{
    std::memset(file, 0, kBmpFileHeaderSize + infoHeaderSize);
    file[0] = 'B';
    file[1] = 'M';
    PutLittleEndian(file + 2, fileSize, 4);
    PutLittleEndian(file + 10, pixelOffset, 4);
    PutLittleEndian(file + 14, infoHeaderSize, 4);
    PutLittleEndian(file + 18, DWORD(width), 4);
    PutLittleEndian(file + 22, DWORD(height), 4);
    PutLittleEndian(file + 26, 1, 2);
    PutLittleEndian(file + 28, bitsPerPixel, 2);
    PutLittleEndian(file + 30, compression, 4);
    PutLittleEndian(file + 34, imageSize, 4);
}
} // namespace LMK
