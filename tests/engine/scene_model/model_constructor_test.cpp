// Models from shapes given in code: fans and indexed lists in the soup, welding on its grid, subsets by
// group and material with their planes, and a cube cut by a plane and capped into a closed volume.
#include "engine/scene/model_constructor.h"
#include "scene_fixture.h"

#include <cmath>
#include <vector>

namespace
{
using namespace scenetest;
using LMK::ModelConstructor_;

std::vector<float> Xs(const ModelConstructor_& c)
{
    std::vector<float> xs;
    for (const LMK::RawVertexStruct_TYP& v : c.soup)
        xs.push_back(v.position[0]);
    return xs;
}

TEST(ModelConstructor, PolygonsAreFansAndCoordinatesComeFromPositions)
{
    // Point i at x = i: the soup's x values name the fan's corners.
    const float pentagon[15] = {0, 0, 0, 1, 0, 0, 2, 1, 0, 3, 2, 0, 4, 3, 0};
    ModelConstructor_ plain;
    EXPECT_EQ(plain.AddPolygon(pentagon, 5, nullptr), S_OK);
    EXPECT_EQ(Xs(plain), (std::vector<float>{0, 1, 2, 0, 2, 3, 0, 3, 4}));
    EXPECT_EQ(plain.faces.size(), 3u);

    ModelConstructor_ flipped;
    flipped.flipWinding = 1;
    EXPECT_EQ(flipped.AddPolygon(pentagon, 5, nullptr), S_OK);
    EXPECT_EQ(Xs(flipped), (std::vector<float>{2, 1, 0, 3, 2, 0, 4, 3, 0}));

    EXPECT_EQ(plain.AddPolygon(pentagon, 2, nullptr), S_OK) << "too few points: nothing added";
    EXPECT_EQ(plain.AddPolygon(nullptr, 3, nullptr), E_FAIL);
    EXPECT_EQ(plain.soup.size(), 9u);

    ModelConstructor_ c;
    const float triangle[9] = {0.25f, 0.75f, 1, 1, 0, 0, 0, 1, 0};
    ASSERT_EQ(c.AddPolygon(triangle, 3, nullptr), S_OK);
    EXPECT_FLOAT_EQ(c.soup[0].u, 0.25f);
    EXPECT_FLOAT_EQ(c.soup[0].v, 0.25f);

    // A quad's corners take the fixed coordinates (1, 1), (1, 0), (0, 0), (0, 1).
    ModelConstructor_ q;
    const float corners[12] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    ASSERT_EQ(ModelConstructor_::AddQuad(&q, corners), S_OK);
    ASSERT_EQ(q.soup.size(), 6u);
    const float uv[6][2] = {{1, 1}, {1, 0}, {0, 0}, {1, 1}, {0, 0}, {0, 1}};
    for (int k = 0; k < 6; ++k)
    {
        EXPECT_EQ(q.soup[k].u, uv[k][0]) << k;
        EXPECT_EQ(q.soup[k].v, uv[k][1]) << k;
    }
}

TEST(ModelConstructor, IndexedListsShareTheirFirstTransformAndBoundTheSpan)
{
    // The callback moves every vertex it sees by 10 in x: a repeated index is transformed once.
    ModelConstructor_ c;
    int calls = 0;
    c.vertexCallbackUser = &calls;
    c.vertexCallback = [](void* user, float position[3], float*)
    {
        ++*static_cast<int*>(user);
        position[0] += 10.0f;
    };
    const float positions[] = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const DWORD quads[] = {0, 1, 2, 3};
    ASSERT_EQ(c.AddIndexedQuads(positions, quads, 1, nullptr), S_OK);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(Xs(c), (std::vector<float>{10, 11, 11, 10, 10, 11}));
    EXPECT_EQ(c.faces.size(), 2u);
    const DWORD triangles[] = {2, 3, 0};
    ASSERT_EQ(c.AddIndexedTriangles(positions, triangles, 1, nullptr), S_OK);
    EXPECT_EQ(calls, 7) << "each list has its own table";

    EXPECT_EQ(c.AddIndexedTriangles(nullptr, triangles, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(c.AddIndexedQuads(positions, nullptr, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(c.AddIndexedTriangles(nullptr, nullptr, 0, nullptr), S_OK);

    // Spans: 0x100001 is refused before anything is read, 0x100000 accepted.
    std::vector<float> far(3 * size_t{0x100007}, 0.0f);
    const DWORD tooWide[] = {5, 0x100006, 5};
    const DWORD widest[] = {6, 0x100006, 6};
    ModelConstructor_ s;
    EXPECT_EQ(s.AddIndexedTriangles(far.data(), tooWide, 1, nullptr), E_FAIL);
    EXPECT_TRUE(s.soup.empty());
    EXPECT_EQ(s.AddIndexedTriangles(far.data(), widest, 1, nullptr), S_OK);
    EXPECT_EQ(s.soup.size(), 3u);
}

class ModelConstructorModel : public SceneTest
{
};

// Two quads sharing an edge; the second quad's shared corners moved by `shift` in x.
DWORD WeldedVertices(float shift)
{
    ModelConstructor_ c;
    const float positions[] = {0,         0, 0, 1, 0, 0, 1, 1, 0, 0,         1, 0,
                               1 + shift, 0, 0, 2, 0, 0, 2, 1, 0, 1 + shift, 1, 0};
    const float texture[] = {0, 0, 1, 0, 1, 1, 0, 1, 1, 0, 2, 0, 2, 1, 1, 1};
    const DWORD quads[] = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(c.AddIndexedQuads(positions, quads, 2, texture), S_OK);
    c.Finalize();
    return static_cast<DWORD>(c.outVertices.size());
}

TEST_F(ModelConstructorModel, WeldingJoinsWhatLiesInOneCell)
{
    EXPECT_EQ(WeldedVertices(0.0f), 6u);
    EXPECT_EQ(WeldedVertices(0.000005f), 6u);
    EXPECT_EQ(WeldedVertices(0.00002f), 8u);
    EXPECT_EQ(WeldedVertices(-0.00002f), 8u);
}

// Points spread over many cells with tiny offsets: a tolerance compare would be intransitive here, and a
// sort with it undefined. Every weld must join only vertices that compare equal, and sorted order must
// really be sorted.
TEST_F(ModelConstructorModel, SortIsAStrictOrderEvenForNearPoints)
{
    ModelConstructor_ c;
    std::vector<float> positions;
    std::vector<DWORD> indices;
    for (DWORD i = 0; i < 300; ++i)
    {
        const float x = 0.000004f * static_cast<float>(i % 17);
        const float y = 0.000007f * static_cast<float>(i % 11);
        positions.insert(positions.end(), {x, y, static_cast<float>(i % 3)});
    }
    for (DWORD i = 0; i + 2 < 300; i += 3)
        indices.insert(indices.end(), {i, i + 1, i + 2});
    ASSERT_EQ(c.AddIndexedTriangles(positions.data(), indices.data(), 100, nullptr), S_OK);
    c.Finalize();
    for (size_t k = 1; k < c.outVertices.size(); ++k)
    {
        const auto& a = c.outVertices[k - 1];
        const auto& b = c.outVertices[k];
        const bool same =
            std::floor(double(a.position[0]) * 1e5) == std::floor(double(b.position[0]) * 1e5) &&
            std::floor(double(a.position[1]) * 1e5) == std::floor(double(b.position[1]) * 1e5) &&
            std::floor(double(a.position[2]) * 1e5) == std::floor(double(b.position[2]) * 1e5) &&
            std::floor(double(a.u) * 1e5) == std::floor(double(b.u) * 1e5) &&
            std::floor(double(a.v) * 1e5) == std::floor(double(b.v) * 1e5);
        EXPECT_FALSE(same) << "output vertices " << k - 1 << " and " << k << " should have welded";
    }
}

// A cube of half-size 1 from six quads, each face with its own material.
TEST_F(ModelConstructorModel, CubeFacesBecomePlanarSubsets)
{
    const float faces[6][12] = {
        {1, -1, -1, 1, -1, 1, 1, 1, 1, 1, 1, -1},     {1, 1, -1, 1, 1, 1, -1, 1, 1, -1, 1, -1},
        {-1, 1, -1, -1, 1, 1, -1, -1, 1, -1, -1, -1}, {-1, -1, -1, -1, -1, 1, 1, -1, 1, 1, -1, -1},
        {1, -1, 1, -1, -1, 1, -1, 1, 1, 1, 1, 1},     {-1, -1, -1, 1, -1, -1, 1, 1, -1, -1, 1, -1},
    };
    std::vector<LMK::Material_*> materials;
    LMK::Model_* model = nullptr;
    {
        ModelConstructor_ c;
        for (int f = 0; f < 6; ++f)
        {
            materials.push_back(new LMK::Material_(0.1f * float(f), 0, 0, 1, false));
            c.SetCurrentMaterial(materials.back());
            ASSERT_EQ(ModelConstructor_::AddQuad(&c, faces[f]), S_OK);
        }
        ASSERT_EQ(c.CreateModel(&model, false, true), S_OK);
        EXPECT_TRUE(c.soup.empty());
        EXPECT_TRUE(c.faces.empty());
        EXPECT_TRUE(c.outSubsets.empty());
        EXPECT_TRUE(c.outVertices.empty());
    }
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->subsetCount, 6u);
    for (DWORD s = 0; s < 6; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        SCOPED_TRACE(s);
        EXPECT_EQ(subset.faceCount, 2u);
        EXPECT_EQ(subset.specialSurface, 1);
        EXPECT_EQ(subset.backFace, 1);
        EXPECT_EQ(subset.sourceIndex, 0u);
        EXPECT_EQ(subset.sourceIndex2, LMK::kNoSourceIndex);
        // Every corner of the face lies on its plane, and the plane faces the way the corners turn.
        const float* p = subset.surfacePlane;
        EXPECT_NEAR(std::fabs(p[0]) + std::fabs(p[1]) + std::fabs(p[2]), 1.0f, 1e-6f);
        EXPECT_NEAR(p[3], 1.0f, 1e-6f) << "a background cube's faces turn inward";
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(subset.backFacePlane[k], p[k]);
        EXPECT_EQ(subset.planeNormal[0], p[0]);
        // The longest edge of group 0 is a cube edge of length 2, normalised.
        const float* axis = subset.lightMapAxis;
        EXPECT_NEAR(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2], 1.0f, 1e-6f);
    }
    // The model holds one reference of each material; the constructor let go of all of its own.
    for (LMK::Material_* m : materials)
    {
        EXPECT_EQ(m->refCount, 2u);
        m->Release();
    }
    model->Release();
}

TEST_F(ModelConstructorModel, TooLittleGeometryFails)
{
    ModelConstructor_ c;
    LMK::Model_* model = reinterpret_cast<LMK::Model_*>(&c);
    const float positions[] = {0, 0, 0, 1, 0, 0, 1, 1, 0};
    c.soup.resize(2);
    EXPECT_EQ(c.CreateModel(&model, false, true), E_FAIL);
    EXPECT_EQ(model, nullptr);
    c.soup.clear();

    // A cut that removes every face leaves nothing to build, and the face's material is given back.
    auto* m = new LMK::Material_(1, 0, 0, 1, false);
    c.SetCurrentMaterial(m);
    ASSERT_EQ(c.AddPolygon(positions, 3, nullptr), S_OK);
    EXPECT_EQ(m->refCount, 3u);
    LMK::CapPlaneStruct_TYP below{{0, 0, 1, -1}, {}, nullptr, 0, 0};
    D3DXMatrixIdentity(&below.textureMatrix);
    c.capPlanes.push_back(below);
    EXPECT_EQ(c.CreateModel(&model, false, true), E_FAIL);
    EXPECT_EQ(model, nullptr);
    EXPECT_EQ(m->refCount, 2u);
    m->Release();
}

// Signed volume of a triangle list: a closed surface gives its volume whatever the origin.
double Volume(const std::vector<LMK::RawVertexStruct_TYP>& vertices, const std::vector<DWORD>& indices)
{
    double sum = 0;
    for (size_t f = 0; f + 2 < indices.size(); f += 3)
    {
        const float* a = vertices[indices[f]].position;
        const float* b = vertices[indices[f + 1]].position;
        const float* c = vertices[indices[f + 2]].position;
        sum += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
               a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    return sum / 6.0;
}

// The unit cube [0, 1]^3 from six fans (coordinates from positions), cut at z = 0.5 keeping the lower half.
void AddUnitCube(ModelConstructor_* c)
{
    const float faces[6][12] = {
        {0, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 0}, {0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1},
        {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1}, {1, 0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1},
        {1, 1, 0, 0, 1, 0, 0, 1, 1, 1, 1, 1}, {0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 1},
    };
    for (const auto& f : faces)
        ASSERT_EQ(c->AddPolygon(f, 4, nullptr), S_OK);
}

TEST_F(ModelConstructorModel, CutCubeIsCappedIntoAClosedVolume)
{
    auto* capMaterial = new LMK::Material_(0, 1, 0, 1, false);
    auto cut = [&](ModelConstructor_* c)
    {
        AddUnitCube(c);
        LMK::CapPlaneStruct_TYP plane{{0, 0, -1, 0.5f}, {}, capMaterial, 7, 0x1234};
        D3DXMatrixIdentity(&plane.textureMatrix);
        capMaterial->AddRef();
        c->capPlanes.push_back(plane);
    };
    {
        ModelConstructor_ whole;
        AddUnitCube(&whole);
        whole.Finalize();
        EXPECT_NEAR(Volume(whole.outVertices, whole.outIndices), 1.0, 1e-6)
            << "the cube's faces turn outward";
    }
    ModelConstructor_ c;
    cut(&c);
    c.Finalize();
    // Faces: the bottom's 2, each side's 2 triangles cut into 3, and the cap's fan over the ring of four
    // corners and four side midpoints (where the sides' diagonals cross the plane). The fan starts at the
    // corner (1, 0) where the first side's cut begins; its two triangles along that corner's sides are
    // collinear and left out, as is the last, which closes on the start.
    ASSERT_EQ(c.outSubsets.size(), 2u);
    const LMK::SubsetStruct_TYP& body = c.outSubsets[0];
    const LMK::SubsetStruct_TYP& cap = c.outSubsets[1];
    EXPECT_EQ(body.faceCount, 2u + 4u * 3u);
    EXPECT_EQ(body.sourceIndex, 0u);
    EXPECT_EQ(cap.sourceIndex, 1u) << "the cap opens group 1";
    EXPECT_EQ(cap.material, capMaterial);
    EXPECT_EQ(cap.surfaceType, 0x1234u);
    EXPECT_EQ(cap.faceCount, 4u);
    // Welded: the body's 4 bottom corners, 4 ring corners and 4 side midpoints; the cap's own 6 (its group
    // apart; the midpoints on the start corner's sides are unused).
    EXPECT_EQ(c.outVertices.size(), 12u + 6u);
    EXPECT_NEAR(Volume(c.outVertices, c.outIndices), 0.5, 1e-6) << "closed, and the cap faces up";
    EXPECT_EQ(cap.specialSurface, 1);
    EXPECT_NEAR(cap.surfacePlane[2], 1.0f, 1e-6f);
    EXPECT_NEAR(cap.surfacePlane[3], -0.5f, 1e-6f);
    for (DWORD f = cap.firstFace; f < cap.firstFace + cap.faceCount; ++f)
        for (int k = 0; k < 3; ++k)
        {
            const LMK::RawVertexStruct_TYP& v = c.outVertices[c.outIndices[3 * f + k]];
            EXPECT_EQ(v.u, v.position[0]) << "cap coordinates through the plane's texture matrix";
            EXPECT_EQ(v.v, v.position[1]);
        }

    ModelConstructor_ built;
    cut(&built);
    LMK::Model_* model = nullptr;
    ASSERT_EQ(built.CreateModel(&model, false, true), S_OK);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->subsetCount, 2u);
    EXPECT_EQ(model->TotalFaceCount(), 18u);
    model->Release();
    capMaterial->Release();
}

TEST_F(ModelConstructorModel, EveryCutSetMakesItsOwnPiece)
{
    // Two sets, each keeping one half of the cube: the pieces together are the whole volume.
    ModelConstructor_ c;
    AddUnitCube(&c);
    LMK::CapPlaneStruct_TYP lower{{0, 0, -1, 0.5f}, {}, nullptr, 0, 0};
    LMK::CapPlaneStruct_TYP upper{{0, 0, 1, -0.5f}, {}, nullptr, 0, 0};
    D3DXMatrixIdentity(&lower.textureMatrix);
    D3DXMatrixIdentity(&upper.textureMatrix);
    c.cutSets = {{lower}, {upper}};
    c.Finalize();
    EXPECT_NEAR(Volume(c.outVertices, c.outIndices), 1.0, 1e-6);
    EXPECT_EQ(c.outSubsets.size(), 3u) << "both bodies in group 0, each cap its own group";
}
} // namespace
