#include <gtest/gtest.h>

#include "settings/FWRule.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::test::LogCapture;
using tarn::test::logged;

struct EnumCase {
    std::wstring text;
    int32_t expected;
    bool warns;
};

// Runs `parse` over the cases; unknown texts warn with `prefix` under `tag`.
template <typename Parse>
void checkEnumTexts(Parse parse, const std::vector<EnumCase>& cases, const std::string& tag,
                    const std::string& prefix) {
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_EQ(static_cast<int32_t>(parse(c.text)), c.expected);
        const std::string message = prefix + std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(logged(log, 3, tag, message), c.warns) << message << "\n" << log.dump();
        EXPECT_EQ(log.lines().size(), c.warns ? 1u : 0u);
    }
}

TEST(FWRuleTexts, DirectionActionAndNetworkType) {
    checkEnumTexts(getDirectionFromStr,
                   {{L"in", 0, false},
                    {L"out", 1, false},
                    {L"", 0, false},
                    {L"Out", 0, true},
                    {L"outbound", 0, true}},
                   "getDirectionFromStr", "Wrong direction: ");
    checkEnumTexts(getActionFromStr,
                   {{L"allow", 0, false},
                    {L"block", 1, false},
                    {L"", 0, false},
                    {L"deny", 0, true},
                    {L"BLOCK", 0, true}},
                   "getActionFromStr", "Wrong action: ");
    checkEnumTexts(getNetworkTypeFromStr,
                   {{L"all", 0, false},
                    {L"domain", 1, false},
                    {L"private", 2, false},
                    {L"public", 4, false},
                    {L"", 0, false},
                    {L"Public", 0, true},
                    {L"3", 0, true}},
                   "getNetworkTypeFromStr", "Wrong network type: ");
}

FWRule fullRule() {
    FWRule rule;
    rule.name = L"Block Web";
    rule.description = L"no web";
    rule.applicationPath = L"C:\\app.exe";
    rule.serviceName = L"svc";
    rule.protocol = 17;
    rule.localPorts = L"53";
    rule.remotePorts = L"1-100";
    rule.direction = FWRule::Direction::Out;
    rule.action = FWRule::Action::Allow;
    rule.networkType = FWRule::NetworkPrivate;
    rule.localAddresses = L"10.0.0.1";
    rule.remoteAddresses = L"LocalSubnet";
    rule.icmpTypesAndCodes = L"8:0";
    rule.interfaceTypes = L"Lan";
    rule.interfaces = {L"eth0", L"eth1"};
    return rule;
}

TEST(FWRuleTexts, ToTextWritesEverySegmentInOrder) {
    const FWRule defaults;
    EXPECT_EQ(defaults.toText(),
              L"[],[],[on],[],[],[6],[],[],[In],[Block],[All],[],[],[],[],[],[]");

    FWRule rule = fullRule();
    EXPECT_EQ(rule.toText(),
              L"[Block Web],[no web],[on],[C:\\app.exe],[svc],[17],[53],[1-100],[Out],[Allow],"
              L"[Private],[10.0.0.1],[LocalSubnet],[8:0],[Lan],[eth0,eth1],[]");

    rule.enabled = false;
    rule.protocol = -1;
    rule.networkType = 3;  // no segment for unknown types
    rule.applicationPackageId = L"S-1-15-2-1";
    rule.localUserOwner = L"S-1-5-21-1";
    rule.edgeTraversal = true;
    EXPECT_EQ(rule.toText(),
              L"[Block Web],[no web],[off],[C:\\app.exe],[svc],[-1],[53],[1-100],[Out],[Allow],"
              L"[10.0.0.1],[LocalSubnet],[8:0],[Lan],[eth0,eth1],[S-1-15-2-1],[S-1-5-21-1],[edge]");
}

TEST(FWRuleTexts, CleaningRemovesControlCharactersBarsAndWhiteSpace) {
    EXPECT_EQ(FWRule::removeControlCharacters(L"a|b\tc\u007f\u0085d\u009f\u00a0e\u0001"),
              L"abcd\u00a0e");
    EXPECT_EQ(FWRule::removeControlCharacters(L"ab|cd\tef|gh"), L"abcdefgh");
    EXPECT_EQ(FWRule::removeControlCharacters(std::wstring(L"x\0y", 3)), L"xy");
    EXPECT_EQ(FWRule::removeWhiteSpace(L" 80,\t443\r\n,\v1-2\f "), L"80,443,1-2");
    EXPECT_EQ(FWRule::removeWhiteSpace(L"a\u00a0b"), L"a\u00a0b");  // only ASCII white space
}

}  // namespace
