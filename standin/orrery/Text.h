// Strict text handling of the store: the library refuses text that does not convert losslessly
// instead of storing replacement characters, and refuses malformed dotted keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::orrery {

// Longest key accepted, in UTF-16 code units.
inline constexpr size_t kMaxKeyLength = 1024;

// UTF-16 to UTF-8 and back; nullopt when the input is not valid UTF-16 or UTF-8.
std::optional<std::string> toUtf8Strict(std::wstring_view text);
std::optional<std::wstring> fromUtf8Strict(std::string_view text);

// A dotted key split into its UTF-8 segments.
struct KeyPath {
    std::vector<std::string> segments;
    std::string text;  // the segments joined by '.'
};

// Parses a key: not null, not empty, at most kMaxKeyLength code units, valid UTF-16, no
// empty segment and no control character. Returns the library's error code.
int parseKey(const wchar_t* key, KeyPath& path);

// Whether `inner` equals `outer` or lies below it ("a.b.c" below "a.b", not below "a.bc").
bool isAtOrBelow(std::string_view inner, std::string_view outer);

}  // namespace tarn::orrery
