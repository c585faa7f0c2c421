// Test-control side of the simulated registry.
//
// A fresh machine has the keys and values that every Windows machine has and that the system
// reads: HKLM\SOFTWARE, HKLM\SOFTWARE\WOW6432Node, HKLM\SYSTEM, HKU\.DEFAULT, HKU\S-1-5-18,
// the program-files folders under SOFTWARE\Microsoft\Windows\CurrentVersion (both views), the
// shell folders of the machine and of the system account, and the profile list entry of the
// system account.
//
// Paths here are physical: "HKLM\SOFTWARE\WOW6432Node\Tarn" names the 32-bit view's key, and
// nothing is redirected. Roots: HKLM, HKU, HKCU (the current account's key under HKU), HKCR,
// or their long names (HKEY_LOCAL_MACHINE, ...). Changes made here notify watchers as changes
// through the API do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::registry {

// The default: a 32-bit process on 64-bit Windows, as the product runs. false: a native 64-bit
// process, for which a call without view flag means the 64-bit view. The environment follows
// (ProgramFiles, CommonProgramFiles, PROCESSOR_ARCHITECTURE).
void setWow64Process(bool wow64);

// Key handles that are open now (leak checks).
size_t openKeyCount();

bool keyExists(std::wstring_view path);
// Also makes hives below HKU, as when another user logs on.
void createKey(std::wstring_view path);
void deleteTree(std::wstring_view path);  // the key and everything below it

// Creates the key when needed.
void setValue(std::wstring_view path, std::wstring_view name, uint32_t type,
              const std::vector<uint8_t>& data);
void setString(std::wstring_view path, std::wstring_view name, std::wstring_view value,
               uint32_t type = 1 /* REG_SZ */);
void setDword(std::wstring_view path, std::wstring_view name, uint32_t value);

struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};
std::optional<Value> value(std::wstring_view path, std::wstring_view name);
// The value's text without its terminating zero, when it is REG_SZ or REG_EXPAND_SZ.
std::optional<std::wstring> stringValue(std::wstring_view path, std::wstring_view name);
std::optional<uint32_t> dwordValue(std::wstring_view path, std::wstring_view name);

// Names of the subkeys, in the order RegEnumKeyExW gives them.
std::vector<std::wstring> subkeys(std::wstring_view path);

}  // namespace sim::registry
