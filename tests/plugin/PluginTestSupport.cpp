#include "tests/plugin/PluginTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/Str.h"
#include "platform/win.h"
#include "sim/console_control.h"
#include "sim/machine.h"
#include "sim/machine_file.h"
#include "sim/registry_control.h"
#include "tests/support/TempDir.h"
#include "tools/carrier/Carrier.h"

namespace tarn::test {

void placeFile(const std::string& hostFile, const std::wstring& windowsPath) {
    const std::string reply = sim::machine_file::command("link \"" + hostFile + "\" \"" +
                                                         str::toUtf8(windowsPath) + "\"");
    ASSERT_EQ(reply.rfind("linked", 0), 0u) << reply;
}

void uninstallMakerLibraries() {
    std::error_code ignored;
    std::filesystem::remove_all(sim::hostPath(kMakerFolder), ignored);
    sim::registry::deleteTree(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS");
}

void installMakerLibraries(const std::wstring& nameSpace, MakerLibraries which) {
    uninstallMakerLibraries();
    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\" + nameSpace + L"\\PYX",
                             L"InstallPath", kMakerFolder);
    const std::wstring folder = std::wstring(kMakerFolder) + L"\\";
    if (which.orrery) {
        placeFile(TARN_TEST_ORRERY_LIBRARY, folder + L"tarn_pyx_orrery_32.dll");
    }
    if (which.alert) {
        placeFile(TARN_TEST_ALERT_LIBRARY, folder + L"tarn_alert_api_32.dll");
    }
    if (which.events) {
        placeFile(TARN_TEST_EVENTS_LIBRARY, folder + L"tarn_events_api_32.dll");
    }
}

std::string pluginLog() {
    return readFile(kPluginLog);
}

namespace {

std::filesystem::file_time_type writeTime(const std::string& file) {
    std::error_code error;
    return std::filesystem::last_write_time(file, error);
}

// The plug-in library starts Winsock once, as it loads, and stays loaded after a run, as the
// host leaves it. Each machine that a later run loads starts afresh and forgets that start-up,
// which no process outlives on Windows: the machine starts Winsock again for the library.
void keepWinsockForTheLoadedPlugin() {
    static const bool kept = [] {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);  // Winsock's own reset comes first from now on
        sim::onReset([] {
            WSADATA again{};
            WSAStartup(MAKEWORD(2, 2), &again);
        });
        return true;
    }();
    static_cast<void>(kept);
}

}  // namespace

HostRun::HostRun(const std::wstring& nameSpace, std::string machineFile)
    : m_machineFile(std::move(machineFile)) {
    keepWinsockForTheLoadedPlugin();
    if (!std::filesystem::exists(m_machineFile)) {
        std::string error;
        EXPECT_TRUE(sim::machine_file::saveFile(m_machineFile, &error)) << error;
    }
    const std::vector<std::wstring> args = {
        L"--namespace",  nameSpace,
        L"--plugin",     str::fromUtf8(TARN_TEST_PLUGIN_LIBRARY),
        L"--machine",    str::fromUtf8(m_machineFile),
        L"--save-every", L"50"};
    m_run =
        std::async(std::launch::async, [this, args] { return carrier::runCarrier(args, m_err); });
}

HostRun::~HostRun() {
    if (!m_exitCode) {
        stop();
    }
}

bool HostRun::ended() {
    return m_run.valid() && m_run.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::optional<int> HostRun::stop() {
    using namespace std::chrono_literals;
    if (m_exitCode || !m_run.valid()) {
        return m_exitCode;
    }
    // The host saves the machine while main runs, with its console handler in place by then.
    const auto loaded = writeTime(m_machineFile);
    for (int i = 0; i < 500 && !ended() && writeTime(m_machineFile) == loaded; ++i) {
        std::this_thread::sleep_for(20ms);
    }
    if (!ended()) {
        sim::console::raise(CTRL_C_EVENT);
    }
    if (m_run.wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the host did not end within 10 s of Ctrl-C";
        return std::nullopt;
    }
    m_exitCode = m_run.get();
    return m_exitCode;
}

}  // namespace tarn::test
