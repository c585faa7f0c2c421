// The program's arguments as wide strings: Windows' narrow argv loses the characters outside the
// code page.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn {

// The arguments after the program name; nothing when the command line cannot be read.
std::optional<std::vector<std::wstring>> commandLineArguments();

}  // namespace tarn
