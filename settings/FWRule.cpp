#include "settings/FWRule.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/Str.h"
#include "common/logging/Log.h"

namespace {

void appendField(std::wstring& text, std::wstring_view field) {
    text += L'[';
    text += field;
    text += L"],";
}

std::wstring networkTypeSegment(int32_t networkType) {
    switch (networkType) {
        case FWRule::NetworkDomain:
            return L"[Domain],";
        case FWRule::NetworkPrivate:
            return L"[Private],";
        case FWRule::NetworkPublic:
            return L"[Public],";
        case FWRule::NetworkAll:
            return L"[All],";
        default:
            return {};  // an unknown type leaves no trace in the text
    }
}

template <typename Predicate>
std::wstring removeIf(std::wstring_view text, Predicate remove) {
    std::wstring out;
    out.reserve(text.size());
    std::copy_if(text.begin(), text.end(), std::back_inserter(out),
                 [&](wchar_t c) { return !remove(c); });
    return out;
}

// Looks `text` up in a table of (text, value); the empty text gives the first value.
template <typename Value, size_t N>
std::pair<Value, bool> lookUp(const std::array<std::pair<std::wstring_view, Value>, N>& table,
                              const std::wstring& text) {
    for (const auto& [key, value] : table) {
        if (key == text) {
            return {value, true};
        }
    }
    return {table.front().second, text.empty()};
}

}  // namespace

std::wstring FWRule::toText() const {
    std::wstring text;
    appendField(text, name);
    appendField(text, description);
    text += enabled ? L"[on]," : L"[off],";
    appendField(text, applicationPath);
    appendField(text, serviceName);
    appendField(text, std::to_wstring(protocol));
    appendField(text, localPorts);
    appendField(text, remotePorts);
    text += direction == Direction::In ? L"[In]," : L"[Out],";
    text += action == Action::Allow ? L"[Allow]," : L"[Block],";
    text += networkTypeSegment(networkType);
    appendField(text, localAddresses);
    appendField(text, remoteAddresses);
    appendField(text, icmpTypesAndCodes);
    appendField(text, interfaceTypes);
    appendField(text, tarn::str::join(interfaces, L","));
    if (!applicationPackageId.empty()) {
        appendField(text, applicationPackageId);
    }
    if (!localUserOwner.empty()) {
        appendField(text, localUserOwner);
    }
    text += edgeTraversal ? L"[edge]" : L"[]";
    return text;
}

std::wstring FWRule::removeControlCharacters(std::wstring_view text) {
    return removeIf(text, [](wchar_t c) {
        const auto unit = static_cast<uint32_t>(c);
        return unit <= 0x1F || (unit >= 0x7F && unit <= 0x9F) || c == L'|';
    });
}

std::wstring FWRule::removeWhiteSpace(std::wstring_view text) {
    return removeIf(text, [](wchar_t c) {
        return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
    });
}

FWRule::Direction getDirectionFromStr(const std::wstring& text) {
    static constexpr std::array<std::pair<std::wstring_view, FWRule::Direction>, 2> table{{
        {L"in", FWRule::Direction::In},
        {L"out", FWRule::Direction::Out},
    }};
    const auto [value, known] = lookUp(table, text);
    if (!known) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Wrong direction: " << text;
    }
    return value;
}

FWRule::Action getActionFromStr(const std::wstring& text) {
    static constexpr std::array<std::pair<std::wstring_view, FWRule::Action>, 2> table{{
        {L"allow", FWRule::Action::Allow},
        {L"block", FWRule::Action::Block},
    }};
    const auto [value, known] = lookUp(table, text);
    if (!known) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Wrong action: " << text;
    }
    return value;
}

int32_t getNetworkTypeFromStr(const std::wstring& text) {
    static constexpr std::array<std::pair<std::wstring_view, int32_t>, 4> table{{
        {L"all", FWRule::NetworkAll},
        {L"domain", FWRule::NetworkDomain},
        {L"private", FWRule::NetworkPrivate},
        {L"public", FWRule::NetworkPublic},
    }};
    const auto [value, known] = lookUp(table, text);
    if (!known) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Wrong network type: " << text;
    }
    return value;
}
