#include "common/logging/Logger.h"

#include "common/logging/LoggerWin.h"

namespace TarnPyxLogging {

void Logger::logf(int32_t level, const char* function, const char* format, ...) {
    if (!isEnabled(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    vlogf(level, function, format, args);
    va_end(args);
}

void Logger::logf(int32_t level, const char* function, const wchar_t* format, ...) {
    if (!isEnabled(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    vlogf(level, function, format, args);
    va_end(args);
}

void Logger::setLineObserver(LineObserver observer) {
    std::lock_guard lock(m_observerMutex);
    m_observer = std::move(observer);
    m_hasObserver.store(static_cast<bool>(m_observer), std::memory_order_release);
}

void Logger::observe(int32_t level, std::string_view tag, std::string_view message) {
    std::lock_guard lock(m_observerMutex);
    if (m_observer) {
        m_observer(level, tag, message);
    }
}

Logger& logger() {
    static LoggerWin instance;
    return instance;
}

void setLineObserver(LineObserver observer) {
    logger().setLineObserver(std::move(observer));
}

}  // namespace TarnPyxLogging
