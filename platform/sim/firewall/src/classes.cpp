// The simulated firewall's classes, as CoCreateInstance of the simulated machine finds them.
#include "sim/com_control.h"
#include "sim/firewall_control.h"
#include "sim/win/firewall.h"

const IID IID_INetFwRule = simUuidOf<INetFwRule>();
const IID IID_INetFwRule2 = simUuidOf<INetFwRule2>();
const IID IID_INetFwRule3 = simUuidOf<INetFwRule3>();
const IID IID_INetFwRules = simUuidOf<INetFwRules>();
const IID IID_INetFwPolicy2 = simUuidOf<INetFwPolicy2>();
const CLSID CLSID_NetFwPolicy2 = simUuidOf<NetFwPolicy2>();
const CLSID CLSID_NetFwRule = simUuidOf<NetFwRule>();

namespace {

// Answers a new object as `riid`, dropping the creation reference.
template <class Interface>
HRESULT answerAs(Interface* object, REFIID riid, void** result) {
    const HRESULT hr = object->QueryInterface(riid, result);
    object->Release();
    return hr;
}

[[maybe_unused]] const bool registered = [] {
    sim::com::registerClass(CLSID_NetFwPolicy2, [](REFIID riid, void** object) {
        return answerAs(sim::firewall::createPolicy(), riid, object);
    });
    sim::com::registerClass(CLSID_NetFwRule, [](REFIID riid, void** object) {
        return answerAs(sim::firewall::createRule(), riid, object);
    });
    return true;
}();

}  // namespace
