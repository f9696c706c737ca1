// Seeds for fuzz_texture_chunk: a selector byte (0 type 6, 1 type 4), then a chunk of each image kind.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/texture_chunk_writer.h"

namespace ferolt::test
{
namespace
{
Bytes Seed(uint32_t type, const std::string& name, const Bytes& image)
{
    Bytes seed = {uint8_t(type == kTextureChunk ? 1 : 0)};
    const Bytes chunk = TextureChunkContent(type, 1, name, image);
    seed.insert(seed.end(), chunk.begin(), chunk.end());
    return seed;
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    return {
        {"bmp24", Seed(kTextureChunk, "a.bmp", Bmp24BottomUp())},
        {"bmp32_flags", Seed(kTextureChunkWithFlags, "b.bmp", Bmp32TopDown())},
        {"jpeg2000_rgb", Seed(kTextureChunk, "c.j2k", Jpeg2000Rgb())},
        {"jpeg2000_rgba", Seed(kTextureChunkWithFlags, "d.j2k", Jpeg2000Rgba())},
    };
}
} // namespace ferolt::test
