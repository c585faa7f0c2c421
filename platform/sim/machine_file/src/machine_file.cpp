// The machine's sections and their JSON forms.
#include "sim/machine_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "internal.h"
#include "sim/firewall_control.h"
#include "sim/iphlp_control.h"
#include "sim/launch_control.h"
#include "sim/registry_control.h"
#include "sim/sessions_control.h"
#include "sim/wfp_control.h"
#include "sim/win/registry.h"

using nlohmann::json;
using sim::detail::toUtf8;

namespace sim::machine_file {

namespace {

constexpr const char* kFormat = "tarn-sim-machine";
constexpr int kVersion = 1;

std::wstring wide(const std::string& value) {
    const auto text = sim::detail::fromUtf8(value, true);
    if (!text) {
        throw std::invalid_argument("text that is not UTF-8: " + value);
    }
    return *text;
}

std::wstring wide(const json& value) {
    return wide(value.get<std::string>());
}

// --- Firewall ------------------------------------------------------------------------------

const char* const kProfileNames[] = {"domain", "private", "public"};
const int32_t kProfileTypes[] = {1, 2, 4};

json profileJson(const firewall::ProfileSettings& p) {
    return {{"firewall_enabled", p.firewallEnabled},
            {"block_all_inbound", p.blockAllInboundTraffic},
            {"notifications_disabled", p.notificationsDisabled},
            {"unicast_responses_disabled", p.unicastResponsesDisabled},
            {"default_inbound_action", p.defaultInboundAction == 0 ? "block" : "allow"},
            {"default_outbound_action", p.defaultOutboundAction == 0 ? "block" : "allow"}};
}

int32_t actionOf(const json& value) {
    if (value.is_number_integer()) {
        return value.get<int32_t>();
    }
    const std::string text = value.get<std::string>();
    if (text != "block" && text != "allow") {
        throw std::invalid_argument("an action is \"block\" or \"allow\", not \"" + text + "\"");
    }
    return text == "block" ? 0 : 1;
}

firewall::ProfileSettings profileFrom(const json& j) {
    firewall::ProfileSettings p;
    p.firewallEnabled = j.value("firewall_enabled", p.firewallEnabled);
    p.blockAllInboundTraffic = j.value("block_all_inbound", p.blockAllInboundTraffic);
    p.notificationsDisabled = j.value("notifications_disabled", p.notificationsDisabled);
    p.unicastResponsesDisabled = j.value("unicast_responses_disabled", p.unicastResponsesDisabled);
    if (j.contains("default_inbound_action")) {
        p.defaultInboundAction = actionOf(j["default_inbound_action"]);
    }
    if (j.contains("default_outbound_action")) {
        p.defaultOutboundAction = actionOf(j["default_outbound_action"]);
    }
    return p;
}

// The rule's optional texts by their member names; unset (empty) texts are left out.
const std::pair<const char*, std::wstring firewall::Rule::*> kRuleTexts[] = {
    {"description", &firewall::Rule::description},
    {"grouping", &firewall::Rule::grouping},
    {"application_name", &firewall::Rule::applicationName},
    {"service_name", &firewall::Rule::serviceName},
    {"local_ports", &firewall::Rule::localPorts},
    {"remote_ports", &firewall::Rule::remotePorts},
    {"local_addresses", &firewall::Rule::localAddresses},
    {"remote_addresses", &firewall::Rule::remoteAddresses},
    {"icmp_types_and_codes", &firewall::Rule::icmpTypesAndCodes},
    {"interface_types", &firewall::Rule::interfaceTypes},
    {"local_app_package_id", &firewall::Rule::localAppPackageId},
    {"local_user_owner", &firewall::Rule::localUserOwner},
};

json ruleJson(const firewall::Rule& r) {
    json j = json::object();
    const auto text = [&](const char* name, const std::wstring& value) {
        if (!value.empty()) {
            j[name] = toUtf8(value);
        }
    };
    j["name"] = toUtf8(r.name);
    j["enabled"] = r.enabled;
    j["direction"] = r.direction == 1 ? "in" : "out";
    j["action"] = r.action == 0 ? "block" : "allow";
    j["profiles"] = r.profiles;
    j["protocol"] = r.protocol;
    for (const auto& [name, member] : kRuleTexts) {
        text(name, r.*member);
    }
    if (r.edgeTraversal) {
        j["edge_traversal"] = true;
    }
    return j;
}

firewall::Rule ruleFrom(const json& j) {
    firewall::Rule r;
    const auto text = [&](const char* name, std::wstring& field) {
        if (const auto it = j.find(name); it != j.end()) {
            field = wide(*it);
        }
    };
    text("name", r.name);
    r.enabled = j.value("enabled", r.enabled);
    if (const auto it = j.find("direction"); it != j.end()) {
        const std::string direction = it->get<std::string>();
        if (direction != "in" && direction != "out") {
            throw std::invalid_argument("a direction is \"in\" or \"out\", not \"" + direction +
                                        "\"");
        }
        r.direction = direction == "in" ? 1 : 2;
    }
    if (const auto it = j.find("action"); it != j.end()) {
        r.action = actionOf(*it);
    }
    r.profiles = j.value("profiles", r.profiles);
    r.protocol = j.value("protocol", r.protocol);
    r.edgeTraversal = j.value("edge_traversal", r.edgeTraversal);
    for (const auto& [name, member] : kRuleTexts) {
        text(name, r.*member);
    }
    return r;
}

std::string saveFirewall() {
    json profiles = json::object();
    for (size_t i = 0; i < 3; ++i) {
        profiles[kProfileNames[i]] = profileJson(firewall::profile(kProfileTypes[i]));
    }
    json rules = json::array();
    for (const auto& rule : firewall::rules()) {
        rules.push_back(ruleJson(rule));
    }
    return json{
        {"service_running", firewall::serviceRunning()}, {"profiles", profiles}, {"rules", rules}}
        .dump();
}

void loadFirewall(std::string_view text) {
    const json j = json::parse(text);
    firewall::removeAllRules();
    for (const auto& rule : j.value("rules", json::array())) {
        firewall::addRule(ruleFrom(rule));
    }
    const json profiles = j.value("profiles", json::object());
    for (size_t i = 0; i < 3; ++i) {
        if (profiles.contains(kProfileNames[i])) {
            firewall::setProfile(kProfileTypes[i], profileFrom(profiles[kProfileNames[i]]));
        }
    }
    if (j.value("service_running", true)) {
        firewall::startService();
    } else {
        firewall::stopService();
    }
}

// --- Filtering engine ------------------------------------------------------------------------

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

GUID guidFrom(const std::string& text) {
    GUID g{};
    unsigned d[11] = {};
    if (text.size() != 38 ||
        std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d[0], &d[1], &d[2],
                    &d[3], &d[4], &d[5], &d[6], &d[7], &d[8], &d[9], &d[10]) != 11) {
        throw std::invalid_argument("not a GUID: \"" + text + "\"");
    }
    g.Data1 = d[0];
    g.Data2 = static_cast<uint16_t>(d[1]);
    g.Data3 = static_cast<uint16_t>(d[2]);
    for (int i = 0; i < 8; ++i) {
        g.Data4[i] = static_cast<uint8_t>(d[3 + i]);
    }
    return g;
}

std::string saveWfp() {
    json filters = json::array();
    for (const auto& filter : wfp::filters()) {
        filters.push_back({{"name", toUtf8(filter.name)},
                           {"description",
                            filter.description ? json(toUtf8(*filter.description)) : json(nullptr)},
                           {"layer_key", guidText(filter.layerKey)},
                           {"key", guidText(filter.key)}});
    }
    return json{{"filters", filters}}.dump();
}

void loadWfp(std::string_view text) {
    const json j = json::parse(text);
    for (const auto& filter : j.value("filters", json::array())) {
        std::optional<std::wstring> description;
        if (const auto it = filter.find("description"); it != filter.end() && !it->is_null()) {
            description = wide(*it);
        }
        wfp::addFilter(wide(filter.at("name")), description,
                       guidFrom(filter.value("layer_key", guidText(GUID{}))),
                       guidFrom(filter.value("key", guidText(GUID{}))));
    }
}

// --- Registry --------------------------------------------------------------------------------

const char* const kRoots[] = {"HKLM", "HKU"};

std::string typeName(uint32_t type) {
    switch (type) {
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default:
            return std::to_string(type);
    }
}

uint32_t typeFrom(const std::string& name) {
    for (uint32_t type : {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD}) {
        if (typeName(type) == name) {
            return type;
        }
    }
    try {
        return static_cast<uint32_t>(std::stoul(name));
    } catch (const std::exception&) {
        throw std::invalid_argument("no registry value type \"" + name + "\"");
    }
}

std::wstring textOf(const std::vector<uint8_t>& data) {
    std::wstring text(data.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    return text;
}

std::vector<uint8_t> bytesOf(const std::wstring& text) {
    std::vector<uint8_t> data;
    for (wchar_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return data;
}

std::string hex(const std::vector<uint8_t>& data) {
    std::string text;
    char byte[3];
    for (uint8_t b : data) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

json valueJson(const registry::Value& value) {
    json data;
    const auto number = [&](size_t size) {
        uint64_t n = 0;
        for (size_t i = 0; i < size && i < value.data.size(); ++i) {
            n |= static_cast<uint64_t>(value.data[i]) << (8 * i);
        }
        return n;
    };
    switch (value.type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::wstring text = textOf(value.data);
            while (!text.empty() && text.back() == L'\0') {
                text.pop_back();
            }
            data = toUtf8(text);
            break;
        }
        case REG_MULTI_SZ: {
            data = json::array();
            std::wstringstream all(textOf(value.data));
            for (std::wstring item; std::getline(all, item, L'\0');) {
                if (!item.empty()) {
                    data.push_back(toUtf8(item));
                }
            }
            break;
        }
        case REG_DWORD:
            data = value.data.size() == 4 ? json(number(4)) : json(hex(value.data));
            break;
        case REG_QWORD:
            data = value.data.size() == 8 ? json(number(8)) : json(hex(value.data));
            break;
        default:
            data = hex(value.data);
    }
    return {{"type", typeName(value.type)}, {"data", data}};
}

std::vector<uint8_t> valueData(uint32_t type, const json& data) {
    if (data.is_string() && type != REG_SZ && type != REG_EXPAND_SZ) {
        const std::string text = data.get<std::string>();
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i + 1 < text.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        }
        return bytes;
    }
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return bytesOf(wide(data) + L'\0');
        case REG_MULTI_SZ: {
            std::wstring all;
            for (const auto& item : data) {
                all += wide(item) + L'\0';
            }
            return bytesOf(all + L'\0');
        }
        case REG_DWORD:
        case REG_QWORD: {
            const uint64_t n = data.get<uint64_t>();
            std::vector<uint8_t> bytes(type == REG_DWORD ? 4 : 8);
            for (size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = static_cast<uint8_t>(n >> (8 * i));
            }
            return bytes;
        }
        default:
            throw std::invalid_argument("registry data of type " + typeName(type));
    }
}

// Value names of a key, through the API: the control side lists keys only.
std::vector<std::wstring> valueNames(const std::wstring& path) {
    const size_t slash = path.find(L'\\');
    const std::wstring root = path.substr(0, slash);
    const std::wstring rest = slash == std::wstring::npos ? L"" : path.substr(slash + 1);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root == L"HKLM" ? HKEY_LOCAL_MACHINE : HKEY_USERS, rest.c_str(), 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = 16384;
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

void saveKey(const std::wstring& path, json& keys) {
    json values = json::object();
    for (const auto& name : valueNames(path)) {
        if (const auto value = registry::value(path, name)) {
            values[toUtf8(name)] = valueJson(*value);
        }
    }
    keys[toUtf8(path)] = values;
    for (const auto& child : registry::subkeys(path)) {
        saveKey(path + L"\\" + child, keys);
    }
}

std::string saveRegistry() {
    json keys = json::object();
    for (const char* root : kRoots) {
        const std::wstring rootPath = *sim::detail::fromUtf8(root);
        for (const auto& child : registry::subkeys(rootPath)) {
            saveKey(rootPath + L"\\" + child, keys);
        }
    }
    return keys.dump();
}

void loadRegistry(std::string_view text) {
    const json keys = json::parse(text);
    for (const char* root : kRoots) {
        const std::wstring rootPath = *sim::detail::fromUtf8(root);
        for (const auto& child : registry::subkeys(rootPath)) {
            registry::deleteTree(rootPath + L"\\" + child);
        }
    }
    for (const auto& [path, values] : keys.items()) {
        const std::wstring key = wide(path);
        registry::createKey(key);
        for (const auto& [name, value] : values.items()) {
            const uint32_t type = typeFrom(value.at("type").get<std::string>());
            registry::setValue(key, wide(name), type, valueData(type, value.at("data")));
        }
    }
}

// --- Network ---------------------------------------------------------------------------------

std::string macText(const std::vector<uint8_t>& bytes) {
    std::string text;
    char part[4];
    for (uint8_t b : bytes) {
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : "-%02X", b);
        text += part;
    }
    return text;
}

std::string saveNetwork() {
    const iphlp::Network network = iphlp::network();
    json adapters = json::array();
    for (const auto& a : network.adapters) {
        json j = {{"name", a.name},
                  {"description", a.description},
                  {"friendly_name", a.friendlyName},
                  {"type", a.type},
                  {"up", a.up},
                  {"unicast", a.unicast},
                  {"gateways", a.gateways},
                  {"dhcp", a.dhcpEnabled},
                  {"dhcp_server", a.dhcpServer},
                  {"wins", a.winsServers},
                  {"dns", a.dnsServers},
                  {"dns_suffix", a.dnsSuffix}};
        if (!a.physicalAddress.empty()) {
            j["mac"] = macText(a.physicalAddress);
        }
        adapters.push_back(j);
    }
    return json{{"host_name", network.hostName},
                {"domain_name", network.domainName},
                {"adapters", adapters}}
        .dump();
}

void loadNetwork(std::string_view text) {
    iphlp::setNetwork(iphlp::parseNetwork(text));
}

// --- Sessions: the users logged on -------------------------------------------------------------

std::string saveSessions() {
    json sessions = json::array();
    for (const auto& session : sessions::sessions()) {
        if (!session.user.empty()) {
            sessions.push_back({{"id", session.id},
                                {"user", toUtf8(session.user)},
                                {"state", session.state},
                                {"win_station", toUtf8(session.winStation)}});
        }
    }
    return json{{"logged_on", sessions}}.dump();
}

void loadSessions(std::string_view text) {
    const json j = json::parse(text);
    for (const auto& session : j.value("logged_on", json::array())) {
        sessions::logOn(session.at("id").get<uint32_t>(), wide(session.at("user")),
                        session.value("state", 0), wide(session.value("win_station", "")));
    }
}

// --- Launches: what was started in the users' sessions -----------------------------------------

std::string saveLaunches() {
    json launches = json::array();
    for (const auto& launch : launch::launches()) {
        launches.push_back({{"program", toUtf8(launch.program)},
                            {"command_line", toUtf8(launch.commandLine)},
                            {"session", launch.session},
                            {"user", toUtf8(launch.user)}});
    }
    return launches.dump();
}

void loadLaunches(std::string_view text) {
    std::vector<launch::Launch> launches;
    for (const auto& entry : json::parse(text)) {
        launch::Launch launch;
        launch.program = wide(entry.at("program"));
        launch.commandLine = wide(entry.value("command_line", ""));
        launch.session = entry.value("session", 0u);
        launch.user = wide(entry.value("user", ""));
        launches.push_back(std::move(launch));
    }
    launch::setLaunches(std::move(launches));
}

struct Registry {
    std::mutex mutex;
    std::vector<Section> sections{
        {"firewall", saveFirewall, loadFirewall}, {"wfp", saveWfp, loadWfp},
        {"registry", saveRegistry, loadRegistry}, {"network", saveNetwork, loadNetwork},
        {"sessions", saveSessions, loadSessions}, {"launches", saveLaunches, loadLaunches}};
};

Registry& sections() {
    static auto* all = new Registry;
    return *all;
}

std::vector<Section> snapshot() {
    auto& all = sections();
    const std::lock_guard lock(all.mutex);
    return all.sections;
}

}  // namespace

void registerSection(Section section) {
    auto& all = sections();
    const std::lock_guard lock(all.mutex);
    for (auto& existing : all.sections) {
        if (existing.name == section.name) {
            existing = std::move(section);
            return;
        }
    }
    all.sections.push_back(std::move(section));
}

std::vector<std::string> sectionNames() {
    std::vector<std::string> names;
    for (const auto& section : snapshot()) {
        names.push_back(section.name);
    }
    return names;
}

std::string save() {
    json document = {{"format", kFormat}, {"version", kVersion}};
    for (const auto& section : snapshot()) {
        document[section.name] = json::parse(section.save());
    }
    return document.dump(2);
}

namespace {

// The firewall service of a whole machine keeps one engine filter for each enabled rule, named
// after it, as Windows' service turns rules into filters.
void joinFirewallToEngine() {
    firewall::setChangeHook([](const firewall::Rule* before, const firewall::Rule* after) {
        if (before != nullptr && before->enabled) {
            wfp::removeFiltersNamed(before->name);
        }
        if (after != nullptr && after->enabled) {
            wfp::addFilter(after->name, after->description);
        }
    });
}

}  // namespace

void load(std::string_view text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        throw std::invalid_argument(std::string("not JSON: ") + e.what());
    }
    if (!document.is_object() || document.value("format", "") != kFormat) {
        throw std::invalid_argument(std::string("not a machine file (\"format\": \"") + kFormat +
                                    "\" is missing)");
    }
    if (document.value("version", 0) != kVersion) {
        throw std::invalid_argument("machine file version " + document["version"].dump() +
                                    ", expected " + std::to_string(kVersion));
    }
    sim::reset();
    for (const auto& section : snapshot()) {
        if (const auto it = document.find(section.name); it != document.end()) {
            try {
                section.load(it->dump());
            } catch (const std::exception& e) {
                throw std::invalid_argument("section \"" + section.name + "\": " + e.what());
            }
        }
    }
    joinFirewallToEngine();
}

bool saveFile(const std::string& path, std::string* error) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << save() << '\n';
        if (!out.flush()) {
            if (error != nullptr) {
                *error = "cannot write " + temporary;
            }
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error != nullptr) {
            *error = "cannot replace " + path;
        }
        return false;
    }
    return true;
}

namespace {

// Words of a command line; double quotes group words with spaces.
std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> result;
    std::string word;
    bool quoted = false;
    bool any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) {
                result.push_back(word);
            }
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) {
        result.push_back(word);
    }
    return result;
}

std::string link(const std::string& hostFile, const std::string& windowsPath) {
    const std::string target = sim::hostPath(*sim::detail::fromUtf8(windowsPath));
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), error);
    std::filesystem::remove(target, error);
    std::filesystem::create_symlink(std::filesystem::absolute(hostFile), target, error);
    return error ? "error: " + error.message() : "linked " + windowsPath;
}

}  // namespace

std::string command(std::string_view line) {
    const std::vector<std::string> w = words(line);
    const auto is = [&](const char* verb, size_t arguments) {
        return w.size() == arguments + 1 && w[0] == verb;
    };
    try {
        if (is("network", 1)) {
            iphlp::useSetup(w[1]);
            return "network: " + w[1];
        }
        if (is("firewall-service", 1) && (w[1] == "stop" || w[1] == "start")) {
            w[1] == "stop" ? firewall::stopService() : firewall::startService();
            return "firewall service: " + w[1];
        }
        if (is("registry-string", 3)) {
            registry::setString(wide(w[1]), wide(w[2]), wide(w[3]));
            return "set " + w[1] + "\\" + w[2];
        }
        if (is("registry-dword", 3)) {
            registry::setDword(wide(w[1]), wide(w[2]), static_cast<uint32_t>(std::stoul(w[3])));
            return "set " + w[1] + "\\" + w[2];
        }
        if (is("logon", 2)) {
            sessions::logOn(static_cast<uint32_t>(std::stoul(w[1])), wide(w[2]));
            return "logged on " + w[2] + " in session " + w[1];
        }
        if (is("link", 2)) {
            return link(w[1], w[2]);
        }
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
    return "error: unknown command \"" + std::string(line) + "\"";
}

bool loadFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error != nullptr) {
            *error = "cannot read " + path;
        }
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    try {
        load(text.str());
        return true;
    } catch (const std::exception& e) {
        if (error != nullptr) {
            *error = path + ": " + e.what();
        }
        return false;
    }
}

}  // namespace sim::machine_file
