#pragma once
// A read-only view of a whole file, through which the viewer hands a file to the codec.
#include "platform/win32/windef.h"

#include <cstddef>

class CMappedFile
{
public:
    CMappedFile() = default;
    CMappedFile(LPCSTR path, bool openNow);
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;
    ~CMappedFile() { Close(); }

    // False for a null path, a missing or empty file, or one that cannot be mapped; what was opened
    // stays until Close.
    bool Open(LPCSTR path);
    void Close();
    // The whole size: files of 4 GiB and more are not cut to their low 32 bits.
    size_t GetSize() const;
    const BYTE* GetData() const { return static_cast<const BYTE*>(m_view); }

private:
    HANDLE m_file = nullptr;
    HANDLE m_mapping = nullptr;
    LPVOID m_view = nullptr;
    DWORD m_sizeHigh = 0;
    DWORD m_sizeLow = 0;
};
