// Test-control side of the simulated service control manager: the machine's services and
// their states.
//
// A fresh machine has the services the system meets, all running: "MpsSvc" (the Windows
// Firewall), "BFE" (the filtering engine), "RpcSs", "RpcEptMapper", "EventLog", "Dnscache",
// "Dhcp" and "Schedule". The state of "MpsSvc" is the simulated firewall's: stopping it here
// stops the firewall's service (sim/firewall_control.h), and a firewall stopped there reads as
// a stopped service.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sim::services {

// Adds a service (or changes the state of one of that name). States are winsvc.h's:
// 1 stopped, 2 start pending, 3 stop pending, 4 running, 5 continue pending, 6 pause pending,
// 7 paused.
void addService(std::wstring_view name, uint32_t state = 4, uint32_t type = 0x20);
// Changes the state; false when there is no such service. Only a running "MpsSvc" lets the
// firewall's objects through; `firewallCode` is what they fail with otherwise.
bool setState(std::wstring_view name, uint32_t state, uint32_t firewallCode = 0x800706D9);
std::optional<uint32_t> state(std::wstring_view name);

// Manager and service handles not yet closed (leak checks), and closes of handles that were
// not open.
size_t openHandles();
uint64_t badCloses();

}  // namespace sim::services
