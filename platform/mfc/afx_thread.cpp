// The framework's thread object.
#include "platform/mfc/afx_thread.h"

#include <atomic>

namespace
{
std::atomic<BOOL (*)()> g_messagePump{nullptr};
} // namespace

namespace ferolt::mfc
{
void SetMessagePump(BOOL (*pump)())
{
    g_messagePump = pump;
}
} // namespace ferolt::mfc

CWinThread::CWinThread() = default;

CWinThread::CWinThread(AFX_THREADPROC procedure, LPVOID parameter)
    : m_pfnThreadProc(procedure), m_pThreadParams(parameter)
{
}

CWinThread::~CWinThread()
{
    if (m_hThread) CloseHandle(m_hThread);
}

DWORD WINAPI CWinThread::ThreadEntry(LPVOID self)
{
    auto* thread = static_cast<CWinThread*>(self);
    DWORD result;
    if (thread->m_pfnThreadProc)
        result = thread->m_pfnThreadProc(thread->m_pThreadParams);
    else if (!thread->InitInstance())
        result = static_cast<DWORD>(thread->ExitInstance());
    else
        result = static_cast<DWORD>(thread->Run());
    thread->Delete();
    return result;
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security)
{
    if (m_hThread) return FALSE;
    // Started suspended so that m_hThread and m_nThreadID are set before the procedure can run (and, with
    // auto-delete, end and delete this object).
    DWORD id = 0;
    HANDLE handle = ::CreateThread(security, stackSize, ThreadEntry, this, flags | CREATE_SUSPENDED, &id);
    if (!handle) return FALSE;
    m_hThread = handle;
    m_nThreadID = id;
    if (!(flags & CREATE_SUSPENDED)) ::ResumeThread(handle);
    return TRUE;
}

DWORD CWinThread::ResumeThread()
{
    return ::ResumeThread(m_hThread);
}
DWORD CWinThread::SuspendThread()
{
    return ::SuspendThread(m_hThread);
}
int CWinThread::GetThreadPriority()
{
    return ::GetThreadPriority(m_hThread);
}
BOOL CWinThread::SetThreadPriority(int priority)
{
    return ::SetThreadPriority(m_hThread, priority);
}

BOOL CWinThread::InitInstance()
{
    return FALSE;
}

int CWinThread::Run()
{
    for (LONG idle = 0;;)
    {
        if (!PumpMessage()) break;
        OnIdle(idle++);
    }
    return ExitInstance();
}

int CWinThread::ExitInstance()
{
    return 0;
}

BOOL CWinThread::PumpMessage()
{
    BOOL (*pump)() = g_messagePump.load();
    return pump ? pump() : FALSE;
}

BOOL CWinThread::OnIdle(LONG)
{
    return FALSE;
}

void CWinThread::Delete()
{
    if (m_bAutoDelete) delete this;
}

CWinThread* AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority, UINT stackSize,
                           DWORD flags, LPSECURITY_ATTRIBUTES security)
{
    if (!procedure) return nullptr;
    auto* thread = new CWinThread(procedure, parameter);
    if (!thread->CreateThread(flags | CREATE_SUSPENDED, stackSize, security))
    {
        delete thread;
        return nullptr;
    }
    thread->SetThreadPriority(priority);
    if (!(flags & CREATE_SUSPENDED)) thread->ResumeThread();
    return thread;
}
