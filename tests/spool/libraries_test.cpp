// The alert and event libraries: what a call appends to the spool, the errors with their
// texts, and concurrent callers in one process and in several. Runs on the simulated machine
// and under wine.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <thread>

#include "common/Str.h"
#include "standin/alert/TarnAlertApi.h"
#include "standin/events/TarnEventsApi.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/spool/SpoolRoot.h"

namespace {

using tarn::test::SpoolRoot;

TEST(AlertLibrary, AnAlertIsOneLineWithTimeNamespaceTypeAndPayload) {
    SpoolRoot root;
    ASSERT_EQ(TarnAlertApi_DelayLoadInitialize(L"tenant-a"), TARN_ALERT_OK);
    ASSERT_EQ(TarnAlertApi_SendAlertNS(L"tenant-a", "firewall.tarn_rule_triggered.block",
                                       R"j({"ruleName":"Block RDP","localPort":3389})j"),
              TARN_ALERT_OK);
    const auto lines = root.lines(L"tenant-a");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        lines[0], std::regex(R"j(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z","namespace":)j"
                             R"j("tenant-a","source":"alert","type":)j"
                             R"j("firewall\.tarn_rule_triggered\.block","payload":\{.*\}\})j")))
        << lines[0];
    const auto entry = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(entry["payload"],
              nlohmann::json::parse(R"j({"ruleName":"Block RDP","localPort":3389})j"));
    EXPECT_TRUE(root.lines(L"tenant-b").empty()) << "one spool per namespace";
}

TEST(AlertLibrary, TextOutsideAsciiKeepsItsCharacters) {
    SpoolRoot root;
    const std::wstring nameSpace = L"caf\u00e9";
    ASSERT_EQ(TarnAlertApi_DelayLoadInitialize(nameSpace.c_str()), TARN_ALERT_OK);
    ASSERT_EQ(TarnAlertApi_SendAlertNS(nameSpace.c_str(), "t", "{\"rule\":\"r\xc3\xa8gle\"}"),
              TARN_ALERT_OK);
    const auto entries = root.entries(nameSpace);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["namespace"], "caf\xc3\xa9");
    EXPECT_EQ(entries[0]["payload"]["rule"], "r\xc3\xa8gle");
}

struct AlertRefusal {
    const char* name;
    const wchar_t* nameSpace;
    const char* type;
    const char* payload;
    int code;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const AlertRefusal& c, std::ostream* os) { *os << c.name; }
};

class AlertRefusals : public ::testing::TestWithParam<AlertRefusal> {};

TEST_P(AlertRefusals, BadInputGetsItsCodeAndWritesNothing) {
    SpoolRoot root;
    ASSERT_EQ(TarnAlertApi_DelayLoadInitialize(L"tenant-a"), TARN_ALERT_OK);
    const AlertRefusal& c = GetParam();
    EXPECT_EQ(TarnAlertApi_SendAlertNS(c.nameSpace, c.type, c.payload), c.code);
    EXPECT_TRUE(root.lines(L"tenant-a").empty());
    EXPECT_NE(std::wstring(TarnAlertApi_ErrorAsString(c.code)), L"Unknown error");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlertRefusals,
    ::testing::Values(
        AlertRefusal{"nullNamespace", nullptr, "t", "{}", TARN_ALERT_E_INVALID_ARGUMENT},
        AlertRefusal{"nullType", L"tenant-a", nullptr, "{}", TARN_ALERT_E_INVALID_ARGUMENT},
        AlertRefusal{"emptyType", L"tenant-a", "", "{}", TARN_ALERT_E_INVALID_ARGUMENT},
        AlertRefusal{"nullPayload", L"tenant-a", "t", nullptr, TARN_ALERT_E_INVALID_ARGUMENT},
        AlertRefusal{"pathInNamespace", L"..\\x", "t", "{}", TARN_ALERT_E_INVALID_NAMESPACE},
        AlertRefusal{"emptyNamespace", L"", "t", "{}", TARN_ALERT_E_INVALID_NAMESPACE},
        AlertRefusal{"notInitialised", L"tenant-b", "t", "{}", TARN_ALERT_E_NOT_INITIALIZED},
        AlertRefusal{"malformed", L"tenant-a", "t", "{\"a\":", TARN_ALERT_E_INVALID_JSON},
        AlertRefusal{"notAnObject", L"tenant-a", "t", "[1,2]", TARN_ALERT_E_INVALID_JSON},
        AlertRefusal{"invalidUtf8", L"tenant-a", "t", "{\"a\":\"\xc3\"}",
                     TARN_ALERT_E_INVALID_JSON}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AlertLibrary, ASpoolThatCannotBeWrittenIsAnErrorWithAText) {
    SpoolRoot root;
    // The spool folder is a file: nothing can be made below it.
    const std::wstring blocker = root.path() + L"\\blocked";
    const tarn::UniqueHandle file(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", (blocker + L"\\spool").c_str());
    EXPECT_EQ(TarnAlertApi_DelayLoadInitialize(L"tenant-c"), TARN_ALERT_E_SPOOL);
    EXPECT_EQ(std::wstring(TarnAlertApi_ErrorAsString(TARN_ALERT_E_SPOOL)),
              L"The alert spool cannot be written");
    EXPECT_EQ(TarnAlertApi_SendAlertNS(L"tenant-c", "t", "{}"), TARN_ALERT_E_NOT_INITIALIZED);
}

TEST(EventLibrary, AnEventIsCreatedAddedOnceAndFreed) {
    SpoolRoot root;
    int err = -1;
    TarnEventHandle event =
        TarnEvent_CreateNS(L"tenant-a", L"network_isolation.enable", 1, 0, &err);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(err, TARN_EVENT_OK);
    EXPECT_EQ(TarnEvent_AddEventAll(event, 0), TARN_EVENT_OK);
    TarnEvent_Free(event);
    const auto entries = root.entries(L"tenant-a");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["source"], "event");
    EXPECT_EQ(entries[0]["type"], "network_isolation.enable");
    EXPECT_EQ(entries[0]["payload"], nlohmann::json::parse(R"j({"kind":1})j"));
    EXPECT_EQ(TarnEvent_AddEventAll(event, 0), TARN_EVENT_E_INVALID_HANDLE) << "freed";
    TarnEvent_Free(nullptr);
}

TEST(EventLibrary, BadArgumentsGetTheirCodes) {
    SpoolRoot root;
    int err = -1;
    EXPECT_EQ(TarnEvent_CreateNS(L"tenant-a", L"e", 1, 7, &err), nullptr);
    EXPECT_EQ(err, TARN_EVENT_E_INVALID_ARGUMENT);
    EXPECT_EQ(TarnEvent_CreateNS(L"tenant-a", L"e", 0, 0, &err), nullptr);
    EXPECT_EQ(err, TARN_EVENT_E_INVALID_ARGUMENT);
    EXPECT_EQ(TarnEvent_CreateNS(L"tenant-a", L"", 1, 0, &err), nullptr);
    EXPECT_EQ(err, TARN_EVENT_E_INVALID_ARGUMENT);
    EXPECT_EQ(TarnEvent_CreateNS(L"a|b", L"e", 1, 0, nullptr), nullptr);
    EXPECT_EQ(TarnEvent_AddEventAll(nullptr, 0), TARN_EVENT_E_INVALID_HANDLE);
    TarnEventHandle event = TarnEvent_CreateNS(L"tenant-a", L"e", 2, 0, &err);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(TarnEvent_AddEventAll(event, 1), TARN_EVENT_E_INVALID_ARGUMENT);
    TarnEvent_Free(event);
    for (const int code : {0, 1, 2, 3, 4, 5}) {
        EXPECT_NE(std::wstring(TarnEvent_ErrorAsString(code)), L"Unknown error") << code;
    }
    EXPECT_TRUE(root.lines(L"tenant-a").empty());
}

// Entries of one writer, by the number it gave them, from alert payloads and event names.
std::map<std::string, std::vector<int>> numbersByWriter(
    const std::vector<nlohmann::json>& entries) {
    std::map<std::string, std::vector<int>> numbers;
    for (const auto& entry : entries) {
        if (entry["source"] == "alert") {
            numbers[entry["payload"]["writer"]].push_back(entry["payload"]["n"]);
        } else {
            const auto parts = tarn::str::split(entry["type"].get<std::string>(), '.');
            numbers[parts.at(1)].push_back(std::stoi(parts.at(2)));
        }
    }
    return numbers;
}

TEST(SpoolWriters, ThreadsAndProcessesWritingOneSpoolKeepEveryLineWholeAndInOrder) {
    SpoolRoot root;
    constexpr int kPerWriter = 400;
    const auto first = tarn::test::startProgram(L"spool_test_writer",
                                                {L"shared", L"p1", std::to_wstring(kPerWriter)});
    const auto second = tarn::test::startProgram(L"spool_test_writer",
                                                 {L"shared", L"p2", std::to_wstring(kPerWriter)});
    ASSERT_EQ(TarnAlertApi_DelayLoadInitialize(L"shared"), TARN_ALERT_OK);
    std::vector<std::thread> threads;
    for (const char* writer : {"t1", "t2"}) {
        threads.emplace_back([writer] {
            for (int i = 0; i < kPerWriter; i += 2) {
                const std::string payload =
                    std::string("{\"writer\":\"") + writer + "\",\"n\":" + std::to_string(i) + "}";
                EXPECT_EQ(TarnAlertApi_SendAlertNS(L"shared", "test.alert", payload.c_str()), 0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto* process : {&first, &second}) {
        ASSERT_EQ(WaitForSingleObject(process->get(), 120000), WAIT_OBJECT_0);
        DWORD code = ~0u;
        GetExitCodeProcess(process->get(), &code);
        EXPECT_EQ(code, 0u);
    }
    const auto numbers = numbersByWriter(root.entries(L"shared"));
    ASSERT_EQ(numbers.size(), 4u);
    for (const auto& [writer, seen] : numbers) {
        const bool process = writer[0] == 'p';
        ASSERT_EQ(seen.size(), static_cast<size_t>(process ? kPerWriter : kPerWriter / 2))
            << writer;
        for (size_t i = 0; i < seen.size(); ++i) {
            ASSERT_EQ(seen[i], static_cast<int>(process ? i : 2 * i)) << writer << " out of order";
        }
    }
}

}  // namespace
