// CWinThread.
#include "platform/mfc/afx_thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
// A worker like the engine's device thread: Run is overridden and the procedure calls it.
class Worker : public CWinThread
{
public:
    Worker(std::atomic<int>* ran, std::atomic<bool>* destroyed)
        : CWinThread(Procedure, this), ran_(ran), destroyed_(destroyed)
    {
    }
    ~Worker() override { *destroyed_ = true; }
    int Run() override
    {
        ++*ran_;
        return 5;
    }
    static UINT __cdecl Procedure(LPVOID self)
    {
        return static_cast<UINT>(static_cast<Worker*>(self)->Run());
    }

private:
    std::atomic<int>* ran_;
    std::atomic<bool>* destroyed_;
};

TEST(WinThread, RunsAndItsHandleSignals)
{
    std::atomic<int> ran{0};
    std::atomic<bool> destroyed{false};
    auto* worker = new Worker(&ran, &destroyed);
    worker->m_bAutoDelete = FALSE;
    ASSERT_TRUE(worker->CreateThread());
    EXPECT_NE(worker->m_nThreadID, 0u);
    ASSERT_EQ(WaitForSingleObject(worker->m_hThread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(ran, 1);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(worker->m_hThread, &code));
    EXPECT_EQ(code, 5u);
    EXPECT_FALSE(destroyed);
    delete worker;
    EXPECT_TRUE(destroyed);
}

TEST(WinThread, AutoDeleteDestroysTheObjectWhenTheThreadEnds)
{
    std::atomic<int> ran{0};
    std::atomic<bool> destroyed{false};
    auto* worker = new Worker(&ran, &destroyed);
    HANDLE handle = nullptr;
    ASSERT_TRUE(worker->CreateThread(CREATE_SUSPENDED));
    // Our own handle to wait on: the object closes m_hThread when it deletes itself.
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker->m_hThread, GetCurrentProcess(), &handle, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
    worker->ResumeThread();
    ASSERT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
    for (int i = 0; i < 500 && !destroyed; ++i)
        Sleep(1);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(ran, 1);
    CloseHandle(handle);
}

UINT __cdecl Twice(LPVOID parameter)
{
    auto* value = static_cast<std::atomic<int>*>(parameter);
    value->store(*value * 2);
    return 0;
}

TEST(WinThread, AfxBeginThreadRunsTheProcedure)
{
    std::atomic<int> value{21};
    CWinThread* thread = AfxBeginThread(Twice, &value, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    EXPECT_EQ(value, 21);
    thread->ResumeThread();
    ASSERT_EQ(WaitForSingleObject(thread->m_hThread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(value, 42);
    delete thread;
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}

TEST(WinThread, DefaultRunEndsWithoutAMessagePump)
{
    CWinThread thread;
    EXPECT_FALSE(thread.PumpMessage());
    EXPECT_EQ(thread.Run(), 0);
    ferolt::mfc::SetMessagePump([] { return FALSE; });
    EXPECT_EQ(thread.Run(), 0);
    ferolt::mfc::SetMessagePump(nullptr);
}
} // namespace
