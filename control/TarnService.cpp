#include "control/TarnService.h"

#include "common/logging/Log.h"
#include "rules/ComErrors.h"

TarnService::TarnService(const std::wstring& name, bool readOnly) {
    const DWORD access = readOnly ? GENERIC_READ : GENERIC_ALL;
    const tarn::UniqueServiceHandle manager(
        OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access));
    if (!manager) {
        m_lastError = GetLastError();
        TARN_LOG(TarnPyxLogging::LevelError)
            << "OpenSCManagerW failed: " << tarn::describeError(m_lastError);
        return;
    }
    m_service.reset(OpenServiceW(manager.get(), name.c_str(), access));
    if (!m_service) {
        m_lastError = GetLastError();
        TARN_LOG(TarnPyxLogging::LevelError)
            << "OpenServiceW(" << name << ") failed: " << tarn::describeError(m_lastError);
    }
}

std::optional<DWORD> TarnService::currentState() {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(m_service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status), sizeof status, &needed)) {
        m_lastError = GetLastError();
        return std::nullopt;
    }
    return status.dwCurrentState;
}
