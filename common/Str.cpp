#include "common/Str.h"

#include <cwctype>
#include <limits>
#include <stdexcept>

#include "common/exceptions/ErrorCodeException.h"
#include "platform/win.h"

namespace tarn::str {

namespace {

// Code-page conversion counts in int: longer texts cannot be converted.
int checkedLength(size_t size, const wchar_t* function) {
    if (size > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw BaseException(L"Too long string", function, L"Str", __LINE__);
    }
    return static_cast<int>(size);
}

}  // namespace

std::string toMultibyte(std::wstring_view text, unsigned codePage) {
    const int chars = checkedLength(text.size(), L"tarn::str::toMultibyte");
    if (chars == 0) {
        return {};
    }
    const int bytes =
        WideCharToMultiByte(codePage, 0, text.data(), chars, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes <= 0 || WideCharToMultiByte(codePage, 0, text.data(), chars, out.data(), bytes,
                                          nullptr, nullptr) != bytes) {
        throw Win32Exception(GetLastError(), nullptr, L"tarn::str::toMultibyte", L"Str", __LINE__);
    }
    return out;
}

std::wstring toUnicode(std::string_view text, unsigned codePage) {
    const int bytes = checkedLength(text.size(), L"tarn::str::toUnicode");
    if (bytes == 0) {
        return {};
    }
    const int chars = MultiByteToWideChar(codePage, 0, text.data(), bytes, nullptr, 0);
    std::wstring out(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars <= 0 ||
        MultiByteToWideChar(codePage, 0, text.data(), bytes, out.data(), chars) != chars) {
        throw Win32Exception(GetLastError(), nullptr, L"tarn::str::toUnicode", L"Str", __LINE__);
    }
    return out;
}

std::wstring fromUtf16Le(const unsigned char* bytes, size_t size) {
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    if constexpr (sizeof(wchar_t) == 2) {
        return std::wstring(units.begin(), units.end());
    } else {
        // Pairs of surrogates become one character; a lone surrogate is replaced.
        std::wstring out;
        out.reserve(units.size());
        for (size_t i = 0; i < units.size(); ++i) {
            const char32_t unit = units[i];
            const bool high = unit >= 0xD800 && unit <= 0xDBFF;
            if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
                out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) +
                                            (units[i + 1] - 0xDC00));
                ++i;
            } else if (unit >= 0xD800 && unit <= 0xDFFF) {
                out += static_cast<wchar_t>(0xFFFD);
            } else {
                out += static_cast<wchar_t>(unit);
            }
        }
        return out;
    }
}

std::string toUtf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw std::runtime_error("Cannot get buffer size needed for conversion from UTF16 to UTF8");
    }
    const int chars = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        throw std::runtime_error("Cannot get buffer size needed for conversion from UTF16 to UTF8");
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), chars, out.data(), bytes, nullptr, nullptr) !=
        bytes) {
        throw std::runtime_error("Cannot convert string from UTF16 to UTF8");
    }
    return out;
}

std::wstring fromUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        throw std::runtime_error("Cannot get buffer size needed for conversion from UTF8 to UTF16");
    }
    const int bytes = static_cast<int>(text.size());
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0);
    if (chars <= 0) {
        throw std::runtime_error("Cannot get buffer size needed for conversion from UTF8 to UTF16");
    }
    std::wstring out(static_cast<size_t>(chars), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, out.data(), chars) != chars) {
        throw std::runtime_error("Cannot convert string from UTF8 to UTF16");
    }
    return out;
}

namespace {

template <typename Char>
std::vector<std::basic_string<Char>> splitAny(std::basic_string_view<Char> text, Char separator) {
    std::vector<std::basic_string<Char>> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        if (end == std::basic_string_view<Char>::npos) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

std::vector<std::wstring> split(std::wstring_view text, wchar_t separator) {
    return splitAny(text, separator);
}

std::vector<std::string> split(std::string_view text, char separator) {
    return splitAny(text, separator);
}

std::wstring join(const std::vector<std::wstring>& pieces, std::wstring_view separator) {
    std::wstring out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i != 0) {
            out += separator;
        }
        out += pieces[i];
    }
    return out;
}

std::wstring trim(std::wstring_view text, std::wstring_view characters) {
    const size_t first = text.find_first_not_of(characters);
    if (first == std::wstring_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(characters);
    return std::wstring(text.substr(first, last - first + 1));
}

std::wstring toLower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return out;
}

bool equalsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace tarn::str
