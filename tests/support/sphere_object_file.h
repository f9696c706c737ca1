#pragma once
// A large object file made the way an exporter lays out a finely divided sphere: rows of latitude as
// triangle strips, rows sharing their vertices with the row before, and as many meshes to a model as
// 16-bit indices need. Coordinates lie on even steps of the quantisation, so vertices after a strip's
// first are predicted exactly, as in real files.
#include "tests/support/object_file_writer.h"

#include <cstdint>

namespace ferolt::test
{
struct SphereDesc
{
    uint32_t segments = 1000; // around the axis; every row makes two faces a segment
    uint32_t rows = 500;      // from pole to pole
    uint32_t rowsPerMesh = 32;
    uint32_t models = 1; // the rows dealt out in bands, one model and one placement each
    GUID contentType = {};
};

// segments x rows x 2 faces, in one bzip2 section.
Bytes SphereObjectFile(const SphereDesc& desc);
} // namespace ferolt::test
