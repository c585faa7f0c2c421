// Log statements: test the level, stream the message, write the line at the statement's end.
//
//   TARN_LOG(TarnPyxLogging::LevelInfo) << "Changed: " << key;
//
// The tag is the enclosing class and function ("FwRuleActions::applyFwRule"; inside a lambda
// "FWSettings::start::<lambda>"), taken from the compiler's function name at compile time.
#pragma once

#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "common/logging/Logger.h"

namespace tarn::logging {

struct FunctionTag {
    std::string_view name;
    bool lambda = false;
};

// Class and function name out of __PRETTY_FUNCTION__: no return type, parameters, template
// arguments list ("[with ...]") or leading anonymous namespace.
constexpr FunctionTag functionTagOf(std::string_view pretty) {
    constexpr auto npos = std::string_view::npos;
    if (const size_t with = pretty.find(" [with "); with != npos) {
        pretty = pretty.substr(0, with);
    }
    int depth = 0;
    size_t open = npos;
    for (size_t i = 0; i < pretty.size() && open == npos; ++i) {
        if (pretty.substr(i, 8) == "operator") {
            i += 8;
            while (i < pretty.size() && pretty[i] != '(') {
                ++i;
            }
            if (pretty.substr(i, 2) == "()") {
                ++i;  // operator() itself; its parameter list follows
            } else {
                open = i;
            }
            continue;
        }
        const char c = pretty[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        } else if (c == '(' && depth == 0) {
            open = i;
        }
    }
    if (open == npos) {
        return {pretty, false};
    }
    size_t start = 0;
    depth = 0;
    for (size_t i = open; i-- > 0;) {
        const char c = pretty[i];
        if (c == '>') {
            ++depth;
        } else if (c == '<') {
            --depth;
        } else if (c == ' ' && depth == 0) {
            start = i + 1;
            break;
        }
    }
    std::string_view name = pretty.substr(start, open - start);
    constexpr std::string_view anonymous = "{anonymous}::";
    while (name.substr(0, anonymous.size()) == anonymous) {
        name = name.substr(anonymous.size());
    }
    return {name, pretty.find("::<lambda", open) != npos};
}

// Collects one log line; written by the destructor. Streaming never throws: a value that
// fails is replaced by "!exception was thrown!: " and the exception's text. Streaming wide
// text keeps the thread's last error code.
class LogStringStream {
public:
    LogStringStream(int32_t level, FunctionTag tag,
                    TarnPyxLogging::Logger& log = TarnPyxLogging::logger());
    LogStringStream(int32_t level, std::string_view tag,
                    TarnPyxLogging::Logger& log = TarnPyxLogging::logger());
    ~LogStringStream();
    LogStringStream(const LogStringStream&) = delete;
    LogStringStream& operator=(const LogStringStream&) = delete;

    template <typename T>
    LogStringStream& operator<<(const T& value) noexcept {
        const std::streamoff before = m_stream->tellp();
        try {
            *m_stream << value;
        } catch (const std::exception& e) {
            failed(before, &e);
        } catch (...) {
            failed(before, nullptr);
        }
        return *this;
    }
    LogStringStream& operator<<(std::wstring_view text) noexcept;
    LogStringStream& operator<<(const std::wstring& text) noexcept {
        return *this << std::wstring_view(text);
    }
    LogStringStream& operator<<(const wchar_t* text) noexcept {
        return *this << std::wstring_view(text == nullptr ? L"(null)" : text);
    }
    LogStringStream& operator<<(wchar_t c) noexcept { return *this << std::wstring_view(&c, 1); }

    // The text collected so far.
    std::string str() const { return m_stream->str(); }

private:
    // Replaces what a failed value wrote since `before` with the exception's text.
    void failed(std::streamoff before, const std::exception* e) noexcept;

    int32_t m_level;
    std::string m_tag;
    TarnPyxLogging::Logger& m_log;
    // Taken from the streams that finished statements left, as making one (its locale) costs
    // more than the rest of a line.
    std::unique_ptr<std::ostringstream> m_stream;
};

}  // namespace tarn::logging

// The tag is a constexpr variable, computed at compile time: clang 14 refuses to call a
// consteval function by its qualified name inside function templates.
#define TARN_LOG_TO(log, level)                                  \
    if (constexpr ::tarn::logging::FunctionTag tarnLogTag_ =     \
            ::tarn::logging::functionTagOf(__PRETTY_FUNCTION__); \
        !(log).isEnabled(level)) {                               \
    } else                                                       \
        ::tarn::logging::LogStringStream(level, tarnLogTag_, log)

// A statement of the main log; the tag is taken from the enclosing function.
#define TARN_LOG(level) TARN_LOG_TO(::TarnPyxLogging::logger(), level)

// A statement with a tag given in full, where the compiler's name would read otherwise.
#define TARN_LOG_TAG(level, tag)                        \
    if (!::TarnPyxLogging::logger().isEnabled(level)) { \
    } else                                              \
        ::tarn::logging::LogStringStream(level, std::string_view(tag))
