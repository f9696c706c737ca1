// The engine animation block (model chunk 20): a header of counts and offsets, node records with
// 32-byte curve headers, key records whose values and tangents sit in a float pool, clip records and
// the subset-to-node indices. Times are stored in frames. Every offset and count is checked against
// the block's size.
#include <array>

#include "engine/scene/animation.h"

namespace LMK
{
namespace AnimationBlock
{
constexpr size_t kFramesPerSecondAt = 60;
constexpr size_t kNodeCountAt = 64;
constexpr size_t kClipCountAt = 68;
constexpr size_t kIndexCountAt = 84;
constexpr size_t kNodeOffsetAt = 88;
constexpr size_t kClipOffsetAt = 92;
constexpr size_t kPoolOffsetAt = 100;
constexpr size_t kIndexOffsetAt = 104;

constexpr size_t kNodeHeaderSize = 148;
constexpr size_t kCurveHeaderSize = 32;
constexpr size_t kMinKeySize = 12;
constexpr size_t kClipHeaderSize = 148;
constexpr size_t kClipNameWindow = 111;

constexpr DWORD kPositionCurve = 0x1;
constexpr DWORD kRotationCurve = 0x2;
constexpr DWORD kScaleCurve = 0x4;

constexpr DWORD kKeyTension = 0x1;
constexpr DWORD kKeyContinuity = 0x2;
constexpr DWORD kKeyBias = 0x4;
constexpr DWORD kKeySkipped1 = 0x8;
constexpr DWORD kKeySkipped2 = 0x10;
constexpr DWORD kKeyTangents = 0x20;

constexpr DWORD kClipCarried = 0x1;
constexpr DWORD kClipReversed = 0x2;
constexpr DWORD kClipNodeRange = 0x4;
} // namespace AnimationBlock

namespace
{
using ferolt::ByteCursor;
using ferolt::ByteReader;
using namespace AnimationBlock;

DWORD BlockMode(DWORD mode)
{
    return mode > AnimationRepeatWithOffset ? AnimationHold : mode;
}

// A stored matrix; one whose _44 is 0 stands for the identity.
bool ReadBlockMatrix(ByteCursor& in, D3DXMATRIX* out)
{
    std::array<float, 16> m;
    if (!in.Read(&m)) return false;
    *out = D3DXMATRIX(m.data());
    if (out->_44 == 0.0f) D3DXMatrixIdentity(out);
    return true;
}

// Pool entries are counted in floats from the pool's start.
bool ReadPoolVector(const ByteReader& block, size_t pool, size_t index, int components, D3DXVECTOR4* out)
{
    float* v = *out;
    for (int i = 0; i < components; ++i)
        if (!block.F32(pool + 4 * (index + i), &v[i])) return false;
    return true;
}

bool ReadBlockClip(ByteCursor& in, Animation_* animation, float framesPerSecond, AnimationClip_& clip)
{
    ByteReader record;
    if (!in.Reader().Sub(in.Position(), kClipHeaderSize, &record)) return false;
    std::string_view name;
    DWORD first = 0, count = 0, indexCount = 0, flags = 0;
    uint16_t pre = 0, post = 0;
    if (!record.CString(0, kClipNameWindow, &name) || !record.U32(111, &first) || !record.U32(115, &count) ||
        !record.U32(128, &indexCount) || !record.F32(132, &clip.start) || !record.F32(136, &clip.end) ||
        !record.U16(140, &pre) || !record.U16(142, &post) || !record.U32(144, &flags))
        return false;
    if (!in.Skip(kClipHeaderSize) || !in.ReadArray(indexCount, &clip.indices)) return false;
    clip.name.assign(name);
    clip.start /= framesPerSecond;
    clip.end /= framesPerSecond;
    clip.preMode = BlockMode(pre);
    clip.postMode = BlockMode(post);
    clip.carried = (flags & kClipCarried) ? 1 : 0;
    clip.playReversed = (flags & kClipReversed) ? 1 : 0;
    const DWORD total = static_cast<DWORD>(animation->nodes.size());
    if (!(flags & kClipNodeRange))
    {
        first = 0;
        count = total;
    }
    if (first >= total) return false;
    clip.firstNode = &animation->nodes[first];
    clip.nodeCount = std::min(count, total - first);
    return true;
}

// Without clip records the block gets one clip over every node and the union of the curves' ranges.
void AddWholeClip(Animation_* animation)
{
    AnimationClip_ clip;
    float low = 1e10f, high = -1e10f;
    for (const AnimationNode_& node : animation->nodes)
        for (const AnimationCurve_* curve : {node.position.get(), node.scale.get(), node.rotation.get()})
            if (curve)
            {
                low = std::min(low, curve->ownStart);
                high = std::max(high, curve->ownEnd);
            }
    if (low > high) low = high = 0.0f;
    clip.start = low;
    clip.end = high;
    clip.firstNode = animation->nodes.data();
    clip.nodeCount = static_cast<DWORD>(animation->nodes.size());
    animation->clips.push_back(std::move(clip));
}
} // namespace

bool AnimationCurve_::ReadFromBlock(ByteReader block, ByteCursor& header, size_t pool, float framesPerSecond,
                                    bool rotation)
{
    DWORD count = 0, stride = 0, keyOffset = 0;
    if (!header.U32(&count) || !header.U32(&stride) || !header.U32(&keyOffset) || !header.F32(&ownStart) ||
        !header.F32(&ownEnd) || !header.U32(&ownPre) || !header.U32(&ownPost) || !header.Skip(4))
        return false;
    quaternion = rotation ? 1 : 0;
    hasSecondValues = 0;
    ownStart /= framesPerSecond;
    ownEnd /= framesPerSecond;
    ownPre = BlockMode(ownPre);
    ownPost = BlockMode(ownPost);
    activeStart = ownStart;
    activeEnd = ownEnd;
    activePre = ownPre;
    activePost = ownPost;

    ByteCursor in(block);
    if (!in.Seek(keyOffset) || count > in.Remaining() / kMinKeySize) return false;
    keys.assign(count, AnimationKeyStruct_TYP{});
    const int components = rotation ? 4 : 3;
    for (AnimationKeyStruct_TYP& key : keys)
    {
        DWORD valueIndex = 0, flags = 0;
        if (!in.U32(&valueIndex) || !in.F32(&key.time) || !in.U32(&flags)) return false;
        if ((flags & kKeyTension) && !in.F32(&key.tension)) return false;
        if ((flags & kKeyContinuity) && !in.F32(&key.continuity)) return false;
        if ((flags & kKeyBias) && !in.F32(&key.bias)) return false;
        if ((flags & kKeySkipped1) && !in.Skip(4)) return false;
        if ((flags & kKeySkipped2) && !in.Skip(4)) return false;
        key.time /= framesPerSecond;
        if (!ReadPoolVector(block, pool, valueIndex, components, &key.value)) return false;
        if (rotation)
        {
            // Stored with the opposite handedness of rotation.
            D3DXQUATERNION q(key.value.x, key.value.y, key.value.z, -key.value.w);
            D3DXQuaternionNormalize(&q, &q);
            key.value = D3DXVECTOR4(q.x, q.y, q.z, q.w);
        }
        if (flags & kKeyTangents)
        {
            if (!ReadPoolVector(block, pool, size_t{valueIndex} + stride, components, &key.inTangent) ||
                !ReadPoolVector(block, pool, size_t{valueIndex} + 2 * size_t{stride}, components,
                                &key.outTangent))
                return false;
            key.tangentsSet = 1;
        }
    }
    ComputeTangents();
    return true;
}

bool ReadAnimationBlock(Animation_* animation, ByteReader block)
{
    float fps = 0.0f;
    DWORD nodeCount = 0, clipCount = 0, indexCount = 0, nodeOffset = 0, clipOffset = 0, poolOffset = 0,
          indexOffset = 0;
    if (!block.F32(kFramesPerSecondAt, &fps) || !block.U32(kNodeCountAt, &nodeCount) ||
        !block.U32(kClipCountAt, &clipCount) || !block.U32(kIndexCountAt, &indexCount) ||
        !block.U32(kNodeOffsetAt, &nodeOffset) || !block.U32(kClipOffsetAt, &clipOffset) ||
        !block.U32(kPoolOffsetAt, &poolOffset) || !block.U32(kIndexOffsetAt, &indexOffset) || nodeCount == 0)
        return false;
    if (fps == 0.0f) fps = kDefaultFramesPerSecond;
    animation->framesPerSecond = fps;

    ByteCursor nodes(block);
    if (!nodes.Seek(nodeOffset) || nodeCount > nodes.Remaining() / kNodeHeaderSize) return false;
    animation->nodes = std::vector<AnimationNode_>(nodeCount);
    for (AnimationNode_& node : animation->nodes)
    {
        node.cachedTime = -1e10f;
        DWORD flags = 0;
        int32_t parent = -1;
        if (!ReadBlockMatrix(nodes, &node.preMatrix) || !ReadBlockMatrix(nodes, &node.postMatrix) ||
            !nodes.U32(&flags) || !nodes.F32(&node.pivot[0]) || !nodes.F32(&node.pivot[1]) ||
            !nodes.F32(&node.pivot[2]) || !nodes.I32(&parent))
            return false;
        if (parent >= 0 && static_cast<DWORD>(parent) < nodeCount) node.parent = &animation->nodes[parent];
        const std::pair<DWORD, std::unique_ptr<AnimationCurve_>*> curves[] = {
            {kPositionCurve, &node.position}, {kRotationCurve, &node.rotation}, {kScaleCurve, &node.scale}};
        for (const auto& [bit, slot] : curves)
        {
            if (!(flags & bit)) continue;
            *slot = std::make_unique<AnimationCurve_>();
            if (!(*slot)->ReadFromBlock(block, nodes, poolOffset, fps, bit == kRotationCurve)) return false;
        }
    }

    ByteCursor clips(block);
    if (clipCount)
    {
        if (!clips.Seek(clipOffset) || clipCount > clips.Remaining() / kClipHeaderSize) return false;
        animation->clips = std::vector<AnimationClip_>(clipCount);
        for (AnimationClip_& clip : animation->clips)
            if (!ReadBlockClip(clips, animation, fps, clip)) return false;
    }
    else
        AddWholeClip(animation);

    ByteCursor indices(block);
    if (indexCount && (!indices.Seek(indexOffset) || !indices.ReadArray(indexCount, &animation->indices)))
        return false;
    for (DWORD& index : animation->indices)
        if (index >= nodeCount) index = kNoAnimationNode;
    if (!animation->ParentsEnd()) return false;
    animation->FindConstantNodes();
    return true;
}

bool Animation_::CreateFromBlock(const void* block, DWORD size)
{
    return ReadAnimationBlock(this, ByteReader(block, size));
}
} // namespace LMK
