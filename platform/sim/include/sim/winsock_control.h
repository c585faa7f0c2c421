// Test-control side of the simulated Winsock: the machine's DNS table and start-up state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim::winsock {

// Names that the table does not hold are looked up in the machine's hosts file,
// C:\Windows\System32\drivers\etc\hosts, as on Windows.
//
// The answer of GetAddrInfoW for `host` (compared without regard to case): the addresses in
// this order, each an IPv4 or IPv6 text, IPv6 optionally with a decimal "%scope".
// Throws std::invalid_argument for a text that is no address.
void setDnsAnswer(std::wstring_view host, const std::vector<std::wstring>& addresses);
// GetAddrInfoW for `host` fails with `error` (e.g. WSATRY_AGAIN).
void setDnsError(std::wstring_view host, int32_t error);
// Forgets `host`: it is unknown again (WSAHOST_NOT_FOUND).
void removeDnsEntry(std::wstring_view host);

// Successful WSAStartup calls not yet matched by WSACleanup.
uint32_t startupCount();
// Result lists of GetAddrInfoW not yet freed with FreeAddrInfoW.
size_t openAddrInfoLists();

}  // namespace sim::winsock
