// Seeds for fuzz_model_file: each model file form the loader recognises, small.
#include <cstring>

#include "tests/support/fuzz_seeds.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/xfile_writer.h"

namespace ferolt::test
{
namespace
{
std::vector<uint8_t> Header(const char* magic, uint32_t a, uint32_t b, uint32_t c)
{
    std::vector<uint8_t> file(20, 0);
    std::memcpy(file.data(), magic, 4);
    std::memcpy(file.data() + 8, &a, 4);
    std::memcpy(file.data() + 12, &b, 4);
    std::memcpy(file.data() + 16, &c, 4);
    return file;
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    BlockDesc block;
    block.meshes = {EncodeMesh(UnitQuadMesh()).bytes};
    const std::vector<uint8_t> quad = EncodeBlock(block);
    const uint32_t quadSize = static_cast<uint32_t>(quad.size());

    std::vector<uint8_t> lk3d = Header("LK3D", 0, 0, quadSize);
    lk3d.insert(lk3d.end(), quad.begin(), quad.end());
    const std::string names("WOOD\0STONE\0", 12);
    std::vector<uint8_t> k3dd = Header("K3DD", 0, static_cast<uint32_t>(names.size()), quadSize);
    k3dd.insert(k3dd.end(), quad.begin(), quad.end());
    k3dd.insert(k3dd.end(), names.begin(), names.end());
    XFileDesc cube;
    cube.meshes = {XCubeMesh()};
    return {
        {"lk3d", lk3d},
        {"k3dd", k3dd},
        {"x_binary", WriteXFile(cube, XEncoding::Binary)},
        {"3ds_header", {0x4D, 0x4D, 6, 0, 0, 0}},
    };
}
} // namespace ferolt::test
