#pragma once
// Numbers read from files that are not finite (NaN, the infinities) would spread through every
// transform, bound and light they touch. One rule per record, all of them here:
// - stored light record: each non-finite field takes the default light's value for it;
// - placement matrix of an instance record: the record makes no object;
// - viewpoint record: the record is skipped;
// - bounds of a compressed geometry group, and the vertex positions decoded against them: the
//   mesh is refused, as a damaged one is.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "engine/core/light.h"
#include "platform/d3dx9/d3dx9math.h"

namespace LMK
{
inline bool AllFinite(const float* values, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

inline bool IsFinitePlacement(const D3DXMATRIX& matrix)
{
    return AllFinite(&matrix._11, 16);
}

inline float FiniteOr(float value, float fallback)
{
    return std::isfinite(value) ? value : fallback;
}

// Replaces, field by field, what is not finite in `params` by the value in `defaults`. The record is
// packed, so its fields are copied out rather than referred to.
inline void KeepFiniteLightParams(LightParamsStruct_TYP* params, const LightParamsStruct_TYP& defaults)
{
    // Diffuse, specular, ambient, position, direction, range, falloff, attenuation, theta and phi:
    // the 25 floats that follow the light type.
    constexpr size_t kFloats = 25;
    static_assert(sizeof(D3DLIGHT9) == sizeof(D3DLIGHTTYPE) + kFloats * sizeof(float));
    float values[kFloats], fallbacks[kFloats];
    std::memcpy(values, reinterpret_cast<const BYTE*>(&params->light) + sizeof(D3DLIGHTTYPE), sizeof values);
    std::memcpy(fallbacks, reinterpret_cast<const BYTE*>(&defaults.light) + sizeof(D3DLIGHTTYPE),
                sizeof fallbacks);
    for (size_t i = 0; i < kFloats; ++i)
        values[i] = FiniteOr(values[i], fallbacks[i]);
    std::memcpy(reinterpret_cast<BYTE*>(&params->light) + sizeof(D3DLIGHTTYPE), values, sizeof values);
    params->glowSize = FiniteOr(params->glowSize, defaults.glowSize);
    params->flareSize = FiniteOr(params->flareSize, defaults.flareSize);
    params->intensity = FiniteOr(params->intensity, defaults.intensity);
    params->flareAlpha = FiniteOr(params->flareAlpha, defaults.flareAlpha);
    params->glowAlpha = FiniteOr(params->glowAlpha, defaults.glowAlpha);
    params->hardness = FiniteOr(params->hardness, defaults.hardness);
}
} // namespace LMK
