// Which subnet the Lanshare allow rules admit: the host network that the discovery address
// belongs to, or the discovery address itself.
#pragma once

#include <string>
#include <vector>

#include "profile_selection/LanshareSettings.h"

class LanshareParamsResolver {
public:
    explicit LanshareParamsResolver(LanshareSettings settings) : m_settings(std::move(settings)) {}
    virtual ~LanshareParamsResolver() = default;

    // `networks` as the network snapshot writes them ("first last"). Not ok: no side enabled,
    // a negative port, no network, or no network holding the discovery address (which may be
    // a pattern list). Ok with an empty subnet: no discovery address, or the limited
    // broadcast address. Ok otherwise with the network's host range when the discovery address
    // is the network's broadcast address, else the discovery address.
    virtual void resolve(const std::vector<std::wstring>& networks, bool& ok,
                         std::wstring& subnet) const;

    // The IPv4 address one above or below; the address unchanged (and logged) when it cannot
    // be read, is 255.255.255.255, or is 0.0.0.0 to decrement.
    static std::wstring hardChangeAddressByOne(bool increment, const std::wstring& address);

private:
    LanshareSettings m_settings;
};

// The hosts of a network: one above `first` to one below `last`, joined by one space.
std::wstring shrinkRange(const std::wstring& first, const std::wstring& last);
