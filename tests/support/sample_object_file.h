#pragma once
// Small, complete object files for seeds and tests: a cube model placed twice and animated, a light
// group, special flags, and the model chunks the viewer reads (viewpoints, their names, a background).
#include "tests/support/object_file_writer.h"

namespace ferolt::test
{
// The content type of the viewer's object files.
constexpr GUID kViewerContentType = {
    0xAF352B73, 0xE55D, 0x4F8D, {0xB8, 0x07, 0x78, 0xD4, 0xCD, 0x74, 0xE7, 0x6C}};

// A closed cube from (0, 0, 0) to (2, 2, 2), one quad per face, each facing outwards, as one mesh whose
// group names `source` as its source index (0xFFFF: none).
Bytes CubeMesh(uint16_t source = 0xFFFF);
// The cube mesh in a geometry block of its own.
Bytes CubeBlock(uint16_t source = 0xFFFF);

// The chunks of one section: every chunk type the reader turns into something. A surface type other
// than 0 is given to the cube's subset with the surface plane z = 0 (a subset attribute chunk), so that
// it receives light maps.
Bytes SampleObjectChunks(uint32_t surfaceType = 0);
// A file of that section, stored or bzip2-packed, with the given content type.
Bytes SampleObjectFile(const GUID& contentType, bool bzip2);
} // namespace ferolt::test
