// DDS reading: the first surface's mip chain of uncompressed (bit masks, luminance, alpha) and
// DXT1 to DXT5 images. Level views point into the caller's bytes; decoding gives ARGB.
#include "platform/image/byte_reader.h"
#include "platform/image/image.h"

#include <algorithm>
#include <bit>

namespace ferolt::image
{
namespace
{
using detail::Argb;
using ferolt::ByteReader;

constexpr uint32_t FourCC(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}
constexpr uint32_t kDxt1 = FourCC('D', 'X', 'T', '1'), kDxt2 = FourCC('D', 'X', 'T', '2'),
                   kDxt3 = FourCC('D', 'X', 'T', '3'), kDxt4 = FourCC('D', 'X', 'T', '4'),
                   kDxt5 = FourCC('D', 'X', 'T', '5');
constexpr uint32_t kDdsdMipMapCount = 0x20000;
constexpr uint32_t kPfAlphaPixels = 0x1, kPfAlpha = 0x2, kPfFourCC = 0x4, kPfRgb = 0x40,
                   kPfLuminance = 0x20000;
constexpr uint32_t kCaps2Volume = 0x200000;
constexpr size_t kDataOffset = 128;

struct Masks
{
    uint32_t r, g, b, a;
};

struct Known
{
    uint32_t bits;
    Masks m;
    uint32_t d3dFormat;
};
// D3DFORMAT values of the uncompressed layouts a DDS file names by masks.
constexpr Known kKnown[] = {
    {32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 21}, {32, {0xFF0000, 0xFF00, 0xFF, 0}, 22},
    {24, {0xFF0000, 0xFF00, 0xFF, 0}, 20},          {16, {0xF800, 0x07E0, 0x001F, 0}, 23},
    {16, {0x7C00, 0x03E0, 0x001F, 0}, 24},          {16, {0x7C00, 0x03E0, 0x001F, 0x8000}, 25},
    {16, {0x0F00, 0x00F0, 0x000F, 0xF000}, 26},     {8, {0, 0, 0, 0xFF}, 28},
    {16, {0x0F00, 0x00F0, 0x000F, 0}, 30},          {32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, 32},
    {32, {0xFF, 0xFF00, 0xFF0000, 0}, 33},
};
constexpr uint32_t kD3dFmtL8 = 50, kD3dFmtA8L8 = 51;

uint32_t Field(uint32_t v, uint32_t mask, uint32_t absent)
{
    if (!mask) return absent;
    const uint32_t shift = uint32_t(std::countr_zero(mask));
    const uint64_t max = mask >> shift;
    return uint32_t((uint64_t((v & mask) >> shift) * 255 + max / 2) / max);
}

bool ValidMasks(const Masks& m, uint32_t bits)
{
    const uint64_t limit = bits == 32 ? 0xFFFFFFFFull : (1ull << bits) - 1;
    const uint32_t all[4] = {m.r, m.g, m.b, m.a};
    uint32_t seen = 0;
    for (uint32_t v : all)
    {
        if (v > limit || (seen & v)) return false;
        seen |= v;
        if (v)
        {
            const uint32_t run = v >> std::countr_zero(v);
            if ((run & (run + 1)) != 0) return false;
        }
    }
    return seen != 0;
}

Status Parse(const uint8_t* data, size_t size, DdsFile* out)
{
    ByteReader in(data, size);
    uint32_t magic = 0, headerSize = 0, flags = 0, height = 0, width = 0, mipCount = 0, pfFlags = 0,
             fourCC = 0, bits = 0, caps2 = 0;
    Masks m{};
    if (!in.U32(0, &magic) || magic != FourCC('D', 'D', 'S', ' ')) return Status::Unsupported;
    if (!in.Has(0, kDataOffset)) return Status::Corrupt;
    if (!in.U32(4, &headerSize) || !in.U32(8, &flags) || !in.U32(12, &height) || !in.U32(16, &width) ||
        !in.U32(28, &mipCount) || !in.U32(80, &pfFlags) || !in.U32(84, &fourCC) || !in.U32(88, &bits) ||
        !in.U32(92, &m.r) || !in.U32(96, &m.g) || !in.U32(100, &m.b) || !in.U32(104, &m.a) ||
        !in.U32(112, &caps2))
        return Status::Corrupt;
    if (headerSize != 124) return Status::Corrupt;
    if (caps2 & kCaps2Volume) return Status::Unsupported;
    if (Status s = CheckDimensions(width, height); s != Status::Ok) return s;

    DdsFile f;
    f.width = width;
    f.height = height;
    uint32_t blockBytes = 0;
    if (pfFlags & kPfFourCC)
    {
        if (fourCC == kDxt1)
            blockBytes = 8;
        else if (fourCC == kDxt2 || fourCC == kDxt3 || fourCC == kDxt4 || fourCC == kDxt5)
            blockBytes = 16;
        else
            return Status::Unsupported; // DX10 headers, float and other FOURCC formats
        f.format = fourCC;
        f.compressed = true;
        f.hasAlpha = true;
    }
    else if (pfFlags & (kPfRgb | kPfLuminance | kPfAlpha))
    {
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return Status::Unsupported;
        if (!(pfFlags & (kPfAlphaPixels | kPfAlpha))) m.a = 0;
        if (pfFlags & kPfAlpha) m.r = m.g = m.b = 0;
        if (!ValidMasks(m, bits)) return Status::Corrupt;
        f.bitCount = bits;
        f.redMask = m.r, f.greenMask = m.g, f.blueMask = m.b, f.alphaMask = m.a;
        f.luminance = (pfFlags & kPfLuminance) != 0;
        if (f.luminance)
            f.format = m.a ? kD3dFmtA8L8 : kD3dFmtL8;
        else
            for (const Known& k : kKnown)
                if (k.bits == bits && k.m.r == m.r && k.m.g == m.g && k.m.b == m.b && k.m.a == m.a)
                    f.format = k.d3dFormat;
        f.hasAlpha = m.a != 0;
    }
    else
    {
        return Status::Unsupported;
    }

    const uint32_t fullChain = uint32_t(std::bit_width(std::max(width, height)));
    uint32_t levels = (flags & kDdsdMipMapCount) && mipCount > 0 ? mipCount : 1;
    levels = std::min(levels, fullChain);
    size_t pos = kDataOffset;
    for (uint32_t i = 0; i < levels; ++i)
    {
        DdsLevel l;
        l.width = std::max(1u, width >> i);
        l.height = std::max(1u, height >> i);
        uint64_t rows;
        if (f.compressed)
        {
            l.pitch = ((l.width + 3) / 4) * blockBytes;
            rows = (l.height + 3) / 4;
        }
        else
        {
            l.pitch = l.width * (bits / 8);
            rows = l.height;
        }
        l.size = size_t(uint64_t(l.pitch) * rows);
        if (!in.Has(pos, l.size)) return Status::Corrupt;
        l.data = data + pos;
        pos += l.size;
        f.levels.push_back(l);
    }
    *out = std::move(f);
    return Status::Ok;
}

uint32_t Expand565(uint32_t c)
{
    const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return Argb(255, (r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2));
}

uint32_t Mix(uint32_t a, uint32_t b, uint32_t wa, uint32_t wb, uint32_t div)
{
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8)
        out |= ((((a >> shift) & 0xFF) * wa + ((b >> shift) & 0xFF) * wb) / div) << shift;
    return out;
}

// Colours of a block; DXT1 blocks with c0 <= c1 have three colours and transparent black.
void ColourBlock(const uint8_t* p, bool dxt1, uint32_t out[16])
{
    const uint32_t c0 = uint32_t(p[0] | (p[1] << 8)), c1 = uint32_t(p[2] | (p[3] << 8));
    uint32_t colours[4] = {Expand565(c0), Expand565(c1), 0, 0};
    if (c0 > c1 || !dxt1)
    {
        colours[2] = Mix(colours[0], colours[1], 2, 1, 3);
        colours[3] = Mix(colours[0], colours[1], 1, 2, 3);
    }
    else
    {
        colours[2] = Mix(colours[0], colours[1], 1, 1, 2);
        colours[3] = 0;
    }
    const uint32_t indices = uint32_t(p[4] | (p[5] << 8) | (p[6] << 16)) | (uint32_t(p[7]) << 24);
    for (int i = 0; i < 16; ++i)
        out[i] = colours[(indices >> (2 * i)) & 3];
}

void SetAlpha(uint32_t& pixel, uint32_t alpha)
{
    pixel = (pixel & 0x00FFFFFFu) | (alpha << 24);
}

void DecodeBlock(uint32_t format, const uint8_t* p, uint32_t out[16])
{
    if (format == kDxt1)
    {
        ColourBlock(p, true, out);
        return;
    }
    ColourBlock(p + 8, false, out);
    if (format == kDxt2 || format == kDxt3)
    {
        for (int i = 0; i < 16; ++i)
        {
            const uint32_t nibble = (p[i / 2] >> ((i & 1) * 4)) & 0xF;
            SetAlpha(out[i], nibble * 17);
        }
        return;
    }
    const uint32_t a0 = p[0], a1 = p[1];
    uint32_t alphas[8] = {a0, a1};
    if (a0 > a1)
        for (uint32_t i = 1; i < 7; ++i)
            alphas[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    else
    {
        for (uint32_t i = 1; i < 5; ++i)
            alphas[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        alphas[6] = 0;
        alphas[7] = 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i)
        bits |= uint64_t(p[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i)
        SetAlpha(out[i], alphas[(bits >> (3 * i)) & 7]);
}

} // namespace

Status ParseDds(const uint8_t* data, size_t size, DdsFile* out)
{
    if (!out) return Status::InvalidArgument;
    *out = DdsFile{};
    return Parse(data, size, out);
}

Status DecodeDdsLevel(const DdsFile& file, uint32_t level, Image* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    if (level >= file.levels.size()) return Status::InvalidArgument;
    const DdsLevel& l = file.levels[level];
    const Masks m{file.redMask, file.greenMask, file.blueMask, file.alphaMask};
    const uint32_t blockBytes = file.format == kDxt1 ? 8 : 16;
    // The views may come from elsewhere than ParseDds: check them against the level's size.
    const uint64_t minPitch =
        file.compressed ? uint64_t((l.width + 3) / 4) * blockBytes : uint64_t(l.width) * (file.bitCount / 8);
    const uint64_t rows = file.compressed ? (l.height + 3) / 4 : l.height;
    if (!l.data || l.pitch < minPitch || uint64_t(l.pitch) * rows > l.size) return Status::Corrupt;
    if (!file.compressed &&
        ((file.bitCount != 8 && file.bitCount != 16 && file.bitCount != 24 && file.bitCount != 32) ||
         !ValidMasks(m, file.bitCount)))
        return Status::Corrupt;
    if (file.compressed && file.format != kDxt1 && file.format != kDxt2 && file.format != kDxt3 &&
        file.format != kDxt4 && file.format != kDxt5)
        return Status::Unsupported;
    if (Status s = CheckDimensions(l.width, l.height); s != Status::Ok) return s;
    Image img;
    if (!detail::AllocatePixels(&img.pixels, l.width, l.height)) return Status::OutOfMemory;
    if (file.compressed)
    {
        for (uint32_t by = 0; by < (l.height + 3) / 4; ++by)
            for (uint32_t bx = 0; bx < (l.width + 3) / 4; ++bx)
            {
                uint32_t block[16];
                DecodeBlock(file.format, l.data + size_t(by) * l.pitch + size_t(bx) * blockBytes, block);
                for (uint32_t y = 0; y < 4 && by * 4 + y < l.height; ++y)
                    for (uint32_t x = 0; x < 4 && bx * 4 + x < l.width; ++x)
                        img.pixels[size_t(by * 4 + y) * l.width + bx * 4 + x] = block[y * 4 + x];
            }
    }
    else
    {
        const uint32_t bytes = file.bitCount / 8;
        for (uint32_t y = 0; y < l.height; ++y)
        {
            const uint8_t* row = l.data + size_t(y) * l.pitch;
            for (uint32_t x = 0; x < l.width; ++x)
            {
                uint32_t v = 0;
                for (uint32_t k = 0; k < bytes; ++k)
                    v |= uint32_t(row[size_t(x) * bytes + k]) << (8 * k);
                const uint32_t a = Field(v, m.a, 255);
                uint32_t r, g, b;
                if (file.luminance)
                    r = g = b = Field(v, m.r, 0);
                else
                    r = Field(v, m.r, 0), g = Field(v, m.g, 0), b = Field(v, m.b, 0);
                img.pixels[size_t(y) * l.width + x] = Argb(a, r, g, b);
            }
        }
    }
    img.width = l.width;
    img.height = l.height;
    img.format = Format::Dds;
    img.hasAlpha = file.hasAlpha;
    *out = std::move(img);
    return Status::Ok;
}

Status QueryDdsInfo(const uint8_t* data, size_t size, Info* out)
{
    if (!out) return Status::InvalidArgument;
    DdsFile f;
    if (Status s = Parse(data, size, &f); s != Status::Ok) return s;
    *out = Info{};
    out->format = Format::Dds;
    out->width = f.width;
    out->height = f.height;
    out->bitsPerPixel = f.compressed ? (f.format == kDxt1 ? 4 : 8) : f.bitCount;
    out->hasAlpha = f.hasAlpha;
    out->mipLevels = uint32_t(f.levels.size());
    return Status::Ok;
}

Status DecodeDds(const uint8_t* data, size_t size, Image* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    DdsFile f;
    if (Status s = ParseDds(data, size, &f); s != Status::Ok) return s;
    return DecodeDdsLevel(f, 0, out);
}
} // namespace ferolt::image
