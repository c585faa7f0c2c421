// Rule objects of the store into rule records: cleaning, parsing, addresses, refusals.
#include "tests/settings/ProviderTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

using tarn::test::ProviderTest;
using tarn::test::Report;

class RuleReadingTest : public ProviderTest {
protected:
    void SetUp() override {
        hosts = {{L"two.example", {L"10.1.1.2", L"10.1.1.1"}}, {L"v6.example", {L"fe80::1%3"}}};
        start();
    }
    // The one rule read from a one-element array (none when it was refused).
    std::optional<FWRule> readOne(const std::string& ruleJson) {
        const auto rules = readRules("[" + ruleJson + "]");
        return rules.empty() ? std::nullopt : std::optional<FWRule>(rules.front());
    }
};

TEST_F(RuleReadingTest, FieldsAreCleanedAndParsed) {
    tarn::test::LogCapture log;
    const auto rule = readOne(R"({"name": "a|b\tcdefgh\u0085", "description": "x|\u0007y",
        "protocol": "", "direction": "out", "action": "sideways", "network_type": "private",
        "local_ports": " 80, 443 ", "remote_ports": "1000 -2000", "icmp_types_and_codes": "8 : *",
        "local_addresses": "::/0", "remote_addresses": " 10.0.0.2 ,two.example, LOCALSUBNET",
        "application_path": "C:\\A B\\x.exe", "service_name": "svc", "interface_types": "Lan",
        "interfaces": ["eth0", "wlan0"], "allow_edge_traversal": true, "send_alerts": true})");
    ASSERT_TRUE(rule) << log.dump();
    EXPECT_EQ(rule->name, L"abcdefgh");
    EXPECT_EQ(rule->description, L"xy");
    EXPECT_EQ(rule->protocol, 6);
    EXPECT_EQ(rule->direction, FWRule::Direction::Out);
    EXPECT_EQ(rule->action, FWRule::Action::Allow);
    EXPECT_EQ(rule->networkType, FWRule::NetworkPrivate);
    EXPECT_EQ(rule->localPorts, L"80,443");
    EXPECT_EQ(rule->remotePorts, L"1000-2000");
    EXPECT_EQ(rule->icmpTypesAndCodes, L"8:*");
    EXPECT_EQ(rule->localAddresses, L"");
    EXPECT_EQ(rule->remoteAddresses, L"10.0.0.2,10.1.1.1,10.1.1.2,LocalSubnet");
    EXPECT_EQ(rule->applicationPath, L"C:\\A B\\x.exe");
    EXPECT_EQ(rule->serviceName, L"svc");
    EXPECT_EQ(rule->interfaceTypes, L"Lan");
    EXPECT_EQ(rule->interfaces, (std::vector<std::wstring>{L"eth0", L"wlan0"}));
    EXPECT_TRUE(rule->edgeTraversal);
    EXPECT_TRUE(rule->sendAlerts);
    EXPECT_TRUE(rule->enabled);
    EXPECT_TRUE(log.contains("Wrong action: sideways", 3));
    EXPECT_EQ(resolved, std::vector<std::wstring>{L"two.example"});
    EXPECT_TRUE(reports.empty());
}

TEST_F(RuleReadingTest, ProtocolTexts) {
    // "any" is every protocol; a text that is no number is no protocol (not 0, HOPOPT).
    const std::pair<std::string, std::optional<int32_t>> cases[] = {{"", 6},
                                                                    {"17", 17},
                                                                    {" 58", 58},
                                                                    {"any", 256},
                                                                    {"0", 0},
                                                                    {"tcp", std::nullopt},
                                                                    {"Any", std::nullopt},
                                                                    {"6a", std::nullopt},
                                                                    {"-1", std::nullopt},
                                                                    {" ", std::nullopt},
                                                                    {"+6", std::nullopt}};
    for (const auto& [text, protocol] : cases) {
        reports.clear();
        const auto rule = readOne(R"({"name": "protocol rule", "protocol": ")" + text + R"("})");
        ASSERT_EQ(rule.has_value(), protocol.has_value()) << text;
        if (protocol) {
            EXPECT_EQ(rule->protocol, *protocol) << text;
            EXPECT_TRUE(reports.empty()) << text;
        } else {
            EXPECT_EQ(reports, (std::vector<Report>{{L"protocol rule", L"Protocol is invalid",
                                                     tarn::str::fromUtf8(text)}}))
                << text;
        }
    }
}

TEST_F(RuleReadingTest, MembersOfAWrongTypeRefuseTheRule) {
    const std::pair<std::string, std::wstring> cases[] = {
        {R"("remote_addresses": ["10.0.0.1"])", L"remote_addresses"},
        {R"("protocol": 6)", L"protocol"},
        {R"("enabled": "yes")", L"enabled"},
        {R"("send_alerts": 1)", L"send_alerts"},
        {R"("interfaces": "eth0")", L"interfaces"},
        {R"("interfaces": [1])", L"interfaces"},
        {R"("description": null, "action": {"allow": true})", L"description,action"},
    };
    for (const auto& [members, wrong] : cases) {
        reports.clear();
        EXPECT_FALSE(readOne(R"({"name": "typed rule", )" + members + "}")) << members;
        EXPECT_EQ(reports,
                  (std::vector<Report>{{L"typed rule", L"Member has the wrong type", wrong}}))
            << members;
    }
    // Disabled, the rule goes without a word; members that are absent are no fault.
    reports.clear();
    EXPECT_FALSE(readOne(R"({"name": "typed rule", "enabled": false, "protocol": 6})"));
    EXPECT_TRUE(readOne(R"({"name": "typed rule", "interfaces": []})"));
    EXPECT_TRUE(reports.empty());
}

TEST_F(RuleReadingTest, RefusalsAndPartialRules) {
    struct Case {
        std::string rule;
        bool used;
        std::vector<Report> reports;
    };
    const Case cases[] = {
        {R"({"name": "seven77"})", false, {{L"seven77", L"Name is too short", L""}}},
        {R"({"name": "eight888"})", true, {}},
        {R"({"name": "no local", "local_addresses": "nowhere.example"})",
         false,
         {{L"no local", L"Local address is invalid", L"nowhere.example"}}},
        {R"({"name": "some local", "local_addresses": "10.0.0.1,nowhere.example"})",
         true,
         {{L"some local", L"Local address is invalid. Rule has been applied only partially",
           L"nowhere.example"}}},
        {R"({"name": "no remote", "remote_addresses": "10.0.0.0/33"})",
         false,
         {{L"no remote", L"Remote address is invalid", L"10.0.0.0/33"}}},
        {R"({"name": "both part", "local_addresses": "x.invalid,10.0.0.1",
             "remote_addresses": "v6.example,10.0.0.1-fe80::1"})",
         true,
         {{L"both part", L"Local address is invalid. Rule has been applied only partially",
           L"x.invalid"},
          {L"both part", L"Remote address is invalid. Rule has been applied only partially",
           L"10.0.0.1-fe80::1"}}},
        // Short names are refused first, whatever else is wrong.
        {R"({"name": "bad", "local_addresses": "x.invalid"})",
         false,
         {{L"bad", L"Name is too short", L""}}},
        // Disabled rules are dropped silently, whatever their addresses and names.
        {R"({"name": "disabled rule", "enabled": false, "remote_addresses": "x.invalid"})",
         false,
         {}},
        {R"({"name": "short", "enabled": false})", false, {}},
        {R"({"name": "", "enabled": false, "protocol": "tcp"})", false, {}},
        {R"({"name": "blocks the web", "action": "block", "direction": "out", "remote_ports": "80"})",
         false,
         {{L"blocks the web", L"This rule blocks Tarn services", L"80"}}},
    };
    tarn::test::LogCapture log;
    for (const Case& c : cases) {
        reports.clear();
        EXPECT_EQ(readOne(c.rule).has_value(), c.used) << c.rule;
        EXPECT_EQ(reports, c.reports) << c.rule;
    }
    // Partly invalid addresses are logged with what was read, what failed and what is left.
    const std::vector<std::pair<int32_t, std::string>> expected = {
        {4, "(some local) Original local address: 10.0.0.1,nowhere.example"},
        {3, "(some local) Invalid local address: nowhere.example"},
        {4, "(some local) Resolved local address: 10.0.0.1"}};
    std::vector<std::pair<int32_t, std::string>> lines;
    for (const auto& line : log.lines()) {
        if (line.tag == "FWSettings::readFWRule" && line.message.starts_with("(some local)")) {
            lines.emplace_back(line.level, line.message);
        }
    }
    EXPECT_EQ(lines, expected) << log.dump();
}

TEST_F(RuleReadingTest, OnlyAllowRulesPublishTheirHostNames) {
    const auto rules = readRules(R"([
        {"name": "allow two", "action": "allow", "remote_addresses": "two.example,v6.example"},
        {"name": "block two", "action": "block", "remote_addresses": "TWO.example"},
        {"name": "allow local", "action": "allow", "local_addresses": "two.example"}])");
    ASSERT_EQ(rules.size(), 3u) << testing::PrintToString(reports);
    EXPECT_EQ(rules[0].remoteAddresses, L"10.1.1.1,10.1.1.2,fe80::1");
    EXPECT_EQ(rules[2].localAddresses, L"10.1.1.1,10.1.1.2");
    EXPECT_EQ(resolved, (std::vector<std::wstring>{L"two.example", L"v6.example"}));
}

TEST_F(RuleReadingTest, ArrayKeepsOrderAndRefusesSecondRulesOfOneName) {
    const auto rules = readRules(R"([
        {"name": "Block Web", "direction": "out", "remote_ports": "8080"},
        {"name": "other rule", "enabled": false},
        {"name": "block web", "direction": "in"},
        "not an object",
        {"name": "last rule"}])");
    std::vector<std::wstring> names;
    for (const auto& rule : rules) {
        names.push_back(rule.name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Block Web", L"last rule"}));
    EXPECT_EQ(reports, (std::vector<Report>{
                           {L"block web", L"This rule has the same name as another rule", L""},
                           {L"", L"Name is too short", L""}}));
    EXPECT_TRUE(readRules(R"({"name": "not an array"})").empty());
}

TEST_F(RuleReadingTest, WithoutNormaliserEveryAddressIsInvalid) {
    settings->stop();
    EXPECT_TRUE(readRules(R"([{"name": "has address", "remote_addresses": "10.0.0.1"}])").empty());
    EXPECT_EQ(reports,
              (std::vector<Report>{{L"has address", L"Remote address is invalid", L"10.0.0.1"}}));
    EXPECT_EQ(readRules(R"([{"name": "no address"}])").size(), 1u);
}

}  // namespace
