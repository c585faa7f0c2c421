// The rule engine over 1,000 and 10,000 rules on the simulated firewall: firewall calls per
// unchanged rule, writes on re-apply, the engine's own time per rule (the time spent inside
// the simulated firewall taken out; CPU time, so that a busy machine does not count), and the
// first full apply.
#include <benchmark/benchmark.h>

#include "rules/CoInitializer.h"
#include "sim/firewall_control.h"
#include "sim/machine.h"
#include "tests/rule_engine/EngineDoubles.h"

namespace {

using namespace tarn::test;

// Rules whose addresses Windows rewrites (prefixes, single addresses, IPv6 written first).
std::vector<FWRule> policy(int count) {
    std::vector<FWRule> rules;
    rules.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        FWRule rule = makeRule(L"Policy rule " + std::to_wstring(i), i % 3 == 0 ? 17 : 6,
                               i % 2 ? FWRule::Direction::In : FWRule::Direction::Out,
                               i % 5 ? FWRule::Action::Allow : FWRule::Action::Block);
        rule.remoteAddresses = L"fe80::" + std::to_wstring(i % 9000 + 1) + L",10." +
                               std::to_wstring(i / 256 % 256) + L"." + std::to_wstring(i % 256) +
                               L".0/24,192.168.1." + std::to_wstring(i % 250 + 1);
        rule.localPorts = L"443,80," + std::to_wstring(1000 + i % 60000);
        rule.applicationPath = L"%ProgramFiles%\\App" + std::to_wstring(i) + L"\\app.exe";
        rules.push_back(rule);
    }
    return rules;
}

struct Engine {
    explicit Engine(int count) {
        sim::reset();
        holder->beSureThatInterfaceIsAlive(true);
        provider->currentRules = policy(count);
    }
    CoInitializer com;
    tarn::Stoppable stop;
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<CountingAlerts> alerts = std::make_shared<CountingAlerts>();
    std::shared_ptr<SimPolicyHolder> holder = std::make_shared<SimPolicyHolder>();
    FWCurrentSettings current;
    SimRuleManager manager{stop, provider, alerts, holder, &current};
};

// The cost of reading the CPU clock, which the simulated firewall does twice a call: about one
// reading a call falls outside its own measurement and is taken out of the engine's time.
double clockCost() {
    static const double cost = [] {
        constexpr int kReadings = 200000;
        const uint64_t start = sim::firewall::threadCpuNanoseconds();
        for (int i = 0; i < kReadings; ++i) {
            benchmark::DoNotOptimize(sim::firewall::threadCpuNanoseconds());
        }
        return static_cast<double>(sim::firewall::threadCpuNanoseconds() - start) / kReadings;
    }();
    return cost;
}

// The CPU time of one pass: the whole, and the part spent inside the simulated firewall.
template <class Pass>
std::pair<double, double> timed(Pass pass) {
    const uint64_t inside = sim::firewall::nanosecondsInside();
    const uint64_t start = sim::firewall::threadCpuNanoseconds();
    pass();
    return {static_cast<double>(sim::firewall::threadCpuNanoseconds() - start),
            static_cast<double>(sim::firewall::nanosecondsInside() - inside)};
}

void BM_ReapplyUnchangedPolicy(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Engine engine(count);
    engine.manager.applyCurrentRules();
    double total = 0;
    double inside = 0;
    uint64_t calls = 0;
    uint64_t writes = 0;
    for (auto _ : state) {
        const uint64_t callsBefore = sim::firewall::calls();
        const uint64_t writesBefore = sim::firewall::writes();
        const auto [passTotal, passInside] = timed([&] { engine.manager.applyCurrentRules(); });
        total += passTotal;
        inside += passInside;
        calls += sim::firewall::calls() - callsBefore;
        writes += sim::firewall::writes() - writesBefore;
    }
    const double rules = static_cast<double>(state.iterations()) * count;
    const double clocks = static_cast<double>(calls) * clockCost();
    state.counters["calls_per_rule"] = static_cast<double>(calls) / rules;
    state.counters["writes"] = static_cast<double>(writes);
    state.counters["own_us_per_rule"] = (total - inside - clocks) / rules / 1000.0;
    state.counters["sim_us_per_rule"] = inside / rules / 1000.0;
}
BENCHMARK(BM_ReapplyUnchangedPolicy)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FirstApply(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    double total = 0;
    double inside = 0;
    uint64_t calls = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Engine engine(count);
        state.ResumeTiming();
        const uint64_t callsBefore = sim::firewall::calls();
        const auto [passTotal, passInside] = timed([&] { engine.manager.applyCurrentRules(); });
        total += passTotal;
        inside += passInside;
        calls += sim::firewall::calls() - callsBefore;
        state.PauseTiming();
        if (sim::firewall::rules().size() != static_cast<size_t>(count)) {
            state.SkipWithError("not every rule was applied");
        }
        state.ResumeTiming();
    }
    const double rules = static_cast<double>(state.iterations()) * count;
    const double clocks = static_cast<double>(calls) * clockCost();
    state.counters["own_us_per_rule"] = (total - inside - clocks) / rules / 1000.0;
    state.counters["sim_us_per_rule"] = inside / rules / 1000.0;
    state.counters["pass_s"] = total / 1e9 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FirstApply)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
