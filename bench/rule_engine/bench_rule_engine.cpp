// The rule engine over 1,000 and 10,000 rules on the simulated firewall: the firewall calls per
// unchanged rule by kind (the minimum is one look-up and one read per compared property),
// writes on re-apply, the CPU time of a pass per rule, and the first full apply.
//
// The CPU time includes the simulated firewall's. own_cost.py tells the two apart by
// instruction counts under callgrind (repeatable on a loaded machine, unlike times): it counts
// what runs inside measuredPass, split into the firewall's part and the rest.
#include <benchmark/benchmark.h>

#include <ctime>

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

// The firewall calls so far, by kind.
struct Calls {
    double all = 0;
    double fetches = 0;  // the rule collection and walks over it
    double lookups = 0;  // Item
    double reads = 0;    // property reads
    double writes = 0;
    double queries = 0;  // QueryInterface

    static Calls now() {
        Calls c;
        c.all = static_cast<double>(sim::firewall::calls());
        c.fetches = count({"INetFwPolicy2::get_Rules", "INetFwRules::get__NewEnum",
                           "IEnumVARIANT::Next", "INetFwRules::get_Count"});
        c.lookups = count({"INetFwRules::Item"});
        c.reads = static_cast<double>(sim::firewall::reads()) - c.fetches - c.lookups;
        c.writes = static_cast<double>(sim::firewall::writes());
        c.queries = count({"INetFwRule::QueryInterface", "INetFwRules::QueryInterface",
                           "INetFwPolicy2::QueryInterface", "IEnumVARIANT::QueryInterface"});
        return c;
    }
    Calls operator-(const Calls& o) const {
        return {all - o.all,     fetches - o.fetches, lookups - o.lookups,
                reads - o.reads, writes - o.writes,   queries - o.queries};
    }
    Calls& operator+=(const Calls& o) {
        *this = {all + o.all,     fetches + o.fetches, lookups + o.lookups,
                 reads + o.reads, writes + o.writes,   queries + o.queries};
        return *this;
    }

private:
    static double count(std::initializer_list<const char*> apis) {
        double sum = 0;
        for (const char* api : apis) {
            sum += static_cast<double>(sim::callCount(api));
        }
        return sum;
    }
};

double threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// The code measured, by CPU time here and by instruction counts in own_cost.py (which names
// this function to callgrind: keep it out of line and keep the name).
[[gnu::noinline]] void measuredPass(FwRuleManager& manager) {
    manager.applyCurrentRules();
}

// One pass: its CPU time in nanoseconds and its calls.
std::pair<double, Calls> timedPass(FwRuleManager& manager) {
    const Calls before = Calls::now();
    const double start = threadCpuNanoseconds();
    measuredPass(manager);
    const double cpu = threadCpuNanoseconds() - start;
    return {cpu, Calls::now() - before};
}

void report(benchmark::State& state, double rules, double cpu, const Calls& calls) {
    state.counters["calls_per_rule"] = calls.all / rules;
    state.counters["fetches_per_rule"] = calls.fetches / rules;
    state.counters["lookups_per_rule"] = calls.lookups / rules;
    state.counters["reads_per_rule"] = calls.reads / rules;
    state.counters["queries_per_rule"] = calls.queries / rules;
    state.counters["writes_per_rule"] = calls.writes / rules;
    state.counters["writes"] = calls.writes;
    state.counters["cpu_us_per_rule"] = cpu / rules / 1000.0;
}

void BM_ReapplyUnchangedPolicy(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Engine engine(count);
    engine.manager.applyCurrentRules();
    double cpu = 0;
    Calls calls;
    for (auto _ : state) {
        const auto [passCpu, passCalls] = timedPass(engine.manager);
        cpu += passCpu;
        calls += passCalls;
    }
    report(state, static_cast<double>(state.iterations()) * count, cpu, calls);
}
BENCHMARK(BM_ReapplyUnchangedPolicy)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FirstApply(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    double cpu = 0;
    Calls calls;
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = std::make_unique<Engine>(count);
        state.ResumeTiming();
        const auto [passCpu, passCalls] = timedPass(engine->manager);
        cpu += passCpu;
        calls += passCalls;
        state.PauseTiming();
        if (sim::firewall::rules().size() != static_cast<size_t>(count)) {
            state.SkipWithError("not every rule was applied");
        }
        engine.reset();
        state.ResumeTiming();
    }
    report(state, static_cast<double>(state.iterations()) * count, cpu, calls);
    state.counters["pass_s"] = cpu / 1e9 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FirstApply)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
