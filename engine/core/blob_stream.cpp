#include "engine/core/blob_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

CSimpleBlobStream::CSimpleBlobStream(const void* data, DWORD size, bool ownsData)
    : data_(static_cast<const BYTE*>(data)), size_(data ? size : 0), ownsData_(ownsData ? 1 : 0)
{
}

CSimpleBlobStream::~CSimpleBlobStream()
{
    if (ownsData_) std::free(const_cast<BYTE*>(data_));
}

HRESULT CSimpleBlobStream::QueryInterface(REFIID riid, void** object)
{
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStream) ||
        IsEqualIID(riid, IID_ISequentialStream))
    {
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CSimpleBlobStream::AddRef()
{
    return ++refCount_;
}

ULONG CSimpleBlobStream::Release()
{
    if (refCount_ > 1) return --refCount_;
    delete this;
    return 0;
}

HRESULT CSimpleBlobStream::Read(void* buffer, ULONG count, ULONG* read)
{
    if (!buffer) return E_INVALIDARG;
    const DWORD n = std::min<DWORD>(count, size_ - position_);
    if (n) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    if (read) *read = n;
    return S_OK;
}

HRESULT CSimpleBlobStream::Write(const void*, ULONG, ULONG*)
{
    return S_OK;
}

HRESULT CSimpleBlobStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition)
{
    const DWORD offset = move.LowPart;
    DWORD target = 0;
    switch (origin)
    {
    case STREAM_SEEK_SET:
        target = offset;
        break;
    case STREAM_SEEK_CUR:
        target = position_ + offset;
        break;
    case STREAM_SEEK_END:
        target = size_ + offset;
        break;
    default:
        target = 0;
        break;
    }
    HRESULT hr = S_OK;
    if (target > size_)
        hr = E_FAIL;
    else
        position_ = target;
    if (newPosition) newPosition->QuadPart = position_;
    return hr;
}

HRESULT CSimpleBlobStream::SetSize(ULARGE_INTEGER)
{
    return S_OK;
}

HRESULT CSimpleBlobStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*)
{
    return S_OK;
}

HRESULT CSimpleBlobStream::Commit(DWORD)
{
    return S_OK;
}

HRESULT CSimpleBlobStream::Revert()
{
    return S_OK;
}

HRESULT CSimpleBlobStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return S_OK;
}

HRESULT CSimpleBlobStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return S_OK;
}

HRESULT CSimpleBlobStream::Stat(STATSTG* statstg, DWORD)
{
    if (!statstg) return E_INVALIDARG;
    std::memset(statstg, 0, sizeof(*statstg));
    statstg->type = STGTY_LOCKBYTES;
    statstg->cbSize.QuadPart = size_;
    return S_OK;
}

HRESULT CSimpleBlobStream::Clone(IStream** stream)
{
    if (stream) *stream = nullptr;
    return E_NOTIMPL;
}
