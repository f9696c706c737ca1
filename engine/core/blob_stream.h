#pragma once
// The engine's read-only stream over image bytes, which exists only to hand those bytes to GDI+.
// Positions and offsets are 32-bit; writing, locking and committing are accepted and do nothing.
#include "platform/win32/objidl.h"

class CSimpleBlobStream final : public IStream
{
public:
    // One reference. With ownsData the bytes are freed (free) with the stream; the engine always
    // passes false and keeps the bytes itself.
    CSimpleBlobStream(const void* data, DWORD size, bool ownsData = false);
    CSimpleBlobStream(const CSimpleBlobStream&) = delete;
    CSimpleBlobStream& operator=(const CSimpleBlobStream&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;
    // Only the low 32 bits of the offset count, added with 32-bit wrap-around, so a negative offset
    // moves back. A target past the end fails and keeps the position; both report the position.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                         DWORD lockType) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                           DWORD lockType) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* statstg, DWORD flags) override;
    // No clone is made: E_NOTIMPL with a null stream.
    HRESULT STDMETHODCALLTYPE Clone(IStream** stream) override;

    DWORD Position() const { return position_; }

private:
    ~CSimpleBlobStream() override;

    const BYTE* data_;
    DWORD size_;
    DWORD position_ = 0;
    DWORD refCount_ = 1;
    DWORD ownsData_;
};
