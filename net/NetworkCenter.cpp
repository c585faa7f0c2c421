#include "net/NetworkCenter.h"

#include <cstring>

#include "common/exceptions/ErrorCodeException.h"

namespace tarn::net {

namespace detail {

namespace {

constexpr ULONG kFirstBufferSize = 15360;
// GAA_FLAG_SKIP_ANYCAST | _SKIP_MULTICAST | _SKIP_FRIENDLY_NAME | _INCLUDE_WINS_INFO |
// _INCLUDE_GATEWAYS.
constexpr ULONG kAdapterFlags = 0xE6;

// The lines that the failures report are part of the logged texts that support matches on:
// they stay the same whatever happens to this file.
constexpr int32_t kAdaptersFailedLine = 55;
constexpr int32_t kParamsSizeFailedLine = 70;
constexpr int32_t kParamsFailedLine = 75;

}  // namespace

std::vector<IPAdapter> NetworkCenterImpl::retrieveAdaptersInfo(
    const std::function<bool(const IPAdapter&)>& predicate) const {
    std::vector<IPAdapter> kept;
    for (auto& adapter : retrieveAdaptersInfo()) {
        if (predicate(adapter)) {
            kept.push_back(std::move(adapter));
        }
    }
    return kept;
}

std::vector<IPAdapter> WinNetworkCenter::retrieveAdaptersInfo() const {
    // 8-byte units: the records hold 64-bit members.
    ULONG size = kFirstBufferSize;
    std::vector<uint64_t> buffer(size / sizeof(uint64_t));
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG result = GetAdaptersAddresses(AF_INET, kAdapterFlags, nullptr, first, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.assign((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
        first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        result = GetAdaptersAddresses(AF_INET, kAdapterFlags, nullptr, first, &size);
    }
    if (result != ERROR_SUCCESS) {
        throw Win32Exception(result, nullptr,
                             L"tarn::net::detail::WinNetworkCenter::retrieveAdaptersInfo",
                             L"NetworkCenter", kAdaptersFailedLine);
    }
    std::vector<IPAdapter> adapters;
    for (const IP_ADAPTER_ADDRESSES* record = first; record != nullptr; record = record->Next) {
        adapters.emplace_back(std::make_shared<WinIpV4Adapter>(*record));
    }
    return adapters;
}

NetworkParams WinNetworkCenter::retrieveNetworkInfo() const {
    constexpr const wchar_t* kFunction =
        L"tarn::net::detail::WinNetworkCenter::retrieveNetworkInfo";
    ULONG size = 0;
    if (GetNetworkParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW) {
        throw Win32Exception(GetLastError(), nullptr, kFunction, L"NetworkCenter",
                             kParamsSizeFailedLine);
    }
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (const DWORD result = GetNetworkParams(info, &size); result != ERROR_SUCCESS) {
        throw Win32Exception(result, nullptr, kFunction, L"NetworkCenter", kParamsFailedLine);
    }
    return NetworkParams(std::make_shared<WinNetworkParams>(*info));
}

}  // namespace detail

NetworkCenter::NetworkCenter() : m_impl(std::make_shared<detail::WinNetworkCenter>()) {}

std::vector<IPAdapter> NetworkCenter::getAdapters(bool onlyUsable) const {
    if (!onlyUsable) {
        return m_impl->retrieveAdaptersInfo();
    }
    return m_impl->retrieveAdaptersInfo(
        [](const IPAdapter& adapter) { return adapter.isUsable(); });
}

}  // namespace tarn::net
