// Seeds for fuzz_geometry_block: a block with one cube, one with a light point, the bare mesh, and a
// block whose second strip is a turned, moved and scaled copy of the first, with ring references.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/sample_object_file.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    BlockDesc lit;
    lit.meshes = {CubeMesh()};
    lit.lights = {{{1.0f, 2.0f, 3.0f}, {255, 128, 0, 255}}};
    lit.creaseAngle = 0.5f;
    MeshDesc copies;
    copies.keys = {{{3, 3, 3}, {0, 0}}, {{4, 3, 3}, {1, 0}}, {{3, 4, 3}, {0, 1}}, {{4, 4, 5}, {1, 1}}};
    GroupDesc group;
    for (int i = 0; i < 5; ++i)
    {
        group.minimum[i] = i < 3 ? -8.0f : 0.0f;
        group.maximum[i] = group.minimum[i] + 65535.0f;
    }
    StripDesc first{{{StripOp::New, 0}, {StripOp::New, 1}, {StripOp::New, 2}, {StripOp::New, 3}}};
    StripDesc copy = first;
    copy.copyOf = 0;
    copy.transform = {0, 8191, -8191, 0, {10, 0, -1}, false, true, 1.7f};
    StripDesc references{{{StripOp::Ring, 1, true}, {StripOp::Back, 0}, {StripOp::Ring, 3}}};
    group.strips = {first, copy, references};
    copies.groups = {group};
    BlockDesc copied;
    copied.meshes = {EncodeMesh(copies).bytes};
    return {{"cube_block", CubeBlock()},
            {"lit_block", EncodeBlock(lit)},
            {"cube_mesh", CubeMesh()},
            {"copied_strips_block", EncodeBlock(copied)}};
}
} // namespace ferolt::test
