// Cached rule-name lists and cached settings against a real store.
#include <gtest/gtest.h>

#include "control/FWNetworkDefaultsSettings.h"
#include "settings_store/CachedRuleNamesLists.h"
#include "settings_store/CachedSetting.h"
#include "settings_store/OrreryKeys.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/support/LogCapture.h"

namespace {

namespace keys = tarn::keys;
using Names = std::vector<std::wstring>;

std::string storedText(PyxOrreryHandle handle, const wchar_t* key) {
    const tarn::UniqueOrreryObject object(PyxOrrery_GetObject(handle, key, nullptr));
    const tarn::UniqueOrreryString text(PyxOrrery_ObjectToStringUtf8(object.get()));
    return text ? static_cast<const char*>(text.get()) : "<none>";
}

TEST(CachedRuleNamesLists, AddsOnceAndRemovesTheFirstEqualName) {
    CachedRuleNamesLists lists;
    const std::wstring key = keys::kStatusInstalledRules;
    const struct {
        bool add;
        const wchar_t* name;
        Names after;
    } steps[] = {
        {true, L"b", {L"b"}},
        {true, L"a", {L"b", L"a"}},
        {true, L"b", {L"b", L"a"}},
        {true, L"B", {L"b", L"a", L"B"}},  // names compare with case
        {false, L"x", {L"b", L"a", L"B"}},
        {false, L"b", {L"a", L"B"}},
    };
    for (const auto& step : steps) {
        step.add ? lists.addRuleToList(key, step.name) : lists.removeRuleFromList(key, step.name);
        EXPECT_EQ(lists.getList(key), step.after) << step.name;
    }
    EXPECT_TRUE(lists.getList(keys::kStatusInstalledSylphRules).empty());
}

TEST(CachedRuleNamesLists, UnknownListsAreLoggedAndIgnored) {
    CachedRuleNamesLists lists;
    tarn::test::LogCapture log;
    lists.addRuleToList(L"status.other", L"r");
    lists.removeRuleFromList(L"status.other", L"r");
    lists.storeList(nullptr, L"status.other");
    EXPECT_TRUE(lists.getList(L"status.other").empty());
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u) << log.dump();
    const char* tags[] = {"addRuleToList", "removeRuleFromList", "storeList", "getList"};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].level, 3);
        EXPECT_EQ(lines[i].tag, std::string("CachedRuleNamesLists::") + tags[i]);
        EXPECT_EQ(lines[i].message, "Unknown array name: status.other");
    }
}

TEST(CachedRuleNamesLists, StoresAndLoadsListsWithDuplicatesFromOtherWriters) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    CachedRuleNamesLists lists;
    lists.storeList(handle.get(), keys::kStatusRulesForSendingAlerts);
    EXPECT_EQ(storedText(handle.get(), keys::kStatusRulesForSendingAlerts), "[]");
    ASSERT_EQ(PyxOrrery_SetObjectFromStringUtf8(handle.get(), keys::kStatusInstalledRules,
                                                R"(["x","y","x"])"),
              0);
    lists.addRuleToList(keys::kStatusInstalledSylphRules, L"gone after load");
    lists.loadLists(handle.get());
    EXPECT_EQ(lists.getList(keys::kStatusInstalledRules), (Names{L"x", L"y", L"x"}));
    EXPECT_TRUE(lists.getList(keys::kStatusInstalledSylphRules).empty());
    lists.removeRuleFromList(keys::kStatusInstalledRules, L"x");
    lists.storeList(handle.get(), keys::kStatusInstalledRules);
    EXPECT_EQ(storedText(handle.get(), keys::kStatusInstalledRules), R"(["y","x"])");
}

TEST(CachedSetting, KeepsTheLastGoodValueUntilTheKeyIsGone) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    CachedSetting<bool> setting(keys::kNetworkIsolationEnabled);
    setting.refresh();  // without a handle: nothing happens
    EXPECT_FALSE(setting.hasValue());
    ASSERT_TRUE(Orrery::setBool(handle.get(), keys::kNetworkIsolationEnabled, true));
    setting.setHandle(handle.get());
    ASSERT_TRUE(setting.hasValue());
    EXPECT_TRUE(setting.value());
    // An error other than "not found" (here: a value of another type) keeps the value.
    Orrery::setString(handle.get(), keys::kNetworkIsolationEnabled, L"broken");
    setting.refresh();
    EXPECT_TRUE(setting.hasValue());
    EXPECT_TRUE(setting.value());
    Orrery::deleteValue(handle.get(), keys::kNetworkIsolationEnabled);
    setting.refresh();
    EXPECT_FALSE(setting.hasValue());
    Orrery::setBool(handle.get(), keys::kNetworkIsolationEnabled, true);
    setting.setHandle(nullptr);  // taken away: the value stays as it was
    EXPECT_FALSE(setting.hasValue());
}

TEST(CachedSetting, StoresNetworkDefaultsAsJsonAndLogsAFailedWrite) {
    tarn::test::StoreRoot root;
    const auto handle = root.open();
    CachedSetting<FWNetworkDefaultsSettings> saved(keys::kStatusOldNetworkDefaults);
    saved.setHandle(handle.get());
    EXPECT_FALSE(saved.hasValue());
    FWNetworkDefaultsSettings windows;
    windows.private_network.fw_enabled = false;
    saved.storeValue(windows);
    CachedSetting<FWNetworkDefaultsSettings> reread(keys::kStatusOldNetworkDefaults);
    reread.setHandle(handle.get());
    ASSERT_TRUE(reread.hasValue());
    EXPECT_EQ(reread.value(), windows);

    ASSERT_EQ(PyxOrrery_SetConstraints(handle.get(), keys::kStatusOldNetworkDefaults,
                                       PYX_ORRERY_CONSTRAINT_READ_ONLY),
              0);
    tarn::test::LogCapture log;
    saved.storeValue(FWNetworkDefaultsSettings{});
    EXPECT_EQ(saved.value(), FWNetworkDefaultsSettings{});
    ASSERT_EQ(log.lines().size(), 1u) << log.dump();
    EXPECT_EQ(log.lines()[0].tag, "CachedSetting<struct FWNetworkDefaultsSettings>::storeValue");
    EXPECT_EQ(log.lines()[0].message,
              "Error writing status.windows.firewall.old_fw_network_settings.defaults: Key is "
              "read-only");
}

}  // namespace
