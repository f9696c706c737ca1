// Start-up, images decoded from streams, bitmaps over memory and their pixel locks.
#include "platform/gdiplus/gdiplus.h"
#include "platform/image/image.h"
#include "platform/win32/out_of_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

namespace ferolt::gdiplus
{
namespace
{
std::mutex g_tokensLock;
std::set<ULONG_PTR> g_tokens;
ULONG_PTR g_nextToken = 1;

// No image within the decoders' limits comes from a larger stream.
constexpr size_t kMaxStreamBytes = 512u << 20;

bool Supported(Gdiplus::PixelFormat f)
{
    return f == Gdiplus::PixelFormat32bppARGB || f == Gdiplus::PixelFormat32bppPARGB ||
           f == Gdiplus::PixelFormat32bppRGB || f == Gdiplus::PixelFormat24bppRGB;
}

uint32_t Decode(const BYTE* p, Gdiplus::PixelFormat f)
{
    switch (f)
    {
    case Gdiplus::PixelFormat24bppRGB:
        return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    case Gdiplus::PixelFormat32bppRGB:
        return 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    case Gdiplus::PixelFormat32bppPARGB:
    {
        const uint32_t a = p[3];
        if (a == 0) return 0;
        auto un = [&](uint32_t c) { return std::min(255u, (c * 255 + a / 2) / a); };
        return (a << 24) | (un(p[2]) << 16) | (un(p[1]) << 8) | un(p[0]);
    }
    default:
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
}

void Encode(BYTE* p, Gdiplus::PixelFormat f, uint32_t argb)
{
    const uint32_t a = argb >> 24;
    p[0] = BYTE(argb), p[1] = BYTE(argb >> 8), p[2] = BYTE(argb >> 16);
    switch (f)
    {
    case Gdiplus::PixelFormat24bppRGB:
        break;
    case Gdiplus::PixelFormat32bppRGB:
        p[3] = 0xFF;
        break;
    case Gdiplus::PixelFormat32bppPARGB:
        for (int i = 0; i < 3; ++i)
            p[i] = BYTE((p[i] * a + 127) / 255);
        p[3] = BYTE(a);
        break;
    default:
        p[3] = BYTE(a);
        break;
    }
}

INT PackedStride(UINT width, Gdiplus::PixelFormat f)
{
    return INT(((uint64_t(width) * Gdiplus::GetPixelFormatSize(f) / 8) + 3) & ~uint64_t(3));
}

// Reads the stream from its position to its end.
bool ReadAll(IStream* stream, std::vector<uint8_t>* out)
{
    constexpr ULONG kChunk = 1u << 16;
    for (;;)
    {
        const size_t at = out->size();
        if (at >= kMaxStreamBytes) return false;
        out->resize(at + kChunk);
        ULONG got = 0;
        const HRESULT hr = stream->Read(out->data() + at, kChunk, &got);
        out->resize(at + std::min<ULONG>(got, kChunk));
        if (FAILED(hr)) return false;
        if (got == 0) return true;
    }
}
} // namespace

bool Started()
{
    std::lock_guard<std::mutex> lock(g_tokensLock);
    return !g_tokens.empty();
}
} // namespace ferolt::gdiplus

namespace Gdiplus
{
using namespace ferolt::gdiplus;

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output)
{
    if (!token || !input) return InvalidParameter;
    if (input->GdiplusVersion != 1) return UnsupportedGdiplusVersion;
    if (input->SuppressBackgroundThread && !output) return InvalidParameter;
    if (output) *output = GdiplusStartupOutput{};
    std::lock_guard<std::mutex> lock(g_tokensLock);
    *token = g_nextToken++;
    g_tokens.insert(*token);
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token)
{
    std::lock_guard<std::mutex> lock(g_tokensLock);
    g_tokens.erase(token);
}

// ---- Image ----

Image::~Image() = default;
UINT Image::GetWidth()
{
    return width_;
}
UINT Image::GetHeight()
{
    return height_;
}
REAL Image::GetHorizontalResolution()
{
    return dpiX_;
}
REAL Image::GetVerticalResolution()
{
    return dpiY_;
}
PixelFormat Image::GetPixelFormat()
{
    return Valid() ? reported_ : PixelFormatUndefined;
}

Status Image::GetLastStatus()
{
    const Status s = lastStatus_;
    lastStatus_ = Ok;
    return s;
}

uint32_t Image::ReadArgb(UINT x, UINT y) const
{
    const BYTE* row = scan0_ + ptrdiff_t(y) * stride_;
    return Decode(row + size_t(x) * (GetPixelFormatSize(format_) / 8), format_);
}

void Image::WriteArgb(UINT x, UINT y, uint32_t argb)
{
    BYTE* row = scan0_ + ptrdiff_t(y) * stride_;
    Encode(row + size_t(x) * (GetPixelFormatSize(format_) / 8), format_, argb);
}

// ---- Bitmap ----

Status Bitmap::Init(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0)
{
    if (width <= 0 || height <= 0 || !Supported(format)) return SetStatus(InvalidParameter);
    if (ferolt::image::CheckDimensions(uint32_t(width), uint32_t(height)) != ferolt::image::Status::Ok)
        return SetStatus(OutOfMemory);
    if (scan0)
    {
        // Rows may run upwards (negative stride); each must hold the row and keep 4-byte alignment.
        const int64_t need = int64_t(width) * (GetPixelFormatSize(format) / 8);
        if (stride % 4 != 0 || std::llabs(int64_t(stride)) < need) return SetStatus(InvalidParameter);
        scan0_ = scan0;
        stride_ = stride;
    }
    else
    {
        const INT packed = PackedStride(UINT(width), format);
        if (!ferolt::Allocated([&] { owned_.assign((size_t(packed) * UINT(height) + 3) / 4, 0u); }))
            return SetStatus(OutOfMemory);
        scan0_ = reinterpret_cast<BYTE*>(owned_.data());
        stride_ = packed;
    }
    width_ = UINT(width);
    height_ = UINT(height);
    format_ = reported_ = format;
    return Ok;
}

Bitmap::Bitmap(INT width, INT height, PixelFormat format)
{
    Init(width, height, 0, format, nullptr);
}

Bitmap::Bitmap(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0)
{
    Init(width, height, stride, format, scan0);
}

Bitmap::Bitmap(IStream* stream, BOOL)
{
    if (!stream)
    {
        SetStatus(InvalidParameter);
        return;
    }
    std::vector<uint8_t> bytes;
    bool read = false;
    if (!ferolt::Allocated([&] { read = ReadAll(stream, &bytes); }))
    {
        SetStatus(OutOfMemory);
        return;
    }
    if (!read)
    {
        SetStatus(bytes.size() >= kMaxStreamBytes ? OutOfMemory : Win32Error);
        return;
    }
    namespace img = ferolt::image;
    const img::Format kind = img::Sniff(bytes.data(), bytes.size());
    if (kind != img::Format::Bmp && kind != img::Format::Jpeg && kind != img::Format::Png &&
        kind != img::Format::Gif)
    {
        SetStatus(UnknownImageFormat);
        return;
    }
    img::Image decoded;
    // 32-bit BMP rows whose fourth byte is used carry alpha (the engine hands decoded JPEG-2000
    // images on that way); rows that leave it blank stay opaque.
    const img::DecodeOptions options{img::BmpRgb32Alpha::KeepUnlessAllZero};
    switch (img::Decode(bytes.data(), bytes.size(), &decoded, options))
    {
    case img::Status::Ok:
        break;
    case img::Status::TooLarge:
    case img::Status::OutOfMemory:
        SetStatus(OutOfMemory);
        return;
    case img::Status::Unsupported:
        SetStatus(UnknownImageFormat);
        return;
    default:
        SetStatus(InvalidParameter);
        return;
    }
    owned_ = std::move(decoded.pixels);
    width_ = decoded.width;
    height_ = decoded.height;
    scan0_ = reinterpret_cast<BYTE*>(owned_.data());
    stride_ = INT(width_ * 4);
    format_ = PixelFormat32bppARGB;
    reported_ = decoded.hasAlpha ? PixelFormat32bppARGB : PixelFormat24bppRGB;
    dpiX_ = decoded.dpiX;
    dpiY_ = decoded.dpiY;
}

Bitmap* Bitmap::FromStream(IStream* stream, BOOL useEmbeddedColorManagement)
{
    return new (std::nothrow) Bitmap(stream, useEmbeddedColorManagement);
}

Status Bitmap::LockBits(const Rect* rect, UINT flags, PixelFormat format, BitmapData* data)
{
    if (!Valid() || !data) return SetStatus(InvalidParameter);
    if (locked_) return SetStatus(WrongState);
    const Rect r = rect ? *rect : Rect(0, 0, INT(width_), INT(height_));
    if (r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 || int64_t(r.X) + r.Width > int64_t(width_) ||
        int64_t(r.Y) + r.Height > int64_t(height_))
        return SetStatus(InvalidParameter);
    if (!(flags & (ImageLockModeRead | ImageLockModeWrite)) || !Supported(format))
        return SetStatus(InvalidParameter);
    const UINT bytes = GetPixelFormatSize(format) / 8;
    BYTE* scan0 = nullptr;
    INT stride = 0;
    lockBuffer_.clear();
    if (flags & ImageLockModeUserInputBuf)
    {
        if (!data->Scan0 || std::llabs(int64_t(data->Stride)) < int64_t(r.Width) * bytes)
            return SetStatus(InvalidParameter);
        scan0 = static_cast<BYTE*>(data->Scan0);
        stride = data->Stride;
    }
    else if (format == format_)
    {
        scan0 = scan0_ + ptrdiff_t(r.Y) * stride_ + size_t(r.X) * bytes;
        stride = stride_;
    }
    else
    {
        stride = PackedStride(UINT(r.Width), format);
        if (!ferolt::Allocated([&] { lockBuffer_.assign((size_t(stride) * UINT(r.Height) + 3) / 4, 0u); }))
            return SetStatus(OutOfMemory);
        scan0 = reinterpret_cast<BYTE*>(lockBuffer_.data());
    }
    const bool direct = !(flags & ImageLockModeUserInputBuf) && format == format_;
    if ((flags & ImageLockModeRead) && !direct)
        for (INT y = 0; y < r.Height; ++y)
            for (INT x = 0; x < r.Width; ++x)
                Encode(scan0 + ptrdiff_t(y) * stride + size_t(x) * bytes, format,
                       ReadArgb(UINT(r.X + x), UINT(r.Y + y)));
    lockRect_ = r;
    lockFlags_ = flags;
    lockFormat_ = format;
    lockScan0_ = scan0;
    lockStride_ = stride;
    locked_ = true;
    data->Width = UINT(r.Width);
    data->Height = UINT(r.Height);
    data->Stride = stride;
    data->PixelFormat = format;
    data->Scan0 = scan0;
    data->Reserved = 0;
    return Ok;
}

Status Bitmap::UnlockBits(BitmapData* data)
{
    if (!data) return SetStatus(InvalidParameter);
    if (!locked_) return SetStatus(WrongState);
    const bool direct = !(lockFlags_ & ImageLockModeUserInputBuf) && lockFormat_ == format_;
    if ((lockFlags_ & ImageLockModeWrite) && !direct)
    {
        const UINT bytes = GetPixelFormatSize(lockFormat_) / 8;
        for (INT y = 0; y < lockRect_.Height; ++y)
            for (INT x = 0; x < lockRect_.Width; ++x)
                WriteArgb(UINT(lockRect_.X + x), UINT(lockRect_.Y + y),
                          Decode(lockScan0_ + ptrdiff_t(y) * lockStride_ + size_t(x) * bytes, lockFormat_));
    }
    lockBuffer_.clear();
    lockBuffer_.shrink_to_fit();
    locked_ = false;
    return Ok;
}

Status Bitmap::GetPixel(INT x, INT y, Color* color)
{
    if (!Valid() || !color || x < 0 || y < 0 || UINT(x) >= width_ || UINT(y) >= height_)
        return SetStatus(InvalidParameter);
    color->SetValue(ReadArgb(UINT(x), UINT(y)));
    return Ok;
}

Status Bitmap::SetPixel(INT x, INT y, const Color& color)
{
    if (!Valid() || x < 0 || y < 0 || UINT(x) >= width_ || UINT(y) >= height_)
        return SetStatus(InvalidParameter);
    if (locked_) return SetStatus(WrongState);
    WriteArgb(UINT(x), UINT(y), color.GetValue());
    return Ok;
}

Bitmap* Bitmap::Clone(const Rect& r, PixelFormat format)
{
    if (!Valid() || r.X < 0 || r.Y < 0 || r.Width <= 0 || r.Height <= 0 ||
        int64_t(r.X) + r.Width > int64_t(width_) || int64_t(r.Y) + r.Height > int64_t(height_))
    {
        SetStatus(InvalidParameter);
        return nullptr;
    }
    if (format == PixelFormatDontCare) format = format_;
    Bitmap* copy = new (std::nothrow) Bitmap();
    if (!copy)
    {
        SetStatus(OutOfMemory);
        return nullptr;
    }
    if (const Status s = copy->Init(r.Width, r.Height, 0, format, nullptr); s != Ok)
    {
        delete copy;
        SetStatus(s);
        return nullptr;
    }
    for (INT y = 0; y < r.Height; ++y)
        for (INT x = 0; x < r.Width; ++x)
            copy->WriteArgb(UINT(x), UINT(y), ReadArgb(UINT(r.X + x), UINT(r.Y + y)));
    copy->dpiX_ = dpiX_;
    copy->dpiY_ = dpiY_;
    return copy;
}

Bitmap* Bitmap::Clone(INT x, INT y, INT width, INT height, PixelFormat format)
{
    return Clone(Rect(x, y, width, height), format);
}
} // namespace Gdiplus
