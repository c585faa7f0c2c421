// The conditions of the selection rules and their address patterns.
#include <gtest/gtest.h>

#include "common/Str.h"
#include "profile_selection/NetworkSettings.h"
#include "profile_selection/SelectionConditions.h"

namespace {

struct Match {
    const wchar_t* subject;
    const wchar_t* pattern;
    bool expected;
};

std::string label(const Match& m) {
    return "\"" + tarn::str::toUtf8(m.subject) + "\" ~ \"" + tarn::str::toUtf8(m.pattern) + "\"";
}

TEST(Conditions, MatchAddressComparesOctetsAsText) {
    const Match cases[] = {
        {L"10.0.0.1", L"10.0.0.1", true},
        {L"10.0.0.1", L"10.0.*.1", true},
        {L"10.0.0.1", L"*.*.*.*", true},
        {L"10.0.0.1", L" 10.0.0. 1", true},  // white space inside octets is dropped
        {L"10.0.0.1", L"10.0.0.1 ", true},
        {L"10.0.0.1", L"010.0.0.1", false},  // as text, not as numbers
        {L"10.0.0.1", L" *.0.0.1", false},   // " *" is no wildcard
        {L"10.0.0.1", L"10.0.0", false},     // the counts differ
        {L"10.0.0.1", L"10.0.0.2", false},
        {L"10.0.0.1", L"", false},
        {L"", L"", false},
        {L"a", L"a", true},
    };
    for (const Match& m : cases) {
        EXPECT_EQ(matchAddress(m.subject, m.pattern), m.expected) << label(m);
    }
    const Match lists[] = {
        {L"192.168.2.1", L"192.168.1.1,192.168.2.1", true},
        {L"192.168.2.1", L"192.168.1.1, 192.168.2.1", true},
        {L"192.168.2.1", L"192.168.1.1,192.168.3.*", false},
        {L"192.168.2.1", L"", false},
        {L"", L"192.168.2.1", false},
    };
    for (const Match& m : lists) {
        EXPECT_EQ(matchAddressList(m.subject, m.pattern), m.expected) << label(m);
    }
}

TEST(Conditions, MatchRangeComparesAddressesAsNumbers) {
    constexpr const wchar_t* kLan = L"192.168.1.0 192.168.1.255";
    constexpr const wchar_t* kSlash25 = L"172.20.131.0 172.20.131.127";
    constexpr const wchar_t* kSlash22 = L"10.20.4.0 10.20.7.255";
    constexpr const wchar_t* kAcross = L"10.0.4.128 10.0.5.127";  // a /24 off the octet grid
    const Match cases[] = {
        {kLan, L"192.168.1.50", true},
        {kLan, L"192.168.2.1", false},
        {kLan, L"192.168.1.*", true},
        {kLan, L" 192.168.1.50", true},  // leading white space of an octet is ignored
        {kLan, L"192.168.1. 50", true},
        {kLan, L"192.168.1.abc", true},  // a non-numeric octet reads 0
        {kLan, L"192.168.x.5", false},
        {kLan, L"192.168.1.256", false},
        {kLan, L"192.168.1", false},
        {kSlash25, L"172.20.131.0", true},
        {kSlash25, L"172.20.131.77", true},
        {kSlash25, L"172.20.131.127", true},
        {kSlash25, L"172.20.131.128", false},
        {kSlash25, L"172.20.130.255", false},
        {kSlash25, L"172.20.*.200", false},
        {kSlash25, L"172.20.*.100", true},
        {kSlash22, L"10.20.3.255", false},
        {kSlash22, L"10.20.4.0", true},
        {kSlash22, L"10.20.5.9", true},
        {kSlash22, L"10.20.7.255", true},
        {kSlash22, L"10.20.8.0", false},
        {kSlash22, L"10.20.*.*", true},
        {kSlash22, L"10.*.6.*", true},
        {kSlash22, L"10.20.8.*", false},
        {kSlash22, L"*.*.*.*", true},
        {kAcross, L"10.0.4.5", false},
        {kAcross, L"10.0.4.127", false},
        {kAcross, L"10.0.4.128", true},
        {kAcross, L"10.0.5.127", true},
        {kAcross, L"10.0.5.128", false},
        {kAcross, L"10.0.*.5", true},                // 10.0.5.5
        {L"10.0.5.10 10.0.9.0", L"10.0.*.5", true},  // 10.0.6.5
        {L"10.0.5.10 10.0.5.200", L"10.0.*.5", false},
        {L"10.0.0.5", L"10.0.0.5", true},  // a single address
        {L"10.0.0.5", L"10.0.0.*", true},
        {L"10.0.0.5", L"10.0.0.6", false},
        {L"", L"10.0.0.5", false},
        {kLan, L"", false},
        {L"10.0.0.0 10.0.0.255", L"10.0.*.*", true},
        {L"10.0.4.0 10.0.7.255", L"10.1.0.1", false},
    };
    for (const Match& m : cases) {
        EXPECT_EQ(matchRange(m.subject, m.pattern), m.expected) << label(m);
    }
    EXPECT_TRUE(matchRangeList(kLan, L"10.0.0.1,192.168.1.7"));
    EXPECT_FALSE(matchRangeList(kLan, L"10.0.0.1,192.168.2.7"));
    EXPECT_FALSE(matchRangeList(kLan, L""));
}

class FixedNetwork : public NetworkSettings {
public:
    std::vector<std::wstring> getGateways() const override { return {L"192.168.2.1"}; }
    std::vector<std::wstring> getWinsServers() const override { return {L"10.20.1.7"}; }
    std::vector<std::wstring> getDnsServers() const override {
        return {L"10.20.1.2", L"10.20.1.3"};
    }
    std::vector<std::wstring> getDhcpServers() const override { return {}; }
    std::vector<std::wstring> getNetworks() const override { return {L"10.0.4.0 10.0.7.255"}; }
};

TEST(Conditions, EachMethodTestsItsList) {
    const FixedNetwork network;
    struct Case {
        const wchar_t* method;
        const wchar_t* argument;
        bool expected;
    };
    const Case cases[] = {
        {L"always", L"", true},
        {L"never", L"*.*.*.*", false},
        {L"dialup", L"*.*.*.*", false},
        {L"", L"*.*.*.*", false},
        {L"Always", L"", false},  // methods compare exactly
        {L"default_gateway_ip_address", L"192.168.1.1,192.168.2.1", true},
        {L"default_gateway_ip_address", L"192.168.1.1", false},
        {L"wins_ip_address", L"10.20.1.*", true},
        {L"wins_ip_address", L"10.20.1.2", false},
        {L"dns_server_ip_address", L"10.20.1.3", true},
        {L"dhcp_server_ip_address", L"*.*.*.*", false},  // no DHCP
        {L"my_network", L"10.0.*.*", true},
        {L"my_network", L"10.1.0.1", false},
        {L"my_network", L"", false},
        {L"default_gateway_ip_address", L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(matchesCondition(network, c.method, c.argument), c.expected)
            << tarn::str::toUtf8(c.method) << "(" << tarn::str::toUtf8(c.argument) << ")";
    }
}

}  // namespace
