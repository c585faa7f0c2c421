// The tests' side of the simulated Windows Firewall: its rules and per-profile settings as
// plain values, the firewall service, the caller's elevation, and counts of what the system
// read, wrote and left alive. Built on both targets: in the Windows test build the same
// objects run on the real COM runtime and are handed to the system instead of the real ones.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct INetFwPolicy2;
struct INetFwRule;

namespace sim::firewall {

// One rule as the firewall stores it. Empty strings are unset properties: they read back as
// Windows reads them back (null, "*" or "All").
struct Rule {
    std::wstring name;
    std::wstring description;
    std::wstring applicationName;
    std::wstring serviceName;
    int32_t protocol = 256;
    std::wstring localPorts;
    std::wstring remotePorts;
    std::wstring localAddresses;   // in Windows' own notation
    std::wstring remoteAddresses;  // in Windows' own notation
    std::wstring icmpTypesAndCodes;
    int32_t direction = 1;  // 1 in, 2 out
    std::wstring interfaceTypes;
    bool enabled = false;
    std::wstring grouping;
    int32_t profiles = 0x7FFFFFFF;
    bool edgeTraversal = false;
    int32_t action = 1;  // 0 block, 1 allow
    std::wstring localAppPackageId;
    std::wstring localUserOwner;

    bool operator==(const Rule&) const = default;
};

struct ProfileSettings {
    bool firewallEnabled = true;
    bool blockAllInboundTraffic = false;
    bool notificationsDisabled = false;
    bool unicastResponsesDisabled = false;
    int32_t defaultInboundAction = 0;   // block
    int32_t defaultOutboundAction = 1;  // allow

    bool operator==(const ProfileSettings&) const = default;
};

// --- Objects, as CoCreateInstance would give them (one reference each) ---------------------
INetFwPolicy2* createPolicy();
INetFwRule* createRule();

// --- Rules ------------------------------------------------------------------------------
// Every rule, in the firewall's order.
std::vector<Rule> rules();
// The first rule of that name.
std::optional<Rule> findRule(const std::wstring& name);
// Adds a rule as another program would; addresses are taken as given (already Windows'
// notation). Not counted as a call of the system.
void addRule(const Rule& rule);
// Changes the first rule of that name as another program or the user would; false when there
// is none.
bool changeRule(const std::wstring& name, const std::function<void(Rule&)>& change);
void removeAllRules();
// Called after every committed change: before is null for an added rule, after for a removed
// one. Runs on the caller's thread while the firewall is locked: it must not call back in.
using ChangeHook = std::function<void(const Rule* before, const Rule* after)>;
void setChangeHook(ChangeHook hook);

// The address text that the firewall stores for `text`, or nullopt when it refuses it.
std::optional<std::wstring> windowsAddressNotation(const std::wstring& text);

// --- Per-profile settings (profile 1 domain, 2 private, 4 public) ------------------------
ProfileSettings profile(int32_t type);
void setProfile(int32_t type, const ProfileSettings& settings);
void setCurrentProfileTypes(int32_t mask);

// --- The firewall service and the caller -------------------------------------------------
// A stopped service makes every call of every firewall object fail with `code`
// (0x800706D9 when the endpoint mapper no longer knows the service; 0x80070006, 0x800706B5,
// 0x8007045B, 0x800706BA as other RPC failures show). Objects made before a stop stay dead
// after the next start, as their RPC binding does.
void stopService(uint32_t code = 0x800706D9);
void startService();
bool serviceRunning();
// Without elevation Add, Remove and every put on a stored rule or on the policy fail with
// E_ACCESSDENIED; reads work.
void setElevated(bool elevated);
// Whether rules answer INetFwRule2/INetFwRule3 (false: a system older than Windows 10).
void setRule3Supported(bool supported);

// --- Counts since the last reset ----------------------------------------------------------
// Reads: every get_, Item, get_Count and IEnumVARIANT::Next. Writes: every put_, Add, Remove,
// EnableRuleGroup and RestoreLocalFirewallDefaults, whether or not it succeeded. Per method:
// sim::callCount("INetFwRule::put_LocalPorts").
uint64_t reads();
// Every call of a firewall method (QueryInterface included), numbered from 1; the call of
// that number fails with `code` (a sweep over every call of a pass: sim::failCall counts per
// method).
uint64_t calls();
void failNthCall(uint64_t number, uint32_t code);
uint64_t writes();
// Firewall objects alive now (policy, collections, rules, enumerators), whatever the reset.
int64_t liveObjects();

// Back to an empty, running, elevated firewall with the default profile settings, zero
// counts and no hook. sim::reset() does this too.
void reset();

}  // namespace sim::firewall
