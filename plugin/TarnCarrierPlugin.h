// Base of the plug-ins that the Carrier host runs: the lifecycle that the function table's
// entries call, the host interface and the namespace name that the host hands over.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/CarrierPlugin.h"

class TarnCarrierPlugin {
public:
    TarnCarrierPlugin() = default;
    TarnCarrierPlugin(const TarnCarrierPlugin&) = delete;
    TarnCarrierPlugin& operator=(const TarnCarrierPlugin&) = delete;

    // 0 on success.
    virtual uint32_t PluginInitialize() = 0;
    // Runs until PluginStop; 0 after a stop, 1 when start-up failed.
    virtual uint32_t PluginMain() = 0;
    virtual void PluginNotify() = 0;
    // Only signals; PluginMain ends on its own thread.
    virtual void PluginStop() = 0;
    // Called by the flagged initialise entry; true means accepted.
    virtual bool PluginSetFlag(bool flag);
    virtual ~TarnCarrierPlugin() = default;

    // Keeps the host interface and copies the namespace name out of the host's string.
    void attachHost(CarrierHostInterface* host);
    const std::wstring& namespaceName() const { return m_namespaceName; }
    CarrierHostInterface* host() const { return m_host; }

protected:
    // For plug-ins run without a host (tests).
    void setNamespaceName(std::wstring name) { m_namespaceName = std::move(name); }

private:
    CarrierHostInterface* m_host = nullptr;
    std::wstring m_namespaceName;
};
