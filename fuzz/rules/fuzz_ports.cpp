// A port text covers two ports when it covers either of them, and a list covers a port when
// one of its parts does.
#include <cstdlib>

#include "fuzz/rules/FuzzText.h"
#include "rules/RuleValidation.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isAll(const std::wstring& text) {
    return text.empty() || text == L"*";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const int portA = data[0] << 8 | data[1];
    const int portB = data[2] << 8 | data[3];
    const std::wstring input = tarn::fuzz::wideText(data + 4, size - 4);
    const size_t split = input.find(L'|');
    const std::wstring first = input.substr(0, split);
    const bool both = portsContainThesePortsOrInvalid(first, portA, portB);
    if (portB != 0) {
        check(both == (portsContainThesePortsOrInvalid(first, portA, 0) ||
                       portsContainThesePortsOrInvalid(first, portB, 0)));
    }
    if (split != std::wstring::npos) {
        const std::wstring second = input.substr(split + 1);
        if (!isAll(first) && !isAll(second)) {
            check(portsContainThesePortsOrInvalid(first + L"," + second, portA, portB) ==
                  (both || portsContainThesePortsOrInvalid(second, portA, portB)));
        }
    }
    return 0;
}
