#include "profile_selection/SelectionConditions.h"

#include <cwctype>
#include <optional>
#include <vector>

#include "common/Str.h"
#include "profile_selection/NetworkSettings.h"

namespace {

using tarn::str::split;
using Octets = std::vector<int>;  // -1 stands for '*' in a pattern

bool anyOf(const std::vector<std::wstring>& entries, const std::wstring& argument,
           bool (*match)(const std::wstring&, const std::wstring&)) {
    for (const auto& entry : entries) {
        if (match(entry, argument)) {
            return true;
        }
    }
    return false;
}

bool matchList(const std::wstring& subject, const std::wstring& patternList,
               bool (*match)(const std::wstring&, const std::wstring&)) {
    if (subject.empty() || patternList.empty()) {
        return false;
    }
    if (subject == patternList) {
        return true;
    }
    for (const auto& pattern : split(patternList, L',')) {
        if (match(subject, pattern)) {
            return true;
        }
    }
    return false;
}

int octetValue(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) {
        ++i;
    }
    int value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9' && value <= 255; ++i) {
        value = value * 10 + (text[i] - L'0');
    }
    return value;
}

std::optional<Octets> octetsOf(const std::wstring& text, bool wildcards) {
    Octets octets;
    for (const auto& part : split(text, L'.')) {
        const int value = wildcards && part == L"*" ? -1 : octetValue(part);
        if (value > 255) {
            return std::nullopt;
        }
        octets.push_back(value);
    }
    return octets;
}

uint64_t numberOf(const Octets& octets) {
    uint64_t value = 0;
    for (const int octet : octets) {
        value = value << 8 | static_cast<uint64_t>(octet < 0 ? 0 : octet);
    }
    return value;
}

// The pattern's smallest address from position `i` on; '*' octets are 0.
void lowestFrom(const Octets& pattern, size_t i, Octets& out) {
    for (; i < pattern.size(); ++i) {
        out.push_back(pattern[i] < 0 ? 0 : pattern[i]);
    }
}

// The smallest address of the pattern that is not below `low`, built from position `i` on
// while the octets before it equal those of `low`.
bool smallestNotBelow(const Octets& pattern, const Octets& low, size_t i, Octets& out) {
    if (i == pattern.size()) {
        return true;
    }
    const int fixed = pattern[i];
    if (fixed >= 0) {
        if (fixed < low[i]) {
            return false;
        }
        out.push_back(fixed);
        if (fixed > low[i]) {
            lowestFrom(pattern, i + 1, out);
            return true;
        }
        return smallestNotBelow(pattern, low, i + 1, out);
    }
    out.push_back(low[i]);
    if (smallestNotBelow(pattern, low, i + 1, out)) {
        return true;
    }
    out.resize(i);
    if (low[i] == 255) {
        return false;
    }
    out.push_back(low[i] + 1);
    lowestFrom(pattern, i + 1, out);
    return true;
}

}  // namespace

bool matchesCondition(const NetworkSettings& network, const std::wstring& method,
                      const std::wstring& argument) {
    if (method == L"always") {
        return true;
    }
    if (method == L"default_gateway_ip_address") {
        return anyOf(network.getGateways(), argument, matchAddressList);
    }
    if (method == L"wins_ip_address") {
        return anyOf(network.getWinsServers(), argument, matchAddressList);
    }
    if (method == L"dns_server_ip_address") {
        return anyOf(network.getDnsServers(), argument, matchAddressList);
    }
    if (method == L"dhcp_server_ip_address") {
        return anyOf(network.getDhcpServers(), argument, matchAddressList);
    }
    if (method == L"my_network") {
        return anyOf(network.getNetworks(), argument, matchRangeList);
    }
    return false;  // "never", "dialup" and unknown methods
}

bool matchAddressList(const std::wstring& address, const std::wstring& patternList) {
    return matchList(address, patternList, matchAddress);
}

bool matchAddress(const std::wstring& address, const std::wstring& pattern) {
    if (address.empty() || pattern.empty()) {
        return false;
    }
    if (address == pattern) {
        return true;
    }
    const auto addressOctets = split(address, L'.');
    const auto patternOctets = split(pattern, L'.');
    if (addressOctets.size() != patternOctets.size()) {
        return false;
    }
    for (size_t i = 0; i < patternOctets.size(); ++i) {
        if (patternOctets[i] == L"*") {
            continue;
        }
        std::wstring octet;
        for (const wchar_t c : patternOctets[i]) {
            if (!std::iswspace(static_cast<wint_t>(c))) {
                octet += c;
            }
        }
        if (octet != addressOctets[i]) {
            return false;
        }
    }
    return true;
}

bool matchRangeList(const std::wstring& range, const std::wstring& patternList) {
    return matchList(range, patternList, matchRange);
}

bool matchRange(const std::wstring& range, const std::wstring& pattern) {
    if (range.empty() || pattern.empty()) {
        return false;
    }
    if (range == pattern) {
        return true;
    }
    const auto ends = split(range, L' ');
    const auto low = octetsOf(ends[0], false);
    const auto high = octetsOf(ends.size() > 1 ? ends[1] : ends[0], false);
    const auto octets = octetsOf(pattern, true);
    if (!low || !high || !octets || low->size() != octets->size() ||
        high->size() != octets->size() || octets->size() > 4) {
        return false;
    }
    Octets candidate;
    return smallestNotBelow(*octets, *low, 0, candidate) && numberOf(candidate) <= numberOf(*high);
}
