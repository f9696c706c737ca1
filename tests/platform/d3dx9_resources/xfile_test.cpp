// X files into D3DX meshes: every encoding, frames, normals, texture coordinates, colours, materials,
// and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "platform/d3dx9/d3dx9.h"
#include "tests/platform/d3dx9_resources/fake_device.h"
#include "tests/platform/expect_refused.h"
#include "tests/support/xfile_writer.h"

namespace
{
using ferolt::test::FakeDevice;
using ferolt::test::WriteXFile;
using ferolt::test::XEncoding;
using ferolt::test::XFileDesc;
using ferolt::test::XFrameDesc;
using ferolt::test::XMeshDesc;

// One drawn triangle: its three corner positions, rounded, and the diffuse red of its material.
using Triangle = std::array<int, 10>;

int Round(float v)
{
    return static_cast<int>(std::lround(v * 1000.0f));
}

struct Loaded
{
    HRESULT hr = E_FAIL;
    DWORD fvf = 0;
    DWORD vertices = 0;
    std::vector<Triangle> triangles;
    std::vector<D3DXMATERIAL> materials;
    std::vector<std::string> textures;
    std::vector<std::string> effectDefaults;
    std::vector<std::array<float, 3>> normals;
    std::vector<DWORD> colors;
};

Loaded Load(FakeDevice& device, const std::vector<uint8_t>& file)
{
    Loaded out;
    ID3DXMesh* mesh = nullptr;
    ID3DXBuffer *adjacency = nullptr, *materials = nullptr, *effects = nullptr;
    DWORD count = 0;
    out.hr = D3DXLoadMeshFromXInMemory(file.data(), DWORD(file.size()), D3DXMESH_MANAGED, &device, &adjacency,
                                       &materials, &effects, &count, &mesh);
    if (FAILED(out.hr)) return out;
    out.fvf = mesh->GetFVF();
    out.vertices = mesh->GetNumVertices();
    const auto* m = materials ? static_cast<const D3DXMATERIAL*>(materials->GetBufferPointer()) : nullptr;
    for (DWORD i = 0; i < count; ++i)
    {
        out.materials.push_back(m[i]);
        out.textures.push_back(m[i].pTextureFilename ? m[i].pTextureFilename : "");
        const auto* e = static_cast<const D3DXEFFECTINSTANCE*>(effects->GetBufferPointer());
        for (DWORD k = 0; k < e[i].NumDefaults; ++k)
            out.effectDefaults.push_back(std::string(e[i].pDefaults[k].pParamName) + "=" +
                                         static_cast<const char*>(e[i].pDefaults[k].pValue));
    }
    BYTE* v = nullptr;
    void* idx = nullptr;
    DWORD* ids = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    mesh->LockIndexBuffer(0, &idx);
    mesh->LockAttributeBuffer(0, &ids);
    const DWORD stride = mesh->GetNumBytesPerVertex();
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
    {
        Triangle t{};
        for (int c = 0; c < 3; ++c)
        {
            const DWORD i = static_cast<WORD*>(idx)[f * 3 + c];
            const float* p = reinterpret_cast<const float*>(v + i * stride);
            t[c * 3] = Round(p[0]);
            t[c * 3 + 1] = Round(p[1]);
            t[c * 3 + 2] = Round(p[2]);
        }
        t[9] = ids[f] < count ? Round(m[ids[f]].MatD3D.Diffuse.r) : -1;
        out.triangles.push_back(t);
    }
    for (DWORD i = 0; i < out.vertices; ++i)
    {
        const float* p = reinterpret_cast<const float*>(v + i * stride);
        if (out.fvf & D3DFVF_NORMAL) out.normals.push_back({p[3], p[4], p[5]});
        if (out.fvf & D3DFVF_DIFFUSE)
            out.colors.push_back(
                *reinterpret_cast<const DWORD*>(v + i * stride + ((out.fvf & D3DFVF_NORMAL) ? 24 : 12)));
    }
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    EXPECT_EQ(adjacency->GetBufferSize(), mesh->GetNumFaces() * 12);
    for (IUnknown* p : {static_cast<IUnknown*>(mesh), static_cast<IUnknown*>(adjacency),
                        static_cast<IUnknown*>(materials), static_cast<IUnknown*>(effects)})
        if (p) p->Release();
    std::sort(out.triangles.begin(), out.triangles.end());
    return out;
}

Loaded LoadText(const std::string& text)
{
    FakeDevice device;
    Loaded loaded = Load(device, std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(device.counters.live, 0);
    return loaded;
}

std::vector<Triangle> Expected(const XFileDesc& desc)
{
    std::vector<Triangle> out;
    for (const ferolt::test::XTriangle& x : ferolt::test::XExpectedTriangles(desc))
    {
        Triangle t{};
        for (int i = 0; i < 9; ++i)
            t[i] = Round(x.corners[i]);
        t[9] = Round(x.diffuse[0]);
        out.push_back(t);
    }
    std::sort(out.begin(), out.end());
    return out;
}

XFrameDesc Moved(std::array<float, 16> matrix, std::vector<XMeshDesc> meshes,
                 std::vector<XFrameDesc> children = {})
{
    XFrameDesc f;
    f.hasMatrix = true;
    f.matrix = matrix;
    f.meshes = std::move(meshes);
    f.children = std::move(children);
    return f;
}

XMeshDesc Pentagon()
{
    XMeshDesc m;
    m.positions = {{0, 0, 0}, {2, 0, 0}, {3, 2, 0}, {1, 3, 0}, {-1, 2, 0}, {9, 9, 9}};
    m.faces = {{0, 1, 2, 3, 4}};
    return m;
}

struct FileCase
{
    const char* name;
    XEncoding encoding;
    bool doubles;
    XFileDesc desc;
};

std::vector<FileCase> FileCases()
{
    XFileDesc cube;
    cube.meshes = {ferolt::test::XCubeMesh()};
    XFileDesc grid;
    grid.meshes = {ferolt::test::XGridMesh(4, 3)};
    XFileDesc hierarchy;
    // Scale by 2 and move up 10; inside it, move along x by 5: the inner mesh lands at 2 * 5 = 10.
    hierarchy.frames = {
        Moved({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 10, 0, 1}, {ferolt::test::XCubeMesh()},
              {Moved({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1}, {ferolt::test::XCubeMesh()})})};
    hierarchy.animation = true;
    XFileDesc bare;
    bare.templates = false;
    bare.meshes = {Pentagon()};
    XFileDesc skinned = grid;
    skinned.meshes[0].skinned = true;
    return {
        {"text", XEncoding::Text, false, cube},
        {"binary", XEncoding::Binary, false, cube},
        {"text_doubles", XEncoding::Text, true, grid},
        {"binary_doubles", XEncoding::Binary, true, grid},
        {"text_zip", XEncoding::TextZip, false, grid},
        {"binary_zip", XEncoding::BinaryZip, false, grid},
        {"frames_text", XEncoding::Text, false, hierarchy},
        {"frames_binary", XEncoding::Binary, false, hierarchy},
        {"pentagon_no_normals", XEncoding::Text, false, bare},
        {"skin_read_past", XEncoding::Binary, false, skinned},
    };
}

TEST(XFileLoad, MeshEqualsTheFileInEveryEncoding)
{
    for (const FileCase& c : FileCases())
    {
        SCOPED_TRACE(c.name);
        FakeDevice device;
        const Loaded loaded = Load(device, WriteXFile(c.desc, c.encoding, c.doubles));
        ASSERT_EQ(loaded.hr, S_OK);
        EXPECT_EQ(loaded.triangles, Expected(c.desc));
        size_t vertices = 0, materials = 0;
        for (const XMeshDesc& m : c.desc.meshes)
            vertices += m.positions.size(), materials += m.materials.size();
        materials += 2 * c.desc.frames.size(); // two cubes in each
        const bool oneNormalEach =
            c.desc.meshes.size() == 1 && c.desc.meshes[0].normals.size() == c.desc.meshes[0].positions.size();
        if (oneNormalEach)
        {
            EXPECT_EQ(loaded.vertices, vertices); // nothing is split
        }
        EXPECT_EQ(loaded.materials.size(), std::max<size_t>(materials, 1));
        EXPECT_EQ((loaded.fvf & D3DFVF_NORMAL) != 0, c.name != std::string("pentagon_no_normals"));
    }
}

TEST(XFileLoad, MaterialsKeepColoursTextureNamesAndPower)
{
    XFileDesc grid;
    grid.meshes = {ferolt::test::XGridMesh(2, 2)};
    FakeDevice device;
    const Loaded loaded = Load(device, WriteXFile(grid, XEncoding::Text));
    ASSERT_EQ(loaded.materials.size(), 2u);
    EXPECT_FLOAT_EQ(loaded.materials[0].MatD3D.Diffuse.r, 0.8f);
    EXPECT_FLOAT_EQ(loaded.materials[0].MatD3D.Power, 10.0f);
    EXPECT_FLOAT_EQ(loaded.materials[0].MatD3D.Specular.g, 1.0f);
    EXPECT_FLOAT_EQ(loaded.materials[1].MatD3D.Diffuse.b, 0.8f);
    EXPECT_EQ(loaded.textures, (std::vector<std::string>{"grid.png", ""}));
    EXPECT_EQ(loaded.effectDefaults, (std::vector<std::string>{"Texture0@Name=grid.png"}));
    EXPECT_EQ(loaded.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
}

TEST(XFileLoad, CornerNormalsSplitVerticesAndFramesTurnNormals)
{
    // The cube's eight corners each meet three sides with three normals: 24 vertices.
    XFileDesc cube;
    cube.frames = {Moved({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, {ferolt::test::XCubeMesh()})};
    FakeDevice device;
    const Loaded loaded = Load(device, WriteXFile(cube, XEncoding::Binary));
    ASSERT_EQ(loaded.hr, S_OK);
    EXPECT_EQ(loaded.vertices, 24u);
    // A quarter turn about z maps the +x side's normal to +y.
    int plusY = 0;
    for (const auto& n : loaded.normals)
        plusY += std::fabs(n[1] - 1.0f) < 1e-5f;
    EXPECT_EQ(plusY, 4);
}

TEST(XFileLoad, VertexColoursAndHandWrittenText)
{
    // As a person or an old exporter writes it: comments, no templates, a named material referenced
    // from the list, colours for some vertices only, and a face list shorter than the faces.
    const std::string text =
        "xof 0302txt 0032\n"
        "# comment\n"
        "Material Red { 1.0;0.0;0.0;1.0;; 0.0; 0;0;0;; 0;0;0;; TextureFilename { \"r.bmp\"; } }\n"
        "Mesh { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;;  // vertices\n"
        " 2; 3;0,1,2;, 3;0,2,3;;\n"
        " MeshVertexColors { 1; 2; 0.0;1.0;0.0;1.0;;; }\n"
        " MeshMaterialList { 1; 1; 0;; { Red } }\n"
        "}\n";
    const Loaded loaded = LoadText(text);
    ASSERT_EQ(loaded.hr, S_OK);
    ASSERT_EQ(loaded.triangles.size(), 2u);
    EXPECT_EQ(loaded.triangles[0][9], 1000);
    EXPECT_EQ(loaded.triangles[1][9], 1000);
    EXPECT_EQ(loaded.textures, std::vector<std::string>{"r.bmp"});
    EXPECT_EQ(loaded.colors, (std::vector<DWORD>{0xFFFFFFFF, 0xFFFFFFFF, 0xFF00FF00, 0xFFFFFFFF}));
}

XFileDesc CubeFile()
{
    XFileDesc desc;
    desc.meshes = {ferolt::test::XCubeMesh()};
    return desc;
}

TEST(XFileLoad, VertexDeclarationDataGivesNormalsTexcoordsAndColours)
{
    // Normal (FLOAT3, usage 3), texture coordinate 0 (FLOAT2, usage 5) and colour (D3DCOLOR, usage 10)
    // per vertex as DWORDs: 0.5 = 1056964608, 1.0 = 1065353216.
    const std::string text = "xof 0303txt 0032\n"
                             "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
                             " DeclData { 3; 2;0;3;0;, 1;0;5;0;, 4;0;10;0;;\n"
                             "  18; 0,0,1065353216, 1056964608,0, 4278190335,\n"
                             "      0,0,1065353216, 1065353216,0, 4278190335,\n"
                             "      0,0,1065353216, 0,1065353216, 4278255360; }\n"
                             "}\n";
    const Loaded loaded = LoadText(text);
    ASSERT_EQ(loaded.hr, S_OK);
    EXPECT_EQ(loaded.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1));
    ASSERT_EQ(loaded.normals.size(), 3u);
    EXPECT_FLOAT_EQ(loaded.normals[2][2], 1.0f);
    EXPECT_EQ(loaded.colors, (std::vector<DWORD>{0xFF0000FF, 0xFF0000FF, 0xFF00FF00}));
}

std::vector<uint8_t> Text(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(XFileLoad, ASecondListReplacesTheFirst)
{
    // Found by fuzzing: the second material list's ids were checked against its own count while the
    // first list's ids were kept.
    const std::string text = "xof 0303txt 0032\n"
                             "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
                             " MeshNormals { 2; 0;0;1;, 0;0;-1;; 1; 3;1,1,1;; }\n"
                             " MeshNormals { 1; 0;1;0;; 1; 3;0,0,0;; }\n"
                             " MeshMaterialList { 9; 1; 5;; }\n"
                             " MeshMaterialList { 2; 1; 1;; Material { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; }"
                             " Material { 0;1;0;1;; 0; 0;0;0;; 0;0;0;; } }\n"
                             "}\n";
    const Loaded loaded = LoadText(text);
    ASSERT_EQ(loaded.hr, S_OK);
    ASSERT_EQ(loaded.materials.size(), 2u);
    ASSERT_EQ(loaded.triangles.size(), 1u);
    EXPECT_EQ(loaded.triangles[0][9], 0); // the second material: red 0
    ASSERT_EQ(loaded.normals.size(), 3u);
    EXPECT_FLOAT_EQ(loaded.normals[0][1], 1.0f);
}

TEST(XFileLoad, DamagedFilesAreRefused)
{
    const std::string head = "xof 0303txt 0032\n";
    std::vector<uint8_t> badBlock = WriteXFile(CubeFile(), XEncoding::TextZip);
    badBlock[badBlock.size() / 2] ^= 0x5A;
    badBlock[badBlock.size() / 2 + 1] ^= 0xA5;
    std::vector<uint8_t> noCK = WriteXFile(CubeFile(), XEncoding::BinaryZip);
    noCK[24] = 'X';
    std::vector<uint8_t> shortTotal = noCK;
    shortTotal[24] = 'C';
    shortTotal[16] += 1;
    const struct
    {
        const char* name;
        std::vector<uint8_t> file;
        HRESULT hr;
    } cases[] = {
        {"header_only", Text(head), D3DXERR_LOADEDMESHASNODATA},
        {"bad_magic", Text("xof 0303xxx 0032 Mesh{}"), D3DXERR_INVALIDDATA},
        {"bad_float_size", Text("xof 0303txt 0016 Mesh{}"), D3DXERR_INVALIDDATA},
        {"vertex_count_past_data", Text(head + "Mesh { 1000; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }"),
         D3DXERR_INVALIDDATA},
        {"index_past_vertices", Text(head + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,7;; }"),
         D3DXERR_INVALIDDATA},
        {"normal_index_past_normals",
         Text(head +
              "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 3;0,0,4;; } }"),
         D3DXERR_INVALIDDATA},
        {"material_index_past_count",
         Text(head + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 3;; } }"),
         D3DXERR_INVALIDDATA},
        {"unclosed_object", Text(head + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;"),
         D3DXERR_INVALIDDATA},
        {"unclosed_string", Text(head + "Header { \"abc }"), D3DXERR_INVALIDDATA},
        {"template_loop",
         Text(head + "template A { <11111111-0000-0000-0000-000000000000> B b; }\n"
                     "template B { <22222222-0000-0000-0000-000000000000> A a; }"),
         D3DXERR_INVALIDDATA},
        {"template_contains_itself",
         Text(head + "template C { <33333333-0000-0000-0000-000000000000> C c; }"), D3DXERR_INVALIDDATA},
        {"deflate_block_damaged", badBlock, D3DXERR_INVALIDDATA},
        {"block_without_ck", noCK, D3DXERR_INVALIDDATA},
        {"total_size_wrong", shortTotal, D3DXERR_INVALIDDATA},
        {"nesting_too_deep",
         Text(head + std::string(200, ' ').replace(0, 0, "") +
              []
              {
                  std::string s;
                  for (int i = 0; i < 100; ++i)
                      s += "Frame { ";
                  return s + std::string(100, '}');
              }()),
         D3DXERR_INVALIDDATA},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        FakeDevice device;
        ID3DXMesh* mesh = reinterpret_cast<ID3DXMesh*>(1);
        DWORD count = 7;
        EXPECT_EQ(D3DXLoadMeshFromXInMemory(c.file.data(), DWORD(c.file.size()), D3DXMESH_MANAGED, &device,
                                            nullptr, nullptr, nullptr, &count, &mesh),
                  c.hr);
        EXPECT_EQ(mesh, nullptr);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(device.counters.live, 0);
    }
}

TEST(XFileLoad, EveryTruncationFailsCleanly)
{
    // Cut after every byte: each token kind of both encodings ends early somewhere in here.
    XFileDesc desc;
    desc.meshes = {ferolt::test::XGridMesh(1, 1)};
    desc.meshes[0].colors = {{0, {1, 0, 0, 1}}};
    desc.animation = true;
    for (XEncoding encoding : {XEncoding::Text, XEncoding::Binary, XEncoding::BinaryZip})
    {
        const std::vector<uint8_t> file = WriteXFile(desc, encoding, encoding == XEncoding::Binary);
        for (size_t n = 1; n < file.size(); ++n)
        {
            FakeDevice device;
            std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
            ID3DXMesh* mesh = nullptr;
            const HRESULT hr = D3DXLoadMeshFromXInMemory(cut.data(), DWORD(n), D3DXMESH_MANAGED, &device,
                                                         nullptr, nullptr, nullptr, nullptr, &mesh);
            // A cut between whole top-level objects can leave a complete file; anything else fails.
            if (SUCCEEDED(hr))
                mesh->Release();
            else
                EXPECT_EQ(mesh, nullptr);
            EXPECT_EQ(device.counters.live, 0);
        }
    }
}

TEST(XFileLoad, ArgumentsAreChecked)
{
    FakeDevice device;
    const std::vector<uint8_t> file = WriteXFile(CubeFile(), XEncoding::Text);
    ID3DXMesh* mesh = nullptr;
    EXPECT_REFUSED(
        D3DXLoadMeshFromXInMemory(nullptr, 10, 0, &device, nullptr, nullptr, nullptr, nullptr, &mesh),
        "D3DXLoadMeshFromXInMemory.NullPointer");
    EXPECT_REFUSED(D3DXLoadMeshFromXInMemory(file.data(), DWORD(file.size()), 0, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, &mesh),
                   "D3DXLoadMeshFromXInMemory.NullPointer");
    EXPECT_REFUSED(D3DXLoadMeshFromXInMemory(file.data(), DWORD(file.size()), 0, &device, nullptr, nullptr,
                                             nullptr, nullptr, nullptr),
                   "D3DXLoadMeshFromXInMemory.NullPointer");
}
} // namespace
