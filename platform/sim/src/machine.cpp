// Call counting, failure injection and reset of the simulated machine.
#include "sim/machine.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "internal.h"

namespace sim {

struct State {
    std::atomic<uint64_t> calls{0};
    std::atomic<bool> armed{false};
    // Guarded by the registry mutex below.
    uint64_t failFrom = 0;   // first failing call number (1-based), 0: none
    uint64_t failUntil = 0;  // last failing call number, UINT64_MAX: for ever
    uint32_t code = 0;
};

namespace {

struct Registry {
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

Registry& registry() {
    static Registry* instance = new Registry;  // never destroyed: used by static destructors
    return *instance;
}

}  // namespace

Api::Api(const char* name) {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    m_state = &reg.state(name);
}

std::optional<uint32_t> Api::enter() {
    const uint64_t number = m_state->calls.fetch_add(1, std::memory_order_relaxed) + 1;
    if (!m_state->armed.load(std::memory_order_acquire)) {
        return std::nullopt;
    }
    std::lock_guard lock(registry().mutex);
    if (m_state->failFrom != 0 && number >= m_state->failFrom && number <= m_state->failUntil) {
        return m_state->code;
    }
    return std::nullopt;
}

uint64_t callCount(std::string_view api) {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.state(api).calls.load();
}

void failCall(std::string_view api, uint64_t nth, uint32_t code, uint64_t times) {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    State& s = reg.state(api);
    const uint64_t now = s.calls.load();
    s.failFrom = now + (nth == 0 ? 1 : nth);
    s.failUntil = times == UINT64_MAX ? UINT64_MAX : s.failFrom + times - 1;
    s.code = code;
    s.armed.store(true, std::memory_order_release);
}

void failAlways(std::string_view api, uint32_t code) {
    failCall(api, 1, code, UINT64_MAX);
}

void clearFaults() {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    for (auto& [name, s] : reg.apis) {
        s->armed.store(false);
        s->failFrom = s->failUntil = 0;
    }
}

void onReset(std::function<void()> hook) {
    auto& reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.resetHooks.push_back(std::move(hook));
}

void reset() {
    std::vector<std::function<void()>> hooks;
    {
        auto& reg = registry();
        std::lock_guard lock(reg.mutex);
        for (auto& [name, s] : reg.apis) {
            s->armed.store(false);
            s->failFrom = s->failUntil = 0;
            s->calls.store(0);
        }
        hooks = reg.resetHooks;
    }
    for (auto& hook : hooks) {
        hook();
    }
}

std::string root() {
    // Never destroyed: objects closed by static destructors still need it.
    static const std::string* value = new std::string([] {
        if (const char* env = std::getenv("TARN_SIM_ROOT"); env != nullptr && *env != '\0') {
            return std::string(env);
        }
        if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
            return std::string(run) + "/tarn-sim";
        }
        return "/tmp/tarn-sim-" + std::to_string(getuid());
    }());
    return *value;
}

std::string hostPath(std::wstring_view windowsPath) {
    std::string utf8 = detail::toUtf8(windowsPath);
    for (char& c : utf8) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (!utf8.empty() && utf8[0] == '/') {
        return utf8;
    }
    if (utf8.size() >= 2 && utf8[1] == ':') {
        char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(utf8[0])));
        std::string rest = utf8.substr(2);
        if (rest.empty() || rest[0] != '/') {
            rest.insert(rest.begin(), '/');
        }
        return root() + "/" + drive + rest;
    }
    // Relative paths stay relative to the host's working directory.
    return utf8;
}

}  // namespace sim
