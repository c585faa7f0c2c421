// The parts of the preview that need no machine: where in a rule a refusal points, and what an
// endpoint keeps of its own writes when the next policy arrives.
#include <utility>

#include "common/Str.h"
#include "tools/policy/Preview.h"

namespace tarn::policy {

namespace {

// Reasons (their beginnings) and the member of the rule that each one blames.
constexpr std::pair<const char*, const char*> kReasonMembers[] = {
    {"Protocol is invalid", "protocol"},
    {"Name is too short", "name"},
    {"This rule has the same name as another rule", "name"},
    {"Local address is invalid", "local_addresses"},
    {"Remote address is invalid", "remote_addresses"},
    {"This rule blocks", "remote_ports"},
    {"Failed to set name", "name"},
    {"Failed to set description", "description"},
    {"Failed to set application name", "application_path"},
    {"Failed to set service name", "service_name"},
    {"Failed to set protocol", "protocol"},
    {"Failed to set remote address", "remote_addresses"},
    {"Failed to set local address", "local_addresses"},
    {"Failed to set interface type", "interface_types"},
    {"Failed to set local ports", "local_ports"},
    {"Failed to set remote ports", "remote_ports"},
    {"Failed to set profiles", "network_type"},
    {"Failed to set ICMP data", "icmp_types_and_codes"},
    {"Failed to set edge traversal", "allow_edge_traversal"},
    {"Failed to set enabled flag", "enabled"},
    {"Failed to set action", "action"},
    {"Failed to set direction", "direction"},
    {"Failed to set app package id", "application_package_id"},
};

}  // namespace

std::vector<std::string> offendingMembers(const std::string& reason,
                                          const std::string& invalidPart) {
    if (reason == "Member has the wrong type") {
        std::vector<std::string> members;
        for (auto& name : str::split(invalidPart, ',')) {
            if (!name.empty()) {
                members.push_back(std::move(name));
            }
        }
        return members;
    }
    for (const auto& [prefix, member] : kReasonMembers) {
        if (reason.rfind(prefix, 0) == 0) {
            return {member};
        }
    }
    return {};
}

json carryEndpointState(const json& next, const json& earlierStore) {
    if (!next.is_object() || !earlierStore.is_object()) {
        return next;
    }
    json carried = next;
    // The plug-in's own keys win over what a policy file says about them.
    for (const char* own : {"status", "local"}) {
        if (const auto it = earlierStore.find(own); it != earlierStore.end()) {
            json merged = carried.value(own, json::object());
            merged.merge_patch(*it);
            carried[own] = std::move(merged);
        }
    }
    const json::json_pointer selected("/windows/firewall/current_autoselected_profile_name");
    if (earlierStore.contains(selected) && !carried.contains(selected)) {
        carried[selected] = earlierStore[selected];
    }
    return carried;
}

}  // namespace tarn::policy
