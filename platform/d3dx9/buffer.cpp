#include <atomic>
#include <cstring>
#include <new>

#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/d3dx9/mesh_internal.h"

namespace ferolt::d3dx9
{
namespace
{
class Buffer final : public ID3DXBuffer
{
public:
    explicit Buffer(DWORD size) : size_(size), data_(size ? new (std::nothrow) uint8_t[size]() : nullptr) {}
    bool Valid() const { return size_ == 0 || data_ != nullptr; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ID3DXBuffer)
        {
            AddRef();
            *ppv = static_cast<ID3DXBuffer*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    void* GetBufferPointer() override { return data_; }
    DWORD GetBufferSize() override { return size_; }

private:
    ~Buffer() { delete[] data_; }
    std::atomic<ULONG> refs_{1};
    DWORD size_;
    uint8_t* data_;
};
} // namespace

HRESULT CreateBufferFrom(const void* data, size_t size, ID3DXBuffer** out)
{
    if (!out || size > kMaxBufferBytes) return D3DERR_INVALIDCALL;
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), out);
    if (FAILED(hr)) return hr;
    if (size) std::memcpy((*out)->GetBufferPointer(), data, size);
    return S_OK;
}
} // namespace ferolt::d3dx9

HRESULT D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer)
{
    if (!ppBuffer) return D3DERR_INVALIDCALL;
    *ppBuffer = nullptr;
    if (NumBytes > ferolt::d3dx9::kMaxBufferBytes) return E_OUTOFMEMORY;
    auto* b = new (std::nothrow) ferolt::d3dx9::Buffer(NumBytes);
    if (!b) return E_OUTOFMEMORY;
    if (!b->Valid())
    {
        b->Release();
        return E_OUTOFMEMORY;
    }
    *ppBuffer = b;
    return S_OK;
}
