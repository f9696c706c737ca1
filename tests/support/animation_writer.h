#pragma once
// Builds animation streams ("LKAN") and engine animation blocks byte by byte from their layouts alone,
// independent of the engine's readers, so a test shows every byte it hands over.
#include "tests/support/object_file_writer.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ferolt::test
{
constexpr uint32_t kAnimationStreamMagic = 0x4E414B4Cu; // "LKAN"
constexpr std::array<float, 16> kIdentityMatrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct AnimationKey
{
    float time = 0.0f;
    std::vector<float> value{}; // 3 components, or 4 on quaternion curves
    std::optional<float> tension{}, continuity{}, bias{};
    // Block only: tangents stored in the float pool (flag 0x20).
    std::optional<std::array<float, 4>> inTangent{}, outTangent{};
};

struct AnimationCurveDesc
{
    float start = 0.0f, end = 1.0f; // seconds in a stream, frames in a block
    uint32_t preMode = 0, postMode = 0;
    std::vector<AnimationKey> keys{};
    std::optional<uint32_t> keyCount{}; // written instead of keys.size()
};

struct AnimationNodeDesc
{
    std::array<float, 16> pre = kIdentityMatrix;
    std::array<float, 16> post = kIdentityMatrix;
    float pivot[3] = {0.0f, 0.0f, 0.0f};
    std::optional<int32_t> parent;
    std::optional<AnimationCurveDesc> position, scale, rotation;
};

struct AnimationClipDesc
{
    std::string name;
    float start = 0.0f, end = 1.0f;
    uint32_t preMode = 0, postMode = 0;
    uint8_t carried = 0, playReversed = 0;
    std::optional<uint32_t> firstNode{}; // a block clip covers every node without one
    uint32_t nodeCount = 0;
    std::vector<uint32_t> indices{};
    std::optional<uint32_t> nameLength{}; // stream: written instead of name.size()
    std::optional<uint32_t> indexCount{}; // written instead of indices.size()
};

struct AnimationDesc
{
    uint32_t magic = kAnimationStreamMagic;
    uint32_t version = 1;
    std::optional<uint32_t> length; // stream: written instead of the stream's size
    float framesPerSecond = 0.0f;   // block only
    std::vector<AnimationNodeDesc> nodes;
    std::vector<AnimationClipDesc> clips;
    std::vector<uint32_t> indices;
    std::optional<uint32_t> nodeCount, clipCount, indexCount; // written instead of the sizes
};

// The stream; `fieldEnds`, when given, receives the offset at which every field ends.
Bytes AnimationStream(const AnimationDesc& desc, std::vector<size_t>* fieldEnds = nullptr);
// The block: header, node records, key records, clip records, float pool, indices, in that order.
Bytes AnimationBlock(const AnimationDesc& desc);

// A quaternion key turning `angle` radians about z, as (x, y, z, w).
std::vector<float> RotationZ(float angle);
} // namespace ferolt::test
