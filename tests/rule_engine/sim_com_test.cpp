// The simulated COM runtime: apartments, object creation and the strings that tests count.
#include <gtest/gtest.h>

#include "rules/ComSupport.h"
#include "sim/com_control.h"
#include "sim/machine.h"

namespace tarn::test {
namespace {

TEST(SimCom, ApartmentModelsOfOneThreadMustAgree) {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(sim::com::initCount(), 2);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(sim::com::initCount(), 0);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
}

TEST(SimCom, CreationNeedsAnApartmentAndAKnownClass) {
    INetFwPolicy2* policy = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(INetFwPolicy2), reinterpret_cast<void**>(&policy)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(INetFwPolicy2), reinterpret_cast<void**>(&policy)),
              S_OK);
    ASSERT_NE(policy, nullptr);
    policy->Release();
    INetFwRules* wrongInterface = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER,
                               __uuidof(INetFwRules), reinterpret_cast<void**>(&wrongInterface)),
              E_NOINTERFACE);
    void* unknown = nullptr;
    EXPECT_EQ(
        CoCreateInstance(IID_IDispatch, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &unknown),
        REGDB_E_CLASSNOTREG);
    CoUninitialize();
}

TEST(SimCom, StringsAreCountedAndADoubleFreeIsCaught) {
    const uint64_t live = sim::com::liveStrings();
    BSTR text = SysAllocString(L"abc");
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(SysStringByteLen(text), 3 * sizeof(OLECHAR));
    EXPECT_EQ(sim::com::liveStrings(), live + 1);
    SysFreeString(text);
    EXPECT_EQ(sim::com::liveStrings(), live);
    EXPECT_EQ(sim::com::badFrees(), 0u);
    SysFreeString(text);
    EXPECT_EQ(sim::com::badFrees(), 1u);
    SysFreeString(nullptr);
    EXPECT_EQ(sim::com::badFrees(), 1u);
}

TEST(SimCom, BstrComparisonCountsCaseAndTreatsNullAsEmpty) {
    const UniqueBstr lower = makeBstr(L"abc");
    const UniqueBstr upper = makeBstr(L"ABC");
    const UniqueBstr empty = makeBstr(L"");
    EXPECT_EQ(VarBstrCmp(lower.get(), makeBstr(L"abc").get(), LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    EXPECT_NE(VarBstrCmp(lower.get(), upper.get(), LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    EXPECT_EQ(VarBstrCmp(nullptr, empty.get(), LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    EXPECT_EQ(VarBstrCmp(makeBstr(L"ab").get(), lower.get(), LOCALE_USER_DEFAULT, 0), VARCMP_LT);
}

TEST(SimCom, VariantsReleaseWhatTheyHold) {
    const uint64_t live = sim::com::liveStrings();
    {
        UniqueVariant v;
        V_VT(&v.get()) = VT_BSTR;
        V_BSTR(&v.get()) = SysAllocString(L"held");
        UniqueVariant copy;
        ASSERT_EQ(VariantChangeType(copy.reset(), &v.get(), 0, VT_BSTR), S_OK);
        EXPECT_EQ(sim::com::liveStrings(), live + 2);
        EXPECT_EQ(VariantChangeType(copy.reset(), &v.get(), 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(sim::com::liveStrings(), live);
}

}  // namespace
}  // namespace tarn::test

#include "EngineTestSupport.h"

namespace tarn::test {
namespace {

class EngineStringsTest : public EngineTest {};

// Every string that the engine gets from the firewall, or hands to it, is freed once.
TEST_F(EngineStringsTest, APassLeaksNoStringAndFreesNoneTwice) {
    const uint64_t live = sim::com::liveStrings();
    FWCurrentSettings current;
    current.allowOtherRules = false;
    sim::firewall::addRule(otherRule(L"Other program rule"));
    {
        SimRuleManager manager(stop, provider, alerts, holder, &current);
        FWRule rule = makeRule(L"String check rule");
        rule.remoteAddresses = L"fe80::1,10.0.0.0/8";
        rule.applicationPackageId = L"S-1-15-2-7";
        provider->currentRules = {rule};
        manager.applyCurrentRules();
        sim::failCall("INetFwRule::put_LocalPorts", 1, E_FAIL);
        provider->currentRules[0].localPorts = L"1";
        manager.applyCurrentRules();
        current.allowOtherRules = true;
        manager.applyCurrentRules();
        manager.restoreNonTarnRuleSet(true);
    }
    EXPECT_EQ(sim::com::liveStrings(), live);
    EXPECT_EQ(sim::com::badFrees(), 0u);
}

}  // namespace
}  // namespace tarn::test
