// Curves: Kochanek-Bartels tangents, Hermite segments, and the modes that fold or extend time outside
// the active range.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "engine/scene/animation.h"

namespace LMK
{
namespace
{
// Fold modes move a time outside the range back into it.
bool Folds(DWORD mode)
{
    return mode == AnimationRepeat || mode == AnimationCycle || mode == AnimationPingPong ||
           mode == AnimationRepeatWithOffset;
}
} // namespace

void AnimationCurve_::KeyTangents(DWORD key, const D3DXVECTOR4& d0, const D3DXVECTOR4& d1, D3DXVECTOR4* in,
                                  D3DXVECTOR4* out) const
{
    const AnimationKeyStruct_TYP& k = keys[key];
    const float a = 1.0f - k.tension;
    const float c0 = 1.0f - k.continuity, c1 = 1.0f + k.continuity;
    const float b0 = 1.0f + k.bias, b1 = 1.0f - k.bias;
    *in = d0 * (a * c0 * b0 / 2.0f) + d1 * (a * c1 * b1 / 2.0f);
    *out = d0 * (a * c1 * b0 / 2.0f) + d1 * (a * c0 * b1 / 2.0f);
}

void AnimationCurve_::ComputeTangents()
{
    const DWORD n = static_cast<DWORD>(keys.size());
    if (n >= 2)
    {
        const D3DXVECTOR4 zero(0, 0, 0, 0);
        for (DWORD i = 0; i < n; ++i)
        {
            if (keys[i].tangentsSet) continue;
            const D3DXVECTOR4 d0 = i > 0 ? keys[i].value - keys[i - 1].value : zero;
            const D3DXVECTOR4 d1 = i + 1 < n ? keys[i + 1].value - keys[i].value : zero;
            KeyTangents(i, d0, d1, &keys[i].inTangent, &keys[i].outTangent);
            keys[i].tangentsSet = 1;
        }
        const D3DXVECTOR4& first = keys[0].value;
        const D3DXVECTOR4& last = keys[n - 1].value;
        KeyTangents(0, first - last, keys[1].value - first, &cyclic[0], &cyclic[1]);
        KeyTangents(n - 1, last - keys[n - 2].value, first - last, &cyclic[4], &cyclic[5]);
    }
    Evaluate(activeStart, &startValue);
    Evaluate(activeEnd, &endValue);
}

DWORD AnimationCurve_::FindSegment(float t) const
{
    // Last key with time <= t: the keys are in the order the source gave, searched as sorted.
    DWORD low = 0, high = static_cast<DWORD>(keys.size());
    while (low < high)
    {
        const DWORD mid = low + (high - low) / 2;
        if (keys[mid].time <= t)
            low = mid + 1;
        else
            high = mid;
    }
    return low == 0 ? 0 : low - 1;
}

bool AnimationCurve_::Evaluate(float t, D3DXVECTOR4* out) const
{
    if (keys.empty()) return false;
    *out = keys[0].value;
    const DWORD n = static_cast<DWORD>(keys.size());
    const float start = activeStart, end = activeEnd;
    if (n == 1 || !(end > start)) return true;
    const DWORD last = n - 1;
    const float span = end - start;
    const float requested = t;

    // Folding works in double so that a time many spans away still lands inside the range.
    double repetitions = 0.0;
    const DWORD outsideMode = t < start ? activePre : activePost;
    if ((t < start || t > end) && Folds(outsideMode))
    {
        if (!std::isfinite(t))
            t = start;
        else
        {
            repetitions = std::floor((double(t) - end) / span) + 1.0;
            t = static_cast<float>(std::clamp(double(t) - repetitions * span, double(start), double(end)));
            // Parity through fmod: a time before the range has a negative count, whose remainder
            // under % would be -1.
            if (outsideMode == AnimationPingPong && std::fmod(repetitions, 2.0) != 0.0) t = end - (t - start);
        }
        if (outsideMode != AnimationRepeatWithOffset) repetitions = 0.0;
    }

    const DWORD seamMode = requested < start + span / 2.0f ? activePre : activePost;
    bool seam = false;
    if (seamMode == AnimationCycle)
    {
        seam = n >= 2 && (t < keys[1].time || t > keys[last - 1].time);
        if (t < keys[0].time) t += span;
    }

    const DWORD seg = FindSegment(t);
    DWORD next;
    const D3DXVECTOR4* outTangent = &keys[seg].outTangent;
    const D3DXVECTOR4* inTangent = nullptr;
    if (seam)
    {
        next = seg == last ? 0 : seg + 1;
        if (seg == 0) outTangent = &cyclic[1];
        if (seg == last) outTangent = &cyclic[5];
        inTangent = next == 0 ? &cyclic[0] : next == last ? &cyclic[4] : &keys[next].inTangent;
    }
    else if (t < start)
    {
        *out = startValue;
        if (activePre == AnimationExtrapolate) *out += keys[seg].outTangent * (t - start);
        return true;
    }
    else if (t > end)
    {
        *out = endValue;
        if (activePost == AnimationExtrapolate) *out += keys[std::min(seg + 1, last)].inTangent * (t - end);
        return true;
    }
    else
    {
        next = std::min(seg + 1, last);
        inTangent = &keys[next].inTangent;
    }

    float dt = keys[next].time - keys[seg].time;
    if (dt < 0.0f) dt += span;
    if (dt == 0.0f)
        *out = keys[seg].value;
    else
    {
        const float s = (t - keys[seg].time) / dt;
        if (!(s >= 1e-5f))
            *out = keys[seg].value;
        else if (s > 0.99999f)
            *out = keys[next].value;
        else
        {
            D3DXVec4Hermite(out, &keys[seg].value, outTangent, &keys[next].value, inTangent, s);
            if (quaternion)
            {
                D3DXQUATERNION q(out->x, out->y, out->z, out->w);
                D3DXQuaternionNormalize(&q, &q);
                *out = D3DXVECTOR4(q.x, q.y, q.z, q.w);
            }
        }
    }
    if (repetitions != 0.0)
    {
        // A count beyond float's range would not convert; the offset is infinite either way.
        const double count = std::clamp(repetitions, -double(FLT_MAX), double(FLT_MAX));
        *out += (endValue - startValue) * static_cast<float>(count);
    }
    return true;
}

void AnimationCurve_::SetClip(const AnimationClip_* clip)
{
    activeStart = clip ? clip->start : ownStart;
    activeEnd = clip ? clip->end : ownEnd;
    activePre = clip ? clip->preMode : ownPre;
    activePost = clip ? clip->postMode : ownPost;
    if (!(activeEnd > activeStart)) activeEnd = activeStart + 1e-5f;
    Evaluate(activeStart, &startValue);
    Evaluate(activeEnd, &endValue);
}
} // namespace LMK
