#include "settings/TarnDefaultRules.h"

#include "platform/win.h"
#include "settings/HostExecutable.h"

namespace tarn::defaults {

namespace {

constexpr int32_t kTcp = 6;
constexpr int32_t kUdp = 17;
constexpr int32_t kAnyProtocol = 256;
constexpr auto kIn = FWRule::Direction::In;
constexpr auto kOut = FWRule::Direction::Out;

constexpr const wchar_t* kSvchost = L"%SystemRoot%\\system32\\svchost.exe";
constexpr const wchar_t* kDnsServer = L"%SystemRoot%\\system32\\dns.exe";

constexpr const wchar_t* kServerKey = L"SOFTWARE\\Greyfield\\Tarn\\Command Server 5";

// The fields in which default rules differ; the rest are those of every default rule.
struct RuleShape {
    const wchar_t* name;
    FWRule::Direction direction;
    int32_t protocol;
    std::wstring program;
    std::wstring service;
    std::wstring localPorts;
    std::wstring remotePorts;
    std::wstring remoteAddresses;
};

FWRule makeRule(RuleShape shape) {
    FWRule rule;
    rule.name = shape.name;
    rule.description = shape.name;
    rule.enabled = true;
    rule.action = FWRule::Action::Allow;
    rule.networkType = FWRule::NetworkAll;
    rule.interfaceTypes = L"All";
    rule.direction = shape.direction;
    rule.protocol = shape.protocol;
    rule.applicationPath = std::move(shape.program);
    rule.serviceName = std::move(shape.service);
    rule.localPorts = std::move(shape.localPorts);
    rule.remotePorts = std::move(shape.remotePorts);
    rule.remoteAddresses = std::move(shape.remoteAddresses);
    return rule;
}

void appendProgramRules(const DefaultRulesInputs& in, std::vector<FWRule>& out) {
    const std::wstring folder = parentFolder(in.hostExecutable);
    out.push_back(
        makeRule({L"Tarn Carrier: Allow outbound TCP traffic", kOut, kTcp, in.hostExecutable}));
    if (!in.updateToolPath.empty()) {
        out.push_back(makeRule(
            {L"Tarn Patch Courier: Allow outbound TCP traffic", kOut, kTcp, in.updateToolPath}));
    }
    out.push_back(makeRule({L"Tarn Mender: Allow outbound TCP traffic", kOut, kTcp,
                            joinPath(folder, L"_tarn_mender.exe")}));
    out.push_back(makeRule({L"Tarn Mender2: Allow outbound TCP traffic", kOut, kTcp,
                            joinPath(folder, L"tarn_mender.exe")}));
    if (!in.serverRuntimePath.empty()) {
        out.push_back(makeRule({L"Tarn CPS Java: Allow outbound TCP traffic", kOut, kTcp,
                                in.serverRuntimePath, L"cpsrv"}));
        if (!in.serverPorts.empty()) {
            out.push_back(makeRule({L"Tarn CPS: Allow inbound TCP traffic", kIn, kTcp,
                                    in.serverRuntimePath, L"cpsrv", in.serverPorts}));
        }
    }
}

void appendDnsRules(const DefaultRulesInputs& in, bool inbound, std::vector<FWRule>& out) {
    if (inbound) {
        out.push_back(
            makeRule({L"Tarn: Allow DNS (In)", kIn, kUdp, kSvchost, L"dnscache", L"", L"53"}));
    }
    out.push_back(
        makeRule({L"Tarn: Allow DNS queries", kOut, kUdp, kSvchost, L"dnscache", L"", L"53"}));
    if (!in.serverSystem) {
        return;
    }
    if (inbound) {
        out.push_back(
            makeRule({L"Tarn: Allow DNS client (In)", kIn, kUdp, kDnsServer, L"DNS", L"", L"53"}));
        out.push_back(
            makeRule({L"Tarn: Allow DNS server (In)", kIn, kUdp, kDnsServer, L"DNS", L"53"}));
    }
    out.push_back(
        makeRule({L"Tarn: Allow DNS client (Out)", kOut, kUdp, kDnsServer, L"DNS", L"", L"53"}));
    out.push_back(
        makeRule({L"Tarn: Allow DNS server (Out)", kOut, kUdp, kDnsServer, L"DNS", L"53"}));
}

// A DHCP pair (inbound only where allowed, then outbound): client port, server port.
void appendDhcpRules(const wchar_t* inName, const wchar_t* outName, const wchar_t* clientPort,
                     const wchar_t* serverPort, bool inbound, std::vector<FWRule>& out) {
    if (inbound) {
        out.push_back(makeRule({inName, kIn, kUdp, kSvchost, L"dhcp", clientPort, serverPort}));
    }
    out.push_back(makeRule({outName, kOut, kUdp, kSvchost, L"dhcp", clientPort, serverPort}));
}

bool allowed(const DefaultRulesInputs& in) {
    return in.inboundDefaultsAllowed && in.inboundDefaultsAllowed();
}

bool fileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

void appendTarnDefaultRules(const DefaultRulesInputs& in, std::vector<FWRule>& out) {
    appendProgramRules(in, out);
    appendDnsRules(in, allowed(in), out);
    if (allowed(in)) {
        out.push_back(makeRule({L"Tarn: Allow mDNS (In)", kIn, kUdp, kSvchost, L"dnscache", L"5353",
                                L"", L"LocalSubnet"}));
    }
    out.push_back(makeRule({L"Tarn: Allow mDNS (Out)", kOut, kUdp, kSvchost, L"dnscache", L"",
                            L"5353", L"LocalSubnet"}));
    appendDhcpRules(L"Tarn: Allow DHCP (In)", L"Tarn: Allow DHCP", L"68", L"67", allowed(in), out);
    appendDhcpRules(L"Tarn: Allow DHCP IPv6 (In)", L"Tarn: Allow DHCP IPv6", L"546", L"547",
                    allowed(in), out);
    if (!in.commandPostAddress.empty()) {
        out.push_back(makeRule({L"Tarn Command Post access", kOut, kAnyProtocol, L"", L"", L"", L"",
                                in.commandPostAddress}));
    }
}

std::wstring findUpdateToolPath(const Win32Registry& registry, const std::wstring& namespaceName) {
    std::wstring folder;
    if (!registry.readString(L"SOFTWARE\\Tarn\\NS\\" + namespaceName + L"\\Corvane", L"InstallPath",
                             folder)) {
        return {};
    }
    return joinPath(joinPath(folder, L"pcdir"), L"tnpcu.exe");
}

std::wstring findServerRuntimePath(const Win32Registry& registry) {
    std::wstring folder;
    if (!registry.readString(kServerKey, L"InstallationDirectory", folder)) {
        return {};
    }
    const std::wstring runtime = joinPath(folder, L"jre\\bin\\java.exe");
    return fileExists(runtime) ? runtime : std::wstring();
}

std::wstring findServerPorts(const Win32Registry& registry) {
    std::wstring ports;
    DWORD port = 0;
    if (registry.readDword(kServerKey, L"HttpPortNum", port)) {
        ports = std::to_wstring(port);
    }
    if (registry.readDword(kServerKey, L"HttpsPortNum", port)) {
        ports += (ports.empty() ? L"" : L",") + std::to_wstring(port);
    }
    return ports;
}

bool isServerSystem() {
    OSVERSIONINFOEXW workstation{};
    workstation.dwOSVersionInfoSize = sizeof workstation;
    workstation.wProductType = VER_NT_WORKSTATION;
    const DWORDLONG condition = VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
    return !VerifyVersionInfoW(&workstation, VER_PRODUCT_TYPE, condition);
}

}  // namespace tarn::defaults
