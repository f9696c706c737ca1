#include "engine/scene/model_animation.h"

#include "engine/scene/animation.h"

namespace LMK
{
// What a model asks of its animation.
void AddRefAnimation(Animation_* animation)
{
    if (animation) animation->AddRef();
}

void ReleaseAnimation(Animation_* animation)
{
    if (animation) animation->Release();
}

AnimationNode_* FindAnimationNodeForSource(Animation_* animation, DWORD sourceIndex)
{
    return animation ? animation->NodeForSource(sourceIndex) : nullptr;
}

bool GetAnimationNodeMatrix(AnimationNode_* node, AnimationClip_* clip, float time, D3DXMATRIX* out)
{
    if (!node || !out) return false;
    D3DXMATRIX* matrix = nullptr;
    node->GetMatrix(clip, time, &matrix);
    *out = *matrix;
    return true;
}
} // namespace LMK
