// Shared by the simulated machine's file functions (files.cpp, change_notification.cpp).
#pragma once

#include <string>
#include <string_view>

#include "sim/win/base.h"

namespace sim::detail {

// The Windows error of a failed host call on `path` (ENOENT tells a missing file from a
// missing folder on the way to it).
DWORD errorFromErrno(int error, const std::string& path = {});
// Host path of a Windows path, with the machine's standard folders made.
std::string filePath(LPCWSTR windowsPath);
// Windows refuses the characters *?|<>" and control characters anywhere in a path (wildcards
// only in the pattern of FindFirstFileW).
bool hasInvalidNameCharacter(std::wstring_view path);
// What every path-taking function checks first: ERROR_SUCCESS, ERROR_PATH_NOT_FOUND for a
// null or empty path, or ERROR_INVALID_NAME.
DWORD checkFileName(LPCWSTR name);

}  // namespace sim::detail
