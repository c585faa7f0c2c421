#include "net/NetworkParams.h"

#include "common/Str.h"

namespace tarn::net::detail {

WinNetworkParams::WinNetworkParams(const FIXED_INFO& info)
    : m_hostName(info.HostName), m_domainName(info.DomainName) {
    // The first entry is embedded in the record, the others follow its chain.
    for (const IP_ADDR_STRING* entry = &info.DnsServerList; entry != nullptr; entry = entry->Next) {
        m_dnsServers.push_back(IPAddress::create(str::toUnicode(entry->IpAddress.String)));
    }
}

}  // namespace tarn::net::detail
