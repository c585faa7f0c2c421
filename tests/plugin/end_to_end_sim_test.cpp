// The host program with the real plug-in library and the store library on the simulated
// machine, driven as the management and a person drive it: the policy written into the store,
// the machine's network, firewall service and registry changed by commands. Each run is judged
// by the machine file that the host saves when it stops.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/Str.h"
#include "platform/win.h"
#include "settings_store/OrreryKeys.h"
#include "sim/firewall_control.h"
#include "sim/machine.h"
#include "sim/machine_file.h"
#include "tests/orrery/OrreryTestSupport.h"
#include "tests/plugin/PluginTestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/TempDir.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
namespace keys = tarn::keys;

constexpr const wchar_t* kNamespace = L"test";
constexpr const char* kProductKey = "HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\test";
constexpr const char* kOtherRule = "Remote Desktop - User Mode (TCP-In)";

// --- The management's policy -------------------------------------------------------------------

json rule(const std::string& name, const std::string& direction, const std::string& action,
          int port) {
    return {{"name", name},
            {"enabled", true},
            {"protocol", "6"},
            {"direction", direction},
            {"action", action},
            {"network_type", "all"},
            {direction == "in" ? "local_ports" : "remote_ports", std::to_string(port)}};
}

json profile(const std::string& name, bool allowOtherRules, const std::vector<json>& rules,
             const json& defaults = json::object()) {
    return {{"profile_name", name},
            {"profile_visible_name", name + " network"},
            {"allow_other_rules", allowOtherRules},
            {"defaults", defaults},
            {"rules", rules}};
}

// The office profile that lets other programs' rules be; the public one that switches them
// off and blocks file sharing.
json profiles(const std::vector<json>& officeRules) {
    const json officeDefaults = {{"public_network",
                                  {{"fw_enabled", true},
                                   {"block_all_inbound", true},
                                   {"allow_interactive_notifications", true}}}};
    return json::array(
        {profile("office", true, officeRules, officeDefaults),
         profile("public", false, {rule("Public: Block SMB", "out", "block", 445)})});
}

const std::vector<json> kOfficeRules = {rule("Office: RDP", "in", "allow", 3389),
                                        rule("Office: Web", "in", "allow", 80)};

// The office is known by its gateway, or by its DNS server behind the VPN; anywhere else is
// public.
json selection() {
    const auto byRule = [](int priority, const std::string& profileName, const std::string& method,
                           const std::string& argument) {
        return json{{"priority", priority},  {"profile_name", profileName}, {"method1", method},
                    {"argument1", argument}, {"method2", "always"},         {"argument2", ""}};
    };
    return {{"enabled", true},
            {"rules", json::array({byRule(10, "office", "default_gateway_ip_address", "10.20.4.1"),
                                   byRule(20, "office", "dns_server_ip_address", "10.20.1.2"),
                                   byRule(1000, "public", "always", "")})}};
}

json policy() {
    return {{"windows",
             {{"firewall",
               {{"require_online_orrery_profile", false},
                {"enabled", true},
                {"winfw_enabled", true},
                {"current_profile_name", "office"},
                {"automatic_profile_selection", selection()},
                {"profiles", profiles(kOfficeRules)}}}}}};
}

json isolation(bool enabled) {
    return {{"enabled", enabled},
            {"local", {{"enabled", false}}},
            {"profile_name", "isolated"},
            {"profile_visible_name", "Isolation"},
            {"allow_other_rules", false},
            {"rules", json::array({rule("Isolation: management", "in", "allow", 443)})}};
}

// --- The saved machine ---------------------------------------------------------------------

const json* findRule(const json& machine, const std::string& name) {
    for (const json& r : machine.at("firewall").at("rules")) {
        if (r["name"] == name) {
            return &r;
        }
    }
    return nullptr;
}

bool ruleEnabled(const json& machine, const std::string& name) {
    const json* found = findRule(machine, name);
    return found != nullptr && (*found)["enabled"] == true;
}

bool hasFilter(const json& machine, const std::string& name) {
    const json& filters = machine.at("wfp").at("filters");
    return std::any_of(filters.begin(), filters.end(),
                       [&](const json& filter) { return filter.at("name") == name; });
}

std::vector<std::string> filterNames(const json& machine) {
    std::vector<std::string> names;
    for (const json& filter : machine.at("wfp").at("filters")) {
        names.push_back(filter.at("name"));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint32_t> launchSessions(const json& machine, const std::string& program) {
    std::vector<uint32_t> sessions;
    for (const json& launch : machine.at("launches")) {
        if (launch["program"] == program) {
            sessions.push_back(launch["session"].get<uint32_t>());
        }
    }
    return sessions;
}

void createProgram(const std::wstring& path) {
    CreateDirectoryW(path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
    const tarn::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
}

// --- A run -----------------------------------------------------------------------------------

// A variable of the host's environment: each machine that the host loads starts with a fresh
// environment, which takes the host's TARN_ variables in again.
class HostVariable {
public:
    HostVariable(const char* name, const std::wstring& value) : m_name(name) {
        ::setenv(name, tarn::str::toUtf8(value).c_str(), 1);
    }
    ~HostVariable() { ::unsetenv(m_name); }
    HostVariable(const HostVariable&) = delete;
    HostVariable& operator=(const HostVariable&) = delete;

private:
    const char* m_name;
};

// An office machine with the product installed and the management's policy in the store; a
// rule of another program and Windows' own profile defaults from before the product.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // A whole machine, as one from a file is: its firewall keeps the rules' engine filters.
        sim::machine_file::load(sim::machine_file::save());
        tarn::test::installMakerLibraries(kNamespace);
        command("network office-lan");
        sim::firewall::Rule other;
        other.name = tarn::str::fromUtf8(kOtherRule);
        other.applicationName = L"%SystemRoot%\\system32\\svchost.exe";
        other.protocol = 6;
        other.localPorts = L"3389";
        other.enabled = true;
        sim::firewall::addRule(other);
        sim::firewall::ProfileSettings windowsPublic;
        windowsPublic.notificationsDisabled = true;
        sim::firewall::setProfile(NET_FW_PROFILE2_PUBLIC, windowsPublic);
        importPolicy(policy());
    }

    // What a person does to the machine; while the host runs, as its standard input takes it.
    static void command(const std::string& line) {
        const std::string reply = sim::machine_file::command(line);
        ASSERT_EQ(reply.rfind("error", 0), std::string::npos) << line << ": " << reply;
    }
    void importPolicy(const json& document) {
        ASSERT_EQ(PyxOrrery_ImportUtf8(m_store.get(), document.dump().c_str()), 0);
    }
    void set(const std::wstring& key, const json& value) {
        ASSERT_EQ(
            PyxOrrery_SetObjectFromStringUtf8(m_store.get(), key.c_str(), value.dump().c_str()), 0)
            << tarn::str::toUtf8(key);
    }
    // A full re-application, as the management asks for one (each value new).
    void reapplyAll() { set(keys::kTriggerSettingsReapply, std::to_string(++m_triggers)); }
    json status(const std::wstring& key) {
        const auto text = tarn::test::storedJson(m_store.get(), key);
        return text ? json::parse(*text) : json();
    }
    // Waits until the plug-in has reported the value.
    ::testing::AssertionResult statusBecomes(const std::wstring& key, const json& value,
                                             std::chrono::milliseconds timeout = 10s) {
        if (tarn::test::eventually([&] { return status(key) == value; }, timeout)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << tarn::str::toUtf8(key) << " is " << status(key).dump() << ", not " << value.dump()
               << "\n"
               << tarn::test::pluginLog();
    }

    void startHost() {
        m_before = json::parse(sim::machine_file::save());
        m_host.emplace(kNamespace, m_machineFile);
    }
    // The machine as the host keeps saving it while it runs.
    json savedNow() const { return json::parse(tarn::test::readFile(m_machineFileWindows)); }
    // Stops the host once the plug-in has been quiet for a moment (no pass under way), and
    // returns the machine it saved.
    json stopHost() {
        size_t size = tarn::test::pluginLog().size();
        auto quietSince = std::chrono::steady_clock::now();
        tarn::test::eventually([&] {
            const size_t now = tarn::test::pluginLog().size();
            if (now != size) {
                size = now;
                quietSince = std::chrono::steady_clock::now();
            }
            return std::chrono::steady_clock::now() - quietSince > 300ms;
        });
        EXPECT_EQ(m_host->stop(), 0) << m_host->errors();
        return savedNow();
    }

    tarn::test::StoreRoot m_root;
    HostVariable m_storeFolder{"TARN_ORRERY_ROOT", m_root.path()};
    tarn::UniqueOrreryHandle m_store = m_root.open(kNamespace);
    tarn::test::TempDir m_folder;
    std::wstring m_machineFileWindows = m_folder.file(L"machine.json");
    std::string m_machineFile = sim::hostPath(m_machineFileWindows);
    json m_before;  // the machine as the host found it
    std::optional<tarn::test::HostRun> m_host;
    int m_triggers = 0;
};

TEST_F(EndToEnd, TheFirstPassInstallsThePolicyAndTheDefaultRulesAndSavesWindowsDefaults) {
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, "office"));
    ASSERT_TRUE(statusBecomes(keys::kStatusCombinedEnabled, true));
    json saved = stopHost();

    ASSERT_NE(findRule(saved, "Office: RDP"), nullptr) << saved["firewall"].dump(1);
    json rdp = *findRule(saved, "Office: RDP");
    EXPECT_EQ(rdp["grouping"], "Tarn Firewall");
    EXPECT_EQ(rdp["enabled"], true);
    EXPECT_EQ(rdp["direction"], "in");
    EXPECT_EQ(rdp["action"], "allow");
    EXPECT_EQ(rdp["protocol"], 6);
    EXPECT_EQ(rdp["local_ports"], "3389");
    for (const char* name :
         {"Office: RDP", "Office: Web", "Tarn: Allow DNS queries", "Tarn: Allow DHCP"}) {
        EXPECT_TRUE(ruleEnabled(saved, name)) << name;
        EXPECT_TRUE(hasFilter(saved, name)) << name;
    }
    EXPECT_EQ(findRule(saved, "Public: Block SMB"), nullptr) << "only the current profile's rules";
    EXPECT_TRUE(ruleEnabled(saved, kOtherRule)) << "the office profile lets other rules be";

    // The policy's defaults are in force, and Windows' own were kept for a restore.
    json savedPublic = saved["firewall"]["profiles"]["public"];
    EXPECT_EQ(savedPublic["block_all_inbound"], true);
    EXPECT_EQ(savedPublic["notifications_disabled"], false);
    json kept = status(keys::kStatusOldNetworkDefaults);
    json before = m_before["firewall"]["profiles"];
    for (const auto& [windowsName, keptName] : {std::pair{"domain", "domain_network"},
                                                {"private", "private_network"},
                                                {"public", "public_network"}}) {
        SCOPED_TRACE(windowsName);
        EXPECT_EQ(kept[keptName]["fw_enabled"], before[windowsName]["firewall_enabled"]);
        EXPECT_EQ(kept[keptName]["block_all_inbound"], before[windowsName]["block_all_inbound"]);
        EXPECT_EQ(kept[keptName]["allow_interactive_notifications"],
                  !before[windowsName]["notifications_disabled"].get<bool>());
        EXPECT_EQ(kept[keptName]["allow_unknown_inbound"],
                  before[windowsName]["default_inbound_action"] == "allow");
    }
    EXPECT_EQ(saved["firewall"]["service_running"], true);
}

TEST_F(EndToEnd, ARuleRemovedFromThePolicyLeavesTheFirewall) {
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, "office"));
    ASSERT_TRUE(tarn::test::eventually([&] { return ruleEnabled(savedNow(), "Office: Web"); }));

    set(keys::kProfiles, profiles({rule("Office: RDP", "in", "allow", 3389)}));
    ASSERT_TRUE(tarn::test::eventually([&] {
        const std::string installed = status(keys::kStatusInstalledRules).dump();
        return installed.find("Office: RDP") != std::string::npos &&
               installed.find("Office: Web") == std::string::npos;
    })) << status(keys::kStatusInstalledRules).dump();
    json saved = stopHost();

    EXPECT_EQ(findRule(saved, "Office: Web"), nullptr);
    EXPECT_FALSE(hasFilter(saved, "Office: Web"));
    EXPECT_TRUE(ruleEnabled(saved, "Office: RDP"));
    EXPECT_TRUE(ruleEnabled(saved, "Tarn: Allow DNS queries"));
    EXPECT_TRUE(ruleEnabled(saved, kOtherRule));
}

TEST_F(EndToEnd, IsolationOnThenOffRunsTheHandlersInEverySessionAndUndoesItsRules) {
    const std::string handlers = std::string(kProductKey) + "\\NetworkIsolation\\Handlers\\";
    createProgram(L"C:\\Tools\\notify.exe");
    createProgram(L"C:\\Tools\\ui.exe");
    command("registry-string " + handlers + "User notify C:\\Tools\\notify.exe");
    command("registry-string " + handlers + "Ui banner Isolation.Banner");
    command(std::string("registry-string ") + kProductKey +
            "\\Corvane OpenCommand C:\\Tools\\ui.exe");
    command("logon 1 alice");
    command("logon 2 bob");
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, "office"));

    // Isolation is in force from the pass after the one that applied its profile.
    set(keys::kNetworkIsolation, isolation(true));
    ASSERT_TRUE(statusBecomes(keys::kStatusNetworkIsolationProfileIsolation, true));
    reapplyAll();
    ASSERT_TRUE(statusBecomes(keys::kStatusNetworkIsolationEnabled, true));
    json isolated;
    ASSERT_TRUE(tarn::test::eventually([&] {
        isolated = savedNow();
        return launchSessions(isolated, "C:\\Tools\\ui.exe").size() == 2;
    })) << isolated["launches"].dump(1);
    EXPECT_EQ(launchSessions(isolated, "C:\\Tools\\notify.exe"), (std::vector<uint32_t>{1, 2}));
    EXPECT_TRUE(ruleEnabled(isolated, "Isolation: management"));
    EXPECT_TRUE(hasFilter(isolated, "Isolation: management"));
    EXPECT_FALSE(hasFilter(isolated, kOtherRule));
    EXPECT_FALSE(ruleEnabled(isolated, kOtherRule)) << "isolation lets no other rule be";

    set(keys::kNetworkIsolation, isolation(false));
    ASSERT_TRUE(statusBecomes(keys::kStatusNetworkIsolationProfileIsolation, false));
    reapplyAll();
    ASSERT_TRUE(statusBecomes(keys::kStatusNetworkIsolationEnabled, false));
    json saved = stopHost();

    // The handlers ran once more, to find isolation over; its rules went with it.
    EXPECT_EQ(launchSessions(saved, "C:\\Tools\\notify.exe"), (std::vector<uint32_t>{1, 2, 1, 2}));
    EXPECT_EQ(launchSessions(saved, "C:\\Tools\\ui.exe"), (std::vector<uint32_t>{1, 2, 1, 2}));
    for (const json& launch : saved["launches"]) {
        if (launch["program"] == "C:\\Tools\\ui.exe") {
            EXPECT_EQ(launch["command_line"],
                      "\"C:\\Tools\\ui.exe\" --run_dotnet_app Isolation.Banner");
        }
    }
    EXPECT_EQ(findRule(saved, "Isolation: management"), nullptr);
    EXPECT_FALSE(hasFilter(saved, "Isolation: management"));
    EXPECT_TRUE(hasFilter(saved, kOtherRule));
    EXPECT_TRUE(ruleEnabled(saved, kOtherRule));
    EXPECT_TRUE(ruleEnabled(saved, "Office: RDP"));
}

TEST_F(EndToEnd, TheFirewallServiceStoppingIsReportedAndItsReturnReappliesEverything) {
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCombinedEnabled, true));

    command("firewall-service stop");
    // A change while the service is down finds it gone and is kept for later.
    set(keys::kProfiles,
        profiles({kOfficeRules[0], kOfficeRules[1], rule("Office: SSH", "in", "allow", 22)}));
    ASSERT_TRUE(statusBecomes(keys::kStatusCombinedEnabled, false));
    EXPECT_EQ(status(keys::kStatusNetworkIsolationEnabled), false);
    json down;
    EXPECT_TRUE(tarn::test::eventually([&] {
        down = savedNow();
        return down["firewall"]["service_running"] == false;
    }));
    EXPECT_EQ(findRule(down, "Office: SSH"), nullptr);

    // The service rewrites its policy key as it comes back, which the plug-in watches.
    command("firewall-service start");
    command(
        "registry-dword "
        "HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy "
        "PolicyVersion 542");
    ASSERT_TRUE(statusBecomes(keys::kStatusCombinedEnabled, true));
    json saved = stopHost();

    EXPECT_EQ(saved["firewall"]["service_running"], true);
    for (const char* name :
         {"Office: SSH", "Office: RDP", "Office: Web", "Tarn: Allow DNS queries"}) {
        EXPECT_TRUE(ruleEnabled(saved, name)) << name;
    }
}

// On a public network the public profile switches the other program's rule off; uninstalling
// gives Windows back exactly what it had.
TEST_F(EndToEnd, StoppingWhileUninstallingRestoresTheFirewallAsItWas) {
    command("network public-hotspot");
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, "public"));
    json running;
    ASSERT_TRUE(tarn::test::eventually([&] {
        running = savedNow();
        return !ruleEnabled(running, kOtherRule) &&
               running["firewall"]["profiles"] != m_before["firewall"]["profiles"];
    })) << running["firewall"].dump(1);
    ASSERT_TRUE(ruleEnabled(running, "Public: Block SMB"));

    command(std::string("registry-dword ") + kProductKey + "\\PYX FW_UNINSTALLING 1");
    json saved = stopHost();

    EXPECT_EQ(saved["firewall"]["rules"], m_before["firewall"]["rules"]);
    EXPECT_EQ(saved["firewall"]["profiles"], m_before["firewall"]["profiles"]);
    EXPECT_EQ(filterNames(saved), filterNames(m_before));
    EXPECT_TRUE(hasFilter(saved, kOtherRule));
}

// --- The profile that the machine's network selects ------------------------------------------

struct NetworkCase {
    const char* setup;
    const char* profile;
};

void PrintTo(const NetworkCase& c, std::ostream* out) {
    *out << c.setup << " selects " << c.profile;
}

class ProfileByNetwork : public EndToEnd, public ::testing::WithParamInterface<NetworkCase> {};

TEST_P(ProfileByNetwork, TheMachinesNetworkSelectsTheProfile) {
    const NetworkCase& c = GetParam();
    const bool office = std::string(c.profile) == "office";
    command(std::string("network ") + c.setup);
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, c.profile));
    ASSERT_TRUE(
        statusBecomes(keys::kStatusCurrentSecurityLevelName, std::string(c.profile) + " network"));
    json saved = stopHost();

    EXPECT_EQ(ruleEnabled(saved, "Office: RDP"), office);
    EXPECT_EQ(ruleEnabled(saved, "Public: Block SMB"), !office);
    EXPECT_EQ(findRule(saved, office ? "Public: Block SMB" : "Office: RDP"), nullptr);
    EXPECT_EQ(ruleEnabled(saved, kOtherRule), office);
    EXPECT_TRUE(ruleEnabled(saved, "Tarn: Allow DNS queries"));
}

INSTANTIATE_TEST_SUITE_P(
    Setups, ProfileByNetwork,
    ::testing::Values(NetworkCase{"office-lan", "office"},
                      NetworkCase{"public-hotspot+vpn", "office"},
                      NetworkCase{"home-wifi", "public"}, NetworkCase{"public-hotspot", "public"}),
    [](const auto& info) {
        std::string name = info.param.setup;
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

// A move while the host runs shows at the plug-in's next look at the network.
TEST_F(EndToEnd, MovingToAnotherNetworkSwitchesTheProfile) {
    startHost();
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, "office"));
    command("network public-hotspot");
    ASSERT_TRUE(statusBecomes(keys::kStatusCurrentSecurityLevel, "public", 30s));
    json saved = stopHost();

    EXPECT_TRUE(ruleEnabled(saved, "Public: Block SMB"));
    EXPECT_EQ(findRule(saved, "Office: RDP"), nullptr);
    EXPECT_FALSE(ruleEnabled(saved, kOtherRule));
    EXPECT_NE(saved["network"].dump().find("172.20.131.1"), std::string::npos) << "the new network";
}

}  // namespace
