// Where a refusal points, how check's lines read, which policies check previews and what an
// endpoint keeps of its own writes.
#include <gtest/gtest.h>

#include "tools/policy/PolicyTool.h"

namespace {

using nlohmann::json;
using tarn::policy::Refusal;

TEST(OffendingMembers, EachReasonBlamesItsMember) {
    const struct {
        const char* reason;
        const char* part;
        std::vector<std::string> members;
    } cases[] = {
        {"Member has the wrong type",
         "remote_addresses,interfaces",
         {"remote_addresses", "interfaces"}},
        {"Protocol is invalid", "tcp", {"protocol"}},
        {"Name is too short", "", {"name"}},
        {"This rule has the same name as another rule", "", {"name"}},
        {"Local address is invalid", "x", {"local_addresses"}},
        {"Local address is invalid. Rule has been applied only partially",
         "x",
         {"local_addresses"}},
        {"Remote address is invalid. Rule has been applied only partially",
         "x",
         {"remote_addresses"}},
        {"This rule blocks DNS services", "1-100", {"remote_ports"}},
        {"Failed to set local ports", "abc", {"local_ports"}},
        {"Failed to set profiles", "7", {"network_type"}},
        {"Failed to set app package id", "x", {"application_package_id"}},
        {"Failed to add rule", "", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tarn::policy::offendingMembers(c.reason, c.part), c.members) << c.reason;
    }
}

TEST(ProblemLines, OneLinePerPlaceOnceEach) {
    Refusal typed{"Web", "Member has the wrong type", "a,b", "", {}, {"p.a", "p.b"}};
    Refusal lanshare{"Tarn Lanshare (TCP 1:in)", "Failed to add rule", "", "", {}, {}};
    EXPECT_EQ(
        tarn::policy::problemLines({typed, lanshare, typed}),
        (std::vector<std::string>{
            R"(p.a: rule "Web": Member has the wrong type (invalid: a,b))",
            R"(p.b: rule "Web": Member has the wrong type (invalid: a,b))",
            R"x((no place in the policy): rule "Tarn Lanshare (TCP 1:in)": Failed to add rule)x"}));
}

TEST(CheckVariants, EachProfileOnceByHandThenIsolation) {
    const json policy = json::parse(R"({"windows": {"firewall": {
        "enabled": false, "current_profile_name": "b",
        "automatic_profile_selection": {"enabled": true, "rules": []},
        "profiles": [{"profile_name": "a"}, {"profile_name": "b"}, {"profile_name": "a"},
                     {"rules": []}],
        "network_isolation": {"enabled": false, "profile_name": "iso"}}}})");
    const auto variants = tarn::policy::checkVariants(policy);
    ASSERT_EQ(variants.size(), 3u);
    const auto firewall = [&](size_t i) { return variants[i]["windows"]["firewall"]; };
    EXPECT_EQ(firewall(0)["current_profile_name"], "a");
    EXPECT_EQ(firewall(1)["current_profile_name"], "b");
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(firewall(i)["enabled"], true);
        EXPECT_EQ(firewall(i)["automatic_profile_selection"]["enabled"], false);
        EXPECT_EQ(firewall(i)["network_isolation"]["enabled"], i == 2);
    }
}

TEST(CarryEndpointState, ThePluginsOwnKeysSurviveANewPolicy) {
    const json earlier = json::parse(R"({"windows": {"firewall": {
        "current_autoselected_profile_name": "office", "profiles": []}},
        "local": {"windows": {"ferry2": {"port": 1}}},
        "status": {"windows": {"firewall": {"installed_rules": ["Old rule"]},
                               "orrery": {"last_successful_update_timestamp": 1}}}})");
    const json next =
        json::parse(R"({"windows": {"firewall": {"profiles": [{"profile_name": "x"}]}},
        "status": {"windows": {"orrery": {"last_successful_update_timestamp": 2},
                               "av": {"state": 1}}}})");
    const json carried = tarn::policy::carryEndpointState(next, earlier);
    EXPECT_EQ(carried["windows"]["firewall"]["profiles"], next["windows"]["firewall"]["profiles"]);
    EXPECT_EQ(carried["windows"]["firewall"]["current_autoselected_profile_name"], "office");
    EXPECT_EQ(carried["local"], earlier["local"]);
    EXPECT_EQ(carried["status"]["windows"]["firewall"]["installed_rules"],
              json::array({"Old rule"}));
    EXPECT_EQ(carried["status"]["windows"]["orrery"]["last_successful_update_timestamp"], 1);
    EXPECT_EQ(carried["status"]["windows"]["av"]["state"], 1);
}

TEST(PolicyTool, UsageErrorsExitWithTwo) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(tarn::policy::run({}, out, err), 2);
    EXPECT_EQ(tarn::policy::run({L"preview", L"--bogus"}, out, err), 2);
    EXPECT_EQ(tarn::policy::run({L"preview"}, out, err), 2);
    EXPECT_EQ(tarn::policy::run({L"--help"}, out, err), 0);
    EXPECT_NE(out.str().find("tarn_policy check"), std::string::npos);
}

}  // namespace
