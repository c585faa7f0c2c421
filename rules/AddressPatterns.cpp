#include "rules/AddressPatterns.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <locale>
#include <regex>
#include <utility>

namespace tarn {

namespace {

// --- The reference: the patterns as regular expressions --------------------------------------

#define TARN_IPV6_ADDRESS_PATTERN \
    LR"(^s*((([0-9A-Fa-f]{1,4}:){7}([0-9A-Fa-f]{1,4}|:))|(([0-9A-Fa-f]{1,4}:){6}(:[0-9A-Fa-f]{1,4}|((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3})|:))|(([0-9A-Fa-f]{1,4}:){5}(((:[0-9A-Fa-f]{1,4}){1,2})|:((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3})|:))|(([0-9A-Fa-f]{1,4}:){4}(((:[0-9A-Fa-f]{1,4}){1,3})|((:[0-9A-Fa-f]{1,4})?:((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}))|:))|(([0-9A-Fa-f]{1,4}:){3}(((:[0-9A-Fa-f]{1,4}){1,4})|((:[0-9A-Fa-f]{1,4}){0,2}:((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}))|:))|(([0-9A-Fa-f]{1,4}:){2}(((:[0-9A-Fa-f]{1,4}){1,5})|((:[0-9A-Fa-f]{1,4}){0,3}:((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}))|:))|(([0-9A-Fa-f]{1,4}:){1}(((:[0-9A-Fa-f]{1,4}){1,6})|((:[0-9A-Fa-f]{1,4}){0,4}:((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}))|:))|(:(((:[0-9A-Fa-f]{1,4}){1,7})|((:[0-9A-Fa-f]{1,4}){0,5}:((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}))|:)))(%.+)?s*)"

#define TARN_IPV4_ADDRESS_PATTERN \
    LR"(^(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])\.){3}([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5]))"

const std::wregex& referenceRegex(AddressPattern pattern) {
    // Compiled once, on first use, and shared by every thread.
    static const std::wregex ipv4Address(TARN_IPV4_ADDRESS_PATTERN LR"($)");
    static const std::wregex ipv4Subnet(
        TARN_IPV4_ADDRESS_PATTERN LR"((\/([0-9]|[1-2][0-9]|3[0-2]))$)");
    static const std::wregex ipv6Address(TARN_IPV6_ADDRESS_PATTERN);
    static const std::wregex ipv6Subnet(
        TARN_IPV6_ADDRESS_PATTERN LR"((\/(\d|\d\d|1[0-1]\d|12[0-8]))$)");
    switch (pattern) {
        case AddressPattern::IPv4Address:
            return ipv4Address;
        case AddressPattern::IPv4Subnet:
            return ipv4Subnet;
        case AddressPattern::IPv6Address:
            return ipv6Address;
        case AddressPattern::IPv6Subnet:
            break;
    }
    return ipv6Subnet;
}

#undef TARN_IPV4_ADDRESS_PATTERN
#undef TARN_IPV6_ADDRESS_PATTERN

// --- Character classes, as std::regex reads them ---------------------------------------------

bool inRange(wchar_t c, wchar_t first, wchar_t last) {
    return c >= first && c <= last;
}

// "\d" is the locale's digit class, which std::regex consults for every character.
bool isRegexDigit(wchar_t c) {
    if (inRange(c, L'0', L'9')) {
        return true;
    }
    if (static_cast<uint32_t>(c) < 0x80) {
        return false;
    }
    static const std::locale locale;  // the global locale, as a regular expression takes it
    static const auto& ctype = std::use_facet<std::ctype<wchar_t>>(locale);
    return ctype.is(std::ctype_base::digit, c);
}

bool isHexDigit(wchar_t c) {
    return inRange(c, L'0', L'9') || inRange(c, L'A', L'F') || inRange(c, L'a', L'f');
}

// "." of the ECMAScript grammar: anything but a line terminator.
bool isAnyCharacter(wchar_t c) {
    return c != L'\n' && c != L'\r' && c != L'\u2028' && c != L'\u2029';
}

// --- IPv4: a direct parse of the same language -----------------------------------------------

// One octet without leading zeros (0..255) at `pos`; moves `pos` past it.
bool readOctet(std::wstring_view text, size_t& pos) {
    const size_t start = pos;
    unsigned value = 0;
    while (pos < text.size() && pos - start < 3 && inRange(text[pos], L'0', L'9')) {
        value = value * 10 + static_cast<unsigned>(text[pos] - L'0');
        ++pos;
    }
    const size_t digits = pos - start;
    return digits != 0 && value <= 255 && !(digits > 1 && text[start] == L'0') &&
           !(pos < text.size() && inRange(text[pos], L'0', L'9'));
}

// Four octets separated by dots at the start of `text`; the position after them, or npos.
size_t readDottedQuad(std::wstring_view text) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part != 0) {
            if (pos >= text.size() || text[pos] != L'.') {
                return std::wstring_view::npos;
            }
            ++pos;
        }
        if (!readOctet(text, pos)) {
            return std::wstring_view::npos;
        }
    }
    return pos;
}

// "[0-9]|[1-2][0-9]|3[0-2]"
bool isPrefix32(std::wstring_view text) {
    if (text.size() == 1) {
        return inRange(text[0], L'0', L'9');
    }
    return text.size() == 2 && ((inRange(text[0], L'1', L'2') && inRange(text[1], L'0', L'9')) ||
                                (text[0] == L'3' && inRange(text[1], L'0', L'2')));
}

// "\d|\d\d|1[0-1]\d|12[0-8]"
bool isPrefix128(std::wstring_view text) {
    switch (text.size()) {
        case 1:
            return isRegexDigit(text[0]);
        case 2:
            return isRegexDigit(text[0]) && isRegexDigit(text[1]);
        case 3:
            return text[0] == L'1' && ((inRange(text[1], L'0', L'1') && isRegexDigit(text[2])) ||
                                       (text[1] == L'2' && inRange(text[2], L'0', L'8')));
        default:
            return false;
    }
}

// --- IPv6: the core of the pattern as sets of positions --------------------------------------

// Bit i set: a partial match can go on at text index i. The core of an IPv6 address is at most
// 45 characters long, so 64 positions are plenty.
using Positions = uint64_t;
constexpr size_t kMaxPositions = 63;

class CoreMatcher {
public:
    explicit CoreMatcher(std::wstring_view text)
        : m_text(text.substr(0, std::min(text.size(), kMaxPositions))) {}

    // Every end position of a match of the address core that starts at index 0.
    Positions ends() const {
        std::array<Positions, 8> groups{1};  // after k "H:" groups
        for (size_t k = 1; k < groups.size(); ++k) {
            groups[k] = lit(hex1to4(groups[k - 1]), L':');
        }
        // (H:){7}(H|:) and (H:){6}(:H|V4|:)
        Positions end = hex1to4(groups[7]) | lit(groups[7], L':');
        end |= colonGroups(groups[6], 1, 1) | ipv4(groups[6]) | lit(groups[6], L':');
        // (H:){k}((:H){1,7-k}|(:H){0,5-k}:V4|:) for k = 5..1, and ":" followed by the same for 0
        for (int k = 5; k >= 1; --k) {
            end |= tail(groups[static_cast<size_t>(k)], k);
        }
        return end | tail(lit(1, L':'), 0);
    }

private:
    template <typename Accept>
    Positions step(Positions from, Accept accept) const {
        Positions to = 0;
        while (from != 0) {
            const auto i = static_cast<size_t>(std::countr_zero(from));
            from &= from - 1;
            if (i < m_text.size() && accept(m_text[i])) {
                to |= Positions{1} << (i + 1);
            }
        }
        return to;
    }
    Positions lit(Positions from, wchar_t c) const {
        return step(from, [c](wchar_t x) { return x == c; });
    }
    Positions range(Positions from, wchar_t first, wchar_t last) const {
        return step(from, [=](wchar_t x) { return inRange(x, first, last); });
    }
    Positions digit(Positions from) const { return step(from, isRegexDigit); }

    Positions hex1to4(Positions from) const {
        const Positions one = step(from, isHexDigit);
        const Positions two = step(one, isHexDigit);
        const Positions three = step(two, isHexDigit);
        return one | two | three | step(three, isHexDigit);
    }
    // (:H){min,max}
    Positions colonGroups(Positions from, int min, int max) const {
        Positions current = from;
        Positions result = min == 0 ? from : 0;
        for (int n = 1; n <= max && current != 0; ++n) {
            current = hex1to4(lit(current, L':'));
            if (n >= min) {
                result |= current;
            }
        }
        return result;
    }
    // 25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d
    Positions octet(Positions from) const {
        const Positions two = lit(from, L'2');
        return range(lit(two, L'5'), L'0', L'5') | digit(range(two, L'0', L'4')) |
               digit(digit(lit(from, L'1'))) | digit(from | range(from, L'1', L'9'));
    }
    // Four octets with any character between them.
    Positions ipv4(Positions from) const {
        Positions current = octet(from);
        for (int n = 0; n < 3; ++n) {
            current = octet(step(current, isAnyCharacter));
        }
        return current;
    }
    Positions tail(Positions from, int groups) const {
        return colonGroups(from, 1, 7 - groups) |
               ipv4(lit(colonGroups(from, 0, 5 - groups), L':')) | lit(from, L':');
    }

    std::wstring_view m_text;
};

// What may follow the core: "(%.+)?s*", i.e. only s characters, or a zone.
bool isCoreSuffix(std::wstring_view rest) {
    if (!rest.empty() && rest[0] == L'%') {
        return rest.size() >= 2 && std::all_of(rest.begin() + 1, rest.end(), isAnyCharacter);
    }
    return rest.find_first_not_of(L's') == std::wstring_view::npos;
}

// "s*" core "(%.+)?s*" exactly covering `text`. The core starts with a hexadecimal digit or a
// colon, so the leading s characters all belong to "s*".
bool isIPv6AddressWithSuffix(std::wstring_view text) {
    const size_t start = text.find_first_not_of(L's');
    if (start == std::wstring_view::npos) {
        return false;
    }
    text.remove_prefix(start);
    for (Positions ends = CoreMatcher(text).ends(); ends != 0; ends &= ends - 1) {
        if (isCoreSuffix(text.substr(static_cast<size_t>(std::countr_zero(ends))))) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool isIPv4Address(std::wstring_view text) {
    return readDottedQuad(text) == text.size();
}

bool isIPv4Subnet(std::wstring_view text) {
    const size_t end = readDottedQuad(text);
    return end != std::wstring_view::npos && end < text.size() && text[end] == L'/' &&
           isPrefix32(text.substr(end + 1));
}

bool isIPv6Address(std::wstring_view text) {
    return isIPv6AddressWithSuffix(text);
}

bool isIPv6Subnet(std::wstring_view text) {
    // The prefix length is one to three characters at the end, none of them a slash, so at
    // most one slash can start it.
    for (size_t length = 1; length <= 3 && length < text.size(); ++length) {
        const size_t slash = text.size() - length - 1;
        if (text[slash] == L'/' && isPrefix128(text.substr(slash + 1))) {
            return isIPv6AddressWithSuffix(text.substr(0, slash));
        }
    }
    return false;
}

std::wstring_view addressKeyword(std::wstring_view item) {
    // Lower-case keyword to the spelling that goes into the firewall.
    static constexpr std::array<std::pair<std::wstring_view, std::wstring_view>, 6> kKeywords{{
        {L"*", L"*"},
        {L"defaultgateway", L"Defaultgateway"},
        {L"dhcp", L"DHCP"},
        {L"wins", L"WINS"},
        {L"dns", L"DNS"},
        {L"localsubnet", L"LocalSubnet"},
    }};
    const auto lower = [](wchar_t c) { return inRange(c, L'A', L'Z') ? c - L'A' + L'a' : c; };
    for (const auto& [key, value] : kKeywords) {
        if (std::equal(item.begin(), item.end(), key.begin(), key.end(),
                       [&](wchar_t a, wchar_t b) { return lower(a) == b; })) {
            return value;
        }
    }
    return {};
}

namespace {

bool isLabelCharacter(wchar_t c) {
    return inRange(c, L'a', L'z') || inRange(c, L'A', L'Z') || inRange(c, L'0', L'9') ||
           c == L'-' || c == L'_' || static_cast<uint32_t>(c) >= 0xA0;
}

bool isLabel(std::wstring_view label) {
    return !label.empty() && label.size() <= 63 && label.front() != L'-' && label.back() != L'-' &&
           std::all_of(label.begin(), label.end(), isLabelCharacter);
}

}  // namespace

bool canBeHostName(std::wstring_view item) {
    if (!item.empty() && item.back() == L'.') {
        item.remove_suffix(1);
    }
    if (item.empty() || item.size() > 253) {
        return false;
    }
    std::wstring_view last;
    for (size_t start = 0;;) {
        const size_t dot = item.find(L'.', start);
        last = item.substr(start, dot == std::wstring_view::npos ? dot : dot - start);
        if (!isLabel(last)) {
            return false;
        }
        if (dot == std::wstring_view::npos) {
            break;
        }
        start = dot + 1;
    }
    return !std::all_of(last.begin(), last.end(), [](wchar_t c) { return inRange(c, L'0', L'9'); });
}

std::wstring withoutZone(std::wstring_view address) {
    const size_t zone = address.find(L'%');
    if (zone == std::wstring_view::npos) {
        return std::wstring(address);
    }
    const size_t prefix = address.rfind(L'/');
    std::wstring result(address.substr(0, zone));
    if (prefix != std::wstring_view::npos && prefix > zone) {
        result += address.substr(prefix);
    }
    return result;
}

bool matchesPattern(AddressPattern pattern, std::wstring_view text) {
    switch (pattern) {
        case AddressPattern::IPv4Address:
            return isIPv4Address(text);
        case AddressPattern::IPv4Subnet:
            return isIPv4Subnet(text);
        case AddressPattern::IPv6Address:
            return isIPv6Address(text);
        case AddressPattern::IPv6Subnet:
            break;
    }
    return isIPv6Subnet(text);
}

bool matchesPatternRegex(AddressPattern pattern, std::wstring_view text) {
    return std::regex_match(text.begin(), text.end(), referenceRegex(pattern));
}

}  // namespace tarn
