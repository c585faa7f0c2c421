// The exception family of the system's libraries: where a failure was raised and why, with one
// fixed message layout that callers log through what().
#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace tarn {

// A text given to an exception: absent (a null pointer) or a wide string, kept by shared
// ownership so that copies of the exception are cheap.
class ExceptionText {
public:
    ExceptionText() = default;
    ExceptionText(const wchar_t* text)  // NOLINT: implicit, as the throw sites pass literals
        : m_text(text == nullptr ? nullptr : std::make_shared<const std::wstring>(text)) {}
    ExceptionText(std::wstring_view text)  // NOLINT
        : m_text(std::make_shared<const std::wstring>(text)) {}
    ExceptionText(const std::wstring& text)  // NOLINT
        : m_text(std::make_shared<const std::wstring>(text)) {}

    // The text; the empty string when absent.
    const std::wstring& str() const;
    bool empty() const { return !m_text || m_text->empty(); }

private:
    std::shared_ptr<const std::wstring> m_text;
};

class BaseException : public std::exception {
public:
    BaseException(ExceptionText reason, ExceptionText function, ExceptionText file, int32_t line);
    ~BaseException() override;
    BaseException(const BaseException&) = default;
    BaseException& operator=(const BaseException&) = default;

    // The message in the process's ANSI code page; built on first use and kept for the
    // lifetime of the exception and of its copies.
    const char* what() const noexcept override;
    virtual const std::wstring& wideMessage() const;
    // Writes the message text.
    virtual void describe(std::wostream& out) const;

    const std::wstring& reason() const { return m_reason.str(); }
    const std::wstring& function() const { return m_function.str(); }
    const std::wstring& file() const { return m_file.str(); }
    int32_t line() const { return m_line; }

protected:
    // ", Function: ..., File: ..., Line: ..." after the type and reason.
    void describeOrigin(std::wostream& out) const;

private:
    struct Cache {
        std::once_flag wideOnce;
        std::wstring wide;
        std::once_flag narrowOnce;
        std::string narrow;
    };

    ExceptionText m_reason;
    ExceptionText m_function;
    ExceptionText m_file;
    int32_t m_line;
    std::shared_ptr<Cache> m_cache;  // shared by copies
};

}  // namespace tarn
