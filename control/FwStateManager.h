// The six per-profile switches of the Windows Firewall's three network profiles: saved when
// management begins, set as the policy dictates, restored when management ends.
#pragma once

#include <memory>

#include "control/FWNetworkDefaultsSettings.h"
#include "platform/win.h"
#include "rules/FwPolicyHolder.h"
#include "settings/FWCurrentSettings.h"
#include "settings/IFWSettingsProvider.h"

class FwStateManager {
public:
    // `current` belongs to the controller, which keeps it up to date.
    FwStateManager(std::shared_ptr<IFWSettingsProvider> provider,
                   std::shared_ptr<FwPolicyHolder> policy, const FWCurrentSettings* current);
    virtual ~FwStateManager() = default;
    FwStateManager(const FwStateManager&) = delete;
    FwStateManager& operator=(const FwStateManager&) = delete;

    virtual void applyNetworkSettings(const FWCurrentSettings& settings);
    virtual void restoreNetworkSettings();

private:
    void saveNetworkSettings();
    void applyDefaultNetworkSettings(NET_FW_PROFILE_TYPE2 profile,
                                     const FWProfileDefaults& defaults, bool applying);

    std::shared_ptr<FwPolicyHolder> m_policy;
    std::shared_ptr<IFWSettingsProvider> m_provider;
    const FWCurrentSettings* m_current;
};

using BoolProfileGetter = HRESULT (STDMETHODCALLTYPE INetFwPolicy2::*)(NET_FW_PROFILE_TYPE2,
                                                                       VARIANT_BOOL*);
using ActionProfileGetter = HRESULT (STDMETHODCALLTYPE INetFwPolicy2::*)(NET_FW_PROFILE_TYPE2,
                                                                         NET_FW_ACTION*);
// One property of one profile as the record's boolean: whether it equals `expected` (or is
// "allow" for an action); `fallback` when there is no policy or the read fails.
bool getSettingFromWinFirewall(INetFwPolicy2* policy, NET_FW_PROFILE_TYPE2 profile,
                               BoolProfileGetter getter, const char* getterName,
                               VARIANT_BOOL expected, bool fallback);
bool getSettingFromWinFirewall(INetFwPolicy2* policy, NET_FW_PROFILE_TYPE2 profile,
                               ActionProfileGetter getter, const char* getterName, bool fallback);
