// The host program `carrier` as a function, so that tests run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarn::carrier {

// Runs the plug-in with the program's arguments (without the program name) until its main
// entry returns; the main entry's result, the initialise entry's when that failed, or 2 for
// bad arguments or a library that does not load. A console control event stops the plug-in.
int runCarrier(const std::vector<std::wstring>& args, std::ostream& err);

}  // namespace tarn::carrier
