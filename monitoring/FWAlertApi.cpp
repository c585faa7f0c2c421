#include "monitoring/FWAlertApi.h"

#include "common/Str.h"
#include "common/logging/Log.h"
#include "monitoring/WfpEventInfo.h"
#include "settings/FWRule.h"

namespace {

using TarnPyxLogging::LevelDebug;

// UTF-8 of text from the engine or the policy; a lone surrogate becomes U+FFFD instead of
// costing the alert.
std::string utf8(const std::wstring& text) {
    try {
        return tarn::str::toUtf8(text);
    } catch (const std::exception&) {
        std::wstring repaired = text;
        for (size_t i = 0; i < repaired.size(); ++i) {
            const auto unit = static_cast<uint32_t>(repaired[i]);
            const bool high = unit >= 0xD800 && unit <= 0xDBFF;
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            const bool pairs = sizeof(wchar_t) == 2 && high && i + 1 < repaired.size() &&
                               static_cast<uint32_t>(repaired[i + 1]) >= 0xDC00 &&
                               static_cast<uint32_t>(repaired[i + 1]) <= 0xDFFF;
            if (pairs) {
                ++i;
            } else if (high || low || unit > 0x10FFFF) {
                repaired[i] = static_cast<wchar_t>(0xFFFD);
            }
        }
        return tarn::str::toUtf8(repaired);
    }
}

const char* directionText(WfpEventInfo::Direction direction) {
    switch (direction) {
        case WfpEventInfo::Direction::Inbound:
            return "inbound";
        case WfpEventInfo::Direction::Outbound:
            return "outbound";
        case WfpEventInfo::Direction::Forward:
            return "forward";
    }
    return "";
}

void putText(nlohmann::ordered_json& payload, const char* key,
             const std::optional<std::wstring>& value) {
    if (value) {
        payload[key] = utf8(*value);
    }
}

}  // namespace

FWAlertApi::FWAlertApi(std::wstring namespaceName, const AlertLibrary& library)
    : m_namespaceName(std::move(namespaceName)), m_library(library) {
    TARN_LOG(LevelDebug) << "Entering: "
                         << "FWAlertApi::FWAlertApi";
    if (m_library.delayLoadInitialize(m_namespaceName.c_str()) != 0) {
        TARN_LOG(TarnPyxLogging::LevelError) << "Cannot load Alert API library";
    }
    TARN_LOG(LevelDebug) << "Leaving: "
                         << "FWAlertApi::FWAlertApi";
}

nlohmann::ordered_json FWAlertApi::ruleTriggeredPayload(const WfpEventInfo& event) {
    nlohmann::ordered_json payload = nlohmann::ordered_json::object();
    putText(payload, "ruleName", event.getFilterName());
    putText(payload, "ruleGroupName", event.getRuleGroupName());
    putText(payload, "layerName", event.getLayerName());
    if (const auto direction = event.getDirection()) {
        payload["ruleDirection"] = directionText(*direction);
    }
    if (const auto loopback = event.getIsLoopback()) {
        payload["isLoopback"] = *loopback;
    }
    putText(payload, "ipProtocol", event.getProtocol());
    putText(payload, "localAddress", event.getLocalAddress());
    putText(payload, "remoteAddress", event.getRemoteAddress());
    if (const auto port = event.getLocalPort()) {
        payload["localPort"] = *port;
    }
    if (const auto port = event.getRemotePort()) {
        payload["remotePort"] = *port;
    }
    putText(payload, "application", event.getApplication());
    putText(payload, "SID", event.getUserSid());
    return payload;
}

nlohmann::ordered_json FWAlertApi::ruleApplicationFailedPayload(const FWRule& rule,
                                                                const std::wstring& error,
                                                                const std::wstring& data) {
    nlohmann::ordered_json payload = nlohmann::ordered_json::object();
    payload["ruleName"] = utf8(rule.name);
    payload["error"] = utf8(error);
    payload["data"] = utf8(data);
    return payload;
}

void FWAlertApi::sendRuleTriggeredAlert(const WfpEventInfo& event) {
    doSendAlert(ruleTriggeredPayload(event), kRuleTriggeredBlock);
}

void FWAlertApi::sendRuleApplicationFailedAlert(const FWRule& rule, const std::wstring& error,
                                                const std::wstring& data) {
    doSendAlert(ruleApplicationFailedPayload(rule, error, data), kRuleApplicationFailed);
}

void FWAlertApi::doSendAlert(const nlohmann::ordered_json& payload, const std::string& alertType) {
    TARN_LOG(LevelDebug) << "Alert type: " << alertType << ", alert date: " << payload.dump();
    const std::string text = payload.dump();
    const int result =
        m_library.sendAlertNS(m_namespaceName.c_str(), alertType.c_str(), text.c_str());
    if (result == 0) {
        TARN_LOG(LevelDebug) << "Sending of alert finished successfully";
        return;
    }
    TARN_LOG(TarnPyxLogging::LevelWarning)
        << "Sending of alert failed with error: " << m_library.errorAsString(result);
}
