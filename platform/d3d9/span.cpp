// The span loop (span_loop.h) at four SSE lanes, and what every width shares: which draws the loop takes,
// and where it finds the planes it reads.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/raster.h"
#include "platform/d3d9/span_loop.h"

namespace ferolt::d3d9
{
#if FEROLT_D3D9_SSE
namespace
{
bool SimpleOp(DWORD op)
{
    return op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2 || op == D3DTOP_MODULATE ||
           op == D3DTOP_MODULATE2X || op == D3DTOP_MODULATE4X || op == D3DTOP_ADD;
}

bool SimpleArg(DWORD a)
{
    if (a & ~D3DTA_SELECTMASK) return false;
    return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT || a == D3DTA_TEXTURE || a == D3DTA_TFACTOR ||
           a == D3DTA_SPECULAR;
}

bool SimpleBlendFactor(DWORD f)
{
    return f >= D3DBLEND_ZERO && f <= D3DBLEND_INVBLENDFACTOR && f != D3DBLEND_BOTHSRCALPHA &&
           f != D3DBLEND_BOTHINVSRCALPHA;
}

// Whether the loop takes stage s's texture: a 2D texture of 32-bit power-of-two levels, sampled once at a
// point mip level with wrap or clamp.
bool SimpleTexture(const StageConfig& st, const FastTexture& t)
{
    const SamplerConfig& smp = st.sampler;
    if (!t.enabled || st.projectIndex >= 0 || smp.minFilter != smp.magFilter) return false;
    if (smp.mipFilter == D3DTEXF_LINEAR && t.levels > 1) return false;
    for (DWORD mode : {smp.addressU, smp.addressV})
        if (mode != D3DTADDRESS_WRAP && mode != D3DTADDRESS_CLAMP) return false;
    for (UINT i = 0; i < t.levels; ++i)
    {
        const int w = t.level[i]->Width(), h = t.level[i]->Height();
        if ((w & (w - 1)) || (h & (h - 1))) return false;
    }
    return true;
}

int BlendKindOf(const BlendConfig& b)
{
    const bool allChannels = b.writeMask == 0xf;
    const bool plainAdd = b.enable && allChannels && b.op == D3DBLENDOP_ADD && !b.separateAlpha;
    if (!b.enable && allChannels) return kNoBlend;
    if (plainAdd && b.src == D3DBLEND_SRCALPHA && b.dst == D3DBLEND_INVSRCALPHA) return kSrcAlphaOver;
    if (plainAdd && b.src == D3DBLEND_ONE && b.dst == D3DBLEND_ONE) return kAdditive;
    return kAnyBlend;
}

// For one stage that modulates its texture by the diffuse colour (in either order: the product is the
// same), where its alpha comes from: a ModulateAlpha, or -1 for other stage set-ups.
int ModulateAlphaOf(const PixelConfig& px)
{
    const StageConfig& st = px.stages[0];
    auto diffuse = [](DWORD a) { return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT; };
    auto pair = [&](const DWORD* args) {
        return (args[1] == D3DTA_TEXTURE && diffuse(args[2])) ||
               (diffuse(args[1]) && args[2] == D3DTA_TEXTURE);
    };
    if (px.stageCount != 1 || !st.texture || st.colorOp != D3DTOP_MODULATE || !pair(st.colorArg)) return -1;
    const DWORD op = st.alphaOp;
    const bool select = op == D3DTOP_SELECTARG1 || op == D3DTOP_SELECTARG2;
    const DWORD picked = op == D3DTOP_SELECTARG1 ? st.alphaArg[1] : st.alphaArg[2];
    if (op == D3DTOP_DISABLE || (select && diffuse(picked))) return kAlphaDiffuse;
    if (select && picked == D3DTA_TEXTURE) return kAlphaTexture;
    if (op == D3DTOP_MODULATE && pair(st.alphaArg)) return kAlphaModulate;
    return -1;
}
} // namespace

bool PixelPipeline::PrepareQuads()
{
    const PixelConfig& px = px_;
    if (targetFormat_ != D3DFMT_A8R8G8B8 && targetFormat_ != D3DFMT_X8R8G8B8) return false;
    if (px.alphaTest || px.depth.stencil) return false;
    if (px.fog && px.fogTableMode != D3DFOG_NONE) return false;
    for (int s = 0; s < px.stageCount; ++s)
    {
        const StageConfig& st = px.stages[s];
        if (st.resultTemp || !SimpleOp(st.colorOp)) return false;
        if (st.alphaOp != D3DTOP_DISABLE && !SimpleOp(st.alphaOp)) return false;
        for (int a = 1; a <= 2; ++a)
            if (!SimpleArg(st.colorArg[a]) || !SimpleArg(st.alphaArg[a])) return false;
        if (st.cube) return false;
        if (st.texture && !SimpleTexture(st, fast_[s])) return false;
    }
    const BlendConfig& b = px.blend;
    if (b.enable)
    {
        if (!SimpleBlendFactor(b.src) || !SimpleBlendFactor(b.dst)) return false;
        if (b.separateAlpha && (!SimpleBlendFactor(b.srcAlpha) || !SimpleBlendFactor(b.dstAlpha)))
            return false;
    }
    // Waiting pixels carry the coordinates of one textured stage.
    int textured = 0;
    laneStage_ = -1;
    for (int s = 0; s < px.stageCount; ++s)
        if (px.stages[s].texture) ++textured, laneStage_ = s;
    if (textured > 1) laneStage_ = -2;
    modulateAlpha_ = ModulateAlphaOf(px);
    for (int s = 0; s < px.stageCount; ++s)
        plan_.lod[s] = px.stages[s].texture && needLod_[s] &&
                       px.stages[s].sampler.mipFilter == D3DTEXF_POINT && fast_[s].levels > 1;
    std::memset(laneData_, 0, sizeof(laneData_));
    std::memset(lanePixel_, 0, sizeof(lanePixel_));
    if (PixelAvx2Enabled())
        SelectEightLaneLoop(BlendKindOf(b));
    else
        SelectFourLaneLoop(BlendKindOf(b));
    return true;
}

void PixelPipeline::SelectFourLaneLoop(int blendKind)
{
    spanLoop_ = SpanLoop<SseLanes>::Select(depthActive_, blendKind);
    flushLanes_ = &SpanLoop<SseLanes>::Flush;
}

void PixelPipeline::FlushLanes()
{
    if (laneCount_) flushLanes_(*this, laneCount_);
    laneCount_ = 0;
}

void PixelPipeline::PlanLanes(const VaryingSet& active)
{
    plan_.active = &active;
    for (int ch = 0; ch < 4; ++ch)
    {
        plan_.diffuse[ch] = static_cast<int16_t>(active.PlaneAt(kVaryDiffuse + ch));
        plan_.specular[ch] = static_cast<int16_t>(active.PlaneAt(kVarySpecular + ch));
    }
    plan_.specularKept = active.group[kVarySpecular] >= 0;
    plan_.fog = static_cast<int16_t>(active.PlaneAt(kVaryFog));
    for (int s = 0; s < kMaxStages; ++s)
    {
        plan_.u[s] = static_cast<int16_t>(active.PlaneAt(kVaryTex + 4 * s));
        plan_.v[s] = static_cast<int16_t>(active.PlaneAt(kVaryTex + 4 * s + 1));
    }
    plan_.flatAt = 6 + active.Floats();
    bool dense = true;
    for (int ch = 0; ch < 4; ++ch)
        dense = dense && plan_.diffuse[ch] >= 0 && (!plan_.specularKept || plan_.specular[ch] >= 0);
    dense = dense && (!px_.fog || plan_.fog >= 0);
    for (int s = 0; s < px_.stageCount; ++s)
        dense = dense && (!px_.stages[s].texture || (plan_.u[s] >= 0 && plan_.v[s] >= 0));
    plan_.dense = dense;
}
#else
bool PixelPipeline::PrepareQuads()
{
    return false;
}
void PixelPipeline::SelectFourLaneLoop(int) {}
void PixelPipeline::PlanLanes(const VaryingSet&) {}
void PixelPipeline::FlushLanes()
{
    laneCount_ = 0;
}
#endif
} // namespace ferolt::d3d9
