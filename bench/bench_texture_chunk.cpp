// Texture chunks to device textures with their mip chain: a 2048 x 2048 JPEG and a 1024 x 1024
// JPEG-2000 code stream (lossless), each decoded afresh every iteration.
#include "codec/p3d_read_codec.h"
#include "engine/core/globals.h"
#include "engine/core/lr_texture_api.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/image/image.h"
#include "platform/win32/user_host.h"
#include "tests/support/texture_chunk_writer.h"

#include <benchmark/benchmark.h>

using namespace ferolt::test;

namespace
{
class TextureChunkCodec : public CP3DReadCodec
{
public:
    using CP3DReadCodec::DecodeTextureChunk;
};

// Smooth gradients with some detail, as photographs of surfaces have.
std::vector<uint32_t> Picture(uint32_t side)
{
    std::vector<uint32_t> pixels(size_t(side) * side);
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x)
        {
            const uint32_t r = (x * 255) / side, g = (y * 255) / side, b = ((x ^ y) & 0x3F) + 96;
            pixels[size_t(y) * side + x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    return pixels;
}

void StartEngine()
{
    static const bool started = []
    {
        ferolt::hooks::D3D9Adapter adapter;
        adapter.monitorRect = {0, 0, 64, 48};
        ferolt::win32::host::SetVirtualScreen({{adapter.monitorRect, {}}});
        ferolt::hooks::SetD3D9Adapters({adapter});
        if (FAILED(LRStart(nullptr))) return false;
        // Every iteration decodes: a released texture is not kept for its name.
        LMK::CurrentGlobals->releaseCache.enabled = 0;
        return true;
    }();
    if (!started) std::abort();
}

void DecodeChunk(benchmark::State& state, const Bytes& content)
{
    StartEngine();
    for (auto _ : state)
    {
        BlobStorageData chunk;
        chunk.Append(content.data(), content.size());
        chunk.Rewind();
        TextureChunkCodec codec;
        LMK::Texture_* texture = nullptr;
        if (!codec.DecodeTextureChunk(true, chunk, content.size(), texture))
            state.SkipWithError("no texture");
        LRReleaseTexture(&texture);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(content.size()));
}

void Jpeg2048(benchmark::State& state)
{
    static const Bytes content = []
    {
        std::vector<uint8_t> jpeg;
        const std::vector<uint32_t> pixels = Picture(2048);
        ferolt::image::EncodeJpeg(pixels.data(), 2048, 2048, 2048, 85, &jpeg);
        return TextureChunkContent(kTextureChunk, 0, "photo.jpg", jpeg);
    }();
    DecodeChunk(state, content);
}
BENCHMARK(Jpeg2048)->Unit(benchmark::kMillisecond);

void Jpeg2000_1024(benchmark::State& state)
{
    static const Bytes content = TextureChunkContent(
        kTextureChunk, 0, "photo.j2k", Jpeg2000CodeStream(1024, 1024, Planes(Picture(1024), false)));
    DecodeChunk(state, content);
}
BENCHMARK(Jpeg2000_1024)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
