// The texts of failed Windows and COM calls in log lines.
#pragma once

#include <cstdint>
#include <string>

#include "common/logging/Log.h"

namespace tarn {

// The system message of a Win32 code or HRESULT (US English), then "(", the message number,
// ")". HRESULTs at or above 0x80070000 are taken as Win32 errors (the code minus 0x80070000);
// without a system text only the bracketed number remains.
std::wstring describeError(uint32_t code);

// The system text of an HRESULT as the COM support classes give it: without the trailing line
// break; "IDispatch error #n" for 0x80040201..0x8004FFFF and "Unknown error 0x..." otherwise
// when the system has none.
std::wstring comErrorMessage(long hresult);

}  // namespace tarn

// A log line that ends with the text of a failed call, under the caller's tag.
#define TARN_LOG_HR(level, hr, text) \
    TARN_LOG(level) << text << ::tarn::describeError(static_cast<uint32_t>(hr))
