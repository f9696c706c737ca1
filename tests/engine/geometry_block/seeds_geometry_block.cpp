// Seeds for fuzz_geometry_block: a block with one cube, one with a light point, and the bare mesh.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/sample_object_file.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    BlockSpec lit;
    lit.meshes = {CubeMesh()};
    lit.lights = {{{1.0f, 2.0f, 3.0f}, {255, 128, 0, 255}}};
    lit.creaseAngle = 0.5f;
    return {{"cube_block", CubeBlock()}, {"lit_block", EncodeBlock(lit)}, {"cube_mesh", CubeMesh()}};
}
} // namespace ferolt::test
