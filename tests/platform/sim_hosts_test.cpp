// Names that the simulated DNS table does not hold come from the machine's hosts file.
#include <gtest/gtest.h>

#include "platform/win.h"
#include "sim/winsock_control.h"
#include "tests/support/HostsFile.h"

namespace {

std::vector<std::wstring> resolve(const wchar_t* name) {
    std::vector<std::wstring> texts;
    ADDRINFOW* result = nullptr;
    if (GetAddrInfoW(name, nullptr, nullptr, &result) != 0) {
        return texts;
    }
    for (const ADDRINFOW* item = result; item != nullptr; item = item->ai_next) {
        wchar_t text[128] = {};
        DWORD length = 128;
        WSAAddressToStringW(item->ai_addr, static_cast<DWORD>(item->ai_addrlen), nullptr, text,
                            &length);
        texts.emplace_back(text);
    }
    FreeAddrInfoW(result);
    return texts;
}

TEST(SimHostsFile, AnswersNamesTheTableDoesNotHold) {
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    const tarn::test::HostsFile hosts(
        "# comment line\n"
        "10.7.0.1   hosts-only.example  alias.hosts-only.example  # trailing comment\n"
        "2001:db8::7 Hosts-Only.Example\n"
        "10.7.0.9   other.hosts-only.example\n");
    sim::winsock::setDnsAnswer(L"alias.hosts-only.example", {L"10.8.0.1"});

    EXPECT_EQ(resolve(L"HOSTS-ONLY.example"),
              (std::vector<std::wstring>{L"10.7.0.1", L"2001:db8::7"}));
    EXPECT_EQ(resolve(L"alias.hosts-only.example"), std::vector<std::wstring>{L"10.8.0.1"})
        << "the table wins over the file";
    EXPECT_TRUE(resolve(L"missing.hosts-only.example").empty());
    hosts.remove();
    EXPECT_TRUE(resolve(L"hosts-only.example").empty());
    WSACleanup();
}

}  // namespace
