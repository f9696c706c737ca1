// Fuzzes the animation stream reader and the evaluation of what it accepts: every node at a few
// times, with no clip and with each clip. The same bytes are also read as an animation block.
#include "engine/scene/animation.h"
#include "engine/scene/lr_animation_api.h"

#include <cstddef>
#include <cstdint>

namespace
{
void Evaluate(LMK::Animation_* animation)
{
    const float times[] = {-1e30f, -2.5f, 0.0f, 0.4f, 1.0f, 7.25f, 1e30f};
    for (LMK::AnimationNode_& node : animation->nodes)
        for (float t : times)
        {
            D3DXMATRIX* m = nullptr;
            node.GetMatrix(nullptr, t, &m);
            for (LMK::AnimationClip_& clip : animation->clips)
                node.GetMatrix(&clip, t, &m);
        }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0xFFFFFFFFu) return 0;
    LMK::Animation_* animation = nullptr;
    DWORD length = 0;
    if (SUCCEEDED(LRCreateAnimationFromStream(data, static_cast<DWORD>(size), &animation, &length)))
        Evaluate(animation);
    LRReleaseAnimation(&animation);
    if (LMK::CreateAnimationFromBlock(data, static_cast<DWORD>(size), &animation)) Evaluate(animation);
    LRReleaseAnimation(&animation);
    return 0;
}
