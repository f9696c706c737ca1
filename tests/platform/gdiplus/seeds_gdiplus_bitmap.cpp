// Seeds for fuzz_gdiplus_bitmap: one small picture per decoder family, made by the image fixtures.
#include "tests/platform/image/image_fixtures.h"
#include "tests/support/fuzz_seeds.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    image::test::BmpDesc bmp;
    bmp.width = 2;
    bmp.pixels = {0, 0, 255, 255, 0, 0, 0, 0};
    image::test::PngDesc png;
    png.width = 2;
    png.colorType = 6;
    png.rows = {{255, 0, 0, 255, 0, 0, 255, 128}};
    image::test::JpegDesc jpeg;
    jpeg.width = 8;
    jpeg.height = 8;
    jpeg.pixels.assign(64, 0xFF00FF00);
    image::test::GifDesc gif;
    gif.palette = {0xFFFF0000, 0xFF0000FF};
    gif.indices = {1};
    return {{"bmp", image::test::MakeBmp(bmp)},
            {"png", image::test::MakePng(png)},
            {"jpeg", image::test::MakeJpeg(jpeg)},
            {"gif", image::test::MakeGif(gif)}};
}
} // namespace ferolt::test
