// An object file with texture chunks of every kind and a material pack that names them, read and
// rendered the way the viewer does it: each quad shows its texture, a name used twice shares the
// first texture, and the alpha of a 4-component JPEG-2000 stream reaches the blend.
#include "codec/p3d_read_codec.h"

#include "engine/core/texture.h"
#include "tests/engine/render/render_view_fixture.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/material_pack_writer.h"
#include "tests/support/texture_chunk_writer.h"

using namespace ferolt::test;

namespace
{
constexpr GUID kType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID* const kAccepted[] = {&kType, nullptr};

class TexturedCodec : public CP3DReadCodec
{
public:
    using CP3DReadCodec::m_textures;
};

// 4 x 4 texels, each of the 2 x 2 texels given filling a quadrant, so that linear filtering at a
// quadrant's centre returns the texel itself.
std::vector<uint32_t> Quadrants(const std::vector<uint32_t>& texels)
{
    std::vector<uint32_t> out(16);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            out[y * 4 + x] = texels[(y / 2) * 2 + x / 2];
    return out;
}

// One quad per geometry group, side by side along x in the plane z = 0, facing +z, with texture
// coordinates (0, 0) at the top left corner. Quad i spans x from 3i - 7 to 3i - 5 and y from -1 to 1.
Bytes QuadsBlock(int count)
{
    MeshDesc desc;
    for (int i = 0; i < count; ++i)
    {
        const float left = float(3 * i - 7), right = left + 2;
        const uint32_t first = uint32_t(desc.keys.size());
        desc.keys.push_back({{left, 1, 0}, {0, 0}});
        desc.keys.push_back({{left, -1, 0}, {0, 1}});
        desc.keys.push_back({{right, 1, 0}, {1, 0}});
        desc.keys.push_back({{right, -1, 0}, {1, 1}});
        GroupDesc group;
        for (int c = 0; c < 5; ++c)
        {
            // Whole steps of the group bounds decode exactly.
            group.minimum[c] = c < 3 ? -8.0f : 0.0f;
            group.maximum[c] = group.minimum[c] + 65535.0f;
        }
        StripDesc strip;
        for (uint32_t k = 0; k < 4; ++k)
            strip.ops.push_back({StripOp::New, first + k});
        group.strips = {strip};
        desc.groups.push_back(group);
    }
    BlockDesc block;
    block.meshes = {EncodeMesh(desc).bytes};
    return EncodeBlock(block);
}

class TextureSceneTest : public rendertest::RenderViewTest
{
};

TEST_F(TextureSceneTest, EveryQuadShowsItsTexture)
{
    const std::vector<uint32_t> other = {0xFF808080u, 0xFF808080u, 0xFF808080u, 0xFF808080u};
    struct Quad
    {
        const char* title;
        uint32_t type;
        std::string name;
        Bytes image;
        std::vector<uint32_t> shown; // the 2 x 2 texels the quad shows
        uint8_t materialAlpha;
    };
    const Quad quads[] = {
        {"24-bit bottom-up BMP", kTextureChunk, "bottom.bmp",
         BmpFile(4, 4, Quadrants(kOpaqueTexels), 24, true), kOpaqueTexels, 0xFF},
        {"32-bit top-down BMP", kTextureChunkWithFlags, "top.bmp",
         BmpFile(4, 4, Quadrants(kOpaqueTexels), 32, false), kOpaqueTexels, 0xFF},
        {"JPEG-2000, 3 components", kTextureChunk, "rgb.j2k",
         Jpeg2000CodeStream(4, 4, Planes(Quadrants(kOpaqueTexels), false)), kOpaqueTexels, 0xFF},
        // A material that blends, so that the texture's alpha shows.
        {"JPEG-2000, 4 components", kTextureChunkWithFlags, "rgba.j2k",
         Jpeg2000CodeStream(4, 4, Planes(Quadrants(kTranslucentTexels), true)), kTranslucentTexels, 0xFE},
        {"a name used again with other bytes", kTextureChunk, "BOTTOM.BMP",
         BmpFile(4, 4, Quadrants(other), 24, true), kOpaqueTexels, 0xFF},
    };
    const int count = int(std::size(quads));

    ChunkWriter chunks;
    MaterialPackFields pack;
    for (int i = 0; i < count; ++i)
    {
        chunks.Chunk(quads[i].type, TextureChunkContent(quads[i].type, 0, quads[i].name, quads[i].image));
        pack.slots.push_back(uint32_t(i));
        pack.records.push_back(ColourRecord(0xFFFFFF, quads[i].materialAlpha, quads[i].name));
    }
    chunks.Chunk(2, MaterialPack(pack));
    const Bytes block = QuadsBlock(count);
    ByteWriter model;
    model.U32(uint32_t(block.size())).U32(1).U32(72);
    // Material set 1: the first pack of the file (0 is none).
    model.Raw(InstanceRecord(0, 1, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})).Raw(block);
    chunks.Chunk(8, model.Data());
    ObjectFileHeaderFields header;
    header.contentType = kType;
    const Bytes file = ObjectFileWriter(header).Bzip2Section(chunks.Data()).EndSection().Data();

    Start({{0, 0, 128, 96}});
    HWND w = Window({0, 0, 128, 96});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 16, 12);
    {
        TexturedCodec codec;
        ASSERT_TRUE(codec.Read(file.data(), file.size(), nullptr, nullptr, kAccepted));
        ASSERT_EQ(codec.m_textures.size(), size_t(count));
        EXPECT_EQ(codec.m_textures[4], codec.m_textures[0]) << "the second use of a name shares the first";
        std::vector<LMK::Object_*> objects;
        ASSERT_TRUE(codec.GetObjects(objects, false));
        ASSERT_EQ(objects.size(), 1u);
        objects_.push_back(objects[0]);
    }
    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, objects_), S_OK);
    const std::vector<uint32_t> pixels = Pixels(w);

    for (int i = 0; i < count; ++i)
    {
        SCOPED_TRACE(quads[i].title);
        for (int t = 0; t < 4; ++t)
        {
            // The centre of the texel's quadrant of the quad.
            const float x = float(3 * i - 7) + (t % 2 ? 1.5f : 0.5f), y = t / 2 ? -0.5f : 0.5f;
            const POINT p = Project(bb, {x, y, 0});
            const uint32_t texel = quads[i].shown[t];
            const float a = float(texel >> 24) / 255.0f * (quads[i].materialAlpha / 255.0f);
            const uint32_t background = quads[i].materialAlpha == 0xFF ? 0 : rendertest::kBackground;
            auto blend = [&](int shift) {
                return int(
                    std::lround(((texel >> shift) & 0xFF) * a + ((background >> shift) & 0xFF) * (1 - a)));
            };
            const rendertest::Rgb want = quads[i].materialAlpha == 0xFF
                                             ? rendertest::Split(texel)
                                             : rendertest::Rgb{blend(16), blend(8), blend(0)};
            const uint32_t got = pixels.at(size_t(p.y) * 128 + size_t(p.x));
            EXPECT_TRUE(rendertest::Near(got, want, 3))
                << "texel " << t << " at (" << p.x << ", " << p.y << "): got " << std::hex << got << ", want "
                << want.r << " " << want.g << " " << want.b;
        }
    }
}
} // namespace
