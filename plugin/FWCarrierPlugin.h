// The firewall plug-in. PluginMain runs on a host thread for the plug-in's working life: it
// waits until the settings store has been updated online (when the policy asks for it),
// creates the settings provider, the network snapshot, the firewall controller and the
// automatic profile selection, starts them, runs the task scheduler's loop until PluginStop,
// and shuts everything down in order. PluginStop, from another host thread, only signals.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "common/TaskScheduler.h"
#include "plugin/DelayLoad.h"
#include "plugin/FirewallController.h"
#include "plugin/Stoppable.h"
#include "plugin/TarnCarrierPlugin.h"
#include "profile_selection/AutomaticProfileSelection.h"
#include "profile_selection/NetworkSettings.h"
#include "settings/FWSettings.h"

class FWCarrierPlugin : public TarnCarrierPlugin, public tarn::Stoppable {
public:
    FWCarrierPlugin();
    ~FWCarrierPlugin() override;

    uint32_t PluginInitialize() override;
    uint32_t PluginMain() override;
    void PluginNotify() override {}
    void PluginStop() override;

protected:
    virtual std::shared_ptr<FirewallController> createWinFW();
    virtual std::shared_ptr<FWSettings> createFWSettings();
    virtual std::shared_ptr<NetworkSettings> createNetworkSettings();
    virtual std::shared_ptr<AutomaticProfileSelection> createAutomaticProfileSelection(
        std::shared_ptr<FWSettings> fwSettings, std::shared_ptr<NetworkSettings> networkSettings);
    // True once the store was updated online; false when stopped while waiting.
    virtual bool waitForOnlineOrrery();
    virtual std::chrono::milliseconds getOnlineWaitInterval() const;
    // The loader of the maker's libraries; the process's one, which delay-imported calls use.
    virtual tarn::DelayLoader& libraryLoader() { return tarn::delayLoader(); }
    // Makes the settings store library usable for the namespace.
    virtual bool delayLoadOrrery();
    // Makes the alert and event libraries usable before any collaborator may call them.
    virtual bool delayLoadAlertAndEventLibraries();

    Tarn::TaskScheduler& scheduler() { return m_scheduler; }
    const tarn::SharedEvent& stopEvent() const { return m_stopEvent; }

private:
    bool readRequireOnline();
    int64_t readLastOnlineUpdate();
    // Creates and starts the collaborators; false when one does not start.
    bool startCollaborators();
    void shutDown();

    Tarn::TaskScheduler m_scheduler;
    std::shared_ptr<FirewallController> m_winFW;
    std::shared_ptr<FWSettings> m_fwSettings;
    std::shared_ptr<NetworkSettings> m_networkSettings;
    std::shared_ptr<AutomaticProfileSelection> m_automaticProfileSelection;

    std::mutex m_stopEventMutex;  // PluginStop may come while PluginMain creates the event
    tarn::SharedEvent m_stopEvent;
    bool m_orreryLoaded = false;
};
