#pragma once
// Encoder for compressed geometry blocks, written from the format's rules rather than the decoder's
// code. It keeps its own model of the decoder's state (vertex table, ring, run entries, strip
// history) to choose references and predictions, and reports the values and faces a correct decoder
// must produce. Tables are uncoded ("LKHN") so every field in the stream has a known width.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace ferolt::test
{

// Position and one texture set; the texture floats are ignored for formats without one.
struct BlockVertex
{
    float position[3];
    float uv[2];
};

// One entry of a strip. New makes a vertex with the data of `key` (in a copied strip: the copy of the
// source strip's entry at this place, transformed). Back and Ring name the vertex last made for `key`,
// through an absolute back-reference or the ring; with copy they make a copy of it.
struct StripOp
{
    enum Kind
    {
        New,
        Back,
        Ring
    } kind;
    uint32_t key;
    bool copy = false;
};

// Rigid transform of a copied strip, as stored: axis components in 1/8191 units, translation in
// quantisation steps of the position bounds.
struct StripTransformDesc
{
    int ux = 8191, uy = 0, vx = 0, vy = 8191;
    int32_t t[3] = {0, 0, 0};
    bool negateU = false, negateV = false;
    std::optional<float> scale;
};

struct StripDesc
{
    std::vector<StripOp> ops;
    int copyOf = -1; // an earlier strip of the group; ops must then number that strip's entries
    StripTransformDesc transform{};
};

struct GroupDesc
{
    bool noTexture = false;
    float minimum[5] = {}; // x, y, z, u, v
    float maximum[5] = {};
    uint16_t triple[3] = {0xFFFF, 0xFFFF, 0xFFFF};
    std::vector<StripDesc> strips;
};

struct MeshDesc
{
    uint32_t version = 2;
    uint32_t format = 0x112; // XYZ | NORMAL | TEX1
    uint8_t positionBits = 16;
    uint8_t textureBits = 16;
    uint8_t ringBits = 4;
    bool predict = true;         // write T3 (and T5) so that vertices after a strip's first are predicted
    bool noTextureBits = false;  // flag 0x1: every group carries its no-texture bit
    uint16_t vertexCapacity = 0; // 0: exactly the vertices made
    std::vector<BlockVertex> keys;
    std::vector<GroupDesc> groups;
};

struct EncodedMesh
{
    std::vector<uint8_t> bytes;
    std::vector<BlockVertex> decoded; // in the decoder's vertex order
    std::vector<std::array<uint16_t, 3>> faces;
    std::vector<uint32_t> groupFaceCounts;
    bool exact = true; // every new vertex decodes to its key's data bit for bit
    uint32_t predicted = 0;
    uint32_t runEntries = 0;
};

EncodedMesh EncodeMesh(const MeshDesc& desc);

// One group per quad, each quad one strip of four new vertices a, b, c, d (d opposite a; the faces
// look along (b - a) x (c - a)) with texture coordinates (0, 0), (1, 0), (0, 1), (1, 1). Positions on
// whole steps of the bounds decode exactly.
MeshDesc QuadGroupsMesh(const std::vector<std::array<std::array<float, 3>, 4>>& quads);
// A unit quad from (1, 1, 1) to (2, 2, 1) (two faces, one group).
MeshDesc UnitQuadMesh();

struct LightPointRecord
{
    float position[3];
    uint32_t color[4];
};

struct BlockDesc
{
    uint32_t magic = 0x59474B4C; // "LKGY"
    uint8_t fileFlags[4] = {};
    float fileValue = 0.0f;
    uint8_t fileByte = 0;
    float creaseAngle = 0.0f;
    std::vector<LightPointRecord> lights;
    std::vector<std::vector<uint8_t>> meshes;
    std::optional<uint32_t> meshCount;    // written instead of meshes.size()
    std::optional<uint32_t> lightCount;   // written instead of lights.size()
    std::optional<uint32_t> declaredSize; // written instead of the block's size
};

std::vector<uint8_t> EncodeBlock(const BlockDesc& desc);

} // namespace ferolt::test
