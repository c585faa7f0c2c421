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

std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        // Backslashes double only before a quotation mark, which is escaped itself.
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace tarn
