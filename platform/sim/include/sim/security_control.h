// Test-control side of the simulated process's security: the account it runs as, and the
// security descriptors given to the objects it created.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim::security {

// The account of the process token, as a SID text ("S-1-5-18" by default, the system account),
// and its integrity level (a mandatory-label RID, 0x4000 system by default). HKEY_CURRENT_USER
// follows the account.
void setAccount(std::wstring_view sid);
void setIntegrityLevel(uint32_t rid);

// The security descriptor, as SDDL, that a directory (Windows path) or a named mutex was
// created with; nullopt when the object was created without one, or not at all.
std::optional<std::wstring> directorySecurity(std::wstring_view path);
std::optional<std::wstring> mutexSecurity(std::wstring_view name);

}  // namespace sim::security
