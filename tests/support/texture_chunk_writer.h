#pragma once
// Texture chunks of object files (types 4 and 6) and the images the tests put in them.
#include "tests/support/image_file_writer.h"
#include "tests/support/object_file_writer.h"

#include <optional>
#include <string>

namespace ferolt::test
{
constexpr uint32_t kTextureChunk = 4;          // name and image
constexpr uint32_t kTextureChunkWithFlags = 6; // flags, name and image

// The chunk's content: flags (type 6 only), the name length, the name and the image. The length
// counts the name's terminating zero unless `nameLength` says otherwise; `terminate` false leaves the
// zero out.
Bytes TextureChunkContent(uint32_t type, uint32_t flags, const std::string& name, const Bytes& image,
                          std::optional<uint32_t> nameLength = std::nullopt, bool terminate = true);

// Small images with distinct texels: 2 x 2 pixels (top-down) and their files.
extern const std::vector<uint32_t> kOpaqueTexels;
extern const std::vector<uint32_t> kTranslucentTexels; // alpha 0x40, 0x80, 0xC0, 0xFF
Bytes Bmp24BottomUp(const std::vector<uint32_t>& texels = kOpaqueTexels);
Bytes Bmp32TopDown(const std::vector<uint32_t>& texels = kOpaqueTexels);
Bytes Jpeg2000Rgb(const std::vector<uint32_t>& texels = kOpaqueTexels);
Bytes Jpeg2000Rgba(const std::vector<uint32_t>& texels = kTranslucentTexels);
} // namespace ferolt::test
