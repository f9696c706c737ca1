// Seeds for fuzz_geometry_block_model: the cube block with normals recomputed and kept, and a block
// with a light point and a crease angle.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/sample_object_file.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    BlockDesc lit;
    lit.meshes = {CubeMesh(), CubeMesh()};
    lit.lights = {{{1.0f, 2.0f, 3.0f}, {255, 128, 0, 255}}};
    lit.creaseAngle = 0.5f;
    return {{"cube_resmoothed", Prefixed(0, CubeBlock())},
            {"cube_kept", Prefixed(1, CubeBlock())},
            {"two_cubes_lit", Prefixed(0, EncodeBlock(lit))}};
}
} // namespace ferolt::test
