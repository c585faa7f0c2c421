// The simulated firewall's COM objects: the policy, the rule collection, its enumerator and the
// rules. Every method counts its call and can be made to fail (SIM_API); every put is
// validated and committed at once, as on Windows.
#include <atomic>

// Windows' interface declarations have public non-virtual destructors: COM objects die through
// Release, which deletes through the object's own virtual destructor.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

#include "firewall_internal.h"
#include "sim/machine.h"

namespace sim::firewall::detail {

namespace {

#define FW_CALL(api, counter)                                         \
    SIM_API(api);                                                     \
    ++store().counter;                                                \
    if (const auto numberedFault_ = store().countCall(); simFault_) { \
        return static_cast<HRESULT>(*simFault_);                      \
    } else if (numberedFault_) {                                      \
        return static_cast<HRESULT>(*numberedFault_);                 \
    }
#define FW_READ(api) FW_CALL(api, reads)
#define FW_WRITE(api) FW_CALL(api, writes)

const HRESULT kNotFound = static_cast<HRESULT>(0x80070002L);

// Reference counting and the count of live objects. COM objects are made with one reference
// and delete themselves on the last Release.
template <class Interface>
class Object : public Interface {
public:
    Object() {
        std::lock_guard lock(store().mutex);
        m_generation = store().generation;
        ++store().live;
    }
    virtual ~Object() { --store().live; }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) {
            delete this;
        }
        return left;
    }

protected:
    template <class... Interfaces>
    HRESULT answer(REFIID riid, void** object) {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (riid == __uuidof(IUnknown) || ((riid == __uuidof(Interfaces)) || ...)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT reachable() const { return store().reachable(m_generation); }

    uint64_t m_generation = 0;

private:
    std::atomic<ULONG> m_references{1};
};

// Automation is not offered: the system calls the methods directly.
template <class Interface>
class Dispatch : public Object<Interface> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

template <class T, class... Args>
T* make(Args&&... args) {
    return new T(std::forward<Args>(args)...);  // owned by its references from here on
}

HRESULT putString(BSTR* out, const std::wstring& value) {
    *out = stringOrNull(value);
    return value.empty() || *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

std::wstring portsReadBack(const Rule& r, const std::wstring& ports) {
    if (r.protocol != 6 && r.protocol != 17) {
        return L"";
    }
    return ports.empty() ? L"*" : ports;
}

// A rule: on its own (made by CoCreateInstance, not yet added) or a view of a stored rule.
class RuleObject final : public Dispatch<INetFwRule3> {
public:
    RuleObject() = default;
    explicit RuleObject(uint64_t id) : m_id(id) {}

    bool connected() const { return m_id != 0; }
    const Rule& own() const { return m_own; }
    void connect(uint64_t id) {
        m_id = id;
        m_generation = store().generation;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        SIM_API("INetFwRule::QueryInterface");
        if (object != nullptr) {
            *object = nullptr;
        }
        if (const auto numberedFault = store().countCall(); simFault_ || numberedFault) {
            return static_cast<HRESULT>(simFault_ ? *simFault_ : *numberedFault);
        }
        if (object != nullptr && riid == kRuleImplementationIid) {
            *object = this;
            AddRef();
            return S_OK;
        }
        std::lock_guard lock(store().mutex);
        return store().rule3 ? answer<IDispatch, INetFwRule, INetFwRule2, INetFwRule3>(riid, object)
                             : answer<IDispatch, INetFwRule>(riid, object);
    }

#define STRING_GETTER(iface, method, expression)                                     \
    HRESULT STDMETHODCALLTYPE get_##method(BSTR* out) override {                     \
        FW_READ(#iface "::get_" #method);                                            \
        return read(out, [&](const Rule& r) { return putString(out, expression); }); \
    }
#define VALUE_GETTER(iface, method, type, expression)            \
    HRESULT STDMETHODCALLTYPE get_##method(type* out) override { \
        FW_READ(#iface "::get_" #method);                        \
        return read(out, [&](const Rule& r) {                    \
            *out = static_cast<type>(expression);                \
            return S_OK;                                         \
        });                                                      \
    }
#define PUTTER(iface, method, type, ...)                          \
    HRESULT STDMETHODCALLTYPE put_##method(type value) override { \
        FW_WRITE(#iface "::put_" #method);                        \
        return write([&](Rule& r) -> HRESULT { __VA_ARGS__ });    \
    }
#define NOT_OFFERED(iface, method, type)                     \
    HRESULT STDMETHODCALLTYPE get_##method(type*) override { \
        FW_READ(#iface "::get_" #method);                    \
        return E_NOTIMPL;                                    \
    }                                                        \
    HRESULT STDMETHODCALLTYPE put_##method(type) override {  \
        FW_WRITE(#iface "::put_" #method);                   \
        return E_NOTIMPL;                                    \
    }

    STRING_GETTER(INetFwRule, Name, r.name)
    PUTTER(INetFwRule, Name, BSTR, {
        const HRESULT hr = checkName(value);
        r.name = text(value);
        return hr;
    })
    STRING_GETTER(INetFwRule, Description, r.description)
    PUTTER(INetFwRule, Description, BSTR, {
        const HRESULT hr = checkDescription(value);
        r.description = text(value);
        return hr;
    })
    STRING_GETTER(INetFwRule, ApplicationName, r.applicationName)
    PUTTER(INetFwRule, ApplicationName, BSTR, {
        const HRESULT hr = checkRequiredIfSet(value);
        r.applicationName = text(value);
        return hr;
    })
    STRING_GETTER(INetFwRule, ServiceName, r.serviceName)
    PUTTER(INetFwRule, ServiceName, BSTR, {
        const HRESULT hr = checkRequiredIfSet(value);
        r.serviceName = text(value);
        return hr;
    })
    VALUE_GETTER(INetFwRule, Protocol, LONG, r.protocol)
    PUTTER(INetFwRule, Protocol, LONG, {
        const HRESULT hr = checkProtocol(r, value);
        r.protocol = value;
        return hr;
    })
    STRING_GETTER(INetFwRule, LocalPorts, portsReadBack(r, r.localPorts))
    PUTTER(INetFwRule, LocalPorts, BSTR, { return checkPorts(r, value, true, r.localPorts); })
    STRING_GETTER(INetFwRule, RemotePorts, portsReadBack(r, r.remotePorts))
    PUTTER(INetFwRule, RemotePorts, BSTR, { return checkPorts(r, value, false, r.remotePorts); })
    STRING_GETTER(INetFwRule, LocalAddresses, r.localAddresses.empty() ? L"*" : r.localAddresses)
    PUTTER(INetFwRule, LocalAddresses, BSTR, { return checkAddresses(value, r.localAddresses); })
    STRING_GETTER(INetFwRule, RemoteAddresses, r.remoteAddresses.empty() ? L"*" : r.remoteAddresses)
    PUTTER(INetFwRule, RemoteAddresses, BSTR, { return checkAddresses(value, r.remoteAddresses); })
    STRING_GETTER(INetFwRule, IcmpTypesAndCodes,
                  r.protocol != 1 && r.protocol != 58
                      ? std::wstring()
                      : (r.icmpTypesAndCodes.empty() ? std::wstring(L"*") : r.icmpTypesAndCodes))
    PUTTER(INetFwRule, IcmpTypesAndCodes, BSTR, {
        const HRESULT hr = checkIcmp(r, value);
        r.icmpTypesAndCodes = text(value);
        return hr;
    })
    VALUE_GETTER(INetFwRule, Direction, NET_FW_RULE_DIRECTION, r.direction)
    PUTTER(INetFwRule, Direction, NET_FW_RULE_DIRECTION, {
        // Edge traversal is for inbound rules only.
        if ((value != NET_FW_RULE_DIR_IN && value != NET_FW_RULE_DIR_OUT) ||
            (value == NET_FW_RULE_DIR_OUT && r.edgeTraversal)) {
            return E_INVALIDARG;
        }
        r.direction = value;
        return S_OK;
    })
    HRESULT STDMETHODCALLTYPE get_Interfaces(VARIANT* out) override {
        FW_READ("INetFwRule::get_Interfaces");
        return read(out, [&](const Rule&) {
            VariantInit(out);  // no interfaces: VT_EMPTY
            return S_OK;
        });
    }
    // Lists of interfaces (SAFEARRAYs) are not simulated: only "none" is accepted.
    PUTTER(INetFwRule, Interfaces, VARIANT, {
        (void)r;
        return V_VT(&value) == VT_EMPTY ? S_OK : E_INVALIDARG;
    })
    STRING_GETTER(INetFwRule, InterfaceTypes, r.interfaceTypes.empty() ? L"All" : r.interfaceTypes)
    PUTTER(INetFwRule, InterfaceTypes, BSTR, {
        const HRESULT hr = checkInterfaceTypes(value);
        r.interfaceTypes = text(value);
        return hr;
    })
    VALUE_GETTER(INetFwRule, Enabled, VARIANT_BOOL, r.enabled ? VARIANT_TRUE : VARIANT_FALSE)
    PUTTER(INetFwRule, Enabled, VARIANT_BOOL, {
        r.enabled = value == VARIANT_TRUE;
        return isBool(value) ? S_OK : E_INVALIDARG;
    })
    STRING_GETTER(INetFwRule, Grouping, r.grouping)
    PUTTER(INetFwRule, Grouping, BSTR, {
        r.grouping = text(value);
        return checkDescription(value);
    })
    VALUE_GETTER(INetFwRule, Profiles, LONG, r.profiles)
    PUTTER(INetFwRule, Profiles, LONG, { return checkProfiles(value, r.profiles); })
    VALUE_GETTER(INetFwRule, EdgeTraversal, VARIANT_BOOL,
                 r.edgeTraversal ? VARIANT_TRUE : VARIANT_FALSE)
    PUTTER(INetFwRule, EdgeTraversal, VARIANT_BOOL, {
        if (!isBool(value) || (value == VARIANT_TRUE && r.direction == NET_FW_RULE_DIR_OUT)) {
            return E_INVALIDARG;
        }
        r.edgeTraversal = value == VARIANT_TRUE;
        return S_OK;
    })
    VALUE_GETTER(INetFwRule, Action, NET_FW_ACTION, r.action)
    PUTTER(INetFwRule, Action, NET_FW_ACTION, {
        if (value != NET_FW_ACTION_BLOCK && value != NET_FW_ACTION_ALLOW) {
            return E_INVALIDARG;
        }
        r.action = value;
        return S_OK;
    })
    VALUE_GETTER(INetFwRule2, EdgeTraversalOptions, LONG, r.edgeTraversal ? 1 : 0)
    PUTTER(INetFwRule2, EdgeTraversalOptions, LONG, {
        if ((value != 0 && value != 1) || (value == 1 && r.direction == NET_FW_RULE_DIR_OUT)) {
            return E_INVALIDARG;  // the deferral options are not simulated
        }
        r.edgeTraversal = value == 1;
        return S_OK;
    })
    STRING_GETTER(INetFwRule3, LocalAppPackageId, r.localAppPackageId)
    PUTTER(INetFwRule3, LocalAppPackageId, BSTR, {
        r.localAppPackageId = text(value);
        return checkPackageId(value);
    })
    STRING_GETTER(INetFwRule3, LocalUserOwner, r.localUserOwner)
    PUTTER(INetFwRule3, LocalUserOwner, BSTR, {
        r.localUserOwner = text(value);
        return r.localUserOwner.empty() || r.localUserOwner.rfind(L"S-1-", 0) == 0 ? S_OK
                                                                                   : E_INVALIDARG;
    })
    // Authorised lists and security flags are not simulated.
    NOT_OFFERED(INetFwRule3, LocalUserAuthorizedList, BSTR)
    NOT_OFFERED(INetFwRule3, RemoteUserAuthorizedList, BSTR)
    NOT_OFFERED(INetFwRule3, RemoteMachineAuthorizedList, BSTR)
    NOT_OFFERED(INetFwRule3, SecureFlags, LONG)

#undef STRING_GETTER
#undef VALUE_GETTER
#undef PUTTER
#undef NOT_OFFERED

private:
    template <class Out, class Read>
    HRESULT read(Out* out, Read readRule) {
        if (out == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(store().mutex);
        const Rule* rule = &m_own;
        if (connected()) {
            if (const HRESULT hr = reachable(); FAILED(hr)) {
                return hr;
            }
            if (rule = store().find(m_id); rule == nullptr) {
                return kNotFound;
            }
        }
        return readRule(*rule);
    }

    // Validates on a copy and commits only a valid value.
    template <class Change>
    HRESULT write(Change change) {
        std::lock_guard lock(store().mutex);
        Rule* target = &m_own;
        if (connected()) {
            if (const HRESULT hr = reachable(); FAILED(hr)) {
                return hr;
            }
            if (target = store().find(m_id); target == nullptr) {
                return kNotFound;
            }
            if (!store().elevated) {
                return E_ACCESSDENIED;
            }
        }
        Rule after = *target;
        if (const HRESULT hr = change(after); FAILED(hr)) {
            return hr;
        }
        if (connected()) {
            store().commit(m_id, after);
        } else {
            m_own = after;
        }
        return S_OK;
    }

    uint64_t m_id = 0;
    Rule m_own;
};

RuleObject* implementationOf(INetFwRule* rule) {
    void* object = nullptr;
    if (rule == nullptr || FAILED(rule->QueryInterface(kRuleImplementationIid, &object))) {
        return nullptr;
    }
    auto* implementation = static_cast<RuleObject*>(object);
    implementation->Release();  // the caller holds its own reference
    return implementation;
}

class EnumObject final : public Object<IEnumVARIANT> {
public:
    explicit EnumObject(std::vector<uint64_t> ids, size_t position = 0)
        : m_ids(std::move(ids)), m_position(position) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        SIM_API("IEnumVARIANT::QueryInterface");
        if (const auto numberedFault = store().countCall(); simFault_ || numberedFault) {
            return static_cast<HRESULT>(simFault_ ? *simFault_ : *numberedFault);
        }
        return answer<IEnumVARIANT>(riid, object);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        FW_READ("IEnumVARIANT::Next");
        if (items == nullptr || (count > 1 && fetched == nullptr)) {
            return E_POINTER;
        }
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        ULONG done = 0;
        while (done < count && m_position < m_ids.size()) {
            const uint64_t id = m_ids[m_position++];
            if (store().find(id) == nullptr) {
                continue;  // removed since the walk began
            }
            VariantInit(&items[done]);
            V_VT(&items[done]) = VT_DISPATCH;
            V_DISPATCH(&items[done]) = static_cast<INetFwRule3*>(make<RuleObject>(id));
            ++done;
        }
        if (fetched != nullptr) {
            *fetched = done;
        }
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        FW_READ("IEnumVARIANT::Skip");
        m_position += count;
        return m_position <= m_ids.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        FW_READ("IEnumVARIANT::Reset");
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
        FW_READ("IEnumVARIANT::Clone");
        if (copy == nullptr) {
            return E_POINTER;
        }
        *copy = make<EnumObject>(m_ids, m_position);
        return S_OK;
    }

private:
    std::vector<uint64_t> m_ids;
    size_t m_position;
};

class RulesObject final : public Dispatch<INetFwRules> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        SIM_API("INetFwRules::QueryInterface");
        if (const auto numberedFault = store().countCall(); simFault_ || numberedFault) {
            return static_cast<HRESULT>(simFault_ ? *simFault_ : *numberedFault);
        }
        return answer<IDispatch, INetFwRules>(riid, object);
    }
    HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
        FW_READ("INetFwRules::get_Count");
        if (count == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        *count = static_cast<LONG>(store().rules.size());
        return S_OK;
    }
    // Names are not unique: a rule of an existing name is a second rule. The rule object added
    // becomes a view of the stored rule, so that later puts on it are committed.
    HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
        FW_WRITE("INetFwRules::Add");
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        if (!store().elevated) {
            return E_ACCESSDENIED;
        }
        RuleObject* implementation = implementationOf(rule);
        if (implementation != nullptr && implementation->connected()) {
            return E_UNEXPECTED;  // already in the collection
        }
        if (implementation == nullptr || implementation->own().name.empty()) {
            return E_INVALIDARG;
        }
        implementation->connect(store().add(implementation->own()));
        return S_OK;
    }
    // Removes the first rule of the name; a missing name is no error.
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
        FW_WRITE("INetFwRules::Remove");
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        if (!store().elevated) {
            return E_ACCESSDENIED;
        }
        store().remove(store().firstNamed(text(name)));
        return S_OK;
    }
    // The first rule of the name, compared exactly (case-sensitivity unverified: the stricter
    // choice).
    HRESULT STDMETHODCALLTYPE Item(BSTR name, INetFwRule** rule) override {
        FW_READ("INetFwRules::Item");
        if (rule == nullptr) {
            return E_POINTER;
        }
        *rule = nullptr;
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        const uint64_t id = store().firstNamed(text(name));
        if (id == 0) {
            return kNotFound;
        }
        *rule = make<RuleObject>(id);
        return S_OK;
    }
    // A walk over the rules as they are now; rules removed meanwhile are skipped.
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** newEnum) override {
        FW_READ("INetFwRules::get__NewEnum");
        if (newEnum == nullptr) {
            return E_POINTER;
        }
        *newEnum = nullptr;
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        std::vector<uint64_t> ids;
        ids.reserve(store().rules.size());
        for (const auto& stored : store().rules) {
            ids.push_back(stored.id);
        }
        *newEnum = make<EnumObject>(std::move(ids));
        return S_OK;
    }
};

class PolicyObject final : public Dispatch<INetFwPolicy2> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        SIM_API("INetFwPolicy2::QueryInterface");
        if (const auto numberedFault = store().countCall(); simFault_ || numberedFault) {
            return static_cast<HRESULT>(simFault_ ? *simFault_ : *numberedFault);
        }
        return answer<IDispatch, INetFwPolicy2>(riid, object);
    }
    HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profile) override {
        FW_READ("INetFwPolicy2::get_CurrentProfileTypes");
        return readPolicy(profile, [&] { *profile = store().currentProfileTypes; });
    }

#define PROFILE_PROPERTY(method, type, field, toValue, fromValue, valid)                           \
    HRESULT STDMETHODCALLTYPE get_##method(NET_FW_PROFILE_TYPE2 profileType, type* out) override { \
        FW_READ("INetFwPolicy2::get_" #method);                                                    \
        return readProfile(profileType, out, [&](ProfileSettings& p) { *out = toValue; });         \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE put_##method(NET_FW_PROFILE_TYPE2 profileType, type value)           \
        override {                                                                                 \
        FW_WRITE("INetFwPolicy2::put_" #method);                                                   \
        if (!(valid)) {                                                                            \
            return E_INVALIDARG;                                                                   \
        }                                                                                          \
        return writeProfile(profileType, [&](ProfileSettings& p) { p.field = fromValue; });        \
    }

    PROFILE_PROPERTY(FirewallEnabled, VARIANT_BOOL, firewallEnabled,
                     p.firewallEnabled ? VARIANT_TRUE : VARIANT_FALSE, value == VARIANT_TRUE,
                     isBool(value))
    PROFILE_PROPERTY(BlockAllInboundTraffic, VARIANT_BOOL, blockAllInboundTraffic,
                     p.blockAllInboundTraffic ? VARIANT_TRUE : VARIANT_FALSE, value == VARIANT_TRUE,
                     isBool(value))
    PROFILE_PROPERTY(NotificationsDisabled, VARIANT_BOOL, notificationsDisabled,
                     p.notificationsDisabled ? VARIANT_TRUE : VARIANT_FALSE, value == VARIANT_TRUE,
                     isBool(value))
    PROFILE_PROPERTY(UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL,
                     unicastResponsesDisabled,
                     p.unicastResponsesDisabled ? VARIANT_TRUE : VARIANT_FALSE,
                     value == VARIANT_TRUE, isBool(value))
    PROFILE_PROPERTY(DefaultInboundAction, NET_FW_ACTION, defaultInboundAction,
                     static_cast<NET_FW_ACTION>(p.defaultInboundAction), value,
                     value == NET_FW_ACTION_BLOCK || value == NET_FW_ACTION_ALLOW)
    PROFILE_PROPERTY(DefaultOutboundAction, NET_FW_ACTION, defaultOutboundAction,
                     static_cast<NET_FW_ACTION>(p.defaultOutboundAction), value,
                     value == NET_FW_ACTION_BLOCK || value == NET_FW_ACTION_ALLOW)
#undef PROFILE_PROPERTY

    // Excluded interfaces, service restriction and rule groups are not simulated.
    HRESULT STDMETHODCALLTYPE get_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT*) override {
        FW_READ("INetFwPolicy2::get_ExcludedInterfaces");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_ExcludedInterfaces(NET_FW_PROFILE_TYPE2, VARIANT) override {
        FW_WRITE("INetFwPolicy2::put_ExcludedInterfaces");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) override {
        FW_READ("INetFwPolicy2::get_Rules");
        if (rules == nullptr) {
            return E_POINTER;
        }
        *rules = nullptr;
        return readPolicy(rules, [&] { *rules = make<RulesObject>(); });
    }
    HRESULT STDMETHODCALLTYPE get_ServiceRestriction(INetFwServiceRestriction**) override {
        FW_READ("INetFwPolicy2::get_ServiceRestriction");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EnableRuleGroup(LONG, BSTR, VARIANT_BOOL) override {
        FW_WRITE("INetFwPolicy2::EnableRuleGroup");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsRuleGroupEnabled(LONG, BSTR, VARIANT_BOOL*) override {
        FW_READ("INetFwPolicy2::IsRuleGroupEnabled");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RestoreLocalFirewallDefaults() override {
        FW_WRITE("INetFwPolicy2::RestoreLocalFirewallDefaults");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_IsRuleGroupCurrentlyEnabled(BSTR, VARIANT_BOOL*) override {
        FW_READ("INetFwPolicy2::get_IsRuleGroupCurrentlyEnabled");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_LocalPolicyModifyState(NET_FW_MODIFY_STATE* state) override {
        FW_READ("INetFwPolicy2::get_LocalPolicyModifyState");
        return readPolicy(state, [&] { *state = NET_FW_MODIFY_STATE_OK; });
    }

private:
    template <class Out, class Read>
    HRESULT readPolicy(Out* out, Read readValue) {
        if (out == nullptr) {
            return E_POINTER;
        }
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        readValue();
        return S_OK;
    }
    template <class Out, class Read>
    HRESULT readProfile(NET_FW_PROFILE_TYPE2 type, Out* out, Read readValue) {
        std::lock_guard lock(store().mutex);
        ProfileSettings* settings = store().profileOf(type);
        if (settings == nullptr) {
            return out == nullptr ? E_POINTER : E_INVALIDARG;
        }
        return readPolicy(out, [&] { readValue(*settings); });
    }
    template <class Change>
    HRESULT writeProfile(NET_FW_PROFILE_TYPE2 type, Change change) {
        std::lock_guard lock(store().mutex);
        if (const HRESULT hr = reachable(); FAILED(hr)) {
            return hr;
        }
        ProfileSettings* settings = store().profileOf(type);
        if (settings == nullptr) {
            return E_INVALIDARG;
        }
        if (!store().elevated) {
            return E_ACCESSDENIED;
        }
        change(*settings);
        return S_OK;
    }
};

}  // namespace

}  // namespace sim::firewall::detail

namespace sim::firewall {

INetFwPolicy2* createPolicy() {
    return detail::make<detail::PolicyObject>();
}

INetFwRule* createRule() {
    return detail::make<detail::RuleObject>();
}

}  // namespace sim::firewall
