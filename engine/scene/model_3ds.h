#pragma once
// 3D Studio files and project files: the chunks the engine uses are read into lists (meshes,
// materials, lights, keyframer nodes), then merged into one model with one subset per face-material
// group, its materials, light points from the spotlights and an animation from the keyframer.
#include <string>
#include <vector>

#include "engine/core/loaders.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Model_;

struct Face3DS
{
    WORD a, b, c, flags;
};

struct FaceGroup3DS
{
    std::string material;
    std::vector<WORD> faces;
};

struct Mesh3DS
{
    std::string name;
    BYTE objectFlags = 0;
    std::vector<float> vertices; // x, y, z each
    std::vector<Face3DS> faces;
    std::vector<FaceGroup3DS> groups;
    std::vector<DWORD> smoothing;
    std::vector<float> texture; // u, 1 - v each
    // X axis, Y axis, Z axis, origin.
    float axes[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
};

struct Map3DS
{
    std::string file;
    float percent = 1.0f; // a map without an amount counts whole
    WORD tiling = 0;
    float uScale = 1.0f, vScale = 1.0f, uOffset = 0.0f, vOffset = 0.0f, rotation = 0.0f;
    bool present = false;
};

struct Material3DS
{
    std::string name;
    bool hasAmbient = false;
    float ambient[3] = {0, 0, 0};
    float diffuse[3] = {0, 0, 0};
    float specular[3] = {0, 0, 0};
    float shininess = 0.0f, shininessStrength = 0.0f, transparency = 0.0f, selfIllumination = 0.0f;
    bool selfIlluminated = false, twoSided = false;
    Map3DS texture, opacity, reflection, bump;
};

struct Light3DS
{
    std::string name;
    float position[3] = {0, 0, 0};
    float color[3] = {0, 0, 0};
    bool spot = false;
    float target[3] = {0, 0, 0};
    bool off = false;
    float multiplier = 1.0f;
};

struct Key3DS
{
    DWORD frame;
    WORD flags;
    float tension, continuity, bias;
    float value[4];
};

struct Track3DS
{
    WORD flags = 0;
    std::vector<Key3DS> keys;
};

struct Node3DS
{
    WORD id = 0;
    std::string name;
    WORD parent = 0xFFFF;
    std::string instance;
    float pivot[3] = {0, 0, 0};
    Track3DS position, rotation, scale, roll;
    // The values of each track's earliest key.
    float restPosition[3] = {0, 0, 0};
    float restRotation[4] = {0, 0, 0, 1}; // angle, axis
    float restScale[3] = {1, 1, 1};
};

struct Parsed3DS
{
    std::vector<Mesh3DS> meshes;
    std::vector<Material3DS> materials;
    std::vector<Light3DS> lights;
    std::vector<Node3DS> objectNodes;
    std::vector<Node3DS> spotNodes;
    float masterScale = 1.0f;
};

bool Parse3DS(const void* data, DWORD size, Parsed3DS* parsed);
HRESULT Build3DSModel(Parsed3DS* parsed, BYTE ignoreKeyframer, LoadRecordStruct_TYP* record, Model_** out);
void Free3DS(Parsed3DS* parsed);
} // namespace LMK

namespace LMK
{
// Where a keyframer node's mesh record put its vertices, for undoing it when animating.
struct Placement3DS
{
    bool present = false;
    D3DXMATRIX pre;  // inverse(record transform) x inverse(local axes)
    D3DXMATRIX post; // the record's uniform scaling
};
} // namespace LMK
