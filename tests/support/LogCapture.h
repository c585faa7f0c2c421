// Collects the lines of the main log while it lives, at every level.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tarn::test {

class LogCapture {
public:
    struct Line {
        int32_t level;
        std::string tag;
        std::string message;
    };

    explicit LogCapture(int32_t level = 6);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;
    // Lines whose message contains `text` (and, when given, with that level).
    size_t count(const std::string& text, int32_t level = 0) const;
    bool contains(const std::string& text, int32_t level = 0) const {
        return count(text, level) > 0;
    }
    // All messages, one per line, for failure output.
    std::string dump() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

}  // namespace tarn::test
