// Turns the address text of a rule into the form that the Windows Firewall accepts: keywords in
// their canonical spelling, addresses, ranges and subnets checked, host names replaced by the
// addresses known for them. Items that cannot be turned into addresses are returned separately.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tarn {

class RuleHostAddressNormalizer {
public:
    // Host name to the address texts known for it (empty when there are none).
    using Resolver = std::function<std::vector<std::wstring>(const std::wstring& host)>;

    explicit RuleHostAddressNormalizer(Resolver resolver);
    virtual ~RuleHostAddressNormalizer() = default;

    // The normalised, sorted and duplicate-free list; `hostNames` receives every host name
    // looked up (in order, duplicates kept), `invalidAddresses` the items that failed, sorted
    // and joined with ",".
    virtual std::wstring normalizeHostAddresses(const std::wstring& addresses,
                                                std::vector<std::wstring>& hostNames,
                                                std::wstring& invalidAddresses) const;

    // One trimmed item into `good`; false when it is a host name without a usable address.
    virtual bool normalizeSingleHostAddress(const std::wstring& item, std::set<std::wstring>& good,
                                            std::vector<std::wstring>& hostNames) const;

private:
    Resolver m_resolver;
};

}  // namespace tarn
