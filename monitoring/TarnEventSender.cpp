#include "monitoring/TarnEventSender.h"

#include "monitoring/TarnEvent.h"

TarnEventSender::TarnEventSender(std::wstring namespaceName, const EventLibrary& library)
    : m_namespaceName(std::move(namespaceName)), m_library(library) {}

TarnEventSender::~TarnEventSender() = default;

void TarnEventSender::sendIsolationEvent(bool on) {
    TarnEvent event(m_namespaceName, on ? kIsolationEnabled : kIsolationDisabled, on ? 1 : 2,
                    m_library);
    event.SendAll();
}
