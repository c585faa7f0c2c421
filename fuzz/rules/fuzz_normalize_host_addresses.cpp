// Normalisation never fails on any text; its results are sorted, free of duplicates and
// consistent with the host names it reports.
#include <cstdlib>
#include <functional>

#include "common/Str.h"
#include "fuzz/rules/FuzzText.h"
#include "rules/AddressPatterns.h"
#include "rules/RuleHostAddressNormalizer.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Strictly increasing pieces: sorted and without duplicates.
void checkSortedSet(const std::wstring& joined) {
    if (joined.empty()) {
        return;
    }
    const auto pieces = tarn::str::split(joined, L',');
    for (size_t i = 1; i < pieces.size(); ++i) {
        check(pieces[i - 1] < pieces[i]);
    }
}

// Answers that depend on the name only: none, addresses of both families, or a bad one.
std::vector<std::wstring> resolve(const std::wstring& host) {
    switch (std::hash<std::wstring>{}(host) % 4) {
        case 0:
            return {};
        case 1:
            return {L"10.0.0.1", L"10.0.0.2"};
        case 2:
            return {L"fe80::1%4", L"192.168.0.1"};
        default:
            return {L"10.0.0.3", L"bad address"};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const tarn::RuleHostAddressNormalizer normalizer(resolve);
    const std::wstring text = tarn::fuzz::wideText(data, size);
    std::vector<std::wstring> hostNames;
    std::wstring invalid;
    const std::wstring result = normalizer.normalizeHostAddresses(text, hostNames, invalid);
    checkSortedSet(result);
    checkSortedSet(invalid);
    // Only what can be a host name is looked up; an invalid item was looked up in vain, or
    // cannot be a host name at all.
    for (const auto& name : hostNames) {
        check(tarn::canBeHostName(name));
    }
    if (!invalid.empty()) {
        for (const auto& item : tarn::str::split(invalid, L',')) {
            check(std::find(hostNames.begin(), hostNames.end(), item) != hostNames.end() ||
                  !tarn::canBeHostName(item));
        }
    }
    // Normalising the result again changes nothing: it holds no host names. (Cutting a zone
    // can leave a text that is no address: "fe80::1x1%1x2" matches with "%" as an IPv4 dot.)
    if (text.find(L'%') == std::wstring::npos) {
        std::vector<std::wstring> again;
        std::wstring invalidAgain;
        check(normalizer.normalizeHostAddresses(result, again, invalidAgain) == result);
        check(again.empty() && invalidAgain.empty());
    }
    return 0;
}
