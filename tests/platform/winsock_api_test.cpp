// Winsock start-up and name resolution of address literals, on the simulated machine and on
// Windows alike (address texts: tests/rules/winsock_text_test.cpp).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win.h"

namespace {

TEST(Winsock, NamesAreNotResolvedBeforeStartUp) {
    ADDRINFOW* result = nullptr;
    EXPECT_EQ(GetAddrInfoW(L"127.0.0.1", nullptr, nullptr, &result), WSANOTINITIALISED);
}

TEST(Winsock, CleanUpCountsTheStartUps) {
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

class Resolution : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

TEST_F(Resolution, AddressLiteralsResolveToThemselves) {
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    ADDRINFOW* result = nullptr;
    ASSERT_EQ(GetAddrInfoW(L"10.1.2.3", nullptr, &hints, &result), 0);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->ai_family, AF_INET);
    ASSERT_EQ(result->ai_addrlen, sizeof(SOCKADDR_IN));
    const auto* v4 = reinterpret_cast<const SOCKADDR_IN*>(result->ai_addr);
    const unsigned char expected[] = {10, 1, 2, 3};
    EXPECT_EQ(std::memcmp(&v4->sin_addr, expected, 4), 0);
    FreeAddrInfoW(result);

    hints.ai_family = AF_INET6;
    ASSERT_EQ(GetAddrInfoW(L"fe80::1", nullptr, &hints, &result), 0);
    EXPECT_EQ(result->ai_family, AF_INET6);
    FreeAddrInfoW(result);

    hints.ai_family = AF_INET6;
    EXPECT_NE(GetAddrInfoW(L"10.1.2.3", nullptr, &hints, &result), 0)
        << "an IPv4 literal has no IPv6 address";
}

}  // namespace
