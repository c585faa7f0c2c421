// Finds the product namespace that a module belongs to. Several installations of the product
// can live side by side, each under its own namespace name; the name selects the installation's
// registry keys ("SOFTWARE\Tarn\NS\<name>\...").
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/win.h"

namespace tarn {

class NamespaceResolver {
public:
    NamespaceResolver() = default;
    virtual ~NamespaceResolver() = default;
    NamespaceResolver(const NamespaceResolver&) = delete;
    NamespaceResolver& operator=(const NamespaceResolver&) = delete;

    // The namespace of `module` (null: the process's executable); empty when none is found.
    // A found name is kept and returned by later calls; an empty one is looked for again.
    std::wstring getNamespace(HMODULE module = nullptr);

    // The resolution itself for a module's full path, without the kept result.
    std::wstring resolve(const std::wstring& modulePath);

    // Installed namespaces: name -> install path with a trailing backslash.
    virtual std::map<std::wstring, std::wstring> installedNamespaces();
    // The first name found in a namespace file of `directory` or of its parents, up to and
    // including `lastDirectory`; empty when none.
    virtual std::wstring findNamespaceFileUpward(const std::wstring& directory,
                                                 const std::wstring& lastDirectory);
    // The name in "namespace.txt" of `directory` (UTF-16 with byte-order mark); empty when none.
    virtual std::wstring readNamespaceFile(const std::wstring& directory);
    virtual std::wstring nativeProgramFilesFolder();
    virtual std::wstring programFilesX86Folder();
    // Whether `path` lies below the special folder `folderId` (a tarn::SpecialFolder number).
    virtual bool isUnderFolder(const std::wstring& path, int folderId);

private:
    std::wstring folderPath(int folderId);
    std::wstring fromNamespaceFiles(const std::wstring& modulePath);

    std::mutex m_mutex;
    std::wstring m_namespace;
};

}  // namespace tarn
