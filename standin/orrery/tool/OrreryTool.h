// The `orrery` command-line tool, as a function so that tests can run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarn::orrery {

// Runs one command line (without the program name); 0 on success, 1 when the command failed,
// 2 for a usage error. Results go to `out`, the one-line error message to `err`.
int runTool(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);

}  // namespace tarn::orrery
