// The machine a host program runs on: here the simulated machine, whose state a file keeps
// between runs and which commands change while it runs.
#pragma once

#include <string>

#include "sim/machine_file.h"

namespace tarn::platform {

inline constexpr bool kSimulatedMachine = true;

inline bool loadMachine(const std::string& path, std::string& error) {
    return sim::machine_file::loadFile(path, &error);
}
inline bool saveMachine(const std::string& path, std::string& error) {
    return sim::machine_file::saveFile(path, &error);
}
inline std::string machineCommand(const std::string& line) {
    return sim::machine_file::command(line);
}

}  // namespace tarn::platform
