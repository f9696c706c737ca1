// Animations from a 3D Studio keyframer: one node per object node, its curves from the node's tracks,
// and one clip over every key. The format's rotation keys turn relative to the previous key, so they
// are accumulated into absolute quaternions here.
#include <algorithm>

#include "engine/scene/animation.h"
#include "engine/scene/model_3ds.h"

namespace LMK
{
namespace
{
constexpr WORD kKeyTension = 0x1;
constexpr WORD kKeyContinuity = 0x2;
constexpr WORD kKeyBias = 0x4;

DWORD RangeModeOf(WORD trackFlags)
{
    switch (trackFlags & 3)
    {
    case 0:
        return AnimationHold;
    case 2:
        return AnimationRepeat;
    default:
        return AnimationCycle;
    }
}

std::unique_ptr<AnimationCurve_> CurveFrom(const Track3DS& track, float framesPerSecond, bool rotation)
{
    auto curve = std::make_unique<AnimationCurve_>();
    curve->ReadFrom3DS(static_cast<DWORD>(track.keys.size()), track.flags, track.keys.data(), framesPerSecond,
                       rotation);
    return curve;
}
} // namespace

void AnimationCurve_::ReadFrom3DS(DWORD keyCount, WORD trackFlags, const Key3DS* source,
                                  float framesPerSecond, bool rotation)
{
    if (framesPerSecond == 0.0f) framesPerSecond = 1.0f;
    quaternion = rotation ? 1 : 0;
    hasSecondValues = 0;
    keys.assign(keyCount, AnimationKeyStruct_TYP{});
    D3DXQUATERNION accumulated(0, 0, 0, 1);
    for (DWORD i = 0; i < keyCount; ++i)
    {
        const Key3DS& in = source[i];
        AnimationKeyStruct_TYP& key = keys[i];
        key.time = static_cast<float>(in.frame) / framesPerSecond;
        if (in.flags & kKeyTension) key.tension = in.tension;
        if (in.flags & kKeyContinuity) key.continuity = in.continuity;
        if (in.flags & kKeyBias) key.bias = in.bias;
        if (rotation)
        {
            const D3DXVECTOR3 axis(in.value[1], in.value[2], in.value[3]);
            D3DXQUATERNION step;
            D3DXQuaternionRotationAxis(&step, &axis, -in.value[0]);
            D3DXQuaternionMultiply(&accumulated, &accumulated, &step);
            D3DXQuaternionNormalize(&accumulated, &accumulated);
            key.value = D3DXVECTOR4(accumulated.x, accumulated.y, accumulated.z, accumulated.w);
        }
        else
            key.value = D3DXVECTOR4(in.value[0], in.value[1], in.value[2], 0.0f);
    }
    ownStart = activeStart = keys.empty() ? 0.0f : keys.front().time;
    ownEnd = activeEnd = keys.empty() ? 0.0f : keys.back().time;
    ownPre = ownPost = activePre = activePost = RangeModeOf(trackFlags);
    ComputeTangents();
}

HRESULT Animation_::CreateFrom3DS(const Node3DS* objectNodes, DWORD nodeCount, const Placement3DS* placements,
                                  const DWORD* subsetNodes, DWORD indexCount)
{
    framesPerSecond = kDefaultFramesPerSecond;
    DWORD low = 0xFFFFFFFFu, high = 0;
    bool anyKey = false;
    for (DWORD n = 0; n < nodeCount; ++n)
        for (const Track3DS* track :
             {&objectNodes[n].position, &objectNodes[n].rotation, &objectNodes[n].scale})
            for (const Key3DS& key : track->keys)
            {
                low = std::min(low, key.frame);
                high = std::max(high, key.frame);
                anyKey = true;
            }
    if (!anyKey) return E_FAIL;

    nodes = std::vector<AnimationNode_>(nodeCount);
    for (DWORD n = 0; n < nodeCount; ++n)
    {
        const Node3DS& source = objectNodes[n];
        AnimationNode_& node = nodes[n];
        node.cachedTime = -1.0e10f;
        if (placements && placements[n].present)
        {
            node.preMatrix = placements[n].pre;
            node.postMatrix = placements[n].post;
            std::copy(source.pivot, source.pivot + 3, node.pivot);
        }
        if (source.parent != 0xFFFF)
            for (DWORD p = 0; p < nodeCount; ++p)
                if (objectNodes[p].id == source.parent)
                {
                    node.parent = &nodes[p];
                    break;
                }
        node.position = CurveFrom(source.position, framesPerSecond, false);
        node.rotation = CurveFrom(source.rotation, framesPerSecond, true);
        node.scale = CurveFrom(source.scale, framesPerSecond, false);
    }
    // A node that is its own ancestor could never be evaluated.
    if (!ParentsEnd())
    {
        nodes.clear();
        return E_FAIL;
    }
    AnimationClip_ clip;
    clip.name = "3DS-Animation";
    // Curve times are seconds, so the clip's frames are too.
    clip.start = static_cast<float>(low) / framesPerSecond;
    clip.end = static_cast<float>(high) / framesPerSecond;
    clip.firstNode = nodes.data();
    clip.nodeCount = nodeCount;
    clips.push_back(std::move(clip));
    indices.assign(subsetNodes, subsetNodes + indexCount);
    for (DWORD& index : indices)
        if (index >= nodeCount) index = kNoAnimationNode;
    FindConstantNodes();
    return S_OK;
}
} // namespace LMK
