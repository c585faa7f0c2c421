// The firewall controller: turns changed settings keys into work on the Windows Firewall. Keys
// arrive on any thread and are only queued; a worker thread of its own (COM initialised on it)
// drains the queue into change flags and applies the rules, the profile defaults, the
// whitelist rules and isolation, then writes the status. While the firewall service is down it
// writes the unavailable status and waits. At stop it restores Windows' own rules and defaults
// when the product is being uninstalled.
//
// Threads: onFWSettingChanged from the settings model's threads; start and stop from the
// plug-in's; everything else on the worker. The recursive mutex guards the pending keys and the
// collaborator pointers, never a pass itself: a key queued during a pass wakes the next one.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/WinHandles.h"
#include "control/FirewallStatusObserver.h"
#include "control/FwStateManager.h"
#include "control/GpoState.h"
#include "isolation/NetworkIsolationHandlers.h"
#include "monitoring/IFWAlertApi.h"
#include "monitoring/TarnEventSender.h"
#include "monitoring/WinFWEventMonitor.h"
#include "plugin/Stoppable.h"
#include "rules/CoInitializer.h"
#include "rules/FwPolicyHolder.h"
#include "rules/FwRuleManager.h"
#include "settings/FWCurrentSettings.h"
#include "settings/FWSettingsDelegate.h"
#include "settings/IFWSettingsProvider.h"

class WinFW : public FWSettingsDelegate, public tarn::Stoppable {
public:
    // What draining the queue found.
    struct ChangeFlags {
        bool onlyFiltersReapply = false;
        bool rulesChanged = false;
        bool reapplyAll = false;
        bool whitelistChanged = false;
        bool operator==(const ChangeFlags&) const = default;
    };

    // Nothing but the change event and the event sender is made before start.
    WinFW(std::wstring namespaceName, tarn::SharedEvent stopEvent);
    // stop() must have been called: the worker must not outlive the object.
    ~WinFW() override;

    // Queues the key and wakes the worker; nothing else on the caller's thread.
    void onFWSettingChanged(const std::wstring& key) override;
    // Creates the collaborators, starts the service watch, queues a full first pass, starts the
    // worker and the event monitoring. False only when the filtering engine cannot be opened
    // (then nothing runs). A worker thread that cannot be made throws std::system_error.
    virtual bool start(std::shared_ptr<IFWSettingsProvider> provider);

    // Signals the service watch and the worker; returns at once.
    void requestStop() override;
    // Stops, joins the worker (which restores Windows' state when uninstalling), then ends
    // the monitoring and the service watch and releases the collaborators.
    void stop() override;

    // A management writes a policy key by key; the pass waits until the keys stop coming for
    // kSettleQuiet (at most kSettleLimit), so that a burst of changes costs a pass or two, not
    // one each.
    static constexpr std::chrono::milliseconds kSettleQuiet{100};
    static constexpr std::chrono::milliseconds kSettleLimit{1000};

    // Whether a key changes rules: the current profile name (exactly), or any key below the
    // profiles, isolation or the Lanshare allow rules.
    static bool isRuleKey(const std::wstring& key);

protected:
    virtual std::shared_ptr<IFWAlertApi> createAlertApi();
    virtual std::shared_ptr<WinFWEventMonitor> createEventMonitor();
    virtual std::shared_ptr<FirewallStatusObserver> createStatusObserver();
    virtual std::shared_ptr<NetworkIsolationHandlers> createIsolationHandlers();
    virtual std::shared_ptr<FwPolicyHolder> createFwPolicyHolder();
    virtual std::shared_ptr<FwRuleManager> createFwRuleManager();
    // How long the worker waits before it asks again for a policy while the firewall service
    // is down.
    virtual std::chrono::milliseconds policyPollInterval() const;
    // How long no key may come before a pass starts.
    virtual std::chrono::milliseconds settleQuiet() const;

    // Drains the pending keys into flags (under the mutex).
    virtual ChangeFlags takeChanges();
    // One pass of the worker over the pending keys.
    void onFwSettingChangedImpl();
    // Returns once no change has come for a moment, after a second at most, or on stop.
    void waitForChangesToSettle();

    const std::wstring& namespaceName() const { return m_namespaceName; }
    std::shared_ptr<IFWSettingsProvider> settingsProvider() const { return m_settingsProvider; }
    std::shared_ptr<IFWAlertApi> alertApi() const { return m_alertApi; }
    std::shared_ptr<FwPolicyHolder> fwPolicy() const { return m_fwPolicy; }
    const FWCurrentSettings* currentSettings() const { return &m_currentSettings; }
    const tarn::SharedEvent& sharedStopEvent() const { return m_sharedStopEvent; }

private:
    void onFwSettingsChangedThreadFunc();
    bool isFwPolicyReady();
    bool isFirewallServiceRunning();
    bool hasPolicyInterface();
    void writeUnavailableStatus();
    void processSettingsChange(bool rulesChanged, bool reapplyAll);
    void applyFwSettings(const FWCurrentSettings& settings, bool rulesChanged);
    void updateIsolationAndStatus();
    bool isolationState();
    void onIsolationStateChanged(bool on);
    void restoreOnExit();

    void applyCurrentRules();
    void applyTarnDefaultRules();
    void updateSylphWhitelistRules();
    void restoreNonTarnRuleSet(bool uninstalling);
    void applyNetworkSettings();
    void restoreNetworkSettings();

    tarn::SharedEvent m_sharedStopEvent;
    CoInitializer m_com;
    std::wstring m_namespaceName;
    std::thread m_workerThread;
    tarn::UniqueHandle m_settingsChangedEvent;
    std::recursive_mutex m_mutex;
    std::set<std::wstring> m_pendingKeys;
    std::shared_ptr<IFWAlertApi> m_alertApi;
    std::shared_ptr<FwPolicyHolder> m_fwPolicy;
    std::shared_ptr<FwStateManager> m_fwStateManager;
    std::shared_ptr<FwRuleManager> m_fwRuleManager;
    std::shared_ptr<IFWSettingsProvider> m_settingsProvider;
    std::shared_ptr<WinFWEventMonitor> m_eventMonitor;
    std::shared_ptr<FirewallStatusObserver> m_statusObserver;
    std::shared_ptr<TarnEventSender> m_eventSender;
    FWCurrentSettings m_currentSettings;
};
