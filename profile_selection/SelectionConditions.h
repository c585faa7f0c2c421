// The conditions of the automatic selection rules, evaluated against the network snapshot,
// and the address pattern tests they use (the Lanshare parameters reuse matchRangeList).
//
// A pattern list is patterns separated by ','; a pattern is a dotted address whose octets
// may each be '*'.
#pragma once

#include <string>

class NetworkSettings;

// "always" is true; "never", "dialup" and unknown methods are false; the address methods
// ("default_gateway_ip_address", "wins_ip_address", "dns_server_ip_address",
// "dhcp_server_ip_address") are true when an entry of that list matches the argument's
// patterns, "my_network" when a network contains an address of a pattern.
bool matchesCondition(const NetworkSettings& network, const std::wstring& method,
                      const std::wstring& argument);

// Whether the address matches one of the patterns of the list.
bool matchAddressList(const std::wstring& address, const std::wstring& patternList);
// Octet by octet as text: "*" matches any octet; white space inside a pattern octet is
// dropped (" 10" matches 10, "010" does not, " *" is no wildcard).
bool matchAddress(const std::wstring& address, const std::wstring& pattern);

// Whether the range contains an address of one of the patterns of the list.
bool matchRangeList(const std::wstring& range, const std::wstring& patternList);
// The range is "low high" (or one address); the addresses compare as numbers, and the pattern
// matches when an address it stands for lies between low and high inclusive. An octet reads
// its decimal digits after leading white space (none: 0); one above 255 matches nothing.
bool matchRange(const std::wstring& range, const std::wstring& pattern);
