// The calling process of the simulated machine: ids, last error, environment, memory.
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
};

ProcessState& process() {
    static auto* state = [] {
        auto* s = new ProcessState;
        sim::onReset([s] {
            std::lock_guard lock(s->mutex);
            s->session = 1;
        });
        return s;
    }();
    return *state;
}

}  // namespace

DWORD sim::detail::currentSession() {
    auto& state = process();
    std::lock_guard lock(state.mutex);
    return state.session;
}

namespace sim {

void setSessionId(uint32_t session) {
    auto& state = process();
    std::lock_guard lock(state.mutex);
    state.session = session;
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
