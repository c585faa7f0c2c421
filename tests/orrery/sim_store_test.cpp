// What the store costs the machine, counted by the simulated machine.
#include <gtest/gtest.h>

#include "platform/win.h"
#include "sim/machine.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

TEST(OrrerySim, AnotherHandleOnAnUnchangedStoreDoesNotReadItAgain) {
    tarn::test::StoreRoot root;
    const auto first = root.open();
    ASSERT_EQ(PyxOrrery_SetInt32(first.get(), L"k", 1), PYX_ORRERY_OK);
    // Reading the document opens its file; the version mark lives in the open lock file.
    const auto before = sim::callCount("CreateFileW");
    const auto second = root.open();
    const auto third = root.open();
    EXPECT_EQ(sim::callCount("CreateFileW"), before);
    // A write of another handle is seen by the next one.
    ASSERT_EQ(PyxOrrery_SetInt32(second.get(), L"k", 2), PYX_ORRERY_OK);
    const auto fourth = root.open();
    EXPECT_EQ(PyxOrrery_GetInt32(fourth.get(), L"k", 0, nullptr), 2);
}

}  // namespace
