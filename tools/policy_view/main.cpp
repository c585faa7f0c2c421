#include <iostream>

#include "platform/win.h"
#include "tools/policy_view/PolicyView.h"

int main() {
    // The wide command line: the narrow argv of Windows loses characters.
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) {
        std::cerr << "tarn_policy_view: cannot read the command line\n";
        return 1;
    }
    const std::vector<std::wstring> args(argv + (count > 0 ? 1 : 0), argv + count);
    LocalFree(argv);
    return tarn::policy_view::run(args, std::cout, std::cerr);
}
