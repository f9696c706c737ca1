// Fuzzes texture chunks on a started engine: the first byte picks a chunk with flags (type 6) or
// without (type 4), the rest is the chunk, which is decoded as a BMP or other image the engine reads,
// or as a JPEG-2000 code stream. The rest is also decoded as a code stream on its own, so that mutated
// streams reach OpenJPEG without first having to form a valid name.
#include "codec/jpeg2000_decoding.h"
#include "codec/p3d_read_codec.h"
#include "engine/core/globals.h"
#include "engine/core/lr_texture_api.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"

#include <cstdint>

namespace
{
class TextureChunkCodec : public CP3DReadCodec
{
public:
    using CP3DReadCodec::DecodeTextureChunk;
};

bool EngineStarted()
{
    static const bool started = []
    {
        // Small devices: an image is scaled down to 256 x 256 before it reaches D3DX.
        ferolt::hooks::D3D9Adapter adapter;
        adapter.monitorRect = {0, 0, 64, 48};
        adapter.maxTextureWidth = 256;
        adapter.maxTextureHeight = 256;
        ferolt::win32::host::SetVirtualScreen({{adapter.monitorRect, {}}});
        ferolt::hooks::SetD3D9Adapters({adapter});
        ferolt::hooks::SetD3D9WorkerThreads(1);
        if (FAILED(LRStart(nullptr))) return false;
        // Released textures go at once: the release cache counts file bytes, not texture memory.
        LMK::CurrentGlobals->releaseCache.enabled = 0;
        return true;
    }();
    return started;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || !EngineStarted()) return 0;
    const bool withoutFlags = (data[0] & 1) != 0;
    BlobStorageData chunk;
    if (size > 1) chunk.Append(data + 1, size - 1);
    chunk.Rewind();
    {
        TextureChunkCodec codec;
        LMK::Texture_* texture = nullptr;
        if (codec.DecodeTextureChunk(withoutFlags, chunk, size - 1, texture)) LRReleaseTexture(&texture);
    }
    Gdiplus::Bitmap* bitmap = nullptr;
    DecodeJpeg2000ToBitmap({data + 1, size - 1}, &bitmap);
    ReleaseBitmapHolder(&bitmap);
    return 0;
}
