#pragma once
// What an X file holds for a mesh load: every mesh of the file (frame transforms applied, faces
// triangulated, vertices split where a corner's normal differs), with its materials.
#include <string>
#include <vector>

#include "platform/bytes/byte_reader.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/d3dx9/mesh_internal.h"

namespace ferolt::d3dx9::xfile
{
struct EffectDefault
{
    std::string name;
    DWORD type = 0; // D3DXEFFECTDEFAULTTYPE
    std::vector<uint8_t> value;
};

struct Material
{
    D3DMATERIAL9 material{};
    std::string texture; // empty for none
    bool hasEffect = false;
    std::string effectFile;
    std::vector<EffectDefault> defaults;
};

// What a face gets when the file names no material for it: grey.
Material DefaultMaterial();

struct Mesh
{
    std::vector<Float3> positions;
    std::vector<Float3> normals;  // one per vertex when hasNormals
    std::vector<float> texcoords; // two per vertex when hasTexcoords
    std::vector<DWORD> colors;    // one per vertex when hasColors
    bool hasNormals = false;
    bool hasTexcoords = false;
    bool hasColors = false;
    std::vector<uint32_t> indices;    // three per triangle
    std::vector<DWORD> faceMaterials; // per triangle, into materials; empty when the mesh has none
    std::vector<Material> materials;
};

struct Scene
{
    std::vector<Mesh> meshes;
};

// The meshes of a whole X file (header included). D3DXERR_INVALIDDATA for damage.
HRESULT ParseXFile(const ByteReader& file, Scene* out);
} // namespace ferolt::d3dx9::xfile
