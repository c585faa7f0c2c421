// The two alerts: their payloads key by key, and the library calls that send them, with the
// library's failures. Runs on the simulated machine and under wine.
#include <gtest/gtest.h>

#include "common/Str.h"
#include "monitoring/FWAlertApi.h"
#include "monitoring/WfpEventInfo.h"
#include "settings/FWRule.h"
#include "tests/monitoring/FakeFwpm.h"
#include "tests/monitoring/FakeLibraries.h"
#include "tests/monitoring/NetEventBuilder.h"
#include "tests/rules/LogLines.h"

namespace {

using tarn::test::FakeAlertLibrary;
using tarn::test::NetEventBuilder;

constexpr uint64_t kFilterId = 5001;
constexpr uint32_t kHeaderFlags =
    FWPM_NET_EVENT_FLAG_IP_VERSION_SET | FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET |
    FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET | FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET |
    FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET | FWPM_NET_EVENT_FLAG_APP_ID_SET |
    FWPM_NET_EVENT_FLAG_USER_ID_SET;

class Alerts : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        FakeAlertLibrary::reset();
        m_fwpm->filters[kFilterId] = {L"Block RDP", L"managed"};
        m_fwpm->layers[44] = L"ALE Receive/Accept v4 Layer";
    }
    void TearDown() override { WSACleanup(); }

    WfpEventInfo alertable(NetEventBuilder& event) {
        WfpEventInfo info(event.get(), nullptr, m_fwpm);
        info.setRuleGroupName(L"Tarn Firewall");
        return info;
    }

    std::shared_ptr<tarn::test::FakeFwpm> m_fwpm = std::make_shared<tarn::test::FakeFwpm>();
};

TEST_F(Alerts, ABlockPayloadHasEveryKeyInTheOrderOfItsTable) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP)
        .classifyDrop(kFilterId, 44, FWP_DIRECTION_IN)
        .ipv4(0xC0A80105, 0x0A000001)
        .ports(3389, 51000)
        .protocol(6)
        .appId(L"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe")
        .userSid(L"S-1-5-18")
        .flags(kHeaderFlags);
    EXPECT_EQ(FWAlertApi::ruleTriggeredPayload(alertable(event)).dump(),
              R"j({"ruleName":"Block RDP","ruleGroupName":"Tarn Firewall",)j"
              R"j("layerName":"ALE Receive/Accept v4 Layer","ruleDirection":"inbound",)j"
              R"j("ipProtocol":"TCP(6)","localAddress":"192.168.1.5","remoteAddress":"10.0.0.1",)j"
              R"j("localPort":3389,"remotePort":51000,)j"
              R"j("application":"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe",)j"
              R"j("SID":"S-1-5-18"})j");
}

TEST_F(Alerts, ALoopbackDropSaysSoAndHasNoDirection) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(kFilterId, 0, 0x3901, TRUE);
    const auto payload = FWAlertApi::ruleTriggeredPayload(alertable(event));
    EXPECT_EQ(payload.at("isLoopback"), true);
    EXPECT_FALSE(payload.contains("ruleDirection"));
}

TEST_F(Alerts, KeysOfAbsentFieldsAreLeftOut) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(kFilterId, 0, 0x3903);
    const auto payload = FWAlertApi::ruleTriggeredPayload(alertable(event));
    EXPECT_EQ(
        payload.dump(),
        R"j({"ruleName":"Block RDP","ruleGroupName":"Tarn Firewall","ipProtocol":"HOPOPTS(0)"})j")
        << "no layer, an unmapped direction, no addresses, ports, application or user";
}

TEST_F(Alerts, Ipv6AddressesAndTextOutsideAsciiAreSentAsUtf8) {
    m_fwpm->filters[kFilterId] = {L"Blocage caf\u00e9", L""};
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP)
        .classifyDrop(kFilterId, 0, FWP_DIRECTION_OUT)
        .ipv6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
              {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5})
        .flags(kHeaderFlags & ~FWPM_NET_EVENT_FLAG_USER_ID_SET)
        .appIdBytes({0x3D, 0xD8, 0x00, 0x00});  // a lone high surrogate, then NUL
    const auto payload = FWAlertApi::ruleTriggeredPayload(alertable(event));
    EXPECT_EQ(payload.at("ruleName"), "Blocage caf\xc3\xa9");
    EXPECT_EQ(payload.at("ruleDirection"), "outbound");
    EXPECT_EQ(payload.at("localAddress"), "fe80::1");
    EXPECT_EQ(payload.at("remoteAddress"), "2001:db8::5");
    EXPECT_EQ(payload.at("application"), "\xef\xbf\xbd") << "replaced, not lost";
}

TEST_F(Alerts, AnApplicationFailureHasExactlyThreeKeysEvenWhenEmpty) {
    FWRule rule;
    rule.name = L"Allow DNS";
    EXPECT_EQ(
        FWAlertApi::ruleApplicationFailedPayload(rule, L"Remote address is invalid", L"10.0.0.300")
            .dump(),
        R"j({"ruleName":"Allow DNS","error":"Remote address is invalid","data":"10.0.0.300"})j");
    EXPECT_EQ(FWAlertApi::ruleApplicationFailedPayload(rule, L"", L"").dump(),
              R"j({"ruleName":"Allow DNS","error":"","data":""})j");
}

TEST_F(Alerts, ConstructionInitialisesTheLibraryOnceAndEachAlertIsOneSend) {
    tarn::test::LogCapture log;
    FWAlertApi alerts(L"tenant-a", FakeAlertLibrary::table());
    EXPECT_EQ(FakeAlertLibrary::initialised, std::vector<std::wstring>{L"tenant-a"});
    FWRule rule;
    rule.name = L"Allow DNS";
    alerts.sendRuleApplicationFailedAlert(rule, L"Local port is invalid", L"70000");
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(kFilterId, 0, 1);
    alerts.sendRuleTriggeredAlert(alertable(event));
    ASSERT_EQ(FakeAlertLibrary::sent.size(), 2u);
    EXPECT_EQ(FakeAlertLibrary::sent[0].nameSpace, L"tenant-a");
    EXPECT_EQ(FakeAlertLibrary::sent[0].type, "firewall.tarn_rule_application.failed");
    EXPECT_EQ(FakeAlertLibrary::sent[0].payload,
              R"j({"ruleName":"Allow DNS","error":"Local port is invalid","data":"70000"})j");
    EXPECT_EQ(FakeAlertLibrary::sent[1].type, "firewall.tarn_rule_triggered.block");
    EXPECT_EQ(FakeAlertLibrary::initialised.size(), 1u);
    const std::string tag = "FWAlertApi::doSendAlert";
    EXPECT_TRUE(tarn::test::logged(log, 5, tag,
                                   "Alert type: firewall.tarn_rule_application.failed, alert "
                                   "date: " +
                                       FakeAlertLibrary::sent[0].payload));
    EXPECT_EQ(log.count("Sending of alert finished successfully", 5), 2u);
    EXPECT_TRUE(
        tarn::test::logged(log, 5, "FWAlertApi::FWAlertApi", "Entering: FWAlertApi::FWAlertApi"));
    EXPECT_TRUE(
        tarn::test::logged(log, 5, "FWAlertApi::FWAlertApi", "Leaving: FWAlertApi::FWAlertApi"));
}

TEST_F(Alerts, AFailedSendIsLoggedWithTheLibrarysTextAndTheNextOneIsStillSent) {
    tarn::test::LogCapture log;
    FakeAlertLibrary::sendResults = {6};
    FWAlertApi alerts(L"tenant-a", FakeAlertLibrary::table());
    FWRule rule;
    rule.name = L"r";
    alerts.sendRuleApplicationFailedAlert(rule, L"e", L"d");
    alerts.sendRuleApplicationFailedAlert(rule, L"e", L"d");
    EXPECT_EQ(FakeAlertLibrary::sent.size(), 2u);
    EXPECT_TRUE(tarn::test::logged(
        log, 3, "FWAlertApi::doSendAlert",
        "Sending of alert failed with error: The alert spool cannot be written"));
    EXPECT_EQ(log.count("Sending of alert finished successfully"), 1u);
}

TEST_F(Alerts, ALibraryThatIsNotReadyIsLoggedAndStillUsed) {
    tarn::test::LogCapture log;
    FakeAlertLibrary::initResult = 4;
    FWAlertApi alerts(L"tenant-a", FakeAlertLibrary::table());
    EXPECT_TRUE(
        tarn::test::logged(log, 2, "FWAlertApi::FWAlertApi", "Cannot load Alert API library"));
    FWRule rule;
    alerts.sendRuleApplicationFailedAlert(rule, L"e", L"d");
    EXPECT_EQ(FakeAlertLibrary::sent.size(), 1u);
}

}  // namespace
