// Security descriptors and the process token as the logger uses them, on the simulated machine
// and on Windows alike.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/WinHandles.h"
#include "platform/win.h"

namespace {

using tarn::UniqueHandle;
using tarn::UniqueLocalMemory;

TEST(SecurityApi, ConvertsTheDescriptorsTheLoggerWrites) {
    for (const wchar_t* sddl :
         {L"D:(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)", L"D:(A;;GA;;;SY)(A;;GA;;;BA)",
          L"O:BAG:SYD:P(D;;FA;;;WD)", L"D:(A;;0x1f0003;;;S-1-5-21-1-2-3-1001)"}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ULONG size = 0;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                         &descriptor, &size))
            << "SDDL: " << std::wstring(sddl).size() << " characters, error " << GetLastError();
        const UniqueLocalMemory owner(descriptor);
        EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
        EXPECT_GT(size, 20u);
    }
}

TEST(SecurityApi, RefusesMalformedDescriptorsAndOtherRevisions) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    for (const wchar_t* sddl : {L"garbage", L"D:(A;;GA;;;SY", L"D:(Q;;GA;;;SY)",
                                L"D:(A;;GA;;;S-1-x)", L"X:(A;;GA;;;SY)"}) {
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                          &descriptor, nullptr))
            << "accepted entry " << std::wstring(sddl).size();
    }
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)", 2,
                                                                      &descriptor, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
}

TEST(SecurityApi, TheTokenNamesTheProcessAccountAfterASizeQuery) {
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    DWORD size = 0;
    EXPECT_FALSE(GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, data.data(), size, &size));
    PSID sid = reinterpret_cast<TOKEN_USER*>(data.data())->User.Sid;
    ASSERT_TRUE(IsValidSid(sid));
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(sid, &text));
    const UniqueLocalMemory owner(text);
    EXPECT_EQ(std::wstring(text).substr(0, 4), L"S-1-");

    ASSERT_FALSE(GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size));
    data.resize(size);
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenIntegrityLevel, data.data(), size, &size));
    PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(data.data())->Label.Sid;
    const DWORD rid = *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1u);
    EXPECT_GE(rid, static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID));
}

}  // namespace
