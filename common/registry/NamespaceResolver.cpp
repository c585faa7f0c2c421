#include "common/registry/NamespaceResolver.h"

#include <vector>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/registry/SpecialFolders.h"
#include "common/registry/Win32Registry.h"

namespace tarn {

namespace {

const wchar_t* const kNamespacesKey = L"SOFTWARE\\Tarn\\NS";

std::wstring withBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    return path;
}

bool startsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           str::equalsNoCase(std::wstring_view(text).substr(0, prefix.size()), prefix);
}

std::wstring parentOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The full path of a module, with the buffer grown until the path fits.
std::wstring moduleFileName(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Names become parts of registry keys and paths: separators and dots are not allowed.
bool acceptable(const std::wstring& name) {
    return name.find_first_of(L"\\/.") == std::wstring::npos;
}

}  // namespace

std::wstring NamespaceResolver::getNamespace(HMODULE module) {
    std::lock_guard lock(m_mutex);
    if (m_namespace.empty()) {
        m_namespace = resolve(moduleFileName(module));
    }
    return m_namespace;
}

std::wstring NamespaceResolver::resolve(const std::wstring& modulePath) {
    if (modulePath.empty()) {
        return {};
    }
    std::wstring best;
    size_t bestLength = 0;
    for (const auto& [name, installPath] : installedNamespaces()) {
        if (installPath.size() > bestLength && startsWithNoCase(modulePath, installPath)) {
            best = name;
            bestLength = installPath.size();
        }
    }
    if (best.empty()) {
        best = fromNamespaceFiles(modulePath);
    }
    return acceptable(best) ? best : std::wstring();
}

std::wstring NamespaceResolver::fromNamespaceFiles(const std::wstring& modulePath) {
    for (const auto folder : {SpecialFolder::ProgramFiles, SpecialFolder::ProgramFilesX86}) {
        if (!isUnderFolder(modulePath, static_cast<int>(folder))) {
            continue;
        }
        const std::wstring base = withBackslash(folderPath(static_cast<int>(folder)));
        // The product folder: the first directory below the program-files folder.
        const size_t end = modulePath.find(L'\\', base.size());
        if (end == std::wstring::npos) {
            return {};
        }
        return findNamespaceFileUpward(parentOf(modulePath), modulePath.substr(0, end));
    }
    return {};
}

std::map<std::wstring, std::wstring> NamespaceResolver::installedNamespaces() {
    const Win32Registry registry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    std::vector<std::wstring> names;
    std::map<std::wstring, std::wstring> installed;
    registry.listSubkeys(kNamespacesKey, names);
    for (const auto& name : names) {
        std::wstring path;
        if (registry.readString(std::wstring(kNamespacesKey) + L"\\" + name + L"\\Corvane",
                                L"InstallPath", path) &&
            !path.empty()) {
            installed[name] = withBackslash(path);
        }
    }
    return installed;
}

std::wstring NamespaceResolver::findNamespaceFileUpward(const std::wstring& directory,
                                                        const std::wstring& lastDirectory) {
    for (std::wstring current = directory; current.size() >= lastDirectory.size();
         current = parentOf(current)) {
        if (std::wstring name = readNamespaceFile(current); !name.empty()) {
            return name;
        }
        if (str::equalsNoCase(current, lastDirectory)) {
            break;
        }
    }
    return {};
}

std::wstring NamespaceResolver::readNamespaceFile(const std::wstring& directory) {
    const UniqueHandle file(CreateFileW((withBackslash(directory) + L"namespace.txt").c_str(),
                                        GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    unsigned char bytes[512];
    DWORD size = 0;
    if (!ReadFile(file.get(), bytes, sizeof bytes, &size, nullptr) || size <= 2 ||
        bytes[0] != 0xFF || bytes[1] != 0xFE) {
        return {};
    }
    const std::wstring text = str::fromUtf16Le(bytes + 2, size - 2);
    return text.substr(0, text.find(L'\0'));
}

std::wstring NamespaceResolver::nativeProgramFilesFolder() {
    return specialFolderPath(SpecialFolder::ProgramFiles);
}

std::wstring NamespaceResolver::programFilesX86Folder() {
    return specialFolderPath(SpecialFolder::ProgramFilesX86);
}

bool NamespaceResolver::isUnderFolder(const std::wstring& path, int folderId) {
    const std::wstring folder = folderPath(folderId);
    return !folder.empty() && startsWithNoCase(path, withBackslash(folder));
}

std::wstring NamespaceResolver::folderPath(int folderId) {
    switch (static_cast<SpecialFolder>(folderId)) {
        case SpecialFolder::ProgramFiles:
            return nativeProgramFilesFolder();
        case SpecialFolder::ProgramFilesX86:
            return programFilesX86Folder();
        default:
            return specialFolderPath(static_cast<SpecialFolder>(folderId));
    }
}

}  // namespace tarn
