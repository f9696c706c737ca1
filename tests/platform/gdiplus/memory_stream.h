#pragma once
// A read-only IStream over bytes, for feeding GDI+ in tests; counts reads so a test can see the
// decoder consumed the stream from its position.
#include "platform/gdiplus/gdiplus.h"
#include "platform/win32/com_object.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ferolt::gdiplus::test
{
// Lives on the test's stack: the test holds the first reference, so a decoder that releases more than
// it adds deletes a stack object and the sanitizers report it.
class MemoryStream final : public ComObject<IStream>
{
public:
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    ~MemoryStream() override = default;

    HRESULT Read(void* buffer, ULONG count, ULONG* read) override
    {
        if (failReads_) return E_FAIL;
        const size_t n = std::min<size_t>(count, bytes_.size() - pos_);
        if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        if (read) *read = ULONG(n);
        return S_OK;
    }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override
    {
        const int64_t base = origin == 0 ? 0 : origin == 1 ? int64_t(pos_) : int64_t(bytes_.size());
        const int64_t target = base + move.QuadPart;
        if (target < 0 || target > int64_t(bytes_.size())) return E_FAIL;
        pos_ = size_t(target);
        if (newPos) newPos->QuadPart = pos_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return S_OK; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return S_OK; }
    HRESULT Stat(STATSTG* stat, DWORD) override
    {
        std::memset(stat, 0, sizeof(*stat));
        stat->type = 3;
        stat->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }
    HRESULT Clone(IStream** out) override
    {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    size_t Position() const { return pos_; }
    void FailReads() { failReads_ = true; }

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
    bool failReads_ = false;
};
} // namespace ferolt::gdiplus::test
