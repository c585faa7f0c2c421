// Hears of every changed key of the firewall policy and status.
#pragma once

#include <string>

class FWSettingsDelegate {
public:
    // Called on the store's callback thread (or a trigger's, or the DNS cache's), without the
    // provider's lock: an implementation may call back into the provider, and should return
    // soon.
    virtual void onFWSettingChanged(const std::wstring& key) = 0;
    virtual ~FWSettingsDelegate() = default;
};
