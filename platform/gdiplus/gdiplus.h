#pragma once
// GDI+ as the engine uses it: start-up, bitmaps decoded from a stream (BMP, JPEG, PNG, GIF),
// bitmaps over memory, pixel locks as 32-bit ARGB, clones, and high-quality scaled drawing into
// a bitmap or a window's device context.
#include "platform/gdiplus/gdiplus_stream.h"
#include "platform/win32/windef.h"

#include <cstdint>
#include <vector>

namespace Gdiplus
{
using REAL = float;
using ARGB = DWORD;
using PixelFormat = INT;
using GraphicsState = UINT;

enum Status
{
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};

constexpr PixelFormat PixelFormatIndexed = 0x00010000;
constexpr PixelFormat PixelFormatGDI = 0x00020000;
constexpr PixelFormat PixelFormatAlpha = 0x00040000;
constexpr PixelFormat PixelFormatPAlpha = 0x00080000;
constexpr PixelFormat PixelFormatExtended = 0x00100000;
constexpr PixelFormat PixelFormatCanonical = 0x00200000;
constexpr PixelFormat PixelFormatUndefined = 0;
constexpr PixelFormat PixelFormatDontCare = 0;
constexpr PixelFormat PixelFormat24bppRGB = 8 | (24 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat32bppRGB = 9 | (32 << 8) | PixelFormatGDI;
constexpr PixelFormat PixelFormat32bppARGB =
    10 | (32 << 8) | PixelFormatAlpha | PixelFormatGDI | PixelFormatCanonical;
constexpr PixelFormat PixelFormat32bppPARGB =
    11 | (32 << 8) | PixelFormatAlpha | PixelFormatPAlpha | PixelFormatGDI;
inline UINT GetPixelFormatSize(PixelFormat f)
{
    return UINT((f >> 8) & 0xFF);
}

enum ImageLockMode
{
    ImageLockModeRead = 0x0001,
    ImageLockModeWrite = 0x0002,
    ImageLockModeUserInputBuf = 0x0004,
};

enum SmoothingMode
{
    SmoothingModeInvalid = -1,
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
};

enum InterpolationMode
{
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum PixelOffsetMode
{
    PixelOffsetModeInvalid = -1,
    PixelOffsetModeDefault = 0,
    PixelOffsetModeHighSpeed = 1,
    PixelOffsetModeHighQuality = 2,
    PixelOffsetModeNone = 3,
    PixelOffsetModeHalf = 4,
};

enum Unit
{
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

struct Rect
{
    INT X = 0, Y = 0, Width = 0, Height = 0;
    Rect() = default;
    Rect(INT x, INT y, INT w, INT h) : X(x), Y(y), Width(w), Height(h) {}
};

struct RectF
{
    REAL X = 0, Y = 0, Width = 0, Height = 0;
    RectF() = default;
    RectF(REAL x, REAL y, REAL w, REAL h) : X(x), Y(y), Width(w), Height(h) {}
};

struct BitmapData
{
    UINT Width;
    UINT Height;
    INT Stride;
    Gdiplus::PixelFormat PixelFormat;
    VOID* Scan0;
    UINT_PTR Reserved;
};

class Color
{
public:
    Color() : argb_(0xFF000000) {}
    explicit Color(ARGB argb) : argb_(argb) {}
    Color(BYTE a, BYTE r, BYTE g, BYTE b) : argb_(MakeARGB(a, r, g, b)) {}
    ARGB GetValue() const { return argb_; }
    void SetValue(ARGB argb) { argb_ = argb; }
    BYTE GetA() const { return BYTE(argb_ >> 24); }
    BYTE GetR() const { return BYTE(argb_ >> 16); }
    BYTE GetG() const { return BYTE(argb_ >> 8); }
    BYTE GetB() const { return BYTE(argb_); }
    static ARGB MakeARGB(BYTE a, BYTE r, BYTE g, BYTE b)
    {
        return (ARGB(a) << 24) | (ARGB(r) << 16) | (ARGB(g) << 8) | ARGB(b);
    }

private:
    ARGB argb_;
};

struct GdiplusStartupInput
{
    UINT GdiplusVersion = 1;
    void* DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};
struct GdiplusStartupOutput
{
    void* NotificationHook = nullptr;
    void* NotificationUnhook = nullptr;
};

// Every start-up hands out a token; objects work only while at least one is outstanding.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output);
void GdiplusShutdown(ULONG_PTR token);

class Graphics;

class Image
{
public:
    virtual ~Image();
    UINT GetWidth();
    UINT GetHeight();
    REAL GetHorizontalResolution(); // dots per inch; 0 when the file does not say
    REAL GetVerticalResolution();
    PixelFormat GetPixelFormat();
    Status GetLastStatus(); // the last failure, then Ok again

protected:
    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    Status SetStatus(Status s)
    {
        if (s != Ok) lastStatus_ = s;
        return s;
    }

    friend class Graphics;
    // Pixels: owned (ARGB, packed) or the caller's memory in `format_`.
    UINT width_ = 0;
    UINT height_ = 0;
    PixelFormat format_ = PixelFormat32bppARGB;   // how the pixels are stored
    PixelFormat reported_ = PixelFormat32bppARGB; // what GetPixelFormat says (the file's own kind)
    std::vector<uint32_t> owned_;
    BYTE* scan0_ = nullptr;
    INT stride_ = 0;
    REAL dpiX_ = 0;
    REAL dpiY_ = 0;
    Status lastStatus_ = Ok;
    bool locked_ = false;

    bool Valid() const { return scan0_ != nullptr; }
    uint32_t ReadArgb(UINT x, UINT y) const;
    void WriteArgb(UINT x, UINT y, uint32_t argb);
};

class Bitmap : public Image
{
public:
    // Decodes BMP, JPEG, PNG or GIF from the stream's current position to its end.
    explicit Bitmap(IStream* stream, BOOL useEmbeddedColorManagement = FALSE);
    // A new bitmap, every pixel 0 (transparent black).
    Bitmap(INT width, INT height, PixelFormat format = PixelFormat32bppARGB);
    // Over the caller's memory, which must outlive the bitmap (null scan0: memory of its own).
    Bitmap(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0);
    static Bitmap* FromStream(IStream* stream, BOOL useEmbeddedColorManagement = FALSE);

    Status LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* data);
    Status UnlockBits(BitmapData* data);
    Status GetPixel(INT x, INT y, Color* color);
    Status SetPixel(INT x, INT y, const Color& color);
    Bitmap* Clone(const Rect& rect, PixelFormat format);
    Bitmap* Clone(INT x, INT y, INT width, INT height, PixelFormat format);

private:
    Bitmap() = default;
    Status Init(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0);
    // The lock in progress.
    Rect lockRect_;
    UINT lockFlags_ = 0;
    PixelFormat lockFormat_ = 0;
    std::vector<uint32_t> lockBuffer_;
    BYTE* lockScan0_ = nullptr;
    INT lockStride_ = 0;
};

class Graphics
{
public:
    explicit Graphics(Image* image);
    explicit Graphics(HDC hdc);
    ~Graphics();
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;
    static Graphics* FromImage(Image* image);
    static Graphics* FromHDC(HDC hdc);

    Status SetSmoothingMode(SmoothingMode mode);
    Status SetInterpolationMode(InterpolationMode mode);
    Status SetPixelOffsetMode(PixelOffsetMode mode);
    Status SetPageUnit(Unit unit);
    SmoothingMode GetSmoothingMode() const { return smoothing_; }
    InterpolationMode GetInterpolationMode() const { return interpolation_; }
    PixelOffsetMode GetPixelOffsetMode() const { return pixelOffset_; }

    // The whole image scaled into the rectangle, blended over what is there.
    Status DrawImage(Image* image, INT x, INT y, INT width, INT height);
    Status DrawImage(Image* image, const Rect& rect);
    Status DrawImage(Image* image, REAL x, REAL y, REAL width, REAL height);
    Status DrawImage(Image* image, INT x, INT y); // at its own size
    Status Clear(const Color& color);
    Status GetLastStatus();

private:
    Status SetStatus(Status s)
    {
        if (s != Ok) lastStatus_ = s;
        return s;
    }
    Image* target_ = nullptr;
    HDC hdc_ = nullptr;
    SmoothingMode smoothing_ = SmoothingModeDefault;
    InterpolationMode interpolation_ = InterpolationModeBilinear;
    PixelOffsetMode pixelOffset_ = PixelOffsetModeDefault;
    Unit pageUnit_ = UnitDisplay;
    Status lastStatus_ = Ok;
};
} // namespace Gdiplus

namespace ferolt::gdiplus
{
// Scales `src` (ARGB, srcW x srcH, packed) to dstW x dstH: area averaging along an axis that shrinks,
// bicubic along one that grows, or nearest neighbour; colours are filtered premultiplied so that
// transparent pixels do not bleed. Shared by DrawImage and its tests.
enum class Filter
{
    Nearest,
    HighQuality,
};
std::vector<uint32_t> Resample(const uint32_t* src, uint32_t srcW, uint32_t srcH, uint32_t dstW,
                               uint32_t dstH, Filter filter);
// Source-over blend of one ARGB pixel onto another.
uint32_t BlendOver(uint32_t src, uint32_t dst);
// Whether GdiplusStartup has a token outstanding.
bool Started();
} // namespace ferolt::gdiplus
