#pragma once
// The framework's files: CFile over the layer's file handles (Windows-style paths accepted) and
// CMemFile in memory. Failures throw CFileException* (or CMemoryException*) as in the original; Open
// reports failure through its result instead.
#include "platform/mfc/afx_exception.h"
#include "platform/win32/winbase.h"

class CFile : public CObject
{
public:
    enum OpenFlags : UINT
    {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        osNoBuffer = 0x10000,
        osWriteThrough = 0x20000,
        osRandomAccess = 0x40000,
        osSequentialScan = 0x80000,
    };
    enum SeekPosition : UINT
    {
        begin = 0,
        current = 1,
        end = 2,
    };
    static const HANDLE hFileNull;

    CFile();
    explicit CFile(HANDLE file);
    // Throws CFileException* when the file cannot be opened.
    CFile(LPCSTR fileName, UINT openFlags);
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    virtual BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr);
    virtual UINT Read(void* buffer, UINT count);
    virtual void Write(const void* buffer, UINT count);
    virtual ULONGLONG Seek(LONGLONG offset, UINT from);
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    void SeekToBegin() { Seek(0, begin); }
    virtual ULONGLONG GetPosition() const;
    virtual ULONGLONG GetLength() const;
    virtual void SetLength(ULONGLONG newLength);
    virtual void Flush();
    virtual void Close();
    // Closes without throwing.
    virtual void Abort();
    CString GetFilePath() const { return m_strFileName; }
    CString GetFileName() const;
    operator HANDLE() const { return m_hFile; }

    HANDLE m_hFile;

protected:
    CString m_strFileName;
    BOOL m_bCloseOnDelete = FALSE;
};

class CMemFile : public CFile
{
public:
    // A growing file in memory; growBytes is the step by which the buffer grows.
    explicit CMemFile(UINT growBytes = 1024);
    // Over the caller's buffer, which stays the caller's; with growBytes 0 it cannot grow (writing past
    // its end throws CMemoryException*), otherwise it is copied into a growing buffer when it must grow.
    CMemFile(BYTE* buffer, UINT size, UINT growBytes = 0);
    ~CMemFile() override;

    void Attach(BYTE* buffer, UINT size, UINT growBytes = 0);
    // Hands the bytes to the caller (allocated with malloc when the file grew them) and empties the file.
    BYTE* Detach();

    BOOL Open(LPCSTR, UINT, CFileException* = nullptr) override { return FALSE; }
    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    ULONGLONG Seek(LONGLONG offset, UINT from) override;
    ULONGLONG GetPosition() const override { return m_nPosition; }
    ULONGLONG GetLength() const override { return m_nFileSize; }
    void SetLength(ULONGLONG newLength) override;
    void Flush() override {}
    void Close() override;
    void Abort() override { Close(); }

    // The largest size a memory file may reach; beyond it writes throw CMemoryException*.
    static constexpr SIZE_T kMaxSize = 0x7FFFFFFF;

protected:
    void GrowFile(SIZE_T newLength);

    UINT m_nGrowBytes;
    SIZE_T m_nPosition = 0;
    SIZE_T m_nBufferSize = 0;
    SIZE_T m_nFileSize = 0;
    BYTE* m_lpBuffer = nullptr;
    BOOL m_bAutoDelete = TRUE; // the buffer was allocated here
};
