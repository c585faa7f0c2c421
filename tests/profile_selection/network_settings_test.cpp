// The network snapshot over adapters that the test makes up: what goes into the lists, when
// a refresh reports a change, and the line it logs.
#include <gtest/gtest.h>

#include "profile_selection/NetworkSettings.h"
#include "tests/net/FakeNetwork.h"
#include "tests/net/WinsockStarted.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::test::FakeCenter;
using tarn::test::LogCapture;
using tarn::test::logged;
using Texts = std::vector<std::wstring>;

class FakeNetworkSettings : public NetworkSettings {
public:
    std::shared_ptr<FakeCenter> center = std::make_shared<FakeCenter>();
    int centresCreated = 0;

protected:
    tarn::net::NetworkCenter createNetworkCenter() override {
        ++centresCreated;
        return tarn::net::NetworkCenter(center);
    }
};

class Snapshot : public tarn::test::WinsockStarted {
protected:
    void SetUp() override {
        WinsockStarted::SetUp();
        network.center->adapters = {
            {"loopback", {L"127.0.0.1/8"}},
            {"lan", {L"10.20.4.37/22"}, {L"10.20.4.1"}, true, L"10.20.1.5", {L"10.20.1.7"}},
            {"wifi", {L"192.168.1.23/24"}, {L"10.20.4.1", L"0.0.0.0"}, true},
            {"everything", {L"172.16.0.9/0"}},  // a network of 0.0.0.0 is left out
        };
        network.center->dns = {L"10.20.1.2", L"0.0.0.0", L"10.20.1.3"};
    }
    FakeNetworkSettings network;
};

constexpr const char* kTag = "NetworkSettings::Data::logNetworkSettings";

TEST_F(Snapshot, TheFirstRefreshFillsTheListsAndLogsThem) {
    LogCapture log;
    EXPECT_TRUE(network.refresh());
    EXPECT_EQ(network.getGateways(), (Texts{L"10.20.4.1", L"10.20.4.1"}));
    EXPECT_EQ(network.getWinsServers(), Texts{L"10.20.1.7"});
    EXPECT_EQ(network.getDnsServers(), (Texts{L"10.20.1.2", L"10.20.1.3"}));
    EXPECT_EQ(network.getDhcpServers(), Texts{L"10.20.1.5"});
    EXPECT_EQ(network.getNetworks(),
              (Texts{L"10.20.4.0 10.20.7.255", L"192.168.1.0 192.168.1.255"}));
    EXPECT_TRUE(logged(log, 4, kTag,
                       "gw: vector(2) -> [10.20.4.1, 10.20.4.1], wins: vector(1) -> [10.20.1.7], "
                       "dns: vector(2) -> [10.20.1.2, 10.20.1.3], dhcp: vector(1) -> [10.20.1.5], "
                       "network: vector(2) -> [10.20.4.0 10.20.7.255, 192.168.1.0 192.168.1.255]"))
        << log.dump();
}

TEST_F(Snapshot, OnlyAChangedListReportsAChange) {
    ASSERT_TRUE(network.refresh());
    LogCapture log;
    EXPECT_FALSE(network.refresh());
    EXPECT_TRUE(log.lines().empty()) << log.dump();

    network.center->dns = {L"10.20.1.3", L"10.20.1.2"};  // the order alone
    EXPECT_TRUE(network.refresh());
    EXPECT_EQ(log.count("dns: vector(2) -> [10.20.1.3, 10.20.1.2]", 4), 1u);
    EXPECT_EQ(network.centresCreated, 1) << "one centre for the object's life";
}

TEST_F(Snapshot, LosingEveryUsableAdapterEmptiesTheListsWithoutAChange) {
    ASSERT_TRUE(network.refresh());
    const auto adapters = network.center->adapters;
    network.center->adapters = {adapters[0]};  // the loopback adapter only
    LogCapture log;
    EXPECT_FALSE(network.refresh());
    EXPECT_TRUE(network.getNetworks().empty());
    EXPECT_TRUE(network.getDnsServers().empty());
    EXPECT_TRUE(network.getGateways().empty());
    EXPECT_TRUE(log.lines().empty()) << log.dump();

    network.center->adapters = adapters;
    EXPECT_TRUE(network.refresh());
    EXPECT_EQ(log.count("gw: vector(2)", 4), 1u);
}

TEST_F(Snapshot, AFailedQueryIsLoggedAndReportsNoChange) {
    network.center->failure = "no adapters today";
    LogCapture log;
    EXPECT_FALSE(network.refresh());
    EXPECT_TRUE(logged(log, 3, "NetworkSettings::refresh",
                       "Getting of adapters or DNS servers info failed: no adapters today"))
        << log.dump();
    network.center->failure.clear();
    EXPECT_TRUE(network.refresh());
}

}  // namespace
