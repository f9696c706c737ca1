// Animation nodes evaluated into matrices, the animation's lifetime, and its API.
#include "engine/scene/animation.h"

#include <algorithm>

#include "engine/scene/lr_animation_api.h"
#include "engine/scene/model.h"

namespace LMK
{
namespace
{
bool CurveIsStatic(const std::unique_ptr<AnimationCurve_>& curve)
{
    return !curve || curve->keys.size() < 2;
}
} // namespace

AnimationNode_::AnimationNode_()
{
    D3DXMatrixIdentity(&preMatrix);
    D3DXMatrixIdentity(&postMatrix);
    D3DXMatrixIdentity(&result);
    D3DXMatrixIdentity(&local);
}

bool AnimationNode_::IsStatic() const
{
    for (const AnimationNode_* n = this; n; n = n->parent)
        if (!CurveIsStatic(n->position) || !CurveIsStatic(n->scale) || !CurveIsStatic(n->rotation))
            return false;
    return true;
}

void AnimationNode_::GetMatrix(AnimationClip_* clip, float time, D3DXMATRIX** out)
{
    Evaluate(clip, time);
    if (out) *out = &result;
}

void AnimationNode_::Evaluate(AnimationClip_* clip, float time)
{
    // The clip turns the time once, here: ancestors take the turned time as it is.
    if (clip && clip->playReversed) time = clip->end - (time - clip->start);
    if (constant || (clip == cachedClip && time == cachedTime)) return;
    // Stale ancestors first, outermost first. The readers refuse parent cycles, so the walk ends; it
    // is a loop rather than a recursion because a file may chain many nodes.
    static thread_local std::vector<AnimationNode_*> chain;
    chain.clear();
    for (AnimationNode_* p = parent; p && p->cachedTime != time; p = p->parent)
        chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        (*it)->EvaluateAt(clip, time);
    EvaluateAt(clip, time);
}

void AnimationNode_::EvaluateAt(AnimationClip_* clip, float time)
{
    if (constant || (clip == cachedClip && time == cachedTime)) return;
    cachedTime = time;
    if (clip != cachedClip)
    {
        cachedClip = clip;
        for (AnimationCurve_* curve : {position.get(), scale.get(), rotation.get()})
            if (curve) curve->SetClip(clip);
    }
    D3DXVECTOR4 v;
    D3DXMATRIX m;
    if (position && position->Evaluate(time, &v))
        D3DXMatrixTranslation(&local, v.x, v.y, v.z);
    else
        D3DXMatrixIdentity(&local);
    if (rotation && rotation->Evaluate(time, &v))
    {
        const D3DXQUATERNION q(v.x, v.y, v.z, v.w);
        D3DXMatrixRotationQuaternion(&m, &q);
        D3DXMatrixMultiply(&local, &m, &local);
    }
    if (scale && scale->Evaluate(time, &v))
    {
        D3DXMatrixScaling(&m, v.x, v.y, v.z);
        D3DXMatrixMultiply(&local, &m, &local);
    }
    D3DXMATRIX pivoted;
    D3DXMatrixTranslation(&pivoted, -pivot[0], -pivot[1], -pivot[2]);
    D3DXMatrixMultiply(&pivoted, &pivoted, &local);
    if (parent)
    {
        D3DXMatrixMultiply(&pivoted, &pivoted, &parent->local);
        D3DXMatrixMultiply(&local, &local, &parent->local);
    }
    D3DXMatrixMultiply(&result, &preMatrix, &pivoted);
    D3DXMatrixMultiply(&result, &result, &postMatrix);
}

// ---------------------------------------------------------------------------------------------------

void Animation_::Release()
{
    if (--refCount == 0) delete this;
}

void Animation_::GetTimeRange(float* start, float* end) const
{
    float low = 1e10f, high = -1e10f;
    for (const AnimationClip_& clip : clips)
    {
        low = std::min(low, clip.start);
        high = std::max(high, clip.end);
    }
    if (start) *start = low;
    if (end) *end = high;
}

AnimationNode_* Animation_::NodeForSource(DWORD sourceIndex)
{
    if (sourceIndex >= indices.size()) return nullptr;
    const DWORD node = indices[sourceIndex];
    return node < nodes.size() ? &nodes[node] : nullptr;
}

bool Animation_::ParentsEnd() const
{
    // 0 unvisited, 1 on the current walk, 2 known to reach a root.
    std::vector<BYTE> state(nodes.size(), 0);
    auto index = [&](const AnimationNode_* n) { return static_cast<size_t>(n - nodes.data()); };
    for (size_t i = 0; i < nodes.size(); ++i)
    {
        const AnimationNode_* n = &nodes[i];
        while (n && state[index(n)] == 0)
        {
            state[index(n)] = 1;
            n = n->parent;
        }
        if (n && state[index(n)] == 1) return false;
        for (n = &nodes[i]; n && state[index(n)] == 1; n = n->parent)
            state[index(n)] = 2;
    }
    return true;
}

void Animation_::FindConstantNodes()
{
    for (AnimationNode_& node : nodes)
    {
        if (!node.IsStatic())
        {
            node.constant = 0;
            continue;
        }
        node.Evaluate(nullptr, 0.0f);
        node.constant = 1;
    }
}

bool CreateAnimationFromBlock(const void* block, DWORD size, Animation_** out)
{
    if (!out) return false;
    *out = nullptr;
    if (!block || size == 0) return false;
    AnimationReference animation(new Animation_());
    if (!animation.get()->CreateFromBlock(block, size)) return false;
    *out = animation.Take();
    return true;
}
} // namespace LMK

// ---------------------------------------------------------------------------------------------------

HRESULT LRCreateAnimationFromStream(const void* stream, DWORD size, LMK::Animation_** animation,
                                    DWORD* streamLength)
{
    if (!animation) return E_INVALIDARG;
    *animation = nullptr;
    LMK::AnimationReference created(new LMK::Animation_());
    if (FAILED(created.get()->CreateFromStream(stream, size, streamLength))) return E_FAIL;
    *animation = created.Take();
    return S_OK;
}

HRESULT LRSetModelAnimation(LMK::Model_* model, LMK::Animation_* animation)
{
    if (!model) return E_INVALIDARG;
    model->SetAnimation(animation);
    return S_OK;
}

HRESULT LRGetModelAnimation(LMK::Model_* model, LMK::Animation_** animation)
{
    if (!model || !animation) return E_INVALIDARG;
    *animation = model->animation;
    if (*animation) (*animation)->AddRef();
    return S_OK;
}

HRESULT LRGetModelAnimationRange(LMK::Animation_* animation, float* start, float* end)
{
    if (!animation) return E_INVALIDARG;
    animation->GetTimeRange(start, end);
    return S_OK;
}

HRESULT LRReleaseAnimation(LMK::Animation_** animation)
{
    if (!animation) return S_OK;
    if (*animation) (*animation)->Release();
    *animation = nullptr;
    return S_OK;
}
