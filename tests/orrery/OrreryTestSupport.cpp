#include "tests/orrery/OrreryTestSupport.h"

#include <gtest/gtest.h>

#include "common/CommandLine.h"
#include "platform/win.h"

namespace tarn::test {

StoreRoot::StoreRoot() {
    SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", m_folder.path().c_str());
}

StoreRoot::~StoreRoot() {
    SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", nullptr);
}

UniqueOrreryHandle StoreRoot::open(const std::wstring& nameSpace) const {
    int err = -1;
    UniqueOrreryHandle handle(PyxOrrery_OpenHandle(nameSpace.c_str(), L"S-1-5-18", L"tests", &err));
    EXPECT_TRUE(handle);
    EXPECT_EQ(err, PYX_ORRERY_OK);
    return handle;
}

std::optional<std::string> storedJson(PyxOrreryHandle store, const std::wstring& key) {
    const UniqueOrreryObject object(PyxOrrery_GetObject(store, key.c_str(), nullptr));
    if (!object) {
        return std::nullopt;
    }
    const UniqueOrreryString text(PyxOrrery_ObjectToStringUtf8(object.get()));
    return std::string(static_cast<const char*>(text.get()));
}

void WINAPI ChangeCollector::callback(const wchar_t* key, const void*, const void*, void* context) {
    auto* self = static_cast<ChangeCollector*>(context);
    std::lock_guard lock(self->m_mutex);
    self->m_keys.emplace_back(key);
    self->m_arrived.notify_all();
}

bool ChangeCollector::waitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_keys.size() >= count; });
}

std::vector<std::wstring> ChangeCollector::keys() const {
    std::lock_guard lock(m_mutex);
    return m_keys;
}

void ChangeCollector::clear() {
    std::lock_guard lock(m_mutex);
    m_keys.clear();
}

std::wstring programBeside(const std::wstring& name) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring self(path, length);
    const size_t slash = self.find_last_of(L"\\/");
    // Without an extension: Windows adds ".exe" to the program of a command line.
    return self.substr(0, slash + 1) + name;
}

UniqueHandle startProgram(const std::wstring& name, const std::vector<std::wstring>& args) {
    std::wstring line = L"\"" + programBeside(name) + L"\"";
    for (const auto& arg : args) {
        line += L" " + tarn::quoteArgument(arg);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
        return {};
    }
    CloseHandle(info.hThread);
    return UniqueHandle(info.hProcess);
}

DWORD runProgram(const std::wstring& name, const std::vector<std::wstring>& args, DWORD timeoutMs) {
    const UniqueHandle process = startProgram(name, args);
    if (!process || WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        return ~0u;
    }
    DWORD code = ~0u;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

}  // namespace tarn::test
