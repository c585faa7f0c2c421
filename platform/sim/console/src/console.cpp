// Console control handlers: signals become control events on threads of their own.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "internal.h"
#include "sim/console_control.h"
#include "sim/win/console.h"

using sim::detail::fail;

namespace {

constexpr int kStatusControlCExit = static_cast<int>(0xC000013AU);

struct Handlers {
    std::mutex mutex;
    std::vector<PHANDLER_ROUTINE> routines;  // in registration order
    bool ignoreCtrlC = false;
    int pipe[2] = {-1, -1};
};

Handlers& handlers() {
    static auto* state = new Handlers;
    return *state;
}

void dispatch(DWORD ctrlType) {
    std::vector<PHANDLER_ROUTINE> routines;
    bool ignore = false;
    {
        auto& state = handlers();
        const std::lock_guard lock(state.mutex);
        routines = state.routines;
        ignore = state.ignoreCtrlC;
    }
    if (ctrlType == CTRL_C_EVENT && ignore) {
        return;
    }
    const bool handled = std::any_of(routines.rbegin(), routines.rend(),
                                     [&](PHANDLER_ROUTINE routine) { return routine(ctrlType); });
    if (!handled || ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT ||
        ctrlType == CTRL_SHUTDOWN_EVENT) {
        ::_exit(kStatusControlCExit);
    }
}

void onSignal(int signal) {
    const char type = signal == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT;
    [[maybe_unused]] const ssize_t written = ::write(handlers().pipe[1], &type, 1);
}

// The signals are turned into bytes of a pipe (all a signal handler may safely do); a thread
// reads them and starts one thread per event, as the console does.
void installSignalsOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& state = handlers();
        if (::pipe(state.pipe) != 0) {
            return;
        }
        std::thread([fd = state.pipe[0]] {
            char type = 0;
            while (::read(fd, &type, 1) == 1) {
                std::thread(dispatch, static_cast<DWORD>(type)).detach();
            }
        }).detach();
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    });
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    SIM_API("SetConsoleCtrlHandler");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    installSignalsOnce();
    auto& state = handlers();
    const std::lock_guard lock(state.mutex);
    if (handler == nullptr) {
        state.ignoreCtrlC = add != FALSE;
        return TRUE;
    }
    if (add) {
        state.routines.push_back(handler);
        return TRUE;
    }
    const auto it = std::find(state.routines.rbegin(), state.routines.rend(), handler);
    if (it == state.routines.rend()) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    state.routines.erase(std::next(it).base());
    return TRUE;
}

namespace sim::console {

void raise(uint32_t ctrlType, bool wait) {
    std::thread thread(dispatch, static_cast<DWORD>(ctrlType));
    if (wait) {
        thread.join();
    } else {
        thread.detach();
    }
}

}  // namespace sim::console
