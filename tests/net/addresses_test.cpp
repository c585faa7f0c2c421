// Addresses and IPv4 networks: text forms, equality, netmasks and prefixes, and the errors
// of their constructors.
#include <stdexcept>

#include "common/Str.h"
#include "common/exceptions/ErrorCodeException.h"
#include "net/IPNetwork.h"
#include "tests/net/WinsockStarted.h"

namespace {

using tarn::net::IPAddress;
using tarn::net::IPNetwork;
using tarn::net::detail::IPv4Network;
using Addresses = tarn::test::WinsockStarted;

IPAddress v4(const wchar_t* text) {
    return IPAddress::create(text);
}

TEST_F(Addresses, TextsParseByTheirShape) {
    struct Case {
        const wchar_t* text;
        int family;
        const wchar_t* written;
    };
    const Case cases[] = {
        {L"192.168.1.77", AF_INET, L"192.168.1.77"},
        {L"fe80::1", AF_INET6, L"fe80::1"},
        {L"::1", AF_INET6, L"::1"},
        {L"::ffff:1.2.3.4", AF_INET, L"0.0.0.0"},  // it has a '.': read as IPv4
        {L"abc", AF_INET, L"0.0.0.0"},
        {L"", AF_INET, L"0.0.0.0"},
        {L"fe80::zz", AF_INET6, L"::"},
    };
    for (const Case& c : cases) {
        const IPAddress address = IPAddress::create(c.text);
        const std::string label = tarn::str::toUtf8(c.text);
        EXPECT_EQ(address.getSocketAddress().family, c.family) << label;
        EXPECT_EQ(address.toString(), c.written) << label;
    }
}

TEST_F(Addresses, EqualityAndLoopback) {
    EXPECT_EQ(v4(L"10.0.0.1"), v4(L"10.0.0.1"));
    EXPECT_FALSE(v4(L"10.0.0.1") == v4(L"10.0.0.2"));
    EXPECT_FALSE(v4(L"0.0.0.0") == IPAddress::create(L"::")) << "families never equal";
    EXPECT_EQ(IPAddress(), v4(L"0.0.0.0"));
    EXPECT_TRUE(v4(L"127.0.0.1").isLoopback());
    EXPECT_FALSE(v4(L"127.0.0.2").isLoopback());
    EXPECT_TRUE(IPAddress::create(L"::1").isLoopback());
    EXPECT_FALSE(IPAddress::create(L"::2").isLoopback());
    EXPECT_EQ(IPAddress::fromHostOrder(0xC0A80101), v4(L"192.168.1.1"));
}

TEST_F(Addresses, SocketAddressesOfOtherFamiliesAndNullAreRefused) {
    try {
        IPAddress::create(static_cast<const SOCKADDR*>(nullptr));
        FAIL() << "no exception";
    } catch (const tarn::Win32Exception& e) {
        EXPECT_EQ(e.code(), static_cast<unsigned long>(ERROR_BAD_ARGUMENTS));
        EXPECT_EQ(e.function(), L"tarn::net::IPAddress::create");
        EXPECT_EQ(e.file(), L"SocketAddress");
    }
    SOCKADDR unspecified{};
    try {
        IPAddress::create(&unspecified);
        FAIL() << "no exception";
    } catch (const tarn::SocketException& e) {
        EXPECT_EQ(e.code(), WSAEAFNOSUPPORT);
        EXPECT_EQ(e.reason(), tarn::net::SocketErrorCategory::message(WSAEAFNOSUPPORT));
    }
}

TEST_F(Addresses, NetworkAndBroadcastAddresses) {
    struct Case {
        const wchar_t* address;
        unsigned prefix;
        const wchar_t* network;
        const wchar_t* broadcast;
        const wchar_t* netmask;
    };
    const Case cases[] = {
        {L"192.168.1.77", 24, L"192.168.1.0", L"192.168.1.255", L"255.255.255.0"},
        {L"10.1.2.3", 32, L"10.1.2.3", L"10.1.2.3", L"255.255.255.255"},
        {L"10.1.2.3", 0, L"0.0.0.0", L"255.255.255.255", L"0.0.0.0"},
        {L"172.20.131.77", 25, L"172.20.131.0", L"172.20.131.127", L"255.255.255.128"},
        {L"10.20.4.37", 22, L"10.20.4.0", L"10.20.7.255", L"255.255.252.0"},
    };
    for (const Case& c : cases) {
        const IPNetwork network = IPNetwork::create(v4(c.address), c.prefix);
        const std::string label = tarn::str::toUtf8(c.address) + "/" + std::to_string(c.prefix);
        EXPECT_EQ(network.getNetworkAddress().toString(), c.network) << label;
        EXPECT_EQ(network.getBroadcastAddress().toString(), c.broadcast) << label;
        EXPECT_EQ(network.getNetmask().toString(), c.netmask) << label;
        EXPECT_EQ(network.getAddress().toString(), c.address) << label << ": kept unmasked";
        EXPECT_EQ(network.getPrefixLength(), c.prefix) << label;
        EXPECT_TRUE(network.contains(network.getBroadcastAddress())) << label;
    }
    const IPNetwork lan = IPNetwork::create(v4(L"10.20.4.37"), 22);
    EXPECT_TRUE(lan.contains(v4(L"10.20.7.200")));
    EXPECT_FALSE(lan.contains(v4(L"10.20.8.0")));
    EXPECT_FALSE(lan.contains(IPAddress::create(L"::1")));
    EXPECT_TRUE(lan.contains(IPNetwork::create(v4(L"10.20.5.0"), 24)));
    EXPECT_FALSE(lan.contains(IPNetwork::create(v4(L"10.20.0.0"), 16)));
}

TEST_F(Addresses, PrefixAndNetmaskErrors) {
    EXPECT_THROW(
        {
            try {
                IPNetwork::create(v4(L"10.0.0.0"), 33);
            } catch (const std::out_of_range& e) {
                EXPECT_STREQ(e.what(), "Prefix length too large");
                throw;
            }
        },
        std::out_of_range);
    try {
        IPNetwork::create(IPAddress::create(L"fe80::1"), 64);
        FAIL() << "no exception";
    } catch (const tarn::BaseException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Type: tarn::BaseException, Reason: Unsupported network address family (should "
                  "be AddressFamily::InterNetwork), Function: tarn::net::IPNetwork::create, "
                  "File: IPNetwork, Line: " +
                      std::to_string(e.line()));
        EXPECT_EQ(e.function(), L"tarn::net::IPNetwork::create");
    }

    struct Mask {
        const wchar_t* netmask;
        int prefix;  // -1: invalid_argument, -2: out_of_range
    };
    const Mask masks[] = {
        {L"255.255.252.0", 22}, {L"255.255.255.255", 32}, {L"0.0.0.0", 0},      {L"255.128.0.0", 9},
        {L"255.255.0.255", -1}, {L"255.0.255.0", -1},     {L"255.253.0.0", -2}, {L"1.0.0.0", -2},
    };
    for (const Mask& m : masks) {
        const std::string label = tarn::str::toUtf8(m.netmask);
        try {
            const IPv4Network network(v4(L"10.0.0.1"), v4(m.netmask));
            EXPECT_EQ(static_cast<int>(network.getPrefixLength()), m.prefix) << label;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(m.prefix, -1) << label;
            EXPECT_STREQ(e.what(), "non-contiguous netmask");
        } catch (const std::out_of_range& e) {
            EXPECT_EQ(m.prefix, -2) << label;
            EXPECT_STREQ(e.what(), "non-contiguous netmask");
        }
    }
}

}  // namespace
