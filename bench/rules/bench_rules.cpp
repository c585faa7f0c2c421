// Throughput of address normalisation, of the address matchers, and of comparing two address
// lists by meaning.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "common/Str.h"
#include "rules/AddressPatterns.h"
#include "rules/AddressRanges.h"
#include "rules/RuleHostAddressNormalizer.h"

namespace {

// A policy-like mix: addresses, ranges and subnets of both families, and keywords.
std::vector<std::wstring> mixedItems(size_t count) {
    std::mt19937 random(7);
    const auto n = [&](int limit) {
        return std::to_wstring(random() % static_cast<unsigned>(limit));
    };
    const auto v4 = [&] { return L"10." + n(256) + L"." + n(256) + L"." + n(256); };
    const auto v6 = [&] { return L"2001:db8:" + n(9999) + L"::" + n(9999); };
    std::vector<std::wstring> items;
    for (size_t i = 0; i < count; ++i) {
        switch (i % 10) {
            case 0:
            case 1:
                items.push_back(v4());
                break;
            case 2:
                items.push_back(v6());
                break;
            case 3:
                items.push_back(L"fe80::" + n(9999) + L"%" + n(20));
                break;
            case 4:
                items.push_back(v4() + L" - " + v4());
                break;
            case 5:
                items.push_back(v6() + L"-" + v6());
                break;
            case 6:
                items.push_back(v4() + L"/" + n(33));
                break;
            case 7:
                items.push_back(v4() + L"/255.255.0.0");
                break;
            case 8:
                items.push_back(v6() + L"/" + n(129));
                break;
            default:
                items.push_back(std::vector<std::wstring>{L"LocalSubnet", L"dns", L"DHCP", L"*",
                                                          L"defaultgateway", L"wins"}[i % 6]);
        }
    }
    return items;
}

void BM_NormalizeMixedItems(benchmark::State& state) {
    const auto items = mixedItems(static_cast<size_t>(state.range(0)));
    const std::wstring text = tarn::str::join(items, L",");
    const tarn::RuleHostAddressNormalizer normalizer(nullptr);
    for (auto _ : state) {
        std::vector<std::wstring> hostNames;
        std::wstring invalid;
        benchmark::DoNotOptimize(normalizer.normalizeHostAddresses(text, hostNames, invalid));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(items.size()));
}
BENCHMARK(BM_NormalizeMixedItems)->Arg(1000);

// The four predicates over the mixed items, by the fast matcher or the regular expressions.
template <bool kRegex>
void BM_MatchAllPatterns(benchmark::State& state) {
    const auto items = mixedItems(1000);
    constexpr tarn::AddressPattern patterns[] = {
        tarn::AddressPattern::IPv4Address, tarn::AddressPattern::IPv4Subnet,
        tarn::AddressPattern::IPv6Address, tarn::AddressPattern::IPv6Subnet};
    for (auto _ : state) {
        for (const auto& item : items) {
            for (const auto pattern : patterns) {
                benchmark::DoNotOptimize(kRegex ? tarn::matchesPatternRegex(pattern, item)
                                                : tarn::matchesPattern(pattern, item));
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(items.size()));
}
BENCHMARK(BM_MatchAllPatterns<false>)->Name("BM_MatchAllPatterns/fast");
BENCHMARK(BM_MatchAllPatterns<true>)->Name("BM_MatchAllPatterns/regex");

// Two lists of the same 1,000 addresses in other notations and another order, as the policy
// and the firewall hold them.
void BM_AddressListsEquivalent(benchmark::State& state) {
    std::vector<std::wstring> policy;
    std::vector<std::wstring> firewall;
    for (int i = 0; i < 1000; ++i) {
        const std::wstring net =
            L"10." + std::to_wstring(i / 250) + L"." + std::to_wstring(i % 250);
        switch (i % 4) {
            case 0:
                policy.push_back(net + L".0/24");
                firewall.push_back(net + L".0/255.255.255.0");
                break;
            case 1:
                policy.push_back(net + L".7");
                firewall.push_back(net + L".7/255.255.255.255");
                break;
            case 2:
                policy.push_back(net + L".1-" + net + L".9");
                firewall.push_back(net + L".1-" + net + L".9");
                break;
            default:
                policy.push_back(L"2001:db8:" + std::to_wstring(i) + L"::/64");
                firewall.push_back(L"2001:db8:" + std::to_wstring(i) + L"::/64");
        }
    }
    std::reverse(firewall.begin(), firewall.end());
    const std::wstring a = tarn::str::join(policy, L",");
    const std::wstring b = tarn::str::join(firewall, L",");
    if (!addressListsEquivalent(a, b)) {
        state.SkipWithError("lists differ");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(addressListsEquivalent(a, b));
    }
    state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_AddressListsEquivalent);

}  // namespace

BENCHMARK_MAIN();
