#include "tests/support/TestRegistryKey.h"

#include <atomic>
#include <stdexcept>

#include "common/WinHandles.h"

namespace tarn::test {

TestRegistryKey::TestRegistryKey(HKEY root, const std::wstring& parent, REGSAM viewFlags)
    : m_root(root), m_view(viewFlags) {
    static std::atomic<unsigned> counter{0};
    m_name = L"TarnTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount64() % 1000000) + L"-" + std::to_wstring(counter++);
    m_path = parent + L"\\" + m_name;
    UniqueHKey key;
    if (RegCreateKeyExW(m_root, m_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | m_view, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create the test's registry key");
    }
}

TestRegistryKey::~TestRegistryKey() {
    UniqueHKey key;
    if (RegOpenKeyExW(m_root, m_path.c_str(), 0, KEY_ALL_ACCESS | m_view, key.put()) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(key.get(), nullptr);
        RegDeleteKeyW(key.get(), L"");
    }
}

}  // namespace tarn::test
