// Starting the platform tests' helper program (platform_probe.cpp), on both targets.
#pragma once

#include <string>
#include <vector>

#include "common/WinHandles.h"

namespace tarn::test {

// The helper's command line: its full path, quoted, then the arguments.
std::wstring probeCommandLine(const std::vector<std::wstring>& args);

// Starts the helper; `environment` and `flags` go to CreateProcessW unchanged.
UniqueHandle startProbe(const std::vector<std::wstring>& args, const void* environment = nullptr,
                        DWORD flags = 0);

// Runs the helper to its end: its exit code, or ~0 when it could not run or did not end.
DWORD runProbe(const std::vector<std::wstring>& args, const void* environment = nullptr,
               DWORD flags = 0);

}  // namespace tarn::test
