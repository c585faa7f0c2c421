#include <gtest/gtest.h>

#include <map>

#include "rules/RuleHostAddressNormalizer.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::RuleHostAddressNormalizer;
using tarn::test::LogCapture;
using tarn::test::logged;

struct NormalizeCase {
    std::wstring input;
    std::wstring result;
    std::wstring invalid;
    std::vector<std::wstring> hostNames;
};

RuleHostAddressNormalizer normalizerWithHosts() {
    static const std::map<std::wstring, std::vector<std::wstring>> hosts = {
        {L"two.example", {L"10.1.1.2", L"10.1.1.1"}},
        {L"v6.example", {L"fe80::5%3", L"10.1.1.1"}},
        {L"broken.example", {L"10.9.9.9", L"not-an-address", L"10.8.8.8"}},
    };
    return RuleHostAddressNormalizer([](const std::wstring& host) {
        const auto it = hosts.find(host);
        return it == hosts.end() ? std::vector<std::wstring>{} : it->second;
    });
}

TEST(RuleHostAddressNormalizer, NormalizesKeywordsAddressesRangesSubnetsAndHosts) {
    const std::vector<NormalizeCase> cases = {
        {L" 10.0.0.2 ,10.0.0.1,localsubnet", L"10.0.0.1,10.0.0.2,LocalSubnet", L"", {}},
        {L"dns,Wins,*,DefaultGateway,DHCP,dhcp", L"*,DHCP,DNS,Defaultgateway,WINS", L"", {}},
        {L"10.0.0.1 - 10.0.0.9", L"10.0.0.1-10.0.0.9", L"", {}},
        {L"fe80::1 -\tfe80::9", L"fe80::1-fe80::9", L"", {}},
        {L"10.0.0.1-fe80::1", L"", L"10.0.0.1-fe80::1", {}},  // no host name: not looked up
        {L"10.0.0.0/24,10.0.0.0/255.255.255.0", L"10.0.0.0/24,10.0.0.0/255.255.255.0", L"", {}},
        {L"10.0.0.0 / 255.255.255.0", L"10.0.0.0/255.255.255.0", L"", {}},
        {L"10.0.0.0/33", L"", L"10.0.0.0/33", {}},
        {L"10.0.0.300,10.1", L"", L"10.0.0.300,10.1", {}},
        {L"2001:db8::/32", L"2001:db8::/32", L"", {}},
        {L"fe80::1%12,10.0.0.1,10.0.0.1", L"10.0.0.1,fe80::1", L"", {}},
        // The zone goes wherever an address is written: the firewall takes none.
        {L"fe80::1%a%b", L"fe80::1", L"", {}},
        {L"fe80::1%1/64", L"fe80::1/64", L"", {}},
        {L"fe80::1%1 - fe80::9%1", L"fe80::1-fe80::9", L"", {}},
        {L"Two.example", L"", L"Two.example", {L"Two.example"}},  // the resolver decides case
        {L"two.example", L"10.1.1.1,10.1.1.2", L"", {L"two.example"}},
        {L"v6.example", L"10.1.1.1,fe80::5", L"", {L"v6.example"}},
        {L"unknown.example,10.0.0.1,unknown.example",
         L"10.0.0.1",
         L"unknown.example",
         {L"unknown.example", L"unknown.example"}},
        // An address of the answer that is none makes the item invalid; the ones before stay.
        {L"broken.example", L"10.9.9.9", L"broken.example", {L"broken.example"}},
        {L"", L"", L"", {}},
        {L",, ,", L"", L"", {}},
        {L"b.example,a.example", L"", L"a.example,b.example", {L"b.example", L"a.example"}},
    };
    const auto normalizer = normalizerWithHosts();
    for (const auto& c : cases) {
        std::vector<std::wstring> hostNames;
        std::wstring invalid = L"stale";
        EXPECT_EQ(normalizer.normalizeHostAddresses(c.input, hostNames, invalid), c.result)
            << std::string(c.input.begin(), c.input.end());
        EXPECT_EQ(invalid, c.invalid);
        EXPECT_EQ(hostNames, c.hostNames);
    }
}

TEST(RuleHostAddressNormalizer, LogsFailuresAndEmptyItems) {
    LogCapture log;
    const auto normalizer = normalizerWithHosts();
    std::vector<std::wstring> hostNames;
    std::wstring invalid;
    normalizer.normalizeHostAddresses(L"broken.example,,nowhere", hostNames, invalid);
    const std::string tag = "tarn::RuleHostAddressNormalizer::";
    EXPECT_TRUE(logged(log, 3, tag + "normalizeHostAddresses",
                       "Normalization of address 'broken.example' failed"))
        << log.dump();
    EXPECT_TRUE(logged(log, 3, tag + "normalizeHostAddresses",
                       "Normalization of address 'nowhere' failed"));
    EXPECT_TRUE(logged(log, 3, tag + "normalizeSingleHostAddress",
                       "Normalization of IP address 'not-an-address' failed"));
    EXPECT_TRUE(logged(log, 5, tag + "normalizeSingleHostAddress", "Address is empty"));
}

}  // namespace
