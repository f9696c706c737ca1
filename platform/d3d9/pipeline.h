#pragma once
// What one draw call hands to the software pipeline: plain state records per concern, captured when the
// call is made, and the vertex and index data it reads. Nothing here points back into the device.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9/resources.h"

namespace ferolt::d3d9
{
class WorkerPool;

constexpr int kMaxStages = 8;
constexpr int kMaxSamplers = 16;
constexpr int kMaxTexSets = 8;
constexpr int kMaxClipPlanes = 6;
constexpr int kMaxActiveLights = 8;
constexpr int kMaxStreams = 16;

// Varyings handed from the vertex stage to the pixel stage, in this order.
constexpr int kVaryDiffuse = 0;  // r, g, b, a
constexpr int kVarySpecular = 4; // r, g, b, a
constexpr int kVaryFog = 8;      // vertex fog factor (1 = no fog)
constexpr int kVaryTex = 9;      // 4 per stage
constexpr int kMaxVary = kVaryTex + 4 * kMaxStages;

struct Vec3
{
    float x, y, z;
};

// Direction to the viewer when D3DRS_LOCALVIEWER is FALSE: the camera looks along +z, so the viewer
// lies towards -z from every vertex.
constexpr Vec3 kDistantViewer = {0.0f, 0.0f, -1.0f};

// Where one vertex component is found.
struct VertexElement
{
    bool present = false;
    uint8_t stream = 0;
    uint8_t type = D3DDECLTYPE_UNUSED;
    uint32_t offset = 0;
};

struct VertexLayout
{
    VertexElement position; // FLOAT3, or FLOAT4 for pre-transformed
    bool pretransformed = false;
    VertexElement normal;
    VertexElement diffuse;
    VertexElement specular;
    VertexElement psize;
    VertexElement tex[kMaxTexSets];
};

// Builds the layout of a flexible vertex format in stream 0; false for formats the device cannot read.
bool LayoutFromFvf(DWORD fvf, VertexLayout* out, UINT* stride);
bool LayoutFromDeclaration(const std::vector<D3DVERTEXELEMENT9>& elements, VertexLayout* out);

struct StreamInput
{
    const uint8_t* data = nullptr;
    size_t size = 0;
    UINT stride = 0;
};

struct LightRecord
{
    D3DLIGHTTYPE type;
    float diffuse[4], specular[4], ambient[4];
    Vec3 position;  // camera space
    Vec3 direction; // camera space, normalised, pointing from the light
    float range, falloff, att0, att1, att2;
    float cosHalfTheta, cosHalfPhi;
};

struct TexCoordConfig
{
    uint32_t set = 0;      // source coordinate set
    uint32_t generate = 0; // D3DTSS_TCI_* in the high word
    uint32_t count = 0;    // components kept after the transform; 0: transform off
    bool projected = false;
    D3DMATRIX matrix;
};

struct VertexConfig
{
    VertexLayout layout;
    StreamInput streams[kMaxStreams];
    D3DMATRIX world, view, worldView, worldViewProj;
    float normalMatrix[3][3]; // inverse transpose of world x view
    bool lighting = false;
    bool normalizeNormals = false;
    bool localViewer = true;
    bool specularEnable = false;
    bool colorVertex = true;
    DWORD diffuseSource = D3DMCS_COLOR1, specularSource = D3DMCS_COLOR2;
    DWORD ambientSource = D3DMCS_MATERIAL, emissiveSource = D3DMCS_MATERIAL;
    D3DMATERIAL9 material;
    float globalAmbient[4];
    int lightCount = 0;
    LightRecord lights[kMaxActiveLights];
    // Vertex fog; table fog wins when it is on.
    DWORD fogVertexMode = D3DFOG_NONE;
    bool rangeFog = false;
    float fogStart = 0, fogEnd = 1, fogDensity = 1;
    bool fogEnable = false;
    int texStages = 0; // stages whose coordinates are computed
    TexCoordConfig texcoord[kMaxStages];
    int clipPlaneCount = 0;
    float clipPlanes[kMaxClipPlanes][4]; // world space
    bool clipping = true;
};

struct SamplerConfig
{
    DWORD addressU = D3DTADDRESS_WRAP, addressV = D3DTADDRESS_WRAP, addressW = D3DTADDRESS_WRAP;
    float border[4] = {0, 0, 0, 0};
    DWORD magFilter = D3DTEXF_POINT, minFilter = D3DTEXF_POINT, mipFilter = D3DTEXF_NONE;
    float lodBias = 0;
    UINT maxMipLevel = 0;
};

struct StageConfig
{
    DWORD colorOp = D3DTOP_DISABLE, alphaOp = D3DTOP_DISABLE;
    DWORD colorArg[3] = {D3DTA_CURRENT, D3DTA_TEXTURE, D3DTA_CURRENT}; // arg0, arg1, arg2
    DWORD alphaArg[3] = {D3DTA_CURRENT, D3DTA_TEXTURE, D3DTA_CURRENT};
    bool resultTemp = false;
    float bumpMat[4] = {0, 0, 0, 0}; // 00, 01, 10, 11
    float bumpScale = 0, bumpOffset = 0;
    float constant[4] = {0, 0, 0, 0};
    // Bound texture: a 2D texture or a cube; null when none.
    const Texture* texture = nullptr;
    const CubeTexture* cube = nullptr;
    SamplerConfig sampler;
    int projectIndex = -1; // coordinate that divides the others, or -1
};

struct DepthStencilConfig
{
    Surface* surface = nullptr; // null: no depth or stencil testing
    bool depthTest = false;
    bool depthWrite = false;
    DWORD depthFunc = D3DCMP_LESSEQUAL;
    uint32_t depthMax = 0;
    bool stencil = false;
    DWORD stencilFunc = D3DCMP_ALWAYS;
    uint32_t stencilRef = 0, stencilMask = 0xff, stencilWriteMask = 0xff;
    DWORD stencilFail = D3DSTENCILOP_KEEP, stencilZFail = D3DSTENCILOP_KEEP, stencilPass = D3DSTENCILOP_KEEP;
    uint32_t stencilMax = 0xff; // all ones in the format's stencil bits
    float depthBias = 0, slopeScaleDepthBias = 0;
};

struct BlendConfig
{
    bool enable = false;
    DWORD src = D3DBLEND_ONE, dst = D3DBLEND_ZERO, op = D3DBLENDOP_ADD;
    bool separateAlpha = false;
    DWORD srcAlpha = D3DBLEND_ONE, dstAlpha = D3DBLEND_ZERO, opAlpha = D3DBLENDOP_ADD;
    float factor[4] = {1, 1, 1, 1};
    DWORD writeMask = 0xf;
};

struct PixelConfig
{
    int stageCount = 0; // stages before the first COLOROP DISABLE
    StageConfig stages[kMaxStages];
    float textureFactor[4];
    bool specularAdd = false;
    bool fog = false;
    DWORD fogTableMode = D3DFOG_NONE; // NONE: the interpolated vertex fog factor
    bool fogUsesW = false;
    float fogColor[3];
    float fogStart = 0, fogEnd = 1, fogDensity = 1;
    bool alphaTest = false;
    DWORD alphaFunc = D3DCMP_ALWAYS;
    uint32_t alphaRef = 0;
    DepthStencilConfig depth;
    BlendConfig blend;
    bool flatShade = false;
};

struct RasterConfig
{
    Surface* target = nullptr;
    D3DVIEWPORT9 viewport;
    RECT clipRect; // viewport, scissor and target intersected
    DWORD cullMode = D3DCULL_CCW;
    DWORD fillMode = D3DFILL_SOLID;
    bool lastPixel = true;
    float pointSize = 1.0f;
};

struct DrawConfig
{
    VertexConfig vertex;
    PixelConfig pixel;
    RasterConfig raster;
    int varyCount = 0; // varyings the pixel stage reads: kVaryTex + 4 * textured stages
};

struct IndexInput
{
    const uint8_t* data = nullptr; // null: not indexed
    size_t size = 0;               // bytes available from data
    bool index32 = false;
};

struct DrawCall
{
    D3DPRIMITIVETYPE type;
    UINT primitiveCount;
    UINT startVertex;    // non-indexed: first vertex
    INT baseVertexIndex; // indexed: added to every index
    UINT startIndex;     // indexed: first index
    IndexInput indices;
};

// Runs one draw call to completion. The result does not depend on the pool's thread count.
void ExecuteDraw(const DrawConfig& config, const DrawCall& call, WorkerPool& pool);

struct Batch;
class DrawJob;
// The set-up primitives of a flush, kept from flush to flush so that their memory is touched once.
struct BatchStore;
std::shared_ptr<BatchStore> NewBatchStore();

// Draws recorded to be drawn together: Flush sets up the primitives of every recorded draw (draws side by
// side on the workers) and bins them into tiles, then draws all tiles in parallel, each walking the draws
// in the order they were recorded. The bytes are those of drawing them one by one.
class DrawQueue
{
public:
    // Queues given the same store share its memory; their flushes must not overlap.
    explicit DrawQueue(std::shared_ptr<BatchStore> store = nullptr);
    ~DrawQueue();
    DrawQueue(const DrawQueue&) = delete;
    DrawQueue& operator=(const DrawQueue&) = delete;
    // The configuration of the next draw, to be filled in; it starts as a default one.
    DrawConfig* NextConfig();
    // Takes the draw of the configuration NextConfig gave. Everything the configuration and call point at
    // must stay as it is until Flush, except what `owned` holds: the queue keeps that with the draw.
    void Record(const DrawCall& call, std::vector<uint8_t> owned);
    bool Empty() const;
    // Whether the recorded draws hold as much as a flush should take at once.
    bool OverBudget() const;
    // Whether the recorded draws are enough to be worth a flush of their own while the workers have none.
    bool WorthFlushing() const;
    void Flush(WorkerPool& pool);

private:
    // A flush that takes more draws reaches more tiles, so the tiles' work evens out between the threads,
    // and the device stops less often to hand a queue over; while the flush thread is busy, recording goes
    // on up to this budget. When it has nothing to do, it takes a queue as soon as the queue is worth a
    // flush.
    static constexpr size_t kMaxDraws = 4096, kMaxPrimitives = size_t{1} << 18;
    static constexpr size_t kMinDraws = 256, kMinPrimitives = size_t{1} << 14;
    struct Pending;
    std::vector<Pending> pending_; // the first count_ are recorded
    size_t count_ = 0;
    std::shared_ptr<BatchStore> store_; // each draw takes BatchCount() batches in a row
    size_t batchesUsed_ = 0;
    size_t primitives_ = 0;
};
} // namespace ferolt::d3d9
