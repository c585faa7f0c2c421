#include "monitoring/EventLibrary.h"

const EventLibrary& linkedEventLibrary() {
    static const EventLibrary calls{&TarnEvent_CreateNS, &TarnEvent_AddEventAll,
                                    &TarnEvent_ErrorAsString, &TarnEvent_Free};
    return calls;
}
