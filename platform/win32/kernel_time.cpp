// The process clock, with the test hook that replaces it.
#include "platform/win32/kernel_clock.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/mmsystem.h"
#include "platform/win32/winbase.h"

#include <time.h>

#include <mutex>
#include <vector>

namespace
{
struct ClockState
{
    std::mutex mutex;
    bool manual = false;
    uint64_t manualMicroseconds = 0;
    struct Listener
    {
        int id;
        void (*function)(void*);
        void* context;
    };
    std::vector<Listener> listeners;
    int nextId = 1;
};

ClockState& State()
{
    static ClockState* state = new ClockState;
    return *state;
}

uint64_t RealMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

// FILETIME counts 100 ns units since 1601-01-01.
constexpr uint64_t kUnixEpochInFileTime = 116444736000000000ull;
} // namespace

namespace ferolt::win32
{
uint64_t ClockMicroseconds()
{
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    return state.manual ? state.manualMicroseconds : RealMicroseconds();
}

bool ClockIsManual()
{
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    return state.manual;
}

int AddClockListener(void (*listener)(void* context), void* context)
{
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    int id = state.nextId++;
    state.listeners.push_back({id, listener, context});
    return id;
}

void RemoveClockListener(int id)
{
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    std::erase_if(state.listeners, [id](const ClockState::Listener& l) { return l.id == id; });
}
} // namespace ferolt::win32

namespace ferolt::hooks
{
void InstallManualClock(uint64_t startMilliseconds)
{
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    state.manual = true;
    state.manualMicroseconds = startMilliseconds * 1000;
}

void AdvanceClock(uint64_t milliseconds)
{
    std::vector<ClockState::Listener> listeners;
    {
        ClockState& state = State();
        std::lock_guard lock(state.mutex);
        if (!state.manual) return;
        state.manualMicroseconds += milliseconds * 1000;
        listeners = state.listeners;
    }
    for (const auto& listener : listeners)
        listener.function(listener.context);
}

void RemoveManualClock()
{
    ClockState& state = State();
    std::lock_guard lock(state.mutex);
    state.manual = false;
}
} // namespace ferolt::hooks

DWORD GetTickCount()
{
    return static_cast<DWORD>(ferolt::win32::ClockMilliseconds());
}
ULONGLONG GetTickCount64()
{
    return ferolt::win32::ClockMilliseconds();
}
DWORD timeGetTime()
{
    return static_cast<DWORD>(ferolt::win32::ClockMilliseconds());
}
MMRESULT timeBeginPeriod(UINT)
{
    return TIMERR_NOERROR;
}
MMRESULT timeEndPeriod(UINT)
{
    return TIMERR_NOERROR;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    if (!count) return FALSE;
    count->QuadPart = static_cast<LONGLONG>(ferolt::win32::ClockMicroseconds());
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (!frequency) return FALSE;
    frequency->QuadPart = 1000000;
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME time)
{
    if (!time) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t value = kUnixEpochInFileTime + static_cast<uint64_t>(now.tv_sec) * 10000000u +
                     static_cast<uint64_t>(now.tv_nsec) / 100u;
    time->dwLowDateTime = static_cast<DWORD>(value);
    time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

namespace
{
void FillSystemTime(LPSYSTEMTIME out, bool local)
{
    if (!out) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    if (local)
        localtime_r(&now.tv_sec, &parts);
    else
        gmtime_r(&now.tv_sec, &parts);
    out->wYear = static_cast<WORD>(parts.tm_year + 1900);
    out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    out->wDay = static_cast<WORD>(parts.tm_mday);
    out->wHour = static_cast<WORD>(parts.tm_hour);
    out->wMinute = static_cast<WORD>(parts.tm_min);
    out->wSecond = static_cast<WORD>(parts.tm_sec);
    out->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}
} // namespace

void GetLocalTime(LPSYSTEMTIME time)
{
    FillSystemTime(time, true);
}
void GetSystemTime(LPSYSTEMTIME time)
{
    FillSystemTime(time, false);
}
