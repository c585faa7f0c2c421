// The simulated process's account and the security the machine remembers per object.
#include <gtest/gtest.h>

#include <vector>

#include "common/WinHandles.h"
#include "platform/win.h"
#include "sim/security_control.h"
#include "tests/support/TempDir.h"

namespace {

using tarn::UniqueHandle;
using tarn::UniqueLocalMemory;

struct Identity {
    std::wstring sid;
    DWORD integrity;
};

Identity processIdentity() {
    UniqueHandle token;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    std::vector<BYTE> user(256);
    std::vector<BYTE> label(256);
    DWORD size = 0;
    EXPECT_TRUE(GetTokenInformation(token.get(), TokenUser, user.data(), 256, &size));
    EXPECT_TRUE(GetTokenInformation(token.get(), TokenIntegrityLevel, label.data(), 256, &size));
    LPWSTR text = nullptr;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    EXPECT_TRUE(ConvertSidToStringSidW(sid, &text));
    const UniqueLocalMemory owner(text);
    PSID labelSid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    return {text, *GetSidSubAuthority(labelSid, *GetSidSubAuthorityCount(labelSid) - 1u)};
}

TEST(SimSecurity, TheProcessRunsAsTheSystemAccountUnlessToldOtherwise) {
    Identity identity = processIdentity();
    EXPECT_EQ(identity.sid, L"S-1-5-18");
    EXPECT_EQ(identity.integrity, static_cast<DWORD>(SECURITY_MANDATORY_SYSTEM_RID));

    sim::security::setAccount(L"S-1-5-21-1-2-3-1001");
    sim::security::setIntegrityLevel(SECURITY_MANDATORY_LOW_RID);
    identity = processIdentity();
    EXPECT_EQ(identity.sid, L"S-1-5-21-1-2-3-1001");
    EXPECT_EQ(identity.integrity, static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID));
}

TEST(SimSecurity, WellKnownSidsAreRecognised) {
    PSID system = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"SY", &system));
    const UniqueLocalMemory owner(system);
    EXPECT_TRUE(IsWellKnownSid(system, WinLocalSystemSid));
    EXPECT_FALSE(IsWellKnownSid(system, WinLocalServiceSid));
    EXPECT_EQ(GetLengthSid(system), 12u);
}

TEST(SimSecurity, MalformedDescriptorsGiveWindowsErrors) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;GA;;;QQ)", SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(OA;;GA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SimSecurity, RemembersTheDescriptorsObjectsWereCreatedWith) {
    const wchar_t* sddl = L"D:P(A;OICI;GA;;;SY)(A;OICI;GRGX;;;AU)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    const UniqueLocalMemory owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};

    tarn::test::TempDir dir;
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"secured").c_str(), &attributes));
    EXPECT_EQ(sim::security::directorySecurity(dir.file(L"secured")), sddl);
    ASSERT_TRUE(CreateDirectoryW(dir.file(L"plain").c_str(), nullptr));
    EXPECT_EQ(sim::security::directorySecurity(dir.file(L"plain")), std::nullopt);

    UniqueHandle mutex(CreateMutexW(&attributes, FALSE, L"Global\\TarnSimSecurityTest"));
    ASSERT_TRUE(mutex);
    EXPECT_EQ(sim::security::mutexSecurity(L"Global\\TarnSimSecurityTest"), sddl);

    BYTE garbage[32] = {};
    SECURITY_ATTRIBUTES bad{sizeof bad, garbage, FALSE};
    EXPECT_FALSE(CreateDirectoryW(dir.file(L"bad").c_str(), &bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
}

}  // namespace
