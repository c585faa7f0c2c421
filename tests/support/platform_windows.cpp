#include <gtest/gtest.h>

namespace tarn::test {

// A real Windows (or wine) machine cannot be reset: tests clean up after themselves.
void installPlatformListener(::testing::TestEventListeners&) {}

}  // namespace tarn::test
