// Which subnet the Lanshare allow rules admit, and the address steps that shrink a network to
// its hosts.
#include <gtest/gtest.h>

#include "common/Str.h"
#include "profile_selection/LanshareParamsResolver.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::test::LogCapture;
using tarn::test::logged;
using Networks = std::vector<std::wstring>;

const std::string kTag = "LanshareParamsResolver::hardChangeAddressByOne";

TEST(LanshareParams, TheSubnetOfTheDiscoveryAddress) {
    const Networks home = {L"192.168.1.0 192.168.1.255"};
    const Networks two = {L"10.99.0.14 10.99.0.14", L"172.20.131.0 172.20.131.127"};
    struct Case {
        LanshareSettings settings;
        Networks networks;
        bool ok;
        const wchar_t* subnet;
    };
    const Case cases[] = {
        {{true, false, 8080, L"192.168.1.255"}, home, true, L"192.168.1.1 192.168.1.254"},
        {{true, false, 8080, L"192.168.1.20"}, home, true, L"192.168.1.20"},
        {{false, true, 8080, L"10.0.0.255"}, home, false, L""},
        {{true, true, 8080, L""}, home, true, L""},
        {{true, true, 8080, L"255.255.255.255"}, home, true, L""},
        {{true, true, 8080, L""}, {}, false, L""},  // no network at all
        {{false, true, 0, L"192.168.1.255"}, home, true, L"192.168.1.1 192.168.1.254"},
        {{false, false, 8080, L"192.168.1.255"}, home, false, L""},
        {{true, true, -1, L"192.168.1.255"}, home, false, L""},
        // A list of patterns: the first network holding one of them; the subnet is the list.
        {{true, false, 8080, L"10.0.0.255,172.20.131.127"},
         two,
         true,
         L"10.0.0.255,172.20.131.127"},
        {{true, false, 8080, L"172.20.131.127"}, two, true, L"172.20.131.1 172.20.131.126"},
        {{true, false, 8080, L"172.20.131.*"}, two, true, L"172.20.131.*"},
        // A host network (/32) is its own broadcast address: the range comes out reversed.
        {{true, false, 8080, L"10.99.0.14"}, two, true, L"10.99.0.15 10.99.0.13"},
        {{true, false, 8080, L"172.20.131.1"}, {L"172.20.131.0"}, false, L""},  // not "first last"
    };
    for (const Case& c : cases) {
        bool ok = !c.ok;
        std::wstring subnet = L"left over";
        LanshareParamsResolver(c.settings).resolve(c.networks, ok, subnet);
        const std::string label = tarn::str::toUtf8(c.settings.discoveryAddress);
        EXPECT_EQ(ok, c.ok) << label;
        EXPECT_EQ(subnet, c.subnet) << label;
    }
}

TEST(LanshareParams, AddressStepsAndTheirRefusals) {
    struct Case {
        bool increment;
        const wchar_t* address;
        const wchar_t* expected;
        int level;  // of the line logged, 0: none
        const char* line;
    };
    const Case cases[] = {
        {true, L"192.168.1.0", L"192.168.1.1", 0, ""},
        {false, L"192.168.1.255", L"192.168.1.254", 0, ""},
        {true, L"10.0.0.255", L"10.0.1.0", 0, ""},
        {false, L"10.1.0.0", L"10.0.255.255", 0, ""},
        {true, L"255.255.255.254", L"255.255.255.255", 0, ""},
        {false, L"0.0.0.0", L"0.0.0.0", 3, "We can't decrement 0.0.0.0 address"},
        {true, L"0.0.0.0", L"0.0.0.1", 0, ""},
        {true, L"255.255.255.255", L"255.255.255.255", 2,
         "InetPtonW failed. Integer address is invalid"},
        {false, L"255.255.255.255", L"255.255.255.255", 2,
         "InetPtonW failed. Integer address is invalid"},
        {true, L"192.168.1.*", L"192.168.1.*", 2, "InetPtonW failed: 10022"},
        {true, L"", L"", 2, "InetPtonW failed: 10022"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        const std::string label = tarn::str::toUtf8(c.address);
        EXPECT_EQ(LanshareParamsResolver::hardChangeAddressByOne(c.increment, c.address),
                  c.expected)
            << label;
        if (c.level == 0) {
            EXPECT_TRUE(log.lines().empty()) << label << ": " << log.dump();
        } else {
            EXPECT_TRUE(logged(log, c.level, kTag, c.line)) << label << ": " << log.dump();
        }
    }
    EXPECT_EQ(shrinkRange(L"10.20.4.0", L"10.20.7.255"), L"10.20.4.1 10.20.7.254");
    EXPECT_EQ(shrinkRange(L"0.0.0.0", L"255.255.255.255"), L"0.0.0.1 255.255.255.255");
}

}  // namespace
