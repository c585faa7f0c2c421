// The simulated IP helper: the prepared setups, descriptions as data, a network that changes
// between two calls, and injected failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win.h"
#include "sim/iphlp_control.h"
#include "sim/machine.h"

namespace {

constexpr ULONG kFlags = 0xE6;

std::string dotted(const SOCKET_ADDRESS& address) {
    const auto* in = reinterpret_cast<const SOCKADDR_IN*>(address.lpSockaddr);
    const auto* b = reinterpret_cast<const uint8_t*>(&in->sin_addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

template <class Record>
std::vector<std::string> texts(const Record* first) {
    std::vector<std::string> out;
    for (const Record* record = first; record; record = record->Next) {
        out.push_back(dotted(record->Address));
    }
    return out;
}

struct Listed {
    ULONG result = 0;
    ULONG size = 0;
    std::vector<uint64_t> buffer;
    IP_ADAPTER_ADDRESSES* first() { return reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); }
};

Listed list(ULONG capacity, ULONG flags = kFlags) {
    Listed listed;
    listed.buffer.resize(capacity / 8 + 1);
    listed.size = capacity;
    listed.result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                         capacity ? listed.first() : nullptr, &listed.size);
    return listed;
}

ULONG neededSize() {
    return list(0).size;
}

TEST(SimIpHelper, TheOfficeLanAsTheSystemSeesIt) {
    sim::iphlp::useSetup("office-lan");
    Listed listed = list(neededSize());
    ASSERT_EQ(listed.result, static_cast<ULONG>(ERROR_SUCCESS));
    IP_ADAPTER_ADDRESSES* loopback = listed.first();
    ASSERT_NE(loopback, nullptr);
    EXPECT_EQ(loopback->IfType, static_cast<IFTYPE>(IF_TYPE_SOFTWARE_LOOPBACK));
    IP_ADAPTER_ADDRESSES* lan = loopback->Next;
    ASSERT_NE(lan, nullptr);
    EXPECT_EQ(lan->Next, nullptr);
    EXPECT_EQ(lan->IfType, static_cast<IFTYPE>(IF_TYPE_ETHERNET_CSMACD));
    EXPECT_EQ(lan->OperStatus, IfOperStatusUp);
    EXPECT_NE(lan->Flags & IP_ADAPTER_DHCP_ENABLED, 0u);
    EXPECT_EQ(texts(lan->FirstUnicastAddress), std::vector<std::string>{"10.20.4.37"});
    EXPECT_EQ(lan->FirstUnicastAddress->OnLinkPrefixLength, 22);
    EXPECT_EQ(texts(lan->FirstGatewayAddress), std::vector<std::string>{"10.20.4.1"});
    EXPECT_EQ(texts(lan->FirstWinsServerAddress),
              (std::vector<std::string>{"10.20.1.7", "10.20.1.8"}));
    EXPECT_EQ(texts(lan->FirstDnsServerAddress),
              (std::vector<std::string>{"10.20.1.2", "10.20.1.3"}));
    EXPECT_EQ(dotted(lan->Dhcpv4Server), "10.20.1.5");
    EXPECT_EQ(std::wstring(lan->FriendlyName), L"") << "skipped by the flags";
    EXPECT_EQ(std::wstring(lan->DnsSuffix), L"corp.example.com");
    EXPECT_EQ(lan->PhysicalAddressLength, 6u);

    // Without the flags that ask for them, gateways and WINS servers are left out.
    listed = list(neededSize(), GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST);
    ASSERT_EQ(listed.result, static_cast<ULONG>(ERROR_SUCCESS));
    EXPECT_EQ(listed.first()->Next->FirstGatewayAddress, nullptr);
    EXPECT_EQ(listed.first()->Next->FirstWinsServerAddress, nullptr);
    EXPECT_EQ(std::wstring(listed.first()->Next->FriendlyName), L"Ethernet");
}

TEST(SimIpHelper, TheSizeReportedIsExactlyTheSizeNeeded) {
    for (const auto& name : sim::iphlp::setupNames()) {
        sim::iphlp::useSetup(name);
        const ULONG needed = neededSize();
        EXPECT_EQ(list(needed - 1).result, static_cast<ULONG>(ERROR_BUFFER_OVERFLOW)) << name;
        EXPECT_EQ(list(needed).result, static_cast<ULONG>(ERROR_SUCCESS)) << name;
    }
}

TEST(SimIpHelper, AListThatGrowsBetweenTheTwoCallsOverflowsAgain) {
    sim::iphlp::useSetup("home-wifi");
    const ULONG before = neededSize();
    sim::iphlp::changeAfterNextCall(
        "GetAdaptersAddresses",
        sim::iphlp::parseNetwork(sim::iphlp::setupDescription("home-wifi+vpn")));
    ASSERT_EQ(list(before).result, static_cast<ULONG>(ERROR_SUCCESS)) << "the old list";
    const Listed again = list(before);
    EXPECT_EQ(again.result, static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    EXPECT_GT(again.size, before);
    EXPECT_EQ(sim::iphlp::network().adapters.size(), 3u);
}

TEST(SimIpHelper, ParametersListEachConnectedDnsServerOnce) {
    sim::iphlp::useSetup("office-lan+vpn");  // both adapters name the corporate servers
    ULONG size = 0;
    ASSERT_EQ(GetNetworkParams(nullptr, &size), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(size, sizeof(FIXED_INFO) + sizeof(IP_ADDR_STRING));
    std::vector<uint64_t> buffer(size / 8 + 1);
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    ASSERT_EQ(GetNetworkParams(info, &size), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_STREQ(info->HostName, "WS-0412");
    EXPECT_STREQ(info->DomainName, "corp.example.com");
    EXPECT_STREQ(info->DnsServerList.IpAddress.String, "10.20.1.2");
    ASSERT_NE(info->DnsServerList.Next, nullptr);
    EXPECT_STREQ(info->DnsServerList.Next->IpAddress.String, "10.20.1.3");
    EXPECT_EQ(info->DnsServerList.Next->Next, nullptr);
    EXPECT_EQ(info->NodeType, static_cast<UINT>(HYBRID_NODETYPE));

    sim::iphlp::useSetup("no-network");
    size = sizeof(FIXED_INFO);
    ASSERT_EQ(GetNetworkParams(info, &size), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_STREQ(info->DnsServerList.IpAddress.String, "");
    EXPECT_EQ(info->DnsServerList.Next, nullptr);
}

TEST(SimIpHelper, NoNetworkLeavesTheLoopbackAndAnAdapterThatIsDown) {
    sim::iphlp::useSetup("no-network");
    Listed listed = list(neededSize());
    ASSERT_EQ(listed.result, static_cast<ULONG>(ERROR_SUCCESS));
    IP_ADAPTER_ADDRESSES* wifi = listed.first()->Next;
    ASSERT_NE(wifi, nullptr);
    EXPECT_EQ(wifi->OperStatus, IfOperStatusDown);
    EXPECT_EQ(wifi->FirstUnicastAddress, nullptr);
    EXPECT_EQ(wifi->Dhcpv4Server.lpSockaddr, nullptr);

    sim::iphlp::setNetwork({});
    ULONG size = 0;
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_NO_DATA));
}

TEST(SimIpHelper, RefusalsAndInjectedFailures) {
    ULONG size = 0;
    int reserved = 0;
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, kFlags, &reserved, nullptr, &size),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetAdaptersAddresses(99, kFlags, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetAdaptersAddresses(AF_INET6, kFlags, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_NO_DATA));
    EXPECT_EQ(
        GetAdaptersAddresses(AF_INET, kFlags | GAA_FLAG_INCLUDE_PREFIX, nullptr, nullptr, &size),
        static_cast<ULONG>(ERROR_NOT_SUPPORTED));
    sim::failCall("GetAdaptersAddresses", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_NOT_ENOUGH_MEMORY));
    sim::failCall("GetNetworkParams", 1, ERROR_NO_DATA);
    EXPECT_EQ(GetNetworkParams(nullptr, &size), static_cast<DWORD>(ERROR_NO_DATA));
    EXPECT_EQ(sim::callCount("GetAdaptersAddresses"), 5u);
    EXPECT_EQ(sim::callCount("GetNetworkParams"), 1u);
}

TEST(SimIpHelper, DescriptionsAsData) {
    const auto network = sim::iphlp::parseNetwork(R"({"host_name": "LAB-7", "adapters": [
        {"name": "{A}", "type": "virtual", "up": false, "mac": "02:00:4C:4F:4F:50",
         "unicast": ["192.0.2.10/28", "192.0.2.11"], "dhcp": false}]})");
    ASSERT_EQ(network.adapters.size(), 1u);
    const auto& adapter = network.adapters[0];
    EXPECT_EQ(network.hostName, "LAB-7");
    EXPECT_EQ(adapter.type, static_cast<uint32_t>(IF_TYPE_PROP_VIRTUAL));
    EXPECT_FALSE(adapter.up);
    EXPECT_EQ(adapter.physicalAddress, (std::vector<uint8_t>{2, 0, 0x4C, 0x4F, 0x4F, 0x50}));
    sim::iphlp::setNetwork(network);
    Listed listed = list(neededSize());
    ASSERT_EQ(listed.result, static_cast<ULONG>(ERROR_SUCCESS));
    const auto* second = listed.first()->FirstUnicastAddress->Next;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->OnLinkPrefixLength, 32) << "no prefix: a host address";

    const char* broken[] = {
        R"({"adapters": [{"type": "carrier pigeon"}]})",
        R"({"adapters": [{"mac": "00-1"}]})",
        R"({"adapters": [{"unicast": 7}]})",
        R"({"adapters": )",
    };
    for (const char* text : broken) {
        EXPECT_THROW(sim::iphlp::parseNetwork(text), std::invalid_argument) << text;
    }
    sim::iphlp::Network bad;
    bad.adapters.push_back({});
    bad.adapters[0].unicast = {"10.0.0.1/33"};
    EXPECT_THROW(sim::iphlp::setNetwork(bad), std::invalid_argument);
    bad.adapters[0].unicast = {"10.0.0.256/8"};
    EXPECT_THROW(sim::iphlp::setNetwork(bad), std::invalid_argument);
    EXPECT_THROW(sim::iphlp::useSetup("moon-base"), std::invalid_argument);
    EXPECT_EQ(sim::iphlp::network().hostName, "LAB-7") << "a refused network changes nothing";
}

}  // namespace
