// TGA reading: colour-mapped, true-colour and grey images, uncompressed or run-length, 8 to 32 bits,
// in any of the four row/column orders. Alpha is taken only when the header declares alpha bits.
#include "platform/image/byte_reader.h"
#include "platform/image/image.h"

namespace ferolt::image
{
namespace
{
using detail::Argb;
using ferolt::ByteReader;

struct Header
{
    uint8_t type = 0; // without the run-length bit
    bool rle = false;
    uint32_t mapStart = 0, mapLength = 0, mapDepth = 0;
    uint32_t width = 0, height = 0, depth = 0;
    uint32_t alphaBits = 0;
    bool rightToLeft = false, topDown = false;
    size_t mapOffset = 0, dataOffset = 0;
};

Status ParseHeader(const ByteReader& in, Header* h)
{
    if (Sniff(in.All().data(), in.Size()) != Format::Tga) return Status::Unsupported;
    // The 18-byte header: id length, map type, image type, map start, length and depth, origin, size,
    // depth and descriptor.
    uint8_t idLength = 0, mapType = 0, type = 0, mapDepth = 0, depth = 0, descriptor = 0;
    uint16_t mapStart = 0, mapLength = 0, width = 0, height = 0;
    if (!in.U8(0, &idLength) || !in.U8(1, &mapType) || !in.U8(2, &type) || !in.U16(3, &mapStart) ||
        !in.U16(5, &mapLength) || !in.U8(7, &mapDepth) || !in.U16(12, &width) || !in.U16(14, &height) ||
        !in.U8(16, &depth) || !in.U8(17, &descriptor))
        return Status::Corrupt;
    h->type = type & 7;
    h->rle = (type & 8) != 0;
    h->mapStart = mapStart;
    h->mapLength = mapLength;
    h->mapDepth = mapDepth;
    h->width = width;
    h->height = height;
    h->depth = depth;
    h->alphaBits = descriptor & 0x0F;
    h->rightToLeft = (descriptor & 0x10) != 0;
    h->topDown = (descriptor & 0x20) != 0;
    h->mapOffset = 18 + size_t(idLength);
    const size_t mapBytes = mapType ? size_t(h->mapLength) * ((h->mapDepth + 7) / 8) : 0;
    if (!in.Has(h->mapOffset, mapBytes)) return Status::Corrupt;
    h->dataOffset = h->mapOffset + mapBytes;
    return CheckDimensions(h->width, h->height);
}

// One stored colour of `depth` bits (15/16/24/32, or grey 8/16) to ARGB.
uint32_t Colour(const uint8_t* p, uint32_t depth, bool grey, bool alpha)
{
    if (grey) return Argb(depth == 16 && alpha ? p[1] : 255, p[0], p[0], p[0]);
    switch (depth)
    {
    case 15:
    case 16:
    {
        const uint32_t v = uint32_t(p[0] | (p[1] << 8));
        const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        const uint32_t a = depth == 16 && alpha ? ((v & 0x8000) ? 255 : 0) : 255;
        return Argb(a, (r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
    }
    case 24:
        return Argb(255, p[2], p[1], p[0]);
    default:
        return Argb(alpha ? p[3] : 255, p[2], p[1], p[0]);
    }
}
} // namespace

Status QueryTgaInfo(const uint8_t* data, size_t size, Info* out)
{
    if (!out) return Status::InvalidArgument;
    ByteReader in(data, size);
    Header h;
    if (Status s = ParseHeader(in, &h); s != Status::Ok) return s;
    *out = Info{};
    out->format = Format::Tga;
    out->width = h.width;
    out->height = h.height;
    out->bitsPerPixel = h.depth;
    out->hasAlpha = h.alphaBits > 0;
    return Status::Ok;
}

Status DecodeTga(const uint8_t* data, size_t size, Image* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    ByteReader in(data, size);
    Header h;
    if (Status s = ParseHeader(in, &h); s != Status::Ok) return s;
    const bool alpha = h.alphaBits > 0;
    const uint32_t bytes = (h.depth + 7) / 8;

    // The colour map, already converted; indices outside it read as opaque black.
    std::vector<uint32_t> map;
    if (h.type == 1)
    {
        map.resize(h.mapLength);
        const uint32_t entryBytes = (h.mapDepth + 7) / 8;
        for (uint32_t i = 0; i < h.mapLength; ++i)
            map[i] = Colour(data + h.mapOffset + size_t(i) * entryBytes, h.mapDepth, false, alpha);
    }
    auto pixel = [&](const uint8_t* p) -> uint32_t
    {
        if (h.type != 1) return Colour(p, h.depth, h.type == 3, alpha);
        uint32_t index = bytes == 2 ? uint32_t(p[0] | (p[1] << 8)) : p[0];
        index -= h.mapStart; // wraps for indices below the start, then fails the range check
        return index < map.size() ? map[index] : 0xFF000000u;
    };

    Image img;
    if (!detail::AllocatePixels(&img.pixels, h.width, h.height)) return Status::OutOfMemory;
    const size_t total = size_t(h.width) * h.height;
    auto place = [&](size_t i, uint32_t colour)
    {
        const size_t x = i % h.width, y = i / h.width;
        const size_t fx = h.rightToLeft ? h.width - 1 - x : x;
        const size_t fy = h.topDown ? y : h.height - 1 - y;
        img.pixels[fy * h.width + fx] = colour;
    };
    size_t pos = h.dataOffset;
    if (!h.rle)
    {
        if (!in.Has(pos, total * bytes)) return Status::Corrupt;
        for (size_t i = 0; i < total; ++i, pos += bytes)
            place(i, pixel(data + pos));
    }
    else
    {
        // Packets may run across rows, but not past the image.
        size_t i = 0;
        while (i < total)
        {
            uint8_t head = 0;
            if (!in.U8(pos++, &head)) return Status::Corrupt;
            const size_t count = size_t(head & 0x7F) + 1;
            if (count > total - i) return Status::Corrupt;
            if (head & 0x80)
            {
                if (!in.Has(pos, bytes)) return Status::Corrupt;
                const uint32_t colour = pixel(data + pos);
                pos += bytes;
                for (size_t k = 0; k < count; ++k)
                    place(i++, colour);
            }
            else
            {
                if (!in.Has(pos, count * bytes)) return Status::Corrupt;
                for (size_t k = 0; k < count; ++k, pos += bytes)
                    place(i++, pixel(data + pos));
            }
        }
    }
    img.width = h.width;
    img.height = h.height;
    img.format = Format::Tga;
    img.hasAlpha = alpha;
    *out = std::move(img);
    return Status::Ok;
}
} // namespace ferolt::image
