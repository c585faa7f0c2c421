// The four address patterns that decide what a rule address item is.
//
// The patterns are defined as regular expressions (kept below as the reference) and are matched
// against the whole item. They are used as written, quirks included: in the IPv6 patterns "s*"
// stands for the letter s repeated, the dots of the embedded IPv4 part match any character but
// a line terminator, and a zone suffix is "%" followed by at least one such character.
//
// std::regex is slow and recurses once per character, so the predicates use a hand-written
// matcher of the same language; a differential fuzzer checks it against the regular expressions.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

enum class AddressPattern { IPv4Address, IPv4Subnet, IPv6Address, IPv6Subnet };

bool isIPv4Address(std::wstring_view text);
bool isIPv4Subnet(std::wstring_view text);  // address "/" prefix length 0..32
bool isIPv6Address(std::wstring_view text);
bool isIPv6Subnet(std::wstring_view text);  // address "/" prefix length 0..128

// The keyword an item names (any letter case), in the spelling the firewall takes: "*",
// "Defaultgateway", "DHCP", "WINS", "DNS" or "LocalSubnet"; empty for any other item.
std::wstring_view addressKeyword(std::wstring_view item);

// Whether an item can be a host name, and so is worth a lookup: dot-separated labels of 1 to 63
// letters, digits, '-' (not first or last) or '_', at most 253 characters besides one final
// dot, and a last label that is not all digits (dotted numbers are malformed addresses, which
// a resolver would read as addresses). Letters beyond ASCII count as letters.
bool canBeHostName(std::wstring_view item);

// The address without its zone id, which the firewall does not take and which a numeric
// conversion refuses: "fe80::1%12" is fe80::1, "fe80::1%12/64" is fe80::1/64. The zone runs
// from the first '%' to the prefix length, if any.
std::wstring withoutZone(std::wstring_view address);

// The fast matcher and the reference: both decide whether the whole text matches `pattern`.
bool matchesPattern(AddressPattern pattern, std::wstring_view text);
bool matchesPatternRegex(AddressPattern pattern, std::wstring_view text);

}  // namespace tarn
