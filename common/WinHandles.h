// Owners of Windows resources: each closes its resource on every path.
#pragma once

#include <utility>

#include "platform/win.h"

namespace tarn {

// A movable owner of one resource value; Traits says what is invalid and how to close.
template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : m_value(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    T get() const { return m_value; }
    bool valid() const { return Traits::valid(m_value); }
    explicit operator bool() const { return valid(); }
    T release() { return std::exchange(m_value, Traits::invalid()); }
    void reset(T value = Traits::invalid()) {
        if (Traits::valid(m_value)) {
            Traits::close(m_value);
        }
        m_value = value;
    }
    // For functions that return the resource through an out-parameter.
    T* put() {
        reset();
        return &m_value;
    }

private:
    T m_value = Traits::invalid();
};

struct HandleTraits {
    static HANDLE invalid() { return nullptr; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueHandle = UniqueResource<HANDLE, HandleTraits>;

struct LocalMemoryTraits {
    static HLOCAL invalid() { return nullptr; }
    static bool valid(HLOCAL m) { return m != nullptr; }
    static void close(HLOCAL m) { ::LocalFree(m); }
};
using UniqueLocalMemory = UniqueResource<HLOCAL, LocalMemoryTraits>;

// An opened registry key; never a predefined key such as HKEY_LOCAL_MACHINE.
struct HKeyTraits {
    static HKEY invalid() { return nullptr; }
    static bool valid(HKEY key) { return key != nullptr; }
    static void close(HKEY key) { ::RegCloseKey(key); }
};
using UniqueHKey = UniqueResource<HKEY, HKeyTraits>;

// A library loaded at run time.
struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static bool valid(HMODULE module) { return module != nullptr; }
    static void close(HMODULE module) { ::FreeLibrary(module); }
};
using UniqueModule = UniqueResource<HMODULE, ModuleTraits>;

// A folder's change notification (FindFirstChangeNotificationW).
struct ChangeNotificationTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::FindCloseChangeNotification(h); }
};
using UniqueChangeNotification = UniqueResource<HANDLE, ChangeNotificationTraits>;

// A handle of the service control manager or of a service.
struct ServiceHandleTraits {
    static SC_HANDLE invalid() { return nullptr; }
    static bool valid(SC_HANDLE h) { return h != nullptr; }
    static void close(SC_HANDLE h) { ::CloseServiceHandle(h); }
};
using UniqueServiceHandle = UniqueResource<SC_HANDLE, ServiceHandleTraits>;

// Restores the thread's last error code on every path: logging and helpers that must not
// change GetLastError for their callers keep one of these for their duration.
class LastErrorKeeper {
public:
    LastErrorKeeper() : m_code(::GetLastError()) {}
    ~LastErrorKeeper() { ::SetLastError(m_code); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD m_code;
};

}  // namespace tarn
