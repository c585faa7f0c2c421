// The `tarn_spool` command-line tool, as a function so that tests can run it in-process.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tarn::spool {

// Runs one command line (without the program name); 0 on success, 1 when the spool cannot be
// read, 2 for a usage error. `keepFollowing` is asked between polls while following.
int runTool(
    const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err,
    const std::function<bool()>& keepFollowing = [] { return true; });

// One spool line as people read it: "TIME SOURCE TYPE PAYLOAD"; a line that is not a spool
// entry is shown as it is.
std::string describeLine(const std::string& line);

}  // namespace tarn::spool
