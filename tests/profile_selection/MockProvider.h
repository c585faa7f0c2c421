// A settings provider whose every operation a test can script and check.
#pragma once

#include <gmock/gmock.h>

#include "settings/IFWSettingsProvider.h"

namespace tarn::test {

class MockProvider : public IFWSettingsProvider {
public:
    MOCK_METHOD(std::vector<FWRule>, getCurrentRules,
                (std::vector<std::wstring>&, const InvalidRuleReporter&), (override));
    MOCK_METHOD(void, addRuleToList, (const std::wstring&, const std::wstring&), (override));
    MOCK_METHOD(void, removeRuleFromList, (const std::wstring&, const std::wstring&), (override));
    MOCK_METHOD(void, storeList, (const std::wstring&), (override));
    MOCK_METHOD(std::vector<std::wstring>, getList, (const std::wstring&), (override));
    MOCK_METHOD(std::vector<std::wstring>, getAllTarnRuleNames, (), (override));
    MOCK_METHOD(void, storeOldNetworkSettings, (const FWNetworkDefaultsSettings&), (override));
    MOCK_METHOD(FWNetworkDefaultsSettings, getOldNetworkSettings, (), (override));
    MOCK_METHOD(void, triggerReapplyFilters, (), (override));
    MOCK_METHOD(void, triggerReapplyAllSettings, (), (override));
    MOCK_METHOD(FWCurrentSettings, getCurrentSettings, (), (override));
    MOCK_METHOD(std::wstring, getCurrentProfileName, (), (override));
    MOCK_METHOD(bool, isCurrentProfileNameLocked, (), (override));
    MOCK_METHOD(std::wstring, getAutoselectedProfileName, (), (override));
    MOCK_METHOD(bool, isNetworkIsolationEnabled, (), (override));
    MOCK_METHOD(bool, isNetworkIsolationActive, (), (override));
    MOCK_METHOD(void, writeStatus, (const FWCurrentSettings&, bool, const FirewallGpoState&, bool),
                (override));
    MOCK_METHOD(void, setAllowedDnsFromRules, (const std::vector<std::wstring>&), (override));
    MOCK_METHOD(bool, isFirewallEnabledStatus, (), (override));
    MOCK_METHOD(bool, isWinFwEnabledStatus, (), (override));
    MOCK_METHOD(bool, isProfileIsolationStatus, (), (override));
    MOCK_METHOD(bool, isSensorEnabled, (), (override));
    MOCK_METHOD(bool, isDnsIsolationStatus, (), (override));
    MOCK_METHOD(bool, canApplyDefaultInboundRules, (), (override));
    MOCK_METHOD(std::wstring, getCommandPostAddress, (), (override));
    MOCK_METHOD(AutomaticProfileSelectionSettings, getAutomaticProfileSelectionSettings, (),
                (override));
    MOCK_METHOD(LanshareSettings, getLanshareSettings, (), (override));
    MOCK_METHOD(void, setLanshareAllowRulesParams, (const LanshareSettings&, const std::wstring&),
                (override));
    MOCK_METHOD(std::vector<std::wstring>, getWhitelistedProcesses, (), (override));
    MOCK_METHOD(void, setAutoselectedProfileName, (const std::wstring&), (override));
    MOCK_METHOD(void, getTarnDefaultRules, (std::vector<FWRule>&), (override));
    MOCK_METHOD(void, resetProfileNameChangedByUser, (), (override));
    MOCK_METHOD(bool, shouldDeleteOldInboundRules, (), (override));
    MOCK_METHOD(void, setOldInboundRulesDeleted, (), (override));
};

}  // namespace tarn::test
