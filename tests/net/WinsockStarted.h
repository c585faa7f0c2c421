// The address texts need Winsock. The library starts it when it is loaded, but the simulated
// machine forgets that start-up whenever a test resets it: each test starts its own.
#pragma once

#include <gtest/gtest.h>

#include "platform/win.h"

namespace tarn::test {

class WinsockStarted : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

}  // namespace tarn::test
