// Seeds for fuzz_d3dx9_xfile: every encoding, both float sizes, frames with transforms and an animation
// set, skinning, vertex colours and two materials with a texture name.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/xfile_writer.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    XFileDesc cube;
    cube.meshes = {XCubeMesh()};
    XFileDesc grid;
    grid.templates = false;
    grid.meshes = {XGridMesh(2, 1)};
    grid.meshes[0].colors = {{1, {1, 0, 0, 1}}};
    grid.meshes[0].skinned = true;
    XFrameDesc frame;
    frame.hasMatrix = true;
    frame.matrix[12] = 3;
    frame.meshes = {XCubeMesh()};
    XFileDesc frames;
    frames.templates = false;
    frames.frames = {frame};
    frames.animation = true;
    return {
        {"cube_text.x", WriteXFile(cube, XEncoding::Text)},
        {"cube_binary.x", WriteXFile(cube, XEncoding::Binary)},
        {"grid_text64.x", WriteXFile(grid, XEncoding::Text, true)},
        {"grid_binary64.x", WriteXFile(grid, XEncoding::Binary, true)},
        {"frames_tzip.x", WriteXFile(frames, XEncoding::TextZip)},
        {"frames_bzip.x", WriteXFile(frames, XEncoding::BinaryZip)},
    };
}
} // namespace ferolt::test
