#pragma once
// The framework's exceptions. As in the original they are thrown as pointers and the catcher calls
// Delete(): catch (CException* e) { ...; e->Delete(); }
#include "platform/mfc/afx_object.h"
#include "platform/mfc/afx_string.h"

class CException : public CObject
{
public:
    explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}
    // Frees a heap exception; one that is not auto-deleted (a static one) stays.
    void Delete();
    // Fills the buffer (at most maxLength bytes with the zero) with a description; FALSE when there is
    // none. The help context, when asked for, is 0.
    virtual BOOL GetErrorMessage(LPSTR error, UINT maxLength, PUINT helpContext = nullptr) const;

    BOOL m_bAutoDelete;
};

class CUserException : public CException
{
};

class CMemoryException : public CException
{
public:
    using CException::CException;
    BOOL GetErrorMessage(LPSTR error, UINT maxLength, PUINT helpContext = nullptr) const override;
};

class CFileException : public CException
{
public:
    enum
    {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    explicit CFileException(int cause = none, LONG osError = -1, LPCSTR fileName = nullptr)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName)
    {
    }
    BOOL GetErrorMessage(LPSTR error, UINT maxLength, PUINT helpContext = nullptr) const override;
    // The cause for a Win32 error code (GetLastError).
    static int OsErrorToException(LONG osError);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowUserException();
[[noreturn]] void AfxThrowFileException(int cause, LONG osError = -1, LPCSTR fileName = nullptr);

#define TRY try
#define CATCH(class_name, e) catch (class_name * e)
#define AND_CATCH(class_name, e) catch (class_name * e)
#define END_CATCH
#define CATCH_ALL(e) catch (CException * e)
#define AND_CATCH_ALL(e) catch (CException * e)
#define END_CATCH_ALL
#define THROW(e) throw e
#define THROW_LAST() throw
