#include "profile_selection/AutomaticProfileSelection.h"

#include "common/Str.h"
#include "common/logging/Log.h"
#include "profile_selection/LanshareParamsResolver.h"
#include "profile_selection/SelectionConditions.h"
#include "settings_store/OrreryKeys.h"

namespace {

namespace keys = tarn::keys;

// The keys whose change calls for a full update.
bool wantsFullUpdate(const std::wstring& key) {
    return key.find(keys::kAutomaticProfileSelection) != std::wstring::npos ||
           tarn::str::startsWith(key, keys::kLanshare) || key == keys::kNetworkIsolationEnabled ||
           key == keys::kNetworkIsolationLocalEnabled;
}

LanshareSettings nothingAllowed() {
    return LanshareSettings{false, false, -1, L""};
}

}  // namespace

AutomaticProfileSelection::AutomaticProfileSelection(Tarn::TaskScheduler& scheduler,
                                                     std::shared_ptr<IFWSettingsProvider> provider,
                                                     std::shared_ptr<NetworkSettings> network)
    : m_scheduler(scheduler), m_provider(std::move(provider)), m_network(std::move(network)) {
    scheduleFullUpdate(std::chrono::milliseconds(0));
    scheduleNetworkRefresh(kNetworkPollPeriod);
}

AutomaticProfileSelection::~AutomaticProfileSelection() {
    m_scheduler.cancel(kFullUpdateTask);
    m_scheduler.cancel(kNetworkRefreshTask);
}

void AutomaticProfileSelection::scheduleFullUpdate(std::chrono::milliseconds delay) {
    m_scheduler.schedule(
        std::make_unique<Tarn::UniqueFuncTask>(kFullUpdateTask, [this] { fullUpdate(); }), delay);
}

void AutomaticProfileSelection::scheduleNetworkRefresh(std::chrono::milliseconds delay) {
    m_scheduler.schedule(std::make_unique<Tarn::UniqueFuncTask>(
                             kNetworkRefreshTask, [this, delay] { pollNetwork(delay); }),
                         delay);
}

void AutomaticProfileSelection::pollNetwork(std::chrono::milliseconds period) {
    if (m_network->refresh()) {
        scheduleFullUpdate(std::chrono::milliseconds(0));
    }
    scheduleNetworkRefresh(period);
}

void AutomaticProfileSelection::onFWSettingChanged(const std::wstring& key) {
    if (key == keys::kCurrentProfileName) {
        if (m_provider->isCurrentProfileNameLocked()) {
            TARN_LOG(TarnPyxLogging::LevelInfo) << key << " is readonly";
            m_provider->resetProfileNameChangedByUser();
        }
        return;
    }
    if (wantsFullUpdate(key)) {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Settings change detected in " << key;
        scheduleFullUpdate(std::chrono::milliseconds(0));
    }
}

void AutomaticProfileSelection::fullUpdate() {
    updateLanshareRulesParams();
    detectCurrentProfileName();
}

void AutomaticProfileSelection::detectCurrentProfileName() {
    const AutomaticProfileSelectionSettings settings =
        m_provider->getAutomaticProfileSelectionSettings();
    if (!settings.enabled || settings.rules.empty()) {
        return;
    }
    std::wstring chosen;
    for (const auto& [priority, rule] : settings.rules) {
        if (matchesCondition(*m_network, rule.method1, rule.argument1) &&
            matchesCondition(*m_network, rule.method2, rule.argument2)) {
            chosen = rule.profileName;
            break;
        }
    }
    if (chosen.empty() || chosen == m_provider->getAutoselectedProfileName()) {
        return;
    }
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Detected new profile name: " << chosen;
    m_provider->setAutoselectedProfileName(chosen);
    m_provider->resetProfileNameChangedByUser();
}

void AutomaticProfileSelection::updateLanshareRulesParams() {
    LanshareSettings settings = m_provider->getLanshareSettings();
    std::wstring subnet;
    if ((!settings.serverEnabled && !settings.clientEnabled) || settings.port < 0 ||
        m_provider->isNetworkIsolationEnabled()) {
        settings = nothingAllowed();
    } else {
        const std::vector<std::wstring> networks = m_network->getNetworks();
        for (const auto& network : networks) {
            TARN_LOG(TarnPyxLogging::LevelInfo) << "IP range: " << network;
        }
        bool ok = false;
        LanshareParamsResolver(settings).resolve(networks, ok, subnet);
        if (!ok) {
            settings = nothingAllowed();
        }
    }
    m_provider->setLanshareAllowRulesParams(settings, subnet);
}
