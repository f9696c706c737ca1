// D3DX meshes over the fake device: attribute sorting, adjacency, clone, clean, normals, ray tests.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>

#include "platform/d3dx9/d3dx9.h"
#include "tests/platform/expect_refused.h"
#include "tests/platform/d3dx9_resources/fake_device.h"

namespace
{
using ferolt::test::FakeDevice;

constexpr DWORD kModelFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2; // 0x212, 40 bytes

struct Vertex40
{
    float x, y, z;
    float nx, ny, nz;
    float u0, v0, u1, v1;
};
static_assert(sizeof(Vertex40) == 40);

struct Geometry
{
    std::vector<D3DXVECTOR3> positions;
    std::vector<WORD> indices;
};

// A unit cube with four vertices of its own on each side (24 vertices, 12 triangles), wound clockwise
// seen from outside.
Geometry SplitCube(float jitter = 0.0f)
{
    Geometry g;
    const int axes[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
    for (int side = 0; side < 6; ++side)
    {
        const float fixed = (side % 2) ? 1.0f : 0.0f;
        const float corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
        WORD base = static_cast<WORD>(g.positions.size());
        for (int c = 0; c < 4; ++c)
        {
            float v[3];
            v[axes[side][0]] = corners[c][0];
            v[axes[side][1]] = corners[c][1];
            v[axes[side][2]] = fixed;
            // A different tiny offset on each copy of a corner.
            float j = jitter * float((side * 4 + c) % 5) / 5.0f;
            g.positions.push_back(D3DXVECTOR3(v[0] + j, v[1] - j, v[2] + j));
        }
        const bool flip = side % 2;
        const WORD a[6] = {0, 1, 2, 0, 2, 3};
        const WORD b[6] = {0, 2, 1, 0, 3, 2};
        for (int i = 0; i < 6; ++i)
            g.indices.push_back(base + (flip ? b[i] : a[i]));
    }
    return g;
}

// A strip of quads along x, each quad two triangles sharing vertices with its neighbours.
Geometry QuadStrip(int quads)
{
    Geometry g;
    for (int i = 0; i <= quads; ++i)
    {
        g.positions.push_back(D3DXVECTOR3(float(i), 0, 0));
        g.positions.push_back(D3DXVECTOR3(float(i), 1, 0));
    }
    for (int i = 0; i < quads; ++i)
    {
        WORD b = static_cast<WORD>(i * 2);
        const WORD tri[6] = {WORD(b), WORD(b + 1), WORD(b + 3), WORD(b), WORD(b + 3), WORD(b + 2)};
        g.indices.insert(g.indices.end(), tri, tri + 6);
    }
    return g;
}

class MeshTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(device_.counters.live, 0) << "a buffer was leaked";
        EXPECT_EQ(device_.References(), 1u) << "a device reference was leaked";
    }

    // A 0x212 mesh; texture coordinates carry the vertex number so that moved vertices can be traced.
    ID3DXMesh* Make(const Geometry& g, const std::vector<DWORD>& attributes = {},
                    DWORD options = D3DXMESH_MANAGED)
    {
        ID3DXMesh* mesh = nullptr;
        const DWORD faces = static_cast<DWORD>(g.indices.size() / 3);
        EXPECT_EQ(D3DXCreateMeshFVF(faces, static_cast<DWORD>(g.positions.size()), options, kModelFvf,
                                    &device_, &mesh),
                  S_OK);
        if (!mesh) return nullptr;
        Vertex40* v = nullptr;
        EXPECT_EQ(mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v)), S_OK);
        for (size_t i = 0; i < g.positions.size(); ++i)
            v[i] = {g.positions[i].x, g.positions[i].y, g.positions[i].z, 0, 0, 0, float(i), 0.5f, 7, 8};
        mesh->UnlockVertexBuffer();
        WORD* ix = nullptr;
        EXPECT_EQ(mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&ix)), S_OK);
        std::copy(g.indices.begin(), g.indices.end(), ix);
        mesh->UnlockIndexBuffer();
        if (!attributes.empty())
        {
            DWORD* a = nullptr;
            EXPECT_EQ(mesh->LockAttributeBuffer(0, &a), S_OK);
            std::copy(attributes.begin(), attributes.end(), a);
            mesh->UnlockAttributeBuffer();
        }
        return mesh;
    }

    static std::vector<Vertex40> Vertices(ID3DXMesh* mesh)
    {
        Vertex40* v = nullptr;
        mesh->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&v));
        std::vector<Vertex40> out(v, v + mesh->GetNumVertices());
        mesh->UnlockVertexBuffer();
        return out;
    }
    static std::vector<WORD> Indices(ID3DXMesh* mesh)
    {
        WORD* ix = nullptr;
        mesh->LockIndexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&ix));
        std::vector<WORD> out(ix, ix + mesh->GetNumFaces() * 3);
        mesh->UnlockIndexBuffer();
        return out;
    }
    static std::vector<DWORD> Attributes(ID3DXMesh* mesh)
    {
        DWORD* a = nullptr;
        mesh->LockAttributeBuffer(D3DLOCK_READONLY, &a);
        std::vector<DWORD> out(a, a + mesh->GetNumFaces());
        mesh->UnlockAttributeBuffer();
        return out;
    }
    static std::vector<D3DXATTRIBUTERANGE> Table(ID3DXMesh* mesh)
    {
        DWORD n = 99;
        EXPECT_EQ(mesh->GetAttributeTable(nullptr, &n), S_OK);
        std::vector<D3DXATTRIBUTERANGE> t(n);
        if (n) mesh->GetAttributeTable(t.data(), &n);
        return t;
    }

    FakeDevice device_;
};

TEST_F(MeshTest, CreateRejectsBadArgumentsAndFailedBuffersLeakNothing)
{
    struct Case
    {
        const char* name;
        DWORD faces, vertices, options, fvf;
        bool withDevice;
        int failCreates;
        const char* rule; // the refusal's id; none where a buffer fails
    };
    const Case cases[] = {
        {"no device", 1, 3, D3DXMESH_MANAGED, kModelFvf, false, 0, "Mesh.Create.NullPointer"},
        {"no faces", 0, 3, D3DXMESH_MANAGED, kModelFvf, true, 0, "Mesh.Create.Empty"},
        {"no vertices", 1, 0, D3DXMESH_MANAGED, kModelFvf, true, 0, "Mesh.Create.Empty"},
        {"too many vertices for 16-bit indices", 1, 65536, D3DXMESH_MANAGED, kModelFvf, true, 0,
         "Mesh.Create.OutOfRange"},
        {"no position", 1, 3, D3DXMESH_MANAGED, D3DFVF_NORMAL, true, 0, "Mesh.Create.WrongType"},
        {"vertex buffer fails", 1, 3, D3DXMESH_MANAGED, kModelFvf, true, 1, nullptr},
        {"index buffer fails", 1, 3, D3DXMESH_MANAGED | D3DXMESH_WRITEONLY, kModelFvf, true, 2, nullptr},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        device_.counters.failCreates = c.failCreates;
        ID3DXMesh* mesh = reinterpret_cast<ID3DXMesh*>(1);
        auto create = [&]
        {
            return D3DXCreateMeshFVF(c.faces, c.vertices, c.options, c.fvf, c.withDevice ? &device_ : nullptr,
                                     &mesh);
        };
        if (c.rule)
            EXPECT_REFUSED(create(), c.rule);
        else
            EXPECT_TRUE(FAILED(create()));
        EXPECT_EQ(mesh, nullptr);
        device_.counters.failCreates = 0;
    }
}

TEST_F(MeshTest, AccessorsAddReferences)
{
    ID3DXMesh* mesh = Make(QuadStrip(2));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->GetFVF(), kModelFvf);
    EXPECT_EQ(mesh->GetNumVertices(), 6u);
    EXPECT_EQ(mesh->GetNumFaces(), 4u);
    EXPECT_EQ(mesh->GetNumBytesPerVertex(), 40u);
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    IDirect3DDevice9* dev = nullptr;
    ASSERT_EQ(mesh->GetVertexBuffer(&vb), S_OK);
    ASSERT_EQ(mesh->GetIndexBuffer(&ib), S_OK);
    ASSERT_EQ(mesh->GetDevice(&dev), S_OK);
    EXPECT_EQ(dev, &device_);
    mesh->Release();
    // The buffers outlive the mesh while the caller holds them.
    EXPECT_EQ(device_.counters.live, 2);
    vb->Release();
    ib->Release();
    dev->Release();
}

TEST_F(MeshTest, AdjacencyLinksEveryTriangleOfASplitCube)
{
    struct Case
    {
        const char* name;
        float jitter;
        float epsilon;
        bool allLinked;
    };
    const Case cases[] = {
        {"exact positions", 0.0f, 0.0f, true},
        {"positions apart within epsilon", 1e-4f, 1e-3f, true},
        {"positions apart beyond epsilon", 1e-2f, 1e-3f, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ID3DXMesh* mesh = Make(SplitCube(c.jitter));
        ASSERT_NE(mesh, nullptr);
        std::vector<DWORD> adj(12 * 3, 0xCDCDCDCD);
        ASSERT_EQ(mesh->GenerateAdjacency(c.epsilon, adj.data()), S_OK);
        int linked = 0;
        for (DWORD f = 0; f < 12; ++f)
            for (int k = 0; k < 3; ++k)
            {
                DWORD g = adj[f * 3 + k];
                if (g == UNUSED32) continue;
                ASSERT_LT(g, 12u);
                EXPECT_NE(g, f);
                ++linked;
                // Symmetric: the neighbour names this face back on one of its edges.
                EXPECT_TRUE(adj[g * 3] == f || adj[g * 3 + 1] == f || adj[g * 3 + 2] == f);
            }
        if (c.allLinked)
        {
            EXPECT_EQ(linked, 36);
        }
        else
        {
            EXPECT_LT(linked, 36);
        }
        mesh->Release();
    }
    ID3DXMesh* mesh = Make(SplitCube());
    DWORD adj[36];
    EXPECT_REFUSED(mesh->GenerateAdjacency(-1.0f, adj), "Mesh.GenerateAdjacency.OutOfRange");
    EXPECT_REFUSED(mesh->GenerateAdjacency(std::nanf(""), adj), "Mesh.GenerateAdjacency.OutOfRange");
    EXPECT_REFUSED(mesh->GenerateAdjacency(-1.0f, nullptr), "Mesh.GenerateAdjacency.NullPointer");
    mesh->Release();
}

TEST_F(MeshTest, AttributeSortGivesDenseAscendingTableOverTheRightFacesAndVertices)
{
    struct Case
    {
        const char* name;
        DWORD flags;
        std::vector<DWORD> attributes; // per face of an 8-quad strip (16 faces)
    };
    const Case cases[] = {
        {"interleaved, sort only", D3DXMESHOPT_ATTRSORT, {2, 2, 0, 0, 1, 1, 2, 2, 0, 0, 1, 1, 2, 2, 0, 0}},
        {"interleaved per face, engine's cache flags",
         0x07000000,
         {5, 3, 5, 3, 4, 4, 3, 5, 5, 3, 4, 3, 5, 4, 3, 5}},
        {"one id", D3DXMESHOPT_ATTRSORT, std::vector<DWORD>(16, 7)},
        {"descending runs", 0x07000000, {9, 9, 9, 9, 8, 8, 8, 8, 1, 1, 1, 1, 0, 0, 0, 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Geometry g = QuadStrip(8);
        ID3DXMesh* mesh = Make(g, c.attributes);
        ASSERT_NE(mesh, nullptr);
        std::vector<DWORD> adjIn(16 * 3), adjOut(16 * 3), faceRemap(16);
        ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adjIn.data()), S_OK);
        ID3DXBuffer* vertexRemap = nullptr;
        ASSERT_EQ(mesh->OptimizeInplace(c.flags, adjIn.data(), adjOut.data(), faceRemap.data(), &vertexRemap),
                  S_OK);
        ASSERT_NE(vertexRemap, nullptr);
        const DWORD* vremap = static_cast<const DWORD*>(vertexRemap->GetBufferPointer());

        const auto table = Table(mesh);
        const auto attributes = Attributes(mesh);
        const auto indices = Indices(mesh);
        const auto vertices = Vertices(mesh);
        const std::set<DWORD> ids(c.attributes.begin(), c.attributes.end());
        ASSERT_EQ(table.size(), ids.size());
        DWORD nextFace = 0, nextVertex = 0;
        auto id = ids.begin();
        for (const D3DXATTRIBUTERANGE& r : table)
        {
            EXPECT_EQ(r.AttribId, *id++);
            EXPECT_EQ(r.FaceStart, nextFace);
            EXPECT_EQ(r.VertexStart, nextVertex);
            std::set<DWORD> used;
            for (DWORD f = r.FaceStart; f < r.FaceStart + r.FaceCount; ++f)
            {
                EXPECT_EQ(attributes[f], r.AttribId);
                EXPECT_EQ(c.attributes[faceRemap[f]], r.AttribId);
                for (int k = 0; k < 3; ++k)
                {
                    const DWORD v = indices[f * 3 + k];
                    EXPECT_GE(v, r.VertexStart);
                    EXPECT_LT(v, r.VertexStart + r.VertexCount);
                    used.insert(v);
                    // The corner still carries the original face's vertex.
                    const WORD original = g.indices[faceRemap[f] * 3 + k];
                    EXPECT_EQ(vremap[v], original);
                    EXPECT_EQ(vertices[v].u0, float(original));
                    EXPECT_EQ(vertices[v].x, g.positions[original].x);
                }
            }
            EXPECT_EQ(used.size(), r.VertexCount) << "the range holds only this group's vertices";
            nextFace += r.FaceCount;
            nextVertex += r.VertexCount;
        }
        EXPECT_EQ(nextFace, 16u);
        EXPECT_EQ(nextVertex, mesh->GetNumVertices());

        // The adjacency handed back is the adjacency of the reordered faces.
        for (DWORD f = 0; f < 16; ++f)
            for (int k = 0; k < 3; ++k)
            {
                const DWORD before = adjIn[faceRemap[f] * 3 + k];
                const DWORD after = adjOut[f * 3 + k];
                if (before == UNUSED32)
                {
                    EXPECT_EQ(after, UNUSED32);
                }
                else
                {
                    EXPECT_EQ(faceRemap[after], before);
                }
            }
        vertexRemap->Release();
        mesh->Release();
    }
}

TEST_F(MeshTest, PartPreparationKeepsAdjacencyTrue)
{
    // The steps a model part goes through: adjacency, cleaning, normals, sorting. The adjacency
    // carried through every step must equal the adjacency of the final mesh.
    const DWORD flags[] = {D3DXMESHOPT_ATTRSORT, 0x07000000};
    for (DWORD f : flags)
    {
        SCOPED_TRACE(f);
        std::vector<DWORD> attributes(12);
        for (DWORD i = 0; i < 12; ++i)
            attributes[i] = (i * 5) % 3;
        ID3DXMesh* mesh = Make(SplitCube(), attributes);
        ASSERT_NE(mesh, nullptr);
        std::vector<DWORD> adj(36), cleanAdj(36), finalAdj(36), regenerated(36);
        ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adj.data()), S_OK);
        ID3DXMesh* cleaned = nullptr;
        ASSERT_EQ(
            D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adj.data(), &cleaned, cleanAdj.data(), nullptr),
            S_OK);
        mesh->Release();
        ASSERT_EQ(D3DXComputeNormals(cleaned, nullptr), S_OK);
        ASSERT_EQ(cleaned->OptimizeInplace(f, cleanAdj.data(), finalAdj.data(), nullptr, nullptr), S_OK);
        ASSERT_EQ(cleaned->GenerateAdjacency(0.0f, regenerated.data()), S_OK);
        EXPECT_EQ(finalAdj, regenerated);
        EXPECT_EQ(Table(cleaned).size(), 3u);
        // Every normal is a unit axis vector of the cube side its vertex lies on.
        for (const Vertex40& v : Vertices(cleaned))
            EXPECT_NEAR(std::fabs(v.nx) + std::fabs(v.ny) + std::fabs(v.nz), 1.0f, 1e-6);
        cleaned->Release();
    }
}

TEST_F(MeshTest, AttributeSortKeepsOrderWhenSplittingWouldPassTheIndexLimit)
{
    // 65535 vertices all used by two alternating ids: splitting cannot fit 16-bit indices, yet the sort
    // must succeed with ranges that still contain every face's vertices.
    Geometry g;
    const int columns = 32767;
    for (int i = 0; i <= columns; ++i)
    {
        g.positions.push_back(D3DXVECTOR3(float(i), 0, 0));
        g.positions.push_back(D3DXVECTOR3(float(i), 1, 0));
    }
    g.positions.resize(65535);
    std::vector<DWORD> attributes;
    for (int i = 0; i + 1 < columns; ++i)
    {
        WORD b = static_cast<WORD>(i * 2);
        const WORD tri[6] = {WORD(b), WORD(b + 1), WORD(b + 3), WORD(b), WORD(b + 3), WORD(b + 2)};
        g.indices.insert(g.indices.end(), tri, tri + 6);
        attributes.push_back(DWORD(i % 2));
        attributes.push_back(DWORD((i + 1) % 2));
    }
    ID3DXMesh* mesh = Make(g, attributes);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_LE(mesh->GetNumVertices(), 65535u);
    const auto table = Table(mesh);
    const auto indices = Indices(mesh);
    ASSERT_EQ(table.size(), 2u);
    for (const D3DXATTRIBUTERANGE& r : table)
        for (DWORD f = r.FaceStart; f < r.FaceStart + r.FaceCount; ++f)
            for (int k = 0; k < 3; ++k)
            {
                ASSERT_GE(indices[f * 3 + k], r.VertexStart);
                ASSERT_LT(indices[f * 3 + k], r.VertexStart + r.VertexCount);
            }
    mesh->Release();
}

TEST_F(MeshTest, CloneCopiesComponentsByKindAndKeepsTheTable)
{
    struct Case
    {
        const char* name;
        DWORD fvf;
    };
    const Case cases[] = {
        {"same format, write-only", kModelFvf},
        {"one texture set", D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1},
        {"diffuse instead of normal", D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2},
        {"three texture sets", D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX3},
    };
    const Geometry g = QuadStrip(3);
    const std::vector<DWORD> attributes = {1, 0, 1, 0, 2, 2};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ID3DXMesh* mesh = Make(g, attributes);
        ASSERT_NE(mesh, nullptr);
        ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr), S_OK);
        ID3DXMesh* clone = nullptr;
        ASSERT_EQ(mesh->CloneMeshFVF(D3DXMESH_MANAGED | D3DXMESH_WRITEONLY, c.fvf, &device_, &clone), S_OK);
        EXPECT_EQ(clone->GetFVF(), c.fvf);
        EXPECT_EQ(clone->GetNumBytesPerVertex(), D3DXGetFVFVertexSize(c.fvf));
        EXPECT_EQ(Indices(clone), Indices(mesh));
        EXPECT_EQ(Attributes(clone), Attributes(mesh));
        const auto a = Table(mesh), b = Table(clone);
        ASSERT_EQ(a.size(), b.size());
        EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(D3DXATTRIBUTERANGE)));

        const auto src = Vertices(mesh);
        const UINT stride = clone->GetNumBytesPerVertex();
        uint8_t* dst = nullptr;
        ASSERT_EQ(clone->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&dst)), S_OK);
        for (DWORD v = 0; v < clone->GetNumVertices(); ++v)
        {
            const float* f = reinterpret_cast<const float*>(dst + v * stride);
            EXPECT_EQ(f[0], src[v].x);
            EXPECT_EQ(f[1], src[v].y);
            int at = 3 + ((c.fvf & D3DFVF_NORMAL) ? 3 : 0);
            if (c.fvf & D3DFVF_DIFFUSE)
            {
                uint32_t diffuse;
                std::memcpy(&diffuse, f + at, 4);
                EXPECT_EQ(diffuse, 0u) << "a component the source lacks is zero";
                ++at;
            }
            EXPECT_EQ(f[at], src[v].u0);
            const UINT sets = (c.fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
            if (sets >= 2)
            {
                EXPECT_EQ(f[at + 2], 7.0f);
            }
            if (sets >= 3)
            {
                EXPECT_EQ(f[at + 4], 0.0f);
            }
        }
        clone->UnlockVertexBuffer();
        clone->Release();
        mesh->Release();
    }
}

TEST_F(MeshTest, IntersectFindsNearestFaceWithBarycentrics)
{
    // Two quads facing the ray: z = 2 (faces 0, 1) and z = 1 (faces 2, 3); attribute = quad number.
    Geometry g;
    for (float z : {2.0f, 1.0f})
    {
        WORD b = static_cast<WORD>(g.positions.size());
        g.positions.push_back(D3DXVECTOR3(0, 0, z));
        g.positions.push_back(D3DXVECTOR3(0, 4, z));
        g.positions.push_back(D3DXVECTOR3(4, 4, z));
        g.positions.push_back(D3DXVECTOR3(4, 0, z));
        const WORD tri[6] = {WORD(b), WORD(b + 1), WORD(b + 2), WORD(b), WORD(b + 2), WORD(b + 3)};
        g.indices.insert(g.indices.end(), tri, tri + 6);
    }
    ID3DXMesh* mesh = Make(g, {0, 0, 1, 1});
    ASSERT_NE(mesh, nullptr);
    struct Case
    {
        const char* name;
        D3DXVECTOR3 pos, dir;
        int subset; // -1: whole mesh
        BOOL hit;
        DWORD face;
        float u, v, dist;
        DWORD count;
    };
    const Case cases[] = {
        // Face 2 is (0,0) (0,4) (4,4): the point (1,3) = V0 + 0.5 (V1 - V0) + 0.25 (V2 - V0).
        {"nearest quad first", {1, 3, -1}, {0, 0, 1}, -1, TRUE, 2, 0.5f, 0.25f, 2.0f, 2},
        {"direction length scales the distance", {1, 3, -1}, {0, 0, 2}, -1, TRUE, 2, 0.5f, 0.25f, 1.0f, 2},
        {"other triangle of the quad", {3, 1, 0}, {0, 0, 1}, -1, TRUE, 3, 0.25f, 0.5f, 1.0f, 2},
        {"subset restricts the faces", {1, 3, -1}, {0, 0, 1}, 0, TRUE, 0, 0.5f, 0.25f, 3.0f, 1},
        {"hit from behind counts", {1, 3, 5}, {0, 0, -1}, -1, TRUE, 0, 0.5f, 0.25f, 3.0f, 2},
        {"beside the quads", {5, 5, -1}, {0, 0, 1}, -1, FALSE, 0, 0, 0, 0, 0},
        {"faces behind the origin", {1, 3, 3}, {0, 0, 1}, -1, FALSE, 0, 0, 0, 0, 0},
        {"absent subset", {1, 3, -1}, {0, 0, 1}, 9, FALSE, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        BOOL hit = -1;
        DWORD face = 99, count = 99;
        float u = -1, v = -1, dist = -1;
        ID3DXBuffer* all = nullptr;
        HRESULT hr = c.subset < 0
                         ? D3DXIntersect(mesh, &c.pos, &c.dir, &hit, &face, &u, &v, &dist, &all, &count)
                         : D3DXIntersectSubset(mesh, DWORD(c.subset), &c.pos, &c.dir, &hit, &face, &u, &v,
                                               &dist, &all, &count);
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(hit, c.hit);
        EXPECT_EQ(count, c.count);
        if (c.hit)
        {
            EXPECT_EQ(face, c.face);
            EXPECT_NEAR(u, c.u, 1e-6);
            EXPECT_NEAR(v, c.v, 1e-6);
            EXPECT_NEAR(dist, c.dist, 1e-6);
            ASSERT_NE(all, nullptr);
            ASSERT_EQ(all->GetBufferSize(), c.count * sizeof(D3DXINTERSECTINFO));
            const auto* info = static_cast<const D3DXINTERSECTINFO*>(all->GetBufferPointer());
            for (DWORD i = 1; i < c.count; ++i)
                EXPECT_LT(info[i - 1].FaceIndex, info[i].FaceIndex);
            all->Release();
        }
        else
        {
            EXPECT_EQ(all, nullptr);
        }
    }
    mesh->Release();
}

TEST_F(MeshTest, CleanSplitsBowTiesAndBackFacesKeepingFaces)
{
    struct Case
    {
        const char* name;
        Geometry geometry;
        DWORD addedVertices;
    };
    // Two triangles touching only at vertex 0.
    Geometry bowtie{{{0, 0, 0}, {1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {-1, 1, 0}}, {0, 1, 2, 0, 3, 4}};
    // The same triangle twice, back to back.
    Geometry backToBack{{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {0, 1, 2, 0, 2, 1}};
    const Case cases[] = {
        {"bow tie", bowtie, 1},
        {"back to back", backToBack, 3},
        {"clean strip", QuadStrip(2), 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ID3DXMesh* mesh = Make(c.geometry);
        ASSERT_NE(mesh, nullptr);
        const DWORD faces = mesh->GetNumFaces();
        std::vector<DWORD> adj(faces * 3), adjOut(faces * 3);
        ASSERT_EQ(mesh->GenerateAdjacency(0.0f, adj.data()), S_OK);
        ID3DXMesh* cleaned = nullptr;
        ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adj.data(), &cleaned, adjOut.data(), nullptr),
                  S_OK);
        EXPECT_EQ(cleaned->GetNumFaces(), faces);
        EXPECT_EQ(cleaned->GetNumVertices(), mesh->GetNumVertices() + c.addedVertices);
        // Face order kept: each face still has the same corner positions.
        const auto before = Vertices(mesh), after = Vertices(cleaned);
        const auto ib = Indices(mesh), ia = Indices(cleaned);
        for (size_t i = 0; i < ib.size(); ++i)
        {
            EXPECT_EQ(after[ia[i]].x, before[ib[i]].x);
            EXPECT_EQ(after[ia[i]].y, before[ib[i]].y);
        }
        cleaned->Release();
        mesh->Release();
    }
}

TEST_F(MeshTest, ComputeNormalsAveragesUnitFaceNormals)
{
    // A tent: two faces meeting at a ridge along y at 90 degrees.
    Geometry tent{{{0, 0, 0}, {0, 1, 0}, {1, 1, 1}, {1, 0, 1}, {-1, 0, 1}, {-1, 1, 1}},
                  {0, 1, 2, 0, 2, 3, 0, 4, 5, 0, 5, 1}};
    ID3DXMesh* mesh = Make(tent);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(D3DXComputeNormals(mesh, nullptr), S_OK);
    const auto v = Vertices(mesh);
    const float s = std::sqrt(0.5f);
    struct Expect
    {
        int vertex;
        float nx, ny, nz;
    };
    const Expect expected[] = {{0, 0, 0, -1}, {1, 0, 0, -1}, {2, s, 0, -s}, {3, s, 0, -s}, {4, -s, 0, -s}};
    for (const Expect& e : expected)
    {
        SCOPED_TRACE(e.vertex);
        EXPECT_NEAR(v[e.vertex].nx, e.nx, 1e-6);
        EXPECT_NEAR(v[e.vertex].ny, e.ny, 1e-6);
        EXPECT_NEAR(v[e.vertex].nz, e.nz, 1e-6);
    }
    EXPECT_EQ(v[0].u0, 0.0f) << "other components stay";
    mesh->Release();

    ID3DXMesh* noNormals = nullptr;
    ASSERT_EQ(D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, D3DFVF_XYZ, &device_, &noNormals), S_OK);
    EXPECT_REFUSED(D3DXComputeNormals(noNormals, nullptr), "D3DXComputeNormals.NoNormals");
    EXPECT_REFUSED(D3DXComputeNormals(nullptr, nullptr), "D3DXComputeNormals.NullPointer");
    noNormals->Release();
}

TEST(MeshFunctions, FvfSizesBoundsAndProbes)
{
    const std::pair<DWORD, UINT> sizes[] = {
        {D3DFVF_XYZ, 12},
        {kModelFvf, 40},
        {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, 28},
        {D3DFVF_XYZ | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0), 24},
        {D3DFVF_XYZB2 | D3DFVF_NORMAL | D3DFVF_SPECULAR, 36},
        {D3DFVF_DIFFUSE, 4},
    };
    for (auto [fvf, size] : sizes)
        EXPECT_EQ(D3DXGetFVFVertexSize(fvf), size) << std::hex << fvf;

    const Vertex40 v[3] = {
        {1, -2, 3, 0, 0, 0, 0, 0, 0, 0}, {-1, 5, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, -7, 0, 0, 0, 0, 0, 0, 0}};
    D3DXVECTOR3 lo, hi;
    ASSERT_EQ(D3DXComputeBoundingBox(reinterpret_cast<const D3DXVECTOR3*>(v), 3, 40, &lo, &hi), S_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(-1, -2, -7));
    EXPECT_EQ(hi, D3DXVECTOR3(1, 5, 3));
    EXPECT_REFUSED(D3DXComputeBoundingBox(nullptr, 3, 40, &lo, &hi), "D3DXComputeBoundingBox.NullPointer");
    D3DVERTEXELEMENT9 declarator[MAX_FVF_DECL_SIZE];
    EXPECT_REFUSED(D3DXDeclaratorFromFVF(D3DFVF_XYZ, nullptr), "D3DXDeclaratorFromFVF.NullPointer");
    EXPECT_REFUSED(D3DXDeclaratorFromFVF(D3DFVF_XYZ | D3DFVF_RESERVED0, declarator),
                   "D3DXDeclaratorFromFVF.WrongType");

    const D3DXVECTOR3 bmin(0, 0, 0), bmax(1, 1, 1);
    struct Probe
    {
        D3DXVECTOR3 pos, dir;
        BOOL hit;
    };
    const Probe probes[] = {
        {{0.5f, 0.5f, -5}, {0, 0, 1}, TRUE},   {{0.5f, 0.5f, -5}, {0, 0, -1}, FALSE},
        {{0.5f, 0.5f, 0.5f}, {1, 0, 0}, TRUE}, {{2, 2, -5}, {0, 0, 1}, FALSE},
        {{-1, -1, -1}, {1, 1, 1}, TRUE},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(D3DXBoxBoundProbe(&bmin, &bmax, &p.pos, &p.dir), p.hit);
}

TEST(MeshFunctions, BufferIsZeroedAndSized)
{
    ID3DXBuffer* b = nullptr;
    ASSERT_EQ(D3DXCreateBuffer(12, &b), S_OK);
    EXPECT_EQ(b->GetBufferSize(), 12u);
    const auto* p = static_cast<const uint8_t*>(b->GetBufferPointer());
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(p[i], 0);
    b->Release();
    EXPECT_EQ(D3DXCreateBuffer(0xFFFFFFFFu, &b), E_OUTOFMEMORY);
    EXPECT_EQ(b, nullptr);
}
} // namespace
