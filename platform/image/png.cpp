// PNG reading over libpng: palettes, grey, key colours and alpha expanded to 8-bit BGRA, 16-bit
// samples reduced by scaling. Samples keep the file's own encoding (no gamma conversion), as
// 8-bit files do. libpng reports errors with a longjmp; the reading function keeps no objects
// with destructors across it.
#include "platform/image/byte_reader.h"
#include "platform/image/image.h"

#include <cstring>

#include <png.h>

namespace ferolt::image
{
namespace
{
struct Source
{
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void ReadSource(png_structp png, png_bytep out, size_t count)
{
    auto* src = static_cast<Source*>(png_get_io_ptr(png));
    if (count > src->size - src->pos) png_error(png, "truncated");
    std::memcpy(out, src->data + src->pos, count);
    src->pos += count;
}

[[noreturn]] void OnError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// Plain data only: everything here survives a longjmp.
struct Job
{
    Source src;
    bool headerOnly;
    Info info;
    Image* image;
    Status status;
};

void Run(Job* job)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (!png)
    {
        job->status = Status::OutOfMemory;
        return;
    }
    png_infop info = png_create_info_struct(png);
    if (!info)
    {
        png_destroy_read_struct(&png, nullptr, nullptr);
        job->status = Status::OutOfMemory;
        return;
    }
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_read_struct(&png, &info, nullptr);
        if (job->status == Status::Ok) job->status = Status::Corrupt;
        return;
    }
    job->status = Status::Ok;
    png_set_read_fn(png, &job->src, ReadSource);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    const bool keyed = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    job->info.format = Format::Png;
    job->info.width = width;
    job->info.height = height;
    job->info.hasAlpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || keyed;
    job->info.bitsPerPixel = uint32_t(depth) * png_get_channels(png, info);
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER)
    {
        job->info.dpiX = float(resX) * detail::kInchesPerMetre;
        job->info.dpiY = float(resY) * detail::kInchesPerMetre;
    }
    job->status = CheckDimensions(width, height);
    if (job->status != Status::Ok || job->headerOnly)
    {
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }

    png_set_expand(png); // palette to RGB, low-bit grey to 8 bits, tRNS to alpha
    png_set_scale_16(png);
    if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!(colour & PNG_COLOR_MASK_ALPHA) && !keyed) png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4)
    {
        job->status = Status::Unsupported;
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    Image* img = job->image;
    if (!detail::AllocatePixels(&img->pixels, width, height))
    {
        job->status = Status::OutOfMemory;
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    img->width = width;
    img->height = height;
    // Interlaced images need every row at once; rows are read in place into the pixel buffer.
    const int passes = interlace == PNG_INTERLACE_NONE ? 1 : PNG_INTERLACE_ADAM7_PASSES;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, reinterpret_cast<png_bytep>(img->pixels.data() + size_t(y) * width), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
}
} // namespace

Status QueryPngInfo(const uint8_t* data, size_t size, Info* out)
{
    if (!out) return Status::InvalidArgument;
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return Status::Unsupported;
    Job job{{data, size, 0}, true, Info{}, nullptr, Status::Ok};
    Run(&job);
    if (job.status == Status::Ok) *out = job.info;
    return job.status;
}

Status DecodePng(const uint8_t* data, size_t size, Image* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return Status::Unsupported;
    Image img;
    Job job{{data, size, 0}, false, Info{}, &img, Status::Ok};
    Run(&job);
    if (job.status != Status::Ok) return job.status;
    img.format = Format::Png;
    img.dpiX = job.info.dpiX;
    img.dpiY = job.info.dpiY;
    img.hasAlpha = job.info.hasAlpha;
    *out = std::move(img);
    return Status::Ok;
}
} // namespace ferolt::image
