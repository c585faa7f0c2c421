// The one INetFwPolicy2 interface of the rule engine and the profile defaults, kept alive
// across firewall service restarts: a dead interface is dropped and made anew.
#pragma once

#include "platform/win.h"
#include "rules/ComSupport.h"

class FwPolicyHolder {
public:
    FwPolicyHolder() = default;
    virtual ~FwPolicyHolder() = default;
    FwPolicyHolder(const FwPolicyHolder&) = delete;
    FwPolicyHolder& operator=(const FwPolicyHolder&) = delete;

    // Whether the holder has a live interface afterwards; none is made while the firewall
    // service is not running.
    virtual bool beSureThatInterfaceIsAlive(bool serviceRunning);
    // A new policy object with one reference, or null.
    virtual INetFwPolicy2* initializeFwPolicy();

    // False when the interface is missing or the service behind it is gone.
    bool pingFwPolicyInterface();
    // The held interface (no reference added), or null.
    INetFwPolicy2* policy() const { return m_fwPolicy.get(); }

private:
    void release() { m_fwPolicy.reset(); }

    tarn::ComPtr<INetFwPolicy2> m_fwPolicy;
};
