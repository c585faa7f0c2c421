// Any rules array that the store accepts reads without a crash, and what comes out keeps the
// promises of rule reading: enabled rules with clean names of eight characters or more,
// unique without regard to case, texts without white space, and only the known refusals.
#include <cstdlib>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "common/Str.h"
#include "platform/win.h"
#include "settings/FWSettings.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Host names resolve from a fixed table: no resolver threads, the same answer every run.
class FixedDnsSettings : public FWSettings {
public:
    using FWSettings::FWSettings;
    std::shared_ptr<tarn::RuleHostAddressNormalizer> createAddrNormalizer() override {
        return std::make_shared<tarn::RuleHostAddressNormalizer>([](const std::wstring& host) {
            const std::wstring name = tarn::str::toLower(host);
            if (name == L"two.example") {
                return std::vector<std::wstring>{L"10.1.1.2", L"10.1.1.1"};
            }
            if (name == L"v6.example") {
                return std::vector<std::wstring>{L"fe80::1%3", L"2001:db8::1"};
            }
            if (name == L"bad.example") {
                return std::vector<std::wstring>{L"not an address"};
            }
            return std::vector<std::wstring>();
        });
    }
};

struct Fixture {
    Fixture() {
        // A store in memory-backed files keeps each run short.
        SetEnvironmentVariableW(L"TARN_ORRERY_ROOT", L"/dev/shm/tarn-fuzz-read-rules");
        CreateDirectoryW(L"/dev/shm/tarn-fuzz-read-rules", nullptr);
        handle.reset(PyxOrrery_OpenHandle(L"fuzz", L"S-1-5-18", L"fuzz", nullptr));
        check(handle.get() != nullptr);
        check(settings.start({}));
    }
    tarn::UniqueOrreryHandle handle;
    Tarn::TaskScheduler scheduler;
    FixedDnsSettings settings{L"fuzz", scheduler, tarn::makeSharedEvent()};
};

bool hasWhiteSpace(const std::wstring& text) {
    return text.find_first_of(L" \t\n\v\f\r") != std::wstring::npos;
}

bool clean(const std::wstring& text) {
    for (const wchar_t c : text) {
        const auto u = static_cast<uint32_t>(c);
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || c == L'|') {
            return false;
        }
    }
    return true;
}

const std::set<std::wstring>& knownReasons() {
    static const std::set<std::wstring> reasons = {
        L"Name is too short",
        L"Local address is invalid",
        L"Local address is invalid. Rule has been applied only partially",
        L"Remote address is invalid",
        L"Remote address is invalid. Rule has been applied only partially",
        L"This rule has the same name as another rule",
        L"This rule blocks Tarn services",
        L"This rule blocks DNS services",
        L"Member has the wrong type",
        L"Protocol is invalid"};
    return reasons;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    nlohmann::json rules =
        nlohmann::json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
    if (rules.is_object()) {
        rules = nlohmann::json::array({rules});  // one rule
    }
    if (!rules.is_array()) {
        return 0;
    }
    const std::string text = rules.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (PyxOrrery_SetObjectFromStringUtf8(fixture.handle.get(), L"fuzz.rules", text.c_str()) !=
        PYX_ORRERY_OK) {
        return 0;
    }
    std::vector<FWRule> out;
    std::vector<std::wstring> resolved;
    fixture.settings.readRulesFromRulesArray(
        tarn::UniqueOrreryObject(PyxOrrery_GetObject(fixture.handle.get(), L"fuzz.rules", nullptr)),
        out, resolved, [](const FWRule&, const std::wstring& reason, const std::wstring&) {
            check(knownReasons().count(reason) == 1);
        });
    check(out.size() <= rules.size());
    std::set<std::wstring> names;
    for (const FWRule& rule : out) {
        check(rule.enabled);
        check(rule.name.size() >= 8);
        check(clean(rule.name) && clean(rule.description));
        check(names.insert(tarn::str::toLower(rule.name)).second);
        for (const std::wstring* field :
             {&rule.localPorts, &rule.remotePorts, &rule.icmpTypesAndCodes, &rule.localAddresses,
              &rule.remoteAddresses}) {
            check(!hasWhiteSpace(*field));
        }
    }
    return 0;
}
