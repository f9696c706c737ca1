// Fuzz entry for one decoder family (chosen at build time): the header query and the full decode
// must agree on the size, and neither may read outside the input.
#include "platform/image/image.h"

#include <cstdlib>

using namespace ferolt::image;

namespace
{
Status DecodeFamily(const uint8_t* data, size_t size, Image* img, Info* info)
{
#if defined(FUZZ_FAMILY_bmp)
    QueryBmpInfo(data, size, info);
    return DecodeBmp(data, size, img, DecodeOptions{BmpRgb32Alpha::KeepUnlessAllZero});
#elif defined(FUZZ_FAMILY_jpeg)
    QueryJpegInfo(data, size, info);
    return DecodeJpeg(data, size, img);
#elif defined(FUZZ_FAMILY_png)
    QueryPngInfo(data, size, info);
    return DecodePng(data, size, img);
#elif defined(FUZZ_FAMILY_gif)
    QueryGifInfo(data, size, info);
    return DecodeGif(data, size, img);
#elif defined(FUZZ_FAMILY_tga)
    QueryTgaInfo(data, size, info);
    return DecodeTga(data, size, img);
#elif defined(FUZZ_FAMILY_dds)
    QueryDdsInfo(data, size, info);
    DdsFile file;
    if (ParseDds(data, size, &file) == Status::Ok)
        for (uint32_t level = 1; level < file.levels.size(); ++level)
        {
            Image mip;
            DecodeDdsLevel(file, level, &mip);
        }
    return DecodeDds(data, size, img);
#else
#error "define FUZZ_FAMILY_<name>"
#endif
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Image img;
    Info info;
    if (DecodeFamily(data, size, &img, &info) == Status::Ok)
    {
        if (img.pixels.size() != size_t(img.width) * img.height || img.width != info.width ||
            img.height != info.height)
            std::abort();
    }
    return 0;
}
