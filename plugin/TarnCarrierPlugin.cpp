#include "plugin/TarnCarrierPlugin.h"

bool TarnCarrierPlugin::PluginSetFlag(bool) {
    return true;
}

void TarnCarrierPlugin::attachHost(CarrierHostInterface* host) {
    m_host = host;
    if (host == nullptr || host->getNamespaceName == nullptr) {
        return;
    }
    const wchar_t* name = host->getNamespaceName(host->hostContext);
    m_namespaceName = name != nullptr ? name : L"";
    if (name != nullptr && host->releaseString != nullptr) {
        host->releaseString(name);
    }
}
