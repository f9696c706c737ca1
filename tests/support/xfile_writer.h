#pragma once
// Writes X files in every encoding from a plain description, the way exporters lay them out: the
// template definitions first, then frames with their transforms and meshes with their normals,
// texture coordinates, vertex colours and material lists, and optionally skinning and an animation set.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ferolt::test
{
struct XMaterialDesc
{
    std::array<float, 4> diffuse{1, 1, 1, 1};
    float power = 0;
    std::array<float, 3> specular{0, 0, 0};
    std::array<float, 3> emissive{0, 0, 0};
    std::string texture; // empty: no TextureFilename
};

struct XMeshDesc
{
    std::vector<std::array<float, 3>> positions;
    std::vector<std::vector<uint32_t>> faces;
    std::vector<std::array<float, 3>> normals; // empty: no MeshNormals
    std::vector<std::vector<uint32_t>> normalFaces;
    std::vector<std::array<float, 2>> texcoords; // empty: no MeshTextureCoords
    std::vector<std::pair<uint32_t, std::array<float, 4>>> colors;
    std::vector<XMaterialDesc> materials; // empty: no MeshMaterialList
    std::vector<uint32_t> faceMaterials;
    bool skinned = false; // adds the skin header and one SkinWeights object
};

struct XFrameDesc
{
    std::string name = "Frame";
    bool hasMatrix = false;
    std::array<float, 16> matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<XMeshDesc> meshes;
    std::vector<XFrameDesc> children;
};

struct XFileDesc
{
    bool templates = true;
    std::vector<XMeshDesc> meshes; // at the top level
    std::vector<XFrameDesc> frames;
    bool animation = false; // an animation set after the frames
};

enum class XEncoding
{
    Text,
    Binary,
    TextZip,
    BinaryZip,
};

std::vector<uint8_t> WriteXFile(const XFileDesc& desc, XEncoding encoding, bool doubles = false);

// One triangle the file describes: polygons as fans around their first corner, positions moved by the
// frames' transforms, and the diffuse colour of its material (a grey 0.5 for a mesh without a list).
struct XTriangle
{
    std::array<float, 9> corners;
    std::array<float, 4> diffuse;
};
std::vector<XTriangle> XExpectedTriangles(const XFileDesc& desc);

// A flat grid of quads (two triangles each) with normals, texture coordinates and two materials.
XMeshDesc XGridMesh(uint32_t columns, uint32_t rows);
// A unit cube of six quads.
XMeshDesc XCubeMesh();
} // namespace ferolt::test
