// The store client against the real library: conversions, defaults, and its log lines.
#include <gtest/gtest.h>

#include "settings_store/Orrery.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using tarn::test::LogCapture;
using tarn::test::StoreRoot;
using Strings = std::vector<std::wstring>;

class OrreryClient : public ::testing::Test {
protected:
    StoreRoot m_root;
    tarn::UniqueOrreryHandle m_handle = m_root.open();
    PyxOrreryHandle h() const { return m_handle.get(); }

    tarn::UniqueOrreryObject object(const wchar_t* key) const {
        return tarn::UniqueOrreryObject(PyxOrrery_GetObject(h(), key, nullptr));
    }
    bool hasLine(const LogCapture& log, int level, const std::string& tag,
                 const std::string& message) const {
        for (const auto& line : log.lines()) {
            if (line.level == level && line.tag == tag && line.message == message) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(OrreryClient, GetBoolGivesTheDefaultForAMissingKey) {
    int err = -1;
    EXPECT_TRUE(Orrery::getBool(h(), L"missing", true, &err));
    EXPECT_EQ(err, PYX_ORRERY_E_NOT_FOUND);
    EXPECT_FALSE(Orrery::getBool(h(), L"missing", false, &err));
    ASSERT_TRUE(Orrery::setBool(h(), L"present", true));
    EXPECT_TRUE(Orrery::getBool(h(), L"present", false, &err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(Orrery::getBool(nullptr, L"present", false, &err));
    EXPECT_EQ(err, PYX_ORRERY_E_INVALID_HANDLE);
}

TEST_F(OrreryClient, StringsIntegersAndConstraints) {
    Orrery::setString(h(), L"s", L"\u00e9t\u00e9");
    EXPECT_EQ(Orrery::getString(h(), L"s"), L"\u00e9t\u00e9");
    EXPECT_EQ(Orrery::getString(h(), L"missing"), L"");
    Orrery::setInt32(h(), L"port", -1);
    EXPECT_EQ(Orrery::getInt32(h(), L"port", 5), -1);
    EXPECT_EQ(Orrery::getInt64(h(), L"missing", 7), 7);
    EXPECT_FALSE(Orrery::isKeyConstrained(h(), L"s"));
    ASSERT_EQ(PyxOrrery_SetConstraints(h(), L"s", PYX_ORRERY_CONSTRAINT_READ_ONLY), 0);
    EXPECT_TRUE(Orrery::isKeyConstrained(h(), L"s"));
    EXPECT_FALSE(Orrery::isKeyConstrained(h(), L"bad..key"));
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h(), L"o", R"({"name":"x"})"), 0);
    EXPECT_EQ(Orrery::getObjectString(object(L"o").get(), L"name"), L"x");
}

TEST_F(OrreryClient, ObjectReadsConvertOrFallBackWithTheirLogLines) {
    Orrery::setStringArray(h(), L"list", {L"a", L"\u00fcber \u6e2c"});
    ASSERT_EQ(PyxOrrery_SetString(h(), L"text", L"not an array"), 0);
    const Strings fallback{L"default"};
    const struct {
        const wchar_t* key;
        Strings expected;
        int err;
        const char* line;
    } cases[] = {
        {L"list", {L"a", L"\u00fcber \u6e2c"}, 0, nullptr},
        {L"missing", fallback, PYX_ORRERY_E_NOT_FOUND, "Failed to read 'missing'. Error:Not found"},
        {L"text", fallback, 1, "Failed to parse 'text'. Error : "},
    };
    for (const auto& c : cases) {
        LogCapture log;
        int err = -1;
        EXPECT_EQ(Orrery::getObjectFromOrrery<Strings>(h(), c.key, fallback, &err), c.expected);
        EXPECT_EQ(err, c.err);
        if (c.line == nullptr) {
            EXPECT_TRUE(log.lines().empty()) << log.dump();
            continue;
        }
        ASSERT_EQ(log.lines().size(), 1u) << log.dump();
        const auto line = log.lines()[0];
        EXPECT_EQ(line.level, 3);
        EXPECT_EQ(line.message.rfind(c.line, 0), 0u) << line.message;
        EXPECT_EQ(line.tag,
                  c.err == 1 ? "Orrery::getOrreryObjectAsObject" : "Orrery::getObjectFromOrrery");
    }
}

TEST_F(OrreryClient, SubObjectsAreReadByMember) {
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h(), L"rule",
                                                R"({"interfaces":["eth0","wlan"],"name":7})"),
              0);
    const auto rule = object(L"rule");
    const Strings fallback{L"none"};
    {
        LogCapture log;
        int err = -1;
        EXPECT_EQ(
            Orrery::getSubObjFromOrreryObject<Strings>(rule.get(), L"interfaces", fallback, &err),
            (Strings{L"eth0", L"wlan"}));
        EXPECT_EQ(err, 0);
        EXPECT_EQ(Orrery::getSubObjFromOrreryObject<Strings>(rule.get(), L"absent", fallback),
                  fallback);
        EXPECT_TRUE(log.lines().empty()) << log.dump();
    }
    LogCapture log;
    EXPECT_EQ(Orrery::getSubObjFromOrreryObject<std::wstring>(rule.get(), L"name", L"dflt"),
              L"dflt");
    ASSERT_EQ(log.lines().size(), 1u) << log.dump();
    EXPECT_EQ(log.lines()[0].tag, "Orrery::getSubObjFromOrreryObject");
    EXPECT_EQ(log.lines()[0].message.rfind("Getting failed ': name ' Error: ", 0), 0u);
    EXPECT_NE(log.lines()[0].message.find("type must be string, but is number"), std::string::npos);
}

TEST_F(OrreryClient, WritesLogBeforeWritingAndLogTheirFailures) {
    ASSERT_EQ(PyxOrrery_SetConstraints(h(), L"ro", PYX_ORRERY_CONSTRAINT_READ_ONLY), 0);
    LogCapture log;
    EXPECT_TRUE(Orrery::setBool(h(), L"b", true));
    EXPECT_FALSE(Orrery::setBool(h(), L"ro", false));
    Orrery::setString(h(), L"s", L"v");
    Orrery::setString(h(), L"ro", L"v");
    Orrery::setStringArray(h(), L"ro", {});
    Orrery::deleteValue(h(), L"s");
    Orrery::deleteValue(h(), L"s");
    const struct {
        int level;
        const char* tag;
        const char* message;
    } expected[] = {
        {5, "Orrery::setBool", "b->true"},
        {5, "Orrery::setBool", "ro->false"},
        {3, "Orrery::setBool", "Failed to write ro:Key is read-only"},
        {5, "Orrery::setString", "s -> v"},
        {5, "Orrery::setString", "ro -> v"},
        {3, "Orrery::setString", "Failed to write ro: Key is read-only"},
        {2, "Orrery::setStringArray", "Failed to write: ro, error: Key is read-only"},
        {5, "Orrery::deleteValue", "Delete: s"},
        {5, "Orrery::deleteValue", "Delete: s"},
        {3, "Orrery::deleteValue", "Failed to delete s: Not found"},
    };
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), std::size(expected)) << log.dump();
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].level, expected[i].level) << i;
        EXPECT_EQ(lines[i].tag, expected[i].tag) << i;
        EXPECT_EQ(lines[i].message, expected[i].message) << i;
    }
}

TEST_F(OrreryClient, StringArraysAreCompactJsonAndKeepNonAsciiText) {
    Orrery::setStringArray(h(), L"empty", {});
    Orrery::setStringArray(h(), L"names", {L"Caf\u00e9 rule", L"\u6e2c\u8a66", L""});
    const tarn::UniqueOrreryString empty(PyxOrrery_ObjectToStringUtf8(object(L"empty").get()));
    EXPECT_STREQ(static_cast<const char*>(empty.get()), "[]");
    const tarn::UniqueOrreryString names(PyxOrrery_ObjectToStringUtf8(object(L"names").get()));
    EXPECT_STREQ(static_cast<const char*>(names.get()),
                 "[\"Caf\xc3\xa9 rule\",\"\xe6\xb8\xac\xe8\xa9\xa6\",\"\"]");
    EXPECT_EQ(Orrery::getObjectFromOrrery<Strings>(h(), L"names", {}),
              (Strings{L"Caf\u00e9 rule", L"\u6e2c\u8a66", L""}));
}

}  // namespace
