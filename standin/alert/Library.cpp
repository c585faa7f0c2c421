// The alert library's exported functions: argument checks, then one spool line per alert.
// No exception leaves the library.
#include <mutex>
#include <set>
#include <string>

#include "standin/alert/TarnAlertApi.h"
#include "standin/spool/Spool.h"

namespace {

// Namespaces initialised in this process; sending needs the initialisation first, as the
// product's delay-loading of the library does.
struct Initialised {
    std::mutex mutex;
    std::set<std::wstring> namespaces;
};

Initialised& initialised() {
    static Initialised instance;
    return instance;
}

bool isInitialised(const std::wstring& nameSpace) {
    auto& state = initialised();
    std::lock_guard lock(state.mutex);
    return state.namespaces.count(nameSpace) != 0;
}

int codeOf(tarn::spool::Result result) {
    switch (result) {
        case tarn::spool::Result::Ok:
            return TARN_ALERT_OK;
        case tarn::spool::Result::InvalidNamespace:
            return TARN_ALERT_E_INVALID_NAMESPACE;
        case tarn::spool::Result::Io:
            return TARN_ALERT_E_SPOOL;
    }
    return TARN_ALERT_E_FAILED;
}

template <typename Body>
int guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return TARN_ALERT_E_FAILED;
    }
}

}  // namespace

TARN_ALERT_API int WINAPI TarnAlertApi_DelayLoadInitialize(const wchar_t* namespaceName) {
    return guarded([&] {
        if (namespaceName == nullptr) {
            return static_cast<int>(TARN_ALERT_E_INVALID_ARGUMENT);
        }
        const std::wstring nameSpace = namespaceName;
        const int code = codeOf(tarn::spool::prepare(nameSpace));
        if (code == TARN_ALERT_OK) {
            auto& state = initialised();
            std::lock_guard lock(state.mutex);
            state.namespaces.insert(nameSpace);
        }
        return code;
    });
}

TARN_ALERT_API int WINAPI TarnAlertApi_SendAlertNS(const wchar_t* namespaceName,
                                                   const char* alertType, const char* payloadUtf8) {
    return guarded([&] {
        if (namespaceName == nullptr || alertType == nullptr || *alertType == '\0' ||
            payloadUtf8 == nullptr) {
            return static_cast<int>(TARN_ALERT_E_INVALID_ARGUMENT);
        }
        const std::wstring nameSpace = namespaceName;
        if (!tarn::spool::isValidNamespace(nameSpace)) {
            return static_cast<int>(TARN_ALERT_E_INVALID_NAMESPACE);
        }
        if (!isInitialised(nameSpace)) {
            return static_cast<int>(TARN_ALERT_E_NOT_INITIALIZED);
        }
        const nlohmann::json payload = nlohmann::json::parse(payloadUtf8, nullptr, false);
        if (payload.is_discarded() || !payload.is_object()) {
            return static_cast<int>(TARN_ALERT_E_INVALID_JSON);
        }
        return codeOf(tarn::spool::append(nameSpace, "alert", alertType, payload));
    });
}

TARN_ALERT_API const wchar_t* WINAPI TarnAlertApi_ErrorAsString(int code) {
    switch (code) {
        case TARN_ALERT_OK:
            return L"Success";
        case TARN_ALERT_E_FAILED:
            return L"Unexpected failure of the alert library";
        case TARN_ALERT_E_INVALID_ARGUMENT:
            return L"Invalid argument";
        case TARN_ALERT_E_INVALID_NAMESPACE:
            return L"Invalid namespace name";
        case TARN_ALERT_E_NOT_INITIALIZED:
            return L"The alert library was not initialised for the namespace";
        case TARN_ALERT_E_INVALID_JSON:
            return L"The alert payload is not a JSON object";
        case TARN_ALERT_E_SPOOL:
            return L"The alert spool cannot be written";
        default:
            return L"Unknown error";
    }
}
