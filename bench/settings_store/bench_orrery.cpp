// Latency of the settings store: typed get and set, a change in another process until the
// callback here, what a subscriber costs while nothing changes, and reading a 10,000-rule
// profile array as JSON through the client.
//   bench_orrery [benchmark options]
//   bench_orrery --writer NAMESPACE COUNT PERIOD_MS   (started by the cross-process benchmark)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/support/BenchRoot.h"
#include "platform/win.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"
#include "sim/machine.h"

namespace {

int64_t nowNanoseconds() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<int64_t>(static_cast<double>(counter.QuadPart) * 1e9 /
                                static_cast<double>(frequency.QuadPart));
}

using tarn::bench::BenchRoot;

void reportPercentiles(benchmark::State& state, std::vector<double> micros,
                       const std::string& prefix = "") {
    if (micros.empty()) {
        return;
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<size_t>(q * micros.size()))];
    };
    state.counters[prefix + "p50_us"] = at(0.50);
    state.counters[prefix + "p99_us"] = at(0.99);
    state.counters[prefix + "max_us"] = micros.back();
}

template <typename Operation>
void timeEach(benchmark::State& state, Operation operation) {
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        operation();
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    reportPercentiles(state, std::move(micros));
}

// A document of the size a managed machine has, without the profile array.
void fillSettings(PyxOrreryHandle handle) {
    PyxOrrery_ImportUtf8(handle, R"({"windows":{"firewall":{"enabled":true,"winfw_enabled":true,
        "current_profile_name":"office","network_isolation":{"enabled":false,"local":{"enabled":false}}},
        "sensor":{"enabled":false}},"status":{"windows":{"firewall":{"enabled":true}}}})");
}

void BM_GetBool(benchmark::State& state) {
    BenchRoot root(L"orrery");
    const auto handle = root.open();
    fillSettings(handle.get());
    timeEach(state, [&] {
        benchmark::DoNotOptimize(
            Orrery::getBool(handle.get(), tarn::keys::kFirewallEnabled, false));
    });
}
BENCHMARK(BM_GetBool);

void BM_SetBool(benchmark::State& state) {
    BenchRoot root(L"orrery");
    const auto handle = root.open();
    fillSettings(handle.get());
    bool value = false;
    timeEach(state, [&] {
        value = !value;  // a real change each time: an unchanged value writes nothing
        Orrery::setBool(handle.get(), tarn::keys::kStatusFirewallEnabled, value);
    });
}
BENCHMARK(BM_SetBool)->Iterations(300);

nlohmann::json rule(int i) {
    return {{"name", "Rule " + std::to_string(i)},
            {"description", "Allows the service number " + std::to_string(i)},
            {"enabled", true},
            {"direction", i % 2 == 0 ? "in" : "out"},
            {"action", i % 3 == 0 ? "block" : "allow"},
            {"protocol", 6},
            {"local_ports", std::to_string(1000 + i % 5000)},
            {"remote_addresses", "10.0." + std::to_string(i % 256) + ".0/24"},
            {"application", "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe"},
            {"interfaces", nlohmann::json::array({"eth0"})},
            {"network_type", 0},
            {"alert", i % 10 == 0}};
}

void BM_ReadProfiles10000RulesAsJson(benchmark::State& state) {
    BenchRoot root(L"orrery");
    const auto handle = root.open();
    nlohmann::json rules = nlohmann::json::array();
    for (int i = 0; i < 10000; ++i) {
        rules.push_back(rule(i));
    }
    const nlohmann::json profiles = nlohmann::json::array(
        {{{"profile_name", "office"}, {"profile_visible_name", "Office"}, {"rules", rules}}});
    const std::string text = profiles.dump();
    PyxOrrery_SetObjectFromStringUtf8(handle.get(), tarn::keys::kProfiles, text.c_str());
    state.counters["document_bytes"] = static_cast<double>(text.size());
    timeEach(state, [&] {
        const auto read =
            Orrery::getObjectFromOrrery<nlohmann::json>(handle.get(), tarn::keys::kProfiles, {});
        benchmark::DoNotOptimize(read.size());
    });
}
BENCHMARK(BM_ReadProfiles10000RulesAsJson)->Unit(benchmark::kMillisecond);

struct Latencies {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<double> micros;
    PyxOrreryHandle handle = nullptr;
};

void WINAPI onStamp(const wchar_t* key, const void*, const void*, void* context) {
    const int64_t now = nowNanoseconds();
    auto* latencies = static_cast<Latencies*>(context);
    const int64_t written = Orrery::getInt64(latencies->handle, key, now);
    std::lock_guard lock(latencies->mutex);
    latencies->micros.push_back(static_cast<double>(now - written) / 1000.0);
    latencies->arrived.notify_all();
}

void BM_ChangeToCallbackAcrossProcesses(benchmark::State& state) {
    constexpr int kChanges = 200;
    BenchRoot root(L"orrery");
    const auto handle = root.open();
    Latencies latencies;
    latencies.handle = handle.get();
    PyxOrrery_Subscribe(handle.get(), L"bench.stamp", &onStamp, &latencies);
    for (auto _ : state) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line =
            L"\"" + std::wstring(self) + L"\" --writer bench " + std::to_wstring(kChanges) + L" 53";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            state.SkipWithError("cannot start the writer");
            return;
        }
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        std::unique_lock lock(latencies.mutex);
        latencies.arrived.wait_for(lock, std::chrono::seconds(2),
                                   [&] { return latencies.micros.size() >= kChanges; });
    }
    state.counters["changes"] = static_cast<double>(latencies.micros.size());
    std::vector<double> micros;
    {
        std::lock_guard lock(latencies.mutex);
        micros = latencies.micros;
    }
    reportPercentiles(state, micros);
    // The writer's own durable write is part of each latency: it tells the store's share.
    reportPercentiles(
        state,
        Orrery::getObjectFromOrrery<std::vector<double>>(handle.get(), L"bench.write_us", {}),
        "write_");
}
BENCHMARK(BM_ChangeToCallbackAcrossProcesses)->Iterations(1)->Unit(benchmark::kSecond);

void WINAPI ignoreChange(const wchar_t*, const void*, const void*, void*) {}

// A subscriber while nothing changes: how often the library's thread wakes up (each return
// from a wait, and each poll, which reads the store's lock file), counted by the simulated
// machine over an idle period.
void BM_IdleSubscriberWakeUps(benchmark::State& state) {
    constexpr DWORD kIdleMs = 5000;
    BenchRoot root(L"orrery");
    const auto handle = root.open();
    fillSettings(handle.get());
    PyxOrrery_Subscribe(handle.get(), L"windows", &ignoreChange, nullptr);
    Sleep(300);  // the library's thread has started and settled
    uint64_t waits = 0;
    uint64_t polls = 0;
    for (auto _ : state) {
        const uint64_t waitsBefore = sim::callCount("WaitForMultipleObjects");
        const uint64_t pollsBefore = sim::callCount("ReadFile");
        Sleep(kIdleMs);
        waits += sim::callCount("WaitForMultipleObjects") - waitsBefore;
        polls += sim::callCount("ReadFile") - pollsBefore;
    }
    state.counters["idle_s"] = kIdleMs / 1000.0;
    state.counters["wakeups"] = static_cast<double>(waits);
    state.counters["polls"] = static_cast<double>(polls);
}
BENCHMARK(BM_IdleSubscriberWakeUps)->Iterations(1)->Unit(benchmark::kSecond);

// The other process of the cross-process benchmark: writes its clock now and then, at a
// period that does not divide the store's polling interval.
int runWriter(const std::wstring& nameSpace, int count, int periodMs) {
    const tarn::UniqueOrreryHandle handle(
        PyxOrrery_OpenHandle(nameSpace.c_str(), L"S-1-5-18", L"bench writer", nullptr));
    if (!handle) {
        return 1;
    }
    nlohmann::json writes = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        Sleep(static_cast<DWORD>(periodMs));
        const int64_t start = nowNanoseconds();
        PyxOrrery_SetInt64(handle.get(), L"bench.stamp", start);
        writes.push_back(static_cast<double>(nowNanoseconds() - start) / 1000.0);
    }
    return PyxOrrery_SetObjectFromStringUtf8(handle.get(), L"bench.write_us",
                                             writes.dump().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args != nullptr && count == 5 && std::wstring(args[1]) == L"--writer") {
        const int result = runWriter(args[2], _wtoi(args[3]), _wtoi(args[4]));
        LocalFree(args);
        return result;
    }
    LocalFree(args);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
