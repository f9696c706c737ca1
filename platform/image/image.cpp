// Limits, format sniffing and dispatch to the decoders.
#include "platform/image/image.h"
#include "platform/image/byte_reader.h"
#include "platform/win32/out_of_memory.h"

#include <cstring>
#include <new>

namespace ferolt::image
{
const char* StatusName(Status s)
{
    switch (s)
    {
    case Status::Ok:
        return "Ok";
    case Status::Unsupported:
        return "Unsupported";
    case Status::Corrupt:
        return "Corrupt";
    case Status::TooLarge:
        return "TooLarge";
    case Status::OutOfMemory:
        return "OutOfMemory";
    case Status::InvalidArgument:
        return "InvalidArgument";
    case Status::WriteFailed:
        return "WriteFailed";
    }
    return "?";
}

Status CheckDimensions(uint64_t width, uint64_t height)
{
    if (width == 0 || height == 0) return Status::Corrupt;
    if (width > kMaxSide || height > kMaxSide) return Status::TooLarge;
    if (width * height * 4 > kMaxPixelBytes) return Status::TooLarge;
    return Status::Ok;
}

namespace detail
{
bool AllocatePixels(std::vector<uint32_t>* pixels, uint32_t width, uint32_t height)
{
    return Allocated([&] { pixels->assign(size_t(width) * height, 0u); });
}
} // namespace detail

namespace
{
bool StartsWith(const uint8_t* data, size_t size, const char* sig, size_t n)
{
    return size >= n && std::memcmp(data, sig, n) == 0;
}

bool PlausibleTga(const uint8_t* d, size_t size)
{
    if (size < 18) return false;
    const uint8_t mapType = d[1], type = d[2], mapDepth = d[7], depth = d[16], descriptor = d[17];
    const uint16_t mapLength = uint16_t(d[5] | (d[6] << 8));
    const uint16_t width = uint16_t(d[12] | (d[13] << 8)), height = uint16_t(d[14] | (d[15] << 8));
    if (mapType > 1 || width == 0 || height == 0 || (descriptor & 0xC0) != 0) return false;
    switch (type & ~8)
    {
    case 1: // colour-mapped
        return mapType == 1 && mapLength > 0 && (depth == 8 || depth == 16) &&
               (mapDepth == 15 || mapDepth == 16 || mapDepth == 24 || mapDepth == 32);
    case 2: // true colour
        return depth == 15 || depth == 16 || depth == 24 || depth == 32;
    case 3: // grey
        return depth == 8 || depth == 16;
    default:
        return false;
    }
}
} // namespace

Format Sniff(const uint8_t* data, size_t size)
{
    if (!data) return Format::Unknown;
    static const char kPng[] = "\x89PNG\r\n\x1a\n";
    static const char kJp2[] = "\0\0\0\x0cjP  ";
    if (StartsWith(data, size, kPng, 8)) return Format::Png;
    if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) return Format::Jpeg;
    if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6)) return Format::Gif;
    if (StartsWith(data, size, "DDS ", 4)) return Format::Dds;
    if (StartsWith(data, size, kJp2, 8) || StartsWith(data, size, "\xFF\x4F\xFF\x51", 4))
        return Format::Jpeg2000;
    if (StartsWith(data, size, "BM", 2)) return Format::Bmp;
    if (PlausibleTga(data, size)) return Format::Tga;
    return Format::Unknown;
}

Status QueryInfo(const uint8_t* data, size_t size, Info* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Info{};
    switch (Sniff(data, size))
    {
    case Format::Bmp:
        return QueryBmpInfo(data, size, out);
    case Format::Jpeg:
        return QueryJpegInfo(data, size, out);
    case Format::Png:
        return QueryPngInfo(data, size, out);
    case Format::Gif:
        return QueryGifInfo(data, size, out);
    case Format::Tga:
        return QueryTgaInfo(data, size, out);
    case Format::Dds:
        return QueryDdsInfo(data, size, out);
    case Format::Jpeg2000:
    case Format::Unknown:
        break;
    }
    return Status::Unsupported;
}

Status Decode(const uint8_t* data, size_t size, Image* out, const DecodeOptions& options)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    switch (Sniff(data, size))
    {
    case Format::Bmp:
        return DecodeBmp(data, size, out, options);
    case Format::Jpeg:
        return DecodeJpeg(data, size, out);
    case Format::Png:
        return DecodePng(data, size, out);
    case Format::Gif:
        return DecodeGif(data, size, out);
    case Format::Tga:
        return DecodeTga(data, size, out);
    case Format::Dds:
        return DecodeDds(data, size, out);
    case Format::Jpeg2000:
    case Format::Unknown:
        break;
    }
    return Status::Unsupported;
}
} // namespace ferolt::image
