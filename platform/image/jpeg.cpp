// JPEG reading and writing over libjpeg. libjpeg reports fatal errors through a longjmp, so the
// functions that call it keep no objects with destructors between setjmp and the calls.
#include "platform/image/byte_reader.h"
#include "platform/image/image.h"
#include "platform/win32/out_of_memory.h"

#include <csetjmp>
#include <cstdlib>
#include <new>

#include <jpeglib.h>

namespace ferolt::image
{
namespace
{
// Progressive files may hold any number of scans; each costs a pass over the coefficients, so a
// hostile file with thousands of tiny scans would take minutes.
constexpr int kMaxScans = 256;
// Progressive decoding keeps every coefficient of the image; this bounds it with the pixel limit.
constexpr long kMaxDecoderMemory = 768l << 20;

struct ErrorManager
{
    jpeg_error_mgr pub;
    jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr c)
{
    longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}
void OnOutput(j_common_ptr) {} // warnings are not printed

void OnProgress(j_common_ptr c)
{
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans)
        longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}

void InitErrors(ErrorManager* err)
{
    jpeg_std_error(&err->pub);
    err->pub.error_exit = OnError;
    err->pub.output_message = OnOutput;
}

float Density(const jpeg_decompress_struct& c, UINT16 value)
{
    if (!c.saw_JFIF_marker || value == 0) return 0;
    if (c.density_unit == 1) return float(value);
    if (c.density_unit == 2) return float(value) * 2.54f;
    return 0;
}

// Plain data only: everything here survives a longjmp.
struct DecodeJob
{
    const uint8_t* data;
    size_t size;
    bool headerOnly;
    Info info;
    Image* image; // pixels are sized here once the header is read
    Status status;
};

void CmykToArgb(const JSAMPLE* src, uint32_t* dst, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, src += 4)
    {
        uint32_t c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        dst[x] = detail::Argb(255, (c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
    }
}

void RunDecode(DecodeJob* job)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    InitErrors(&err);
    cinfo.err = &err.pub;
    if (setjmp(err.jump))
    {
        jpeg_destroy_decompress(&cinfo);
        if (job->status == Status::Ok) job->status = Status::Corrupt;
        return;
    }
    job->status = Status::Ok;
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    progress.progress_monitor = OnProgress;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(&cinfo, TRUE);

    job->info.format = Format::Jpeg;
    job->info.width = cinfo.image_width;
    job->info.height = cinfo.image_height;
    job->info.dpiX = Density(cinfo, cinfo.X_density);
    job->info.dpiY = Density(cinfo, cinfo.Y_density);
    job->info.bitsPerPixel = uint32_t(cinfo.num_components) * 8;
    job->status = CheckDimensions(cinfo.image_width, cinfo.image_height);
    if (job->status != Status::Ok || job->headerOnly)
    {
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    cinfo.dct_method = JDCT_ISLOW;
    Image* img = job->image;
    if (!detail::AllocatePixels(&img->pixels, cinfo.image_width, cinfo.image_height))
    {
        job->status = Status::OutOfMemory;
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    img->width = cinfo.image_width;
    img->height = cinfo.image_height;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != img->width || cinfo.output_height != img->height ||
        cinfo.output_components != 4)
    {
        job->status = Status::Unsupported;
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    JSAMPARRAY cmykRow = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                           JPOOL_IMAGE, img->width * 4, 1)
                              : nullptr;
    while (cinfo.output_scanline < cinfo.output_height)
    {
        uint32_t* dst = img->pixels.data() + size_t(cinfo.output_scanline) * img->width;
        if (cmyk)
        {
            jpeg_read_scanlines(&cinfo, cmykRow, 1);
            CmykToArgb(cmykRow[0], dst, img->width, cinfo.saw_Adobe_marker);
        }
        else
        {
            JSAMPROW row = reinterpret_cast<JSAMPROW>(dst);
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}
} // namespace

Status QueryJpegInfo(const uint8_t* data, size_t size, Info* out)
{
    if (!data || !out || size == 0) return Status::InvalidArgument;
    DecodeJob job{data, size, true, Info{}, nullptr, Status::Ok};
    RunDecode(&job);
    if (job.status == Status::Ok) *out = job.info;
    return job.status;
}

Status DecodeJpeg(const uint8_t* data, size_t size, Image* out)
{
    if (!out) return Status::InvalidArgument;
    *out = Image{};
    if (!data || size == 0) return Status::InvalidArgument;
    Image img;
    DecodeJob job{data, size, false, Info{}, &img, Status::Ok};
    RunDecode(&job);
    if (job.status != Status::Ok) return job.status;
    img.format = Format::Jpeg;
    img.dpiX = job.info.dpiX;
    img.dpiY = job.info.dpiY;
    *out = std::move(img);
    return Status::Ok;
}

// ---- writing ----

struct JpegWriter::State
{
    jpeg_compress_struct cinfo;
    ErrorManager err;
    unsigned char* memory = nullptr; // jpeg_mem_dest's buffer
    unsigned long memorySize = 0;
    std::vector<uint8_t> row;
    bool created = false;
    bool started = false;
};

JpegWriter::JpegWriter() = default;

JpegWriter::~JpegWriter()
{
    if (!state_) return;
    if (state_->created) jpeg_destroy_compress(&state_->cinfo);
    std::free(state_->memory);
    delete state_;
}

Status JpegWriter::Start(FILE* file, uint32_t width, uint32_t height, int quality)
{
    if (!file) return Status::InvalidArgument;
    return Begin(file, width, height, quality);
}

Status JpegWriter::StartMemory(uint32_t width, uint32_t height, int quality)
{
    return Begin(nullptr, width, height, quality);
}

Status JpegWriter::Begin(FILE* file, uint32_t width, uint32_t height, int quality)
{
    if (state_ || width == 0 || height == 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return Status::InvalidArgument;
    state_ = new (std::nothrow) State;
    if (!state_) return Status::OutOfMemory;
    if (!Allocated([&] { state_->row.resize(size_t(width) * 3); })) return Status::OutOfMemory;
    const int clampedQuality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
    State* s = state_;
    InitErrors(&s->err);
    s->cinfo.err = &s->err.pub;
    if (setjmp(s->err.jump)) return Status::WriteFailed;
    jpeg_create_compress(&s->cinfo);
    s->created = true;
    s->cinfo.image_width = width;
    s->cinfo.image_height = height;
    s->cinfo.input_components = 3;
    s->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s->cinfo);
    jpeg_default_colorspace(&s->cinfo);
    s->cinfo.dct_method = JDCT_FLOAT;
    jpeg_simple_progression(&s->cinfo);
    jpeg_set_quality(&s->cinfo, clampedQuality, TRUE);
    if (file)
        jpeg_stdio_dest(&s->cinfo, file);
    else
        jpeg_mem_dest(&s->cinfo, &s->memory, &s->memorySize);
    jpeg_start_compress(&s->cinfo, TRUE);
    s->started = true;
    return Status::Ok;
}

Status JpegWriter::WriteRow(const uint32_t* pixels)
{
    if (!state_ || !state_->started || !pixels) return Status::InvalidArgument;
    State* s = state_;
    if (s->cinfo.next_scanline >= s->cinfo.image_height) return Status::InvalidArgument;
    uint8_t* row = s->row.data();
    for (JDIMENSION x = 0; x < s->cinfo.image_width; ++x)
    {
        row[3 * x] = uint8_t(pixels[x] >> 16);
        row[3 * x + 1] = uint8_t(pixels[x] >> 8);
        row[3 * x + 2] = uint8_t(pixels[x]);
    }
    if (setjmp(s->err.jump))
    {
        s->started = false;
        return Status::WriteFailed;
    }
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&s->cinfo, rows, 1);
    return Status::Ok;
}

Status JpegWriter::Finish()
{
    if (!state_ || !state_->started) return Status::InvalidArgument;
    State* s = state_;
    if (s->cinfo.next_scanline != s->cinfo.image_height) return Status::InvalidArgument;
    if (setjmp(s->err.jump))
    {
        s->started = false;
        return Status::WriteFailed;
    }
    jpeg_finish_compress(&s->cinfo);
    s->started = false;
    if (s->memory)
    {
        if (!Allocated([&] { bytes_.assign(s->memory, s->memory + s->memorySize); }))
            return Status::OutOfMemory;
    }
    return Status::Ok;
}

Status EncodeJpeg(const uint32_t* pixels, uint32_t width, uint32_t height, uint32_t stride, int quality,
                  std::vector<uint8_t>* out)
{
    if (!pixels || !out || stride < width) return Status::InvalidArgument;
    out->clear();
    JpegWriter writer;
    if (Status s = writer.StartMemory(width, height, quality); s != Status::Ok) return s;
    for (uint32_t y = 0; y < height; ++y)
        if (Status s = writer.WriteRow(pixels + size_t(y) * stride); s != Status::Ok) return s;
    if (Status s = writer.Finish(); s != Status::Ok) return s;
    *out = writer.Bytes();
    return Status::Ok;
}
} // namespace ferolt::image
