#include "tagbench/win32/wall_clock_win32.h"

#include <windows.h>

#include "tagbench/tag_history.h"

WallClock CurrentWallClock()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    WallClock clock;
    clock.steady_ms = HistoryNowMs();
    clock.local_ms = LocalSecondsFromCivil(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond) *
                         1000 +
                     now.wMilliseconds;
    return clock;
}
