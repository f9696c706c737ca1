#include "tests/support/texture_chunk_writer.h"

namespace ferolt::test
{
const std::vector<uint32_t> kOpaqueTexels = {0xFFC03010u, 0xFF20D040u, 0xFF3050E0u, 0xFFF0E020u};
const std::vector<uint32_t> kTranslucentTexels = {0x40C03010u, 0x8020D040u, 0xC03050E0u, 0xFFF0E020u};

Bytes TextureChunkContent(uint32_t type, uint32_t flags, const std::string& name, const Bytes& image,
                          std::optional<uint32_t> nameLength, bool terminate)
{
    ByteWriter w;
    if (type == kTextureChunkWithFlags) w.U32(flags);
    Bytes nameBytes(name.begin(), name.end());
    if (terminate) nameBytes.push_back(0);
    w.U32(nameLength.value_or(static_cast<uint32_t>(nameBytes.size()))).Raw(nameBytes).Raw(image);
    return w.Data();
}

Bytes Bmp24BottomUp(const std::vector<uint32_t>& texels)
{
    return BmpFile(2, 2, texels, 24, true);
}

Bytes Bmp32TopDown(const std::vector<uint32_t>& texels)
{
    return BmpFile(2, 2, texels, 32, false);
}

Bytes Jpeg2000Rgb(const std::vector<uint32_t>& texels)
{
    return Jpeg2000CodeStream(2, 2, Planes(texels, false));
}

Bytes Jpeg2000Rgba(const std::vector<uint32_t>& texels)
{
    return Jpeg2000CodeStream(2, 2, Planes(texels, true));
}
} // namespace ferolt::test
