// The provider's life (start, subscriptions, stop), its triggers and its single reads and
// writes of the store. Rules are read in FWSettingsRules.cpp, profiles in
// FWSettingsProfiles.cpp.
#include "settings/FWSettings.h"

#include <optional>

#include "settings/HostExecutable.h"
#include "settings/TarnDefaultRules.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"

namespace keys = tarn::keys;
using namespace std::chrono_literals;

namespace {

constexpr auto kDnsChangedInterval = 10000ms;
constexpr std::chrono::minutes kDnsLifetime{240};
constexpr auto kSettingsReapplyDelay = 2000ms;
constexpr auto kFiltersReapplyDelay = 5000ms;

}  // namespace

FWSettings::FWSettings(std::wstring namespaceName, Tarn::TaskScheduler& scheduler,
                       tarn::SharedEvent stopEvent)
    : tarn::Stoppable(stopEvent),
      m_namespaceName(std::move(namespaceName)),
      m_scheduler(scheduler),
      m_networkIsolationEnabled(keys::kNetworkIsolationEnabled),
      m_networkIsolationLocalEnabled(keys::kNetworkIsolationLocalEnabled),
      m_oldNetworkDefaults(keys::kStatusOldNetworkDefaults),
      m_stopEvent(std::move(stopEvent)) {}

FWSettings::~FWSettings() {
    FWSettings::stop();
}

// --- Life -----------------------------------------------------------------------------------

bool FWSettings::start(std::vector<std::shared_ptr<FWSettingsDelegate>> delegates) {
    {
        std::lock_guard state(m_stateMutex);
        m_delegates = std::move(delegates);
    }
    if (!openHandle(m_readHandle, keys::kReadClientName) ||
        !openHandle(m_writeHandle, keys::kWriteClientName)) {
        return false;
    }
    {
        std::lock_guard state(m_stateMutex);
        m_networkIsolationEnabled.setHandle(readHandle());
        m_networkIsolationLocalEnabled.setHandle(readHandle());
        m_oldNetworkDefaults.setHandle(readHandle());
    }
    {
        std::lock_guard lock(m_lock);
        try {
            // A changed address of a host named in a rule is a change of the rules.
            m_dnsCache = std::make_shared<tarn::FwDnsCache>(
                m_stopEvent, kDnsChangedInterval,
                [this] {
                    TARN_LOG_TAG(TarnPyxLogging::LevelDebug,
                                 "FWSettings::start::<lambda_1>::operator ()")
                        << "Dns cache changed";
                    onSettingChanged(keys::kProfiles);
                },
                kDnsLifetime);
        } catch (const std::exception& e) {
            TARN_LOG(TarnPyxLogging::LevelError) << "Failed to create the DNS cache: " << e.what();
            return false;
        }
        m_addrNormalizer = createAddrNormalizer();
    }
    subscribe();
    std::lock_guard lock(m_lock);
    m_lists.loadLists(readHandle());
    return true;
}

bool FWSettings::openHandle(tarn::SharedOrreryHandle& handle, const wchar_t* clientName) {
    int err = 1;
    handle.reset(
        PyxOrrery_OpenHandle(m_namespaceName.c_str(), keys::kSystemUserSid, clientName, &err));
    if (handle.get() == nullptr) {
        TARN_LOG_TAG(TarnPyxLogging::LevelError, "FWSettings::start")
            << "Failed to open orrery handle. Error = " << PyxOrrery_ErrorAsString(err);
        return false;
    }
    return true;
}

void FWSettings::subscribe() {
    for (const wchar_t* key : keys::kSubscribedKeys) {
        const int code = PyxOrrery_Subscribe(readHandle(), key, &subscriptionCallback, this);
        if (code != PYX_ORRERY_OK) {
            TARN_LOG_TAG(TarnPyxLogging::LevelError, "FWSettings::start")
                << "Failed to subscribe to " << key << ". Error: " << PyxOrrery_ErrorAsString(code);
        }
    }
}

void WINAPI FWSettings::subscriptionCallback(const wchar_t* key, const void*, const void*,
                                             void* context) {
    // Runs on the store library's thread: nothing may escape into it.
    const tarn::StoreWriteQueue::CallbackScope inCallback;
    try {
        static_cast<FWSettings*>(context)->onSettingChanged(key);
    } catch (const std::exception& e) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Change of " << key << " failed: " << e.what();
    }
}

void FWSettings::stop() {
    tarn::Stoppable::requestStop();
    std::shared_ptr<tarn::FwDnsCache> dnsCache;
    std::shared_ptr<tarn::RuleHostAddressNormalizer> normalizer;
    {
        std::lock_guard lock(m_lock);
        dnsCache = std::move(m_dnsCache);
        normalizer = std::move(m_addrNormalizer);
    }
    std::vector<std::shared_ptr<FWSettingsDelegate>> delegates;
    {
        std::lock_guard state(m_stateMutex);
        m_networkIsolationEnabled.setHandle(nullptr);
        m_networkIsolationLocalEnabled.setHandle(nullptr);
        m_oldNetworkDefaults.setHandle(nullptr);
        delegates.swap(m_delegates);
    }
    // Outside the locks: closing waits for a running change callback, and the DNS cache's
    // thread ends in one; either may be taking a lock of ours.
    if (dnsCache) {
        dnsCache->stop();
    }
    m_readHandle.reset();
    m_writeHandle.reset();
}

// --- Changes and triggers -------------------------------------------------------------------

void FWSettings::onSettingChanged(const std::wstring& key) {
    std::vector<std::shared_ptr<FWSettingsDelegate>> delegates;
    {
        std::lock_guard state(m_stateMutex);
        for (auto* cached : {&m_networkIsolationEnabled, &m_networkIsolationLocalEnabled}) {
            if (cached->key() == key) {
                cached->refresh();
            }
        }
        if (key == m_oldNetworkDefaults.key()) {
            m_oldNetworkDefaults.refresh();
        }
        delegates = m_delegates;
    }
    // The delegates run as store callbacks do: a write they make must not wait for a writer
    // that may be waiting for this very call.
    const tarn::StoreWriteQueue::CallbackScope inCallback;
    for (const auto& delegate : delegates) {
        delegate->onFWSettingChanged(key);
    }
}

void FWSettings::triggerReapplyFilters() {
    scheduleTrigger("FWSettings::triggerReapplyFilters", kFiltersReapplyDelay,
                    "FWSettings::triggerReapplyFilters::<lambda_1>::operator ()",
                    "Triggering FILTERS reapply", keys::kTriggerFiltersReapply);
}

void FWSettings::triggerReapplyAllSettings() {
    scheduleTrigger("FWSettings::triggerReapplyAllSettings", kSettingsReapplyDelay,
                    "FWSettings::triggerReapplyAllSettings::<lambda_1>::operator ()",
                    "Triggering SETTINGS reapply", keys::kTriggerSettingsReapply);
}

void FWSettings::scheduleTrigger(const char* taskName, std::chrono::milliseconds delay,
                                 const char* logTag, const char* logLine, const wchar_t* key) {
    m_scheduler.schedule(std::make_unique<Tarn::UniqueFuncTask>(
                             taskName,
                             [this, logTag, logLine, key] {
                                 TARN_LOG_TAG(TarnPyxLogging::LevelDebug, logTag) << logLine;
                                 onSettingChanged(key);
                             }),
                         delay);
}

// --- Rule-name lists ------------------------------------------------------------------------

void FWSettings::addRuleToList(const std::wstring& listName, const std::wstring& ruleName) {
    std::lock_guard lock(m_lock);
    m_lists.addRuleToList(listName, ruleName);
}

void FWSettings::removeRuleFromList(const std::wstring& listName, const std::wstring& ruleName) {
    std::lock_guard lock(m_lock);
    m_lists.removeRuleFromList(listName, ruleName);
}

void FWSettings::storeList(const std::wstring& listName) {
    // The list as it is when the write's turn comes: an earlier copy never overwrites a later
    // change.
    m_writes.run([this, listName] {
        std::optional<std::vector<std::wstring>> names;
        {
            std::lock_guard lock(m_lock);
            names = m_lists.namesToStore(listName);
        }
        if (names) {
            Orrery::setStringArray(writeHandle(), listName, *names);
        }
    });
}

std::vector<std::wstring> FWSettings::getList(const std::wstring& listName) {
    std::lock_guard lock(m_lock);
    return m_lists.getList(listName);
}

std::vector<std::wstring> FWSettings::getAllTarnRuleNames() {
    std::vector<std::wstring> names = getList(keys::kStatusInstalledRules);
    const std::vector<std::wstring> sylph = getList(keys::kStatusInstalledSylphRules);
    names.insert(names.end(), sylph.begin(), sylph.end());
    names.insert(names.end(), tarn::defaults::kTarnDefaultRuleNames.begin(),
                 tarn::defaults::kTarnDefaultRuleNames.end());
    return names;
}

// --- Cached values --------------------------------------------------------------------------

void FWSettings::storeOldNetworkSettings(const FWNetworkDefaultsSettings& defaults) {
    {
        std::lock_guard state(m_stateMutex);
        m_oldNetworkDefaults.keepValue(defaults);
    }
    // Through the handle that the cached settings read with.
    m_writes.run([this, defaults] { m_oldNetworkDefaults.writeValue(readHandle(), defaults); });
}

FWNetworkDefaultsSettings FWSettings::getOldNetworkSettings() {
    std::lock_guard state(m_stateMutex);
    m_oldNetworkDefaults.refresh();
    return m_oldNetworkDefaults.hasValue() ? m_oldNetworkDefaults.value()
                                           : FWNetworkDefaultsSettings{};
}

bool FWSettings::isNetworkIsolationEnabled() {
    std::lock_guard state(m_stateMutex);
    for (auto* cached : {&m_networkIsolationEnabled, &m_networkIsolationLocalEnabled}) {
        cached->refresh();
        if (cached->hasValue() && cached->value()) {
            return true;
        }
    }
    return false;
}

// --- Single reads and writes ----------------------------------------------------------------

bool FWSettings::isCurrentProfileNameLocked() {
    return Orrery::isKeyConstrained(readHandle(), keys::kCurrentProfileName);
}

std::wstring FWSettings::getAutoselectedProfileName() {
    return Orrery::getString(readHandle(), keys::kCurrentAutoselectedProfileName);
}

bool FWSettings::isNetworkIsolationActive() {
    return Orrery::getBool(readHandle(), keys::kStatusNetworkIsolationEnabled, false);
}

void FWSettings::setAllowedDnsFromRules(const std::vector<std::wstring>& names) {
    m_writes.run([this, names] {
        Orrery::setStringArray(readHandle(), keys::kStatusAllowedDnsFromRules, names);
    });
}

bool FWSettings::isFirewallEnabledStatus() {
    return Orrery::getBool(readHandle(), keys::kStatusFirewallEnabled, false);
}

bool FWSettings::isWinFwEnabledStatus() {
    return Orrery::getBool(readHandle(), keys::kStatusWinFwEnabled, false);
}

bool FWSettings::isProfileIsolationStatus() {
    return Orrery::getBool(readHandle(), keys::kStatusNetworkIsolationProfileIsolation, false);
}

bool FWSettings::isSensorEnabled() {
    return Orrery::getBool(readHandle(), keys::kSensorEnabled, false);
}

bool FWSettings::isDnsIsolationStatus() {
    return Orrery::getBool(readHandle(), keys::kStatusNetworkIsolationDnsIsolation, false);
}

bool FWSettings::canApplyDefaultInboundRules() {
    return Orrery::getBool(readHandle(), keys::kCanApplyDefaultInboundRules, false);
}

std::wstring FWSettings::getCommandPostAddress() {
    std::wstring address = Orrery::getString(readHandle(), keys::kCommandPostOverrideAddressHost);
    return address.empty() ? Orrery::getString(readHandle(), keys::kCommandPostAddressHost)
                           : address;
}

AutomaticProfileSelectionSettings FWSettings::getAutomaticProfileSelectionSettings() {
    std::lock_guard lock(m_lock);
    AutomaticProfileSelectionSettings settings;
    int err = 1;
    const tarn::UniqueOrreryObject object(
        PyxOrrery_GetObject(readHandle(), keys::kAutomaticProfileSelection, &err));
    if (object && err == PYX_ORRERY_OK) {
        settings.initializeFromOrreryObject(object.get());
    } else {
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "Settings cannot be read: " << PyxOrrery_ErrorAsString(err);
    }
    return settings;
}

LanshareSettings FWSettings::getLanshareSettings() {
    return Orrery::getObjectFromOrrery(readHandle(), keys::kLanshare, LanshareSettings{});
}

void FWSettings::setLanshareAllowRulesParams(const LanshareSettings& settings,
                                             const std::wstring& subnet) {
    m_writes.run([this, settings, subnet] {
        const PyxOrreryHandle handle = writeHandle();
        Orrery::setInt32(handle, keys::kLanshareAllowRulesPort, settings.port);
        Orrery::setBool(handle, keys::kLanshareAllowRulesClientEnabled, settings.clientEnabled);
        Orrery::setBool(handle, keys::kLanshareAllowRulesServerEnabled, settings.serverEnabled);
        Orrery::setString(handle, keys::kLanshareAllowRulesSubnet, subnet);
    });
}

std::vector<std::wstring> FWSettings::getWhitelistedProcesses() {
    const std::vector<std::wstring> none;
    std::vector<std::wstring> processes =
        Orrery::getObjectFromOrrery(readHandle(), keys::kStatusWhitelistedProcesses, none);
    const std::vector<std::wstring> additional = Orrery::getObjectFromOrrery(
        readHandle(), keys::kStatusAdditionalWhitelistedProcesses, none);
    processes.insert(processes.end(), additional.begin(), additional.end());
    return processes;
}

void FWSettings::setAutoselectedProfileName(const std::wstring& name) {
    m_writes.run([this, name] {
        Orrery::setString(writeHandle(), keys::kCurrentAutoselectedProfileName, name);
    });
}

void FWSettings::resetProfileNameChangedByUser() {
    m_writes.run(
        [this] { Orrery::setBool(writeHandle(), keys::kCurrentProfileNameChangedByUser, false); });
}

bool FWSettings::shouldDeleteOldInboundRules() {
    return !Orrery::getBool(readHandle(), keys::kStatusOldInboundRulesDeleted, false);
}

void FWSettings::setOldInboundRulesDeleted() {
    m_writes.run(
        [this] { Orrery::setBool(readHandle(), keys::kStatusOldInboundRulesDeleted, true); });
}

void FWSettings::getTarnDefaultRules(std::vector<FWRule>& out) {
    namespace defaults = tarn::defaults;
    // The product is a 32-bit program: its registry keys live in the 32-bit view.
    const tarn::Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    defaults::DefaultRulesInputs inputs;
    inputs.hostExecutable = tarn::hostExecutablePath();
    inputs.updateToolPath = defaults::findUpdateToolPath(registry, m_namespaceName);
    inputs.serverRuntimePath = defaults::findServerRuntimePath(registry);
    inputs.serverPorts = defaults::findServerPorts(registry);
    inputs.serverSystem = defaults::isServerSystem();
    inputs.inboundDefaultsAllowed = [this] { return canApplyDefaultInboundRules(); };
    inputs.commandPostAddress = getCommandPostAddress();
    defaults::appendTarnDefaultRules(inputs, out);
}
