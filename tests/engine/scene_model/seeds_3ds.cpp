// Seeds for fuzz_3ds: a cube with two material groups, a textured and lit file with a keyframer
// that animates one mesh under a dummy parent, and a project file.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/three_ds_writer.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    Ds3Material red;
    red.name = "Red";
    red.diffuse = {255, 0, 0};
    red.texture = Ds3Map{"RED.PNG", 80, {{2, 2, 0.5f, 0, 45}}};
    red.opacity = red.texture;
    Ds3Material blue;
    blue.name = "Blue";
    blue.ambient = {{0.1f, 0.1f, 0.2f}};
    blue.transparency = 30;
    blue.twoSided = true;
    Ds3File cube;
    cube.materials = {red, blue};
    cube.meshes = {Ds3Cube()};

    Ds3File animated = cube;
    animated.masterScale = 2.0f;
    animated.meshes.push_back(Ds3Cube("Moving"));
    animated.lights = {Ds3Light{"Spot", {1, 2, 3}, {1, 1, 0.5f}, {{0, 0, 0}}, false, 1.5f}};
    Ds3Node dummy;
    dummy.id = 5;
    dummy.name = "$$$DUMMY";
    dummy.rotation = {{0, {0.5f, 0, 0, 1}}, {20, {0.5f, 0, 1, 0}, 0.5f}};
    Ds3Node still;
    still.name = "Cube";
    still.id = 1;
    Ds3Node moving;
    moving.name = "Moving";
    moving.id = 2;
    moving.parent = 5;
    moving.instance = "one";
    moving.pivot = {0.5f, 0.5f, 0};
    moving.trackFlags = 3;
    moving.position = {{0, {0, 0, 0, 0}}, {10, {4, 0, 0, 0}}};
    moving.scale = {{0, {1, 1, 1, 0}}, {10, {2, 2, 2, 0}}};
    animated.nodes = {dummy, still, moving};

    Ds3File project = cube;
    project.project = true;
    return {{"cube", Write3DS(cube)}, {"animated", Write3DS(animated)}, {"project", Write3DS(project)}};
}
} // namespace ferolt::test
