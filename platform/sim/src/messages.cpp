// System message texts of the simulated machine (FormatMessage), in US English as Windows
// words them, each ending with the carriage return and line feed that Windows appends.
#include <cstring>
#include <map>
#include <string>

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

}  // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size,
                     va_list*) {
    SIM_API("FormatMessageW");
    if (simFault_) {
        return fail(*simFault_, static_cast<DWORD>(0));
    }
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, static_cast<DWORD>(0));
    }
    const wchar_t* text = lookup(messageId);
    if (text == nullptr) {
        return fail(ERROR_MR_MID_NOT_FOUND, static_cast<DWORD>(0));
    }
    const std::wstring message = std::wstring(text) + L"\r\n";
    const auto length = static_cast<DWORD>(message.size());
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        auto* allocated = static_cast<LPWSTR>(LocalAlloc(LPTR, (length + 1) * sizeof(WCHAR)));
        if (allocated == nullptr) {
            return 0;
        }
        std::wmemcpy(allocated, message.c_str(), length + 1);
        *reinterpret_cast<LPWSTR*>(buffer) = allocated;
        return length;
    }
    if (size < length + 1) {
        return fail(ERROR_INSUFFICIENT_BUFFER, static_cast<DWORD>(0));
    }
    std::wmemcpy(buffer, message.c_str(), length + 1);
    return length;
}

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments) {
    LPWSTR wide = nullptr;
    const DWORD length = FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, source, messageId,
                                        languageId, reinterpret_cast<LPWSTR>(&wide), 0, arguments);
    if (length == 0) {
        return 0;
    }
    const std::string narrow = sim::detail::toUtf8(std::wstring_view(wide, length));
    LocalFree(wide);
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        auto* allocated = static_cast<LPSTR>(LocalAlloc(LPTR, narrow.size() + 1));
        std::memcpy(allocated, narrow.c_str(), narrow.size() + 1);
        *reinterpret_cast<LPSTR*>(buffer) = allocated;
        return static_cast<DWORD>(narrow.size());
    }
    if (size < narrow.size() + 1) {
        return fail(ERROR_INSUFFICIENT_BUFFER, static_cast<DWORD>(0));
    }
    std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    return static_cast<DWORD>(narrow.size());
}
