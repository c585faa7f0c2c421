// Test-control side of the simulated user profiles and environment blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sim::userenv {

// Loads of the user's profile (by SID) not yet unloaded.
size_t loadedProfiles(std::wstring_view userSid);
// Profile handles and environment blocks not yet released (leak checks), and releases of
// environment blocks that were not given out.
size_t openHandles();
uint64_t badFrees();

}  // namespace sim::userenv
