// Local date and time arithmetic (see local_time.h).
#include "tagbench/local_time.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2 ? 1 : 0;
    const int64_t era = FloorDivide(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t *y, int64_t *m, int64_t *d)
{
    z += 719468;
    const int64_t era = FloorDivide(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

} // namespace

int64_t FloorDivide(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t LocalSecondsFromCivil(int year, int month, int day, int hour, int minute, int second)
{
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

int64_t LocalSecondsAt(const WallClock &clock, int64_t steady_ms)
{
    return FloorDivide(clock.local_ms + (steady_ms - clock.steady_ms), 1000);
}

std::string FormatLocalDateTime(int64_t local_seconds)
{
    int64_t y = 0, m = 0, d = 0;
    CivilFromDays(FloorDivide(local_seconds, 86400), &y, &m, &d);
    const int64_t in_day = local_seconds - FloorDivide(local_seconds, 86400) * 86400;
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(y),
                  static_cast<long long>(m), static_cast<long long>(d), static_cast<long long>(in_day / 3600),
                  static_cast<long long>(in_day / 60 % 60), static_cast<long long>(in_day % 60));
    return text;
}

std::string FormatLocalClock(int64_t local_seconds)
{
    return FormatLocalDateTime(local_seconds).substr(11);
}
