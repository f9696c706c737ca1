// Scene assembly: the tables read from a generated file become objects with their placement, model,
// materials and light-point lights; free lights, model chunks and special flags are handed out.
//
// Most tests leave the model data out of their files and put a model built in the test into the rows
// the file made, so that subsets, materials and light points are exactly what the test needs.
#include "codec/p3d_read_codec.h"

#include "engine/engine_api.h"
#include "engine/scene/animation.h"
#include "engine/scene/object.h"
#include "engine/scene/object_light.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "tests/engine/scene_model/scene_fixture.h"
#include "tests/support/animation_writer.h"
#include "tests/support/geometry_block_encoder.h"
#include "tests/support/light_record_writer.h"
#include "tests/support/material_pack_writer.h"
#include "tests/support/object_file_writer.h"
#include "tests/support/sample_object_file.h"
#include "tests/support/sphere_object_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

using namespace ferolt::test;

namespace
{

constexpr GUID kSceneType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID* const kAccepted[] = {&kSceneType, nullptr};
constexpr DWORD kNone = 0;

class InspectedCodec : public CP3DReadCodec
{
public:
    using CP3DReadCodec::m_chunkEntries;
    using CP3DReadCodec::m_lightGroups;
    using CP3DReadCodec::m_materialSets;

    void ReadFile(const Bytes& content)
    {
        ObjectFileHeaderFields header;
        header.contentType = kSceneType;
        const Bytes file = ObjectFileWriter(header).StoredSection(content).Data();
        ASSERT_TRUE(Read(file.data(), file.size(), nullptr, nullptr, kAccepted));
    }
    // The codec's own reference, as the block reader gives it.
    void PutModel(size_t row, LMK::Model_* model)
    {
        ASSERT_LT(row, m_chunkEntries.size());
        ASSERT_EQ(m_chunkEntries[row].model, nullptr);
        model->AddRef();
        m_chunkEntries[row].model = model;
    }
};

std::array<float, 16> Translation(float x)
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, 0, 0, 1};
}

struct Record
{
    DWORD outputIndex;
    DWORD materialSet = kNone;
    DWORD lightGroup = kNone;
    std::optional<float> x = std::nullopt; // the placement's x when not the output index
};

// A type-8 chunk with 76-byte records, each placed at x = its output index, and no model data, so
// the row's model stays for the test to put in.
Bytes ModelChunk(const std::vector<Record>& records)
{
    ByteWriter w;
    w.U32(0).U32(static_cast<uint32_t>(records.size())).U32(76);
    for (const Record& r : records)
        w.Raw(InstanceRecord(r.outputIndex, r.materialSet,
                             Translation(r.x.value_or(static_cast<float>(r.outputIndex))), r.lightGroup));
    return w.Data();
}

// Three subsets in material groups 0, 1, 2 and two light points.
LMK::Model_* ThreeSubsetModel()
{
    scenetest::RawGeometry g;
    for (int i = 0; i < 3; ++i)
        g.AddTriangle(static_cast<float>(i), 0);
    std::vector<LMK::SubsetStruct_TYP> subsets;
    for (DWORD i = 0; i < 3; ++i)
    {
        subsets.push_back(scenetest::Subset(i, 1));
        subsets.back().materialGroup = i;
    }
    const std::vector<LMK::RawLightPointStruct_TYP> points(2);
    HRESULT hr = E_FAIL;
    auto* model = new LMK::Model_(0, g.vertices.data(), static_cast<DWORD>(g.vertices.size()),
                                  g.indices.data(), g.FaceCount(), nullptr, 0, subsets.data(), 3, nullptr,
                                  nullptr, &hr, 0, 0, 2, points.data(), 0, 0);
    EXPECT_EQ(hr, S_OK);
    return model;
}

class SceneAssemblyTest : public scenetest::SceneTest
{
protected:
    void SetUp() override
    {
        SceneTest::SetUp();
        model = ThreeSubsetModel();
    }
    void TearDown() override
    {
        for (LMK::Object_*& object : objects)
            LRReleaseObject(&object);
        if (model) model->Release();
        SceneTest::TearDown();
    }
    LMK::Model_* model = nullptr; // the test's reference
    std::vector<LMK::Object_*> objects;
};

TEST_F(SceneAssemblyTest, ObjectsLandAtTheirOutputIndices)
{
    struct Case
    {
        const char* name;
        std::vector<std::vector<Record>> rows; // one type-8 chunk per row
        std::vector<bool> rowHasModel;
        // Per slot: the x of the object's placement, or -1 for an empty slot.
        std::vector<float> slots;
    };
    const Case cases[] = {
        {"no records", {}, {}, {-1}},
        {"indices 0 and 5", {{{5}, {0}}}, {true}, {0, -1, -1, -1, -1, 5}},
        {"two rows", {{{1}}, {{0}, {2}}}, {true, true}, {0, 1, 2}},
        {"a row without a model leaves its slot empty", {{{1}}, {{0}}}, {false, true}, {0, -1}},
        {"an output index past the cap makes no object and no slots",
         {{{0xFFFFFFFFu}, {CP3DReadCodec::kMaxOutputIndex + 1}, {2}}},
         {true},
         {-1, -1, 2}},
        {"the largest index honoured", {{{CP3DReadCodec::kMaxOutputIndex}}}, {true}, {}},
        {"a placement that is not finite makes no object",
         {{{0},
           {1, kNone, kNone, std::numeric_limits<float>::quiet_NaN()},
           {2, kNone, kNone, std::numeric_limits<float>::infinity()}}},
         {true},
         {0, -1, -1}},
    };
    for (const Case& c : cases)
    {
        ChunkWriter chunks;
        for (const auto& row : c.rows)
            chunks.Chunk(8, ModelChunk(row));
        {
            InspectedCodec codec;
            codec.ReadFile(chunks.Data());
            for (size_t row = 0; row < c.rowHasModel.size(); ++row)
                if (c.rowHasModel[row]) codec.PutModel(row, model);
            objects.assign(2, nullptr);
            ASSERT_TRUE(codec.GetObjects(objects, false)) << c.name;
        }
        if (c.slots.empty())
        {
            ASSERT_EQ(objects.size(), size_t{CP3DReadCodec::kMaxOutputIndex} + 1) << c.name;
            ASSERT_NE(objects.back(), nullptr) << c.name;
        }
        else
        {
            ASSERT_EQ(objects.size(), c.slots.size()) << c.name;
            for (size_t i = 0; i < c.slots.size(); ++i)
            {
                if (c.slots[i] < 0)
                {
                    EXPECT_EQ(objects[i], nullptr) << c.name << " slot " << i;
                    continue;
                }
                ASSERT_NE(objects[i], nullptr) << c.name << " slot " << i;
                EXPECT_EQ(objects[i]->model, model) << c.name;
                D3DXMATRIX world;
                objects[i]->GetWorldMatrix(&world);
                EXPECT_EQ(world._41, c.slots[i]) << c.name << " slot " << i;
                EXPECT_EQ(world._11, 1.0f) << c.name << " slot " << i;
            }
        }
        for (LMK::Object_*& object : objects)
            LRReleaseObject(&object);
        EXPECT_EQ(model->refCount, 1u) << c.name << ": the codec and every object let go of the model";
    }
}

// A unit quad in one strip, with two light points: a whole geometry block as a file carries it. Its
// group names `source` as its source index (0xFFFF: none).
Bytes QuadBlock(uint16_t source = 0xFFFF)
{
    MeshDesc desc = UnitQuadMesh();
    desc.groups[0].triple[0] = source;
    const EncodedMesh mesh = EncodeMesh(desc);
    EXPECT_TRUE(mesh.exact);
    BlockDesc block;
    block.meshes = {mesh.bytes};
    block.lights = {{{0, 0, 1}, {255, 255, 255, 255}}, {{1, 1, 1}, {255, 0, 0, 255}}};
    return EncodeBlock(block);
}

TEST_F(SceneAssemblyTest, AFileBecomesPlacedObjectsOfItsModelWithTheirLights)
{
    const Bytes block = QuadBlock();
    ByteWriter records;
    records.U32(static_cast<uint32_t>(block.size())).U32(2).U32(76);
    records.Raw(InstanceRecord(1, 0, Translation(10), 1)).Raw(InstanceRecord(0, 0, Translation(0), 0));
    records.Raw(block);
    ByteWriter lightItems;
    for (uint32_t point = 0; point < 2; ++point)
        lightItems.U32(point).U32(kLightRecordFullSize).Raw(LightRecord({}));
    InspectedCodec codec;
    codec.ReadFile(ChunkWriter().Chunk(8, records.Data()).Chunk(9, lightItems.Data()).Data());
    ASSERT_EQ(codec.m_chunkEntries.size(), 1u);
    LMK::Model_* fileModel = codec.m_chunkEntries[0].model;
    ASSERT_NE(fileModel, nullptr);
    ASSERT_EQ(fileModel->lightPointCount, 2u);
    DWORD subsets = 0;
    ASSERT_EQ(LRGetModelSubsetCount(fileModel, &subsets), S_OK);
    EXPECT_EQ(subsets, 1u);

    ASSERT_TRUE(codec.GetObjects(objects, false));
    ASSERT_EQ(objects.size(), 2u);
    const float x[2] = {0, 10};
    for (size_t i = 0; i < 2; ++i)
    {
        ASSERT_NE(objects[i], nullptr);
        EXPECT_EQ(objects[i]->model, fileModel);
        D3DXVECTOR3 lo, hi;
        ASSERT_EQ(LRGetObjectBoundingBox(objects[i], &lo, &hi), S_OK);
        EXPECT_EQ(lo.x, x[i] + 1) << i;
        EXPECT_EQ(hi.x, x[i] + 2) << i;
        EXPECT_EQ(hi.y, 2.0f) << i;
    }
    ASSERT_NE(objects[1]->lightPointLights, nullptr);
    EXPECT_NE(objects[1]->lightPointLights[0], nullptr);
    EXPECT_NE(objects[1]->lightPointLights[1], nullptr);
    EXPECT_EQ(objects[0]->lightPointLights, nullptr) << "its record names no light group";
    std::vector<LMK::Light_*> free;
    EXPECT_FALSE(codec.GetLights(free)) << "the only group is in use";
}

// An animation chunk names the entry whose model it animates; one naming no entry, or whose stream
// cannot be read, attaches nothing.
TEST_F(SceneAssemblyTest, AnimationChunksAnimateTheirEntrysModel)
{
    const Bytes block = QuadBlock(0);
    ByteWriter records;
    records.U32(static_cast<uint32_t>(block.size())).U32(1).U32(72);
    records.Raw(InstanceRecord(0, 0, Translation(0))).Raw(block);
    AnimationDesc desc;
    desc.nodes.resize(1);
    desc.nodes[0].position = AnimationCurveDesc{0.0f, 1.0f, 0, 0, {{0.0f, {0, 0, 0}}, {1.0f, {3, 0, 0}}}};
    desc.clips = {{"move", 0.0f, 1.0f}};
    desc.indices = {0};
    const Bytes stream = AnimationStream(desc);
    const Bytes cut(stream.begin(), stream.end() - 4);
    auto chunk = [](uint32_t entry, const Bytes& s) { return ByteWriter().U32(entry).Raw(s).Data(); };

    struct Case
    {
        const char* name;
        Bytes animation;
        bool animated;
    } cases[] = {
        {"its entry", chunk(0, stream), true},
        {"no such entry", chunk(1, stream), false},
        {"damaged stream", chunk(0, cut), false},
        {"no stream", chunk(0, {}), false},
    };
    for (const Case& c : cases)
    {
        InspectedCodec codec;
        codec.ReadFile(ChunkWriter().Chunk(8, records.Data()).Chunk(3, c.animation).Data());
        ASSERT_EQ(codec.m_chunkEntries.size(), 1u);
        LMK::Model_* fileModel = codec.m_chunkEntries[0].model;
        ASSERT_NE(fileModel, nullptr);
        EXPECT_EQ(fileModel->animation != nullptr, c.animated) << c.name;
        if (!c.animated) continue;
        EXPECT_EQ(fileModel->animation->refCount, 1u) << "the codec keeps no reference";
        EXPECT_NE(fileModel->subsets[0].animationNode, nullptr);
        std::vector<LMK::Object_*> made;
        ASSERT_TRUE(codec.GetObjects(made, false));
        ASSERT_EQ(LRSetObjectAnimationTime(made[0], 0.5f), S_OK);
        D3DXVECTOR3 lo, hi;
        ASSERT_EQ(LRGetObjectBoundingBox(made[0], &lo, &hi), S_OK);
        EXPECT_FLOAT_EQ(lo.x, 1.0f + 1.5f) << "the quad moved with its node";
        for (LMK::Object_*& o : made)
            LRReleaseObject(&o);
    }
}

TEST_F(SceneAssemblyTest, LaterRecordOfAnOutputIndexTakesTheSlotAndTheEarlierObjectIsReleased)
{
    ByteWriter w;
    w.U32(0).U32(2).U32(72);
    w.Raw(InstanceRecord(1, 0, Translation(7))).Raw(InstanceRecord(1, 0, Translation(9)));
    {
        InspectedCodec codec;
        codec.ReadFile(ChunkWriter().Chunk(8, w.Data()).Data());
        codec.PutModel(0, model);
        codec.GetObjects(objects, false);
    }
    ASSERT_EQ(objects.size(), 2u);
    ASSERT_NE(objects[1], nullptr);
    D3DXMATRIX world;
    objects[1]->GetWorldMatrix(&world);
    EXPECT_EQ(world._41, 9.0f);
    EXPECT_EQ(model->refCount, 2u) << "only the surviving object holds the model";
}

TEST_F(SceneAssemblyTest, MaterialSetsGiveEachGroupItsMaterial)
{
    for (bool clone : {false, true})
    {
        LMK::Material_* red = nullptr;
        ASSERT_EQ(LRCreateMaterialFromColor(1, 0, 0, 1, &red), S_OK);
        red->AddRef(); // one for the set, one for the test
        // Set 1 holds red in slot 0 and nothing in slot 1. Records naming no set or a set that does
        // not exist get no materials of their own.
        const Bytes content = ChunkWriter()
                                  .Chunk(2, {'L', 'K', 'M', 'A'})
                                  .Chunk(8, ModelChunk({{0, 1}, {1, 1}, {2, kNone}, {3, 9}}))
                                  .Data();
        {
            InspectedCodec codec;
            codec.ReadFile(content);
            codec.PutModel(0, model);
            P3DMaterialSet& set = codec.m_materialSets.at(0);
            set.slotCount = 2;
            set.materials = new LMK::Material_* [2] { red, nullptr };
            ASSERT_TRUE(codec.GetObjects(objects, clone));
            EXPECT_EQ(set.copies, nullptr) << clone;
            // Without copies: the test, the set, the model's subset and the two objects of set 1.
            EXPECT_EQ(red->refCount, clone ? 2u : 5u) << clone;
        }
        EXPECT_EQ(red->refCount, clone ? 1u : 4u) << clone << ": the codec released the set";
        ASSERT_EQ(objects.size(), 4u);
        for (size_t i = 0; i < objects.size(); ++i)
        {
            ASSERT_NE(objects[i], nullptr);
            BYTE fromModel = 0;
            LMK::Material_* m = objects[i]->GetSubsetMaterial(0, &fromModel);
            ASSERT_NE(m, nullptr) << "the model's empty subset took the set's material";
            EXPECT_EQ(m->material.Diffuse.r, 1.0f) << clone << " object " << i;
            EXPECT_EQ(m->material.Diffuse.g, 0.0f) << clone << " object " << i;
            EXPECT_EQ(m == red, !clone) << clone << " object " << i;
            EXPECT_EQ(fromModel, i < 2 ? 0 : 1) << clone << " object " << i;
            m->Release();
        }
        LMK::Material_* emptySlot = nullptr;
        ASSERT_EQ(LRGetModelSubsetMaterial(model, 1, &emptySlot), S_OK);
        EXPECT_EQ(emptySlot, nullptr) << clone;

        for (LMK::Object_*& object : objects)
            LRReleaseObject(&object);
        LRSetModelSubsetMaterial(model, 0, nullptr);
        EXPECT_EQ(red->refCount, 1u) << clone;
        red->Release();
    }
}

// A pack chunk is read for its names at once and loaded into materials on first use: each subset of
// the model gets the material of its slot, and a pack that does not load leaves the subsets alone.
TEST_F(SceneAssemblyTest, MaterialPackChunksGiveEachSubsetItsMaterial)
{
    const Bytes pack = MaterialPack(
        {.slots = {2, 0, 1},
         .strings = {"wall.png", "roof.png"},
         .records = {ColourRecord(0x112233), ColourRecord(0x445566), ColourRecord(0x778899, 0x80)}});
    const Bytes broken(pack.begin(), pack.begin() + 20);
    for (const Bytes* chunk : {&pack, &broken})
    {
        SCOPED_TRACE(chunk == &pack ? "whole pack" : "pack cut in its header");
        InspectedCodec codec;
        codec.ReadFile(ChunkWriter().Chunk(2, *chunk).Chunk(8, ModelChunk({{0, 1}, {1, 1}})).Data());
        codec.PutModel(0, model);
        const P3DMaterialSet& set = codec.m_materialSets.at(0);
        const std::vector<CString>& names = set.names;
        EXPECT_EQ(names.size(), chunk == &pack ? 2u : 0u);
        if (names.size() == 2)
        {
            EXPECT_STREQ(names[0], "wall.png");
            EXPECT_STREQ(names[1], "roof.png");
        }
        ASSERT_TRUE(codec.GetObjects(objects, false));
        std::vector<DWORD> emissive;
        for (DWORD k = 0; k < 3; ++k)
        {
            LMK::Material_* m = nullptr;
            ASSERT_EQ(LRGetModelSubsetMaterial(model, k, &m), S_OK);
            emissive.push_back(m ? (DWORD(m->material.Emissive.r * 255 + 0.5f) << 16) |
                                       (DWORD(m->material.Emissive.g * 255 + 0.5f) << 8) |
                                       DWORD(m->material.Emissive.b * 255 + 0.5f)
                                 : 0xFFFFFFFFu);
            if (m) m->Release();
        }
        if (chunk == &pack)
        {
            EXPECT_EQ(emissive, (std::vector<DWORD>{0x778899, 0x112233, 0x445566}));
            EXPECT_EQ(set.slotCount, 3u);
        }
        else
        {
            EXPECT_EQ(emissive, std::vector<DWORD>(3, 0xFFFFFFFFu));
        }
        for (LMK::Object_*& object : objects)
            LRReleaseObject(&object);
        for (DWORD k = 0; k < 3; ++k)
            LRSetModelSubsetMaterial(model, k, nullptr);
    }
}

TEST_F(SceneAssemblyTest, LightGroupsGoToTheirObjectsAndTheFirstFreeGroupToTheCaller)
{
    struct Case
    {
        const char* name;
        std::vector<size_t> groupSizes;
        std::vector<DWORD> recordGroups; // one record each, output index = position
        int freeGroup;                   // -1: none handed out
    };
    const Case cases[] = {
        {"no groups", {}, {0}, -1},
        {"two groups, the first used", {1, 2}, {1}, 1},
        {"two groups, both used", {1, 2}, {2, 1}, -1},
        {"no group used", {2, 1}, {0}, 0},
        {"a group past the table is ignored", {1}, {7}, 0},
        {"the first free group is empty", {1, 0, 2}, {1}, -1},
    };
    for (const Case& c : cases)
    {
        ChunkWriter chunks;
        std::vector<Record> records;
        for (size_t i = 0; i < c.recordGroups.size(); ++i)
            records.push_back({static_cast<DWORD>(i), kNone, c.recordGroups[i]});
        chunks.Chunk(8, ModelChunk(records));
        for (size_t n : c.groupSizes)
        {
            ByteWriter items;
            for (size_t k = 0; k < n; ++k)
                items.U32(static_cast<uint32_t>(k)).U32(1).U8(0);
            chunks.Chunk(9, items.Data());
        }
        std::vector<LMK::Light_*> handedOut;
        std::vector<std::vector<LMK::Light_*>> lights(c.groupSizes.size());
        {
            InspectedCodec codec;
            codec.ReadFile(chunks.Data());
            codec.PutModel(0, model);
            ASSERT_EQ(codec.m_lightGroups.size(), c.groupSizes.size()) << c.name;
            for (size_t g = 0; g < lights.size(); ++g)
                for (P3DLightSlot& slot : codec.m_lightGroups[g])
                {
                    slot.light = new LMK::Light_;
                    slot.light->AddRef(); // the test's
                    lights[g].push_back(slot.light);
                }
            codec.GetObjects(objects, false);
            EXPECT_EQ(codec.GetLights(handedOut), c.freeGroup >= 0) << c.name;
        }
        const std::vector<LMK::Light_*> expected =
            c.freeGroup >= 0 ? lights[static_cast<size_t>(c.freeGroup)] : std::vector<LMK::Light_*>{};
        EXPECT_EQ(handedOut, expected) << c.name;
        for (size_t i = 0; i < c.recordGroups.size(); ++i)
        {
            const DWORD g = c.recordGroups[i];
            ASSERT_NE(objects[i], nullptr) << c.name;
            for (DWORD point = 0; point < 2; ++point)
            {
                LMK::Light_* expectedLight = nullptr;
                if (g != 0 && g <= lights.size() && point < lights[g - 1].size())
                    expectedLight = lights[g - 1][point];
                LMK::Light_* got =
                    objects[i]->lightPointLights ? objects[i]->lightPointLights[point] : nullptr;
                EXPECT_EQ(got, expectedLight) << c.name << " object " << i << " point " << point;
            }
        }
        for (LMK::Object_*& object : objects)
            LRReleaseObject(&object);
        // The codec released its references; the test holds one and the caller one per handed-out light.
        for (const auto& group : lights)
            for (LMK::Light_* light : group)
            {
                const bool out = std::find(handedOut.begin(), handedOut.end(), light) != handedOut.end();
                EXPECT_EQ(light->refCount, out ? 2u : 1u) << c.name;
                if (out) light->Release();
                light->Release();
            }
    }
}

TEST_F(SceneAssemblyTest, LightItemsBecomeLightsWithinTheirOwnLength)
{
    LightRecordFields red;
    red.diffuse[1] = red.diffuse[2] = 0.0f;
    LightRecordFields wrongMagic;
    wrongMagic.magic = 0x12345678u;
    const Bytes full = LightRecord(red);
    struct Item
    {
        uint32_t declared; // the item's record size
        Bytes record;
    };
    struct Case
    {
        const char* name;
        std::vector<Item> items;
        std::vector<float> lights; // the red of each light handed out
    };
    const Case cases[] = {
        {"one record", {{kLightRecordFullSize, full}}, {1.0f}},
        {"the item cuts the record short", {{100, Bytes(full.begin(), full.begin() + 100)}}, {}},
        {"wrong magic, then a good record",
         {{kLightRecordFullSize, LightRecord(wrongMagic)}, {kLightRecordFullSize, full}},
         {1.0f}},
        {"a longer item keeps the next one in step",
         {{kLightRecordFullSize + 7, LightRecord(red, kLightRecordFullSize, kLightRecordFullSize + 7)},
          {kLightRecordFullSize, full}},
         {1.0f, 1.0f}},
    };
    for (const Case& c : cases)
    {
        ByteWriter items;
        for (const Item& item : c.items)
            items.U32(0).U32(item.declared).Raw(item.record);
        InspectedCodec codec;
        codec.ReadFile(ChunkWriter().Chunk(9, items.Data()).Data());
        std::vector<LMK::Light_*> lights;
        EXPECT_EQ(codec.GetLights(lights), !c.lights.empty()) << c.name;
        ASSERT_EQ(lights.size(), c.lights.size()) << c.name;
        for (size_t i = 0; i < lights.size(); ++i)
        {
            LMK::LightParamsStruct_TYP params{};
            ASSERT_EQ(LRGetLightParams(lights[i], &params), S_OK);
            EXPECT_EQ(params.light.Diffuse.r, c.lights[i]) << c.name;
            EXPECT_EQ(params.light.Diffuse.g, 0.0f) << c.name;
            EXPECT_EQ(lights[i]->refCount, 2u) << c.name << ": the codec's and the caller's";
            LRReleaseLight(&lights[i]);
        }
    }
}

TEST_F(SceneAssemblyTest, ModelChunksGoToTheirModels)
{
    // Row 0 has a model with three subsets; its attribute table covers two whole items and part of
    // a third, which must not be read. Row 1 has no model and keeps its chunk.
    ByteWriter table;
    for (uint32_t k = 0; k < 2; ++k)
    {
        table.U32(0x1000 + k);
        for (int f = 0; f < 8; ++f)
            table.F32(static_cast<float>(10 * k + f));
        table.U8(1).U8(static_cast<uint8_t>(k + 1));
    }
    table.U32(0x2000).F32(5);
    ByteWriter items;
    items.U32(276).U32(static_cast<uint32_t>(table.Size())).U32(0).Raw(table.Data());
    items.U32(30).U32(3).U32(0).U8('a').U8('b').U8('c');
    items.U32(31).U32(1).U32(1).U8('z');
    const Bytes content =
        ChunkWriter().Chunk(8, ModelChunk({{0}})).Chunk(8, ModelChunk({})).Chunk(7, items.Data()).Data();

    InspectedCodec codec;
    codec.ReadFile(content);
    codec.PutModel(0, model);
    EXPECT_TRUE(codec.HasChunks());
    codec.GetObjects(objects, false);
    EXPECT_FALSE(codec.HasChunks());
    LMK::Model_* chunkModel = nullptr;
    DWORD type = 0, size = 0;
    void* data = nullptr;
    EXPECT_FALSE(codec.GetChunk(chunkModel, type, size, data)) << "handed to the model already";
    EXPECT_EQ(codec.m_chunkEntries[1].chunks.size(), 1u) << "a row without a model keeps its chunks";

    for (DWORD k = 0; k < 2; ++k)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[k];
        EXPECT_EQ(subset.surfaceType, 0x1000 + k);
        EXPECT_EQ(subset.backFacePlane[0], static_cast<float>(10 * k));
        EXPECT_EQ(subset.surfacePlane[3], static_cast<float>(10 * k + 7));
        EXPECT_EQ(subset.backFace, 1);
        EXPECT_EQ(subset.specialSurface, k + 1);
    }
    EXPECT_EQ(model->subsets[2].surfaceType, 0u) << "a partial item is not read";

    LMK::ModelChunkStruct_TYP* chunks = nullptr;
    DWORD count = 0;
    ASSERT_EQ(LRGetModelChunks(model, &chunks, &count), S_OK);
    ASSERT_EQ(count, 1u) << "the attribute table is not kept as a chunk";
    EXPECT_EQ(chunks[0].id, 30u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(chunks[0].data), chunks[0].size), "abc");
}

TEST_F(SceneAssemblyTest, GetChunkHandsOutChunksOfEntriesWithAModel)
{
    ByteWriter items;
    items.U32(40).U32(1).U32(1).U8('x');
    items.U32(41).U32(2).U32(1).U8('y').U8('z');
    items.U32(42).U32(1).U32(0).U8('w');
    const Bytes content =
        ChunkWriter().Chunk(8, ModelChunk({})).Chunk(8, ModelChunk({})).Chunk(7, items.Data()).Data();
    InspectedCodec codec;
    codec.ReadFile(content);
    codec.PutModel(1, model);
    std::string got;
    LMK::Model_* chunkModel = nullptr;
    DWORD type = 0, size = 0;
    void* data = nullptr;
    while (codec.GetChunk(chunkModel, type, size, data))
    {
        EXPECT_EQ(chunkModel, model);
        got += std::to_string(type) + ":" + std::string(static_cast<const char*>(data), size) + " ";
        delete[] static_cast<BYTE*>(data);
    }
    EXPECT_EQ(got, "40:x 41:yz ") << "row 0 has no model";
    EXPECT_FALSE(codec.HasChunks());
}

TEST(SceneAssemblyAccessors, SpecialFlagsComeWithTheirCount)
{
    struct Case
    {
        const char* name;
        Bytes content;
        std::vector<DWORD> flags;
    };
    const Case cases[] = {
        {"none", {}, {}},
        {"ten bytes", ChunkWriter().Chunk(11, ByteWriter().U32(4).U32(5).U16(6).Data()).Data(), {4, 5}},
        {"the later chunk replaces",
         ChunkWriter().Chunk(11, ByteWriter().U32(4).Data()).Chunk(11, ByteWriter().U32(9).Data()).Data(),
         {9}},
    };
    for (const Case& c : cases)
    {
        InspectedCodec codec;
        codec.ReadFile(c.content);
        DWORD count = 99;
        const DWORD* flags = codec.GetQELSOSpecialFlags(&count);
        ASSERT_EQ(count, c.flags.size()) << c.name;
        EXPECT_EQ(flags == nullptr, c.flags.empty()) << c.name;
        if (flags)
        {
            EXPECT_EQ(std::vector<DWORD>(flags, flags + count), c.flags) << c.name;
        }
        EXPECT_EQ(codec.GetQELSOSpecialFlags(), flags) << c.name;
    }
}

TEST(SceneAssemblyAccessors, WithoutAStartedEngineNothingIsMadeAndNothingFails)
{
    InspectedCodec codec;
    codec.ReadFile(ChunkWriter().Chunk(8, ModelChunk({{3, 1, 1}})).Chunk(9, {}).Data());
    std::vector<LMK::Object_*> objects;
    EXPECT_TRUE(codec.GetObjects(objects, true));
    EXPECT_EQ(objects, std::vector<LMK::Object_*>(4, nullptr));
    std::vector<LMK::Light_*> lights;
    EXPECT_FALSE(codec.GetLights(lights));
}

} // namespace

namespace
{
// A model's geometry to the byte: each part's vertices, indices and face attributes, and the subsets.
std::string GeometryText(LMK::Model_* model)
{
    auto hash = [](const void* data, size_t size)
    {
        uint64_t h = 14695981039346656037ull;
        for (size_t i = 0; i < size; ++i)
            h = (h ^ static_cast<const uint8_t*>(data)[i]) * 1099511628211ull;
        return std::to_string(h);
    };
    std::string text = std::to_string(model->partCount) + " parts";
    LMK::LKXMesh_** parts = model->PrimaryParts();
    for (DWORD p = 0; parts && p < model->partCount; ++p)
    {
        ID3DXMesh* mesh = parts[p] ? parts[p]->mesh : nullptr;
        if (!mesh) continue;
        const DWORD faces = mesh->GetNumFaces();
        text +=
            " [" + std::to_string(mesh->GetNumVertices()) + " vertices, " + std::to_string(faces) + " faces";
        void* data = nullptr;
        if (SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)))
        {
            text += " " + hash(data, size_t{mesh->GetNumVertices()} * mesh->GetNumBytesPerVertex());
            mesh->UnlockVertexBuffer();
        }
        if (SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data)))
        {
            text += " " + hash(data, size_t{faces} * 3 * (mesh->GetOptions() & D3DXMESH_32BIT ? 4 : 2));
            mesh->UnlockIndexBuffer();
        }
        DWORD* attributes = nullptr;
        if (SUCCEEDED(mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attributes)))
        {
            text += " " + hash(attributes, size_t{faces} * sizeof(DWORD));
            mesh->UnlockAttributeBuffer();
        }
        text += "]";
    }
    for (DWORD s = 0; s < model->subsetCount; ++s)
        text += " " + std::to_string(model->subsets[s].faceCount) + "@" +
                std::to_string(model->subsets[s].modelFirstFace) + "/" +
                std::to_string(model->subsets[s].part);
    return text;
}

// The file's models, to the byte, and its objects with their bounds.
std::string SceneText(const Bytes& file)
{
    InspectedCodec codec;
    EXPECT_TRUE(codec.Read(file.data(), file.size(), nullptr, nullptr, kAccepted));
    std::string scene;
    for (const auto& entry : codec.m_chunkEntries)
        scene += "model " + (entry.model ? GeometryText(entry.model) : std::string("none")) + ";\n";
    std::vector<LMK::Object_*> got;
    EXPECT_TRUE(codec.GetObjects(got, false));
    for (LMK::Object_*& object : got)
    {
        scene += "object";
        D3DXVECTOR3 lo, hi;
        if (object && LRGetObjectBoundingBox(object, &lo, &hi) == S_OK)
            for (float f : {lo.x, lo.y, lo.z, hi.x, hi.y, hi.z})
                scene += " " + std::to_string(f);
        scene += ";\n";
        if (object) LRReleaseObject(&object);
    }
    return scene;
}
} // namespace

// Sections are unpacked and the geometry of models decoded on worker threads: the objects, models,
// vertices and faces a file gives, and what a damaged section costs, must be the same at every thread
// count.
TEST_F(SceneAssemblyTest, ThreadCountChangesNothingInTheScene)
{
    const Bytes block = QuadBlock();
    ObjectFileHeaderFields header;
    header.contentType = kSceneType;
    ObjectFileWriter writer(header);
    for (uint32_t section = 0; section < 6; ++section)
    {
        ByteWriter records;
        records.U32(static_cast<uint32_t>(block.size())).U32(1).U32(76);
        records.Raw(InstanceRecord(section, 0, Translation(static_cast<float>(section) * 10), 0));
        records.Raw(block);
        const Bytes chunks = ChunkWriter().Chunk(8, records.Data()).Data();
        if (section == 2)
        {
            Bytes damaged = Bzip2(chunks);
            damaged[damaged.size() / 2] ^= 0xFF;
            writer.Section(kSectionBzip2, static_cast<uint32_t>(chunks.size()), damaged);
        }
        else
            writer.Bzip2Section(chunks);
    }
    // Seven models of several meshes each in one section.
    SphereDesc sphere;
    sphere.segments = 24;
    sphere.rows = 40;
    sphere.rowsPerMesh = 3;
    sphere.models = 7;
    sphere.contentType = kSceneType;
    const struct
    {
        const char* name;
        Bytes file;
        size_t models;
    } files[] = {
        {"six sections, one damaged", writer.Data(), 5},
        {"the sample file", SampleObjectFile(kSceneType, true), 1},
        {"a sphere in seven models", SphereObjectFile(sphere), 7},
    };
    for (const auto& f : files)
    {
        SCOPED_TRACE(f.name);
        ferolt::hooks::SetD3D9WorkerThreads(1);
        const std::string one = SceneText(f.file);
        size_t models = 0;
        for (size_t at = one.find("model "); at != std::string::npos; at = one.find("model ", at + 1))
            ++models;
        EXPECT_EQ(models, f.models) << one;
        EXPECT_EQ(one.find("none"), std::string::npos) << one;
        for (unsigned threads : {3u, 8u})
        {
            ferolt::hooks::SetD3D9WorkerThreads(threads);
            EXPECT_EQ(SceneText(f.file), one) << threads << " threads";
        }
        ferolt::hooks::SetD3D9WorkerThreads(0);
    }
}
