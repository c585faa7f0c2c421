// The operating system version of the simulated machine and the version check.
#include <array>
#include <mutex>

#include "internal.h"
#include "sim/version_control.h"
#include "sim/win/version.h"

using sim::detail::fail;

namespace {

struct VersionState {
    std::mutex mutex;
    sim::version::OsVersion version;
};

VersionState& versionState() {
    static auto* state = [] {
        auto* s = new VersionState;
        sim::onReset([s] {
            std::lock_guard lock(s->mutex);
            s->version = {};
        });
        return s;
    }();
    return *state;
}

constexpr unsigned kBitsPerCondition = 3;
constexpr ULONGLONG kConditionBits = 7;
constexpr std::array<DWORD, 8> kMembers = {
    VER_MINORVERSION,     VER_MAJORVERSION,     VER_BUILDNUMBER, VER_PLATFORMID,
    VER_SERVICEPACKMINOR, VER_SERVICEPACKMAJOR, VER_SUITENAME,   VER_PRODUCT_TYPE};

unsigned conditionOf(ULONGLONG conditionMask, DWORD member) {
    for (unsigned i = 0; i < kMembers.size(); ++i) {
        if (kMembers[i] == member) {
            return static_cast<unsigned>((conditionMask >> (i * kBitsPerCondition)) &
                                         kConditionBits);
        }
    }
    return 0;
}

// Three-way comparison of the machine's value with the requirement, tested by `condition`.
template <typename T>
bool meets(const T& current, const T& required, unsigned condition) {
    switch (condition) {
        case VER_EQUAL:
            return current == required;
        case VER_GREATER:
            return current > required;
        case VER_GREATER_EQUAL:
            return current >= required;
        case VER_LESS:
            return current < required;
        case VER_LESS_EQUAL:
            return current <= required;
        default:
            return false;
    }
}

bool suiteMeets(WORD current, WORD required, unsigned condition) {
    if (condition == VER_AND) {
        return (current & required) == required;
    }
    if (condition == VER_OR) {
        return (current & required) != 0;
    }
    return false;
}

// Major, minor and service pack count as one version, compared with the condition of the most
// significant member that is asked for, as Windows does.
bool versionMeets(const sim::version::OsVersion& machine, const OSVERSIONINFOEXW& info,
                  DWORD typeMask, ULONGLONG conditionMask) {
    const std::array<DWORD, 4> order = {VER_MAJORVERSION, VER_MINORVERSION, VER_SERVICEPACKMAJOR,
                                        VER_SERVICEPACKMINOR};
    const std::array<uint64_t, 4> current = {machine.major, machine.minor, machine.servicePackMajor,
                                             machine.servicePackMinor};
    const std::array<uint64_t, 4> required = {info.dwMajorVersion, info.dwMinorVersion,
                                              info.wServicePackMajor, info.wServicePackMinor};
    unsigned condition = 0;
    std::array<uint64_t, 4> left{}, right{};
    for (size_t i = 0; i < order.size(); ++i) {
        if ((typeMask & order[i]) != 0) {
            if (condition == 0) {
                condition = conditionOf(conditionMask, order[i]);
            }
            left[i] = current[i];
            right[i] = required[i];
        }
    }
    return condition == 0 || meets(left, right, condition);
}

}  // namespace

namespace sim::version {

void setOsVersion(const OsVersion& version) {
    auto& state = versionState();
    std::lock_guard lock(state.mutex);
    state.version = version;
}

void setProductType(uint8_t productType) {
    auto& state = versionState();
    std::lock_guard lock(state.mutex);
    state.version.productType = productType;
}

OsVersion osVersion() {
    auto& state = versionState();
    std::lock_guard lock(state.mutex);
    return state.version;
}

}  // namespace sim::version

ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition) {
    SIM_API("VerSetConditionMask");
    if (typeMask == 0 || condition == 0) {
        return conditionMask;
    }
    for (unsigned i = 0; i < kMembers.size(); ++i) {
        if ((typeMask & kMembers[i]) != 0) {
            const unsigned shift = i * kBitsPerCondition;
            conditionMask = (conditionMask & ~(kConditionBits << shift)) |
                            ((static_cast<ULONGLONG>(condition) & kConditionBits) << shift);
        }
    }
    return conditionMask;
}

BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW versionInfo, DWORD typeMask, DWORDLONG conditionMask) {
    SIM_API("VerifyVersionInfoW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    // Unverified on Windows: a wrong structure size and a member asked for without a condition
    // are refused here, the stricter choice.
    if (versionInfo == nullptr || versionInfo->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW) ||
        typeMask == 0 || conditionMask == 0) {
        return fail(ERROR_BAD_ARGUMENTS, FALSE);
    }
    for (const DWORD member : kMembers) {
        if ((typeMask & member) != 0 && conditionOf(conditionMask, member) == 0) {
            return fail(ERROR_BAD_ARGUMENTS, FALSE);
        }
    }
    const sim::version::OsVersion machine = sim::version::osVersion();
    const OSVERSIONINFOEXW& info = *versionInfo;
    bool ok = versionMeets(machine, info, typeMask, conditionMask);
    if ((typeMask & VER_BUILDNUMBER) != 0) {
        ok = ok && meets<uint64_t>(machine.build, info.dwBuildNumber,
                                   conditionOf(conditionMask, VER_BUILDNUMBER));
    }
    if ((typeMask & VER_PLATFORMID) != 0) {
        ok = ok && meets<uint64_t>(machine.platformId, info.dwPlatformId,
                                   conditionOf(conditionMask, VER_PLATFORMID));
    }
    if ((typeMask & VER_SUITENAME) != 0) {
        ok = ok && suiteMeets(machine.suiteMask, info.wSuiteMask,
                              conditionOf(conditionMask, VER_SUITENAME));
    }
    if ((typeMask & VER_PRODUCT_TYPE) != 0) {
        ok = ok && meets<uint64_t>(machine.productType, info.wProductType,
                                   conditionOf(conditionMask, VER_PRODUCT_TYPE));
    }
    return ok ? TRUE : fail(ERROR_OLD_WIN_VERSION, FALSE);
}
