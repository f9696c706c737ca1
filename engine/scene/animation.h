#pragma once
// Keyframe animation: a tree of nodes whose position, scale and rotation curves are evaluated at a
// time (seconds) into a matrix, and named clips that choose a time range and what happens outside it.
// Curves interpolate with cubic Hermite segments whose tangents follow tension, continuity and bias.
#include <memory>
#include <string>
#include <vector>

#include "platform/bytes/byte_reader.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"

namespace LMK
{
class AnimationClip_;
struct Node3DS;
struct Key3DS;
struct Placement3DS;

// What a curve does outside its range.
enum AnimationRangeMode : DWORD
{
    AnimationHold = 0,
    AnimationRepeat = 1,
    AnimationCycle = 2, // repeat, interpolating across the seam from the last key to the first
    AnimationPingPong = 3,
    AnimationExtrapolate = 4,
    AnimationRepeatWithOffset = 5,
};

constexpr float kDefaultFramesPerSecond = 15.0f;
constexpr DWORD kNoAnimationNode = 0xFFFFFFFFu;

struct AnimationKeyStruct_TYP
{
    D3DXVECTOR4 value;
    D3DXVECTOR4 value2; // never read: every reader clears the curve's has-second-values byte
    float time;
    D3DXVECTOR4 inTangent;
    D3DXVECTOR4 outTangent;
    D3DXVECTOR4 inTangent2;
    D3DXVECTOR4 outTangent2;
    float tension;
    float continuity;
    float bias;
    BYTE tangentsSet; // given by the source or already computed
};

class AnimationCurve_
{
public:
    // Stream form: the header (through the key count), then the keys, with three-component values
    // unless the header says quaternions.
    bool ReadHeader(ferolt::ByteCursor& in, DWORD* keyCount);
    bool ReadKeys(ferolt::ByteCursor& in, DWORD count);
    // Block form: a 32-byte curve header whose keys and values lie elsewhere in the block.
    bool ReadFromBlock(ferolt::ByteReader block, ferolt::ByteCursor& header, size_t poolOffset,
                       float framesPerSecond, bool rotation);
    // A 3D Studio keyframer track: frames at the rate, relative rotation keys accumulated.
    void ReadFrom3DS(DWORD keyCount, WORD trackFlags, const Key3DS* keys, float framesPerSecond,
                     bool rotation);
    // Tangents of the keys that have none, the cyclic tangents, and the values at the active ends.
    void ComputeTangents();
    // The last key whose time is at most t; 0 when t precedes the first key.
    DWORD FindSegment(float t) const;
    // The value at t; false for a curve without keys, which has no value.
    bool Evaluate(float t, D3DXVECTOR4* out) const;
    // The clip's range and modes become the active ones (the curve's own without a clip).
    void SetClip(const AnimationClip_* clip);

    std::vector<AnimationKeyStruct_TYP> keys;
    BYTE quaternion = 0;
    DWORD refCount = 1; // stays 1: each curve belongs to one node
    float activeStart = 0.0f, activeEnd = 0.0f;
    float ownStart = 0.0f, ownEnd = 0.0f;
    DWORD activePre = 0, activePost = 0;
    DWORD ownPre = 0, ownPost = 0;
    D3DXVECTOR4 startValue{0, 0, 0, 0}, startValue2{0, 0, 0, 0};
    D3DXVECTOR4 endValue{0, 0, 0, 0}, endValue2{0, 0, 0, 0};
    // First key in and out, its second value's in and out, last key in and out, its second value's.
    D3DXVECTOR4 cyclic[8]{};
    BYTE hasSecondValues = 0;

private:
    void KeyTangents(DWORD key, const D3DXVECTOR4& d0, const D3DXVECTOR4& d1, D3DXVECTOR4* in,
                     D3DXVECTOR4* out) const;
};

class AnimationNode_
{
public:
    AnimationNode_();
    AnimationNode_(const AnimationNode_&) = delete;
    AnimationNode_& operator=(const AnimationNode_&) = delete;

    // Evaluates the node for the clip (or none) at a time and hands out its matrix.
    void GetMatrix(AnimationClip_* clip, float time, D3DXMATRIX** out);
    void Evaluate(AnimationClip_* clip, float time);
    // No curve of this node or of its ancestors has two keys: the node can never change.
    bool IsStatic() const;

    BYTE constant = 0;
    D3DXMATRIXA16 preMatrix;
    D3DXMATRIXA16 postMatrix;
    float pivot[3] = {0.0f, 0.0f, 0.0f};
    std::unique_ptr<AnimationCurve_> position;
    std::unique_ptr<AnimationCurve_> scale;
    std::unique_ptr<AnimationCurve_> rotation;
    AnimationNode_* parent = nullptr;
    float cachedTime = 1e10f;
    D3DXMATRIXA16 result;
    D3DXMATRIXA16 local; // scale x rotation x translation, times the parent's local matrix
    AnimationClip_* cachedClip = nullptr;

private:
    // One node's own step, its time already turned for a reversed clip; the parent is up to date.
    void EvaluateAt(AnimationClip_* clip, float time);
};

class AnimationClip_
{
public:
    std::string name;
    float start = 0.0f;
    float end = 0.0f;
    DWORD preMode = 0;
    DWORD postMode = 0;
    BYTE carried = 0;
    BYTE playReversed = 0;
    AnimationNode_* firstNode = nullptr;
    DWORD nodeCount = 0;
    std::vector<DWORD> indices;
};

class Animation_
{
public:
    Animation_() = default;
    Animation_(const Animation_&) = delete;
    Animation_& operator=(const Animation_&) = delete;

    // An "LKAN" stream of `size` bytes; reading stops at its end. The stored stream length goes to
    // *streamLength when it is given.
    HRESULT CreateFromStream(const void* stream, DWORD size, DWORD* streamLength);
    // The engine animation block of a model chunk.
    bool CreateFromBlock(const void* block, DWORD size);
    // One node per 3D Studio object node (placed by its mesh record where it has one) and one clip
    // over all keys; indices gives the node of each subset source index. E_FAIL without any key.
    HRESULT CreateFrom3DS(const Node3DS* objectNodes, DWORD nodeCount, const Placement3DS* placements,
                          const DWORD* indices, DWORD indexCount);

    void AddRef() { ++refCount; }
    // Drops one reference; destroys at the last.
    void Release();
    void GetTimeRange(float* start, float* end) const;
    // The node that moves subsets of this source index, or null.
    AnimationNode_* NodeForSource(DWORD sourceIndex);

    float framesPerSecond = kDefaultFramesPerSecond;
    DWORD refCount = 1;
    std::vector<AnimationNode_> nodes;
    std::vector<AnimationClip_> clips;
    std::vector<DWORD> indices; // node index by subset source index, or kNoAnimationNode

private:
    ~Animation_() = default;
    // Parents form chains that end: a cycle would never finish evaluating.
    bool ParentsEnd() const;
    void FindConstantNodes();
    friend bool ReadAnimationStream(Animation_* animation, ferolt::ByteReader stream, DWORD* streamLength);
    friend bool ReadAnimationBlock(Animation_* animation, ferolt::ByteReader block);
};

// Holds one reference of an animation being made and drops it on every way out, a thrown
// allocation failure included, unless it is taken.
class AnimationReference
{
public:
    explicit AnimationReference(Animation_* animation) : animation_(animation) {}
    ~AnimationReference()
    {
        if (animation_) animation_->Release();
    }
    AnimationReference(const AnimationReference&) = delete;
    AnimationReference& operator=(const AnimationReference&) = delete;
    Animation_* get() const { return animation_; }
    Animation_* Take()
    {
        Animation_* taken = animation_;
        animation_ = nullptr;
        return taken;
    }

private:
    Animation_* animation_;
};

bool CreateAnimationFromBlock(const void* block, DWORD size, Animation_** out);
} // namespace LMK
