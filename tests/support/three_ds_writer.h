#pragma once
// Writes 3D Studio files as modelling tools lay them out: the main chunk with its version, the editor
// chunk with materials and named objects (meshes and lights), then the keyframer with its object
// nodes and their tracks. Every chunk length is counted here, so a test can damage any of them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferolt::test
{
struct Ds3FaceGroup
{
    std::string material;
    std::vector<uint16_t> faces;
};

struct Ds3Mesh
{
    std::string name = "Box";
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::array<uint16_t, 3>> faces;
    std::vector<Ds3FaceGroup> groups; // written inside the face chunk
    bool smoothing = true;
    std::vector<std::array<float, 2>> texcoords; // empty: no chunk
    bool texcoordsFirst = false;                 // before the vertices
    std::optional<std::array<float, 12>> axes;   // X, Y, Z axes and origin
};

struct Ds3Map
{
    std::string file;
    int16_t percent = 100;
    std::optional<std::array<float, 5>> placement; // u scale, v scale, u offset, v offset, rotation
};

struct Ds3Material
{
    std::string name;
    std::array<uint8_t, 3> diffuse{255, 255, 255}; // written as bytes (0x0011)
    std::optional<std::array<float, 3>> ambient;   // written as floats (0x0010)
    std::array<uint8_t, 3> specular{0, 0, 0};
    int16_t shininess = 0, strength = 0, transparency = 0;
    bool twoSided = false;
    std::optional<int16_t> selfIllumination; // with the flag chunk
    std::optional<Ds3Map> texture, opacity, reflection;
};

struct Ds3Light
{
    std::string name = "Light";
    std::array<float, 3> position{0, 0, 0};
    std::array<float, 3> color{1, 1, 1};
    std::optional<std::array<float, 3>> spotTarget;
    bool off = false;
    std::optional<float> multiplier;
};

// Trailing members carry {} so that fixtures may leave them out of a brace list.
struct Ds3Key
{
    uint32_t frame;
    std::array<float, 4> value; // three for position and scale; angle and axis for rotation
    std::optional<float> tension{};
};

struct Ds3Node
{
    std::optional<uint16_t> id;
    std::string name;
    uint16_t parent = 0xFFFF;
    std::string instance{};
    std::array<float, 3> pivot{0, 0, 0};
    uint16_t trackFlags = 0;
    std::vector<Ds3Key> position{}, rotation{}, scale{};
};

struct Ds3File
{
    bool project = false; // main chunk 0xC23D instead of 0x4D4D
    std::optional<float> masterScale;
    std::vector<Ds3Material> materials;
    std::vector<Ds3Mesh> meshes;
    std::vector<Ds3Light> lights;
    std::vector<Ds3Node> nodes;
    std::vector<Ds3Node> spotNodes;
};

std::vector<uint8_t> Write3DS(const Ds3File& file);

// A unit cube of 8 vertices and 12 faces, the first six faces in a group of material "Red", the
// rest in "Blue", with texture coordinates.
Ds3Mesh Ds3Cube(const std::string& name = "Cube");
// A flat grid of columns x rows quads with texture coordinates, its faces in two material groups
// ("Red" the first half, "Blue" the rest), as a large exported surface looks.
Ds3Mesh Ds3Grid(const std::string& name, uint16_t columns, uint16_t rows);
} // namespace ferolt::test
