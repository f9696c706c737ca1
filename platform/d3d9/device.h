#pragma once
// The software IDirect3D9 and IDirect3DDevice9 objects.
#include <functional>
#include <map>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/d3d9/d3d9_hooks.h"
#include "platform/d3d9/pipeline.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/validation.h"
#include "platform/d3d9/workers.h"

namespace ferolt::d3d9
{
class Direct3D9 final : public ComObject<IDirect3D9, IID_IDirect3D9>
{
public:
    Direct3D9();
    HRESULT RegisterSoftwareDevice(void*) override { return D3D_OK; }
    UINT GetAdapterCount() override { return static_cast<UINT>(adapters_.size()); }
    HRESULT GetAdapterIdentifier(UINT Adapter, DWORD Flags, D3DADAPTER_IDENTIFIER9* pIdentifier) override;
    UINT GetAdapterModeCount(UINT Adapter, D3DFORMAT Format) override;
    HRESULT EnumAdapterModes(UINT Adapter, D3DFORMAT Format, UINT Mode, D3DDISPLAYMODE* pMode) override;
    HRESULT GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) override;
    HRESULT CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                            D3DFORMAT BackBufferFormat, BOOL bWindowed) override;
    HRESULT CheckDeviceFormat(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat, DWORD Usage,
                              D3DRESOURCETYPE RType, D3DFORMAT CheckFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SurfaceFormat,
                                       BOOL Windowed, D3DMULTISAMPLE_TYPE MultiSampleType,
                                       DWORD* pQualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT AdapterFormat,
                                   D3DFORMAT RenderTargetFormat, D3DFORMAT DepthStencilFormat) override;
    HRESULT CheckDeviceFormatConversion(UINT Adapter, D3DDEVTYPE DeviceType, D3DFORMAT SourceFormat,
                                        D3DFORMAT TargetFormat) override;
    HRESULT GetDeviceCaps(UINT Adapter, D3DDEVTYPE DeviceType, D3DCAPS9* pCaps) override;
    HMONITOR GetAdapterMonitor(UINT Adapter) override;
    HRESULT CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow, DWORD BehaviorFlags,
                         D3DPRESENT_PARAMETERS* pPresentationParameters,
                         IDirect3DDevice9** ppReturnedDeviceInterface) override;

    const hooks::D3D9Adapter* Adapter(UINT ordinal) const
    {
        return ordinal < adapters_.size() ? &adapters_[ordinal] : nullptr;
    }
    bool SupportsType(UINT adapter, D3DDEVTYPE type) const;
    void FillCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) const;

private:
    ~Direct3D9() override = default;
    std::vector<hooks::D3D9Adapter> adapters_;
};

struct LightSlot
{
    D3DLIGHT9 light;
    bool enabled = false;
};

class Device final : public ComObject<IDirect3DDevice9, IID_IDirect3DDevice9>
{
public:
    static HRESULT Create(Direct3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags,
                          D3DPRESENT_PARAMETERS* pp, Device** out);

    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override { return 512u << 20; }
    HRESULT EvictManagedResources() override { return D3D_OK; }
    HRESULT GetDirect3D(IDirect3D9** ppD3D9) override;
    HRESULT GetDeviceCaps(D3DCAPS9* pCaps) override;
    HRESULT GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override;
    HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                    const RGNDATA* pDirtyRegion) override;
    HRESULT GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                          IDirect3DSurface9** ppBackBuffer) override;
    HRESULT SetDialogBoxMode(BOOL) override { return D3D_OK; }
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                          IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override;
    HRESULT CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override;
    HRESULT CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) override;
    HRESULT CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                               DWORD MultisampleQuality, BOOL Lockable, IDirect3DSurface9** ppSurface,
                               HANDLE* pSharedHandle) override;
    HRESULT CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                      D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality, BOOL Discard,
                                      IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override;
    HRESULT UpdateSurface(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                          IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint) override;
    HRESULT UpdateTexture(IDirect3DBaseTexture9* pSourceTexture,
                          IDirect3DBaseTexture9* pDestinationTexture) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) override;
    HRESULT StretchRect(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                        IDirect3DSurface9* pDestSurface, const RECT* pDestRect,
                        D3DTEXTUREFILTERTYPE Filter) override;
    HRESULT ColorFill(IDirect3DSurface9* pSurface, const RECT* pRect, D3DCOLOR color) override;
    HRESULT CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool,
                                        IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override;
    HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override;
    HRESULT GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                  DWORD Stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override;
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* pViewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* pViewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) override;
    HRESULT GetMaterial(D3DMATERIAL9* pMaterial) override;
    HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) override;
    HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) override;
    HRESULT LightEnable(DWORD Index, BOOL Enable) override;
    HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) override;
    HRESULT SetClipPlane(DWORD Index, const float* pPlane) override;
    HRESULT GetClipPlane(DWORD Index, float* pPlane) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override;
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override;
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override;
    HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override;
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT ValidateDevice(DWORD* pNumPasses) override;
    HRESULT SetScissorRect(const RECT* pRect) override;
    HRESULT GetScissorRect(RECT* pRect) override;
    HRESULT SetSoftwareVertexProcessing(BOOL bSoftware) override;
    BOOL GetSoftwareVertexProcessing() override { return softwareVP_; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                 UINT NumVertices, UINT startIndex, UINT primCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                            const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                   UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                   const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                    IDirect3DVertexDeclaration9** ppDecl) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) override;
    HRESULT SetFVF(DWORD FVF) override;
    HRESULT GetFVF(DWORD* pFVF) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* pShader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** ppShader) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                            UINT Stride) override;
    HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                            UINT* pStride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* pIndexData) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** ppIndexData) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* pShader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** ppShader) override;

    // Test hook: the cooperative-level state (D3D_OK, D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET).
    void SetCooperativeState(HRESULT state);
    unsigned WorkerThreads() const { return pool_->ThreadCount(); }
    // Draws the recorded draws now. Called before anything reads or writes pixels outside the draw path,
    // changes where draws go, or changes memory a recorded draw reads.
    void FlushDraws();

private:
    Device(Direct3D9* d3d, UINT adapter, D3DDEVTYPE type, HWND focus, DWORD flags);
    ~Device() override;

    HRESULT CreateSwapChain(const D3DPRESENT_PARAMETERS& pp, bool injectFailures = true);
    void ReleaseSwapChain();
    void SetDefaultState();
    void ReleaseBindings();
    bool Lost() const { return coopState_ != D3D_OK; }
    HRESULT Draw(const DrawCall& call, const StreamInput* upStream);
    // Keeps what a recorded draw reads alive until it is drawn: the resources it uses hold a reference, and
    // vertices and indices passed by pointer are copied.
    std::vector<uint8_t> HoldDrawInputs(DrawConfig& cfg, DrawCall& call, const StreamInput* upStream);
    // The draw configuration is kept from draw to draw and rebuilt in parts: a setter that changes a state
    // marks the parts it feeds stale, and the next draw rebuilds only those. Recording thousands of draws
    // with a few states changed between them then costs a copy each, not a full build.
    enum DrawStatePart : uint32_t
    {
        kStaleLayout = 1u << 0,       // FVF or declaration
        kStaleStreams = 1u << 1,      // vertex streams
        kStaleTransforms = 1u << 2,   // world, view, projection
        kStaleLights = 1u << 3,       // lights, and the view they are taken into
        kStaleMaterial = 1u << 4,     // material
        kStaleRenderStates = 1u << 5, // render states
        kStaleClipPlanes = 1u << 6,   // user clip planes
        kStaleStages = 1u << 7,       // texture stage and sampler states, textures, texture transforms
        kStaleTargets = 1u << 8,      // render target, depth surface, viewport, scissor
        kStaleAll = (1u << 9) - 1,
    };
    void Stale(uint32_t parts) { stale_ |= parts; }
    // Brings drawState_ up to date; the rule that refuses the draw when the device cannot draw with its
    // state, nullptr when it can.
    const char* UpdateDrawState(const StreamInput* upStream);
    // Rebuilds the given parts of cfg; the rule that refuses the draw, as UpdateDrawState. `inputRefusal`
    // holds why the layout and streams cannot be read (nullptr when they can), kept while they are not
    // rebuilt.
    const char* BuildDrawState(DrawConfig* cfg, uint32_t parts, const StreamInput* upStream,
                               const char** inputRefusal);
    const char* BuildVertexInput(VertexConfig* vc, const StreamInput* upStream) const;
    void BuildTransforms(VertexConfig* vc) const;
    void BuildVertexStates(VertexConfig* vc) const;
    void BuildClipPlanes(VertexConfig* vc) const;
    void BuildLights(VertexConfig* vc) const;
    void ReadCapsOnce();
    void BuildStages(DrawConfig* cfg) const;
    void BuildStage(int stage, StageConfig* st) const;
    void BuildTexCoords(int stage, const VertexLayout& layout, TexCoordConfig* tc, StageConfig* st) const;
    void BuildPixelConfig(PixelConfig* px, const VertexConfig& vc) const;
    void BuildDepthStencil(DepthStencilConfig* ds) const;
    void BuildBlend(BlendConfig* b) const;
    void BuildRaster(RasterConfig* r) const;
    HRESULT PresentToWindow(const RECT* src, const RECT* dst, HWND window);
    // Calls row(y) for y in [top, bottom), in bands of rows on the workers: each thread takes about the
    // rows whose tiles it then draws (RunLocal), so they stay in its caches.
    void ForEachRow(LONG top, LONG bottom, const std::function<void(LONG)>& row);

    std::recursive_mutex mutex_; // device calls from several threads (D3DCREATE_MULTITHREADED)
    Direct3D9* d3d_;
    UINT adapter_;
    D3DDEVTYPE type_;
    HWND focus_;
    DWORD flags_;
    bool softwareVP_ = false;
    std::shared_ptr<DeviceAnchor> anchor_;
    std::unique_ptr<WorkerPool> pool_;
    HRESULT coopState_ = D3D_OK;

    D3DPRESENT_PARAMETERS pp_{};
    Surface* backBuffer_ = nullptr;
    Surface* autoDepth_ = nullptr;

    // Bound objects hold a reference.
    Surface* renderTarget_ = nullptr;
    Surface* depthStencil_ = nullptr;
    IDirect3DBaseTexture9* textures_[kMaxSamplers] = {};
    VertexBuffer* streams_[kMaxStreams] = {};
    UINT streamOffset_[kMaxStreams] = {};
    UINT streamStride_[kMaxStreams] = {};
    IndexBuffer* indices_ = nullptr;
    VertexDeclaration* decl_ = nullptr;
    DWORD fvf_ = 0;

    DWORD renderStates_[256] = {};
    DWORD stageStates_[kMaxStages][33] = {};
    DWORD samplerStates_[kMaxSamplers][14] = {};
    D3DMATRIX world_, view_, projection_, texture_[kMaxStages];
    D3DVIEWPORT9 viewport_{};
    D3DMATERIAL9 material_{};
    std::map<DWORD, LightSlot> lights_;
    float clipPlanes_[kMaxClipPlanes][4] = {};
    RECT scissor_{};
    bool inScene_ = false;

    int maxLights_ = -1, maxClipPlanes_ = 0; // from the caps, on the first draw

    std::unique_ptr<DrawConfig> drawState_ = std::make_unique<DrawConfig>(); // zeroed, padding too
    uint32_t stale_ = kStaleAll;
    const char* vertexInputRefusal_ = nullptr; // from the last build of the layout and streams

    // Recorded draws, in two queues: while a full one is drawn on the flush thread, the device records
    // into the other. Each queue holds references to the resources its draws read.
    struct Recording
    {
        explicit Recording(const std::shared_ptr<BatchStore>& store) : draws(store) {}
        DrawQueue draws;
        std::vector<IUnknown*> refs;
    };
    void StartFlush();
    void WaitForFlush();
    bool FlushThreadIdle();
    void FlushLoop();
    void ReleaseRefs(Recording& r);
    // Only one queue is drawn at a time: they share the memory of their primitives.
    std::shared_ptr<BatchStore> batchStore_ = NewBatchStore();
    Recording recordings_[2] = {Recording(batchStore_), Recording(batchStore_)};
    int recording_ = 0;       // the queue taking draws; the flush thread swaps them while handOver_ holds
    std::thread flushThread_; // started on the first overlapped flush
    std::mutex flushMutex_;
    std::condition_variable flushChanged_;
    int flushing_ = -1;     // the queue being drawn on the flush thread, or -1
    bool handOver_ = false; // the recording queue waits for the flush thread to take it
    bool stopFlushing_ = false;
};

// The device behind an interface pointer made by this layer, or null.
Device* AsDevice(IDirect3DDevice9* device);
Surface* AsSurface(IDirect3DSurface9* surface);
} // namespace ferolt::d3d9
