// What a policy does to an endpoint, worked out by the system itself: the machine is loaded
// into the simulated machine of this process, the policy goes into a throw-away settings store,
// and the controller makes one pass over it, after automatic profile selection has chosen the
// profile for the machine's network. The machine as it was before and after the pass is the
// prediction; the rules refused on the way are collected with the places in the policy that
// caused them. Nothing outside a temporary folder is written.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarn::policy {

using nlohmann::json;

// A policy or machine that cannot be taken; the text says why.
struct PolicyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One rule that the endpoint refuses or applies only in part.
struct Refusal {
    std::string rule;    // the rule's name as the endpoint reads it
    std::string reason;  // as the "InvalidRules" log and the alert give it
    std::string invalidPart;
    std::string invalidRulesLine;  // the line of the "InvalidRules" log
    json alert;                    // {"type": ..., "payload": {...}}
    // The JSON paths of the offending members ("windows.firewall.profiles[0].rules[3].name"),
    // or of the rule when no member is to blame; none for rules that are not the policy's own.
    std::vector<std::string> paths;
};

struct PreviewInput {
    json policy;  // the settings store's values, as `orrery import` takes them
    // The product namespace of the endpoint: its registry keys name it.
    std::wstring nameSpace = L"default";
    // The program that hosts the plug-in on the endpoint, which the built-in rules let through;
    // empty: the carrier host beside this program.
    std::wstring hostProgram;
    // A machine document (sim machine file); none: a default workstation on the office LAN.
    std::optional<json> machine;
};

struct PreviewResult {
    json before;  // the machine documents
    json after;
    json store;              // the store's values after the pass (the plug-in's status included)
    std::string profile;     // the profile that the pass applied
    bool isolation = false;  // whether that was the isolation profile
    bool serviceRunning = true;
    std::vector<Refusal> refusals;
    // The profile that each prepared network setup would select, in setup order.
    std::vector<std::pair<std::string, std::string>> profileByNetwork;
};

// Gives the process a simulated machine root of its own while it lives: a temporary folder
// with the hosts file of the usual root, so that names resolve as on that machine while the
// logs and named objects of a preview stay apart from it. Made first thing in main, before
// anything touches the machine. Nothing on a real machine.
class PrivateMachineRoot {
public:
    PrivateMachineRoot();
    ~PrivateMachineRoot();
    PrivateMachineRoot(const PrivateMachineRoot&) = delete;
    PrivateMachineRoot& operator=(const PrivateMachineRoot&) = delete;

private:
    std::string m_folder;
};

// Runs the preview. Throws PolicyError for a policy that is no JSON object or that the store
// refuses, or for a machine document that cannot be loaded.
PreviewResult preview(const PreviewInput& input);

// The policy to preview after `earlier` ran on the same endpoint: `next` with what the plug-in
// wrote into the store during the earlier pass ("status", "local" and the profile that
// selection chose), as a policy update on a running endpoint finds it.
json carryEndpointState(const json& next, const json& earlierStore);

// The members of a rule to blame for a refusal with this reason and invalid part; empty when
// the rule as a whole is to blame.
std::vector<std::string> offendingMembers(const std::string& reason,
                                          const std::string& invalidPart);

}  // namespace tarn::policy
