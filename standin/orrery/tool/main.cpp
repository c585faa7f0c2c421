#include <iostream>

#include "platform/win.h"
#include "standin/orrery/tool/OrreryTool.h"

int main() {
    // The wide command line: the narrow argv of Windows loses characters.
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) {
        std::cerr << "orrery: cannot read the command line\n";
        return 1;
    }
    const std::vector<std::wstring> args(argv + (count > 0 ? 1 : 0), argv + count);
    LocalFree(argv);
    return tarn::orrery::runTool(args, std::cout, std::cerr);
}
