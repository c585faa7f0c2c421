// The network centre over the simulated machine's IP helper: what it reads out of the
// records, and how the system's failures leave it.
#include "common/exceptions/ErrorCodeException.h"
#include "net/NetworkCenter.h"
#include "sim/iphlp_control.h"
#include "sim/machine.h"
#include "tests/net/WinsockStarted.h"

namespace {

using tarn::net::IPAddress;
using tarn::net::NetworkCenter;
using NetworkCenterSim = tarn::test::WinsockStarted;

std::vector<std::wstring> texts(const std::vector<IPAddress>& addresses) {
    std::vector<std::wstring> out;
    for (const auto& address : addresses) {
        out.push_back(address.toString());
    }
    return out;
}

TEST_F(NetworkCenterSim, TheOfficeAdapterAsRead) {
    sim::iphlp::useSetup("office-lan");
    const auto adapters = NetworkCenter().getAdapters(true);
    ASSERT_EQ(adapters.size(), 1u);
    const auto& lan = adapters[0];
    EXPECT_EQ(lan.getName(), "{4F1C2A77-8B0E-4E4F-A2D1-3C5B9E0D7A11}");
    EXPECT_EQ(lan.getDescription(), "Intel(R) Ethernet Connection I219-LM");
    EXPECT_EQ(lan.getPhysicalAddress(), (std::vector<uint8_t>{0x00, 0x15, 0x5D, 0x4A, 0x10, 0x07}));
    EXPECT_EQ(texts(lan.getUnicastAddresses()), std::vector<std::wstring>{L"10.20.4.37"});
    ASSERT_EQ(lan.getNetworks().size(), 1u);
    EXPECT_EQ(lan.getNetworks()[0].getPrefixLength(), 22u);
    EXPECT_EQ(texts(lan.getGateways()), std::vector<std::wstring>{L"10.20.4.1"});
    EXPECT_TRUE(lan.isDhcpEnabled());
    EXPECT_EQ(lan.getDhcpServer().toString(), L"10.20.1.5");
    EXPECT_TRUE(lan.hasWinsServer());
    EXPECT_EQ(lan.getPrimaryWinsServer().toString(), L"10.20.1.7");
    EXPECT_EQ(lan.getSecondaryWinsServer().toString(), L"10.20.1.8");
    EXPECT_EQ(texts(NetworkCenter().getNetworkParams().getDnsServers()),
              (std::vector<std::wstring>{L"10.20.1.2", L"10.20.1.3"}));
    EXPECT_EQ(NetworkCenter().getNetworkParams().getDomainName(), "corp.example.com");
}

TEST_F(NetworkCenterSim, MissingServersReadAsTheZeroAddress) {
    sim::iphlp::Network network;
    sim::iphlp::Adapter adapter;
    adapter.name = "static";
    adapter.unicast = {"192.0.2.10/24"};
    adapter.winsServers = {"192.0.2.7"};
    network.adapters.push_back(adapter);
    adapter.name = "dhcp without lease";
    adapter.dhcpEnabled = true;
    adapter.winsServers.clear();
    network.adapters.push_back(adapter);
    adapter.name = "static with a server left over";
    adapter.dhcpEnabled = false;
    adapter.dhcpServer = "192.0.2.1";
    network.adapters.push_back(adapter);
    sim::iphlp::setNetwork(network);

    const auto adapters = NetworkCenter().getAdapters(false);
    ASSERT_EQ(adapters.size(), 3u);
    EXPECT_TRUE(adapters[0].hasWinsServer());
    EXPECT_EQ(adapters[0].getSecondaryWinsServer(), IPAddress());
    EXPECT_FALSE(adapters[1].hasWinsServer());
    EXPECT_EQ(adapters[1].getPrimaryWinsServer(), IPAddress());
    EXPECT_TRUE(adapters[1].isDhcpEnabled());
    EXPECT_EQ(adapters[1].getDhcpServer(), IPAddress());
    EXPECT_EQ(adapters[2].getDhcpServer(), IPAddress()) << "DHCP is off";
}

TEST_F(NetworkCenterSim, ManyAdaptersTakeASecondCall) {
    sim::iphlp::Network network;
    for (int i = 0; i < 40; ++i) {
        sim::iphlp::Adapter adapter;
        adapter.name = "adapter " + std::to_string(i);
        adapter.description = std::string(150, 'd');
        adapter.unicast = {"10.0." + std::to_string(i) + ".1/24"};
        network.adapters.push_back(adapter);
    }
    sim::iphlp::setNetwork(network);
    EXPECT_EQ(NetworkCenter().getAdapters(false).size(), 40u);
    EXPECT_EQ(sim::callCount("GetAdaptersAddresses"), 2u);
}

// The text of a failure as a log line shows it.
template <class Call>
std::string failureOf(Call call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

TEST_F(NetworkCenterSim, FailuresOfTheSystemBecomeWin32Exceptions) {
    const NetworkCenter center;
    sim::failCall("GetAdaptersAddresses", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(failureOf([&] { center.getAdapters(true); }),
              "Type: Win32Exception, Reason: Not enough memory resources are available to "
              "process this command.\r\n, Function: "
              "tarn::net::detail::WinNetworkCenter::retrieveAdaptersInfo, File: NetworkCenter, "
              "Line: 55, Error Code : 8");

    // The list grows past the size that the first call reported.
    sim::iphlp::Network many;
    many.adapters.resize(60);  // more than the first buffer holds
    sim::iphlp::Network grown = many;
    grown.adapters.resize(120);
    sim::iphlp::setNetwork(many);
    sim::iphlp::changeAfterNextCall("GetAdaptersAddresses", grown);
    try {
        center.getAdapters(false);
        FAIL() << "no exception";
    } catch (const tarn::Win32Exception& e) {
        EXPECT_EQ(e.code(), static_cast<unsigned long>(ERROR_BUFFER_OVERFLOW));
    }

    // The size query reports the thread's last error, the second call its result.
    sim::failCall("GetNetworkParams", 1, ERROR_NO_DATA);
    SetLastError(ERROR_GEN_FAILURE);
    try {
        center.getNetworkParams();
        FAIL() << "no exception";
    } catch (const tarn::Win32Exception& e) {
        EXPECT_EQ(e.code(), static_cast<unsigned long>(ERROR_GEN_FAILURE));
        EXPECT_EQ(e.line(), 70);
    }
    sim::failCall("GetNetworkParams", 2, ERROR_NO_DATA);
    try {
        center.getNetworkParams();
        FAIL() << "no exception";
    } catch (const tarn::Win32Exception& e) {
        EXPECT_EQ(e.code(), static_cast<unsigned long>(ERROR_NO_DATA));
        EXPECT_EQ(e.line(), 75);
        EXPECT_EQ(e.function(), L"tarn::net::detail::WinNetworkCenter::retrieveNetworkInfo");
    }
}

}  // namespace
