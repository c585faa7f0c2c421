// COM scope, error texts and the policy holder's liveness across firewall service restarts.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "rules/ComErrors.h"
#include "tests/rules/LogLines.h"

namespace tarn::test {
namespace {

bool endsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ErrorTexts, DescribeErrorNamesTheMessageNumber) {
    struct Case {
        uint32_t code;
        const wchar_t* tail;
        bool hasText;
    };
    const Case cases[] = {
        {0x80070005u, L"(5)", true},           {5u, L"(5)", true},
        {0x800706D9u, L"(1753)", true},        {0x8001010Eu, L"(2147549454)", false},
        {0xD000000Du, L"(1341718541)", false}, {0x80320003u, L"(2818051)", false},
    };
    for (const Case& c : cases) {
        const std::wstring text = describeError(c.code);
        EXPECT_TRUE(endsWith(text, c.tail)) << c.code;
        if (c.hasText) {
            EXPECT_GT(text.size(), std::wstring(c.tail).size()) << c.code;
        }
    }
    // The same Win32 error, whether as HRESULT or plain; the system's text keeps its line break.
    EXPECT_EQ(describeError(0x80070005u), describeError(5u));
    EXPECT_EQ(describeError(5u).rfind(comErrorMessage(E_ACCESSDENIED), 0), 0u);
    EXPECT_NE(describeError(5u), comErrorMessage(E_ACCESSDENIED) + L"(5)");
}

TEST(ErrorTexts, ComErrorMessageTrimsTheLineBreakAndNamesUnknownCodes) {
    const std::wstring denied = comErrorMessage(E_ACCESSDENIED);
    ASSERT_FALSE(denied.empty());
    EXPECT_NE(denied.back(), L'\n');
    EXPECT_NE(denied.back(), L'\r');
    EXPECT_EQ(denied.find(L"denied"), denied.size() - 7);
    EXPECT_EQ(comErrorMessage(static_cast<long>(0x80041234)), L"IDispatch error #4148");
    EXPECT_EQ(comErrorMessage(static_cast<long>(0x8765A321)), L"Unknown error 0x8765A321");
}

TEST(CoInitializerTest, AnotherApartmentIsKeptAndOnlyOwnSuccessIsUndone) {
    LogCapture log;
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        CoInitializer com;
        EXPECT_EQ(com.result(), RPC_E_CHANGED_MODE);
    }
    EXPECT_TRUE(log.contains("The COM library is (re)initialized on this thread, -2147417850 ", 3))
        << log.dump();
    CoUninitialize();
    CoInitializer com;
    EXPECT_EQ(com.result(), S_OK);
}

class PolicyHolderTest : public EngineTest {};

TEST_F(PolicyHolderTest, OnlyFourCodesMeanTheServiceIsGone) {
    struct Case {
        uint32_t code;
        bool dropped;
    };
    const Case cases[] = {{0x800706D9u, true},
                          {0x80070006u, true},
                          {0x800706B5u, true},
                          {0x8007045Bu, true},
                          {0x800706BAu, false}};
    for (const Case& c : cases) {
        sim::reset();
        SimPolicyHolder policy;
        ASSERT_TRUE(policy.beSureThatInterfaceIsAlive(true));
        log.clear();
        sim::firewall::stopService(c.code);
        EXPECT_EQ(policy.beSureThatInterfaceIsAlive(true), !c.dropped) << c.code;
        EXPECT_EQ(log.contains("m_fwPolicy is not alive, release", 3), c.dropped) << c.code;
        EXPECT_EQ(log.contains("get_FirewallEnabled returned: ", 3), c.dropped) << c.code;
    }
}

TEST_F(PolicyHolderTest, ADeadInterfaceIsMadeAnewAfterARestart) {
    sim::firewall::stopService();
    EXPECT_FALSE(holder->beSureThatInterfaceIsAlive(false));
    EXPECT_EQ(holder->policy(), nullptr);
    EXPECT_TRUE(logged(log, 3, "FwPolicyHolder::beSureThatInterfaceIsAlive",
                       "m_fwPolicy is not alive, release"));
    EXPECT_FALSE(holder->beSureThatInterfaceIsAlive(false));  // nothing made while it is down
    sim::firewall::startService();
    EXPECT_TRUE(holder->beSureThatInterfaceIsAlive(true));
    VARIANT_BOOL enabled = VARIANT_FALSE;
    EXPECT_EQ(holder->policy()->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &enabled), S_OK);
}

TEST_F(PolicyHolderTest, NothingLeaksAndNothingIsReleasedTwice) {
    const int64_t objects = sim::firewall::liveObjects();
    FWCurrentSettings current;
    current.allowOtherRules = false;
    sim::firewall::addRule(otherRule(L"Other program rule"));
    {
        SimRuleManager manager(stop, provider, alerts, holder, &current);
        FWRule rule = makeRule(L"Leak check rule");
        rule.applicationPackageId = L"S-1-15-2-7";
        provider->currentRules = {rule};
        manager.applyCurrentRules();
        manager.applyCurrentRules();
        current.allowOtherRules = true;
        manager.applyCurrentRules();
        manager.restoreNonTarnRuleSet(true);
    }
    EXPECT_EQ(sim::firewall::liveObjects(), objects);
    holder->beSureThatInterfaceIsAlive(false);
    EXPECT_EQ(sim::firewall::liveObjects(), objects - 1);
}

TEST(PolicyHolderCreation, TheRealHolderAsksCoCreateInstanceAndLogsAFailure) {
    LogCapture log;
    CoInitializer com;
    FwPolicyHolder holder;
    // Under wine Windows' own policy object is a stub; on the simulated machine it is the
    // simulated firewall. Either way the holder ends with or without an interface, never
    // with a dead one.
    const bool alive = holder.beSureThatInterfaceIsAlive(true);
    EXPECT_EQ(alive, holder.policy() != nullptr);
}

}  // namespace
}  // namespace tarn::test
