#include <gtest/gtest.h>

#include <functional>

#include "rules/RuleValidation.h"
#include "tests/rules/LogLines.h"

namespace {

struct Report {
    std::wstring name;
    std::wstring reason;
    std::wstring invalidPart;
};

// Validates `rule` against `accepted`; the report, if any, lands in `report`.
bool validate(const FWRule& rule, const std::vector<FWRule>& accepted,
              std::optional<Report>& report) {
    report.reset();
    return validateRule(
        rule, accepted,
        [&](const FWRule& r, const std::wstring& reason, const std::wstring& invalidPart) {
            EXPECT_FALSE(report.has_value()) << "reported twice";
            report = Report{r.name, reason, invalidPart};
        });
}

FWRule outboundBlock(int32_t protocol, std::wstring remotePorts) {
    FWRule rule;
    rule.name = L"Outbound block";
    rule.direction = FWRule::Direction::Out;
    rule.action = FWRule::Action::Block;
    rule.protocol = protocol;
    rule.remotePorts = std::move(remotePorts);
    return rule;
}

constexpr const wchar_t* kWeb = L"This rule blocks Tarn services";
constexpr const wchar_t* kDns = L"This rule blocks DNS services";

TEST(RuleValidation, BroadOutboundBlockRulesAreRefused) {
    struct Case {
        std::function<void(FWRule&)> change;
        int32_t protocol;
        std::wstring remotePorts;
        const wchar_t* reason;  // null: accepted
    };
    const auto none = [](FWRule&) {};
    const std::vector<Case> cases = {
        {none, 6, L"80", kWeb},
        {none, 6, L"*", kWeb},
        {none, 256, L"", kWeb},  // all ports: the web check comes first
        {none, 17, L"1-100", kDns},
        {none, 17, L"53", kDns},
        {none, 17, L"80,443", nullptr},
        {none, 6, L"8080,8443", nullptr},
        {none, 6, L"53", nullptr},
        {none, 1, L"", nullptr},
        {none, 6, L"1-2-3", kWeb},  // malformed ports count as covering
        {none, 6, L"500-400,444-443", kWeb},
        {[](FWRule& r) { r.applicationPath = L"C:\\app.exe"; }, 6, L"80", nullptr},
        {[](FWRule& r) { r.serviceName = L"svc"; }, 6, L"80", nullptr},
        {[](FWRule& r) { r.applicationPackageId = L"S-1-15"; }, 6, L"80", nullptr},
        {[](FWRule& r) { r.localPorts = L"5000"; }, 6, L"", nullptr},
        {[](FWRule& r) { r.localPorts = L"*"; }, 6, L"", kWeb},
        {[](FWRule& r) { r.remoteAddresses = L"10.0.0.1"; }, 17, L"", nullptr},
        {[](FWRule& r) { r.localAddresses = L"*"; }, 17, L"", kDns},
        {[](FWRule& r) { r.direction = FWRule::Direction::In; }, 6, L"", nullptr},
        {[](FWRule& r) { r.action = FWRule::Action::Allow; }, 256, L"", nullptr},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        FWRule rule = outboundBlock(cases[i].protocol, cases[i].remotePorts);
        cases[i].change(rule);
        std::optional<Report> report;
        EXPECT_EQ(validate(rule, {}, report), cases[i].reason == nullptr) << "case " << i;
        if (cases[i].reason != nullptr && report) {
            EXPECT_EQ(report->reason, cases[i].reason) << "case " << i;
            EXPECT_EQ(report->invalidPart, cases[i].remotePorts) << "case " << i;
            EXPECT_EQ(report->name, rule.name);
        }
    }
}

TEST(RuleValidation, SecondRuleOfOneNameIsRefused) {
    FWRule first;
    first.name = L"Block Web";
    FWRule second;
    second.name = L"block web";
    second.direction = FWRule::Direction::Out;  // the name check comes before everything
    std::optional<Report> report;
    EXPECT_TRUE(validate(first, {}, report));
    EXPECT_FALSE(validate(second, {first}, report));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->reason, L"This rule has the same name as another rule");
    EXPECT_EQ(report->invalidPart, L"");
    second.name = L"block web2";
    second.remotePorts = L"8080";
    EXPECT_TRUE(validate(second, {first}, report));
}

TEST(RuleValidation, PortTextsCoverPortsAsWtoiReadsThem) {
    const std::vector<std::tuple<std::wstring, int, int, bool>> cases = {
        {L"80", 443, 80, true},         {L"81-442", 443, 80, false}, {L"1000-1", 443, 80, true},
        {L"8080,8443", 443, 80, false}, {L"80x", 443, 80, true},     {L"x80", 443, 80, false},
        {L" 80", 443, 80, true},        {L"0-0", 53, 0, false},      {L"-53", 53, 0, true},
        {L"53-", 53, 0, true},          {L"1,,2", 53, 0, true},      {L"54,", 53, 0, true},
    };
    for (const auto& [ports, a, b, expected] : cases) {
        EXPECT_EQ(portsContainThesePortsOrInvalid(ports, a, b), expected)
            << std::string(ports.begin(), ports.end());
    }
    tarn::test::LogCapture log;
    portsContainThesePortsOrInvalid(L"1,,2", 53, 0);
    EXPECT_TRUE(tarn::test::logged(log, 5, "portsContainThesePortsOrInvalid",
                                   "Port string is invalid: 1,,2"));
}

}  // namespace
