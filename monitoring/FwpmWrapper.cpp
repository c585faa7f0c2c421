#include "monitoring/FwpmWrapper.h"

DWORD FwpmWrapper::filterGetById(HANDLE engine, UINT64 id, FWPM_FILTER0** filter) {
    return FwpmFilterGetById0(engine, id, filter);
}

DWORD FwpmWrapper::layerGetById(HANDLE engine, UINT16 id, FWPM_LAYER0** layer) {
    return FwpmLayerGetById0(engine, id, layer);
}

DWORD FwpmWrapper::engineSetOption(HANDLE engine, FWPM_ENGINE_OPTION option,
                                   const FWP_VALUE0* value) {
    return FwpmEngineSetOption0(engine, option, value);
}

DWORD FwpmWrapper::netEventSubscribe(HANDLE engine,
                                     const FWPM_NET_EVENT_SUBSCRIPTION0* subscription,
                                     FWPM_NET_EVENT_CALLBACK0 callback, void* context,
                                     HANDLE* eventsHandle) {
    return FwpmNetEventSubscribe0(engine, subscription, callback, context, eventsHandle);
}

DWORD FwpmWrapper::filterSubscribeChanges(HANDLE engine,
                                          const FWPM_FILTER_SUBSCRIPTION0* subscription,
                                          FWPM_FILTER_CHANGE_CALLBACK0 callback, void* context,
                                          HANDLE* changeHandle) {
    return FwpmFilterSubscribeChanges0(engine, subscription, callback, context, changeHandle);
}

DWORD FwpmWrapper::filterUnsubscribeChanges(HANDLE engine, HANDLE changeHandle) {
    return FwpmFilterUnsubscribeChanges0(engine, changeHandle);
}

DWORD FwpmWrapper::netEventUnsubscribe(HANDLE engine, HANDLE eventsHandle) {
    return FwpmNetEventUnsubscribe0(engine, eventsHandle);
}

DWORD FwpmWrapper::filterGetByKey(HANDLE engine, const GUID* key, FWPM_FILTER0** filter) {
    return FwpmFilterGetByKey0(engine, key, filter);
}

void FwpmWrapper::freeMemory(FWPM_FILTER0** filter) {
    FwpmFreeMemory0(reinterpret_cast<void**>(filter));
}

void FwpmWrapper::freeMemory(FWPM_LAYER0** layer) {
    FwpmFreeMemory0(reinterpret_cast<void**>(layer));
}
