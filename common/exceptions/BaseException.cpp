#include "common/exceptions/BaseException.h"

#include <sstream>

#include "common/Str.h"

namespace tarn {

const std::wstring& ExceptionText::str() const {
    static const std::wstring none;
    return m_text ? *m_text : none;
}

BaseException::BaseException(ExceptionText reason, ExceptionText function, ExceptionText file,
                             int32_t line)
    : m_reason(std::move(reason)),
      m_function(std::move(function)),
      m_file(std::move(file)),
      m_line(line),
      m_cache(std::make_shared<Cache>()) {}

BaseException::~BaseException() = default;

const char* BaseException::what() const noexcept {
    try {
        std::call_once(m_cache->narrowOnce,
                       [this] { m_cache->narrow = str::toMultibyte(wideMessage()); });
        return m_cache->narrow.c_str();
    } catch (...) {
        // The message cannot be built (out of memory, or too long to convert).
        return "tarn::BaseException";
    }
}

const std::wstring& BaseException::wideMessage() const {
    std::call_once(m_cache->wideOnce, [this] {
        std::wostringstream out;
        describe(out);
        m_cache->wide = out.str();
    });
    return m_cache->wide;
}

void BaseException::describe(std::wostream& out) const {
    out << L"Type: tarn::BaseException, Reason: " << reason();
    describeOrigin(out);
}

void BaseException::describeOrigin(std::wostream& out) const {
    out << L", Function: " << function() << L", File: " << file() << L", Line: " << m_line;
}

}  // namespace tarn
