#include "tests/support/png_image.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace ferolt::test
{
namespace
{
constexpr png_uint_32 kMaxSide = 16384;

void SetError(std::string* error, const std::string& text)
{
    if (error) *error = text;
}

bool UpdateRequested()
{
    const char* v = std::getenv("UPDATE_BASELINES");
    return v && std::strcmp(v, "1") == 0;
}

uint32_t Row(const uint32_t* pixels, int pitch, int x, int y)
{
    const auto* row = reinterpret_cast<const uint8_t*>(pixels) + static_cast<size_t>(y) * pitch;
    uint32_t p;
    std::memcpy(&p, row + 4 * static_cast<size_t>(x), 4);
    return p;
}
} // namespace

bool ReadPng(const std::string& path, PngImage* image, std::string* error)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
    {
        SetError(error, png.message);
        return false;
    }
    if (png.width == 0 || png.height == 0 || png.width > kMaxSide || png.height > kMaxSide)
    {
        png_image_free(&png);
        SetError(error, "picture size out of range");
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr))
    {
        SetError(error, png.message);
        png_image_free(&png);
        return false;
    }
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->pixels.resize(static_cast<size_t>(png.width) * png.height);
    for (size_t i = 0; i < image->pixels.size(); ++i)
    {
        const uint8_t* p = &rgba[4 * i];
        image->pixels[i] = static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[0]) << 16 |
                           static_cast<uint32_t>(p[1]) << 8 | p[2];
    }
    return true;
}

bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitch,
              std::string* error)
{
    if (width <= 0 || height <= 0 || width > static_cast<int>(kMaxSide) ||
        height > static_cast<int>(kMaxSide) || pitch < 4 * width)
    {
        SetError(error, "picture size out of range");
        return false;
    }
    std::vector<uint8_t> rgba(4 * static_cast<size_t>(width) * height);
    uint8_t* out = rgba.data();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, out += 4)
        {
            const uint32_t p = Row(pixels, pitch, x, y);
            out[0] = static_cast<uint8_t>(p >> 16);
            out[1] = static_cast<uint8_t>(p >> 8);
            out[2] = static_cast<uint8_t>(p);
            out[3] = static_cast<uint8_t>(p >> 24);
        }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&png, path.c_str(), 0, rgba.data(), 0, nullptr))
    {
        SetError(error, png.message);
        return false;
    }
    return true;
}

::testing::AssertionResult MatchesBaselineIn(const std::string& dir, const std::string& name,
                                             const uint32_t* pixels, int width, int height, int pitch)
{
    const std::filesystem::path baseline = std::filesystem::path(dir) / (name + ".png");
    std::string error;
    const bool exists = std::filesystem::exists(baseline);
    if (!exists || UpdateRequested())
    {
        std::error_code ec;
        std::filesystem::create_directories(baseline.parent_path(), ec);
        if (!WritePng(baseline.string(), pixels, width, height, pitch, &error))
            return ::testing::AssertionFailure() << "cannot write " << baseline << ": " << error;
        if (exists) return ::testing::AssertionSuccess() << "rewrote " << baseline;
        return ::testing::AssertionFailure()
               << "no baseline: wrote " << baseline << "; look at it, then run again";
    }

    PngImage want;
    if (!ReadPng(baseline.string(), &want, &error))
        return ::testing::AssertionFailure() << "cannot read " << baseline << ": " << error;

    std::ostringstream mismatch;
    if (want.width != width || want.height != height)
    {
        mismatch << "size " << width << " x " << height << ", baseline " << want.width << " x "
                 << want.height;
    }
    else
    {
        long differing = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
            {
                const uint32_t got = Row(pixels, pitch, x, y), expected = want.pixels[y * width + x];
                if (got == expected) continue;
                if (differing++ == 0)
                    mismatch << std::hex << "first difference at (" << std::dec << x << ", " << y << "): 0x"
                             << std::hex << got << ", baseline 0x" << expected << std::dec;
            }
        if (differing == 0) return ::testing::AssertionSuccess();
        mismatch << "; " << differing << " of " << width * height << " pixels differ";
    }
    std::string flat = name;
    for (char& c : flat)
        if (c == '/') c = '_';
    const std::filesystem::path actual = std::filesystem::current_path() / (flat + ".actual.png");
    if (WritePng(actual.string(), pixels, width, height, pitch, &error))
        mismatch << "; wrote " << actual;
    else
        mismatch << "; cannot write " << actual << ": " << error;
    return ::testing::AssertionFailure() << baseline << ": " << mismatch.str();
}

} // namespace ferolt::test
