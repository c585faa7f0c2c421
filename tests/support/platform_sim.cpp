#include <gtest/gtest.h>

#include "sim/machine.h"

namespace tarn::test {

namespace {

class FreshMachine : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { sim::reset(); }
};

}  // namespace

void installPlatformListener(::testing::TestEventListeners& listeners) {
    listeners.Append(new FreshMachine);  // gtest owns its listeners
}

}  // namespace tarn::test
