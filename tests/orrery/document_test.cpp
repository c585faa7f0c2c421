// The store's document rules: keys, which keys a change reports, constraints, the file form.
#include <gtest/gtest.h>

#include "standin/orrery/Document.h"
#include "standin/orrery/PyxOrrery.h"
#include "standin/orrery/Text.h"

namespace {

using tarn::orrery::Json;
using tarn::orrery::KeyPath;

TEST(OrreryKeys, ParsesOrRefusesKeys) {
    const std::wstring longest(tarn::orrery::kMaxKeyLength, L'k');
    const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'\0'};
    const struct {
        std::wstring key;
        int expected;
        size_t segments;
    } cases[] = {
        {L"a", PYX_ORRERY_OK, 1},
        {L"windows.firewall.enabled", PYX_ORRERY_OK, 3},
        {L"caf\u00e9.\u6e2c\u8a66", PYX_ORRERY_OK, 2},
        {longest, PYX_ORRERY_OK, 1},
        {longest + L"k", PYX_ORRERY_E_INVALID_KEY, 0},
        {L"", PYX_ORRERY_E_INVALID_KEY, 0},
        {L".a", PYX_ORRERY_E_INVALID_KEY, 0},
        {L"a.", PYX_ORRERY_E_INVALID_KEY, 0},
        {L"a..b", PYX_ORRERY_E_INVALID_KEY, 0},
        {L"a\tb", PYX_ORRERY_E_INVALID_KEY, 0},
        {loneSurrogate, PYX_ORRERY_E_INVALID_TEXT, 0},
    };
    for (const auto& c : cases) {
        KeyPath path;
        EXPECT_EQ(tarn::orrery::parseKey(c.key.c_str(), path), c.expected) << c.key.size();
        if (c.expected == PYX_ORRERY_OK) {
            EXPECT_EQ(path.segments.size(), c.segments);
        }
    }
    KeyPath path;
    EXPECT_EQ(tarn::orrery::parseKey(nullptr, path), PYX_ORRERY_E_INVALID_ARGUMENT);
}

TEST(OrreryKeys, BelowMeansAtADotBoundary) {
    EXPECT_TRUE(tarn::orrery::isAtOrBelow("a.b", "a.b"));
    EXPECT_TRUE(tarn::orrery::isAtOrBelow("a.b.c", "a.b"));
    EXPECT_FALSE(tarn::orrery::isAtOrBelow("a.bc", "a.b"));
    EXPECT_FALSE(tarn::orrery::isAtOrBelow("a", "a.b"));
}

TEST(OrreryDocument, ReportsChangedKeysByFullName) {
    const struct {
        const char* before;
        const char* after;
        std::vector<std::string> keys;
    } cases[] = {
        {R"({})", R"({})", {}},
        {R"({"a":1})", R"({"a":1})", {}},
        {R"({"a":1})", R"({"a":2})", {"a"}},
        {R"({})", R"({"x":{"y":{"z":true}}})", {"x.y.z"}},
        {R"({"x":{"y":1,"z":2}})", R"({"x":{"y":1,"z":3}})", {"x.z"}},
        {R"({"x":{"y":1,"z":2}})", R"({})", {"x.y", "x.z"}},
        // Arrays are whole values: one key for any change inside.
        {R"({"p":[{"n":1},{"n":2}]})", R"({"p":[{"n":1},{"n":3}]})", {"p"}},
        {R"({"p":[1,2]})", R"({"p":[1,2]})", {}},
        // A value replaced by an object reports both the value's key and the new keys.
        {R"({"a":5})", R"({"a":{"b":1}})", {"a", "a.b"}},
        {R"({"a":{"b":1}})", R"({"a":"s"})", {"a", "a.b"}},
        // An empty object holds no value.
        {R"({})", R"({"a":{}})", {}},
        {R"({"a":{}})", R"({"a":null})", {"a"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tarn::orrery::changedKeys(Json::parse(c.before), Json::parse(c.after)), c.keys)
            << c.before << " -> " << c.after;
    }
}

TEST(OrreryDocument, ChangedKeysAtThePathOfAChangeAreThoseOfTheWholeTree) {
    const struct {
        const char* before;
        const char* after;
        std::vector<std::string> path;
    } cases[] = {
        {R"({"o":{"k":1},"x":{"y":{"z":1,"w":2}}})",
         R"({"o":{"k":1},"x":{"y":{"z":3,"w":2}}})",
         {"x", "y", "z"}},
        {R"({"o":1})", R"({"o":1,"n":{"e":{"w":[1]}}})", {"n", "e", "w"}},  // made on the way
        {R"({"o":1,"x":{"y":{"z":true}}})", R"({"o":1,"x":{"y":{}}})", {"x", "y", "z"}},
        {R"({"a":{"b":5}})", R"({"a":{"b":{"c":1,"d":{"e":2}}}})", {"a", "b"}},  // value to object
        {R"({"a":{"b":{"c":1,"d":2}}})", R"({"a":{"b":"s"}})", {"a", "b"}},      // and back
        {R"({"a":{"b":1}})", R"({"a":{"b":1}})", {"a", "b"}},                    // no change
        {R"({"a":{}})", R"({"a":{"b":{}}})", {"a", "b"}},                        // no value either
        {R"({"a":{"q\"t":1}})", R"({"a":{"q\"t":2}})", {"a", "q\"t"}},
    };
    for (const auto& c : cases) {
        const Json before = Json::parse(c.before);
        const Json after = Json::parse(c.after);
        EXPECT_EQ(tarn::orrery::changedKeysAt(tarn::orrery::findValue(before, c.path),
                                              tarn::orrery::findValue(after, c.path), c.path),
                  tarn::orrery::changedKeys(before, after))
            << c.before << " -> " << c.after;
    }
}

TEST(OrreryDocument, StoresFindsAndErasesAlongPaths) {
    Json root = Json::object();
    EXPECT_EQ(tarn::orrery::storeValue(root, {"a", "b", "c"}, 1), PYX_ORRERY_OK);
    EXPECT_EQ(root, Json::parse(R"({"a":{"b":{"c":1}}})"));
    ASSERT_NE(tarn::orrery::findValue(root, {"a", "b"}), nullptr);
    EXPECT_EQ(tarn::orrery::findValue(root, {"a", "b", "c", "d"}), nullptr);
    // A path through a value that is not an object is refused and changes nothing.
    EXPECT_EQ(tarn::orrery::storeValue(root, {"a", "b", "c", "d"}, 2), PYX_ORRERY_E_WRONG_TYPE);
    EXPECT_EQ(root, Json::parse(R"({"a":{"b":{"c":1}}})"));
    EXPECT_EQ(tarn::orrery::eraseValue(root, {"a", "x"}), PYX_ORRERY_E_NOT_FOUND);
    EXPECT_EQ(tarn::orrery::eraseValue(root, {"a", "b", "c"}), PYX_ORRERY_OK);
    EXPECT_EQ(root, Json::parse(R"({"a":{"b":{}}})"));
}

TEST(OrreryDocument, ReadOnlyKeysGuardTheirWholeBranch) {
    tarn::orrery::Document document;
    document.constraints = {{"a.b", PYX_ORRERY_CONSTRAINT_READ_ONLY}, {"q", 4}};
    EXPECT_TRUE(tarn::orrery::touchesReadOnlyKey(document, "a.b"));
    EXPECT_TRUE(tarn::orrery::touchesReadOnlyKey(document, "a.b.c"));
    EXPECT_TRUE(tarn::orrery::touchesReadOnlyKey(document, "a"));  // would replace a.b
    EXPECT_FALSE(tarn::orrery::touchesReadOnlyKey(document, "a.bc"));
    EXPECT_FALSE(tarn::orrery::touchesReadOnlyKey(document, "q"));  // other bits only
    EXPECT_EQ(tarn::orrery::constraintsOf(document, "a.b.c"), 1u);
    EXPECT_EQ(tarn::orrery::constraintsOf(document, "a"), 0u);
    EXPECT_EQ(tarn::orrery::constraintsOf(document, "q.r"), 4u);
}

TEST(OrreryDocument, FileFormRoundTripsAndRefusesOtherTexts) {
    tarn::orrery::Document document;
    document.generation = 42;
    document.values = Json::parse(R"({"a":{"b":[1,"x",{"c":null}]},"s":"\u00e9"})");
    document.constraints = {{"a.b", 1}};
    const auto parsed = tarn::orrery::parseDocument(tarn::orrery::serialize(document));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->generation, 42u);
    EXPECT_EQ(parsed->values, document.values);
    EXPECT_EQ(parsed->constraints, document.constraints);
    for (const char* text :
         {"", "{", "[]", R"({"values":[]})", R"({"generation":-1,"values":{}})",
          R"({"values":{},"constraints":{"a":"x"}})", "{\"values\":{\"a\":\"\xff\"}}"}) {
        EXPECT_FALSE(tarn::orrery::parseDocument(text)) << text;
    }
}

TEST(OrreryText, StrictConversionsRefuseInvalidText) {
    EXPECT_EQ(tarn::orrery::fromUtf8Strict("caf\xc3\xa9").value(), L"caf\u00e9");
    EXPECT_FALSE(tarn::orrery::fromUtf8Strict("caf\xc3"));
    EXPECT_FALSE(tarn::orrery::fromUtf8Strict("\xed\xa0\x80"));  // an encoded surrogate
    const wchar_t lone[] = {static_cast<wchar_t>(0xDC00), L'\0'};
    EXPECT_FALSE(tarn::orrery::toUtf8Strict(lone));
    EXPECT_EQ(tarn::orrery::toUtf8Strict(L"\u6e2c").value(), "\xe6\xb8\xac");
}

}  // namespace
