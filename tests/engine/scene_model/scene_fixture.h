#pragma once
// A started engine and small raw geometry for model tests. Vertices carry a tag in z (the subset they
// were made for) and an id in x, so a test can tell from a mesh which input face it is looking at.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "../core/engine_fixture.h"
#include "engine/core/material.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_draw_data.h"

namespace scenetest
{
struct RawGeometry
{
    std::vector<LMK::RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;

    DWORD FaceCount() const { return static_cast<DWORD>(indices.size() / 3); }

    DWORD AddVertex(float x, float y, float z)
    {
        LMK::RawVertexStruct_TYP v{};
        v.position[0] = x;
        v.position[1] = y;
        v.position[2] = z;
        vertices.push_back(v);
        return static_cast<DWORD>(vertices.size() - 1);
    }
    // A separate triangle: x = id, y = 0..2 per corner, z = tag.
    void AddTriangle(float id, float tag)
    {
        const DWORD a = AddVertex(id, 0, tag), b = AddVertex(id, 1, tag), c = AddVertex(id + 0.5f, 2, tag);
        indices.insert(indices.end(), {a, b, c});
    }
    // A unit quad (two faces sharing two vertices) at x = id, tagged in z.
    void AddQuad(float id, float tag)
    {
        const DWORD a = AddVertex(id, 0, tag), b = AddVertex(id + 1, 0, tag), c = AddVertex(id + 1, 1, tag),
                    d = AddVertex(id, 1, tag);
        indices.insert(indices.end(), {a, b, c, a, c, d});
    }
};

inline LMK::SubsetStruct_TYP Subset(DWORD firstFace, DWORD faceCount, LMK::Material_* material = nullptr)
{
    LMK::SubsetStruct_TYP s{};
    s.firstFace = firstFace;
    s.faceCount = faceCount;
    s.material = material;
    s.sourceIndex = LMK::kNoSourceIndex;
    return s;
}

// Builds a model; the test owns the one reference.
inline LMK::Model_* BuildModel(const RawGeometry& g, const std::vector<LMK::SubsetStruct_TYP>& subsets,
                               HRESULT* result, BYTE optimize = 0,
                               const std::vector<LMK::RawVertexStruct_TYP>& lines = {})
{
    return new LMK::Model_(
        0, g.vertices.data(), static_cast<DWORD>(g.vertices.size()), g.indices.data(), g.FaceCount(),
        lines.empty() ? nullptr : lines.data(), static_cast<DWORD>(lines.size()), subsets.data(),
        static_cast<DWORD>(subsets.size()), nullptr, nullptr, result, 0, 0, 0, nullptr, optimize, 0);
}

inline LMK::DeviceSpecificModelData_* Primary(LMK::Model_* model)
{
    return static_cast<LMK::DeviceSpecificModelData_*>(model->primaryData.get());
}

// The positions of a mesh's faces, in face order.
struct MeshFaces
{
    std::vector<std::array<LMK::ModelVertexStruct_TYP, 3>> faces;
    DWORD vertexCount = 0;
};

inline MeshFaces ReadFaces(ID3DXMesh* mesh)
{
    MeshFaces out;
    out.vertexCount = mesh->GetNumVertices();
    void* v = nullptr;
    void* i = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &v), S_OK);
    EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &i), S_OK);
    const auto* vertices = static_cast<const LMK::ModelVertexStruct_TYP*>(v);
    const auto* indices = static_cast<const WORD*>(i);
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
    {
        std::array<LMK::ModelVertexStruct_TYP, 3> face{};
        for (int c = 0; c < 3; ++c)
        {
            EXPECT_LT(indices[3 * f + c], out.vertexCount);
            face[c] = vertices[std::min<DWORD>(indices[3 * f + c], out.vertexCount - 1)];
        }
        out.faces.push_back(face);
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    return out;
}

class SceneTest : public enginetest::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(LRStart(nullptr), S_OK);
    }
};
} // namespace scenetest
