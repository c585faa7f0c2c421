// The alert and event libraries' call tables with recording fakes behind them, for tests of
// the senders. The fakes keep their state in statics (the tables hold plain functions), so
// that each test resets them first.
#pragma once

#include <string>
#include <vector>

#include "monitoring/AlertLibrary.h"
#include "monitoring/EventLibrary.h"

namespace tarn::test {

struct FakeAlertLibrary {
    struct Sent {
        std::wstring nameSpace;
        std::string type;
        std::string payload;
    };
    static inline std::vector<std::wstring> initialised;
    static inline std::vector<Sent> sent;
    static inline int initResult = 0;
    static inline std::vector<int> sendResults;  // one per send, then 0

    static void reset() {
        initialised.clear();
        sent.clear();
        initResult = 0;
        sendResults.clear();
    }
    static int WINAPI initialize(const wchar_t* nameSpace) {
        initialised.emplace_back(nameSpace);
        return initResult;
    }
    static int WINAPI send(const wchar_t* nameSpace, const char* type, const char* payload) {
        sent.push_back({nameSpace, type, payload});
        if (sendResults.empty()) {
            return 0;
        }
        const int result = sendResults.front();
        sendResults.erase(sendResults.begin());
        return result;
    }
    static const wchar_t* WINAPI errorText(int code) {
        return code == 6 ? L"The alert spool cannot be written" : L"other";
    }
    static const AlertLibrary& table() {
        static const AlertLibrary calls{&initialize, &send, &errorText};
        return calls;
    }
};

struct FakeEventLibrary {
    struct Created {
        std::wstring nameSpace;
        std::wstring name;
        int kind;
        int reserved;
    };
    static inline std::vector<Created> created;
    static inline int added = 0;
    static inline int freed = 0;
    static inline bool returnHandle = true;
    static inline int createError = 0;
    static inline int addResult = 0;

    static void reset() {
        created.clear();
        added = freed = 0;
        returnHandle = true;
        createError = addResult = 0;
    }
    static TarnEventHandle handle() { return reinterpret_cast<TarnEventHandle>(uintptr_t{0x2000}); }
    static TarnEventHandle WINAPI create(const wchar_t* nameSpace, const wchar_t* name, int kind,
                                         int reserved, int* err) {
        created.push_back({nameSpace, name, kind, reserved});
        *err = createError;
        return returnHandle ? handle() : nullptr;
    }
    static int WINAPI addAll(TarnEventHandle event, int reserved) {
        added += event == handle() && reserved == 0 ? 1 : 100;
        return addResult;
    }
    static const wchar_t* WINAPI errorText(int code) {
        return code == 5 ? L"The event spool cannot be written" : L"other";
    }
    static void WINAPI release(TarnEventHandle event) { freed += event == handle() ? 1 : 100; }
    static const EventLibrary& table() {
        static const EventLibrary calls{&create, &addAll, &errorText, &release};
        return calls;
    }
};

}  // namespace tarn::test
