#include "tests/support/LogCapture.h"

#include "common/logging/Logger.h"

namespace tarn::test {

LogCapture::LogCapture(int32_t level) {
    TarnPyxLogging::setLineObserver(
        [this](int32_t lineLevel, std::string_view tag, std::string_view message) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back({lineLevel, std::string(tag), std::string(message)});
        });
    // Pinned: opening the log, or its configuration, must not change it during the test.
    TarnPyxLogging::logger().pinLevel(level);
}

LogCapture::~LogCapture() {
    TarnPyxLogging::setLineObserver({});
    TarnPyxLogging::logger().pinLevel(-1);
}

std::vector<LogCapture::Line> LogCapture::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

size_t LogCapture::count(const std::string& text, int32_t level) const {
    std::lock_guard lock(m_mutex);
    size_t n = 0;
    for (const auto& line : m_lines) {
        if ((level == 0 || line.level == level) && line.message.find(text) != std::string::npos) {
            ++n;
        }
    }
    return n;
}

std::string LogCapture::dump() const {
    std::lock_guard lock(m_mutex);
    std::string out;
    for (const auto& line : m_lines) {
        out += std::to_string(line.level) + " " + line.tag + ": " + line.message + "\n";
    }
    return out;
}

void LogCapture::clear() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

}  // namespace tarn::test
