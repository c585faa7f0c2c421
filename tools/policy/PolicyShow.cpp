#include "tools/policy/PolicyShow.h"

#include "common/Str.h"
#include "platform/win.h"
#include "settings/FWSettings.h"

namespace tarn::policy {

namespace {

constexpr const char* kUsage = R"usage(Usage: tarn_policy show [-n NAMESPACE] [--root FOLDER]

Shows what the firewall plug-in makes of the policy in a namespace's settings store: the
current profile and settings, each current rule, each refused rule with the reason, and the
built-in default rules. Rules are shown in their text form:
  [name],[description],[on|off],[in|out],[allow|block],[network type],[protocol],...

Options:
  -n, --namespace NAME   the namespace (default: "default")
      --root FOLDER      the folder of the stores (default: the environment variable
                         TARN_ORRERY_ROOT, else the store library's own default)
  -h, --help             show this text
Note: a current profile name that names no profile is reset in the store, as the plug-in
does it.
)usage";

struct Rejected {
    FWRule rule;
    std::wstring reason;
    std::wstring invalidPart;
};

struct Options {
    std::wstring nameSpace = L"default";
    std::wstring root;
    bool help = false;
};

// False (with the message in `error`) for a wrong command line.
bool parse(const std::vector<std::wstring>& args, Options& options, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"-h" || arg == L"--help") {
            options.help = true;
        } else if ((arg == L"-n" || arg == L"--namespace" || arg == L"--root") &&
                   i + 1 < args.size()) {
            (arg == L"--root" ? options.root : options.nameSpace) = args[++i];
        } else {
            error = "unexpected argument: " + str::toUtf8(arg);
            return false;
        }
    }
    return true;
}

std::string utf8(const std::wstring& text) {
    return str::toUtf8(text);
}

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}

void printDefaults(std::ostream& out, const char* name, const FWProfileDefaults& d) {
    out << "    " << name << ": firewall " << (d.fw_enabled ? "on" : "off")
        << ", block all inbound " << yesNo(d.block_all_inbound) << ", unknown inbound "
        << (d.allow_unknown_inbound ? "allowed" : "blocked") << ", unknown outbound "
        << (d.allow_unknown_outbound ? "allowed" : "blocked") << ", notifications "
        << yesNo(d.allow_interactive_notifications) << ", unicast responses "
        << yesNo(d.allow_unicast_responses_to_multicast) << "\n";
}

void printSettings(std::ostream& out, const FWCurrentSettings& s) {
    out << "Current profile: " << utf8(s.profileName) << "\n"
        << "Visible name: " << utf8(s.profileVisibleName) << "\n\n"
        << "Current settings:\n"
        << "  firewall enabled: " << yesNo(s.firewallEnabled) << "\n"
        << "  Windows firewall enabled: " << yesNo(s.winfwEnabled) << "\n"
        << "  other programs' rules allowed: " << yesNo(s.allowOtherRules) << "\n"
        << "  network isolation enabled: " << yesNo(s.networkIsolationEnabled) << "\n"
        << "  other programs' rules allowed while isolated: " << yesNo(s.isolationAllowOtherRules)
        << "\n"
        << "  network defaults:\n";
    printDefaults(out, "public network", s.networkDefaults.public_network);
    printDefaults(out, "private network", s.networkDefaults.private_network);
    printDefaults(out, "domain network", s.networkDefaults.domain_network);
}

void printRules(std::ostream& out, const char* title, const std::vector<FWRule>& rules) {
    out << "\n" << title << " (" << rules.size() << "):\n";
    for (const FWRule& rule : rules) {
        out << "  " << utf8(rule.toText()) << "\n";
    }
}

void printRejected(std::ostream& out, const std::vector<Rejected>& rejected) {
    out << "\nRefused or partly applied rules (" << rejected.size() << "):\n";
    for (const Rejected& entry : rejected) {
        out << "  " << utf8(entry.rule.name) << ": " << utf8(entry.reason);
        if (!entry.invalidPart.empty()) {
            out << " (invalid: " << utf8(entry.invalidPart) << ")";
        }
        out << "\n    " << utf8(entry.rule.toText()) << "\n";
    }
}

}  // namespace

int show(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err) {
    Options options;
    std::string error;
    if (!parse(args, options, error)) {
        err << "tarn_policy show: " << error << "\n" << kUsage;
        return 2;
    }
    if (options.help) {
        out << kUsage;
        return 0;
    }
    if (!options.root.empty()) {
        SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", options.root.c_str());
    }
    Tarn::TaskScheduler scheduler;  // never run: the view triggers nothing
    FWSettings settings(options.nameSpace, scheduler, makeSharedEvent());
    if (!settings.start({})) {
        err << "tarn_policy show: cannot open the settings store of namespace \""
            << utf8(options.nameSpace) << "\"\n";
        return 1;
    }
    out << "Namespace: " << utf8(options.nameSpace) << "\n";
    printSettings(out, settings.getCurrentSettings());
    std::vector<std::wstring> hostNames;
    std::vector<Rejected> rejected;
    const std::vector<FWRule> rules = settings.getCurrentRules(
        hostNames, [&](const FWRule& rule, const std::wstring& reason, const std::wstring& part) {
            rejected.push_back({rule, reason, part});
        });
    printRules(out, "Current rules", rules);
    printRejected(out, rejected);
    out << "\nHost names looked up for allow rules (published as allowed DNS names): "
        << utf8(str::join(hostNames, L", ")) << "\n";
    std::vector<FWRule> defaults;
    settings.getTarnDefaultRules(defaults);
    printRules(out, "Default rules", defaults);
    settings.stop();
    return 0;
}

}  // namespace tarn::policy
