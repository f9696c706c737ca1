#pragma once
// Resource objects of the software device: surfaces, textures, cube textures, vertex and index
// buffers and vertex declarations.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/checks.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/validation.h"
#include "platform/win32/com_object.h"

namespace ferolt::d3d9
{
class Device;

// Shared between a device and its resources so that a resource outliving its device stays safe.
struct DeviceAnchor
{
    std::mutex mutex;
    Device* device = nullptr;
    std::atomic<int> defaultPoolResources{0};
};

// Draws what the anchor's device has recorded, before a resource's memory is read or written by a lock.
void FlushDeviceDraws(DeviceAnchor* anchor);

// Largest surface edge and buffer size accepted, whatever an adapter claims.
constexpr UINT kMaxSurfaceEdge = 16384;
constexpr UINT kMaxBufferBytes = 1u << 30;

// The device a resource was made by, referenced for the caller (GetDevice).
HRESULT AnchoredDevice(DeviceAnchor* anchor, IDirect3DDevice9** ppDevice);

// Private data attached to a resource by GUID (Set/Get/FreePrivateData).
class PrivateDataStore
{
public:
    HRESULT Set(REFGUID guid, const void* data, DWORD size, DWORD flags);
    HRESULT Get(REFGUID guid, void* data, DWORD* size) const;
    HRESULT Free(REFGUID guid);

private:
    std::map<std::vector<uint8_t>, std::vector<uint8_t>> entries_;
};

// Common parts of every resource: reference count, private data, the device link. Iids are the
// identifiers besides IID_IDirect3DResource9 that QueryInterface answers.
template <class Interface, IID... Iids>
class ResourceBase : public ComObject<Interface, IID_IDirect3DResource9, Iids...>
{
public:
    ResourceBase(std::shared_ptr<DeviceAnchor> anchor, D3DPOOL pool) : anchor_(std::move(anchor)), pool_(pool)
    {
        // The device refuses any other pool before a resource is made.
        FEROLT_D3D9_CHECK(pool_ <= D3DPOOL_SCRATCH);
        if (pool_ == D3DPOOL_DEFAULT && anchor_) ++anchor_->defaultPoolResources;
    }
    ~ResourceBase() override { StopCountingAsDefault(); }

    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override
    {
        return AnchoredDevice(anchor_.get(), ppDevice);
    }
    HRESULT SetPrivateData(REFGUID guid, const void* data, DWORD size, DWORD flags) override
    {
        return privateData_.Set(guid, data, size, flags);
    }
    HRESULT GetPrivateData(REFGUID guid, void* data, DWORD* size) override
    {
        return privateData_.Get(guid, data, size);
    }
    HRESULT FreePrivateData(REFGUID guid) override { return privateData_.Free(guid); }
    DWORD SetPriority(DWORD p) override
    {
        DWORD old = priority_;
        priority_ = p;
        return old;
    }
    DWORD GetPriority() override { return priority_; }
    void PreLoad() override {}

    D3DPOOL Pool() const { return pool_; }
    // Implicit surfaces of the device do not count as application resources in the default pool.
    void NotDefaultPoolResource() { StopCountingAsDefault(); }

protected:
    void StopCountingAsDefault()
    {
        if (pool_ == D3DPOOL_DEFAULT && anchor_ && countsAsDefault_)
        {
            // Below zero, a resource was uncounted twice and Reset would go ahead past a live one.
            [[maybe_unused]] const int left = --anchor_->defaultPoolResources;
            FEROLT_D3D9_CHECK(left >= 0);
        }
        countsAsDefault_ = false;
    }

    std::shared_ptr<DeviceAnchor> anchor_;
    D3DPOOL pool_;
    bool countsAsDefault_ = true;
    DWORD priority_ = 0;
    PrivateDataStore privateData_;
};

class Surface final : public ResourceBase<IDirect3DSurface9, IID_IDirect3DSurface9>
{
public:
    // A surface of a texture forwards its reference count to the container.
    Surface(std::shared_ptr<DeviceAnchor> anchor, const D3DSURFACE_DESC& desc, IUnknown* container,
            bool lockable);
    static Surface* Create(std::shared_ptr<DeviceAnchor> anchor, const D3DSURFACE_DESC& desc,
                           IUnknown* container, bool lockable);

    ULONG AddRef() override;
    ULONG Release() override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetContainer(REFIID riid, void** ppContainer) override;
    HRESULT GetDesc(D3DSURFACE_DESC* pDesc) override;
    HRESULT LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect() override;
    HRESULT GetDC(HDC* phdc) override;
    HRESULT ReleaseDC(HDC hdc) override;

    const D3DSURFACE_DESC& Desc() const { return desc_; }
    const FormatInfo& Info() const { return *info_; }
    int Width() const { return static_cast<int>(desc_.Width); }
    int Height() const { return static_cast<int>(desc_.Height); }
    size_t Pitch() const { return pitch_; }
    uint8_t* Bits() { return bits_.data(); }
    const uint8_t* Bits() const { return bits_.data(); }
    uint8_t* Row(int y) { return bits_.data() + pitch_ * static_cast<size_t>(y); }
    // Depth surfaces: one quantised depth and one stencil byte per pixel.
    uint32_t* DepthPlane() { return depth_.data(); }
    uint8_t* StencilPlane() { return stencil_.data(); }
    bool IsLocked() const { return locked_; }
    IUnknown* Container() const { return container_; }

private:
    D3DSURFACE_DESC desc_;
    const FormatInfo* info_;
    IUnknown* container_;
    bool lockable_;
    bool locked_ = false;
    size_t pitch_ = 0;
    std::vector<uint8_t> bits_;
    std::vector<uint32_t> depth_;
    std::vector<uint8_t> stencil_;
};

// Number of levels of a full chain down to 1 x 1.
UINT FullChainLevels(UINT width, UINT height);

class Texture final : public ResourceBase<IDirect3DTexture9, IID_IDirect3DTexture9, IID_IDirect3DBaseTexture9>
{
public:
    static HRESULT Create(std::shared_ptr<DeviceAnchor> anchor, UINT width, UINT height, UINT levels,
                          DWORD usage, D3DFORMAT format, D3DPOOL pool, Texture** out);
    ~Texture();

    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD SetLOD(DWORD lod) override;
    DWORD GetLOD() override { return lod_; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE f) override;
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return autoGenFilter_; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;
    HRESULT AddDirtyRect(const RECT*) override { return D3D_OK; }

    Surface* Level(UINT i) const { return i < levels_.size() ? levels_[i] : nullptr; }
    DWORD Lod() const { return lod_; }
    UINT Levels() const { return static_cast<UINT>(levels_.size()); }

private:
    using ResourceBase::ResourceBase;
    std::vector<Surface*> levels_;
    DWORD lod_ = 0;
    D3DTEXTUREFILTERTYPE autoGenFilter_ = D3DTEXF_LINEAR;
};

class CubeTexture final
    : public ResourceBase<IDirect3DCubeTexture9, IID_IDirect3DCubeTexture9, IID_IDirect3DBaseTexture9>
{
public:
    static HRESULT Create(std::shared_ptr<DeviceAnchor> anchor, UINT edge, UINT levels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, CubeTexture** out);
    ~CubeTexture();

    D3DRESOURCETYPE GetType() override { return D3DRTYPE_CUBETEXTURE; }
    DWORD SetLOD(DWORD lod) override;
    DWORD GetLOD() override { return lod_; }
    DWORD GetLevelCount() override { return levels_; }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) override { return D3D_OK; }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return D3DTEXF_LINEAR; }
    void GenerateMipSubLevels() override {}
    HRESULT GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) override;
    HRESULT GetCubeMapSurface(D3DCUBEMAP_FACES FaceType, UINT Level,
                              IDirect3DSurface9** ppCubeMapSurface) override;
    HRESULT LockRect(D3DCUBEMAP_FACES FaceType, UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                     DWORD Flags) override;
    HRESULT UnlockRect(D3DCUBEMAP_FACES FaceType, UINT Level) override;
    HRESULT AddDirtyRect(D3DCUBEMAP_FACES, const RECT*) override { return D3D_OK; }

    Surface* Face(UINT face, UINT level) const
    {
        return face < 6 && level < levels_ ? faces_[face * levels_ + level] : nullptr;
    }
    UINT Levels() const { return levels_; }
    DWORD Lod() const { return lod_; }

private:
    using ResourceBase::ResourceBase;
    UINT levels_ = 0;
    std::vector<Surface*> faces_;
    DWORD lod_ = 0;
};

// Storage of a vertex or index buffer.
template <class Interface, IID Iid> class Buffer : public ResourceBase<Interface, Iid>
{
public:
    Buffer(std::shared_ptr<DeviceAnchor> anchor, D3DPOOL pool, UINT size, DWORD usage)
        : ResourceBase<Interface, Iid>(std::move(anchor), pool), data_(size), usage_(usage)
    {
    }
    HRESULT Lock(UINT offset, UINT size, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override
    {
        if (lockCount_ == 0) return validation::Refuse("Buffer.Unlock.NotLocked");
        --lockCount_;
        return D3D_OK;
    }
    const uint8_t* Data() const { return data_.data(); }
    size_t Size() const { return data_.size(); }

protected:
    std::vector<uint8_t> data_;
    DWORD usage_;
    int lockCount_ = 0;
};

class VertexBuffer final : public Buffer<IDirect3DVertexBuffer9, IID_IDirect3DVertexBuffer9>
{
public:
    VertexBuffer(std::shared_ptr<DeviceAnchor> anchor, D3DPOOL pool, UINT size, DWORD usage, DWORD fvf)
        : Buffer(std::move(anchor), pool, size, usage), fvf_(fvf)
    {
    }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* pDesc) override;

private:
    DWORD fvf_;
};

class IndexBuffer final : public Buffer<IDirect3DIndexBuffer9, IID_IDirect3DIndexBuffer9>
{
public:
    IndexBuffer(std::shared_ptr<DeviceAnchor> anchor, D3DPOOL pool, UINT size, DWORD usage, D3DFORMAT format)
        : Buffer(std::move(anchor), pool, size, usage), format_(format)
    {
    }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* pDesc) override;
    D3DFORMAT Format() const { return format_; }

private:
    D3DFORMAT format_;
};

class VertexDeclaration final : public ComObject<IDirect3DVertexDeclaration9, IID_IDirect3DVertexDeclaration9>
{
public:
    VertexDeclaration(std::shared_ptr<DeviceAnchor> anchor, std::vector<D3DVERTEXELEMENT9> elements)
        : anchor_(std::move(anchor)), elements_(std::move(elements))
    {
    }
    HRESULT GetDevice(IDirect3DDevice9** ppDevice) override;
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements) override;
    // Elements without the terminating D3DDECL_END.
    const std::vector<D3DVERTEXELEMENT9>& Elements() const { return elements_; }

private:
    std::shared_ptr<DeviceAnchor> anchor_;
    std::vector<D3DVERTEXELEMENT9> elements_;
};

// Clips a rectangle to a surface; false when the rectangle is invalid or outside.
bool ClipLockRect(const RECT* r, UINT width, UINT height, RECT* out);
} // namespace ferolt::d3d9
