// The framework's exceptions.
#include "platform/mfc/afx_exception.h"

#include "platform/win32/winbase.h"

#include <cstdio>

namespace
{
BOOL CopyMessage(const char* text, LPSTR error, UINT maxLength, PUINT helpContext)
{
    if (helpContext) *helpContext = 0;
    if (!error || maxLength == 0) return FALSE;
    snprintf(error, maxLength, "%s", text);
    return TRUE;
}
} // namespace

void CException::Delete()
{
    if (m_bAutoDelete) delete this;
}

BOOL CException::GetErrorMessage(LPSTR error, UINT maxLength, PUINT helpContext) const
{
    if (helpContext) *helpContext = 0;
    if (error && maxLength) error[0] = '\0';
    return FALSE;
}

BOOL CMemoryException::GetErrorMessage(LPSTR error, UINT maxLength, PUINT helpContext) const
{
    return CopyMessage("Out of memory.", error, maxLength, helpContext);
}

BOOL CFileException::GetErrorMessage(LPSTR error, UINT maxLength, PUINT helpContext) const
{
    static const char* const kCauses[] = {
        "No error occurred.",
        "An unspecified error occurred while accessing",
        "was not found.",
        "contains an incorrect path.",
        "could not be opened because there are too many open files.",
        "Access to the file was denied:",
        "An incorrect file handle was associated with",
        "could not be removed because it is the current directory.",
        "could not be created because the directory is full.",
        "Seek failed on",
        "A hardware I/O error was reported while accessing",
        "A sharing violation occurred while accessing",
        "A locking violation occurred while accessing",
        "Disk full while accessing",
        "An attempt was made to access beyond the end of",
    };
    const char* cause = (m_cause >= 0 && m_cause <= endOfFile) ? kCauses[m_cause] : kCauses[genericException];
    CString text;
    const char* name = m_strFileName.IsEmpty() ? "an unnamed file" : static_cast<LPCSTR>(m_strFileName);
    text.Format("%s %s", name, cause);
    return CopyMessage(text, error, maxLength, helpContext);
}

int CFileException::OsErrorToException(LONG osError)
{
    switch (static_cast<DWORD>(osError))
    {
    case ERROR_SUCCESS:
        return none;
    case ERROR_FILE_NOT_FOUND:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return accessDenied;
    case ERROR_INVALID_HANDLE:
        return invalidFile;
    case ERROR_NEGATIVE_SEEK:
        return badSeek;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
        return hardIO;
    default:
        return genericException;
    }
}

void AfxThrowMemoryException()
{
    // A static object: throwing must not need memory.
    static CMemoryException exception(FALSE);
    throw &exception;
}

void AfxThrowUserException()
{
    throw new CUserException;
}

void AfxThrowFileException(int cause, LONG osError, LPCSTR fileName)
{
    throw new CFileException(cause, osError, fileName);
}
