// A registry key of its own for one test, removed with everything below it at the end, so that
// tests can run on a real machine (or under wine) next to each other.
#pragma once

#include <string>

#include "platform/win.h"

namespace tarn::test {

class TestRegistryKey {
public:
    // A fresh key below `parent` of `root` (e.g. HKEY_CURRENT_USER, L"Software"), in the view
    // that `viewFlags` selects.
    TestRegistryKey(HKEY root, const std::wstring& parent, REGSAM viewFlags = 0);
    ~TestRegistryKey();
    TestRegistryKey(const TestRegistryKey&) = delete;
    TestRegistryKey& operator=(const TestRegistryKey&) = delete;

    HKEY root() const { return m_root; }
    // The key's path below the root, and its last component.
    const std::wstring& path() const { return m_path; }
    const std::wstring& name() const { return m_name; }
    std::wstring sub(const std::wstring& relative) const { return m_path + L"\\" + relative; }

private:
    HKEY m_root;
    REGSAM m_view;
    std::wstring m_name;
    std::wstring m_path;
};

}  // namespace tarn::test
