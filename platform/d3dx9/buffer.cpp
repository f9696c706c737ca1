#include <cstring>
#include <new>

#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/d3dx9/mesh_internal.h"
#include "platform/win32/com_object.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::d3dx9
{
namespace
{
class Buffer final : public ComObject<ID3DXBuffer, IID_ID3DXBuffer>
{
public:
    explicit Buffer(DWORD size) : size_(size), data_(size ? new (std::nothrow) uint8_t[size]() : nullptr) {}
    bool Valid() const { return size_ == 0 || data_ != nullptr; }

    void* GetBufferPointer() override { return data_; }
    DWORD GetBufferSize() override { return size_; }

private:
    ~Buffer() override { delete[] data_; }
    DWORD size_;
    uint8_t* data_;
};
} // namespace

HRESULT CreateBufferFrom(const void* data, size_t size, ID3DXBuffer** out)
{
    if (!out) return Refuse("CreateBufferFrom.NullPointer");
    if (size > kMaxBufferBytes) return Refuse("CreateBufferFrom.OutOfRange");
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), out);
    if (FAILED(hr)) return hr;
    if (size) std::memcpy((*out)->GetBufferPointer(), data, size);
    return S_OK;
}
} // namespace ferolt::d3dx9

HRESULT D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer)
{
    if (!ppBuffer) return Refuse("D3DXCreateBuffer.NullPointer");
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
