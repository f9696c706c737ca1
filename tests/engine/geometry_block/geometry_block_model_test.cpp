// Models built from compressed geometry blocks: the encoded faces, vertices and groups come back as
// the model's parts and subsets, normals are computed (and creased unless told not to), and damaged
// blocks or a failed format conversion leave a model that owns nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "../core/engine_fixture.h"
#include "engine/core/devices.h"
#include "engine/scene/geometry_block_model.h"
#include "engine/scene/lr_geometry_block_api.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "tests/support/geometry_block_encoder.h"

using namespace ferolt::test;

namespace
{
void GridBounds(GroupDesc& g)
{
    for (int i = 0; i < 5; ++i)
    {
        g.minimum[i] = i < 3 ? -8.0f : 0.0f;
        g.maximum[i] = g.minimum[i] + 65535.0f;
    }
}

StripDesc S(std::vector<StripOp> ops)
{
    StripDesc strip;
    strip.ops = std::move(ops);
    return strip;
}

// Corner k of the cube is (bit 0, bit 1, bit 2) mapped to -1 / +1; the eight corners are shared by all
// twelve faces through ring and back references.
MeshDesc Cube(uint16_t source)
{
    MeshDesc desc;
    desc.ringBits = 5;
    for (uint32_t k = 0; k < 8; ++k)
        desc.keys.push_back({{k & 1 ? 1.0f : -1.0f, k & 2 ? 1.0f : -1.0f, k & 4 ? 1.0f : -1.0f},
                             {k & 1 ? 1.0f : 0.0f, k & 2 ? 1.0f : 0.0f}});
    GroupDesc g;
    GridBounds(g);
    g.triple[0] = source;
    const auto N = [](uint32_t k) { return StripOp{StripOp::New, k}; };
    const auto R = [](uint32_t k) { return StripOp{StripOp::Ring, k}; };
    const auto B = [](uint32_t k) { return StripOp{StripOp::Back, k}; };
    g.strips = {
        S({N(0), N(1), N(2), N(3)}), S({N(4), N(5), N(6), N(7)}), S({R(0), R(1), R(4), R(5)}),
        S({B(2), B(3), B(6), B(7)}), S({B(0), R(2), R(4), B(6)}), S({B(1), B(3), R(5), R(7)}),
    };
    desc.groups = {g};
    return desc;
}

// Two materials: a textured quad pair and an untextured strip with a copied, moved repeat of itself.
MeshDesc TwoMaterials()
{
    MeshDesc desc;
    desc.noTextureBits = true;
    desc.keys = {
        {{1, 1, 1}, {0, 0}}, {{2, 1, 1}, {1, 0}}, {{1, 2, 1}, {0, 1}}, {{2, 2, 1}, {1, 1}},
        {{3, 1, 1}, {2, 0}}, {{1, 1, 4}, {0, 0}}, {{2, 1, 4}, {0, 0}}, {{1, 3, 4}, {0, 0}},
    };
    GroupDesc a;
    GridBounds(a);
    a.triple[0] = 1;
    a.triple[1] = 2;
    a.triple[2] = 3;
    a.strips = {
        S({{StripOp::New, 0}, {StripOp::New, 1}, {StripOp::New, 2}, {StripOp::New, 3}, {StripOp::New, 4}})};
    GroupDesc b;
    GridBounds(b);
    b.noTexture = true;
    b.triple[0] = 4;
    StripDesc moved = S({{StripOp::New, 5}, {StripOp::New, 6}, {StripOp::New, 7}});
    moved.copyOf = 0;
    moved.transform.t[2] = 3;
    b.strips = {S({{StripOp::New, 5}, {StripOp::New, 6}, {StripOp::New, 7}}), moved};
    desc.groups = {a, b};
    return desc;
}

// A face as its corners' position and first texture coordinates, turned so that the smallest corner
// comes first: the winding is kept, the index order of the mesh is not compared.
using Corner = std::array<float, 5>;
using Face = std::array<Corner, 3>;

Face Canonical(Face f)
{
    const auto smallest = std::min_element(f.begin(), f.end());
    std::rotate(f.begin(), smallest, f.end());
    return f;
}

std::vector<Face> SubsetFaces(LMK::Model_* model, DWORD subsetIndex)
{
    std::vector<Face> faces;
    const LMK::SubsetStruct_TYP& subset = model->subsets[subsetIndex];
    LMK::LKXMesh_* part = model->PrimaryParts()[subset.part];
    ID3DXMesh* mesh = part->mesh;
    void* v = nullptr;
    void* i = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &v), S_OK);
    EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &i), S_OK);
    const auto* vertices = static_cast<const LMK::ModelVertexStruct_TYP*>(v);
    const auto* indices = static_cast<const WORD*>(i);
    for (DWORD f = subset.firstFace; f < subset.firstFace + subset.faceCount; ++f)
    {
        Face face;
        for (int c = 0; c < 3; ++c)
        {
            const LMK::ModelVertexStruct_TYP& x = vertices[indices[3 * f + c]];
            face[c] = {x.position[0], x.position[1], x.position[2], x.tex0[0], x.tex0[1]};
            EXPECT_EQ(x.tex1[0], 0.0f);
            EXPECT_EQ(x.tex1[1], 0.0f);
        }
        faces.push_back(Canonical(face));
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    std::sort(faces.begin(), faces.end());
    return faces;
}

// The faces the encoder reports for group g of a mesh.
std::vector<Face> EncodedFaces(const EncodedMesh& encoded, size_t group)
{
    size_t first = 0;
    for (size_t g = 0; g < group; ++g)
        first += encoded.groupFaceCounts[g];
    std::vector<Face> faces;
    for (size_t f = first; f < first + encoded.groupFaceCounts[group]; ++f)
    {
        Face face;
        for (int c = 0; c < 3; ++c)
        {
            const BlockVertex& x = encoded.decoded[encoded.faces[f][c]];
            face[c] = {x.position[0], x.position[1], x.position[2], x.uv[0], x.uv[1]};
        }
        faces.push_back(Canonical(face));
    }
    std::sort(faces.begin(), faces.end());
    return faces;
}

D3DXVECTOR3 FaceNormal(const LMK::ModelVertexStruct_TYP* v, const WORD* face)
{
    const D3DXVECTOR3 p0(v[face[0]].position), p1(v[face[1]].position), p2(v[face[2]].position);
    const D3DXVECTOR3 e1 = p1 - p0, e2 = p2 - p0;
    D3DXVECTOR3 n;
    D3DXVec3Cross(&n, &e1, &e2);
    D3DXVec3Normalize(&n, &n);
    return n;
}

// Counts corners whose normal differs from the normal its vertex should have: the normalised sum of the
// unit normals of the faces that share the vertex. Also counts the corners that differ from their own
// face's normal (zero exactly when the part is flat-shaded).
void CheckNormals(LMK::LKXMesh_* part, int* wrong, int* notFlat)
{
    ID3DXMesh* mesh = part->mesh;
    void* v = nullptr;
    void* i = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &v), S_OK);
    ASSERT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &i), S_OK);
    const auto* vertices = static_cast<const LMK::ModelVertexStruct_TYP*>(v);
    const auto* indices = static_cast<const WORD*>(i);
    std::vector<D3DXVECTOR3> sums(mesh->GetNumVertices(), D3DXVECTOR3(0, 0, 0));
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
        for (int c = 0; c < 3; ++c)
            sums[indices[3 * f + c]] += FaceNormal(vertices, indices + 3 * f);
    const auto near = [](const D3DXVECTOR3& a, const float* b) {
        return std::fabs(a.x - b[0]) < 1e-5f && std::fabs(a.y - b[1]) < 1e-5f &&
               std::fabs(a.z - b[2]) < 1e-5f;
    };
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
        for (int c = 0; c < 3; ++c)
        {
            const WORD index = indices[3 * f + c];
            D3DXVECTOR3 expected;
            D3DXVec3Normalize(&expected, &sums[index]);
            *wrong += !near(expected, vertices[index].normal);
            *notFlat += !near(FaceNormal(vertices, indices + 3 * f), vertices[index].normal);
        }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
}

LightPointRecord Light(float x, uint32_t colour)
{
    return {{x, 2.0f, -3.0f}, {colour, colour + 1, colour + 2, 0x3F800000u}};
}

class GeometryBlockModelTest : public enginetest::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(LRStart(nullptr), S_OK);
        device = LMK::CurrentGlobals->devices.primaryDevice->device;
    }
    void TearDown() override
    {
        LMK::SetMeshListFormatConversion(nullptr);
        EngineTest::TearDown();
    }
    // Every mesh, buffer and part holds the device: its count shows what a model failed to let go.
    ULONG DeviceReferences()
    {
        device->AddRef();
        return device->Release();
    }
    static void Release(LMK::Model_*& model)
    {
        LMK::LoadedPart_* part = model;
        EXPECT_EQ(LRReleaseLoadedPart(&part), S_OK);
        model = nullptr;
    }
    IDirect3DDevice9* device = nullptr;
};

TEST_F(GeometryBlockModelTest, EncodedMeshesBecomePartsAndSubsets)
{
    struct Case
    {
        const char* name;
        std::vector<MeshDesc> meshes;
        uint32_t magic;
    };
    const Case cases[] = {
        {"cube", {Cube(7)}, 0x59474B4C},
        {"two materials, then a cube", {TwoMaterials(), Cube(9)}, 0x58474B4C},
        {"twelve-byte header", {Cube(0xFFFF), TwoMaterials()}, 0x45474B4C},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const ULONG before = DeviceReferences();
        BlockDesc block;
        block.magic = c.magic;
        block.fileFlags[1] = 5;
        block.fileFlags[3] = 6;
        block.fileValue = 2.5f;
        block.fileByte = 9;
        block.lights = {Light(1.0f, 0x11), Light(-4.0f, 0x22)};
        std::vector<EncodedMesh> encoded;
        for (const MeshDesc& desc : c.meshes)
        {
            encoded.push_back(EncodeMesh(desc));
            ASSERT_TRUE(encoded.back().exact);
            block.meshes.push_back(encoded.back().bytes);
        }
        const std::vector<uint8_t> bytes = EncodeBlock(block);

        LMK::Model_* model = nullptr;
        ASSERT_EQ(LRCreateModelFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), 1, nullptr, &model),
                  S_OK);
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->refCount, 1u);
        EXPECT_EQ(model->vertexFormat, LMK::kModelVertexFormat);
        EXPECT_EQ(model->keepNormals, 1);
        ASSERT_EQ(model->partCount, c.meshes.size());

        DWORD subset = 0, modelFace = 0;
        for (size_t m = 0; m < c.meshes.size(); ++m)
            for (size_t g = 0; g < c.meshes[m].groups.size(); ++g, ++subset)
            {
                SCOPED_TRACE(subset);
                ASSERT_LT(subset, model->subsetCount);
                const LMK::SubsetStruct_TYP& s = model->subsets[subset];
                EXPECT_EQ(s.part, m);
                EXPECT_EQ(s.faceCount, encoded[m].groupFaceCounts[g]);
                EXPECT_EQ(s.modelFirstFace, modelFace);
                EXPECT_EQ(s.materialGroup, subset);
                EXPECT_EQ(s.material, nullptr);
                const uint16_t* triple = c.meshes[m].groups[g].triple;
                const DWORD sources[3] = {s.sourceIndex, s.sourceIndex2, s.sourceIndex3};
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(sources[k], triple[k] == 0xFFFF ? LMK::kNoSourceIndex : triple[k]);
                EXPECT_EQ(SubsetFaces(model, subset), EncodedFaces(encoded[m], g));
                modelFace += s.faceCount;
            }
        EXPECT_EQ(model->subsetCount, subset);

        const bool full = c.magic == 0x59474B4C;
        const bool fileFields = c.magic != 0x45474B4C;
        EXPECT_EQ(model->fileFlags[1], fileFields ? 5 : 0);
        EXPECT_EQ(model->fileFlags[3], fileFields ? 6 : 0);
        EXPECT_EQ(model->fileValue, fileFields ? 2.5f : 0.0f);
        EXPECT_EQ(model->fileByte, full ? 9 : 0);
        ASSERT_EQ(model->lightPointCount, full ? 2u : 0u);
        for (DWORD i = 0; i < model->lightPointCount; ++i)
        {
            const LightPointRecord& want = block.lights[i];
            EXPECT_EQ(std::memcmp(model->lightPoints[i].position, want.position, 12), 0);
            EXPECT_EQ(std::memcmp(model->lightPoints[i].color, want.color, 16), 0);
        }
        // The box covers the cube's corners (every case has one).
        EXPECT_LE(model->baseBox[0], -1.0f);
        EXPECT_GE(model->baseBox[5], 1.0f);
        Release(model);
        EXPECT_EQ(DeviceReferences(), before);
    }
}

TEST_F(GeometryBlockModelTest, NormalsAreComputedAndCreasedUnlessKept)
{
    struct Case
    {
        const char* name;
        uint32_t magic;
        float crease;
        BYTE noResmooth;
        bool flat;
    };
    const Case cases[] = {
        {"creased at the block's angle", 0x59474B4C, 0.5f, 0, true},
        {"kept as computed", 0x59474B4C, 0.5f, 1, false},
        {"no angle in the header", 0x45474B4C, 0.0f, 0, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        BlockDesc block;
        block.magic = c.magic;
        block.creaseAngle = c.crease;
        block.meshes = {EncodeMesh(Cube(0)).bytes};
        const std::vector<uint8_t> bytes = EncodeBlock(block);
        LMK::Model_* model = nullptr;
        ASSERT_EQ(LRCreateModelFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), c.noResmooth,
                                          nullptr, &model),
                  S_OK);
        ASSERT_GE(model->partCount, 1u);
        ASSERT_EQ(model->subsetCount, 1u);
        EXPECT_EQ(model->TotalFaceCount(), 12u);
        EXPECT_EQ(model->keepNormals, c.noResmooth);
        int wrong = 0, notFlat = 0;
        for (DWORD p = 0; p < model->partCount; ++p)
            CheckNormals(model->PrimaryParts()[p], &wrong, &notFlat);
        EXPECT_EQ(wrong, 0);
        if (c.flat)
        {
            EXPECT_EQ(notFlat, 0);
            EXPECT_EQ(model->PrimaryParts()[0]->mesh->GetNumVertices(), 24u); // four per side
        }
        else
            EXPECT_GT(notFlat, 0);
        Release(model);
    }
}

TEST_F(GeometryBlockModelTest, DamagedBlocksGiveAModelThatOwnsNothingOrKeepTheMeshesBefore)
{
    const std::vector<uint8_t> cube = EncodeMesh(Cube(0)).bytes;
    std::vector<uint8_t> badVersion = cube;
    badVersion[0] = 3;
    const std::vector<uint8_t> cut(cube.begin(), cube.begin() + 20);
    struct Case
    {
        const char* name;
        BlockDesc block;
        size_t keep; // bytes of the encoded block given, 0 for all
        HRESULT result;
        DWORD parts;
    };
    auto block = [](std::vector<std::vector<uint8_t>> meshes)
    {
        BlockDesc b;
        b.meshes = std::move(meshes);
        b.lights = {Light(0.0f, 1)};
        return b;
    };
    BlockDesc unknown = block({cube});
    unknown.magic = 0x474B4C00;
    BlockDesc overDeclared = block({cube});
    overDeclared.declaredSize = 100000;
    BlockDesc manyLights = block({cube});
    manyLights.lightCount = 0x10000000;
    MeshDesc unbounded = Cube(0);
    unbounded.groups[0].maximum[1] = std::numeric_limits<float>::infinity();
    const std::vector<uint8_t> infinite = EncodeMesh(unbounded).bytes;
    const Case cases[] = {
        {"unknown magic", unknown, 0, E_FAIL, 0},
        {"declared size beyond the data", overDeclared, 0, E_FAIL, 0},
        {"light points past the end", manyLights, 0, E_FAIL, 0},
        {"under twelve bytes", block({cube}), 11, E_FAIL, 0},
        {"first mesh cut short", block({cut}), 0, S_OK, 0},
        {"mesh version above the maximum", block({badVersion, cube}), 0, S_OK, 0},
        {"third mesh cut short", block({cube, cube, cut}), 0, S_OK, 2},
        {"a mesh with an infinite bound ends the list", block({cube, infinite, cube}), 0, S_OK, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const ULONG before = DeviceReferences();
        const std::vector<uint8_t> bytes = EncodeBlock(c.block);
        const DWORD size = static_cast<DWORD>(c.keep ? c.keep : bytes.size());
        LMK::Model_* model = nullptr;
        EXPECT_EQ(LRCreateModelFromMemory(bytes.data(), size, 0, nullptr, &model), c.result);
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->partCount, c.parts);
        EXPECT_EQ(model->subsetCount, c.parts);
        EXPECT_EQ(model->TotalFaceCount(), 12 * c.parts);
        EXPECT_EQ(model->lightPointCount, SUCCEEDED(c.result) ? 1u : 0u);
        Release(model);
        EXPECT_EQ(DeviceReferences(), before);
    }

    LMK::Model_* model = nullptr;
    const std::vector<uint8_t> bytes = EncodeBlock(block({cube}));
    EXPECT_EQ(LRCreateModelFromMemory(nullptr, 100, 0, nullptr, &model), E_INVALIDARG);
    EXPECT_EQ(LRCreateModelFromMemory(bytes.data(), 0, 0, nullptr, &model), E_INVALIDARG);
    EXPECT_EQ(LRCreateModelFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), 0, nullptr, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(model, nullptr);
}

int conversionsLeft = 0;
HRESULT ConvertThenFail(ID3DXMesh* mesh, IDirect3DDevice9* device, ID3DXMesh** out)
{
    if (conversionsLeft-- > 0)
        return mesh->CloneMeshFVF(D3DXMESH_MANAGED, LMK::kModelVertexFormat, device, out);
    *out = nullptr;
    return E_OUTOFMEMORY;
}

// The parts wrapped before the failed conversion, and the meshes after it, are released with it.
TEST_F(GeometryBlockModelTest, FailedConversionReleasesEveryPart)
{
    BlockDesc block;
    block.lights = {Light(0.0f, 1)};
    block.meshes = {EncodeMesh(Cube(1)).bytes, EncodeMesh(TwoMaterials()).bytes, EncodeMesh(Cube(2)).bytes};
    const std::vector<uint8_t> bytes = EncodeBlock(block);
    LMK::SetMeshListFormatConversion(ConvertThenFail);
    for (int succeeding = 0; succeeding < 3; ++succeeding)
    {
        SCOPED_TRACE(succeeding);
        const ULONG before = DeviceReferences();
        conversionsLeft = succeeding;
        LMK::Model_* model = nullptr;
        EXPECT_EQ(LRCreateModelFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), 0, nullptr, &model),
                  E_OUTOFMEMORY);
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->partCount, 0u);
        EXPECT_EQ(model->subsetCount, 0u);
        EXPECT_EQ(model->subsets, nullptr);
        EXPECT_EQ(model->lightPointCount, 0u);
        EXPECT_EQ(model->primaryData, nullptr);
        EXPECT_EQ(DeviceReferences(), before);
        Release(model);
    }
}
} // namespace
