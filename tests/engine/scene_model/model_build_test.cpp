// Models built from raw arrays: subsets, their attribute-table entries and materials, splitting into
// parts within 16-bit indices, and line segments.
#include "scene_fixture.h"

#include <cmath>
#include <functional>
#include <map>
#include <tuple>

namespace
{
using namespace scenetest;

constexpr float kUnclaimedTag = 99.0f;

struct SubsetLayoutCase
{
    const char* name;
    // {first quad, quad count} per subset; quads that no subset covers are tagged kUnclaimedTag.
    std::vector<std::pair<DWORD, DWORD>> subsets;
    DWORD quadCount;
    BYTE optimize;
};

// Each subset's faces, vertex range and material agree, read back through the attribute table: a subset
// without faces has no entry and shifts nothing, and faces no subset covers are drawn by none.
TEST_F(SceneTest, SubsetsAgreeWithTheirAttributeEntries)
{
    const SubsetLayoutCase cases[] = {
        {"three subsets", {{0, 1}, {1, 2}, {3, 3}}, 6, 1},
        {"material without faces in the middle", {{0, 2}, {2, 0}, {2, 3}}, 5, 1},
        {"material without faces first", {{0, 0}, {0, 1}, {1, 1}}, 2, 0},
        {"faces no subset covers", {{0, 1}, {3, 2}}, 6, 1},
    };
    for (const SubsetLayoutCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        RawGeometry g;
        std::vector<float> tagOfQuad(c.quadCount, kUnclaimedTag);
        for (size_t s = 0; s < c.subsets.size(); ++s)
            for (DWORD q = 0; q < c.subsets[s].second; ++q)
                tagOfQuad[c.subsets[s].first + q] = static_cast<float>(s);
        for (DWORD q = 0; q < c.quadCount; ++q)
            g.AddQuad(static_cast<float>(2 * q), tagOfQuad[q]);

        std::vector<LMK::Material_*> materials;
        std::vector<LMK::SubsetStruct_TYP> subsets;
        for (size_t s = 0; s < c.subsets.size(); ++s)
        {
            materials.push_back(new LMK::Material_(0.1f * float(s), 0.5f, 0.5f, 1.0f, false));
            subsets.push_back(Subset(2 * c.subsets[s].first, 2 * c.subsets[s].second, materials.back()));
        }
        HRESULT hr = E_FAIL;
        LMK::Model_* model = BuildModel(g, subsets, &hr, c.optimize);
        ASSERT_EQ(hr, S_OK);
        ASSERT_EQ(model->partCount, 1u);
        LMK::LKXMesh_* part = Primary(model)->parts[0];
        ASSERT_NE(part, nullptr);
        const MeshFaces mesh = ReadFaces(part->mesh);

        for (DWORD s = 0; s < model->subsetCount; ++s)
        {
            SCOPED_TRACE(s);
            const LMK::SubsetStruct_TYP& subset = model->subsets[s];
            EXPECT_EQ(subset.material, materials[s]);
            EXPECT_EQ(materials[s]->refCount, 2u);
            EXPECT_EQ(subset.materialGroup, s);
            const D3DXATTRIBUTERANGE* entry = nullptr;
            for (DWORD k = 0; k < part->attributeRangeCount; ++k)
                if (part->attributeTable[k].AttribId == s) entry = &part->attributeTable[k];
            if (subset.faceCount == 0)
            {
                EXPECT_EQ(entry, nullptr);
                continue;
            }
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->FaceCount, subset.faceCount);
            EXPECT_EQ(entry->FaceStart, subset.firstFace);
            for (DWORD f = entry->FaceStart; f < entry->FaceStart + entry->FaceCount; ++f)
                for (const auto& corner : mesh.faces[f])
                    EXPECT_EQ(corner.position[2], float(s)) << "face " << f;
        }
        // Faces of no subset lie outside every subset's entry.
        DWORD claimed = 0;
        for (DWORD k = 0; k < part->attributeRangeCount; ++k)
            if (part->attributeTable[k].AttribId < model->subsetCount)
                claimed += part->attributeTable[k].FaceCount;
        DWORD expectedClaimed = 0;
        for (const auto& s : c.subsets)
            expectedClaimed += 2 * s.second;
        EXPECT_EQ(claimed, expectedClaimed);

        model->Release();
        for (LMK::Material_* m : materials)
        {
            EXPECT_EQ(m->refCount, 1u);
            m->Release();
        }
    }
}

struct SplitCase
{
    const char* name;
    std::function<void(RawGeometry*, std::vector<LMK::SubsetStruct_TYP>*)> make;
    DWORD minimumParts;
};

using FaceKey = std::array<std::tuple<float, float, float>, 3>;

FaceKey KeyOf(const LMK::RawVertexStruct_TYP* a, const LMK::RawVertexStruct_TYP* b,
              const LMK::RawVertexStruct_TYP* c)
{
    FaceKey k{std::make_tuple(a->position[0], a->position[1], a->position[2]),
              std::make_tuple(b->position[0], b->position[1], b->position[2]),
              std::make_tuple(c->position[0], c->position[1], c->position[2])};
    std::sort(k.begin(), k.end());
    return k;
}

FaceKey KeyOf(const std::array<LMK::ModelVertexStruct_TYP, 3>& f)
{
    FaceKey k{std::make_tuple(f[0].position[0], f[0].position[1], f[0].position[2]),
              std::make_tuple(f[1].position[0], f[1].position[1], f[1].position[2]),
              std::make_tuple(f[2].position[0], f[2].position[1], f[2].position[2])};
    std::sort(k.begin(), k.end());
    return k;
}

// Past 0xFF00 vertices or faces a model is cut into parts that each fit 16-bit indices, and the subsets
// of all parts together still cover every input face exactly once.
TEST_F(SceneTest, LargeModelsSplitIntoPartsCoveringEveryFaceOnce)
{
    const SplitCase cases[] = {
        {"two subsets of separate triangles",
         [](RawGeometry* g, std::vector<LMK::SubsetStruct_TYP>* s)
         {
             for (int t = 0; t < 24000; ++t)
                 g->AddTriangle(float(t), t < 12000 ? 0.0f : 1.0f);
             s->push_back(Subset(0, 12000));
             s->push_back(Subset(12000, 12000));
         },
         2},
        {"one subset wider than the vertex span",
         [](RawGeometry* g, std::vector<LMK::SubsetStruct_TYP>* s)
         {
             for (int t = 0; t < 23000; ++t)
                 g->AddTriangle(float(t), 0.0f);
             s->push_back(Subset(0, 23000));
         },
         2},
        {"two subsets sharing their vertices",
         [](RawGeometry* g, std::vector<LMK::SubsetStruct_TYP>* s)
         {
             for (int v = 0; v < 35000; ++v)
                 g->AddVertex(float(v), float(v % 2), 0.0f);
             for (int copy = 0; copy < 2; ++copy)
                 for (DWORD k = 0; k + 2 < 35000; ++k)
                     g->indices.insert(g->indices.end(), {k, k + 1, k + 2});
             s->push_back(Subset(0, 34998));
             s->push_back(Subset(34998, 34998));
         },
         2},
    };
    for (const SplitCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        RawGeometry g;
        std::vector<LMK::SubsetStruct_TYP> subsets;
        c.make(&g, &subsets);
        std::map<FaceKey, int> expected;
        for (DWORD f = 0; f < g.FaceCount(); ++f)
            ++expected[KeyOf(&g.vertices[g.indices[3 * f]], &g.vertices[g.indices[3 * f + 1]],
                             &g.vertices[g.indices[3 * f + 2]])];

        HRESULT hr = E_FAIL;
        LMK::Model_* model = BuildModel(g, subsets, &hr);
        ASSERT_EQ(hr, S_OK);
        EXPECT_GE(model->partCount, c.minimumParts);

        std::map<FaceKey, int> seen;
        DWORD total = 0;
        for (DWORD s = 0; s < model->subsetCount; ++s)
        {
            const LMK::SubsetStruct_TYP& subset = model->subsets[s];
            EXPECT_EQ(subset.modelFirstFace, total);
            total += subset.faceCount;
            ASSERT_LT(subset.part, model->partCount);
            LMK::LKXMesh_* part = Primary(model)->parts[subset.part];
            ASSERT_NE(part, nullptr);
            const D3DXATTRIBUTERANGE* entry = part->FindSubsetRange(s);
            ASSERT_NE(entry, nullptr);
            ASSERT_EQ(entry->FaceCount, subset.faceCount);
            const MeshFaces mesh = ReadFaces(part->mesh);
            for (DWORD f = entry->FaceStart; f < entry->FaceStart + entry->FaceCount; ++f)
                ++seen[KeyOf(mesh.faces[f])];
        }
        EXPECT_EQ(total, g.FaceCount());
        EXPECT_TRUE(seen == expected);
        for (DWORD p = 0; p < model->partCount; ++p)
        {
            LMK::LKXMesh_* part = Primary(model)->parts[p];
            ASSERT_NE(part, nullptr);
            EXPECT_LE(part->mesh->GetNumVertices(), LMK::kMaxPartVertexSpan);
            EXPECT_LE(part->mesh->GetNumFaces(), LMK::kMaxPartFaces);
        }
        model->Release();
    }
}

TEST_F(SceneTest, SplitPiecesEachHoldTheirMaterial)
{
    RawGeometry g;
    for (int t = 0; t < 23000; ++t)
        g.AddTriangle(float(t), 0.0f);
    auto* material = new LMK::Material_(1, 0, 0, 1, false);
    HRESULT hr = E_FAIL;
    LMK::Model_* model = BuildModel(g, {Subset(0, 23000, material)}, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_GE(model->subsetCount, 2u);
    EXPECT_EQ(material->refCount, 1u + model->subsetCount);
    model->Release();
    EXPECT_EQ(material->refCount, 1u);
    material->Release();
}

struct LineCase
{
    const char* name;
    DWORD lineVertices;
    DWORD firstLineVertex;
    DWORD segments;
    DWORD keptSegments;
};

// A subset keeps the segments that fit the line vertices given, without wrapping round.
TEST_F(SceneTest, LineSegmentsAreLimitedToTheVerticesGiven)
{
    const LineCase cases[] = {
        {"all fit", 8, 0, 4, 4},
        {"last pair is the last segment", 10, 8, 1, 1},
        {"range runs past the end", 10, 4, 5, 3},
        {"first vertex past the end", 10, 11, 1, 0},
        {"first vertex wraps the sum", 10, 0xFFFFFFFE, 1, 0},
        {"segment count wraps the sum", 10, 2, 0x80000001, 4},
    };
    for (const LineCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        RawGeometry g;
        g.AddQuad(0, 0);
        std::vector<LMK::RawVertexStruct_TYP> lines(c.lineVertices);
        for (DWORD i = 0; i < c.lineVertices; ++i)
            lines[i].position[0] = float(i);
        LMK::SubsetStruct_TYP subset = Subset(0, 2);
        subset.firstLineVertex = c.firstLineVertex;
        subset.lineSegmentCount = c.segments;
        HRESULT hr = E_FAIL;
        LMK::Model_* model = BuildModel(g, {subset}, &hr, 0, lines);
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(model->subsets[0].lineSegmentCount, c.keptSegments);
        EXPECT_EQ(model->lineVertexCount, 2 * c.keptSegments);
        EXPECT_EQ(model->lineSubsetCount, c.keptSegments ? 1u : 0u);
        model->Release();
    }
}

TEST_F(SceneTest, LineVerticesGetTheSegmentNormal)
{
    RawGeometry g;
    g.AddQuad(0, 0);
    std::vector<LMK::RawVertexStruct_TYP> lines(4);
    lines[1].position[2] = 5.0f; // vertical: straight up
    lines[2].position[0] = 1.0f; // along x
    lines[3].position[0] = 3.0f;
    LMK::SubsetStruct_TYP subset = Subset(0, 2);
    subset.lineSegmentCount = 2;
    HRESULT hr = E_FAIL;
    LMK::Model_* model = BuildModel(g, {subset}, &hr, 0, lines);
    ASSERT_EQ(hr, S_OK);
    LMK::LKXMesh_* part0 = Primary(model)->parts[0];
    ASSERT_NE(part0->baseLineVertexBuffer, nullptr);
    void* data = nullptr;
    ASSERT_EQ(part0->baseLineVertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), S_OK);
    const auto* v = static_cast<const LMK::ModelVertexStruct_TYP*>(data);
    const float expected[4][3] = {{1, 1, 0}, {1, 1, 0}, {0, 0, 1}, {0, 0, 1}};
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(v[i].normal[k], expected[i][k]) << i << "," << k;
    part0->baseLineVertexBuffer->Unlock();
    // The line vertices count in the bounds.
    EXPECT_FLOAT_EQ(model->baseBox[5], 5.0f);
    EXPECT_FLOAT_EQ(model->baseBox[3], 3.0f);
    model->Release();
}

struct BadInputCase
{
    const char* name;
    DWORD badIndex;    // written into the first face
    DWORD subsetFaces; // face count of the only subset
};

// Loader data that points outside its arrays fails the build instead of reading past them.
TEST_F(SceneTest, OutOfRangeInputFailsTheBuild)
{
    const BadInputCase cases[] = {
        {"index past the vertices", 4, 2},
        {"subset past the faces", 0, 3},
    };
    for (const BadInputCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        RawGeometry g;
        g.AddQuad(0, 0);
        g.indices[0] = c.badIndex;
        HRESULT hr = S_OK;
        LMK::Model_* model = BuildModel(g, {Subset(0, c.subsetFaces)}, &hr);
        EXPECT_EQ(hr, E_FAIL);
        EXPECT_EQ(model->subsetCount, 0u);
        EXPECT_EQ(model->partCount, 0u);
        model->Release();
    }
}

TEST_F(SceneTest, BoxesCoverModelAndSubsets)
{
    RawGeometry g;
    g.AddQuad(0, 0); // x 0..1
    g.AddQuad(4, 2); // x 4..5, z 2
    HRESULT hr = E_FAIL;
    LMK::Model_* model = BuildModel(g, {Subset(0, 2), Subset(2, 2)}, &hr);
    ASSERT_EQ(hr, S_OK);
    const float modelBox[6] = {0, 0, 0, 5, 1, 2};
    const float second[6] = {4, 0, 2, 5, 1, 2};
    for (int k = 0; k < 6; ++k)
    {
        EXPECT_FLOAT_EQ(model->baseBox[k], modelBox[k]) << k;
        EXPECT_FLOAT_EQ(model->subsets[1].baseBox[k], second[k]) << k;
    }
    EXPECT_FLOAT_EQ(model->baseCentre[0], 2.5f);
    EXPECT_NEAR(model->radius, std::sqrt(25.0f + 1.0f + 4.0f) / 2.0f, 1e-5f);
    model->Release();
}
} // namespace
