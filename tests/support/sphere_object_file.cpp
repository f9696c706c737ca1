#include "tests/support/sphere_object_file.h"

#include "tests/support/geometry_block_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace ferolt::test
{
namespace
{
constexpr double kPi = 3.14159265358979323846;
// Bounds of one quantisation step a unit; the sphere sits inside them, away from 0, where every whole
// number decodes exactly.
constexpr float kCentre = 32768.0f;
constexpr double kRadius = 16000.0;

float Even(double value)
{
    return static_cast<float>(2.0 * std::round(value / 2.0));
}

// Rings firstRing .. firstRing + rows, each of segments + 1 vertices (the seam twice, for its
// texture coordinates), joined by one strip a row; a row's top vertices are the row before's bottom.
std::vector<uint8_t> BandMesh(const SphereDesc& desc, uint32_t firstRing, uint32_t rows)
{
    MeshDesc mesh;
    const uint32_t columns = desc.segments + 1;
    for (uint32_t r = 0; r <= rows; ++r)
    {
        const uint32_t ring = firstRing + r;
        const double theta = kPi * (ring + 0.5) / (desc.rows + 1);
        for (uint32_t i = 0; i < columns; ++i)
        {
            const double phi = 2.0 * kPi * i / desc.segments;
            mesh.keys.push_back({{kCentre + Even(kRadius * std::sin(theta) * std::cos(phi)),
                                  kCentre + Even(kRadius * std::sin(theta) * std::sin(phi)),
                                  kCentre + Even(kRadius * std::cos(theta))},
                                 {static_cast<float>(2 * i), static_cast<float>(2 * ring)}});
        }
    }
    GroupDesc group;
    for (int i = 0; i < 5; ++i)
        group.maximum[i] = 65535.0f;
    for (uint32_t r = 0; r < rows; ++r)
    {
        StripDesc strip;
        for (uint32_t i = 0; i < columns; ++i)
        {
            const uint32_t top = r * columns + i, bottom = top + columns;
            strip.ops.push_back({r == 0 ? StripOp::New : StripOp::Back, top});
            strip.ops.push_back({StripOp::New, bottom});
        }
        group.strips.push_back(std::move(strip));
    }
    mesh.groups = {std::move(group)};
    return EncodeMesh(mesh).bytes;
}
} // namespace

Bytes SphereObjectFile(const SphereDesc& desc)
{
    const uint32_t columns = desc.segments + 1;
    // A group counts its strips in 8 bits and its entries in 16; a mesh's vertices are 16-bit indices.
    if (desc.segments == 0 || desc.rowsPerMesh == 0 || desc.rowsPerMesh > 255 || desc.models == 0 ||
        desc.models > desc.rows || uint64_t{2} * columns * desc.rowsPerMesh > 0xFFFF ||
        uint64_t{desc.rowsPerMesh + 1} * columns > 0xFFFF)
        throw std::invalid_argument("the sphere does not fit the block's counts");

    ObjectFileHeaderFields header;
    header.contentType = desc.contentType;
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ChunkWriter chunks;
    for (uint32_t m = 0; m < desc.models; ++m)
    {
        const uint32_t first = desc.rows * m / desc.models, end = desc.rows * (m + 1) / desc.models;
        BlockDesc block;
        for (uint32_t row = first; row < end; row += desc.rowsPerMesh)
            block.meshes.push_back(BandMesh(desc, row, std::min(desc.rowsPerMesh, end - row)));
        const Bytes bytes = EncodeBlock(block);
        ByteWriter model;
        model.U32(static_cast<uint32_t>(bytes.size())).U32(1).U32(76);
        model.Raw(InstanceRecord(m, 0, identity, 0)).Raw(bytes);
        chunks.Chunk(8, model.Data());
    }
    return ObjectFileWriter(header).Bzip2Section(chunks.Data()).EndSection().Data();
}
} // namespace ferolt::test
