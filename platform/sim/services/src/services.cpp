// The service control manager of the simulated machine: services with states that tests
// change, manager and service handles that carry their granted rights, and the status query.
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>

#include "internal.h"
#include "sim/firewall_control.h"
#include "sim/services_control.h"
#include "sim/win/services.h"

using sim::detail::fail;

namespace {

constexpr DWORD kAnyStandardRights = 0x001F0000;  // DELETE, READ_CONTROL, WRITE_DAC, WRITE_OWNER
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kReadControl = 0x00020000;

bool sameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
    }
};

struct Service {
    std::wstring name;
    DWORD type = SERVICE_WIN32_SHARE_PROCESS;
    DWORD state = SERVICE_RUNNING;
    DWORD processId = 0;
};

struct OpenHandle {
    bool manager = false;
    std::wstring service;  // the name the service was found under
    DWORD access = 0;
};

struct Manager {
    std::mutex mutex;
    std::map<std::wstring, Service, NoCaseLess> services;
    std::map<uintptr_t, OpenHandle> handles;
    uintptr_t nextHandle = 0x10000;
    DWORD nextProcessId = 800;
    uint64_t badCloses = 0;

    Manager() { reset(); }

    void reset() {
        services.clear();
        handles.clear();
        badCloses = 0;
        for (const wchar_t* name : {L"MpsSvc", L"BFE", L"RpcSs", L"RpcEptMapper", L"EventLog",
                                    L"Dnscache", L"Dhcp", L"Schedule"}) {
            add(name, SERVICE_RUNNING, SERVICE_WIN32_SHARE_PROCESS);
        }
    }

    void add(std::wstring_view name, DWORD state, DWORD type) {
        Service& service = services[std::wstring(name)];
        service.name = name;
        service.type = type;
        setState(service, state);
    }

    void setState(Service& service, DWORD state) {
        service.state = state;
        service.processId = state == SERVICE_STOPPED ? 0 : nextProcessId += 4;
    }

    // The state as a caller sees it: the firewall service is the simulated firewall's.
    DWORD stateOf(const Service& service) const {
        if (isFirewall(service.name) && service.state == SERVICE_RUNNING &&
            !sim::firewall::serviceRunning()) {
            return SERVICE_STOPPED;
        }
        return service.state;
    }

    static bool isFirewall(const std::wstring& name) { return sameName(name, L"MpsSvc"); }

    SC_HANDLE insert(OpenHandle handle) {
        const uintptr_t value = nextHandle;
        nextHandle += 8;
        handles.emplace(value, std::move(handle));
        return reinterpret_cast<SC_HANDLE>(value);
    }

    OpenHandle* find(SC_HANDLE handle) {
        auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
        return it == handles.end() ? nullptr : &it->second;
    }
};

Manager& manager() {
    static auto* instance = [] {
        auto* m = new Manager;  // outlives static destructors that close handles
        sim::onReset([m] {
            std::lock_guard lock(m->mutex);
            m->reset();
        });
        return m;
    }();
    return *instance;
}

// Only the system account holds every right; other accounts may read (the default security of
// the manager and of services grants authenticated users no more). Elevated administrators are
// not simulated: they are refused what needs more than reading, the stricter answer.
bool privileged() {
    return sim::detail::currentAccountSid() == L"S-1-5-18";
}

DWORD mapManagerAccess(DWORD access) {
    DWORD mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (access & kGenericRead) {
        mapped |= kReadControl | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    }
    if (access & kGenericWrite) {
        mapped |= kReadControl | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    }
    if (access & kGenericExecute) {
        mapped |= kReadControl | SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    }
    if (access & kGenericAll) {
        mapped |= SC_MANAGER_ALL_ACCESS;
    }
    return mapped | SC_MANAGER_CONNECT;
}

DWORD mapServiceAccess(DWORD access) {
    DWORD mapped = access & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (access & kGenericRead) {
        mapped |= kReadControl | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    }
    if (access & kGenericWrite) {
        mapped |= kReadControl | SERVICE_CHANGE_CONFIG;
    }
    if (access & kGenericExecute) {
        mapped |= kReadControl | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                  SERVICE_USER_DEFINED_CONTROL;
    }
    if (access & kGenericAll) {
        mapped |= SERVICE_ALL_ACCESS;
    }
    return mapped;
}

constexpr DWORD kManagerReadRights =
    kReadControl | SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
constexpr DWORD kServiceReadRights = kReadControl | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                     SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE |
                                     SERVICE_USER_DEFINED_CONTROL;

bool granted(DWORD mapped, DWORD readRights, DWORD allRights) {
    if ((mapped & ~(allRights | kAnyStandardRights)) != 0) {
        return false;  // rights that no object of the kind has
    }
    return privileged() || (mapped & ~readRights) == 0;
}

}  // namespace

namespace sim::services {

void addService(std::wstring_view name, uint32_t state, uint32_t type) {
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    m.add(name, state, type);
}

bool setState(std::wstring_view name, uint32_t state, uint32_t firewallCode) {
    auto& m = manager();
    std::unique_lock lock(m.mutex);
    auto it = m.services.find(std::wstring(name));
    if (it == m.services.end()) {
        return false;
    }
    m.setState(it->second, state);
    const bool firewall = Manager::isFirewall(it->second.name);
    lock.unlock();
    if (firewall) {
        if (state == SERVICE_RUNNING) {
            sim::firewall::startService();
        } else {
            sim::firewall::stopService(firewallCode);
        }
    }
    return true;
}

std::optional<uint32_t> state(std::wstring_view name) {
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    auto it = m.services.find(std::wstring(name));
    if (it == m.services.end()) {
        return std::nullopt;
    }
    return m.stateOf(it->second);
}

size_t openHandles() {
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    return m.handles.size();
}

uint64_t badCloses() {
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    return m.badCloses;
}

}  // namespace sim::services

SC_HANDLE OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess) {
    SIM_API("OpenSCManagerW");
    if (simFault_) {
        return fail(*simFault_, static_cast<SC_HANDLE>(nullptr));
    }
    if (machineName != nullptr && *machineName != L'\0') {
        return fail(RPC_S_SERVER_UNAVAILABLE, static_cast<SC_HANDLE>(nullptr));
    }
    // The failed-services database is gone since Windows 2000; any other name is invalid.
    if (databaseName != nullptr && sameName(databaseName, SERVICES_FAILED_DATABASEW)) {
        return fail(ERROR_DATABASE_DOES_NOT_EXIST, static_cast<SC_HANDLE>(nullptr));
    }
    if (databaseName != nullptr && !sameName(databaseName, SERVICES_ACTIVE_DATABASEW)) {
        return fail(ERROR_INVALID_NAME, static_cast<SC_HANDLE>(nullptr));
    }
    const DWORD access = mapManagerAccess(desiredAccess);
    if (!granted(access, kManagerReadRights, SC_MANAGER_ALL_ACCESS)) {
        return fail(ERROR_ACCESS_DENIED, static_cast<SC_HANDLE>(nullptr));
    }
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    return m.insert({true, L"", access});
}

SC_HANDLE OpenServiceW(SC_HANDLE managerHandle, LPCWSTR serviceName, DWORD desiredAccess) {
    SIM_API("OpenServiceW");
    if (simFault_) {
        return fail(*simFault_, static_cast<SC_HANDLE>(nullptr));
    }
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    const OpenHandle* owner = m.find(managerHandle);
    if (owner == nullptr || !owner->manager) {
        return fail(ERROR_INVALID_HANDLE, static_cast<SC_HANDLE>(nullptr));
    }
    if (serviceName == nullptr) {
        return fail(ERROR_INVALID_ADDRESS, static_cast<SC_HANDLE>(nullptr));
    }
    if (*serviceName == L'\0' || std::wcschr(serviceName, L'\\') != nullptr ||
        std::wcschr(serviceName, L'/') != nullptr) {
        return fail(ERROR_INVALID_NAME, static_cast<SC_HANDLE>(nullptr));
    }
    auto it = m.services.find(serviceName);
    if (it == m.services.end()) {
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, static_cast<SC_HANDLE>(nullptr));
    }
    const DWORD access = mapServiceAccess(desiredAccess);
    if (!granted(access, kServiceReadRights, SERVICE_ALL_ACCESS)) {
        return fail(ERROR_ACCESS_DENIED, static_cast<SC_HANDLE>(nullptr));
    }
    return m.insert({false, it->second.name, access});
}

BOOL QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE infoLevel, LPBYTE buffer,
                          DWORD bufferSize, LPDWORD bytesNeeded) {
    SIM_API("QueryServiceStatusEx");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    const OpenHandle* handle = m.find(service);
    if (handle == nullptr || handle->manager) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (infoLevel != SC_STATUS_PROCESS_INFO) {
        return fail(ERROR_INVALID_LEVEL, FALSE);
    }
    if ((handle->access & SERVICE_QUERY_STATUS) == 0) {
        return fail(ERROR_ACCESS_DENIED, FALSE);
    }
    if (buffer == nullptr || bytesNeeded == nullptr) {
        return fail(ERROR_INVALID_ADDRESS, FALSE);
    }
    if (bufferSize < sizeof(SERVICE_STATUS_PROCESS)) {
        *bytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
        return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    auto it = m.services.find(handle->service);
    if (it == m.services.end()) {
        // Removed while open: as a service marked for deletion, it no longer runs.
        return fail(ERROR_SERVICE_DOES_NOT_EXIST, FALSE);
    }
    SERVICE_STATUS_PROCESS status{};
    status.dwServiceType = it->second.type;
    status.dwCurrentState = m.stateOf(it->second);
    status.dwControlsAccepted = status.dwCurrentState == SERVICE_RUNNING
                                    ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
                                    : 0;
    status.dwProcessId = status.dwCurrentState == SERVICE_STOPPED ? 0 : it->second.processId;
    std::memcpy(buffer, &status, sizeof status);
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    SIM_API("CloseServiceHandle");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto& m = manager();
    std::lock_guard lock(m.mutex);
    if (m.handles.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
        ++m.badCloses;
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
}
