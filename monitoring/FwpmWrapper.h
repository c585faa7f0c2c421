// The engine calls of IFwpmWrapper, made on the real (or simulated) filtering engine.
#pragma once

#include "monitoring/IFwpmWrapper.h"

class FwpmWrapper : public IFwpmWrapper {
public:
    DWORD filterGetById(HANDLE engine, UINT64 id, FWPM_FILTER0** filter) override;
    DWORD layerGetById(HANDLE engine, UINT16 id, FWPM_LAYER0** layer) override;
    DWORD engineSetOption(HANDLE engine, FWPM_ENGINE_OPTION option,
                          const FWP_VALUE0* value) override;
    DWORD netEventSubscribe(HANDLE engine, const FWPM_NET_EVENT_SUBSCRIPTION0* subscription,
                            FWPM_NET_EVENT_CALLBACK0 callback, void* context,
                            HANDLE* eventsHandle) override;
    DWORD filterSubscribeChanges(HANDLE engine, const FWPM_FILTER_SUBSCRIPTION0* subscription,
                                 FWPM_FILTER_CHANGE_CALLBACK0 callback, void* context,
                                 HANDLE* changeHandle) override;
    DWORD filterUnsubscribeChanges(HANDLE engine, HANDLE changeHandle) override;
    DWORD netEventUnsubscribe(HANDLE engine, HANDLE eventsHandle) override;
    DWORD filterGetByKey(HANDLE engine, const GUID* key, FWPM_FILTER0** filter) override;
    void freeMemory(FWPM_FILTER0** filter) override;
    void freeMemory(FWPM_LAYER0** layer) override;
};
