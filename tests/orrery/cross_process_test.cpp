// Several processes on one store: changes reach subscribers in other processes, and
// concurrent writers do not lose each other's writes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/win.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

using tarn::test::ChangeCollector;
using tarn::test::StoreRoot;

nlohmann::json exported(PyxOrreryHandle handle) {
    int err = -1;
    const tarn::UniqueOrreryString text(PyxOrrery_ExportUtf8(handle, &err));
    return nlohmann::json::parse(static_cast<const char*>(text.get()));
}

TEST(OrreryCrossProcess, AChangeMadeByTheToolReachesASubscriberWithinOneSecond) {
    StoreRoot root;
    const auto handle = root.open();
    ChangeCollector changes;
    ASSERT_EQ(PyxOrrery_Subscribe(handle.get(), L"windows.firewall.network_isolation",
                                  &ChangeCollector::callback, &changes),
              PYX_ORRERY_OK);
    ASSERT_EQ(tarn::test::runProgram(
                  L"orrery", {L"-n", L"test", L"set", L"windows.firewall.network_isolation.enabled",
                              L"true", L"--type", L"bool"}),
              0u);
    ASSERT_TRUE(changes.waitFor(1, std::chrono::milliseconds(1000)));
    EXPECT_EQ(changes.keys(),
              std::vector<std::wstring>{L"windows.firewall.network_isolation.enabled"});
    EXPECT_EQ(
        PyxOrrery_GetBool(handle.get(), L"windows.firewall.network_isolation.enabled", 0, nullptr),
        1);
    // A value written again unchanged by another process is no change.
    ASSERT_EQ(tarn::test::runProgram(
                  L"orrery", {L"-n", L"test", L"set", L"windows.firewall.network_isolation.enabled",
                              L"true", L"--type", L"bool"}),
              0u);
    EXPECT_FALSE(changes.waitFor(2, std::chrono::milliseconds(500)));
}

TEST(OrreryCrossProcess, ArgumentsReachTheToolUnchanged) {
    StoreRoot root;
    const auto handle = root.open();
    const std::wstring tricky = L"a \"quoted\" word\\ \\\"x\\ caf\u00e9\t";
    ASSERT_EQ(tarn::test::runProgram(L"orrery",
                                     {L"-n", L"test", L"set", L"k", tricky, L"--type", L"string"}),
              0u);
    const tarn::UniqueOrreryString value(PyxOrrery_GetString(handle.get(), L"k", L"", nullptr));
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value.get())), tricky);
}

TEST(OrreryCrossProcess, ConcurrentWritersLoseNoWrite) {
    StoreRoot root;
    const auto handle = root.open();
    const auto first = tarn::test::startProgram(L"orrery_test_writer", {L"test", L"one", L"100"});
    const auto second = tarn::test::startProgram(L"orrery_test_writer", {L"test", L"two", L"100"});
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(PyxOrrery_SetInt32(handle.get(), (L"here.k" + std::to_wstring(i)).c_str(), i),
                  PYX_ORRERY_OK);
    }
    for (const auto* process : {&first, &second}) {
        ASSERT_EQ(WaitForSingleObject(process->get(), 60000), WAIT_OBJECT_0);
        DWORD code = ~0u;
        GetExitCodeProcess(process->get(), &code);
        EXPECT_EQ(code, 0u);
    }
    const auto document = exported(handle.get());
    EXPECT_EQ(document.value("one", nlohmann::json::object()).size(), 100u);
    EXPECT_EQ(document.value("two", nlohmann::json::object()).size(), 100u);
    EXPECT_EQ(document.value("here", nlohmann::json::object()).size(), 100u);
}

}  // namespace
