// The system's alert and event senders with the libraries they are linked with: what reaches
// the spool. Runs on the simulated machine and under wine.
#include <gtest/gtest.h>

#include "monitoring/FWAlertApi.h"
#include "monitoring/TarnEventSender.h"
#include "settings/FWRule.h"
#include "tests/spool/SpoolRoot.h"

namespace {

TEST(SendersWithTheLibraries, AnAlertAndTwoIsolationEventsReachTheSpool) {
    tarn::test::SpoolRoot root;
    FWAlertApi alerts(L"tenant-a");
    FWRule rule;
    rule.name = L"Allow DNS";
    alerts.sendRuleApplicationFailedAlert(rule, L"Remote address is invalid", L"10.0.0.300");
    TarnEventSender events(L"tenant-a");
    events.sendIsolationEvent(true);
    events.sendIsolationEvent(false);
    const auto entries = root.entries(L"tenant-a");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]["type"], "firewall.tarn_rule_application.failed");
    EXPECT_EQ(
        entries[0]["payload"],
        nlohmann::json::parse(
            R"j({"ruleName":"Allow DNS","error":"Remote address is invalid","data":"10.0.0.300"})j"));
    EXPECT_EQ(entries[1]["type"], "network_isolation.enable");
    EXPECT_EQ(entries[1]["payload"]["kind"], 1);
    EXPECT_EQ(entries[2]["type"], "network_isolation.disable");
    EXPECT_EQ(entries[2]["payload"]["kind"], 2);
}

}  // namespace
