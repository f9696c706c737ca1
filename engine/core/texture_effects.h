#pragma once
// Texture effects: a material's texture transform record may animate its texture coordinates with one
// of three effects, each turning the fraction of the animation cycle into a texture matrix. The root
// holds one table of them for every material and device; SetupStage puts a record (animated or not)
// onto one or two texture stages.
#include "engine/core/material.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9math.h"

namespace LMK
{
class CTexEffect
{
public:
    CTexEffect();
    virtual ~CTexEffect() = default;
    CTexEffect(const CTexEffect&) = delete;
    CTexEffect& operator=(const CTexEffect&) = delete;

    // The matrix for t, the fraction of the cycle in [0, 1), the three parameters and the record's
    // extra word and byte.
    virtual D3DXMATRIX* ComputeMatrix(float t, const float* parameters, const void* extra,
                                      D3DXMATRIX* out) const = 0;
    // Fills each output that is given; the two further ones receive null.
    virtual void GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                                  const float** maximums, const void** further1,
                                  const void** further2) const = 0;

    // The record (or, without one, an identity transform) onto stages stage + a and stage + b. An
    // animated record runs on the clock that started at `startTime` (multimedia timer, milliseconds)
    // and sets *keepsAnimating while it moves.
    void SetupStage(const D3DXMATRIX* inverseWorld, IDirect3DDevice9* device, DWORD startTime,
                    const TextureTransformStruct_TYP* record, BYTE* keepsAnimating, DWORD stage, DWORD a,
                    DWORD b) const;

    D3DXMATRIX identity;
};

// Shifts the texture by (p0, p1) per cycle.
class CFloatingTexEffect final : public CTexEffect
{
public:
    D3DXMATRIX* ComputeMatrix(float t, const float* parameters, const void* extra,
                              D3DXMATRIX* out) const override;
    void GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                          const float** maximums, const void** further1,
                          const void** further2) const override;
};

// Steps through the pictures of a sheet of p0 columns and p1 rows.
class CSubPicAnimTexEffect final : public CTexEffect
{
public:
    D3DXMATRIX* ComputeMatrix(float t, const float* parameters, const void* extra,
                              D3DXMATRIX* out) const override;
    void GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                          const float** maximums, const void** further1,
                          const void** further2) const override;
};

// Turns p0 times per cycle about the texture's centre while scaling from p1 to p2.
class CSpiralEffect final : public CTexEffect
{
public:
    D3DXMATRIX* ComputeMatrix(float t, const float* parameters, const void* extra,
                              D3DXMATRIX* out) const override;
    void GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                          const float** maximums, const void** further1,
                          const void** further2) const override;
};

constexpr DWORD kTextureEffectCount = 3;

// The fraction of the cycle `elapsedMs` after the start at `speed` cycles per second, mirrored on odd
// cycles with ping-pong; in [0, 1) for any time and speed.
float TextureEffectCycle(DWORD elapsedMs, float speed, bool pingPong);

// The stage transform of material application: the root's effect of that index (entry 0 for an
// index out of the table) puts the record onto the stages.
void SetupStageThroughTextureEffect(DWORD effectIndex, const D3DXMATRIX* inverseWorld,
                                    IDirect3DDevice9* device, DWORD startTime,
                                    const TextureTransformStruct_TYP* record, BYTE* keepsAnimating,
                                    DWORD stage, DWORD a, DWORD b);
} // namespace LMK
