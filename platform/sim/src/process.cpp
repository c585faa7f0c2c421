// The calling process of the simulated machine: ids, last error, module, environment, memory.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <map>
#include <string>
#include <thread>

#include "internal.h"

using sim::detail::fail;

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct ProcessState {
    std::mutex mutex;
    DWORD session = 1;
    std::wstring moduleFileName;
};

ProcessState& process() {
    static auto* state = [] {
        auto* s = new ProcessState;
        sim::onReset([s] {
            std::lock_guard lock(s->mutex);
            s->session = 1;
            s->moduleFileName.clear();
        });
        return s;
    }();
    return *state;
}

std::wstring hostExecutablePath() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return L"C:\\Program Files (x86)\\Tarn\\Carrier\\tarn_carrier.exe";
    }
    return sim::detail::fromUtf8(std::string_view(buffer, static_cast<size_t>(length)))
        .value_or(L"");
}

}  // namespace

namespace sim {

void setSessionId(uint32_t session) {
    auto& state = process();
    std::lock_guard lock(state.mutex);
    state.session = session;
}

void setModuleFileName(std::wstring_view path) {
    auto& state = process();
    std::lock_guard lock(state.mutex);
    state.moduleFileName = path;
}

}  // namespace sim

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD code) {
    lastError = code;
}
DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}
HANDLE GetCurrentProcess() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    SIM_API("ProcessIdToSessionId");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (sessionId == nullptr || processId != GetCurrentProcessId()) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    auto& state = process();
    std::lock_guard lock(state.mutex);
    *sessionId = state.session;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    SIM_API("GetModuleFileNameW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    if (module != nullptr) {
        return fail(ERROR_MOD_NOT_FOUND, static_cast<DWORD>(0));
    }
    std::wstring path;
    {
        auto& state = process();
        std::lock_guard lock(state.mutex);
        path = state.moduleFileName.empty() ? hostExecutablePath() : state.moduleFileName;
    }
    if (size == 0) {
        return fail(ERROR_INSUFFICIENT_BUFFER, static_cast<DWORD>(0));
    }
    // As on Windows: a short buffer gets the truncated, terminated path and the full size.
    if (path.size() >= size) {
        std::wmemcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::wmemcpy(fileName, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    // Only the process's own module exists in the simulation.
    return moduleName == nullptr ? reinterpret_cast<HMODULE>(0x400000) : nullptr;
}

namespace {

// The machine's environment: the variables every Windows process has, then the host's own
// (so that settings such as TARN_ORRERY_ROOT reach simulated programs). Names compare
// without regard to case, as on Windows.
struct Environment {
    std::mutex mutex;
    std::map<std::wstring, std::optional<std::wstring>> overlay;  // upper-case name -> value

    static std::wstring key(std::wstring_view name) {
        std::wstring upper(name);
        for (auto& c : upper) {
            c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
        }
        return upper;
    }

    void defaults() {
        overlay.clear();
        const std::pair<const wchar_t*, const wchar_t*> windows[] = {
            {L"SystemDrive", L"C:"},
            {L"SystemRoot", L"C:\\Windows"},
            {L"windir", L"C:\\Windows"},
            {L"ProgramData", L"C:\\ProgramData"},
            {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
            {L"ProgramFiles", L"C:\\Program Files"},
            {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
            {L"ProgramW6432", L"C:\\Program Files"},
            {L"CommonProgramFiles", L"C:\\Program Files\\Common Files"},
            {L"USERPROFILE", L"C:\\Windows\\system32\\config\\systemprofile"},
            {L"APPDATA", L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Roaming"},
            {L"LOCALAPPDATA", L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local"},
            {L"TEMP", L"C:\\Windows\\TEMP"},
            {L"TMP", L"C:\\Windows\\TEMP"},
            {L"COMPUTERNAME", L"TARN-SIM"},
            {L"USERNAME", L"SYSTEM"},
        };
        for (const auto& [name, value] : windows) {
            overlay[key(name)] = value;
        }
    }

    std::optional<std::wstring> get(std::wstring_view name) {
        std::lock_guard lock(mutex);
        if (auto it = overlay.find(key(name)); it != overlay.end()) {
            return it->second;  // nullopt: deleted
        }
        if (const char* value = std::getenv(sim::detail::toUtf8(name).c_str())) {
            return sim::detail::fromUtf8(value).value_or(L"");
        }
        // Names compare without regard to case, also those a started process inherited.
        const std::wstring wanted = key(name);
        for (char** entry = ::environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            const size_t equals = text.find('=');
            if (equals != std::string_view::npos &&
                key(sim::detail::fromUtf8(text.substr(0, equals)).value_or(L"")) == wanted) {
                return sim::detail::fromUtf8(text.substr(equals + 1)).value_or(L"");
            }
        }
        return std::nullopt;
    }

    void set(std::wstring_view name, std::optional<std::wstring> value) {
        std::lock_guard lock(mutex);
        overlay[key(name)] = std::move(value);
    }
};

Environment& environment() {
    static auto* env = [] {
        auto* e = new Environment;
        e->defaults();
        sim::onReset([e] {
            std::lock_guard lock(e->mutex);
            e->defaults();
        });
        return e;
    }();
    return *env;
}

}  // namespace

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    SIM_API("GetEnvironmentVariableW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    const auto value = environment().get(name);
    if (!value) {
        return fail(ERROR_ENVVAR_NOT_FOUND, static_cast<DWORD>(0));
    }
    if (value->size() + 1 > size) {
        return static_cast<DWORD>(value->size() + 1);
    }
    std::wmemcpy(buffer, value->c_str(), value->size() + 1);
    return static_cast<DWORD>(value->size());
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
    SIM_API("SetEnvironmentVariableW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (name == nullptr || *name == L'\0' || std::wcschr(name, L'=') != nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    environment().set(name, value == nullptr ? std::nullopt : std::optional<std::wstring>(value));
    return TRUE;
}

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
    SIM_API("ExpandEnvironmentStringsW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    // %NAME% is replaced by the variable's value; an unknown name is kept with its leading '%'
    // and the scan goes on at its closing '%', as Windows does.
    std::wstring out;
    const std::wstring text = source;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find(L'%', i);
        if (open == std::wstring::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        const size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out += text.substr(open);
            break;
        }
        const std::wstring name = text.substr(open + 1, close - open - 1);
        const auto value = name.empty() ? std::nullopt : environment().get(name);
        if (value) {
            out += *value;
            i = close + 1;
        } else {
            out += text.substr(open, close - open);
            i = close;
        }
    }
    const auto needed = static_cast<DWORD>(out.size() + 1);
    if (destination != nullptr && size >= needed) {
        std::wmemcpy(destination, out.c_str(), needed);
    }
    return needed;
}

void OutputDebugStringA(LPCSTR text) {
    SIM_API("OutputDebugStringA");
    // The simulation has no debugger; the text goes to standard error when asked for.
    if (std::getenv("TARN_SIM_DEBUG_OUTPUT") != nullptr && text != nullptr) {
        std::fputs(text, stderr);
    }
}

void OutputDebugStringW(LPCWSTR text) {
    if (text != nullptr) {
        OutputDebugStringA(sim::detail::toUtf8(text).c_str());
    }
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    SIM_API("LocalAlloc");
    if (simFault_) {
        return fail(*simFault_, static_cast<HLOCAL>(nullptr));
    }
    void* memory = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, bytes == 0 ? 1 : bytes)
                                                : std::malloc(bytes == 0 ? 1 : bytes);
    return memory != nullptr ? memory : fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HLOCAL>(nullptr));
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}

std::vector<std::string> sim::detail::environmentForChild() {
    // The host's variables, then the simulated machine's own and those changed through
    // SetEnvironmentVariableW (a deleted one is left out).
    std::map<std::string, std::string> merged;
    for (char** entry = ::environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos && equals > 0) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    auto& env = environment();
    std::lock_guard lock(env.mutex);
    for (const auto& [upper, value] : env.overlay) {
        // The overlay keys are upper case: replace a host variable of any case.
        for (auto it = merged.begin(); it != merged.end();) {
            it = Environment::key(sim::detail::fromUtf8(it->first).value_or(L"")) == upper
                     ? merged.erase(it)
                     : std::next(it);
        }
        if (value) {
            merged[sim::detail::toUtf8(upper)] = sim::detail::toUtf8(*value);
        }
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : merged) {
        out.push_back(name + "=" + value);
    }
    return out;
}
