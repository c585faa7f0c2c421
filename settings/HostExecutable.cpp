#include "settings/HostExecutable.h"

#include "platform/win.h"

namespace tarn {

std::wstring hostExecutablePath() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, length < MAX_PATH ? length : MAX_PATH - 1);
}

std::wstring parentFolder(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/') {
        return folder + name;
    }
    // A host path of the simulated machine keeps its slashes.
    const bool slashes = folder.find(L'\\') == std::wstring::npos && folder.front() == L'/';
    return folder + (slashes ? L"/" : L"\\") + name;
}

}  // namespace tarn
