// The framework's files.
#include "platform/mfc/afx_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

namespace
{
[[noreturn]] void ThrowLastError(const CString& fileName)
{
    DWORD error = GetLastError();
    AfxThrowFileException(CFileException::OsErrorToException(static_cast<LONG>(error)),
                          static_cast<LONG>(error), fileName);
}
} // namespace

CFile::CFile() : m_hFile(hFileNull) {}

CFile::CFile(HANDLE file) : m_hFile(file) {}

CFile::CFile(LPCSTR fileName, UINT openFlags) : m_hFile(hFileNull)
{
    CFileException error;
    if (!Open(fileName, openFlags, &error))
        AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
}

CFile::~CFile()
{
    if (m_hFile != hFileNull && m_bCloseOnDelete) Abort();
}

BOOL CFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error)
{
    if (m_hFile != hFileNull) Abort();
    m_strFileName = fileName;
    DWORD access = 0;
    switch (openFlags & 3)
    {
    case modeRead:
        access = GENERIC_READ;
        break;
    case modeWrite:
        access = GENERIC_WRITE;
        break;
    case modeReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        if (error)
            *error = CFileException(CFileException::genericException,
                                    static_cast<LONG>(ERROR_INVALID_PARAMETER), fileName);
        return FALSE;
    }
    DWORD creation = (openFlags & modeCreate) ? ((openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS)
                                              : OPEN_EXISTING;
    HANDLE file = CreateFileA(fileName, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        if (error)
        {
            DWORD code = GetLastError();
            *error = CFileException(CFileException::OsErrorToException(static_cast<LONG>(code)),
                                    static_cast<LONG>(code), fileName);
        }
        return FALSE;
    }
    m_hFile = file;
    m_bCloseOnDelete = TRUE;
    return TRUE;
}

UINT CFile::Read(void* buffer, UINT count)
{
    if (count == 0) return 0;
    DWORD got = 0;
    if (!ReadFile(m_hFile, buffer, count, &got, nullptr)) ThrowLastError(m_strFileName);
    return got;
}

void CFile::Write(const void* buffer, UINT count)
{
    if (count == 0) return;
    DWORD written = 0;
    if (!WriteFile(m_hFile, buffer, count, &written, nullptr)) ThrowLastError(m_strFileName);
    if (written != count) AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from)
{
    LARGE_INTEGER move{}, position{};
    move.QuadPart = offset;
    if (from > end || !SetFilePointerEx(m_hFile, move, &position, from))
    {
        if (from > end)
            AfxThrowFileException(CFileException::badSeek, static_cast<LONG>(ERROR_INVALID_PARAMETER),
                                  m_strFileName);
        ThrowLastError(m_strFileName);
    }
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetPosition() const
{
    LARGE_INTEGER move{}, position{};
    if (!SetFilePointerEx(m_hFile, move, &position, FILE_CURRENT)) ThrowLastError(m_strFileName);
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_hFile, &size)) ThrowLastError(m_strFileName);
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::SetLength(ULONGLONG newLength)
{
    ULONGLONG position = GetPosition();
    Seek(static_cast<LONGLONG>(newLength), begin);
    if (!SetEndOfFile(m_hFile)) ThrowLastError(m_strFileName);
    Seek(static_cast<LONGLONG>(std::min(position, newLength)), begin);
}

void CFile::Flush()
{
    if (m_hFile != hFileNull && !FlushFileBuffers(m_hFile)) ThrowLastError(m_strFileName);
}

void CFile::Close()
{
    BOOL ok = TRUE;
    if (m_hFile != hFileNull) ok = CloseHandle(m_hFile);
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
    if (!ok) ThrowLastError(m_strFileName);
}

void CFile::Abort()
{
    if (m_hFile != hFileNull) CloseHandle(m_hFile);
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
}

CString CFile::GetFileName() const
{
    int slash = std::max(m_strFileName.ReverseFind('\\'), m_strFileName.ReverseFind('/'));
    return m_strFileName.Mid(slash + 1);
}

// ---------------------------------------------------------------------------------------------------

CMemFile::CMemFile(UINT growBytes) : m_nGrowBytes(growBytes) {}

CMemFile::CMemFile(BYTE* buffer, UINT size, UINT growBytes) : m_nGrowBytes(growBytes)
{
    Attach(buffer, size, growBytes);
}

CMemFile::~CMemFile()
{
    Close();
}

void CMemFile::Attach(BYTE* buffer, UINT size, UINT growBytes)
{
    Close();
    m_lpBuffer = buffer;
    m_nBufferSize = buffer ? size : 0;
    m_nFileSize = growBytes == 0 ? m_nBufferSize : 0; // the original: a growable attached buffer starts empty
    m_nGrowBytes = growBytes;
    m_nPosition = 0;
    m_bAutoDelete = FALSE;
}

BYTE* CMemFile::Detach()
{
    BYTE* buffer = m_lpBuffer;
    m_lpBuffer = nullptr;
    m_nBufferSize = m_nFileSize = m_nPosition = 0;
    m_bAutoDelete = TRUE;
    return buffer;
}

void CMemFile::GrowFile(SIZE_T newLength)
{
    if (newLength <= m_nBufferSize) return;
    if (m_nGrowBytes == 0 || newLength > kMaxSize) AfxThrowMemoryException();
    SIZE_T step = m_nGrowBytes;
    SIZE_T size = std::min<SIZE_T>(kMaxSize, (newLength + step - 1) / step * step);
    SIZE_T kept = m_bAutoDelete ? m_nBufferSize : m_nFileSize; // bytes that carry over
    BYTE* grown = static_cast<BYTE*>(m_bAutoDelete ? realloc(m_lpBuffer, size) : malloc(size));
    if (!grown) AfxThrowMemoryException();
    if (!m_bAutoDelete && m_lpBuffer) memcpy(grown, m_lpBuffer, m_nFileSize);
    memset(grown + kept, 0, size - kept);
    m_lpBuffer = grown;
    m_nBufferSize = size;
    m_bAutoDelete = TRUE;
}

UINT CMemFile::Read(void* buffer, UINT count)
{
    if (count == 0 || m_nPosition >= m_nFileSize) return 0;
    if (!buffer)
        AfxThrowFileException(CFileException::genericException, static_cast<LONG>(ERROR_INVALID_PARAMETER));
    SIZE_T n = std::min<SIZE_T>(count, m_nFileSize - m_nPosition);
    memcpy(buffer, m_lpBuffer + m_nPosition, n);
    m_nPosition += n;
    return static_cast<UINT>(n);
}

void CMemFile::Write(const void* buffer, UINT count)
{
    if (count == 0) return;
    if (!buffer)
        AfxThrowFileException(CFileException::genericException, static_cast<LONG>(ERROR_INVALID_PARAMETER));
    if (count > kMaxSize - m_nPosition) AfxThrowMemoryException();
    SIZE_T endPosition = m_nPosition + count;
    GrowFile(endPosition);
    if (m_nPosition > m_nFileSize) // a gap left by seeking past the end reads as zeros
        memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
    memcpy(m_lpBuffer + m_nPosition, buffer, count);
    m_nPosition = endPosition;
    m_nFileSize = std::max(m_nFileSize, endPosition);
}

ULONGLONG CMemFile::Seek(LONGLONG offset, UINT from)
{
    LONGLONG base = from == begin     ? 0
                    : from == current ? static_cast<LONGLONG>(m_nPosition)
                    : from == end     ? static_cast<LONGLONG>(m_nFileSize)
                                      : -1;
    if (base < 0 || (offset < 0 && base + offset < 0) ||
        (offset > 0 && static_cast<ULONGLONG>(base) + static_cast<ULONGLONG>(offset) > kMaxSize))
        AfxThrowFileException(CFileException::badSeek);
    m_nPosition = static_cast<SIZE_T>(base + offset);
    return m_nPosition;
}

void CMemFile::SetLength(ULONGLONG newLength)
{
    if (newLength > kMaxSize) AfxThrowMemoryException();
    GrowFile(static_cast<SIZE_T>(newLength));
    if (newLength > m_nFileSize)
        memset(m_lpBuffer + m_nFileSize, 0, static_cast<SIZE_T>(newLength) - m_nFileSize);
    m_nFileSize = static_cast<SIZE_T>(newLength);
    m_nPosition = std::min<SIZE_T>(m_nPosition, m_nFileSize);
}

void CMemFile::Close()
{
    if (m_bAutoDelete) free(m_lpBuffer);
    m_lpBuffer = nullptr;
    m_nBufferSize = m_nFileSize = m_nPosition = 0;
    m_bAutoDelete = TRUE;
}
