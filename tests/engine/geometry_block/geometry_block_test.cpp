// Compressed geometry blocks: round trips through the independent encoder, the three header forms,
// the float control around a decode, and damaged or hostile blocks that must fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "engine/scene/geometry_block.h"
#include "engine/scene/geometry_block_batch.h"
#include "platform/win32/crt.h"
#include "tests/support/geometry_block_encoder.h"

using namespace ferolt::test;

namespace
{

// Bounds one unit per quantisation step, so integer positions other than 0 and texture coordinates
// from 0 up decode exactly with 16 bits, and predictions move in steps of 2.
void GridBounds(GroupDesc& g)
{
    for (int i = 0; i < 5; ++i)
    {
        g.minimum[i] = i < 3 ? -8.0f : 0.0f;
        g.maximum[i] = g.minimum[i] + 65535.0f;
    }
}

StripOp N(uint32_t key)
{
    return {StripOp::New, key};
}
StripOp R(uint32_t key, bool copy = false)
{
    return {StripOp::Ring, key, copy};
}
StripOp B(uint32_t key, bool copy = false)
{
    return {StripOp::Back, key, copy};
}
StripDesc S(std::vector<StripOp> ops)
{
    StripDesc strip;
    strip.ops = std::move(ops);
    return strip;
}

// Corner k of the cube is (x, y, z) = (bit 0, bit 1, bit 2) mapped to -1 / +1.
MeshDesc Cube(bool predict)
{
    MeshDesc desc;
    desc.predict = predict;
    desc.ringBits = 5; // sixteen slots
    for (uint32_t k = 0; k < 8; ++k)
        desc.keys.push_back({{k & 1 ? 1.0f : -1.0f, k & 2 ? 1.0f : -1.0f, k & 4 ? 1.0f : -1.0f},
                             {k & 1 ? 1.0f : 0.0f, k & 2 ? 1.0f : 0.0f}});
    GroupDesc g;
    GridBounds(g);
    g.triple[0] = 7;
    g.strips = {
        S({N(0), N(1), N(2), N(3)}), S({N(4), N(5), N(6), N(7)}), S({R(0), R(1), R(4), R(5)}),
        S({B(2), B(3), B(6), B(7)}), S({B(0), R(2), R(4), B(6)}), S({B(1), B(3), R(5), R(7)}),
    };
    desc.groups = {g};
    return desc;
}

// Two materials: a textured group with a long strip (keys 4 and 5 lie on the strip's predictions,
// keys 1..3 an odd step away, so they need run entries), ring and back-reference copies, and an
// untextured group whose second strip is the first one turned a quarter about Z and moved.
MeshDesc TwoMaterials()
{
    MeshDesc desc;
    desc.noTextureBits = true;
    desc.ringBits = 4;
    desc.keys = {
        {{1, 1, 1}, {0, 0}}, {{2, 1, 1}, {1, 0}}, {{1, 2, 1}, {0, 1}}, {{2, 2, 1}, {1, 1}},
        {{3, 1, 1}, {2, 0}}, {{4, 1, 3}, {3, 0}}, {{1, 1, 4}, {0, 0}}, {{2, 1, 4}, {0, 0}},
        {{1, 3, 4}, {0, 0}}, {{2, 3, 4}, {0, 0}},
    };
    GroupDesc a;
    GridBounds(a);
    a.triple[0] = 1;
    a.triple[1] = 2;
    a.triple[2] = 3;
    a.strips = {
        S({N(0), N(1), N(2), N(3), N(4), N(5)}), S({R(3, true), B(5), R(1), B(4, true)}),
        S({B(0), B(0), R(5), B(2)}), // a repeated index makes no face but keeps the winding count
    };
    GroupDesc b;
    GridBounds(b);
    b.noTexture = true;
    b.triple[0] = 4;
    b.triple[2] = 5;
    StripDesc turned = S({N(6), N(7), N(8), N(9)});
    turned.copyOf = 0;
    turned.transform.ux = 0;
    turned.transform.uy = 8191;
    turned.transform.vx = -8191;
    turned.transform.vy = 0;
    turned.transform.t[0] = 10; // moved by twice the steps
    turned.transform.t[2] = -1;
    b.strips = {S({N(6), N(7), N(8), N(9)}), turned};
    desc.groups = {a, b};
    return desc;
}

// One mesh on its own, attribute ids from 0.
bool DecodeOneMesh(const std::vector<uint8_t>& bytes, LMK::DecodedMeshStruct_TYP& mesh)
{
    DWORD counter = 0;
    std::vector<LMK::IndexTripleStruct_TYP> triples;
    return LMK::DecodeCompressedMesh(2, bytes.data(), bytes.size(), &mesh, &counter, &triples, nullptr);
}

void ExpectMeshMatches(const EncodedMesh& encoded, const LMK::DecodedMeshStruct_TYP& mesh, bool textured)
{
    ASSERT_EQ(mesh.VertexCount(), encoded.decoded.size());
    for (size_t v = 0; v < encoded.decoded.size(); ++v)
    {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(mesh.Vertex(v).values[i], encoded.decoded[v].position[i]) << "vertex " << v;
        for (int i = 0; textured && i < 2; ++i)
            EXPECT_EQ(mesh.Vertex(v).values[LMK::kDecodedTextureSlot + i], encoded.decoded[v].uv[i])
                << "vertex " << v;
    }
    ASSERT_EQ(mesh.indices.size(), encoded.faces.size() * 3);
    for (size_t f = 0; f < encoded.faces.size(); ++f)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(mesh.indices[f * 3 + i], encoded.faces[f][i]) << "face " << f;
    EXPECT_EQ(mesh.groupFaceCounts, encoded.groupFaceCounts);
}

TEST(GeometryBlockRoundTrip, DecodesTheEncodedMeshesExactly)
{
    struct Case
    {
        const char* name;
        MeshDesc desc;
        size_t faces;
        bool needsRunEntry;
    };
    const Case cases[] = {
        {"cube, predicted", Cube(true), 12, true},
        {"cube, absolute", Cube(false), 12, false},
        {"two materials", TwoMaterials(), 11, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const EncodedMesh encoded = EncodeMesh(c.desc);
        ASSERT_TRUE(encoded.exact);
        ASSERT_EQ(encoded.faces.size(), c.faces);
        if (c.desc.predict)
        {
            EXPECT_GT(encoded.predicted, 0u);
        }
        EXPECT_EQ(encoded.runEntries > 0, c.needsRunEntry);

        BlockDesc block;
        block.meshes = {encoded.bytes};
        const std::vector<uint8_t> bytes = EncodeBlock(block);
        LMK::DecodedMeshListStruct_TYP list;
        ASSERT_EQ(LMK::DecodeMeshList(2, bytes.data(), bytes.size(), &list), S_OK);
        ASSERT_EQ(list.meshes.size(), 1u);
        ExpectMeshMatches(encoded, list.meshes[0], true);

        // One subset per group, its faces in order and its group's source indices.
        const auto subsets = list.Subsets();
        ASSERT_EQ(subsets.size(), c.desc.groups.size());
        DWORD first = 0;
        for (size_t g = 0; g < subsets.size(); ++g)
        {
            EXPECT_EQ(subsets[g].firstFace, first);
            EXPECT_EQ(subsets[g].faceCount, encoded.groupFaceCounts[g]);
            for (int i = 0; i < 3; ++i)
            {
                const uint16_t raw = c.desc.groups[g].triple[i];
                EXPECT_EQ(subsets[g].source.index[i], raw == 0xFFFF ? 0xFFFFFFFFu : raw);
            }
            for (DWORD f = first; f < first + subsets[g].faceCount; ++f)
                EXPECT_EQ(list.meshes[0].attributes[f], g);
            first += subsets[g].faceCount;
        }
    }
}

TEST(GeometryBlockRoundTrip, CubeDecodesToItsCorners)
{
    const MeshDesc desc = Cube(true);
    const EncodedMesh encoded = EncodeMesh(desc);
    LMK::DecodedMeshStruct_TYP mesh;
    DWORD counter = 0;
    std::vector<LMK::IndexTripleStruct_TYP> triples;
    ASSERT_TRUE(LMK::DecodeCompressedMesh(2, encoded.bytes.data(), encoded.bytes.size(), &mesh, &counter,
                                          &triples, nullptr));
    ASSERT_EQ(mesh.VertexCount(), 8u);
    for (uint32_t k = 0; k < 8; ++k)
    {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(mesh.Vertex(k).values[i], desc.keys[k].position[i]);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(mesh.Vertex(k).values[LMK::kDecodedTextureSlot + i], desc.keys[k].uv[i]);
    }
    // Every face of the cube has one normal axis: its three corners agree on exactly one coordinate.
    for (size_t f = 0; f < mesh.indices.size(); f += 3)
    {
        int shared = 0;
        for (int axis = 0; axis < 3; ++axis)
        {
            const DWORD bit = 1u << axis;
            const DWORD i0 = mesh.indices[f] & bit, i1 = mesh.indices[f + 1] & bit,
                        i2 = mesh.indices[f + 2] & bit;
            shared += i0 == i1 && i1 == i2;
        }
        EXPECT_EQ(shared, 1) << "face " << f / 3;
    }
    EXPECT_EQ(counter, 1u);
    ASSERT_EQ(triples.size(), 1u);
    EXPECT_EQ(triples[0].index[0], 7u);
}

// The copied strip lands where the transform puts it: (x, y, z) -> (-y, x, z), placed so that its first
// vertex moves by 2 x t steps = (+20, 0, -2).
TEST(GeometryBlockRoundTrip, CopiedStripIsTurnedAndMoved)
{
    const EncodedMesh encoded = EncodeMesh(TwoMaterials());
    LMK::DecodedMeshStruct_TYP mesh;
    ASSERT_TRUE(DecodeOneMesh(encoded.bytes, mesh));
    const size_t n = mesh.VertexCount();
    ASSERT_GE(n, 8u);
    // The last four vertices copy keys 6..9 (first vertex p = (1, 1, 4), turned p' = (-1, 1, 4)).
    const float source[4][3] = {{1, 1, 4}, {2, 1, 4}, {1, 3, 4}, {2, 3, 4}};
    for (int k = 0; k < 4; ++k)
    {
        const LMK::DecodedVertexStruct_TYP vertex = mesh.Vertex(n - 4 + k);
        const float* v = vertex.values;
        // The step is 1 only to single precision, so the move is 20 within a few ulps.
        EXPECT_NEAR(v[0], -source[k][1] + 2.0f + 20.0f, 1e-4);
        EXPECT_NEAR(v[1], source[k][0], 1e-6);
        EXPECT_NEAR(v[2], source[k][2] - 2.0f, 1e-5);
        EXPECT_EQ(mesh.Vertex(n - 4 + k).noTexture, 1);
        EXPECT_EQ(v[LMK::kDecodedTextureSlot], 0.0f);
    }
}

// The moved point of a copied strip is rounded to float before the translation is formed from it: a
// copy of (3, 3, 3) scaled by 1.7 lands one ulp below 3, where keeping the point in double gives 3.
// An optimiser that folds that rounding away (vectorised code did) changes the stored geometry.
TEST(GeometryBlockRoundTrip, ScaledCopyRoundsTheMovedPoint)
{
    MeshDesc desc;
    desc.keys = {{{3, 3, 3}, {0, 0}}, {{4, 3, 3}, {0, 0}}, {{3, 4, 3}, {0, 0}}};
    GroupDesc group;
    GridBounds(group);
    StripDesc scaled = S({N(0), N(1), N(2)});
    scaled.copyOf = 0;
    scaled.transform.scale = 1.7f;
    group.strips = {S({N(0), N(1), N(2)}), scaled};
    desc.groups = {group};
    const EncodedMesh encoded = EncodeMesh(desc);
    LMK::DecodedMeshStruct_TYP mesh;
    ASSERT_TRUE(DecodeOneMesh(encoded.bytes, mesh));
    ASSERT_EQ(mesh.VertexCount(), 6u);
    ASSERT_EQ(mesh.Vertex(0).values[0], 3.0f);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(mesh.Vertex(3).values[c], 0x1.7ffffep+1f) << c;
}

TEST(GeometryBlockHeader, ReadsEachFormWithinTheDeclaredSize)
{
    const std::vector<uint8_t> mesh = EncodeMesh(Cube(true)).bytes;
    struct Case
    {
        uint32_t magic;
        size_t lights;
        bool hasFileFields;
        bool hasCrease;
    };
    const Case cases[] = {
        {LMK::kMeshListMagicY, 2, true, true},
        {LMK::kMeshListMagicX, 0, true, false},
        {LMK::kMeshListMagicE, 0, false, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.magic);
        BlockDesc block;
        block.magic = c.magic;
        block.fileFlags[0] = 1;
        block.fileFlags[3] = 9;
        block.fileValue = 2.5f;
        block.fileByte = 0x5A;
        block.creaseAngle = 0.75f;
        if (c.lights) block.lights = {{{1, 2, 3}, {4, 5, 6, 7}}, {{-1, -2, -3}, {8, 9, 10, 11}}};
        block.meshes = {mesh, mesh};
        const std::vector<uint8_t> bytes = EncodeBlock(block);
        LMK::DecodedMeshListStruct_TYP list;
        ASSERT_EQ(LMK::DecodeMeshList(2, bytes.data(), bytes.size(), &list), S_OK);
        EXPECT_EQ(list.meshes.size(), 2u);
        EXPECT_EQ(list.attributeCounter, 2u);
        EXPECT_EQ(list.fileFlags[3], c.hasFileFields ? 9 : 0);
        EXPECT_EQ(list.fileValue, c.hasFileFields ? 2.5f : 0.0f);
        EXPECT_EQ(list.creaseAngle, c.hasCrease ? 0.75f : 0.0f);
        EXPECT_EQ(list.fileByte, c.hasCrease ? 0x5A : 0);
        ASSERT_EQ(list.lightPoints.size(), c.lights);
        if (c.lights)
        {
            EXPECT_EQ(list.lightPoints[1].position[2], -3.0f);
            uint32_t color;
            std::memcpy(&color, &list.lightPoints[1].color[3], 4);
            EXPECT_EQ(color, 11u);
        }
    }
}

// A group after a mesh's last face still receives its attribute id, so the next mesh's subsets keep
// their own source indices instead of the one before.
TEST(GeometryBlockHeader, GroupAfterLastFaceKeepsLaterSubsetsInStep)
{
    MeshDesc first = Cube(true);
    GroupDesc empty;
    GridBounds(empty);
    empty.triple[0] = 40;
    first.groups.push_back(empty);
    MeshDesc second = Cube(true);
    second.groups[0].triple[0] = 50;
    BlockDesc block;
    block.meshes = {EncodeMesh(first).bytes, EncodeMesh(second).bytes};
    const std::vector<uint8_t> bytes = EncodeBlock(block);
    LMK::DecodedMeshListStruct_TYP list;
    ASSERT_EQ(LMK::DecodeMeshList(2, bytes.data(), bytes.size(), &list), S_OK);
    const auto subsets = list.Subsets();
    ASSERT_EQ(subsets.size(), 3u);
    EXPECT_EQ(subsets[1].faceCount, 0u);
    EXPECT_EQ(subsets[1].source.index[0], 40u);
    EXPECT_EQ(subsets[2].mesh, 1u);
    EXPECT_EQ(subsets[2].source.index[0], 50u);
    EXPECT_EQ(list.meshes[1].attributes[0], 2u);
}

TEST(GeometryBlockDecode, RestoresTheCallersFloatControl)
{
    const EncodedMesh encoded = EncodeMesh(TwoMaterials());
    const unsigned original = _controlfp(0, 0);
    for (unsigned rounding : {_RC_NEAR, _RC_CHOP, _RC_UP, _RC_DOWN})
    {
        SCOPED_TRACE(rounding);
        _controlfp(rounding, _MCW_RC);
        const unsigned before = _controlfp(0, 0);
        LMK::DecodedMeshStruct_TYP mesh;
        DWORD counter = 0;
        std::vector<LMK::IndexTripleStruct_TYP> triples;
        ASSERT_TRUE(LMK::DecodeCompressedMesh(2, encoded.bytes.data(), encoded.bytes.size(), &mesh, &counter,
                                              &triples, nullptr));
        EXPECT_EQ(_controlfp(0, 0), before);
        // The decode always rounds to nearest, whatever the caller set.
        _controlfp(original, _MCW_RC);
        ExpectMeshMatches(encoded, mesh, true);
        // A mesh refused before decoding also leaves the word alone.
        _controlfp(rounding, _MCW_RC);
        std::vector<uint8_t> bad = encoded.bytes;
        bad[35] = 0; // ring bits
        EXPECT_FALSE(
            LMK::DecodeCompressedMesh(2, bad.data(), bad.size(), &mesh, &counter, &triples, nullptr));
        EXPECT_EQ(_controlfp(0, 0), before);
        _controlfp(original, _MCW_RC);
    }
}

// A stream that ends in the second pass keeps the faces decoded before the end.
TEST(GeometryBlockDecode, ShortStreamKeepsTheFacesBeforeTheEnd)
{
    const EncodedMesh encoded = EncodeMesh(Cube(true));
    size_t kept = 0;
    for (size_t cut = 1; cut < encoded.bytes.size() - 38; ++cut)
    {
        const size_t size = encoded.bytes.size() - cut;
        LMK::DecodedMeshStruct_TYP mesh;
        DWORD counter = 0;
        std::vector<LMK::IndexTripleStruct_TYP> triples;
        if (!LMK::DecodeCompressedMesh(2, encoded.bytes.data(), size, &mesh, &counter, &triples, nullptr))
            continue;
        ++kept;
        ASSERT_LT(mesh.indices.size(), encoded.faces.size() * 3);
        for (size_t i = 0; i < mesh.indices.size(); ++i)
            EXPECT_EQ(mesh.indices[i], encoded.faces[i / 3][i % 3]) << "cut " << cut;
    }
    EXPECT_GT(kept, 0u);
}

// Hostile header fields and counts are refused, never followed.
TEST(GeometryBlockDecode, RefusesMalformedMeshes)
{
    const EncodedMesh good = EncodeMesh(Cube(true));
    struct Case
    {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    auto setU32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    const Case cases[] = {
        {"version 3", [&](auto& b) { setU32(b, 0, 3); }},
        {"blend position type", [&](auto& b) { setU32(b, 8, 0x116); }},
        {"three-float texture set", [&](auto& b) { setU32(b, 8, 0x10112); }},
        {"ring of 2^20 slots", [](auto& b) { b[35] = 21; }},
        {"position bits 40", [](auto& b) { b[32] = 40; }},
        {"vertex capacity below the vertices made", [](auto& b) { b[26] = 5, b[27] = 0; }},
        {"table reaching past the data", [&](auto& b) { setU32(b, 38, 0x7FFFFFF0); }},
        {"no bytes", [](auto& b) { b.resize(37); }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = good.bytes;
        c.damage(bytes);
        LMK::DecodedMeshStruct_TYP mesh;
        DWORD counter = 0;
        std::vector<LMK::IndexTripleStruct_TYP> triples;
        EXPECT_FALSE(
            LMK::DecodeCompressedMesh(2, bytes.data(), bytes.size(), &mesh, &counter, &triples, nullptr));
        EXPECT_EQ(counter, 0u);
        EXPECT_TRUE(triples.empty());
    }
    LMK::DecodedMeshStruct_TYP mesh;
    DWORD counter = 0;
    std::vector<LMK::IndexTripleStruct_TYP> triples;
    EXPECT_FALSE(LMK::DecodeCompressedMesh(1, good.bytes.data(), good.bytes.size(), &mesh, &counter, &triples,
                                           nullptr))
        << "version above the caller's maximum";
}

TEST(GeometryBlockDecode, RefusesBlocksWhoseHeaderOrLightsPassTheDeclaredSize)
{
    const std::vector<uint8_t> mesh = EncodeMesh(Cube(true)).bytes;
    struct Case
    {
        const char* name;
        BlockDesc block;
        HRESULT result;
        size_t meshes;
    };
    BlockDesc base;
    base.meshes = {mesh};
    auto with = [&](auto change)
    {
        BlockDesc b = base;
        change(b);
        return b;
    };
    const Case cases[] = {
        {"good", base, S_OK, 1},
        {"declared beyond the buffer", with([](BlockDesc& b) { b.declaredSize = 0x10000000; }), E_FAIL, 0},
        {"declared inside the LKGY header", with([](BlockDesc& b) { b.declaredSize = 20; }), E_FAIL, 0},
        {"declared inside the LKGX header",
         with(
             [](BlockDesc& b)
             {
                 b.magic = LMK::kMeshListMagicX;
                 b.declaredSize = 16;
             }),
         E_FAIL, 0},
        {"light count past the block", with([](BlockDesc& b) { b.lightCount = 0x0FFFFFFF; }), E_FAIL, 0},
        {"light count one past the block",
         with([&](BlockDesc& b) { b.lightCount = (4 + mesh.size()) / 28 + 1; }), E_FAIL, 0},
        {"mesh count beyond the meshes", with([](BlockDesc& b) { b.meshCount = 0xFFFFFFFF; }), S_OK, 1},
        {"declared size ends inside the mesh", with([&](BlockDesc& b) { b.declaredSize = 64 + 4 + 30; }),
         S_OK, 0},
        {"unknown magic", with([](BlockDesc& b) { b.magic = 0x5A474B4C; }), E_FAIL, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = EncodeBlock(c.block);
        LMK::DecodedMeshListStruct_TYP list;
        EXPECT_EQ(LMK::DecodeMeshList(2, bytes.data(), bytes.size(), &list), c.result);
        EXPECT_EQ(list.meshes.size(), c.meshes);
        if (FAILED(c.result))
        {
            EXPECT_TRUE(list.lightPoints.empty());
        }
    }
    LMK::DecodedMeshListStruct_TYP list;
    const uint8_t tiny[11] = {0x4C, 0x4B, 0x47, 0x45};
    EXPECT_EQ(LMK::DecodeMeshList(2, tiny, sizeof tiny, &list), E_FAIL);
    EXPECT_EQ(LMK::DecodeMeshList(2, nullptr, 12, &list), E_INVALIDARG);
    EXPECT_EQ(LMK::DecodeMeshList(2, tiny, sizeof tiny, nullptr), E_INVALIDARG);
}

// Every prefix of a two-mesh block decodes or fails cleanly; the sanitizers watch the reads.
TEST(GeometryBlockDecode, EveryTruncationFailsCleanly)
{
    BlockDesc block;
    block.lights = {{{1, 2, 3}, {1, 2, 3, 4}}};
    block.meshes = {EncodeMesh(Cube(true)).bytes, EncodeMesh(TwoMaterials()).bytes};
    const std::vector<uint8_t> bytes = EncodeBlock(block);
    for (size_t size = 1; size < bytes.size(); ++size)
    {
        // Each prefix in a buffer of its own size, declared as what remains.
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        if (size >= 12)
            for (int i = 0; i < 4; ++i)
                prefix[8 + i] = static_cast<uint8_t>(size >> (8 * i));
        LMK::DecodedMeshListStruct_TYP list;
        const HRESULT hr = LMK::DecodeMeshList(2, prefix.data(), prefix.size(), &list);
        EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << size;
        EXPECT_LE(list.meshes.size(), 2u);
    }
}

// Everything a decoded list holds, floats by their bits.
std::string ListText(const LMK::DecodedMeshListStruct_TYP& list)
{
    std::string text;
    auto bytes = [&text](const void* data, size_t size)
    {
        const auto* b = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i)
            text += "0123456789abcdef"[b[i] >> 4], text += "0123456789abcdef"[b[i] & 15];
        text += ' ';
    };
    auto values = [&bytes](const auto& vector) { bytes(vector.data(), vector.size() * sizeof(vector[0])); };
    bytes(&list.magic, sizeof list.magic);
    bytes(list.fileFlags, sizeof list.fileFlags);
    bytes(&list.fileValue, sizeof list.fileValue);
    bytes(&list.fileByte, sizeof list.fileByte);
    bytes(&list.creaseAngle, sizeof list.creaseAngle);
    values(list.lightPoints);
    for (const LMK::DecodedMeshStruct_TYP& mesh : list.meshes)
    {
        text += "\nmesh ";
        bytes(&mesh.description, sizeof mesh.description);
        bytes(&mesh.valueStride, sizeof mesh.valueStride);
        bytes(&mesh.firstAttribute, sizeof mesh.firstAttribute);
        bytes(&mesh.groupCount, sizeof mesh.groupCount);
        values(mesh.values);
        values(mesh.noTexture);
        values(mesh.indices);
        values(mesh.attributes);
        values(mesh.groupFaceCounts);
    }
    text += "\ntriples ";
    values(list.triples);
    bytes(&list.attributeCounter, sizeof list.attributeCounter);
    return text;
}

// Blocks decoded together, their meshes spread over the threads, give each the list it gives alone:
// attribute ids and triples follow on from mesh to mesh, and a mesh that fails ends its own block's list
// and no other.
TEST(GeometryBlockDecode, BlocksDecodedTogetherGiveWhatEachGivesAlone)
{
    const std::vector<uint8_t> cube = EncodeMesh(Cube(true)).bytes, two = EncodeMesh(TwoMaterials()).bytes;
    std::vector<uint8_t> broken = cube;
    broken[0] = 3; // version 3
    auto block = [](std::vector<std::vector<uint8_t>> meshes, std::optional<uint32_t> meshCount = {})
    {
        BlockDesc desc;
        desc.lights = {{{1, 2, 3}, {1, 2, 3, 4}}};
        desc.meshes = std::move(meshes);
        desc.meshCount = meshCount;
        return EncodeBlock(desc);
    };
    std::vector<std::vector<uint8_t>> blocks = {
        block({cube, two, two, cube, two, cube, two, two, cube, two,
               cube, two, two, cube, two, cube, two, two, cube, two}),
        block({two, cube, two, cube, broken, two, cube, two, cube, two, cube, two, cube, two, cube, two, cube,
               two, cube}),
        block({broken, two, cube}),
        block({two, cube, two}, 0xFFFFFFFFu),
        block({cube, two}, 1),
        {0x4C, 0x4B, 0x47, 0x45},
    };
    // Cut inside its meshes: the last one that fits still decodes up to the cut.
    const std::vector<uint8_t> whole = block({two, cube, two, cube, two});
    for (size_t size = whole.size() / 3; size < whole.size(); size += whole.size() / 7)
    {
        std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        for (int i = 0; i < 4; ++i)
            prefix[8 + i] = static_cast<uint8_t>(size >> (8 * i));
        blocks.push_back(std::move(prefix));
    }

    std::vector<LMK::GeometryBlockViewStruct_TYP> views;
    std::vector<std::string> alone;
    for (const std::vector<uint8_t>& bytes : blocks)
    {
        views.push_back({bytes.data(), bytes.size()});
        LMK::DecodedMeshListStruct_TYP list;
        const HRESULT hr = LMK::DecodeMeshList(2, bytes.data(), bytes.size(), &list);
        alone.push_back(std::to_string(hr) + " " + ListText(list));
    }
    ASSERT_NE(alone[0], alone[1]);
    for (unsigned threads : {1u, 3u, 8u})
    {
        std::vector<LMK::DecodedBlockStruct_TYP> together(blocks.size());
        LMK::DecodeMeshLists(2, views, together, threads);
        for (size_t b = 0; b < blocks.size(); ++b)
            EXPECT_EQ(std::to_string(together[b].result) + " " + ListText(together[b].list), alone[b])
                << "block " << b << " on " << threads << " threads";
    }
}

} // namespace
