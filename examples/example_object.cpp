#include "examples/example_object.h"

#include "tests/support/geometry_block_encoder.h"
#include "tests/support/material_pack_writer.h"
#include "tests/support/texture_chunk_writer.h"

#include <array>
#include <string>
#include <vector>

namespace ferolt::example
{
namespace
{
using test::BlockVertex;
using test::GroupDesc;
using test::MeshDesc;
using test::StripDesc;
using test::StripOp;

struct Builder
{
    MeshDesc spec;

    uint32_t Key(std::array<float, 3> p, float u, float v)
    {
        spec.keys.push_back(BlockVertex{{p[0], p[1], p[2]}, {u, v}});
        return static_cast<uint32_t>(spec.keys.size() - 1);
    }
    // A strip of new vertices; faces alternate so a quad a, b, c, d (d opposite a) keeps one winding.
    static StripDesc Strip(std::initializer_list<uint32_t> keys)
    {
        StripDesc strip;
        for (uint32_t key : keys)
            strip.ops.push_back({StripOp::New, key});
        return strip;
    }
    // A quad with corners a, b, c and d = b + c - a, facing along (b - a) x (c - a).
    StripDesc Quad(std::array<float, 3> a, std::array<float, 3> b, std::array<float, 3> c)
    {
        std::array<float, 3> d{b[0] + c[0] - a[0], b[1] + c[1] - a[1], b[2] + c[2] - a[2]};
        return Strip({Key(a, 0, 0), Key(b, 1, 0), Key(c, 0, 1), Key(d, 1, 1)});
    }
    StripDesc Triangle(std::array<float, 3> a, std::array<float, 3> b, std::array<float, 3> c)
    {
        return Strip({Key(a, 0, 0), Key(b, 1, 0), Key(c, 0, 1)});
    }
};

// Positions on whole steps of the group bounds decode exactly.
GroupDesc Group(std::vector<StripDesc> strips)
{
    GroupDesc group;
    for (int i = 0; i < 5; ++i)
    {
        group.minimum[i] = i < 3 ? -8.0f : 0.0f;
        group.maximum[i] = group.minimum[i] + 65535.0f;
    }
    group.strips = std::move(strips);
    return group;
}

test::Bytes HouseBlock()
{
    Builder b;
    // Walls, each facing outwards.
    GroupDesc walls = Group({
        b.Quad({0, 0, 0}, {2, 0, 0}, {0, 0, 2}), // y = 0
        b.Quad({2, 0, 0}, {2, 2, 0}, {2, 0, 2}), // x = 2
        b.Quad({2, 2, 0}, {0, 2, 0}, {2, 2, 2}), // y = 2
        b.Quad({0, 2, 0}, {0, 0, 0}, {0, 2, 2}), // x = 0
    });
    GroupDesc floor = Group({b.Quad({0, 0, 0}, {0, 2, 0}, {2, 0, 0})});
    GroupDesc roof = Group({
        b.Triangle({0, 0, 2}, {2, 0, 2}, {1, 1, 3}),
        b.Triangle({2, 0, 2}, {2, 2, 2}, {1, 1, 3}),
        b.Triangle({2, 2, 2}, {0, 2, 2}, {1, 1, 3}),
        b.Triangle({0, 2, 2}, {0, 0, 2}, {1, 1, 3}),
    });
    b.spec.groups = {walls, floor, roof};
    test::BlockDesc block;
    block.meshes = {test::EncodeMesh(b.spec).bytes};
    return test::EncodeBlock(block);
}

// A colour lit by the scene's lights: diffuse in the colour, a darker ambient, no shine; a texture
// named here is laid over it.
test::Bytes LitColour(uint32_t rgb, const std::string& texture = {})
{
    test::MaterialRecordFields f;
    const uint32_t darker = (rgb >> 2) & 0x3F3F3F;
    f.colours = {0xFF000000u | darker, 0xFF000000u | rgb, 0xFF000000u, 0xFF000000u};
    f.power = 0.0f;
    if (!texture.empty())
    {
        f.flags = test::kRecordBaseName;
        f.body = test::InlineName(texture);
    }
    return test::MaterialRecord(f);
}

constexpr const char* kRoofTexture = "roof tiles";

// 8 x 8 texels of red tiles in rows, each row's joints half a tile on from the last.
test::Bytes RoofTiles()
{
    constexpr uint32_t kTile = 0xFFB0442Cu, kJoint = 0xFF6A2818u;
    std::vector<uint32_t> texels(64, kTile);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            if (y % 4 == 3 || x == (y < 4 ? 0u : 4u)) texels[y * 8 + x] = kJoint;
    return test::Jpeg2000CodeStream(8, 8, test::Planes(texels, false));
}

// Sand-coloured walls, a grey floor and the tiled roof: slot 0 the walls, 1 the floor, 2 the roof.
test::Bytes HouseMaterialPack()
{
    return test::MaterialPack(
        {.slots = {0, 1, 2},
         .records = {LitColour(0xD8C8A0), LitColour(0x808080), LitColour(0xFFFFFF, kRoofTexture)}});
}
} // namespace

test::Bytes HouseObjectFile(float offsetX)
{
    const test::Bytes block = HouseBlock();
    const std::array<float, 16> placement = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, offsetX, 0, 0, 1};
    test::ByteWriter records;
    records.U32(static_cast<uint32_t>(block.size())).U32(1).U32(72);
    records.Raw(test::InstanceRecord(0, 1, placement)).Raw(block);
    test::ObjectFileHeaderFields header;
    header.contentType = kViewerContentType;
    return test::ObjectFileWriter(header)
        .Bzip2Section(test::ChunkWriter()
                          .Chunk(test::kTextureChunk,
                                 test::TextureChunkContent(test::kTextureChunk, 0, kRoofTexture, RoofTiles()))
                          .Chunk(2, HouseMaterialPack())
                          .Chunk(8, records.Data())
                          .Data())
        .EndSection()
        .Data();
}
} // namespace ferolt::example
