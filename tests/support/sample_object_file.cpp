#include "tests/support/sample_object_file.h"

#include "tests/support/animation_writer.h"
#include "tests/support/environment_record_writer.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/light_record_writer.h"

#include <array>

namespace ferolt::test
{
Bytes CubeMesh(uint16_t source)
{
    MeshDesc mesh;
    GroupDesc group;
    // Whole steps of the bounds decode exactly.
    for (int i = 0; i < 5; ++i)
    {
        group.minimum[i] = i < 3 ? -8.0f : 0.0f;
        group.maximum[i] = group.minimum[i] + 65535.0f;
    }
    // Corners a, b, c and b + c - a, facing along (b - a) x (c - a); a strip keeps one winding.
    auto quad = [&](std::array<float, 3> a, std::array<float, 3> b, std::array<float, 3> c)
    {
        const std::array<float, 3> d{b[0] + c[0] - a[0], b[1] + c[1] - a[1], b[2] + c[2] - a[2]};
        StripDesc strip;
        const std::array<float, 2> uv[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        int k = 0;
        for (const auto& p : {a, b, c, d})
        {
            mesh.keys.push_back({{p[0], p[1], p[2]}, {uv[k][0], uv[k][1]}});
            strip.ops.push_back({StripOp::New, static_cast<uint32_t>(mesh.keys.size() - 1)});
            ++k;
        }
        group.strips.push_back(strip);
    };
    quad({0, 0, 0}, {0, 2, 0}, {2, 0, 0}); // z = 0
    quad({0, 0, 2}, {2, 0, 2}, {0, 2, 2}); // z = 2
    quad({0, 0, 0}, {2, 0, 0}, {0, 0, 2}); // y = 0
    quad({2, 2, 0}, {0, 2, 0}, {2, 2, 2}); // y = 2
    quad({2, 0, 0}, {2, 2, 0}, {2, 0, 2}); // x = 2
    quad({0, 2, 0}, {0, 0, 0}, {0, 2, 2}); // x = 0
    group.triple[0] = source;
    mesh.groups = {group};
    return EncodeMesh(mesh).bytes;
}

Bytes CubeBlock(uint16_t source)
{
    BlockDesc block;
    block.meshes = {CubeMesh(source)};
    return EncodeBlock(block);
}

Bytes SampleObjectChunks(uint32_t surfaceType)
{
    const Bytes block = CubeBlock(0);
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::array<float, 16> moved = identity;
    moved[12] = 3.0f;

    ByteWriter model;
    model.U32(static_cast<uint32_t>(block.size())).U32(2).U32(76);
    model.Raw(InstanceRecord(0, 0, identity, 0)).Raw(InstanceRecord(1, 0, moved, 0)).Raw(block);

    ByteWriter viewpoints;
    for (float v : {1.0f, 1.0f, 1.0f, 6.0f, 5.0f, 4.0f, 0.5f, 0.0f})
        viewpoints.F32(v);
    const std::string nameText = "..Front\x01";
    const Bytes names(nameText.begin(), nameText.end());

    ByteWriter chunkItems;
    chunkItems.Raw(ModelChunkItem(0x111, 0, viewpoints.Data()))
        .Raw(ModelChunkItem(0x10002, 0, names))
        .Raw(ModelChunkItem(kBackgroundChunkId, 0, BackgroundChunk({})));
    if (surfaceType != 0)
    {
        // Surface type, then the attributes: no back-face plane, the surface plane z = 0 (whose normal
        // lays the light map out), no back face, a special surface (one that takes a light map).
        ByteWriter attributes;
        attributes.U32(surfaceType);
        for (float v : {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f})
            attributes.F32(v);
        attributes.U8(0).U8(1);
        chunkItems.Raw(ModelChunkItem(276, 0, attributes.Data()));
    }

    LightRecordFields light;
    light.position[2] = 10.0f;
    const Bytes record = LightRecord(light);
    ByteWriter lights;
    lights.U32(0).U32(static_cast<uint32_t>(record.size())).Raw(record);

    // The cube's group turns a quarter about z in its first second.
    AnimationDesc animation;
    animation.nodes.resize(1);
    animation.nodes[0].rotation =
        AnimationCurveDesc{0.0f, 1.0f, 0, 1, {{0.0f, RotationZ(0.0f)}, {1.0f, RotationZ(1.5707964f)}}};
    animation.clips = {{"turn", 0.0f, 1.0f}};
    animation.indices = {0};

    return ChunkWriter()
        .Chunk(11, ByteWriter().U32(1).U32(0).U32(0xFF).Data())
        .Chunk(8, model.Data())
        .Chunk(3, ByteWriter().U32(0).Raw(AnimationStream(animation)).Data())
        .Chunk(7, chunkItems.Data())
        .Chunk(9, lights.Data())
        .Data();
}

Bytes SampleObjectFile(const GUID& contentType, bool bzip2)
{
    ObjectFileHeaderFields header;
    header.contentType = contentType;
    ObjectFileWriter writer(header);
    if (bzip2)
        writer.Bzip2Section(SampleObjectChunks());
    else
        writer.StoredSection(SampleObjectChunks());
    return writer.EndSection().Data();
}
} // namespace ferolt::test
