// Network events through the monitor, as the filtering engine delivers them:
//
//   Decode/<lookups>        one event decoded into its fields and its line, on one thread,
//                           without (0) or with (1) the filter and layer look-ups of a drop
//   DecodeAndLog/<KB>       what the monitor does with a drop, on one and on two threads as
//                           the engine calls it: decode with look-ups, check the alert list,
//                           write the line to the "Blocks" log, which rotates at KB
//   Monitor/<kind>/<KB>     the same through the simulated engine's delivery (its queue and
//                           two threads included): drops by rules without alerts (0), or drops
//                           by rules on the alert list, each also sent as an alert (1)
//
// items_per_second is events per second of real time, on a machine that other work may share;
// cpu_us_per_event is the CPU time of the whole process (both engine threads and the thread
// that raises the events) per event, which that sharing changes less. 50 KB is the logs'
// default size limit.
#include <benchmark/benchmark.h>

#include <time.h>

#include <filesystem>
#include <memory>

#include "monitoring/FWAlertApi.h"
#include "monitoring/FwpmWrapper.h"
#include "monitoring/WfpEventInfo.h"
#include "monitoring/WinFWEventMonitor.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/wfp_control.h"
#include "tests/monitoring/FakeSettingsProvider.h"
#include "tests/monitoring/NetEventBuilder.h"

namespace {

constexpr int kBatch = 2000;
constexpr const wchar_t* kNamespace = L"bench";

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::wstring benchRoot() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"tarn-bench-monitor-" + std::to_wstring(GetCurrentProcessId());
}

// The machine of every run: logs and the spool below the bench folder, two managed rules.
struct Machine {
    explicit Machine(int64_t limitKB = 50) {
        sim::reset();
        const wchar_t* logging = L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\PYX\\Logging";
        sim::registry::setString(logging, L"RootPath", benchRoot());
        sim::registry::setDword(logging, L"LogMaxSizeKB", static_cast<uint32_t>(limitKB));
        SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", (benchRoot() + L"\\Spool").c_str());
        quiet = sim::wfp::addFilter(L"Block SMB", L"managed rule");
        alerting = sim::wfp::addFilter(L"Block RDP", L"managed rule");
        provider->setAlertList({L"Block RDP"});
    }
    uint64_t quiet = 0;
    uint64_t alerting = 0;
    std::shared_ptr<tarn::test::FakeSettingsProvider> provider =
        std::make_shared<tarn::test::FakeSettingsProvider>();
};

sim::wfp::NetEvent dropBy(uint64_t filter, int index) {
    sim::wfp::NetEvent event;
    event.flags = FWPM_NET_EVENT_FLAG_IP_VERSION_SET | FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET |
                  FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET | FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET |
                  FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET | FWPM_NET_EVENT_FLAG_IP_PROTOCOL_SET |
                  FWPM_NET_EVENT_FLAG_APP_ID_SET;
    event.ipProtocol = 6;
    event.localV4 = 0xC0A80105;
    event.remoteV4 = 0x0A000001 + static_cast<uint32_t>(index % 250);
    event.localPort = 445;
    event.remotePort = static_cast<uint16_t>(49152 + index % 16000);
    event.appId =
        sim::wfp::appIdBytes(L"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe");
    event.filterId = filter;
    event.layerId = sim::wfp::kLayerAuthRecvAcceptV4.id;
    event.direction = FWP_DIRECTION_IN;
    return event;
}

// A classify drop with addresses, ports and application, as the engine records it.
std::unique_ptr<tarn::test::NetEventBuilder> dropRecord(uint64_t filter, uint16_t layer) {
    auto event = std::make_unique<tarn::test::NetEventBuilder>();
    event->type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP)
        .classifyDrop(filter, layer, FWP_DIRECTION_IN)
        .ipv4(0xC0A80105, 0x0A000001)
        .ports(445, 50000)
        .protocol(6)
        .appId(L"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe")
        .flags(FWPM_NET_EVENT_FLAG_IP_VERSION_SET | FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET |
               FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET | FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET |
               FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET | FWPM_NET_EVENT_FLAG_APP_ID_SET);
    return event;
}

void Decode(benchmark::State& state) {
    Machine machine;
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    HANDLE engine = nullptr;
    FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, nullptr, &engine);
    const auto fwpm = std::make_shared<FwpmWrapper>();
    const auto event = dropRecord(state.range(0) != 0 ? machine.quiet : 0,
                                  state.range(0) != 0 ? sim::wfp::kLayerAuthRecvAcceptV4.id : 0);
    for (auto _ : state) {
        const WfpEventInfo info(event->get(), engine, fwpm);
        benchmark::DoNotOptimize(info.toString());
    }
    state.SetItemsProcessed(state.iterations());
    FwpmEngineClose0(engine);
    WSACleanup();
}
BENCHMARK(Decode)->Arg(0)->Arg(1);

// The engine's calls come from the benchmark's threads here.
void DecodeAndLog(benchmark::State& state) {
    static std::unique_ptr<Machine> machine;
    static std::unique_ptr<WinFWEventMonitor> monitor;
    static std::unique_ptr<tarn::test::NetEventBuilder> event;
    if (state.thread_index() == 0) {
        machine = std::make_unique<Machine>(state.range(0));
        monitor = std::make_unique<WinFWEventMonitor>();
        monitor->startMonitoring(machine->provider, nullptr);
        event = dropRecord(machine->quiet, sim::wfp::kLayerAuthRecvAcceptV4.id);
    }
    for (auto _ : state) {
        // Read inside the loop: its start waits until thread 0 has set everything up.
        monitor->onFWNetEvent(event->get());
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) {
        monitor.reset();
    }
}
BENCHMARK(DecodeAndLog)->Arg(50)->Arg(10240)->Threads(1)->Threads(2)->UseRealTime();

void Monitor(benchmark::State& state) {
    Machine machine(state.range(1));
    const bool alerting = state.range(0) != 0;
    auto monitor = std::make_unique<WinFWEventMonitor>();
    monitor->startMonitoring(machine.provider, std::make_shared<FWAlertApi>(kNamespace));
    std::vector<sim::wfp::NetEvent> events;
    for (int i = 0; i < kBatch; ++i) {
        events.push_back(dropBy(alerting ? machine.alerting : machine.quiet, i));
    }
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        for (const auto& event : events) {
            sim::wfp::raiseNetEvent(event);
        }
        sim::wfp::waitIdle();
    }
    const double raised = static_cast<double>(state.iterations()) * kBatch;
    state.SetItemsProcessed(static_cast<int64_t>(raised));
    state.counters["cpu_us_per_event"] = (processCpuSeconds() - cpuBefore) * 1e6 / raised;
    monitor.reset();
}
BENCHMARK(Monitor)->Args({0, 50})->Args({0, 10240})->Args({1, 10240})->UseRealTime()->MinTime(2);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(sim::hostPath(benchRoot()));
    return 0;
}
