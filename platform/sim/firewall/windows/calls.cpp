// The call counting and fault injection of the simulated machine (sim/machine.h), for the
// Windows test build, where the simulated firewall runs on the real COM runtime and the rest
// of the machine is the real (or wine's) Windows.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/machine.h"

namespace sim {

struct State {
    std::atomic<uint64_t> calls{0};
    uint64_t failFrom = 0;   // first failing call number (1-based), 0: none
    uint64_t failUntil = 0;  // last failing call number
    uint32_t code = 0;
};

namespace {

struct Calls {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<State>, std::less<>> apis;
    std::vector<std::function<void()>> resetHooks;

    State& state(std::string_view name) {
        auto it = apis.find(name);
        if (it == apis.end()) {
            it = apis.emplace(std::string(name), std::make_unique<State>()).first;
        }
        return *it->second;
    }
};

Calls& calls() {
    static Calls* instance = new Calls;  // never destroyed: used by static destructors
    return *instance;
}

}  // namespace

Api::Api(const char* name) {
    std::lock_guard lock(calls().mutex);
    m_state = &calls().state(name);
}

std::optional<uint32_t> Api::enter() {
    const uint64_t number = m_state->calls.fetch_add(1) + 1;
    std::lock_guard lock(calls().mutex);
    if (m_state->failFrom != 0 && number >= m_state->failFrom && number <= m_state->failUntil) {
        return m_state->code;
    }
    return std::nullopt;
}

uint64_t callCount(std::string_view api) {
    std::lock_guard lock(calls().mutex);
    return calls().state(api).calls.load();
}

void failCall(std::string_view api, uint64_t nth, uint32_t code, uint64_t times) {
    std::lock_guard lock(calls().mutex);
    State& s = calls().state(api);
    s.failFrom = s.calls.load() + (nth == 0 ? 1 : nth);
    s.failUntil = times == UINT64_MAX ? UINT64_MAX : s.failFrom + times - 1;
    s.code = code;
}

void failAlways(std::string_view api, uint32_t code) {
    failCall(api, 1, code, UINT64_MAX);
}

void clearFaults() {
    std::lock_guard lock(calls().mutex);
    for (auto& [name, s] : calls().apis) {
        s->failFrom = s->failUntil = 0;
    }
}

void onReset(std::function<void()> hook) {
    std::lock_guard lock(calls().mutex);
    calls().resetHooks.push_back(std::move(hook));
}

void reset() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(calls().mutex);
        for (auto& [name, s] : calls().apis) {
            s->failFrom = s->failUntil = 0;
            s->calls.store(0);
        }
        hooks = calls().resetHooks;
    }
    for (auto& hook : hooks) {
        hook();
    }
}

}  // namespace sim
