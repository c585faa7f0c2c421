// The key catalogue: every key once, the subscription list, and how its keys behave in a
// real store.
#include <gtest/gtest.h>

#include <set>

#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"
#include "tests/orrery/OrreryTestSupport.h"

namespace {

namespace keys = tarn::keys;

TEST(KeyCatalogue, SubscriptionsComeInTheirOrderAndAreDistinct) {
    ASSERT_EQ(keys::kSubscribedKeys.size(), 17u);
    EXPECT_STREQ(keys::kSubscribedKeys.front(),
                 L"status.windows.av.computer_security_protection_status");
    EXPECT_STREQ(keys::kSubscribedKeys[3], L"windows.firewall.profiles");
    EXPECT_STREQ(keys::kSubscribedKeys[10], L"windows.firewall.network_isolation");
    EXPECT_STREQ(keys::kSubscribedKeys.back(), L"local.windows.ferry2.lanshare.allow_rules");
    const std::set<std::wstring> distinct(keys::kSubscribedKeys.begin(),
                                          keys::kSubscribedKeys.end());
    EXPECT_EQ(distinct.size(), keys::kSubscribedKeys.size());
    // Every key is a valid dotted key of the store.
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    for (const wchar_t* key : keys::kSubscribedKeys) {
        int err = -1;
        PyxOrrery_GetBool(handle.get(), key, 0, &err);
        EXPECT_EQ(err, PYX_ORRERY_E_NOT_FOUND) << key;
    }
}

TEST(KeyCatalogue, RuleNameListsAreTheFourStatusLists) {
    const std::set<std::wstring> lists(keys::kRuleNameLists.begin(), keys::kRuleNameLists.end());
    EXPECT_EQ(lists, (std::set<std::wstring>{
                         L"status.windows.firewall.installed_rules",
                         L"status.windows.firewall.installed_sylph_rules",
                         L"status.windows.firewall.network_isolation.disabled_other_rules",
                         L"status.windows.firewall.rules_for_sending_alerts"}));
}

TEST(KeyCatalogue, AMissingOnlineProfileRequirementCountsAsTrue) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    EXPECT_TRUE(Orrery::getBool(handle.get(), keys::kRequireOnlineOrreryProfile, true));
}

TEST(KeyCatalogue, ChangesBelowSubscribedObjectsArriveByFullName) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    tarn::test::ChangeCollector changes;
    for (const wchar_t* key : keys::kSubscribedKeys) {
        ASSERT_EQ(PyxOrrery_Subscribe(handle.get(), key, &tarn::test::ChangeCollector::callback,
                                      &changes),
                  PYX_ORRERY_OK);
    }
    Orrery::setBool(handle.get(), keys::kNetworkIsolationEnabled, true);
    Orrery::setInt32(handle.get(), keys::kLanshareAllowRulesPort, 8080);
    Orrery::setBool(handle.get(), keys::kCanApplyDefaultInboundRules, true);  // not subscribed
    Orrery::setString(handle.get(), keys::kCurrentProfileName, L"office");
    ASSERT_TRUE(changes.waitFor(3));
    EXPECT_EQ(changes.keys(), (std::vector<std::wstring>{keys::kNetworkIsolationEnabled,
                                                         keys::kLanshareAllowRulesPort,
                                                         keys::kCurrentProfileName}));
}

}  // namespace
