// The cost of one network poll (the snapshot's refresh over the system's adapter list) and of
// evaluating the selection conditions against a snapshot.
#include <benchmark/benchmark.h>

#include "platform/win.h"
#include "profile_selection/NetworkSettings.h"
#include "profile_selection/SelectionConditions.h"

namespace {

struct Winsock {
    Winsock() {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() { WSACleanup(); }
};

// Every 10 seconds for the life of the plug-in: an unchanged network answers no change.
void BM_NetworkPoll(benchmark::State& state) {
    const Winsock winsock;
    NetworkSettings network;
    network.refresh();
    for (auto _ : state) {
        benchmark::DoNotOptimize(network.refresh());
    }
}
BENCHMARK(BM_NetworkPoll);

class ManyNetworks : public NetworkSettings {
public:
    explicit ManyNetworks(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const std::wstring prefix = L"10." + std::to_wstring(i % 256) + L".";
            m_networks.push_back(prefix + L"0.0 " + prefix + L"3.255");
        }
    }
    std::vector<std::wstring> getNetworks() const override { return m_networks; }

private:
    std::vector<std::wstring> m_networks;
};

// A rule that matches none of the networks looks at every one of them.
void BM_MyNetworkCondition(benchmark::State& state) {
    const ManyNetworks network(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            matchesCondition(network, L"my_network", L"192.168.*.1,172.16.4.*,10.*.200.7"));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MyNetworkCondition)->Arg(4)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
