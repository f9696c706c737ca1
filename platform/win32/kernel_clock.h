#pragma once
// The one clock behind GetTickCount, timeGetTime and the performance counter. The user layer's
// timers read it too, so that a test clock (platform/win32/kernel_hooks.h) drives them all.
#include <cstdint>

namespace ferolt::win32
{
// Microseconds of a monotonic clock (or of the installed test clock).
uint64_t ClockMicroseconds();
inline uint64_t ClockMilliseconds()
{
    return ClockMicroseconds() / 1000;
}
bool ClockIsManual();

// Called (on the advancing thread) after a test moves the manual clock, so that waiters for timers can
// look again. Returns an id for RemoveClockListener.
int AddClockListener(void (*listener)(void* context), void* context);
void RemoveClockListener(int id);
} // namespace ferolt::win32
