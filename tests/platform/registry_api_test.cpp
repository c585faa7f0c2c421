// The registry as the system meets it, on the simulated machine and on Windows alike: the size
// protocol of value reads, registry views, enumeration, deletion and change notification.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "tests/support/TestRegistryKey.h"

namespace {

using tarn::UniqueHandle;
using tarn::UniqueHKey;
using tarn::test::TestRegistryKey;

constexpr DWORD kSignalledWithin = 5000;  // ms; a fired notification is seen at once

UniqueHKey openKey(HKEY root, const std::wstring& path, REGSAM access) {
    UniqueHKey key;
    EXPECT_EQ(RegOpenKeyExW(root, path.c_str(), 0, access, key.put()), ERROR_SUCCESS);
    return key;
}

UniqueHKey createKey(HKEY root, const std::wstring& path, REGSAM access = KEY_ALL_ACCESS) {
    UniqueHKey key;
    EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    return key;
}

LSTATUS setString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LSTATUS setDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

UniqueHandle manualEvent() {
    return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

bool signalled(const UniqueHandle& event, DWORD wait = 0) {
    return WaitForSingleObject(event.get(), wait) == WAIT_OBJECT_0;
}

class RegistryApi : public ::testing::Test {
protected:
    TestRegistryKey m_base{HKEY_CURRENT_USER, L"Software"};
    UniqueHKey m_key = openKey(HKEY_CURRENT_USER, m_base.path(), KEY_ALL_ACCESS);
};

TEST_F(RegistryApi, QueryValueTellsTheSizeAndAsksForMoreRoom) {
    ASSERT_EQ(setString(m_key.get(), L"Text", L"hello"), ERROR_SUCCESS);
    const DWORD full = 6 * sizeof(wchar_t);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(m_key.get(), L"Text", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, full);

    BYTE buffer[64] = {};
    size = 2;
    EXPECT_EQ(RegQueryValueExW(m_key.get(), L"Text", nullptr, &type, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, full);

    size = full;
    EXPECT_EQ(RegQueryValueExW(m_key.get(), L"text", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer)), L"hello");

    EXPECT_EQ(RegQueryValueExW(m_key.get(), L"Text", nullptr, &type, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(m_key.get(), L"Missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, CreateReportsDispositionAndNamesIgnoreCase) {
    DWORD disposition = 0;
    UniqueHKey created;
    ASSERT_EQ(RegCreateKeyExW(m_key.get(), L"Sub\\Deeper", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, created.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    UniqueHKey again;
    ASSERT_EQ(RegCreateKeyExW(m_key.get(), L"SUB\\deeper", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, again.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    UniqueHKey missing;
    EXPECT_EQ(RegOpenKeyExW(m_key.get(), L"Sub\\Other", 0, KEY_READ, missing.put()),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, SubkeysEnumerateInNameOrderWithoutRegardToCase) {
    for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"}) {
        createKey(m_key.get(), name);
    }
    std::vector<std::wstring> names;
    wchar_t name[256];
    DWORD length = 256;
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKeyW(m_key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 3u);
    for (DWORD i = 0; RegEnumKeyExW(m_key.get(), i, name, &length, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, length = 256) {
        names.emplace_back(name, length);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));
    length = 3;  // "Alpha" needs 6 characters
    EXPECT_EQ(RegEnumKeyExW(m_key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 256;
    EXPECT_EQ(RegEnumKeyExW(m_key.get(), 3, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryApi, ValuesEnumerateWithTheirData) {
    ASSERT_EQ(setDword(m_key.get(), L"Number", 7), ERROR_SUCCESS);
    wchar_t name[32];
    DWORD length = 32;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = 2;
    EXPECT_EQ(RegEnumValueW(m_key.get(), 0, name, &length, nullptr, &type,
                            reinterpret_cast<BYTE*>(&data), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof data);
    length = 32;
    ASSERT_EQ(RegEnumValueW(m_key.get(), 0, name, &length, nullptr, &type,
                            reinterpret_cast<BYTE*>(&data), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name, length), L"Number");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(data, 7u);
    length = 32;
    EXPECT_EQ(RegEnumValueW(m_key.get(), 1, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryApi, HandlesKeepTheirAccessRights) {
    UniqueHKey readOnly = openKey(HKEY_CURRENT_USER, m_base.path(), KEY_READ);
    EXPECT_EQ(setDword(readOnly.get(), L"Number", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setDword(m_key.get(), L"Number", 1), ERROR_SUCCESS);
}

TEST_F(RegistryApi, KeysWithSubkeysAreDeletedOnlyAsATree) {
    createKey(m_key.get(), L"Parent\\Child");
    EXPECT_EQ(RegDeleteKeyW(m_key.get(), L"Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(m_key.get(), L"Parent"), ERROR_SUCCESS);
    UniqueHKey gone;
    EXPECT_EQ(RegOpenKeyExW(m_key.get(), L"Parent", 0, KEY_READ, gone.put()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(m_key.get(), L"Parent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, GetValueTerminatesExpandsAndChecksTypes) {
    const std::wstring unterminated = L"abc";
    ASSERT_EQ(RegSetValueExW(m_key.get(), L"Bare", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(unterminated.data()),
                             static_cast<DWORD>(unterminated.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(RegGetValueW(m_key.get(), nullptr, L"Bare", RRF_RT_REG_SZ, nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 4 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(text), L"abc");

    const std::wstring variable = L"%SystemRoot%\\x";
    ASSERT_EQ(RegSetValueExW(m_key.get(), L"Expand", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(variable.c_str()),
                             static_cast<DWORD>((variable.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    size = sizeof text;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, m_base.path().c_str(), L"Expand", RRF_RT_REG_SZ,
                           nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text).find(L'%'), std::wstring::npos) << "expanded: " << text;

    DWORD number = 0;
    size = sizeof number;
    EXPECT_EQ(
        RegGetValueW(m_key.get(), nullptr, L"Bare", RRF_RT_REG_DWORD, nullptr, &number, &size),
        ERROR_UNSUPPORTED_TYPE);
}

TEST_F(RegistryApi, NamesFoldCaseBeyondAscii) {
    UniqueHKey created = createKey(m_key.get(), L"\u00DCber \u041A\u043B\u044E\u0447");
    ASSERT_EQ(setString(created.get(), L"Gr\u00F6\u00DFe \u03C9", L"v"), ERROR_SUCCESS);
    UniqueHKey opened = openKey(m_key.get(), L"\u00FCBER \u043A\u041B\u042E\u0427", KEY_READ);
    ASSERT_TRUE(opened);
    wchar_t text[8] = {};
    DWORD size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(opened.get(), L"GR\u00D6\u00DFE \u03A9", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"v");
    // Case is folded character by character: the sharp s has no one-character upper case.
    EXPECT_EQ(
        RegQueryValueExW(opened.get(), L"GR\u00D6SSE \u03A9", nullptr, nullptr, nullptr, nullptr),
        ERROR_FILE_NOT_FOUND);
}

TEST(RegistryUsers, TheDefaultHiveIsTheSystemAccountsHive) {
    TestRegistryKey key(HKEY_USERS, L".DEFAULT\\Software");
    UniqueHKey written = openKey(HKEY_USERS, key.path(), KEY_SET_VALUE);
    ASSERT_EQ(setDword(written.get(), L"Seen", 1), ERROR_SUCCESS);
    UniqueHKey system;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, (L"S-1-5-18\\Software\\" + key.name()).c_str(), 0,
                            KEY_QUERY_VALUE, system.put()),
              ERROR_SUCCESS);
    DWORD seen = 0;
    DWORD size = sizeof seen;
    EXPECT_EQ(RegQueryValueExW(system.get(), L"Seen", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&seen), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(seen, 1u);
}

TEST(RegistryViews, The32BitViewLivesBelowWow6432Node) {
    TestRegistryKey key(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_WOW64_32KEY);
    UniqueHKey wrong;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.path().c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                            wrong.put()),
              ERROR_FILE_NOT_FOUND);
    UniqueHKey physical;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\WOW6432Node\\" + key.name()).c_str(),
                            0, KEY_READ | KEY_WOW64_64KEY, physical.put()),
              ERROR_SUCCESS);
}

TEST(RegistryViews, BothViewFlagsTogetherAreRefused) {
    UniqueHKey both;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0,
                            KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, both.put()),
              ERROR_INVALID_PARAMETER);
}

class RegistryNotification : public RegistryApi {
protected:
    LSTATUS arm(HKEY key, DWORD filter, bool subtree = false) {
        return RegNotifyChangeKeyValue(key, subtree ? TRUE : FALSE, filter, m_event.get(), TRUE);
    }
    UniqueHandle m_event = manualEvent();
};

TEST_F(RegistryNotification, FiresOncePerArming) {
    ASSERT_EQ(arm(m_key.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
    ASSERT_EQ(setDword(m_key.get(), L"Value", 1), ERROR_SUCCESS);
    EXPECT_TRUE(signalled(m_event, kSignalledWithin));

    ResetEvent(m_event.get());
    ASSERT_EQ(setDword(m_key.get(), L"Value", 2), ERROR_SUCCESS);
    EXPECT_FALSE(signalled(m_event)) << "a notification that fired must be armed again";

    ASSERT_EQ(arm(m_key.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
    ASSERT_EQ(setDword(m_key.get(), L"Value", 3), ERROR_SUCCESS);
    EXPECT_TRUE(signalled(m_event, kSignalledWithin));
}

TEST_F(RegistryNotification, ArmingResetsAnEventThatIsSet) {
    SetEvent(m_event.get());
    ASSERT_EQ(arm(m_key.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
    EXPECT_FALSE(signalled(m_event));
}

TEST_F(RegistryNotification, ClosingTheKeyFiresIt) {
    UniqueHKey watched = openKey(HKEY_CURRENT_USER, m_base.path(), KEY_NOTIFY);
    ASSERT_EQ(arm(watched.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
    EXPECT_FALSE(signalled(m_event));
    watched.reset();
    EXPECT_TRUE(signalled(m_event, kSignalledWithin));
}

TEST_F(RegistryNotification, ADeletedKeyCannotBeArmedAgain) {
    UniqueHKey child = createKey(m_key.get(), L"Child", KEY_NOTIFY | KEY_READ);
    ASSERT_EQ(RegDeleteKeyW(m_key.get(), L"Child"), ERROR_SUCCESS);
    EXPECT_EQ(arm(child.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_KEY_DELETED);
}

TEST_F(RegistryNotification, DeletingAWatchedKeyFiresTheWatch) {
    UniqueHKey child = createKey(m_key.get(), L"Child", KEY_NOTIFY | KEY_READ);
    ASSERT_EQ(arm(child.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(m_key.get(), L"Child"), ERROR_SUCCESS);
    EXPECT_TRUE(signalled(m_event, kSignalledWithin));
}

// Two watches of one key, each through its own handle and event.
class TwoWatches : public RegistryNotification {
protected:
    UniqueHKey m_child = createKey(m_key.get(), L"Child");
    UniqueHKey m_second = openKey(HKEY_CURRENT_USER, m_base.path(), KEY_NOTIFY);
    UniqueHandle m_secondEvent = manualEvent();
    LSTATUS armSecond(DWORD filter, bool subtree) {
        return RegNotifyChangeKeyValue(m_second.get(), subtree ? TRUE : FALSE, filter,
                                       m_secondEvent.get(), TRUE);
    }
};

TEST_F(TwoWatches, ValuesBelowTheKeyCountOnlyForASubtreeWatch) {
    ASSERT_EQ(arm(m_key.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_SUCCESS);
    ASSERT_EQ(armSecond(REG_NOTIFY_CHANGE_LAST_SET, true), ERROR_SUCCESS);
    ASSERT_EQ(setDword(m_child.get(), L"Value", 1), ERROR_SUCCESS);
    EXPECT_TRUE(signalled(m_secondEvent, kSignalledWithin));
    EXPECT_FALSE(signalled(m_event));
    ASSERT_EQ(setDword(m_key.get(), L"Value", 1), ERROR_SUCCESS);
    EXPECT_TRUE(signalled(m_event, kSignalledWithin));
}

TEST_F(TwoWatches, NewSubkeysAreNameChangesNotValueChanges) {
    ASSERT_EQ(arm(m_key.get(), REG_NOTIFY_CHANGE_LAST_SET, true), ERROR_SUCCESS);
    ASSERT_EQ(armSecond(REG_NOTIFY_CHANGE_NAME, true), ERROR_SUCCESS);
    createKey(m_child.get(), L"Grandchild");
    EXPECT_TRUE(signalled(m_secondEvent, kSignalledWithin));
    EXPECT_FALSE(signalled(m_event));
}

TEST_F(RegistryNotification, AWatchKeepsItsEventWhenTheHandleCloses) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(RegNotifyChangeKeyValue(m_key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, first, TRUE),
              ERROR_SUCCESS);
    ASSERT_TRUE(CloseHandle(first));
    // Later events may get the closed value; the watch must not set them.
    std::vector<UniqueHandle> later;
    for (int i = 0; i < 8; ++i) {
        later.push_back(manualEvent());
    }
    ASSERT_EQ(setDword(m_key.get(), L"Value", 1), ERROR_SUCCESS);
    for (const auto& event : later) {
        EXPECT_FALSE(signalled(event, 50));
    }
}

TEST_F(RegistryNotification, AWatchNeedsNotifyAccess) {
    UniqueHKey readOnly = openKey(HKEY_CURRENT_USER, m_base.path(), KEY_QUERY_VALUE);
    EXPECT_EQ(arm(readOnly.get(), REG_NOTIFY_CHANGE_LAST_SET), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryNotification, AWatchNeedsAFilter) {
    EXPECT_EQ(arm(m_key.get(), 0), ERROR_INVALID_PARAMETER);
}

}  // namespace
