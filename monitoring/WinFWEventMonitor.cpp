#include "monitoring/WinFWEventMonitor.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "common/logging/Log.h"
#include "monitoring/FwpmRecord.h"
#include "monitoring/FwpmWrapper.h"
#include "monitoring/WfpErrorText.h"
#include "monitoring/WfpEventInfo.h"
#include "settings/IFWSettingsProvider.h"
#include "settings_store/OrreryKeys.h"

namespace {

using TarnPyxLogging::LevelError;
using TarnPyxLogging::LevelInfo;

constexpr const wchar_t* kSessionName = L"TarnManageableWinFirewallSession";
constexpr const wchar_t* kSessionDescription = L"Monitoring session for Tarn Manageable firewall";
constexpr const wchar_t* kRuleGroupName = L"Tarn Firewall";
constexpr DWORD kKeywordsBuild = 19041;

// The version checks see the version that the host's manifest lets them see: a host without
// a manifest for Windows 10 sees 6.2 and build 9200, and the keywords then stay 0.
bool windowsAtLeast(DWORD major, DWORD minor) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    ULONGLONG condition = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

bool buildAtLeast(DWORD build) {
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof wanted;
    wanted.dwBuildNumber = build;
    return VerifyVersionInfoW(&wanted, VER_BUILDNUMBER,
                              VerSetConditionMask(0, VER_BUILDNUMBER, VER_GREATER_EQUAL)) != FALSE;
}

std::wstring guidText(const GUID& key) {
    GUID copy = key;
    RPC_WSTR text = nullptr;
    if (UuidToStringW(&copy, &text) != RPC_S_OK || text == nullptr) {
        return {};
    }
    std::wstring result = reinterpret_cast<const wchar_t*>(text);
    RpcStringFreeW(&text);
    return result;
}

// The engine's callbacks: nothing may unwind into the engine's thread.
void CALLBACK netEventCallback(void* context, const FWPM_NET_EVENT1* event) {
    try {
        static_cast<WinFWEventMonitor*>(context)->onFWNetEvent(event);
    } catch (const std::exception& e) {
        TARN_LOG(LevelError) << "Network event lost: " << e.what();
    } catch (...) {
        TARN_LOG(LevelError) << "Network event lost";
    }
}

void CALLBACK filterChangeCallback(void* context, const FWPM_FILTER_CHANGE0* change) {
    try {
        static_cast<WinFWEventMonitor*>(context)->onFWFilterChanged(change);
    } catch (const std::exception& e) {
        TARN_LOG(LevelError) << "Filter change lost: " << e.what();
    } catch (...) {
        TARN_LOG(LevelError) << "Filter change lost";
    }
}

}  // namespace

WinFWEventMonitor::WinsockUse::WinsockUse() {
    WSADATA data{};
    if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
        TARN_LOG(LevelError) << "WSAStartup failed with error: " << error;
        return;
    }
    m_started = true;
}

WinFWEventMonitor::WinsockUse::~WinsockUse() {
    if (m_started) {
        WSACleanup();
    }
}

WinFWEventMonitor::WinFWEventMonitor() {
    m_eventsLog.open(nullptr, L"Firewall", L"Events", LevelInfo, 0);
    m_blocksLog.open(nullptr, L"Firewall", L"Blocks", LevelInfo, 0);
}

WinFWEventMonitor::~WinFWEventMonitor() {
    stopMonitoring();
    m_eventsLog.close();
    m_blocksLog.close();
}

std::shared_ptr<IFwpmWrapper> WinFWEventMonitor::createFwpmWrapper() {
    return std::make_shared<FwpmWrapper>();
}

bool WinFWEventMonitor::openFwpmEngine() {
    if (m_engine != nullptr) {
        TARN_LOG(LevelInfo) << "FWEngineHandle had already opened";
        return true;
    }
    std::wstring name = kSessionName;
    std::wstring description = kSessionDescription;
    FWPM_SESSION0 session{};
    session.displayData.name = name.data();
    session.displayData.description = description.data();
    HANDLE engine = nullptr;
    const DWORD result = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine);
    if (result != ERROR_SUCCESS) {
        TARN_LOG(LevelError) << "FwpmEngineOpen failed with error " << wfpErrorText(result);
        return false;
    }
    m_engine = engine;
    m_sessionKey = session.sessionKey;
    return true;
}

bool WinFWEventMonitor::startMonitoring(std::shared_ptr<IFWSettingsProvider> settingsProvider,
                                        std::shared_ptr<IFWAlertApi> alertApi) {
    m_settingsProvider = std::move(settingsProvider);
    m_alertApi = std::move(alertApi);
    if (!initialize()) {
        TARN_LOG(LevelError) << "Initialization of event monitor failed";
        return false;
    }
    TARN_LOG(LevelInfo) << "Monitoring started";
    TARN_LOG_TO(m_eventsLog, LevelInfo) << "Monitoring started";
    return true;
}

bool WinFWEventMonitor::initialize() {
    if (!openFwpmEngine()) {
        return false;
    }
    m_fwpm = createFwpmWrapper();
    if (!m_fwpm) {
        return false;
    }
    setFwpmEngineOption();
    if (!subscribeOnFwpmNetEvent()) {
        return false;
    }
    subscribeOnFwpmFilterChanges();
    return true;
}

void WinFWEventMonitor::setFwpmEngineOption() {
    FWP_VALUE0 value{};
    value.type = FWP_UINT32;
    value.uint32 = 1;
    if (const DWORD result =
            m_fwpm->engineSetOption(m_engine, FWPM_ENGINE_COLLECT_NET_EVENTS, &value);
        result != ERROR_SUCCESS) {
        TARN_LOG(LevelError) << "FwpmEngineSetOption(FWPM_ENGINE_COLLECT_NET_EVENTS) failed with "
                                "error: "
                             << result;
    }
    if (!windowsAtLeast(6, 2)) {
        return;
    }
    value.uint32 = buildAtLeast(kKeywordsBuild) ? FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP |
                                                      FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW |
                                                      FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW
                                                : 0;
    if (const DWORD result =
            m_fwpm->engineSetOption(m_engine, FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS, &value);
        result != ERROR_SUCCESS) {
        TARN_LOG(LevelError) << "FwpmEngineSetOption(FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS) "
                                "failed: "
                             << result;
    }
    value.uint32 = 1;
    if (const DWORD result =
            m_fwpm->engineSetOption(m_engine, FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS, &value);
        result != ERROR_SUCCESS) {
        TARN_LOG(LevelError) << "FwpmEngineSetOption(FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS) "
                                "failed: "
                             << result;
    }
}

bool WinFWEventMonitor::subscribeOnFwpmNetEvent() {
    FWPM_NET_EVENT_ENUM_TEMPLATE0 everything{};
    FWPM_NET_EVENT_SUBSCRIPTION0 subscription{};
    subscription.enumTemplate = &everything;
    subscription.flags = 0;
    subscription.sessionKey = m_sessionKey;
    HANDLE handle = nullptr;
    const DWORD result =
        m_fwpm->netEventSubscribe(m_engine, &subscription, &netEventCallback, this, &handle);
    if (result != ERROR_SUCCESS) {
        TARN_LOG(LevelError) << "Failed to start monitoring. FwpmNetEventSubscribe returned "
                             << result << ". Continuing without monitoring";
        return false;
    }
    m_netEventSubscription = handle;
    return true;
}

void WinFWEventMonitor::subscribeOnFwpmFilterChanges() {
    FWPM_FILTER_SUBSCRIPTION0 subscription{};
    subscription.enumTemplate = nullptr;
    subscription.flags =
        FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD | FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE;
    subscription.sessionKey = m_sessionKey;
    HANDLE handle = nullptr;
    const DWORD result = m_fwpm->filterSubscribeChanges(m_engine, &subscription,
                                                        &filterChangeCallback, this, &handle);
    if (result != ERROR_SUCCESS) {
        TARN_LOG(LevelError)
            << "Failed to start filter changed. FwpmFilterSubscribeChanges returned " << result;
        return;
    }
    m_filterChangeSubscription = handle;
}

void WinFWEventMonitor::stopMonitoring() {
    if (m_engine != nullptr && m_fwpm) {
        if (m_filterChangeSubscription != nullptr) {
            m_fwpm->filterUnsubscribeChanges(m_engine, m_filterChangeSubscription);
            m_filterChangeSubscription = nullptr;
        }
        if (m_netEventSubscription != nullptr) {
            m_fwpm->netEventUnsubscribe(m_engine, m_netEventSubscription);
            m_netEventSubscription = nullptr;
        }
    }
    closeFwpmEngine();
}

void WinFWEventMonitor::closeFwpmEngine() {
    if (m_engine == nullptr) {
        return;
    }
    if (const DWORD result = FwpmEngineClose0(m_engine); result != ERROR_SUCCESS) {
        TARN_LOG(LevelError) << "FwpmEngineClose failed with error: " << wfpErrorText(result);
    }
    m_engine = nullptr;
}

void WinFWEventMonitor::triggerFiltersReapply() {
    if (m_settingsProvider) {
        m_settingsProvider->triggerReapplyFilters();
    }
}

bool WinFWEventMonitor::isAlertableEvent(WfpEventInfo& event) {
    if (!event.isDrop() || !m_settingsProvider) {
        return false;
    }
    const std::wstring name = event.getFilterName().value_or(std::wstring());
    if (name.empty()) {
        return false;
    }
    const auto alerting = m_settingsProvider->getList(tarn::keys::kStatusRulesForSendingAlerts);
    if (std::find(alerting.begin(), alerting.end(), name) == alerting.end()) {
        return false;
    }
    event.setRuleGroupName(kRuleGroupName);
    return true;
}

void WinFWEventMonitor::onFWNetEvent(const FWPM_NET_EVENT1* event) {
    WfpEventInfo info(event, m_engine, m_fwpm);
    if (isAlertableEvent(info) && m_alertApi) {
        m_alertApi->sendRuleTriggeredAlert(info);
    }
    TARN_LOG_TO(info.isDrop() ? m_blocksLog : m_eventsLog, LevelInfo) << info.toString();
}

void WinFWEventMonitor::onFWFilterChanged(const FWPM_FILTER_CHANGE0* change) {
    if (change == nullptr) {
        return;
    }
    uint32_t type = 0;  // read as the number it holds, whatever the engine put there
    static_assert(sizeof change->changeType == sizeof type);
    std::memcpy(&type, &change->changeType, sizeof type);
    if (type == FWPM_CHANGE_DELETE) {
        triggerFiltersReapply();
        return;
    }
    if (!m_fwpm) {
        return;
    }
    FwpmRecord<FWPM_FILTER0> filter(*m_fwpm);
    if (m_fwpm->filterGetByKey(m_engine, &change->filterKey, filter.put()) != ERROR_SUCCESS ||
        !filter) {
        return;
    }
    const std::wstring name =
        filter->displayData.name != nullptr ? filter->displayData.name : std::wstring();
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        changed = name != m_lastChangedFilterName;
    }
    if (changed) {
        TARN_LOG_TO(m_eventsLog, LevelInfo)
            << "Changed filter: " << name << " (" << static_cast<int32_t>(change->filterId) << ", "
            << guidText(change->filterKey) << ")";
        std::lock_guard lock(m_mutex);
        m_lastChangedFilterName = name;
    }
    filter.reset();
    triggerFiltersReapply();
}
