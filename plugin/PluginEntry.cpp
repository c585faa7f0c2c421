#include "plugin/PluginEntry.h"

#include <algorithm>
#include <cstring>

namespace {

TarnCarrierPlugin* pluginOf(void* context) {
    return static_cast<TarnCarrierPlugin*>(context);
}

uint32_t WINAPI initializeEntry(void* context, CarrierHostInterface* host) {
    pluginOf(context)->attachHost(host);
    return pluginOf(context)->PluginInitialize();
}

uint32_t WINAPI mainEntry(void* context, uint32_t) {
    return pluginOf(context)->PluginMain();
}

void WINAPI stopEntry(void* context) {
    pluginOf(context)->PluginStop();
}

void WINAPI notifyEntry(void*, uint32_t) {}

void WINAPI destroyEntry(void* context) {
    if (context != nullptr) {
        const std::unique_ptr<TarnCarrierPlugin> owned(pluginOf(context));
    }
}

uint32_t WINAPI initializeWithFlagEntry(void* context, CarrierHostInterface* host, uint32_t flag) {
    pluginOf(context)->attachHost(host);
    return pluginOf(context)->PluginSetFlag(flag != 0) ? 0 : 1;
}

}  // namespace

CarrierPluginContext makeCarrierPluginContext(std::unique_ptr<TarnCarrierPlugin> plugin) {
    return CarrierPluginContext{
        plugin.release(), &initializeEntry,        &mainEntry, &stopEntry, &notifyEntry,
        &destroyEntry,    &initializeWithFlagEntry};
}

void* copyCarrierPluginContext(const CarrierPluginContext& table, void* destination,
                               uint32_t size) {
    if (destination != nullptr) {
        std::memcpy(destination, &table, std::min<size_t>(size, sizeof table));
    }
    return destination;
}
