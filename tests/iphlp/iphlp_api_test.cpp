// The IP helper's queries and the text-to-address conversion as Windows answers them: the
// same assertions hold on the simulated machine and on the machine wine runs on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win.h"

namespace {

constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                         GAA_FLAG_SKIP_FRIENDLY_NAME | GAA_FLAG_INCLUDE_WINS_INFO |
                         GAA_FLAG_INCLUDE_GATEWAYS;

// A port as the socket address holds it (network order), in host order.
USHORT hostPort(USHORT networkOrder) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&networkOrder);
    return static_cast<USHORT>(bytes[0] << 8 | bytes[1]);
}

std::vector<uint8_t> bytesOf(const SOCKET_ADDRESS& address) {
    const auto* in = reinterpret_cast<const SOCKADDR_IN*>(address.lpSockaddr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&in->sin_addr);
    return {bytes, bytes + 4};
}

// The adapter list, asked for as the system asks: size first, then the list.
std::vector<uint64_t> adapterList() {
    ULONG size = 0;
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    // Wine may want more on the second call than it reported on the first.
    std::vector<uint64_t> buffer(size / 8 + 512);
    size = static_cast<ULONG>(buffer.size() * 8);
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                   reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size),
              static_cast<ULONG>(ERROR_SUCCESS));
    return buffer;
}

TEST(IpHelperApi, AShortBufferAsksForMoreAndTheListThenFits) {
    ULONG size = 0;
    ASSERT_EQ(GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, &size),
              static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    EXPECT_GE(size, sizeof(IP_ADAPTER_ADDRESSES));
    std::vector<uint64_t> small(2);
    ULONG smallSize = sizeof(uint64_t) * 2;
    EXPECT_EQ(
        GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                             reinterpret_cast<IP_ADAPTER_ADDRESSES*>(small.data()), &smallSize),
        static_cast<ULONG>(ERROR_BUFFER_OVERFLOW));
    EXPECT_GE(smallSize, sizeof(IP_ADAPTER_ADDRESSES));
    EXPECT_EQ(GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, nullptr),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));
}

TEST(IpHelperApi, EveryAdapterIsARecordOfItsSizeAndEveryAddressHasAPrefix) {
    auto buffer = adapterList();
    int loopbacks = 0;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        SCOPED_TRACE(adapter->AdapterName);
        EXPECT_EQ(adapter->Length, sizeof(IP_ADAPTER_ADDRESSES));
        ASSERT_NE(adapter->AdapterName, nullptr);
        ASSERT_NE(adapter->Description, nullptr);
        ASSERT_NE(adapter->FriendlyName, nullptr);
        EXPECT_EQ(adapter->FirstAnycastAddress, nullptr);
        EXPECT_EQ(adapter->FirstMulticastAddress, nullptr);
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            EXPECT_EQ(unicast->Length, sizeof(IP_ADAPTER_UNICAST_ADDRESS));
            ASSERT_EQ(unicast->Address.lpSockaddr->sa_family, AF_INET);
            EXPECT_EQ(unicast->Address.iSockaddrLength, static_cast<INT>(sizeof(SOCKADDR_IN)));
            EXPECT_GE(unicast->OnLinkPrefixLength, 1);
            EXPECT_LE(unicast->OnLinkPrefixLength, 32);
        }
        for (auto* gateway = adapter->FirstGatewayAddress; gateway; gateway = gateway->Next) {
            EXPECT_EQ(gateway->Address.lpSockaddr->sa_family, AF_INET);
        }
        if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
            ++loopbacks;
            ASSERT_NE(adapter->FirstUnicastAddress, nullptr);
            EXPECT_EQ(bytesOf(adapter->FirstUnicastAddress->Address),
                      (std::vector<uint8_t>{127, 0, 0, 1}));
            EXPECT_EQ(adapter->FirstUnicastAddress->OnLinkPrefixLength, 8);
            EXPECT_EQ(adapter->Flags & IP_ADAPTER_DHCP_ENABLED, 0u);
        }
    }
    EXPECT_EQ(loopbacks, 1);
}

TEST(IpHelperApi, NetworkParamsFollowTheSameProtocol) {
    ULONG size = 0;
    ASSERT_EQ(GetNetworkParams(nullptr, &size), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_GE(size, sizeof(FIXED_INFO));
    EXPECT_EQ(GetNetworkParams(nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::vector<uint64_t> buffer(size / 8 + 1);
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    ASSERT_EQ(GetNetworkParams(info, &size), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_GT(std::strlen(info->HostName), 0u);
    for (const IP_ADDR_STRING* entry = &info->DnsServerList; entry; entry = entry->Next) {
        const std::string text = entry->IpAddress.String;
        EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 3) << text;
    }
}

class TextToAddress : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &m_data), 0); }
    void TearDown() override { WSACleanup(); }

private:
    WSADATA m_data{};
};

TEST_F(TextToAddress, IPv4TextsAsWindowsReadsThem) {
    struct Case {
        const wchar_t* text;
        int error;  // 0: parsed
        std::vector<uint8_t> bytes;
        USHORT port;
    };
    const Case cases[] = {
        {L"10.1.2.3", 0, {10, 1, 2, 3}, 0},
        {L"10.1.2.3:8080", 0, {10, 1, 2, 3}, 8080},
        {L"010.1.2.3", 0, {8, 1, 2, 3}, 0},  // octal
        {L"0x0a.1.2.3", 0, {10, 1, 2, 3}, 0},
        {L"10.1", 0, {10, 0, 0, 1}, 0},
        {L"10.1.515", 0, {10, 1, 2, 3}, 0},
        {L"abc", WSAEINVAL, {}, 0},
        {L"", WSAEINVAL, {}, 0},
        {L" 10.1.2.3", WSAEINVAL, {}, 0},
        {L"1.2.3.256", WSAEINVAL, {}, 0},
        {L"1.2.3.4.5", WSAEINVAL, {}, 0},
        {L"::ffff:1.2.3.4", WSAEINVAL, {}, 0},
    };
    for (const Case& c : cases) {
        std::wstring text = c.text;
        SOCKADDR_IN address{};
        INT length = sizeof address;
        const INT result = WSAStringToAddressW(text.data(), AF_INET, nullptr,
                                               reinterpret_cast<SOCKADDR*>(&address), &length);
        const std::string label(text.begin(), text.end());
        if (c.error != 0) {
            EXPECT_EQ(result, SOCKET_ERROR) << label;
            EXPECT_EQ(WSAGetLastError(), c.error) << label;
            continue;
        }
        ASSERT_EQ(result, 0) << label;
        EXPECT_EQ(length, static_cast<INT>(sizeof(SOCKADDR_IN))) << label;
        EXPECT_EQ(address.sin_family, AF_INET) << label;
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address.sin_addr);
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), c.bytes) << label;
        EXPECT_EQ(hostPort(address.sin_port), c.port) << label;
    }
}

TEST_F(TextToAddress, IPv6TextsAndAShortBuffer) {
    std::wstring text = L"[fe80::1%4]:443";
    SOCKADDR_IN6 address{};
    INT length = sizeof address;
    ASSERT_EQ(WSAStringToAddressW(text.data(), AF_INET6, nullptr,
                                  reinterpret_cast<SOCKADDR*>(&address), &length),
              0);
    EXPECT_EQ(address.sin6_family, AF_INET6);
    EXPECT_EQ(address.sin6_addr.u.Byte[0], 0xfe);
    EXPECT_EQ(address.sin6_addr.u.Byte[15], 1);
    EXPECT_EQ(address.sin6_scope_id, 4u);
    EXPECT_EQ(hostPort(address.sin6_port), 443);

    text = L"10.1.2.3";
    length = 4;
    EXPECT_EQ(WSAStringToAddressW(text.data(), AF_INET, nullptr,
                                  reinterpret_cast<SOCKADDR*>(&address), &length),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(length, static_cast<INT>(sizeof(SOCKADDR_IN)));
}

}  // namespace
