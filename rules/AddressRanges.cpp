#include "rules/AddressRanges.h"

#include <algorithm>
#include <stdexcept>

#include "common/Str.h"
#include "common/logging/Log.h"
#include "platform/win.h"
#include "rules/AddressPatterns.h"

namespace {

using Bytes16 = std::array<uint8_t, 16>;

// The decimal conversion of the prefix length, with the texts of the system's runtime.
int prefixLength(const std::wstring& text) {
    try {
        return std::stoi(text);
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("invalid stoi argument");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("stoi argument out of range");
    }
}

// Host byte order; 0.0.0.0 when the text is no IPv4 address.
uint32_t ipv4Value(const std::wstring& text) {
    IN_ADDR address{};
    if (InetPtonW(AF_INET, text.c_str(), &address) != 1) {
        return 0;
    }
    const auto& b = address.S_un.S_un_b;
    return static_cast<uint32_t>(b.s_b1) << 24 | static_cast<uint32_t>(b.s_b2) << 16 |
           static_cast<uint32_t>(b.s_b3) << 8 | static_cast<uint32_t>(b.s_b4);
}

// Network byte order, without the zone id; :: when the text is no IPv6 address.
Bytes16 ipv6Value(const std::wstring& text) {
    IN6_ADDR address{};
    Bytes16 bytes{};
    if (InetPtonW(AF_INET6, tarn::withoutZone(text).c_str(), &address) == 1) {
        std::copy(std::begin(address.u.Byte), std::end(address.u.Byte), bytes.begin());
    }
    return bytes;
}

uint32_t ipv4Mask(const std::wstring& maskText) {
    if (maskText.find(L'.') != std::wstring::npos) {
        return ipv4Value(maskText);
    }
    const int bits = std::clamp(prefixLength(maskText), 0, 32);
    return bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
}

Bytes16 ipv6Mask(const std::wstring& maskText) {
    if (maskText.find(L'.') != std::wstring::npos) {
        return ipv6Value(maskText);
    }
    const int bits = std::clamp(prefixLength(maskText), 0, 128);
    Bytes16 mask{};
    for (int i = 0; i < bits / 8; ++i) {
        mask[static_cast<size_t>(i)] = 0xFF;
    }
    if (bits % 8 != 0) {
        mask[static_cast<size_t>(bits / 8)] = static_cast<uint8_t>(0xFF << (8 - bits % 8));
    }
    return mask;
}

// The address after `address`; false when there is none (the all-ones address).
bool increment(Bytes16& address) {
    for (auto it = address.rbegin(); it != address.rend(); ++it) {
        if (++*it != 0) {
            return true;
        }
    }
    return false;
}

// Whether a range starting at `first` overlaps or directly follows one ending at `last`.
bool joins(uint32_t first, uint32_t last) {
    return uint64_t{first} <= uint64_t{last} + 1;
}

bool joins(const Bytes16& first, Bytes16 last) {
    // Nothing follows the all-ones address: every later range overlaps it.
    return !increment(last) || first <= last;
}

// (address AND mask, address OR NOT mask)
void applyMask(IPv4Range& range, uint32_t mask) {
    range.first &= mask;
    range.last |= ~mask;
}

void applyMask(IPv6Range& range, const Bytes16& mask) {
    for (size_t i = 0; i < mask.size(); ++i) {
        range.first[i] &= mask[i];
        range.last[i] |= static_cast<uint8_t>(~mask[i]);
    }
}

template <typename Range>
std::vector<Range> sortedAndMerged(std::vector<Range> ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
        return a.first != b.first ? a.first < b.first : a.last < b.last;
    });
    std::vector<Range> merged;
    for (const auto& range : ranges) {
        if (!merged.empty() && joins(range.first, merged.back().last)) {
            merged.back().last = std::max(merged.back().last, range.last);
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

// The steps shared by both families: a range "a-b", or an address with an optional mask.
template <typename Range, typename Value, typename Mask>
Range stringAsRange(const std::wstring& text, Value value, Mask mask, const char* tag) {
    const auto dashParts = tarn::str::split(text, L'-');
    if (dashParts.size() > 2) {
        TARN_LOG_TAG(TarnPyxLogging::LevelDebug, tag) << "Invalid address (wrong '-'): " << text;
        return {};
    }
    if (dashParts.size() == 2) {
        const auto a = value(dashParts[0]);
        const auto b = value(dashParts[1]);
        return {std::min(a, b), std::max(a, b)};
    }
    const auto slashParts = tarn::str::split(text, L'/');
    if (slashParts.size() > 2) {
        TARN_LOG_TAG(TarnPyxLogging::LevelDebug, tag) << "Invalid address (wrong '/'): " << text;
        return {};
    }
    const auto address = value(slashParts[0]);
    if (slashParts.size() == 1) {
        return {address, address};
    }
    Range range{address, address};
    applyMask(range, mask(slashParts[1]));
    return range;
}

}  // namespace

IPv4Range StringAsIPv4Range(const std::wstring& text) {
    return stringAsRange<IPv4Range>(text, ipv4Value, ipv4Mask, "StringAsIPv4Range");
}

IPv6Range StringAsIPv6Range(const std::wstring& text) {
    return stringAsRange<IPv6Range>(text, ipv6Value, ipv6Mask, "StringAsIPv6Range");
}

AddressRanges parseAddressList(const std::wstring& text) {
    AddressRanges ranges;
    if (text.empty()) {
        return ranges;
    }
    for (const auto& item : tarn::str::split(text, L',')) {
        if (const auto keyword = tarn::addressKeyword(item); !keyword.empty()) {
            ranges.keywords.emplace(keyword);
        } else if (item.find(L':') != std::wstring::npos) {
            if (const auto range = StringAsIPv6Range(item); range != IPv6Range{}) {
                ranges.ipv6.push_back(range);
            }
        } else if (const auto range = StringAsIPv4Range(item); range != IPv4Range{}) {
            ranges.ipv4.push_back(range);
        }
    }
    ranges.ipv4 = sortedAndMerged(std::move(ranges.ipv4));
    ranges.ipv6 = sortedAndMerged(std::move(ranges.ipv6));
    return ranges;
}

bool addressListsEquivalent(const std::wstring& a, const std::wstring& b) {
    static const std::wstring any = L"*";
    const std::wstring_view left = a == any ? std::wstring_view() : std::wstring_view(a);
    const std::wstring_view right = b == any ? std::wstring_view() : std::wstring_view(b);
    if (left == right) {
        return true;
    }
    if (left.empty() || right.empty()) {
        return false;
    }
    return parseAddressList(a) == parseAddressList(b);
}
