// Seeds for fuzz_v7q: a stream with chunks, strings, light points, two materials, a full part with
// groups and quads and an instance of it, stored and packed with zlib.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/model_blob_writer.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    StreamDesc s;
    s.strings = {"WOOD.PNG"};
    s.lightPoints = {{255, 128, 0, 1, 2, 3}};
    StreamMaterial textured;
    textured.flags = 1;
    textured.transparency = 0x8000;
    s.materials = {StreamMaterial{}, textured};
    s.chunks = {{0x1234, {1, 2, 3}}, {20, {0, 0, 0, 0}}};
    StreamPart full;
    full.vertices = {{0, 0, 0, 0, 0},
                     {1000, 0, 0, 100, 0},
                     {1000, 1000, 0, 100, 100},
                     {0, 1000, 0, 0, 100},
                     {500, 500, 300, 50, 50}};
    full.faces = {{0, 1, 2, 3}, {0, 1, 4}, {1, 2, 4}};
    full.groups = {0, 1, 1};
    StreamPart instance;
    instance.instance = true;
    instance.transform = {1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 0, 0};
    s.parts = {full, instance};
    const std::vector<uint8_t> stream = WriteV7QStream(s);
    return {{"stored", Prefixed(0, WriteV7QContainer(stream, 0))},
            {"zlib", Prefixed(0, WriteV7QContainer(stream, 1))},
            {"zlib_no_hard_edges", Prefixed(1, WriteV7QContainer(stream, 1))}};
}
} // namespace ferolt::test
