// The host program with the 64-bit plug-in DLL on Windows (under wine): the plug-in loads the
// stand-in store library from the install folder in the product's registry keys, waits for
// the store's first online update and then fails to start where no filtering-engine session
// opens (wine opens none): it says so in its log, releases what it made, and the host ends
// with main's 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/logging/FileContext.h"
#include "settings_store/OrreryKeys.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using namespace std::chrono_literals;

constexpr const wchar_t* kStoreLibrary = L"tarn_pyx_orrery_32.dll";
constexpr const wchar_t* kMakerLibraries[] = {kStoreLibrary, L"tarn_alert_api_32.dll",
                                              L"tarn_events_api_32.dll"};

std::wstring folderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::string localTimeText() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

// The plug-in's main log, where the plug-in's logger keeps it for this account.
class PluginLog {
public:
    PluginLog() { m_file.establishLocation(); }

    // The lines that a process wrote since `since` (a local time as the lines begin), in
    // order; the file may have been rotated in between, and other processes write to it too.
    std::vector<std::string> linesOf(DWORD processId, const std::string& since) const {
        char tag[32];
        std::snprintf(tag, sizeof tag, "[%04lx.", static_cast<unsigned long>(processId));
        std::istringstream text(tarn::test::readFile(m_file.fileName(1)) +
                                tarn::test::readFile(m_file.fileName()));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            if (line.find(tag) != std::string::npos && line.compare(0, since.size(), since) >= 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

private:
    TarnPyxLogging::FileContext m_file{L"", L"Firewall", L"FirewallPlugin", 4, 0};
};

// Whether the lines hold the texts one after another; the first one missing otherwise.
std::string missingInOrder(const std::vector<std::string>& lines,
                           const std::vector<std::string>& texts) {
    auto line = lines.begin();
    for (const std::string& text : texts) {
        line = std::find_if(line, lines.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        });
        if (line == lines.end()) {
            return text;
        }
        ++line;
    }
    return {};
}

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    return missingInOrder(lines, {text}).empty();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += line + "\n";
    }
    return all;
}

TEST(HostUnderWine, ThePluginLoadsTheStoreByItsRegisteredPathWaitsOnlineThenFailsToStart) {
    // The product installed in a folder of its own: the maker's libraries also lie beside the
    // host program, where a load by name would find them instead.
    const tarn::test::TempDir installFolder;
    const std::wstring beside = folderOf(tarn::test::programBeside(L"carrier"));
    for (const wchar_t* library : kMakerLibraries) {
        ASSERT_TRUE(CopyFileW((beside + L"\\" + library).c_str(),
                              installFolder.file(library).c_str(), FALSE))
            << GetLastError();
    }
    // The namespace's key in the 32-bit view, where the product's 32-bit installer writes it.
    const tarn::test::TestRegistryKey product(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tarn\\NS",
                                              KEY_WOW64_32KEY);
    const std::wstring nameSpace = product.name();
    tarn::UniqueHKey pyx;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, product.sub(L"PYX").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, pyx.put(), nullptr),
              ERROR_SUCCESS);
    const std::wstring& folder = installFolder.path();
    ASSERT_EQ(RegSetValueExW(pyx.get(), L"InstallPath", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(folder.c_str()),
                             static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    // A store that the management has not yet updated online; the host inherits its location.
    const tarn::test::StoreRoot root;
    const auto store = root.open(nameSpace);

    const PluginLog log;
    const std::string since = localTimeText();
    const tarn::UniqueHandle host =
        tarn::test::startProgram(L"carrier", {L"--namespace", nameSpace});
    ASSERT_TRUE(host);
    const DWORD processId = GetProcessId(host.get());
    const auto lines = [&] { return log.linesOf(processId, since); };

    ASSERT_TRUE(tarn::test::eventually([&] { return contains(lines(), "Binary version: "); }, 30s))
        << joined(lines());
    // Longer than the plug-in's poll of the store: it is still waiting, and made nothing.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(WaitForSingleObject(host.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << joined(lines());
    EXPECT_FALSE(contains(lines(), "tarn_alert_api_32.dll")) << joined(lines());

    ASSERT_EQ(
        PyxOrrery_SetInt64(store.get(), tarn::keys::kLastSuccessfulUpdateTimestamp, 1765000000), 0);
    ASSERT_EQ(WaitForSingleObject(host.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0))
        << joined(lines());
    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeProcess(host.get(), &exitCode));
    EXPECT_EQ(exitCode, 1u);

    const std::string installed = tarn::str::toUtf8(folder) + "\\";
    const std::vector<std::string> sequence = {
        "Loaded " + installed + "tarn_pyx_orrery_32.dll",
        "Binary version: 2.30.16.0, compilation time: ",
        "Loaded " + installed + "tarn_alert_api_32.dll",
        "Loaded " + installed + "tarn_events_api_32.dll",
        "NetworkSettings::Data::logNetworkSettings: ",  // the collaborators are made
        "FwpmEngineOpen failed with error ",
        "Failed to start!",
        "***  LOG AUTO-CLOSED ***",  // the process ended in order
    };
    const auto all = lines();
    EXPECT_EQ(missingInOrder(all, sequence), "") << joined(all);
    EXPECT_FALSE(contains(all, "Stopped")) << "the plug-in never ran";
}

}  // namespace
