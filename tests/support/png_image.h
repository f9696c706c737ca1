#pragma once
// 32-bit pixel images (0xAARRGGBB, as X8R8G8B8 and A8R8G8B8 surfaces hold them) to and from PNG files, and
// the exact comparison of a rendered picture against a reviewed baseline picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ferolt::test
{

struct PngImage
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // rows top to bottom, no padding
};

// Reads any PNG libpng understands, converted to 8-bit RGBA (alpha 0xFF where the file has none). Fails
// on a missing or damaged file and on pictures larger than 16384 x 16384; *error says why.
bool ReadPng(const std::string& path, PngImage* image, std::string* error = nullptr);

// Writes width x height pixels whose rows are pitch bytes apart as 8-bit RGBA, alpha as stored.
bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height, int pitch,
              std::string* error = nullptr);

// Compares the picture exactly with dir/name.png. A missing baseline is written and the comparison fails,
// so that a person looks at it before it counts; with UPDATE_BASELINES=1 in the environment the baseline
// is rewritten and the comparison passes. On a mismatch the picture is written as name.actual.png (any
// '/' in name made '_') in the working directory, and the message gives the first differing pixel and how
// many differ. pitch is in bytes.
::testing::AssertionResult MatchesBaselineIn(const std::string& dir, const std::string& name,
                                             const uint32_t* pixels, int width, int height, int pitch);

#ifdef FEROLT_BASELINE_DIR
// name is relative to tests/baselines, without ".png", e.g. "engine/lit_cube".
inline ::testing::AssertionResult MatchesBaseline(const std::string& name, const uint32_t* pixels, int width,
                                                  int height, int pitch)
{
    return MatchesBaselineIn(FEROLT_BASELINE_DIR, name, pixels, width, height, pitch);
}
#endif

} // namespace ferolt::test
