// One service of the service control manager, opened for reading (or for everything) at
// construction and closed at destruction.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "common/WinHandles.h"

class TarnService {
public:
    // On failure the service handle stays empty and the error is kept.
    TarnService(const std::wstring& name, bool readOnly);
    TarnService(const TarnService&) = delete;
    TarnService& operator=(const TarnService&) = delete;

    bool isOpen() const { return m_service.valid(); }
    // The current state (SERVICE_RUNNING, ...); none when the query fails, whose error is kept.
    // Safe from several threads at once.
    std::optional<DWORD> currentState();
    DWORD lastError() const { return m_lastError.load(); }

private:
    tarn::UniqueServiceHandle m_service;
    std::atomic<DWORD> m_lastError{ERROR_SUCCESS};
};
