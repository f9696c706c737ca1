// The texture stage cascade: per stage a colour and an alpha operation on up to three arguments, written
// to the current or the temporary register. Values stay in [0, 1] after every stage.
#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
namespace
{
inline float Sat(float v)
{
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

struct Registers
{
    const StageInputs& in;
    const PixelConfig& px;
    const float* current;
    const float* temp;
};

void Argument(DWORD a, const Registers& r, const StageConfig& st, int stage, float v[4])
{
    const float* src;
    switch (a & D3DTA_SELECTMASK)
    {
    case D3DTA_DIFFUSE: src = r.in.diffuse; break;
    case D3DTA_CURRENT: src = r.current; break;
    case D3DTA_TEXTURE: src = r.in.texture[stage]; break;
    case D3DTA_TFACTOR: src = r.px.textureFactor; break;
    case D3DTA_SPECULAR: src = r.in.specular; break;
    case D3DTA_TEMP: src = r.temp; break;
    case D3DTA_CONSTANT: src = st.constant; break;
    default: src = r.current; break;
    }
    for (int i = 0; i < 4; ++i) v[i] = src[i];
    if (a & D3DTA_COMPLEMENT)
        for (int i = 0; i < 4; ++i) v[i] = 1.0f - v[i];
    if (a & D3DTA_ALPHAREPLICATE) v[0] = v[1] = v[2] = v[3];
}

// One operation on channels [first, last) of the arguments.
void Operate(DWORD op, const float* a0, const float* a1, const float* a2, const Registers& r, int stage, int first,
             int last, float* out)
{
    const float diffuseA = r.in.diffuse[3], textureA = r.in.texture[stage][3];
    const float factorA = r.px.textureFactor[3], currentA = r.current[3];
    for (int i = first; i < last; ++i)
    {
        float v;
        switch (op)
        {
        case D3DTOP_SELECTARG1: v = a1[i]; break;
        case D3DTOP_SELECTARG2: v = a2[i]; break;
        case D3DTOP_MODULATE: v = a1[i] * a2[i]; break;
        case D3DTOP_MODULATE2X: v = 2.0f * a1[i] * a2[i]; break;
        case D3DTOP_MODULATE4X: v = 4.0f * a1[i] * a2[i]; break;
        case D3DTOP_ADD: v = a1[i] + a2[i]; break;
        case D3DTOP_ADDSIGNED: v = a1[i] + a2[i] - 0.5f; break;
        case D3DTOP_ADDSIGNED2X: v = 2.0f * (a1[i] + a2[i] - 0.5f); break;
        case D3DTOP_SUBTRACT: v = a1[i] - a2[i]; break;
        case D3DTOP_ADDSMOOTH: v = a1[i] + a2[i] - a1[i] * a2[i]; break;
        case D3DTOP_BLENDDIFFUSEALPHA: v = a1[i] * diffuseA + a2[i] * (1.0f - diffuseA); break;
        case D3DTOP_BLENDTEXTUREALPHA: v = a1[i] * textureA + a2[i] * (1.0f - textureA); break;
        case D3DTOP_BLENDFACTORALPHA: v = a1[i] * factorA + a2[i] * (1.0f - factorA); break;
        case D3DTOP_BLENDTEXTUREALPHAPM: v = a1[i] + a2[i] * (1.0f - textureA); break;
        case D3DTOP_BLENDCURRENTALPHA: v = a1[i] * currentA + a2[i] * (1.0f - currentA); break;
        case D3DTOP_MODULATEALPHA_ADDCOLOR: v = a1[i] + a1[3] * a2[i]; break;
        case D3DTOP_MODULATECOLOR_ADDALPHA: v = a1[i] * a2[i] + a1[3]; break;
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR: v = (1.0f - a1[3]) * a2[i] + a1[i]; break;
        case D3DTOP_MODULATEINVCOLOR_ADDALPHA: v = (1.0f - a1[i]) * a2[i] + a1[3]; break;
        case D3DTOP_DOTPRODUCT3:
            v = 4.0f * ((a1[0] - 0.5f) * (a2[0] - 0.5f) + (a1[1] - 0.5f) * (a2[1] - 0.5f) +
                        (a1[2] - 0.5f) * (a2[2] - 0.5f));
            break;
        case D3DTOP_MULTIPLYADD: v = a0[i] + a1[i] * a2[i]; break;
        case D3DTOP_LERP: v = a0[i] * a1[i] + (1.0f - a0[i]) * a2[i]; break;
        case D3DTOP_PREMODULATE: v = a1[i]; break;
        default: v = r.current[i]; break; // bump stages pass the current value on
        }
        out[i] = Sat(v);
    }
}
} // namespace

void CombineStages(const PixelConfig& px, const StageInputs& in, float out[4])
{
    float current[4] = {in.diffuse[0], in.diffuse[1], in.diffuse[2], in.diffuse[3]};
    float temp[4] = {0, 0, 0, 0};
    for (int s = 0; s < px.stageCount; ++s)
    {
        const StageConfig& st = px.stages[s];
        const Registers r{in, px, current, temp};
        float c0[4], c1[4], c2[4], result[4];
        Argument(st.colorArg[0], r, st, s, c0);
        Argument(st.colorArg[1], r, st, s, c1);
        Argument(st.colorArg[2], r, st, s, c2);
        Operate(st.colorOp, c0, c1, c2, r, s, 0, 3, result);
        if (st.colorOp == D3DTOP_DOTPRODUCT3)
        {
            // The dot product goes to all four channels, alpha included.
            result[3] = result[0];
        }
        else if (st.alphaOp == D3DTOP_DISABLE)
        {
            result[3] = current[3];
        }
        else
        {
            float a0[4], a1[4], a2[4];
            Argument(st.alphaArg[0], r, st, s, a0);
            Argument(st.alphaArg[1], r, st, s, a1);
            Argument(st.alphaArg[2], r, st, s, a2);
            DWORD op = st.alphaOp;
            // Colour-only operations read alpha as their first argument.
            if (op >= D3DTOP_MODULATEALPHA_ADDCOLOR && op <= D3DTOP_MODULATEINVCOLOR_ADDALPHA) op = D3DTOP_SELECTARG1;
            Operate(op, a0, a1, a2, r, s, 3, 4, result);
        }
        float* dst = st.resultTemp ? temp : current;
        for (int i = 0; i < 4; ++i) dst[i] = result[i];
    }
    for (int i = 0; i < 4; ++i) out[i] = current[i];
}
} // namespace ferolt::d3d9
