// Shared inside the simulated machine: handles, kernel objects and string helpers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/machine.h"
#include "sim/win/base.h"

namespace sim::detail {

std::string toUtf8(std::wstring_view text);
// Decodes UTF-8. Strict: nullopt when the text is not valid UTF-8; else every invalid byte
// becomes U+FFFD.
std::optional<std::wstring> fromUtf8(std::string_view text, bool strict = false);

// Upper case as Windows folds names (registry, environment): every character of the Basic
// Multilingual Plane that has a simple upper-case form, not ASCII only.
std::wstring upcase(std::wstring_view text);

// A 32-bit process on 64-bit Windows, or a native one: the environment shows which
// (ProgramFiles, PROCESSOR_ARCHITECTURE).
void setProcessBitness(bool wow64);

// The variables of a process of the system account, which the machine's processes start with
// and which an environment block of a user builds on.
std::vector<std::pair<std::wstring, std::wstring>> systemAccountEnvironment(bool wow64);

// The host environment ("name=value") of a started process: the host's variables and the
// Windows environment the child is to see, by default the caller's own.
std::vector<std::string> hostEnvironmentForChild(
    const std::optional<std::vector<std::wstring>>& windowsEnvironment);

// A kernel object behind a HANDLE. Waitable objects override the two wait hooks.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    virtual bool waitable() const { return false; }
    // Called under waitMutex(): whether a wait would be satisfied now, and taking it.
    virtual bool signalled(DWORD /*thread*/) const { return false; }
    virtual DWORD acquire(DWORD /*thread*/) { return WAIT_OBJECT_0_; }
    // Objects shared across processes cannot notify waitCondition(); waits poll them.
    virtual bool crossProcess() const { return false; }
    // Wait for this object alone, when it needs its own way (cross-process mutexes).
    virtual std::optional<DWORD> waitAlone(DWORD /*milliseconds*/) { return std::nullopt; }
    static constexpr DWORD WAIT_OBJECT_0_ = 0;
};

HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> lookupHandle(HANDLE handle);
template <class T>
std::shared_ptr<T> lookupAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}
bool removeHandle(HANDLE handle);

// Sets or clears an event without counting a call of SetEvent (used by the machine itself,
// for example by registry change notification). False when the handle is no event. An object
// that keeps an event to set later keeps the event itself (eventOf), not the handle, whose
// value may go to another object once it is closed.
bool setEventState(HANDLE event, bool state);
std::shared_ptr<KernelObject> eventOf(HANDLE event);  // null when the handle is no event
void setEventState(KernelObject& event, bool state);

// The session of the simulated process (process.cpp).
DWORD currentSession();

// The SID text of the account the process runs as (security.cpp).
std::wstring currentAccountSid();
// Whether the security descriptor in `attributes`, if any, is one the machine accepts; and the
// record of the descriptor an object (such as "dir:<host path>") was created with.
bool securityValid(const SECURITY_ATTRIBUTES* attributes);
void rememberSecurity(const std::string& object, const SECURITY_ATTRIBUTES* attributes);

// One lock and condition for every in-process waitable object: simple and free of lost wake-ups.
std::mutex& waitMutex();
std::condition_variable& waitCondition();

// Sets the thread's last error and returns the given value, for one-line error returns.
template <class T>
T fail(DWORD code, T result) {
    SetLastError(code);
    return result;
}

}  // namespace sim::detail
