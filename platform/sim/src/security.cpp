// Security identifiers, the process token and SDDL security descriptors of the simulated
// machine. Descriptors are built in Windows' binary self-relative layout, so that code that
// hands them on sees what it would see on Windows; the machine remembers, per directory and
// named mutex, the descriptor (as SDDL) it was created with, for tests to check.
#include <cstring>
#include <cwctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "internal.h"
#include "sim/security_control.h"
#include "sim/win/security.h"

using sim::detail::fail;
using sim::detail::KernelObject;

namespace {

// --- SIDs -----------------------------------------------------------------------------------

struct SidHeader {
    BYTE revision;
    BYTE subAuthorityCount;
    BYTE authority[6];
};
constexpr size_t kSidHeader = sizeof(SidHeader);

using Bytes = std::vector<BYTE>;

// "S-1-5-32-544" to its binary form; nullopt when the text is no SID.
std::optional<Bytes> sidFromText(std::wstring_view text) {
    if (text.size() < 4 || (text[0] != L'S' && text[0] != L's') || text[1] != L'-') {
        return std::nullopt;
    }
    std::vector<uint64_t> numbers;
    size_t i = 2;
    while (i <= text.size()) {
        size_t end = text.find(L'-', i);
        if (end == std::wstring_view::npos) {
            end = text.size();
        }
        const std::wstring piece(text.substr(i, end - i));
        if (piece.empty() || piece.find_first_not_of(L"0123456789") != std::wstring::npos ||
            piece.size() > 15) {
            return std::nullopt;
        }
        numbers.push_back(std::stoull(piece));
        i = end + 1;
    }
    // Revision, authority, then 1 to 15 sub-authorities of 32 bits.
    if (numbers.size() < 3 || numbers.size() > 2 + SID_MAX_SUB_AUTHORITIES || numbers[0] != 1 ||
        numbers[1] >= (1ull << 48)) {
        return std::nullopt;
    }
    Bytes sid(kSidHeader + 4 * (numbers.size() - 2));
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(numbers.size() - 2);
    for (int b = 0; b < 6; ++b) {
        sid[2 + b] = static_cast<BYTE>(numbers[1] >> (8 * (5 - b)));  // big-endian
    }
    for (size_t k = 2; k < numbers.size(); ++k) {
        if (numbers[k] > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        const auto sub = static_cast<uint32_t>(numbers[k]);
        std::memcpy(sid.data() + kSidHeader + 4 * (k - 2), &sub, 4);
    }
    return sid;
}

size_t sidLength(const void* sid) {
    return kSidHeader + 4 * static_cast<const BYTE*>(sid)[1];
}

bool sidValid(const void* sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    return bytes != nullptr && bytes[0] == SID_REVISION && bytes[1] <= SID_MAX_SUB_AUTHORITIES;
}

std::wstring sidToText(const void* sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    uint64_t authority = 0;
    for (int b = 0; b < 6; ++b) {
        authority = (authority << 8) | bytes[2 + b];
    }
    std::wstring text = L"S-1-" + std::to_wstring(authority);
    for (BYTE k = 0; k < bytes[1]; ++k) {
        uint32_t sub = 0;
        std::memcpy(&sub, bytes + kSidHeader + 4 * k, 4);
        text += L"-" + std::to_wstring(sub);
    }
    return text;
}

const std::map<std::wstring, std::wstring>& sidAliases() {
    static const std::map<std::wstring, std::wstring> table = {
        {L"AN", L"S-1-5-7"},      {L"AO", L"S-1-5-32-548"}, {L"AU", L"S-1-5-11"},
        {L"BA", L"S-1-5-32-544"}, {L"BG", L"S-1-5-32-546"}, {L"BO", L"S-1-5-32-551"},
        {L"BU", L"S-1-5-32-545"}, {L"CG", L"S-1-3-1"},      {L"CO", L"S-1-3-0"},
        {L"ED", L"S-1-5-9"},      {L"HI", L"S-1-16-12288"}, {L"IU", L"S-1-5-4"},
        {L"LS", L"S-1-5-19"},     {L"LW", L"S-1-16-4096"},  {L"ME", L"S-1-16-8192"},
        {L"NS", L"S-1-5-20"},     {L"NU", L"S-1-5-2"},      {L"PS", L"S-1-5-10"},
        {L"PU", L"S-1-5-32-547"}, {L"RC", L"S-1-5-12"},     {L"SI", L"S-1-16-16384"},
        {L"SO", L"S-1-5-32-549"}, {L"SU", L"S-1-5-6"},      {L"SY", L"S-1-5-18"},
        {L"WD", L"S-1-1-0"},
    };
    return table;
}

const std::map<int, std::wstring>& wellKnownSids() {
    static const std::map<int, std::wstring> table = {
        {WinNullSid, L"S-1-0-0"},
        {WinWorldSid, L"S-1-1-0"},
        {WinLocalSid, L"S-1-2-0"},
        {WinCreatorOwnerSid, L"S-1-3-0"},
        {WinCreatorGroupSid, L"S-1-3-1"},
        {WinNetworkSid, L"S-1-5-2"},
        {WinBatchSid, L"S-1-5-3"},
        {WinInteractiveSid, L"S-1-5-4"},
        {WinServiceSid, L"S-1-5-6"},
        {WinAuthenticatedUserSid, L"S-1-5-11"},
        {WinLocalSystemSid, L"S-1-5-18"},
        {WinLocalServiceSid, L"S-1-5-19"},
        {WinNetworkServiceSid, L"S-1-5-20"},
        {WinBuiltinDomainSid, L"S-1-5-32"},
        {WinBuiltinAdministratorsSid, L"S-1-5-32-544"},
        {WinBuiltinUsersSid, L"S-1-5-32-545"},
        {WinLowLabelSid, L"S-1-16-4096"},
        {WinMediumLabelSid, L"S-1-16-8192"},
        {WinHighLabelSid, L"S-1-16-12288"},
        {WinSystemLabelSid, L"S-1-16-16384"},
    };
    return table;
}

// --- Security descriptors -------------------------------------------------------------------

constexpr WORD kSelfRelative = 0x8000;
constexpr WORD kDaclPresent = 0x0004;
constexpr WORD kSaclPresent = 0x0010;
constexpr WORD kDaclAutoInheritReq = 0x0100;
constexpr WORD kDaclAutoInherited = 0x0400;
constexpr WORD kDaclProtected = 0x1000;
constexpr BYTE kAclRevision = 2;
constexpr size_t kDescriptorHeader = 20;
constexpr size_t kAclHeader = 8;

struct Token {
    const wchar_t* text;
    uint32_t value;
};

constexpr Token kAceTypes[] = {{L"A", 0x00}, {L"D", 0x01}, {L"AU", 0x02}, {L"ML", 0x11}};
constexpr Token kAceFlags[] = {{L"OI", 0x01}, {L"CI", 0x02}, {L"NP", 0x04}, {L"IO", 0x08},
                               {L"ID", 0x10}, {L"SA", 0x40}, {L"FA", 0x80}};
// Composite rights first: a mask equal to one of them prints as that one.
constexpr Token kCompositeRights[] = {{L"FA", 0x1F01FF}, {L"FR", 0x120089}, {L"FW", 0x120116},
                                      {L"FX", 0x1200A0}, {L"KA", 0xF003F},  {L"KR", 0x20019},
                                      {L"KW", 0x20006},  {L"KX", 0x20019}};
constexpr Token kSingleRights[] = {
    {L"GA", 0x10000000}, {L"GR", 0x80000000}, {L"GW", 0x40000000}, {L"GX", 0x20000000},
    {L"RC", 0x20000},    {L"SD", 0x10000},    {L"WD", 0x40000},    {L"WO", 0x80000},
    {L"RP", 0x10},       {L"WP", 0x20},       {L"CC", 0x1},        {L"DC", 0x2},
    {L"LC", 0x4},        {L"SW", 0x8},        {L"LO", 0x80},       {L"DT", 0x40},
    {L"CR", 0x100},      {L"NR", 0x1},        {L"NW", 0x2},        {L"NX", 0x4}};

template <size_t N>
std::optional<uint32_t> tokenValue(const Token (&table)[N], std::wstring_view text) {
    for (const auto& token : table) {
        if (text == token.text) {
            return token.value;
        }
    }
    return std::nullopt;
}

struct ParsedAcl {
    bool present = false;
    WORD controlFlags = 0;  // protection and inheritance bits, DACL positions
    Bytes aces;
    WORD count = 0;
};

struct ParseError {
    DWORD code;
};

Bytes parseSid(std::wstring_view text) {
    if (text.size() == 2) {
        const auto& aliases = sidAliases();
        auto it = aliases.find(std::wstring(text));
        if (it == aliases.end()) {
            throw ParseError{ERROR_NONE_MAPPED};
        }
        return *sidFromText(it->second);
    }
    auto sid = sidFromText(text);
    if (!sid) {
        throw ParseError{ERROR_INVALID_PARAMETER};
    }
    return *sid;
}

uint32_t parseRights(std::wstring_view text) {
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        const std::wstring digits(text.substr(2));
        if (digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos ||
            digits.size() > 8) {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
        return static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    }
    if (text.size() % 2 != 0) {
        throw ParseError{ERROR_INVALID_PARAMETER};
    }
    uint32_t mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto piece = text.substr(i, 2);
        auto value = tokenValue(kSingleRights, piece);
        if (!value) {
            value = tokenValue(kCompositeRights, piece);
        }
        if (!value) {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
        mask |= *value;
    }
    return mask;
}

uint32_t parseAceFlags(std::wstring_view text) {
    if (text.size() % 2 != 0) {
        throw ParseError{ERROR_INVALID_PARAMETER};
    }
    uint32_t flags = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto value = tokenValue(kAceFlags, text.substr(i, 2));
        if (!value) {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
        flags |= *value;
    }
    return flags;
}

void appendAce(std::wstring_view text, ParsedAcl& acl) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(L';', start);
        fields.emplace_back(text.substr(start, end - start));
        if (end == std::wstring_view::npos) {
            break;
        }
        start = end + 1;
    }
    // Object entries (with GUIDs) and resource attributes are not simulated: refused.
    if (fields.size() != 6 || !fields[3].empty() || !fields[4].empty()) {
        throw ParseError{ERROR_INVALID_PARAMETER};
    }
    const auto type = tokenValue(kAceTypes, fields[0]);
    if (!type) {
        throw ParseError{ERROR_INVALID_PARAMETER};
    }
    const uint32_t flags = parseAceFlags(fields[1]);
    const uint32_t mask = parseRights(fields[2]);
    const Bytes sid = parseSid(fields[5]);
    const auto size = static_cast<WORD>(8 + sid.size());
    const size_t at = acl.aces.size();
    acl.aces.resize(at + size);
    BYTE* ace = acl.aces.data() + at;
    ace[0] = static_cast<BYTE>(*type);
    ace[1] = static_cast<BYTE>(flags);
    std::memcpy(ace + 2, &size, 2);
    std::memcpy(ace + 4, &mask, 4);
    std::memcpy(ace + 8, sid.data(), sid.size());
    ++acl.count;
}

// "PAI(A;;GA;;;SY)(...)": flags, then entries.
ParsedAcl parseAcl(std::wstring_view text) {
    ParsedAcl acl;
    acl.present = true;
    const size_t open = text.find(L'(');
    const std::wstring_view flags = text.substr(0, open);
    for (size_t i = 0; i < flags.size();) {
        if (flags.substr(i, 2) == L"AI") {
            acl.controlFlags |= kDaclAutoInherited;
            i += 2;
        } else if (flags.substr(i, 2) == L"AR") {
            acl.controlFlags |= kDaclAutoInheritReq;
            i += 2;
        } else if (flags[i] == L'P') {
            acl.controlFlags |= kDaclProtected;
            i += 1;
        } else {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
    }
    size_t i = open;
    while (i != std::wstring_view::npos && i < text.size()) {
        if (text[i] != L'(') {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
        const size_t close = text.find(L')', i);
        if (close == std::wstring_view::npos) {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
        appendAce(text.substr(i + 1, close - i - 1), acl);
        i = close + 1;
    }
    return acl;
}

// Splits "O:..G:..D:..S:.." into its parts, keyed by their letter.
std::map<wchar_t, std::wstring> components(std::wstring_view text) {
    std::map<wchar_t, std::wstring> parts;
    size_t i = 0;
    while (i < text.size()) {
        const wchar_t letter = text[i];
        if (i + 1 >= text.size() || text[i + 1] != L':' ||
            std::wstring_view(L"OGDS").find(letter) == std::wstring_view::npos ||
            parts.count(letter) != 0) {
            throw ParseError{ERROR_INVALID_PARAMETER};
        }
        size_t end = i + 2;
        int depth = 0;
        while (end < text.size()) {
            const wchar_t c = text[end];
            depth += c == L'(' ? 1 : c == L')' ? -1 : 0;
            if (depth == 0 && end + 1 < text.size() && text[end + 1] == L':' &&
                std::wstring_view(L"OGDS").find(c) != std::wstring_view::npos) {
                break;
            }
            ++end;
        }
        parts[letter] = std::wstring(text.substr(i + 2, end - i - 2));
        i = end;
    }
    return parts;
}

void appendAcl(const ParsedAcl& acl, Bytes& out) {
    const auto size = static_cast<WORD>(kAclHeader + acl.aces.size());
    const size_t at = out.size();
    out.resize(at + kAclHeader);
    out[at] = kAclRevision;
    std::memcpy(out.data() + at + 2, &size, 2);
    std::memcpy(out.data() + at + 4, &acl.count, 2);
    out.insert(out.end(), acl.aces.begin(), acl.aces.end());
}

Bytes buildDescriptor(std::wstring_view text) {
    const auto parts = components(text);
    Bytes out(kDescriptorHeader, 0);
    WORD control = kSelfRelative;
    const auto place = [&out](size_t headerOffset) {
        const auto offset = static_cast<DWORD>(out.size());
        std::memcpy(out.data() + headerOffset, &offset, 4);
    };
    for (const auto& [letter, body] : parts) {
        if (letter == L'O' || letter == L'G') {
            const Bytes sid = parseSid(body);
            place(letter == L'O' ? 4 : 8);
            out.insert(out.end(), sid.begin(), sid.end());
            continue;
        }
        const ParsedAcl acl = parseAcl(body);
        if (letter == L'S') {
            control |= kSaclPresent | static_cast<WORD>(acl.controlFlags << 1);
            place(12);
        } else {
            control |= kDaclPresent | acl.controlFlags;
            place(16);
        }
        appendAcl(acl, out);
    }
    out[0] = 1;
    std::memcpy(out.data() + 2, &control, 2);
    return out;
}

// --- Back to SDDL, for the machine's records ------------------------------------------------

template <size_t N>
std::wstring tokenText(const Token (&table)[N], uint32_t value) {
    for (const auto& token : table) {
        if (token.value == value) {
            return token.text;
        }
    }
    return {};
}

std::wstring sidSddl(const void* sid) {
    const std::wstring text = sidToText(sid);
    for (const auto& [alias, full] : sidAliases()) {
        if (full == text) {
            return alias;
        }
    }
    return text;
}

std::wstring rightsSddl(uint32_t mask) {
    if (auto composite = tokenText(kCompositeRights, mask); !composite.empty()) {
        return composite;
    }
    std::wstring text;
    uint32_t left = mask;
    for (const auto& token : kSingleRights) {
        if ((left & token.value) == token.value && token.value > 0x4) {
            text += token.text;
            left &= ~token.value;
        }
    }
    for (const auto& token : kSingleRights) {  // the low bits print in their directory-service form
        if ((left & token.value) == token.value && token.value <= 0x4 && token.text[0] != L'N') {
            text += token.text;
            left &= ~token.value;
        }
    }
    if (left != 0 || text.empty()) {
        wchar_t hex[16];
        std::swprintf(hex, 16, L"0x%x", mask);
        return hex;
    }
    return text;
}

std::wstring aclSddl(const BYTE* acl, WORD control, bool dacl) {
    std::wstring text;
    const WORD shift = dacl ? 0 : 1;
    if (control & (kDaclProtected << shift)) {
        text += L"P";
    }
    if (control & (kDaclAutoInheritReq << shift)) {
        text += L"AR";
    }
    if (control & (kDaclAutoInherited << shift)) {
        text += L"AI";
    }
    WORD count = 0;
    std::memcpy(&count, acl + 4, 2);
    const BYTE* ace = acl + kAclHeader;
    for (WORD k = 0; k < count; ++k) {
        WORD size = 0;
        uint32_t mask = 0;
        std::memcpy(&size, ace + 2, 2);
        std::memcpy(&mask, ace + 4, 4);
        std::wstring flags;
        for (const auto& token : kAceFlags) {
            if (ace[1] & token.value) {
                flags += token.text;
            }
        }
        text += L"(" + tokenText(kAceTypes, ace[0]) + L";" + flags + L";" + rightsSddl(mask) +
                L";;;" + sidSddl(ace + 8) + L")";
        ace += size;
    }
    return text;
}

std::wstring descriptorSddl(const void* descriptor) {
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    WORD control = 0;
    DWORD offsets[4] = {};
    std::memcpy(&control, bytes + 2, 2);
    std::memcpy(offsets, bytes + 4, sizeof offsets);
    std::wstring text;
    if (offsets[0] != 0) {
        text += L"O:" + sidSddl(bytes + offsets[0]);
    }
    if (offsets[1] != 0) {
        text += L"G:" + sidSddl(bytes + offsets[1]);
    }
    if ((control & kDaclPresent) && offsets[3] != 0) {
        text += L"D:" + aclSddl(bytes + offsets[3], control, true);
    }
    if ((control & kSaclPresent) && offsets[2] != 0) {
        text += L"S:" + aclSddl(bytes + offsets[2], control, false);
    }
    return text;
}

bool descriptorValid(const void* descriptor) {
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    WORD control = 0;
    if (bytes == nullptr || bytes[0] != 1) {
        return false;
    }
    std::memcpy(&control, bytes + 2, 2);
    return (control & kSelfRelative) != 0;  // the machine only makes self-relative ones
}

// --- The process's account and the records ---------------------------------------------

struct SecurityState {
    std::mutex mutex;
    std::wstring account = L"S-1-5-18";
    uint32_t integrity = SECURITY_MANDATORY_SYSTEM_RID;
    std::map<std::string, std::wstring> records;

    void defaults() {
        account = L"S-1-5-18";
        integrity = SECURITY_MANDATORY_SYSTEM_RID;
        records.clear();
    }
};

SecurityState& securityState() {
    static auto* state = [] {
        auto* s = new SecurityState;
        sim::onReset([s] {
            std::lock_guard lock(s->mutex);
            s->defaults();
        });
        return s;
    }();
    return *state;
}

class TokenObject final : public KernelObject {
public:
    TokenObject(std::wstring account, uint32_t integrity)
        : m_account(std::move(account)), m_integrity(integrity) {}
    const std::wstring& account() const { return m_account; }
    uint32_t integrity() const { return m_integrity; }

private:
    std::wstring m_account;
    uint32_t m_integrity;
};

template <class T>
BOOL returnLocal(const void* data, size_t size, T* out) {
    void* memory = LocalAlloc(LMEM_FIXED, size);
    if (memory == nullptr) {
        return FALSE;
    }
    std::memcpy(memory, data, size);
    *out = static_cast<T>(memory);
    return TRUE;
}

}  // namespace

namespace sim::detail {

std::wstring currentAccountSid() {
    auto& state = securityState();
    std::lock_guard lock(state.mutex);
    return state.account;
}

bool securityValid(const SECURITY_ATTRIBUTES* attributes) {
    return attributes == nullptr || attributes->lpSecurityDescriptor == nullptr ||
           descriptorValid(attributes->lpSecurityDescriptor);
}

void rememberSecurity(const std::string& object, const SECURITY_ATTRIBUTES* attributes) {
    auto& state = securityState();
    std::lock_guard lock(state.mutex);
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) {
        state.records.erase(object);
    } else {
        state.records[object] = descriptorSddl(attributes->lpSecurityDescriptor);
    }
}

}  // namespace sim::detail

namespace sim::security {

void setAccount(std::wstring_view sid) {
    auto& state = securityState();
    std::lock_guard lock(state.mutex);
    state.account = sid;
}

void setIntegrityLevel(uint32_t rid) {
    auto& state = securityState();
    std::lock_guard lock(state.mutex);
    state.integrity = rid;
}

namespace {

std::optional<std::wstring> record(const std::string& object) {
    auto& state = securityState();
    std::lock_guard lock(state.mutex);
    auto it = state.records.find(object);
    return it == state.records.end() ? std::nullopt : std::optional<std::wstring>(it->second);
}

}  // namespace

std::optional<std::wstring> directorySecurity(std::wstring_view path) {
    return record("dir:" + sim::hostPath(path));
}

std::optional<std::wstring> mutexSecurity(std::wstring_view name) {
    return record("mutex:" + sim::detail::toUtf8(name));
}

}  // namespace sim::security

BOOL OpenProcessToken(HANDLE process, DWORD, PHANDLE token) {
    SIM_API("OpenProcessToken");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (token == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (process != GetCurrentProcess()) {
        return fail(ERROR_INVALID_HANDLE, FALSE);  // other processes are not simulated
    }
    auto& state = securityState();
    std::lock_guard lock(state.mutex);
    *token =
        sim::detail::insertHandle(std::make_shared<TokenObject>(state.account, state.integrity));
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                         DWORD length, PDWORD returnLength) {
    SIM_API("GetTokenInformation");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    auto object = sim::detail::lookupAs<TokenObject>(token);
    if (!object) {
        return fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (returnLength == nullptr) {
        return fail(ERROR_NOACCESS, FALSE);
    }
    std::optional<Bytes> sid;
    DWORD attributes = 0;
    if (informationClass == TokenUser) {
        sid = sidFromText(object->account());
    } else if (informationClass == TokenIntegrityLevel) {
        sid = sidFromText(L"S-1-16-" + std::to_wstring(object->integrity()));
        attributes = 0x20;  // SE_GROUP_INTEGRITY
    } else {
        return fail(ERROR_INVALID_PARAMETER, FALSE);  // not simulated
    }
    if (!sid) {
        return fail(ERROR_INVALID_SID, FALSE);
    }
    // Both classes are one SID_AND_ATTRIBUTES followed by the SID it points to.
    const size_t needed = sizeof(SID_AND_ATTRIBUTES) + sid->size();
    *returnLength = static_cast<DWORD>(needed);
    if (information == nullptr || length < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    auto* entry = static_cast<SID_AND_ATTRIBUTES*>(information);
    auto* sidBytes = static_cast<BYTE*>(information) + sizeof(SID_AND_ATTRIBUTES);
    std::memcpy(sidBytes, sid->data(), sid->size());
    entry->Sid = sidBytes;
    entry->Attributes = attributes;
    return TRUE;
}

BOOL IsValidSid(PSID sid) {
    return sidValid(sid) ? TRUE : FALSE;
}

DWORD GetLengthSid(PSID sid) {
    return static_cast<DWORD>(sidLength(sid));
}

BOOL EqualSid(PSID a, PSID b) {
    if (!sidValid(a) || !sidValid(b)) {
        return fail(ERROR_INVALID_SID, FALSE);
    }
    SetLastError(ERROR_SUCCESS);
    return sidLength(a) == sidLength(b) && std::memcmp(a, b, sidLength(a)) == 0 ? TRUE : FALSE;
}

BOOL IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
    SIM_API("IsWellKnownSid");
    if (!sidValid(sid)) {
        return FALSE;
    }
    const auto& table = wellKnownSids();
    auto it = table.find(type);
    return it != table.end() && it->second == sidToText(sid) ? TRUE : FALSE;
}

PUCHAR GetSidSubAuthorityCount(PSID sid) {
    SetLastError(ERROR_SUCCESS);
    return static_cast<PUCHAR>(sid) + 1;
}

PDWORD GetSidSubAuthority(PSID sid, DWORD index) {
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<PDWORD>(static_cast<BYTE*>(sid) + kSidHeader + 4 * index);
}

BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
    SIM_API("ConvertSidToStringSidW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (text == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (!sidValid(sid)) {
        return fail(ERROR_INVALID_SID, FALSE);
    }
    const std::wstring value = sidToText(sid);
    return returnLocal(value.c_str(), (value.size() + 1) * sizeof(wchar_t), text);
}

BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid) {
    SIM_API("ConvertStringSidToSidW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (text == nullptr || sid == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::optional<Bytes> bytes;
    if (std::wcslen(text) == 2) {
        auto it = sidAliases().find(text);
        if (it != sidAliases().end()) {
            bytes = sidFromText(it->second);
        }
    } else {
        bytes = sidFromText(text);
    }
    if (!bytes) {
        return fail(ERROR_INVALID_SID, FALSE);
    }
    return returnLocal(bytes->data(), bytes->size(), sid);
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size) {
    SIM_API("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (simFault_) {
        return fail(*simFault_, FALSE);
    }
    if (text == nullptr || descriptor == nullptr) {
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (revision != SDDL_REVISION_1) {
        return fail(ERROR_UNKNOWN_REVISION, FALSE);
    }
    Bytes bytes;
    try {
        bytes = buildDescriptor(text);
    } catch (const ParseError& error) {
        return fail(error.code, FALSE);
    }
    if (size != nullptr) {
        *size = static_cast<ULONG>(bytes.size());
    }
    return returnLocal(bytes.data(), bytes.size(), descriptor);
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    return descriptorValid(descriptor) ? TRUE : FALSE;
}
