// Interim logger: level checks and line observers, without a file. Replaced by the full
// file logger.
#include "common/logging/Logger.h"

#include <mutex>
#include <string>

#include "platform/win.h"

namespace TarnPyxLogging {

namespace {

std::mutex& observerMutex() {
    static std::mutex mutex;
    return mutex;
}

LineObserver& observer() {
    static LineObserver instance;
    return instance;
}

std::string tagOf(const char* function) {
    if (function == nullptr || *function == '\0') {
        return {};
    }
    std::string tag = function;
    constexpr std::string_view anonymous = "`anonymous-namespace'";
    if (tag.compare(0, anonymous.size(), anonymous) == 0) {
        tag.erase(0, anonymous.size());
    }
    if (tag.size() > 7 && tag.ends_with("()")) {
        if (const auto lambda = tag.find("<lambda_"); lambda != std::string::npos) {
            tag = tag.substr(0, lambda + 7) + ">";
        }
    }
    return tag;
}

class InterimLogger final : public Logger {
public:
    void open(const char*, const char*, const char*, int32_t defaultLevel, uint32_t) override {
        setLevel(defaultLevel);
    }
    void open(const wchar_t*, const wchar_t*, const wchar_t*, int32_t defaultLevel,
              uint32_t) override {
        setLevel(defaultLevel);
    }
    void close() override {}
    void flush() override {}
    void vlogf(int32_t level, const char* function, const wchar_t* format, va_list args) override {
        wchar_t buffer[2048];
        const int n = _vsnwprintf(buffer, 2048, format, args);
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += static_cast<char>(buffer[i]);
        }
        emit(level, function, text);
    }
    void vlogf(int32_t level, const char* function, const char* format, va_list args) override {
        std::string buffer(65536, '\0');
        const int n = _vsnprintf(buffer.data(), buffer.size(), format, args);
        buffer.resize(n < 0 ? 0 : static_cast<size_t>(n));
        emit(level, function, buffer);
    }
    bool isEnabled(int32_t level) override { return level <= this->level(); }
    bool isDisabled(int32_t level) override { return !isEnabled(level); }
    const char* levelText(int32_t) const override { return "  "; }
    int32_t bannerLevel(uint32_t flags) const override { return (flags & FlagDebugBanners) ? 5 : 4; }
    void logfNoFunction(int32_t level, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        vlogf(level, nullptr, format, args);
        va_end(args);
    }
    void logfNoFunction(int32_t level, const wchar_t* format, ...) override {
        va_list args;
        va_start(args, format);
        vlogf(level, nullptr, format, args);
        va_end(args);
    }

private:
    static void emit(int32_t level, const char* function, const std::string& text) {
        std::lock_guard lock(observerMutex());
        if (observer()) {
            observer()(level, tagOf(function), text);
        }
    }
};

}  // namespace

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

Logger& logger() {
    static InterimLogger instance;
    return instance;
}

void setLineObserver(LineObserver lineObserver) {
    std::lock_guard lock(observerMutex());
    observer() = std::move(lineObserver);
}

}  // namespace TarnPyxLogging
