// The store library through its exported functions, against real files.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/registry/Win32Registry.h"
#include "platform/win.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

using tarn::UniqueOrreryHandle;
using tarn::UniqueOrreryObject;
using tarn::UniqueOrreryString;
using tarn::test::ChangeCollector;
using tarn::test::StoreRoot;

std::string objectText(PyxOrreryObject object) {
    const UniqueOrreryString text(PyxOrrery_ObjectToStringUtf8(object));
    return text ? static_cast<const char*>(text.get()) : "";
}

std::string valueText(PyxOrreryHandle handle, const wchar_t* key) {
    int err = -1;
    const UniqueOrreryObject object(PyxOrrery_GetObject(handle, key, &err));
    return err == PYX_ORRERY_OK ? objectText(object.get()) : "<" + std::to_string(err) + ">";
}

std::wstring takeString(wchar_t* text) {
    const UniqueOrreryString owned(text);
    return text == nullptr ? L"<null>" : text;
}

TEST(OrreryLibrary, TypedValuesRoundTrip) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetBool(h, L"t.bool", 1), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetInt32(h, L"t.int32", -7), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetInt64(h, L"t.int64", 1LL << 40), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetString(h, L"t.text", L"caf\u00e9 \u6e2c"), PYX_ORRERY_OK);
    int err = -1;
    EXPECT_EQ(PyxOrrery_GetBool(h, L"t.bool", 0, &err), 1);
    EXPECT_EQ(err, PYX_ORRERY_OK);
    EXPECT_EQ(PyxOrrery_GetInt32(h, L"t.int32", 0, &err), -7);
    EXPECT_EQ(PyxOrrery_GetInt64(h, L"t.int64", 0, &err), 1LL << 40);
    EXPECT_EQ(PyxOrrery_GetInt64(h, L"t.int32", 0, &err), -7);
    EXPECT_EQ(takeString(PyxOrrery_GetString(h, L"t.text", L"", &err)), L"caf\u00e9 \u6e2c");
    EXPECT_EQ(valueText(h, L"t"),
              R"({"bool":true,"int32":-7,"int64":1099511627776,"text":"café 測"})");
}

TEST(OrreryLibrary, MissingOrMistypedValuesGiveTheDefaultAndACode) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"v", R"({"s":"x","n":5000000000,"b":true})"),
              PYX_ORRERY_OK);
    const struct {
        const wchar_t* key;
        int expected;
    } boolCases[] = {{L"v.none", PYX_ORRERY_E_NOT_FOUND},
                     {L"v.s", PYX_ORRERY_E_WRONG_TYPE},
                     {L"v.s.deeper", PYX_ORRERY_E_NOT_FOUND},
                     {L"v..s", PYX_ORRERY_E_INVALID_KEY}};
    for (const auto& c : boolCases) {
        int err = -1;
        EXPECT_EQ(PyxOrrery_GetBool(h, c.key, 7, &err), 7) << c.key;
        EXPECT_EQ(err, c.expected) << c.key;
    }
    int err = -1;
    EXPECT_EQ(PyxOrrery_GetInt32(h, L"v.n", 3, &err), 3);
    EXPECT_EQ(err, PYX_ORRERY_E_OUT_OF_RANGE);
    EXPECT_EQ(PyxOrrery_GetInt64(h, L"v.b", 3, &err), 3);
    EXPECT_EQ(err, PYX_ORRERY_E_WRONG_TYPE);
    EXPECT_EQ(takeString(PyxOrrery_GetString(h, L"v.none", L"dflt", &err)), L"dflt");
    EXPECT_EQ(err, PYX_ORRERY_E_NOT_FOUND);
    EXPECT_EQ(takeString(PyxOrrery_GetString(h, L"v.none", nullptr, &err)), L"<null>");
    EXPECT_EQ(PyxOrrery_GetBool(nullptr, L"v.b", 0, &err), 0);
    EXPECT_EQ(err, PYX_ORRERY_E_INVALID_HANDLE);
}

TEST(OrreryLibrary, BadInputIsRefusedAndLeavesTheFileUnchanged) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"keep", R"({"a":1})"), PYX_ORRERY_OK);
    const std::string before = tarn::test::readFile(root.documentPath(L"test"));
    const std::wstring tooLong(1025, L'k');
    const wchar_t loneSurrogate[] = {L'x', static_cast<wchar_t>(0xDFFF), L'\0'};
    const struct {
        const char* what;
        int code;
        int expected;
    } cases[] = {
        {"invalid JSON", PyxOrrery_SetObjectFromStringUtf8(h, L"keep", "{\"a\":"),
         PYX_ORRERY_E_INVALID_JSON},
        {"non-UTF-8 bytes", PyxOrrery_SetObjectFromStringUtf8(h, L"keep", "\"\xc0\xaf\""),
         PYX_ORRERY_E_INVALID_TEXT},
        {"over-long key", PyxOrrery_SetBool(h, tooLong.c_str(), 1), PYX_ORRERY_E_INVALID_KEY},
        {"empty segment", PyxOrrery_SetBool(h, L"keep..a", 1), PYX_ORRERY_E_INVALID_KEY},
        {"invalid UTF-16 value", PyxOrrery_SetString(h, L"keep.s", loneSurrogate),
         PYX_ORRERY_E_INVALID_TEXT},
        {"invalid UTF-16 key", PyxOrrery_SetBool(h, loneSurrogate, 1), PYX_ORRERY_E_INVALID_TEXT},
        {"through a value", PyxOrrery_SetBool(h, L"keep.a.b", 1), PYX_ORRERY_E_WRONG_TYPE},
        {"null text", PyxOrrery_SetString(h, L"keep.s", nullptr), PYX_ORRERY_E_INVALID_ARGUMENT},
        {"import of an array", PyxOrrery_ImportUtf8(h, "[1]"), PYX_ORRERY_E_WRONG_TYPE},
        {"delete of nothing", PyxOrrery_DeleteValue(h, L"keep.none"), PYX_ORRERY_E_NOT_FOUND},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, c.expected) << c.what;
    }
    EXPECT_EQ(tarn::test::readFile(root.documentPath(L"test")), before);
    EXPECT_EQ(valueText(h, L"keep"), R"({"a":1})");
}

TEST(OrreryLibrary, WritesAreOnDiskWhenTheCallReturns) {
    StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetString(handle.get(), L"a.b", L"v1"), PYX_ORRERY_OK);
    const auto first = nlohmann::json::parse(tarn::test::readFile(root.documentPath(L"test")));
    EXPECT_EQ(first["values"], nlohmann::json::parse(R"({"a":{"b":"v1"}})"));
    ASSERT_EQ(PyxOrrery_DeleteValue(handle.get(), L"a.b"), PYX_ORRERY_OK);
    const auto second = nlohmann::json::parse(tarn::test::readFile(root.documentPath(L"test")));
    EXPECT_EQ(second["values"], nlohmann::json::parse(R"({"a":{}})"));
    EXPECT_GT(second["generation"].get<uint64_t>(), first["generation"].get<uint64_t>());
    EXPECT_FALSE(tarn::test::fileExists(root.documentPath(L"test") + L".new"));
}

TEST(OrreryLibrary, TheFileFollowsEveryKindOfWriteAndAnUnchangedValueWritesNothing) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    const std::wstring document = root.documentPath(L"test");
    ASSERT_EQ(PyxOrrery_ImportUtf8(h, R"({"big":{"r":[1,2,3]},"status":{"on":false}})"),
              PYX_ORRERY_OK);
    const struct {
        const char* what;
        std::function<int()> write;
        bool changes;
    } steps[] = {
        {"set below a member", [&] { return PyxOrrery_SetBool(h, L"status.on", 1); }, true},
        {"the same again", [&] { return PyxOrrery_SetBool(h, L"status.on", 1); }, false},
        {"set of another member", [&] { return PyxOrrery_SetInt32(h, L"big.n", 4); }, true},
        {"a new member", [&] { return PyxOrrery_SetString(h, L"new.s", L"x"); }, true},
        {"a member to escape", [&] { return PyxOrrery_SetBool(h, L"q\"t\u00e9\\.a", 1); }, true},
        {"delete below a member", [&] { return PyxOrrery_DeleteValue(h, L"big.r"); }, true},
        {"delete of a member", [&] { return PyxOrrery_DeleteValue(h, L"new"); }, true},
        {"constraints", [&] { return PyxOrrery_SetConstraints(h, L"big", 4); }, true},
        {"set after them", [&] { return PyxOrrery_SetBool(h, L"status.on", 0); }, true},
        {"import", [&] { return PyxOrrery_ImportUtf8(h, R"({"status":{"on":true}})"); }, true},
        {"the same import", [&] { return PyxOrrery_ImportUtf8(h, R"({"status":{"on":true}})"); },
         false},
    };
    for (const auto& step : steps) {
        const std::string before = tarn::test::readFile(document);
        ASSERT_EQ(step.write(), PYX_ORRERY_OK) << step.what;
        const std::string after = tarn::test::readFile(document);
        EXPECT_EQ(after != before, step.changes) << step.what;
        const UniqueOrreryString exported(PyxOrrery_ExportUtf8(h, nullptr));
        EXPECT_EQ(nlohmann::json::parse(after)["values"],
                  nlohmann::json::parse(static_cast<const char*>(exported.get())))
            << step.what;
    }
}

TEST(OrreryLibrary, ReadOnlyKeysRefuseWritesAtAboveAndBelowThem) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetString(h, L"w.current", L"office"), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetConstraints(h, L"w.current", PYX_ORRERY_CONSTRAINT_READ_ONLY),
              PYX_ORRERY_OK);
    int err = -1;
    EXPECT_EQ(PyxOrrery_GetConstraints(h, L"w.current.x", &err), 1u);
    EXPECT_EQ(err, PYX_ORRERY_OK);
    EXPECT_EQ(PyxOrrery_GetConstraints(h, L"w", &err), 0u);
    EXPECT_EQ(PyxOrrery_SetString(h, L"w.current", L"home"), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_DeleteValue(h, L"w.current"), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"w", "{}"), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_SetBool(h, L"w.other", 1), PYX_ORRERY_OK);
    EXPECT_EQ(takeString(PyxOrrery_GetString(h, L"w.current", L"", &err)), L"office");
    // Only the management side lifts the constraint, and only it imports over the key.
    EXPECT_EQ(PyxOrrery_SetConstraints(h, L"w.current", 0), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_SetConstraints(h, L"w", PYX_ORRERY_CONSTRAINT_READ_ONLY),
              PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_ImportUtf8(h, R"({"w":{"current":"home"}})"), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_ImportUtf8(h, R"({"x":1})"), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_ImportUtf8(h, R"({"w":{"current":"office"},"x":1})"), PYX_ORRERY_OK);
    EXPECT_EQ(takeString(PyxOrrery_GetString(h, L"w.current", L"", &err)), L"office");
    const UniqueOrreryHandle management(
        PyxOrrery_OpenHandleEx(L"test", L"S-1-5-18", L"t", 0, PYX_ORRERY_OPEN_MANAGEMENT));
    ASSERT_TRUE(management);
    ASSERT_EQ(PyxOrrery_SetConstraints(management.get(), L"w.current", 0), PYX_ORRERY_OK);
    EXPECT_EQ(PyxOrrery_SetString(h, L"w.current", L"home"), PYX_ORRERY_OK);
}

TEST(OrreryLibrary, ReadOnlyHandlesOnlyRead) {
    StoreRoot root;
    const auto writer = root.open();
    ASSERT_EQ(PyxOrrery_SetBool(writer.get(), L"a", 1), PYX_ORRERY_OK);
    const UniqueOrreryHandle reader(
        PyxOrrery_OpenHandleEx(L"test", L"S-1-5-18", L"connect", 0, PYX_ORRERY_OPEN_READ_ONLY));
    ASSERT_TRUE(reader);
    EXPECT_EQ(PyxOrrery_GetBool(reader.get(), L"a", 0, nullptr), 1);
    EXPECT_EQ(PyxOrrery_SetBool(reader.get(), L"a", 0), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_OpenHandleEx(L"test", L"S-1-5-18", L"connect", 1, 0), nullptr);
    int err = -1;
    EXPECT_EQ(PyxOrrery_OpenHandle(L"bad\\name", L"S-1-5-18", L"c", &err), nullptr);
    EXPECT_EQ(err, PYX_ORRERY_E_INVALID_ARGUMENT);
}

TEST(OrreryLibrary, ObjectsAreSnapshotsOfValuesAndArrays) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(
                  h, L"profiles", R"([{"name":"a","rules":{"n":1}},{"name":"b","on":true}])"),
              PYX_ORRERY_OK);
    int err = -1;
    const UniqueOrreryObject array(PyxOrrery_GetObject(h, L"profiles", &err));
    ASSERT_TRUE(array);
    EXPECT_EQ(PyxOrrery_ObjectIsArray(array.get()), 1);
    EXPECT_EQ(PyxOrrery_ArrayGetSize(array.get()), 2);
    const UniqueOrreryObject second(PyxOrrery_ArrayGetItem(array.get(), 1, &err));
    ASSERT_TRUE(second);
    EXPECT_EQ(PyxOrrery_ObjectIsArray(second.get()), 0);
    EXPECT_EQ(takeString(PyxOrrery_ObjectGetString(second.get(), L"name", L"", &err)), L"b");
    EXPECT_EQ(PyxOrrery_ObjectGetBool(second.get(), L"on", 0, &err), 1);
    EXPECT_EQ(PyxOrrery_ArrayGetItem(array.get(), 2, &err), nullptr);
    EXPECT_EQ(err, PYX_ORRERY_E_OUT_OF_RANGE);
    const UniqueOrreryObject first(PyxOrrery_ArrayGetItem(array.get(), 0, &err));
    const UniqueOrreryObject rules(PyxOrrery_ObjectGetObject(first.get(), L"rules", &err));
    EXPECT_EQ(PyxOrrery_ObjectGetInt64(rules.get(), L"n", 0, &err), 1);
    // Later writes do not change objects already handed out.
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"profiles", "[]"), PYX_ORRERY_OK);
    EXPECT_EQ(objectText(second.get()), R"({"name":"b","on":true})");
    EXPECT_EQ(PyxOrrery_ObjectGetString(nullptr, L"x", nullptr, &err), nullptr);
    EXPECT_EQ(err, PYX_ORRERY_E_INVALID_HANDLE);
}

TEST(OrreryLibrary, ImportAndExportTheWholeDocument) {
    StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetBool(handle.get(), L"old", 1), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_ImportUtf8(handle.get(), R"({"a":{"b":[1,2]},"c":"d"})"), PYX_ORRERY_OK);
    int err = -1;
    const UniqueOrreryString text(PyxOrrery_ExportUtf8(handle.get(), &err));
    ASSERT_TRUE(text);
    EXPECT_EQ(std::string(static_cast<const char*>(text.get())), R"({"a":{"b":[1,2]},"c":"d"})");
}

TEST(OrreryLibrary, ADamagedStoreIsMovedAsideAndStartsEmpty) {
    StoreRoot root;
    {
        const auto handle = root.open(L"damaged");
        ASSERT_EQ(PyxOrrery_SetBool(handle.get(), L"a", 1), PYX_ORRERY_OK);
    }
    // Another namespace's file is left alone; this one is overwritten with garbage.
    const std::wstring path = root.documentPath(L"damaged");
    {
        tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "{\"values\":{\"a\":tr", 17, &written, nullptr));
    }
    int err = -1;
    const UniqueOrreryHandle handle(PyxOrrery_OpenHandle(L"damaged", L"S-1-5-18", L"t", &err));
    ASSERT_TRUE(handle);
    EXPECT_EQ(err, PYX_ORRERY_E_STORE_RESET);
    EXPECT_EQ(PyxOrrery_GetBool(handle.get(), L"a", 0, &err), 0);
    EXPECT_EQ(err, PYX_ORRERY_E_NOT_FOUND);
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW((path + L".damaged-*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_EQ(tarn::test::readFile(root.path() + L"\\" + found.cFileName), "{\"values\":{\"a\":tr");
    EXPECT_EQ(PyxOrrery_SetBool(handle.get(), L"a", 1), PYX_ORRERY_OK);
}

TEST(OrreryLibrary, ErrorTextsExistForEveryCode) {
    for (int code = PYX_ORRERY_OK; code <= PYX_ORRERY_E_DUPLICATE_MEMBER; ++code) {
        EXPECT_STRNE(PyxOrrery_ErrorAsString(code), PyxOrrery_ErrorAsString(-1)) << code;
    }
    EXPECT_EQ(std::wstring(PyxOrrery_ErrorAsString(PYX_ORRERY_E_NOT_FOUND)), L"Not found");
}

// --- Change callbacks -----------------------------------------------------------------

TEST(OrreryCallbacks, ReportChangedKeysBelowTheSubscribedKeyByFullName) {
    StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"w.iso", R"({"enabled":false,"rules":[1]})"),
              PYX_ORRERY_OK);
    ChangeCollector changes;
    ASSERT_EQ(PyxOrrery_Subscribe(h, L"w.iso", &ChangeCollector::callback, &changes),
              PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetBool(h, L"w.iso.enabled", 0), PYX_ORRERY_OK);  // unchanged
    ASSERT_EQ(PyxOrrery_SetBool(h, L"w.other", 1), PYX_ORRERY_OK);        // not subscribed
    ASSERT_EQ(PyxOrrery_SetBool(h, L"w.iso.enabled", 1), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(h, L"w.iso", R"({"enabled":true,"rules":[2]})"),
              PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_DeleteValue(h, L"w.iso.rules"), PYX_ORRERY_OK);
    ASSERT_TRUE(changes.waitFor(3));
    EXPECT_EQ(changes.keys(),
              (std::vector<std::wstring>{L"w.iso.enabled", L"w.iso.rules", L"w.iso.rules"}));
    EXPECT_FALSE(changes.waitFor(4, std::chrono::milliseconds(300)));
}

struct ReentrantContext {
    PyxOrreryHandle handle = nullptr;
    ChangeCollector seen;
    std::atomic<int> reads{0};
};

void WINAPI reenter(const wchar_t* key, const void* a, const void* b, void* context) {
    auto* self = static_cast<ReentrantContext*>(context);
    // Calls back into the library from its own callback: it must not deadlock.
    self->reads += PyxOrrery_GetBool(self->handle, L"r.first", 0, nullptr);
    if (std::wstring(key) == L"r.first") {
        PyxOrrery_SetBool(self->handle, L"r.second", 1);
    }
    ChangeCollector::callback(key, a, b, &self->seen);
}

TEST(OrreryCallbacks, ACallbackMayReadAndWriteTheStore) {
    StoreRoot root;
    const auto handle = root.open();
    ReentrantContext context;
    context.handle = handle.get();
    ASSERT_EQ(PyxOrrery_Subscribe(handle.get(), L"r", &reenter, &context), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetBool(handle.get(), L"r.first", 1), PYX_ORRERY_OK);
    ASSERT_TRUE(context.seen.waitFor(2));
    EXPECT_EQ(context.seen.keys(), (std::vector<std::wstring>{L"r.first", L"r.second"}));
    EXPECT_EQ(context.reads.load(), 2);
}

struct BlockingContext {
    tarn::UniqueHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    tarn::UniqueHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> finished{false};
};

void WINAPI block(const wchar_t*, const void*, const void*, void* context) {
    auto* self = static_cast<BlockingContext*>(context);
    SetEvent(self->entered.get());
    WaitForSingleObject(self->release.get(), 10000);
    self->finished = true;
}

TEST(OrreryCallbacks, CloseHandleWaitsForTheHandlesRunningCallback) {
    StoreRoot root;
    UniqueOrreryHandle handle = root.open();
    BlockingContext context;
    ASSERT_EQ(PyxOrrery_Subscribe(handle.get(), L"b", &block, &context), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetBool(handle.get(), L"b", 1), PYX_ORRERY_OK);
    ASSERT_EQ(WaitForSingleObject(context.entered.get(), 5000), WAIT_OBJECT_0);
    tarn::UniqueHandle closed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread closer([&] {
        handle.reset();
        SetEvent(closed.get());
    });
    // While the callback runs, the close does not return.
    EXPECT_EQ(WaitForSingleObject(closed.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(context.release.get());
    EXPECT_EQ(WaitForSingleObject(closed.get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(context.finished.load());
    closer.join();
}

struct SelfClosingContext {
    PyxOrreryHandle handle = nullptr;
    ChangeCollector seen;
};

void WINAPI closeSelf(const wchar_t* key, const void* a, const void* b, void* context) {
    auto* self = static_cast<SelfClosingContext*>(context);
    PyxOrrery_CloseHandle(self->handle);  // from inside its own callback: must not wait
    ChangeCollector::callback(key, a, b, &self->seen);
}

TEST(OrreryCallbacks, AHandleMayBeClosedFromItsOwnCallback) {
    StoreRoot root;
    const auto writer = root.open();
    SelfClosingContext context;
    context.handle = root.open().release();
    ASSERT_EQ(PyxOrrery_Subscribe(context.handle, L"c", &closeSelf, &context), PYX_ORRERY_OK);
    ASSERT_EQ(PyxOrrery_SetBool(writer.get(), L"c.one", 1), PYX_ORRERY_OK);
    ASSERT_TRUE(context.seen.waitFor(1));
    ASSERT_EQ(PyxOrrery_SetBool(writer.get(), L"c.two", 1), PYX_ORRERY_OK);
    EXPECT_FALSE(context.seen.waitFor(2, std::chrono::milliseconds(300)));
    EXPECT_EQ(PyxOrrery_GetBool(context.handle, L"c.one", 0, nullptr), 0);  // closed
}

}  // namespace

namespace {

TEST(OrreryLibrary, StoreFolderComesFromTheRegistryWithoutTheEnvironmentVariable) {
    const tarn::test::TempDir folder;
    const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    const std::wstring key = L"SOFTWARE\\Tarn\\PYX\\Orrery";
    ASSERT_TRUE(registry.createKey(key));
    ASSERT_TRUE(registry.writeString(key, L"DataPath", folder.path()));
    SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", nullptr);

    int err = -1;
    const UniqueOrreryHandle handle(
        PyxOrrery_OpenHandle(L"registry-root", L"S-1-5-18", L"test", &err));
    ASSERT_TRUE(handle);
    EXPECT_EQ(PyxOrrery_SetBool(handle.get(), L"a.b", 1), PYX_ORRERY_OK);
    EXPECT_TRUE(tarn::test::fileExists(folder.file(L"registry-root.json")));
    registry.deleteValue(key, L"DataPath");
}

}  // namespace
