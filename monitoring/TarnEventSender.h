// The product events of the firewall: network isolation switched on and off. Called only
// from the controller's worker thread.
#pragma once

#include <string>

#include "monitoring/EventLibrary.h"

class TarnEventSender {
public:
    static constexpr const wchar_t* kIsolationEnabled = L"network_isolation.enable";
    static constexpr const wchar_t* kIsolationDisabled = L"network_isolation.disable";

    explicit TarnEventSender(std::wstring namespaceName,
                             const EventLibrary& library = linkedEventLibrary());
    virtual ~TarnEventSender();

    // "network_isolation.enable" (kind 1) when on, else "network_isolation.disable" (kind 2).
    void sendIsolationEvent(bool on);

private:
    std::wstring m_namespaceName;
    const EventLibrary& m_library;
};
