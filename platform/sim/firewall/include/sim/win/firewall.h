// Simulated Windows: the Windows Firewall COM API (netfw.h): the policy, the rule collection
// and the rules, with the SDK's names, values, identifiers and method order.
#pragma once

#include "sim/win/com.h"

typedef enum NET_FW_PROFILE_TYPE2_ {
    NET_FW_PROFILE2_DOMAIN = 0x1,
    NET_FW_PROFILE2_PRIVATE = 0x2,
    NET_FW_PROFILE2_PUBLIC = 0x4,
    NET_FW_PROFILE2_ALL = 0x7fffffff
} NET_FW_PROFILE_TYPE2;
typedef enum NET_FW_IP_PROTOCOL_ {
    NET_FW_IP_PROTOCOL_TCP = 6,
    NET_FW_IP_PROTOCOL_UDP = 17
} NET_FW_IP_PROTOCOL;
typedef enum NET_FW_RULE_DIRECTION_ {
    NET_FW_RULE_DIR_IN = 1,
    NET_FW_RULE_DIR_OUT = 2,
    NET_FW_RULE_DIR_MAX = 3
} NET_FW_RULE_DIRECTION;
typedef enum NET_FW_ACTION_ {
    NET_FW_ACTION_BLOCK = 0,
    NET_FW_ACTION_ALLOW = 1,
    NET_FW_ACTION_MAX = 2
} NET_FW_ACTION;
typedef enum NET_FW_MODIFY_STATE_ {
    NET_FW_MODIFY_STATE_OK = 0,
    NET_FW_MODIFY_STATE_GP_OVERRIDE = 1,
    NET_FW_MODIFY_STATE_INBOUND_BLOCKED = 2
} NET_FW_MODIFY_STATE;

// Not offered by the simulated firewall; declared for the policy's method table.
interface INetFwServiceRestriction;

interface INetFwRule : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Name(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR* desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Description(BSTR desc) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* imagename) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR imagename) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR* service) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ServiceName(BSTR service) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Protocol(LONG* protocol) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Protocol(LONG protocol) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalPorts(BSTR* ports) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LocalPorts(BSTR ports) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RemotePorts(BSTR* ports) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RemotePorts(BSTR ports) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalAddresses(BSTR* address) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LocalAddresses(BSTR address) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RemoteAddresses(BSTR* address) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RemoteAddresses(BSTR address) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IcmpTypesAndCodes(BSTR* codes) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IcmpTypesAndCodes(BSTR codes) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Direction(NET_FW_RULE_DIRECTION* dir) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Direction(NET_FW_RULE_DIRECTION dir) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT* interfaces) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Interfaces(VARIANT interfaces) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InterfaceTypes(BSTR* types) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_InterfaceTypes(BSTR types) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Grouping(BSTR* context) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Grouping(BSTR context) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Profiles(LONG* profiles) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Profiles(LONG profiles) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_EdgeTraversal(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_EdgeTraversal(VARIANT_BOOL enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Action(NET_FW_ACTION* action) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Action(NET_FW_ACTION action) = 0;

protected:
    ~INetFwRule() = default;
};
__CRT_UUID_DECL(INetFwRule, 0xaf230d27, 0xbaba, 0x4e42, 0xac, 0xed, 0xf5, 0x24, 0xf2, 0x2c, 0xfc,
                0xe2)

interface INetFwRule2 : public INetFwRule {
    virtual HRESULT STDMETHODCALLTYPE get_EdgeTraversalOptions(LONG* lOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_EdgeTraversalOptions(LONG lOptions) = 0;

protected:
    ~INetFwRule2() = default;
};
__CRT_UUID_DECL(INetFwRule2, 0x9c27c8da, 0x189b, 0x4dde, 0x89, 0xf7, 0x8b, 0x39, 0xa3, 0x16, 0x78,
                0x2c)

interface INetFwRule3 : public INetFwRule2 {
    virtual HRESULT STDMETHODCALLTYPE get_LocalAppPackageId(BSTR* wszPackageId) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LocalAppPackageId(BSTR wszPackageId) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalUserOwner(BSTR* wszUserOwner) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LocalUserOwner(BSTR wszUserOwner) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalUserAuthorizedList(BSTR* wszUserAuthList) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LocalUserAuthorizedList(BSTR wszUserAuthList) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RemoteUserAuthorizedList(BSTR* wszUserAuthList) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RemoteUserAuthorizedList(BSTR wszUserAuthList) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RemoteMachineAuthorizedList(BSTR* wszUserAuthList) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_RemoteMachineAuthorizedList(BSTR wszUserAuthList) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SecureFlags(LONG* lOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SecureFlags(LONG lOptions) = 0;

protected:
    ~INetFwRule3() = default;
};
__CRT_UUID_DECL(INetFwRule3, 0xb21563ff, 0xd696, 0x4222, 0xab, 0x46, 0x4e, 0x89, 0xb7, 0x3a, 0xb3,
                0x4a)

interface INetFwRules : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) = 0;
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** newEnum) = 0;

protected:
    ~INetFwRules() = default;
};
__CRT_UUID_DECL(INetFwRules, 0x9c4c6277, 0x5027, 0x441e, 0xaf, 0xae, 0xca, 0x1f, 0x54, 0x2d, 0xa0,
                0x09)

interface INetFwPolicy2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profile) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profileType,
                                                          VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FirewallEnabled(NET_FW_PROFILE_TYPE2 profileType,
                                                          VARIANT_BOOL enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 profileType,
                                                             VARIANT* interfaces) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2 profileType,
                                                             VARIANT interfaces) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 profileType,
                                                                 VARIANT_BOOL* block) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BlockAllInboundTraffic(NET_FW_PROFILE_TYPE2 profileType,
                                                                 VARIANT_BOOL block) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NotificationsDisabled(NET_FW_PROFILE_TYPE2 profileType,
                                                                VARIANT_BOOL* disabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_NotificationsDisabled(NET_FW_PROFILE_TYPE2 profileType,
                                                                VARIANT_BOOL disabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UnicastResponsesToMulticastBroadcastDisabled(
        NET_FW_PROFILE_TYPE2 profileType, VARIANT_BOOL* disabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UnicastResponsesToMulticastBroadcastDisabled(
        NET_FW_PROFILE_TYPE2 profileType, VARIANT_BOOL disabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    get_ServiceRestriction(INetFwServiceRestriction** ServiceRestriction) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG profileTypesBitmask, BSTR group,
                                                      VARIANT_BOOL enable) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG profileTypesBitmask, BSTR group,
                                                         VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DefaultInboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                               NET_FW_ACTION* action) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DefaultInboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                               NET_FW_ACTION action) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DefaultOutboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                                NET_FW_ACTION* action) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DefaultOutboundAction(NET_FW_PROFILE_TYPE2 profileType,
                                                                NET_FW_ACTION action) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR group,
                                                                      VARIANT_BOOL* enabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* modifyState) = 0;

protected:
    ~INetFwPolicy2() = default;
};
__CRT_UUID_DECL(INetFwPolicy2, 0x98325047, 0xc671, 0x4174, 0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0, 0x31,
                0x86)

// The coclasses, for __uuidof.
class NetFwPolicy2;
__CRT_UUID_DECL(NetFwPolicy2, 0xe2b3c97f, 0x6ae1, 0x41ac, 0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7,
                0xdd)
class NetFwRule;
__CRT_UUID_DECL(NetFwRule, 0x2c5bc43e, 0x3369, 0x4c33, 0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a,
                0xf4)

extern const IID IID_INetFwRule;
extern const IID IID_INetFwRule2;
extern const IID IID_INetFwRule3;
extern const IID IID_INetFwRules;
extern const IID IID_INetFwPolicy2;
extern const CLSID CLSID_NetFwPolicy2;
extern const CLSID CLSID_NetFwRule;
