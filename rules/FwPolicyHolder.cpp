#include "rules/FwPolicyHolder.h"

#include "common/logging/Log.h"
#include "rules/ComErrors.h"

INetFwPolicy2* FwPolicyHolder::initializeFwPolicy() {
    INetFwPolicy2* policy = nullptr;
    const HRESULT hr =
        ::CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                           __uuidof(INetFwPolicy2), reinterpret_cast<void**>(&policy));
    if (FAILED(hr)) {
        TARN_LOG(TarnPyxLogging::LevelError)
            << "CoCreateInstance for INetFwPolicy2 failed: " << static_cast<long>(hr);
        return nullptr;
    }
    return policy;
}

bool FwPolicyHolder::pingFwPolicyInterface() {
    if (!m_fwPolicy) {
        return false;
    }
    VARIANT_BOOL enabled = VARIANT_FALSE;
    const HRESULT hr = m_fwPolicy.get()->get_FirewallEnabled(NET_FW_PROFILE2_PUBLIC, &enabled);
    // Only these mean that the service behind the interface is gone.
    switch (static_cast<uint32_t>(hr)) {
        case 0x800706D9u:
        case 0x80070006u:
        case 0x800706B5u:
        case 0x8007045Bu:
            TARN_LOG(TarnPyxLogging::LevelWarning)
                << "get_FirewallEnabled returned: " << tarn::describeError(HRESULT_CODE(hr));
            return false;
        default:
            return true;
    }
}

bool FwPolicyHolder::beSureThatInterfaceIsAlive(bool serviceRunning) {
    if (m_fwPolicy) {
        if (!serviceRunning || !pingFwPolicyInterface()) {
            TARN_LOG(TarnPyxLogging::LevelWarning) << "m_fwPolicy is not alive, release";
            release();
        }
        if (m_fwPolicy) {
            return true;
        }
    }
    if (!serviceRunning) {
        return false;
    }
    m_fwPolicy.reset(initializeFwPolicy());
    if (m_fwPolicy && !pingFwPolicyInterface()) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "m_fwPolicy is not alive, release";
        release();
    }
    return static_cast<bool>(m_fwPolicy);
}
