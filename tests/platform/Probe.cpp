#include "tests/platform/Probe.h"

#include <gtest/gtest.h>

#include "common/CommandLine.h"

namespace tarn::test {

std::wstring probeCommandLine(const std::vector<std::wstring>& args) {
    wchar_t self[MAX_PATH] = {};
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    // Without an extension: Windows adds ".exe" to the program of a command line.
    std::wstring line = L"\"" + path.substr(0, path.find_last_of(L"\\/") + 1) + L"platform_probe\"";
    for (const auto& arg : args) {
        line += L" " + quoteArgument(arg);
    }
    return line;
}

UniqueHandle startProbe(const std::vector<std::wstring>& args, const void* environment,
                        DWORD flags) {
    std::wstring line = probeCommandLine(args);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, flags,
                        const_cast<void*>(environment), nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
        return {};
    }
    CloseHandle(info.hThread);
    return UniqueHandle(info.hProcess);
}

DWORD runProbe(const std::vector<std::wstring>& args, const void* environment, DWORD flags) {
    const UniqueHandle process = startProbe(args, environment, flags);
    DWORD code = ~0u;
    if (process && WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.get(), &code);
    }
    return code;
}

}  // namespace tarn::test
