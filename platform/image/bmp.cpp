// BMP reading: core (12-byte) and information headers of 40 to 124 bytes; 1/4/8-bit palettes
// (uncompressed and run-length), 16/24/32-bit direct colour with default masks or bit fields.
#include "platform/image/byte_reader.h"
#include "platform/image/image.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace ferolt::image
{
namespace
{
using detail::Argb;
using ferolt::ByteReader;

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr size_t kFileHeaderSize = 14;

struct Channel
{
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t max = 0; // mask >> shift

    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (m)
        {
            shift = uint32_t(std::countr_zero(m));
            max = m >> shift;
        }
    }
    bool Contiguous() const { return mask == 0 || ((max + 1) & max) == 0; }
    uint32_t Get(uint32_t v, uint32_t absent) const
    {
        if (!mask) return absent;
        const uint64_t c = (v & mask) >> shift;
        return uint32_t((c * 255 + max / 2) / max);
    }
};

struct Header
{
    uint32_t headerSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bpp = 0;
    uint32_t compression = kBiRgb;
    Channel r, g, b, a;
    size_t paletteOffset = 0;
    uint32_t paletteEntrySize = 4;
    uint32_t paletteCount = 0;
    size_t pixelOffset = 0;
    float dpiX = 0, dpiY = 0;
};

Status ParseHeader(const ByteReader& in, Header* h)
{
    uint8_t b0 = 0, b1 = 0;
    if (!in.U8(0, &b0) || !in.U8(1, &b1) || b0 != 'B' || b1 != 'M') return Status::Unsupported;
    uint32_t offBits = 0;
    if (!in.U32(10, &offBits) || !in.U32(kFileHeaderSize, &h->headerSize)) return Status::Corrupt;
    if (!in.Has(kFileHeaderSize, h->headerSize)) return Status::Corrupt;

    int64_t height = 0;
    if (h->headerSize == 12)
    {
        uint16_t w = 0, hh = 0, planes = 0, bpp = 0;
        if (!in.U16(18, &w) || !in.U16(20, &hh) || !in.U16(22, &planes) || !in.U16(24, &bpp))
            return Status::Corrupt;
        h->width = w;
        height = hh;
        h->bpp = bpp;
        h->paletteEntrySize = 3;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) return Status::Unsupported;
    }
    else if (h->headerSize == 40 || h->headerSize == 52 || h->headerSize == 56 || h->headerSize == 64 ||
             h->headerSize == 108 || h->headerSize == 124)
    {
        int32_t w = 0, hh = 0, xppm = 0, yppm = 0;
        uint16_t bpp = 0;
        uint32_t clrUsed = 0;
        if (!in.I32(18, &w) || !in.I32(22, &hh) || !in.U16(28, &bpp) || !in.U32(30, &h->compression) ||
            !in.I32(38, &xppm) || !in.I32(42, &yppm) || !in.U32(46, &clrUsed))
            return Status::Corrupt;
        if (w <= 0 || hh == 0) return Status::Corrupt;
        h->width = uint32_t(w);
        height = hh;
        h->bpp = bpp;
        h->paletteCount = clrUsed;
        if (xppm > 0) h->dpiX = float(xppm) * detail::kInchesPerMetre;
        if (yppm > 0) h->dpiY = float(yppm) * detail::kInchesPerMetre;
    }
    else
    {
        return Status::Unsupported;
    }
    h->topDown = height < 0;
    const int64_t absHeight = height < 0 ? -height : height;
    if (Status s = CheckDimensions(h->width, uint64_t(absHeight)); s != Status::Ok) return s;
    h->height = uint32_t(absHeight);

    size_t maskBytes = 0;
    switch (h->compression)
    {
    case kBiRgb:
        if (h->bpp != 1 && h->bpp != 4 && h->bpp != 8 && h->bpp != 16 && h->bpp != 24 && h->bpp != 32)
            return Status::Unsupported;
        if (h->bpp == 16) h->r = Channel(0x7C00), h->g = Channel(0x03E0), h->b = Channel(0x001F);
        if (h->bpp == 32) h->r = Channel(0xFF0000), h->g = Channel(0xFF00), h->b = Channel(0xFF);
        break;
    case kBiRle8:
    case kBiRle4:
        if (h->bpp != (h->compression == kBiRle8 ? 8u : 4u)) return Status::Corrupt;
        if (h->topDown) return Status::Corrupt; // run-length images are bottom-up by definition
        break;
    case kBiBitfields:
    case kBiAlphaBitfields:
    {
        if (h->headerSize == 12 || h->headerSize == 64) return Status::Unsupported;
        if (h->bpp != 16 && h->bpp != 32) return Status::Unsupported;
        // Masks follow a 40-byte header, or lie inside the longer ones at the same place.
        const bool withAlpha = h->compression == kBiAlphaBitfields || h->headerSize >= 56;
        if (h->headerSize == 40) maskBytes = h->compression == kBiAlphaBitfields ? 16 : 12;
        uint32_t rm = 0, gm = 0, bm = 0, am = 0;
        if (!in.U32(54, &rm) || !in.U32(58, &gm) || !in.U32(62, &bm)) return Status::Corrupt;
        if (withAlpha && !in.U32(66, &am)) return Status::Corrupt;
        const uint64_t limit = h->bpp == 16 ? 0xFFFFull : 0xFFFFFFFFull;
        const uint32_t all[4] = {rm, gm, bm, am};
        uint32_t seen = 0;
        for (uint32_t m : all)
        {
            if (m > limit || (seen & m) != 0) return Status::Corrupt;
            seen |= m;
        }
        if ((rm | gm | bm) == 0) return Status::Corrupt;
        h->r = Channel(rm), h->g = Channel(gm), h->b = Channel(bm), h->a = Channel(am);
        if (!h->r.Contiguous() || !h->g.Contiguous() || !h->b.Contiguous() || !h->a.Contiguous())
            return Status::Corrupt;
        break;
    }
    default:
        return Status::Unsupported; // embedded JPEG/PNG and the rest
    }

    h->paletteOffset = kFileHeaderSize + h->headerSize + maskBytes;
    if (h->bpp <= 8)
    {
        // Writers leave the count 0 or name more colours than the bits address; the pixel offset
        // then says how many entries there really are.
        const uint32_t full = 1u << h->bpp;
        if (h->paletteCount == 0 || h->paletteCount > full) h->paletteCount = full;
        if (offBits >= h->paletteOffset)
            h->paletteCount = uint32_t(
                std::min<size_t>(h->paletteCount, (offBits - h->paletteOffset) / h->paletteEntrySize));
        if (!in.Has(h->paletteOffset, size_t(h->paletteCount) * h->paletteEntrySize)) return Status::Corrupt;
    }
    else
    {
        h->paletteCount = 0;
    }
    const size_t paletteEnd = h->paletteOffset + size_t(h->paletteCount) * h->paletteEntrySize;
    h->pixelOffset = offBits == 0 ? paletteEnd : offBits;
    if (h->pixelOffset < kFileHeaderSize + h->headerSize || h->pixelOffset > in.Size())
        return Status::Corrupt;
    return Status::Ok;
}

struct Palette
{
    uint32_t colours[256];
    uint32_t count;

    uint32_t operator[](uint32_t i) const { return i < count ? colours[i] : 0xFF000000u; }
};

Palette ReadPalette(const ByteReader& in, const Header& h)
{
    Palette p{};
    p.count = h.paletteCount;
    for (uint32_t i = 0; i < p.count; ++i)
    {
        // ParseHeader found the whole palette inside the file.
        std::span<const uint8_t> e;
        if (!in.Bytes(h.paletteOffset + size_t(i) * h.paletteEntrySize, 3, &e)) break;
        p.colours[i] = Argb(255, e[2], e[1], e[0]);
    }
    return p;
}

// Run-length data: pixels a run never reaches keep palette entry 0.
Status DecodeRle(const ByteReader& in, const Header& h, const Palette& pal, Image* out)
{
    const uint8_t* d = in.All().data();
    const size_t end = in.Size();
    size_t pos = h.pixelOffset;
    const bool four = h.compression == kBiRle4;
    std::fill(out->pixels.begin(), out->pixels.end(), pal[0]);
    uint32_t x = 0, y = 0; // y counts rows from the bottom
    auto put = [&](uint32_t index)
    {
        if (x < h.width && y < h.height) out->pixels[size_t(h.height - 1 - y) * h.width + x] = pal[index];
        ++x;
    };
    while (y < h.height)
    {
        if (end - pos < 2) return Status::Corrupt;
        const uint8_t count = d[pos], value = d[pos + 1];
        pos += 2;
        if (count > 0)
        {
            for (uint32_t i = 0; i < count && x < h.width; ++i)
                put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        if (value == 0) // end of line
        {
            x = 0;
            ++y;
        }
        else if (value == 1) // end of image
        {
            return Status::Ok;
        }
        else if (value == 2) // move right and up
        {
            if (end - pos < 2) return Status::Corrupt;
            x += d[pos];
            y += d[pos + 1];
            pos += 2;
        }
        else // literal run, padded to a 16-bit boundary
        {
            const size_t bytes = four ? (value + 1u) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t(1);
            if (end - pos < padded) return Status::Corrupt;
            for (uint32_t i = 0; i < value; ++i)
            {
                const uint8_t byte = d[pos + (four ? i / 2 : i)];
                put(four ? ((i & 1) ? (byte & 0x0F) : (byte >> 4)) : byte);
            }
            pos += padded;
        }
    }
    return Status::Ok;
}

Status DecodeUncompressed(const ByteReader& in, const Header& h, const Palette& pal, BmpRgb32Alpha rgb32,
                          Image* out)
{
    const uint64_t stride = ((uint64_t(h.width) * h.bpp + 31) / 32) * 4;
    const uint64_t lastRow = (uint64_t(h.width) * h.bpp + 7) / 8;
    // The last row's padding may be missing.
    std::span<const uint8_t> pixels;
    if ((h.height - 1) * stride + lastRow > in.Size() - h.pixelOffset ||
        !in.Bytes(h.pixelOffset, size_t((h.height - 1) * stride + lastRow), &pixels))
        return Status::Corrupt;
    const uint8_t* base = pixels.data();
    const bool rgb32Alpha = h.compression == kBiRgb && h.bpp == 32 && rgb32 != BmpRgb32Alpha::Ignore;
    bool anyAlpha = false;
    for (uint32_t row = 0; row < h.height; ++row)
    {
        const uint8_t* src = base + row * stride;
        uint32_t* dst = out->pixels.data() + size_t(h.topDown ? row : h.height - 1 - row) * h.width;
        switch (h.bpp)
        {
        case 1:
        case 4:
        case 8:
        {
            const uint32_t perByte = 8 / h.bpp, mask = (1u << h.bpp) - 1;
            for (uint32_t x = 0; x < h.width; ++x)
            {
                const uint32_t shift = (perByte - 1 - x % perByte) * h.bpp;
                dst[x] = pal[(src[x / perByte] >> shift) & mask];
            }
            break;
        }
        case 24:
            for (uint32_t x = 0; x < h.width; ++x)
                dst[x] = Argb(255, src[3 * x + 2], src[3 * x + 1], src[3 * x]);
            break;
        case 16:
        case 32:
        {
            const uint32_t bytes = h.bpp / 8;
            for (uint32_t x = 0; x < h.width; ++x)
            {
                const uint8_t* p = src + size_t(x) * bytes;
                const uint32_t v = bytes == 2
                                       ? uint32_t(p[0] | (p[1] << 8))
                                       : uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)) | (uint32_t(p[3]) << 24);
                const uint32_t alpha = rgb32Alpha ? (v >> 24) : h.a.Get(v, 255);
                anyAlpha |= rgb32Alpha && alpha != 0;
                dst[x] = Argb(alpha, h.r.Get(v, 0), h.g.Get(v, 0), h.b.Get(v, 0));
            }
            break;
        }
        }
    }
    if (rgb32Alpha && rgb32 == BmpRgb32Alpha::KeepUnlessAllZero && !anyAlpha)
        for (uint32_t& p : out->pixels)
            p |= 0xFF000000u;
    else if (rgb32Alpha)
        out->hasAlpha = true;
    return Status::Ok;
}
} // namespace

Status QueryBmpInfo(const uint8_t* data, size_t size, Info* out)
{
    ByteReader in(data, size);
    Header h;
    if (Status s = ParseHeader(in, &h); s != Status::Ok) return s;
    *out = Info{};
    out->format = Format::Bmp;
    out->width = h.width;
    out->height = h.height;
    out->dpiX = h.dpiX;
    out->dpiY = h.dpiY;
    out->bitsPerPixel = h.bpp;
    out->hasAlpha = h.a.mask != 0;
    return Status::Ok;
}

Status DecodeBmp(const uint8_t* data, size_t size, Image* out, const DecodeOptions& options)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    ByteReader in(data, size);
    Header h;
    if (Status s = ParseHeader(in, &h); s != Status::Ok) return s;
    Image img;
    if (!detail::AllocatePixels(&img.pixels, h.width, h.height)) return Status::OutOfMemory;
    img.width = h.width;
    img.height = h.height;
    img.dpiX = h.dpiX;
    img.dpiY = h.dpiY;
    img.format = Format::Bmp;
    img.hasAlpha = h.a.mask != 0;
    const Palette pal = ReadPalette(in, h);
    const Status s = h.compression == kBiRle8 || h.compression == kBiRle4
                         ? DecodeRle(in, h, pal, &img)
                         : DecodeUncompressed(in, h, pal, options.bmpRgb32Alpha, &img);
    if (s == Status::Ok) *out = std::move(img);
    return s;
}
} // namespace ferolt::image
