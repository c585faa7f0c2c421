// The firewall view and the diff on fixed machine files.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/firewall_view/FirewallView.h"

namespace {

using nlohmann::json;

const json kBefore = json::parse(R"json({
  "format": "tarn-sim-machine", "version": 1,
  "firewall": {
    "service_running": true,
    "profiles": {
      "domain": {"firewall_enabled": true, "default_inbound_action": "block",
                 "default_outbound_action": "allow"},
      "private": {"firewall_enabled": true},
      "public": {"firewall_enabled": false, "block_all_inbound": true,
                 "notifications_disabled": true}
    },
    "rules": [
      {"name": "Tarn: Allow DNS (Out)", "enabled": true, "direction": "out", "action": "allow",
       "protocol": 17, "profiles": 2147483647, "remote_ports": "53",
       "remote_addresses": "10.20.1.2", "grouping": "Tarn Firewall"},
      {"name": "Block FTP", "enabled": true, "direction": "out", "action": "block",
       "protocol": 6, "profiles": 4, "remote_ports": "21", "grouping": "Tarn Firewall"},
      {"name": "Remote Desktop", "enabled": false, "direction": "in", "action": "allow",
       "protocol": 6, "profiles": 3, "local_ports": "3389",
       "application_name": "C:\\Windows\\system32\\svchost.exe"}
    ]
  },
  "registry": {"HKLM\\SOFTWARE\\Tarn": {"Mode": {"type": "REG_DWORD", "data": 1}}}
})json");

json after() {
    json machine = kBefore;
    auto& rules = machine["firewall"]["rules"];
    rules.erase(1);              // Block FTP removed
    rules[1]["enabled"] = true;  // Remote Desktop switched on
    rules.push_back({{"name", "Tarn: Lanshare"},
                     {"enabled", true},
                     {"direction", "in"},
                     {"action", "allow"},
                     {"protocol", 6},
                     {"local_ports", "8080"},
                     {"remote_addresses", "LocalSubnet"},
                     {"grouping", "Tarn Firewall"}});
    machine["firewall"]["profiles"]["public"]["firewall_enabled"] = true;
    machine["registry"]["HKLM\\SOFTWARE\\Tarn"]["Mode"]["data"] = 2;
    return machine;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        all.push_back(line);
    }
    return all;
}

// The line that has every one of the words, in this order.
bool hasRow(const std::string& text, const std::vector<std::string>& words) {
    for (const auto& line : lines(text)) {
        size_t at = 0;
        bool all = true;
        for (const auto& word : words) {
            at = line.find(word, at);
            if (at == std::string::npos) {
                all = false;
                break;
            }
            at += word.size();
        }
        if (all) {
            return true;
        }
    }
    return false;
}

TEST(FirewallView, ShowsOurRulesApartFromOthersWithTheirProperties) {
    const std::string text = tarn::view::renderFirewall(kBefore);
    EXPECT_TRUE(hasRow(text, {"Rules of the plug-in", "(2)"})) << text;
    EXPECT_TRUE(hasRow(text, {"Other rules (1)"})) << text;
    EXPECT_TRUE(hasRow(text, {"Yes", "Out", "Allow", "UDP", "Any", "53", "10.20.1.2", "All", "-",
                              "Tarn: Allow DNS (Out)"}))
        << text;
    EXPECT_TRUE(hasRow(text, {"Yes", "Out", "Block", "TCP", "21", "Public", "Block FTP"})) << text;
    EXPECT_TRUE(hasRow(text, {"No", "In", "Allow", "TCP", "3389", "Any", "Any", "Domain,Private",
                              "svchost.exe", "Remote Desktop"}))
        << text;
    // Our rules come before the others.
    EXPECT_LT(text.find("Block FTP"), text.find("Remote Desktop"));
}

TEST(FirewallView, ShowsTheThreeProfilesDefaults) {
    const std::string text = tarn::view::renderFirewall(kBefore);
    EXPECT_TRUE(hasRow(text, {"Domain", "ON", "Block", "Allow", "No", "Enabled", "Enabled"}))
        << text;
    EXPECT_TRUE(hasRow(text, {"Public", "OFF", "Block", "Allow", "Yes", "Disabled", "Enabled"}))
        << text;
    EXPECT_TRUE(hasRow(text, {"service running"})) << text;
}

TEST(FirewallView, ShowsTheStatusKeysOfTheStore) {
    const json store = json::parse(R"({"generation": 4, "values": {
        "status": {"windows": {"firewall": {"enabled": true, "current_profile_name": "Office",
                                            "gpo": {"private": 0}}}},
        "windows": {"firewall": {"enabled": true}}}})");
    const std::string text = tarn::view::renderFirewall(kBefore, &store);
    EXPECT_TRUE(hasRow(text, {"current_profile_name", "Office"})) << text;
    EXPECT_TRUE(hasRow(text, {"enabled", "true"})) << text;
    EXPECT_TRUE(hasRow(text, {"gpo.private", "0"})) << text;
    EXPECT_EQ(lines(text).back().find("windows.firewall.enabled"), std::string::npos);
    const json empty = json::parse(R"({"values": {}})");
    EXPECT_TRUE(hasRow(tarn::view::renderFirewall(kBefore, &empty), {"none written"}));
}

TEST(FirewallView, TheDiffNamesEachChange) {
    const std::string text = tarn::view::renderDiff(kBefore, after());
    const std::vector<std::string> expected = {
        "~ profile public",
        "    firewall_enabled: false -> true",
        "- rule Block FTP",
        "~ rule Remote Desktop",
        "    enabled: false -> true",
        "+ rule Tarn: Lanshare  [Yes In Allow TCP remote LocalSubnet:Any]",
        "~ registry HKLM\\SOFTWARE\\Tarn\\Mode: 1 -> 2",
    };
    EXPECT_EQ(lines(text), expected) << text;
    EXPECT_EQ(tarn::view::renderDiff(kBefore, kBefore), "no differences\n");
}

TEST(FirewallView, RefusesWhatIsNoMachineFile) {
    EXPECT_THROW(tarn::view::renderFirewall(json::parse(R"({"values": {}})")),
                 std::invalid_argument);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(tarn::view::runTool({}, out, err), 2);
    EXPECT_NE(err.str().find("usage"), std::string::npos);
    EXPECT_EQ(tarn::view::runTool({"/no/such/machine.json"}, out, err), 1);
    EXPECT_NE(err.str().find("cannot read /no/such/machine.json"), std::string::npos);
}

}  // namespace
