// Progressive meshes on a small hand-built fan.
//
// The original mesh, in the plane z = 0 (positions by index):
//   0 (-1, 0)   1 (-1.5, 2)   2 (0, 1.5)   3 (2, 1)   4 (-2, -1)   5 (0, -1.5)   6 (2, -1)
//   7 (1, 0)    8 (-2, 1)
// Collapsing 7 into 0 (both to (0, 0)) removes faces (7, 0, 5) and (0, 7, 2); collapsing 8 into 1 (both
// to (-1.75, 1.5)) removes face (1, 8, 2). The base mesh is what is left: 7 positions, 6 faces round 0.
// Split 1 undoes the first collapse (an interior split, three steps round 0 from face 0 to face 3),
// split 2 the second (a split on the boundary at corner 2 of face 0).
#include <memory>

#include "../render/render_view_fixture.h"

#include "engine/scene/mesh.h"
#include "engine/scene/model_draw_data.h"
#include "engine/scene/progressive_mesh.h"

namespace
{
using namespace rendertest;
using LMK::kNoNeighbourFace;
using LMK::ProgressiveMesh_;
constexpr uint32_t N = kNoNeighbourFace;

const std::vector<std::array<uint32_t, 3>> kOriginalFaces = {
    {0, 2, 8}, {0, 8, 4}, {0, 4, 5}, {7, 5, 6}, {7, 6, 3}, {7, 3, 2}, {7, 0, 5}, {0, 7, 2}, {1, 8, 2}};
const std::vector<D3DXVECTOR3> kOriginalPositions = {{-1, 0, 0}, {-1.5f, 2, 0}, {0, 1.5f, 0},
                                                     {2, 1, 0},  {-2, -1, 0},   {0, -1.5f, 0},
                                                     {2, -1, 0}, {1, 0, 0},     {-2, 1, 0}};
const float kNoChange[5] = {};

LMK::ProgressiveMeshSourceStruct_TYP Fan()
{
    LMK::ProgressiveMeshSourceStruct_TYP s{};
    s.positions = {{0, 0, 0},   {-1.75f, 1.5f, 0}, {0, 1.5f, 0}, {2, 1, 0},
                   {-2, -1, 0}, {0, -1.5f, 0},     {2, -1, 0}};
    for (uint32_t i = 0; i < 7; ++i)
        s.wedges.push_back({i, {0, 0, 1}, 0.5f, 0.5f});
    s.faces = {
        {{0, 2, 1}, {5, N, 1}, 0}, {{0, 1, 4}, {0, N, 2}, 0}, {{0, 4, 5}, {1, N, 3}, 0},
        {{0, 5, 6}, {2, N, 4}, 0}, {{0, 6, 3}, {3, N, 5}, 0}, {{0, 3, 2}, {4, N, 0}, 0},
    };
    // Anchor face, walk count, code (corner | flags << 2 | take the faces' attributes), attributes,
    // position delta, one group of unchanged attributes.
    s.splits = {
        {0, 3, 0x0 | 0x1800, 0, 0, {1, 0, 0}, kNoChange, 1},
        {0, -1, 2 | (0x082 << 2) | 0x1800, 0, 0, {-0.25f, -0.5f, 0}, kNoChange, 1},
    };
    s.wedgeCapacity = 9;
    s.faceCapacity = 9;
    s.positionCapacity = 9;
    return s;
}

class ProgressiveMeshTest : public RenderViewTest
{
protected:
    void SetUp() override
    {
        RenderViewTest::SetUp();
        Start({{0, 0, 64, 48}});
    }
    void TearDown() override
    {
        if (mesh_) mesh_->Release();
        RenderViewTest::TearDown();
    }

    ProgressiveMesh_* Make(const LMK::ProgressiveMeshSourceStruct_TYP& source)
    {
        if (mesh_) mesh_->Release();
        mesh_ = nullptr;
        EXPECT_EQ(ProgressiveMesh_::Create(nullptr, source, &mesh_), S_OK);
        return mesh_;
    }

    // Vertices and faces of the mesh the part draws now; {0, 0} without one.
    static std::pair<DWORD, DWORD> Drawn(ProgressiveMesh_* m)
    {
        if (!m->currentMesh || !m->currentMesh->mesh) return {0, 0};
        return {m->currentMesh->mesh->GetNumVertices(), m->currentMesh->mesh->GetNumFaces()};
    }

    ProgressiveMesh_* mesh_ = nullptr;
};

TEST_F(ProgressiveMeshTest, EachLevelHasItsHandCountedVerticesAndFaces)
{
    ProgressiveMesh_* m = Make(Fan());
    EXPECT_EQ(m->GetFaceCount(), 9u);
    EXPECT_EQ(Drawn(m), (std::pair<DWORD, DWORD>{7, 6})) << "made at the base mesh";
    struct Step
    {
        DWORD level;
        std::pair<DWORD, DWORD> drawn;
        uint32_t applied;
    };
    for (const Step& s : {Step{8, {8, 8}, 1}, Step{9, {9, 9}, 2}, Step{100, {9, 9}, 2}, Step{3, {7, 6}, 0},
                          Step{7, {7, 6}, 0}, Step{8, {8, 8}, 1}})
    {
        m->SetFaceCount(s.level);
        EXPECT_EQ(Drawn(m), s.drawn) << "level " << s.level;
        EXPECT_EQ(m->appliedSplits, s.applied) << "level " << s.level;
    }
    LMK::LKXMesh_* kept = m->currentMesh;
    m->SetFaceCount(8);
    EXPECT_EQ(m->currentMesh, kept) << "the same level again rebuilds nothing";
}

TEST_F(ProgressiveMeshTest, FullRefinementGivesBackTheOriginalMesh)
{
    ProgressiveMesh_* m = Make(Fan());
    m->SetFaceCount(m->GetFaceCount());
    ASSERT_EQ(m->faceCount, kOriginalFaces.size());
    ASSERT_EQ(m->positionCount, kOriginalPositions.size());
    ASSERT_EQ(m->wedgeCount, 9u);
    for (uint32_t i = 0; i < m->positionCount; ++i)
        EXPECT_EQ(m->positions[i], kOriginalPositions[i]) << "position " << i;
    for (uint32_t w = 0; w < m->wedgeCount; ++w)
        EXPECT_EQ(m->wedges[w].position, w) << "wedge " << w;
    for (uint32_t f = 0; f < m->faceCount; ++f)
    {
        const LMK::ProgressiveFaceStruct_TYP& face = m->faces[f];
        EXPECT_EQ((std::array<uint32_t, 3>{face.wedges[0], face.wedges[1], face.wedges[2]}),
                  kOriginalFaces[f])
            << "face " << f;
        // Each neighbour is the other face of the edge, or none on the boundary.
        for (int k = 0; k < 3; ++k)
        {
            const uint32_t from = kOriginalFaces[f][k], to = kOriginalFaces[f][(k + 1) % 3];
            uint32_t other = N;
            for (uint32_t g = 0; g < kOriginalFaces.size(); ++g)
                for (int j = 0; j < 3; ++j)
                    if (kOriginalFaces[g][j] == to && kOriginalFaces[g][(j + 1) % 3] == from) other = g;
            EXPECT_EQ(face.neighbours[k], other) << "face " << f << " edge " << k;
        }
    }
    EXPECT_EQ(Drawn(m), (std::pair<DWORD, DWORD>{9, 9}));
}

// A split that cannot be applied leaves the mesh of the level before; the same level asked again builds
// what the records before it make, and nothing the failed record half did stays.
TEST_F(ProgressiveMeshTest, FailedSplitsLeaveTheMeshWhole)
{
    struct Case
    {
        const char* name;
        void (*change)(LMK::ProgressiveMeshSourceStruct_TYP&);
        uint32_t applied;
    };
    const Case cases[] = {
        {"anchor outside the faces", [](auto& s) { s.splits[1].anchorFace = 20; }, 1},
        {"no wedge left", [](auto& s) { s.wedgeCapacity = 8; }, 1},
        {"no face left", [](auto& s) { s.faceCapacity = 8; }, 1},
        {"no position left", [](auto& s) { s.positionCapacity = 8; }, 1},
        {"wedge data missing", [](auto& s) { s.splits[1].wedgeGroupCount = 0; }, 1},
        {"walk meets the boundary", [](auto& s) { s.splits[1].walkCount = 1; }, 1},
        {"boundary split round a closed fan",
         [](auto& s) { s.splits[0] = s.splits[1], s.splits[0].code = 0x208; }, 0},
    };
    const std::pair<DWORD, DWORD> reachable[] = {{7, 6}, {8, 8}};
    for (const Case& c : cases)
    {
        LMK::ProgressiveMeshSourceStruct_TYP s = Fan();
        c.change(s);
        ProgressiveMesh_* m = Make(s);
        m->SetFaceCount(9);
        EXPECT_EQ(Drawn(m), (std::pair<DWORD, DWORD>{7, 6})) << c.name;
        EXPECT_EQ(m->appliedSplits, c.applied) << c.name;
        EXPECT_EQ(m->positionCount, 7 + c.applied) << c.name;
        m->SetFaceCount(9);
        EXPECT_EQ(Drawn(m), reachable[c.applied]) << c.name << ", asked again";
        for (uint32_t f = 0; f < m->faceCount; ++f)
            for (uint32_t w : m->faces[f].wedges)
                EXPECT_LT(w, m->wedgeCount) << c.name;
    }
}

TEST_F(ProgressiveMeshTest, RefusesBaseMeshesThatReferOutsideThemselves)
{
    const std::pair<const char*, void (*)(LMK::ProgressiveMeshSourceStruct_TYP&)> cases[] = {
        {"wedge position", [](auto& s) { s.wedges[3].position = 7; }},
        {"face wedge", [](auto& s) { s.faces[2].wedges[1] = 7; }},
        {"neighbour", [](auto& s) { s.faces[2].neighbours[1] = 6; }},
        {"wedges past 16-bit indices", [](auto& s) { s.wedgeCapacity = 0x10001; }},
        {"capacity below the base", [](auto& s) { s.faceCapacity = 5; }},
        {"wedge data without its pointer", [](auto& s) { s.splits[0].wedgeData = nullptr; }},
    };
    for (const auto& [name, change] : cases)
    {
        LMK::ProgressiveMeshSourceStruct_TYP s = Fan();
        change(s);
        ProgressiveMesh_* out = reinterpret_cast<ProgressiveMesh_*>(1);
        EXPECT_EQ(ProgressiveMesh_::Create(nullptr, s, &out), E_INVALIDARG) << name;
        EXPECT_EQ(out, nullptr) << name;
    }
    ProgressiveMesh_* kept = reinterpret_cast<ProgressiveMesh_*>(1);
    EXPECT_EQ(ProgressiveMesh_::CreateForDevice(nullptr, &kept), E_FAIL);
    EXPECT_EQ(kept, reinterpret_cast<ProgressiveMesh_*>(1));

    LMK::ProgressiveMeshSourceStruct_TYP s = Fan();
    s.splits.clear();
    ProgressiveMesh_* m = Make(s);
    m->SetFaceCount(9);
    EXPECT_EQ(m->lastLevel, 0u) << "a part without splits ignores every level";
}

// The model draw sets the part to the level of the model's progressive fraction and draws the mesh of
// that level: the face that the last split adds shows only when fully refined.
TEST_F(ProgressiveMeshTest, ModelDrawingDrawsTheLevelOfTheFraction)
{
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 6, 4.5f);
    LMK::Object_* object = AddQuad(
        {D3DXVECTOR3(-2, -1.5f, 0), D3DXVECTOR3(2, -1.5f, 0), D3DXVECTOR3(2, 2, 0), D3DXVECTOR3(-2, 2, 0)},
        {1, 1, 0, 1});
    LMK::Model_* model = object->model;
    auto* data = static_cast<LMK::DeviceSpecificModelData_*>(model->primaryData.get());
    ASSERT_EQ(ProgressiveMesh_::Create(model, Fan(), &mesh_), S_OK);
    // The device copy owns only the arrays it was made with; this one stays the test's.
    std::unique_ptr<ProgressiveMesh_*[]> progressive(new ProgressiveMesh_*[data->partCount]());
    progressive[0] = mesh_;
    data->progressiveParts = progressive.get();

    struct Probe
    {
        float fraction;
        bool lastFace, corner;
    };
    for (const Probe& p : {Probe{1.0f, true, false}, Probe{0.8f, false, false}, Probe{1.0f, true, false}})
    {
        model->progressiveFraction = p.fraction;
        LMK::RenderViewStruct_TYP v = Record(bb);
        ASSERT_EQ(Render(&v, {object}), S_OK);
        const POINT lastFace = Project(bb, {-1.2f, 1.8f, 0});
        const POINT corner = Project(bb, {1.8f, 1.8f, 0}); // the quad's own corner, which no level has
        EXPECT_EQ(backend_.Pixel(w, lastFace.x, lastFace.y) & 0xFFFFFF, p.lastFace ? 0xFFFF00u : kBackground)
            << "fraction " << p.fraction;
        EXPECT_EQ(backend_.Pixel(w, corner.x, corner.y) & 0xFFFFFF, kBackground) << "fraction " << p.fraction;
        EXPECT_EQ(mesh_->appliedSplits, p.lastFace ? 2u : 0u);
    }
    data->progressiveParts = nullptr;
}
} // namespace
