// The current rules of a profile of 10,000 rules: time of one getCurrentRules and the peak of
// heap memory in use during it, without host names and with 1,000 host names that the DNS
// cache already knows.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>

#include <nlohmann/json.hpp>

#include "bench/support/BenchRoot.h"
#include "platform/win.h"
#include "settings/FWSettings.h"
#include "settings_store/OrreryKeys.h"
#include "sim/winsock_control.h"

// --- Heap in use: every allocation of the process goes through these. --------------------

namespace {

std::atomic<int64_t> g_inUse{0};
std::atomic<int64_t> g_peak{0};
constexpr size_t kHeader = alignof(std::max_align_t);

void* allocate(size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *reinterpret_cast<size_t*>(block) = size;
    const int64_t now = g_inUse.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
    int64_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return block + kHeader;
}

void release(void* pointer) noexcept {
    if (pointer != nullptr) {
        auto* block = static_cast<unsigned char*>(pointer) - kHeader;
        g_inUse.fetch_sub(static_cast<int64_t>(*reinterpret_cast<size_t*>(block)));
        std::free(block);
    }
}

}  // namespace

void* operator new(size_t size) {
    return allocate(size);
}
void* operator new[](size_t size) {
    return allocate(size);
}
void operator delete(void* pointer) noexcept {
    release(pointer);
}
void operator delete[](void* pointer) noexcept {
    release(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
    release(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
    release(pointer);
}

namespace {

using namespace std::chrono_literals;

std::string hostName(int i) {
    return "host" + std::to_string(i) + ".bench.example";
}

// A realistic rule; the first `hostNames` rules reach a host by name.
nlohmann::json rule(int i, int hostNames) {
    const std::string n = std::to_string(i);
    return {{"name", "Rule " + n + ": line of business service"},
            {"description", "Allows the service number " + n},
            {"enabled", true},
            {"protocol", i % 2 == 0 ? "6" : "17"},
            {"direction", i % 3 == 0 ? "out" : "in"},
            {"action", i % 5 == 0 ? "block" : "allow"},
            {"network_type", "all"},
            {"local_ports", std::to_string(1024 + i % 30000)},
            {"remote_ports", i % 3 == 0 ? "443,8443" : ""},
            {"remote_addresses", i < hostNames ? hostName(i)
                                               : "10." + std::to_string(i % 256) + "." +
                                                     std::to_string(i / 256) + ".0/24"},
            {"application_path", "C:\\Program Files\\App" + n + "\\app.exe"},
            {"send_alerts", i % 10 == 0}};
}

void BM_GetCurrentRules(benchmark::State& state) {
    const int hostNames = static_cast<int>(state.range(0));
    tarn::bench::BenchRoot root(L"settings");
    nlohmann::json rules = nlohmann::json::array();
    for (int i = 0; i < 10000; ++i) {
        rules.push_back(rule(i, hostNames));
    }
    for (int i = 0; i < hostNames; ++i) {
        sim::winsock::setDnsAnswer(tarn::str::fromUtf8(hostName(i)),
                                   {L"192.0.2." + std::to_wstring(i % 250 + 1)});
    }
    const nlohmann::json policy = {
        {"windows",
         {{"firewall",
           {{"current_profile_name", "office"},
            {"profiles", {{{"profile_name", "office"}, {"rules", rules}}}}}}}}};
    PyxOrrery_ImportUtf8(root.open().get(), policy.dump().c_str());
    Tarn::TaskScheduler scheduler;
    FWSettings settings(L"bench", scheduler, tarn::makeSharedEvent());
    if (!settings.start({})) {
        state.SkipWithError("the provider did not start");
        return;
    }
    size_t refused = 0;
    const InvalidRuleReporter reporter = [&](const FWRule&, const std::wstring&,
                                             const std::wstring&) { ++refused; };
    std::vector<std::wstring> names;
    benchmark::DoNotOptimize(settings.getCurrentRules(names, reporter));  // fills the DNS cache
    size_t count = 0;
    int64_t peak = 0;
    for (auto _ : state) {
        names.clear();
        refused = 0;
        const int64_t before = g_inUse.load();
        g_peak.store(before);
        const std::vector<FWRule> current = settings.getCurrentRules(names, reporter);
        peak = std::max(peak, g_peak.load() - before);
        count = current.size();
    }
    state.counters["rules"] = static_cast<double>(count);
    state.counters["refused"] = static_cast<double>(refused);
    state.counters["resolved_names"] = static_cast<double>(names.size());
    state.counters["peak_heap_MB"] = static_cast<double>(peak) / (1024.0 * 1024.0);
    settings.stop();
}
BENCHMARK(BM_GetCurrentRules)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
