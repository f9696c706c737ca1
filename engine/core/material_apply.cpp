// Material application: steps from the material and the display mode to the features that take part,
// the device material, and the texture-stage set-up the device accepts.
#include "engine/core/material_apply.h"

#include <cstdio>
#include <cstring>

#include "engine/core/globals.h"
#include "engine/core/material_textures.h"
#include "engine/core/texture_effects.h"
#include "engine/core/texture_stage_setups.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"
#include "platform/d3dx9/d3dx9effect.h"

namespace LMK
{
MaterialTextureAccessStruct_TYP MaterialTextureAccess = {
    MaterialDeviceTexture, MaterialBumpSource, MaterialTextureAlternative, MaterialTextureAverageColor};
StageTransformSetup_TYP StageTransformSetup = SetupStageThroughTextureEffect;

BYTE FactorByte(float x)
{
    if (!(x > 0.0f)) return 0; // NaN too
    if (x >= 1.0f) return 255;
    return static_cast<BYTE>(x * 255.0f);
}

namespace
{
DWORD RootMagFilter()
{
    return CurrentGlobals ? CurrentGlobals->magFilter : static_cast<DWORD>(D3DTEXF_LINEAR);
}

void SetTextureMatrix(IDirect3DDevice9* device, DWORD stage, const D3DMATRIX* m)
{
    device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + stage), m);
}
} // namespace

namespace
{
bool IsTexturedMode(DWORD mode)
{
    switch (mode)
    {
    case DisplayModeTextured:
    case DisplayModeBaseAndLightMap:
    case DisplayModeLightMapBaking:
    case DisplayModeTexturedFlat:
    case DisplayModeMirrorMarking:
    case DisplayModeWireframeLit:
    case DisplayModeShadedWithEdges:
        return true;
    default:
        return false;
    }
}

// The modes in which reflection and bump take part.
bool IsFullTextureMode(DWORD mode)
{
    return mode == DisplayModeTextured || mode == DisplayModeTexturedFlat ||
           mode == DisplayModeWireframeLit || mode == DisplayModeShadedWithEdges;
}

IDirect3DBaseTexture9* DeviceTexture(Texture_* texture, IDirect3DDevice9* device)
{
    if (!texture || !MaterialTextureAccess.deviceTexture) return nullptr;
    return MaterialTextureAccess.deviceTexture(texture, device);
}

Texture_* ChooseAlternative(Texture_* texture, const RenderViewStruct_TYP* view)
{
    if (!texture || !view || view->alternativeSelector == 0 || !MaterialTextureAccess.alternative)
        return texture;
    const DWORD selector = view->alternativeSelector;
    // A texture's alternatives are few; the cap only guards against a list that never ends.
    constexpr DWORD kMaxAlternatives = 4096;
    Texture_* alternative = nullptr;
    DWORD value = 0;
    for (DWORD i = 0;
         i < kMaxAlternatives && MaterialTextureAccess.alternative(texture, i, &alternative, &value); ++i)
        if (value == selector) return alternative;
    if (!view->alternativeMasks) return texture;
    const UINT masks = view->alternativeMasks->Size();
    for (UINT m = 0; m < masks; ++m)
    {
        const DWORD mask = *view->alternativeMasks->Element(m);
        for (DWORD i = 0;
             i < kMaxAlternatives && MaterialTextureAccess.alternative(texture, i, &alternative, &value); ++i)
            if ((value & mask) == (selector & mask)) return alternative;
    }
    return texture;
}

DWORD StageLimit(IDirect3DDevice9* device)
{
    if (CurrentGlobals && CurrentGlobals->devices.maxTextureBlendStages)
        return CurrentGlobals->devices.maxTextureBlendStages;
    D3DCAPS9 caps{};
    if (SUCCEEDED(device->GetDeviceCaps(&caps))) return caps.MaxTextureBlendStages;
    return 0;
}

class Applier final : public WeightStageTest_
{
public:
    Applier(Material_& material, PartDrawContextStruct_TYP& context, const TextureLayerStruct_TYP* layer)
        : material_(material), context_(context), layer_(layer), device_(context.device),
          table_(context.validationTable ? context.validationTable : scratch_)
    {
    }

    DWORD Run();
    bool TestWeightStage(DWORD factor) override;

private:
    bool Has(DWORD bit) const { return (features_ & bit) != 0; }
    void Drop(DWORD bit) { features_ &= ~bit; }
    void ChooseTextures(D3DMATERIAL9& working);
    void SetDeviceMaterial(D3DMATERIAL9& working);
    void SetLayerStage();
    void Prune();
    void RunTree();
    bool Try(DWORD code);
    bool TryAdditive(DWORD code);
    bool TryVariant(DWORD code);
    bool Validate(DWORD code, int highest);
    StageValidationStruct_TYP& Entry(DWORD code)
    {
        return table_[(code | layerBit_) & (kStageValidationEntries - 1)];
    }

    Material_& material_;
    PartDrawContextStruct_TYP& context_;
    const TextureLayerStruct_TYP* layer_;
    IDirect3DDevice9* device_;
    StageValidationStruct_TYP* table_;
    StageValidationStruct_TYP scratch_[kStageValidationEntries]{}; // without a table every call asks anew
    StageSetupInputsStruct_TYP in_;
    DWORD features_ = 0;
    DWORD layerBit_ = 0;
    DWORD trying_ = 0;
    DWORD passCount_ = 1;
    DWORD stageLimit_ = 0;
};

void Applier::ChooseTextures(D3DMATERIAL9& working)
{
    const DWORD mode = context_.displayMode;
    const RenderViewStruct_TYP* view = context_.view;
    Texture_* base = ChooseAlternative(material_.baseTexture, view);
    Texture_* reflection = ChooseAlternative(material_.reflectionTexture, view);
    Texture_* bump = ChooseAlternative(material_.bumpTexture, view);

    if (IsTexturedMode(mode))
    {
        const bool opaqueBaking = mode == DisplayModeLightMapBaking && working.Diffuse.a == 1.0f &&
                                  !(material_.flags & kMaterialAlphaTest);
        if (!opaqueBaking) in_.base = DeviceTexture(base, device_);
        if (IsFullTextureMode(mode))
        {
            in_.reflection = DeviceTexture(reflection, device_);
            Texture_* bumpShown = bump;
            if ((material_.flags & kMaterialVariant20000) && bump && MaterialTextureAccess.bumpSource)
                if (Texture_* source = MaterialTextureAccess.bumpSource(bump)) bumpShown = source;
            in_.bump = DeviceTexture(bumpShown, device_);
        }
        if (mode != DisplayModeLightMapBaking) in_.lightMap = DeviceTexture(context_.lightMap, device_);
    }
    else if (mode == DisplayModeLightMapOnly)
        in_.lightMap = DeviceTexture(context_.lightMap, device_);

    if (view && view->averageColor && base && MaterialTextureAccess.averageColor &&
        (mode == DisplayModeColoured || mode == DisplayModeColouredFlat))
    {
        D3DCOLORVALUE average;
        if (MaterialTextureAccess.averageColor(base, &average)) working.Diffuse = average;
    }

    if (material_.flags & kMaterialVariant20000)
    {
        if (in_.reflection && !in_.bump)
            in_.reflection = nullptr;
        else if (in_.bump && !in_.base)
            in_.bump = nullptr;
    }
}

void Applier::SetDeviceMaterial(D3DMATERIAL9& working)
{
    const DWORD mode = context_.displayMode;
    const RenderViewStruct_TYP* view = context_.view;
    D3DMATERIAL9 set = working;
    if (mode == DisplayModeLightMapBaking)
    {
        std::memset(&set, 0, sizeof(set));
        const float a = working.Diffuse.a;
        const float k = view ? view->lightMapWeight : 1.0f;
        if (a != 1.0f)
        {
            set.Ambient = working.Diffuse;
            set.Diffuse.a = k * a;
        }
        else
            set.Diffuse.a = 1.0f;
        if (view)
        {
            set.Ambient.r += 1.0f - k;
            set.Ambient.g += 1.0f - k;
            set.Ambient.b += 1.0f - k;
        }
    }
    else if (mode == DisplayModeShadedWithEdges)
    {
        const D3DCOLOR surface = view ? view->surfaceColor : 0xFFFFFFFFu;
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, surface);
        in_.baseColorOp = D3DTOP_BLENDFACTORALPHA;
        D3DCOLORVALUE c;
        ColorValueFromArgb(&c, surface);
        const float q = c.a, f = 1.0f - q;
        for (D3DCOLORVALUE* v : {&set.Diffuse, &set.Ambient, &set.Specular})
        {
            v->r = q * v->r + f * c.r;
            v->g = q * v->g + f * c.g;
            v->b = q * v->b + f * c.b;
        }
        ApplyObjectTint(&set, context_.object);
        in_.reflection = nullptr;
        in_.bump = nullptr;
    }
    else if (in_.lightMap)
    {
        if (layer_ && layer_->firstMaterial && !layer_->firstMaterial->baseTexture)
            set = layer_->firstMaterial->material;
        else if (context_.object && context_.object->tint)
            ApplyObjectTint(&set, context_.object);
        else
        {
            // The light map carries the light: the device adds none of its own.
            set.Diffuse.r = set.Diffuse.g = set.Diffuse.b = 0.0f;
            set.Ambient.r = set.Ambient.g = set.Ambient.b = 0.0f;
        }
    }
    else
        ApplyObjectTint(&set, context_.object);
    device_->SetMaterial(&set);
    material_.lastApplied = set;
}

void Applier::SetLayerStage()
{
    D3DXMATRIX m;
    std::memset(&m, 0, sizeof(m));
    // The layer record carries no scale or offset of its own yet: the layer maps one to one.
    const float scaleU = 1.0f, scaleV = 1.0f, offsetU = 0.0f, offsetV = 0.0f;
    m._11 = scaleU;
    m._22 = scaleV;
    m._31 = m._41 = offsetU;
    m._32 = m._42 = offsetV;
    m._33 = m._44 = 1.0f;
    SetTextureMatrix(device_, 0, &m);
    device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device_->SetTexture(0, layer_->firstTexture);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_BORDER);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_BORDER);
    device_->SetSamplerState(0, D3DSAMP_BORDERCOLOR, 0);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, RootMagFilter());
    device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_TEMP);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
}

void Applier::Prune()
{
    // Known failures are dropped before any stage is written, the least important feature first.
    static constexpr DWORD kOrder[] = {kFeatureAdditive, kFeatureBump,  kFeatureReflection,
                                       kFeatureLightMap, kFeatureLayer, kFeatureBase};
    for (;;)
    {
        const StageValidationStruct_TYP& e = table_[features_ & (kStageValidationEntries - 1)];
        if (!e.tested || e.valid) return;
        context_.statesValid = 0;
        DWORD bit = 0;
        for (DWORD b : kOrder)
            if (Has(b))
            {
                bit = b;
                break;
            }
        if (!bit) return;
        Drop(bit);
        if (bit == kFeatureLayer)
        {
            // The material's stages move down to stage 0, which must write the current register again.
            in_.s = 0;
            in_.layer = false;
            layerBit_ = 0;
            device_->SetTextureStageState(0, D3DTSS_RESULTARG, D3DTA_CURRENT);
        }
    }
}

bool Applier::Validate(DWORD code, int highest)
{
    StageValidationStruct_TYP& e = Entry(code);
    if (!e.tested)
    {
        e.tested = 1;
        material_.CopyStageStateToEffect(&context_);
        DWORD passes = 0;
        const bool ok = device_->ValidateDevice(&passes) == D3D_OK &&
                        (highest < 0 || static_cast<DWORD>(highest) < stageLimit_);
        e.valid = ok ? 1 : 0;
        e.passCount = 1;
        // A set-up rejected on its first try has lost features just as on every later frame.
        if (!ok) context_.statesValid = 0;
        passCount_ = 1;
        return ok;
    }
    if (e.valid)
    {
        material_.CopyStageStateToEffect(&context_);
        passCount_ = e.passCount;
        return true;
    }
    context_.statesValid = 0;
    return false;
}

bool Applier::TestWeightStage(DWORD factor)
{
    StageValidationStruct_TYP& e = Entry(trying_);
    if (!e.blendTested)
    {
        e.blendTested = 1;
        DWORD passes = 0;
        e.blendValid = device_->ValidateDevice(&passes) == D3D_OK ? 1 : 0;
    }
    // A factor of alpha 1.0 over black selects the first argument alone, so nothing is lost without the
    // blend. An accepted blend never raises what pruning has already cleared.
    if (!e.blendValid && factor != 0xFF000000u) context_.statesValid = 0;
    return e.blendValid != 0;
}

bool Applier::Try(DWORD code)
{
    trying_ = code;
    const int highest = WriteStageSetup(code, in_, this);
    return Validate(code, highest);
}

bool Applier::TryAdditive(DWORD code)
{
    if (Has(kFeatureAdditive) && Try(code | kFeatureAdditive)) return true;
    return Try(code);
}

bool Applier::TryVariant(DWORD code)
{
    return Try((material_.flags & kMaterialVariant40000) ? (code | kFeatureAdditive) : code);
}

void Applier::RunTree()
{
    const bool B = Has(kFeatureBase), R = Has(kFeatureReflection), P = Has(kFeatureBump),
               M = Has(kFeatureLightMap);
    // The flag-0x20000 set-ups bind the bump map's source; once pruning has dropped it they give way to
    // the set-ups without the flag, so that no set-up binds an absent texture.
    const bool X = Has(kFeatureVariant) && P;

    enum Node
    {
        Start,
        Brm,
        Main,
        Lit,
        LitRest,
        Unlit,
        UnlitBase,
        UnlitPair,
        UnlitSingle,
        UnlitRefl
    };
    Node node = Start;
    for (;;)
    {
        switch (node)
        {
        case Start:
            if (B && R && P && M)
            {
                if (X ? TryVariant(0x57) : TryAdditive(0x17)) return;
                node = Brm;
            }
            else if (B && R && !P)
                node = Brm;
            else
                node = Main;
            break;
        case Brm:
            if (M && !P)
            {
                if (X ? TryVariant(0x53) : TryAdditive(0x13)) return;
                node = Lit;
            }
            else
                node = Main;
            break;
        case Main:
            if (!X)
                node = Lit;
            else if (!B)
                node = LitRest;
            else if (!R && M && P)
            {
                if (TryVariant(0x53)) return;
                node = Lit;
            }
            else
                node = Lit;
            break;
        case Lit:
            if (B && P && !M)
                node = LitRest;
            else
            {
                if (B && P && M && Try(0x15)) return;
                if (B && M && Try(0x11)) return;
                node = LitRest;
            }
            break;
        case LitRest:
            if (M)
            {
                if (R && P && (TryAdditive(0x16) || TryAdditive(0x12))) return;
                if (R && !P && TryAdditive(0x12)) return;
                if (Try(0x10)) return;
            }
            node = Unlit;
            break;
        case Unlit:
            if (B && R && P)
            {
                if (X ? TryVariant(0x47) : TryAdditive(0x07)) return;
                node = UnlitBase;
            }
            else if (B && R)
                node = UnlitPair;
            else
                node = UnlitBase;
            break;
        case UnlitBase:
            node = (X && B && !R && P) ? UnlitPair : UnlitSingle;
            break;
        case UnlitPair:
            if (X ? TryVariant(0x43) : TryAdditive(0x03)) return;
            node = UnlitSingle;
            break;
        case UnlitSingle:
            if (B && P && Try(0x05)) return;
            if (B && Try(0x01)) return;
            node = UnlitRefl;
            break;
        case UnlitRefl:
            if (R && P && (TryAdditive(0x06) || TryAdditive(0x02))) return;
            if (R && !P && TryAdditive(0x02)) return;
            // The last resort ends the call whatever the verdict.
            Try(0x00);
            return;
        }
    }
}

DWORD Applier::Run()
{
    const DWORD mode = context_.displayMode;
    if (mode == DisplayModeIdColoursAll || mode == DisplayModeIdColoursOpaque)
    {
        device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        device_->SetRenderState(D3DRS_TEXTUREFACTOR, context_.identityColor);
        device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        return 1;
    }

    D3DMATERIAL9 working = material_.material;
    in_.device = device_;
    in_.mode = mode;
    in_.flags = material_.flags;
    in_.reflectionWeight = material_.reflectionWeight;
    in_.bumpHeight = material_.bumpHeight;
    in_.surfaceColor = context_.view ? context_.view->surfaceColor : 0xFFFFFFFFu;
    in_.objectTint = context_.object && context_.object->tint;
    in_.inverseWorld = context_.object ? context_.object->inverseWorld : nullptr;
    in_.startTime = material_.startTime;
    in_.keepsAnimating = context_.view ? context_.view->textureEffectFlag : nullptr;
    stageLimit_ = StageLimit(device_);

    ChooseTextures(working);

    device_->SetRenderState(D3DRS_SHADEMODE,
                            (mode == DisplayModeTexturedFlat || mode == DisplayModeColouredFlat)
                                ? D3DSHADE_FLAT
                                : D3DSHADE_GOURAUD);
    in_.baseColorOp = D3DTOP_MODULATE;
    // Light-map baking of an alpha-tested opaque material: only the texture's alpha matters.
    if (mode == DisplayModeLightMapBaking && working.Diffuse.a == 1.0f &&
        (material_.flags & kMaterialAlphaTest))
        in_.baseColorOp = D3DTOP_SELECTARG2;
    if (context_.finalPass && (material_.flags & kMaterialMirror))
        working.Diffuse.a = 1.0f - material_.mirrorReflectivity;

    SetDeviceMaterial(working);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, (material_.flags & kMaterialAlphaTest) ? TRUE : FALSE);

    in_.baseRecord = material_.baseTransform.get();
    in_.bumpRecord = material_.bumpTransform.get();
    in_.reflectionRecord = material_.reflectionTransform.get();
    in_.baseCoordSource = (material_.baseTransform && material_.baseTransform->matrix._14 != 0.0f)
                              ? D3DTSS_TCI_CAMERASPACEPOSITION
                              : 0;

    context_.statesValid = 1;
    if (in_.base) features_ |= kFeatureBase;
    if (in_.reflection) features_ |= kFeatureReflection;
    if (in_.bump) features_ |= kFeatureBump;
    if ((material_.flags & kMaterialAdditiveReflection) && in_.reflection) features_ |= kFeatureAdditive;
    if (in_.lightMap) features_ |= kFeatureLightMap;
    if (material_.flags & kMaterialVariant20000) features_ |= kFeatureVariant;
    if (layer_)
    {
        features_ |= kFeatureLayer;
        layerBit_ = kFeatureLayer;
        in_.s = 1;
        in_.layer = true;
        SetLayerStage();
    }
    device_->SetTextureStageState(in_.s, D3DTSS_RESULTARG, D3DTA_CURRENT);

    Prune();
    RunTree();
    return passCount_;
}
} // namespace

DWORD Material_::Apply(PartDrawContextStruct_TYP* context, const TextureLayerStruct_TYP* layer)
{
    if (!context || !context->device) return 1;
    Applier applier(*this, *context, layer);
    return applier.Run();
}

void Material_::CopyStageStateToEffect(PartDrawContextStruct_TYP* context)
{
    if (!context || !context->effect || !context->device) return;
    ID3DXEffect* effect = context->effect;
    IDirect3DDevice9* device = context->device;
    auto param = [effect](const char* name) { return effect->GetParameterByName(nullptr, name); };
    char name[64];
    int counted = 0;
    for (DWORD i = 0; i < 7; ++i)
    {
        DWORD op = D3DTOP_DISABLE;
        device->GetTextureStageState(i, D3DTSS_COLOROP, &op);
        if (op == D3DTOP_DISABLE) break;
        DWORD transformFlags = 0, coordIndex = 0;
        D3DXMATRIX transform;
        device->GetTextureStageState(i, D3DTSS_TEXTURETRANSFORMFLAGS, &transformFlags);
        device->GetTextureStageState(i, D3DTSS_TEXCOORDINDEX, &coordIndex);
        device->GetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + i), &transform);
        const INT source = (coordIndex & 0x20000) ? 3 : (coordIndex & 0x10000) ? 2 : coordIndex == 1 ? 1 : 0;
        std::snprintf(name, sizeof(name), "textrafs[%u].iSource", static_cast<unsigned>(i));
        effect->SetInt(param(name), source);
        INT type = -1;
        switch (transformFlags)
        {
        case D3DTTFF_DISABLE:
            type = 0;
            break;
        case D3DTTFF_COUNT2:
            type = 1;
            break;
        case D3DTTFF_COUNT3:
            type = 2;
            break;
        case D3DTTFF_COUNT3 | D3DTTFF_PROJECTED:
            type = 3;
            break;
        default:
            break;
        }
        if (type >= 0)
        {
            std::snprintf(name, sizeof(name), "textrafs[%u].iTrafType", static_cast<unsigned>(i));
            effect->SetInt(param(name), type);
        }
        std::snprintf(name, sizeof(name), "textrafs[%u].matTraf", static_cast<unsigned>(i));
        effect->SetMatrixTranspose(param(name), &transform);
        device->SetTextureStageState(i, D3DTSS_TEXTURETRANSFORMFLAGS, transformFlags & D3DTTFF_PROJECTED);
        device->SetTextureStageState(i, D3DTSS_TEXCOORDINDEX, i);
        ++counted;
    }
    effect->SetInt(param("iTexTrafNum"), counted);
    effect->SetValue(param("Material"), &lastApplied, sizeof(lastApplied));
    effect->CommitChanges();
}
} // namespace LMK
