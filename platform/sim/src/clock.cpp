// Clocks and the time zone of the simulated machine.
#include <chrono>
#include <cstring>

#include "internal.h"
#include "sim/win/time.h"

using sim::detail::fail;

namespace {

constexpr int64_t kUnixEpochIn100ns = 116444736000000000LL;  // 1970-01-01 as a FILETIME

struct ClockState {
    std::mutex mutex;
    bool fixed = false;
    int64_t fixedSystem = 0;  // 100-ns units since 1601, while fixed
    int64_t fixedTick = 0;    // ms, while fixed
    int64_t offsetMs = 0;     // moved by advanceTime while following the host
    sim::TimeZone zone;

    static int64_t hostSystem() {
        using namespace std::chrono;
        return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100 +
               kUnixEpochIn100ns;
    }
    static int64_t hostTick() {
        using namespace std::chrono;
        // Windows' tick count starts near boot; a large base keeps "0" meaning "never".
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() +
               3600000;
    }
    int64_t system() const { return fixed ? fixedSystem : hostSystem() + offsetMs * 10000; }
    int64_t tick() const { return fixed ? fixedTick : hostTick() + offsetMs; }
};

ClockState& clockState() {
    static auto* state = [] {
        auto* s = new ClockState;
        sim::onReset([s] {
            std::lock_guard lock(s->mutex);
            s->fixed = false;
            s->offsetMs = 0;
            s->zone = sim::TimeZone{};
        });
        return s;
    }();
    return *state;
}

int64_t currentSystem() {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    return state.system();
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t daysFromCivil(int year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

SYSTEMTIME toSystemTime(int64_t fileTime) {
    const int64_t unix100ns = fileTime - kUnixEpochIn100ns;
    int64_t ms = unix100ns / 10000;
    int64_t days = ms / 86400000;
    int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    SYSTEMTIME out{};
    out.wYear = static_cast<WORD>(year);
    out.wMonth = static_cast<WORD>(month);
    out.wDay = static_cast<WORD>(day);
    out.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    out.wHour = static_cast<WORD>(rest / 3600000);
    out.wMinute = static_cast<WORD>(rest / 60000 % 60);
    out.wSecond = static_cast<WORD>(rest / 1000 % 60);
    out.wMilliseconds = static_cast<WORD>(rest % 1000);
    return out;
}

}  // namespace

namespace sim {

void setTime(Clock::time_point time) {
    using namespace std::chrono;
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    state.fixedTick = state.tick();
    state.fixedSystem =
        duration_cast<nanoseconds>(time.time_since_epoch()).count() / 100 + kUnixEpochIn100ns;
    state.fixed = true;
}

void advanceTime(std::chrono::milliseconds delta) {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    if (state.fixed) {
        state.fixedSystem += delta.count() * 10000;
        state.fixedTick += delta.count();
    } else {
        state.offsetMs += delta.count();
    }
}

void useHostTime() {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    state.fixed = false;
    state.offsetMs = 0;
}

void setTimeZone(const TimeZone& zone) {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    state.zone = zone;
}

}  // namespace sim

ULONGLONG GetTickCount64() {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    return static_cast<ULONGLONG>(state.tick());
}

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
    const auto value = static_cast<uint64_t>(currentSystem());
    time->dwLowDateTime = static_cast<DWORD>(value);
    time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

void GetSystemTime(LPSYSTEMTIME time) {
    *time = toSystemTime(currentSystem());
}

void GetLocalTime(LPSYSTEMTIME time) {
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    const auto& zone = state.zone;
    const int32_t bias = zone.bias + (zone.daylight ? zone.daylightBias : zone.standardBias);
    *time = toSystemTime(state.system() - static_cast<int64_t>(bias) * 60 * 10000000);
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION information) {
    SIM_API("GetTimeZoneInformation");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(TIME_ZONE_ID_INVALID));
    }
    auto& state = clockState();
    std::lock_guard lock(state.mutex);
    if (!state.zone.readable) {
        return fail(ERROR_ACCESS_DENIED, static_cast<DWORD>(TIME_ZONE_ID_INVALID));
    }
    std::memset(information, 0, sizeof *information);
    information->Bias = state.zone.bias;
    information->StandardBias = state.zone.standardBias;
    information->DaylightBias = state.zone.daylightBias;
    return state.zone.daylight ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
    const uint64_t value =
        (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
    if (value > 0x7FFFFFFFFFFFFFFFull) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    *systemTime = toSystemTime(static_cast<int64_t>(value));
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime) {
    const SYSTEMTIME& t = *systemTime;
    const bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    static constexpr WORD kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > kDays[t.wMonth - 1] + (t.wMonth == 2 && leap ? 1 : 0) || t.wHour > 23 ||
        t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999 || t.wYear < 1601 ||
        t.wYear > 30827) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    const int64_t days = daysFromCivil(t.wYear, t.wMonth, t.wDay);
    const int64_t ms = days * 86400000 + t.wHour * 3600000LL + t.wMinute * 60000LL +
                       t.wSecond * 1000LL + t.wMilliseconds;
    const auto value = static_cast<uint64_t>(ms * 10000 + kUnixEpochIn100ns);
    fileTime->dwLowDateTime = static_cast<DWORD>(value);
    fileTime->dwHighDateTime = static_cast<DWORD>(value >> 32);
    return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter) {
    using namespace std::chrono;
    counter->QuadPart = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000000LL;
    return TRUE;
}
