// The program's arguments as wide strings: Windows' narrow argv loses the characters outside the
// code page.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarn {

// The arguments after the program name; nothing when the command line cannot be read.
std::optional<std::vector<std::wstring>> commandLineArguments();

// One argument quoted so that the program started with it reads it back unchanged (the rules
// of CommandLineToArgvW).
std::wstring quoteArgument(const std::wstring& arg);

}  // namespace tarn
