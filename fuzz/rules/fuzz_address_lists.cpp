// Parsed address lists are sorted and merged, and comparing lists by meaning is an
// equivalence that does not depend on the order of the items.
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "common/Str.h"
#include "fuzz/rules/FuzzText.h"
#include "rules/AddressRanges.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

template <typename Range, typename Follows>
void checkMerged(const std::vector<Range>& ranges, Follows follows) {
    for (size_t i = 0; i < ranges.size(); ++i) {
        check(!(ranges[i].last < ranges[i].first));
        if (i != 0) {
            check(follows(ranges[i - 1].last, ranges[i].first));
        }
    }
}

// Whether `next` lies beyond the address after `last`: merged ranges leave a gap.
bool gapAfter(uint32_t last, uint32_t next) {
    return uint64_t{next} > uint64_t{last} + 1;
}
bool gapAfter(std::array<uint8_t, 16> last, const std::array<uint8_t, 16>& next) {
    for (auto it = last.rbegin(); it != last.rend(); ++it) {
        if (++*it != 0) {
            return next > last;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring input = tarn::fuzz::wideText(data, size);
    const size_t split = input.find(L'|');
    const std::wstring a = input.substr(0, split);
    const std::wstring b = split == std::wstring::npos ? a : input.substr(split + 1);
    try {
        const AddressRanges ranges = parseAddressList(a);
        checkMerged(ranges.ipv4, [](uint32_t l, uint32_t n) { return gapAfter(l, n); });
        checkMerged(ranges.ipv6, [](const auto& l, const auto& n) { return gapAfter(l, n); });

        auto items = tarn::str::split(a, L',');
        std::reverse(items.begin(), items.end());
        const std::wstring reversed = tarn::str::join(items, L",");
        check(addressListsEquivalent(a, a));
        check(addressListsEquivalent(a, reversed));
        check(addressListsEquivalent(a, b) == addressListsEquivalent(b, a));
    } catch (const std::invalid_argument&) {
        // A prefix length that is no number: documented behaviour.
    } catch (const std::out_of_range&) {
    }
    return 0;
}
