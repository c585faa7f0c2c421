// Single registry values, one call per operation: each operation opens its key below the root
// with the access flags, makes its call and closes the key, so that no caller holds key handles.
// Operations return true on success and hand back the Win32 error code when asked; nothing is
// thrown or logged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win.h"

namespace tarn {

class Win32Registry {
public:
    // `accessFlags` selects the registry view: 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY.
    explicit Win32Registry(HKEY root = HKEY_LOCAL_MACHINE, REGSAM accessFlags = 0);
    virtual ~Win32Registry();
    Win32Registry(const Win32Registry&) = default;
    Win32Registry& operator=(const Win32Registry&) = default;

    virtual bool valueExists(const std::wstring& key, const std::wstring& name,
                             DWORD* error = nullptr) const;
    // REG_SZ or REG_EXPAND_SZ (not expanded); a missing terminating zero is tolerated.
    virtual bool readString(const std::wstring& key, const std::wstring& name, std::wstring& value,
                            DWORD* error = nullptr) const;
    virtual bool writeString(const std::wstring& key, const std::wstring& name,
                             const std::wstring& value, DWORD* error = nullptr) const;
    // REG_DWORD, or REG_NONE of four bytes.
    virtual bool readDword(const std::wstring& key, const std::wstring& name, DWORD& value,
                           DWORD* error = nullptr) const;
    virtual bool writeDword(const std::wstring& key, const std::wstring& name, DWORD value,
                            DWORD* error = nullptr) const;
    // REG_QWORD, or REG_NONE of eight bytes.
    virtual bool readQword(const std::wstring& key, const std::wstring& name, uint64_t& value,
                           DWORD* error = nullptr) const;
    virtual bool writeQword(const std::wstring& key, const std::wstring& name, uint64_t value,
                            DWORD* error = nullptr) const;
    virtual bool readMultiString(const std::wstring& key, const std::wstring& name,
                                 std::vector<std::wstring>& value, DWORD* error = nullptr) const;
    // Empty strings cannot be stored in a REG_MULTI_SZ (they end it) and are left out.
    virtual bool writeMultiString(const std::wstring& key, const std::wstring& name,
                                  const std::vector<std::wstring>& value,
                                  DWORD* error = nullptr) const;
    virtual bool readBinary(const std::wstring& key, const std::wstring& name,
                            std::vector<uint8_t>& value, DWORD* error = nullptr) const;
    virtual bool writeBinary(const std::wstring& key, const std::wstring& name,
                             const std::vector<uint8_t>& value, DWORD* error = nullptr) const;
    // Any type, with its type.
    virtual bool readRaw(const std::wstring& key, const std::wstring& name, DWORD& type,
                         std::vector<uint8_t>& data, DWORD* error = nullptr) const;
    virtual bool deleteValue(const std::wstring& key, const std::wstring& name,
                             DWORD* error = nullptr) const;
    virtual bool keyExists(const std::wstring& key, DWORD* error = nullptr) const;
    // Creates the key and every missing key above it.
    virtual bool createKey(const std::wstring& key, DWORD* error = nullptr) const;
    // Only a key without subkeys.
    virtual bool deleteKey(const std::wstring& key, DWORD* error = nullptr) const;
    virtual bool deleteKeyTree(const std::wstring& key, DWORD* error = nullptr) const;
    virtual bool listSubkeys(const std::wstring& key, std::vector<std::wstring>& names,
                             DWORD* error = nullptr) const;
    virtual bool listValues(const std::wstring& key, std::vector<std::wstring>& names,
                            DWORD* error = nullptr) const;
    virtual void setRootKey(HKEY root);
    virtual void setAccessFlags(REGSAM accessFlags);

    // Narrow key and value names (ANSI code page), forwarded to the wide operations.
    bool valueExists(const std::string& key, const std::string& name, DWORD* error = nullptr) const;
    bool readString(const std::string& key, const std::string& name, std::wstring& value,
                    DWORD* error = nullptr) const;
    bool writeString(const std::string& key, const std::string& name, const std::wstring& value,
                     DWORD* error = nullptr) const;
    bool readDword(const std::string& key, const std::string& name, DWORD& value,
                   DWORD* error = nullptr) const;
    bool writeDword(const std::string& key, const std::string& name, DWORD value,
                    DWORD* error = nullptr) const;
    bool readQword(const std::string& key, const std::string& name, uint64_t& value,
                   DWORD* error = nullptr) const;
    bool writeQword(const std::string& key, const std::string& name, uint64_t value,
                    DWORD* error = nullptr) const;
    bool readMultiString(const std::string& key, const std::string& name,
                         std::vector<std::wstring>& value, DWORD* error = nullptr) const;
    bool writeMultiString(const std::string& key, const std::string& name,
                          const std::vector<std::wstring>& value, DWORD* error = nullptr) const;
    bool readBinary(const std::string& key, const std::string& name, std::vector<uint8_t>& value,
                    DWORD* error = nullptr) const;
    bool writeBinary(const std::string& key, const std::string& name,
                     const std::vector<uint8_t>& value, DWORD* error = nullptr) const;
    bool readRaw(const std::string& key, const std::string& name, DWORD& type,
                 std::vector<uint8_t>& data, DWORD* error = nullptr) const;
    bool deleteValue(const std::string& key, const std::string& name, DWORD* error = nullptr) const;
    bool keyExists(const std::string& key, DWORD* error = nullptr) const;
    bool createKey(const std::string& key, DWORD* error = nullptr) const;
    bool deleteKey(const std::string& key, DWORD* error = nullptr) const;
    bool deleteKeyTree(const std::string& key, DWORD* error = nullptr) const;
    bool listSubkeys(const std::string& key, std::vector<std::wstring>& names,
                     DWORD* error = nullptr) const;
    bool listValues(const std::string& key, std::vector<std::wstring>& names,
                    DWORD* error = nullptr) const;

    HKEY rootKey() const { return m_root; }
    REGSAM accessFlags() const { return m_accessFlags; }

private:
    // Opens `key` with `access` plus the view flags and runs `call` on it.
    template <class Call>
    bool withKey(const std::wstring& key, REGSAM access, DWORD* error, Call&& call) const;
    // The value's type and bytes, growing the buffer while the value does not fit.
    bool query(const std::wstring& key, const std::wstring& name, DWORD& type,
               std::vector<uint8_t>& data, DWORD* error) const;
    bool set(const std::wstring& key, const std::wstring& name, DWORD type, const void* data,
             size_t size, DWORD* error) const;
    bool readNumber(const std::wstring& key, const std::wstring& name, DWORD numberType,
                    void* value, size_t size, DWORD* error) const;

    HKEY m_root;
    REGSAM m_accessFlags;
};

}  // namespace tarn
