// Test-control side of the launches in other users' sessions: what CreateProcessAsUserW was
// asked to start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::launch {

struct Launch {
    std::wstring program;
    std::wstring commandLine;
    uint32_t session = 0;
    std::wstring user;
    uint32_t creationFlags = 0;
    bool inheritHandles = false;
    bool hasEnvironment = false;
    std::vector<std::wstring> environment;  // "name=value", as the block held them
    std::wstring currentDirectory;
    std::wstring desktop;  // lpDesktop of the start-up record; empty when null
    uint32_t processId = 0;
};

// Every launch since the last reset, in order.
std::vector<Launch> launches();
// Replaces the record, so that a machine loaded from a file keeps the launches it had made.
void setLaunches(std::vector<Launch> launches);
// Process and thread handles of launches not yet closed (leak checks).
size_t openHandles();

}  // namespace sim::launch
