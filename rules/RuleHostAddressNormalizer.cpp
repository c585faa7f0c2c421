#include "rules/RuleHostAddressNormalizer.h"

#include <utility>

#include "common/Str.h"
#include "common/logging/Log.h"
#include "rules/AddressPatterns.h"

namespace tarn {

namespace {

// Splits at `separator` into exactly two trimmed parts, or nothing.
bool splitInTwo(const std::wstring& item, wchar_t separator, std::wstring& a, std::wstring& b) {
    const auto parts = str::split(item, separator);
    if (parts.size() != 2) {
        return false;
    }
    a = str::trim(parts[0]);
    b = str::trim(parts[1]);
    return true;
}

std::wstring asRange(const std::wstring& item) {
    std::wstring a;
    std::wstring b;
    if (item.find(L'-') == std::wstring::npos || !splitInTwo(item, L'-', a, b)) {
        return {};
    }
    if (isIPv4Address(a) && isIPv4Address(b)) {
        return a + L"-" + b;
    }
    if (isIPv6Address(a) && isIPv6Address(b)) {
        return withoutZone(a) + L"-" + withoutZone(b);
    }
    return {};
}

std::wstring asSubnet(const std::wstring& item) {
    if (item.find(L'/') == std::wstring::npos) {
        return {};
    }
    if (isIPv4Subnet(item)) {
        return item;
    }
    if (isIPv6Subnet(item)) {
        return withoutZone(item);
    }
    // An address with a dotted mask.
    std::wstring address;
    std::wstring mask;
    if (splitInTwo(item, L'/', address, mask) && isIPv4Address(address) && isIPv4Address(mask)) {
        return address + L"/" + mask;
    }
    return {};
}

std::wstring asSingleAddress(const std::wstring& item) {
    if (isIPv4Address(item)) {
        return item;
    }
    if (isIPv6Address(item)) {
        return withoutZone(item);
    }
    return {};
}

}  // namespace

RuleHostAddressNormalizer::RuleHostAddressNormalizer(Resolver resolver)
    : m_resolver(std::move(resolver)) {}

std::wstring RuleHostAddressNormalizer::normalizeHostAddresses(
    const std::wstring& addresses, std::vector<std::wstring>& hostNames,
    std::wstring& invalidAddresses) const {
    std::set<std::wstring> good;
    std::set<std::wstring> bad;
    for (const auto& piece : str::split(addresses, L',')) {
        const std::wstring item = str::trim(piece);
        if (const auto canonical = addressKeyword(item); !canonical.empty()) {
            good.emplace(canonical);
        } else if (!normalizeSingleHostAddress(item, good, hostNames)) {
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "Normalization of address '" << item << "' failed";
            bad.insert(item);
        }
    }
    invalidAddresses = str::join({bad.begin(), bad.end()}, L",");
    return str::join({good.begin(), good.end()}, L",");
}

bool RuleHostAddressNormalizer::normalizeSingleHostAddress(
    const std::wstring& item, std::set<std::wstring>& good,
    std::vector<std::wstring>& hostNames) const {
    if (item.empty()) {
        TARN_LOG(TarnPyxLogging::LevelDebug) << "Address is empty";
        return true;
    }
    std::wstring normalized = asRange(item);
    if (normalized.empty()) {
        normalized = asSubnet(item);
    }
    if (normalized.empty()) {
        normalized = asSingleAddress(item);
    }
    if (!normalized.empty()) {
        good.insert(std::move(normalized));
        return true;
    }
    // Only what can be a host name is looked up (and published as one): a malformed address
    // such as 10.0.0.0/33 is just invalid.
    if (!canBeHostName(item)) {
        return false;
    }
    // A host name: every address known for it, each of which must be an address.
    hostNames.push_back(item);
    const auto resolved = m_resolver ? m_resolver(item) : std::vector<std::wstring>{};
    for (const auto& address : resolved) {
        std::wstring single = asSingleAddress(address);
        if (single.empty()) {
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "Normalization of IP address '" << address << "' failed";
            return false;
        }
        good.insert(std::move(single));
    }
    return !resolved.empty();
}

}  // namespace tarn
