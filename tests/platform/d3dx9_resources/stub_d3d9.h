#pragma once
// Do-nothing implementations of the device interfaces, so that a test double overrides only what
// the code under test calls. Every method answers E_NOTIMPL (or zero).
#include "platform/d3d9/d3d9.h"
#include "platform/win32/com_object.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace ferolt::test
{
struct StubDevice : ComObject<IDirect3DDevice9>
{
    HRESULT TestCooperativeLevel() override { return E_NOTIMPL; }
    UINT GetAvailableTextureMem() override { return {}; }
    HRESULT EvictManagedResources() override { return E_NOTIMPL; }
    HRESULT GetDirect3D(IDirect3D9** ppD3D9) override { return E_NOTIMPL; }
    HRESULT GetDeviceCaps(D3DCAPS9* pCaps) override { return E_NOTIMPL; }
    HRESULT GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) override { return E_NOTIMPL; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* pParameters) override { return E_NOTIMPL; }
    HRESULT Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) override { return E_NOTIMPL; }
    HRESULT Present(const RECT* pSourceRect, const RECT* pDestRect, HWND hDestWindowOverride,
                    const RGNDATA* pDirtyRegion) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                          IDirect3DSurface9** ppBackBuffer) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetDialogBoxMode(BOOL bEnableDialogs) override { return E_NOTIMPL; }
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                          IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateCubeTexture(UINT EdgeLength, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DCubeTexture9** ppCubeTexture, HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                              IDirect3DIndexBuffer9** ppIndexBuffer, HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateRenderTarget(UINT Width, UINT Height, D3DFORMAT Format, D3DMULTISAMPLE_TYPE MultiSample,
                               DWORD MultisampleQuality, BOOL Lockable, IDirect3DSurface9** ppSurface,
                               HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateDepthStencilSurface(UINT Width, UINT Height, D3DFORMAT Format,
                                      D3DMULTISAMPLE_TYPE MultiSample, DWORD MultisampleQuality, BOOL Discard,
                                      IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT UpdateSurface(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                          IDirect3DSurface9* pDestinationSurface, const POINT* pDestPoint) override
    {
        return E_NOTIMPL;
    }
    HRESULT UpdateTexture(IDirect3DBaseTexture9* pSourceTexture,
                          IDirect3DBaseTexture9* pDestinationTexture) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetRenderTargetData(IDirect3DSurface9* pRenderTarget, IDirect3DSurface9* pDestSurface) override
    {
        return E_NOTIMPL;
    }
    HRESULT StretchRect(IDirect3DSurface9* pSourceSurface, const RECT* pSourceRect,
                        IDirect3DSurface9* pDestSurface, const RECT* pDestRect,
                        D3DTEXTUREFILTERTYPE Filter) override
    {
        return E_NOTIMPL;
    }
    HRESULT ColorFill(IDirect3DSurface9* pSurface, const RECT* pRect, D3DCOLOR color) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateOffscreenPlainSurface(UINT Width, UINT Height, D3DFORMAT Format, D3DPOOL Pool,
                                        IDirect3DSurface9** ppSurface, HANDLE* pSharedHandle) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9* pRenderTarget) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetRenderTarget(DWORD RenderTargetIndex, IDirect3DSurface9** ppRenderTarget) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* pNewZStencil) override { return E_NOTIMPL; }
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** ppZStencilSurface) override { return E_NOTIMPL; }
    HRESULT BeginScene() override { return E_NOTIMPL; }
    HRESULT EndScene() override { return E_NOTIMPL; }
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                  DWORD Stencil) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override { return E_NOTIMPL; }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) override { return E_NOTIMPL; }
    HRESULT MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetViewport(const D3DVIEWPORT9* pViewport) override { return E_NOTIMPL; }
    HRESULT GetViewport(D3DVIEWPORT9* pViewport) override { return E_NOTIMPL; }
    HRESULT SetMaterial(const D3DMATERIAL9* pMaterial) override { return E_NOTIMPL; }
    HRESULT GetMaterial(D3DMATERIAL9* pMaterial) override { return E_NOTIMPL; }
    HRESULT SetLight(DWORD Index, const D3DLIGHT9* pLight) override { return E_NOTIMPL; }
    HRESULT GetLight(DWORD Index, D3DLIGHT9* pLight) override { return E_NOTIMPL; }
    HRESULT LightEnable(DWORD Index, BOOL Enable) override { return E_NOTIMPL; }
    HRESULT GetLightEnable(DWORD Index, BOOL* pEnable) override { return E_NOTIMPL; }
    HRESULT SetClipPlane(DWORD Index, const float* pPlane) override { return E_NOTIMPL; }
    HRESULT GetClipPlane(DWORD Index, float* pPlane) override { return E_NOTIMPL; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override { return E_NOTIMPL; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) override { return E_NOTIMPL; }
    HRESULT GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) override { return E_NOTIMPL; }
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override { return E_NOTIMPL; }
    HRESULT GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD* pValue) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type, DWORD Value) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override
    {
        return E_NOTIMPL;
    }
    HRESULT ValidateDevice(DWORD* pNumPasses) override { return E_NOTIMPL; }
    HRESULT SetScissorRect(const RECT* pRect) override { return E_NOTIMPL; }
    HRESULT GetScissorRect(RECT* pRect) override { return E_NOTIMPL; }
    HRESULT SetSoftwareVertexProcessing(BOOL bSoftware) override { return E_NOTIMPL; }
    BOOL GetSoftwareVertexProcessing() override { return {}; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override
    {
        return E_NOTIMPL;
    }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex, UINT MinVertexIndex,
                                 UINT NumVertices, UINT startIndex, UINT primCount) override
    {
        return E_NOTIMPL;
    }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                            const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override
    {
        return E_NOTIMPL;
    }
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT MinVertexIndex, UINT NumVertices,
                                   UINT PrimitiveCount, const void* pIndexData, D3DFORMAT IndexDataFormat,
                                   const void* pVertexStreamZeroData, UINT VertexStreamZeroStride) override
    {
        return E_NOTIMPL;
    }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* pVertexElements,
                                    IDirect3DVertexDeclaration9** ppDecl) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* pDecl) override { return E_NOTIMPL; }
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** ppDecl) override { return E_NOTIMPL; }
    HRESULT SetFVF(DWORD FVF) override { return E_NOTIMPL; }
    HRESULT GetFVF(DWORD* pFVF) override { return E_NOTIMPL; }
    HRESULT SetVertexShader(IDirect3DVertexShader9* pShader) override { return E_NOTIMPL; }
    HRESULT GetVertexShader(IDirect3DVertexShader9** ppShader) override { return E_NOTIMPL; }
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                            UINT Stride) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData, UINT* pOffsetInBytes,
                            UINT* pStride) override
    {
        return E_NOTIMPL;
    }
    HRESULT SetIndices(IDirect3DIndexBuffer9* pIndexData) override { return E_NOTIMPL; }
    HRESULT GetIndices(IDirect3DIndexBuffer9** ppIndexData) override { return E_NOTIMPL; }
    HRESULT SetPixelShader(IDirect3DPixelShader9* pShader) override { return E_NOTIMPL; }
    HRESULT GetPixelShader(IDirect3DPixelShader9** ppShader) override { return E_NOTIMPL; }

protected:
    virtual ~StubDevice() = default;
};

struct StubSurface : ComObject<IDirect3DSurface9>
{
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID refguid) override { return E_NOTIMPL; }
    DWORD SetPriority(DWORD PriorityNew) override { return {}; }
    DWORD GetPriority() override { return {}; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return {}; }
    HRESULT GetContainer(REFIID riid, void** ppContainer) override { return E_NOTIMPL; }
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override { return E_NOTIMPL; }
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT UnlockRect() override { return E_NOTIMPL; }
    HRESULT GetDC(HDC* phdc) override { return E_NOTIMPL; }
    HRESULT ReleaseDC(HDC hdc) override { return E_NOTIMPL; }

protected:
    virtual ~StubSurface() = default;
};

struct StubTexture : ComObject<IDirect3DTexture9>
{
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID refguid) override { return E_NOTIMPL; }
    DWORD SetPriority(DWORD PriorityNew) override { return {}; }
    DWORD GetPriority() override { return {}; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return {}; }
    DWORD SetLOD(DWORD LODNew) override { return {}; }
    DWORD GetLOD() override { return {}; }
    DWORD GetLevelCount() override { return {}; }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override { return E_NOTIMPL; }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return {}; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override { return E_NOTIMPL; }
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override { return E_NOTIMPL; }
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT UnlockRect(UINT Level) override { return E_NOTIMPL; }
    HRESULT AddDirtyRect(const RECT* pDirtyRect) override { return E_NOTIMPL; }

protected:
    virtual ~StubTexture() = default;
};

struct StubCubeTexture : ComObject<IDirect3DCubeTexture9>
{
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID refguid) override { return E_NOTIMPL; }
    DWORD SetPriority(DWORD PriorityNew) override { return {}; }
    DWORD GetPriority() override { return {}; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return {}; }
    DWORD SetLOD(DWORD LODNew) override { return {}; }
    DWORD GetLOD() override { return {}; }
    DWORD GetLevelCount() override { return {}; }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE FilterType) override { return E_NOTIMPL; }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return {}; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override { return E_NOTIMPL; }
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level,
                              IDirect3DSurface9** ppCubeMapSurface) override
    {
        return E_NOTIMPL;
    }
    HRESULT LockRect(D3DCUBEMAP_FACES FaceType, UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) override { return E_NOTIMPL; }
    HRESULT AddDirtyRect(D3DCUBEMAP_FACES FaceType, const RECT* pDirtyRect) override { return E_NOTIMPL; }

protected:
    virtual ~StubCubeTexture() = default;
};

struct StubVertexBuffer : ComObject<IDirect3DVertexBuffer9>
{
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID refguid) override { return E_NOTIMPL; }
    DWORD SetPriority(DWORD PriorityNew) override { return {}; }
    DWORD GetPriority() override { return {}; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return {}; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT Unlock() override { return E_NOTIMPL; }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override { return E_NOTIMPL; }

protected:
    virtual ~StubVertexBuffer() = default;
};

struct StubIndexBuffer : ComObject<IDirect3DIndexBuffer9>
{
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override { return E_NOTIMPL; }
    HRESULT SetPrivateData(REFGUID refguid, const void* pData, DWORD SizeOfData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT GetPrivateData(REFGUID refguid, void* pData, DWORD* pSizeOfData) override { return E_NOTIMPL; }
    HRESULT FreePrivateData(REFGUID refguid) override { return E_NOTIMPL; }
    DWORD SetPriority(DWORD PriorityNew) override { return {}; }
    DWORD GetPriority() override { return {}; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return {}; }
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override
    {
        return E_NOTIMPL;
    }
    HRESULT Unlock() override { return E_NOTIMPL; }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* pDesc) override { return E_NOTIMPL; }

protected:
    virtual ~StubIndexBuffer() = default;
};

} // namespace ferolt::test

#pragma GCC diagnostic pop
