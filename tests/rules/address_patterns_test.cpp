#include <gtest/gtest.h>

#include <array>

#include "common/Str.h"
#include "rules/AddressPatterns.h"

namespace {

using tarn::AddressPattern;

constexpr std::array<AddressPattern, 4> kPatterns = {
    AddressPattern::IPv4Address, AddressPattern::IPv4Subnet, AddressPattern::IPv6Address,
    AddressPattern::IPv6Subnet};

struct PatternCase {
    std::wstring text;
    std::array<bool, 4> matches;  // IPv4 address, IPv4 subnet, IPv6 address, IPv6 subnet
};

// Both the fast matcher and the regular expressions must give the expected answer.
TEST(AddressPatterns, FastMatcherAndRegexAgreeOnTheLanguage) {
    const std::vector<PatternCase> cases = {
        {L"10.0.0.1", {1, 0, 0, 0}},
        {L"256.0.0.1", {0, 0, 0, 0}},
        {L"01.2.3.4", {0, 0, 0, 0}},
        {L"1.2.3.4.5", {0, 0, 0, 0}},
        {L" 1.2.3.4", {0, 0, 0, 0}},
        {L"10.0.0.0/24", {0, 1, 0, 0}},
        {L"10.0.0.0/32", {0, 1, 0, 0}},
        {L"10.0.0.0/33", {0, 0, 0, 0}},
        {L"10.0.0.0/08", {0, 0, 0, 0}},
        {L"::", {0, 0, 1, 0}},
        {L"1:2:3:4:5:6:7:8", {0, 0, 1, 0}},
        {L"1:2:3:4:5:6:7::", {0, 0, 1, 0}},
        {L"1:2:3:4:5:6:7:8:9", {0, 0, 0, 0}},
        {L"a::b:c:d:e:f:abcd", {0, 0, 1, 0}},
        {L"::b:c:d:e:f:a:b", {0, 0, 1, 0}},
        {L"a:b:c:d:e::f:a:b", {0, 0, 0, 0}},
        {L"1:2:3:4:5::1.2.3.4", {0, 0, 1, 0}},
        {L"1::3:4:5:6:1.2.3.4", {0, 0, 1, 0}},
        {L"1::3:4:5:6:7:1.2.3.4", {0, 0, 0, 0}},
        {L"1::2::3", {0, 0, 0, 0}},
        {L"12345::1", {0, 0, 0, 0}},
        {L"fe80::1%12", {0, 0, 1, 0}},
        {L"fe80::1%", {0, 0, 0, 0}},
        {L"fe80::1%a\nb", {0, 0, 0, 0}},
        {L"::1%\u2028", {0, 0, 0, 0}},
        {L"::1\u2029", {0, 0, 0, 0}},
        {L"sss::1sss", {0, 0, 1, 0}},  // "s*" is the letter s
        {L"s::1t", {0, 0, 0, 0}},
        {L"::ffff:1.2.3.4", {0, 0, 1, 0}},
        {L"1:2:3:4:5:6:1.2.3.4", {0, 0, 1, 0}},
        {L"::1x2y3z4", {0, 0, 1, 0}},  // the dots of the embedded IPv4 part match anything
        {L"::1.2.3.256", {0, 0, 0, 0}},
        {L"2001:db8::/32", {0, 0, 0, 1}},
        {L"::/128", {0, 0, 0, 1}},
        {L"::/129", {0, 0, 0, 0}},
        {L"::/05", {0, 0, 0, 1}},
        {L"ss::1ss/64", {0, 0, 0, 1}},
        {L"fe80::1%eth0/64", {0, 0, 1, 1}},  // the zone swallows the prefix
        {L"fe80::1/64/64", {0, 0, 0, 0}},
        {L"", {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        for (size_t p = 0; p < kPatterns.size(); ++p) {
            const std::string text = tarn::str::toUtf8(c.text);
            EXPECT_EQ(tarn::matchesPattern(kPatterns[p], c.text), c.matches[p]) << text << " " << p;
            EXPECT_EQ(tarn::matchesPatternRegex(kPatterns[p], c.text), c.matches[p])
                << text << " " << p;
        }
    }
    EXPECT_TRUE(tarn::isIPv4Address(L"1.2.3.4"));
    EXPECT_TRUE(tarn::isIPv4Subnet(L"1.2.3.4/8"));
    EXPECT_TRUE(tarn::isIPv6Address(L"::2"));
    EXPECT_TRUE(tarn::isIPv6Subnet(L"::2/8"));
}

// Where "\d" meets other scripts' digits the answer is the platform's; it must be the same.
TEST(AddressPatterns, NonAsciiDigitsFollowTheRegex) {
    const std::vector<std::wstring> texts = {
        L"::1.2.3.\u0664",   L"::\u0661.2.3.4", L"::/\u0661",    L"::/\u0661\u0662",
        L"::/1\u0662",       L"::/1\uff11",     L"1.2.3.\u0664", L"::1.2.3.4\u0664",
        L"::25\u0665.1.1.1", L"::1%\u0085",     L"::1%\u00a0s",  L"\u0661::1"};
    for (const auto& text : texts) {
        for (const auto pattern : kPatterns) {
            EXPECT_EQ(tarn::matchesPattern(pattern, text), tarn::matchesPatternRegex(pattern, text))
                << tarn::str::toUtf8(text);
        }
    }
}

TEST(AddressPatterns, LongTextsAreRefusedWithoutRecursion) {
    // std::regex recurses per character; the fast matcher must not care about the length.
    EXPECT_TRUE(tarn::isIPv6Address(L"::1%" + std::wstring(200000, L'x')));
    EXPECT_TRUE(tarn::isIPv6Address(std::wstring(200000, L's') + L"::1"));
    EXPECT_FALSE(tarn::isIPv6Subnet(L"::1" + std::wstring(200000, L's') + L"/64x"));
    EXPECT_FALSE(tarn::isIPv4Address(std::wstring(200000, L'1')));
}

TEST(AddressPatterns, OnlyNamesThatCanBeHostNamesAreLookedUp) {
    const std::vector<std::pair<std::wstring, bool>> cases = {
        {L"intranet", true},
        {L"wiki.corp.example.com", true},
        {L"wiki.corp.example.com.", true},
        {L"1und1.de", true},
        {L"_ldap.corp.example", true},
        {L"xn--bcher-kva.example", true},
        {L"b\u00fccher.example", true},
        {std::wstring(63, L'a') + L".example", true},
        {std::wstring(64, L'a') + L".example", false},
        {std::wstring(250, L'a').insert(63, L".").insert(127, L".").insert(191, L"."), true},
        {std::wstring(251, L'a').insert(63, L".").insert(127, L".").insert(191, L"."), false},
        {L"-lead.example", false},
        {L"trail-.example", false},
        {L"a..b", false},
        {L".example", false},
        {L"", false},
        {L".", false},
        {L"10.0.0.300", false},  // a malformed address, which a resolver would read as one
        {L"10.1", false},
        {L"10.0.0.0/33", false},
        {L"10.0.0.1-fe80::1", false},
        {L"fe80::1", false},
        {L"*.example", false},
        {L"two words", false},
        {L"tab\there", false},
        {L"ctrl\u0085.example", false},
    };
    for (const auto& [item, expected] : cases) {
        EXPECT_EQ(tarn::canBeHostName(item), expected) << tarn::str::toUtf8(item);
    }
}

TEST(AddressPatterns, KeywordsInAnyCaseAndZonesThatGo) {
    EXPECT_EQ(tarn::addressKeyword(L"LOCALsubnet"), L"LocalSubnet");
    EXPECT_EQ(tarn::addressKeyword(L"DefaultGateway"), L"Defaultgateway");
    EXPECT_EQ(tarn::addressKeyword(L"*"), L"*");
    EXPECT_EQ(tarn::addressKeyword(L"dns2"), L"");
    EXPECT_EQ(tarn::addressKeyword(L""), L"");
    EXPECT_EQ(tarn::withoutZone(L"fe80::1%12"), L"fe80::1");
    EXPECT_EQ(tarn::withoutZone(L"fe80::1%eth0/64"), L"fe80::1/64");
    EXPECT_EQ(tarn::withoutZone(L"fe80::1/64"), L"fe80::1/64");
    EXPECT_EQ(tarn::withoutZone(L"fe80::1%a%b"), L"fe80::1");
}

}  // namespace
