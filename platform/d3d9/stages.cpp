// The texture stage cascade: per stage a colour and an alpha operation on up to three arguments, written
// to the current or the temporary register. Values stay in [0, 1] after every stage.
#include "platform/d3d9/raster.h"
#include "platform/d3d9/simd.h"

namespace ferolt::d3d9
{
namespace
{
struct Registers
{
    const StageInputs& in;
    const PixelConfig& px;
    Vec4 current;
    Vec4 temp;
};

Vec4 Argument(DWORD a, const Registers& r, const StageConfig& st, int stage)
{
    Vec4 v;
    switch (a & D3DTA_SELECTMASK)
    {
    case D3DTA_DIFFUSE:
        v = r.in.diffuse;
        break;
    case D3DTA_TEXTURE:
        v = r.in.texture[stage];
        break;
    case D3DTA_TFACTOR:
        v = Vec4::Load(r.px.textureFactor);
        break;
    case D3DTA_SPECULAR:
        v = r.in.specular;
        break;
    case D3DTA_TEMP:
        v = r.temp;
        break;
    case D3DTA_CONSTANT:
        v = Vec4::Load(st.constant);
        break;
    default: // CURRENT
        v = r.current;
        break;
    }
    if (a & D3DTA_COMPLEMENT) v = Vec4(1.0f) - v;
    if (a & D3DTA_ALPHAREPLICATE) v = v.SplatW();
    return v;
}

// One operation on all four lanes; the caller keeps the lanes it asked for.
Vec4 Operate(DWORD op, const Vec4& a0, const Vec4& a1, const Vec4& a2, const Registers& r, int stage)
{
    const Vec4 one(1.0f);
    auto blend = [&](float alpha) { return a1 * Vec4(alpha) + a2 * (one - Vec4(alpha)); };
    Vec4 v;
    switch (op)
    {
    case D3DTOP_SELECTARG1:
    case D3DTOP_PREMODULATE:
        v = a1;
        break;
    case D3DTOP_SELECTARG2:
        v = a2;
        break;
    case D3DTOP_MODULATE:
        v = a1 * a2;
        break;
    case D3DTOP_MODULATE2X:
        v = Vec4(2.0f) * a1 * a2;
        break;
    case D3DTOP_MODULATE4X:
        v = Vec4(4.0f) * a1 * a2;
        break;
    case D3DTOP_ADD:
        v = a1 + a2;
        break;
    case D3DTOP_ADDSIGNED:
        v = a1 + a2 - Vec4(0.5f);
        break;
    case D3DTOP_ADDSIGNED2X:
        v = Vec4(2.0f) * (a1 + a2 - Vec4(0.5f));
        break;
    case D3DTOP_SUBTRACT:
        v = a1 - a2;
        break;
    case D3DTOP_ADDSMOOTH:
        v = a1 + a2 - a1 * a2;
        break;
    case D3DTOP_BLENDDIFFUSEALPHA:
        v = blend(r.in.diffuse.W());
        break;
    case D3DTOP_BLENDTEXTUREALPHA:
        v = blend(r.in.texture[stage].W());
        break;
    case D3DTOP_BLENDFACTORALPHA:
        v = blend(r.px.textureFactor[3]);
        break;
    case D3DTOP_BLENDTEXTUREALPHAPM:
        v = a1 + a2 * (one - r.in.texture[stage].SplatW());
        break;
    case D3DTOP_BLENDCURRENTALPHA:
        v = blend(r.current.W());
        break;
    case D3DTOP_MODULATEALPHA_ADDCOLOR:
        v = a1 + a1.SplatW() * a2;
        break;
    case D3DTOP_MODULATECOLOR_ADDALPHA:
        v = a1 * a2 + a1.SplatW();
        break;
    case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
        v = (one - a1.SplatW()) * a2 + a1;
        break;
    case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
        v = (one - a1) * a2 + a1.SplatW();
        break;
    case D3DTOP_DOTPRODUCT3:
    {
        float p[4], q[4];
        a1.Store(p);
        a2.Store(q);
        v = Vec4(4.0f * ((p[0] - 0.5f) * (q[0] - 0.5f) + (p[1] - 0.5f) * (q[1] - 0.5f) +
                         (p[2] - 0.5f) * (q[2] - 0.5f)));
        break;
    }
    case D3DTOP_MULTIPLYADD:
        v = a0 + a1 * a2;
        break;
    case D3DTOP_LERP:
        v = a0 * a1 + (one - a0) * a2;
        break;
    default:
        v = r.current; // bump stages pass the current value on
        break;
    }
    return v.Saturate();
}
} // namespace

Vec4 CombineStages(const PixelConfig& px, const StageInputs& in)
{
    Registers r{in, px, in.diffuse, Vec4(0.0f)};
    for (int s = 0; s < px.stageCount; ++s)
    {
        const StageConfig& st = px.stages[s];
        const Vec4 color =
            Operate(st.colorOp, Argument(st.colorArg[0], r, st, s), Argument(st.colorArg[1], r, st, s),
                    Argument(st.colorArg[2], r, st, s), r, s);
        Vec4 result;
        if (st.colorOp == D3DTOP_DOTPRODUCT3)
        {
            // The dot product goes to all four channels, alpha included.
            result = color;
        }
        else if (st.alphaOp == D3DTOP_DISABLE)
        {
            result = color.WithWOf(r.current);
        }
        else
        {
            DWORD op = st.alphaOp;
            // Colour-only operations read alpha as their first argument.
            if (op >= D3DTOP_MODULATEALPHA_ADDCOLOR && op <= D3DTOP_MODULATEINVCOLOR_ADDALPHA)
                op = D3DTOP_SELECTARG1;
            const Vec4 alpha =
                Operate(op, Argument(st.alphaArg[0], r, st, s), Argument(st.alphaArg[1], r, st, s),
                        Argument(st.alphaArg[2], r, st, s), r, s);
            result = color.WithWOf(alpha);
        }
        (st.resultTemp ? r.temp : r.current) = result;
    }
    return r.current;
}
} // namespace ferolt::d3d9
