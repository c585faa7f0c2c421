// The preview on the simulated machine: the system's own settings model, profile selection and
// controller, run once in this process against the machine of the preview.
#include "tools/policy/Preview.h"

#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "common/Str.h"
#include "control/WinFW.h"
#include "monitoring/FWAlertApi.h"
#include "platform/win.h"
#include "profile_selection/AutomaticProfileSelection.h"
#include "settings/FWSettings.h"
#include "settings/HostExecutable.h"
#include "settings_store/OrreryResources.h"
#include "sim/firewall_control.h"
#include "sim/iphlp_control.h"
#include "sim/machine.h"
#include "sim/machine_file.h"

namespace tarn::policy {

namespace {

// A pass over a very large policy on a slow machine still ends well within this.
constexpr std::chrono::minutes kPassLimit{10};

std::string utf8(const std::wstring& text) {
    return str::toUtf8(text);
}

// A fresh folder for the preview's store and spool, removed with its content at the end. In
// memory where the host has a memory file system: the store writes each change durably, which
// a throw-away store does not need and a disk makes slow.
class ScratchFolder {
public:
    ScratchFolder() {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path base =
            fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "tarn-policy-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw PolicyError("cannot create a temporary folder in " + base.string());
        }
        m_path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::wstring path(const wchar_t* name) const { return str::fromUtf8(m_path) + L"/" + name; }

private:
    std::string m_path;
};

// An environment variable of the machine set while the object lives, then restored.
class EnvironmentOverride {
public:
    EnvironmentOverride(const wchar_t* name, const std::wstring& value) : m_name(name) {
        wchar_t old[MAX_PATH * 4] = {};
        const DWORD length = GetEnvironmentVariableW(name, old, MAX_PATH * 4);
        if (length > 0 && length < MAX_PATH * 4) {
            m_old = std::wstring(old, length);
        }
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~EnvironmentOverride() { SetEnvironmentVariableW(m_name, m_old ? m_old->c_str() : nullptr); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    const wchar_t* m_name;
    std::optional<std::wstring> m_old;
};

// What the endpoint reports about rules, as it reports it. Reports made while a rule object of
// the policy is read carry that object's place in the order of reading.
struct RawRefusal {
    FWRule rule;
    std::wstring reason;
    std::wstring invalidPart;
    std::optional<size_t> item;
};

struct RefusalLog {
    std::mutex mutex;
    std::optional<size_t> item;
    std::vector<RawRefusal> entries;
};

class RecordingAlertApi : public IFWAlertApi {
public:
    explicit RecordingAlertApi(RefusalLog& log) : m_log(log) {}
    void sendRuleTriggeredAlert(const WfpEventInfo&) override {}
    void sendRuleApplicationFailedAlert(const FWRule& rule, const std::wstring& error,
                                        const std::wstring& data) override {
        std::lock_guard lock(m_log.mutex);
        m_log.entries.push_back({rule, error, data, m_log.item});
    }

private:
    RefusalLog& m_log;
};

// The settings model that numbers the rule objects it reads in one reading of the current
// rules, and tells when the controller wrote the status (the end of its pass).
class PreviewSettings : public FWSettings {
public:
    PreviewSettings(const std::wstring& nameSpace, Tarn::TaskScheduler& scheduler,
                    tarn::SharedEvent stop, RefusalLog& log, std::wstring hostProgram)
        : FWSettings(nameSpace, scheduler, std::move(stop)),
          m_log(log),
          m_hostProgram(std::move(hostProgram)) {}

    // The built-in rules of the endpoint's host program and of its helpers beside it, not of
    // this one.
    void getTarnDefaultRules(std::vector<FWRule>& out) override {
        FWSettings::getTarnDefaultRules(out);
        const std::wstring own = tarn::hostExecutablePath();
        for (FWRule& rule : out) {
            if (rule.applicationPath == own) {
                rule.applicationPath = m_hostProgram;
            } else if (!rule.applicationPath.empty() &&
                       tarn::parentFolder(rule.applicationPath) == tarn::parentFolder(own)) {
                rule.applicationPath =
                    tarn::joinPath(tarn::parentFolder(m_hostProgram),
                                   rule.applicationPath.substr(tarn::parentFolder(own).size() + 1));
            }
        }
    }

    std::vector<FWRule> getCurrentRules(std::vector<std::wstring>& resolvedDnsNames,
                                        const InvalidRuleReporter& reporter) override {
        m_read = 0;
        return FWSettings::getCurrentRules(
            resolvedDnsNames, [this, &reporter](const FWRule& rule, const std::wstring& reason,
                                                const std::wstring& part) {
                {
                    std::lock_guard lock(m_log.mutex);
                    m_log.item = m_read - 1;
                }
                reporter(rule, reason, part);
                std::lock_guard lock(m_log.mutex);
                m_log.item.reset();
            });
    }
    bool readFWRule(PyxOrreryObject object, FWRule& rule, std::vector<std::wstring>& resolved,
                    const InvalidRuleReporter& reporter) override {
        ++m_read;
        return FWSettings::readFWRule(object, rule, resolved, reporter);
    }
    void writeStatus(const FWCurrentSettings& settings, bool isolationActive,
                     const FirewallGpoState& gpoState, bool serviceRunning) override {
        FWSettings::writeStatus(settings, isolationActive, gpoState, serviceRunning);
        std::lock_guard lock(m_statusMutex);
        m_statusWritten = true;
        m_written.notify_all();
    }
    bool waitForStatus() {
        std::unique_lock lock(m_statusMutex);
        return m_written.wait_for(lock, kPassLimit, [this] { return m_statusWritten; });
    }

private:
    RefusalLog& m_log;
    const std::wstring m_hostProgram;
    size_t m_read = 0;  // the controller's worker alone reads rules
    std::mutex m_statusMutex;
    std::condition_variable m_written;
    bool m_statusWritten = false;
};

// The controller as the plug-in has it, with three differences that change nothing on the
// firewall: refusals are recorded instead of sent, isolation starts no programs, and the pass
// starts at once, as every key is in place before the controller starts.
class PreviewController : public WinFW {
public:
    PreviewController(const std::wstring& nameSpace, tarn::SharedEvent stop, RefusalLog& log)
        : WinFW(nameSpace, std::move(stop)), m_log(log) {}

protected:
    std::shared_ptr<IFWAlertApi> createAlertApi() override {
        return std::make_shared<RecordingAlertApi>(m_log);
    }
    std::shared_ptr<NetworkIsolationHandlers> createIsolationHandlers() override { return {}; }
    std::chrono::milliseconds settleQuiet() const override { return std::chrono::milliseconds(0); }

private:
    RefusalLog& m_log;
};

void loadMachine(const std::optional<json>& machine) {
    if (!machine) {
        sim::reset();
        return;
    }
    try {
        sim::machine_file::load(machine->dump());
    } catch (const std::invalid_argument& e) {
        throw PolicyError(std::string("the machine cannot be loaded: ") + e.what());
    }
}

UniqueOrreryHandle openStore(const std::wstring& nameSpace) {
    int err = PYX_ORRERY_E_FAILED;
    UniqueOrreryHandle handle(
        PyxOrrery_OpenHandle(nameSpace.c_str(), nullptr, L"tarn_policy", &err));
    if (!handle) {
        throw PolicyError("cannot open a settings store: " + utf8(PyxOrrery_ErrorAsString(err)));
    }
    return handle;
}

void writeStore(const std::wstring& nameSpace, const json& policy) {
    if (!policy.is_object()) {
        throw PolicyError("a policy is a JSON object");
    }
    const UniqueOrreryHandle store = openStore(nameSpace);
    if (const int err = PyxOrrery_ImportUtf8(store.get(), policy.dump().c_str());
        err != PYX_ORRERY_OK) {
        throw PolicyError("the settings store does not take the policy: " +
                          utf8(PyxOrrery_ErrorAsString(err)));
    }
}

json readStore(const std::wstring& nameSpace) {
    const UniqueOrreryHandle store = openStore(nameSpace);
    int err = PYX_ORRERY_E_FAILED;
    const UniqueOrreryString text(PyxOrrery_ExportUtf8(store.get(), &err));
    return text ? json::parse(static_cast<const char*>(text.get())) : json::object();
}

// --- Places in the policy --------------------------------------------------------------------

// A member of an object; an empty object when there is no such member or no object.
const json& member(const json& object, const char* name) {
    static const json kNone = json::object();
    if (!object.is_object()) {
        return kNone;
    }
    const auto it = object.find(name);
    return it != object.end() ? *it : kNone;
}

// The profile object that the pass read, with its JSON path.
std::pair<const json*, std::string> profileObject(const json& policy, const std::string& name,
                                                  bool isolation) {
    static const json kNone = json::object();
    const json& firewall = member(member(policy, "windows"), "firewall");
    if (isolation) {
        const auto it = firewall.find("network_isolation");
        return {it != firewall.end() ? &*it : &kNone, "windows.firewall.network_isolation"};
    }
    const auto profiles = firewall.find("profiles");
    if (profiles != firewall.end() && profiles->is_array()) {
        for (size_t i = 0; i < profiles->size(); ++i) {
            const json& profile = (*profiles)[i];
            if (profile.is_object() && profile.value("profile_name", json()) == name) {
                return {&profile, "windows.firewall.profiles[" + std::to_string(i) + "]"};
            }
        }
    }
    return {&kNone, ""};
}

// The rule objects in the order in which the pass read them, with their paths.
std::vector<std::pair<const json*, std::string>> ruleObjects(const json& profile,
                                                             const std::string& path,
                                                             bool isolation) {
    std::vector<std::pair<const json*, std::string>> rules;
    for (const char* member : {"rules", "additional_rules"}) {
        if (std::string(member) == "additional_rules" && !isolation) {
            break;
        }
        const auto it = profile.find(member);
        if (it == profile.end() || !it->is_array()) {
            continue;
        }
        for (size_t i = 0; i < it->size(); ++i) {
            rules.emplace_back(&(*it)[i], path + "." + member + "[" + std::to_string(i) + "]");
        }
    }
    return rules;
}

std::string rulePath(const std::vector<std::pair<const json*, std::string>>& rules,
                     const RawRefusal& raw) {
    if (raw.item) {
        return *raw.item < rules.size() ? rules[*raw.item].second : std::string();
    }
    // Refused while it was applied: the one accepted rule of that name.
    const std::string name = utf8(raw.rule.name);
    for (const auto& [rule, path] : rules) {
        if (rule->is_object() && rule->value("name", json()) == name) {
            return path;
        }
    }
    return {};
}

// The one built-in rule that the policy shapes, by the management server's address: refusals of
// it point at the address member that the endpoint used.
constexpr const char* kCommandPostRule = "Tarn Command Post access";

std::string builtInRulePath(const json& policy, const std::string& rule) {
    if (rule != kCommandPostRule) {
        return {};
    }
    const json& commandPost = member(member(policy, "windows"), "command_post");
    const json& override = member(member(commandPost, "override_address"), "host");
    return override.is_string() && !override.get<std::string>().empty()
               ? "windows.command_post.override_address.host"
               : "windows.command_post.address.host";
}

Refusal describe(const RawRefusal& raw, const json& policy,
                 const std::vector<std::pair<const json*, std::string>>& rules) {
    Refusal refusal;
    refusal.rule = utf8(raw.rule.name);
    refusal.reason = utf8(raw.reason);
    refusal.invalidPart = utf8(raw.invalidPart);
    refusal.invalidRulesLine = utf8(raw.reason + L": " + raw.rule.toText());
    refusal.alert = {{"type", FWAlertApi::kRuleApplicationFailed},
                     {"payload", FWAlertApi::ruleApplicationFailedPayload(raw.rule, raw.reason,
                                                                          raw.invalidPart)}};
    if (const std::string path = builtInRulePath(policy, refusal.rule); !path.empty()) {
        refusal.paths.push_back(path);
    } else if (const std::string path = rulePath(rules, raw); !path.empty()) {
        const auto members = offendingMembers(refusal.reason, refusal.invalidPart);
        for (const auto& member : members) {
            refusal.paths.push_back(path + "." + member);
        }
        if (members.empty()) {
            refusal.paths.push_back(path);
        }
    }
    return refusal;
}

// --- The pass ----------------------------------------------------------------------------------

// The settings model and the controller of one preview, stopped in the right order however the
// preview ends.
class Session {
public:
    Session(const PreviewInput& input, RefusalLog& log)
        : m_settings(std::make_shared<PreviewSettings>(
              input.nameSpace, m_scheduler, m_stop, log,
              input.hostProgram.empty()
                  ? tarn::joinPath(tarn::parentFolder(tarn::hostExecutablePath()), L"carrier")
                  : input.hostProgram)),
          m_controller(std::make_shared<PreviewController>(input.nameSpace, m_stop, log)) {
        // No delegates: the controller's pass is the only one, over keys all in place.
        if (!m_settings->start({})) {
            throw PolicyError("the settings model cannot open the preview's store");
        }
    }
    ~Session() {
        m_controller->stop();
        m_settings->stop();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Profile selection for the machine's network, then one pass of the controller.
    void runPass() {
        selectFor(std::make_shared<NetworkSettings>()).fullUpdate();
        if (!m_controller->start(m_settings)) {
            throw PolicyError("the controller cannot start (no filtering engine)");
        }
        if (!m_settings->waitForStatus()) {
            throw PolicyError("the controller's pass did not end");
        }
        m_controller->stop();
    }

    // The profile that each prepared network setup selects; the machine's network stays.
    std::vector<std::pair<std::string, std::string>> profilesByNetwork() {
        const sim::iphlp::Network own = sim::iphlp::network();
        std::vector<std::pair<std::string, std::string>> profiles;
        for (const auto& setup : sim::iphlp::setupNames()) {
            sim::iphlp::useSetup(setup);
            selectFor(std::make_shared<NetworkSettings>()).detectCurrentProfileName();
            profiles.emplace_back(setup, utf8(m_settings->getCurrentProfileName()));
        }
        sim::iphlp::setNetwork(own);
        return profiles;
    }

    PreviewSettings& settings() { return *m_settings; }

private:
    AutomaticProfileSelection selectFor(std::shared_ptr<NetworkSettings> network) {
        network->refresh();
        return AutomaticProfileSelection(m_scheduler, m_settings, std::move(network));
    }

    Tarn::TaskScheduler m_scheduler;  // never run: selection is called directly
    tarn::SharedEvent m_stop = makeSharedEvent();
    std::shared_ptr<PreviewSettings> m_settings;
    std::shared_ptr<PreviewController> m_controller;
};

// The root that the machine would have without the preview's own (as sim::root() finds it).
std::string usualMachineRoot() {
    if (const char* env = std::getenv("TARN_SIM_ROOT"); env != nullptr && *env != '\0') {
        return env;
    }
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
        return std::string(run) + "/tarn-sim";
    }
    return "/tmp/tarn-sim-" + std::to_string(getuid());
}

}  // namespace

PrivateMachineRoot::PrivateMachineRoot() {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "tarn-policy-root-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return;  // the usual root then
    }
    m_folder = pattern;
    const fs::path hosts = "C/Windows/System32/drivers/etc/hosts";
    std::error_code ignored;
    fs::create_directories(fs::path(m_folder) / hosts.parent_path(), ignored);
    fs::copy_file(fs::path(usualMachineRoot()) / hosts, fs::path(m_folder) / hosts, ignored);
    setenv("TARN_SIM_ROOT", m_folder.c_str(), 1);
}

PrivateMachineRoot::~PrivateMachineRoot() {
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

PreviewResult preview(const PreviewInput& input) {
    if (!input.policy.is_object()) {
        throw PolicyError("a policy is a JSON object");
    }
    const ScratchFolder scratch;
    loadMachine(input.machine);  // a fresh machine environment: the folders are set after it
    const EnvironmentOverride store(L"TARN_ORRERY_ROOT", scratch.path(L"store"));
    const EnvironmentOverride spool(L"TARN_SPOOL_ROOT", scratch.path(L"spool"));
    writeStore(input.nameSpace, input.policy);

    PreviewResult result;
    result.before = json::parse(sim::machine_file::save());
    RefusalLog log;
    {
        Session session(input, log);
        session.runPass();
        result.after = json::parse(sim::machine_file::save());
        result.isolation = session.settings().isNetworkIsolationEnabled();
        result.profile = utf8(session.settings().getCurrentProfileName());
        result.store = readStore(input.nameSpace);
        result.profileByNetwork = session.profilesByNetwork();
    }
    result.serviceRunning = sim::firewall::serviceRunning();
    const auto [profile, path] = profileObject(input.policy, result.profile, result.isolation);
    const auto rules = ruleObjects(*profile, path, result.isolation);
    for (const auto& raw : log.entries) {
        result.refusals.push_back(describe(raw, input.policy, rules));
    }
    return result;
}

}  // namespace tarn::policy
