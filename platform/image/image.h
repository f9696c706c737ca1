#pragma once
// Image files in memory to 32-bit ARGB pixels, shared by GDI+ and D3DX.
//
// A pixel is a uint32_t 0xAARRGGBB, so its bytes lie B, G, R, A in memory. Rows are top-down and
// packed (width pixels per row). Every decoder checks each size and offset against the bytes it was
// given and refuses images above the limits below before allocating.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ferolt::image
{
static_assert(std::endian::native == std::endian::little, "pixels are stored B, G, R, A");

enum class Format
{
    Unknown,
    Bmp,
    Jpeg,
    Png,
    Gif,
    Tga,
    Dds,
    Jpeg2000, // recognised so callers can tell it apart; never decoded here
};

enum class Status
{
    Ok,
    Unsupported, // not a format (or a variant of one) this layer reads
    Corrupt,     // sizes, offsets or data that do not fit together, or truncated data
    TooLarge,    // declared size above the limits below
    OutOfMemory,
    InvalidArgument, // null data or pixels, zero sizes handed to an encoder
    WriteFailed,
};

const char* StatusName(Status s);

// Limits checked before any pixel buffer is allocated.
constexpr uint32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixelBytes = 256ull << 20;

// Ok when a width x height image of 32-bit pixels is within the limits (zero sides are Corrupt).
Status CheckDimensions(uint64_t width, uint64_t height);

struct Info
{
    Format format = Format::Unknown;
    uint32_t width = 0;
    uint32_t height = 0;
    float dpiX = 0; // 0 when the file does not say
    float dpiY = 0;
    uint32_t bitsPerPixel = 0; // as stored in the file (per pixel, all channels)
    bool hasAlpha = false;     // the file carries transparency (alpha channel, mask or key colour)
    uint32_t mipLevels = 1;    // DDS only; 1 elsewhere
};

struct Image
{
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels; // width * height, top-down
    float dpiX = 0;
    float dpiY = 0;
    Format format = Format::Unknown;
    bool hasAlpha = false;

    uint32_t At(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

// What to make of the fourth byte of 32-bit uncompressed BMP rows, which the format calls unused.
enum class BmpRgb32Alpha
{
    Ignore,           // opaque, as the format defines
    Keep,             // take it as alpha
    KeepUnlessAllZero // take it as alpha unless every pixel has 0 there (writers that leave it blank)
};

struct DecodeOptions
{
    BmpRgb32Alpha bmpRgb32Alpha = BmpRgb32Alpha::Ignore;
};

// Format by signature (TGA, which has none, by a plausible header). Never reads past size.
Format Sniff(const uint8_t* data, size_t size);

// Size, format and resolution from the header, without decoding the pixels.
Status QueryInfo(const uint8_t* data, size_t size, Info* out);

// Decodes any format Sniff knows except JPEG-2000 (Unsupported). On failure *out is left empty.
Status Decode(const uint8_t* data, size_t size, Image* out, const DecodeOptions& options = {});

Status DecodeBmp(const uint8_t* data, size_t size, Image* out, const DecodeOptions& options = {});
Status DecodeJpeg(const uint8_t* data, size_t size, Image* out);
Status DecodePng(const uint8_t* data, size_t size, Image* out);
Status DecodeGif(const uint8_t* data, size_t size, Image* out);
Status DecodeTga(const uint8_t* data, size_t size, Image* out);
Status DecodeDds(const uint8_t* data, size_t size, Image* out); // top mip level

Status QueryBmpInfo(const uint8_t* data, size_t size, Info* out);
Status QueryJpegInfo(const uint8_t* data, size_t size, Info* out);
Status QueryPngInfo(const uint8_t* data, size_t size, Info* out);
Status QueryGifInfo(const uint8_t* data, size_t size, Info* out);
Status QueryTgaInfo(const uint8_t* data, size_t size, Info* out);
Status QueryDdsInfo(const uint8_t* data, size_t size, Info* out);

// DDS surfaces as stored, so a texture loader can take every mip level, and upload compressed
// levels directly when the device holds the format.
struct DdsLevel
{
    uint32_t width = 0;
    uint32_t height = 0;
    const uint8_t* data = nullptr; // inside the bytes handed to ParseDds
    size_t size = 0;
    uint32_t pitch = 0; // bytes per row, or per row of 4x4 blocks when compressed
};

struct DdsFile
{
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0; // D3DFORMAT value: 21 A8R8G8B8, 23 R5G6B5, or the FOURCC 'DXT1'...
    bool compressed = false;
    bool hasAlpha = false;
    uint32_t bitCount = 0; // uncompressed: bits per pixel
    uint32_t redMask = 0;  // uncompressed: where each channel lies (luminance in redMask)
    uint32_t greenMask = 0;
    uint32_t blueMask = 0;
    uint32_t alphaMask = 0;
    bool luminance = false;
    std::vector<DdsLevel> levels; // the first surface's mip chain (first face of a cube map)
};

Status ParseDds(const uint8_t* data, size_t size, DdsFile* out);
Status DecodeDdsLevel(const DdsFile& file, uint32_t level, Image* out);

// 24-bit BMP with a 40-byte header and top-down rows (negative height). Pixels are 0xAARRGGBB
// values, `stride` pixels apart from row to row; alpha is dropped.
Status EncodeBmp24(const uint32_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                   std::vector<uint8_t>* out);
// The header of such a file, for writers that emit rows one at a time (row size RowBytesBmp24).
std::vector<uint8_t> Bmp24Header(uint32_t width, uint32_t height);
uint32_t RowBytesBmp24(uint32_t width);

// Progressive JPEG with the float DCT, written a row at a time to a FILE or to memory.
// Quality 0..100 (0 is taken as 1, above 100 as 100). Rows are 0xAARRGGBB pixels; alpha is dropped.
class JpegWriter
{
public:
    JpegWriter();
    ~JpegWriter();
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

    Status Start(FILE* file, uint32_t width, uint32_t height, int quality);
    Status StartMemory(uint32_t width, uint32_t height, int quality);
    Status WriteRow(const uint32_t* pixels);
    // Ends the file; for memory output the bytes are then in Bytes().
    Status Finish();
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    struct State;
    Status Begin(FILE* file, uint32_t width, uint32_t height, int quality);
    State* state_ = nullptr;
    std::vector<uint8_t> bytes_;
};

Status EncodeJpeg(const uint32_t* pixels, uint32_t width, uint32_t height, uint32_t stride, int quality,
                  std::vector<uint8_t>* out);
} // namespace ferolt::image
