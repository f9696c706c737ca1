// Waits and thread creation when memory runs out: a wait still answers, and a thread is either made and
// runs, or is not made at all and leaves nothing behind.
#include "platform/win32/winbase.h"
#include "tests/support/failing_allocation.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
size_t g_allowed = 0; // allocations still allowed on the vetoing thread

bool FailAfterAllowed(size_t)
{
    if (g_allowed == 0) return true;
    --g_allowed;
    return false;
}

bool FailEvery(size_t)
{
    return true;
}

TEST(OutOfMemory, WaitsAnswerWithoutAllocating)
{
    HANDLE set = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE unset = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(set && unset);
    const HANDLE both[] = {unset, set};
    ferolt::test::SetAllocationVeto(FailEvery);
    const DWORD single = WaitForSingleObject(set, 0);
    const DWORD any = WaitForMultipleObjects(2, both, FALSE, 0);
    const DWORD all = WaitForMultipleObjects(2, both, TRUE, 0);
    ferolt::test::SetAllocationVeto(nullptr);
    EXPECT_EQ(single, WAIT_OBJECT_0);
    EXPECT_EQ(any, WAIT_OBJECT_0 + 1);
    EXPECT_EQ(all, static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(set);
    CloseHandle(unset);
}

std::atomic<int> g_runs{0};
DWORD WINAPI CountRun(LPVOID)
{
    ++g_runs;
    return 7;
}

// Each allocation of CreateThread fails in turn, until one call needs no more than it is allowed.
TEST(OutOfMemory, ThreadsAreMadeWholeOrNotAtAll)
{
    bool madeOne = false;
    for (size_t allowed = 0; allowed < 64 && !madeOne; ++allowed)
    {
        g_runs = 0;
        g_allowed = allowed;
        ferolt::test::SetAllocationVeto(FailAfterAllowed);
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, CountRun, nullptr, 0, &id);
        ferolt::test::SetAllocationVeto(nullptr);
        if (!thread)
        {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << allowed;
            EXPECT_EQ(g_runs, 0) << "a thread ran though its creation failed, with " << allowed;
            continue;
        }
        madeOne = true;
        ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(thread, &code));
        EXPECT_EQ(code, 7u);
        EXPECT_EQ(g_runs, 1);
        EXPECT_NE(id, 0u);
        CloseHandle(thread);
    }
    EXPECT_TRUE(madeOne);
}
} // namespace
