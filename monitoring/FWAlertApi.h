// The firewall's alerts, sent through the alert library for the product namespace: a drop by a
// managed rule that asks for alerts, and a rule that could not be applied as written. Every
// alert is sent at once on the caller's thread; a failed send is logged and the alert dropped.
// Safe for concurrent callers: nothing changes after construction.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "monitoring/AlertLibrary.h"
#include "monitoring/IFWAlertApi.h"

class FWAlertApi : public IFWAlertApi {
public:
    static constexpr const char* kRuleTriggeredBlock = "firewall.tarn_rule_triggered.block";
    static constexpr const char* kRuleApplicationFailed = "firewall.tarn_rule_application.failed";

    // Initialises the alert library for the namespace; a library that is not ready is logged,
    // and later sends still go through it.
    explicit FWAlertApi(std::wstring namespaceName,
                        const AlertLibrary& library = linkedAlertLibrary());

    void sendRuleTriggeredAlert(const WfpEventInfo& event) override;
    void sendRuleApplicationFailedAlert(const FWRule& rule, const std::wstring& error,
                                        const std::wstring& data) override;

    // The payloads, keys in the order of their tables.
    static nlohmann::ordered_json ruleTriggeredPayload(const WfpEventInfo& event);
    static nlohmann::ordered_json ruleApplicationFailedPayload(const FWRule& rule,
                                                               const std::wstring& error,
                                                               const std::wstring& data);

protected:
    // The one sending step.
    virtual void doSendAlert(const nlohmann::ordered_json& payload, const std::string& alertType);

private:
    std::wstring m_namespaceName;
    const AlertLibrary& m_library;
};
