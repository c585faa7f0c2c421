// Fuzzer bytes as wide text: ASCII stays, every other byte picks a character that the address
// code treats specially (line terminators, digits of other scripts, spaces, high code units).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarn::fuzz {

inline std::wstring wideText(const uint8_t* data, size_t size) {
    static constexpr std::array<wchar_t, 16> kSpecial = {
        L'\u2028', L'\u2029', L'\u0085', L'\u00a0', L'\u0660', L'\u0664', L'\u0669', L'\uff10',
        L'\uff15', L'\u0966', L'\u00b2', L'\u00e9', L'\uffff', L'\ufeff', L'\u3000', L'\u2007'};
    std::wstring text;
    text.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        text +=
            data[i] < 0x80 ? static_cast<wchar_t>(data[i]) : kSpecial[data[i] % kSpecial.size()];
    }
    return text;
}

}  // namespace tarn::fuzz
