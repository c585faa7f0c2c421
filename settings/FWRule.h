// One firewall rule as it travels through the system: read from the policy, built for the
// default and Lanshare rules, read back from Windows, validated and written to the firewall.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct INetFwRule;

class FWRule {
public:
    enum class Direction : int32_t { In = 0, Out = 1 };
    enum class Action : int32_t { Allow = 0, Block = 1 };

    // Network types; a rule has one, 0 means every profile.
    static constexpr int32_t NetworkAll = 0;
    static constexpr int32_t NetworkDomain = 1;
    static constexpr int32_t NetworkPrivate = 2;
    static constexpr int32_t NetworkPublic = 4;

    // Fields are named after the members of a rule object in the policy.
    std::wstring name;
    std::wstring description;
    bool enabled = true;
    int32_t protocol = 6;
    Direction direction = Direction::In;
    Action action = Action::Block;
    int32_t networkType = NetworkAll;
    std::wstring applicationPath;
    std::wstring localPorts;
    std::wstring remotePorts;
    std::wstring icmpTypesAndCodes;
    bool edgeTraversal = false;
    std::wstring interfaceTypes;
    std::vector<std::wstring> interfaces;
    std::wstring grouping;  // only from a Windows rule
    std::wstring localAddresses;
    std::wstring remoteAddresses;
    std::wstring serviceName;
    std::wstring applicationPackageId;
    std::wstring localUserOwner;  // only from a Windows rule
    bool sendAlerts = false;

    bool operator==(const FWRule&) const = default;

    // The bracketed text form: equal records give equal texts, so that a rule read back from
    // Windows can be recognised. Fields are not escaped.
    std::wstring toText() const;

    // Fills the record from a Windows rule (the rule engine's reading of existing rules);
    // false when a read failed, so that the record is not the rule's true text.
    bool init(INetFwRule* rule);

    // Names and descriptions lose every control character (U+0000..U+001F, U+007F,
    // U+0080..U+009F) and every '|', which the firewall refuses.
    static std::wstring removeControlCharacters(std::wstring_view text);
    // Removes space, tab, line feed, vertical tab, form feed and carriage return everywhere.
    static std::wstring removeWhiteSpace(std::wstring_view text);
};

// Receives a rule that cannot be used (or only in part), why, and the part at fault.
using InvalidRuleReporter = std::function<void(const FWRule& rule, const std::wstring& reason,
                                               const std::wstring& invalidPart)>;

// Texts of the policy to values; the empty text gives the first value silently, an unknown
// text is logged as a warning and gives the first value as well.
FWRule::Direction getDirectionFromStr(const std::wstring& text);
FWRule::Action getActionFromStr(const std::wstring& text);
int32_t getNetworkTypeFromStr(const std::wstring& text);
