// One network event of the filtering engine, decoded into plain optional fields: what it is,
// which filter and layer dropped the packet, the addresses, ports, protocol, application and
// user, and the whole event as one line of text. Fields the event does not carry stay absent
// and are left out of the text and of alerts.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "monitoring/IFwpmWrapper.h"

class WfpEventInfo {
public:
    enum class Direction : uint32_t { Inbound = 0, Outbound = 1, Forward = 2 };

    // A null event leaves every field absent. The engine handle and the wrapper serve the
    // look-ups of the filter and the layer of a classify drop.
    WfpEventInfo(const FWPM_NET_EVENT1* event, HANDLE engine, std::shared_ptr<IFwpmWrapper> fwpm);
    virtual ~WfpEventInfo();
    WfpEventInfo(const WfpEventInfo&) = default;
    WfpEventInfo& operator=(const WfpEventInfo&) = default;

    // The getters the alert payload reads, in its order.
    virtual std::optional<std::wstring> getFilterName() const;
    virtual std::optional<std::wstring> getRuleGroupName() const;
    virtual std::optional<std::wstring> getLayerName() const;
    // Absent also when the raw direction has no mapping.
    virtual std::optional<Direction> getDirection() const;
    virtual std::optional<bool> getIsLoopback() const;
    virtual std::optional<std::wstring> getProtocol() const;
    // The IPv4 address when there is one, else the IPv6 address.
    virtual std::optional<std::wstring> getLocalAddress() const;
    virtual std::optional<std::wstring> getRemoteAddress() const;
    virtual std::optional<uint16_t> getLocalPort() const;
    virtual std::optional<uint16_t> getRemotePort() const;
    virtual std::optional<std::wstring> getApplication() const;
    virtual std::optional<std::wstring> getUserSid() const;

    bool isDrop() const { return m_isDrop; }
    bool isClassifyDrop() const { return m_isClassifyDrop; }
    std::optional<uint32_t> getEventType() const { return m_eventType; }
    std::optional<std::wstring> getFilterDescription() const { return m_filterDescription; }
    std::optional<uint32_t> getRawDirection() const { return m_direction; }

    // Set by the monitor for a drop that raises an alert.
    void setRuleGroupName(std::wstring name) { m_ruleGroupName = std::move(name); }

    // The whole event as one line: each present piece ends with ". ".
    std::wstring toString() const;

    // "TCP(6)": the protocol's name from the IP protocol table, then its number.
    static std::wstring protocolText(uint8_t protocol);
    // The direction of a raw value: the FWP_DIRECTION values and the stack's 0x3900 family.
    static std::optional<Direction> directionOf(uint32_t raw);

private:
    void initEventType(const FWPM_NET_EVENT1& event, HANDLE engine);
    void initClassifyDrop(const FWPM_NET_EVENT_CLASSIFY_DROP1& drop, HANDLE engine);
    void initPorts(const FWPM_NET_EVENT_HEADER1& header);
    void initAddresses(const FWPM_NET_EVENT_HEADER1& header);
    void initApplication(const FWPM_NET_EVENT_HEADER1& header);
    void initEventUserInfo(const FWPM_NET_EVENT_HEADER1& header);
    std::wstring getClassifyDropEventText() const;

    std::shared_ptr<IFwpmWrapper> m_fwpm;
    bool m_isClassifyDrop = false;
    bool m_isDrop = false;
    std::optional<uint32_t> m_eventType;
    std::optional<std::wstring> m_filterName;
    std::optional<std::wstring> m_filterDescription;
    std::optional<std::wstring> m_layerName;
    std::optional<bool> m_isLoopback;
    std::optional<uint32_t> m_direction;
    std::optional<uint16_t> m_localPort;
    std::optional<uint16_t> m_remotePort;
    std::optional<std::wstring> m_localAddressV4;
    std::optional<std::wstring> m_remoteAddressV4;
    std::optional<std::wstring> m_localAddressV6;
    std::optional<std::wstring> m_remoteAddressV6;
    std::optional<std::wstring> m_protocol;
    std::optional<std::wstring> m_application;
    std::optional<std::wstring> m_userSid;
    std::optional<std::wstring> m_ruleGroupName;
};
