// A helper program of the platform's API tests, on both targets; it answers by its exit code.
//   platform_probe exit N            ends with N
//   platform_probe hold-mutex NAME   takes the named mutex and waits to be killed
//   platform_probe env NAME [VALUE]  0 when the variable has VALUE (without VALUE: is missing),
//                                    1 when not
#include <string>
#include <vector>

#include "common/CommandLine.h"
#include "platform/win.h"

namespace {

int environmentHas(const std::wstring& name, const std::wstring* expected) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name.c_str(), value, 1024);
    if (expected == nullptr) {
        return length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND ? 0 : 1;
    }
    return length < 1024 && std::wstring(value, length) == *expected ? 0 : 1;
}

}  // namespace

int main() {
    const auto args = tarn::commandLineArguments().value_or(std::vector<std::wstring>{});
    if (args.size() == 2 && args[0] == L"exit") {
        return _wtoi(args[1].c_str());
    }
    if (args.size() == 2 && args[0] == L"hold-mutex") {
        if (CreateMutexW(nullptr, TRUE, args[1].c_str()) == nullptr) {
            return 3;
        }
        Sleep(INFINITE);
    }
    if ((args.size() == 2 || args.size() == 3) && args[0] == L"env") {
        return environmentHas(args[1], args.size() == 3 ? &args[2] : nullptr);
    }
    return 2;
}
