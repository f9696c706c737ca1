#pragma once
// The engine's public API for keyframe animations. None of these checks that the engine is started.
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Animation_;
class Model_;
} // namespace LMK

// A new animation from an "LKAN" stream of `size` bytes; reading never passes `size`. The stream
// length stored in its header (which callers step over the stream by) goes to *streamLength when given.
// E_FAIL, with *animation null, for a stream that cannot be read.
HRESULT LRCreateAnimationFromStream(const void* stream, DWORD size, LMK::Animation_** animation,
                                    DWORD* streamLength);
// Attaches the animation (or none) to the model, which takes its own reference and binds its subsets
// to the animation's nodes.
HRESULT LRSetModelAnimation(LMK::Model_* model, LMK::Animation_* animation);
// The model's animation with one added reference, or null.
HRESULT LRGetModelAnimation(LMK::Model_* model, LMK::Animation_** animation);
// The smallest clip start and the largest clip end, in seconds (1e10 and -1e10 without clips).
HRESULT LRGetModelAnimationRange(LMK::Animation_* animation, float* start, float* end);
// Drops one reference and clears the pointer.
HRESULT LRReleaseAnimation(LMK::Animation_** animation);
