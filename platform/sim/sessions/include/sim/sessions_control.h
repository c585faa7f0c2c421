// Test-control side of the simulated sessions: who is logged on where.
//
// A fresh machine has, as Windows since Vista: session 0 "Services" (disconnected, no user),
// session 1 "Console" (connected, nobody logged on) and the listener 65536 "RDP-Tcp". Users are
// known by name; each has a SID of its own and a profile folder "C:\Users\<name>".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim::sessions {

struct Session {
    uint32_t id = 0;
    std::wstring winStation;
    int32_t state = 0;  // WTS_CONNECTSTATE_CLASS: 0 active, 1 connected, 4 disconnected, ...
    std::wstring user;  // empty: nobody logged on
};

// Logs `user` on in session `id` (made when missing, named "RDP-Tcp#<id>" unless given) with
// the state given (0 active, 4 disconnected).
void logOn(uint32_t id, std::wstring_view user, int32_t state = 0,
           std::wstring_view winStation = {});
void setState(uint32_t id, int32_t state);
// The user leaves: the console returns to "connected", other sessions end.
void logOff(uint32_t id);
std::vector<Session> sessions();

// The SID ("S-1-5-21-...") and domain ("TARNTEST") of a user known by name.
std::wstring userSid(std::wstring_view user);
std::wstring userDomain();

// User tokens and WTS memory blocks not yet closed or freed (leak checks), and frees of memory
// that was not given out.
size_t openHandles();
uint64_t badFrees();

}  // namespace sim::sessions
