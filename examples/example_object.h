#pragma once
// The bundled example object: a small house (walls, floor and a pyramid roof, one geometry group
// each, each with its own material) placed once, built with the project's fixture writers so that
// every byte is made here.
#include "tests/support/object_file_writer.h"

namespace ferolt::example
{
// The content type the viewer accepts.
constexpr GUID kViewerContentType = {
    0xAF352B73, 0xE55D, 0x4F8D, {0xB8, 0x07, 0x78, 0xD4, 0xCD, 0x74, 0xE7, 0x6C}};

// The house spans (0, 0, 0) to (2, 2, 3); `offsetX` moves the whole of it along X. Its material pack
// gives the walls and the floor plain colours and the roof a tiled texture carried in the file.
ferolt::test::Bytes HouseObjectFile(float offsetX = 0.0f);
} // namespace ferolt::example
