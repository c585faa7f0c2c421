#include "control/FirewallStatusObserver.h"

#include <vector>

#include "common/logging/Log.h"

namespace {

constexpr const wchar_t* kFirewallPolicyKey =
    L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";
constexpr const wchar_t* kPoliciesKey = L"SOFTWARE\\Policies\\Microsoft";

}  // namespace

FirewallStatusObserver::FirewallStatusObserver(tarn::SharedEvent stopEvent)
    : Stoppable(std::move(stopEvent)),
      m_registryChanged(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FirewallStatusObserver::~FirewallStatusObserver() {
    FirewallStatusObserver::stop();
}

bool FirewallStatusObserver::start(std::shared_ptr<IFWSettingsProvider> provider) {
    m_provider = std::move(provider);
    m_thread = std::thread(&FirewallStatusObserver::monitoringThreadFunc, this);
    return true;
}

void FirewallStatusObserver::stop() {
    requestStop();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

bool FirewallStatusObserver::isFirewallServiceRunning() {
    if (!m_service.isOpen()) {
        return true;
    }
    const auto state = m_service.currentState();
    return state && *state == SERVICE_RUNNING;
}

void FirewallStatusObserver::onPolicyChanged() {
    if (m_provider) {
        m_provider->triggerReapplyAllSettings();
    }
}

bool FirewallStatusObserver::watchFirewallPolicyKey() {
    return startWatchingForChanges(m_firewallPolicyKey, kFirewallPolicyKey) == ERROR_SUCCESS;
}

bool FirewallStatusObserver::watchPoliciesKey() {
    return startWatchingForChanges(m_policiesKey, kPoliciesKey) == ERROR_SUCCESS;
}

LSTATUS FirewallStatusObserver::startWatchingForChanges(tarn::UniqueHKey& slot,
                                                        const wchar_t* path) {
    slot.reset();
    // SOFTWARE\Policies is shared by the two registry views: the 64-bit view names it for a
    // 32-bit process too (SYSTEM is not redirected at all).
    LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_NOTIFY | KEY_WOW64_64KEY, slot.put());
    if (status != ERROR_SUCCESS) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Error in RegOpenKeyEx: " << status << " for " << path;
        return status;
    }
    // A notification fires once: the watch is armed again on every pass.
    status = RegNotifyChangeKeyValue(slot.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET,
                                     m_registryChanged.get(), TRUE);
    if (status != ERROR_SUCCESS) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Error in RegNotifyChangeKeyValue: " << status << " for " << path;
    }
    return status;
}

void FirewallStatusObserver::monitoringThreadFunc() {
    while (!isStopped()) {
        if (!watchFirewallPolicyKey()) {
            break;
        }
        watchPoliciesKey();
        const DWORD result = waitForEventOrStop(m_registryChanged.get());
        if (isStopped()) {
            TARN_LOG(TarnPyxLogging::LevelInfo) << "Stop signaled";
            break;
        }
        if (result != WAIT_OBJECT_0) {
            TARN_LOG(TarnPyxLogging::LevelError) << "Unexpected wait result: " << result;
            requestStop();
            break;
        }
        onPolicyChanged();
    }
    m_firewallPolicyKey.reset();
    m_policiesKey.reset();
}
