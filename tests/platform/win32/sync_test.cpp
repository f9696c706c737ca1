// Locks, events, semaphores, threads and waits.
#include "platform/win32/winbase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads)
{
    CRITICAL_SECTION cs;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&cs, 4000));
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // a nested pass on the same thread
    std::atomic<int> otherGot{-1};
    std::thread other(
        [&]
        {
            otherGot = TryEnterCriticalSection(&cs);
            if (otherGot) LeaveCriticalSection(&cs);
        });
    other.join();
    EXPECT_EQ(otherGot, FALSE);

    LeaveCriticalSection(&cs);
    std::thread stillHeld([&] { otherGot = TryEnterCriticalSection(&cs); });
    stillHeld.join();
    EXPECT_EQ(otherGot, FALSE) << "one Leave of two Enters must keep the lock";

    LeaveCriticalSection(&cs);
    std::thread free(
        [&]
        {
            otherGot = TryEnterCriticalSection(&cs);
            if (otherGot) LeaveCriticalSection(&cs);
        });
    free.join();
    EXPECT_EQ(otherGot, TRUE);
    DeleteCriticalSection(&cs);
}

TEST(CriticalSection, ZeroFilledRecordWorksAndForeignLeaveIsIgnored)
{
    CRITICAL_SECTION cs{};
    EnterCriticalSection(&cs);
    std::thread intruder([&] { LeaveCriticalSection(&cs); }); // must not release our lock
    intruder.join();
    std::atomic<int> got{-1};
    std::thread other([&] { got = TryEnterCriticalSection(&cs); });
    other.join();
    EXPECT_EQ(got, FALSE);
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

struct Waiters
{
    HANDLE event;
    std::atomic<int> woken{0};
    std::thread threads[2];

    explicit Waiters(HANDLE e) : event(e)
    {
        for (auto& t : threads)
            t = std::thread(
                [this]
                {
                    if (WaitForSingleObject(event, 5000) == WAIT_OBJECT_0) ++woken;
                });
    }
    void Join()
    {
        for (auto& t : threads)
            t.join();
    }
};

// Gives both waiters time to block; the checks below hold whatever the timing.
void LetWaitersBlock()
{
    Sleep(50);
}

TEST(Event, AutoResetWakesExactlyOneWaiterPerSet)
{
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    Waiters waiters(event);
    LetWaitersBlock();
    ASSERT_TRUE(SetEvent(event));
    for (int i = 0; i < 200 && waiters.woken < 1; ++i)
        Sleep(5);
    Sleep(50);
    EXPECT_EQ(waiters.woken, 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the one wake consumed the signal";
    ASSERT_TRUE(SetEvent(event));
    waiters.Join();
    EXPECT_EQ(waiters.woken, 2);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Event, ManualResetWakesAllAndStaysSignalled)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Waiters waiters(event);
    LetWaitersBlock();
    ASSERT_TRUE(SetEvent(event));
    waiters.Join();
    EXPECT_EQ(waiters.woken, 2);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Event, InitialStateAndTimeOut)
{
    HANDLE set = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(set, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(set, 30), WAIT_TIMEOUT);
    CloseHandle(set);
}

TEST(Handles, InvalidAndClosedHandlesFailCleanly)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    struct Case
    {
        const char* what;
        HANDLE handle;
    } cases[] = {{"closed", event},
                 {"null", nullptr},
                 {"invalid value", INVALID_HANDLE_VALUE},
                 {"made up", reinterpret_cast<HANDLE>(0x12345678)}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(c.handle, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(SetEvent(c.handle));
        EXPECT_FALSE(CloseHandle(c.handle));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

DWORD WINAPI WaitThenExit(LPVOID parameter)
{
    WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
    return 7;
}

TEST(Thread, HandleSignalsOnExitWithExitCode)
{
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitThenExit, go, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_EQ(GetThreadId(thread), id);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "a finished thread stays signalled";
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
    CloseHandle(go);
}

DWORD WINAPI SetFlag(LPVOID parameter)
{
    static_cast<std::atomic<int>*>(parameter)->store(1);
    return 0;
}

TEST(Thread, ClosingTheHandleDoesNotStopTheThreadAndSuspendedWaitsForResume)
{
    std::atomic<int> flag{0};
    HANDLE thread = CreateThread(nullptr, 0, SetFlag, &flag, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &duplicate, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    Sleep(20);
    EXPECT_EQ(flag, 0) << "a suspended thread must not run";
    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(duplicate, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(flag, 1);
    CloseHandle(duplicate);
}

unsigned __stdcall BeginThreadProc(void* parameter)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(parameter)) + 1;
}

TEST(Thread, BeginThreadExReturnsAWaitableHandle)
{
    unsigned id = 0;
    auto handle = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, BeginThreadProc, reinterpret_cast<void*>(41), 0, &id));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(handle, &code);
    EXPECT_EQ(code, 42u);
    CloseHandle(handle);
}

TEST(Semaphore, CountsAndRefusesTooManyPosts)
{
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 2, nullptr);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);
    CloseHandle(semaphore);
}

TEST(Wait, MultipleObjectsAnyAndAll)
{
    HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE both[] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
    SetEvent(a);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(0, both, TRUE, 0), WAIT_FAILED);
    CloseHandle(a);
    CloseHandle(b);
}

TEST(Interlocked, ReturnValuesMatchTheOriginal)
{
    LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9) << "no exchange when the comparand differs";
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 4), 1);
    EXPECT_EQ(value, 5);

    LONG counter = 0;
    std::thread threads[4];
    for (auto& t : threads)
        t = std::thread(
            [&]
            {
                for (int i = 0; i < 10000; ++i)
                    InterlockedIncrement(&counter);
            });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 40000);
}

TEST(LastError, IsPerThread)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    DWORD seen = 1;
    std::thread other(
        [&]
        {
            seen = GetLastError();
            SetLastError(ERROR_ACCESS_DENIED);
        });
    other.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}
} // namespace
