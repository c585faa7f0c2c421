#include <gtest/gtest.h>

#include <stdexcept>

#include "rules/AddressRanges.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::test::LogCapture;
using tarn::test::logged;

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

// 16 bytes from eight groups.
std::array<uint8_t, 16> ip6(std::array<uint16_t, 8> groups) {
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(groups[i]);
    }
    return bytes;
}

TEST(AddressRanges, IPv4Forms) {
    const std::vector<std::pair<std::wstring, IPv4Range>> cases = {
        {L"192.168.1.7", {ip(192, 168, 1, 7), ip(192, 168, 1, 7)}},
        {L"192.168.1.7/24", {ip(192, 168, 1, 0), ip(192, 168, 1, 255)}},
        {L"192.168.1.7/255.255.255.0", {ip(192, 168, 1, 0), ip(192, 168, 1, 255)}},
        {L"10.0.0.0/0", {0, 0xFFFFFFFF}},
        {L"10.0.0.9-10.0.0.1", {ip(10, 0, 0, 1), ip(10, 0, 0, 9)}},
        {L"10.0.0.1-host", {0, ip(10, 0, 0, 1)}},  // a part that is no address is 0.0.0.0
        {L"host", {}},
        {L"1-2-3", {}},
        {L"1.2.3.4/8/8", {}},
    };
    for (const auto& [text, range] : cases) {
        EXPECT_EQ(StringAsIPv4Range(text), range) << std::string(text.begin(), text.end());
    }
}

TEST(AddressRanges, IPv6Forms) {
    const auto all = ip6({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
    const std::vector<std::pair<std::wstring, IPv6Range>> cases = {
        {L"::1", {ip6({0, 0, 0, 0, 0, 0, 0, 1}), ip6({0, 0, 0, 0, 0, 0, 0, 1})}},
        {L"2001:db8::/32",
         {ip6({0x2001, 0xdb8}),
          ip6({0x2001, 0xdb8, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF})}},
        {L"fe80::1/10",
         {ip6({0xfe80}), ip6({0xfebf, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF})}},
        {L"::/0", {{}, all}},
        {L"::9-::1", {ip6({0, 0, 0, 0, 0, 0, 0, 1}), ip6({0, 0, 0, 0, 0, 0, 0, 9})}},
        {L"::1-::2-::3", {}},
        // Zone ids do not stop an address from becoming a number.
        {L"fe80::1%3", {ip6({0xfe80, 0, 0, 0, 0, 0, 0, 1}), ip6({0xfe80, 0, 0, 0, 0, 0, 0, 1})}},
        {L"fe80::1%1-fe80::9%1",
         {ip6({0xfe80, 0, 0, 0, 0, 0, 0, 1}), ip6({0xfe80, 0, 0, 0, 0, 0, 0, 9})}},
        {L"fe80::1%1/64", {ip6({0xfe80}), ip6({0xfe80, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF})}},
        // However long the zone id: only the address is converted.
        {L"fe80::2%" + std::wstring(80, L'7'),
         {ip6({0xfe80, 0, 0, 0, 0, 0, 0, 2}), ip6({0xfe80, 0, 0, 0, 0, 0, 0, 2})}},
        // The longest form of an address, and one character more, which is none.
        {L"0000:0000:0000:0000:0000:ffff:255.255.255.255",
         {ip6({0, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF}),
          ip6({0, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF})}},
        {L"0000:0000:0000:0000:0000:ffff:255.255.255.2550", {}},
    };
    for (const auto& [text, range] : cases) {
        EXPECT_EQ(StringAsIPv6Range(text), range) << std::string(text.begin(), text.end());
    }
}

TEST(AddressRanges, MalformedTextsAreLoggedOrThrow) {
    LogCapture log;
    StringAsIPv4Range(L"1-2-3");
    StringAsIPv6Range(L"::1/8/8");
    EXPECT_TRUE(logged(log, 5, "StringAsIPv4Range", "Invalid address (wrong '-'): 1-2-3"));
    EXPECT_TRUE(logged(log, 5, "StringAsIPv6Range", "Invalid address (wrong '/'): ::1/8/8"));
    try {
        StringAsIPv4Range(L"10.0.0.0/x");
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "invalid stoi argument");
    }
    try {
        StringAsIPv6Range(L"::/99999999999");
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "stoi argument out of range");
    }
}

TEST(AddressRanges, ListsAreSortedAndMerged) {
    const auto list = parseAddressList(
        L"10.0.0.6,10.0.0.1-10.0.0.5,10.0.0.20,10.0.0.3/31,LocalSubnet,*,::1:0,::ff-::ffff,2::");
    EXPECT_EQ(list.ipv4, (std::vector<IPv4Range>{{ip(10, 0, 0, 1), ip(10, 0, 0, 6)},
                                                 {ip(10, 0, 0, 20), ip(10, 0, 0, 20)}}));
    // ::ffff and ::1:0 are adjacent only with the carry into the next byte.
    EXPECT_EQ(list.ipv6, (std::vector<IPv6Range>{
                             {ip6({0, 0, 0, 0, 0, 0, 0, 0xff}), ip6({0, 0, 0, 0, 0, 0, 1, 0})},
                             {ip6({2}), ip6({2})}}));
    EXPECT_EQ(list.keywords, (std::set<std::wstring>{L"*", L"LocalSubnet"}));
    EXPECT_EQ(parseAddressList(L""), AddressRanges{});
    // Nothing follows the last address: a range ending there swallows every later one.
    EXPECT_EQ(parseAddressList(L"::/0,1::1").ipv6.size(), 1u);
    EXPECT_EQ(parseAddressList(L"0.0.0.0/0,255.255.255.255").ipv4.size(), 1u);
}

TEST(AddressRanges, ListsCompareByMeaning) {
    const std::vector<std::tuple<std::wstring, std::wstring, bool>> cases = {
        {L"10.0.0.1-10.0.0.5,10.0.0.6", L"10.0.0.1-10.0.0.6", true},
        {L"*", L"", true},
        {L"*", L"10.0.0.1", false},
        {L"", L"10.0.0.1", false},
        {L"10.0.0.0/24", L"10.0.0.0/255.255.255.0", true},
        {L"10.0.0.1", L"10.0.0.1/255.255.255.255", true},
        {L"10.0.0.2,10.0.0.1,::1", L"::1,10.0.0.1-10.0.0.2", true},
        {L"10.0.0.1", L"10.0.0.2", false},
        {L"10.0.0.1", L"10.0.0.1,::1", false},
        {L"fe80::/64", L"fe80::-fe80::ffff:ffff:ffff:ffff", true},
        // Keywords compare by name, in any letter case.
        {L"LocalSubnet", L"DNS", false},
        {L"10.0.0.1,LocalSubnet", L"10.0.0.1", false},
        {L"DNS,10.0.0.1,LocalSubnet", L"10.0.0.1,localsubnet,dns", true},
        {L"DefaultGateway", L"Defaultgateway", true},
        {L"10.0.0.1,DHCP", L"10.0.0.1,WINS", false},
        // A zone id is no part of the address.
        {L"fe80::1%1/64", L"::/64", false},
        {L"fe80::1%1/64", L"fe80::/64", true},
        {L"fe80::1%1-fe80::9%1", L"fe80::1-fe80::9", true},
    };
    for (const auto& [a, b, equivalent] : cases) {
        EXPECT_EQ(addressListsEquivalent(a, b), equivalent)
            << std::string(a.begin(), a.end()) << " | " << std::string(b.begin(), b.end());
        EXPECT_EQ(addressListsEquivalent(b, a), equivalent);
    }
}

}  // namespace
