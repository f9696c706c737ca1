// Seeds for the D3DX effect and texture targets: an effect text with every kind of declaration, and
// small image files of each layout textures are made from.
#include "tests/platform/image/image_fixtures.h"
#include "tests/support/fuzz_seeds.h"

namespace ferolt::test
{
namespace
{
[[maybe_unused]] std::vector<uint8_t> Text(const char* text)
{
    return std::vector<uint8_t>(text, text + std::char_traits<char>::length(text));
}

[[maybe_unused]] std::vector<FuzzSeed> D3dxSeeds()
{
#if defined(FUZZ_FAMILY_effect)
    return {{"small.fxt", Text("ferolt-effect 1\n"
                               "struct Light\n    int iType\n    float3 vPos\nend\n"
                               "param Light lights[4]\nparam float fScale\nparam int iCount\nparam bool bOn\n"
                               "param float4 vColour\nparam float4x4 matWorld\nparam texture tex\n"
                               "technique Plain 1\ntechnique Shaded 2 shaders\n")},
            {"one_technique.fxt", Text("ferolt-effect 1\ntechnique T 1\n")}};
#elif defined(FUZZ_FAMILY_texture)
    using namespace ferolt::image::test;
    BmpDesc bmp;
    bmp.width = 2;
    bmp.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    PngDesc png;
    png.width = 2;
    png.colorType = 6;
    png.rows = {{1, 2, 3, 4, 5, 6, 7, 8}};
    JpegDesc jpeg;
    jpeg.width = 2;
    jpeg.pixels = {0xFF102030, 0xFF405060};
    DdsDesc dds;
    dds.mipCount = 3;
    dds.data.assign((16 + 4 + 1) * 4, 0x5A);
    return {{"rgb24.bmp", MakeBmp(bmp)},
            {"rgba.png", MakePng(png)},
            {"colour.jpg", MakeJpeg(jpeg)},
            {"mips.dds", MakeDds(dds)}};
#else
    return {};
#endif
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    return D3dxSeeds();
}
} // namespace ferolt::test
