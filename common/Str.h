// Text helpers: UTF-16 (wide) and UTF-8 conversion, splitting, joining and trimming.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn::str {

// UTF-16 to UTF-8 and back through the system's code-page conversion. Invalid input throws
// std::runtime_error with the reason ("Cannot convert string from UTF16 to UTF8", ...).
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

// Wide text to the process's ANSI code page and back (or to another code page). A text of
// 2^31 characters or more raises tarn::BaseException "Too long string"; a failed conversion
// raises tarn::Win32Exception with the system's error.
std::string toMultibyte(std::wstring_view text, unsigned codePage = 0 /* CP_ACP */);
std::wstring toUnicode(std::string_view text, unsigned codePage = 0 /* CP_ACP */);

// UTF-16 little-endian bytes (as files and the network carry them) to a wide string;
// an odd last byte is ignored.
std::wstring fromUtf16Le(const unsigned char* bytes, size_t size);

// Splits at every separator; empty pieces are kept ("a,,b" gives three pieces).
std::vector<std::wstring> split(std::wstring_view text, wchar_t separator);
std::vector<std::string> split(std::string_view text, char separator);
std::wstring join(const std::vector<std::wstring>& pieces, std::wstring_view separator);

// Removes the given characters from both ends.
std::wstring trim(std::wstring_view text, std::wstring_view characters = L" \t\r\n");

// Lower case, character by character (towlower).
std::wstring toLower(std::wstring_view text);
bool equalsNoCase(std::wstring_view a, std::wstring_view b);
bool startsWith(std::wstring_view text, std::wstring_view prefix);

}  // namespace tarn::str
