// Watches the Windows Firewall service and the registry's policy areas: answers whether the
// service runs, and asks the settings model to re-apply everything whenever the firewall's
// policy key or any key below SOFTWARE\Policies\Microsoft changes.
//
// Threads: its own thread waits on the registry's change notification and the stop events;
// isFirewallServiceRunning is asked from the controller's threads and only queries the service.
#pragma once

#include <memory>
#include <thread>

#include "common/WinHandles.h"
#include "control/TarnService.h"
#include "plugin/Stoppable.h"
#include "settings/IFWSettingsProvider.h"

class FirewallStatusObserver : public tarn::Stoppable {
public:
    // Opens the firewall service "MpsSvc" for reading.
    explicit FirewallStatusObserver(tarn::SharedEvent stopEvent);
    // Stops the thread if it still runs.
    ~FirewallStatusObserver() override;

    // Starts the watching thread; true once it runs. A thread that cannot be made throws
    // std::system_error.
    bool start(std::shared_ptr<IFWSettingsProvider> provider);
    // Requests the stop and waits for the thread.
    void stop() override;

    // True when the service cannot be opened (nothing known against it); otherwise whether it
    // is running, a failed query counting as not running.
    virtual bool isFirewallServiceRunning();

protected:
    virtual void onPolicyChanged();
    // (Re)open and arm the watch of each key; false when that failed.
    virtual bool watchFirewallPolicyKey();
    virtual bool watchPoliciesKey();

private:
    void monitoringThreadFunc();
    // Closes the key in `slot`, opens `path` for notification and arms the watch; the Win32
    // error, 0 on success.
    LSTATUS startWatchingForChanges(tarn::UniqueHKey& slot, const wchar_t* path);

    std::shared_ptr<IFWSettingsProvider> m_provider;
    std::thread m_thread;
    tarn::UniqueHandle m_registryChanged;
    tarn::UniqueHKey m_firewallPolicyKey;
    tarn::UniqueHKey m_policiesKey;
    TarnService m_service{L"MpsSvc", true};
};
