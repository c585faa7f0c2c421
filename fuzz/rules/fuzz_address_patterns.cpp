// The fast address matcher must accept exactly what the regular expressions accept.
#include <cstdlib>

#include "fuzz/rules/FuzzText.h"
#include "rules/AddressPatterns.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // std::regex recurses once per character; longer texts would only exhaust its stack.
    if (size > 512) {
        return 0;
    }
    const std::wstring text = tarn::fuzz::wideText(data, size);
    for (const auto pattern :
         {tarn::AddressPattern::IPv4Address, tarn::AddressPattern::IPv4Subnet,
          tarn::AddressPattern::IPv6Address, tarn::AddressPattern::IPv6Subnet}) {
        if (tarn::matchesPattern(pattern, text) != tarn::matchesPatternRegex(pattern, text)) {
            std::abort();
        }
    }
    return 0;
}
