// The text of a code that a filtering-engine call returned, for the log: the system's message,
// then the number in parentheses. Engine calls return Win32 codes (5, 1753), Win32 codes
// carried in an HRESULT (0x80070005, reduced to 5 first) and the engine's own FWP_E_* codes
// (0x8032xxxx, kept as they are).
#pragma once

#include <string>

#include "platform/win.h"

std::wstring wfpErrorText(DWORD code);
