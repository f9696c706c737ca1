// The animation stream "LKAN": a 28-byte header, node records with their curves, clip records and the
// subset-to-node indices, little-endian and unpadded. Every count is weighed against the bytes that
// remain before anything is allocated for it.
#include <array>
#include <memory>

#include "engine/scene/animation.h"

namespace LMK
{
namespace AnimationStream
{
constexpr DWORD kMagic = 0x4E414B4C; // "LKAN"
constexpr size_t kHeaderSize = 28;
// The smallest record of each kind, which bounds how many of them the remaining bytes can hold.
constexpr size_t kMinNodeSize = 64 + 64 + 12 + 4 + 4;
constexpr size_t kMinKeySize = 12 + 4 + 1;
constexpr size_t kMinClipSize = 34;

constexpr DWORD kPositionCurve = 0x1;
constexpr DWORD kScaleCurve = 0x2;
constexpr DWORD kRotationCurve = 0x4;
constexpr DWORD kParentGiven = 0x8;

constexpr BYTE kTensionFollows = 0x1;
constexpr BYTE kContinuityFollows = 0x2;
constexpr BYTE kBiasFollows = 0x4;
} // namespace AnimationStream

namespace
{
using ferolt::ByteCursor;
using ferolt::ByteReader;
using namespace AnimationStream;

bool ReadMatrix(ByteCursor& in, D3DXMATRIX* out)
{
    std::array<float, 16> m;
    if (!in.Read(&m)) return false;
    *out = D3DXMATRIX(m.data());
    return true;
}

bool ReadVector(ByteCursor& in, int components, D3DXVECTOR4* out)
{
    float* v = *out;
    for (int i = 0; i < components; ++i)
        if (!in.F32(&v[i])) return false;
    return true;
}

std::unique_ptr<AnimationCurve_> ReadCurve(ByteCursor& in)
{
    auto curve = std::make_unique<AnimationCurve_>();
    DWORD keyCount = 0;
    if (!curve->ReadHeader(in, &keyCount) || !curve->ReadKeys(in, keyCount)) return nullptr;
    curve->ComputeTangents();
    return curve;
}

bool ReadNode(ByteCursor& in, Animation_* animation, AnimationNode_& node)
{
    DWORD flags = 0, parent = 0;
    if (!ReadMatrix(in, &node.preMatrix) || !ReadMatrix(in, &node.postMatrix) || !in.F32(&node.pivot[0]) ||
        !in.F32(&node.pivot[1]) || !in.F32(&node.pivot[2]) || !in.U32(&flags) || !in.U32(&parent))
        return false;
    // A parent past the tree is no parent.
    if ((flags & kParentGiven) && parent < animation->nodes.size()) node.parent = &animation->nodes[parent];
    const std::pair<DWORD, std::unique_ptr<AnimationCurve_>*> curves[] = {
        {kPositionCurve, &node.position}, {kScaleCurve, &node.scale}, {kRotationCurve, &node.rotation}};
    for (const auto& [bit, slot] : curves)
        if ((flags & bit) && !(*slot = ReadCurve(in))) return false;
    return true;
}

bool ReadClip(ByteCursor& in, Animation_* animation, AnimationClip_& clip)
{
    DWORD nameLength = 0, firstNode = 0, nodeCount = 0, indexCount = 0;
    if (!in.U32(&nameLength) || !in.F32(&clip.start) || !in.F32(&clip.end) || !in.U32(&clip.preMode) ||
        !in.U32(&clip.postMode) || !in.U8(&clip.carried) || !in.U8(&clip.playReversed) ||
        !in.U32(&firstNode) || !in.U32(&nodeCount) || !in.U32(&indexCount))
        return false;
    std::span<const uint8_t> name;
    if (!in.Take(nameLength, &name)) return false;
    clip.name.assign(name.begin(), name.end());
    if (!in.ReadArray(indexCount, &clip.indices)) return false;
    // A clip that starts past the tree covers nothing that exists: the stream is damaged.
    const DWORD total = static_cast<DWORD>(animation->nodes.size());
    if (firstNode >= total) return false;
    clip.firstNode = &animation->nodes[firstNode];
    clip.nodeCount = std::min(nodeCount, total - firstNode);
    return true;
}
} // namespace

bool AnimationCurve_::ReadHeader(ByteCursor& in, DWORD* keyCount)
{
    if (!in.U8(&quaternion) || !in.F32(&ownStart) || !in.F32(&ownEnd) || !in.U32(&ownPre) ||
        !in.U32(&ownPost) || !in.U32(keyCount))
        return false;
    activeStart = ownStart;
    activeEnd = ownEnd;
    activePre = ownPre;
    activePost = ownPost;
    hasSecondValues = 0;
    return true;
}

bool AnimationCurve_::ReadKeys(ByteCursor& in, DWORD count)
{
    if (count > in.Remaining() / kMinKeySize) return false;
    keys.assign(count, AnimationKeyStruct_TYP{});
    const int components = quaternion ? 4 : 3;
    for (AnimationKeyStruct_TYP& key : keys)
    {
        BYTE flags = 0;
        if (!ReadVector(in, components, &key.value) || !in.F32(&key.time) || !in.U8(&flags)) return false;
        if ((flags & kTensionFollows) && !in.F32(&key.tension)) return false;
        if ((flags & kContinuityFollows) && !in.F32(&key.continuity)) return false;
        if ((flags & kBiasFollows) && !in.F32(&key.bias)) return false;
    }
    return true;
}

bool ReadAnimationStream(Animation_* animation, ByteReader stream, DWORD* streamLength)
{
    ByteCursor in(stream);
    DWORD magic = 0, version = 0, length = 0, nodeCount = 0, clipCount = 0, indexCount = 0;
    if (!in.U32(&magic) || magic != kMagic || !in.U32(&version) || (version != 1 && version != 2) ||
        !in.U32(&length))
        return false;
    if (streamLength) *streamLength = length;
    if (!in.U32(&nodeCount) || !in.U32(&clipCount) || !in.U32(&indexCount) || !in.Skip(4) || nodeCount == 0)
        return false;
    if (nodeCount > in.Remaining() / kMinNodeSize || clipCount > in.Remaining() / kMinClipSize) return false;

    animation->nodes = std::vector<AnimationNode_>(nodeCount);
    animation->clips = std::vector<AnimationClip_>(clipCount);
    for (AnimationNode_& node : animation->nodes)
        if (!ReadNode(in, animation, node)) return false;
    for (AnimationClip_& clip : animation->clips)
        if (!ReadClip(in, animation, clip)) return false;
    if (!in.ReadArray(indexCount, &animation->indices)) return false;
    for (DWORD& index : animation->indices)
        if (index >= nodeCount) index = kNoAnimationNode;
    if (!animation->ParentsEnd()) return false;
    animation->FindConstantNodes();
    return true;
}

HRESULT Animation_::CreateFromStream(const void* stream, DWORD size, DWORD* streamLength)
{
    return ReadAnimationStream(this, ByteReader(stream, size), streamLength) ? S_OK : E_FAIL;
}
} // namespace LMK
