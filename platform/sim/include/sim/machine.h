// The test-control side of the simulated Windows machine: what tests use to set the machine up,
// to move its clock, to count the calls the system makes and to make any call fail.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// --- Calls and injected failures ---------------------------------------------------------

// Number of calls of the named API function since the last reset.
uint64_t callCount(std::string_view api);

// Makes calls of `api` fail with `code`: the nth call from now (1 = the next one) and the
// `times - 1` calls after it. The code is returned as each function reports errors: as its
// status (registry), through SetLastError (BOOL and HANDLE functions) or as its HRESULT.
void failCall(std::string_view api, uint64_t nth, uint32_t code, uint64_t times = 1);
// Every call of `api` from now fails with `code` until clearFaults().
void failAlways(std::string_view api, uint32_t code);
void clearFaults();

// Used by each simulated function on entry: counts the call and answers the code of a failure
// that is due. `Api` caches the lookup of the function's state.
class Api {
public:
    explicit Api(const char* name);
    std::optional<uint32_t> enter();

private:
    struct State* m_state;
};

// --- Machine state ------------------------------------------------------------------------

// Puts the machine back into its initial state: a registry with only the standard keys
// (sim/registry_control.h), host clock, UTC time zone, no faults, zero call counts, and every
// family's own state (each registers a reset hook).
void reset();
void onReset(std::function<void()> hook);

// Host directory that holds the simulated drives and the cross-process objects.
// From TARN_SIM_ROOT, else $XDG_RUNTIME_DIR/tarn-sim or /tmp/tarn-sim-<uid>.
std::string root();
// Host path of a Windows path (see sim/win/files.h).
std::string hostPath(std::wstring_view windowsPath);

// --- Clock and time zone ------------------------------------------------------------------

using Clock = std::chrono::system_clock;
// The simulated system time and tick count: the host's, moved by `advance`, or fixed.
void setTime(Clock::time_point time);  // fixes the clock at `time`
void advanceTime(std::chrono::milliseconds delta);
void useHostTime();  // follows the host clock again (keeps no offset)

struct TimeZone {
    int32_t bias = 0;  // minutes, UTC = local time + bias
    int32_t standardBias = 0;
    int32_t daylightBias = -60;
    bool daylight = false;  // whether daylight time is in effect
    bool readable = true;   // false: GetTimeZoneInformation fails
};
void setTimeZone(const TimeZone& zone);

// --- Process ------------------------------------------------------------------------------

void setSessionId(uint32_t session);
// Full path reported by GetModuleFileNameW for the executable (null module), or for the module
// whose handle is `module` (such as one found by GetModuleHandleExW from an address).
void setModuleFileName(std::wstring_view path);
void setModuleFileName(const void* module, std::wstring_view path);

}  // namespace sim

// Counts the call and returns the injected failure code, if any, from the enclosing function.
#define SIM_API(name)                \
    static ::sim::Api simApi_{name}; \
    [[maybe_unused]] const std::optional<uint32_t> simFault_ = simApi_.enter()
