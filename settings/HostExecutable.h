// The program that hosts the system, which the built-in rules let through the firewall.
#pragma once

#include <string>

namespace tarn {

// Full path of the running process's executable (at most MAX_PATH characters; a longer path
// comes back cut, as Windows cuts it); empty when it cannot be had.
std::wstring hostExecutablePath();

// `path` without its last component (the text before the last '\' or '/'); empty without one.
std::wstring parentFolder(const std::wstring& path);

// Joins a folder and a name with one backslash (a slash for a host path beginning with '/').
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

}  // namespace tarn
