#include "standin/orrery/Text.h"

#include <cstdint>
#include <cwchar>
#include <limits>

#include "platform/win.h"
#include "standin/orrery/PyxOrrery.h"

namespace tarn::orrery {

namespace {

// Keys and most values are ASCII: they convert unit by unit, without the two API passes.
template <typename To, typename From>
std::optional<To> asciiCopy(From text) {
    for (const auto c : text) {
        if (static_cast<uint32_t>(c) >= 0x80) {
            return std::nullopt;
        }
    }
    To out(text.size(), typename To::value_type());
    for (size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<typename To::value_type>(text[i]);
    }
    return out;
}

}  // namespace

std::optional<std::string> toUtf8Strict(std::wstring_view text) {
    if (auto ascii = asciiCopy<std::string>(text)) {
        return ascii;
    }
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    const int chars = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), chars,
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return std::nullopt;
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), chars, out.data(), bytes,
                            nullptr, nullptr) != bytes) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::wstring> fromUtf8Strict(std::string_view text) {
    if (auto ascii = asciiCopy<std::wstring>(text)) {
        return ascii;
    }
    if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    const int bytes = static_cast<int>(text.size());
    const int chars =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
    if (chars <= 0) {
        return std::nullopt;
    }
    std::wstring out(static_cast<size_t>(chars), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), bytes, out.data(), chars) !=
        chars) {
        return std::nullopt;
    }
    return out;
}

int parseKey(const wchar_t* key, KeyPath& path) {
    if (key == nullptr) {
        return PYX_ORRERY_E_INVALID_ARGUMENT;
    }
    const std::wstring_view wide(key, std::wcslen(key));
    if (wide.empty() || wide.size() > kMaxKeyLength) {
        return PYX_ORRERY_E_INVALID_KEY;
    }
    for (const wchar_t c : wide) {
        if (static_cast<uint32_t>(c) < 0x20 || c == 0x7F) {
            return PYX_ORRERY_E_INVALID_KEY;
        }
    }
    auto utf8 = toUtf8Strict(wide);
    if (!utf8) {
        return PYX_ORRERY_E_INVALID_TEXT;
    }
    path.segments.clear();
    size_t start = 0;
    for (;;) {
        const size_t dot = utf8->find('.', start);
        const size_t end = dot == std::string::npos ? utf8->size() : dot;
        if (end == start) {
            return PYX_ORRERY_E_INVALID_KEY;  // empty segment: "", ".a", "a..b", "a."
        }
        path.segments.emplace_back(utf8->substr(start, end - start));
        if (dot == std::string::npos) {
            break;
        }
        start = dot + 1;
    }
    path.text = std::move(*utf8);
    return PYX_ORRERY_OK;
}

bool isAtOrBelow(std::string_view inner, std::string_view outer) {
    return inner.size() >= outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '.');
}

}  // namespace tarn::orrery
