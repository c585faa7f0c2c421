// Address texts as numeric ranges, so that two address lists can be compared by meaning:
// Windows rewrites the notation of the addresses it stores (prefixes as dotted masks, lists
// reordered), and a rule that already holds the same addresses must not be rewritten.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Host byte order; the all-zero range means "no valid range".
struct IPv4Range {
    uint32_t first = 0;
    uint32_t last = 0;
    bool operator==(const IPv4Range&) const = default;
};

// Network byte order, ordered byte by byte; the all-zero range means "no valid range".
struct IPv6Range {
    std::array<uint8_t, 16> first{};
    std::array<uint8_t, 16> last{};
    bool operator==(const IPv6Range&) const = default;
};

// Sorted by first (then last) address, overlapping and adjacent ranges merged; the keywords
// ("LocalSubnet", "DNS", ...) by name, in their canonical spelling.
struct AddressRanges {
    std::vector<IPv4Range> ipv4;
    std::vector<IPv6Range> ipv6;
    std::set<std::wstring> keywords;
    bool operator==(const AddressRanges&) const = default;
};

// "a.b.c.d", "a.b.c.d-e.f.g.h" (either order), "a.b.c.d/n" or "a.b.c.d/m.m.m.m"; a part that is
// no address counts as 0.0.0.0. A prefix length that is no number throws std::invalid_argument
// ("invalid stoi argument") or std::out_of_range ("stoi argument out of range").
IPv4Range StringAsIPv4Range(const std::wstring& text);
// The same forms for IPv6, with a decimal prefix length 0..128; zone ids are ignored.
IPv6Range StringAsIPv6Range(const std::wstring& text);

// A comma-separated list; keywords in any letter case, items with ":" are IPv6. Other items
// without a valid range are dropped.
AddressRanges parseAddressList(const std::wstring& text);

// Whether two address texts mean the same addresses; "*" is the same as the empty text, and
// keywords compare by name.
bool addressListsEquivalent(const std::wstring& a, const std::wstring& b);
