// Code-page conversions and the Microsoft CRT string functions of the simulated machine.
#include <locale.h>
#include <strings.h>
#include <wctype.h>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "internal.h"

namespace sim::detail {

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;  // a lone surrogate becomes the replacement character, as on Windows
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<std::wstring> fromUtf8(std::string_view text, bool strict) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        uint32_t c = 0;
        size_t extra = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        }
        bool valid = b < 0x80 || extra != 0;
        for (size_t k = 1; valid && k <= extra; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                valid = false;
            } else {
                c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            }
        }
        static constexpr uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        valid = valid && c >= minimum[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (!valid) {
            if (strict) {
                return std::nullopt;
            }
            out += L'\uFFFD';  // as Windows does without MB_ERR_INVALID_CHARS
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

std::wstring upcase(std::wstring_view text) {
    // The host's Unicode case table, as Windows has its own: C.UTF-8 is built into the C
    // library. Characters beyond U+FFFF stay: Windows folds UTF-16 code units one by one.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    std::wstring out(text);
    for (auto& c : out) {
        if (c < 0x80) {
            c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
        } else if (c <= 0xFFFF && unicode != locale_t{}) {
            c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), unicode));
        }
    }
    return out;
}

}  // namespace sim::detail

using sim::detail::fail;

// The simulated machine's ANSI code page is UTF-8, so CP_ACP and CP_UTF8 behave alike.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                        int chars) {
    SIM_API("MultiByteToWideChar");
    if (simFault_) {
        return fail(*simFault_, 0);
    }
    if ((codePage != CP_UTF8 && codePage != CP_ACP) || text == nullptr || chars < 0 || bytes == 0) {
        return fail(ERROR_INVALID_PARAMETER, 0);
    }
    const size_t length = bytes < 0 ? std::strlen(text) + 1 : static_cast<size_t>(bytes);
    auto decoded =
        sim::detail::fromUtf8(std::string_view(text, length), (flags & MB_ERR_INVALID_CHARS) != 0);
    if (!decoded) {
        return fail(ERROR_NO_UNICODE_TRANSLATION, 0);
    }
    if (chars == 0) {
        return static_cast<int>(decoded->size());
    }
    if (decoded->size() > static_cast<size_t>(chars)) {
        return fail(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    std::wmemcpy(wide, decoded->data(), decoded->size());
    return static_cast<int>(decoded->size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int chars, LPSTR text, int bytes,
                        LPCSTR /*defaultChar*/, BOOL* usedDefaultChar) {
    SIM_API("WideCharToMultiByte");
    if (simFault_) {
        return fail(*simFault_, 0);
    }
    if ((codePage != CP_UTF8 && codePage != CP_ACP) || wide == nullptr || bytes < 0 || chars == 0) {
        return fail(ERROR_INVALID_PARAMETER, 0);
    }
    if (usedDefaultChar != nullptr) {
        *usedDefaultChar = FALSE;
    }
    const size_t length = chars < 0 ? std::wcslen(wide) + 1 : static_cast<size_t>(chars);
    const std::wstring_view input(wide, length);
    if ((flags & WC_ERR_INVALID_CHARS) != 0) {
        // A lone surrogate (or, with 32-bit WCHAR, no code point at all) is refused, as Windows
        // does with this flag instead of writing U+FFFD.
        for (const wchar_t wc : input) {
            const auto c = static_cast<uint32_t>(wc);
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                return fail(ERROR_NO_UNICODE_TRANSLATION, 0);
            }
        }
    }
    const std::string encoded = sim::detail::toUtf8(input);
    if (bytes == 0) {
        return static_cast<int>(encoded.size());
    }
    if (encoded.size() > static_cast<size_t>(bytes)) {
        return fail(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    std::memcpy(text, encoded.data(), encoded.size());
    return static_cast<int>(encoded.size());
}

namespace {

// A UTF-8 locale for the host's wide conversions inside printf (%ls).
locale_t utf8Locale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

class ScopedUtf8Locale {
public:
    ScopedUtf8Locale() : m_previous(uselocale(utf8Locale())) {}
    ~ScopedUtf8Locale() { uselocale(m_previous); }
    ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
    ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

private:
    locale_t m_previous;
};

// Rewrites a Microsoft wide format for the host's vswprintf: there %s and %c take narrow
// arguments, in the Microsoft CRT wide ones; %hs and %hc stay narrow in both.
std::wstring hostWideFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out += *p;
        if (*p != L'%') {
            continue;
        }
        if (p[1] == L'%') {
            out += *++p;
            continue;
        }
        // Flags, width, precision.
        while (p[1] != L'\0' && std::wcschr(L"-+ #0123456789.*", p[1]) != nullptr) {
            out += *++p;
        }
        if ((p[1] == L's' || p[1] == L'c')) {
            out += L'l';
        } else if (p[1] == L'h' && (p[2] == L's' || p[2] == L'c')) {
            ++p;  // the host's narrow form has no 'h'
        } else if (p[1] == L'S') {
            ++p;
            out += L's';  // %S: narrow in a wide format
            continue;
        }
    }
    return out;
}

}  // namespace

// The formats are the callers'; clang warns about forwarding them even with a va_list.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
    ScopedUtf8Locale locale;
    const int written = std::vsnprintf(buffer, count, format, args);
    if (written < 0 || static_cast<size_t>(written) >= count) {
        return -1;  // Microsoft semantics: truncated
    }
    return written;
}

int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    ScopedUtf8Locale locale;
    const std::wstring hostFormat = hostWideFormat(format);
    const int written = std::vswprintf(buffer, count, hostFormat.c_str(), args);
    if (written < 0 || static_cast<size_t>(written) >= count) {
        return -1;
    }
    return written;
}

int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return written;
}

namespace {

// Leading white space, an optional sign, then digits; no digits give 0. Like the CRT, a value
// beyond [low, high] gives the nearer bound.
long long parseClamped(const wchar_t* text, long long low, long long high) {
    while (std::iswspace(static_cast<wint_t>(*text))) {
        ++text;
    }
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    // The magnitude may reach |low|, which is one more than high.
    const unsigned long long limit = negative ? 0ULL - static_cast<unsigned long long>(low)
                                              : static_cast<unsigned long long>(high);
    unsigned long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        const auto digit = static_cast<unsigned long long>(*text - L'0');
        if (value > (limit - digit) / 10) {
            return negative ? low : high;
        }
        value = value * 10 + digit;
    }
    return negative ? static_cast<long long>(0ULL - value) : static_cast<long long>(value);
}

}  // namespace

int _wtoi(const wchar_t* text) {
    return static_cast<int>(parseClamped(text, INT_MIN, INT_MAX));
}

long long _wtoi64(const wchar_t* text) {
    return parseClamped(text, LLONG_MIN, LLONG_MAX);
}

int _wcsicmp(const wchar_t* a, const wchar_t* b) {
    return _wcsnicmp(a, b, SIZE_MAX);
}

int _wcsnicmp(const wchar_t* a, const wchar_t* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const auto ca = std::towlower(static_cast<wint_t>(a[i]));
        const auto cb = std::towlower(static_cast<wint_t>(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            return 0;
        }
    }
    return 0;
}

int _stricmp(const char* a, const char* b) {
    return strcasecmp(a, b);
}
