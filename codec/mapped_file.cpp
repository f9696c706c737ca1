#include "codec/mapped_file.h"

#include "platform/win32/windows.h"

#include <cstdint>

CMappedFile::CMappedFile(LPCSTR path, bool openNow)
{
    if (openNow) Open(path);
}

bool CMappedFile::Open(LPCSTR path)
{
    if (!path) return false;
    Close();
    m_file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    if (m_file == INVALID_HANDLE_VALUE)
    {
        m_file = nullptr;
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_file, &size)) return false;
    m_sizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size.QuadPart) >> 32);
    m_sizeLow = static_cast<DWORD>(size.QuadPart);
    m_mapping = CreateFileMappingA(m_file, nullptr, PAGE_READONLY, m_sizeHigh, m_sizeLow, nullptr);
    if (!m_mapping) return false;
    m_view = MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, 0);
    return m_view != nullptr;
}

void CMappedFile::Close()
{
    if (m_view) UnmapViewOfFile(m_view);
    if (m_mapping) CloseHandle(m_mapping);
    if (m_file) CloseHandle(m_file);
    m_view = nullptr;
    m_mapping = nullptr;
    m_file = nullptr;
    m_sizeHigh = 0;
    m_sizeLow = 0;
}

size_t CMappedFile::GetSize() const
{
    return static_cast<size_t>((uint64_t{m_sizeHigh} << 32) | m_sizeLow);
}
