// A preview of a policy of 1,000 and 10,000 rules on a fresh workstation: the whole preview,
// from loading the machine to the refusals with their paths (the aim: under two seconds for
// 10,000 rules).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "tools/policy/PolicyTool.h"

namespace {

using nlohmann::json;

// One profile of `count` rules of every kind; one in fifty is refused (a name too short), one in
// fifty applies only in part (an address that does not exist).
json policy(int count) {
    json rules = json::array();
    for (int i = 0; i < count; ++i) {
        json rule = {{"name", i % 50 == 7 ? "short" + std::to_string(i % 10)
                                          : "Policy rule " + std::to_string(i)},
                     {"protocol", i % 3 == 0 ? "17" : "6"},
                     {"direction", i % 2 ? "in" : "out"},
                     {"action", i % 5 ? "allow" : "block"},
                     {"network_type", i % 4 ? "all" : "domain"},
                     {"local_ports", std::to_string(1000 + i % 60000)},
                     {"remote_addresses", "10." + std::to_string(i / 256 % 256) + "." +
                                              std::to_string(i % 256) + ".0/24"}};
        if (i % 50 == 9) {
            rule["remote_addresses"] = "10.9.2.2,10.0.0.0/33";
        }
        rules.push_back(rule);
    }
    return {
        {"windows",
         {{"firewall",
           {{"current_profile_name", "office"},
            {"profiles",
             {{{"profile_name", "office"}, {"allow_other_rules", false}, {"rules", rules}}}}}}}}};
}

void BM_Preview(benchmark::State& state) {
    tarn::policy::PreviewInput input;
    input.policy = policy(static_cast<int>(state.range(0)));
    size_t refused = 0;
    for (auto _ : state) {
        const auto result = tarn::policy::preview(input);
        refused = result.refusals.size();
        benchmark::DoNotOptimize(result.after);
    }
    state.counters["rules"] = static_cast<double>(state.range(0));
    state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_Preview)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
