// Keeps the firewall profile in step with the network the host is on. It polls the network
// snapshot every 10 seconds; when the network or the selection policy changes it recomputes
// the Lanshare allow-rule parameters and writes the profile named by the first matching
// selection rule as the automatically selected one. It acts only through the settings
// provider.
//
// Threads: onFWSettingChanged runs on the thread that delivers changes and only schedules;
// everything else runs on the scheduler's thread, one task at a time.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "common/TaskScheduler.h"
#include "profile_selection/NetworkSettings.h"
#include "settings/FWSettingsDelegate.h"
#include "settings/IFWSettingsProvider.h"

class AutomaticProfileSelection : public FWSettingsDelegate {
public:
    static constexpr std::chrono::milliseconds kNetworkPollPeriod{10000};
    static constexpr const char* kFullUpdateTask = "AutomaticProfileSelection_InitialFullUpdate";
    static constexpr const char* kNetworkRefreshTask =
        "AutomaticProfileSelection_RefreshNetworkSettings";

    // Schedules a full update now and the first network poll in 10 seconds. The tasks refer
    // to this object: the scheduler must not run them after it is gone (the destructor
    // withdraws the queued ones; a running one must have ended).
    AutomaticProfileSelection(Tarn::TaskScheduler& scheduler,
                              std::shared_ptr<IFWSettingsProvider> provider,
                              std::shared_ptr<NetworkSettings> network);
    ~AutomaticProfileSelection() override;
    AutomaticProfileSelection(const AutomaticProfileSelection&) = delete;
    AutomaticProfileSelection& operator=(const AutomaticProfileSelection&) = delete;

    void onFWSettingChanged(const std::wstring& key) override;
    // The Lanshare parameters, then the profile.
    virtual void fullUpdate();

    // The two halves of a full update.
    void detectCurrentProfileName();
    void updateLanshareRulesParams();

protected:
    void scheduleFullUpdate(std::chrono::milliseconds delay);
    // Polls the network after `delay`, and again every `delay` after that.
    void scheduleNetworkRefresh(std::chrono::milliseconds delay);

private:
    // A full update when the network changed, then the next poll.
    void pollNetwork(std::chrono::milliseconds period);

    Tarn::TaskScheduler& m_scheduler;
    const std::shared_ptr<IFWSettingsProvider> m_provider;
    const std::shared_ptr<NetworkSettings> m_network;
};
