#include "profile_selection/LanshareParamsResolver.h"

#include "common/Str.h"
#include "common/logging/Log.h"
#include "platform/win.h"
#include "profile_selection/SelectionConditions.h"

void LanshareParamsResolver::resolve(const std::vector<std::wstring>& networks, bool& ok,
                                     std::wstring& subnet) const {
    ok = false;
    subnet.clear();
    if ((!m_settings.serverEnabled && !m_settings.clientEnabled) || m_settings.port < 0 ||
        networks.empty()) {
        return;
    }
    const std::wstring& discovery = m_settings.discoveryAddress;
    if (discovery.empty() || discovery == L"255.255.255.255") {
        ok = true;
        return;
    }
    for (const auto& network : networks) {
        if (!matchRangeList(network, discovery)) {
            continue;
        }
        const auto ends = tarn::str::split(network, L' ');
        if (ends.size() != 2) {
            return;
        }
        ok = true;
        subnet = discovery == ends[1] ? shrinkRange(ends[0], ends[1]) : discovery;
        return;
    }
}

std::wstring LanshareParamsResolver::hardChangeAddressByOne(bool increment,
                                                            const std::wstring& address) {
    IN_ADDR parsed{};
    if (InetPtonW(AF_INET, address.c_str(), &parsed) != 1) {
        TARN_LOG(TarnPyxLogging::LevelError) << "InetPtonW failed: " << WSAGetLastError();
        return address;
    }
    if (parsed.S_un.S_addr == 0xFFFFFFFF) {
        TARN_LOG(TarnPyxLogging::LevelError) << "InetPtonW failed. Integer address is invalid";
        return address;
    }
    const auto& b = parsed.S_un.S_un_b;
    uint32_t value = static_cast<uint32_t>(b.s_b1) << 24 | static_cast<uint32_t>(b.s_b2) << 16 |
                     static_cast<uint32_t>(b.s_b3) << 8 | b.s_b4;
    if (increment) {
        ++value;
    } else if (value == 0) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "We can't decrement 0.0.0.0 address";
        return address;
    } else {
        --value;
    }
    IN_ADDR changed{};
    changed.S_un.S_un_b = {static_cast<UCHAR>(value >> 24), static_cast<UCHAR>(value >> 16),
                           static_cast<UCHAR>(value >> 8), static_cast<UCHAR>(value)};
    wchar_t text[22] = {};
    if (InetNtopW(AF_INET, &changed, text, 22) == nullptr) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "InetNtopW failed: " << WSAGetLastError();
        return address;
    }
    return text;
}

std::wstring shrinkRange(const std::wstring& first, const std::wstring& last) {
    return LanshareParamsResolver::hardChangeAddressByOne(true, first) + L" " +
           LanshareParamsResolver::hardChangeAddressByOne(false, last);
}
