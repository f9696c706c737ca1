// Drawing into a bitmap: scaled image drawing blended over the target, and clearing.
#include "platform/gdiplus/graphics_target.h"
#include "platform/image/image.h"
#include "platform/win32/out_of_memory.h"

#include <cmath>
#include <new>

namespace ferolt::gdiplus
{
std::atomic<DrawToDcFn> g_drawToDc{nullptr};
} // namespace ferolt::gdiplus

namespace Gdiplus
{
using namespace ferolt::gdiplus;

Graphics::Graphics(Image* image) : target_(image)
{
    if (!image || !image->Valid()) SetStatus(InvalidParameter);
}

Graphics::~Graphics() = default;

Graphics* Graphics::FromImage(Image* image)
{
    return new (std::nothrow) Graphics(image);
}

Status Graphics::SetSmoothingMode(SmoothingMode mode)
{
    if (mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias) return SetStatus(InvalidParameter);
    smoothing_ = mode;
    return Ok;
}

Status Graphics::SetInterpolationMode(InterpolationMode mode)
{
    if (mode < InterpolationModeDefault || mode > InterpolationModeHighQualityBicubic)
        return SetStatus(InvalidParameter);
    interpolation_ = mode;
    return Ok;
}

// Sampling always takes pixel centres, which is what the high-quality offset mode asks for.
Status Graphics::SetPixelOffsetMode(PixelOffsetMode mode)
{
    if (mode < PixelOffsetModeDefault || mode > PixelOffsetModeHalf) return SetStatus(InvalidParameter);
    pixelOffset_ = mode;
    return Ok;
}

// Only pixels are drawn; other units are accepted and kept for what the caller reads back.
Status Graphics::SetPageUnit(Unit unit)
{
    if (unit < UnitWorld || unit > UnitMillimeter || unit == UnitWorld) return SetStatus(InvalidParameter);
    pageUnit_ = unit;
    return Ok;
}

Status Graphics::GetLastStatus()
{
    const Status s = lastStatus_;
    lastStatus_ = Ok;
    return s;
}

Status Graphics::DrawImage(Image* image, const Rect& rect)
{
    return DrawImage(image, rect.X, rect.Y, rect.Width, rect.Height);
}

Status Graphics::DrawImage(Image* image, REAL x, REAL y, REAL width, REAL height)
{
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height) ||
        std::fabs(x) > 1e9f || std::fabs(y) > 1e9f || std::fabs(width) > 1e9f || std::fabs(height) > 1e9f)
        return SetStatus(InvalidParameter);
    return DrawImage(image, INT(std::lround(x)), INT(std::lround(y)), INT(std::lround(width)),
                     INT(std::lround(height)));
}

Status Graphics::DrawImage(Image* image, INT x, INT y)
{
    if (!image) return SetStatus(InvalidParameter);
    return DrawImage(image, x, y, INT(image->GetWidth()), INT(image->GetHeight()));
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT width, INT height)
{
    if (!image || !image->Valid() || (!target_ && !hdc_)) return SetStatus(InvalidParameter);
    if (target_ && !target_->Valid()) return SetStatus(InvalidParameter);
    if (width <= 0 || height <= 0) return Ok; // mirrored drawing is not used
    if (ferolt::image::CheckDimensions(uint32_t(width), uint32_t(height)) != ferolt::image::Status::Ok)
        return SetStatus(OutOfMemory);
    std::vector<uint32_t> scaled;
    const bool allocated = ferolt::Allocated(
        [&]
        {
            // A copy of the source also makes drawing an image into itself safe.
            std::vector<uint32_t> src(size_t(image->width_) * image->height_);
            for (UINT sy = 0; sy < image->height_; ++sy)
                for (UINT sx = 0; sx < image->width_; ++sx)
                    src[size_t(sy) * image->width_ + sx] = image->ReadArgb(sx, sy);
            const Filter filter =
                interpolation_ == InterpolationModeNearestNeighbor ? Filter::Nearest : Filter::HighQuality;
            scaled = Resample(src.data(), image->width_, image->height_, UINT(width), UINT(height), filter);
        });
    if (!allocated) return SetStatus(OutOfMemory);
    if (hdc_)
    {
        const DrawToDcFn draw = g_drawToDc.load();
        return SetStatus(draw ? draw(hdc_, scaled.data(), width, height, x, y) : GenericError);
    }
    const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(x) + width, target_->width_);
    const int64_t y1 = std::min<int64_t>(int64_t(y) + height, target_->height_);
    for (int64_t ty = y0; ty < y1; ++ty)
        for (int64_t tx = x0; tx < x1; ++tx)
        {
            const uint32_t s = scaled[size_t(ty - y) * UINT(width) + size_t(tx - x)];
            target_->WriteArgb(UINT(tx), UINT(ty), BlendOver(s, target_->ReadArgb(UINT(tx), UINT(ty))));
        }
    return Ok;
}

Status Graphics::Clear(const Color& color)
{
    if (!target_ || !target_->Valid()) return SetStatus(hdc_ ? NotImplemented : InvalidParameter);
    for (UINT y = 0; y < target_->height_; ++y)
        for (UINT x = 0; x < target_->width_; ++x)
            target_->WriteArgb(x, y, color.GetValue());
    return Ok;
}
} // namespace Gdiplus
