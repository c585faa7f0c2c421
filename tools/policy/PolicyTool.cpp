#include "tools/policy/PolicyTool.h"

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "common/Str.h"
#include "platform/win.h"
#include "settings_store/OrreryResources.h"
#include "tools/firewall_view/FirewallView.h"
#include "tools/policy/PolicyShow.h"

namespace tarn::policy {

namespace {

constexpr const char* kUsage = R"usage(Usage:
  tarn_policy show    [-n NAMESPACE] [--root FOLDER]
  tarn_policy preview (POLICY | -n NAMESPACE) [--machine FILE] [--json] [--root FOLDER]
  tarn_policy diff    OLD NEW [--machine FILE] [--json]
  tarn_policy check   (POLICY | -n NAMESPACE) [--machine FILE] [--root FOLDER]

show     what the plug-in makes of the policy in a namespace's settings store
preview  what the policy does to an endpoint: the rules added, changed and removed, the
         refused rules with their "InvalidRules" lines and alerts, other programs' rules
         switched off, the defaults per network profile, the profile that each prepared
         network selects and the Lanshare rules
diff     only what changes on the endpoint when policy NEW follows policy OLD
check    one line per refused or partly applied rule of any profile, with the JSON path of
         the offending member; exit code 0 all accepted, 1 a problem, 2 unreadable

POLICY, OLD and NEW are files in the management's JSON form (as `orrery import` takes them);
-n reads the policy from the namespace's settings store instead (--root: the stores' folder).
--machine FILE is a machine file of the simulated machine (default: a fresh workstation on
the office LAN); it is read, never written. -n also names the endpoint's product namespace
(default "default").
)usage";

constexpr const char* kOurGrouping = "Tarn Firewall";
constexpr const char* kLansharePrefix = "Tarn Lanshare (";

// A command line that cannot be run, or a document that cannot be read: exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::wstring> words;
    std::optional<std::wstring> nameSpace;
    std::optional<std::wstring> root;
    std::optional<std::wstring> machine;
    bool json = false;
};

Options parse(const std::vector<std::wstring>& args) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const auto value = [&]() -> std::wstring {
            if (i + 1 >= args.size()) {
                throw UsageError(str::toUtf8(arg) + " needs a value");
            }
            return args[++i];
        };
        if (arg == L"-n" || arg == L"--namespace") {
            options.nameSpace = value();
        } else if (arg == L"--root") {
            options.root = value();
        } else if (arg == L"--machine") {
            options.machine = value();
        } else if (arg == L"--json") {
            options.json = true;
        } else if (!arg.empty() && arg[0] == L'-') {
            throw UsageError("unknown option " + str::toUtf8(arg));
        } else {
            options.words.push_back(arg);
        }
    }
    return options;
}

json readJsonFile(const std::wstring& path, const char* what) {
    std::ifstream in(str::toUtf8(path), std::ios::binary);
    if (!in) {
        throw UsageError(std::string("cannot read the ") + what + " " + str::toUtf8(path));
    }
    try {
        return json::parse(in);
    } catch (const json::exception& e) {
        throw UsageError(str::toUtf8(path) + ": not JSON (" + e.what() + ")");
    }
}

json readStorePolicy(const Options& options) {
    if (options.root) {
        SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", options.root->c_str());
    }
    int err = PYX_ORRERY_E_FAILED;
    const UniqueOrreryHandle store(
        PyxOrrery_OpenHandle(options.nameSpace->c_str(), nullptr, L"tarn_policy", &err));
    const UniqueOrreryString text(store ? PyxOrrery_ExportUtf8(store.get(), &err) : nullptr);
    if (!text) {
        throw UsageError("cannot read the settings store of namespace \"" +
                         str::toUtf8(*options.nameSpace) +
                         "\": " + str::toUtf8(PyxOrrery_ErrorAsString(err)));
    }
    return json::parse(static_cast<const char*>(text.get()));
}

// The one policy of preview and check: a file, or the namespace's store.
json readPolicy(const Options& options) {
    if (options.words.size() == 2) {
        return readJsonFile(options.words[1], "policy");
    }
    if (options.words.size() == 1 && options.nameSpace) {
        return readStorePolicy(options);
    }
    throw UsageError("name one policy: a file, or -n NAMESPACE");
}

void requirePolicy(const json& policy) {
    if (!policy.is_object()) {
        throw UsageError("not a policy: the document is no JSON object");
    }
    const auto windows = policy.find("windows");
    if (windows == policy.end() || !windows->is_object() || !windows->contains("firewall") ||
        !(*windows)["firewall"].is_object()) {
        throw UsageError("not a policy: it has no windows.firewall object");
    }
}

PreviewInput inputFor(const Options& options, json policy) {
    requirePolicy(policy);
    PreviewInput input;
    input.policy = std::move(policy);
    input.nameSpace = options.nameSpace.value_or(L"default");
    if (options.machine) {
        input.machine = readJsonFile(*options.machine, "machine file");
    }
    return input;
}

// Runs a preview; a policy or machine that the system does not take is unreadable.
PreviewResult runPreview(const PreviewInput& input) {
    try {
        return preview(input);
    } catch (const PolicyError& e) {
        throw UsageError(e.what());
    }
}

// --- What a preview found ----------------------------------------------------------------------

std::vector<json> rulesOf(const json& machine) {
    std::vector<json> rules;
    for (const auto& rule :
         machine.value("firewall", json::object()).value("rules", json::array())) {
        rules.push_back(rule);
    }
    return rules;
}

// Other programs' rules that the pass switched off.
std::vector<std::string> switchedOff(const PreviewResult& result) {
    std::set<std::string> wasOn;
    for (const auto& rule : rulesOf(result.before)) {
        if (rule.value("enabled", false)) {
            wasOn.insert(rule.value("name", ""));
        }
    }
    std::vector<std::string> names;
    for (const auto& rule : rulesOf(result.after)) {
        if (rule.value("grouping", "") != kOurGrouping && !rule.value("enabled", false) &&
            wasOn.count(rule.value("name", "")) > 0) {
            names.push_back(rule.value("name", ""));
        }
    }
    return names;
}

std::vector<json> lanshareRules(const json& machine) {
    std::vector<json> rules;
    for (const auto& rule : rulesOf(machine)) {
        if (rule.value("name", "").rfind(kLansharePrefix, 0) == 0) {
            rules.push_back(rule);
        }
    }
    return rules;
}

json profilesOf(const json& machine) {
    return machine.value("firewall", json::object()).value("profiles", json::object());
}

json refusalJson(const Refusal& refusal) {
    return {{"rule", refusal.rule},
            {"reason", refusal.reason},
            {"invalid", refusal.invalidPart},
            {"paths", refusal.paths},
            {"invalid_rules_line", refusal.invalidRulesLine},
            {"alert", refusal.alert}};
}

json previewJson(const PreviewResult& result) {
    json refused = json::array();
    for (const auto& refusal : result.refusals) {
        refused.push_back(refusalJson(refusal));
    }
    json byNetwork = json::object();
    for (const auto& [setup, profile] : result.profileByNetwork) {
        byNetwork[setup] = profile;
    }
    json defaultsChanged = json::object();
    for (const char* name : {"domain", "private", "public"}) {
        defaultsChanged[name] =
            view::memberChanges(profilesOf(result.before).value(name, json::object()),
                                profilesOf(result.after).value(name, json::object()));
    }
    return {{"profile", result.profile},
            {"isolation", result.isolation},
            {"firewall_service_running", result.serviceRunning},
            {"rules", view::ruleChanges(result.before, result.after)},
            {"refused", refused},
            {"other_rules_switched_off", switchedOff(result)},
            {"defaults", profilesOf(result.after)},
            {"defaults_changed", defaultsChanged},
            {"profile_by_network", byNetwork},
            {"lanshare_rules", lanshareRules(result.after)}};
}

std::string valueText(const json& value) {
    return value.is_null()     ? "(unset)"
           : value.is_string() ? value.get<std::string>()
                               : value.dump();
}

void printWrites(std::ostream& out, const json& writes, const char* indent) {
    for (const auto& [member, values] : writes.items()) {
        out << indent << member << ": " << valueText(values[0]) << " -> " << valueText(values[1])
            << "\n";
    }
}

void printRefusals(std::ostream& out, const std::vector<Refusal>& refusals) {
    out << "Refused or partly applied rules (" << refusals.size() << ")\n";
    for (const auto& refusal : refusals) {
        out << "  " << refusal.rule << ": " << refusal.reason;
        if (!refusal.invalidPart.empty()) {
            out << " (invalid: " << refusal.invalidPart << ")";
        }
        out << "\n";
        for (const auto& path : refusal.paths) {
            out << "      at " << path << "\n";
        }
        out << "      InvalidRules: " << refusal.invalidRulesLine << "\n"
            << "      alert " << refusal.alert["type"].get<std::string>() << " "
            << refusal.alert["payload"].dump() << "\n";
    }
}

void printPreview(std::ostream& out, const PreviewResult& result) {
    const json changes = view::ruleChanges(result.before, result.after);
    out << "Profile applied: " << result.profile << (result.isolation ? " (isolation)" : "")
        << "\n";
    if (!result.serviceRunning) {
        out << "The firewall service is not running: the plug-in waits and changes nothing.\n";
    }
    std::vector<json> added(changes["add"].begin(), changes["add"].end());
    out << "\n" << view::renderRules("Rules to add", added);
    out << "\nRules to change (" << changes["change"].size() << ")\n";
    for (const auto& change : changes["change"]) {
        out << "  " << change["name"].get<std::string>() << "\n";
        printWrites(out, change["writes"], "      ");
    }
    out << "\nRules to remove (" << changes["remove"].size() << ")\n";
    for (const auto& rule : changes["remove"]) {
        out << "  " << rule.value("name", "") << "\n";
    }
    const auto off = switchedOff(result);
    out << "\nOther programs' rules switched off (" << off.size() << ")\n";
    for (const auto& name : off) {
        out << "  " << name << "\n";
    }
    out << "\n";
    printRefusals(out, result.refusals);
    out << "\nDefaults per network profile\n" << view::renderProfiles(profilesOf(result.after));
    for (const char* name : {"domain", "private", "public"}) {
        const json writes =
            view::memberChanges(profilesOf(result.before).value(name, json::object()),
                                profilesOf(result.after).value(name, json::object()));
        if (!writes.empty()) {
            out << "  written for " << name << ":\n";
            printWrites(out, writes, "      ");
        }
    }
    out << "\nProfile selected per network\n";
    for (const auto& [setup, profile] : result.profileByNetwork) {
        out << "  " << setup << std::string(setup.size() < 20 ? 20 - setup.size() : 1, ' ')
            << (profile.empty() ? "(none)" : profile) << "\n";
    }
    out << "\n" << view::renderRules("Lanshare rules", lanshareRules(result.after));
}

// --- Commands ----------------------------------------------------------------------------------

int previewCommand(const Options& options, std::ostream& out) {
    const PreviewResult result = runPreview(inputFor(options, readPolicy(options)));
    if (options.json) {
        out << previewJson(result).dump(2) << "\n";
    } else {
        printPreview(out, result);
    }
    return 0;
}

std::set<std::string> refusalTexts(const std::vector<Refusal>& refusals) {
    std::set<std::string> texts;
    for (const auto& refusal : refusals) {
        texts.insert(refusal.invalidRulesLine);
    }
    return texts;
}

int diffCommand(const Options& options, std::ostream& out) {
    if (options.words.size() != 3) {
        throw UsageError("diff takes two policies: OLD NEW");
    }
    const PreviewInput oldInput = inputFor(options, readJsonFile(options.words[1], "policy"));
    PreviewInput newInput = inputFor(options, readJsonFile(options.words[2], "policy"));
    const PreviewResult old = runPreview(oldInput);
    newInput.policy = carryEndpointState(newInput.policy, old.store);
    newInput.machine = old.after;
    const PreviewResult now = runPreview(newInput);

    const auto before = refusalTexts(old.refusals);
    const auto after = refusalTexts(now.refusals);
    json refused = {{"new", json::array()}, {"gone", json::array()}};
    for (const auto& text : after) {
        if (before.count(text) == 0) {
            refused["new"].push_back(text);
        }
    }
    for (const auto& text : before) {
        if (after.count(text) == 0) {
            refused["gone"].push_back(text);
        }
    }
    json networks = json::object();
    for (size_t i = 0; i < now.profileByNetwork.size() && i < old.profileByNetwork.size(); ++i) {
        if (old.profileByNetwork[i].second != now.profileByNetwork[i].second) {
            networks[now.profileByNetwork[i].first] =
                json::array({old.profileByNetwork[i].second, now.profileByNetwork[i].second});
        }
    }
    if (options.json) {
        json profiles = json::object();
        for (const char* name : {"domain", "private", "public"}) {
            profiles[name] = view::memberChanges(profilesOf(old.after).value(name, json::object()),
                                                 profilesOf(now.after).value(name, json::object()));
        }
        out << json({{"profile", json::array({old.profile, now.profile})},
                     {"rules", view::ruleChanges(old.after, now.after)},
                     {"defaults_changed", profiles},
                     {"refused", refused},
                     {"profile_by_network", networks}})
                   .dump(2)
            << "\n";
        return 0;
    }
    if (old.profile != now.profile) {
        out << "~ profile applied: " << old.profile << " -> " << now.profile << "\n";
    }
    const std::string firewall = view::renderDiff(old.after, now.after);
    if (firewall != "no differences\n" || (refused["new"].empty() && refused["gone"].empty() &&
                                           networks.empty() && old.profile == now.profile)) {
        out << firewall;
    }
    for (const auto& text : refused["new"]) {
        out << "+ refused " << text.get<std::string>() << "\n";
    }
    for (const auto& text : refused["gone"]) {
        out << "- refused " << text.get<std::string>() << "\n";
    }
    for (const auto& [setup, profiles] : networks.items()) {
        out << "~ network " << setup << " selects " << valueText(profiles[0]) << " -> "
            << valueText(profiles[1]) << "\n";
    }
    return 0;
}

int checkCommand(const Options& options, std::ostream& out) {
    const PreviewInput input = inputFor(options, readPolicy(options));
    std::vector<Refusal> refusals;
    for (const json& variant : checkVariants(input.policy)) {
        PreviewInput one = input;
        one.policy = variant;
        auto found = runPreview(one).refusals;
        refusals.insert(refusals.end(), found.begin(), found.end());
    }
    const auto lines = problemLines(refusals);
    for (const auto& line : lines) {
        out << line << "\n";
    }
    return lines.empty() ? 0 : 1;
}

}  // namespace

std::vector<std::string> problemLines(const std::vector<Refusal>& refusals) {
    std::vector<std::string> lines;
    std::set<std::string> seen;
    for (const auto& refusal : refusals) {
        std::string problem = "rule \"" + refusal.rule + "\": " + refusal.reason;
        if (!refusal.invalidPart.empty()) {
            problem += " (invalid: " + refusal.invalidPart + ")";
        }
        const std::vector<std::string> places =
            refusal.paths.empty() ? std::vector<std::string>{"(no place in the policy)"}
                                  : refusal.paths;
        for (const auto& place : places) {
            std::string line = place + ": " + problem;
            if (seen.insert(line).second) {
                lines.push_back(std::move(line));
            }
        }
    }
    return lines;
}

std::vector<json> checkVariants(const json& policy) {
    std::vector<json> variants;
    const json& firewall = policy["windows"]["firewall"];
    const auto chosen = [&](const json& profileName, bool isolation) {
        json variant = policy;
        json& fw = variant["windows"]["firewall"];
        fw["enabled"] = true;
        fw["current_profile_name"] = profileName;
        fw["automatic_profile_selection"] = {{"enabled", false}};
        if (fw.contains("network_isolation") && fw["network_isolation"].is_object()) {
            fw["network_isolation"]["enabled"] = isolation;
            fw["network_isolation"]["local"] = {{"enabled", false}};
        }
        fw.erase("current_profile_name_changed_by_user");
        return variant;
    };
    std::set<std::string> names;
    const json profiles = firewall.value("profiles", json::array());
    for (const auto& profile : profiles.is_array() ? profiles : json::array()) {
        const json name = profile.is_object() ? profile.value("profile_name", json()) : json();
        // A second profile of a name is never applied: the first one of the name is.
        if (name.is_string() && names.insert(name.get<std::string>()).second) {
            variants.push_back(chosen(name, false));
        }
    }
    if (firewall.contains("network_isolation") && firewall["network_isolation"].is_object()) {
        variants.push_back(chosen(json(""), true));
    }
    return variants;
}

int run(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
    if (args.empty() || args[0] == L"-h" || args[0] == L"--help" || args[0] == L"help") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    if (args[0] == L"show") {
        return show({args.begin() + 1, args.end()}, out, err);
    }
    try {
        const Options options = parse(args);
        const std::wstring& command = options.words.at(0);
        if (command == L"preview") {
            return previewCommand(options, out);
        }
        if (command == L"diff") {
            return diffCommand(options, out);
        }
        if (command == L"check") {
            return checkCommand(options, out);
        }
        throw UsageError("unknown command " + str::toUtf8(command));
    } catch (const std::out_of_range&) {
        err << "tarn_policy: no command\n" << kUsage;
    } catch (const UsageError& e) {
        err << "tarn_policy: " << e.what() << "\n";
    }
    return 2;
}

}  // namespace tarn::policy
