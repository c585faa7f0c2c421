// A helper program for the spool's tests: sends COUNT entries to a namespace's spool through
// the alert and event libraries, alternately, each carrying the writer's name and number.
//   spool_test_writer NAMESPACE WRITER COUNT
#include <cstdio>
#include <string>

#include "platform/win.h"
#include "standin/alert/TarnAlertApi.h"
#include "standin/events/TarnEventsApi.h"

int main() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr || count != 4) {
        std::fputs("usage: spool_test_writer NAMESPACE WRITER COUNT\n", stderr);
        return 2;
    }
    const std::wstring nameSpace = argv[1];
    const std::wstring writer = argv[2];
    const int total = _wtoi(argv[3]);
    LocalFree(argv);
    if (const int code = TarnAlertApi_DelayLoadInitialize(nameSpace.c_str()); code != 0) {
        std::fprintf(stderr, "initialisation failed: %d\n", code);
        return 1;
    }
    const std::string writerText(writer.begin(), writer.end());
    for (int i = 0; i < total; ++i) {
        int code = 0;
        if (i % 2 == 0) {
            const std::string payload =
                "{\"writer\":\"" + writerText + "\",\"n\":" + std::to_string(i) + "}";
            code = TarnAlertApi_SendAlertNS(nameSpace.c_str(), "test.alert", payload.c_str());
        } else {
            const std::wstring name = L"test." + writer + L"." + std::to_wstring(i);
            TarnEventHandle event =
                TarnEvent_CreateNS(nameSpace.c_str(), name.c_str(), 1, 0, &code);
            if (event != nullptr) {
                code = TarnEvent_AddEventAll(event, 0);
                TarnEvent_Free(event);
            }
        }
        if (code != 0) {
            std::fprintf(stderr, "entry %d failed: %d\n", i, code);
            return 1;
        }
    }
    return 0;
}
