#include "rules/AddressRanges.h"

#include <algorithm>
#include <stdexcept>

#include "common/logging/Log.h"
#include "platform/win.h"
#include "rules/AddressPatterns.h"

namespace {

using Bytes16 = std::array<uint8_t, 16>;

// The decimal conversion of the prefix length, with the texts of the system's runtime.
int prefixLength(std::wstring_view text) {
    try {
        return std::stoi(std::wstring(text));
    } catch (const std::invalid_argument&) {
        throw std::invalid_argument("invalid stoi argument");
    } catch (const std::out_of_range&) {
        throw std::out_of_range("stoi argument out of range");
    }
}

// The text, terminated, in a buffer on the stack: the conversions want a terminated string,
// and a pass compares thousands of addresses. No address text comes near its size (the
// longest IPv6 form has 45 characters), so a longer text is no address.
class Terminated {
public:
    explicit Terminated(std::wstring_view text) : m_fits(text.size() < m_buffer.size()) {
        if (m_fits) {
            std::copy(text.begin(), text.end(), m_buffer.begin());
            m_buffer[text.size()] = L'\0';
        }
    }
    bool fits() const { return m_fits; }
    const wchar_t* c_str() const { return m_buffer.data(); }

private:
    std::array<wchar_t, 64> m_buffer;
    bool m_fits;
};

// Host byte order; 0.0.0.0 when the text is no IPv4 address.
uint32_t ipv4Value(std::wstring_view text) {
    const Terminated terminated(text);
    IN_ADDR address{};
    if (!terminated.fits() || InetPtonW(AF_INET, terminated.c_str(), &address) != 1) {
        return 0;
    }
    const auto& b = address.S_un.S_un_b;
    return static_cast<uint32_t>(b.s_b1) << 24 | static_cast<uint32_t>(b.s_b2) << 16 |
           static_cast<uint32_t>(b.s_b3) << 8 | static_cast<uint32_t>(b.s_b4);
}

// Network byte order, without the zone id; :: when the text is no IPv6 address.
Bytes16 ipv6Value(std::wstring_view text) {
    const size_t zone = text.find(L'%');
    const Terminated terminated(text.substr(0, zone));
    IN6_ADDR address{};
    Bytes16 bytes{};
    if (terminated.fits() && InetPtonW(AF_INET6, terminated.c_str(), &address) == 1) {
        std::copy(std::begin(address.u.Byte), std::end(address.u.Byte), bytes.begin());
    }
    return bytes;
}

uint32_t ipv4Mask(std::wstring_view maskText) {
    if (maskText.find(L'.') != std::wstring_view::npos) {
        return ipv4Value(maskText);
    }
    const int bits = std::clamp(prefixLength(maskText), 0, 32);
    return bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
}

Bytes16 ipv6Mask(std::wstring_view maskText) {
    if (maskText.find(L'.') != std::wstring_view::npos) {
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
void sortAndMerge(std::vector<Range>& ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
        return a.first != b.first ? a.first < b.first : a.last < b.last;
    });
    size_t kept = 0;
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (kept > 0 && joins(ranges[i].first, ranges[kept - 1].last)) {
            ranges[kept - 1].last = std::max(ranges[kept - 1].last, ranges[i].last);
        } else {
            ranges[kept++] = ranges[i];
        }
    }
    ranges.resize(kept);
}

// The text split at the first separator, and whether there is a second one.
struct Halves {
    std::wstring_view first;
    std::wstring_view second;
    bool split = false;
    bool more = false;
};

Halves halves(std::wstring_view text, wchar_t separator) {
    const size_t at = text.find(separator);
    if (at == std::wstring_view::npos) {
        return {text, {}, false, false};
    }
    const std::wstring_view rest = text.substr(at + 1);
    return {text.substr(0, at), rest, true, rest.find(separator) != std::wstring_view::npos};
}

// The steps shared by both families: a range "a-b", or an address with an optional mask.
template <typename Range, typename Value, typename Mask>
Range stringAsRange(std::wstring_view text, Value value, Mask mask, const char* tag) {
    const Halves dash = halves(text, L'-');
    if (dash.more) {
        TARN_LOG_TAG(TarnPyxLogging::LevelDebug, tag) << "Invalid address (wrong '-'): " << text;
        return {};
    }
    if (dash.split) {
        const auto a = value(dash.first);
        const auto b = value(dash.second);
        return {std::min(a, b), std::max(a, b)};
    }
    const Halves slash = halves(text, L'/');
    if (slash.more) {
        TARN_LOG_TAG(TarnPyxLogging::LevelDebug, tag) << "Invalid address (wrong '/'): " << text;
        return {};
    }
    const auto address = value(slash.first);
    if (!slash.split) {
        return {address, address};
    }
    Range range{address, address};
    applyMask(range, mask(slash.second));
    return range;
}

IPv4Range ipv4Range(std::wstring_view text) {
    return stringAsRange<IPv4Range>(text, ipv4Value, ipv4Mask, "StringAsIPv4Range");
}

IPv6Range ipv6Range(std::wstring_view text) {
    return stringAsRange<IPv6Range>(text, ipv6Value, ipv6Mask, "StringAsIPv6Range");
}

}  // namespace

IPv4Range StringAsIPv4Range(const std::wstring& text) {
    return ipv4Range(text);
}

IPv6Range StringAsIPv6Range(const std::wstring& text) {
    return ipv6Range(text);
}

AddressRanges parseAddressList(const std::wstring& text) {
    AddressRanges ranges;
    if (text.empty()) {
        return ranges;
    }
    const std::wstring_view all(text);
    for (size_t start = 0; start <= all.size();) {
        const size_t comma = std::min(all.find(L',', start), all.size());
        const std::wstring_view item = all.substr(start, comma - start);
        start = comma + 1;
        if (const auto keyword = tarn::addressKeyword(item); !keyword.empty()) {
            ranges.keywords.emplace(keyword);
        } else if (item.find(L':') != std::wstring_view::npos) {
            if (const auto range = ipv6Range(item); range != IPv6Range{}) {
                ranges.ipv6.push_back(range);
            }
        } else if (const auto range = ipv4Range(item); range != IPv4Range{}) {
            ranges.ipv4.push_back(range);
        }
    }
    sortAndMerge(ranges.ipv4);
    sortAndMerge(ranges.ipv6);
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
