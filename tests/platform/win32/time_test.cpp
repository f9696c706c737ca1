// The shared clock and its test hook.
#include "platform/win32/kernel_clock.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/mmsystem.h"
#include "platform/win32/winbase.h"

#include <gtest/gtest.h>

namespace
{
struct ManualClock : ::testing::Test
{
    void TearDown() override { ferolt::hooks::RemoveManualClock(); }
};

TEST_F(ManualClock, DrivesEveryClockFunctionAndWraps)
{
    ferolt::hooks::InstallManualClock(0xFFFFFFF0ull);
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
    LARGE_INTEGER frequency{}, before{}, after{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    QueryPerformanceCounter(&before);

    int calls = 0;
    int id = ferolt::win32::AddClockListener([](void* c) { ++*static_cast<int*>(c); }, &calls);
    ferolt::hooks::AdvanceClock(32);
    ferolt::win32::RemoveClockListener(id);
    ferolt::hooks::AdvanceClock(1);
    EXPECT_EQ(calls, 1);

    EXPECT_EQ(GetTickCount(), 17u) << "the 32-bit tick count wraps";
    EXPECT_EQ(GetTickCount() - 0xFFFFFFF0u, 33u) << "differences across the wrap stay right";
    EXPECT_EQ(GetTickCount64(), 0xFFFFFFF0ull + 33);
    QueryPerformanceCounter(&after);
    EXPECT_EQ((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart, 33);
}

TEST(RealClock, MovesForwardWithSleep)
{
    DWORD start = GetTickCount();
    Sleep(20);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 5000u);
}
} // namespace
