#include <gtest/gtest.h>

namespace tarn::test {
// Per target: on the simulated machine every test starts on a fresh machine.
void installPlatformListener(::testing::TestEventListeners& listeners);
}  // namespace tarn::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tarn::test::installPlatformListener(::testing::UnitTest::GetInstance()->listeners());
    return RUN_ALL_TESTS();
}
