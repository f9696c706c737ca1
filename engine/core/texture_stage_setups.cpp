#include "engine/core/texture_stage_setups.h"

#include <cstring>

namespace LMK
{
namespace
{
DWORD FloatBits(float f)
{
    DWORD d;
    std::memcpy(&d, &f, sizeof(d));
    return d;
}

class Writer
{
public:
    Writer(const StageSetupInputsStruct_TYP& in, WeightStageTest_* test) : in_(in), d_(in.device), test_(test)
    {
    }

    void State(DWORD st, D3DTEXTURESTAGESTATETYPE type, DWORD value)
    {
        d_->SetTextureStageState(st, type, value);
    }
    void Factor(DWORD factor) { d_->SetRenderState(D3DRS_TEXTUREFACTOR, factor); }
    void Texture(DWORD st, IDirect3DBaseTexture9* texture) { d_->SetTexture(st, texture); }
    void NoTexture(DWORD st) { d_->SetTexture(st, nullptr); }

    void Color(DWORD st, DWORD op, DWORD a1)
    {
        State(st, D3DTSS_COLOROP, op);
        State(st, D3DTSS_COLORARG1, a1);
    }
    void Color(DWORD st, DWORD op, DWORD a1, DWORD a2)
    {
        Color(st, op, a1);
        State(st, D3DTSS_COLORARG2, a2);
    }
    void ColorMad(DWORD st, DWORD a0, DWORD a1, DWORD a2)
    {
        Color(st, D3DTOP_MULTIPLYADD, a1, a2);
        State(st, D3DTSS_COLORARG0, a0);
    }
    void Alpha(DWORD st, DWORD op, DWORD a1)
    {
        State(st, D3DTSS_ALPHAOP, op);
        State(st, D3DTSS_ALPHAARG1, a1);
    }
    void Alpha(DWORD st, DWORD op, DWORD a1, DWORD a2)
    {
        Alpha(st, op, a1);
        State(st, D3DTSS_ALPHAARG2, a2);
    }
    // The layer's alpha, left in the temporary register by stage 0, multiplies into the stage's alpha.
    void LayerAlpha(DWORD st, DWORD arg)
    {
        if (in_.layer)
            Alpha(st, D3DTOP_MODULATE, arg, D3DTA_TEMP);
        else
            Alpha(st, D3DTOP_SELECTARG1, arg);
    }
    // The variant of the flag-0x20000 set-ups: the texture's alpha, with a layer times the layer's.
    void LayerAlphaPrime(DWORD st)
    {
        if (in_.layer)
            Alpha(st, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TEMP);
        else
            Alpha(st, D3DTOP_SELECTARG1, D3DTA_TEXTURE);
    }
    void Disable(DWORD st) { State(st, D3DTSS_COLOROP, D3DTOP_DISABLE); }

    // One texture-effect call: record onto stages s + a and s + b.
    void Transform(const TextureTransformStruct_TYP* record, DWORD a, DWORD b)
    {
        const DWORD index = record && record->effectIndex > 0 ? static_cast<DWORD>(record->effectIndex) : 0;
        if (StageTransformSetup)
            StageTransformSetup(index, in_.inverseWorld, d_, in_.startTime, record, in_.keepsAnimating, in_.s,
                                a, b);
    }
    // The bump stage takes the base record when the bump map is made from the base texture.
    const TextureTransformStruct_TYP* BumpRecord() const
    {
        return (in_.flags & kMaterialBumpFromBase) ? in_.baseRecord : in_.bumpRecord;
    }

    void Base(DWORD st)
    {
        Texture(st, in_.base);
        State(st, D3DTSS_TEXCOORDINDEX, in_.baseCoordSource);
    }
    void BumpEnv(DWORD st)
    {
        Texture(st, in_.bump);
        State(st, D3DTSS_TEXCOORDINDEX, 0);
        State(st, D3DTSS_BUMPENVMAT00, FloatBits(in_.bumpHeight));
        State(st, D3DTSS_BUMPENVMAT10, FloatBits(in_.bumpHeight));
        State(st, D3DTSS_COLOROP, D3DTOP_BUMPENVMAP);
    }
    void Reflection(DWORD st, bool count3)
    {
        Texture(st, in_.reflection);
        State(st, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
        if (count3) State(st, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
    }
    void LightMap(DWORD st, bool transform)
    {
        Texture(st, in_.lightMap);
        if (transform)
        {
            D3DXMATRIX identity;
            D3DXMatrixIdentity(&identity);
            d_->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + st), &identity);
            State(st, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        }
        State(st, D3DTSS_TEXCOORDINDEX, 1);
        d_->SetSamplerState(st, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d_->SetSamplerState(st, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    }
    // The flag-0x20000 set-ups: the bump map's source image as a plain texture at the base coordinates.
    void VariantBump(DWORD st)
    {
        Texture(st, in_.bump);
        State(st, D3DTSS_TEXCOORDINDEX, in_.baseCoordSource);
    }
    void VariantReflection(DWORD st)
    {
        Texture(st, in_.reflection);
        if (in_.flags & kMaterialVariant80000)
        {
            State(st, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
            State(st, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
        }
        else
            State(st, D3DTSS_TEXCOORDINDEX, in_.baseCoordSource);
    }

    // The weight stage st has been written. The verdict must not depend on whatever stages an earlier
    // application left behind it, so the chain is cut after st while it is asked; the recipe writes that
    // stage afterwards in any case.
    bool WeightStage(DWORD st, DWORD factor)
    {
        if (!test_) return true;
        Disable(st + 1);
        return test_->TestWeightStage(factor);
    }

    const StageSetupInputsStruct_TYP& in_;
    IDirect3DDevice9* d_;
    WeightStageTest_* test_;
};

constexpr DWORD kTex = D3DTA_TEXTURE;
constexpr DWORD kDif = D3DTA_DIFFUSE;
constexpr DWORD kCur = D3DTA_CURRENT;
constexpr DWORD kFac = D3DTA_TFACTOR;
constexpr DWORD kTmp = D3DTA_TEMP;

// Highest stage, after writing the terminating DISABLE behind it.
int End(Writer& w, DWORD highest)
{
    w.Disable(highest + 1);
    return static_cast<int>(highest);
}

int Setup00(Writer& w, const StageSetupInputsStruct_TYP& in)
{
    const DWORD s = in.s;
    if (!in.layer && in.mode != DisplayModeLightMapOnly)
    {
        w.Disable(s);
        return -1;
    }
    w.NoTexture(s);
    w.State(s, D3DTSS_TEXCOORDINDEX, 0);
    w.State(s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    if (in.layer)
    {
        w.Color(s, D3DTOP_SELECTARG1, kDif);
        w.Alpha(s, D3DTOP_MODULATE, kDif, kTmp);
    }
    else
    {
        // The light-map-only mode without a light map shows white.
        w.Factor(0xFFFFFFFF);
        w.Color(s, D3DTOP_SELECTARG1, kFac);
        w.Alpha(s, D3DTOP_SELECTARG1, kFac);
    }
    return End(w, s);
}

// Only behind a layer: the layer's alpha joins the material's.
int LayerTail(Writer& w, const StageSetupInputsStruct_TYP& in, DWORD st)
{
    if (!in.layer) return End(w, st - 1);
    w.NoTexture(st);
    w.Color(st, D3DTOP_SELECTARG1, kCur);
    w.Alpha(st, D3DTOP_MODULATE, kCur, kTmp);
    return End(w, st);
}

int Setup01(Writer& w, const StageSetupInputsStruct_TYP& in)
{
    const DWORD s = in.s;
    if (in.mode == DisplayModeShadedWithEdges) w.Factor(in.surfaceColor);
    w.Transform(in.baseRecord, 0, 0);
    w.Base(s);
    w.Color(s, in.baseColorOp, kTex, kDif);
    w.Alpha(s, D3DTOP_MODULATE, kTex, kDif);
    return LayerTail(w, in, s + 1);
}

int Setup05(Writer& w, const StageSetupInputsStruct_TYP& in)
{
    const DWORD s = in.s;
    if (in.flags & kMaterialBumpFromBase)
        w.Transform(in.baseRecord, 0, 1);
    else
    {
        w.Transform(in.bumpRecord, 0, 0);
        w.Transform(in.baseRecord, 1, 1);
    }
    w.BumpEnv(s);
    w.Base(s + 1);
    w.Color(s + 1, D3DTOP_MODULATE, kTex, kDif);
    w.Alpha(s + 1, D3DTOP_MODULATE, kTex, kDif);
    return LayerTail(w, in, s + 2);
}

// The reflection map's stage, behind a bump stage when there is one; returns the reflection's stage.
DWORD ReflectionPrologue(Writer& w, const StageSetupInputsStruct_TYP& in, bool bump, bool additive)
{
    DWORD st = in.s;
    w.Factor(additive ? FactorGrey(in.reflectionWeight) : FactorAlpha(in.reflectionWeight));
    if (bump)
    {
        w.Transform(w.BumpRecord(), 0, 0);
        w.Transform(in.reflectionRecord, 1, 1);
        w.BumpEnv(st++);
    }
    else
        w.Transform(in.reflectionRecord, 0, 0);
    w.Reflection(st, true);
    return st;
}

// The reflection map, then the base map blended over it by the reflection weight, with a bump stage in
// front when there is one; returns the stage after the base map's.
DWORD BaseReflectionPrologue(Writer& w, const StageSetupInputsStruct_TYP& in, bool bump, bool additive)
{
    DWORD st = in.s;
    const DWORD factor = additive ? FactorGrey(in.reflectionWeight) : FactorAlpha(1.0f - in.reflectionWeight);
    w.Factor(factor);
    if (bump)
    {
        if (in.flags & kMaterialBumpFromBase)
            w.Transform(in.baseRecord, 0, 2);
        else
        {
            w.Transform(in.bumpRecord, 0, 0);
            w.Transform(in.baseRecord, 2, 2);
        }
        w.Transform(in.reflectionRecord, 1, 1);
        w.BumpEnv(st++);
        w.Reflection(st, true);
    }
    else
    {
        w.Transform(in.reflectionRecord, 0, 0);
        w.Transform(in.baseRecord, 1, 1);
        // Here the flags stay as the texture effect set them.
        w.Reflection(st, false);
    }
    w.Color(st, D3DTOP_SELECTARG1, kTex);
    ++st;
    w.Base(st);
    if (additive)
        w.ColorMad(st, kTex, kFac, kCur);
    else
        w.Color(st, D3DTOP_BLENDFACTORALPHA, kTex, kCur);
    w.LayerAlpha(st, kTex);
    // Without the blend the base texture shows alone; the reflection is lost.
    if (!additive && !w.WeightStage(st, factor)) w.State(st, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    return st + 1;
}

// 0x02 and 0x0A (additive), with a bump stage in front: 0x06 and 0x0E.
int SetupReflection(Writer& w, const StageSetupInputsStruct_TYP& in, bool bump, bool additive)
{
    DWORD st = ReflectionPrologue(w, in, bump, additive);
    w.Color(st, D3DTOP_MODULATE, kDif, kTex);
    ++st;
    w.NoTexture(st);
    if (additive)
        w.ColorMad(st, kDif, kFac, kCur);
    else
        w.Color(st, D3DTOP_BLENDFACTORALPHA, kCur, kDif);
    w.LayerAlpha(st, kDif);
    if (!additive && !w.WeightStage(st, FactorAlpha(in.reflectionWeight)))
    {
        // Without the blend the reflection shows at full strength.
        w.Disable(st);
        return static_cast<int>(st - 1);
    }
    return End(w, st);
}

// 0x03 and 0x0B, with a bump stage in front: 0x07 and 0x0F.
int SetupBaseReflection(Writer& w, const StageSetupInputsStruct_TYP& in, bool bump, bool additive)
{
    const DWORD st = BaseReflectionPrologue(w, in, bump, additive);
    w.NoTexture(st);
    if (additive && !bump) w.State(st, D3DTSS_TEXCOORDINDEX, 0);
    w.Color(st, D3DTOP_MODULATE, kCur, kDif);
    w.Alpha(st, D3DTOP_MODULATE, kCur, kDif);
    return End(w, st);
}

int Setup10(Writer& w, const StageSetupInputsStruct_TYP& in)
{
    const DWORD s = in.s;
    w.LightMap(s, true);
    if (in.layer)
    {
        w.Color(s, D3DTOP_MODULATE, kTex, kDif);
        w.Alpha(s, D3DTOP_MODULATE, kDif, kTmp);
    }
    else
    {
        w.Color(s, D3DTOP_SELECTARG1, kTex);
        w.Alpha(s, D3DTOP_SELECTARG1, kDif);
    }
    return End(w, s);
}

// The shaded-with-edges mode blends the lit result toward the surface colour in a last stage.
int SurfaceBlendTail(Writer& w, const StageSetupInputsStruct_TYP& in, DWORD st)
{
    if (in.mode != DisplayModeShadedWithEdges) return End(w, st - 1);
    w.NoTexture(st);
    w.Color(st, D3DTOP_BLENDFACTORALPHA, kCur, kDif);
    w.Alpha(st, D3DTOP_SELECTARG1, kCur);
    return End(w, st);
}

int Setup11(Writer& w, const StageSetupInputsStruct_TYP& in)
{
    const DWORD s = in.s;
    if (in.mode == DisplayModeShadedWithEdges) w.Factor(in.surfaceColor);
    w.Transform(in.baseRecord, 0, 0);
    w.Base(s);
    // Without a tint no diffuse colour is bound: the light map alone lights the base texture.
    if (in.objectTint)
        w.Color(s, D3DTOP_MODULATE, kTex, kDif);
    else
        w.Color(s, D3DTOP_SELECTARG1, kTex);
    w.Alpha(s, D3DTOP_MODULATE, kTex, kDif);
    w.LightMap(s + 1, true);
    w.Color(s + 1, D3DTOP_MODULATE, kCur, kTex);
    w.LayerAlpha(s + 1, kCur);
    return SurfaceBlendTail(w, in, s + 2);
}

int Setup15(Writer& w, const StageSetupInputsStruct_TYP& in)
{
    const DWORD s = in.s;
    if (in.flags & kMaterialBumpFromBase)
        w.Transform(in.baseRecord, 0, 1);
    else
    {
        w.Transform(in.bumpRecord, 0, 0);
        w.Transform(in.baseRecord, 1, 1);
    }
    w.BumpEnv(s);
    w.Base(s + 1);
    w.Color(s + 1, D3DTOP_SELECTARG1, kTex);
    w.LayerAlpha(s + 1, kTex);
    w.LightMap(s + 2, true);
    w.Color(s + 2, D3DTOP_MODULATE, kCur, kTex);
    w.Alpha(s + 2, D3DTOP_MODULATE, kCur, kDif);
    return End(w, s + 2);
}

// 0x12 and 0x1A, with a bump stage in front: 0x16 and 0x1E.
int SetupLitReflection(Writer& w, const StageSetupInputsStruct_TYP& in, bool bump, bool additive)
{
    DWORD st = ReflectionPrologue(w, in, bump, additive);
    w.Color(st, D3DTOP_SELECTARG1, kTex);
    ++st;
    w.LightMap(st, true);
    if (bump)
        w.Color(st, D3DTOP_MODULATE, kTex, kCur);
    else
        w.Color(st, D3DTOP_MODULATE, kCur, kTex);
    ++st;
    w.LightMap(st, true);
    if (additive)
    {
        if (bump)
            w.ColorMad(st, kCur, kFac, kTex);
        else
            w.ColorMad(st, kTex, kFac, kCur);
    }
    else
        w.Color(st, D3DTOP_BLENDFACTORALPHA, kCur, kTex);
    w.LayerAlpha(st, kDif);
    if (!additive && !w.WeightStage(st, FactorAlpha(in.reflectionWeight)))
    {
        w.Disable(st);
        return static_cast<int>(st - 1);
    }
    return End(w, st);
}

// 0x13 and 0x1B, with a bump stage in front: 0x17 and 0x1F.
int SetupLitBaseReflection(Writer& w, const StageSetupInputsStruct_TYP& in, bool bump, bool additive)
{
    const DWORD st = BaseReflectionPrologue(w, in, bump, additive);
    w.LightMap(st, true);
    w.Color(st, D3DTOP_MODULATE, kCur, kTex);
    if (bump)
        w.Alpha(st, D3DTOP_MODULATE, kDif, kCur);
    else
        w.Alpha(st, D3DTOP_MODULATE, kCur, kDif);
    if (additive && !bump) return SurfaceBlendTail(w, in, st + 1);
    return End(w, st);
}

// 0x43 and 0x53, with the reflection last: 0x47 and 0x57. The bump map's source image masks a second
// look of the base by its alpha times the bump height.
int SetupVariantMasked(Writer& w, const StageSetupInputsStruct_TYP& in, bool lightMap, bool reflection)
{
    const DWORD s = in.s;
    w.Factor(FactorAlpha(in.bumpHeight));
    w.Transform(in.baseRecord, 0, 3);
    w.Transform(in.bumpRecord, 1, 2);
    const DWORD last = s + 3 + (lightMap ? 1 : 0) + (reflection ? 1 : 0);
    if (reflection) w.Transform(in.reflectionRecord, last - s, last - s);
    w.Base(s);
    if (lightMap)
        w.Color(s, D3DTOP_SELECTARG1, kTex);
    else
        w.Color(s, D3DTOP_MODULATE, kTex, kDif);
    w.VariantBump(s + 1);
    w.Color(s + 1, D3DTOP_SELECTARG1, kCur);
    w.Alpha(s + 1, D3DTOP_MODULATE, kTex, kFac);
    w.VariantBump(s + 2);
    w.Color(s + 2, D3DTOP_BLENDCURRENTALPHA, kTex, kCur);
    w.LayerAlpha(s + 2, kDif);
    w.Base(s + 3);
    w.Color(s + 3, D3DTOP_SELECTARG1, kCur);
    w.Alpha(s + 3, D3DTOP_MODULATE, kCur, kTex);
    DWORD st = s + 4;
    if (lightMap)
    {
        w.LightMap(st, true);
        w.Color(st, D3DTOP_MODULATE, kTex, kCur);
        w.Alpha(st, D3DTOP_SELECTARG1, kCur);
        ++st;
    }
    if (reflection)
    {
        w.VariantReflection(st);
        w.Color(st, D3DTOP_BLENDTEXTUREALPHA, kTex, kCur);
        w.Alpha(st, D3DTOP_SELECTARG1, kCur);
        ++st;
    }
    return End(w, st - 1);
}

// 0x4B and 0x5B, with the reflection last: 0x4F and 0x5F (flag 0x40000).
int SetupVariantWhite(Writer& w, const StageSetupInputsStruct_TYP& in, bool lightMap, bool reflection)
{
    const DWORD s = in.s;
    w.Factor(FactorWhiteAlpha(in.bumpHeight));
    w.Transform(in.bumpRecord, 0, 0);
    w.Transform(in.baseRecord, 1, 1);
    if (reflection) w.Transform(in.reflectionRecord, 3, 3);
    w.VariantBump(s);
    w.Color(s, D3DTOP_BLENDFACTORALPHA, kTex, kFac);
    w.Base(s + 1);
    w.Color(s + 1, D3DTOP_MODULATE, kTex, kCur);
    w.LayerAlphaPrime(s + 1);
    if (lightMap)
    {
        w.LightMap(s + 2, false);
        w.Color(s + 2, D3DTOP_MODULATE, kTex, kCur);
    }
    else
    {
        w.NoTexture(s + 2);
        w.State(s + 2, D3DTSS_TEXCOORDINDEX, 0);
        w.Color(s + 2, D3DTOP_MODULATE, kDif, kCur);
    }
    w.Alpha(s + 2, D3DTOP_MODULATE, kDif, kCur);
    if (!reflection) return End(w, s + 2);
    w.VariantReflection(s + 3);
    w.Color(s + 3, D3DTOP_BLENDTEXTUREALPHA, kTex, kCur);
    w.Alpha(s + 3, D3DTOP_SELECTARG1, kCur);
    return End(w, s + 3);
}
} // namespace

DWORD FactorGrey(float w)
{
    const DWORD b = FactorByte(w);
    return b * 0x01010101u;
}

DWORD FactorAlpha(float w)
{
    return static_cast<DWORD>(FactorByte(w)) << 24;
}

DWORD FactorWhiteAlpha(float h)
{
    return FactorAlpha(h) + 0xFFFFFFu;
}

bool HasStageSetup(DWORD code)
{
    switch (code)
    {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x0A:
    case 0x0B:
    case 0x0E:
    case 0x0F:
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x1A:
    case 0x1B:
    case 0x1E:
    case 0x1F:
    case 0x43:
    case 0x47:
    case 0x53:
    case 0x57:
    case 0x4B:
    case 0x4F:
    case 0x5B:
    case 0x5F:
        return true;
    default:
        return false;
    }
}

int WriteStageSetup(DWORD code, const StageSetupInputsStruct_TYP& in, WeightStageTest_* weightTest)
{
    Writer w(in, weightTest);
    switch (code)
    {
    case 0x00:
        return Setup00(w, in);
    case 0x01:
        return Setup01(w, in);
    case 0x05:
        return Setup05(w, in);
    case 0x02:
        return SetupReflection(w, in, false, false);
    case 0x0A:
        return SetupReflection(w, in, false, true);
    case 0x06:
        return SetupReflection(w, in, true, false);
    case 0x0E:
        return SetupReflection(w, in, true, true);
    case 0x03:
        return SetupBaseReflection(w, in, false, false);
    case 0x0B:
        return SetupBaseReflection(w, in, false, true);
    case 0x07:
        return SetupBaseReflection(w, in, true, false);
    case 0x0F:
        return SetupBaseReflection(w, in, true, true);
    case 0x10:
        return Setup10(w, in);
    case 0x11:
        return Setup11(w, in);
    case 0x15:
        return Setup15(w, in);
    case 0x12:
        return SetupLitReflection(w, in, false, false);
    case 0x1A:
        return SetupLitReflection(w, in, false, true);
    case 0x16:
        return SetupLitReflection(w, in, true, false);
    case 0x1E:
        return SetupLitReflection(w, in, true, true);
    case 0x13:
        return SetupLitBaseReflection(w, in, false, false);
    case 0x1B:
        return SetupLitBaseReflection(w, in, false, true);
    case 0x17:
        return SetupLitBaseReflection(w, in, true, false);
    case 0x1F:
        return SetupLitBaseReflection(w, in, true, true);
    case 0x43:
        return SetupVariantMasked(w, in, false, false);
    case 0x47:
        return SetupVariantMasked(w, in, false, true);
    case 0x53:
        return SetupVariantMasked(w, in, true, false);
    case 0x57:
        return SetupVariantMasked(w, in, true, true);
    case 0x4B:
        return SetupVariantWhite(w, in, false, false);
    case 0x4F:
        return SetupVariantWhite(w, in, false, true);
    case 0x5B:
        return SetupVariantWhite(w, in, true, false);
    case 0x5F:
        return SetupVariantWhite(w, in, true, true);
    default:
        return Setup00(w, in);
    }
}
} // namespace LMK
