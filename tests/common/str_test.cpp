#include <gtest/gtest.h>

#include "common/Str.h"

namespace {

using namespace tarn::str;

TEST(Str, Utf8RoundTripKeepsNonAscii) {
    const std::wstring text = L"Gr\u00fc\u00dfe \u20ac \u65e5\u672c";
    EXPECT_EQ(toUtf8(text),
              "Gr\xc3\xbc\xc3\x9f"
              "e \xe2\x82\xac \xe6\x97\xa5\xe6\x9c\xac");
    EXPECT_EQ(fromUtf8(toUtf8(text)), text);
    EXPECT_EQ(toUtf8(L""), "");
}

TEST(Str, InvalidUtf8BecomesReplacementCharacters) {
    // The system's code-page conversion runs without MB_ERR_INVALID_CHARS.
    EXPECT_EQ(fromUtf8("a\xff"
                       "b"),
              L"a\uFFFDb");
}

TEST(Str, SplitKeepsEmptyPiecesAndJoinRestores) {
    const auto pieces = split(std::wstring_view(L",a,,b,"), L',');
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_EQ(pieces[1], L"a");
    EXPECT_EQ(pieces[2], L"");
    EXPECT_EQ(join(pieces, L","), L",a,,b,");
}

TEST(Str, TrimAndCase) {
    EXPECT_EQ(trim(L" \t x y \r\n"), L"x y");
    EXPECT_EQ(trim(L" \t"), L"");
    EXPECT_TRUE(equalsNoCase(L"Block Web", L"block web"));
    EXPECT_FALSE(equalsNoCase(L"Block Web", L"block we"));
}

}  // namespace
