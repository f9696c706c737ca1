// 24-bit BMP writing, the form saved images take: 40-byte header, top-down rows.
#include "platform/image/image.h"
#include "platform/win32/out_of_memory.h"

#include <new>

namespace ferolt::image
{
namespace
{
void Put16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
} // namespace

uint32_t RowBytesBmp24(uint32_t width)
{
    return uint32_t((uint64_t(width) * 3 + 3) & ~uint64_t(3));
}

std::vector<uint8_t> Bmp24Header(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> h(54, 0);
    h[0] = 'B';
    h[1] = 'M';
    Put32(&h[2], uint32_t(uint64_t(RowBytesBmp24(width)) * height + 54));
    Put32(&h[10], 54);
    Put32(&h[14], 40);
    Put32(&h[18], width);
    Put32(&h[22], uint32_t(-int64_t(height)));
    Put16(&h[26], 1);
    Put16(&h[28], 24);
    return h;
}

Status EncodeBmp24(const uint32_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                   std::vector<uint8_t>* out)
{
    if (!pixels || !out || width == 0 || height == 0 || stride < width) return Status::InvalidArgument;
    if (Status s = CheckDimensions(width, height); s != Status::Ok) return s;
    const uint32_t rowBytes = RowBytesBmp24(width);
    if (!Allocated(
            [&]
            {
                *out = Bmp24Header(width, height);
                out->resize(54 + size_t(rowBytes) * height, 0);
            }))
    {
        out->clear();
        return Status::OutOfMemory;
    }
    for (uint32_t y = 0; y < height; ++y)
    {
        const uint32_t* src = pixels + size_t(y) * stride;
        uint8_t* dst = out->data() + 54 + size_t(y) * rowBytes;
        for (uint32_t x = 0; x < width; ++x)
        {
            dst[3 * x] = uint8_t(src[x]);
            dst[3 * x + 1] = uint8_t(src[x] >> 8);
            dst[3 * x + 2] = uint8_t(src[x] >> 16);
        }
    }
    return Status::Ok;
}
} // namespace ferolt::image
