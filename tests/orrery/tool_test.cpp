// The orrery tool's commands, run in-process: results, one-line errors, exit codes, and
// that a failed command changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/win.h"
#include "standin/orrery/tool/OrreryTool.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

using tarn::test::StoreRoot;

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result run(std::vector<std::wstring> args) {
    args.insert(args.begin(), {L"-n", L"test"});
    std::ostringstream out;
    std::ostringstream err;
    const int code = tarn::orrery::runTool(args, out, err);
    return {code, out.str(), err.str()};
}

void writeFile(const std::wstring& path, const std::string& content) {
    tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                          nullptr));
}

TEST(OrreryTool, TypedSetAndGet) {
    StoreRoot root;
    const struct {
        const wchar_t* type;
        const wchar_t* value;
        const char* printed;
        const char* json;
    } cases[] = {
        {L"bool", L"true", "true\n", "true\n"},
        {L"int32", L"-2147483648", "-2147483648\n", "-2147483648\n"},
        {L"int64", L"9007199254740993", "9007199254740993\n", "9007199254740993\n"},
        {L"string", L"two words \u00e9", "two words \xc3\xa9\n", "\"two words \xc3\xa9\"\n"},
        {L"json", LR"({"a":[1,"x"]})", "{\"a\":[1,\"x\"]}\n", "{\"a\":[1,\"x\"]}\n"},
    };
    for (const auto& c : cases) {
        const Result set = run({L"set", L"k.v", c.value, L"--type", c.type});
        EXPECT_EQ(set.code, 0) << set.err;
        EXPECT_EQ(run({L"get", L"k.v", L"--type", c.type}).out, c.printed);
        EXPECT_EQ(run({L"get", L"k.v"}).out, c.json);
    }
}

TEST(OrreryTool, FailedCommandsExplainInOneLineAndChangeNothing) {
    StoreRoot root;
    ASSERT_EQ(run({L"set", L"k", L"1"}).code, 0);
    const std::string before = tarn::test::readFile(root.documentPath(L"test"));
    const struct {
        std::vector<std::wstring> args;
        int code;
        const char* message;
    } cases[] = {
        {{L"set", L"k", L"{bad"}, 1, "orrery: k: Invalid JSON"},
        {{L"set", L"k", L"yes", L"--type", L"bool"}, 1, "orrery: 'yes' is not a bool"},
        {{L"set", L"k", L"2147483648", L"--type", L"int32"}, 1, "is not an int32"},
        {{L"set", L"k..x", L"1"}, 1, "orrery: k..x: Invalid key"},
        {{L"set", std::wstring(1025, L'k'), L"1"}, 1, "Invalid key"},
        {{L"get", L"missing"}, 1, "orrery: missing: Not found"},
        {{L"get", L"k", L"--type", L"string"}, 1, "orrery: k: Value has a different type"},
        {{L"delete", L"missing"}, 1, "Not found"},
        {{L"set", L"k"}, 2, "usage: orrery set"},
        {{L"frobnicate"}, 2, "unknown command"},
        {{L"get", L"k", L"--type", L"float"}, 2, "unknown type"},
        {{L"get", L"k", L"--color", L"red"}, 2, "unknown option --color"},
        {{L"import", root.path() + L"\\absent.json"}, 1, "cannot open"},
    };
    for (const auto& c : cases) {
        const Result result = run(c.args);
        EXPECT_EQ(result.code, c.code) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
    EXPECT_EQ(tarn::test::readFile(root.documentPath(L"test")), before);
}

TEST(OrreryTool, ImportRefusesBadDocumentsAndExportWritesTheWhole) {
    StoreRoot root;
    ASSERT_EQ(run({L"set", L"keep", L"true"}).code, 0);
    const std::wstring badBytes = root.path() + L"\\bad-bytes.json";
    writeFile(badBytes, "{\"a\":\"\xff\xfe\"}");
    const std::wstring badJson = root.path() + L"\\bad.json";
    writeFile(badJson, "{\"a\":");
    EXPECT_NE(run({L"import", badBytes}).err.find("Invalid UTF-8 or UTF-16 text"),
              std::string::npos);
    EXPECT_NE(run({L"import", badJson}).err.find("Invalid JSON"), std::string::npos);
    EXPECT_EQ(run({L"get", L"keep"}).out, "true\n");

    const std::wstring good = root.path() + L"\\good.json";
    writeFile(good, R"({"windows":{"firewall":{"enabled":false}}})");
    ASSERT_EQ(run({L"import", good}).code, 0);
    const std::wstring out = root.path() + L"\\out.json";
    ASSERT_EQ(run({L"export", out}).code, 0);
    EXPECT_EQ(nlohmann::json::parse(tarn::test::readFile(out)),
              nlohmann::json::parse(R"({"windows":{"firewall":{"enabled":false}}})"));
    EXPECT_EQ(run({L"get", L"keep"}).code, 1);
}

TEST(OrreryTool, AnImportThatWouldLoseOrGuessChangesNothingAndSaysWhy) {
    StoreRoot root;
    ASSERT_EQ(run({L"set", L"keep", L"true"}).code, 0);
    struct Case {
        const char* what;
        std::string content;
        const char* reason;
    };
    const Case cases[] = {
        {"a NUL byte", std::string("{\"a\":1}\0{\"b\":2}", 15), "NUL byte at offset 7"},
        {"a member given twice", R"({"w":{"a":1,"a":2}})", "\"a\" appears twice"},
        {"a dotted member name", R"({"w":{"a.b":1}})", "\"a.b\" is not a key segment"},
        {"values nested too deep",
         "{\"a\":" + std::string(20000, '[') + std::string(20000, ']') + "}",
         "nested deeper than 100 levels"},
    };
    const std::wstring file = root.path() + L"\\import.json";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, c.content);
        const Result result = run({L"import", file});
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("nothing was imported"), std::string::npos) << result.err;
        EXPECT_EQ(run({L"get", L"keep"}).out, "true\n");
    }
}

TEST(OrreryTool, LockMakesAKeyReadOnlyForTheSystemUntilUnlocked) {
    StoreRoot root;
    const auto system = root.open();
    ASSERT_EQ(run({L"set", L"p.name", L"office", L"--type", L"string"}).code, 0);
    ASSERT_EQ(run({L"lock", L"p.name"}).code, 0);
    EXPECT_EQ(run({L"constraints", L"p.name"}).out, "1\n");
    EXPECT_EQ(PyxOrrery_SetString(system.get(), L"p.name", L"home"), PYX_ORRERY_E_READ_ONLY);
    EXPECT_EQ(PyxOrrery_DeleteValue(system.get(), L"p"), PYX_ORRERY_E_READ_ONLY);
    // The management side still changes what it locked.
    EXPECT_EQ(run({L"set", L"p.name", L"\"lab\""}).code, 0);
    EXPECT_EQ(run({L"get", L"p.name", L"--type", L"string"}).out, "lab\n");
    ASSERT_EQ(run({L"unlock", L"p.name"}).code, 0);
    EXPECT_EQ(PyxOrrery_SetString(system.get(), L"p.name", L"home"), PYX_ORRERY_OK);
    EXPECT_EQ(run({L"get", L"p.name", L"--type", L"string"}).out, "home\n");
}

TEST(OrreryTool, WatchPrintsChangesAsTheyArrive) {
    StoreRoot root;
    const auto handle = root.open();
    Result result;
    tarn::UniqueHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread watcher([&] {
        result = run({L"watch", L"w", L"--count", L"1", L"--timeout", L"20"});
        SetEvent(finished.get());
    });
    // A write before the watch has subscribed is not seen: write until it reports one.
    for (int i = 0; WaitForSingleObject(finished.get(), 50) == WAIT_TIMEOUT && i < 200; ++i) {
        ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), L"w.v", i), PYX_ORRERY_OK);
    }
    watcher.join();
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out.rfind("w.v ", 0), 0u) << result.out;
}

TEST(OrreryTool, HelpNamesEveryCommand) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(tarn::orrery::runTool({L"--help"}, out, err), 0);
    for (const char* word : {"get", "set", "delete", "watch", "import", "export", "lock", "unlock",
                             "--namespace", "default"}) {
        EXPECT_NE(out.str().find(word), std::string::npos) << word;
    }
}

}  // namespace
