#pragma once
// The multimedia timer's clock: milliseconds of the same clock as GetTickCount.
#include "platform/win32/windef.h"

using MMRESULT = UINT;
#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

DWORD timeGetTime();
// Accepted and ignored: the clock always has millisecond resolution.
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);
