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

#include <string_view>

namespace tarn {

enum class AddressPattern { IPv4Address, IPv4Subnet, IPv6Address, IPv6Subnet };

bool isIPv4Address(std::wstring_view text);
bool isIPv4Subnet(std::wstring_view text);  // address "/" prefix length 0..32
bool isIPv6Address(std::wstring_view text);
bool isIPv6Subnet(std::wstring_view text);  // address "/" prefix length 0..128

// The fast matcher and the reference: both decide whether the whole text matches `pattern`.
bool matchesPattern(AddressPattern pattern, std::wstring_view text);
bool matchesPatternRegex(AddressPattern pattern, std::wstring_view text);

}  // namespace tarn
