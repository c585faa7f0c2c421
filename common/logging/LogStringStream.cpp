#include <algorithm>
#include <string>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/logging/Log.h"
#include "platform/win.h"

namespace tarn::logging {

namespace {

std::string tagText(FunctionTag tag) {
    std::string text(tag.name);
    if (tag.lambda) {
        text += "::<lambda>";
    }
    return text;
}

}  // namespace

LogStringStream::LogStringStream(int32_t level, FunctionTag tag, TarnPyxLogging::Logger& log)
    : m_level(level), m_tag(tagText(tag)), m_log(log) {}

LogStringStream::LogStringStream(int32_t level, std::string_view tag, TarnPyxLogging::Logger& log)
    : m_level(level), m_tag(tag), m_log(log) {}

LogStringStream::~LogStringStream() {
    try {
        const std::string text = m_stream.str();
        m_log.logf(m_level, m_tag.c_str(), "%hs", text.c_str());
    } catch (...) {
        // A log statement never throws, also not when the line cannot be written.
    }
}

LogStringStream& LogStringStream::operator<<(std::wstring_view text) noexcept {
    const LastErrorKeeper keep;
    const std::streamoff before = m_stream.tellp();
    try {
        // Most log text is ASCII, which is its own UTF-8: no conversion call for it.
        if (std::all_of(text.begin(), text.end(),
                        [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; })) {
            std::string ascii(text.size(), '\0');
            std::transform(text.begin(), text.end(), ascii.begin(),
                           [](wchar_t c) { return static_cast<char>(c); });
            m_stream.write(ascii.data(), static_cast<std::streamsize>(ascii.size()));
            return *this;
        }
        m_stream << str::toUtf8(text);
    } catch (const std::exception& e) {
        failed(before, &e);
    } catch (...) {
        failed(before, nullptr);
    }
    return *this;
}

void LogStringStream::failed(std::streamoff before, const std::exception* e) noexcept {
    try {
        m_stream.clear();
        std::string text = m_stream.str();
        text.resize(before < 0 ? text.size() : static_cast<size_t>(before));
        m_stream.str(text);
        m_stream.seekp(0, std::ios::end);
        m_stream << "!exception was thrown!";
        if (e != nullptr) {
            m_stream << ": " << e->what();
        }
    } catch (...) {
    }
}

}  // namespace tarn::logging
