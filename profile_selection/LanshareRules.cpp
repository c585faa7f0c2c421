#include "profile_selection/LanshareRules.h"

#include "settings/HostExecutable.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"

namespace {

constexpr int32_t kProtocolTcp = 6;
constexpr int32_t kProtocolUdp = 17;
constexpr const wchar_t* kUnprivilegedPorts = L"1024-65535";

}  // namespace

std::wstring makeLanshareRuleName(int32_t protocol, int32_t port, FWRule::Direction direction) {
    return std::wstring(L"Tarn Lanshare (") + (protocol == kProtocolTcp ? L"TCP " : L"UDP ") +
           std::to_wstring(port) + (direction == FWRule::Direction::In ? L":in)" : L":out)");
}

FWRule makeLanshareRule(int32_t protocol, int32_t port, FWRule::Direction direction,
                        const std::wstring& subnet) {
    FWRule rule;
    rule.name = makeLanshareRuleName(protocol, port, direction);
    rule.description = rule.name;
    rule.enabled = true;
    rule.direction = direction;
    rule.action = FWRule::Action::Allow;
    rule.networkType = FWRule::NetworkAll;
    rule.protocol = protocol;
    rule.applicationPath = tarn::hostExecutablePath();
    const bool inbound = direction == FWRule::Direction::In;
    rule.localPorts = inbound ? std::to_wstring(port) : kUnprivilegedPorts;
    rule.remotePorts = inbound ? kUnprivilegedPorts : std::to_wstring(port);
    rule.remoteAddresses = subnet;
    rule.edgeTraversal = false;
    return rule;
}

void appendLanshareRules(PyxOrreryHandle handle, std::vector<FWRule>& rules) {
    namespace keys = tarn::keys;
    const bool client = Orrery::getBool(handle, keys::kLanshareAllowRulesClientEnabled, false);
    const bool server = Orrery::getBool(handle, keys::kLanshareAllowRulesServerEnabled, false);
    if (!client && !server) {
        return;
    }
    int err = 1;
    const int32_t port = Orrery::getInt32(handle, keys::kLanshareAllowRulesPort, -1, &err);
    if (err != PYX_ORRERY_OK) {
        return;
    }
    const std::wstring subnet = Orrery::getString(handle, keys::kLanshareAllowRulesSubnet);
    if (server) {
        rules.push_back(makeLanshareRule(kProtocolTcp, port, FWRule::Direction::In, subnet));
        rules.push_back(makeLanshareRule(kProtocolUdp, port, FWRule::Direction::In, subnet));
    }
    if (client) {
        rules.push_back(makeLanshareRule(kProtocolUdp, port, FWRule::Direction::Out, subnet));
    }
}
