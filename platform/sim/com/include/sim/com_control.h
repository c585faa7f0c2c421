// The tests' side of the simulated COM runtime: the classes that CoCreateInstance knows, and
// the strings that are alive, so that a test can tell a leak or a double free.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/win/com.h"

namespace sim::com {

// Creates one object of a class for CoCreateInstance and answers it as `riid`.
using ClassFactory = std::function<HRESULT(REFIID riid, void** object)>;
void registerClass(const CLSID& clsid, ClassFactory factory);

// BSTRs allocated and not yet freed, in the whole process.
uint64_t liveStrings();
// SysFreeString calls with a pointer that is no live BSTR (freed twice, or never allocated)
// since the last reset; such a call frees nothing.
uint64_t badFrees();

// The calling thread's COM initialisation count (0: not initialised).
int initCount();

}  // namespace sim::com
