// The plug-in library's one export.
#include "plugin/FWCarrierPlugin.h"
#include "plugin/PluginEntry.h"

extern "C" TARN_EXPORT void* WINAPI CarrierPluginCreateContext(void* table, uint32_t size) {
    return copyCarrierPluginContext(makeCarrierPluginContext(std::make_unique<FWCarrierPlugin>()),
                                    table, size);
}
