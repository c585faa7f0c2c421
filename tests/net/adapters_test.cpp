// Which adapters count as usable, and the adapters of the machine the test runs on (the
// simulated one, or the one under wine).
#include <algorithm>

#include "common/Str.h"
#include "net/NetworkCenter.h"
#include "tests/net/FakeNetwork.h"
#include "tests/net/WinsockStarted.h"

namespace {

using tarn::net::NetworkCenter;
using tarn::test::FakeAdapterData;
using tarn::test::FakeCenter;
using Adapters = tarn::test::WinsockStarted;

TEST_F(Adapters, OnlyTheFirstAddressDecidesWhetherAnAdapterIsUsable) {
    struct Case {
        std::vector<std::wstring> unicast;
        bool usable;
    };
    const Case cases[] = {
        {{L"192.168.1.23/24"}, true},
        {{}, false},
        {{L"169.254.7.1/16", L"10.0.0.5/8"}, false},
        {{L"10.0.0.5/8", L"169.254.7.1/16"}, true},
        {{L"169.253.255.255/16"}, true},
        {{L"169.255.0.0/16"}, true},
        {{L"127.0.0.1/8"}, false},
        {{L"127.0.0.2/8"}, true},  // only 127.0.0.1 is the loopback address
        {{L"0.0.0.0/0"}, false},
    };
    for (const Case& c : cases) {
        const tarn::test::FakeAdapter adapter(FakeAdapterData{"a", c.unicast});
        EXPECT_EQ(adapter.isUsable(), c.usable)
            << (c.unicast.empty() ? "none" : tarn::str::toUtf8(c.unicast[0]));
    }
}

TEST_F(Adapters, UsableAdaptersKeepTheirOrder) {
    auto center = std::make_shared<FakeCenter>();
    center->adapters = {{"loopback", {L"127.0.0.1/8"}},
                        {"lan", {L"10.20.4.37/22"}},
                        {"down", {}},
                        {"wifi", {L"192.168.1.23/24"}}};
    const NetworkCenter network(center);
    std::vector<std::string> names;
    for (const auto& adapter : network.getAdapters(true)) {
        names.push_back(adapter.getName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"lan", "wifi"}));
    EXPECT_EQ(network.getAdapters(false).size(), 4u);
}

// Structural: whatever the machine's network, the loopback adapter is never usable and each
// address comes with its network.
TEST_F(Adapters, TheMachinesAdaptersFromTheSystem) {
    const NetworkCenter network;
    const auto all = network.getAdapters(false);
    ASSERT_FALSE(all.empty());
    size_t loopbacks = 0;
    for (const auto& adapter : all) {
        const auto unicast = adapter.getUnicastAddresses();
        const auto networks = adapter.getNetworks();
        ASSERT_EQ(networks.size(), unicast.size()) << adapter.getName();
        for (size_t i = 0; i < unicast.size(); ++i) {
            EXPECT_TRUE(unicast[i].isIPv4()) << adapter.getName();
            EXPECT_GE(networks[i].getPrefixLength(), 1u) << adapter.getName();
            EXPECT_TRUE(networks[i].contains(unicast[i])) << adapter.getName();
        }
        if (!unicast.empty() && unicast[0].isLoopback()) {
            ++loopbacks;
            EXPECT_FALSE(adapter.isUsable());
        }
        if (!adapter.isDhcpEnabled()) {
            EXPECT_EQ(adapter.getDhcpServer(), tarn::net::IPAddress());
        }
    }
    EXPECT_EQ(loopbacks, 1u);
    const auto usable = network.getAdapters(true);
    EXPECT_LT(usable.size(), all.size());
    EXPECT_TRUE(std::all_of(usable.begin(), usable.end(),
                            [](const auto& adapter) { return adapter.isUsable(); }));
    EXPECT_FALSE(network.getNetworkParams().getHostName().empty());
}

}  // namespace
