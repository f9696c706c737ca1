#pragma once
// The framework's thread object. A worker is started with a thread procedure (AfxBeginThread, or the
// constructor taking a procedure followed by CreateThread); m_hThread is a waitable handle that becomes
// signalled when the thread ends. With m_bAutoDelete (the default) the object deletes itself, and
// closes m_hThread, when the thread ends; keep it FALSE to wait on the handle safely.
#include "platform/mfc/afx_object.h"
#include "platform/win32/winbase.h"

class CWnd;
using AFX_THREADPROC = UINT(__cdecl*)(LPVOID parameter);

class CWinThread : public CObject
{
public:
    CWinThread();
    CWinThread(AFX_THREADPROC procedure, LPVOID parameter);
    ~CWinThread() override;

    BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0, LPSECURITY_ATTRIBUTES security = nullptr);
    DWORD ResumeThread();
    DWORD SuspendThread();
    int GetThreadPriority();
    BOOL SetThreadPriority(int priority);
    operator HANDLE() const { return m_hThread; }

    virtual BOOL InitInstance();
    // Pumps messages until PumpMessage returns FALSE, then returns ExitInstance().
    virtual int Run();
    virtual int ExitInstance();
    // One message: get, translate, dispatch. FALSE on WM_QUIT. Without a message pump installed by the
    // user layer (ferolt::mfc::SetMessagePump) there are no messages and it returns FALSE.
    virtual BOOL PumpMessage();
    virtual BOOL OnIdle(LONG count);
    virtual CWnd* GetMainWnd() { return m_pMainWnd; }
    virtual void Delete();

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    CWnd* m_pMainWnd = nullptr;
    CWnd* m_pActiveWnd = nullptr;

protected:
    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;

private:
    static DWORD WINAPI ThreadEntry(LPVOID self);
};

// Creates a worker object for the procedure and starts it; null when the thread cannot start.
CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD flags = 0, LPSECURITY_ATTRIBUTES security = nullptr);

namespace ferolt::mfc
{
// Installed by the user layer: one round of get, translate and dispatch, FALSE on WM_QUIT.
void SetMessagePump(BOOL (*pump)());
} // namespace ferolt::mfc
