#include "tests/plugin/PluginTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/Str.h"
#include "sim/machine.h"
#include "sim/machine_file.h"
#include "sim/registry_control.h"

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

}  // namespace tarn::test
