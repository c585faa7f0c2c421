// The controller WinFW on the simulated machine with a 1,000-rule policy already applied,
// driven through the settings store as the management writes it (the whole profiles key):
//
//   BM_StoreWriteToFirewall  one rule of the current profile changed: the wall time from the
//                            store write until the simulated firewall holds the change, next
//                            to the controller's settle delay and the pass's CPU time.
//   BM_UnchangedRulesPass    a rule of another profile changed: the pass checks the current
//                            profile's rules, all unchanged. The time is the CPU time of the
//                            controller's worker thread for the pass.
//
// CPU times include what the simulated firewall and the settings store spend on the worker
// thread, so our own part is below them (bench/rule_engine/own_cost.py splits the rule engine's).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/support/BenchRoot.h"
#include "control/WinFW.h"
#include "settings/FWSettings.h"
#include "settings_store/OrreryKeys.h"
#include "sim/firewall_control.h"
#include "sim/machine.h"

namespace {

namespace keys = tarn::keys;
using Clock = std::chrono::steady_clock;

constexpr int kRules = 1000;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The settings model; each status write (the end of a pass, on the controller's worker thread)
// notes the worker's CPU time so far.
class PassClock : public FWSettings {
public:
    using FWSettings::FWSettings;
    void writeStatus(const FWCurrentSettings& settings, bool isolationActive,
                     const FirewallGpoState& gpoState, bool serviceRunning) override {
        FWSettings::writeStatus(settings, isolationActive, gpoState, serviceRunning);
        const double cpu = threadCpuSeconds();
        std::lock_guard lock(m_mutex);
        m_passCpu = cpu - m_workerCpu;
        m_workerCpu = cpu;
        ++m_passes;
        m_passed.notify_all();
    }
    size_t passes() {
        std::lock_guard lock(m_mutex);
        return m_passes;
    }
    // Waits (10 s at most) for the end of a pass after the first `before`; the worker's CPU
    // time since the pass before it, or a negative value when none came.
    double waitForPassAfter(size_t before) {
        std::unique_lock lock(m_mutex);
        if (!m_passed.wait_for(lock, std::chrono::seconds(10), [&] { return m_passes > before; })) {
            return -1;
        }
        return m_passCpu;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_passed;
    size_t m_passes = 0;
    double m_workerCpu = 0;
    double m_passCpu = 0;
};

nlohmann::json rule(const std::string& name, int i, int localPort) {
    return {
        {"name", name},
        {"enabled", true},
        {"protocol", i % 3 == 0 ? "17" : "6"},
        {"direction", i % 2 ? "in" : "out"},
        {"action", i % 5 ? "allow" : "block"},
        {"network_type", "all"},
        {"local_ports", std::to_string(localPort)},
        {"remote_addresses", "10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) +
                                 ".0/24,192.168.1." + std::to_string(i % 250 + 1)},
        {"application_path", "%ProgramFiles%\\App" + std::to_string(i) + "\\app.exe"}};
}

std::wstring officeRuleName(int i) {
    return L"Office rule " + std::to_wstring(i);
}

// The current profile "office" with 1,000 rules, and a small profile "home" beside it.
class Policy {
public:
    Policy() {
        nlohmann::json office = nlohmann::json::array();
        for (int i = 0; i < kRules; ++i) {
            office.push_back(rule(tarn::str::toUtf8(officeRuleName(i)), i, 1000 + i));
        }
        m_profiles = {{{"profile_name", "office"},
                       {"profile_visible_name", "Office"},
                       {"allow_other_rules", true},
                       {"rules", office}},
                      {{"profile_name", "home"},
                       {"profile_visible_name", "Home"},
                       {"allow_other_rules", true},
                       {"rules", {rule("Home rule", 0, 1000)}}}};
    }
    // Moves a rule of the current profile to a new local port, unique to this call.
    int changeOfficeRule(int i) {
        m_profiles[0]["rules"][i]["local_ports"] = std::to_string(nextPort());
        return m_port;
    }
    void changeHomeRule() { m_profiles[1]["rules"][0]["local_ports"] = std::to_string(nextPort()); }
    std::string text() const { return m_profiles.dump(); }

private:
    int nextPort() { return m_port = (m_port - 40000 + 1) % 20000 + 40000; }
    nlohmann::json m_profiles;
    int m_port = 40000;
};

// The store, the settings model and the controller, with the policy's first pass done.
class Controller {
public:
    Controller() {
        set(keys::kFirewallEnabled, "true");
        set(keys::kCurrentProfileName, R"("office")");
        set(keys::kProfiles, policy.text());
        settings = std::make_shared<PassClock>(L"bench", scheduler, stopEvent);
        winfw = std::make_shared<WinFW>(L"bench", stopEvent);
        started = settings->start({winfw}) && winfw->start(settings) &&
                  settings->waitForPassAfter(0) >= 0 &&
                  sim::firewall::findRule(officeRuleName(kRules - 1)).has_value();
    }
    ~Controller() {
        winfw->stop();
        settings->stop();
    }
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    bool set(const std::wstring& key, const std::string& json) {
        return PyxOrrery_SetObjectFromStringUtf8(store.get(), key.c_str(), json.c_str()) == 0;
    }

    struct FreshMachine {
        FreshMachine() { sim::reset(); }
    } fresh;
    tarn::bench::BenchRoot root{L"control"};
    tarn::UniqueOrreryHandle store = root.open();
    // Never run: the settings model's delayed triggers would add passes of their own.
    Tarn::TaskScheduler scheduler;
    tarn::SharedEvent stopEvent = tarn::makeSharedEvent();
    Policy policy;
    std::shared_ptr<PassClock> settings;
    std::shared_ptr<WinFW> winfw;
    bool started = false;
};

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

bool holdsPort(const std::wstring& rule, int port) {
    const auto found = sim::firewall::findRule(rule);
    return found && found->localPorts == std::to_wstring(port);
}

void BM_StoreWriteToFirewall(benchmark::State& state) {
    Controller controller;
    if (!controller.started) {
        state.SkipWithError("the controller's first pass did not apply the policy");
        return;
    }
    std::vector<double> latencies;
    std::vector<double> passCpu;
    int changed = 0;
    for (auto _ : state) {
        const int i = changed++ * 37 % kRules;
        const int port = controller.policy.changeOfficeRule(i);
        const std::string text = controller.policy.text();
        const size_t before = controller.settings->passes();
        const auto written = Clock::now();
        if (!controller.set(keys::kProfiles, text)) {
            state.SkipWithError("the store refused the write");
            return;
        }
        // Polls instead of a hook on the firewall: the filtering engine holds that one.
        while (!holdsPort(officeRuleName(i), port)) {
            if (Clock::now() - written > std::chrono::seconds(10)) {
                state.SkipWithError("the firewall never held the change");
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - written).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds);
        passCpu.push_back(controller.settings->waitForPassAfter(before));
    }
    const double settle = std::chrono::duration<double>(WinFW::kSettleQuiet).count();
    const double pass = median(passCpu);
    state.counters["latency_ms"] = median(latencies) * 1e3;
    state.counters["latency_max_ms"] = *std::max_element(latencies.begin(), latencies.end()) * 1e3;
    state.counters["settle_ms"] = settle * 1e3;
    state.counters["pass_cpu_ms"] = pass * 1e3;
    // What the latency exceeds the settle delay plus the pass's CPU time by.
    state.counters["over_goal_ms"] = (median(latencies) - settle - pass) * 1e3;
}
BENCHMARK(BM_StoreWriteToFirewall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

void BM_UnchangedRulesPass(benchmark::State& state) {
    Controller controller;
    if (!controller.started) {
        state.SkipWithError("the controller's first pass did not apply the policy");
        return;
    }
    std::vector<double> passCpu;
    const uint64_t writesBefore = sim::firewall::writes();
    const uint64_t callsBefore = sim::firewall::calls();
    for (auto _ : state) {
        controller.policy.changeHomeRule();
        const size_t before = controller.settings->passes();
        if (!controller.set(keys::kProfiles, controller.policy.text())) {
            state.SkipWithError("the store refused the write");
            return;
        }
        const double cpu = controller.settings->waitForPassAfter(before);
        if (cpu < 0) {
            state.SkipWithError("no pass came");
            return;
        }
        state.SetIterationTime(cpu);
        passCpu.push_back(cpu);
    }
    const auto passes = static_cast<double>(state.iterations());
    state.counters["pass_cpu_ms"] = median(passCpu) * 1e3;
    state.counters["fw_calls_per_pass"] =
        static_cast<double>(sim::firewall::calls() - callsBefore) / passes;
    state.counters["fw_writes_per_pass"] =
        static_cast<double>(sim::firewall::writes() - writesBefore) / passes;
}
BENCHMARK(BM_UnchangedRulesPass)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

}  // namespace

BENCHMARK_MAIN();
