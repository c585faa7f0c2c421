#include "monitoring/TarnEvent.h"

#include "common/logging/Log.h"

TarnEvent::TarnEvent(const std::wstring& namespaceName, const std::wstring& eventName, int kind,
                     const EventLibrary& library)
    : m_library(library) {
    int error = 1;
    m_handle = m_library.createNS(namespaceName.c_str(), eventName.c_str(), kind, 0, &error);
    if (m_handle == nullptr || error != 0) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Failed to create event: " << m_library.errorAsString(error);
    }
}

TarnEvent::~TarnEvent() {
    if (m_handle != nullptr) {
        m_library.free(m_handle);
    }
}

void TarnEvent::SendAll() {
    if (m_handle == nullptr) {
        return;
    }
    if (const int result = m_library.addEventAll(m_handle, 0); result != 0) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Failed to send event: " << m_library.errorAsString(result);
    }
}
