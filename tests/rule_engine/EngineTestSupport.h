// The rule engine's test fixture: a fresh simulated firewall with a live policy.
#pragma once

#include "tests/rule_engine/EngineDoubles.h"

#include <gtest/gtest.h>

#include "rules/CoInitializer.h"
#include "sim/machine.h"
#include "tests/support/LogCapture.h"

namespace tarn::test {

// A fresh simulated firewall with a live policy, the doubles, and the rule actions on them.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset();
        ASSERT_TRUE(holder->beSureThatInterfaceIsAlive(true));
    }

    // Counts of firewall writes and reads of what `work` does.
    template <class Work>
    std::pair<uint64_t, uint64_t> writesAndReads(Work work) {
        const uint64_t writes = sim::firewall::writes();
        const uint64_t reads = sim::firewall::reads();
        work();
        return {sim::firewall::writes() - writes, sim::firewall::reads() - reads};
    }

    CoInitializer com;
    LogCapture log;
    Stoppable stop;
    std::shared_ptr<FakeProvider> provider = std::make_shared<FakeProvider>();
    std::shared_ptr<CountingAlerts> alerts = std::make_shared<CountingAlerts>();
    std::shared_ptr<SimPolicyHolder> holder = std::make_shared<SimPolicyHolder>();
    std::shared_ptr<SimRuleActions> actions =
        std::make_shared<SimRuleActions>(stop, provider, alerts, holder);
};

}  // namespace tarn::test
