// Messages of the simulated machine (FormatMessage): the system's texts in US English as Windows
// words them, each ending with the carriage return and line feed of its message table, and
// the formatting of message definitions (inserts, escapes, line widths).
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "internal.h"

using sim::detail::fail;

namespace {

const std::map<DWORD, const wchar_t*>& messages() {
    static const std::map<DWORD, const wchar_t*> table = {
        {0, L"The operation completed successfully."},
        {1, L"Incorrect function."},
        {2, L"The system cannot find the file specified."},
        {3, L"The system cannot find the path specified."},
        {4, L"The system cannot open the file."},
        {5, L"Access is denied."},
        {6, L"The handle is invalid."},
        {8, L"Not enough memory resources are available to process this command."},
        {13, L"The data is invalid."},
        {14, L"Not enough memory resources are available to complete this operation."},
        {17, L"The system cannot move the file to a different disk drive."},
        {18, L"There are no more files."},
        {29, L"The system cannot write to the specified device."},
        {30, L"The system cannot read from the specified device."},
        {31, L"A device attached to the system is not functioning."},
        {32, L"The process cannot access the file because it is being used by another process."},
        {33,
         L"The process cannot access the file because another process has locked a portion of the "
         L"file."},
        {38, L"Reached the end of the file."},
        {50, L"The request is not supported."},
        {80, L"The file exists."},
        {87, L"The parameter is incorrect."},
        {109, L"The pipe has been ended."},
        {111, L"The file name is too long."},
        {112, L"There is not enough space on the disk."},
        {120, L"This function is not supported on this system."},
        {122, L"The data area passed to a system call is too small."},
        {123, L"The filename, directory name, or volume label syntax is incorrect."},
        {126, L"The specified module could not be found."},
        {127, L"The specified procedure could not be found."},
        {131, L"An attempt was made to move the file pointer before the beginning of the file."},
        {145, L"The directory is not empty."},
        {158, L"The segment is already unlocked."},
        {160, L"One or more arguments are not correct."},
        {170, L"The requested resource is in use."},
        {183, L"Cannot create a file when that file already exists."},
        {193, L"%1 is not a valid Win32 application."},
        {203, L"The system could not find the environment option that was entered."},
        {206, L"The filename or extension is too long."},
        {232, L"The pipe is being closed."},
        {234, L"More data is available."},
        {258, L"The wait operation timed out."},
        {259, L"No more data is available."},
        {288, L"Attempt to release mutex not owned by caller."},
        {317,
         L"The system cannot find message text for message number 0x%1 in the message file for "
         L"%2."},
        {735, L"{Wait abandoned}"},
        {997, L"Overlapped I/O operation is in progress."},
        {1008, L"An attempt was made to reference a token that does not exist."},
        {1009, L"The configuration registry database is corrupt."},
        {1010, L"The configuration registry key is invalid."},
        {1011, L"The configuration registry key could not be opened."},
        {1012, L"The configuration registry key could not be read."},
        {1013, L"The configuration registry key could not be written."},
        {1015,
         L"The registry is corrupted. The structure of one of the files containing registry data "
         L"is corrupted, or the system's memory image of the file is corrupted, or the file could "
         L"not be recovered because the alternate copy or log was absent or corrupted."},
        {1018, L"Illegal operation attempted on a registry key that has been marked for deletion."},
        {1060, L"The specified service does not exist as an installed service."},
        {1062, L"The service has not been started."},
        {1113, L"No mapping for the Unicode character exists in the target multi-byte code page."},
        {1115, L"A system shutdown is in progress."},
        {1168, L"Element not found."},
        {1307, L"This security ID may not be assigned as the owner of this object."},
        {1314, L"A required privilege is not held by the client."},
        {1332, L"No mapping between account names and security IDs was done."},
        {1460, L"This operation returned because the timeout period expired."},
        {1717, L"The interface is unknown."},
        {1722, L"The RPC server is unavailable."},
        {1753, L"There are no more endpoints available from the endpoint mapper."},
        {1764, L"The requested operation is not supported."},
        {1813, L"The specified resource type cannot be found in the image file."},
        {1815, L"The specified resource language ID cannot be found in the image file."},
        {10013,
         L"An attempt was made to access a socket in a way forbidden by its access permissions."},
        {10022, L"An invalid argument was supplied."},
        {10047, L"An address incompatible with the requested protocol was used."},
        {10093, L"Either the application has not called WSAStartup, or WSAStartup failed."},
        {11001, L"No such host is known."},
        {11002,
         L"This is usually a temporary error during hostname resolution and means that the local "
         L"server did not receive a response from an authoritative server."},
        {11003, L"A non-recoverable error occurred during a database lookup."},
        {11004, L"The requested name is valid, but no data of the requested type was found."},
        {0x80004001, L"Not implemented"},
        {0x80004002, L"No such interface supported"},
        {0x80004003, L"Invalid pointer"},
        {0x80004004, L"Operation aborted"},
        {0x80004005, L"Unspecified error"},
        {0x8000FFFF, L"Catastrophic failure"},
        {0x80010106, L"Cannot change thread mode after it is set."},
        {0x8001010E,
         L"The application called an interface that was marshalled for a different thread."},
        {0x80040154, L"Class not registered"},
    };
    return table;
}

const wchar_t* lookup(DWORD id) {
    const auto& table = messages();
    if (auto it = table.find(id); it != table.end()) {
        return it->second;
    }
    // HRESULTs made from Win32 codes share the Win32 code's text.
    if ((id & 0xFFFF0000) == 0x80070000) {
        if (auto it = table.find(id & 0xFFFF); it != table.end()) {
            return it->second;
        }
    }
    return nullptr;
}

// The simulated machine speaks US English only: a message is found for that language, for the
// user's or the system's default, or for any (0).
bool languageKnown(DWORD language) {
    return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           language == MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT) ||
           language == MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

// The arguments of inserts, by number: an array of pointer-sized values, or a va_list read one
// pointer-sized value at a time as inserts ask for them.
class Arguments {
public:
    Arguments(DWORD flags, va_list* list)
        : m_list(list), m_array((flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0) {}
    bool present() const { return m_list != nullptr; }
    ULONG_PTR at(size_t number) {
        if (m_array) {
            return reinterpret_cast<const ULONG_PTR*>(m_list)[number - 1];
        }
        while (m_read.size() < number) {
            m_read.push_back(va_arg(*m_list, ULONG_PTR));
        }
        return m_read[number - 1];
    }

private:
    va_list* m_list;
    bool m_array;
    std::vector<ULONG_PTR> m_read;
};

// What swprintf writes for `conversion`, in a buffer as large as it needs (up to the 128 KiB that
// Windows allows a message).
template <class... Values>
std::optional<std::wstring> printed(const std::wstring& conversion, Values... values) {
    for (size_t room = 256; room <= 64 * 1024; room *= 2) {
        std::wstring out(room, L'\0');
        const int written = std::swprintf(out.data(), room, conversion.c_str(), values...);
        if (written >= 0) {
            out.resize(static_cast<size_t>(written));
            return out;
        }
    }
    return std::nullopt;
}

// One insert "%n!format!" as printf would write it; `ansi` when strings are narrow (%s of the
// ANSI function). Only the printf forms Windows takes here: no floating point.
std::optional<std::wstring> formatInsert(std::wstring_view format, size_t& number,
                                         Arguments& arguments, bool ansi) {
    std::wstring conversion = L"%";
    size_t i = 0;
    while (i < format.size() && std::wcschr(L"-+ #0", format[i]) != nullptr) {
        conversion += format[i++];
    }
    const auto widthOrPrecision = [&] {
        if (i < format.size() && format[i] == L'*') {
            conversion += std::to_wstring(static_cast<int>(arguments.at(number++)));
            ++i;
        }
        while (i < format.size() && std::iswdigit(static_cast<wint_t>(format[i]))) {
            conversion += format[i++];
        }
    };
    widthOrPrecision();
    if (i < format.size() && format[i] == L'.') {
        conversion += format[i++];
        widthOrPrecision();
    }
    bool wide64 = false;
    if (format.substr(i).starts_with(L"I64")) {
        wide64 = true;
        i += 3;
    } else if (format.substr(i).starts_with(L"I32")) {
        i += 3;
    } else if (i < format.size() &&
               (format[i] == L'I' || format[i] == L'l' || format[i] == L'h' || format[i] == L'w')) {
        wide64 = format[i] == L'I' && sizeof(ULONG_PTR) == 8;
        ++i;
    }
    if (i + 1 != format.size()) {
        return std::nullopt;
    }
    const wchar_t type = format[i];
    const ULONG_PTR value = arguments.at(number);
    switch (type) {
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
        case L'o':
            conversion += wide64 ? L"ll" : L"";
            conversion += type;
            return wide64 ? printed(conversion, static_cast<long long>(value))
                          : printed(conversion, static_cast<int>(value));
        case L'c':
        case L'C':
            conversion += (type == L'c') != ansi ? L"lc" : L"c";
            return printed(conversion, static_cast<wint_t>(value));
        case L's':
        case L'S':
            conversion += L"ls";
            if ((type == L's') != ansi) {
                return printed(conversion, reinterpret_cast<const wchar_t*>(value));
            }
            return printed(
                conversion,
                sim::detail::fromUtf8(reinterpret_cast<const char*>(value)).value_or(L"").c_str());
        case L'p':
            return printed(L"%0*llX", static_cast<int>(sizeof(void*) * 2),
                           static_cast<unsigned long long>(value));
        default:
            return std::nullopt;
    }
}

// Replaces regular line breaks by spaces and, for a width below 255, breaks lines at blanks so
// that none is longer than the width; hard breaks (%n) are kept.
std::wstring applyWidth(const std::wstring& text, const std::vector<bool>& hard, DWORD width) {
    std::wstring out;
    size_t column = 0;
    size_t lastBlank = std::wstring::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if ((c == L'\r' || c == L'\n') && !hard[i]) {
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n' && !hard[i + 1]) {
                ++i;
            }
            c = L' ';
        }
        if (c == L'\n') {
            out += c;
            column = 0;
            lastBlank = std::wstring::npos;
            continue;
        }
        out += c;
        if (c == L'\r') {
            continue;
        }
        if (c == L' ') {
            lastBlank = out.size() - 1;
        }
        if (width != FORMAT_MESSAGE_MAX_WIDTH_MASK && ++column > width &&
            lastBlank != std::wstring::npos) {
            out.replace(lastBlank, 1, L"\r\n");
            column = out.size() - lastBlank - 2;
            lastBlank = std::wstring::npos;
        }
    }
    return out;
}

// The message with its inserts and escapes done, or nullopt with the Windows error.
std::optional<std::wstring> format(std::wstring_view definition, DWORD flags, va_list* list,
                                   bool ansi, DWORD& error) {
    Arguments arguments(flags, list);
    const bool inserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0;
    std::wstring out;
    std::vector<bool> hard;  // per character of `out`: a line break written by %n or %r
    const auto put = [&](std::wstring_view text, bool isHard = false) {
        out += text;
        hard.insert(hard.end(), text.size(), isHard);
    };
    const auto finish = [&] {
        const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
        return width == 0 ? out : applyWidth(out, hard, width);
    };
    for (size_t i = 0; i < definition.size(); ++i) {
        if (definition[i] != L'%' || i + 1 >= definition.size()) {
            put(definition.substr(i, 1));
            continue;
        }
        const wchar_t next = definition[++i];
        if (next >= L'1' && next <= L'9') {
            size_t end = i + 1;
            if (end < definition.size() && std::iswdigit(static_cast<wint_t>(definition[end]))) {
                ++end;
            }
            std::wstring_view conversion = L"s";
            size_t after = end;
            if (end < definition.size() && definition[end] == L'!') {
                const size_t close = definition.find(L'!', end + 1);
                if (close == std::wstring_view::npos) {
                    error = ERROR_INVALID_PARAMETER;
                    return std::nullopt;
                }
                conversion = definition.substr(end + 1, close - end - 1);
                after = close + 1;
            }
            if (!inserts) {
                put(definition.substr(i - 1, after - i + 1));
            } else {
                if (!arguments.present()) {
                    error = ERROR_INVALID_PARAMETER;
                    return std::nullopt;
                }
                size_t number = std::stoul(std::wstring(definition.substr(i, end - i)));
                const auto text = formatInsert(conversion, number, arguments, ansi);
                if (!text) {
                    error = ERROR_INVALID_PARAMETER;
                    return std::nullopt;
                }
                put(*text);
            }
            i = after - 1;
            continue;
        }
        switch (next) {
            case L'0':
                return finish();
            case L'n':
                put(L"\r\n", true);
                break;
            case L'r':
                put(L"\r", true);
                break;
            case L't':
                put(L"\t");
                break;
            default:
                put(definition.substr(i, 1));  // %% %. %! %space and any other character
                break;
        }
    }
    return finish();
}

}  // namespace

namespace {

// The formatted message of either function, or nullopt with the Windows error. `ansi`: the
// ANSI function, whose source string and %s arguments are narrow.
std::optional<std::wstring> message(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                    va_list* arguments, bool ansi, DWORD& error) {
    error = ERROR_INVALID_PARAMETER;
    const bool fromString = (flags & FORMAT_MESSAGE_FROM_STRING) != 0;
    const bool fromSystem = (flags & FORMAT_MESSAGE_FROM_SYSTEM) != 0;
    const bool fromModule = (flags & FORMAT_MESSAGE_FROM_HMODULE) != 0;
    if (fromString && (fromSystem || fromModule)) {
        return std::nullopt;
    }
    std::wstring definition;
    if (fromString) {
        if (source == nullptr) {
            return std::nullopt;
        }
        definition = ansi ? sim::detail::fromUtf8(static_cast<const char*>(source)).value_or(L"")
                          : std::wstring(static_cast<const wchar_t*>(source));
    } else if (fromSystem) {
        // A module's own message table is never found: the machine's modules have none.
        if (!languageKnown(languageId)) {
            error = ERROR_RESOURCE_LANG_NOT_FOUND;
            return std::nullopt;
        }
        const wchar_t* text = lookup(messageId);
        if (text == nullptr) {
            error = ERROR_MR_MID_NOT_FOUND;
            return std::nullopt;
        }
        definition = std::wstring(text) + L"\r\n";
    } else {
        error = fromModule ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    return format(definition, flags, arguments, ansi, error);
}

// Puts `text` (with its terminator) where the caller asked: into `buffer` of `size`
// characters, or into a LocalAlloc block whose address goes to `buffer`.
template <class Char>
DWORD deliver(const std::basic_string<Char>& text, DWORD flags, Char* buffer, DWORD size) {
    const auto length = static_cast<DWORD>(text.size());
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        const DWORD room = std::max(length + 1, size);
        auto* allocated = static_cast<Char*>(LocalAlloc(LPTR, room * sizeof(Char)));
        if (allocated == nullptr) {
            return 0;
        }
        std::memcpy(allocated, text.c_str(), (length + 1) * sizeof(Char));
        *reinterpret_cast<Char**>(buffer) = allocated;
        return length;
    }
    if (size < length + 1) {
        return fail(ERROR_INSUFFICIENT_BUFFER, static_cast<DWORD>(0));
    }
    std::memcpy(buffer, text.c_str(), (length + 1) * sizeof(Char));
    return length;
}

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments) {
    SIM_API("FormatMessageW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    if (buffer == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, static_cast<DWORD>(0));
    }
    DWORD error = ERROR_SUCCESS;
    const auto text = message(flags, source, messageId, languageId, arguments, false, error);
    return text ? deliver(*text, flags, buffer, size) : fail(error, static_cast<DWORD>(0));
}

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments) {
    SIM_API("FormatMessageA");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    if (buffer == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, static_cast<DWORD>(0));
    }
    DWORD error = ERROR_SUCCESS;
    const auto text = message(flags, source, messageId, languageId, arguments, true, error);
    return text ? deliver(sim::detail::toUtf8(*text), flags, buffer, size)
                : fail(error, static_cast<DWORD>(0));
}
