// 3D Studio files: what the reader keeps of the written chunks, the model built from them (subsets by
// mesh and material group, materials, placement by keyframer nodes, animation), and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "engine/scene/animation.h"
#include "engine/scene/lr_model_loading_api.h"
#include "engine/scene/model_3ds.h"
#include "scene_fixture.h"
#include "tests/support/png_image.h"
#include "tests/support/temp_tree.h"
#include "tests/support/three_ds_writer.h"

namespace
{
using namespace ferolt::test;
using scenetest::SceneTest;

constexpr float kInch = 0.0254f;

using Corners = std::array<long, 9>;

Corners Rounded(const std::array<std::array<float, 3>, 3>& p)
{
    Corners c{};
    for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a)
            c[k * 3 + a] = std::lround(p[k][a] * 10000.0f);
    return c;
}

// Triangles keyed by (record, material position), sorted: vertex-cache optimisation reorders faces.
using Triangles = std::map<std::pair<DWORD, DWORD>, std::vector<Corners>>;

Triangles ModelTriangles(LMK::Model_* model)
{
    Triangles out;
    for (DWORD s = 0; s < model->subsetCount; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        auto& list = out[{subset.sourceIndex, subset.sourceIndex3}];
        for (DWORD f = 0; f < subset.faceCount; ++f)
        {
            LMK::ModelVertexStruct_TYP v[3];
            EXPECT_EQ(model->GetFaceVertices(s, subset.firstFace + f, false, v), S_OK);
            list.push_back(Rounded({{{v[0].position[0], v[0].position[1], v[0].position[2]},
                                     {v[1].position[0], v[1].position[1], v[1].position[2]},
                                     {v[2].position[0], v[2].position[1], v[2].position[2]}}}));
        }
    }
    for (auto& [key, list] : out)
        std::sort(list.begin(), list.end());
    return out;
}

DWORD MaterialPosition(const Ds3File& file, const std::string& name)
{
    for (size_t i = 0; i < file.materials.size(); ++i)
        if (file.materials[i].name == name) return static_cast<DWORD>(i);
    return LMK::kNoSourceIndex;
}

// What the written file should give when no keyframer places the meshes: each mesh scaled to model
// units, one subset per group (or one for all faces).
Triangles ExpectedTriangles(const Ds3File& file)
{
    const float s = file.masterScale.value_or(1.0f) * kInch;
    Triangles out;
    for (size_t j = 0; j < file.meshes.size(); ++j)
    {
        const Ds3Mesh& mesh = file.meshes[j];
        auto corners = [&](uint16_t f)
        {
            std::array<std::array<float, 3>, 3> p;
            for (int k = 0; k < 3; ++k)
                for (int a = 0; a < 3; ++a)
                    p[k][a] = mesh.vertices[mesh.faces[f][k]][a] * s;
            return Rounded(p);
        };
        if (mesh.groups.empty())
            for (uint16_t f = 0; f < mesh.faces.size(); ++f)
                out[{DWORD(j), LMK::kNoSourceIndex}].push_back(corners(f));
        for (const Ds3FaceGroup& group : mesh.groups)
            for (uint16_t f : group.faces)
                out[{DWORD(j), MaterialPosition(file, group.material)}].push_back(corners(f));
    }
    for (auto& [key, list] : out)
        std::sort(list.begin(), list.end());
    return out;
}

std::vector<Ds3Material> RedAndBlue()
{
    Ds3Material red;
    red.name = "Red";
    red.diffuse = {255, 0, 0};
    Ds3Material blue;
    blue.name = "Blue";
    blue.diffuse = {0, 0, 255};
    return {red, blue};
}

// Parses and builds; the test owns the model.
HRESULT Load(const std::vector<uint8_t>& bytes, LMK::Model_** model, LMK::Parsed3DS* keep = nullptr)
{
    *model = nullptr;
    LMK::Parsed3DS parsed;
    if (!LMK::Parse3DS(bytes.data(), static_cast<DWORD>(bytes.size()), &parsed)) return S_FALSE;
    const HRESULT hr = LMK::Build3DSModel(&parsed, 0, nullptr, model);
    if (keep) *keep = parsed;
    LMK::Free3DS(&parsed);
    return hr;
}

void Release(LMK::Model_** model)
{
    if (*model) (*model)->Release();
    *model = nullptr;
}

using Model3DSTest = SceneTest;

TEST_F(Model3DSTest, ModelHoldsTheWrittenMeshesGroupsAndMaterials)
{
    Ds3File cube;
    cube.materials = RedAndBlue();
    cube.meshes = {Ds3Cube()};
    Ds3File project = cube;
    project.project = true;
    Ds3File scaled = cube;
    scaled.masterScale = 10.0f;
    Ds3File two = cube;
    two.meshes.push_back(Ds3Cube("Second"));
    two.meshes[1].groups.clear(); // one subset of all faces, without a material
    for (auto& v : two.meshes[1].vertices)
        v[0] += 5.0f;
    Ds3File unknownMaterial = cube;
    unknownMaterial.materials.pop_back();
    const struct
    {
        const char* name;
        Ds3File file;
        DWORD subsets, faces, vertices;
    } cases[] = {
        {"cube", cube, 2, 12, 8},
        {"project_file", project, 2, 12, 8},
        {"master_scale", scaled, 2, 12, 8},
        {"two_meshes", two, 3, 24, 16},
        {"group_of_a_missing_material", unknownMaterial, 2, 12, 8},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::Model_* model = nullptr;
        LMK::Parsed3DS parsed;
        ASSERT_EQ(Load(Write3DS(c.file), &model, &parsed), S_OK);
        EXPECT_EQ(parsed.materials.size(), c.file.materials.size());
        size_t vertices = 0;
        for (const LMK::Mesh3DS& mesh : parsed.meshes)
            vertices += mesh.vertices.size() / 3;
        EXPECT_EQ(vertices, c.vertices);
        EXPECT_EQ(model->subsetCount, c.subsets);
        EXPECT_EQ(model->TotalFaceCount(), c.faces);
        EXPECT_EQ(ModelTriangles(model), ExpectedTriangles(c.file));
        for (DWORD s = 0; s < model->subsetCount; ++s)
        {
            const LMK::SubsetStruct_TYP& subset = model->subsets[s];
            if (subset.sourceIndex3 == LMK::kNoSourceIndex)
            {
                EXPECT_EQ(subset.material, nullptr);
                continue;
            }
            ASSERT_NE(subset.material, nullptr);
            const auto& written = c.file.materials[subset.sourceIndex3].diffuse;
            // Without an ambient colour the diffuse gives 70 % of itself.
            EXPECT_NEAR(subset.material->storedDiffuse.r, written[0] / 255.0f * 0.7f, 1e-5f);
            EXPECT_NEAR(subset.material->storedDiffuse.b, written[2] / 255.0f * 0.7f, 1e-5f);
        }
        Release(&model);
    }
}

TEST_F(Model3DSTest, MaterialChunksBecomeTheMaterialsLook)
{
    struct Case
    {
        const char* name;
        Ds3Material material;
        float alpha, ambientRed, diffuseRed, specularRed, power, emissiveRed;
        DWORD flagsSet, flagsClear;
    };
    Ds3Material plain;
    plain.name = "M";
    plain.diffuse = {255, 0, 0};
    Ds3Material clear = plain;
    clear.transparency = 95;
    Ds3Material nearlyOpaque = plain;
    nearlyOpaque.transparency = 5;
    Ds3Material half = plain;
    half.transparency = 50;
    Ds3Material lit = plain;
    lit.ambient = {{0.25f, 0, 0}};
    lit.specular = {255, 255, 255};
    lit.strength = 50;
    lit.shininess = 30;
    lit.selfIllumination = 40;
    lit.twoSided = true;
    Ds3Material cutout = plain;
    cutout.texture = Ds3Map{"LEAF.PNG", 100, {}};
    cutout.opacity = Ds3Map{"LEAF.PNG", 100, {}};
    Ds3Material faint = plain;
    faint.texture = Ds3Map{"LEAF.PNG", 40, {}};
    const Case cases[] = {
        {"plain", plain, 1.0f, 0.3f, 0.7f, 0.0f, 0.0f, 0.0f, 0,
         LMK::kMaterialTwoSided | LMK::kMaterialAlphaTest},
        {"transparency_0.95_clamps_to_0.1", clear, 0.1f, 0.3f, 0.7f, 0, 0, 0, 0, 0},
        {"transparency_0.05_rounds_to_opaque", nearlyOpaque, 1.0f, 0.3f, 0.7f, 0, 0, 0, 0, 0},
        {"transparency_0.5", half, 0.5f, 0.3f, 0.7f, 0, 0, 0, 0, 0},
        {"ambient_specular_shine_self_illumination", lit, 1.0f, 0.25f, 1.0f, 0.5f, 9.0f, 0.4f,
         LMK::kMaterialTwoSided, 0},
        {"same_texture_and_opacity_map_alpha_tests", cutout, 1.0f, 0.3f, 0.7f, 0, 0, 0,
         LMK::kMaterialAlphaTest, LMK::kMaterialKeepDiffuse},
        {"faint_texture_keeps_diffuse", faint, 1.0f, 0.3f, 0.7f, 0, 0, 0, LMK::kMaterialKeepDiffuse,
         LMK::kMaterialAlphaTest},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Ds3File file;
        file.materials = {c.material};
        file.meshes = {Ds3Cube()};
        file.meshes[0].groups = {{"M", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}};
        LMK::Model_* model = nullptr;
        ASSERT_EQ(Load(Write3DS(file), &model), S_OK);
        ASSERT_EQ(model->subsetCount, 1u);
        const LMK::Material_* m = model->subsets[0].material;
        ASSERT_NE(m, nullptr);
        EXPECT_NEAR(m->storedDiffuse.a, c.alpha, 1e-5f);
        EXPECT_NEAR(m->storedDiffuse.r, c.diffuseRed, 1e-5f);
        EXPECT_NEAR(m->material.Ambient.r, c.ambientRed, 1e-5f);
        EXPECT_NEAR(m->material.Specular.r, c.specularRed, 1e-5f);
        EXPECT_NEAR(m->material.Power, c.power, 1e-4f);
        EXPECT_NEAR(m->material.Emissive.r, c.emissiveRed, 1e-5f);
        EXPECT_EQ(m->flags & c.flagsSet, c.flagsSet);
        EXPECT_EQ(m->flags & c.flagsClear, 0u);
        Release(&model);
    }
}

TEST_F(Model3DSTest, MapPlacementBecomesATextureMatrix)
{
    Ds3Material tiled;
    tiled.name = "M";
    tiled.texture = Ds3Map{"A.PNG", 100, {{2.0f, 3.0f, 0.5f, 0.25f, 90.0f}}};
    Ds3File file;
    file.materials = {tiled};
    file.meshes = {Ds3Cube()};
    file.meshes[0].groups = {{"M", {0}}};
    LMK::Model_* model = nullptr;
    ASSERT_EQ(Load(Write3DS(file), &model), S_OK);
    const LMK::Material_* m = model->subsets[0].material;
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->baseTransform, nullptr);
    // RotationZ(90 degrees) x offsets in the third row x Scaling(2, 3): (u, v) = (1, 0) goes to (0, 3).
    const D3DXMATRIX& t = *reinterpret_cast<const D3DXMATRIX*>(&m->baseTransform->matrix);
    D3DXVECTOR3 uv(1, 0, 0), out;
    D3DXVec3TransformNormal(&out, &uv, &t);
    EXPECT_NEAR(out.x, 0.0f, 1e-5f);
    EXPECT_NEAR(out.y, 3.0f, 1e-5f);
    EXPECT_NEAR(t._31, 1.0f, 1e-6f);  // u offset x u scale
    EXPECT_NEAR(t._32, 0.75f, 1e-6f); // v offset x v scale
    Release(&model);
}

TEST_F(Model3DSTest, EachSubsetFollowsItsOwnNode)
{
    // The first mesh has two material groups, so the second mesh's subset is the third: a table kept
    // per subset but looked up by mesh record would hand it the first mesh's node.
    Ds3File file;
    file.materials = RedAndBlue();
    file.meshes = {Ds3Cube("Still"), Ds3Cube("Moving")};
    file.meshes[1].groups = {{"Red", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}};
    Ds3Node still;
    still.name = "Still";
    still.position = {{0, {0, 0, 0, 0}}};
    Ds3Node moving;
    moving.name = "Moving";
    moving.position = {{0, {0, 0, 0, 0}}, {30, {100, 0, 0, 0}}};
    file.nodes = {still, moving};

    LMK::Model_* model = nullptr;
    ASSERT_EQ(Load(Write3DS(file), &model), S_OK);
    ASSERT_EQ(model->subsetCount, 3u);
    LMK::Animation_* animation = model->animation;
    ASSERT_NE(animation, nullptr);
    ASSERT_EQ(animation->nodes.size(), 2u);
    ASSERT_EQ(animation->clips.size(), 1u);
    EXPECT_EQ(animation->clips[0].name, "3DS-Animation");
    EXPECT_FLOAT_EQ(animation->clips[0].end, 2.0f); // frame 30 at 15 frames a second
    EXPECT_EQ(ModelTriangles(model), ExpectedTriangles(file));
    for (DWORD s = 0; s < model->subsetCount; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        SCOPED_TRACE(s);
        ASSERT_NE(subset.animationNode, nullptr);
        EXPECT_EQ(subset.animationNode, &animation->nodes[subset.sourceIndex]);
        // Halfway the moving mesh has travelled 50 file units; the still one stays where it was built.
        D3DXMATRIX* m = nullptr;
        subset.animationNode->GetMatrix(&animation->clips[0], 1.0f, &m);
        LMK::ModelVertexStruct_TYP v[3];
        ASSERT_EQ(model->GetFaceVertices(s, subset.firstFace, false, v), S_OK);
        const D3DXVECTOR3 built(v[0].position[0], v[0].position[1], v[0].position[2]);
        D3DXVECTOR3 moved;
        D3DXVec3TransformCoord(&moved, &built, m);
        EXPECT_NEAR(moved.x - built.x, subset.sourceIndex == 1 ? 50 * kInch : 0.0f, 1e-4f);
        EXPECT_NEAR(moved.y, built.y, 1e-4f);
        EXPECT_NEAR(moved.z, built.z, 1e-4f);
    }
    Release(&model);
}

TEST_F(Model3DSTest, NodesPlaceTheirMeshes)
{
    Ds3Mesh box = Ds3Cube("Box");
    box.groups.clear();
    // A child node two units up from a parent that turns a quarter about Z and moves 10 along X; the
    // instance node builds the same mesh a second time, where its own keys put it.
    Ds3Node parent;
    parent.id = 7;
    parent.name = "$$$DUMMY";
    parent.position = {{0, {10, 0, 0, 0}}};
    parent.rotation = {{0, {-1.5707964f, 0, 0, 1}}};
    Ds3Node child;
    child.id = 1;
    child.name = "Box";
    child.parent = 7;
    child.position = {{5, {0, 0, 9, 0}}, {0, {0, 2, 0, 0}}}; // the earliest key is the rest
    Ds3Node instance;
    instance.id = 2;
    instance.name = "Box";
    instance.instance = "copy";
    instance.pivot = {1, 0, 0};
    instance.scale = {{0, {2, 2, 2, 0}}};
    Ds3File file;
    file.meshes = {box};
    file.nodes = {parent, child, instance};

    LMK::Model_* model = nullptr;
    ASSERT_EQ(Load(Write3DS(file), &model), S_OK);
    ASSERT_EQ(model->subsetCount, 2u);
    std::map<DWORD, std::array<float, 6>> boxes; // by record
    for (DWORD s = 0; s < model->subsetCount; ++s)
    {
        std::array<float, 6> b{1e10f, 1e10f, 1e10f, -1e10f, -1e10f, -1e10f};
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        for (DWORD f = 0; f < subset.faceCount; ++f)
        {
            LMK::ModelVertexStruct_TYP v[3];
            ASSERT_EQ(model->GetFaceVertices(s, subset.firstFace + f, false, v), S_OK);
            for (const auto& vertex : v)
                for (int a = 0; a < 3; ++a)
                {
                    b[a] = std::min(b[a], vertex.position[a] / kInch);
                    b[3 + a] = std::max(b[3 + a], vertex.position[a] / kInch);
                }
        }
        boxes[subset.sourceIndex] = b;
    }
    // The child: (x, y + 2) turned by a quarter (the keys turn the other way: y -> -x... ) then +10 x.
    const std::array<float, 6> childBox{7, 0, 0, 8, 1, 1};
    const std::array<float, 6> instanceBox{-2, 0, 0, 0, 2, 2};
    for (int a = 0; a < 6; ++a)
    {
        EXPECT_NEAR(boxes[0][a], childBox[a], 1e-3f) << a;
        EXPECT_NEAR(boxes[1][a], instanceBox[a], 1e-3f) << a;
    }
    Release(&model);
}

TEST_F(Model3DSTest, MeshEdgeCases)
{
    auto withCube = [](auto change)
    {
        Ds3File file;
        file.materials = RedAndBlue();
        file.meshes = {Ds3Cube()};
        change(file);
        return file;
    };
    const struct
    {
        const char* name;
        Ds3File file;
        HRESULT hr;
        DWORD faces;
    } cases[] = {
        {"keyframer_names_no_mesh",
         withCube(
             [](Ds3File& f) {
                 f.nodes = {Ds3Node{{}, "Other"}};
             }),
         E_FAIL, 0},
        {"object_name_over_ten_characters_skipped",
         withCube([](Ds3File& f) { f.meshes.push_back(Ds3Cube("ElevenChars")); }), S_OK, 12},
        {"faces_past_the_vertices_left_out",
         withCube(
             [](Ds3File& f) {
                 f.meshes[0].faces[3] = {0, 1, 8};
             }),
         S_OK, 11},
        {"group_entries_past_the_faces_left_out",
         withCube([](Ds3File& f) { f.meshes[0].groups[1].faces.push_back(40); }), S_OK, 12},
        {"mesh_without_faces_dropped", withCube([](Ds3File& f) { f.meshes[0].faces.clear(); }), S_FALSE, 0},
        {"texture_count_differs_from_vertices", withCube([](Ds3File& f) { f.meshes[0].texcoords.resize(5); }),
         S_OK, 12},
        {"fewer_texture_coordinates_read_before_the_vertices",
         withCube(
             [](Ds3File& f)
             {
                 f.meshes[0].texcoords.resize(5);
                 f.meshes[0].texcoordsFirst = true;
             }),
         S_OK, 12},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::Model_* model = nullptr;
        EXPECT_EQ(Load(Write3DS(c.file), &model), c.hr);
        if (c.hr == S_OK)
        {
            ASSERT_NE(model, nullptr);
            EXPECT_EQ(model->TotalFaceCount(), c.faces);
        }
        Release(&model);
    }
}

TEST_F(Model3DSTest, TextureCoordinatesAreKeptOnlyForTheirVertices)
{
    const struct
    {
        const char* name;
        size_t count;
        bool first;
        size_t kept;
    } cases[] = {
        {"after_the_vertices", 8, false, 8},
        {"count_differs", 5, false, 0},
        {"before_the_vertices", 5, true, 5},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Ds3File file;
        file.meshes = {Ds3Cube()};
        file.meshes[0].texcoords.resize(c.count);
        file.meshes[0].texcoordsFirst = c.first;
        const std::vector<uint8_t> bytes = Write3DS(file);
        LMK::Parsed3DS parsed;
        ASSERT_TRUE(LMK::Parse3DS(bytes.data(), static_cast<DWORD>(bytes.size()), &parsed));
        EXPECT_EQ(parsed.meshes[0].texture.size(), 2 * c.kept);
        if (c.kept)
        {
            EXPECT_FLOAT_EQ(parsed.meshes[0].texture[3], 1.0f - file.meshes[0].texcoords[1][1]);
        }
    }
}

TEST_F(Model3DSTest, MirroredMeshTurnsItsWinding)
{
    Ds3File file;
    file.meshes = {Ds3Cube()};
    file.meshes[0].groups.clear();
    file.meshes[0].axes = std::array<float, 12>{-1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    file.nodes = {Ds3Node{{}, "Cube"}};
    const std::vector<uint8_t> bytes = Write3DS(file);
    LMK::Parsed3DS parsed;
    ASSERT_TRUE(LMK::Parse3DS(bytes.data(), static_cast<DWORD>(bytes.size()), &parsed));
    LMK::Model_* model = nullptr;
    ASSERT_EQ(LMK::Build3DSModel(&parsed, 0, nullptr, &model), S_OK);
    EXPECT_FLOAT_EQ(parsed.meshes[0].axes[0], 1.0f);
    EXPECT_EQ(parsed.meshes[0].faces[0].b, 1);
    EXPECT_EQ(parsed.meshes[0].faces[0].c, 2);
    Release(&model);
}

TEST_F(Model3DSTest, SpotlightsBecomeLightPoints)
{
    Ds3File file;
    file.meshes = {Ds3Cube()};
    file.masterScale = 2.0f;
    Ds3Light spot;
    spot.position = {10, 20, 30};
    spot.color = {0.5f, 0.25f, 1.0f};
    spot.spotTarget = {{0, 0, 0}};
    spot.multiplier = 2.0f;
    Ds3Light off = spot;
    off.off = true;
    Ds3Light omni;
    file.lights = {spot, off, omni};
    LMK::Model_* model = nullptr;
    ASSERT_EQ(Load(Write3DS(file), &model), S_OK);
    ASSERT_EQ(model->lightPointCount, 1u);
    EXPECT_NEAR(model->lightPoints[0].position[1], 20 * 2 * kInch, 1e-5f);
    EXPECT_NEAR(model->lightPoints[0].color[0], 1.0f, 1e-6f);
    EXPECT_NEAR(model->lightPoints[0].color[1], 0.5f, 1e-6f);
    Release(&model);
}

TEST_F(Model3DSTest, DamagedFilesFailCleanly)
{
    Ds3File file;
    file.materials = RedAndBlue();
    file.materials[0].texture = Ds3Map{"A.PNG", 100, {{2, 2, 0, 0, 0}}};
    file.meshes = {Ds3Cube()};
    file.lights = {Ds3Light{"Spot", {1, 2, 3}, {1, 1, 1}, {{0, 0, 0}}, false, 1.5f}};
    Ds3Node node;
    node.name = "Cube";
    node.position = {{0, {0, 0, 0, 0}}, {10, {1, 0, 0, 0}}};
    node.rotation = {{0, {0.5f, 0, 0, 0}}};
    file.nodes = {node};
    const std::vector<uint8_t> whole = Write3DS(file);
    auto tryLoad = [](const std::vector<uint8_t>& bytes)
    {
        LMK::Model_* model = nullptr;
        const HRESULT hr = Load(bytes, &model);
        if (hr == S_OK)
        {
            EXPECT_NE(model, nullptr);
            EXPECT_LE(model->TotalFaceCount(), 12u);
        }
        Release(&model);
    };
    // Cut at every length: every header field and count runs past the end somewhere.
    for (size_t n = 0; n < whole.size(); ++n)
        tryLoad(std::vector<uint8_t>(whole.begin(), whole.begin() + n));
    // Every byte set to 0xFF in turn: lengths past the end, huge counts, indices past their arrays.
    for (size_t i = 0; i < whole.size(); ++i)
    {
        std::vector<uint8_t> bytes = whole;
        bytes[i] = 0xFF;
        tryLoad(bytes);
    }
    // A parent chain that returns to itself is placed and refused as an animation, not followed.
    Ds3File cycle = file;
    cycle.nodes[0].id = 3;
    cycle.nodes[0].parent = 3;
    LMK::Model_* model = nullptr;
    ASSERT_EQ(Load(Write3DS(cycle), &model), S_OK);
    EXPECT_EQ(model->animation, nullptr);
    Release(&model);
}

TEST_F(Model3DSTest, LoadedByNameWithTexturesBesideIt)
{
    TempTree tree;
    const uint32_t pixels[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
    ASSERT_TRUE(WritePng(tree.Path("Red.png"), pixels, 2, 2, 8));
    Ds3File file;
    file.materials = RedAndBlue();
    file.materials[0].texture = Ds3Map{"RED.PNG", 100, {}};
    file.meshes = {Ds3Cube()};
    tree.Write("cube.3ds", Write3DS(file));

    LMK::Model_* model = nullptr;
    EXPECT_EQ(LRLoadModel(tree.Path("cube.3ds").c_str(), 1, 0, &model), -2); // not allowed
    ASSERT_EQ(LRLoadModel(tree.Path("cube.3ds").c_str(), 1, 1, &model), S_OK);
    ASSERT_EQ(model->subsetCount, 2u);
    for (DWORD s = 0; s < 2; ++s)
    {
        const LMK::SubsetStruct_TYP& subset = model->subsets[s];
        ASSERT_NE(subset.material, nullptr);
        EXPECT_EQ(subset.material->baseTexture != nullptr, subset.sourceIndex3 == 0) << s;
    }
    model->Release();
}
} // namespace
