// Decoding of network events: every type, the classify-drop details with their look-ups,
// directions, addresses, ports, protocols, applications and users, and records that are
// incomplete or inconsistent (run under AddressSanitizer: nothing may be read past a buffer).
// Runs on the simulated machine and under wine.
#include <gtest/gtest.h>

#include "common/Str.h"
#include "monitoring/WfpEventInfo.h"
#include "tests/monitoring/FakeFwpm.h"
#include "tests/monitoring/NetEventBuilder.h"
#include "tests/support/LogCapture.h"

namespace {

using tarn::test::FakeFwpm;
using tarn::test::NetEventBuilder;
using Direction = WfpEventInfo::Direction;

// The layouts that the engine hands over, as the Windows SDK has them.
static_assert(sizeof(FWPM_NET_EVENT_CLASSIFY_DROP1) == 32);
static_assert(sizeof(FWPM_NET_EVENT1) == (sizeof(void*) == 8 ? 160 : 136));
static_assert(offsetof(FWPM_NET_EVENT_HEADER1, appId) == (sizeof(void*) == 8 ? 64 : 60));

constexpr uint64_t kFilterId = 70001;
constexpr uint16_t kLayerId = 44;
constexpr uint32_t kAllAddressFlags = FWPM_NET_EVENT_FLAG_IP_VERSION_SET |
                                      FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET |
                                      FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET;

std::string narrow(const std::optional<std::wstring>& text) {
    return text ? tarn::str::toUtf8(*text) : std::string("(absent)");
}

class WfpEventDecoding : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        m_fwpm->filters[kFilterId] = {L"Block SMB", L"Blocks SMB outbound"};
        m_fwpm->layers[kLayerId] = L"ALE Receive/Accept v4 Layer";
    }
    void TearDown() override {
        EXPECT_EQ(m_fwpm->live(), 0u) << "every record handed out is freed";
        EXPECT_EQ(m_fwpm->badFrees, 0);
        WSACleanup();
    }

    WfpEventInfo decode(const NetEventBuilder& event) {
        return WfpEventInfo(event.get(), reinterpret_cast<HANDLE>(uintptr_t{0x44}), m_fwpm);
    }

    std::shared_ptr<FakeFwpm> m_fwpm = std::make_shared<FakeFwpm>();
};

// --- Event types ------------------------------------------------------------------------

struct TypeCase {
    uint32_t type;
    bool drop;
    const char* text;
    bool unexpected;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const TypeCase& c, std::ostream* os) { *os << "type " << c.type; }
};

class WfpEventTypes : public WfpEventDecoding, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(WfpEventTypes, DropFlagTextAndWarning) {
    const TypeCase& c = GetParam();
    tarn::test::LogCapture log;
    NetEventBuilder event;
    event.type(c.type).protocol(6).poisonedDetails();
    if (c.type == FWPM_NET_EVENT_TYPE_CLASSIFY_DROP) {
        event.classifyDrop(0, 0, FWP_DIRECTION_IN);
    }
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.isDrop(), c.drop);
    EXPECT_EQ(info.isClassifyDrop(), c.type == FWPM_NET_EVENT_TYPE_CLASSIFY_DROP);
    EXPECT_EQ(info.getEventType(), c.type);
    EXPECT_EQ(tarn::str::toUtf8(info.toString()).rfind(c.text, 0), 0u) << narrow(info.toString());
    EXPECT_EQ(log.count("Unexpected event type: " + std::to_string(c.type), 3),
              c.unexpected ? 1u : 0u);
    EXPECT_EQ(m_fwpm->filterLookups + m_fwpm->layerLookups, 0) << "no look-up without ids";
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, WfpEventTypes,
    ::testing::Values(
        TypeCase{0, false, "Type: FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE. ", false},
        TypeCase{1, false, "Type: FWPM_NET_EVENT_TYPE_IKEEXT_QM_FAILURE. ", false},
        TypeCase{2, false, "Type: FWPM_NET_EVENT_TYPE_IKEEXT_EM_FAILURE. ", false},
        TypeCase{3, true, "Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. Direction: inbound. ", false},
        TypeCase{4, true, "Type: FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP. Protocol", false},
        TypeCase{5, true, "Type: FWPM_NET_EVENT_TYPE_IPSEC_DOSP_DROP. Protocol", false},
        TypeCase{6, false, "Type: FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW. Protocol", false},
        TypeCase{7, true, "Type: FWPM_NET_EVENT_TYPE_CAPABILITY_DROP. Protocol", false},
        TypeCase{8, false, "Type: FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW. Protocol", false},
        TypeCase{9, true, "Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC. Protocol", false},
        TypeCase{10, false, "Type: 10. Protocol: TCP(6). ", true},
        TypeCase{0xFFFFFFFFu, false, "Type: 4294967295. Protocol", true}));

TEST_F(WfpEventDecoding, ANullEventLeavesEveryFieldAbsent) {
    const WfpEventInfo info(nullptr, nullptr, m_fwpm);
    EXPECT_FALSE(info.isDrop());
    EXPECT_FALSE(info.getEventType());
    EXPECT_FALSE(info.getProtocol());
    EXPECT_FALSE(info.getFilterName());
    EXPECT_FALSE(info.getLocalAddress());
    EXPECT_EQ(info.toString(), L"");
}

TEST_F(WfpEventDecoding, AClassifyDropWithoutItsRecordIsStillADrop) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP);
    const WfpEventInfo info = decode(event);
    EXPECT_TRUE(info.isClassifyDrop());
    EXPECT_FALSE(info.getDirection());
    EXPECT_FALSE(info.getIsLoopback());
    EXPECT_EQ(info.toString(), L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. Protocol: HOPOPTS(0). ");
}

// --- Classify-drop details --------------------------------------------------------------

TEST_F(WfpEventDecoding, AClassifyDropNamesItsFilterAndLayer) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(kFilterId, kLayerId, 0x3901);
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.getFilterName(), L"Block SMB");
    EXPECT_EQ(info.getFilterDescription(), L"Blocks SMB outbound");
    EXPECT_EQ(info.getLayerName(), L"ALE Receive/Accept v4 Layer");
    EXPECT_EQ(info.getDirection(), Direction::Outbound);
    EXPECT_FALSE(info.getIsLoopback());
    EXPECT_FALSE(info.getRuleGroupName()) << "only the monitor sets it";
    EXPECT_EQ(info.toString(),
              L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. Dropped by filter: Block SMB, Blocks SMB "
              L"outbound. Dropped by layer: ALE Receive/Accept v4 Layer. Direction: outbound. "
              L"Protocol: HOPOPTS(0). ");
    EXPECT_EQ(m_fwpm->frees, 2);
}

TEST_F(WfpEventDecoding, MissingFilterTextsReadAsNullptr) {
    m_fwpm->filters[kFilterId] = {L"Block SMB", std::nullopt};
    m_fwpm->filters[kFilterId + 1] = {std::nullopt, L"described"};
    m_fwpm->layers[kLayerId] = std::nullopt;
    NetEventBuilder first;
    first.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(kFilterId, kLayerId, 1);
    const WfpEventInfo noDescription = decode(first);
    EXPECT_EQ(noDescription.getFilterDescription(), L"");
    EXPECT_EQ(noDescription.getLayerName(), L"");
    EXPECT_NE(noDescription.toString().find(
                  L"Dropped by filter: Block SMB, nullptr. Dropped by layer: nullptr. "),
              std::wstring::npos)
        << narrow(noDescription.toString());
    NetEventBuilder second;
    second.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(kFilterId + 1, 0, 1);
    const WfpEventInfo noName = decode(second);
    EXPECT_EQ(noName.getFilterName(), L"");
    EXPECT_NE(noName.toString().find(L"Dropped by filter: nullptr, described. "),
              std::wstring::npos);
}

struct LookupCase {
    const char* name;
    DWORD answer;
    bool nullFilter;
    uint64_t filterId;
    uint16_t layerId;
    int filterLookups;
    int layerLookups;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }
};

class WfpEventLookups : public WfpEventDecoding,
                        public ::testing::WithParamInterface<LookupCase> {};

TEST_P(WfpEventLookups, FailedOrSkippedLookupsLeaveTheNamesAbsent) {
    const LookupCase& c = GetParam();
    m_fwpm->filterAnswer = c.answer;
    m_fwpm->nullFilter = c.nullFilter;
    tarn::test::LogCapture log;
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(c.filterId, c.layerId, 0x3900);
    const WfpEventInfo info = decode(event);
    EXPECT_FALSE(info.getFilterName());
    EXPECT_FALSE(info.getFilterDescription());
    EXPECT_EQ(info.getLayerName().has_value(), c.layerLookups == 1 && c.layerId == kLayerId);
    EXPECT_EQ(info.toString().find(L"Dropped by filter"), std::wstring::npos);
    EXPECT_EQ(m_fwpm->filterLookups, c.filterLookups);
    EXPECT_EQ(m_fwpm->layerLookups, c.layerLookups);
    EXPECT_TRUE(log.lines().empty()) << "a failed look-up is not logged: " << log.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WfpEventLookups,
    ::testing::Values(LookupCase{"notFound", ERROR_SUCCESS, false, 99, kLayerId, 1, 1},
                      LookupCase{"engineError", static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND), false,
                                 kFilterId, 7, 1, 1},
                      LookupCase{"successWithNull", ERROR_SUCCESS, true, kFilterId, 0, 1, 0},
                      LookupCase{"zeroIds", ERROR_SUCCESS, false, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WfpEventDecoding, ALoopbackDropHasNoDirection) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(0, 0, 0x3900, TRUE);
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.getIsLoopback(), true);
    EXPECT_FALSE(info.getDirection());
    EXPECT_FALSE(info.getRawDirection());
    EXPECT_EQ(info.toString(),
              L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. Loopback. Protocol: HOPOPTS(0). ");
}

struct DirectionCase {
    uint32_t raw;
    std::optional<Direction> direction;
    const wchar_t* text;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const DirectionCase& c, std::ostream* os) { *os << "raw " << c.raw; }
};

class WfpEventDirections : public WfpEventDecoding,
                           public ::testing::WithParamInterface<DirectionCase> {};

TEST_P(WfpEventDirections, RawValuesMapToDirections) {
    const DirectionCase& c = GetParam();
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP).classifyDrop(0, 0, c.raw);
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.getDirection(), c.direction);
    EXPECT_EQ(info.getRawDirection(), c.raw);
    EXPECT_FALSE(info.getIsLoopback());
    EXPECT_NE(info.toString().find(c.text), std::wstring::npos) << narrow(info.toString());
}

INSTANTIATE_TEST_SUITE_P(
    Values, WfpEventDirections,
    ::testing::Values(DirectionCase{0x3900, Direction::Inbound, L"Direction: inbound. "},
                      DirectionCase{1, Direction::Inbound, L"Direction: inbound. "},
                      DirectionCase{0x3901, Direction::Outbound, L"Direction: outbound. "},
                      DirectionCase{0, Direction::Outbound, L"Direction: outbound. "},
                      DirectionCase{0x3902, Direction::Forward, L"Direction: forward. "},
                      DirectionCase{0x3903, std::nullopt, L"Direction: unknown - 14595. "},
                      DirectionCase{2, std::nullopt, L"Direction: unknown - 2. "}));

// --- Header fields ----------------------------------------------------------------------

TEST_F(WfpEventDecoding, PortsNeedTheirFlags) {
    NetEventBuilder both;
    both.type(6)
        .ports(49152, 443)
        .flags(FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET | FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET);
    const WfpEventInfo info = decode(both);
    EXPECT_EQ(info.getLocalPort(), 49152);
    EXPECT_EQ(info.getRemotePort(), 443);
    EXPECT_NE(info.toString().find(L"Local port: 49152. Remote port: 443. "), std::wstring::npos);

    NetEventBuilder remoteOnly;
    remoteOnly.type(6).ports(49152, 443).flags(FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET);
    const WfpEventInfo partial = decode(remoteOnly);
    EXPECT_FALSE(partial.getLocalPort());
    EXPECT_EQ(partial.getRemotePort(), 443);
    EXPECT_EQ(partial.toString().find(L"Local port"), std::wstring::npos);
}

struct AddressCase {
    const char* name;
    uint32_t version;
    uint32_t flags;
    std::optional<std::wstring> local;
    std::optional<std::wstring> remote;
    const wchar_t* text;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const AddressCase& c, std::ostream* os) { *os << c.name; }
};

class WfpEventAddresses : public WfpEventDecoding,
                          public ::testing::WithParamInterface<AddressCase> {};

TEST_P(WfpEventAddresses, AddressesNeedTheVersionAndTheirFlags) {
    const AddressCase& c = GetParam();
    NetEventBuilder event;
    event.type(6);
    if (c.version == FWP_IP_VERSION_V6) {
        event.ipv6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                   {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5});
    } else {
        event.ipv4(0xC0A80105, 0x0A000001);
    }
    event.ipVersion(c.version).flags(c.flags);
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.getLocalAddress(), c.local);
    EXPECT_EQ(info.getRemoteAddress(), c.remote);
    if (c.text != nullptr) {
        EXPECT_NE(info.toString().find(c.text), std::wstring::npos) << narrow(info.toString());
    }
    if (!c.local && !c.remote) {
        EXPECT_EQ(info.toString().find(L"address"), std::wstring::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WfpEventAddresses,
    ::testing::Values(
        AddressCase{"ipv4", FWP_IP_VERSION_V4, kAllAddressFlags, L"192.168.1.5", L"10.0.0.1",
                    L"IPv4 local address: 192.168.1.5. IPv4 remote address: 10.0.0.1. "},
        AddressCase{"ipv4RemoteOnly", FWP_IP_VERSION_V4,
                    FWPM_NET_EVENT_FLAG_IP_VERSION_SET | FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET,
                    std::nullopt, L"10.0.0.1", L"Protocol"},
        AddressCase{"ipv6", FWP_IP_VERSION_V6, kAllAddressFlags, L"fe80::1", L"2001:db8::5",
                    L"IPv6 local address: fe80::1. IPv6 remote address: 2001:db8::5. "},
        AddressCase{"ipv6WithoutVersionFlag", FWP_IP_VERSION_V6,
                    FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET | FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET,
                    std::nullopt, std::nullopt, nullptr},
        AddressCase{"ipv4WithoutAddressFlags", FWP_IP_VERSION_V4,
                    FWPM_NET_EVENT_FLAG_IP_VERSION_SET, std::nullopt, std::nullopt, nullptr},
        AddressCase{"noVersion", FWP_IP_VERSION_NONE, kAllAddressFlags, std::nullopt, std::nullopt,
                    nullptr},
        AddressCase{"unknownVersion", 77, kAllAddressFlags, std::nullopt, std::nullopt, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WfpEventDecoding, ProtocolsAreNamedWithTheirNumberEvenWithoutTheFlag) {
    for (const auto& [number, text] :
         std::vector<std::pair<uint8_t, std::wstring>>{{6, L"TCP(6)"},
                                                       {17, L"UDP(17)"},
                                                       {1, L"ICMP(1)"},
                                                       {58, L"ICMPv6(58)"},
                                                       {41, L"IPv6(41)"},
                                                       {132, L"SCTP(132)"},
                                                       {115, L"L2TP(115)"},
                                                       {254, L"UNKNOWN(254)"},
                                                       {10, L"UNKNOWN(10)"}}) {
        NetEventBuilder event;
        event.type(6).protocol(number);
        const WfpEventInfo info = decode(event);
        EXPECT_EQ(info.getProtocol(), text);
        EXPECT_NE(info.toString().find(L"Protocol: " + text + L". "), std::wstring::npos);
    }
}

struct ApplicationCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool nullData;
    bool flag;
    std::optional<std::wstring> application;

    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const ApplicationCase& c, std::ostream* os) { *os << c.name; }
};

class WfpEventApplications : public WfpEventDecoding,
                             public ::testing::WithParamInterface<ApplicationCase> {};

TEST_P(WfpEventApplications, TheIdentifierLosesOneTrailingNul) {
    const ApplicationCase& c = GetParam();
    NetEventBuilder event;
    event.type(6).appIdBytes(c.bytes, c.nullData);
    if (c.flag) {
        event.flags(FWPM_NET_EVENT_FLAG_APP_ID_SET);
    }
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.getApplication(), c.application);
}

std::vector<uint8_t> utf16(const std::wstring& text, int nuls) {
    std::vector<uint8_t> bytes;
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    bytes.insert(bytes.end(), 2 * static_cast<size_t>(nuls), 0);
    return bytes;
}

const std::wstring kApp = L"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe";

INSTANTIATE_TEST_SUITE_P(
    Cases, WfpEventApplications,
    ::testing::Values(ApplicationCase{"withNul", utf16(kApp, 1), false, true, kApp},
                      ApplicationCase{"withoutNul", utf16(kApp, 0), false, true, kApp},
                      ApplicationCase{"twoNuls", utf16(kApp, 2), false, true,
                                      kApp + std::wstring(1, L'\0')},
                      ApplicationCase{"oddSize", {'a', 0, 'b', 0, 'c'}, false, true, L"ab"},
                      ApplicationCase{"oneByte", {'a'}, false, true, L""},
                      ApplicationCase{"nonAscii", utf16(L"\\device\\caf\u00e9.exe", 1), false, true,
                                      L"\\device\\caf\u00e9.exe"},
                      ApplicationCase{"sizeWithoutData", {'a', 0, 0, 0}, true, true, L""},
                      ApplicationCase{"noData", {}, false, true, L""},
                      ApplicationCase{"flagMissing", utf16(kApp, 1), false, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WfpEventDecoding, TheUserIsItsSidText) {
    NetEventBuilder event;
    event.type(6)
        .userSid(L"S-1-5-21-1004336348-1177238915-682003330-512")
        .flags(FWPM_NET_EVENT_FLAG_USER_ID_SET);
    const WfpEventInfo info = decode(event);
    EXPECT_EQ(info.getUserSid(), L"S-1-5-21-1004336348-1177238915-682003330-512");
    EXPECT_NE(info.toString().find(L"User SID: S-1-5-21-1004336348-1177238915-682003330-512. "),
              std::wstring::npos);

    NetEventBuilder unflagged;
    unflagged.type(6).userSid(L"S-1-5-18");
    EXPECT_FALSE(decode(unflagged).getUserSid());
}

TEST_F(WfpEventDecoding, AnAnnouncedUserWithoutSidIsLoggedAndLeftOut) {
    tarn::test::LogCapture log;
    NetEventBuilder event;
    event.type(6).nullUser().flags(FWPM_NET_EVENT_FLAG_USER_ID_SET);
    const WfpEventInfo info = decode(event);
    EXPECT_FALSE(info.getUserSid());
    EXPECT_EQ(log.count("ConvertSidToStringSid failed: 1337", 2), 1u) << log.dump();
}

TEST_F(WfpEventDecoding, TheWholeLineHasEveryPieceInOrder) {
    NetEventBuilder event;
    event.type(FWPM_NET_EVENT_TYPE_CLASSIFY_DROP)
        .classifyDrop(kFilterId, kLayerId, FWP_DIRECTION_IN)
        .ipv4(0xC0A80105, 0x0A000001)
        .ports(3389, 51000)
        .protocol(6)
        .appId(L"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe")
        .userSid(L"S-1-5-18")
        .flags(kAllAddressFlags | FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET |
               FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET | FWPM_NET_EVENT_FLAG_IP_PROTOCOL_SET |
               FWPM_NET_EVENT_FLAG_APP_ID_SET | FWPM_NET_EVENT_FLAG_USER_ID_SET);
    EXPECT_EQ(decode(event).toString(),
              L"Type: FWPM_NET_EVENT_TYPE_CLASSIFY_DROP. Dropped by filter: Block SMB, Blocks SMB "
              L"outbound. Dropped by layer: ALE Receive/Accept v4 Layer. Direction: inbound. "
              L"Local port: 3389. Remote port: 51000. IPv4 local address: 192.168.1.5. IPv4 "
              L"remote address: 10.0.0.1. Protocol: TCP(6). Application: "
              L"\\device\\harddiskvolume3\\windows\\system32\\svchost.exe. User SID: S-1-5-18. ");
}

}  // namespace
