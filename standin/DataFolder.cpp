#include "standin/DataFolder.h"

#include <optional>

#include "common/registry/Win32Registry.h"
#include "platform/win.h"

namespace tarn::standin {

namespace {

std::optional<std::wstring> environmentValue(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    if (length == 0 || length >= 1024) {
        return std::nullopt;
    }
    return std::wstring(buffer, length);
}

}  // namespace

std::wstring dataFolder(const wchar_t* overrideVariable, const std::wstring& component) {
    if (auto root = environmentValue(overrideVariable); root && !root->empty()) {
        return *root;
    }
    std::wstring configured;
    if (Win32Registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY)
            .readString(L"SOFTWARE\\Tarn\\PYX\\" + component, L"DataPath", configured) &&
        !configured.empty()) {
        return configured;
    }
    return environmentValue(L"ProgramData").value_or(L"C:\\ProgramData") + L"\\Tarn\\" + component;
}

}  // namespace tarn::standin
