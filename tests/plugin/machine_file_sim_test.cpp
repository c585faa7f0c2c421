// The simulated machine's state through a machine file and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "sim/firewall_control.h"
#include "sim/iphlp_control.h"
#include "sim/launch_control.h"
#include "sim/machine.h"
#include "sim/machine_file.h"
#include "sim/registry_control.h"
#include "sim/sessions_control.h"
#include "sim/wfp_control.h"

namespace {

using nlohmann::json;

void setUpMachine() {
    sim::firewall::Rule rule;
    rule.name = L"Tarn: Allow DNS (Out)";
    rule.grouping = L"Tarn Firewall";
    rule.direction = 2;
    rule.action = 1;
    rule.protocol = 17;
    rule.remotePorts = L"53";
    rule.remoteAddresses = L"10.20.1.2,10.20.1.3";
    rule.enabled = true;
    rule.profiles = 6;
    sim::firewall::addRule(rule);
    sim::firewall::Rule other;
    other.name = L"Remote Desktop - User Mode (TCP-In) \u00e9";
    other.applicationName = L"%SystemRoot%\\system32\\svchost.exe";
    other.localPorts = L"3389";
    other.protocol = 6;
    other.action = 0;
    other.edgeTraversal = true;
    sim::firewall::addRule(other);
    sim::firewall::ProfileSettings strict;
    strict.blockAllInboundTraffic = true;
    strict.defaultOutboundAction = 0;
    strict.notificationsDisabled = true;
    sim::firewall::setProfile(4, strict);

    sim::registry::setString(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\t\\PYX", L"InstallPath",
                             L"C:\\Program Files\\Tarn\\PYX");
    sim::registry::setDword(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\t\\PYX", L"FW_UNINSTALLING",
                            1);
    sim::registry::setValue(L"HKLM\\SOFTWARE\\Tarn\\Raw", L"", 3, {0x00, 0xFF, 0x10});
    sim::registry::setValue(L"HKLM\\SOFTWARE\\Tarn\\Raw", L"List", 7,
                            {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
    sim::registry::createKey(L"HKLM\\SOFTWARE\\Tarn\\Empty");
    sim::iphlp::useSetup("public-hotspot+vpn");
    sim::wfp::addFilter(L"Tarn block", std::nullopt);
    ASSERT_EQ(sim::machine_file::command("logon 2 alice"), "logged on alice in session 2");
    sim::launch::Launch launch;
    launch.program = L"C:\\Tools\\notify.exe";
    launch.commandLine = L"\"C:\\Tools\\notify.exe\" ";
    launch.session = 2;
    launch.user = L"alice";
    sim::launch::setLaunches({launch});
}

TEST(MachineFile, ASavedMachineLoadsBackTheSame) {
    setUpMachine();
    const auto rules = sim::firewall::rules();
    const std::string saved = sim::machine_file::save();

    sim::reset();
    ASSERT_NE(sim::machine_file::save(), saved) << "the reset machine differs";
    sim::machine_file::load(saved);

    EXPECT_EQ(sim::machine_file::save(), saved);
    EXPECT_EQ(sim::firewall::rules(), rules);
    EXPECT_TRUE(sim::firewall::profile(4).blockAllInboundTraffic);
    EXPECT_EQ(sim::registry::dwordValue(L"HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\t\\PYX",
                                        L"FW_UNINSTALLING"),
              1u);
    EXPECT_EQ(sim::registry::value(L"HKLM\\SOFTWARE\\Tarn\\Raw", L"")->data,
              (std::vector<uint8_t>{0x00, 0xFF, 0x10}));
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\Tarn\\Empty"));
    EXPECT_EQ(sim::iphlp::network().adapters.size(), 3u);
    EXPECT_EQ(sim::wfp::filters().size(), 1u);
    EXPECT_FALSE(sim::wfp::filters()[0].description.has_value());
    const auto sessions = sim::sessions::sessions();
    EXPECT_TRUE(std::any_of(sessions.begin(), sessions.end(),
                            [](const auto& s) { return s.id == 2 && s.user == L"alice"; }));
    const auto launches = sim::launch::launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].commandLine, L"\"C:\\Tools\\notify.exe\" ");
    EXPECT_EQ(launches[0].session, 2u);
    EXPECT_EQ(launches[0].user, L"alice");
}

TEST(MachineFile, LoadingStartsFromAFreshMachine) {
    setUpMachine();
    const std::string saved = sim::machine_file::save();
    sim::firewall::addRule({.name = L"added later"});
    sim::registry::setString(L"HKLM\\SOFTWARE\\Later", L"x", L"y");
    sim::machine_file::load(saved);
    EXPECT_FALSE(sim::firewall::findRule(L"added later").has_value());
    EXPECT_FALSE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\Later"));
}

// Rules set up piece by piece make no filters; a loaded machine's firewall keeps them.
TEST(MachineFile, ALoadedMachinesFirewallKeepsAFilterForEachEnabledRule) {
    sim::firewall::addRule({.name = L"before", .enabled = true});
    EXPECT_TRUE(sim::wfp::filters().empty());
    sim::machine_file::load(sim::machine_file::save());
    sim::firewall::addRule({.name = L"on", .enabled = true});
    sim::firewall::addRule({.name = L"off", .enabled = false});
    const auto names = [] {
        std::vector<std::wstring> all;
        for (const auto& filter : sim::wfp::filters()) {
            all.push_back(filter.name);
        }
        return all;
    };
    EXPECT_EQ(names(), std::vector<std::wstring>{L"on"});
    ASSERT_TRUE(sim::firewall::changeRule(L"off", [](auto& rule) { rule.enabled = true; }));
    ASSERT_TRUE(sim::firewall::changeRule(L"on", [](auto& rule) { rule.enabled = false; }));
    EXPECT_EQ(names(), std::vector<std::wstring>{L"off"});
    sim::firewall::removeAllRules();
    EXPECT_TRUE(names().empty());
}

TEST(MachineFile, AStoppedFirewallServiceStaysStopped) {
    sim::firewall::stopService();
    const std::string saved = sim::machine_file::save();
    sim::reset();
    sim::machine_file::load(saved);
    EXPECT_FALSE(sim::firewall::serviceRunning());
}

TEST(MachineFile, ADocumentWithoutASectionKeepsThatSectionFresh) {
    sim::machine_file::load(R"({"format": "tarn-sim-machine", "version": 1,
        "firewall": {"rules": [{"name": "only", "direction": "out", "action": "block"}]}})");
    ASSERT_EQ(sim::firewall::rules().size(), 1u);
    EXPECT_EQ(sim::firewall::rules()[0].direction, 2);
    EXPECT_EQ(sim::firewall::rules()[0].action, 0);
    EXPECT_TRUE(sim::registry::keyExists(L"HKLM\\SOFTWARE\\Microsoft")) << "standard keys stay";
}

TEST(MachineFile, BadDocumentsAreRefusedWithTheirReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "not JSON"},
        {R"({"version": 1})", "not a machine file"},
        {R"({"format": "tarn-sim-machine", "version": 2})", "version 2"},
        {R"({"format": "tarn-sim-machine", "version": 1,
             "firewall": {"rules": [{"name": "x", "direction": "sideways"}]}})",
         "section \"firewall\": a direction is \"in\" or \"out\""},
        {R"({"format": "tarn-sim-machine", "version": 1,
             "registry": {"HKLM\\SOFTWARE\\X": {"v": {"type": "REG_WHAT", "data": 1}}}})",
         "no registry value type \"REG_WHAT\""},
        {R"({"format": "tarn-sim-machine", "version": 1, "network": {"adapters": [
             {"unicast": ["300.1.1.1/24"]}]}})",
         "section \"network\""},
    };
    for (const auto& [document, reason] : cases) {
        try {
            sim::machine_file::load(document);
            ADD_FAILURE() << "accepted: " << document;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
}

TEST(MachineFile, FamiliesAddSectionsOfTheirOwn) {
    std::string kept;
    sim::machine_file::registerSection(
        {"extra", [] { return std::string(R"({"n": 3})"); },
         [&kept](std::string_view text) { kept = std::string(text); }});
    const json saved = json::parse(sim::machine_file::save());
    EXPECT_EQ(saved["extra"]["n"], 3);
    sim::machine_file::load(saved.dump());
    EXPECT_EQ(json::parse(kept)["n"], 3);
    sim::machine_file::registerSection(
        {"extra", [] { return std::string("{}"); }, [](std::string_view) {}});
}

TEST(MachineFile, CommandsChangeTheMachine) {
    EXPECT_EQ(sim::machine_file::command("network home-wifi"), "network: home-wifi");
    EXPECT_EQ(sim::iphlp::network().adapters.back().friendlyName, "Wi-Fi");
    EXPECT_EQ(sim::machine_file::command("firewall-service stop"), "firewall service: stop");
    EXPECT_FALSE(sim::firewall::serviceRunning());
    EXPECT_EQ(sim::machine_file::command(
                  R"(registry-string "HKLM\SOFTWARE\A B" "Install Path" "C:\x y")"),
              "set HKLM\\SOFTWARE\\A B\\Install Path");
    EXPECT_EQ(sim::registry::stringValue(L"HKLM\\SOFTWARE\\A B", L"Install Path"), L"C:\\x y");
    EXPECT_EQ(sim::machine_file::command("registry-dword HKLM\\SOFTWARE\\A n 7"),
              "set HKLM\\SOFTWARE\\A\\n");
    EXPECT_EQ(sim::registry::dwordValue(L"HKLM\\SOFTWARE\\A", L"n"), 7u);
    EXPECT_EQ(sim::machine_file::command("network nowhere").rfind("error: ", 0), 0u);
    EXPECT_EQ(sim::machine_file::command("fly away"), "error: unknown command \"fly away\"");
}

}  // namespace
