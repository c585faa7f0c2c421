// Loading the maker's libraries by the full path that the product's registry keys give.
#include <gtest/gtest.h>

#include "plugin/DelayLoad.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "tests/plugin/PluginTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using tarn::DelayLoader;
using tarn::kAlertLibrary;
using tarn::kOrreryLibrary;
using tarn::test::LogCapture;

constexpr const wchar_t* kNamespace = L"tenant-a";

// Registers `folder` with `hostFile` in it as the store library.
void installAs(const char* hostFile, const std::wstring& folder) {
    tarn::test::placeFile(hostFile, folder + L"\\tarn_pyx_orrery_32.dll");
    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\tenant-a\\PYX",
                             L"InstallPath", folder);
}

TEST(DelayLoad, AnInstalledLibraryLoadsOnceAndHandsOutItsEntries) {
    tarn::test::installMakerLibraries(kNamespace);
    DelayLoader loader;
    LogCapture log;
    ASSERT_TRUE(loader.load(kOrreryLibrary, kNamespace)) << log.dump();
    EXPECT_TRUE(log.contains("Loaded C:\\Program Files\\Tarn\\PYX\\tarn_pyx_orrery_32.dll"));
    const uint64_t loads = sim::callCount("LoadLibraryExW");
    EXPECT_TRUE(loader.load(kOrreryLibrary, kNamespace));
    EXPECT_EQ(sim::callCount("LoadLibraryExW"), loads) << "a loaded library is kept";

    EXPECT_NE(loader.entry(kOrreryLibrary, "PyxOrrery_GetBool"), nullptr);
    EXPECT_NE(loader.module(L"TARN_PYX_ORRERY_32.DLL"), nullptr) << "names compare without case";
    EXPECT_EQ(loader.module(L"tarn_alert_api_32.dll"), nullptr) << "not loaded yet";
}

TEST(DelayLoad, AMissingEntryIsLoggedAndNull) {
    tarn::test::installMakerLibraries(kNamespace);
    DelayLoader loader;
    ASSERT_TRUE(loader.load(kOrreryLibrary, kNamespace));
    LogCapture log;
    EXPECT_EQ(loader.entry(kOrreryLibrary, "PyxOrrery_NoSuchEntry"), nullptr);
    EXPECT_TRUE(log.contains("has no entry PyxOrrery_NoSuchEntry", 2)) << log.dump();
    EXPECT_EQ(loader.entry(kAlertLibrary, "TarnAlertApi_SendAlertNS"), nullptr);
    EXPECT_TRUE(log.contains("tarn_alert_api_32.dll is not loaded", 2)) << log.dump();
}

// Every way of not finding a usable library ends in a logged failure, never in a load from
// the search path.
TEST(DelayLoad, AMissingOrUnfitLibraryFailsWithItsReason) {
    struct Case {
        const char* name;
        void (*setUp)();
        const char* logged;
    };
    const Case cases[] = {
        {"no registered folder", [] {}, "No install folder of tarn_pyx_orrery_32.dll"},
        {"a folder without the library",
         [] {
             tarn::test::installMakerLibraries(kNamespace, {false, true, true});
         },
         "The specified module could not be found."},
        {"a relative folder",
         [] {
             sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\tenant-a\\PYX",
                                      L"InstallPath", L"PYX");
         },
         "the install folder is not a full path"},
        // Folders of their own: a process keeps a module by its full path, as Windows does.
        {"another library under the name",
         [] { installAs(TARN_TEST_ALERT_LIBRARY, L"C:\\Program Files\\Tarn\\Alert as store"); },
         "has no entry PyxOrrery_DelayLoadInitialize"},
        {"a file that is no library",
         [] { installAs(TARN_TEST_NOT_A_LIBRARY, L"C:\\Program Files\\Tarn\\Not a library"); },
         // describeError asks for the text with inserts, which this message has: only the code.
         ": (193)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tarn::test::uninstallMakerLibraries();
        c.setUp();
        DelayLoader loader;
        LogCapture log;
        EXPECT_FALSE(loader.load(kOrreryLibrary, kNamespace));
        EXPECT_TRUE(log.contains(c.logged, 2)) << log.dump();
        EXPECT_EQ(loader.module(L"tarn_pyx_orrery_32.dll"), nullptr);
    }
}

TEST(DelayLoad, ALibraryThatRefusesTheNamespaceIsNotKept) {
    const std::wstring refused = L"tenant:x";  // the alert library's spool cannot be named so
    tarn::test::installMakerLibraries(refused);
    DelayLoader loader;
    LogCapture log;
    EXPECT_FALSE(loader.load(kAlertLibrary, refused));
    EXPECT_TRUE(log.contains("TarnAlertApi_DelayLoadInitialize of", 2)) << log.dump();
    EXPECT_EQ(loader.module(L"tarn_alert_api_32.dll"), nullptr);
}

}  // namespace
