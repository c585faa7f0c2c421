#include "control/WinFW.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "common/logging/Log.h"
#include "common/registry/Win32Registry.h"
#include "control/GpoMonitor.h"
#include "monitoring/FWAlertApi.h"
#include "rules/ComErrors.h"
#include "settings_store/OrreryKeys.h"

namespace keys = tarn::keys;

namespace {

constexpr std::chrono::milliseconds kPolicyPollInterval{20000};

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

WinFW::WinFW(std::wstring namespaceName, tarn::SharedEvent stopEvent)
    : Stoppable(stopEvent),
      m_sharedStopEvent(std::move(stopEvent)),
      m_namespaceName(std::move(namespaceName)),
      m_settingsChangedEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_eventSender(std::make_shared<TarnEventSender>(m_namespaceName)) {
    if (!m_settingsChangedEvent) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "CreateEventW failed: " << tarn::describeError(GetLastError());
    }
}

WinFW::~WinFW() {
    // The worker refers to this object: a destruction without stop() must not leave it running.
    if (m_workerThread.joinable()) {
        WinFW::requestStop();
        m_workerThread.join();
    }
}

bool WinFW::isRuleKey(const std::wstring& key) {
    return key == keys::kCurrentProfileName || startsWith(key, keys::kProfiles) ||
           startsWith(key, keys::kNetworkIsolation) || startsWith(key, keys::kLanshareAllowRules);
}

void WinFW::onFWSettingChanged(const std::wstring& key) {
    if (key != keys::kTriggerFiltersReapply && key != keys::kTriggerSettingsReapply) {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Changed: " << key;
    }
    std::lock_guard lock(m_mutex);
    m_pendingKeys.insert(key);
    SetEvent(m_settingsChangedEvent.get());
}

bool WinFW::start(std::shared_ptr<IFWSettingsProvider> provider) {
    std::lock_guard lock(m_mutex);
    m_settingsProvider = std::move(provider);
    // Each later collaborator receives the earlier ones.
    m_alertApi = createAlertApi();
    m_fwPolicy = createFwPolicyHolder();
    m_fwStateManager =
        std::make_shared<FwStateManager>(m_settingsProvider, m_fwPolicy, &m_currentSettings);
    m_fwRuleManager = createFwRuleManager();
    m_eventMonitor = createEventMonitor();
    if (!m_eventMonitor || !m_eventMonitor->openFwpmEngine()) {
        return false;
    }
    m_statusObserver = createStatusObserver();
    if (!m_statusObserver || !m_statusObserver->start(m_settingsProvider)) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to start monitoring fw status";
    }
    // The first pass applies everything.
    onFWSettingChanged(keys::kTriggerSettingsReapply);
    onFWSettingChanged(keys::kProfiles);
    onFWSettingChanged(keys::kStatusWhitelistedProcesses);
    m_workerThread = std::thread(&WinFW::onFwSettingsChangedThreadFunc, this);
    if (!m_eventMonitor->startMonitoring(m_settingsProvider, m_alertApi)) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Failed to start monitoring events!";
    }
    return true;
}

void WinFW::requestStop() {
    std::shared_ptr<FirewallStatusObserver> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_statusObserver;
    }
    if (observer) {
        observer->requestStop();
    }
    Stoppable::requestStop();
}

void WinFW::stop() {
    requestStop();
    if (m_workerThread.joinable()) {
        m_workerThread.join();
    }
    std::lock_guard lock(m_mutex);
    if (m_eventMonitor) {
        m_eventMonitor->stopMonitoring();
        m_eventMonitor.reset();
    }
    if (m_statusObserver) {
        m_statusObserver->stop();
        m_statusObserver.reset();
    }
    m_fwStateManager.reset();
    m_fwRuleManager.reset();
    m_fwPolicy.reset();
}

std::shared_ptr<IFWAlertApi> WinFW::createAlertApi() {
    return std::make_shared<FWAlertApi>(m_namespaceName);
}

std::shared_ptr<WinFWEventMonitor> WinFW::createEventMonitor() {
    return std::make_shared<WinFWEventMonitor>();
}

std::shared_ptr<FirewallStatusObserver> WinFW::createStatusObserver() {
    return std::make_shared<FirewallStatusObserver>(m_sharedStopEvent);
}

std::shared_ptr<NetworkIsolationHandlers> WinFW::createIsolationHandlers() {
    return std::make_shared<NetworkIsolationHandlers>();
}

std::shared_ptr<FwPolicyHolder> WinFW::createFwPolicyHolder() {
    return std::make_shared<FwPolicyHolder>();
}

std::shared_ptr<FwRuleManager> WinFW::createFwRuleManager() {
    return std::make_shared<FwRuleManager>(*this, m_settingsProvider, m_alertApi, m_fwPolicy,
                                           &m_currentSettings);
}

std::chrono::milliseconds WinFW::policyPollInterval() const {
    return kPolicyPollInterval;
}

std::chrono::milliseconds WinFW::settleQuiet() const {
    return kSettleQuiet;
}

void WinFW::onFwSettingsChangedThreadFunc() {
    const CoInitializer com;
    bool reported = false;
    while (!isStopped() && !isFwPolicyReady()) {
        if (!reported) {
            writeUnavailableStatus();
            reported = true;
        }
        waitFor(policyPollInterval());
    }
    if (!isStopped()) {
        applyTarnDefaultRules();
    }
    while (!isStopped()) {
        const DWORD result = waitForEventOrStop(m_settingsChangedEvent.get());
        if (isStopped()) {
            TARN_LOG(TarnPyxLogging::LevelInfo) << "Stop signaled";
            break;
        }
        if (result != WAIT_OBJECT_0) {
            TARN_LOG(TarnPyxLogging::LevelError) << "Unknown exit code: " << result;
            requestStop();
            break;
        }
        waitForChangesToSettle();
        if (isStopped()) {
            TARN_LOG(TarnPyxLogging::LevelInfo) << "Stop signaled";
            break;
        }
        if (isFwPolicyReady()) {
            onFwSettingChangedImpl();
        } else {
            // The keys stay queued for the pass after the service's return.
            writeUnavailableStatus();
        }
    }
    restoreOnExit();
    TARN_LOG(TarnPyxLogging::LevelDebug) << "Done";
}

void WinFW::waitForChangesToSettle() {
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    while (!isStopped()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        const auto wait = std::min(left, settleQuiet());
        if (waitForEventOrStop(m_settingsChangedEvent.get(), wait) != WAIT_OBJECT_0) {
            return;  // quiet for a moment, or stopped
        }
    }
}

bool WinFW::isFirewallServiceRunning() {
    std::lock_guard lock(m_mutex);
    return !m_statusObserver || m_statusObserver->isFirewallServiceRunning();
}

bool WinFW::isFwPolicyReady() {
    std::lock_guard lock(m_mutex);
    if (!m_fwPolicy) {
        return false;
    }
    return m_fwPolicy->beSureThatInterfaceIsAlive(isFirewallServiceRunning());
}

bool WinFW::hasPolicyInterface() {
    std::lock_guard lock(m_mutex);
    return m_fwPolicy && m_fwPolicy->policy() != nullptr;
}

void WinFW::writeUnavailableStatus() {
    if (!m_settingsProvider) {
        return;
    }
    m_settingsProvider->writeStatus(m_settingsProvider->getCurrentSettings(), false,
                                    GpoMonitor::getFirewallGpoState(), false);
}

WinFW::ChangeFlags WinFW::takeChanges() {
    std::lock_guard lock(m_mutex);
    ChangeFlags flags;
    for (const wchar_t* key :
         {keys::kStatusWhitelistedProcesses, keys::kStatusAdditionalWhitelistedProcesses}) {
        flags.whitelistChanged = m_pendingKeys.erase(key) > 0 || flags.whitelistChanged;
    }
    flags.onlyFiltersReapply =
        m_pendingKeys.size() == 1 && *m_pendingKeys.begin() == keys::kTriggerFiltersReapply;
    if (!flags.onlyFiltersReapply) {
        for (const auto& key : m_pendingKeys) {
            flags.rulesChanged = flags.rulesChanged || isRuleKey(key);
            flags.reapplyAll = flags.reapplyAll || key == keys::kTriggerSettingsReapply;
        }
    }
    m_pendingKeys.clear();
    return flags;
}

void WinFW::onFwSettingChangedImpl() {
    if (!hasPolicyInterface()) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "No m_fwPolicy";
        return;
    }
    const ChangeFlags flags = takeChanges();
    if (flags.onlyFiltersReapply) {
        applyCurrentRules();
    } else {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Settings changed";
        processSettingsChange(flags.rulesChanged, flags.reapplyAll);
    }
    if (flags.whitelistChanged) {
        updateSylphWhitelistRules();
    }
}

void WinFW::processSettingsChange(bool rulesChanged, bool reapplyAll) {
    if (!hasPolicyInterface()) {
        return;
    }
    const FWCurrentSettings settings = m_settingsProvider->getCurrentSettings();
    const bool wasEnabled = m_settingsProvider->isFirewallEnabledStatus();
    if (!wasEnabled && !settings.firewallEnabled) {
        m_currentSettings = settings;
        updateIsolationAndStatus();
        return;
    }
    if (!reapplyAll && settings == m_currentSettings) {
        if (rulesChanged) {
            applyCurrentRules();
        }
        updateIsolationAndStatus();
        return;
    }
    if (settings.firewallEnabled || m_currentSettings.firewallEnabled) {
        applyFwSettings(settings, rulesChanged);
        return;
    }
    updateIsolationAndStatus();
}

void WinFW::applyFwSettings(const FWCurrentSettings& settings, bool rulesChanged) {
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Applying FW settings";
    const bool changed = !(settings == m_currentSettings);
    m_currentSettings = settings;
    if (changed || rulesChanged) {
        applyCurrentRules();
    }
    applyNetworkSettings();
    updateIsolationAndStatus();
}

void WinFW::updateIsolationAndStatus() {
    const bool active = isolationState();
    if (active != m_settingsProvider->isNetworkIsolationActive()) {
        onIsolationStateChanged(active);
    }
    m_settingsProvider->writeStatus(m_currentSettings, active, GpoMonitor::getFirewallGpoState(),
                                    isFirewallServiceRunning());
}

bool WinFW::isolationState() {
    if (!m_settingsProvider->isProfileIsolationStatus()) {
        return false;
    }
    if (GpoMonitor::getFirewallGpoState().overall() == GpoState::Disabled) {
        return false;
    }
    if (!isFirewallServiceRunning()) {
        return false;
    }
    return !m_settingsProvider->isSensorEnabled() || m_settingsProvider->isDnsIsolationStatus();
}

void WinFW::onIsolationStateChanged(bool on) {
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Profile Isolation turned " << (on ? "ON" : "OFF");
    if (const auto handlers = createIsolationHandlers()) {
        handlers->runHandlers(m_namespaceName);
    }
    m_eventSender->sendIsolationEvent(on);
}

void WinFW::restoreOnExit() {
    DWORD uninstalling = 0;
    const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE);
    if (!registry.readDword(L"SOFTWARE\\Tarn\\NS\\" + m_namespaceName + L"\\PYX",
                            L"FW_UNINSTALLING", uninstalling) ||
        uninstalling == 0) {
        return;
    }
    restoreNonTarnRuleSet(true);
    restoreNetworkSettings();
}

void WinFW::applyCurrentRules() {
    if (!m_fwRuleManager) {
        TARN_LOG(TarnPyxLogging::LevelError) << "m_fwRuleManager is invalid";
        return;
    }
    m_fwRuleManager->applyCurrentRules();
}

void WinFW::applyTarnDefaultRules() {
    if (!m_fwRuleManager) {
        TARN_LOG(TarnPyxLogging::LevelError) << "m_fwRuleManager is invalid";
        return;
    }
    m_fwRuleManager->applyTarnDefaultRules();
}

void WinFW::updateSylphWhitelistRules() {
    if (!m_fwRuleManager) {
        TARN_LOG(TarnPyxLogging::LevelError) << "m_fwRuleManager is invalid";
        return;
    }
    m_fwRuleManager->updateSylphWhitelistRules();
}

void WinFW::restoreNonTarnRuleSet(bool uninstalling) {
    if (!m_fwRuleManager) {
        TARN_LOG(TarnPyxLogging::LevelError) << "m_fwRuleManager is invalid";
        return;
    }
    m_fwRuleManager->restoreNonTarnRuleSet(uninstalling);
}

void WinFW::applyNetworkSettings() {
    if (!m_fwStateManager) {
        TARN_LOG(TarnPyxLogging::LevelError) << "m_fwStateManager is invalid";
        return;
    }
    m_fwStateManager->applyNetworkSettings(m_currentSettings);
}

void WinFW::restoreNetworkSettings() {
    if (!m_fwStateManager) {
        TARN_LOG(TarnPyxLogging::LevelError) << "m_fwStateManager is invalid";
        return;
    }
    m_fwStateManager->restoreNetworkSettings();
}
