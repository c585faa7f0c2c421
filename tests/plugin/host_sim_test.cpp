// The host program with the real plug-in library, the store library and the machine file.
#include <gtest/gtest.h>
#include <signal.h>
#include <filesystem>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "common/CommandLine.h"
#include "common/Str.h"
#include "settings_store/OrreryKeys.h"
#include "sim/machine.h"
#include "sim/machine_file.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/plugin/PluginTestSupport.h"
#include "tests/support/TempDir.h"
#include "tools/carrier/Carrier.h"
#include "tools/carrier/CarrierHost.h"

namespace {

using namespace std::chrono_literals;
using tarn::carrier::CarrierHost;

constexpr const wchar_t* kNamespace = L"test";
using tarn::test::pluginLog;

std::wstring wide(const char* text) {
    return tarn::str::fromUtf8(text);
}

class Host : public ::testing::Test {
protected:
    void SetUp() override { tarn::test::installMakerLibraries(kNamespace); }

    void setRequireOnline(bool required) {
        auto store = m_store.open(kNamespace);
        ASSERT_EQ(PyxOrrery_SetBool(store.get(), tarn::keys::kRequireOnlineOrreryProfile,
                                    required ? 1 : 0),
                  0);
    }

    tarn::test::StoreRoot m_store;
    tarn::test::TempDir m_folder;
};

TEST_F(Host, ALibraryThatIsMissingOrNoPluginIsRefused) {
    std::string error;
    {
        CarrierHost host(kNamespace);
        EXPECT_FALSE(host.load(L"/no/such/plugin.so", error));
        EXPECT_NE(error.find("cannot load the plug-in library"), std::string::npos) << error;
    }
    {
        CarrierHost host(kNamespace);
        EXPECT_FALSE(host.load(wide(TARN_TEST_ALERT_LIBRARY), error));
        EXPECT_EQ(error, "the library has no CarrierPluginCreateContext");
    }
    std::ostringstream err;
    EXPECT_EQ(tarn::carrier::runCarrier({L"--plugin", L"/no/such/plugin.so"}, err), 2);
    EXPECT_EQ(tarn::carrier::runCarrier({L"--bogus"}, err), 2);
    EXPECT_NE(err.str().find("usage: carrier"), std::string::npos);
}

// The plug-in waits for the online store until the host stops it: main's 0 is the exit code,
// and the host's namespace string came back.
TEST_F(Host, AStopDuringTheOnlineWaitEndsMainWithZero) {
    CarrierHost host(kNamespace);
    std::string error;
    ASSERT_TRUE(host.load(wide(TARN_TEST_PLUGIN_LIBRARY), error)) << error;
    ASSERT_EQ(host.initialize(), 0u) << pluginLog();
    EXPECT_EQ(CarrierHost::stringsHandedOut(), 0u);
    host.startMain();
    EXPECT_FALSE(host.waitForMain(200));
    host.stop();
    ASSERT_TRUE(host.waitForMain(1000));
    EXPECT_EQ(host.mainResult(), 0u);
    host.destroy();
    const std::string log = pluginLog();
    EXPECT_NE(log.find("Stop signaled"), std::string::npos) << log;
    EXPECT_NE(log.find("Exiting before orrery is connected"), std::string::npos) << log;
}

// The program in a process of its own: a plug-in that ran in this process keeps the store
// library that it loaded.
TEST_F(Host, AFailedInitialiseIsTheExitCode) {
    tarn::test::uninstallMakerLibraries();
    const auto failures = [] {
        const std::string log = pluginLog();
        size_t count = 0;
        for (size_t at = log.find("Failed to delay load orrery library!"); at != std::string::npos;
             at = log.find("Failed to delay load orrery library!", at + 1)) {
            ++count;
        }
        return count;
    };
    const size_t before = failures();
    EXPECT_EQ(tarn::test::runProgram(
                  L"carrier", {L"-n", kNamespace, L"--plugin", wide(TARN_TEST_PLUGIN_LIBRARY)}),
              1u);
    EXPECT_EQ(failures(), before + 1) << pluginLog();
}

// Ctrl-C reaches the plug-in's stop entry; the machine file holds the machine afterwards.
TEST_F(Host, CtrlCStopsThePluginAndTheMachineIsSaved) {
    const std::string machine = sim::hostPath(m_folder.file(L"machine.json"));
    tarn::test::HostRun run(kNamespace, machine);
    EXPECT_EQ(run.stop(), 0) << run.errors();
    const auto saved = nlohmann::json::parse(tarn::test::readFile(wide(machine.c_str())));
    EXPECT_EQ(saved["format"], "tarn-sim-machine");
    EXPECT_TRUE(saved["registry"].contains("HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\test\\PYX"));
}

// The program itself: SIGINT and SIGTERM stop it, and its exit code is main's result.
TEST_F(Host, TheProgramStopsOnSignalsWithMainsResult) {
    const std::string machine = sim::hostPath(m_folder.file(L"machine.json"));
    std::string error;
    ASSERT_TRUE(sim::machine_file::saveFile(machine, &error)) << error;
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::wstring line = L"\"" + tarn::test::programBeside(L"carrier") + L"\"";
        for (const std::wstring& arg :
             {std::wstring(L"-n"), std::wstring(kNamespace), std::wstring(L"--plugin"),
              wide(TARN_TEST_PLUGIN_LIBRARY), std::wstring(L"--machine"), wide(machine.c_str())}) {
            line += L" " + tarn::quoteArgument(arg);
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &info));
        const tarn::UniqueHandle process(info.hProcess);
        CloseHandle(info.hThread);
        // The host saves the machine while main runs, so its handlers are in place by then
        // (a slow start, as under a sanitizer on a loaded machine, must not meet the signal).
        const auto written = std::filesystem::last_write_time(machine);
        for (int i = 0; i < 500 && std::filesystem::last_write_time(machine) == written; ++i) {
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the plug-in waits for the online store";
        ::kill(static_cast<pid_t>(info.dwProcessId), signal);
        ASSERT_EQ(WaitForSingleObject(process.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        DWORD code = ~0u;
        GetExitCodeProcess(process.get(), &code);
        EXPECT_EQ(code, 0u);
    }
}

}  // namespace
