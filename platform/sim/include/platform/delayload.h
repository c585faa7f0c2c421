// Delay imports: where the loader's helper takes a delay-imported library from. The simulated
// machine's programs have no delay imports (their libraries are bound at start), so the
// resolver is only kept.
#pragma once

#include "platform/win.h"

namespace tarn::platform {

// The module of a library by its file name ("tarn_pyx_orrery_32.dll"), or null.
using DelayLoadResolver = HMODULE (*)(const char* dllName);

inline void setDelayLoadResolver(DelayLoadResolver) {}

}  // namespace tarn::platform
