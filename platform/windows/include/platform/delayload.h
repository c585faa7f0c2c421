// Delay imports: where the loader's helper takes a delay-imported library from. The resolver
// answers every library; the helper never looks for one itself, so a library is never taken
// from the search path.
#pragma once

#include "platform/win.h"

namespace tarn::platform {

// The module of a library by its file name ("tarn_pyx_orrery_32.dll"), or null.
using DelayLoadResolver = HMODULE (*)(const char* dllName);

void setDelayLoadResolver(DelayLoadResolver resolver);

}  // namespace tarn::platform
