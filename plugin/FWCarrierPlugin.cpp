#include "plugin/FWCarrierPlugin.h"

#include "common/logging/Log.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"
#include "settings_store/OrreryResources.h"

namespace {

constexpr const wchar_t* kSystemSid = L"S-1-5-18";
constexpr const wchar_t* kClientName = L"tarn_manageable_win_firewall connect";

tarn::UniqueOrreryHandle openStore(const std::wstring& namespaceName) {
    return tarn::UniqueOrreryHandle(
        PyxOrrery_OpenHandleEx(namespaceName.c_str(), kSystemSid, kClientName, 0, 1));
}

}  // namespace

FWCarrierPlugin::FWCarrierPlugin() {
    TarnPyxLogging::logger().open(static_cast<const wchar_t*>(nullptr), L"Firewall",
                                  L"FirewallPlugin", TarnPyxLogging::LevelInfo, 0);
}

FWCarrierPlugin::~FWCarrierPlugin() {
    // PluginMain releases its collaborators before it returns; a host that destroys the
    // plug-in without running it leaves nothing to stop.
    shutDown();
}

bool FWCarrierPlugin::delayLoadOrrery() {
    return libraryLoader().load(tarn::kOrreryLibrary, namespaceName());
}

bool FWCarrierPlugin::delayLoadAlertAndEventLibraries() {
    const bool alerts = libraryLoader().load(tarn::kAlertLibrary, namespaceName());
    const bool events = libraryLoader().load(tarn::kEventLibrary, namespaceName());
    return alerts && events;
}

uint32_t FWCarrierPlugin::PluginInitialize() {
    m_orreryLoaded = delayLoadOrrery();
    if (!m_orreryLoaded) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to delay load orrery library!";
        return 1;
    }
    return 0;
}

bool FWCarrierPlugin::readRequireOnline() {
    const tarn::UniqueOrreryHandle store = openStore(namespaceName());
    return Orrery::getBool(store.get(), tarn::keys::kRequireOnlineOrreryProfile, true);
}

int64_t FWCarrierPlugin::readLastOnlineUpdate() {
    const tarn::UniqueOrreryHandle store = openStore(namespaceName());
    return Orrery::getInt64(store.get(), tarn::keys::kLastSuccessfulUpdateTimestamp, 0);
}

std::chrono::milliseconds FWCarrierPlugin::getOnlineWaitInterval() const {
    return std::chrono::milliseconds(1000);
}

bool FWCarrierPlugin::waitForOnlineOrrery() {
    while (readLastOnlineUpdate() == 0) {
        if (waitFor(getOnlineWaitInterval())) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<FirewallController> FWCarrierPlugin::createWinFW() {
    return makeFirewallController(namespaceName(), m_stopEvent);
}

std::shared_ptr<FWSettings> FWCarrierPlugin::createFWSettings() {
    return std::make_shared<FWSettings>(namespaceName(), m_scheduler, m_stopEvent);
}

std::shared_ptr<NetworkSettings> FWCarrierPlugin::createNetworkSettings() {
    auto network = std::make_shared<NetworkSettings>();
    network->refresh();
    return network;
}

std::shared_ptr<AutomaticProfileSelection> FWCarrierPlugin::createAutomaticProfileSelection(
    std::shared_ptr<FWSettings> fwSettings, std::shared_ptr<NetworkSettings> networkSettings) {
    return std::make_shared<AutomaticProfileSelection>(m_scheduler, std::move(fwSettings),
                                                       std::move(networkSettings));
}

uint32_t FWCarrierPlugin::PluginMain() {
    TarnPyxLogging::logger().logfNoFunction(
        TarnPyxLogging::LevelInfo, "Binary version: %d.%d.%d.%d, compilation time: %s %s",
        TARN_VERSION_MAJOR, TARN_VERSION_MINOR, TARN_VERSION_PATCH, TARN_VERSION_TWEAK, __DATE__,
        __TIME__);
    if (!m_orreryLoaded) {
        // Without the store library every call of it would fail to resolve.
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to start!";
        return 1;
    }
    if (readRequireOnline() && !waitForOnlineOrrery()) {
        TARN_LOG(TarnPyxLogging::LevelInfo) << "Exiting before orrery is connected";
        return 0;
    }
    if (!delayLoadAlertAndEventLibraries()) {
        // The collaborators call them from their threads, where a missing library could
        // not be reported; without them nothing starts.
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to start!";
        return 1;
    }
    {
        const std::lock_guard lock(m_stopEventMutex);
        m_stopEvent = tarn::makeSharedEvent();
    }
    if (!startCollaborators()) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Failed to start!";
        shutDown();
        return 1;
    }
    m_scheduler.run();
    shutDown();
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Stopped";
    return 0;
}

bool FWCarrierPlugin::startCollaborators() {
    m_fwSettings = createFWSettings();
    m_networkSettings = createNetworkSettings();
    m_winFW = createWinFW();
    m_automaticProfileSelection = createAutomaticProfileSelection(m_fwSettings, m_networkSettings);
    if (!m_fwSettings || !m_winFW || !m_automaticProfileSelection) {
        TARN_LOG(TarnPyxLogging::LevelError) << "A collaborator could not be created";
        return false;
    }
    // The delegate list lives only for the start: FWSettings keeps its own copy until stop.
    std::vector<std::shared_ptr<FWSettingsDelegate>> delegates{m_winFW,
                                                               m_automaticProfileSelection};
    return m_fwSettings->start(std::move(delegates)) && m_winFW->start(m_fwSettings);
}

void FWCarrierPlugin::shutDown() {
    if (m_winFW) {
        m_winFW->stop();
    }
    if (m_fwSettings) {
        m_fwSettings->stop();
    }
    m_winFW.reset();
    m_automaticProfileSelection.reset();
    m_fwSettings.reset();
    m_networkSettings.reset();
}

void FWCarrierPlugin::PluginStop() {
    TARN_LOG(TarnPyxLogging::LevelInfo) << "Stop signaled";
    {
        const std::lock_guard lock(m_stopEventMutex);
        if (m_stopEvent && m_stopEvent->valid()) {
            SetEvent(m_stopEvent->get());
        }
    }
    requestStop();
    m_scheduler.stop(true);
}
