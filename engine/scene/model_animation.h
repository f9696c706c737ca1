#pragma once
// What a model needs of its keyframe animation: it is counted, and it binds subsets to nodes by their
// source index.
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Animation_;
class AnimationNode_;
class AnimationClip_;

void AddRefAnimation(Animation_* animation);
// Destroys the animation at the last reference.
void ReleaseAnimation(Animation_* animation);
// The node that moves subsets of this source index, or null.
AnimationNode_* FindAnimationNodeForSource(Animation_* animation, DWORD sourceIndex);
// The node's matrix for a clip (or none) at a time in seconds; false when it cannot be evaluated.
bool GetAnimationNodeMatrix(AnimationNode_* node, AnimationClip_* clip, float time, D3DXMATRIX* out);
} // namespace LMK
