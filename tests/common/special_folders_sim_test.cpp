// Special folders and namespace resolution against the simulated machine's registry.
#include <gtest/gtest.h>

#include "common/registry/NamespaceResolver.h"
#include "common/registry/SpecialFolders.h"
#include "sim/machine.h"
#include "sim/registry_control.h"

namespace {

using tarn::SpecialFolder;
using tarn::specialFolderPath;

const wchar_t* const kMachineShell =
    L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";

TEST(SpecialFolders, MachineFoldersComeFromTheRegistryExpanded) {
    EXPECT_EQ(specialFolderPath(SpecialFolder::CommonAppData), L"C:\\ProgramData");
    sim::registry::setString(std::wstring(kMachineShell) + L"User Shell Folders", L"Common AppData",
                             L"%SystemDrive%\\Data", 2 /* REG_EXPAND_SZ */);
    EXPECT_EQ(specialFolderPath(SpecialFolder::CommonAppData), L"C:\\Data");
    // The program-files folders are read in the 64-bit view, also by a 32-bit process.
    EXPECT_EQ(specialFolderPath(SpecialFolder::ProgramFiles), L"C:\\Program Files");
    EXPECT_EQ(specialFolderPath(SpecialFolder::ProgramFilesX86), L"C:\\Program Files (x86)");
}

TEST(SpecialFolders, TheShellAnswersWhatTheRegistryLacks) {
    sim::registry::deleteTree(std::wstring(kMachineShell) + L"User Shell Folders");
    sim::registry::deleteTree(std::wstring(kMachineShell) + L"Shell Folders");
    EXPECT_EQ(specialFolderPath(SpecialFolder::CommonAppData), L"C:\\ProgramData");
    EXPECT_EQ(sim::callCount("SHGetFolderPathW"), 1u);
    EXPECT_EQ(sim::callCount("FreeLibrary"), 1u);
}

TEST(SpecialFolders, AnotherUsersFolderUsesThatUsersProfile) {
    const std::wstring sid = L"S-1-5-21-9-9-9-1001";
    sim::registry::setString(
        L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid,
        L"ProfileImagePath", L"C:\\Users\\bob");
    sim::registry::setString(
        L"HKU\\" + sid +
            L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"Local AppData", L"%USERPROFILE%\\AppData\\Local", 2 /* REG_EXPAND_SZ */);
    EXPECT_EQ(specialFolderPath(SpecialFolder::LocalAppData, sid),
              L"C:\\Users\\bob\\AppData\\Local");
    EXPECT_EQ(specialFolderPath(SpecialFolder::LocalAppData),
              L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local");
    EXPECT_EQ(specialFolderPath(SpecialFolder::CommonAppData, sid), L"") << "not a user folder";
    EXPECT_EQ(specialFolderPath(SpecialFolder::AppData, L"S-1-5-21-0"), L"") << "no profile";
}

TEST(NamespaceResolverSim, InstalledNamespacesComeFromThe32BitView) {
    const std::wstring ns = L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\";
    sim::registry::setString(ns + L"Corp\\Corvane", L"InstallPath",
                             L"C:\\Program Files (x86)\\Tarn");
    sim::registry::setString(ns + L"Lab\\Corvane", L"InstallPath",
                             L"C:\\Program Files (x86)\\Tarn\\Lab\\");
    sim::registry::createKey(ns + L"Broken");
    sim::setModuleFileName(L"C:\\Program Files (x86)\\Tarn\\Lab\\plugins\\fw.dll");

    tarn::NamespaceResolver resolver;
    const auto installed = resolver.installedNamespaces();
    EXPECT_EQ(installed.size(), 2u);
    EXPECT_EQ(installed.at(L"Corp"), L"C:\\Program Files (x86)\\Tarn\\");
    EXPECT_EQ(resolver.getNamespace(), L"Lab");
    EXPECT_TRUE(resolver.isUnderFolder(L"c:\\program files (x86)\\x", 6));
    EXPECT_FALSE(resolver.isUnderFolder(L"C:\\Program Files (x86)\\x", 5));
}

}  // namespace
