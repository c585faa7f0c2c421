// The filtering engine's calls that the monitor and the event decoding make, behind an
// interface so that they can be replaced. Each operation forwards its arguments unchanged to
// the engine function of the same meaning and returns its result code.
#pragma once

#include "platform/wfp.h"

class IFwpmWrapper {
public:
    virtual ~IFwpmWrapper() = default;
    virtual DWORD filterGetById(HANDLE engine, UINT64 id, FWPM_FILTER0** filter) = 0;
    virtual DWORD layerGetById(HANDLE engine, UINT16 id, FWPM_LAYER0** layer) = 0;
    virtual DWORD engineSetOption(HANDLE engine, FWPM_ENGINE_OPTION option,
                                  const FWP_VALUE0* value) = 0;
    virtual DWORD netEventSubscribe(HANDLE engine, const FWPM_NET_EVENT_SUBSCRIPTION0* subscription,
                                    FWPM_NET_EVENT_CALLBACK0 callback, void* context,
                                    HANDLE* eventsHandle) = 0;
    virtual DWORD filterSubscribeChanges(HANDLE engine,
                                         const FWPM_FILTER_SUBSCRIPTION0* subscription,
                                         FWPM_FILTER_CHANGE_CALLBACK0 callback, void* context,
                                         HANDLE* changeHandle) = 0;
    virtual DWORD filterUnsubscribeChanges(HANDLE engine, HANDLE changeHandle) = 0;
    virtual DWORD netEventUnsubscribe(HANDLE engine, HANDLE eventsHandle) = 0;
    virtual DWORD filterGetByKey(HANDLE engine, const GUID* key, FWPM_FILTER0** filter) = 0;
    // FwpmFreeMemory0 of what the look-ups returned; sets the pointer to null.
    virtual void freeMemory(FWPM_FILTER0** filter) = 0;
    virtual void freeMemory(FWPM_LAYER0** layer) = 0;
};
