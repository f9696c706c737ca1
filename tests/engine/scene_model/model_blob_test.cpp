// Model blobs, packed model containers and "v7q!" containers, loaded by name: what the written records
// become (faces, subsets, materials, textures, names, chunks), how quads, hard edges and instances are
// built, and damaged files of each form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/core/material.h"
#include "engine/scene/lr_model_loading_api.h"
#include "engine/scene/model_v7q.h"
#include "scene_fixture.h"
#include "tests/support/model_blob_writer.h"
#include "tests/support/png_image.h"
#include "tests/support/temp_tree.h"

namespace
{
using namespace ferolt::test;
using scenetest::SceneTest;

// A unit square of two quads sharing an edge, with a face normal up (+z), two materials and strings.
RecordLayout TwoQuads()
{
    RecordLayout l;
    l.lightPoints = {{1, 0.5f, 0, 1, 2, 3}};
    RecordMaterial red;
    red.color1 = {1, 0, 0};
    red.diffuse = 0.5f;
    RecordMaterial blue;
    blue.color1 = {0, 0, 1};
    blue.transparency = 0.25f;
    blue.power = 3.0f;
    l.materials = {red, blue};
    l.strings = {"Left", "Right"};
    l.partFaceCounts = {2};
    l.normals = {{0, 0, 1}};
    for (float x : {0.0f, 1.0f, 2.0f})
        for (float y : {0.0f, 1.0f})
            l.vertices.push_back({x, y, 0, x / 2, y});
    // Vertices: 0 (0,0) 1 (0,1) 2 (1,0) 3 (1,1) 4 (2,0) 5 (2,1).
    l.faces = {{{0, 2, 3, 1}, {0, 1, 0, 0}, 0x1, 0, 0, 0}, {{2, 4, 5, 3}, {1, 1, 1, 0}, 0x1, 0, 1, 0}};
    return l;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Loaded
{
    HRESULT hr;
    LMK::Model_* model;
};

class ModelBlobTest : public SceneTest
{
protected:
    Loaded LoadFile(const std::vector<uint8_t>& bytes, BYTE noResmooth = 0)
    {
        const std::string name = "m" + std::to_string(counter_++) + ".bin";
        tree_.Write(name, bytes);
        LMK::Model_* model = nullptr;
        const HRESULT hr = LRLoadModelEx(tree_.Path(name).c_str(), 0, 1, noResmooth, &model, 1, 1);
        return {hr, model};
    }
    TempTree tree_;
    int counter_ = 0;
};

void ExpectFaces(LMK::Model_* model, DWORD subsets, DWORD faces)
{
    EXPECT_EQ(model->subsetCount, subsets);
    EXPECT_EQ(model->TotalFaceCount(), faces);
}

// Every subset's triangles must face +z, as the records' face normal says.
void ExpectFacingUp(LMK::Model_* model)
{
    for (DWORD s = 0; s < model->subsetCount; ++s)
        for (DWORD f = 0; f < model->subsets[s].faceCount; ++f)
        {
            LMK::ModelVertexStruct_TYP v[3];
            ASSERT_EQ(model->GetFaceVertices(s, model->subsets[s].firstFace + f, false, v), S_OK);
            const float ax = v[1].position[0] - v[0].position[0], ay = v[1].position[1] - v[0].position[1];
            const float bx = v[2].position[0] - v[0].position[0], by = v[2].position[1] - v[0].position[1];
            EXPECT_GT(ax * by - ay * bx, 0.0f);
        }
}

TEST_F(ModelBlobTest, RecordLayoutFilesHoldWhatWasWritten)
{
    const RecordLayout layout = TwoQuads();
    BlobDesc blob;
    blob.section = WriteRecordLayout(layout, true);
    blob.name = "Squares";
    blob.options = 0x28; // file flags 1 and 3
    blob.value = 7;
    blob.chunks = {{0x500, {1, 2, 3}}};
    RecordLayout reversed = layout;
    // Written clockwise: the face normal turns them back.
    for (RecordFace& f : reversed.faces)
        std::swap(f.corners[1], f.corners[3]);
    BlobDesc clockwise = blob;
    clockwise.section = WriteRecordLayout(reversed, true);
    const struct
    {
        const char* name;
        std::vector<uint8_t> file;
        const char* modelName;
        DWORD chunks;
    } cases[] = {
        {"blob_lmo_1_1", WriteModelBlob(blob), "Squares", 1},
        {"blob_aco_1_0",
         [&]
         {
             BlobDesc b = blob;
             b.header = "ACO V1.0";
             return WriteModelBlob(b);
         }(),
         "Squares", 1},
        {"blob_clockwise_faces", WriteModelBlob(clockwise), "Squares", 1},
        {"packed_with_name_list", WritePackedContainer({"Left", "Right"}, WriteRecordLayout(layout, false)),
         nullptr, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Loaded loaded = LoadFile(c.file);
        ASSERT_EQ(loaded.hr, S_OK);
        ASSERT_NE(loaded.model, nullptr);
        LMK::Model_* model = loaded.model;
        ExpectFaces(model, 2, 4);
        ExpectFacingUp(model);
        ASSERT_EQ(model->lightPointCount, 1u);
        EXPECT_FLOAT_EQ(model->lightPoints[0].position[2], 3.0f);
        std::map<DWORD, const LMK::Material_*> byMaterial;
        for (DWORD s = 0; s < model->subsetCount; ++s)
            byMaterial[model->subsets[s].sourceIndex3] = model->subsets[s].material;
        ASSERT_EQ(byMaterial.size(), 2u);
        ASSERT_NE(byMaterial[0], nullptr);
        ASSERT_NE(byMaterial[1], nullptr);
        EXPECT_FLOAT_EQ(byMaterial[0]->material.Diffuse.r, 0.5f);
        EXPECT_FLOAT_EQ(byMaterial[0]->material.Ambient.r, 0.25f);
        EXPECT_FLOAT_EQ(byMaterial[1]->material.Diffuse.a, 0.75f);
        EXPECT_FLOAT_EQ(byMaterial[1]->material.Power, 9.0f);
        EXPECT_FLOAT_EQ(byMaterial[0]->material.Power, 5.0f);
        ASSERT_NE(model->nameList, nullptr);
        EXPECT_STREQ(model->nameList, "Left");
        if (c.modelName)
        {
            ASSERT_NE(model->name, nullptr);
            EXPECT_STREQ(model->name, c.modelName);
            EXPECT_EQ(model->fileFlags[1], 1);
            EXPECT_EQ(model->fileFlags[2], 0);
            EXPECT_EQ(model->fileFlags[3], 1);
            EXPECT_FLOAT_EQ(model->fileValue, 7.0f);
        }
        EXPECT_EQ(model->chunks.size(), c.chunks);
        model->Release();
    }
}

TEST_F(ModelBlobTest, ChecksumAndChunkTable)
{
    BlobDesc blob;
    blob.section = WriteRecordLayout(TwoQuads(), true);
    const struct
    {
        const char* name;
        int32_t adjust;
        size_t chunkCount;
        HRESULT hr;
        size_t modelChunks;
    } cases[] = {
        {"sum_as_stored", 0, 1, S_OK, 1},
        {"stored_one_above", 1, 1, S_OK, 1},
        {"stored_two_above", 2, 1, E_FAIL, 0},
        {"stored_one_below", -1, 1, E_FAIL, 0},
        {"four_records", 0, 4, S_OK, 4},
        {"extended_table_of_five", 0, 5, S_OK, 5},
        {"extended_table_of_seven", 0, 7, S_OK, 7},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        BlobDesc desc = blob;
        desc.checksumAdjust = c.adjust;
        for (size_t i = 0; i < c.chunkCount; ++i)
            desc.chunks.push_back({uint32_t(0x300 + i), {uint8_t(i), 9}});
        const Loaded loaded = LoadFile(WriteModelBlob(desc));
        EXPECT_EQ(loaded.hr, c.hr);
        if (!loaded.model) continue;
        ASSERT_EQ(loaded.model->chunks.size(), c.modelChunks);
        for (size_t i = 0; i < c.modelChunks; ++i)
        {
            EXPECT_EQ(loaded.model->chunks[i].id, 0x300 + i);
            EXPECT_EQ(loaded.model->chunks[i].data[0], i);
        }
        loaded.model->Release();
    }
}

TEST_F(ModelBlobTest, QuadsAndDegenerateFaces)
{
    const struct
    {
        const char* name;
        std::array<uint32_t, 4> corners;
        uint16_t flags;
        DWORD faces;
    } cases[] = {
        {"quad", {0, 2, 3, 1}, 1, 2},
        {"quad_with_c2_equal_to_c3", {0, 2, 3, 3}, 1, 1},
        {"quad_with_c0_equal_to_c2", {0, 2, 0, 1}, 1, 0},
        {"triangle", {0, 2, 3, 0}, 0, 1},
        {"triangle_with_two_equal_corners", {0, 2, 2, 0}, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        RecordLayout l = TwoQuads();
        l.faces[0].corners = c.corners;
        l.faces[0].flags = c.flags;
        const Loaded loaded = LoadFile(WritePackedContainer({}, WriteRecordLayout(l, false)));
        ASSERT_EQ(loaded.hr, S_OK);
        EXPECT_EQ(loaded.model->TotalFaceCount(), c.faces + 2);
        loaded.model->Release();
    }
}

TEST_F(ModelBlobTest, IndicesPastTheirArrays)
{
    const struct
    {
        const char* name;
        void (*change)(RecordLayout*);
        DWORD faces;
        bool nullMaterial;
    } cases[] = {
        {"normal_index_past_the_normals", [](RecordLayout* l) { l->faces[1].normal = 9; }, 4, false},
        {"no_normals_at_all", [](RecordLayout* l) { l->normals.clear(); }, 4, false},
        {"neighbour_past_the_faces", [](RecordLayout* l) { l->faces[0].neighbours[1] = 70; }, 4, false},
        {"corner_past_the_vertices", [](RecordLayout* l) { l->faces[1].corners[2] = 6; }, 2, false},
        {"material_past_the_materials", [](RecordLayout* l) { l->faces[1].material = 5; }, 4, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        RecordLayout l = TwoQuads();
        c.change(&l);
        const Loaded loaded = LoadFile(WritePackedContainer({}, WriteRecordLayout(l, false)));
        ASSERT_EQ(loaded.hr, S_OK);
        EXPECT_EQ(loaded.model->TotalFaceCount(), c.faces);
        bool anyNull = false;
        for (DWORD s = 0; s < loaded.model->subsetCount; ++s)
            anyNull = anyNull || !loaded.model->subsets[s].material;
        EXPECT_EQ(anyNull, c.nullMaterial);
        loaded.model->Release();
    }
}

TEST_F(ModelBlobTest, HardEdgesSplitVerticesUnlessResmoothingIsOff)
{
    // The shared edge 2-3 is hard in both faces, and its vertices are marked: each side keeps its own
    // copies of them. Split code 0xFFFF gives every corner its own vertex.
    RecordLayout hard = TwoQuads();
    hard.materials.resize(1);
    hard.faces[1].material = 0;
    hard.faces[0].flags |= 0x20 << 1; // edge 1: corner 2 -> 3
    hard.faces[1].flags |= 0x20 << 3; // edge 3: corner 3 -> 2
    hard.vertices[2].flags = hard.vertices[3].flags = 0x7E10;
    RecordLayout everyCorner = TwoQuads();
    everyCorner.materials.resize(1);
    everyCorner.faces[1].material = 0;
    everyCorner.vertices[2].split = everyCorner.vertices[3].split = 0xFFFF;
    const struct
    {
        const char* name;
        RecordLayout layout;
        BYTE noResmooth;
        DWORD vertices;
    } cases[] = {
        {"smooth",
         []
         {
             RecordLayout l = TwoQuads();
             l.materials.resize(1);
             l.faces[1].material = 0;
             return l;
         }(),
         0, 6},
        {"hard_edge", hard, 0, 8},
        {"hard_edge_without_resmoothing", hard, 1, 6},
        {"corner_split_code", everyCorner, 0, 8},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Loaded loaded =
            LoadFile(WritePackedContainer({}, WriteRecordLayout(c.layout, false)), c.noResmooth);
        ASSERT_EQ(loaded.hr, S_OK);
        auto* data = scenetest::Primary(loaded.model);
        ASSERT_NE(data, nullptr);
        DWORD vertices = 0;
        for (DWORD p = 0; p < loaded.model->partCount; ++p)
            vertices += data->parts[p]->mesh->GetNumVertices();
        EXPECT_EQ(vertices, c.vertices);
        loaded.model->Release();
    }
}

TEST_F(ModelBlobTest, TexturesByNameOrFromTheEmbeddedTable)
{
    const uint32_t pixels[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
    ASSERT_TRUE(WritePng(tree_.Path("Left.png"), pixels, 2, 2, 8));
    const std::vector<uint8_t> png = ReadFileBytes(tree_.Path("Left.png"));
    RecordLayout l = TwoQuads();
    l.strings = {"Left.png", "Missing.png", "Tinted.png"};
    l.materials.push_back(l.materials[0]);
    for (uint32_t m = 0; m < 3; ++m)
    {
        l.materials[m].flags = 1;
        l.materials[m].texture = m;
        l.materials[m].color1 = {1, 1, 1};
    }
    l.faces.push_back({{0, 2, 3, 1}, {2, 2, 2, 2}, 0x1, 0, 2, 0});
    l.partFaceCounts = {3};
    // Table: an image for string 1, a colour for string 2.
    std::vector<uint8_t> table = {2, 0};
    auto entry = [&](uint16_t code, uint32_t value)
    {
        table.insert(table.end(), {uint8_t(code), uint8_t(code >> 8)});
        for (int i = 0; i < 4; ++i)
            table.push_back(uint8_t(value >> (8 * i)));
    };
    entry(1, uint32_t(png.size()));
    entry(0x8002, 0x00FF8000); // blue 0xFF, green 0x80, red 0
    table.insert(table.end(), png.begin(), png.end());
    BlobDesc blob;
    blob.section = WriteRecordLayout(l, true);
    blob.chunks = {{256, table}};
    const Loaded loaded = LoadFile(WriteModelBlob(blob));
    ASSERT_EQ(loaded.hr, S_OK);
    ASSERT_EQ(loaded.model->subsetCount, 3u);
    for (DWORD s = 0; s < 3; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = loaded.model->subsets[s];
        SCOPED_TRACE(subset.sourceIndex3);
        ASSERT_NE(subset.material, nullptr);
        EXPECT_EQ(subset.sourceIndex2, subset.sourceIndex3);
        EXPECT_EQ(subset.material->baseTexture != nullptr, subset.sourceIndex3 != 2);
        if (subset.sourceIndex3 == 2)
        {
            // The table's colour times the diffuse factor (0.5).
            EXPECT_NEAR(subset.material->storedDiffuse.g, 128 / 255.0f * 0.5f, 1e-5f);
            EXPECT_NEAR(subset.material->storedDiffuse.b, 0.5f, 1e-5f);
        }
    }
    loaded.model->Release();
}

StreamDesc TwoPartStream()
{
    StreamDesc s;
    s.name = "Streamed";
    s.strings = {"Wood", "Stone"};
    s.lightPoints = {{255, 0, 51, 1, 2, 3}};
    StreamMaterial a, b;
    a.color1 = {255, 0, 0};
    b.color1 = {0, 255, 0};
    b.transparency = 0x4000; // transparency 1 - 0.25, so alpha 0.25
    s.materials = {a, b};
    StreamPart full;
    full.ranges = {0, 0, 0, 2, 2, 2, 0, 1, 0, 1};
    full.vertices = {{0, 0, 0, 0, 0},
                     {32767, 0, 0, 32767, 0},
                     {32767, 32767, 0, 32767, 32767},
                     {0, 32767, 0, 0, 32767},
                     {-1000, 100, 5, 1, 2}};
    full.faces = {{0, 1, 2, 3}, {0, 2, 4}};
    full.groups = {0, 1};
    StreamPart moved;
    moved.instance = true;
    moved.transform = {0, 1, 0, -1, 0, 0, 0, 0, 1, 10, 20, 30};
    s.parts = {full, moved};
    return s;
}

TEST_F(ModelBlobTest, StreamsHoldWhatWasWritten)
{
    const StreamDesc desc = TwoPartStream();
    const std::vector<uint8_t> stream = WriteV7QStream(desc);
    StreamDesc withIdentifiers = desc;
    withIdentifiers.identifiers = 2;
    StreamDesc oneIdentifier = desc;
    oneIdentifier.identifiers = 1;
    const struct
    {
        const char* name;
        std::vector<uint8_t> file;
    } cases[] = {
        {"stored", WriteV7QContainer(stream, 0)},
        {"zlib", WriteV7QContainer(stream, 1)},
        {"packed", WritePackedContainer({}, stream)},
        {"packed_one_identifier", WritePackedContainer({}, WriteV7QStream(oneIdentifier))},
        {"packed_two_identifiers", WritePackedContainer({}, WriteV7QStream(withIdentifiers))},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Loaded loaded = LoadFile(c.file);
        ASSERT_EQ(loaded.hr, S_OK);
        ASSERT_NE(loaded.model, nullptr);
        LMK::Model_* model = loaded.model;
        // Two groups in each of the two parts; the quad gives two triangles.
        ExpectFaces(model, 2, 6);
        ASSERT_NE(model->name, nullptr);
        EXPECT_STREQ(model->name, "Streamed");
        ASSERT_EQ(model->lightPointCount, 1u);
        EXPECT_FLOAT_EQ(model->lightPoints[0].color[2], 0.2f);
        // Every decoded corner is a written grid point, or that point moved by the instance.
        std::vector<std::array<float, 3>> expected;
        for (const auto& q : desc.parts[0].vertices)
        {
            const float x = StreamValue(q[0], 0, 2), y = StreamValue(q[1], 0, 2), z = StreamValue(q[2], 0, 2);
            expected.push_back({x, y, z});
            expected.push_back({-y + 10, x + 20, z + 30});
        }
        for (DWORD s = 0; s < model->subsetCount; ++s)
        {
            const LMK::SubsetStruct_TYP& subset = model->subsets[s];
            ASSERT_NE(subset.material, nullptr);
            EXPECT_FLOAT_EQ(subset.material->material.Diffuse.a, subset.sourceIndex3 == 1 ? 0.25f : 1.0f);
            for (DWORD f = 0; f < subset.faceCount; ++f)
            {
                LMK::ModelVertexStruct_TYP v[3];
                ASSERT_EQ(model->GetFaceVertices(s, subset.firstFace + f, false, v), S_OK);
                for (const auto& vertex : v)
                    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(),
                                            [&](const std::array<float, 3>& e)
                                            {
                                                return std::fabs(e[0] - vertex.position[0]) < 1e-4f &&
                                                       std::fabs(e[1] - vertex.position[1]) < 1e-4f &&
                                                       std::fabs(e[2] - vertex.position[2]) < 1e-4f;
                                            }))
                        << vertex.position[0] << " " << vertex.position[1] << " " << vertex.position[2];
            }
        }
        model->Release();
    }
}

TEST_F(ModelBlobTest, StreamReaderKeepsPartsBeforeAFailedOne)
{
    StreamDesc desc = TwoPartStream();
    desc.parts[1].source = 1; // names itself: refused, the first part stays
    const std::vector<uint8_t> stream = WriteV7QStream(desc);
    LMK::V7QModelStruct_TYP model;
    bool all = true;
    ASSERT_TRUE(LMK::ReadV7QModel(nullptr, stream.data(), DWORD(stream.size()), &model, 0, nullptr, &all));
    EXPECT_FALSE(all);
    ASSERT_EQ(model.parts.size(), 1u);
    EXPECT_EQ(model.parts[0].vertices.size(), 5u);
    ASSERT_EQ(model.parts[0].faces.size(), 2u);
    EXPECT_EQ(model.parts[0].faces[0].flags, LMK::kV7QFaceQuad);
    const DWORD quad[4] = {0, 1, 2, 3}, triangle[4] = {0, 2, 4, 4};
    EXPECT_TRUE(std::equal(quad, quad + 4, model.parts[0].faces[0].corners));
    EXPECT_TRUE(std::equal(triangle, triangle + 4, model.parts[0].faces[1].corners));
    EXPECT_EQ(model.parts[0].faces[1].group, 1u);
    EXPECT_EQ(model.strings, (std::vector<std::string>{"Wood", "Stone"}));
}

TEST_F(ModelBlobTest, LongStreamStringsAreCutNotWrapped)
{
    // A string record holds 255 characters: a longer string keeps its first 255, never its length
    // modulo 256.
    StreamDesc desc = TwoPartStream();
    desc.strings[0] = std::string(300, 'w');
    const std::vector<uint8_t> stream = WriteV7QStream(desc);
    LMK::V7QModelStruct_TYP model;
    ASSERT_TRUE(LMK::ReadV7QModel(nullptr, stream.data(), DWORD(stream.size()), &model, 0, nullptr, nullptr));
    LMK::BlobRecordsStruct_TYP records;
    LMK::ConvertV7QToRecords(model, &records);
    ASSERT_EQ(records.strings.size(), 2u);
    EXPECT_EQ(records.strings[0], std::string(255, 'w'));
    EXPECT_EQ(records.strings[1], "Stone");
}

TEST_F(ModelBlobTest, DamagedFilesFailCleanly)
{
    const std::vector<uint8_t> stream = WriteV7QStream(TwoPartStream());
    BlobDesc blob;
    blob.section = WriteRecordLayout(TwoQuads(), true);
    blob.chunks = {{0x400, {1, 2}}, {20, {0, 0}}, {256, {1, 0, 0, 0, 0, 0, 0x80}}};
    const std::vector<uint8_t> files[] = {
        WriteModelBlob(blob),
        WritePackedContainer({"A"}, WriteRecordLayout(TwoQuads(), false)),
        WriteV7QContainer(stream, 0),
        WriteV7QContainer(stream, 1),
        WritePackedContainer({}, stream),
    };
    for (size_t i = 0; i < std::size(files); ++i)
    {
        SCOPED_TRACE(i);
        const std::vector<uint8_t>& whole = files[i];
        auto tryLoad = [&](const std::vector<uint8_t>& bytes)
        {
            const Loaded loaded = LoadFile(bytes);
            if (loaded.model) loaded.model->Release();
        };
        for (size_t n = 0; n < whole.size(); n += (n < 300 ? 1 : 7))
            tryLoad(std::vector<uint8_t>(whole.begin(), whole.begin() + n));
        for (size_t at = 0; at < whole.size(); at += (at < 300 ? 1 : 5))
        {
            std::vector<uint8_t> bytes = whole;
            bytes[at] ^= 0xFF;
            tryLoad(bytes);
        }
    }
    // Containers whose body is not there, does not inflate or inflates short.
    std::vector<uint8_t> pastEnd = WriteV7QContainer(stream, 0);
    const uint32_t far = 0x7FFFFFF0;
    std::memcpy(pastEnd.data() + 8, &far, 4);
    std::vector<uint8_t> notZlib = WriteV7QContainer(stream, 1);
    for (size_t at = 60; at < notZlib.size(); ++at)
        notZlib[at] = 0x55;
    std::vector<uint8_t> inflatesShort = WriteV7QContainer(stream, 1);
    const uint32_t more = uint32_t(stream.size() + 100);
    std::memcpy(inflatesShort.data() + 16, &more, 4);
    std::vector<uint8_t> storedShort = WriteV7QContainer(stream, 0);
    std::memcpy(storedShort.data() + 16, &more, 4);
    BlobDesc sectionPastEnd = blob;
    std::vector<uint8_t> blobPastEnd = WriteModelBlob(sectionPastEnd);
    const uint32_t huge = 0xFFFFFF00;
    std::memcpy(blobPastEnd.data() + 224, &huge, 4);
    for (const auto* bytes : {&pastEnd, &notZlib, &inflatesShort, &storedShort, &blobPastEnd})
    {
        const Loaded loaded = LoadFile(*bytes);
        EXPECT_EQ(loaded.model, nullptr);
        EXPECT_TRUE(FAILED(loaded.hr));
    }
}
} // namespace
