// Models from X files: one part, one subset per file material, each subset holding exactly the file's
// faces of that material.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "scene_fixture.h"
#include "tests/support/xfile_writer.h"

namespace
{
using ferolt::test::WriteXFile;
using ferolt::test::XEncoding;
using ferolt::test::XFileDesc;
using scenetest::SceneTest;

using Corners = std::array<long, 9>;

Corners Rounded(const float* p, int stride)
{
    Corners c{};
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a)
            c[k * 3 + a] = std::lround(p[k * stride + a] * 1000.0f);
    return c;
}

// Each subset's triangles, keyed by the red of the subset's material.
std::map<long, std::vector<Corners>> ModelTriangles(LMK::Model_* model)
{
    std::map<long, std::vector<Corners>> out;
    for (DWORD s = 0; s < model->subsetCount; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        D3DMATERIAL9 look{};
        if (subset.material) look = subset.material->material;
        auto& list = out[std::lround(look.Diffuse.r * 1000.0f)];
        for (DWORD f = 0; f < subset.faceCount; ++f)
        {
            LMK::ModelVertexStruct_TYP v[3];
            EXPECT_EQ(model->GetFaceVertices(s, subset.firstFace + f, false, v), S_OK);
            list.push_back(Rounded(&v[0].position[0], 10));
            // Every drawn vertex has a unit normal, from the file or computed.
            for (const auto& vertex : v)
                EXPECT_NEAR(std::hypot(vertex.normal[0], vertex.normal[1], vertex.normal[2]), 1.0f, 1e-3f);
        }
    }
    for (auto& [red, list] : out)
        std::sort(list.begin(), list.end());
    return out;
}

std::map<long, std::vector<Corners>> FileTriangles(const XFileDesc& desc)
{
    std::map<long, std::vector<Corners>> out;
    for (const ferolt::test::XTriangle& t : ferolt::test::XExpectedTriangles(desc))
        out[std::lround(t.diffuse[0] * 1000.0f)].push_back(Rounded(t.corners.data(), 3));
    for (auto& [red, list] : out)
        std::sort(list.begin(), list.end());
    return out;
}

using ModelXFileTest = SceneTest;

TEST_F(ModelXFileTest, SubsetsHoldTheFilesFacesByMaterial)
{
    XFileDesc cube;
    cube.meshes = {ferolt::test::XCubeMesh()};
    XFileDesc grid;
    grid.meshes = {ferolt::test::XGridMesh(6, 4)};
    XFileDesc frames;
    ferolt::test::XFrameDesc outer;
    outer.hasMatrix = true;
    outer.matrix = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 3, 2, 1, 1};
    outer.meshes = {ferolt::test::XGridMesh(2, 2)};
    outer.children = {ferolt::test::XFrameDesc{}};
    outer.children[0].meshes = {ferolt::test::XCubeMesh()};
    frames.frames = {outer};
    XFileDesc pentagon;
    pentagon.meshes.resize(1);
    pentagon.meshes[0].positions = {{0, 0, 0}, {2, 0, 0}, {3, 2, 0}, {1, 3, 0}, {-1, 2, 0}};
    pentagon.meshes[0].faces = {{0, 1, 2, 3, 4}};
    const struct
    {
        const char* name;
        XFileDesc desc;
        XEncoding encoding;
        bool doubles;
        DWORD subsets;
    } cases[] = {
        {"text", cube, XEncoding::Text, false, 1},
        {"binary_64", grid, XEncoding::Binary, true, 2},
        {"text_zip", grid, XEncoding::TextZip, false, 2},
        {"frames_binary_zip", frames, XEncoding::BinaryZip, false, 3},
        {"five_corners_no_normals_no_materials", pentagon, XEncoding::Text, false, 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = WriteXFile(c.desc, c.encoding, c.doubles);
        HRESULT hr = E_FAIL;
        LMK::Model_* model = LMK::Model_::CreateFromXFile(file.data(), DWORD(file.size()), nullptr, &hr);
        ASSERT_NE(model, nullptr);
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(model->partCount, 1u);
        EXPECT_EQ(model->vertexFormat, LMK::kModelVertexFormat);
        ASSERT_EQ(model->subsetCount, c.subsets);
        EXPECT_EQ(ModelTriangles(model), FileTriangles(c.desc));
        for (DWORD s = 0; s < model->subsetCount; ++s)
        {
            EXPECT_EQ(model->subsets[s].sourceIndex, s);
            EXPECT_EQ(model->subsets[s].sourceIndex2, LMK::kNoSourceIndex);
        }
        model->Release();
    }
}

TEST_F(ModelXFileTest, MaterialsTakeTheFilesColours)
{
    XFileDesc grid;
    grid.meshes = {ferolt::test::XGridMesh(2, 1)};
    const std::vector<uint8_t> file = WriteXFile(grid, XEncoding::Text);
    HRESULT hr = E_FAIL;
    LMK::Model_* model = LMK::Model_::CreateFromXFile(file.data(), DWORD(file.size()), nullptr, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(model->subsetCount, 2u);
    ASSERT_NE(model->subsets[0].material, nullptr);
    EXPECT_FLOAT_EQ(model->subsets[0].material->material.Diffuse.g, 0.2f);
    EXPECT_FLOAT_EQ(model->subsets[0].material->material.Power, 10.0f);
    EXPECT_FLOAT_EQ(model->subsets[1].material->material.Diffuse.b, 0.8f);
    model->Release();
}

TEST_F(ModelXFileTest, DamagedFileLeavesAModelWithoutParts)
{
    const std::string text = "xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;"
                             " MeshMaterialList { 1; 1; 4;; } }";
    HRESULT hr = S_OK;
    LMK::Model_* model = LMK::Model_::CreateFromXFile(text.data(), DWORD(text.size()), nullptr, &hr);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(hr, D3DXERR_INVALIDDATA);
    EXPECT_EQ(model->partCount, 0u);
    EXPECT_EQ(model->subsetCount, 0u);
    model->Release();
}

TEST_F(ModelXFileTest, MeshPastSixteenBitIndicesIsRefused)
{
    // 257 x 256 vertices need 32-bit indices, which a model part does not take.
    XFileDesc grid;
    grid.meshes = {ferolt::test::XGridMesh(256, 255)};
    const std::vector<uint8_t> file = WriteXFile(grid, XEncoding::Binary);
    HRESULT hr = S_OK;
    LMK::Model_* model = LMK::Model_::CreateFromXFile(file.data(), DWORD(file.size()), nullptr, &hr);
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(model->partCount, 0u);
    model->Release();
}
} // namespace
