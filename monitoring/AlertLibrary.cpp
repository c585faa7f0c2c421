#include "monitoring/AlertLibrary.h"

#include "standin/alert/TarnAlertApi.h"

const AlertLibrary& linkedAlertLibrary() {
    static const AlertLibrary calls{&TarnAlertApi_DelayLoadInitialize, &TarnAlertApi_SendAlertNS,
                                    &TarnAlertApi_ErrorAsString};
    return calls;
}
