#include "common/CommandLine.h"

#include "common/WinHandles.h"
#include "platform/win.h"

namespace tarn {

std::optional<std::vector<std::wstring>> commandLineArguments() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) {
        return std::nullopt;
    }
    const UniqueLocalMemory owner(argv);
    return std::vector<std::wstring>(argv + (count > 0 ? 1 : 0), argv + count);
}

}  // namespace tarn
