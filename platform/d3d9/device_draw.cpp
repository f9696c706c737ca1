// Draw calls: the device state is captured into per-concern records and the pipeline runs the draw.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/d3d9/checks.h"
#include "platform/d3d9/device.h"

namespace ferolt::d3d9
{
// Draws take a copy of the kept configuration, so it must copy as plain bytes.
static_assert(std::is_trivially_copyable_v<DrawConfig>);

namespace
{
float AsFloat(DWORD d)
{
    float f;
    std::memcpy(&f, &d, 4);
    return f;
}

void ColorToFloats(D3DCOLOR c, float out[4])
{
    constexpr float k = 1.0f / 255.0f;
    out[0] = ((c >> 16) & 0xff) * k;
    out[1] = ((c >> 8) & 0xff) * k;
    out[2] = (c & 0xff) * k;
    out[3] = (c >> 24) * k;
}

D3DMATRIX Mul(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] =
                a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    return r;
}

// Normals go through the inverse transpose of the upper 3 x 3 of world x view.
void NormalMatrix(const D3DMATRIX& m, float out[3][3])
{
    const float a = m._11, b = m._12, c = m._13, d = m._21, e = m._22, f = m._23, g = m._31, h = m._32,
                i = m._33;
    const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const float det = a * A + b * B + c * C;
    if (!(std::fabs(det) > 1e-30f))
    {
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                out[r][k] = m.m[r][k];
        return;
    }
    const float inv = 1.0f / det;
    // Cofactor matrix divided by the determinant is the inverse transpose.
    out[0][0] = A * inv;
    out[0][1] = B * inv;
    out[0][2] = C * inv;
    out[1][0] = -(b * i - c * h) * inv;
    out[1][1] = (a * i - c * g) * inv;
    out[1][2] = -(a * h - b * g) * inv;
    out[2][0] = (b * f - c * e) * inv;
    out[2][1] = -(a * f - c * d) * inv;
    out[2][2] = (a * e - b * d) * inv;
}

Vec3 TransformPoint(const D3DVECTOR& v, const D3DMATRIX& m)
{
    return {v.x * m._11 + v.y * m._21 + v.z * m._31 + m._41, v.x * m._12 + v.y * m._22 + v.z * m._32 + m._42,
            v.x * m._13 + v.y * m._23 + v.z * m._33 + m._43};
}

Vec3 TransformDirection(const D3DVECTOR& v, const D3DMATRIX& m)
{
    Vec3 r = {v.x * m._11 + v.y * m._21 + v.z * m._31, v.x * m._12 + v.y * m._22 + v.z * m._32,
              v.x * m._13 + v.y * m._23 + v.z * m._33};
    const float len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    if (len > 0.0f) r = {r.x / len, r.y / len, r.z / len};
    return r;
}

// Defaults for the records past the ones a draw uses. Static, so that their padding is zero: copies of them
// compare equal byte for byte in the check of the kept configuration.
const StageConfig kUnusedStage{};
const TexCoordConfig kUnusedTexCoords{};
const StreamInput kNoStream{};
const DepthStencilConfig kNoDepthStencil{};

UINT PrimitiveVertices(D3DPRIMITIVETYPE type, UINT prims)
{
    const uint64_t n = prims;
    uint64_t v;
    switch (type)
    {
    case D3DPT_POINTLIST:
        v = n;
        break;
    case D3DPT_LINELIST:
        v = 2 * n;
        break;
    case D3DPT_LINESTRIP:
        v = n + 1;
        break;
    case D3DPT_TRIANGLELIST:
        v = 3 * n;
        break;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        v = n + 2;
        break;
    default:
        return 0;
    }
    return v > 0x7fffffffu ? 0 : static_cast<UINT>(v);
}

// PrimitiveVertices gives 0 for an unknown type and for a count with no or too many vertices alike;
// this names which rule a draw broke, the type before the count.
const char* PrimitiveRule(D3DPRIMITIVETYPE type, const char* badType, const char* countOutOfRange)
{
    return type >= D3DPT_POINTLIST && type <= D3DPT_TRIANGLEFAN ? countOutOfRange : badType;
}
} // namespace

// Which parts each builder reads: a builder runs when any of its parts is stale. Changing the layout can
// turn pre-transformed vertices on or off and moves texture coordinates, which most of the rest reads.
const char* Device::BuildDrawState(DrawConfig* cfg, uint32_t parts, const StreamInput* upStream,
                                   const char** inputRefusal)
{
    auto any = [&](uint32_t p) { return (parts & p) != 0; };
    if (any(kStaleLayout | kStaleStreams)) *inputRefusal = BuildVertexInput(&cfg->vertex, upStream);
    if (any(kStaleTransforms)) BuildTransforms(&cfg->vertex);
    if (any(kStaleRenderStates | kStaleLayout)) BuildVertexStates(&cfg->vertex);
    if (any(kStaleMaterial)) cfg->vertex.material = material_;
    if (any(kStaleLights)) BuildLights(&cfg->vertex);
    if (any(kStaleClipPlanes | kStaleRenderStates | kStaleLayout)) BuildClipPlanes(&cfg->vertex);
    if (any(kStaleStages | kStaleLayout)) BuildStages(cfg);
    if (any(kStaleRenderStates | kStaleLayout | kStaleTransforms)) BuildPixelConfig(&cfg->pixel, cfg->vertex);
    if (any(kStaleRenderStates | kStaleTargets)) BuildDepthStencil(&cfg->pixel.depth);
    if (any(kStaleRenderStates)) BuildBlend(&cfg->pixel.blend);
    if (any(kStaleRenderStates | kStaleTargets) && renderTarget_) BuildRaster(&cfg->raster);
    if (!renderTarget_) return "Device.Draw.NoRenderTarget";
    return *inputRefusal;
}

const char* Device::UpdateDrawState(const StreamInput* upStream)
{
    ReadCapsOnce();
    // Vertices passed by pointer are the caller's only for this call.
    if (upStream) stale_ |= kStaleStreams;
    const char* refusal = BuildDrawState(drawState_.get(), stale_, upStream, &vertexInputRefusal_);
    stale_ = upStream ? static_cast<uint32_t>(kStaleStreams) : 0u;
#if FEROLT_D3D9_CHECKS
    {
        // Every test that draws checks the marking: a part kept must be what a full build gives. The full
        // build starts from a copy, so that padding compares equal; the layout is compared field by field,
        // its records are built on the stack with padding of no value.
        auto fresh = std::make_unique<DrawConfig>();
        std::memcpy(static_cast<void*>(fresh.get()), drawState_.get(), sizeof(DrawConfig));
        const char* inputRefusal = nullptr;
        const char* freshRefusal = BuildDrawState(fresh.get(), kStaleAll, upStream, &inputRefusal);
        auto same = [](const VertexElement& a, const VertexElement& b) {
            return a.present == b.present && a.stream == b.stream && a.type == b.type && a.offset == b.offset;
        };
        const VertexLayout &fl = fresh->vertex.layout, &cl = drawState_->vertex.layout;
        bool layoutSame = same(fl.position, cl.position) && fl.pretransformed == cl.pretransformed &&
                          same(fl.normal, cl.normal) && same(fl.diffuse, cl.diffuse) &&
                          same(fl.specular, cl.specular) && same(fl.psize, cl.psize);
        for (int t = 0; t < kMaxTexSets; ++t)
            layoutSame = layoutSame && same(fl.tex[t], cl.tex[t]);
        const size_t from = offsetof(DrawConfig, vertex) + offsetof(VertexConfig, streams);
        FEROLT_D3D9_CHECK(freshRefusal == refusal);
        FEROLT_D3D9_CHECK(refusal ||
                          (layoutSame && std::memcmp(reinterpret_cast<const char*>(fresh.get()) + from,
                                                     reinterpret_cast<const char*>(drawState_.get()) + from,
                                                     sizeof(DrawConfig) - from) == 0));
    }
#endif
    return refusal;
}

// The vertex layout and the streams it reads; the rule that refuses the draw when the device cannot read
// the vertices.
const char* Device::BuildVertexInput(VertexConfig* vc, const StreamInput* upStream) const
{
    std::fill(std::begin(vc->streams), std::end(vc->streams), kNoStream);
    if (decl_)
    {
        if (!LayoutFromDeclaration(decl_->Elements(), &vc->layout)) return "Device.Draw.BadDeclaration";
    }
    else if (!LayoutFromFvf(fvf_, &vc->layout, nullptr))
        return "Device.Draw.BadVertexFormat";
    if (!vc->layout.position.present) return "Device.Draw.NoPosition";
    for (int i = 0; i < kMaxStreams; ++i)
    {
        StreamInput& s = vc->streams[i];
        if (upStream)
        {
            if (i == 0) s = *upStream;
            continue;
        }
        if (!streams_[i]) continue;
        const size_t size = streams_[i]->Size();
        const size_t offset = streamOffset_[i];
        s.data = offset <= size ? streams_[i]->Data() + offset : nullptr;
        s.size = offset <= size ? size - offset : 0;
        s.stride = streamStride_[i];
    }
    if (!vc->streams[vc->layout.position.stream].data) return "Device.Draw.NoPositionStream";
    return nullptr;
}

void Device::ReadCapsOnce()
{
    if (maxLights_ >= 0) return;
    // The adapter's caps do not change for the device's life; asked once, not on every draw.
    D3DCAPS9 caps;
    d3d_->FillCaps(adapter_, type_, &caps);
    maxLights_ = static_cast<int>(std::min<DWORD>(caps.MaxActiveLights, kMaxActiveLights));
    maxClipPlanes_ = static_cast<int>(std::min<DWORD>(caps.MaxUserClipPlanes, kMaxClipPlanes));
}

void Device::BuildTransforms(VertexConfig* vc) const
{
    vc->world = world_;
    vc->view = view_;
    vc->worldView = Mul(world_, view_);
    vc->worldViewProj = Mul(vc->worldView, projection_);
    NormalMatrix(vc->worldView, vc->normalMatrix);
}

// Lighting switches and sources, and vertex fog.
void Device::BuildVertexStates(VertexConfig* vcOut) const
{
    VertexConfig& vc = *vcOut;
    const DWORD* rs = renderStates_;
    vc.lighting = rs[D3DRS_LIGHTING] && !vc.layout.pretransformed;
    vc.normalizeNormals = rs[D3DRS_NORMALIZENORMALS] != 0;
    vc.localViewer = rs[D3DRS_LOCALVIEWER] != 0;
    vc.specularEnable = rs[D3DRS_SPECULARENABLE] != 0;
    vc.colorVertex = rs[D3DRS_COLORVERTEX] != 0;
    vc.diffuseSource = rs[D3DRS_DIFFUSEMATERIALSOURCE];
    vc.specularSource = rs[D3DRS_SPECULARMATERIALSOURCE];
    vc.ambientSource = rs[D3DRS_AMBIENTMATERIALSOURCE];
    vc.emissiveSource = rs[D3DRS_EMISSIVEMATERIALSOURCE];
    ColorToFloats(rs[D3DRS_AMBIENT], vc.globalAmbient);
    vc.fogEnable = rs[D3DRS_FOGENABLE] != 0;
    vc.fogVertexMode = rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE ? rs[D3DRS_FOGVERTEXMODE] : D3DFOG_NONE;
    vc.rangeFog = rs[D3DRS_RANGEFOGENABLE] != 0;
    vc.fogStart = AsFloat(rs[D3DRS_FOGSTART]);
    vc.fogEnd = AsFloat(rs[D3DRS_FOGEND]);
    vc.fogDensity = AsFloat(rs[D3DRS_FOGDENSITY]);
}

void Device::BuildClipPlanes(VertexConfig* vcOut) const
{
    VertexConfig& vc = *vcOut;
    const DWORD* rs = renderStates_;
    vc.clipping = rs[D3DRS_CLIPPING] != 0;
    vc.clipPlaneCount = 0;
    if (!vc.layout.pretransformed && vc.clipping)
    {
        // Planes are numbered by their enable bits; the pipeline only sees the enabled ones.
        for (int i = 0; i < maxClipPlanes_; ++i)
            if (rs[D3DRS_CLIPPLANEENABLE] & (1u << i))
                std::copy(clipPlanes_[i], clipPlanes_[i] + 4, vc.clipPlanes[vc.clipPlaneCount++]);
    }
    for (int i = vc.clipPlaneCount; i < kMaxClipPlanes; ++i)
        std::fill(vc.clipPlanes[i], vc.clipPlanes[i] + 4, 0.0f);
}

// The enabled lights in camera space, up to the caps' count.
void Device::BuildLights(VertexConfig* vc) const
{
    vc->lightCount = 0;
    for (const auto& [index, slot] : lights_)
    {
        if (!slot.enabled || vc->lightCount >= maxLights_) continue;
        const D3DLIGHT9& l = slot.light;
        LightRecord& r = vc->lights[vc->lightCount++];
        r.type = l.Type;
        std::memcpy(r.diffuse, &l.Diffuse, 16);
        std::memcpy(r.specular, &l.Specular, 16);
        std::memcpy(r.ambient, &l.Ambient, 16);
        r.position = TransformPoint(l.Position, view_);
        r.direction = TransformDirection(l.Direction, view_);
        r.range = l.Range;
        r.falloff = l.Falloff;
        r.att0 = l.Attenuation0;
        r.att1 = l.Attenuation1;
        r.att2 = l.Attenuation2;
        r.cosHalfTheta = std::cos(l.Theta * 0.5f);
        r.cosHalfPhi = std::cos(l.Phi * 0.5f);
    }
    std::fill(vc->lights + vc->lightCount, vc->lights + kMaxActiveLights, LightRecord{});
}

// The texture stages before the first disabled one, their samplers and their coordinates.
void Device::BuildStages(DrawConfig* cfg) const
{
    VertexConfig& vc = cfg->vertex;
    PixelConfig& px = cfg->pixel;
    px.stageCount = 0;
    while (px.stageCount < kMaxStages && stageStates_[px.stageCount][D3DTSS_COLOROP] != D3DTOP_DISABLE)
        ++px.stageCount;
    int texStages = 0;
    for (int s = 0; s < px.stageCount; ++s)
    {
        BuildStage(s, &px.stages[s]);
        BuildTexCoords(s, vc.layout, &vc.texcoord[s], &px.stages[s]);
        if (px.stages[s].texture || px.stages[s].cube) texStages = s + 1;
    }
    // Stages past the last one drawn read as defaults, as in a configuration built from nothing.
    std::fill(px.stages + px.stageCount, px.stages + kMaxStages, kUnusedStage);
    std::fill(vc.texcoord + px.stageCount, vc.texcoord + kMaxStages, kUnusedTexCoords);
    vc.texStages = texStages;
    cfg->varyCount = kVaryTex + 4 * texStages;
}

void Device::BuildStage(int s, StageConfig* stOut) const
{
    StageConfig& st = *stOut;
    const DWORD* ts = stageStates_[s];
    st.colorOp = ts[D3DTSS_COLOROP];
    st.alphaOp = ts[D3DTSS_ALPHAOP];
    st.colorArg[0] = ts[D3DTSS_COLORARG0];
    st.colorArg[1] = ts[D3DTSS_COLORARG1];
    st.colorArg[2] = ts[D3DTSS_COLORARG2];
    st.alphaArg[0] = ts[D3DTSS_ALPHAARG0];
    st.alphaArg[1] = ts[D3DTSS_ALPHAARG1];
    st.alphaArg[2] = ts[D3DTSS_ALPHAARG2];
    st.resultTemp = (ts[D3DTSS_RESULTARG] & D3DTA_SELECTMASK) == D3DTA_TEMP;
    st.bumpMat[0] = AsFloat(ts[D3DTSS_BUMPENVMAT00]);
    st.bumpMat[1] = AsFloat(ts[D3DTSS_BUMPENVMAT01]);
    st.bumpMat[2] = AsFloat(ts[D3DTSS_BUMPENVMAT10]);
    st.bumpMat[3] = AsFloat(ts[D3DTSS_BUMPENVMAT11]);
    st.bumpScale = AsFloat(ts[D3DTSS_BUMPENVLSCALE]);
    st.bumpOffset = AsFloat(ts[D3DTSS_BUMPENVLOFFSET]);
    ColorToFloats(ts[D3DTSS_CONSTANT], st.constant);
    st.texture = dynamic_cast<Texture*>(textures_[s]);
    st.cube = dynamic_cast<CubeTexture*>(textures_[s]);
    const DWORD* smp = samplerStates_[s];
    st.sampler.addressU = smp[D3DSAMP_ADDRESSU];
    st.sampler.addressV = smp[D3DSAMP_ADDRESSV];
    st.sampler.addressW = smp[D3DSAMP_ADDRESSW];
    ColorToFloats(smp[D3DSAMP_BORDERCOLOR], st.sampler.border);
    st.sampler.magFilter = smp[D3DSAMP_MAGFILTER] == D3DTEXF_LINEAR ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    st.sampler.minFilter = smp[D3DSAMP_MINFILTER] == D3DTEXF_LINEAR ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    st.sampler.mipFilter = smp[D3DSAMP_MIPFILTER] > D3DTEXF_LINEAR ? D3DTEXF_LINEAR : smp[D3DSAMP_MIPFILTER];
    st.sampler.lodBias = AsFloat(smp[D3DSAMP_MIPMAPLODBIAS]);
    st.sampler.maxMipLevel = smp[D3DSAMP_MAXMIPLEVEL];
}

// Where stage s takes its coordinates from, their transform, and which one divides the others.
void Device::BuildTexCoords(int s, const VertexLayout& layout, TexCoordConfig* tcOut, StageConfig* st) const
{
    TexCoordConfig& tc = *tcOut;
    const bool pretransformed = layout.pretransformed;
    const DWORD* ts = stageStates_[s];
    const DWORD tci = ts[D3DTSS_TEXCOORDINDEX];
    const DWORD flags = ts[D3DTSS_TEXTURETRANSFORMFLAGS];
    tc.set = tci & 0xffff;
    tc.generate = pretransformed ? 0 : (tci & 0xffff0000u);
    tc.count = pretransformed ? 0 : std::min<DWORD>(flags & 0xff, 4);
    tc.projected = (flags & D3DTTFF_PROJECTED) != 0;
    tc.matrix = texture_[s];
    // Projection divides by the last coordinate kept; without a transform, by the last one given.
    st->projectIndex = -1;
    if (tc.projected)
    {
        DWORD n = tc.count;
        if (n == 0 && tc.set < kMaxTexSets && layout.tex[tc.set].present)
            n = layout.tex[tc.set].type == D3DDECLTYPE_FLOAT4
                    ? 4
                    : (layout.tex[tc.set].type == D3DDECLTYPE_FLOAT3 ? 3 : 0);
        if (n >= 2) st->projectIndex = static_cast<int>(n) - 1;
    }
}

// Texture factor, specular, table fog, alpha test and shading.
void Device::BuildPixelConfig(PixelConfig* pxOut, const VertexConfig& vc) const
{
    PixelConfig& px = *pxOut;
    const DWORD* rs = renderStates_;
    ColorToFloats(rs[D3DRS_TEXTUREFACTOR], px.textureFactor);
    px.specularAdd = rs[D3DRS_SPECULARENABLE] != 0;
    px.fog = rs[D3DRS_FOGENABLE] != 0;
    px.fogTableMode = rs[D3DRS_FOGTABLEMODE] <= D3DFOG_LINEAR ? rs[D3DRS_FOGTABLEMODE] : D3DFOG_NONE;
    px.fogUsesW = !vc.layout.pretransformed && projection_._34 != 0.0f && projection_._14 == 0.0f &&
                  projection_._24 == 0.0f;
    {
        float fc[4];
        ColorToFloats(rs[D3DRS_FOGCOLOR], fc);
        std::copy(fc, fc + 3, px.fogColor);
    }
    px.fogStart = vc.fogStart;
    px.fogEnd = vc.fogEnd;
    px.fogDensity = vc.fogDensity;
    px.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
    px.alphaFunc = rs[D3DRS_ALPHAFUNC];
    px.alphaRef = rs[D3DRS_ALPHAREF] & 0xff;
    px.flatShade = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
}

void Device::BuildDepthStencil(DepthStencilConfig* dsOut) const
{
    DepthStencilConfig& ds = *dsOut;
    const DWORD* rs = renderStates_;
    if (!depthStencil_)
    {
        ds = kNoDepthStencil;
        return;
    }
    ds.surface = depthStencil_;
    const FormatInfo& info = depthStencil_->Info();
    ds.depthTest = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    ds.depthWrite = rs[D3DRS_ZWRITEENABLE] != 0;
    ds.depthFunc = rs[D3DRS_ZFUNC];
    ds.depthMax = DepthMax(info);
    ds.stencil = rs[D3DRS_STENCILENABLE] && info.stencilBits > 0;
    ds.stencilMax = (1u << info.stencilBits) - 1;
    ds.stencilFunc = rs[D3DRS_STENCILFUNC];
    ds.stencilRef = rs[D3DRS_STENCILREF] & ds.stencilMax;
    ds.stencilMask = rs[D3DRS_STENCILMASK] & ds.stencilMax;
    ds.stencilWriteMask = rs[D3DRS_STENCILWRITEMASK] & ds.stencilMax;
    ds.stencilFail = rs[D3DRS_STENCILFAIL];
    ds.stencilZFail = rs[D3DRS_STENCILZFAIL];
    ds.stencilPass = rs[D3DRS_STENCILPASS];
    ds.depthBias = AsFloat(rs[D3DRS_DEPTHBIAS]);
    ds.slopeScaleDepthBias = AsFloat(rs[D3DRS_SLOPESCALEDEPTHBIAS]);
    if (!std::isfinite(ds.depthBias)) ds.depthBias = 0;
    if (!std::isfinite(ds.slopeScaleDepthBias)) ds.slopeScaleDepthBias = 0;
}

void Device::BuildBlend(BlendConfig* bOut) const
{
    BlendConfig& b = *bOut;
    const DWORD* rs = renderStates_;
    b.enable = rs[D3DRS_ALPHABLENDENABLE] != 0;
    b.src = rs[D3DRS_SRCBLEND];
    b.dst = rs[D3DRS_DESTBLEND];
    b.op = rs[D3DRS_BLENDOP];
    b.separateAlpha = rs[D3DRS_SEPARATEALPHABLENDENABLE] != 0;
    b.srcAlpha = rs[D3DRS_SRCBLENDALPHA];
    b.dstAlpha = rs[D3DRS_DESTBLENDALPHA];
    b.opAlpha = rs[D3DRS_BLENDOPALPHA];
    ColorToFloats(rs[D3DRS_BLENDFACTOR], b.factor);
    b.writeMask = rs[D3DRS_COLORWRITEENABLE] & 0xf;
}

// The target and the rectangle draws may write: viewport, scissor and target intersected.
void Device::BuildRaster(RasterConfig* rOut) const
{
    RasterConfig& r = *rOut;
    const DWORD* rs = renderStates_;
    r.target = renderTarget_;
    r.viewport = viewport_;
    RECT clip = {static_cast<LONG>(viewport_.X), static_cast<LONG>(viewport_.Y),
                 static_cast<LONG>(viewport_.X + viewport_.Width),
                 static_cast<LONG>(viewport_.Y + viewport_.Height)};
    clip.right = std::min<LONG>(clip.right, renderTarget_->Width());
    clip.bottom = std::min<LONG>(clip.bottom, renderTarget_->Height());
    if (rs[D3DRS_SCISSORTESTENABLE])
    {
        clip.left = std::max(clip.left, scissor_.left);
        clip.top = std::max(clip.top, scissor_.top);
        clip.right = std::min(clip.right, scissor_.right);
        clip.bottom = std::min(clip.bottom, scissor_.bottom);
    }
    r.clipRect = clip;
    r.cullMode = rs[D3DRS_CULLMODE];
    r.fillMode = rs[D3DRS_FILLMODE];
    r.lastPixel = rs[D3DRS_LASTPIXEL] != 0;
    r.pointSize = AsFloat(rs[D3DRS_POINTSIZE]);
}

HRESULT Device::Draw(const DrawCall& call, const StreamInput* upStream)
{
    if (Lost()) return D3D_OK;
    if (const char* rule = UpdateDrawState(upStream)) return validation::Refuse(rule);
    Recording& rec = recordings_[recording_];
    DrawConfig* cfg = rec.draws.NextConfig();
    *cfg = *drawState_;
    DrawCall recorded = call;
    std::vector<uint8_t> owned = HoldDrawInputs(*cfg, recorded, upStream);
    rec.draws.Record(recorded, std::move(owned));
    // One thread gains nothing from recording: drawn at once, the draw's primitives are still in its caches.
    // Otherwise the flush thread takes the queue when it is full, or sooner when it would sit idle.
    if (pool_->ThreadCount() == 1)
        FlushDraws();
    else if (rec.draws.OverBudget() || (rec.draws.WorthFlushing() && FlushThreadIdle()))
        StartFlush();
    return D3D_OK;
}

std::vector<uint8_t> Device::HoldDrawInputs(DrawConfig& cfg, DrawCall& call, const StreamInput* upStream)
{
    auto hold = [&](IUnknown* resource)
    {
        if (!resource) return;
        resource->AddRef();
        recordings_[recording_].refs.push_back(resource);
    };
    hold(renderTarget_);
    hold(depthStencil_);
    for (int s = 0; s < cfg.pixel.stageCount; ++s)
        hold(textures_[s]);
    std::vector<uint8_t> owned;
    if (!upStream)
    {
        for (VertexBuffer* stream : streams_)
            hold(stream);
        if (call.indices.data) hold(indices_);
        return owned;
    }
    // The caller's memory is its own again when the call returns.
    const size_t vertexBytes = upStream->size, indexBytes = call.indices.data ? call.indices.size : 0;
    owned.resize(vertexBytes + indexBytes);
    if (vertexBytes) std::memcpy(owned.data(), upStream->data, vertexBytes);
    if (indexBytes) std::memcpy(owned.data() + vertexBytes, call.indices.data, indexBytes);
    cfg.vertex.streams[0].data = owned.data();
    if (indexBytes) call.indices.data = owned.data() + vertexBytes;
    return owned;
}

void Device::FlushDraws()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    WaitForFlush();
    Recording& rec = recordings_[recording_];
    if (rec.draws.Empty()) return;
    {
        WorkerPool::Burst burst(*pool_);
        rec.draws.Flush(*pool_);
    }
    ReleaseRefs(rec);
}

void Device::ReleaseRefs(Recording& r)
{
    // Released after the whole list: releasing one may end a resource that a later entry names again.
    std::vector<IUnknown*> refs;
    refs.swap(r.refs);
    for (IUnknown* resource : refs)
        resource->Release();
}

// Hands the recording queue to the flush thread and records into the other one, so that recording the next
// draws overlaps drawing these. A busy flush thread swaps the queues itself when it ends the one it draws:
// drawing goes on at once, and this thread wakes when it may record again.
void Device::StartFlush()
{
    {
        std::unique_lock<std::mutex> lock(flushMutex_);
        if (!flushThread_.joinable()) flushThread_ = std::thread([this] { FlushLoop(); });
        handOver_ = true;
        flushChanged_.notify_all();
        flushChanged_.wait(lock, [&] { return !handOver_; });
    }
    // The queue that now records was drawn before the flush thread took the other one.
    ReleaseRefs(recordings_[recording_]);
}

bool Device::FlushThreadIdle()
{
    std::lock_guard<std::mutex> lock(flushMutex_);
    return flushing_ < 0;
}

void Device::WaitForFlush()
{
    {
        std::unique_lock<std::mutex> lock(flushMutex_);
        flushChanged_.wait(lock, [&] { return flushing_ < 0; });
    }
    // The other queue is drawn by now, whether the flush thread ended before this call or during it; its
    // resources are released here, once, and not left for the next flush of that queue to find.
    ReleaseRefs(recordings_[recording_ ^ 1]);
}

void Device::FlushLoop()
{
    std::unique_lock<std::mutex> lock(flushMutex_);
    for (;;)
    {
        flushChanged_.wait(lock, [&] { return stopFlushing_ || handOver_; });
        if (!handOver_) return;
        const int q = recording_;
        flushing_ = q;
        recording_ ^= 1;
        handOver_ = false;
        flushChanged_.notify_all();
        lock.unlock();
        {
            WorkerPool::Burst burst(*pool_);
            recordings_[q].draws.Flush(*pool_);
        }
        lock.lock();
        flushing_ = -1;
        flushChanged_.notify_all();
    }
}

void FlushDeviceDraws(DeviceAnchor* anchor)
{
    if (!anchor) return;
    Device* device;
    {
        // Not held while flushing: the device takes its own lock, and may take this one under it.
        std::lock_guard<std::mutex> lock(anchor->mutex);
        device = anchor->device;
    }
    if (device) device->FlushDraws();
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT count)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (PrimitiveVertices(type, count) == 0)
        return validation::Refuse(
            PrimitiveRule(type, "Device.DrawPrimitive.BadType", "Device.DrawPrimitive.CountOutOfRange"));
    DrawCall call{type, count, startVertex, 0, 0, {}};
    return Draw(call, nullptr);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT, UINT, UINT startIndex,
                                     UINT count)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const UINT n = PrimitiveVertices(type, count);
    if (n == 0)
        return validation::Refuse(PrimitiveRule(type, "Device.DrawIndexedPrimitive.BadType",
                                                "Device.DrawIndexedPrimitive.CountOutOfRange"));
    if (!indices_) return validation::Refuse("Device.DrawIndexedPrimitive.NoIndexBuffer");
    const bool i32 = indices_->Format() == D3DFMT_INDEX32;
    const uint64_t need = (static_cast<uint64_t>(startIndex) + n) * (i32 ? 4 : 2);
    if (need > indices_->Size()) return validation::Refuse("Device.DrawIndexedPrimitive.IndicesPastEnd");
    DrawCall call{type, count, 0, baseVertex, startIndex, {indices_->Data(), indices_->Size(), i32}};
    return Draw(call, nullptr);
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data, UINT stride)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const UINT n = PrimitiveVertices(type, count);
    if (n == 0)
        return validation::Refuse(
            PrimitiveRule(type, "Device.DrawPrimitiveUP.BadType", "Device.DrawPrimitiveUP.CountOutOfRange"));
    if (!data) return validation::Refuse("Device.DrawPrimitiveUP.NullPointer");
    if (stride == 0) return validation::Refuse("Device.DrawPrimitiveUP.ZeroStride");
    // Documented: the call leaves stream 0 unset.
    SetStreamSource(0, nullptr, 0, 0);
    StreamInput up{static_cast<const uint8_t*>(data), static_cast<size_t>(n) * stride, stride};
    DrawCall call{type, count, 0, 0, 0, {}};
    return Draw(call, &up);
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT numVertices, UINT count,
                                       const void* indexData, D3DFORMAT indexFormat, const void* data,
                                       UINT stride)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const UINT n = PrimitiveVertices(type, count);
    if (n == 0)
        return validation::Refuse(PrimitiveRule(type, "Device.DrawIndexedPrimitiveUP.BadType",
                                                "Device.DrawIndexedPrimitiveUP.CountOutOfRange"));
    if (!indexData || !data) return validation::Refuse("Device.DrawIndexedPrimitiveUP.NullPointer");
    if (stride == 0) return validation::Refuse("Device.DrawIndexedPrimitiveUP.ZeroStride");
    if (numVertices == 0) return validation::Refuse("Device.DrawIndexedPrimitiveUP.NoVertices");
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32)
        return validation::Refuse("Device.DrawIndexedPrimitiveUP.BadIndexFormat");
    // Documented: the call leaves stream 0 and the index buffer unset.
    SetStreamSource(0, nullptr, 0, 0);
    SetIndices(nullptr);
    const bool i32 = indexFormat == D3DFMT_INDEX32;
    StreamInput up{static_cast<const uint8_t*>(data), (static_cast<size_t>(minIndex) + numVertices) * stride,
                   stride};
    DrawCall call{
        type, count, 0,
        0,    0,     {static_cast<const uint8_t*>(indexData), static_cast<size_t>(n) * (i32 ? 4 : 2), i32}};
    return Draw(call, &up);
}
} // namespace ferolt::d3d9
