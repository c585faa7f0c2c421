#include "tools/firewall_view/FirewallView.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tarn::view {

using nlohmann::json;

namespace {

constexpr const char* kOurGrouping = "Tarn Firewall";
constexpr const char* kStatusPrefix = "status.windows.firewall.";

std::string text(const json& rule, const char* name, const char* unset = "Any") {
    const auto it = rule.find(name);
    return it == rule.end() || it->get<std::string>().empty() ? unset : it->get<std::string>();
}

std::string protocolText(const json& rule) {
    switch (rule.value("protocol", 256)) {
        case 1:
            return "ICMPv4";
        case 6:
            return "TCP";
        case 17:
            return "UDP";
        case 58:
            return "ICMPv6";
        case 256:
            return "Any";
        default:
            return std::to_string(rule.value("protocol", 256));
    }
}

std::string profilesText(int32_t mask) {
    if ((mask & 7) == 7) {
        return "All";
    }
    std::string names;
    const std::pair<int32_t, const char*> all[] = {{1, "Domain"}, {2, "Private"}, {4, "Public"}};
    for (const auto& [bit, name] : all) {
        if ((mask & bit) != 0) {
            if (!names.empty()) {
                names += ',';
            }
            names += name;
        }
    }
    return names.empty() ? "None" : names;
}

// Left-aligned columns, each as wide as its widest cell; the last one is not padded.
std::string table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::ostringstream out;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << line << "\n";
    }
    return out.str();
}

std::vector<std::string> ruleRow(const json& rule) {
    return {rule.value("enabled", false) ? "Yes" : "No",
            rule.value("direction", "in") == "in" ? "In" : "Out",
            rule.value("action", "allow") == "block" ? "Block" : "Allow",
            protocolText(rule),
            text(rule, "local_ports"),
            text(rule, "remote_ports"),
            text(rule, "remote_addresses"),
            profilesText(rule.value("profiles", 0x7FFFFFFF)),
            text(rule, "application_name", "-"),
            rule.value("name", "")};
}

const std::vector<std::string> kRuleHeader = {"Enabled",   "Dir",        "Action",   "Protocol",
                                              "LocalPort", "RemotePort", "RemoteIP", "Profiles",
                                              "Program",   "Rule Name"};

}  // namespace

std::string renderRules(const std::string& title, const std::vector<json>& rules) {
    std::ostringstream out;
    out << title << " (" << rules.size() << ")\n";
    if (rules.empty()) {
        return out.str() + "  none\n";
    }
    std::vector<std::vector<std::string>> rows{kRuleHeader};
    for (const auto& rule : rules) {
        rows.push_back(ruleRow(rule));
    }
    return out.str() + table(rows);
}

namespace {

std::string onOff(bool on) {
    return on ? "ON" : "OFF";
}

}  // namespace

std::string renderProfiles(const json& profiles) {
    std::vector<std::vector<std::string>> rows{{"Profile", "State", "Inbound", "Outbound",
                                                "BlockAllInbound", "Notifications",
                                                "UnicastResponses"}};
    for (const char* name : {"domain", "private", "public"}) {
        const json p = profiles.value(name, json::object());
        const auto action = [&](const char* key, const char* fallback) {
            return p.value(key, fallback) == std::string("block") ? "Block" : "Allow";
        };
        std::string title = name;
        title[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(title[0])));
        rows.push_back({title, onOff(p.value("firewall_enabled", true)),
                        action("default_inbound_action", "block"),
                        action("default_outbound_action", "allow"),
                        p.value("block_all_inbound", false) ? "Yes" : "No",
                        p.value("notifications_disabled", false) ? "Disabled" : "Enabled",
                        p.value("unicast_responses_disabled", false) ? "Disabled" : "Enabled"});
    }
    return table(rows);
}

namespace {

void flatten(const json& value, const std::string& key, std::map<std::string, std::string>& out) {
    if (value.is_object()) {
        for (const auto& [name, member] : value.items()) {
            flatten(member, key.empty() ? name : key + "." + name, out);
        }
    } else {
        out[key] = value.is_string() ? value.get<std::string>() : value.dump();
    }
}

std::string statusSection(const json& store) {
    std::map<std::string, std::string> values;
    flatten(store.value("values", store), "", values);
    std::vector<std::vector<std::string>> rows;
    for (const auto& [key, value] : values) {
        if (key.rfind(kStatusPrefix, 0) == 0) {
            rows.push_back({key.substr(std::string(kStatusPrefix).size()), value});
        }
    }
    return "Status (" + std::string(kStatusPrefix) + "*)\n" +
           (rows.empty() ? std::string("  none written\n") : table(rows));
}

const json& firewallOf(const json& machine) {
    const auto it = machine.find("firewall");
    if (it == machine.end() || !it->is_object()) {
        throw std::invalid_argument("not a machine file: it has no firewall section");
    }
    return *it;
}

// --- Differences -----------------------------------------------------------------------------

std::map<std::string, json> rulesByName(const json& firewall) {
    std::map<std::string, json> rules;
    for (const auto& rule : firewall.value("rules", json::array())) {
        rules.emplace(rule.value("name", ""), rule);  // the first of a name, as Windows finds it
    }
    return rules;
}

std::string shortValue(const json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void diffMembers(const std::string& prefix, const json& before, const json& after,
                 std::ostringstream& out) {
    const json changes = memberChanges(before, after);
    for (const auto& [name, values] : changes.items()) {
        out << prefix << name << ": " << (values[0].is_null() ? "(unset)" : shortValue(values[0]))
            << " -> " << (values[1].is_null() ? "(unset)" : shortValue(values[1])) << "\n";
    }
}

void diffRules(const json& before, const json& after, std::ostringstream& out) {
    const auto old = rulesByName(before);
    const auto now = rulesByName(after);
    for (const auto& [name, rule] : old) {
        if (now.count(name) == 0) {
            out << "- rule " << name << "\n";
        }
    }
    for (const auto& [name, rule] : now) {
        const auto it = old.find(name);
        if (it == old.end()) {
            const auto row = ruleRow(rule);
            out << "+ rule " << name << "  [" << row[0] << " " << row[1] << " " << row[2] << " "
                << row[3] << " remote " << row[6] << ":" << row[5] << "]\n";
        } else if (it->second != rule) {
            out << "~ rule " << name << "\n";
            diffMembers("    ", it->second, rule, out);
        }
    }
}

void diffRegistry(const json& before, const json& after, std::ostringstream& out) {
    std::map<std::string, std::pair<json, json>> values;
    for (const auto& [key, members] : before.items()) {
        for (const auto& [name, value] : members.items()) {
            values[key + "\\" + (name.empty() ? "(Default)" : name)].first = value;
        }
    }
    for (const auto& [key, members] : after.items()) {
        for (const auto& [name, value] : members.items()) {
            values[key + "\\" + (name.empty() ? "(Default)" : name)].second = value;
        }
    }
    for (const auto& [path, pair] : values) {
        if (pair.first == pair.second) {
            continue;
        }
        const auto data = [](const json& v) {
            return v.is_null() ? "(none)" : shortValue(v["data"]);
        };
        const char mark = pair.first.is_null() ? '+' : pair.second.is_null() ? '-' : '~';
        out << mark << " registry " << path << ": " << data(pair.first) << " -> "
            << data(pair.second) << "\n";
    }
}

json readJson(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    try {
        return json::parse(in);
    } catch (const json::exception& e) {
        throw std::runtime_error(path + ": not JSON (" + e.what() + ")");
    }
}

}  // namespace

json memberChanges(const json& before, const json& after) {
    std::map<std::string, std::pair<json, json>> members;
    for (const auto& [name, value] : before.items()) {
        members[name].first = value;
    }
    for (const auto& [name, value] : after.items()) {
        members[name].second = value;
    }
    json changes = json::object();
    for (const auto& [name, values] : members) {
        if (values.first != values.second) {
            changes[name] = json::array({values.first, values.second});
        }
    }
    return changes;
}

json ruleChanges(const json& before, const json& after) {
    const auto old = rulesByName(firewallOf(before));
    const auto now = rulesByName(firewallOf(after));
    json changes = {{"add", json::array()}, {"change", json::array()}, {"remove", json::array()}};
    for (const auto& [name, rule] : old) {
        if (now.count(name) == 0) {
            changes["remove"].push_back(rule);
        }
    }
    for (const auto& [name, rule] : now) {
        const auto it = old.find(name);
        if (it == old.end()) {
            changes["add"].push_back(rule);
        } else if (it->second != rule) {
            changes["change"].push_back(
                {{"name", name}, {"writes", memberChanges(it->second, rule)}});
        }
    }
    return changes;
}

std::string renderFirewall(const json& machine, const json* store) {
    const json& firewall = firewallOf(machine);
    std::vector<json> ours;
    std::vector<json> others;
    for (const auto& rule : firewall.value("rules", json::array())) {
        (rule.value("grouping", "") == kOurGrouping ? ours : others).push_back(rule);
    }
    std::ostringstream out;
    out << "Windows Firewall (service "
        << (firewall.value("service_running", true) ? "running" : "stopped") << ")\n\n"
        << renderProfiles(firewall.value("profiles", json::object())) << "\n"
        << renderRules(std::string("Rules of the plug-in (grouping \"") + kOurGrouping + "\")",
                       ours)
        << "\n"
        << renderRules("Other rules", others);
    if (store != nullptr) {
        out << "\n" << statusSection(*store);
    }
    return out.str();
}

std::string renderDiff(const json& before, const json& after) {
    const json& old = firewallOf(before);
    const json& now = firewallOf(after);
    std::ostringstream out;
    if (old.value("service_running", true) != now.value("service_running", true)) {
        out << "~ firewall service: "
            << (now.value("service_running", true) ? "started" : "stopped") << "\n";
    }
    const json oldProfiles = old.value("profiles", json::object());
    const json newProfiles = now.value("profiles", json::object());
    for (const char* name : {"domain", "private", "public"}) {
        std::ostringstream changes;
        diffMembers("    ", oldProfiles.value(name, json::object()),
                    newProfiles.value(name, json::object()), changes);
        if (!changes.str().empty()) {
            out << "~ profile " << name << "\n" << changes.str();
        }
    }
    diffRules(old, now, out);
    diffRegistry(before.value("registry", json::object()), after.value("registry", json::object()),
                 out);
    return out.str().empty() ? "no differences\n" : out.str();
}

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const char* usage =
        "usage: tarn_firewall_view MACHINE.json [--store STORE.json]\n"
        "       tarn_firewall_view diff BEFORE.json AFTER.json\n";
    try {
        if (args.size() == 3 && args[0] == "diff") {
            out << renderDiff(readJson(args[1]), readJson(args[2]));
            return 0;
        }
        if (args.size() == 1 || (args.size() == 3 && args[1] == "--store")) {
            const json machine = readJson(args[0]);
            if (args.size() == 3) {
                const json store = readJson(args[2]);
                out << renderFirewall(machine, &store);
            } else {
                out << renderFirewall(machine);
            }
            return 0;
        }
    } catch (const std::exception& e) {
        err << "tarn_firewall_view: " << e.what() << "\n";
        return 1;
    }
    err << usage;
    return 2;
}

}  // namespace tarn::view
