#include "rules/RuleValidation.h"

#include <algorithm>
#include <utility>

#include "common/Str.h"
#include "common/logging/Log.h"
#include "platform/win.h"

namespace {

constexpr int32_t kProtocolTcp = 6;
constexpr int32_t kProtocolUdp = 17;
constexpr int32_t kProtocolAny = 256;

bool isAny(const std::wstring& text) {
    return text.empty() || text == L"*";
}

bool refuse(const FWRule& rule, const InvalidRuleReporter& reporter, const std::wstring& reason,
            const std::wstring& invalidPart) {
    if (reporter) {
        reporter(rule, reason, invalidPart);
    }
    return false;
}

}  // namespace

bool validateRule(const FWRule& rule, const std::vector<FWRule>& accepted,
                  const InvalidRuleReporter& reporter) {
    // Rules are matched to Windows rules by name: two of one name would overwrite each other.
    if (std::any_of(accepted.begin(), accepted.end(), [&](const FWRule& other) {
            return tarn::str::equalsNoCase(other.name, rule.name);
        })) {
        return refuse(rule, reporter, L"This rule has the same name as another rule", L"");
    }
    if (rule.action != FWRule::Action::Block || rule.direction != FWRule::Direction::Out ||
        !matchesAnyTraffic(rule)) {
        return true;
    }
    const bool tcp = rule.protocol == kProtocolTcp || rule.protocol == kProtocolAny;
    if (tcp && portsContainThesePortsOrInvalid(rule.remotePorts, 443, 80)) {
        return refuse(rule, reporter, L"This rule blocks Tarn services", rule.remotePorts);
    }
    const bool udp = rule.protocol == kProtocolUdp || rule.protocol == kProtocolAny;
    if (udp && portsContainThesePortsOrInvalid(rule.remotePorts, 53, 0)) {
        return refuse(rule, reporter, L"This rule blocks DNS services", rule.remotePorts);
    }
    return true;
}

bool matchesAnyTraffic(const FWRule& rule) {
    return isAny(rule.localAddresses) && isAny(rule.remoteAddresses) &&
           rule.applicationPath.empty() && rule.applicationPackageId.empty() &&
           rule.serviceName.empty() && isAny(rule.localPorts);
}

bool portsContainThesePortsOrInvalid(const std::wstring& ports, int portA, int portB) {
    if (isAny(ports)) {
        return true;
    }
    for (const auto& item : tarn::str::split(ports, L',')) {
        const auto bounds = tarn::str::split(item, L'-');
        if (item.empty() || bounds.size() > 2) {
            TARN_LOG(TarnPyxLogging::LevelDebug) << "Port string is invalid: " << ports;
            return true;
        }
        int low = _wtoi(bounds.front().c_str());
        int high = _wtoi(bounds.back().c_str());
        if (low > high) {
            std::swap(low, high);
        }
        const auto covers = [&](int port) { return port >= low && port <= high; };
        if (covers(portA) || (portB != 0 && covers(portB))) {
            return true;
        }
    }
    return false;
}
