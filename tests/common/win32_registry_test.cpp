// Win32Registry: every value type both ways, type checks, keys, views and error codes.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/WinHandles.h"
#include "common/registry/Win32Registry.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using tarn::Win32Registry;
using tarn::test::TestRegistryKey;

class Win32RegistryTest : public ::testing::Test {
protected:
    TestRegistryKey m_key{HKEY_CURRENT_USER, L"Software"};
    Win32Registry m_registry{HKEY_CURRENT_USER};
    const std::wstring& key() const { return m_key.path(); }
    // A value written directly, with any type and bytes.
    void setRaw(const wchar_t* name, DWORD type, const void* data, size_t size) {
        tarn::UniqueHKey opened;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key().c_str(), 0, KEY_SET_VALUE, opened.put()),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(opened.get(), name, 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
    }
};

TEST_F(Win32RegistryTest, EveryValueTypeRoundTrips) {
    ASSERT_TRUE(m_registry.writeString(key(), L"String", L"text"));
    ASSERT_TRUE(m_registry.writeDword(key(), L"Dword", 0xDEADBEEF));
    ASSERT_TRUE(m_registry.writeQword(key(), L"Qword", 0x1122334455667788ull));
    ASSERT_TRUE(m_registry.writeMultiString(key(), L"Multi", {L"a", L"", L"bc"}));
    ASSERT_TRUE(m_registry.writeBinary(key(), L"Binary", {0, 1, 2, 255}));

    std::wstring text;
    DWORD dword = 0;
    uint64_t qword = 0;
    std::vector<std::wstring> multi;
    std::vector<uint8_t> binary;
    EXPECT_TRUE(m_registry.readString(key(), L"String", text));
    EXPECT_EQ(text, L"text");
    EXPECT_TRUE(m_registry.readDword(key(), L"Dword", dword));
    EXPECT_EQ(dword, 0xDEADBEEF);
    EXPECT_TRUE(m_registry.readQword(key(), L"Qword", qword));
    EXPECT_EQ(qword, 0x1122334455667788ull);
    EXPECT_TRUE(m_registry.readMultiString(key(), L"Multi", multi));
    EXPECT_EQ(multi, (std::vector<std::wstring>{L"a", L"bc"})) << "empty strings are left out";
    EXPECT_TRUE(m_registry.readBinary(key(), L"Binary", binary));
    EXPECT_EQ(binary, (std::vector<uint8_t>{0, 1, 2, 255}));

    DWORD type = 0;
    std::vector<uint8_t> raw;
    EXPECT_TRUE(m_registry.readRaw(key(), L"Dword", type, raw));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw.size(), 4u);

    EXPECT_TRUE(m_registry.writeMultiString(key(), L"Empty", {}));
    EXPECT_TRUE(m_registry.readMultiString(key(), L"Empty", multi));
    EXPECT_TRUE(multi.empty());
}

TEST_F(Win32RegistryTest, ReadsCheckTheValueType) {
    ASSERT_TRUE(m_registry.writeString(key(), L"String", L"12"));
    ASSERT_TRUE(m_registry.writeDword(key(), L"Dword", 12));
    const DWORD none4 = 4;
    const uint64_t none8 = 8;
    setRaw(L"None4", REG_NONE, &none4, sizeof none4);
    setRaw(L"None8", REG_NONE, &none8, sizeof none8);
    setRaw(L"Short", REG_DWORD, &none4, 2);

    DWORD dword = 0;
    uint64_t qword = 0;
    std::wstring text;
    std::vector<uint8_t> binary;
    DWORD error = 0;
    EXPECT_FALSE(m_registry.readDword(key(), L"String", dword, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_UNSUPPORTED_TYPE));
    EXPECT_FALSE(m_registry.readString(key(), L"Dword", text, &error));
    EXPECT_FALSE(m_registry.readQword(key(), L"Dword", qword, &error));
    EXPECT_FALSE(m_registry.readBinary(key(), L"Dword", binary, &error));
    EXPECT_FALSE(m_registry.readDword(key(), L"Short", dword, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_TRUE(m_registry.readDword(key(), L"None4", dword, &error));
    EXPECT_EQ(dword, 4u);
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(m_registry.readQword(key(), L"None8", qword));
    EXPECT_EQ(qword, 8u);
}

TEST_F(Win32RegistryTest, StringsMayLackTheirZeroAndGrowPastTheFirstBuffer) {
    const std::wstring bare = L"no zero";
    setRaw(L"Bare", REG_EXPAND_SZ, bare.data(), bare.size() * sizeof(wchar_t));
    const std::wstring longText(1000, L'x');
    ASSERT_TRUE(m_registry.writeString(key(), L"Long", longText));

    std::wstring text;
    EXPECT_TRUE(m_registry.readString(key(), L"Bare", text));
    EXPECT_EQ(text, bare);
    EXPECT_TRUE(m_registry.readString(key(), L"Long", text));
    EXPECT_EQ(text, longText);
}

TEST_F(Win32RegistryTest, KeysAreCreatedListedAndDeleted) {
    EXPECT_TRUE(m_registry.createKey(key() + L"\\A\\Deep"));
    EXPECT_TRUE(m_registry.createKey(key() + L"\\B"));
    EXPECT_TRUE(m_registry.writeDword(key(), L"One", 1));
    EXPECT_TRUE(m_registry.writeDword(key(), L"Two", 2));

    std::vector<std::wstring> names;
    EXPECT_TRUE(m_registry.listSubkeys(key(), names));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"A", L"B"}));
    EXPECT_TRUE(m_registry.listValues(key(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"One", L"Two"}));

    EXPECT_TRUE(m_registry.valueExists(key(), L"One"));
    EXPECT_TRUE(m_registry.deleteValue(key(), L"One"));
    EXPECT_FALSE(m_registry.valueExists(key(), L"One"));

    DWORD error = 0;
    EXPECT_FALSE(m_registry.deleteKey(key() + L"\\A", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "a key with subkeys stays";
    EXPECT_TRUE(m_registry.deleteKeyTree(key() + L"\\A"));
    EXPECT_FALSE(m_registry.keyExists(key() + L"\\A", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(m_registry.deleteKey(key() + L"\\B"));
    EXPECT_TRUE(m_registry.listSubkeys(key(), names));
    EXPECT_TRUE(names.empty());
}

TEST_F(Win32RegistryTest, MissingThingsReportTheirErrorCode) {
    std::wstring text;
    DWORD error = 0;
    EXPECT_FALSE(m_registry.readString(key() + L"\\Nope", L"x", text, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(m_registry.readString(key(), L"Nope", text, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(m_registry.deleteValue(key(), L"Nope", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Win32RegistryTest, NarrowNamesReachTheSameValues) {
    const std::string narrowKey(key().begin(), key().end());  // the names are ASCII
    ASSERT_TRUE(m_registry.writeDword(narrowKey, "Narrow", 9));
    DWORD value = 0;
    EXPECT_TRUE(m_registry.readDword(key(), L"Narrow", value));
    EXPECT_EQ(value, 9u);
    EXPECT_TRUE(m_registry.valueExists(narrowKey, "Narrow"));
    EXPECT_TRUE(m_registry.deleteValue(narrowKey, "Narrow"));
    EXPECT_FALSE(m_registry.valueExists(key(), L"Narrow"));
}

TEST(Win32RegistryViews, EachViewWritesAndDeletesItsOwnKey) {
    TestRegistryKey wow(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_WOW64_32KEY);
    const std::wstring path = wow.path();
    const Win32Registry view32(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    Win32Registry view64(HKEY_LOCAL_MACHINE);
    view64.setAccessFlags(KEY_WOW64_64KEY);

    ASSERT_TRUE(view32.writeString(path, L"View", L"32"));
    EXPECT_FALSE(view64.keyExists(path));
    std::wstring text;
    EXPECT_TRUE(view64.readString(L"SOFTWARE\\WOW6432Node\\" + wow.name(), L"View", text));
    EXPECT_EQ(text, L"32");

    ASSERT_TRUE(view64.createKey(path));
    ASSERT_TRUE(view64.deleteKey(path));
    EXPECT_TRUE(view32.keyExists(path)) << "deleting the 64-bit key leaves the 32-bit one";
}

}  // namespace
