// The function table of a plug-in object, and the export that the host calls.
#pragma once

#include <cstdint>
#include <memory>

#include "plugin/CarrierPlugin.h"
#include "plugin/TarnCarrierPlugin.h"

// The table for `plugin`, which the destroy entry deletes.
CarrierPluginContext makeCarrierPluginContext(std::unique_ptr<TarnCarrierPlugin> plugin);
// Copies min(size, sizeof table) bytes of the table to `destination`; returns `destination`.
void* copyCarrierPluginContext(const CarrierPluginContext& table, void* destination, uint32_t size);
