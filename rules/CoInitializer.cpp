#include "rules/CoInitializer.h"

#include "common/logging/Log.h"
#include "rules/ComErrors.h"

CoInitializer::CoInitializer() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {
    if (m_result == RPC_E_CHANGED_MODE) {
        // The thread keeps the apartment it already has.
        TARN_LOG(TarnPyxLogging::LevelWarning)
            << "The COM library is (re)initialized on this thread, " << static_cast<long>(m_result)
            << " " << tarn::comErrorMessage(m_result);
    } else if (FAILED(m_result)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "Unable to initialize COM library, error " << static_cast<long>(m_result) << " "
            << tarn::comErrorMessage(m_result);
    }
}

CoInitializer::~CoInitializer() {
    if (SUCCEEDED(m_result)) {
        ::CoUninitialize();
    }
}
