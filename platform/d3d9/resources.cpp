#include "platform/d3d9/resources.h"

#include <algorithm>
#include <cstring>

#include "platform/d3d9/device.h"
#include "platform/win32/out_of_memory.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::d3d9
{
namespace
{
std::vector<uint8_t> GuidKey(REFGUID g)
{
    std::vector<uint8_t> k(sizeof(GUID));
    std::memcpy(k.data(), &g, sizeof(GUID));
    return k;
}
} // namespace

// ---- ResourceBase
// ------------------------------------------------------------------------------------------
HRESULT AnchoredDevice(DeviceAnchor* anchor, IDirect3DDevice9** ppDevice)
{
    if (!ppDevice) return Refuse("ResourceBase.GetDevice.NullPointer");
    *ppDevice = nullptr;
    if (!anchor) return Refuse("ResourceBase.GetDevice.NoDevice");
    std::lock_guard<std::mutex> lock(anchor->mutex);
    if (!anchor->device) return Refuse("ResourceBase.GetDevice.DeviceGone");
    anchor->device->AddRef();
    *ppDevice = anchor->device;
    return D3D_OK;
}

HRESULT PrivateDataStore::Set(REFGUID guid, const void* data, DWORD size, DWORD flags)
{
    if (!data && size) return Refuse("ResourceBase.SetPrivateData.NullData");
    if (flags != 0)
        return Refuse("ResourceBase.SetPrivateData.InterfaceData"); // interface-pointer data is not kept
    auto* p = static_cast<const uint8_t*>(data);
    entries_[GuidKey(guid)] = std::vector<uint8_t>(p, p + size);
    return D3D_OK;
}

HRESULT PrivateDataStore::Get(REFGUID guid, void* data, DWORD* size) const
{
    if (!size) return Refuse("ResourceBase.GetPrivateData.NullPointer");
    auto it = entries_.find(GuidKey(guid));
    if (it == entries_.end()) return D3DERR_NOTFOUND;
    DWORD need = static_cast<DWORD>(it->second.size());
    if (!data || *size < need)
    {
        *size = need;
        return data ? D3DERR_MOREDATA : D3D_OK;
    }
    if (need) std::memcpy(data, it->second.data(), need);
    *size = need;
    return D3D_OK;
}

HRESULT PrivateDataStore::Free(REFGUID guid)
{
    return entries_.erase(GuidKey(guid)) ? D3D_OK : D3DERR_NOTFOUND;
}

bool ClipLockRect(const RECT* r, UINT width, UINT height, RECT* out)
{
    if (!r)
    {
        *out = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
        return true;
    }
    if (r->left < 0 || r->top < 0 || r->left >= r->right || r->top >= r->bottom ||
        r->right > static_cast<LONG>(width) || r->bottom > static_cast<LONG>(height))
        return false;
    *out = *r;
    return true;
}

UINT FullChainLevels(UINT width, UINT height)
{
    UINT levels = 1;
    while (width > 1 || height > 1)
    {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++levels;
    }
    return levels;
}

// ---- Surface
// -----------------------------------------------------------------------------------------------
Surface::Surface(std::shared_ptr<DeviceAnchor> anchor, const D3DSURFACE_DESC& desc, IUnknown* container,
                 bool lockable)
    : ResourceBase(std::move(anchor), container ? D3DPOOL_SCRATCH : desc.Pool), desc_(desc),
      info_(&GetFormatInfo(desc.Format)), container_(container), lockable_(lockable)
{
    // The container's pool is what counts; a level is not counted twice.
    pool_ = desc.Pool;
    countsAsDefault_ = container == nullptr;
    // Surface::Create and the texture arguments check hold these: render targets and depth buffers live in
    // the default pool, and every surface has texels.
    FEROLT_D3D9_CHECK(!(desc.Usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) ||
                      desc.Pool == D3DPOOL_DEFAULT);
    FEROLT_D3D9_CHECK(info_->bytes > 0 && desc.Width > 0 && desc.Height > 0);
    size_t pixels = static_cast<size_t>(desc.Width) * desc.Height;
    if (info_->depth)
    {
        depth_.assign(pixels, DepthMax(*info_));
        stencil_.assign(pixels, 0);
    }
    else
    {
        pitch_ = (static_cast<size_t>(desc.Width) * info_->bytes + 3) & ~size_t(3);
        bits_.assign(pitch_ * desc.Height, 0);
    }
}

Surface* Surface::Create(std::shared_ptr<DeviceAnchor> anchor, const D3DSURFACE_DESC& desc,
                         IUnknown* container, bool lockable)
{
    const FormatInfo& info = GetFormatInfo(desc.Format);
    if (info.bytes == 0 || desc.Width == 0 || desc.Height == 0 || desc.Width > kMaxSurfaceEdge ||
        desc.Height > kMaxSurfaceEdge)
        return nullptr;
    return CatchOutOfMemory<Surface*>(nullptr, [&]
                                      { return new Surface(std::move(anchor), desc, container, lockable); });
}

ULONG Surface::AddRef()
{
    return container_ ? container_->AddRef() : ResourceBase::AddRef();
}

ULONG Surface::Release()
{
    return container_ ? container_->Release() : ResourceBase::Release();
}

HRESULT Surface::GetContainer(REFIID riid, void** ppContainer)
{
    if (!ppContainer) return Refuse("Surface.GetContainer.NullPointer");
    *ppContainer = nullptr;
    if (container_) return container_->QueryInterface(riid, ppContainer);
    // A surface without a texture belongs to its device.
    IDirect3DDevice9* device = nullptr;
    if (FAILED(GetDevice(&device))) return E_NOINTERFACE;
    HRESULT hr = device->QueryInterface(riid, ppContainer);
    device->Release();
    return hr;
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* pDesc)
{
    if (!pDesc) return Refuse("Surface.GetDesc.NullPointer");
    *pDesc = desc_;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD)
{
    FlushDeviceDraws(anchor_.get());
    if (!pLockedRect) return Refuse("Surface.LockRect.NullPointer");
    pLockedRect->pBits = nullptr;
    pLockedRect->Pitch = 0;
    if (info_->depth) return Refuse("Surface.LockRect.DepthSurface");
    if (!lockable_) return Refuse("Surface.LockRect.NotLockable");
    if (locked_) return Refuse("Surface.LockRect.Locked");
    RECT r;
    if (!ClipLockRect(pRect, desc_.Width, desc_.Height, &r)) return Refuse("Surface.LockRect.RectOutside");
    locked_ = true;
    pLockedRect->Pitch = static_cast<INT>(pitch_);
    pLockedRect->pBits = bits_.data() + pitch_ * r.top + static_cast<size_t>(r.left) * info_->bytes;
    return D3D_OK;
}

HRESULT Surface::UnlockRect()
{
    if (!locked_) return Refuse("Surface.UnlockRect.NotLocked");
    locked_ = false;
    return D3D_OK;
}

HRESULT Surface::GetDC(HDC*)
{
    FlushDeviceDraws(anchor_.get());
    return Refuse("Surface.GetDC.NotSupported");
}

HRESULT Surface::ReleaseDC(HDC)
{
    return Refuse("Surface.ReleaseDC.NotSupported");
}

// ---- Texture
// -----------------------------------------------------------------------------------------------
namespace
{
// The id of each rule a texture's arguments can break, per kind of texture.
struct TextureRules
{
    const char* zeroSize;
    const char* tooLarge;
    const char* notTextureFormat;
    const char* notRenderTargetFormat;
    const char* renderTargetNotDefaultPool;
    const char* depthStencilUsage;
    const char* badPool;
};
constexpr TextureRules kTextureRules = {
    "Texture.Create.ZeroSize",
    "Texture.Create.TooLarge",
    "Texture.Create.NotTextureFormat",
    "Texture.Create.NotRenderTargetFormat",
    "Texture.Create.RenderTargetNotDefaultPool",
    "Texture.Create.DepthStencilUsage",
    "Texture.Create.BadPool",
};
constexpr TextureRules kCubeTextureRules = {
    "CubeTexture.Create.ZeroSize",
    "CubeTexture.Create.TooLarge",
    "CubeTexture.Create.NotTextureFormat",
    "CubeTexture.Create.NotRenderTargetFormat",
    "CubeTexture.Create.RenderTargetNotDefaultPool",
    "CubeTexture.Create.DepthStencilUsage",
    "CubeTexture.Create.BadPool",
};

// The rule the arguments break, nullptr when a texture can be made from them.
const char* BrokenTextureRule(UINT width, UINT height, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              const TextureRules& rules)
{
    const FormatInfo& info = GetFormatInfo(format);
    if (width == 0 || height == 0) return rules.zeroSize;
    if (width > kMaxSurfaceEdge || height > kMaxSurfaceEdge) return rules.tooLarge;
    if (!info.texture || info.bytes == 0) return rules.notTextureFormat;
    if (usage & D3DUSAGE_RENDERTARGET)
    {
        if (!info.renderTarget) return rules.notRenderTargetFormat;
        if (pool != D3DPOOL_DEFAULT) return rules.renderTargetNotDefaultPool;
    }
    if (usage & D3DUSAGE_DEPTHSTENCIL) return rules.depthStencilUsage;
    return pool <= D3DPOOL_SCRATCH ? nullptr : rules.badPool;
}
} // namespace

HRESULT Texture::Create(std::shared_ptr<DeviceAnchor> anchor, UINT width, UINT height, UINT levels,
                        DWORD usage, D3DFORMAT format, D3DPOOL pool, Texture** out)
{
    *out = nullptr;
    if (const char* rule = BrokenTextureRule(width, height, usage, format, pool, kTextureRules))
        return Refuse(rule);
    UINT full = FullChainLevels(width, height);
    if (levels == 0 || levels > full) levels = full;
    if (usage & D3DUSAGE_AUTOGENMIPMAP) levels = 1;
    auto* tex = CatchOutOfMemory<Texture*>(nullptr, [&] { return new Texture(anchor, pool); });
    if (!tex) return E_OUTOFMEMORY;
    // Room for every level first, so that adding one cannot throw past the half-built texture.
    if (!Allocated([&] { tex->levels_.reserve(levels); }))
    {
        tex->Release();
        return E_OUTOFMEMORY;
    }
    D3DSURFACE_DESC d{};
    d.Format = format;
    d.Type = D3DRTYPE_SURFACE;
    d.Usage = usage;
    d.Pool = pool;
    for (UINT i = 0; i < levels; ++i)
    {
        d.Width = std::max(1u, width >> i);
        d.Height = std::max(1u, height >> i);
        Surface* s = Surface::Create(anchor, d, tex, true);
        if (!s)
        {
            tex->Release();
            return E_OUTOFMEMORY;
        }
        tex->levels_.push_back(s);
    }
    *out = tex;
    return D3D_OK;
}

Texture::~Texture()
{
    for (Surface* s : levels_)
        delete s;
}

DWORD Texture::SetLOD(DWORD lod)
{
    DWORD old = lod_;
    if (pool_ == D3DPOOL_MANAGED) lod_ = std::min<DWORD>(lod, Levels() - 1);
    return old;
}

HRESULT Texture::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE f)
{
    if (f == D3DTEXF_NONE) return Refuse("Texture.SetAutoGenFilterType.Invalid");
    autoGenFilter_ = f;
    return D3D_OK;
}

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* pDesc)
{
    if (!pDesc) return Refuse("Texture.GetLevelDesc.NullPointer");
    if (level >= levels_.size()) return Refuse("Texture.GetLevelDesc.OutOfRange");
    *pDesc = levels_[level]->Desc();
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** pp)
{
    if (!pp) return Refuse("Texture.GetSurfaceLevel.NullPointer");
    *pp = nullptr;
    if (level >= levels_.size()) return Refuse("Texture.GetSurfaceLevel.OutOfRange");
    *pp = levels_[level];
    AddRef();
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD flags)
{
    FlushDeviceDraws(anchor_.get());
    if (level >= levels_.size()) return Refuse("Texture.LockRect.OutOfRange");
    return levels_[level]->LockRect(pLockedRect, pRect, flags);
}

HRESULT Texture::UnlockRect(UINT level)
{
    if (level >= levels_.size()) return Refuse("Texture.UnlockRect.OutOfRange");
    return levels_[level]->UnlockRect();
}

// ---- CubeTexture
// -------------------------------------------------------------------------------------------
HRESULT CubeTexture::Create(std::shared_ptr<DeviceAnchor> anchor, UINT edge, UINT levels, DWORD usage,
                            D3DFORMAT format, D3DPOOL pool, CubeTexture** out)
{
    *out = nullptr;
    if (const char* rule = BrokenTextureRule(edge, edge, usage, format, pool, kCubeTextureRules))
        return Refuse(rule);
    UINT full = FullChainLevels(edge, edge);
    if (levels == 0 || levels > full) levels = full;
    auto* tex = CatchOutOfMemory<CubeTexture*>(nullptr, [&] { return new CubeTexture(anchor, pool); });
    if (!tex) return E_OUTOFMEMORY;
    if (!Allocated([&] { tex->faces_.reserve(size_t(levels) * 6); }))
    {
        tex->Release();
        return E_OUTOFMEMORY;
    }
    tex->levels_ = levels;
    D3DSURFACE_DESC d{};
    d.Format = format;
    d.Type = D3DRTYPE_SURFACE;
    d.Usage = usage;
    d.Pool = pool;
    for (UINT f = 0; f < 6; ++f)
        for (UINT i = 0; i < levels; ++i)
        {
            d.Width = d.Height = std::max(1u, edge >> i);
            Surface* s = Surface::Create(anchor, d, tex, true);
            if (!s)
            {
                tex->Release();
                return E_OUTOFMEMORY;
            }
            tex->faces_.push_back(s);
        }
    *out = tex;
    return D3D_OK;
}

CubeTexture::~CubeTexture()
{
    for (Surface* s : faces_)
        delete s;
}

DWORD CubeTexture::SetLOD(DWORD lod)
{
    DWORD old = lod_;
    if (pool_ == D3DPOOL_MANAGED) lod_ = std::min<DWORD>(lod, levels_ - 1);
    return old;
}

HRESULT CubeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* pDesc)
{
    if (!pDesc) return Refuse("CubeTexture.GetLevelDesc.NullPointer");
    if (level >= levels_) return Refuse("CubeTexture.GetLevelDesc.OutOfRange");
    *pDesc = faces_[level]->Desc();
    return D3D_OK;
}

HRESULT CubeTexture::GetCubeMapSurface(D3DCUBEMAP_FACES face, UINT level, IDirect3DSurface9** pp)
{
    if (!pp) return Refuse("CubeTexture.GetCubeMapSurface.NullPointer");
    *pp = nullptr;
    Surface* s = Face(face, level);
    if (!s) return Refuse("CubeTexture.GetCubeMapSurface.NoSuchFace");
    *pp = s;
    AddRef();
    return D3D_OK;
}

HRESULT CubeTexture::LockRect(D3DCUBEMAP_FACES face, UINT level, D3DLOCKED_RECT* pLockedRect,
                              const RECT* pRect, DWORD flags)
{
    FlushDeviceDraws(anchor_.get());
    Surface* s = Face(face, level);
    return s ? s->LockRect(pLockedRect, pRect, flags) : Refuse("CubeTexture.LockRect.NoSuchFace");
}

HRESULT CubeTexture::UnlockRect(D3DCUBEMAP_FACES face, UINT level)
{
    Surface* s = Face(face, level);
    return s ? s->UnlockRect() : Refuse("CubeTexture.UnlockRect.NoSuchFace");
}

// ---- Buffers
// -----------------------------------------------------------------------------------------------
template <class I, IID Iid> HRESULT Buffer<I, Iid>::Lock(UINT offset, UINT size, void** ppbData, DWORD)
{
    FlushDeviceDraws(this->anchor_.get());
    if (!ppbData) return Refuse("Buffer.Lock.NullPointer");
    *ppbData = nullptr;
    if (offset > data_.size()) return Refuse("Buffer.Lock.OffsetPastEnd");
    // Size 0 locks the whole buffer; a range past the end is refused rather than handed out.
    if (size != 0 && static_cast<size_t>(offset) + size > data_.size())
        return Refuse("Buffer.Lock.RangePastEnd");
    *ppbData = data_.data() + offset;
    ++lockCount_;
    return D3D_OK;
}
template class Buffer<IDirect3DVertexBuffer9, IID_IDirect3DVertexBuffer9>;
template class Buffer<IDirect3DIndexBuffer9, IID_IDirect3DIndexBuffer9>;

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* d)
{
    if (!d) return Refuse("VertexBuffer.GetDesc.NullPointer");
    d->Format = D3DFMT_VERTEXDATA;
    d->Type = D3DRTYPE_VERTEXBUFFER;
    d->Usage = usage_;
    d->Pool = pool_;
    d->Size = static_cast<UINT>(data_.size());
    d->FVF = fvf_;
    return D3D_OK;
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* d)
{
    if (!d) return Refuse("IndexBuffer.GetDesc.NullPointer");
    d->Format = format_;
    d->Type = D3DRTYPE_INDEXBUFFER;
    d->Usage = usage_;
    d->Pool = pool_;
    d->Size = static_cast<UINT>(data_.size());
    return D3D_OK;
}

// ---- VertexDeclaration
// -------------------------------------------------------------------------------------
HRESULT VertexDeclaration::GetDevice(IDirect3DDevice9** ppDevice)
{
    if (!ppDevice) return Refuse("VertexDeclaration.GetDevice.NullPointer");
    *ppDevice = nullptr;
    std::lock_guard<std::mutex> lock(anchor_->mutex);
    if (!anchor_->device) return Refuse("VertexDeclaration.GetDevice.DeviceGone");
    anchor_->device->AddRef();
    *ppDevice = anchor_->device;
    return D3D_OK;
}

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* pElement, UINT* pNumElements)
{
    if (!pNumElements) return Refuse("VertexDeclaration.GetDeclaration.NullPointer");
    UINT n = static_cast<UINT>(elements_.size()) + 1; // with the end marker
    if (pElement)
    {
        // The caller's array holds up to MAXD3DDECLLENGTH + 1 elements, as documented.
        std::copy(elements_.begin(), elements_.end(), pElement);
        pElement[n - 1] = D3DVERTEXELEMENT9 D3DDECL_END();
    }
    *pNumElements = n;
    return D3D_OK;
}
} // namespace ferolt::d3d9
