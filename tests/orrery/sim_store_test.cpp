// What the store costs the machine, counted by the simulated machine, and faults that only the
// simulated machine can bring about.
#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/win.h"
#include "sim/machine.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

TEST(OrrerySim, AnotherHandleOnAnUnchangedStoreDoesNotReadItAgain) {
    tarn::test::StoreRoot root;
    const auto first = root.open();
    ASSERT_EQ(PyxOrrery_SetInt32(first.get(), L"k", 1), PYX_ORRERY_OK);
    // Reading the document opens its file; the version mark lives in the open lock file.
    const auto before = sim::callCount("CreateFileW");
    const auto second = root.open();
    const auto third = root.open();
    EXPECT_EQ(sim::callCount("CreateFileW"), before);
    // A write of another handle is seen by the next one.
    ASSERT_EQ(PyxOrrery_SetInt32(second.get(), L"k", 2), PYX_ORRERY_OK);
    const auto fourth = root.open();
    EXPECT_EQ(PyxOrrery_GetInt32(fourth.get(), L"k", 0, nullptr), 2);
}

TEST(OrrerySim, ASubscriberLooksAtTheStoreOnlyWhenItsFolderChanges) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    tarn::test::ChangeCollector changes;
    ASSERT_EQ(
        PyxOrrery_Subscribe(handle.get(), L"w", &tarn::test::ChangeCollector::callback, &changes),
        PYX_ORRERY_OK);
    for (const wchar_t* value : {L"true", L"false"}) {
        ASSERT_EQ(tarn::test::runProgram(L"orrery", {L"-n", L"test", L"set", L"w.on", value}), 0u);
        ASSERT_TRUE(changes.waitFor(1, std::chrono::seconds(1))) << "a change arrives";
        changes.clear();
        Sleep(300);  // the callback thread has looked and waits again
        const auto reads = sim::callCount("ReadFile");
        const auto waits = sim::callCount("WaitForMultipleObjects");
        Sleep(1000);
        EXPECT_EQ(sim::callCount("ReadFile"), reads) << "no poll while nothing changes";
        EXPECT_EQ(sim::callCount("WaitForMultipleObjects"), waits) << "no wake-up either";
    }
}

TEST(OrrerySim, ASubscriberDoesNotReadBackTheWritesOfItsOwnProcess) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    std::string big = R"({"r0":0)";
    for (int i = 1; i < 20000; ++i) {
        big += ",\"r" + std::to_string(i) + "\":" + std::to_string(i);
    }
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(handle.get(), L"big", (big + "}").c_str()),
              PYX_ORRERY_OK);
    tarn::test::ChangeCollector changes;
    ASSERT_EQ(
        PyxOrrery_Subscribe(handle.get(), L"w", &tarn::test::ChangeCollector::callback, &changes),
        PYX_ORRERY_OK);
    Sleep(300);  // the callback thread watches the folder
    constexpr int kWrites = 20;
    const auto opens = sim::callCount("CreateFileW");
    for (int i = 1; i <= kWrites; ++i) {
        ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), L"w.n", i), PYX_ORRERY_OK);
    }
    ASSERT_TRUE(changes.waitFor(kWrites));
    Sleep(300);  // and has looked at the folder after the last write
    EXPECT_EQ(sim::callCount("CreateFileW") - opens, static_cast<uint64_t>(kWrites))
        << "one temporary file per write, and no reading of the document";
}

TEST(OrrerySim, AWriteThatCannotReplaceTheFileChangesNothing) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    const PyxOrreryHandle h = handle.get();
    ASSERT_EQ(PyxOrrery_ImportUtf8(h, R"({"a":{"b":1,"list":[1,2]},"s":"x"})"), PYX_ORRERY_OK);
    const struct {
        const char* what;
        std::function<int()> write;
        bool holdObject;  // a reader holds the document meanwhile
    } cases[] = {
        {"set of a value", [&] { return PyxOrrery_SetInt32(h, L"a.b", 2); }, false},
        {"set along a new path", [&] { return PyxOrrery_SetBool(h, L"n.e.w", 1); }, false},
        {"set below a new member", [&] { return PyxOrrery_SetBool(h, L"a.new.x", 1); }, false},
        {"erase", [&] { return PyxOrrery_DeleteValue(h, L"a.list"); }, false},
        {"erase of a member", [&] { return PyxOrrery_DeleteValue(h, L"s"); }, false},
        {"set while read", [&] { return PyxOrrery_SetInt32(h, L"a.b", 2); }, true},
    };
    const std::wstring document = root.documentPath(L"test");
    for (const auto& c : cases) {
        const std::string file = tarn::test::readFile(document);
        const tarn::UniqueOrreryString before(PyxOrrery_ExportUtf8(h, nullptr));
        const tarn::UniqueOrreryObject held(c.holdObject ? PyxOrrery_GetObject(h, L"a", nullptr)
                                                         : nullptr);
        sim::failCall("MoveFileExW", 1, ERROR_GEN_FAILURE);
        EXPECT_EQ(c.write(), PYX_ORRERY_E_IO) << c.what;
        sim::clearFaults();
        const tarn::UniqueOrreryString after(PyxOrrery_ExportUtf8(h, nullptr));
        EXPECT_STREQ(static_cast<const char*>(after.get()), static_cast<const char*>(before.get()))
            << c.what;
        EXPECT_EQ(tarn::test::readFile(document), file) << c.what;
    }
    // And the next write writes what the store holds, with only its own change.
    ASSERT_EQ(PyxOrrery_SetString(h, L"s", L"y"), PYX_ORRERY_OK);
    EXPECT_EQ(nlohmann::json::parse(tarn::test::readFile(document))["values"],
              nlohmann::json::parse(R"({"a":{"b":1,"list":[1,2]},"s":"y"})"));
}

TEST(OrrerySim, AFolderWithoutChangeNotificationIsPolled) {
    sim::failAlways("FindFirstChangeNotificationW", ERROR_NOT_SUPPORTED);
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    tarn::test::ChangeCollector changes;
    ASSERT_EQ(
        PyxOrrery_Subscribe(handle.get(), L"w", &tarn::test::ChangeCollector::callback, &changes),
        PYX_ORRERY_OK);
    ASSERT_EQ(tarn::test::runProgram(L"orrery", {L"-n", L"test", L"set", L"w.on", L"true"}), 0u);
    EXPECT_TRUE(changes.waitFor(1, std::chrono::seconds(1)));
}

// Runs `work` on a thread with the stack that Windows gives a thread by default.
void onWindowsSizedStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 1u << 20);
    pthread_t thread;
    std::function<void()> job = work;  // lives until the thread is joined
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* arg) -> void* {
                      (*static_cast<std::function<void()>*>(arg))();
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(OrrerySim, AValueTooDeepFromAnotherWriterFailsTheNextWriteWithoutACrash) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetBool(handle.get(), L"keep", 1), PYX_ORRERY_OK);
    // A writer without the depth limit (an older library, or an editor) left this.
    const std::string deep = R"({"generation":100,"constraints":{},"values":{"keep":true,"deep":)" +
                             std::string(3000, '[') + std::string(3000, ']') + "}}";
    const std::wstring document = root.documentPath(L"test");
    {
        tarn::UniqueHandle file(CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(file.get(), deep.data(), static_cast<DWORD>(deep.size()), &written, nullptr));
    }
    int result = -1;
    onWindowsSizedStack([&] { result = PyxOrrery_SetBool(handle.get(), L"status", 1); });
    EXPECT_EQ(result, PYX_ORRERY_E_TOO_DEEP);
    EXPECT_EQ(tarn::test::readFile(document), deep) << "nothing is written over it";
    EXPECT_EQ(PyxOrrery_GetBool(handle.get(), L"keep", 0, nullptr), 1);
}

TEST(OrrerySim, AWriteFailsWhenTheDocumentCannotBeReadAgainFirst) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), L"mine", 1), PYX_ORRERY_OK);
    ASSERT_EQ(tarn::test::runProgram(L"orrery", {L"-n", L"test", L"set", L"theirs", L"2"}), 0u);
    // The write looks at the file first; opening the document is the first file it opens.
    sim::failCall("CreateFileW", 1, ERROR_GEN_FAILURE);
    EXPECT_EQ(PyxOrrery_SetInt32(handle.get(), L"mine", 3), PYX_ORRERY_E_IO);
    const std::string onDisk = tarn::test::readFile(root.documentPath(L"test"));
    EXPECT_NE(onDisk.find("\"theirs\":2"), std::string::npos) << onDisk;
    EXPECT_NE(onDisk.find("\"mine\":1"), std::string::npos) << onDisk;
    ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), L"mine", 3), PYX_ORRERY_OK);
    EXPECT_EQ(PyxOrrery_GetInt32(handle.get(), L"theirs", 0, nullptr), 2);
}

}  // namespace
