// Reading a Windows rule into the rule record.
#include "platform/win.h"
#include "rules/ComSupport.h"
#include "settings/FWRule.h"

namespace {

using BstrGetter = HRESULT (STDMETHODCALLTYPE INetFwRule::*)(BSTR*);
struct StringField {
    BstrGetter get;
    std::wstring FWRule::*field;
};
const StringField kStringFields[] = {
    {&INetFwRule::get_Name, &FWRule::name},
    {&INetFwRule::get_Description, &FWRule::description},
    {&INetFwRule::get_ApplicationName, &FWRule::applicationPath},
    {&INetFwRule::get_ServiceName, &FWRule::serviceName},
    {&INetFwRule::get_LocalPorts, &FWRule::localPorts},
    {&INetFwRule::get_RemotePorts, &FWRule::remotePorts},
    {&INetFwRule::get_LocalAddresses, &FWRule::localAddresses},
    {&INetFwRule::get_RemoteAddresses, &FWRule::remoteAddresses},
    {&INetFwRule::get_IcmpTypesAndCodes, &FWRule::icmpTypesAndCodes},
    {&INetFwRule::get_InterfaceTypes, &FWRule::interfaceTypes},
    {&INetFwRule::get_Grouping, &FWRule::grouping},
};

using Bstr3Getter = HRESULT (STDMETHODCALLTYPE INetFwRule3::*)(BSTR*);
struct String3Field {
    Bstr3Getter get;
    std::wstring FWRule::*field;
};
const String3Field kRule3Fields[] = {
    {&INetFwRule3::get_LocalAppPackageId, &FWRule::applicationPackageId},
    {&INetFwRule3::get_LocalUserOwner, &FWRule::localUserOwner},
};

}  // namespace

bool FWRule::init(INetFwRule* rule) {
    bool complete = true;
    auto check = [&complete](HRESULT hr) {
        complete = complete && SUCCEEDED(hr);
        return SUCCEEDED(hr);
    };
    VARIANT_BOOL flag = VARIANT_FALSE;
    check(rule->get_Enabled(&flag));
    enabled = flag == VARIANT_TRUE;
    flag = VARIANT_FALSE;
    check(rule->get_EdgeTraversal(&flag));
    edgeTraversal = flag == VARIANT_TRUE;
    for (const StringField& f : kStringFields) {
        tarn::UniqueBstr value;
        // Windows answers a null string for an empty property.
        this->*f.field = check((rule->*f.get)(value.put())) && value ? tarn::toWide(value.get())
                                                                     : std::wstring(L"error");
    }
    tarn::ComPtr<INetFwRule3> rule3;
    const HRESULT hr3 = tarn::queryInterface(rule, rule3);
    if (hr3 != E_NOINTERFACE) {
        check(hr3);
    }
    if (SUCCEEDED(hr3) && rule3) {
        for (const String3Field& f : kRule3Fields) {
            tarn::UniqueBstr value;
            this->*f.field = check((rule3.get()->*f.get)(value.put())) && value
                                 ? tarn::toWide(value.get())
                                 : std::wstring();
        }
    }
    LONG value = 0;
    check(rule->get_Protocol(&value));
    protocol = value;
    NET_FW_ACTION fwAction = NET_FW_ACTION_ALLOW;
    check(rule->get_Action(&fwAction));
    action = fwAction == NET_FW_ACTION_BLOCK ? Action::Block : Action::Allow;
    NET_FW_RULE_DIRECTION fwDirection = NET_FW_RULE_DIR_IN;
    check(rule->get_Direction(&fwDirection));
    direction = fwDirection == NET_FW_RULE_DIR_IN ? Direction::In : Direction::Out;
    LONG profiles = 0;
    check(rule->get_Profiles(&profiles));
    if (profiles == NetworkDomain || profiles == NetworkPrivate || profiles == NetworkPublic) {
        networkType = profiles;
    } else if (profiles == NET_FW_PROFILE2_ALL) {
        networkType = NetworkAll;
    }
    return complete;
}
