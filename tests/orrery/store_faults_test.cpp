// What the store refuses so that it never crashes or loses a value: values nested too deep,
// member names that cannot be keys, members given twice; and how a write lives with readers
// that have the document open.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/win.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

using tarn::test::StoreRoot;

std::string nestedArrays(size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

std::string exported(PyxOrreryHandle handle) {
    int err = -1;
    const tarn::UniqueOrreryString text(PyxOrrery_ExportUtf8(handle, &err));
    return static_cast<const char*>(text.get());
}

TEST(OrreryFaults, ValuesNestedDeeperThanTheLimitAreRefused) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetBool(h, L"keep", 1), PYX_ORRERY_OK);
    const std::string before = exported(h);
    // The tree's root is one level, each key segment one more: "a" and 99 levels fit.
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"a", nestedArrays(99).c_str()), PYX_ORRERY_OK);
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"a", nestedArrays(100).c_str()),
              PYX_ORRERY_E_TOO_DEEP);
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"b.c", nestedArrays(99).c_str()),
              PYX_ORRERY_E_TOO_DEEP);
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"a", nestedArrays(20000).c_str()),
              PYX_ORRERY_E_TOO_DEEP);
    std::wstring longKey = L"k";
    for (int i = 0; i < 100; ++i) {
        longKey += L".k";
    }
    EXPECT_EQ(PyxOrrery_SetBool(h, longKey.c_str(), 1), PYX_ORRERY_E_TOO_DEEP);
    const std::string deepDocument = "{\"x\":" + nestedArrays(20000) + "}";
    EXPECT_EQ(PyxOrrery_ImportUtf8(h, deepDocument.c_str()), PYX_ORRERY_E_TOO_DEEP);
    EXPECT_EQ(PyxOrrery_GetBool(h, L"keep", 0, nullptr), 1);
    EXPECT_NE(exported(h), before);  // only the value that fits was stored
}

TEST(OrreryFaults, MemberNamesThatCannotBeKeysAreRefusedOnEveryWritePath) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetBool(h, L"windows.firewall.enabled", 1), PYX_ORRERY_OK);
    const std::string before = exported(h);
    for (const char* value : {R"({"firewall.enabled":false})", R"({"":false})",
                              R"({"firewall":{"tab\tname":1}})", R"([{"a.b":1}])"}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"windows", value),
                  PYX_ORRERY_E_INVALID_KEY);
        const std::string document = std::string(R"({"windows":)") + value + "}";
        EXPECT_EQ(PyxOrrery_ImportUtf8(h, document.c_str()), PYX_ORRERY_E_INVALID_KEY);
    }
    EXPECT_EQ(exported(h), before);
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"windows", R"({"fire-wall_1 x":{"on":1}})"),
              PYX_ORRERY_OK);
}

TEST(OrreryFaults, AMemberGivenTwiceIsRefused) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"w", R"({"enabled":true,"enabled":false})"),
              PYX_ORRERY_E_DUPLICATE_MEMBER);
    EXPECT_EQ(PyxOrrery_ImportUtf8(h, R"({"w":{"a":1},"w":{"b":2}})"),
              PYX_ORRERY_E_DUPLICATE_MEMBER);
    EXPECT_EQ(exported(h), "{}");
    // The same name in different objects is no duplicate.
    EXPECT_EQ(PyxOrrery_ImportUtf8(h, R"({"w":{"a":1},"x":{"a":1}})"), PYX_ORRERY_OK);
}

// A reader of another process that has the document open: Windows does not replace it then.
tarn::UniqueHandle openLikeAReader(const std::wstring& document) {
    return tarn::UniqueHandle(CreateFileW(document.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(OrreryFaults, AWriteWaitsForAReaderThatHoldsTheDocumentBriefly) {
    StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), L"k", 1), PYX_ORRERY_OK);
    tarn::UniqueHandle reader = openLikeAReader(root.documentPath(L"test"));
    ASSERT_TRUE(reader);
    std::thread release([&] {
        Sleep(100);
        reader.reset();
    });
    EXPECT_EQ(PyxOrrery_SetInt32(handle.get(), L"k", 2), PYX_ORRERY_OK);
    release.join();
    EXPECT_NE(tarn::test::readFile(root.documentPath(L"test")).find("\"k\":2"), std::string::npos);
}

TEST(OrreryFaults, AWriteFailsCleanlyWhileTheDocumentStaysHeld) {
    StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), L"k", 1), PYX_ORRERY_OK);
    const std::wstring document = root.documentPath(L"test");
    const std::string before = tarn::test::readFile(document);
    {
        const tarn::UniqueHandle reader = openLikeAReader(document);
        ASSERT_TRUE(reader);
        EXPECT_EQ(PyxOrrery_SetInt32(handle.get(), L"k", 2), PYX_ORRERY_E_IO);
        EXPECT_EQ(tarn::test::readFile(document), before);
        EXPECT_FALSE(tarn::test::fileExists(document + L".new"));
    }
    EXPECT_EQ(PyxOrrery_GetInt32(handle.get(), L"k", 0, nullptr), 1);
    EXPECT_EQ(PyxOrrery_SetInt32(handle.get(), L"k", 2), PYX_ORRERY_OK);
}

}  // namespace
