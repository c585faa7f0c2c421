#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

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

// Streams of finished statements, ready for the next ones. Statements of static destructors
// that run after the pool's make streams of their own.
class StreamPool {
public:
    static constexpr size_t kKept = 16;
    static constexpr std::streamoff kLargestKept = 4096;

    StreamPool() { s_alive = true; }
    ~StreamPool() {
        std::lock_guard lock(m_mutex);
        s_alive = false;
    }

    static StreamPool* instance() {
        static StreamPool pool;
        return s_alive ? &pool : nullptr;
    }

    std::unique_ptr<std::ostringstream> take() {
        std::lock_guard lock(m_mutex);
        if (!s_alive || m_free.empty()) {
            return nullptr;
        }
        auto stream = std::move(m_free.back());
        m_free.pop_back();
        return stream;
    }

    // Takes the stream back as new: empty, without the formatting its statement set. A stream
    // that grew large is let go rather than kept with its buffer.
    void giveBack(std::unique_ptr<std::ostringstream> stream) {
        const std::streamoff used = stream->tellp();
        if (used < 0 || used > kLargestKept) {
            return;
        }
        static const std::string empty;
        stream->str(empty);  // keeps the buffer's capacity
        stream->clear();
        stream->flags(std::ios_base::skipws | std::ios_base::dec);
        stream->width(0);
        stream->precision(6);
        stream->fill(' ');
        stream->exceptions(std::ios_base::goodbit);
        std::lock_guard lock(m_mutex);
        if (s_alive && m_free.size() < kKept) {
            m_free.push_back(std::move(stream));
        }
    }

private:
    static inline std::atomic<bool> s_alive{false};
    std::mutex m_mutex;
    std::vector<std::unique_ptr<std::ostringstream>> m_free;
};

std::unique_ptr<std::ostringstream> newStream() {
    if (StreamPool* pool = StreamPool::instance()) {
        if (auto stream = pool->take()) {
            return stream;
        }
    }
    return std::make_unique<std::ostringstream>();
}

}  // namespace

LogStringStream::LogStringStream(int32_t level, FunctionTag tag, TarnPyxLogging::Logger& log)
    : m_level(level), m_tag(tagText(tag)), m_log(log), m_stream(newStream()) {}

LogStringStream::LogStringStream(int32_t level, std::string_view tag, TarnPyxLogging::Logger& log)
    : m_level(level), m_tag(tag), m_log(log), m_stream(newStream()) {}

LogStringStream::~LogStringStream() {
    try {
        const std::string text = m_stream->str();
        m_log.logf(m_level, m_tag.c_str(), "%hs", text.c_str());
        if (StreamPool* pool = StreamPool::instance()) {
            pool->giveBack(std::move(m_stream));
        }
    } catch (...) {
        // A log statement never throws, also not when the line cannot be written.
    }
}

LogStringStream& LogStringStream::operator<<(std::wstring_view text) noexcept {
    const LastErrorKeeper keep;
    const std::streamoff before = m_stream->tellp();
    try {
        // Most log text is ASCII, which is its own UTF-8: no conversion call for it.
        if (std::all_of(text.begin(), text.end(),
                        [](wchar_t c) { return static_cast<uint32_t>(c) < 0x80; })) {
            std::string ascii(text.size(), '\0');
            std::transform(text.begin(), text.end(), ascii.begin(),
                           [](wchar_t c) { return static_cast<char>(c); });
            m_stream->write(ascii.data(), static_cast<std::streamsize>(ascii.size()));
            return *this;
        }
        *m_stream << str::toUtf8(text);
    } catch (const std::exception& e) {
        failed(before, &e);
    } catch (...) {
        failed(before, nullptr);
    }
    return *this;
}

void LogStringStream::failed(std::streamoff before, const std::exception* e) noexcept {
    try {
        m_stream->clear();
        std::string text = m_stream->str();
        text.resize(before < 0 ? text.size() : static_cast<size_t>(before));
        m_stream->str(text);
        m_stream->seekp(0, std::ios::end);
        *m_stream << "!exception was thrown!";
        if (e != nullptr) {
            *m_stream << ": " << e->what();
        }
    } catch (...) {
    }
}

}  // namespace tarn::logging
