#include "tools/carrier/CarrierHost.h"

#include <cstring>
#include <map>
#include <mutex>

namespace tarn::carrier {

namespace {

// The release function gets only the string back, so the strings handed out are kept per
// process, by address.
struct HandedOut {
    std::mutex mutex;
    std::map<const wchar_t*, std::unique_ptr<wchar_t[]>> strings;
};

HandedOut& handedOut() {
    static HandedOut strings;
    return strings;
}

}  // namespace

CarrierHost::CarrierHost(std::wstring namespaceName)
    : m_namespaceName(std::move(namespaceName)),
      m_mainEnded(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    m_interface.hostContext = this;
    m_interface.getNamespaceName = &CarrierHost::getNamespaceName;
    m_interface.releaseString = &CarrierHost::releaseString;
}

CarrierHost::~CarrierHost() {
    if (m_mainThread.joinable()) {
        stop();
        m_mainThread.join();
    }
    destroy();
}

const wchar_t* WINAPI CarrierHost::getNamespaceName(void* hostContext) {
    const std::wstring& name = static_cast<CarrierHost*>(hostContext)->m_namespaceName;
    auto copy = std::make_unique<wchar_t[]>(name.size() + 1);
    std::wmemcpy(copy.get(), name.c_str(), name.size() + 1);
    const wchar_t* text = copy.get();
    auto& strings = handedOut();
    const std::lock_guard lock(strings.mutex);
    strings.strings.emplace(text, std::move(copy));
    return text;
}

void WINAPI CarrierHost::releaseString(const wchar_t* text) {
    auto& strings = handedOut();
    const std::lock_guard lock(strings.mutex);
    strings.strings.erase(text);
}

size_t CarrierHost::stringsHandedOut() {
    auto& strings = handedOut();
    const std::lock_guard lock(strings.mutex);
    return strings.strings.size();
}

bool CarrierHost::load(const std::wstring& libraryPath, std::string& error) {
    m_library.reset(LoadLibraryW(libraryPath.c_str()));
    if (!m_library) {
        error = "cannot load the plug-in library (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    const auto create = reinterpret_cast<CarrierPluginCreateContextFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_library.get(), kCarrierPluginCreateContext)));
    if (create == nullptr) {
        error = std::string("the library has no ") + kCarrierPluginCreateContext;
        return false;
    }
    if (create(&m_table, sizeof m_table) != &m_table || m_table.plugin == nullptr) {
        error = "the plug-in did not fill its function table";
        return false;
    }
    return true;
}

uint32_t CarrierHost::initialize() {
    return m_table.initialize(m_table.plugin, &m_interface);
}

void CarrierHost::startMain() {
    m_mainThread = std::thread([this] {
        m_mainResult = m_table.main(m_table.plugin, 0);
        SetEvent(m_mainEnded.get());
    });
}

void CarrierHost::stop() {
    if (m_table.plugin != nullptr) {
        m_table.stop(m_table.plugin);
    }
}

bool CarrierHost::waitForMain(DWORD timeoutMs) {
    if (!m_mainThread.joinable()) {
        return true;
    }
    if (WaitForSingleObject(m_mainEnded.get(), timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    m_mainThread.join();
    return true;
}

void CarrierHost::destroy() {
    if (m_table.plugin != nullptr) {
        m_table.destroy(m_table.plugin);
        m_table.plugin = nullptr;
    }
}

}  // namespace tarn::carrier
