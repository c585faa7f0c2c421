// Watches the Windows Filtering Platform: an engine session of its own, collection of network
// events switched on, and two subscriptions. Every network event is decoded and written to the
// "Blocks" log (drops) or the "Events" log (everything else); a drop by a managed rule that asks
// for alerts becomes an alert. Every filter change asks the settings model to re-apply the
// rules, so that rules removed or altered by someone else are put back.
//
// The two callbacks run on the engine's threads, concurrently with each other and with the
// controller; only the last changed filter's name is shared between them.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "common/logging/LoggerWin.h"
#include "monitoring/IFWAlertApi.h"
#include "monitoring/IFwpmWrapper.h"
#include "platform/wfp.h"
#include "platform/win.h"

class IFWSettingsProvider;
class WfpEventInfo;

class WinFWEventMonitor {
public:
    // Opens the "Events" and "Blocks" logs of component "Firewall".
    WinFWEventMonitor();
    // Ends the monitoring if it still runs, then closes the two logs.
    virtual ~WinFWEventMonitor();
    WinFWEventMonitor(const WinFWEventMonitor&) = delete;
    WinFWEventMonitor& operator=(const WinFWEventMonitor&) = delete;

    // Opens the engine session; true also when it is open already.
    virtual bool openFwpmEngine();
    // Opens the engine if needed, sets the engine options and subscribes; false when the
    // engine cannot be opened or network events cannot be subscribed to.
    virtual bool startMonitoring(std::shared_ptr<IFWSettingsProvider> settingsProvider,
                                 std::shared_ptr<IFWAlertApi> alertApi);
    // Ends both subscriptions (waiting for running callbacks), then closes the engine.
    void stopMonitoring();

    // The engine's notifications, forwarded by the two callback functions.
    virtual void onFWNetEvent(const FWPM_NET_EVENT1* event);
    virtual void onFWFilterChanged(const FWPM_FILTER_CHANGE0* change);

    TarnPyxLogging::Logger& eventsLog() { return m_eventsLog; }
    TarnPyxLogging::Logger& blocksLog() { return m_blocksLog; }

protected:
    virtual std::shared_ptr<IFwpmWrapper> createFwpmWrapper();
    virtual void closeFwpmEngine();
    // Asks the settings model for a re-application of the rules.
    virtual void triggerFiltersReapply();

    HANDLE engine() const { return m_engine; }

private:
    // Winsock for the address texts of the events, while the monitor lives.
    class WinsockUse {
    public:
        WinsockUse();
        ~WinsockUse();
        WinsockUse(const WinsockUse&) = delete;
        WinsockUse& operator=(const WinsockUse&) = delete;

    private:
        bool m_started = false;
    };

    bool initialize();
    void setFwpmEngineOption();
    bool subscribeOnFwpmNetEvent();
    void subscribeOnFwpmFilterChanges();
    bool isAlertableEvent(WfpEventInfo& event);

    TarnPyxLogging::LoggerWin m_eventsLog;
    TarnPyxLogging::LoggerWin m_blocksLog;
    WinsockUse m_winsock;
    HANDLE m_engine = nullptr;
    GUID m_sessionKey{};
    std::shared_ptr<IFwpmWrapper> m_fwpm;
    std::shared_ptr<IFWSettingsProvider> m_settingsProvider;
    std::shared_ptr<IFWAlertApi> m_alertApi;
    HANDLE m_netEventSubscription = nullptr;
    HANDLE m_filterChangeSubscription = nullptr;
    std::mutex m_mutex;  // guards m_lastChangedFilterName
    std::wstring m_lastChangedFilterName;
};
