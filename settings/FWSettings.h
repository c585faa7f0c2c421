// The settings model of the firewall: the only object that reads the firewall policy from the
// settings store and writes the firewall status back. It subscribes to the policy's keys and
// tells its delegates of every change, keeps the last good values of the isolation switches
// and of the saved network defaults, the rule-name lists, and the DNS cache and address
// normaliser through which host names in rules become addresses.
//
// Threads: the store's callback thread (onSettingChanged), the scheduler's thread (triggers,
// automatic selection), the controller's worker and the DNS cache's thread call in at once.
// The recursive lock serialises the lists, profile reads, getCurrentRules and
// getCurrentSettings; single reads take no lock. Every write goes through one queue, in order,
// and with none of these locks held (see the locks below).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/TaskScheduler.h"
#include "control/FWNetworkDefaultsSettings.h"
#include "plugin/Stoppable.h"
#include "rules/FwDnsCache.h"
#include "rules/RuleHostAddressNormalizer.h"
#include "settings/FWSettingsDelegate.h"
#include "settings/IFWSettingsProvider.h"
#include "settings/SharedOrreryHandle.h"
#include "settings/StoreWriteQueue.h"
#include "settings_store/CachedRuleNamesLists.h"
#include "settings_store/CachedSetting.h"

class FWSettings : public IFWSettingsProvider, public tarn::Stoppable {
public:
    // Nothing is opened or read until start(). The trigger tasks refer to this object without
    // owning it: the scheduler must not run them after the object is gone.
    FWSettings(std::wstring namespaceName, Tarn::TaskScheduler& scheduler,
               tarn::SharedEvent stopEvent);
    ~FWSettings() override;

    std::vector<FWRule> getCurrentRules(std::vector<std::wstring>& resolvedDnsNames,
                                        const InvalidRuleReporter& reporter) override;
    void addRuleToList(const std::wstring& listName, const std::wstring& ruleName) override;
    void removeRuleFromList(const std::wstring& listName, const std::wstring& ruleName) override;
    void storeList(const std::wstring& listName) override;
    std::vector<std::wstring> getList(const std::wstring& listName) override;
    std::vector<std::wstring> getAllTarnRuleNames() override;
    void storeOldNetworkSettings(const FWNetworkDefaultsSettings& defaults) override;
    FWNetworkDefaultsSettings getOldNetworkSettings() override;
    void triggerReapplyFilters() override;
    void triggerReapplyAllSettings() override;
    FWCurrentSettings getCurrentSettings() override;
    std::wstring getCurrentProfileName() override;
    bool isCurrentProfileNameLocked() override;
    std::wstring getAutoselectedProfileName() override;
    bool isNetworkIsolationEnabled() override;
    bool isNetworkIsolationActive() override;
    void writeStatus(const FWCurrentSettings& settings, bool isolationActive,
                     const FirewallGpoState& gpoState, bool serviceRunning) override;
    void setAllowedDnsFromRules(const std::vector<std::wstring>& names) override;
    bool isFirewallEnabledStatus() override;
    bool isWinFwEnabledStatus() override;
    bool isProfileIsolationStatus() override;
    bool isSensorEnabled() override;
    bool isDnsIsolationStatus() override;
    bool canApplyDefaultInboundRules() override;
    std::wstring getCommandPostAddress() override;
    AutomaticProfileSelectionSettings getAutomaticProfileSelectionSettings() override;
    LanshareSettings getLanshareSettings() override;
    void setLanshareAllowRulesParams(const LanshareSettings& settings,
                                     const std::wstring& subnet) override;
    std::vector<std::wstring> getWhitelistedProcesses() override;
    void setAutoselectedProfileName(const std::wstring& name) override;
    void getTarnDefaultRules(std::vector<FWRule>& out) override;
    void resetProfileNameChangedByUser() override;
    bool shouldDeleteOldInboundRules() override;
    void setOldInboundRulesDeleted() override;

    // Passes a changed key to the delegates (refreshing a cached value of that key first).
    virtual void onSettingChanged(const std::wstring& key);
    // Fills `rule` (default-constructed by the caller) from one rule object of the store;
    // false when the rule must not be used. Disabled rules are dropped without a report;
    // refusals and partly invalid addresses are reported; resolved host names of allow rules'
    // remote addresses join `resolvedDnsNames`.
    virtual bool readFWRule(PyxOrreryObject ruleObject, FWRule& rule,
                            std::vector<std::wstring>& resolvedDnsNames,
                            const InvalidRuleReporter& reporter);
    // A normaliser that resolves host names through the DNS cache (none: no addresses).
    virtual std::shared_ptr<tarn::RuleHostAddressNormalizer> createAddrNormalizer();

    // Closes the store handles (reads then give defaults; the cached values stay), drops the
    // DNS cache, the normaliser and the delegates.
    void stop() override;

    // Opens the two handles, reads the cached values, creates the DNS cache and the normaliser,
    // subscribes to the policy's keys and loads the name lists. False when a handle cannot be
    // opened or the DNS cache cannot start.
    bool start(std::vector<std::shared_ptr<FWSettingsDelegate>> delegates);

    // Appends the usable rules of a rules array (in array order, each validated against the
    // rules already in `out`); releases the array.
    void readRulesFromRulesArray(tarn::UniqueOrreryObject rulesObject, std::vector<FWRule>& out,
                                 std::vector<std::wstring>& resolvedDnsNames,
                                 const InvalidRuleReporter& reporter);

    // The current profile (the isolation object while isolation is enabled), or null.
    tarn::UniqueOrreryObject getCurrentProfileObject();
    // The member "rules" or "additional_rules" of the current profile, or null.
    tarn::UniqueOrreryObject getCurrentProfileRulesObject(const std::wstring& memberName);
    // The global current profile name when it names a profile; else it is reset in the store
    // (unless read-only, which gives ""). Only the dangling name is deleted: a name that
    // another process writes meanwhile is checked instead.
    std::wstring getValidCurrentProfileName();

protected:
    // The isolation object while isolation is enabled, else the first profile of that name.
    tarn::UniqueOrreryObject getProfileObject(const std::wstring& name);
    // The member "rules" or "additional_rules" of that profile, or null.
    tarn::UniqueOrreryObject getProfileRulesObject(const std::wstring& profileName,
                                                   const std::wstring& memberName);

    PyxOrreryHandle readHandle() const { return m_readHandle.get(); }
    PyxOrreryHandle writeHandle() const { return m_writeHandle.get(); }

private:
    static void WINAPI subscriptionCallback(const wchar_t* key, const void*, const void*,
                                            void* context);
    bool openHandle(tarn::SharedOrreryHandle& handle, const wchar_t* clientName);
    void subscribe();
    void scheduleTrigger(const char* taskName, std::chrono::milliseconds delay, const char* logTag,
                         const char* logLine, const wchar_t* key);
    std::shared_ptr<tarn::RuleHostAddressNormalizer> addrNormalizer();
    // "windows.firewall.current_profile_name" as stored; none when the key is absent.
    std::optional<std::wstring> storedCurrentProfileName();
    void writeStatusValues(const FWCurrentSettings& settings, bool isolationActive,
                           const FirewallGpoState& gpoState, bool serviceRunning);

    const std::wstring m_namespaceName;
    Tarn::TaskScheduler& m_scheduler;

    // Locks, in the order in which they may be taken (never the other way round):
    //   m_lock -> m_stateMutex -> the DNS cache's lock -> the logger's locks.
    // No lock of ours is held across a store library call that may call back into the system:
    // writes (which may deliver this process's own change at once) go through m_writes with no
    // lock held, and handles are closed and subscriptions made with no lock held. Reads may run
    // under m_lock and m_stateMutex; the library takes no lock of its own across a callback.
    // m_writes' own mutex is taken last and never held across a write.
    std::recursive_mutex m_lock;
    tarn::SharedOrreryHandle m_readHandle;
    tarn::SharedOrreryHandle m_writeHandle;
    std::vector<std::shared_ptr<FWSettingsDelegate>> m_delegates;
    std::shared_ptr<tarn::FwDnsCache> m_dnsCache;
    std::shared_ptr<tarn::RuleHostAddressNormalizer> m_addrNormalizer;
    CachedSetting<bool> m_networkIsolationEnabled;
    CachedSetting<bool> m_networkIsolationLocalEnabled;
    CachedSetting<FWNetworkDefaultsSettings> m_oldNetworkDefaults;
    CachedRuleNamesLists m_lists;

    // Handed to the DNS cache, so that the plug-in's stop ends its waits too.
    const tarn::SharedEvent m_stopEvent;
    // Guards the delegates and the cached values, which the store's callback thread touches
    // while other threads may hold the recursive lock for long.
    std::mutex m_stateMutex;
    // Every write of the provider, in order.
    tarn::StoreWriteQueue m_writes;
};
