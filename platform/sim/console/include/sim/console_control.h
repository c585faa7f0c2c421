// Test-control side of the simulated console: raising a control event as a key press or the
// closing console would, without a signal.
#pragma once

#include <cstdint>

namespace sim::console {

// Delivers `ctrlType` (CTRL_C_EVENT, CTRL_CLOSE_EVENT, ...) as the console would: on a new
// thread, which this call waits for when `wait` is true.
void raise(uint32_t ctrlType, bool wait = true);

}  // namespace sim::console
