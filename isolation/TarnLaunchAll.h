// Starting a program in the interactive sessions of the logged-on users, each with that
// user's token, profile and environment; and the command line of the product's UI program.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/WinHandles.h"

class TarnLaunchAll {
public:
    // Starts the program in the session as the session's user: the command line is the
    // program in double quotes, a space and the arguments. The process handle, or an empty one
    // when the session has no user or a call failed (logged).
    static tarn::UniqueHandle LaunchForUser(const std::wstring& program,
                                            const std::wstring& arguments, DWORD sessionId);
    // LaunchForUser in every active or disconnected session except session 0, in the order
    // the sessions are listed; the handles of the processes started.
    static std::vector<tarn::UniqueHandle> launchForAllUsers(const std::wstring& program,
                                                             const std::wstring& arguments);
    // The UI program ("OpenCommand" of the namespace's "Corvane" key, 32-bit view) and its
    // arguments for a UI application: "--run_dotnet_app <application>", and
    // " --dotnet_app_params <Base64 of the UTF-8 parameters>" when there are parameters. Both
    // empty when the program is not registered.
    static std::pair<std::wstring, std::wstring> getUiOpenCommand(const std::wstring& namespaceName,
                                                                  const std::wstring& application,
                                                                  const std::wstring& parameters);
};

// RFC 4648 Base64 with "=" padding.
std::wstring base64Encode(const std::string& bytes);
