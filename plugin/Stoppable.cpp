#include "plugin/Stoppable.h"

#include <algorithm>

#include "common/logging/Log.h"

namespace tarn {

SharedEvent makeSharedEvent() {
    auto event = std::make_shared<UniqueHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!*event) {
        TARN_LOG(TarnPyxLogging::LevelError) << "CreateEventW failed: " << GetLastError();
        return nullptr;
    }
    return event;
}

Stoppable::Stoppable(SharedEvent sharedStopEvent)
    : m_stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_sharedStopEvent(std::move(sharedStopEvent)) {
    if (m_stopEvent) {
        m_handles.push_back(m_stopEvent.get());
    } else {
        TARN_LOG(TarnPyxLogging::LevelError) << "CreateEventW failed: " << GetLastError();
    }
    if (m_sharedStopEvent && m_sharedStopEvent->valid() &&
        std::find(m_handles.begin(), m_handles.end(), m_sharedStopEvent->get()) ==
            m_handles.end()) {
        m_handles.push_back(m_sharedStopEvent->get());
    }
}

void Stoppable::requestStop() {
    if (m_stopEvent) {
        SetEvent(m_stopEvent.get());
    }
}

void Stoppable::stop() {
    requestStop();
}

namespace {

DWORD toTimeout(std::chrono::milliseconds duration) {
    return duration == std::chrono::milliseconds::max()
               ? INFINITE
               : static_cast<DWORD>(std::clamp<int64_t>(duration.count(), 0, INFINITE - 1));
}

}  // namespace

bool Stoppable::waitFor(std::chrono::milliseconds duration) const {
    if (m_handles.empty()) {
        // Without any event the object cannot be told to stop; it behaves as stopped rather
        // than wait for ever.
        return true;
    }
    const DWORD timeout = toTimeout(duration);
    const DWORD result = m_handles.size() == 1
                             ? WaitForSingleObject(m_handles.front(), timeout)
                             : WaitForMultipleObjects(static_cast<DWORD>(m_handles.size()),
                                                      m_handles.data(), FALSE, timeout);
    return result < WAIT_OBJECT_0 + m_handles.size();
}

DWORD Stoppable::waitForEventOrStop(HANDLE event, std::chrono::milliseconds timeout) const {
    std::vector<HANDLE> waits{event};
    waits.insert(waits.end(), m_handles.begin(), m_handles.end());
    return WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                  toTimeout(timeout));
}

}  // namespace tarn
