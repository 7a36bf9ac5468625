// Local time: the host's on the real clock, else the time base moved on by the
// emulated clock.
#include <ctime>

#include "platform/emulation/state.h"
#include "platform/local_time.h"

using namespace emu;
using namespace emu::detail;

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    std::tm parts{};
    unsigned milliseconds = 0;
    if (s.clockMode == emu::ClockMode::Real) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        localtime_r(&now.tv_sec, &parts);
        milliseconds = static_cast<unsigned>(now.tv_nsec / 1000000);
    } else {
        parts.tm_year = s.timeBase.wYear - 1900;
        parts.tm_mon = s.timeBase.wMonth - 1;
        parts.tm_mday = s.timeBase.wDay;
        parts.tm_hour = s.timeBase.wHour;
        parts.tm_min = s.timeBase.wMinute;
        parts.tm_sec = s.timeBase.wSecond + static_cast<int>(s.nowMs / 1000);
        milliseconds = static_cast<unsigned>(s.nowMs % 1000);
        timegm(&parts);  // normalises the fields
    }
    time->wYear = static_cast<WORD>(parts.tm_year + 1900);
    time->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    time->wDay = static_cast<WORD>(parts.tm_mday);
    time->wHour = static_cast<WORD>(parts.tm_hour);
    time->wMinute = static_cast<WORD>(parts.tm_min);
    time->wSecond = static_cast<WORD>(parts.tm_sec);
    time->wMilliseconds = static_cast<WORD>(milliseconds);
}

void emu::SetLocalTimeBase(const SYSTEMTIME& time) {
    State& s = Machine();
    std::lock_guard guard(s.lock);
    s.timeBase = time;
}
