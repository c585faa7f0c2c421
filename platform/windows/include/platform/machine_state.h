// The machine a host program runs on: here a real Windows machine, whose state is its own.
#pragma once

#include <string>

namespace tarn::platform {

inline constexpr bool kSimulatedMachine = false;

inline bool loadMachine(const std::string&, std::string& error) {
    error = "a machine file belongs to the simulated machine";
    return false;
}
inline bool saveMachine(const std::string& path, std::string& error) {
    return loadMachine(path, error);
}
inline std::string machineCommand(const std::string&) {
    return "error: a real machine takes no commands";
}

}  // namespace tarn::platform
