// The simulated registry's own contract: the product's default view, the machine's standard
// content, the current user's hive, and the control side.
#include <gtest/gtest.h>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "sim/machine.h"
#include "sim/registry_control.h"
#include "sim/security_control.h"

namespace {

using tarn::UniqueHandle;
using tarn::UniqueHKey;

UniqueHKey create(HKEY root, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS) {
    UniqueHKey key;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    return key;
}

TEST(SimRegistry, AWow64ProcessWritesSoftwareToThe32BitView) {
    create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tarn");
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn"));
    EXPECT_FALSE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\Tarn"));
    create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Native", KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\Native"));
    // Keys outside SOFTWARE are not redirected.
    create(HKEY_LOCAL_MACHINE, L"SYSTEM\\Tarn");
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SYSTEM\\Tarn"));

    sim::registry::setWow64Process(false);
    create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wide");
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\Wide"));
}

TEST(SimRegistry, TheViewIsDecidedPerCallNotPerHandle) {
    UniqueHKey software;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            software.put()),
              ERROR_SUCCESS);
    // Without a flag the subkey goes to the process's view, as on Windows.
    create(software.get(), L"Relative");
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\WOW6432Node\\Relative"));
    // Without a subkey the handle is its own key.
    UniqueHKey same;
    ASSERT_EQ(RegOpenKeyExW(software.get(), L"", 0, KEY_ALL_ACCESS, same.put()), ERROR_SUCCESS);
    DWORD one = 1;
    ASSERT_EQ(RegSetValueExW(same.get(), L"Marker", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_SUCCESS);
    EXPECT_EQ(sim::registry::dwordValue(L"HKLM\\SOFTWARE", L"Marker"), 1u);
}

TEST(SimRegistry, AFreshMachineHasTheStandardFolders) {
    EXPECT_EQ(sim::registry::stringValue(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                                         L"ProgramFilesDir"),
              L"C:\\Program Files");
    EXPECT_EQ(
        sim::registry::stringValue(
            L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir"),
        L"C:\\Program Files (x86)");
    EXPECT_EQ(sim::registry::stringValue(
                  L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                  L"Local AppData"),
              L"C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local");
}

TEST(SimRegistry, CurrentUserFollowsTheAccount) {
    sim::security::setAccount(L"S-1-5-21-7-7-7-1001");
    create(HKEY_CURRENT_USER, L"Software\\Tarn");
    EXPECT_TRUE(sim::registry::keyExists(L"HKU\\S-1-5-21-7-7-7-1001\\Software\\Tarn"));
    EXPECT_FALSE(sim::registry::keyExists(L"HKU\\S-1-5-18\\Software\\Tarn"));
}

TEST(SimRegistry, HivesCannotBeMadeOrDeleted) {
    UniqueHKey key;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"NEWHIVE\\x", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SYSTEM"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"\\SOFTWARE", 0, KEY_READ, key.put()),
              ERROR_BAD_PATHNAME);
}

TEST(SimRegistry, CountsOpenKeysAndInjectsFailures) {
    const size_t before = sim::registry::openKeyCount();
    {
        UniqueHKey key = create(HKEY_CURRENT_USER, L"Software\\Counted");
        EXPECT_EQ(sim::registry::openKeyCount(), before + 1);
    }
    EXPECT_EQ(sim::registry::openKeyCount(), before);

    sim::failCall("RegOpenKeyExW", 1, ERROR_ACCESS_DENIED);
    UniqueHKey key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
}

TEST(SimRegistry, ChangesFromTheControlSideNotifyWatchers) {
    sim::registry::createKey(L"HKLM\\SOFTWARE\\Policies\\Watched");
    UniqueHKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Watched", 0,
                            KEY_NOTIFY | KEY_WOW64_64KEY, key.put()),
              ERROR_SUCCESS);
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_EQ(
        RegNotifyChangeKeyValue(key.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET, event.get(), TRUE),
        ERROR_SUCCESS);
    sim::registry::setDword(L"HKLM\\SOFTWARE\\Policies\\Watched\\Deep", L"On", 1);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST(SimRegistry, ResetLeavesOldHandlesDeleted) {
    UniqueHKey key = create(HKEY_CURRENT_USER, L"Software\\Old");
    sim::reset();
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key.get(), L"x", nullptr, nullptr, nullptr, &size),
              ERROR_KEY_DELETED);
}

}  // namespace
