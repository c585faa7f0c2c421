// A settings provider for the monitor's tests: the alert list that the monitor reads, and a
// count of the re-application requests that filter changes cause. Everything else answers
// defaults. Safe for the engine's threads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "settings/IFWSettingsProvider.h"

namespace tarn::test {

class FakeSettingsProvider : public IFWSettingsProvider {
public:
    void setAlertList(std::vector<std::wstring> names) {
        std::lock_guard lock(m_mutex);
        m_alertList = std::move(names);
    }
    int reapplyRequests() const { return m_reapplyRequests.load(); }
    int listReads() const { return m_listReads.load(); }

    std::vector<std::wstring> getList(const std::wstring& listName) override {
        ++m_listReads;
        std::lock_guard lock(m_mutex);
        return listName == L"status.windows.firewall.rules_for_sending_alerts"
                   ? m_alertList
                   : std::vector<std::wstring>{};
    }
    void triggerReapplyFilters() override { ++m_reapplyRequests; }

    std::vector<FWRule> getCurrentRules(std::vector<std::wstring>&,
                                        const InvalidRuleReporter&) override {
        return {};
    }
    void addRuleToList(const std::wstring&, const std::wstring&) override {}
    void removeRuleFromList(const std::wstring&, const std::wstring&) override {}
    void storeList(const std::wstring&) override {}
    std::vector<std::wstring> getAllTarnRuleNames() override { return {}; }
    void storeOldNetworkSettings(const FWNetworkDefaultsSettings&) override {}
    FWNetworkDefaultsSettings getOldNetworkSettings() override { return {}; }
    void triggerReapplyAllSettings() override {}
    FWCurrentSettings getCurrentSettings() override { return {}; }
    std::wstring getCurrentProfileName() override { return {}; }
    bool isCurrentProfileNameLocked() override { return false; }
    std::wstring getAutoselectedProfileName() override { return {}; }
    bool isNetworkIsolationEnabled() override { return false; }
    bool isNetworkIsolationActive() override { return false; }
    void writeStatus(const FWCurrentSettings&, bool, const FirewallGpoState&, bool) override {}
    void setAllowedDnsFromRules(const std::vector<std::wstring>&) override {}
    bool isFirewallEnabledStatus() override { return false; }
    bool isWinFwEnabledStatus() override { return false; }
    bool isProfileIsolationStatus() override { return false; }
    bool isSensorEnabled() override { return false; }
    bool isDnsIsolationStatus() override { return false; }
    bool canApplyDefaultInboundRules() override { return false; }
    std::wstring getCommandPostAddress() override { return {}; }
    AutomaticProfileSelectionSettings getAutomaticProfileSelectionSettings() override { return {}; }
    LanshareSettings getLanshareSettings() override { return {}; }
    void setLanshareAllowRulesParams(const LanshareSettings&, const std::wstring&) override {}
    std::vector<std::wstring> getWhitelistedProcesses() override { return {}; }
    void setAutoselectedProfileName(const std::wstring&) override {}
    void getTarnDefaultRules(std::vector<FWRule>&) override {}
    void resetProfileNameChangedByUser() override {}
    bool shouldDeleteOldInboundRules() override { return false; }
    void setOldInboundRulesDeleted() override {}

private:
    std::mutex m_mutex;
    std::vector<std::wstring> m_alertList;
    std::atomic<int> m_reapplyRequests{0};
    std::atomic<int> m_listReads{0};
};

}  // namespace tarn::test
