// Resmoothing: vertices are split between groups of faces that meet at more than the crease angle, so
// the normals computed afterwards keep hard edges hard and round surfaces round.
#include "scene_fixture.h"

#include <cmath>

namespace
{
using namespace scenetest;

// Two triangles sharing the edge (0,0,0)-(1,0,0) at a right angle.
RawGeometry Hinge()
{
    RawGeometry g;
    g.AddVertex(0, 0, 0);
    g.AddVertex(1, 0, 0);
    g.AddVertex(0, 1, 0);
    g.AddVertex(0, 0, 1);
    g.indices = {0, 1, 2, 1, 0, 3};
    return g;
}

// A cube on eight shared corners, each side two triangles wound alike.
RawGeometry Cube()
{
    RawGeometry g;
    for (int i = 0; i < 8; ++i)
        g.AddVertex(float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1));
    const DWORD sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                               {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& q : sides)
        g.indices.insert(g.indices.end(), {q[0], q[1], q[2], q[0], q[2], q[3]});
    return g;
}

// A unit sphere of rings and segments on shared vertices, one vertex at each pole. The grouping walk is
// one forward pass over each vertex's faces, so the face order decides what a seam does; with each quad
// cut from its top-right to its bottom-left corner every fan is walked round whole.
RawGeometry Sphere(int rings, int segments)
{
    RawGeometry g;
    const float pi = 3.14159265f;
    g.AddVertex(0, 0, 1);
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s < segments; ++s)
        {
            const float theta = pi * float(r) / float(rings), phi = 2 * pi * float(s) / float(segments);
            g.AddVertex(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta));
        }
    const DWORD south = g.AddVertex(0, 0, -1);
    auto at = [segments](int r, int s) { return DWORD(1 + (r - 1) * segments + (s % segments)); };
    for (int s = 0; s < segments; ++s)
        g.indices.insert(g.indices.end(), {0, at(1, s), at(1, s + 1)});
    for (int r = 1; r + 1 < rings; ++r)
        for (int s = 0; s < segments; ++s)
            g.indices.insert(g.indices.end(), {at(r, s), at(r + 1, s), at(r, s + 1), at(r, s + 1),
                                               at(r + 1, s), at(r + 1, s + 1)});
    for (int s = 0; s < segments; ++s)
        g.indices.insert(g.indices.end(), {south, at(rings - 1, s + 1), at(rings - 1, s)});
    return g;
}

D3DXVECTOR3 Normal(const LMK::ModelVertexStruct_TYP& v)
{
    return D3DXVECTOR3(v.normal[0], v.normal[1], v.normal[2]);
}

D3DXVECTOR3 FaceNormal(const std::array<LMK::ModelVertexStruct_TYP, 3>& f)
{
    const D3DXVECTOR3 p0(f[0].position), p1(f[1].position), p2(f[2].position);
    const D3DXVECTOR3 a = p1 - p0, b = p2 - p0;
    D3DXVECTOR3 n;
    D3DXVec3Cross(&n, &a, &b);
    D3DXVec3Normalize(&n, &n);
    return n;
}

struct CreaseCase
{
    const char* name;
    RawGeometry (*make)();
    float crease;
    DWORD vertices;
};

TEST_F(SceneTest, ResmoothingSplitsVerticesAtCreases)
{
    const CreaseCase cases[] = {
        {"right angle, default crease", Hinge, 0.5235988f, 6},
        {"right angle within a wide crease", Hinge, 2.0f, 4},
        {"crease above the largest is the default", Hinge, 3.0f, 6},
        {"negative crease is the default", Hinge, -1.0f, 6},
        {"cube at thirty degrees", Cube, 0.5235988f, 24},
    };
    for (const CreaseCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        const RawGeometry g = c.make();
        HRESULT hr = E_FAIL;
        LMK::Model_* model = BuildModel(g, {Subset(0, g.FaceCount())}, &hr);
        ASSERT_EQ(hr, S_OK);
        ASSERT_TRUE(model->Resmooth(c.crease, nullptr));
        ASSERT_EQ(model->partCount, 1u);
        const MeshFaces mesh = ReadFaces(Primary(model)->parts[0]->mesh);
        EXPECT_EQ(mesh.vertexCount, c.vertices);
        EXPECT_EQ(mesh.faces.size(), g.FaceCount());
        model->Release();
    }
}

// Every corner of the cube ends up with its side's normal, not an average across the edge.
TEST_F(SceneTest, ResmoothedCubeKeepsHardEdges)
{
    const RawGeometry g = Cube();
    HRESULT hr = E_FAIL;
    LMK::Model_* model = BuildModel(g, {Subset(0, 12)}, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_TRUE(model->Resmooth(0.5235988f, nullptr));
    const MeshFaces mesh = ReadFaces(Primary(model)->parts[0]->mesh);
    for (const auto& face : mesh.faces)
    {
        const D3DXVECTOR3 n = FaceNormal(face);
        for (const auto& corner : face)
        {
            const D3DXVECTOR3 v = Normal(corner);
            EXPECT_NEAR(D3DXVec3Dot(&v, &n), 1.0f, 1e-5f);
        }
    }
    model->Release();
}

// The sphere keeps its shared vertices and every normal points away from the centre.
TEST_F(SceneTest, ResmoothedSphereIsSmooth)
{
    const RawGeometry g = Sphere(8, 16);
    HRESULT hr = E_FAIL;
    LMK::Model_* model = BuildModel(g, {Subset(0, g.FaceCount())}, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_TRUE(model->Resmooth(0.5235988f, nullptr));
    const MeshFaces mesh = ReadFaces(Primary(model)->parts[0]->mesh);
    EXPECT_EQ(mesh.vertexCount, g.vertices.size());
    for (const auto& face : mesh.faces)
        for (const auto& corner : face)
        {
            const D3DXVECTOR3 n = Normal(corner);
            const D3DXVECTOR3 p(corner.position);
            // Outward or inward depends on the winding; either way it is the radius.
            EXPECT_GT(std::fabs(D3DXVec3Dot(&n, &p)), 0.98f);
        }
    model->Release();
}

TEST_F(SceneTest, ResmoothingKeepsWhatTheModelCarries)
{
    const RawGeometry g = Hinge();
    auto* material = new LMK::Material_(1, 1, 1, 1, false);
    HRESULT hr = E_FAIL;
    LMK::Model_* model = BuildModel(g, {Subset(0, 2, material)}, &hr);
    ASSERT_EQ(hr, S_OK);
    model->SetName("HINGE");
    model->keepNormals = 1;
    model->fileValue = 2.5f;

    // A zero crease without an out pointer only clears the keep-normals flag.
    ASSERT_TRUE(model->Resmooth(0.0f, nullptr));
    EXPECT_EQ(model->keepNormals, 0);
    EXPECT_EQ(Primary(model)->parts[0]->mesh->GetNumVertices(), 4u);

    LMK::Model_* made = nullptr;
    ASSERT_TRUE(model->Resmooth(0.5235988f, &made));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(Primary(model)->parts[0]->mesh->GetNumVertices(), 4u) << "the model itself is not changed";
    EXPECT_EQ(Primary(made)->parts[0]->mesh->GetNumVertices(), 6u);
    EXPECT_STREQ(made->name, "HINGE");
    EXPECT_FLOAT_EQ(made->fileValue, 2.5f);
    EXPECT_EQ(material->refCount, 3u);
    made->Release();

    ASSERT_TRUE(model->Resmooth(0.5235988f, nullptr));
    EXPECT_STREQ(model->name, "HINGE");
    EXPECT_FLOAT_EQ(model->fileValue, 2.5f);
    EXPECT_EQ(model->subsets[0].material, material);
    EXPECT_EQ(material->refCount, 2u);
    model->Release();
    EXPECT_EQ(material->refCount, 1u);
    material->Release();
}
} // namespace
