// What the Carrier service host and a plug-in exchange: the function table that the plug-in's
// one export, CarrierPluginCreateContext, fills, and the host interface handed to the
// initialise entries. Words are pointer-sized: 32 bits in the product, 64 in the 64-bit
// builds. Every function is callee-pops (WINAPI).
#pragma once

#include <cstdint>

#include "platform/win.h"

// What the plug-in reads of the host's interface.
struct CarrierHostInterface {
    void* hostContext;
    // The product namespace name; handed back to releaseString.
    const wchar_t*(WINAPI* getNamespaceName)(void* hostContext);
    void* reserved3;
    void* reserved4;
    void(WINAPI* releaseString)(const wchar_t* text);
};

// The seven entries, in this order.
struct CarrierPluginContext {
    void* plugin;
    uint32_t(WINAPI* initialize)(void* plugin, CarrierHostInterface* host);
    uint32_t(WINAPI* main)(void* plugin, uint32_t ignored);
    void(WINAPI* stop)(void* plugin);
    void(WINAPI* notify)(void* plugin, uint32_t ignored);
    void(WINAPI* destroy)(void* plugin);
    uint32_t(WINAPI* initializeWithFlag)(void* plugin, CarrierHostInterface* host, uint32_t flag);
};

// The export: fills min(size, sizeof(CarrierPluginContext)) bytes of `table` and returns it.
using CarrierPluginCreateContextFn = void*(WINAPI*)(void* table, uint32_t size);
inline constexpr const char* kCarrierPluginCreateContext = "CarrierPluginCreateContext";
