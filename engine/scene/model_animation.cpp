#include "engine/scene/model_animation.h"

namespace LMK
{
// No animation can exist before the keyframe animation is built, so a model never holds one; these
// move to the animation itself together with its class.
void AddRefAnimation(Animation_*) {}
void ReleaseAnimation(Animation_*) {}
AnimationNode_* FindAnimationNodeForSource(Animation_*, DWORD)
{
    return nullptr;
}
bool GetAnimationNodeMatrix(AnimationNode_*, AnimationClip_*, float, D3DXMATRIX*)
{
    return false;
}
} // namespace LMK
