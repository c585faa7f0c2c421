// The firewall's alerts to the central management: a managed rule that asked for alerts
// blocked traffic, or a rule could not be applied as written. Sending never throws; a failed
// send is logged and the alert dropped.
#pragma once

#include <string>

class FWRule;
class WfpEventInfo;

class IFWAlertApi {
public:
    virtual ~IFWAlertApi() = default;
    virtual void sendRuleTriggeredAlert(const WfpEventInfo& event) = 0;
    // Only the rule's name is sent, with the reason and the offending part of the rule.
    virtual void sendRuleApplicationFailedAlert(const FWRule& rule, const std::wstring& error,
                                                const std::wstring& data) = 0;
};
