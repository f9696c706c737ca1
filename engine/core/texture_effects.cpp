#include "engine/core/texture_effects.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/resource_links.h"
#include "platform/win32/mmsystem.h"

namespace LMK
{
namespace
{
constexpr float kPi = 3.1415927f;
// Pictures per row or column of a sheet: far beyond any real sheet, small enough for exact counts.
constexpr float kMaxSheetSide = 4096.0f;

void FillInfo(DWORD n, const float* d, const float* lo, const float* hi, DWORD* count, const float** defaults,
              const float** minimums, const float** maximums, const void** further1, const void** further2)
{
    if (count) *count = n;
    if (defaults) *defaults = d;
    if (minimums) *minimums = lo;
    if (maximums) *maximums = hi;
    if (further1) *further1 = nullptr;
    if (further2) *further2 = nullptr;
}

// A sheet side from its parameter, truncated; below one (zero, negative or not a number) it is one.
float SheetSide(float p)
{
    if (!(p >= 1.0f)) return 1.0f;
    return std::trunc(std::min(p, kMaxSheetSide));
}

DWORD RootMagFilter()
{
    return CurrentGlobals ? CurrentGlobals->magFilter : static_cast<DWORD>(D3DTEXF_LINEAR);
}
} // namespace

CTexEffect::CTexEffect()
{
    D3DXMatrixIdentity(&identity);
}

D3DXMATRIX* CFloatingTexEffect::ComputeMatrix(float t, const float* p, const void*, D3DXMATRIX* out) const
{
    D3DXMatrixIdentity(out);
    out->_41 = t * p[0];
    out->_42 = t * p[1];
    return out;
}

void CFloatingTexEffect::GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                                          const float** maximums, const void** further1,
                                          const void** further2) const
{
    static const float d[] = {1, 1}, lo[] = {0, 0}, hi[] = {1000, 1000};
    FillInfo(2, d, lo, hi, count, defaults, minimums, maximums, further1, further2);
}

D3DXMATRIX* CSubPicAnimTexEffect::ComputeMatrix(float t, const float* p, const void*, D3DXMATRIX* out) const
{
    const float nx = SheetSide(p[0]), ny = SheetSide(p[1]);
    const DWORD columns = static_cast<DWORD>(nx);
    const DWORD pictures = columns * static_cast<DWORD>(ny);
    const float at = std::trunc(nx * t * ny);
    const DWORD frame =
        at > 0.0f ? std::min(static_cast<DWORD>(std::min(at, kMaxSheetSide * kMaxSheetSide)), pictures - 1)
                  : 0;
    const DWORD row = frame / columns, column = frame % columns;
    D3DXMatrixScaling(out, 1.0f / nx, 1.0f / ny, 1.0f);
    out->_41 = static_cast<float>(column) / nx;
    out->_42 = static_cast<float>(row) / ny;
    return out;
}

void CSubPicAnimTexEffect::GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                                            const float** maximums, const void** further1,
                                            const void** further2) const
{
    static const float d[] = {1, 1}, lo[] = {1, 1}, hi[] = {10, 10};
    FillInfo(2, d, lo, hi, count, defaults, minimums, maximums, further1, further2);
}

D3DXMATRIX* CSpiralEffect::ComputeMatrix(float t, const float* p, const void*, D3DXMATRIX* out) const
{
    float s = p[1] + (p[2] - p[1]) * t;
    if (s == 0.0f) s = 1.0f;
    const float angle = 2.0f * kPi * t * p[0];
    D3DXMATRIX step;
    D3DXMatrixTranslation(out, -0.5f, -0.5f, 0.0f);
    D3DXMatrixMultiply(out, out, D3DXMatrixRotationZ(&step, angle));
    D3DXMatrixMultiply(out, out, D3DXMatrixScaling(&step, s, s, s));
    D3DXMatrixMultiply(out, out, D3DXMatrixTranslation(&step, 0.5f / s, 0.5f / s, 0.0f));
    return out;
}

void CSpiralEffect::GetParameterInfo(DWORD* count, const float** defaults, const float** minimums,
                                     const float** maximums, const void** further1,
                                     const void** further2) const
{
    static const float d[] = {1, 1, 1}, lo[] = {0, 0.01f, 0.01f}, hi[] = {100, 100, 100};
    FillInfo(3, d, lo, hi, count, defaults, minimums, maximums, further1, further2);
}

float TextureEffectCycle(DWORD elapsedMs, float speed, bool pingPong)
{
    const double x = speed * (elapsedMs / 1000.0);
    if (!std::isfinite(x)) return 0.0f;
    // The cycle count stays a floating value: converting a large one to an integer is undefined. The
    // floor keeps the fraction in [0, 1) for a negative speed as well.
    const double cycles = std::floor(x);
    double f = x - cycles;
    if (pingPong && std::fmod(cycles, 2.0) != 0.0) f = 1.0 - f;
    const float fraction = static_cast<float>(f);
    return fraction < 1.0f ? fraction : 0.0f;
}

void CTexEffect::SetupStage(const D3DXMATRIX* inverseWorld, IDirect3DDevice9* device, DWORD startTime,
                            const TextureTransformStruct_TYP* record, BYTE* keepsAnimating, DWORD stage,
                            DWORD a, DWORD b) const
{
    if (!device) return;
    const DWORD stages[2] = {stage + a, stage + b};
    const int count = a == b ? 1 : 2;
    auto setMatrix = [&](const D3DXMATRIX& m)
    {
        for (int i = 0; i < count; ++i)
            device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + stages[i]), &m);
    };
    if (!record)
    {
        for (int i = 0; i < count; ++i)
        {
            device->SetTextureStageState(stages[i], D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
            device->SetSamplerState(stages[i], D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
            device->SetSamplerState(stages[i], D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
            device->SetSamplerState(stages[i], D3DSAMP_MAGFILTER, RootMagFilter());
        }
        setMatrix(identity);
        return;
    }
    const bool projected = record->matrix._14 != 0.0f;
    for (int i = 0; i < count; ++i)
    {
        device->SetTextureStageState(stages[i], D3DTSS_TEXTURETRANSFORMFLAGS,
                                     projected ? (D3DTTFF_COUNT3 | D3DTTFF_PROJECTED) : D3DTTFF_COUNT2);
        device->SetSamplerState(stages[i], D3DSAMP_ADDRESSU, record->addressU);
        device->SetSamplerState(stages[i], D3DSAMP_ADDRESSV, record->addressV);
        device->SetSamplerState(stages[i], D3DSAMP_BORDERCOLOR, record->borderColor);
        device->SetSamplerState(stages[i], D3DSAMP_MAGFILTER,
                                record->pointFilter ? static_cast<DWORD>(D3DTEXF_POINT) : RootMagFilter());
    }
    D3DXMATRIX m(&record->matrix._11);
    if (record->animated)
    {
        if (keepsAnimating && record->speed != 0.0f) *keepsAnimating = 1;
        const float t = TextureEffectCycle(timeGetTime() - startTime, record->speed, record->pingPong != 0);
        D3DXMATRIX effect;
        ComputeMatrix(t, record->effectParams, &record->extraWord, &effect);
        D3DXMatrixMultiply(&m, &m, &effect);
    }
    else if (projected)
    {
        // Camera-space positions back to object space, then the record's projection.
        D3DXMATRIX view, inverseView;
        device->GetTransform(D3DTS_VIEW, &view);
        if (!D3DXMatrixInverse(&inverseView, nullptr, &view)) D3DXMatrixIdentity(&inverseView);
        if (inverseWorld) D3DXMatrixMultiply(&inverseView, &inverseView, inverseWorld);
        D3DXMatrixMultiply(&m, &inverseView, &m);
        m._13 = m._14;
        m._23 = m._24;
        m._33 = m._34;
        m._43 = m._44;
        setMatrix(m);
        return;
    }
    // Two-component coordinates take their translation from the third row.
    m._31 = m._41;
    m._32 = m._42;
    setMatrix(m);
}

void SetupStageThroughTextureEffect(DWORD effectIndex, const D3DXMATRIX* inverseWorld,
                                    IDirect3DDevice9* device, DWORD startTime,
                                    const TextureTransformStruct_TYP* record, BYTE* keepsAnimating,
                                    DWORD stage, DWORD a, DWORD b)
{
    // Outside a started engine there is no table; the floating effect stands in for entry 0.
    static const CFloatingTexEffect standIn;
    const CTexEffect* effect = &standIn;
    if (CurrentGlobals && CurrentGlobals->textureEffectCount)
    {
        const DWORD index = effectIndex < CurrentGlobals->textureEffectCount ? effectIndex : 0;
        if (index < CurrentGlobals->textureEffects.size() && CurrentGlobals->textureEffects[index])
            effect = CurrentGlobals->textureEffects[index].get();
    }
    effect->SetupStage(inverseWorld, device, startTime, record, keepsAnimating, stage, a, b);
}

void CreateTextureEffects()
{
    if (!CurrentGlobals || !CurrentGlobals->textureEffects.empty()) return;
    std::vector<std::unique_ptr<CTexEffect>> table;
    table.push_back(std::make_unique<CFloatingTexEffect>());
    table.push_back(std::make_unique<CSubPicAnimTexEffect>());
    table.push_back(std::make_unique<CSpiralEffect>());
    CurrentGlobals->textureEffects = std::move(table);
    CurrentGlobals->textureEffectCount = kTextureEffectCount;
}
} // namespace LMK
