// FormatMessageW as the system meets it, on the simulated machine and on Windows alike: system
// texts, inserts from an array and from a va_list, escapes, line widths and languages.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "platform/win.h"

namespace {

constexpr DWORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The message, or "error N" when FormatMessageW fails.
std::wstring formatted(DWORD flags, const void* source, DWORD id, DWORD language,
                       va_list* arguments) {
    wchar_t buffer[1024] = {};
    const DWORD length = FormatMessageW(flags, source, id, language, buffer, 1024, arguments);
    return length == 0 ? L"error " + std::to_wstring(GetLastError()) : std::wstring(buffer, length);
}

std::wstring fromString(const wchar_t* definition, const DWORD_PTR* arguments, DWORD flags = 0) {
    return formatted(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | flags, definition,
                     0, 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
}

std::wstring fromList(const wchar_t* definition, ...) {
    va_list list;
    va_start(list, definition);
    std::wstring text = formatted(FORMAT_MESSAGE_FROM_STRING, definition, 0, 0, &list);
    va_end(list);
    return text;
}

TEST(MessageTexts, SystemTextsAreWindowsOwnInUsEnglish) {
    EXPECT_EQ(formatted(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                        ERROR_ACCESS_DENIED, kUsEnglish, nullptr),
              L"Access is denied.\r\n");
    EXPECT_EQ(formatted(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                        ERROR_FILE_NOT_FOUND, 0, nullptr),
              L"The system cannot find the file specified.\r\n");
}

TEST(MessageTexts, SystemTextsEndWithALineBreakThatTheMaximumWidthTurnsIntoASpace) {
    const std::wstring text = formatted(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, ERROR_ACCESS_DENIED, kUsEnglish, nullptr);
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    EXPECT_EQ(formatted(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                            FORMAT_MESSAGE_MAX_WIDTH_MASK,
                        nullptr, ERROR_ACCESS_DENIED, kUsEnglish, nullptr),
              text.substr(0, text.size() - 2) + L" ");
    EXPECT_EQ(formatted(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x2F0F0F0F, kUsEnglish, nullptr),
              L"error " + std::to_wstring(ERROR_MR_MID_NOT_FOUND));
}

TEST(MessageTexts, TheMaximumWidthKeepsOnlyHardLineBreaks) {
    const DWORD_PTR none[] = {0};
    EXPECT_EQ(fromString(L"one\r\ntwo%nthree", none, FORMAT_MESSAGE_MAX_WIDTH_MASK),
              L"one two\r\nthree");
    EXPECT_EQ(fromString(L"one\r\ntwo%nthree", none), L"one\r\ntwo\r\nthree");
}

TEST(MessageTexts, AWidthBreaksLinesBetweenWords) {
    const DWORD_PTR none[] = {0};
    EXPECT_EQ(fromString(L"alpha beta gamma delta", none, 12), L"alpha beta\r\ngamma delta");
    EXPECT_EQ(fromString(L"alpha\r\nbeta", none, 12), L"alpha beta");
}

TEST(MessageTexts, ALanguageWithoutTextsIsRefused) {
    EXPECT_EQ(formatted(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                        ERROR_ACCESS_DENIED, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), nullptr),
              L"error " + std::to_wstring(ERROR_RESOURCE_LANG_NOT_FOUND));
}

TEST(MessageTexts, InsertsFromAnArray) {
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(L"disk"), 42, 255};
    EXPECT_EQ(fromString(L"%1 has %2!d! files (%3!x!, %3!04X!) - %1", arguments),
              L"disk has 42 files (ff, 00FF) - disk");
    EXPECT_EQ(fromString(L"[%1!-6s!][%2!5d!]", arguments), L"[disk  ][   42]");
}

TEST(MessageTexts, ALongInsertIsWhole) {
    const std::wstring path(3000, L'x');
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(path.c_str())};
    LPWSTR allocated = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        L"<%1>", 0, 0, reinterpret_cast<LPWSTR>(&allocated), 0,
        reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::wstring(allocated, length), L"<" + path + L">");
    LocalFree(allocated);
}

TEST(MessageTexts, InsertsFromAVaList) {
    EXPECT_EQ(fromList(L"%2 before %1!d!", 7, L"text"), L"text before 7");
}

TEST(MessageTexts, EscapesAndIgnoredInserts) {
    const DWORD_PTR none[] = {0};
    EXPECT_EQ(fromString(L"100%% sure%.%!%t!", none), L"100% sure.!\t!");
    EXPECT_EQ(fromString(L"cut here%0 and not this", none), L"cut here");
    EXPECT_EQ(formatted(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS,
                        L"keep %1 and %2!d! as they are", 0, 0, nullptr),
              L"keep %1 and %2!d! as they are");
}

TEST(MessageTexts, AShortBufferFailsAndAnAllocatedOneFits) {
    const std::wstring text = formatted(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, ERROR_ACCESS_DENIED, kUsEnglish, nullptr);
    wchar_t small[4];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_ACCESS_DENIED, kUsEnglish, small, 4, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    LPWSTR allocated = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, ERROR_ACCESS_DENIED, kUsEnglish, reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::wstring(allocated, length), text);
    LocalFree(allocated);
}

}  // namespace
